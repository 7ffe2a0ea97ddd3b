// The host's side of the plug-in contract: loading the bundle, the parameter
// block, and the callback table that answers the plug-in.
//
// One HostSession drives the plug-in at a time, on one thread; the callbacks
// run on that thread, inside the plug-in's entry point.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "host/HYPlugin.h"
#include "platform/resources/Resources.h"

// Seconds on a steady clock.
double Now();

// Where the bundle is when --bundle is not given: beside the program, one
// folder up (the build tree's bin/), or the build tree it was built in.
std::string DefaultBundleDir(const std::string& argv0);

// A loaded bundle and its entry point. Loading stays in effect for the life
// of the process, as bundles do.
class PluginBundle {
public:
    // AppError naming the folder when it is not a loadable bundle.
    explicit PluginBundle(const std::string& dir);
    HYPluginEntry Entry() const { return entry_; }

private:
    CFBundleRef bundle_ = nullptr;
    HYPluginEntry entry_ = nullptr;
};

// "kPluginFailed" and the like; "unknown result" for values of the host's.
const char* ResultName(HYPluginResult result);
// "6 (kPluginFailed)".
std::string ResultText(HYPluginResult result);

// Composites srcRect of src over dstRect of dst, both 32-bit or both 64-bit:
// each channel becomes (src * opacity + dst * (255 - opacity) + 127) / 255,
// alpha included. Rectangles of different sizes scale by nearest neighbour;
// both are clipped to their buffers. Opacity is limited to 0..255. Maps of
// two depths are kPluginBadParams.
HYPluginResult HostBlit(PixMapHandle src, PixMapHandle dst, const Rect* srcRect, const Rect* dstRect,
                        int16_t opacity);

// The video standard a host reports for a frame size: 2 PAL for 576 lines,
// 3 HD for frames wider than 720 or taller than 576, else 1 NTSC.
int16_t StandardForSize(int32_t width, int32_t height);

class HostSession {
public:
    // Frame fetching is supplied by the command. get returns a buffer of
    // exactly width x height that stays the host's, and a cookie for release.
    using GetFrameFn = std::function<HYPluginResult(int32_t frame, int32_t width, int32_t height,
                                                    GWorldPtr* out, void** cookie)>;
    using ReleaseFrameFn = std::function<HYPluginResult(void* cookie)>;

    HostSession(HYPluginEntry entry, GetFrameFn get, ReleaseFrameFn release);
    ~HostSession();
    HostSession(const HostSession&) = delete;
    HostSession& operator=(const HostSession&) = delete;

    HYPluginParams& Params() { return params_; }
    // Offers 64-bit frames on every message from now on; after get info,
    // DeepFramesTaken tells whether the plug-in took them, and so whether
    // frames and GetFrame's buffers must be 64-bit.
    void OfferDeepFrames();
    bool DeepFramesTaken() const;
    // Sends one message; the time spent inside the plug-in, less the time in
    // the host's callbacks, is added to PluginSeconds.
    HYPluginResult Send(HYPluginSelector selector);

    // What GetFilterInfo hands out.
    HYPluginFilterInfo filterInfo{{0.5f, 0.5f, 0.5f}, 0, 0};
    // What GetMovieInfo and GetClipInfo answer.
    int32_t movieFrames = 0, movieWidth = 0, movieHeight = 0;
    int32_t clipStart = 0, clipFrames = 0;

    // Set by MixAudio; the caller clears it before each frame.
    bool audioMixed = false;
    double pluginSeconds = 0, callbackSeconds = 0;

private:
    friend struct HostCallbacks;
    HYPluginEntry entry_;
    GetFrameFn getFrame_;
    ReleaseFrameFn releaseFrame_;
    HYProcs procs_{};
    HYPluginParams params_{};
};
