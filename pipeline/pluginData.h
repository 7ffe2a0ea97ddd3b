// The configuration record, the dialog workspace, and their lifecycle.
//
// One global record (created by the entry point, never freed) is edited by
// the dialog; each clip renders with a private copy made at initialize. All
// of this runs on the host's thread, one message at a time.
#pragma once
#include <cstdint>

#include "pipeline/relRects.h"
#include "platform/cg/CoreGraphics.h"
#include "platform/qd/QuickDraw.h"

struct HYPluginParams;
struct OpaqueControlRef;
typedef OpaqueControlRef* ControlRef;
struct OpaqueWindowPtr;
typedef OpaqueWindowPtr* WindowRef;

// Arrays described as 1..6 are stored 0-based: entry i is [i - 1].
struct PluginDataRec {
    RelRect startRel;          // the effect rectangle
    RelRect endRel;            // kept and saved, not rendered
    int16_t sliders[6];        // 1..3: angles about red, green, blue (100 = half turn)
    RGBColor colors[6];        // 1: the offset colour
    RGBColor frameStartColor;  // outline of the rectangle in the editor
    RGBColor frameEndColor;
    int16_t mediaType;         // 1 NTSC, 2 PAL, 3 HD
    int16_t method;            // 1 clamp, 2 wrap, other reflect
    CGImageRef theOriginalImage;  // owned by the global record only
    CGImageRef theRendered;       // owned by whichever record holds it
    Boolean keepProps;
};
typedef PluginDataRec* pluginDataPtr;

struct PluginWorkSpace {
    PluginDataRec* theConfig;
    HYPluginParams* iMovieParams;
    GWorldPtr sourceClip;
    GWorldPtr theFXClip;
    int32_t currFrameIndex;
    int32_t minFrameIndex;
    int32_t maxFrameIndex;
    int16_t activeRel;
    ControlRef theFrameCtrl;
    ControlRef sliders[6];
    ControlRef clipSlider;
    ControlRef colors[6];
    WindowRef theWindow;
};

extern PluginDataRec* gTheConfig;
extern PluginWorkSpace gConfigWorkspace;

void pGetConfigSize(uint32_t& theSize);
void InitMyPlugIn(void* theData);
void InitPluginData(PluginDataRec* theConfig);
void ResetConfig(PluginDataRec* theConfig, Boolean fullInit);
void pCopyConfig(const PluginDataRec* source, PluginDataRec* dest);
void pUncopyConfig(PluginDataRec* theData);
int16_t GetMediaFormat(const PluginDataRec* theData);
RelRect GetCurrentRel();
void PutCurrentRel(const RelRect& theRel);
