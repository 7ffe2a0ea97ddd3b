#include "app/render/PluginHost.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "app/AppError.h"
#include "app/output/Placement.h"

#ifndef VX_BUILD_BUNDLE_DIR
#define VX_BUILD_BUNDLE_DIR ""
#endif

namespace {

bool IsDir(const std::string& path) {
    struct stat st{};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// GetMovieInfo and Blit carry no instance; one session runs at a time.
HostSession* gSession = nullptr;

}  // namespace

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string DefaultBundleDir(const std::string& argv0) {
    std::string exe(4096, '\0');
    const ssize_t n = readlink("/proc/self/exe", exe.data(), exe.size() - 1);
    exe = n > 0 ? exe.substr(0, size_t(n)) : argv0;
    const std::string dir = SplitPath(exe).folder;
    for (const std::string& candidate :
         {dir + "/vexolumen.plugin", dir + "/../vexolumen.plugin", dir + "/../lib/vexolumen/vexolumen.plugin"})
        if (IsDir(candidate)) return candidate;
    return VX_BUILD_BUNDLE_DIR;
}

PluginBundle::PluginBundle(const std::string& dir) {
    if (!IsDir(dir)) throw AppError(dir + ": no plug-in bundle there (use --bundle DIR)");
    bundle_ = CFBundleCreate(nullptr, dir.c_str());
    if (!bundle_) throw AppError(dir + ": not a plug-in bundle (no valid Info file)");
    if (!CFBundleLoadExecutable(bundle_)) {
        const char* why = CFBundleGetLoadError(bundle_);
        throw AppError(dir + ": cannot load the plug-in: " + (why ? why : "unknown error"));
    }
    // Without its labels and button title the plug-in would run nameless.
    switch (CFBundleOpenBundleResourceMap(bundle_)) {
        case noErr: break;
        case fnfErr: throw AppError(dir + "/Resources/strings.txt: missing (the plug-in's string lists)");
        case ioErr: throw AppError(dir + "/Resources/strings.txt: not a regular file of at most 1 MiB");
        default: throw AppError(dir + "/Resources/strings.txt: holds no string lists");
    }
    entry_ = reinterpret_cast<HYPluginEntry>(CFBundleGetFunctionPointerForName(bundle_, "main"));
    if (!entry_) throw AppError(dir + ": the plug-in has no entry point 'main'");
}

const char* ResultName(HYPluginResult result) {
    switch (result) {
        case kPluginOK: return "kPluginOK";
        case kPluginBadParams: return "kPluginBadParams";
        case kPluginOutOfMemory: return "kPluginOutOfMemory";
        case kPluginFailed: return "kPluginFailed";
        case kPluginAppIsTooOld: return "kPluginAppIsTooOld";
        default: return "unknown result";
    }
}

std::string ResultText(HYPluginResult result) {
    return std::to_string(result) + " (" + ResultName(result) + ")";
}

int16_t StandardForSize(int32_t width, int32_t height) {
    if (height == 576 && width <= 768) return 2;
    if (width > 720 || height > 576) return 3;
    return 1;
}

namespace {

// One pixel's channels over another's; Channel is uint8_t for 32-bit maps,
// uint16_t for 64-bit ones (at most 65535 * 255 + 127: int holds it).
template <typename Channel>
void BlendPixel(const uint8_t* sp, uint8_t* dp, int a) {
    for (int k = 0; k < 4; ++k) {
        Channel s, d;
        std::memcpy(&s, sp + k * sizeof(Channel), sizeof s);
        std::memcpy(&d, dp + k * sizeof(Channel), sizeof d);
        d = Channel((s * a + d * (255 - a) + 127) / 255);
        std::memcpy(dp + k * sizeof(Channel), &d, sizeof d);
    }
}

}  // namespace

HYPluginResult HostBlit(PixMapHandle src, PixMapHandle dst, const Rect* srcRect, const Rect* dstRect,
                        int16_t opacity) {
    if (!src || !dst || !srcRect || !dstRect) return kPluginBadParams;
    const int depth = GetPixDepth(src);
    if (depth != GetPixDepth(dst)) return kPluginBadParams;
    const int bytes = depth / 8;
    const auto blend = depth == 64 ? &BlendPixel<uint16_t> : &BlendPixel<uint8_t>;
    const int a = std::clamp<int>(opacity, 0, 255);
    Rect sb{}, db{};
    GetPixBounds(src, &sb);
    GetPixBounds(dst, &db);
    const uint8_t* sBase = reinterpret_cast<const uint8_t*>(GetPixBaseAddr(src));
    uint8_t* dBase = reinterpret_cast<uint8_t*>(GetPixBaseAddr(dst));
    const int32_t sRow = GetPixRowBytes(src), dRow = GetPixRowBytes(dst);
    const int sw = srcRect->right - srcRect->left, sh = srcRect->bottom - srcRect->top;
    const int dw = dstRect->right - dstRect->left, dh = dstRect->bottom - dstRect->top;
    if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return kPluginOK;
    const int top = std::max<int>(dstRect->top, db.top), bottom = std::min<int>(dstRect->bottom, db.bottom);
    const int left = std::max<int>(dstRect->left, db.left), right = std::min<int>(dstRect->right, db.right);
    for (int y = top; y < bottom; ++y) {
        const int sy = srcRect->top + int(int64_t(y - dstRect->top) * sh / dh);
        if (sy < sb.top || sy >= sb.bottom) continue;
        uint8_t* d = dBase + int64_t(y - db.top) * dRow;
        const uint8_t* s = sBase + int64_t(sy - sb.top) * sRow;
        for (int x = left; x < right; ++x) {
            const int sx = srcRect->left + int(int64_t(x - dstRect->left) * sw / dw);
            if (sx < sb.left || sx >= sb.right) continue;
            blend(s + bytes * (sx - sb.left), d + bytes * (x - db.left), a);
        }
    }
    return kPluginOK;
}

// The table handed to the plug-in. Each entry finds its session through the
// instance (or the one running session, for entries without one).
struct HostCallbacks {
    struct Timer {
        HostSession* s;
        double start = Now();
        ~Timer() {
            if (s) s->callbackSeconds += Now() - start;
        }
    };
    static HostSession* Of(void* instance) { return static_cast<HostSession*>(instance); }

    static void* NewPtrClear(int32_t size) { return size < 0 ? nullptr : std::calloc(1, size_t(size) + 1); }
    static void DisposePtr(void* block) { std::free(block); }
    static HYPluginResult GetFrame(void* instance, int32_t frame, GWorldPtr* out, int32_t width, int32_t height,
                                   HYRefDVQuality, int16_t* volume, void** cookie) {
        HostSession* s = Of(instance);
        Timer t{s};
        if (out) *out = nullptr;
        if (cookie) *cookie = nullptr;
        if (volume) *volume = 256;
        if (!s || !out || !cookie || width <= 0 || height <= 0) return kPluginBadParams;
        return s->getFrame_(frame, width, height, out, cookie);
    }
    static HYPluginResult ReleaseFrame(void* instance, void* cookie) {
        HostSession* s = Of(instance);
        Timer t{s};
        if (!s) return kPluginBadParams;
        return cookie ? s->releaseFrame_(cookie) : kPluginOK;
    }
    static HYPluginResult GetMovieInfo(int16_t* standard, int32_t width, int32_t height, int32_t* total) {
        if (standard) *standard = StandardForSize(width, height);
        if (total) *total = gSession ? gSession->movieFrames : 0;
        return kPluginOK;
    }
    static HYPluginResult GetClipInfo(void* instance, int32_t, HYPluginClipInfo* info) {
        HostSession* s = Of(instance);
        if (!s || !info) return kPluginBadParams;
        *info = HYPluginClipInfo{};
        info->clipStartFrame = s->clipStart;
        info->clipFrameCount = s->clipFrames;
        return kPluginOK;
    }
    static HYPluginResult Blit(PixMapHandle src, PixMapHandle dst, const Rect* srcRect, const Rect* dstRect,
                               int16_t opacity) {
        Timer t{gSession};
        return HostBlit(src, dst, srcRect, dstRect, opacity);
    }
    static HYPluginResult MixAudio(void* instance, void*, int32_t) {
        HostSession* s = Of(instance);
        if (!s) return kPluginBadParams;
        s->audioMixed = true;
        return kPluginOK;
    }
    static HYPluginResult GetFilterInfo(void* instance, HYPluginFilterInfo** out) {
        HostSession* s = Of(instance);
        if (!s || !out) return kPluginBadParams;
        *out = new HYPluginFilterInfo(s->filterInfo);
        return kPluginOK;
    }
    static HYPluginResult ReleaseFilterInfo(void* instance, HYPluginFilterInfo* info) {
        HostSession* s = Of(instance);
        if (!s) return kPluginBadParams;
        delete info;
        return kPluginOK;
    }
};

HostSession::HostSession(HYPluginEntry entry, GetFrameFn get, ReleaseFrameFn release)
    : entry_(entry), getFrame_(std::move(get)), releaseFrame_(std::move(release)) {
    procs_.NewPtrClear = &HostCallbacks::NewPtrClear;
    procs_.DisposePtr = &HostCallbacks::DisposePtr;
    procs_.GetFrame = &HostCallbacks::GetFrame;
    procs_.ReleaseFrame = &HostCallbacks::ReleaseFrame;
    procs_.GetMovieInfo = &HostCallbacks::GetMovieInfo;
    procs_.GetClipInfo = &HostCallbacks::GetClipInfo;
    procs_.Blit = &HostCallbacks::Blit;
    procs_.MixAudio = &HostCallbacks::MixAudio;
    procs_.GetFilterInfo = &HostCallbacks::GetFilterInfo;
    procs_.ReleaseFilterInfo = &HostCallbacks::ReleaseFilterInfo;
    params_.interfaceVersion = kHYInterfaceVersion;
    params_.instance = this;
    params_.procs = &procs_;
    gSession = this;
}

HostSession::~HostSession() {
    if (gSession == this) gSession = nullptr;
}

void HostSession::OfferDeepFrames() {
    params_.interfaceVersion = kHYDeepInterfaceVersion;
    params_.deepFrames = kHYDeepFramesOffered;
}

bool HostSession::DeepFramesTaken() const {
    return HYDeepFramesOffered(&params_) && (params_.getInfo.pluginFlags & kHYFlagDeepFrames);
}

HYPluginResult HostSession::Send(HYPluginSelector selector) {
    params_.selector = selector;
    const double before = callbackSeconds, start = Now();
    const HYPluginResult r = entry_(0, &params_);
    pluginSeconds += (Now() - start) - (callbackSeconds - before);
    return r;
}
