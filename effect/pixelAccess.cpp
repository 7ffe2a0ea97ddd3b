#include "effect/pixelAccess.h"

void GetPixInfoFromGWorld(GWorldPtr theGW, Ptr* pixBaseAddress, int32_t* pixRowBytes, Rect* theFrame,
                          GWorldFlags* pixFlags) {
    PixMapHandle pm = GetGWorldPixMap(theGW);
    *pixFlags = GetPixelsState(pm);
    LockPixels(pm);  // the result does not matter: our buffers never move
    *pixBaseAddress = GetPixBaseAddr(pm);
    *pixRowBytes = GetPixRowBytes(pm);
    GetPortBounds(theGW, theFrame);
}
