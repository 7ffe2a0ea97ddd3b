// The program's commands. Each throws AppError with a one-line message on
// failure; nothing is left at an output path unless the command succeeded.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/media/Media.h"
#include "app/render/PluginHost.h"

struct RenderOptions {
    std::string in, out;
    int64_t from = 0;
    int64_t frames = -1;  // -1: to the end (one frame for a .png)
    int32_t fadeIn = 0, fadeOut = 0;
    bool slidersGiven = false;
    float sliders[3] = {0.5f, 0.5f, 0.5f};
    bool proxy = false;
    int width = 0, height = 0;  // 0: the input's size
    std::string codec, format;  // format: the container, as ffmpeg -f names it
    int crf = -1;
    bool autorotate = true;
    bool overwrite = false;
    bool progress = false;
    bool fastConvert = false;  // decoded frames by swscale's table-driven conversions
    // Part `segment` (from 1) of `segments` equal parts of the clip: only its
    // frames are rendered, but the plug-in sees the whole clip, so fades
    // fall where one render puts them. 0 of 0 is the whole clip.
    int64_t segment = 0, segments = 0;
};

struct RenderStats {
    int64_t frames = 0;
    double seconds = 0, pluginSeconds = 0;
    bool audio = false, audioCopied = false;
};

RenderStats RunRender(const RenderOptions& options, const PluginBundle& bundle);

// Puts rendered segments together, in the order given, into one file
// without re-encoding. Packets a segment repeats from the one before it
// (sound at the cut) are written once.
void RunJoin(const std::string& out, const std::vector<std::string>& parts, bool overwrite);

// Sends get-info and prints what the filter declares.
void RunInfo(const PluginBundle& bundle);

// The placeholder message at frame `at`, written to a PNG.
void RunThumbnail(const std::string& in, const std::string& out, int64_t at, bool overwrite,
                  const PluginBundle& bundle);

// Whether a window can be shown: DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM.
bool HaveDisplay();
// The custom-button message (the configuration dialog) at frame `at`.
void RunConfigure(const std::string& in, int64_t at, const PluginBundle& bundle);

// Serves GetFrame from any frame of a file, converting to the asked size.
// Buffers it hands out are freed at ReleaseFrame; the plug-in never
// disposes of them.
// Frames are turned upright, as render turns them.
class FrameServer {
public:
    explicit FrameServer(const std::string& path);
    HYPluginResult Get(int32_t frame, int32_t width, int32_t height, GWorldPtr* out, void** cookie);
    HYPluginResult Release(void* cookie);
    MediaReader& Reader() { return reader_; }
    int Width() const { return turns_ % 2 ? reader_.Height() : reader_.Width(); }
    int Height() const { return turns_ % 2 ? reader_.Width() : reader_.Height(); }
    // Message of the last failure behind a kPluginFailed from Get, if any.
    const std::string& Error() const { return error_; }

private:
    MediaReader reader_;
    ArgbConverter converter_;
    std::string error_;
    int turns_ = 0;
    std::vector<uint8_t> stored_;
};

// Writes a 32-bit buffer to a PNG (RGB, or RGBA when keepAlpha), through a
// temporary file; replaces an existing path only when overwrite, and never
// the input in.
void WritePng(GWorldPtr gw, const std::string& path, bool keepAlpha, const std::string& in, bool overwrite);
