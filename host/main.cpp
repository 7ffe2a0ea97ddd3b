// The plug-in's one exported symbol. It is a firewall: one dispatch on the
// selector, and no exception ever crosses back into the host.
#include <new>

#include "host/effectHandlers.h"
#include "pipeline/pluginData.h"
#include "support/commonprocs.h"

#if VX_HAVE_DIALOG
#include "dialog/configdlghandler.h"
#endif

static bool gPluginInited = false;
PluginDataRec* gPluginData = nullptr;

// The configuration side's one-time hook; it has no work of its own.
static void InitEngine() {}

static HYPluginResult Dispatch(int16_t which, HYPluginParams* params) {
    if (!params) return kPluginBadParams;
    if (params->interfaceVersion <= 3) return kPluginAppIsTooOld;
    if (!gPluginInited) {
        InitEngine();
        gPluginInited = true;
    }
    if (!gPluginData) {
        uint32_t size = 0;
        pGetConfigSize(size);
        gPluginData = static_cast<PluginDataRec*>(
            params->procs && params->procs->NewPtrClear ? params->procs->NewPtrClear(int32_t(size)) : nullptr);
        InitMyPlugIn(gPluginData);
    }
    switch (params->selector) {
        case kPlugGetInfo: return EffectGetInfo(which, params);
        case kPlugInitialize: return EffectBegin(which, params);
        case kPlugFilePlaceHolder: return MakeEffectPlaceHolder(which, params);
        case kPlugDoFrame: return EffectDrive(which, params);
        case kPlugTerminate: return EffectEnd(which, params);
#if VX_HAVE_DIALOG
        case kPlugCustomButtonClick: return CustomButton(which, params);
#endif
        default: return kPluginOK;
    }
}

// The symbol is "main"; a test program that has a main of its own compiles
// this file with VX_ENTRY_LABEL empty and calls PluginMain.
#ifndef VX_ENTRY_LABEL
#define VX_ENTRY_LABEL __asm__("main")
#endif
extern "C" __attribute__((visibility("default"))) int32_t PluginMain(int16_t which, HYPluginParams* params)
    VX_ENTRY_LABEL;

int32_t PluginMain(int16_t which, HYPluginParams* params) {
    try {
        return Dispatch(which, params);
    } catch (const std::bad_alloc&) {
        return kPluginOutOfMemory;
    } catch (...) {
        return kPluginFailed;
    }
}
