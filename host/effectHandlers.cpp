#include "host/effectHandlers.h"

#include <cmath>
#include <cstring>

#include "pipeline/pluginFX.h"
#include "platform/resources/Resources.h"
#include "support/commonprocs.h"

int32_t gMostRecentStartFrame = 0;
int32_t gMostRecentFrameCount = 0;

namespace {

EffectData* ClipData(HYPluginParams* params) { return static_cast<EffectData*>(params->clientData); }

// Entry `index` of string list `listID` as a NUL-terminated text of at most
// size - 1 characters.
void CopyIndString(char* dst, size_t size, int16_t listID, int16_t index) {
    Str255 s;
    GetIndString(s, listID, index);
    const size_t n = std::min<size_t>(s[0], size - 1);
    std::memcpy(dst, s + 1, n);
    dst[n] = 0;
}

Rect ZeroOrigin(Rect r) {
    OffsetRect(&r, int16_t(-r.left), int16_t(-r.top));
    return r;
}

// Scratch buffers take the depth of the frame they copy when the host
// offered deep frames; without the offer they are 32-bit whatever comes.
int16_t ScratchDepth(const HYPluginParams* params, GWorldPtr frame) {
    return HYDeepFramesOffered(params) && GetPixDepth(GetGWorldPixMap(frame)) == 64 ? 64 : 32;
}

}  // namespace

HYRefDVQuality FrameQuality(const HYPluginParams* params, int32_t height) {
    return params->proxyOnly && height <= 259 ? kDVLowQuality : kDVHighQuality;
}

void SetFilterParamInfo(int16_t, HYPluginParams* params) {
    params->getInfo.takeFromClipBefore = 0;
    params->getInfo.takeFromClipAfter = params->getInfo2.selectedFrames;
    params->getInfo.framesToBeRendered = params->getInfo2.selectedFrames;
    for (int16_t i = 0; i < 3; ++i) {
        HYPluginFilterSliderInfo& slider = params->getInfo2.filterSliders[i];
        slider.defaultValue = 0.5f;
        CopyIndString(slider.label, sizeof slider.label, 128, int16_t(i + 1));
        CopyIndString(slider.minLabel, sizeof slider.minLabel, 129, int16_t(2 * i + 1));
        CopyIndString(slider.maxLabel, sizeof slider.maxLabel, 129, int16_t(2 * i + 2));
    }
    params->getInfo.pluginFlags |= 0x1000;
    CopyIndString(params->getInfo3.buttonTitle, sizeof params->getInfo3.buttonTitle, 130, 1);
    CopyIndString(params->getInfo2.group, sizeof params->getInfo2.group, 17000, 1);
}

HYPluginResult EffectGetInfo(int16_t which, HYPluginParams* params) {
    HYPluginGetInfo& info = params->getInfo;
    info.pluginType = kPluginFilterType;
    info.framesToBeRendered = 0;
    info.takeFromClipBefore = 0;
    info.takeFromClipAfter = 0;
    info.minSpeedFrames = 0;
    info.maxSpeedFrames = 0;
    info.mustTakeFromSingleClips = false;
    info.pluginFlags |= 0x380;
    if (HYDeepFramesOffered(params)) info.pluginFlags |= kHYFlagDeepFrames;  // taken
    params->getInfo2.baseMemoryNeeded = 50000;
    SetFilterParamInfo(which, params);
    return kPluginOK;
}

HYPluginResult EffectBegin(int16_t, HYPluginParams* params) {
    HYProcs* procs = params->procs;
    if (!params->clientData) {
        params->clientData = procs->NewPtrClear(int32_t(sizeof(EffectData)));
        if (!params->clientData) return kPluginOutOfMemory;
    }
    EffectData* data = ClipData(params);
    data->clipConfig = nullptr;
    uint32_t size = 0;
    pGetConfigSize(size);
    data->clipConfig = static_cast<PluginDataRec*>(procs->NewPtrClear(int32_t(size)));
    pCopyConfig(gPluginData, data->clipConfig);
    data->effectSourceCount = 1;

    int16_t standard = 0;
    int32_t totalFrames = 0;
    procs->GetMovieInfo(&standard, params->frameRect.right - params->frameRect.left,
                        params->frameRect.bottom - params->frameRect.top, &totalFrames);

    HYPluginFilterInfo* info = nullptr;
    const HYPluginResult result = procs->GetFilterInfo(params->instance, &info);
    if (info) {
        data->fadeInFrames = info->fadeInFrames;
        data->fadeOutFrames = info->fadeOutFrames;
        for (int i = 0; i < 3; ++i) data->sliderValues[i] = info->sliderValues[i];
        procs->ReleaseFilterInfo(params->instance, info);
    }

    // Fades may not outlast the clip; both together share it.
    const int32_t N = params->frameCount;
    if (data->fadeInFrames != 0 && data->fadeOutFrames != 0) {
        if (data->fadeInFrames > N / 2) data->fadeInFrames = N / 2;
        if (data->fadeOutFrames > N / 2) data->fadeOutFrames = N / 2;
    } else if (data->fadeInFrames != 0 && data->fadeInFrames > N) {
        data->fadeInFrames = N;
    } else if (data->fadeOutFrames != 0 && data->fadeOutFrames > N) {
        data->fadeOutFrames = N;
    }
    data->effectGWorld = nullptr;
    return result;
}

void ApplyLineArtEffect(GWorldPtr sourceFrame, GWorldPtr targetFrame, HYPluginParams* params) {
    EffectData* data = ClipData(params);
    CGrafPtr savePort;
    GDHandle saveDevice;
    GetGWorld(&savePort, &saveDevice);
    SetGWorld(targetFrame, nullptr);
    DoEffect(data->clipConfig, params, sourceFrame, targetFrame, params->renderFrame, data->fadeInFrames,
             data->fadeOutFrames, params->frameCount, data->sliderValues[0], data->sliderValues[1],
             data->sliderValues[2]);
    SetGWorld(savePort, saveDevice);
}

HYPluginResult ApplyEffect(GWorldPtr sourceFrame, HYPluginParams* params) {
    EffectData* data = ClipData(params);
    const Rect srcRect = ZeroOrigin(GetPortRect(sourceFrame));
    const OSErr status = NewGWorld(&data->effectGWorld, ScratchDepth(params, sourceFrame), &srcRect, nullptr,
                                   nullptr, 0);
    if (status == noErr && data->effectGWorld) {
        CopyBits(GetPortBitMapForCopyBits(sourceFrame), GetPortBitMapForCopyBits(data->effectGWorld), &srcRect,
                 &srcRect, srcCopy, nullptr);
        ApplyLineArtEffect(sourceFrame, data->effectGWorld, params);
        CopyBits(GetPortBitMapForCopyBits(data->effectGWorld), GetPortBitMapForCopyBits(params->frame), &srcRect,
                 &params->frameRect, srcCopy, nullptr);
    }
    DisposeGWorld(data->effectGWorld);
    data->effectGWorld = nullptr;
    if (status == noErr) return kPluginOK;
    return status == memFullErr ? kPluginOutOfMemory : kPluginFailed;
}

HYPluginResult EffectDrive(int16_t, HYPluginParams* params) {
    EffectData* data = ClipData(params);
    if (!data) return kPluginBadParams;
    HYProcs* procs = params->procs;

    CGrafPtr savePort;
    GDHandle saveDevice;
    GetGWorld(&savePort, &saveDevice);
    SetGWorld(params->frame, nullptr);
    const int32_t width = params->frameRect.right - params->frameRect.left;
    const int32_t height = params->frameRect.bottom - params->frameRect.top;
    // In 64 bits: a host's numbers near the ends of the range must not wrap.
    const int64_t frame = int64_t(params->startFrame) + params->renderFrame;
    gMostRecentStartFrame = params->startFrame;
    gMostRecentFrameCount = params->frameCount;

    HYPluginResult result = kPluginOK;
    OSErr status = noErr;
    void* cookie = nullptr;
    GWorldPtr gWorldOriginal = nullptr;

    if (frame >= 0 && frame <= INT32_MAX) {
        GWorldPtr gWorldBefore = nullptr;
        int16_t volume = 0;
        result = procs->GetFrame(params->instance, int32_t(frame), &gWorldBefore, width, height,
                                 FrameQuality(params, height), &volume, &cookie);
        if (result != kPluginOK) goto done;
        {
            Rect srcRect = ZeroOrigin(params->frameRect);
            int16_t opacity = 0;
            const int32_t r = params->renderFrame;
            if ((data->fadeInFrames > 0 || data->fadeOutFrames != 0) &&
                (r < data->fadeInFrames || r > int64_t(params->frameCount) - data->fadeOutFrames)) {
                status = NewGWorld(&gWorldOriginal, ScratchDepth(params, gWorldBefore), &srcRect, nullptr, nullptr,
                                   0);
                if (status != noErr || !gWorldOriginal) goto done;
                CopyBits(GetPortBitMapForCopyBits(gWorldBefore), GetPortBitMapForCopyBits(gWorldOriginal), &srcRect,
                         &srcRect, srcCopy, nullptr);
                const double percent = r < data->fadeInFrames
                                           ? double(r) / double(data->fadeInFrames)
                                           : (double(params->frameCount) - double(r)) / double(data->fadeOutFrames);
                // Frames before the clip or a negative fade give fractions
                // outside 0..1; the host takes opacities 0..255 only.
                const double o = std::trunc((1.0 - percent) * 255.0);
                opacity = int16_t(o >= 255.0 ? 255 : o > 0.0 ? o : 0);
            }
            result = ApplyEffect(gWorldBefore, params);
            // A failed render is not covered up by a successful blend.
            if (gWorldOriginal && result == kPluginOK) {
                srcRect = GetPortRect(gWorldBefore);
                result = procs->Blit(GetGWorldPixMap(gWorldOriginal), GetGWorldPixMap(params->frame), &srcRect,
                                     &params->frameRect, opacity);
                if (result != kPluginOK) goto done;
            }
            if (result == kPluginOK && !params->proxyOnly) result = procs->MixAudio(params->instance, cookie, 256);
        }
    }
done:
    const HYPluginResult released = procs->ReleaseFrame(params->instance, cookie);
    if (result == kPluginOK) result = released;
    DisposeGWorld(gWorldOriginal);
    SetGWorld(savePort, saveDevice);
    if (result == kPluginOK && status != noErr) result = kPluginFailed;
    return result;
}

HYPluginResult EffectEnd(int16_t, HYPluginParams* params) {
    HYProcs* procs = params->procs;
    HYPluginClipInfo clipInfo{};
    procs->GetClipInfo(params->instance, 1, &clipInfo);
    EffectData* data = ClipData(params);
    if (!data) return kPluginOK;
    if (data->effectGWorld) {
        DisposeGWorld(data->effectGWorld);
        data->effectGWorld = nullptr;
    }
    if (data->clipConfig) {
        pUncopyConfig(data->clipConfig);
        procs->DisposePtr(data->clipConfig);
    }
    procs->DisposePtr(data);
    params->clientData = nullptr;
    return kPluginOK;
}

HYPluginResult MakeEffectPlaceHolder(int16_t which, HYPluginParams* params) {
    CGrafPtr savePort;
    GDHandle saveDevice;
    GetGWorld(&savePort, &saveDevice);
    SetGWorld(params->frame, nullptr);
    HYPluginParams copy;
    std::memcpy(&copy, params, sizeof copy);
    copy.renderFrame = params->getInfo.bestThumbOffset;
    copy.selector = kPlugInitialize;
    // The copy keeps per-clip data of its own, so that the caller's clip
    // state is neither freed nor replaced by this one-frame render.
    copy.clientData = nullptr;
    const HYPluginResult result = EffectBegin(which, &copy);
    if (result == kPluginOK) {
        copy.selector = kPlugDoFrame;
        EffectDrive(which, &copy);
        copy.selector = kPlugTerminate;
        EffectEnd(which, &copy);
    } else if (copy.clientData) {
        EffectEnd(which, &copy);  // nothing of a failed start may outlive the copy
    }
    SetGWorld(savePort, saveDevice);
    return result;
}

int32_t GetFrameIntoGW(GWorldPtr theGW, HYPluginParams* params, int32_t frameIndex, int16_t) {
    const Rect bounds = GetPortRect(theGW);
    const int64_t frame = int64_t(frameIndex) + params->startFrame;
    if (frame < 0 || frame > INT32_MAX) return -1;
    GWorldPtr clip = nullptr;
    int16_t volume = 0;
    void* cookie = nullptr;
    HYPluginResult result = params->procs->GetFrame(params->instance, int32_t(frame), &clip, bounds.right - bounds.left,
                                                    bounds.bottom - bounds.top,
                                                    FrameQuality(params, bounds.bottom - bounds.top), &volume,
                                                    &cookie);
    if (clip) {
        const Rect from = GetPortRect(clip);
        CopyBits(GetPortBitMapForCopyBits(clip), GetPortBitMapForCopyBits(theGW), &from, &bounds, srcCopy, nullptr);
        result = params->procs->ReleaseFrame(params->instance, cookie);
    }
    return result;
}
