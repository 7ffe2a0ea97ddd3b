#include "effect/lineEffect.h"

#include "support/CGGlue.h"
#include "support/commonprocs.h"

void RenderLineArt(PluginDataRec* theConfig) {
    Assert(theConfig, "nil config on RenderLineArt");
    if (theConfig->theRendered) {
        CGImageRelease(theConfig->theRendered);
        theConfig->theRendered = nullptr;
    }
    if (!theConfig->theOriginalImage) return;

    int32_t wid, hig;
    GetImageDims(theConfig->theOriginalImage, wid, hig);
    const Rect imageRect{0, 0, int16_t(hig), int16_t(wid)};
    GWorldPtr theGW = AllocateRectGWorld(imageRect);
    Assert(theGW, "nil GWorld on RenderLineArt");
    DrawCGImageInQDRect(theGW, theConfig->theOriginalImage, imageRect, 0.0f, true);
    theConfig->theRendered = GWorld2CGImage(theGW);
    DisposeGWorld(theGW);
}
