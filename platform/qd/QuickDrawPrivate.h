// The records behind the opaque port types, for the platform layers only
// (the toolbox draws windows through them). System code never includes this.
#pragma once
#include "QuickDraw.h"

#include <cstddef>

struct PixMap {
    Ptr baseAddr = nullptr;
    int32_t rowBytes = 0;
    Rect bounds{0, 0, 0, 0};
    GWorldFlags state = 0;
    GrafPort* port = nullptr;  // the port that owns this pixel map
    int16_t pixelSize = 32;    // bits per pixel: 32 or 64
};

struct GDevice {
    int32_t id = 0;
};

struct GrafPort {
    PixMap pixMap;
    bool ownsPixels = false;
    size_t pixelsLength = 0;  // for FreePixels
    RGBColor foreColor{0, 0, 0};
    RGBColor backColor{65535, 65535, 65535};
    Rect clipRect{-32768, -32768, 32767, 32767};
    int16_t penMode = patCopy;
    Point penLoc{0, 0};
    void* refCon = nullptr;  // owner's data (the toolbox keeps its window here)
    ~GrafPort();
};
