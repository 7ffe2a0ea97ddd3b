// The host's side of the plug-in interface: the parameter block that comes
// with every message, the callback table, and the message and result codes.
//
// One header shared by the plug-in, the test host and the vexolumen program.
// Layout is ours; native byte order. The host calls the entry point on one
// thread, one message at a time.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/qd/QuickDraw.h"

typedef uint8_t HYPluginSelector;
enum : HYPluginSelector {
    kPlugGetInfo = 1,
    kPlugInitialize = 2,
    kPlugDrawIcon = 3,
    kPlugDrawThumbNail = 4,
    kPlugFilePlaceHolder = 5,
    kPlugDoFrame = 6,
    kPlugCallOnceWithInitAndTerminate = 7,
    kPlugTerminate = 8,
    kPlugCustomButtonClick = 9,
};

// Results of the entry point and of the callbacks; callbacks may return any
// other value, which the plug-in passes on.
typedef int32_t HYPluginResult;
enum : HYPluginResult {
    kPluginOK = 0,
    kPluginBadParams = 3,
    kPluginOutOfMemory = 4,
    kPluginFailed = 6,
    kPluginAppIsTooOld = 10,
};

typedef uint8_t HYPluginType;
enum : HYPluginType { kPluginFilterType = 105 };

typedef uint8_t HYRefDVQuality;
enum : HYRefDVQuality { kDVLowQuality = 0, kDVHighQuality = 1 };

enum { kHYLabelSize = 128, kHYButtonTitleSize = 32 };

struct HYPluginGetInfo {
    HYPluginType pluginType;
    uint32_t pluginFlags;
    int32_t framesToBeRendered;
    int32_t takeFromClipBefore;
    int32_t takeFromClipAfter;
    int32_t minSpeedFrames;
    int32_t maxSpeedFrames;
    uint8_t mustTakeFromSingleClips;
    int32_t bestThumbOffset;
};

struct HYPluginFilterSliderInfo {
    char label[kHYLabelSize];
    char minLabel[kHYLabelSize];
    char maxLabel[kHYLabelSize];
    float defaultValue;
};

struct HY2PluginGetInfo {
    char group[kHYLabelSize];
    HYPluginFilterSliderInfo filterSliders[3];
    int32_t selectedFrames;
    int32_t baseMemoryNeeded;
};

struct HY3PluginGetInfo {
    char buttonTitle[kHYButtonTitleSize];
};

struct HYPluginFilterInfo {
    float sliderValues[3];
    int32_t fadeInFrames;
    int32_t fadeOutFrames;
};

// Filled by the host on request; the plug-in does not read it.
struct HYPluginClipInfo {
    int32_t clipStartFrame;
    int32_t clipFrameCount;
    int32_t reserved[6];
};

// Callbacks. `instance` is the block's instance, handed back unchanged.
struct HYProcs {
    void* (*NewPtrClear)(int32_t size);  // zero-filled, or nil
    void (*DisposePtr)(void* block);
    // On kPluginOK *frame is a 32-bit buffer (64-bit where deep frames were
    // offered and taken, see below) of width x height at (0, 0) that
    // stays the host's: ReleaseFrame(*cookie) takes it back and the plug-in
    // never disposes of it.
    HYPluginResult (*GetFrame)(void* instance, int32_t frame, GWorldPtr* outFrame, int32_t width,
                               int32_t height, HYRefDVQuality quality, int16_t* outVolume,
                               void** outCookie);
    HYPluginResult (*ReleaseFrame)(void* instance, void* cookie);
    HYPluginResult (*GetMovieInfo)(int16_t* outStandard, int32_t width, int32_t height,
                                   int32_t* outTotalFrames);
    HYPluginResult (*GetClipInfo)(void* instance, int32_t which, HYPluginClipInfo* outInfo);
    // Composites srcRect of src over dstRect of dst; opacity 0..255, 255 opaque.
    // Per channel, alpha included, both maps of one depth:
    //   32-bit: d = (s * opacity + d * (255 - opacity) + 127) / 255
    //   64-bit: the same on the 16-bit channels, with the same opacity 0..255
    //           (at most 65535 * 255 + 127, so 32-bit integers hold it).
    // A host blits 64-bit maps only where it offers deep frames.
    HYPluginResult (*Blit)(PixMapHandle src, PixMapHandle dst, const Rect* srcRect,
                           const Rect* dstRect, int16_t opacity);
    HYPluginResult (*MixAudio)(void* instance, void* cookie, int32_t level);
    // *outInfo stays valid until ReleaseFilterInfo; it may come back nil.
    HYPluginResult (*GetFilterInfo)(void* instance, HYPluginFilterInfo** outInfo);
    HYPluginResult (*ReleaseFilterInfo)(void* instance, HYPluginFilterInfo* info);
};

struct HYPluginParams {
    int16_t interfaceVersion;  // must be greater than 3
    void* instance;
    HYPluginSelector selector;
    HYProcs* procs;
    HYPluginGetInfo getInfo;
    int32_t startFrame;
    int32_t renderFrame;  // counted from startFrame
    int32_t frameCount;
    uint8_t proxyOnly;
    // kHYDeepFramesOffered from a host of kHYDeepInterfaceVersion or later;
    // read by nothing else. It sits in what was the padding before
    // frameRect, so the block keeps its layout and size.
    uint8_t deepFrames;
    Rect frameRect;   // output rectangle inside frame
    GWorldPtr frame;  // the output buffer
    void* clientData; // per-clip data, owned by the plug-in
    HY2PluginGetInfo getInfo2;
    HY3PluginGetInfo getInfo3;
};

enum : int16_t { kHYInterfaceVersion = 4 };

// Deep frames: 64 bits a pixel, 16-bit channels alpha, red, green, blue in
// native byte order. A host that offers them sends kHYDeepInterfaceVersion
// (or later) with deepFrames = kHYDeepFramesOffered on every message. Old
// hosts send version 4, so whatever their padding byte holds is never read.
// A plug-in that takes them answers get info with kHYFlagDeepFrames in
// pluginFlags; to such a plug-in the host then gives 64-bit frames: GetFrame
// hands out, and frame is, a 64-bit buffer, and Blit composites 64-bit maps
// by the rule above. With the offer the plug-in works at the depth of the
// frames it gets; without it, at 32 bits whatever comes.
enum : int16_t { kHYDeepInterfaceVersion = 5 };
enum : uint8_t { kHYDeepFramesOffered = 1 };
enum : uint32_t { kHYFlagDeepFrames = 0x10000 };

inline bool HYDeepFramesOffered(const HYPluginParams* params) {
    return params->interfaceVersion >= kHYDeepInterfaceVersion && params->deepFrames == kHYDeepFramesOffered;
}

// The one symbol the plug-in library exports, under the name "main".
typedef int32_t (*HYPluginEntry)(int16_t which, HYPluginParams* params);

// The deep-frame byte took the padding after proxyOnly: nothing moved.
static_assert(offsetof(HYPluginParams, deepFrames) == offsetof(HYPluginParams, proxyOnly) + 1);
static_assert(offsetof(HYPluginParams, frameRect) == offsetof(HYPluginParams, proxyOnly) + 2);
#if defined(__x86_64__)
static_assert(sizeof(HYPluginParams) == 1448, "the block's size is part of the interface");
#endif
