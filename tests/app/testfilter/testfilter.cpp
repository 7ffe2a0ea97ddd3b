// A stand-in filter for the host program's tests: it passes frames through
// unchanged, and on request fails at a given frame or works slowly, so the
// host's handling of those can be seen without the real effect.
//   VX_TESTFILTER_FAIL_AT=N   do-frame of renderFrame N returns kPluginFailed
//   VX_TESTFILTER_SLEEP_MS=N  each do-frame takes N ms longer
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "host/HYPlugin.h"

namespace {

int EnvInt(const char* name, int fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::atoi(v) : fallback;
}

int32_t DoFrame(HYPluginParams* p) {
    if (p->renderFrame == EnvInt("VX_TESTFILTER_FAIL_AT", -1)) return kPluginFailed;
    if (const int ms = EnvInt("VX_TESTFILTER_SLEEP_MS", 0))
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    const Rect& r = p->frameRect;
    GWorldPtr src = nullptr;
    void* cookie = nullptr;
    int16_t volume = 0;
    HYPluginResult result = p->procs->GetFrame(p->instance, p->startFrame + p->renderFrame, &src, r.right - r.left,
                                               r.bottom - r.top, kDVHighQuality, &volume, &cookie);
    if (result == kPluginOK) {
        Rect bounds{};
        GetPortBounds(src, &bounds);
        CopyBits(GetPortBitMapForCopyBits(src), GetPortBitMapForCopyBits(p->frame), &bounds, &r, srcCopy, nullptr);
        if (!p->proxyOnly) result = p->procs->MixAudio(p->instance, cookie, 256);
    }
    const HYPluginResult released = p->procs->ReleaseFrame(p->instance, cookie);
    return result != kPluginOK ? result : released;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) int32_t TestFilterMain(int16_t, HYPluginParams* p)
    __asm__("main");

int32_t TestFilterMain(int16_t, HYPluginParams* p) {
    if (!p) return kPluginBadParams;
    switch (p->selector) {
        case kPlugGetInfo:
            p->getInfo.pluginType = kPluginFilterType;
            std::strcpy(p->getInfo2.group, "Test");
            for (HYPluginFilterSliderInfo& s : p->getInfo2.filterSliders) s.defaultValue = 0.25f;
            return kPluginOK;
        case kPlugDoFrame: return DoFrame(p);
        default: return kPluginOK;
    }
}
