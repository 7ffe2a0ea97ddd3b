// The program's commands. Each throws AppError with a one-line message on
// failure; nothing is left at an output path unless the command succeeded.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/render/FrameServer.h"
#include "app/render/RenderOptions.h"

struct JoinOptions {
    bool overwrite = false, progress = false;
    std::string source;  // the clip, when it is no longer where the parts say
};

// Puts the parts of a render with --segment together into one file without
// re-encoding their pictures, in the order of their index, after checking
// that they make one whole render; the other streams, chapters and tags come
// from the source.
void RunJoin(const std::string& out, const std::vector<std::string>& parts, const JoinOptions& options);

// Sends get-info and prints what the filter declares.
void RunInfo(const PluginBundle& bundle);

// The placeholder message at frame `at`, written to a PNG.
void RunThumbnail(const std::string& in, const std::string& out, int64_t at, bool overwrite,
                  const PluginBundle& bundle);

// Whether a window can be shown: DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM.
bool HaveDisplay();
// The custom-button message (the configuration dialog) at frame `at`.
void RunConfigure(const std::string& in, int64_t at, const PluginBundle& bundle);

// Writes a 32-bit buffer to a PNG (RGB, or RGBA when keepAlpha), through a
// temporary file; replaces an existing path only when overwrite, and never
// the input in.
void WritePng(GWorldPtr gw, const std::string& path, bool keepAlpha, const std::string& in, bool overwrite);
