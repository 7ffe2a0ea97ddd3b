#include "TestHost.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "platform/qd/QuickDraw.h"
#include "platform/resources/Resources.h"

#ifndef VX_BUNDLE_DIR
#error "VX_BUNDLE_DIR must name the built bundle"
#endif

namespace fs = std::filesystem;

int64_t TestHost::liveBlocks = 0;
TestHost* gLastHost = nullptr;  // Blit carries no instance: it reports to the newest host

namespace {

TestHost* Host(void* instance) { return static_cast<TestHost*>(instance); }

void* HostNewPtrClear(int32_t size) {
    if (size < 0) return nullptr;
    void* p = std::calloc(1, size_t(size) + 1);
    if (p) ++TestHost::liveBlocks;
    return p;
}
void HostDisposePtr(void* p) {
    if (!p) return;
    --TestHost::liveBlocks;
    std::free(p);
}

HYPluginResult HostGetFrame(void* instance, int32_t frame, GWorldPtr* outFrame, int32_t width, int32_t height,
                            HYRefDVQuality quality, int16_t* outVolume, void** outCookie) {
    TestHost* h = Host(instance);
    h->frameRequests.push_back({frame, width, height, quality});
    *outFrame = nullptr;
    *outCookie = nullptr;
    if (outVolume) *outVolume = 256;
    if (h->getFrameResult != kPluginOK) return h->getFrameResult;
    if (h->getFrameGivesNoBuffer) return kPluginOK;
    if (frame < 0 || size_t(frame) >= h->clip.size()) return kPluginFailed;
    Rect r{0, 0, int16_t(height), int16_t(width)};
    GWorldPtr gw = nullptr;
    const int16_t depth = GetPixDepth(GetGWorldPixMap(h->clip[size_t(frame)]));
    if (NewGWorld(&gw, depth, &r, nullptr, nullptr, 0) != noErr) return kPluginOutOfMemory;
    Rect from;
    GetPortBounds(h->clip[size_t(frame)], &from);
    CopyBits(GetPortBitMapForCopyBits(h->clip[size_t(frame)]), GetPortBitMapForCopyBits(gw), &from, &r, srcCopy,
             nullptr);
    *outFrame = gw;
    *outCookie = gw;
    ++h->outstandingFrames;
    return kPluginOK;
}

HYPluginResult HostReleaseFrame(void* instance, void* cookie) {
    TestHost* h = Host(instance);
    ++h->releaseFrameCalls;
    if (cookie) {
        DisposeGWorld(static_cast<GWorldPtr>(cookie));
        --h->outstandingFrames;
    }
    return h->releaseFrameResult;
}

HYPluginResult HostGetMovieInfo(int16_t* standard, int32_t, int32_t, int32_t* total) {
    if (standard) *standard = 1;
    if (total) *total = 0;
    return kPluginOK;
}

HYPluginResult HostGetClipInfo(void* instance, int32_t, HYPluginClipInfo* info) {
    ++Host(instance)->clipInfoCalls;
    if (info) *info = HYPluginClipInfo{};
    return kPluginOK;
}

// 64-bit maps: dst = (src * opacity + dst * (255 - opacity) + 127) / 255 per
// 16-bit channel, alpha included, as HYPlugin.h has it.
HYPluginResult BlitDeep(PixMapHandle src, PixMapHandle dst, const Rect* srcRect, const Rect* dstRect,
                        int16_t opacity) {
    if (GetPixDepth(src) != 64 || GetPixDepth(dst) != 64) return kPluginBadParams;
    const int w = std::min(srcRect->right - srcRect->left, dstRect->right - dstRect->left);
    const int hgt = std::min(srcRect->bottom - srcRect->top, dstRect->bottom - dstRect->top);
    for (int y = 0; y < hgt; ++y) {
        const uint8_t* s = reinterpret_cast<uint8_t*>(GetPixBaseAddr(src)) +
                           (srcRect->top + y) * GetPixRowBytes(src) + 8 * srcRect->left;
        uint8_t* d = reinterpret_cast<uint8_t*>(GetPixBaseAddr(dst)) + (dstRect->top + y) * GetPixRowBytes(dst) +
                     8 * dstRect->left;
        for (int x = 0; x < 4 * w; ++x) {
            uint16_t a, b;
            std::memcpy(&a, s + 2 * x, 2);
            std::memcpy(&b, d + 2 * x, 2);
            const uint16_t v = uint16_t((int32_t(a) * opacity + int32_t(b) * (255 - opacity) + 127) / 255);
            std::memcpy(d + 2 * x, &v, 2);
        }
    }
    return kPluginOK;
}

// Lays src over dst: dst = (src * opacity + dst * (255 - opacity)) / 255 per
// channel, truncated; alpha taken from src.
HYPluginResult HostBlit(PixMapHandle src, PixMapHandle dst, const Rect* srcRect, const Rect* dstRect,
                        int16_t opacity) {
    if (gLastHost) gLastHost->blitOpacities.push_back(opacity);
    if (gLastHost && gLastHost->blitResult != kPluginOK) return gLastHost->blitResult;
    if (GetPixDepth(src) == 64 || GetPixDepth(dst) == 64) return BlitDeep(src, dst, srcRect, dstRect, opacity);
    const int w = std::min(srcRect->right - srcRect->left, dstRect->right - dstRect->left);
    const int hgt = std::min(srcRect->bottom - srcRect->top, dstRect->bottom - dstRect->top);
    for (int y = 0; y < hgt; ++y) {
        const uint8_t* s = reinterpret_cast<uint8_t*>(GetPixBaseAddr(src)) +
                           (srcRect->top + y) * GetPixRowBytes(src) + 4 * srcRect->left;
        uint8_t* d = reinterpret_cast<uint8_t*>(GetPixBaseAddr(dst)) + (dstRect->top + y) * GetPixRowBytes(dst) +
                     4 * dstRect->left;
        for (int x = 0; x < w; ++x, s += 4, d += 4) {
            d[0] = s[0];
            for (int c = 1; c < 4; ++c) d[c] = uint8_t((s[c] * opacity + d[c] * (255 - opacity)) / 255);
        }
    }
    return kPluginOK;
}

HYPluginResult HostMixAudio(void* instance, void*, int32_t) {
    TestHost* h = Host(instance);
    ++h->mixAudioCalls;
    return h->mixAudioResult;
}

HYPluginResult HostGetFilterInfo(void* instance, HYPluginFilterInfo** out) {
    TestHost* h = Host(instance);
    ++h->filterInfoCalls;
    *out = h->filterInfoNil ? nullptr : new HYPluginFilterInfo(h->filterInfo);
    return h->filterInfoResult;
}

HYPluginResult HostReleaseFilterInfo(void* instance, HYPluginFilterInfo* info) {
    ++Host(instance)->filterInfoReleases;
    delete info;
    return kPluginOK;
}

}  // namespace

TestHost::TestHost(int width, int height, int frames) {
    // A private copy of the bundle gives this host fresh plug-in globals.
    static int counter = 0;
    const fs::path base = fs::temp_directory_path() /
                          ("vx-testhost-" + std::to_string(getpid()) + "-" + std::to_string(counter++));
    fs::remove_all(base);
    fs::create_directories(base);
    fs::copy(VX_BUNDLE_DIR, base / "vexolumen.plugin", fs::copy_options::recursive);
    bundleCopy = (base / "vexolumen.plugin").string();
    CFBundleRef bundle = CFBundleCreate(nullptr, bundleCopy.c_str());
    if (!bundle) throw std::runtime_error("cannot open bundle " + bundleCopy);
    CFBundleOpenBundleResourceMap(bundle);
    const std::string so = bundleCopy + "/vexolumen.so";
    handle_ = dlopen(so.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) throw std::runtime_error(std::string("dlopen: ") + dlerror());
    entry = reinterpret_cast<HYPluginEntry>(dlsym(handle_, "main"));
    if (!entry) throw std::runtime_error("no main in " + so);

    procs = HYProcs{HostNewPtrClear, HostDisposePtr,  HostGetFrame, HostReleaseFrame,      HostGetMovieInfo,
                    HostGetClipInfo, HostBlit,        HostMixAudio, HostGetFilterInfo, HostReleaseFilterInfo};
    for (int i = 0; i < frames; ++i) {
        Rect r{0, 0, int16_t(height), int16_t(width)};
        GWorldPtr gw = nullptr;
        NewGWorld(&gw, 32, &r, nullptr, nullptr, 0);
        FillPattern(gw, i, 1);
        clip.push_back(gw);
    }
    Rect r{0, 0, int16_t(height), int16_t(width)};
    NewGWorld(&output, 32, &r, nullptr, nullptr, 0);
    params.interfaceVersion = kHYInterfaceVersion;
    params.instance = this;
    params.procs = &procs;
    params.startFrame = 0;
    params.renderFrame = 0;
    params.frameCount = frames;
    params.frameRect = r;
    params.frame = output;
    gLastHost = this;
}

TestHost::~TestHost() {
    if (gLastHost == this) gLastHost = nullptr;
    for (GWorldPtr gw : clip) DisposeGWorld(gw);
    DisposeGWorld(output);
    // The library stays loaded: the plug-in's global record lives until unload
    // and a host never unloads a bundle while its process runs.
    std::error_code ec;
    fs::remove_all(fs::path(bundleCopy).parent_path(), ec);
}

int32_t TestHost::Send(HYPluginSelector selector, int16_t which) {
    params.selector = selector;
    return entry(which, &params);
}

int32_t TestHost::Call(HYPluginParams* block, int16_t which) { return entry(which, block); }

void TestHost::OfferDeepFrames() {
    params.interfaceVersion = kHYDeepInterfaceVersion;
    params.deepFrames = kHYDeepFramesOffered;
    Rect r;
    GetPortBounds(output, &r);
    for (size_t i = 0; i < clip.size(); ++i) {
        DisposeGWorld(clip[i]);
        clip[i] = nullptr;
        NewGWorld(&clip[i], 64, &r, nullptr, nullptr, 0);
        FillPattern(clip[i], int(i), 1);
    }
    DisposeGWorld(output);
    output = nullptr;
    NewGWorld(&output, 64, &r, nullptr, nullptr, 0);
    params.frame = output;
}

namespace {
uint32_t PatternValue(int frame, int x, int y, uint32_t seed) {
    uint32_t v = seed * 2654435761u ^ uint32_t(frame * 7919 + y * 104729 + x * 1299709);
    v ^= v >> 13;
    v *= 0x5bd1e995u;
    v ^= v >> 15;
    return v;
}
}  // namespace

void TestHost::FillPattern(GWorldPtr gw, int frame, uint32_t seed) {
    Rect b;
    GetPortBounds(gw, &b);
    PixMapHandle pm = GetGWorldPixMap(gw);
    if (GetPixDepth(pm) == 64) {
        for (int y = 0; y < b.bottom; ++y) {
            auto* row = reinterpret_cast<uint8_t*>(GetPixBaseAddr(pm)) + y * GetPixRowBytes(pm);
            for (int x = 0; x < b.right; ++x) {
                const uint32_t v = PatternValue(frame, x, y, seed), u = PatternValue(frame, x, y, seed + 77);
                // Extremes now and then, so that the out-of-range methods are seen at work.
                const uint16_t ch[4] = {uint16_t(50000 + (v & 4095)), uint16_t(v >> 16), uint16_t(u),
                                        uint16_t((u >> 16) % 7 == 0 ? 65535 : u >> 16)};
                std::memcpy(row + 8 * x, ch, 8);
            }
        }
        return;
    }
    for (int y = 0; y < b.bottom; ++y) {
        auto* row = reinterpret_cast<uint8_t*>(GetPixBaseAddr(pm)) + y * GetPixRowBytes(pm);
        for (int x = 0; x < b.right; ++x) {
            const uint32_t v = PatternValue(frame, x, y, seed);
            row[4 * x] = uint8_t(200 + (v & 31));  // alpha, varied so it is seen to be kept
            row[4 * x + 1] = uint8_t(v >> 8);
            row[4 * x + 2] = uint8_t(v >> 16);
            row[4 * x + 3] = uint8_t(v >> 24);
        }
    }
}
