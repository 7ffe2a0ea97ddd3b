// Direct access to the pixels of a 32-bit off-screen buffer.
#pragma once
#include <cstdint>

#include "platform/qd/QuickDraw.h"

// One pixel, bytes in memory order alpha, red, green, blue.
struct PixRec {
    uint8_t alpha, red, green, blue;
};
static_assert(sizeof(PixRec) == 4);

// One deep pixel: 16-bit channels alpha, red, green, blue, native byte order.
struct PixRec64 {
    uint16_t alpha, red, green, blue;
};
static_assert(sizeof(PixRec64) == 8);

// What a pixel loop needs of a buffer. Pixel (c, r) is at
// pixBaseAddress + r * pixRowBytes + 4 * c; the bytes past the last pixel of a
// row belong to nobody and are never touched.
struct PixelBufferView {
    Ptr pixBaseAddress;
    int32_t pixRowBytes;
    Rect theFrame;
    GWorldFlags pixFlags;  // lock state to hand back when done
};

// Opens a view: saves the lock state, locks the pixels, reads address, row
// bytes and bounds. Give pixFlags back with SetPixelsState(GetGWorldPixMap(gw)).
void GetPixInfoFromGWorld(GWorldPtr theGW, Ptr* pixBaseAddress, int32_t* pixRowBytes, Rect* theFrame,
                          GWorldFlags* pixFlags);
