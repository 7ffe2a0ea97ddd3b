// The host side's entry into the render driver.
#pragma once
#include "pipeline/pluginData.h"

struct HYPluginParams;

// Renders theSource into theTarget with the clip's record. Frame index, fade
// lengths and slider values travel along but do not change the picture.
void DoEffect(PluginDataRec* myConfig, HYPluginParams* params, GWorldPtr theSource, GWorldPtr theTarget,
              int32_t currentFrameIndex, int32_t fadeInFrames, int32_t fadeOutFrames, int32_t totalFrames,
              float s1, float s2, float s3);
