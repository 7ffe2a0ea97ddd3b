#include "pipeline/callPixelFX.h"

#include "effect/pixelEffect.h"
#include "support/commonprocs.h"

void DoPixelEffect(GWorldPtr source, GWorldPtr dest, PluginDataRec* theConfig, int32_t currentFrameIndex,
                   int32_t maxFrames, double s1, double s2, double s3) {
    const Rect theFrame = GetPortRect(dest);
    const Rect theRect = Rel2Rect(theConfig->startRel, theFrame);
    PixelDrive(source, dest, theRect, theConfig, currentFrameIndex, maxFrames, s1, s2, s3);
}

void PixelDrive(GWorldPtr source, GWorldPtr dest, Rect theRect, PluginDataRec* theConfig, int32_t currentFrame,
                int32_t numFrames, double s1, double s2, double s3) {
    ThePixelEffect(source, dest, theRect, true, *theConfig, currentFrame, numFrames, s1, s2, s3);
}

void CallPixelEffect(GWorldPtr source, GWorldPtr dest) {
    const Rect theFrame = GetPortRect(dest);
    Source2Target(source, dest);
    PluginDataRec* theConfig = gConfigWorkspace.theConfig;
    const Rect theRect = Rel2Rect(theConfig->startRel, theFrame);
    PixelDrive(source, dest, theRect, theConfig, gConfigWorkspace.currFrameIndex, gConfigWorkspace.maxFrameIndex,
               0.0, 0.0, 0.0);
}
