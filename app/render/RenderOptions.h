// What a render is asked to do, as the command line says it, and what it
// reports when done.
#pragma once
#include <cstdint>
#include <string>

class PluginBundle;

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
    std::string profile;  // the encoder's, by its name or number; empty: its default
    bool autorotate = true;
    bool overwrite = false;
    bool progress = false;
    bool fastConvert = false;  // decoded frames by swscale's table-driven conversions
    // Bits a channel through the effect: 8, 16, or 0 for 16 when the source
    // has more than 8 (and the plug-in takes deep frames).
    int depth = 0;
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
