#include "pipeline/pluginFX.h"

#include "pipeline/callPixelFX.h"
#include "support/commonprocs.h"

void DoEffect(PluginDataRec* myConfig, HYPluginParams*, GWorldPtr theSource, GWorldPtr theTarget,
              int32_t currentFrameIndex, int32_t, int32_t, int32_t totalFrames, float s1, float s2, float s3) {
    Assert(myConfig, "uninited theData in Plugin Effect master proc. need to call init before calling me");
    CGrafPtr savePort;
    GDHandle saveDevice;
    GetGWorld(&savePort, &saveDevice);
    // Only the first two host sliders are centred; the third goes down as it is.
    DoPixelEffect(theSource, theTarget, myConfig, currentFrameIndex, totalFrames, double(s1) - 0.5,
                  double(s2) - 0.5, double(s3));
    SetGWorld(savePort, saveDevice);
}
