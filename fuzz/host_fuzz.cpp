// Drives the plug-in's entry point as a hostile but well-formed host would:
// any order of messages, any frame numbers, clip lengths, fades, rectangles
// and proxy flag, and callbacks that fail or hand back no frame. Besides the
// sanitizers it stops on results other than the documented ones, frames not
// released, host blocks not freed, writes outside the frame rectangle and
// opacities outside 0..255.
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "host/HYPlugin.h"
#include "platform/qd/QuickDraw.h"
#include "platform/resources/Resources.h"

extern "C" int32_t PluginMain(int16_t which, HYPluginParams* params);

namespace {

struct Input {
    const uint8_t* p;
    size_t n;
    bool Empty() const { return n == 0; }
    uint8_t U8() {
        if (!n) return 0;
        --n;
        return *p++;
    }
    int32_t I32() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v = v << 8 | U8();
        return int32_t(v);
    }
    bool Bit() { return U8() & 1; }
};

// Results a failing callback hands back.
const HYPluginResult kFailures[] = {1, kPluginBadParams, kPluginOutOfMemory, kPluginFailed, -1, -108, 0x7FFFFFFF};
HYPluginResult Failure(Input& in) { return kFailures[in.U8() % (sizeof kFailures / sizeof kFailures[0])]; }

struct Host {
    HYPluginParams params{};
    HYProcs procs{};
    GWorldPtr output = nullptr;
    // Knobs.
    HYPluginResult getFrameResult = kPluginOK, releaseResult = kPluginOK, blitResult = kPluginOK,
                   mixResult = kPluginOK, filterInfoResult = kPluginOK;
    bool noFrame = false, filterInfoNil = false, failNextAlloc = false;
    HYPluginFilterInfo filterInfo{{0.5f, 0.5f, 0.5f}, 0, 0};
    // Seen.
    int getFrameCalls = 0, outstanding = 0, infoOut = 0, blits = 0, lastOpacity = -1;
    int32_t fadeIn = 0, fadeOut = 0;  // the open clip's fades, limited by its length
    long liveBlocks = 0;
};
Host gHost;
bool gPluginLoaded = false;  // the global record exists; it lives as long as the process

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "host_fuzz: %s\n", what);
        std::abort();
    }
}

void* HostNewPtrClear(int32_t size) {
    if (gHost.failNextAlloc) {
        gHost.failNextAlloc = false;
        return nullptr;
    }
    if (size < 0) return nullptr;
    void* p = std::calloc(1, size_t(size));
    if (p) ++gHost.liveBlocks;
    return p;
}

void HostDisposePtr(void* p) {
    if (!p) return;
    --gHost.liveBlocks;
    std::free(p);
}

HYPluginResult HostGetFrame(void*, int32_t frame, GWorldPtr* outFrame, int32_t width, int32_t height,
                            HYRefDVQuality quality, int16_t* volume, void** cookie) {
    ++gHost.getFrameCalls;
    Check(frame >= 0, "asked for a frame before the movie");
    Check(quality == (gHost.params.proxyOnly && height <= 259 ? kDVLowQuality : kDVHighQuality), "frame quality");
    *outFrame = nullptr;
    *cookie = nullptr;
    if (volume) *volume = 256;
    if (gHost.getFrameResult != kPluginOK) return gHost.getFrameResult;
    if (gHost.noFrame) return kPluginOK;
    const Rect& f = gHost.params.frameRect;
    Check(width == f.right - f.left && height == f.bottom - f.top, "asked for a frame not of the rectangle's size");
    Rect r{0, 0, int16_t(height), int16_t(width)};
    GWorldPtr gw = nullptr;
    if (NewGWorld(&gw, 32, &r, nullptr, nullptr, 0) != noErr || !gw) return kPluginOutOfMemory;
    PixMapHandle pm = GetGWorldPixMap(gw);
    auto* base = reinterpret_cast<uint8_t*>(GetPixBaseAddr(pm));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < 4 * width; ++x)
            base[y * GetPixRowBytes(pm) + x] = uint8_t(uint32_t(frame) * 31u + uint32_t(y * 7 + x));
    *outFrame = gw;
    *cookie = gw;
    ++gHost.outstanding;
    return kPluginOK;
}

HYPluginResult HostReleaseFrame(void*, void* cookie) {
    if (cookie) {
        DisposeGWorld(static_cast<GWorldPtr>(cookie));
        --gHost.outstanding;
    }
    return gHost.releaseResult;
}

HYPluginResult HostGetMovieInfo(int16_t* standard, int32_t, int32_t, int32_t* total) {
    if (standard) *standard = 1;
    if (total) *total = 0;
    return kPluginOK;
}

HYPluginResult HostGetClipInfo(void*, int32_t, HYPluginClipInfo* info) {
    if (info) *info = HYPluginClipInfo{};
    return kPluginOK;
}

bool Inside(const Rect& r, PixMapHandle pm) {
    Rect b;
    GetPixBounds(pm, &b);
    return r.left >= b.left && r.top >= b.top && r.right <= b.right && r.bottom <= b.bottom && r.left <= r.right &&
           r.top <= r.bottom;
}

HYPluginResult HostBlit(PixMapHandle src, PixMapHandle dst, const Rect* srcRect, const Rect* dstRect,
                        int16_t opacity) {
    Check(opacity >= 0 && opacity <= 255, "opacity outside 0..255");
    Check(Inside(*srcRect, src) && Inside(*dstRect, dst), "blit rectangle outside its buffer");
    ++gHost.blits;
    gHost.lastOpacity = opacity;
    if (gHost.blitResult != kPluginOK) return gHost.blitResult;
    const int w = std::min(srcRect->right - srcRect->left, dstRect->right - dstRect->left);
    const int h = std::min(srcRect->bottom - srcRect->top, dstRect->bottom - dstRect->top);
    for (int y = 0; y < h; ++y) {
        const uint8_t* s = reinterpret_cast<uint8_t*>(GetPixBaseAddr(src)) +
                           (srcRect->top + y) * GetPixRowBytes(src) + 4 * srcRect->left;
        uint8_t* d = reinterpret_cast<uint8_t*>(GetPixBaseAddr(dst)) + (dstRect->top + y) * GetPixRowBytes(dst) +
                     4 * dstRect->left;
        for (int x = 0; x < 4 * w; ++x) d[x] = uint8_t((s[x] * opacity + d[x] * (255 - opacity)) / 255);
    }
    return kPluginOK;
}

HYPluginResult HostMixAudio(void*, void*, int32_t) { return gHost.mixResult; }

HYPluginResult HostGetFilterInfo(void*, HYPluginFilterInfo** out) {
    *out = nullptr;
    if (!gHost.filterInfoNil) {
        *out = new HYPluginFilterInfo(gHost.filterInfo);
        ++gHost.infoOut;
    }
    return gHost.filterInfoResult;
}

HYPluginResult HostReleaseFilterInfo(void*, HYPluginFilterInfo* info) {
    Check(info != nullptr, "released a nil filter info");
    delete info;
    --gHost.infoOut;
    return kPluginOK;
}

const uint8_t kCanary = 0xA5;

// The output frame: w x h, with frameRect somewhere inside it.
void NewOutput(Input& in) {
    const int w = 1 + in.U8() % 48, h = 1 + in.U8() % 40;
    DisposeGWorld(gHost.output);
    Rect r{0, 0, int16_t(h), int16_t(w)};
    gHost.output = nullptr;
    Check(NewGWorld(&gHost.output, 32, &r, nullptr, nullptr, 0) == noErr, "no output buffer");
    Rect& f = gHost.params.frameRect;
    f.left = int16_t(in.U8() % w);
    f.right = int16_t(f.left + 1 + in.U8() % (w - f.left));
    f.top = int16_t(in.U8() % h);
    f.bottom = int16_t(f.top + 1 + in.U8() % (h - f.top));
    gHost.params.frame = gHost.output;
}

void PaintCanary() {
    PixMapHandle pm = GetGWorldPixMap(gHost.output);
    Rect b;
    GetPixBounds(pm, &b);
    auto* base = reinterpret_cast<uint8_t*>(GetPixBaseAddr(pm));
    for (int y = 0; y < b.bottom; ++y) std::memset(base + y * GetPixRowBytes(pm), kCanary, size_t(4 * b.right));
}

bool CanaryIntact() {
    PixMapHandle pm = GetGWorldPixMap(gHost.output);
    Rect b;
    GetPixBounds(pm, &b);
    const Rect& f = gHost.params.frameRect;
    const auto* base = reinterpret_cast<const uint8_t*>(GetPixBaseAddr(pm));
    for (int y = 0; y < b.bottom; ++y)
        for (int x = 0; x < b.right; ++x) {
            if (y >= f.top && y < f.bottom && x >= f.left && x < f.right) continue;
            for (int c = 0; c < 4; ++c)
                if (base[y * GetPixRowBytes(pm) + 4 * x + c] != kCanary) return false;
        }
    return true;
}

char gFolder[] = "/tmp/vx-hostfuzz-XXXXXX";

void RemoveFolder() {
    std::remove((std::string(gFolder) + "/pelzo-Prefs").c_str());
    rmdir(gFolder);
}

void SetUpOnce() {
    static bool done = false;
    if (done) return;
    done = true;
    Check(mkdtemp(gFolder) != nullptr, "no scratch folder");
    std::atexit(RemoveFolder);
    setenv("XDG_CONFIG_HOME", gFolder, 1);
    CFBundleRef bundle = CFBundleCreate(nullptr, VX_BUNDLE_DIR);
    Check(bundle != nullptr, "no bundle at " VX_BUNDLE_DIR);
    CFBundleOpenBundleResourceMap(bundle);
    gHost.procs = HYProcs{HostNewPtrClear, HostDisposePtr, HostGetFrame,      HostReleaseFrame,
                          HostGetMovieInfo, HostGetClipInfo, HostBlit,         HostMixAudio,
                          HostGetFilterInfo, HostReleaseFilterInfo};
}

int32_t Send(HYPluginSelector selector) {
    gHost.params.selector = selector;
    const int32_t result = PluginMain(0, &gHost.params);
    gPluginLoaded = gPluginLoaded || gHost.liveBlocks > 0;
    return result;
}

void OneMessage(Input& in) {
    HYPluginParams& p = gHost.params;
    switch (in.U8() % 10) {
        case 0: {  // get info
            p.getInfo2.selectedFrames = in.I32();
            const uint32_t flags = uint32_t(in.I32());
            p.getInfo.pluginFlags = flags;
            Check(Send(kPlugGetInfo) == kPluginOK, "get info failed");
            Check(p.getInfo.pluginType == kPluginFilterType && p.getInfo.pluginFlags == (flags | 0x1380) &&
                      p.getInfo.framesToBeRendered == p.getInfo2.selectedFrames &&
                      p.getInfo.takeFromClipAfter == p.getInfo2.selectedFrames &&
                      p.getInfo.takeFromClipBefore == 0 && p.getInfo2.baseMemoryNeeded == 50000,
                  "get info answers");
            for (const auto& s : p.getInfo2.filterSliders)
                Check(s.defaultValue == 0.5f && std::memchr(s.label, 0, sizeof s.label) &&
                          std::memchr(s.minLabel, 0, sizeof s.minLabel) && std::memchr(s.maxLabel, 0, sizeof s.maxLabel),
                      "slider texts");
            Check(std::memchr(p.getInfo3.buttonTitle, 0, sizeof p.getInfo3.buttonTitle) != nullptr, "button title");
            break;
        }
        case 1: {  // initialize a clip, when none is open
            if (p.clientData) break;
            p.frameCount = in.U8() % 40;
            gHost.filterInfoNil = in.U8() % 8 == 0;
            gHost.filterInfoResult = in.U8() % 8 == 0 ? Failure(in) : kPluginOK;
            gHost.filterInfo.fadeInFrames = in.Bit() ? in.I32() : int8_t(in.U8());
            gHost.filterInfo.fadeOutFrames = in.Bit() ? in.I32() : int8_t(in.U8());
            gHost.failNextAlloc = gPluginLoaded && in.U8() % 16 == 0;
            const bool failing = gHost.failNextAlloc;
            const int32_t result = Send(kPlugInitialize);
            if (failing) {
                Check(result == kPluginOutOfMemory && !p.clientData, "initialize without memory");
            } else {
                Check(result == gHost.filterInfoResult && p.clientData, "initialize result");
                // Fades may not outlast the clip; together they share it.
                const int32_t n = p.frameCount;
                int32_t& in = gHost.fadeIn;
                int32_t& out = gHost.fadeOut;
                in = gHost.filterInfoNil ? 0 : gHost.filterInfo.fadeInFrames;
                out = gHost.filterInfoNil ? 0 : gHost.filterInfo.fadeOutFrames;
                if (in && out) {
                    in = std::min(in, n / 2);
                    out = std::min(out, n / 2);
                } else if (in > n) {
                    in = n;
                } else if (out > n) {
                    out = n;
                }
            }
            Check(gHost.infoOut == 0, "filter info not released");
            break;
        }
        case 2: {  // one frame
            // Mostly near the clip, now and then anywhere at all.
            p.startFrame = in.U8() % 16 ? int8_t(in.U8()) : in.I32();
            p.renderFrame = in.U8() % 16 == 0          ? in.I32()
                            : in.Bit() || p.frameCount <= 0 ? int8_t(in.U8())
                                                          : in.U8() % p.frameCount;
            p.proxyOnly = in.Bit();
            const uint8_t knobs = in.U8();
            gHost.getFrameResult = knobs & 1 ? Failure(in) : kPluginOK;
            gHost.noFrame = knobs & 2;
            gHost.releaseResult = knobs & 4 ? Failure(in) : kPluginOK;
            gHost.blitResult = knobs & 8 ? Failure(in) : kPluginOK;
            gHost.mixResult = knobs & 16 ? Failure(in) : kPluginOK;
            const int calls = gHost.getFrameCalls, blits = gHost.blits;
            PaintCanary();
            const int32_t result = Send(kPlugDoFrame);
            Check(CanaryIntact(), "drew outside the frame rectangle");
            Check(gHost.outstanding == 0, "frame not released");
            if (!p.clientData) {
                Check(result == kPluginBadParams && gHost.getFrameCalls == calls, "frame without a clip");
            } else if (int64_t(p.startFrame) + p.renderFrame < 0 || int64_t(p.startFrame) + p.renderFrame > INT32_MAX) {
                Check(gHost.getFrameCalls == calls && result == gHost.releaseResult, "frame before the movie");
            } else if (gHost.getFrameResult != kPluginOK) {
                Check(result == gHost.getFrameResult, "failed fetch result");
            } else if (!gHost.noFrame && p.renderFrame >= 0 && p.renderFrame < p.frameCount && gHost.fadeIn >= 0 &&
                       gHost.fadeOut >= 0) {
                // A well-formed frame: the unprocessed picture is laid over
                // with the opacity of its place in the fade, or not at all.
                const int32_t r = p.renderFrame, n = p.frameCount;
                const bool fading = (gHost.fadeIn > 0 || gHost.fadeOut != 0) && (r < gHost.fadeIn || r > n - gHost.fadeOut);
                Check(gHost.blits == blits + (fading ? 1 : 0), "blend where there is no fade, or none in a fade");
                if (fading) {
                    const double percent = r < gHost.fadeIn ? double(r) / gHost.fadeIn : double(n - r) / gHost.fadeOut;
                    Check(gHost.lastOpacity == int(std::trunc((1.0 - percent) * 255.0)), "fade opacity");
                }
                const HYPluginResult expected = gHost.blitResult != kPluginOK && fading ? gHost.blitResult
                                                : !p.proxyOnly && gHost.mixResult != kPluginOK ? gHost.mixResult
                                                                                                : gHost.releaseResult;
                Check(result == expected, "frame result");
            }
            break;
        }
        case 3: {  // terminate
            Check(Send(kPlugTerminate) == kPluginOK && !p.clientData, "terminate");
            Check(gHost.liveBlocks == (gPluginLoaded ? 1 : 0), "host blocks left after terminate");
            break;
        }
        case 4: {  // placeholder
            p.getInfo.bestThumbOffset = int8_t(in.U8());
            gHost.filterInfoResult = in.U8() % 8 == 0 ? Failure(in) : kPluginOK;
            gHost.getFrameResult = in.U8() % 8 == 0 ? Failure(in) : kPluginOK;
            gHost.noFrame = in.U8() % 8 == 0;
            gHost.failNextAlloc = gPluginLoaded && in.U8() % 16 == 0;
            const bool failing = gHost.failNextAlloc;
            const long blocks = gHost.liveBlocks;
            HYPluginParams before;
            std::memcpy(&before, &p, sizeof before);
            PaintCanary();
            const int32_t result = Send(kPlugFilePlaceHolder);
            Check(CanaryIntact(), "placeholder drew outside the frame rectangle");
            before.selector = p.selector;
            Check(std::memcmp(&before, &p, sizeof before) == 0, "placeholder changed the host block");
            Check(gHost.outstanding == 0 && gHost.infoOut == 0, "placeholder left a frame or info");
            Check(gHost.liveBlocks == blocks + (blocks == 0 && gPluginLoaded ? 1 : 0), "placeholder leaked");
            Check(failing ? result == kPluginOutOfMemory : result == gHost.filterInfoResult, "placeholder result");
            break;
        }
        case 5: {  // messages without a handler
            const HYPluginSelector others[] = {kPlugDrawIcon, kPlugDrawThumbNail, kPlugCallOnceWithInitAndTerminate,
                                               0, 10, 200};
            HYPluginParams before;
            std::memcpy(&before, &p, sizeof before);
            Check(Send(others[in.U8() % 6]) == kPluginOK, "unhandled message result");
            before.selector = p.selector;
            Check(std::memcmp(&before, &p, sizeof before) == 0, "unhandled message changed the block");
            break;
        }
        case 6:
            Check(PluginMain(int16_t(in.U8()), nullptr) == kPluginBadParams, "nil block");
            break;
        case 7: {  // an old host
            const long blocks = gHost.liveBlocks;
            p.interfaceVersion = int16_t(in.U8() % 4);
            p.selector = kPlugInitialize;
            Check(PluginMain(0, &p) == kPluginAppIsTooOld && gHost.liveBlocks == blocks, "old host");
            p.interfaceVersion = kHYInterfaceVersion;
            break;
        }
        case 8:
            NewOutput(in);
            break;
        default:  // the host's slider values, any bits at all
            for (float& v : gHost.filterInfo.sliderValues) {
                if (in.Bit()) {
                    const int32_t bits = in.I32();
                    std::memcpy(&v, &bits, sizeof v);
                } else {
                    v = float(in.U8()) / 255.0f;
                }
            }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SetUpOnce();
    Input in{data, size};
    gHost.params = HYPluginParams{};
    gHost.params.interfaceVersion = kHYInterfaceVersion;
    gHost.params.instance = &gHost;
    gHost.params.procs = &gHost.procs;
    NewOutput(in);
    for (int i = 0; i < 64 && !in.Empty(); ++i) OneMessage(in);
    // The host ends an open clip before it unloads.
    if (gHost.params.clientData) Check(Send(kPlugTerminate) == kPluginOK, "final terminate");
    Check(gHost.liveBlocks == (gPluginLoaded ? 1 : 0), "host blocks not freed");
    DisposeGWorld(gHost.output);
    gHost.output = nullptr;
    return 0;
}
