// The path from callers that want a frame processed to the colour rotation:
// the record's effect rectangle is mapped onto the target's bounds, pixels
// outside it are copied. Host thread only.
#pragma once
#include "pipeline/pluginData.h"

// Renders source into dest (same size) with theConfig.
void DoPixelEffect(GWorldPtr source, GWorldPtr dest, PluginDataRec* theConfig, int32_t currentFrameIndex,
                   int32_t maxFrames, double s1, double s2, double s3);
void PixelDrive(GWorldPtr source, GWorldPtr dest, Rect theRect, PluginDataRec* theConfig, int32_t currentFrame,
                int32_t numFrames, double s1, double s2, double s3);
// The dialog preview: source into dest with the record being edited
// (gConfigWorkspace.theConfig).
void CallPixelEffect(GWorldPtr source, GWorldPtr dest);
