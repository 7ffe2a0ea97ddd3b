// The handlers behind the host's messages. Host thread only, one message at
// a time; the module state below is unguarded on purpose.
#pragma once
#include "host/HYPlugin.h"
#include "pipeline/pluginData.h"

// Per-clip state, kept in the host block's clientData from initialize to
// terminate.
struct EffectData {
    int32_t frameCount;
    int32_t effectSourceCount;
    float sliderValues[3];
    int32_t fadeInFrames;
    int32_t fadeOutFrames;
    GWorldPtr effectGWorld;   // scratch of one frame render; nil between frames
    PluginDataRec* clipConfig;  // the clip's private copy of the record
};

extern PluginDataRec* gPluginData;  // the global record, created by main
extern int32_t gMostRecentStartFrame;
extern int32_t gMostRecentFrameCount;

HYPluginResult EffectGetInfo(int16_t which, HYPluginParams* params);
void SetFilterParamInfo(int16_t which, HYPluginParams* params);
HYPluginResult EffectBegin(int16_t which, HYPluginParams* params);
HYPluginResult EffectDrive(int16_t which, HYPluginParams* params);
HYPluginResult EffectEnd(int16_t which, HYPluginParams* params);
HYPluginResult MakeEffectPlaceHolder(int16_t which, HYPluginParams* params);
HYPluginResult ApplyEffect(GWorldPtr sourceFrame, HYPluginParams* params);
void ApplyLineArtEffect(GWorldPtr sourceFrame, GWorldPtr targetFrame, HYPluginParams* params);

// Fetches host frame frameIndex (counted from startFrame) scaled into theGW.
// Returns the host's result, or -1 for a frame before the clip's start. The
// host's buffer goes back with ReleaseFrame; it is never disposed of here,
// whatever disposeAfterUse says, because ReleaseFrame already takes it back.
int32_t GetFrameIntoGW(GWorldPtr theGW, HYPluginParams* params, int32_t frameIndex, int16_t disposeAfterUse);

// kDVLowQuality only for proxy renders of small frames.
HYRefDVQuality FrameQuality(const HYPluginParams* params, int32_t height);
