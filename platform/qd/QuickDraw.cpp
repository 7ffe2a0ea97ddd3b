#include "QuickDraw.h"
#include "QuickDrawPrivate.h"
#include "PixelMemory.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {

// At least 16 bytes past the last pixel of each row, rows 16-byte aligned.
int32_t PaddedRowBytes(int32_t width, int32_t pixelBytes) { return (width * pixelBytes + 31) & ~15; }

// One pixel read from a row of either depth as 64 bits, and written back at
// the other's. 8 to 16 bits is v * 257, so 0 and 255 stay black and white.
uint64_t ReadPixel64(const uint8_t* row, int32_t x, int16_t depth) {
    if (depth == 64) {
        uint64_t p;
        std::memcpy(&p, row + 8 * int64_t(x), 8);
        return p;
    }
    uint16_t ch[4];
    for (int c = 0; c < 4; ++c) ch[c] = uint16_t(row[4 * int64_t(x) + c] * 257);
    uint64_t p;
    std::memcpy(&p, ch, 8);
    return p;
}

void WritePixel64(uint8_t* row, int32_t x, int16_t depth, uint64_t p) {
    if (depth == 64) {
        std::memcpy(row + 8 * int64_t(x), &p, 8);
        return;
    }
    uint16_t ch[4];
    std::memcpy(ch, &p, 8);
    for (int c = 0; c < 4; ++c) row[4 * int64_t(x) + c] = uint8_t(ch[c] >> 8);
}

GDevice gMainDevice;
CGrafPtr gCurrentPort = nullptr;
GDHandle gCurrentDevice = &gMainDevice;

}  // namespace

GrafPort::~GrafPort() {
    if (ownsPixels) FreePixels(pixMap.baseAddr, pixelsLength);
}

OSErr NewGWorld(GWorldPtr* offscreen, int16_t depth, const Rect* boundsRect, void*,
                GDHandle, GWorldFlags) {
    if (!offscreen) return paramErr;
    *offscreen = nullptr;
    if (!boundsRect || (depth != 32 && depth != 0 && depth != 64)) return paramErr;
    const int32_t width = int32_t(boundsRect->right) - boundsRect->left;
    const int32_t height = int32_t(boundsRect->bottom) - boundsRect->top;
    if (width <= 0 || height <= 0) return paramErr;
    if (depth == 0) depth = 32;
    const int32_t rowBytes = PaddedRowBytes(width, depth / 8);
    size_t length = 0;
    void* pixels = AllocatePixels(size_t(rowBytes) * size_t(height), &length);
    if (!pixels) return memFullErr;
    auto* port = new (std::nothrow) GrafPort;
    if (!port) {
        FreePixels(pixels, length);
        return memFullErr;
    }
    port->pixMap.baseAddr = static_cast<Ptr>(pixels);
    port->pixMap.rowBytes = rowBytes;
    port->pixMap.bounds = Rect{0, 0, int16_t(height), int16_t(width)};
    port->pixMap.port = port;
    port->pixMap.pixelSize = depth;
    port->ownsPixels = true;
    port->pixelsLength = length;
    port->clipRect = port->pixMap.bounds;
    *offscreen = port;
    return noErr;
}

OSErr NewGWorldFromPtr(GWorldPtr* offscreen, const Rect* boundsRect, Ptr pixels,
                       int32_t rowBytes) {
    if (!offscreen) return paramErr;
    *offscreen = nullptr;
    if (!boundsRect || !pixels) return paramErr;
    const int32_t width = int32_t(boundsRect->right) - boundsRect->left;
    const int32_t height = int32_t(boundsRect->bottom) - boundsRect->top;
    if (width <= 0 || height <= 0 || rowBytes < width * 4) return paramErr;
    auto* port = new (std::nothrow) GrafPort;
    if (!port) return memFullErr;
    port->pixMap.baseAddr = pixels;
    port->pixMap.rowBytes = rowBytes;
    port->pixMap.bounds = Rect{0, 0, int16_t(height), int16_t(width)};
    port->pixMap.port = port;
    port->ownsPixels = false;
    port->clipRect = port->pixMap.bounds;
    *offscreen = port;
    return noErr;
}

void DisposeGWorld(GWorldPtr offscreen) {
    if (!offscreen) return;
    if (gCurrentPort == offscreen) gCurrentPort = nullptr;
    delete offscreen;
}

PixMapHandle GetGWorldPixMap(GWorldPtr offscreen) { return offscreen ? &offscreen->pixMap : nullptr; }
PixMapHandle GetPortPixMap(CGrafPtr port) { return GetGWorldPixMap(port); }
const BitMap* GetPortBitMapForCopyBits(CGrafPtr port) { return GetGWorldPixMap(port); }

GWorldFlags GetPixelsState(PixMapHandle pm) { return pm ? pm->state : 0; }
void SetPixelsState(PixMapHandle pm, GWorldFlags state) {
    if (pm) pm->state = state;
}
Boolean LockPixels(PixMapHandle pm) {
    if (!pm) return false;
    pm->state |= pixelsLocked;
    return true;
}
void UnlockPixels(PixMapHandle pm) {
    if (pm) pm->state &= ~pixelsLocked;
}
Ptr GetPixBaseAddr(PixMapHandle pm) { return pm ? pm->baseAddr : nullptr; }
int32_t GetPixRowBytes(PixMapHandle pm) { return pm ? pm->rowBytes : 0; }
int16_t GetPixDepth(PixMapHandle pm) { return pm ? pm->pixelSize : 0; }
Rect* GetPixBounds(PixMapHandle pm, Rect* bounds) {
    if (bounds) *bounds = pm ? pm->bounds : Rect{0, 0, 0, 0};
    return bounds;
}
Rect* GetPortBounds(CGrafPtr port, Rect* rect) {
    return GetPixBounds(port ? &port->pixMap : nullptr, rect);
}

void GetGWorld(CGrafPtr* port, GDHandle* gdh) {
    if (port) *port = gCurrentPort;
    if (gdh) *gdh = gCurrentDevice;
}
void SetGWorld(CGrafPtr port, GDHandle gdh) {
    gCurrentPort = port;
    gCurrentDevice = gdh ? gdh : &gMainDevice;
}
void GetPort(GrafPtr* port) {
    if (port) *port = gCurrentPort;
}
void SetPort(GrafPtr port) { gCurrentPort = port; }
GDHandle GetMainDevice() { return &gMainDevice; }

// Drawing without a current port goes nowhere, as the colours of a null port
// have nowhere to live.
void RGBForeColor(const RGBColor* color) {
    if (gCurrentPort && color) gCurrentPort->foreColor = *color;
}
void RGBBackColor(const RGBColor* color) {
    if (gCurrentPort && color) gCurrentPort->backColor = *color;
}
void GetForeColor(RGBColor* color) {
    if (color) *color = gCurrentPort ? gCurrentPort->foreColor : RGBColor{0, 0, 0};
}
void GetBackColor(RGBColor* color) {
    if (color) *color = gCurrentPort ? gCurrentPort->backColor : RGBColor{65535, 65535, 65535};
}

void CopyBits(const BitMap* srcBits, const BitMap* dstBits, const Rect* srcRect,
              const Rect* dstRect, int16_t, RgnHandle) {
    if (!srcBits || !dstBits || !srcRect || !dstRect) return;
    const int32_t sw = int32_t(srcRect->right) - srcRect->left;
    const int32_t sh = int32_t(srcRect->bottom) - srcRect->top;
    const int32_t dw = int32_t(dstRect->right) - dstRect->left;
    const int32_t dh = int32_t(dstRect->bottom) - dstRect->top;
    if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return;

    // Destination pixels that are written: dstRect within bounds and clip.
    Rect target;
    if (!SectRect(dstRect, &dstBits->bounds, &target)) return;
    if (dstBits->port && !SectRect(&target, &dstBits->port->clipRect, &target)) return;

    // Source column for each target column, by nearest neighbour from the
    // top-left corner; pixels mapped from outside the source are skipped.
    const int32_t tw = target.right - target.left;
    std::vector<int32_t> srcCol(static_cast<size_t>(tw));
    for (int32_t x = 0; x < tw; ++x) {
        const int64_t dx = int64_t(target.left + x) - dstRect->left;
        srcCol[size_t(x)] = int32_t(srcRect->left + dx * sw / dw);
    }
    const Rect& sb = srcBits->bounds;
    const bool sameScale = (sw == dw && sh == dh);
    const bool sameBuffer = srcBits->baseAddr == dstBits->baseAddr;
    const int16_t sd = srcBits->pixelSize, dd = dstBits->pixelSize;
    const int32_t pixelBytes = sd / 8;
    std::vector<uint8_t> rowCopy;

    // Walk rows bottom-up when copying down within one buffer so that source
    // rows are read before they are overwritten.
    const int32_t first = target.top, last = target.bottom;
    const bool backwards = sameBuffer && srcRect->top < dstRect->top;
    for (int32_t i = 0; i < last - first; ++i) {
        const int32_t y = backwards ? last - 1 - i : first + i;
        const int64_t dy = int64_t(y) - dstRect->top;
        const int32_t sy = int32_t(srcRect->top + dy * sh / dh);
        if (sy < sb.top || sy >= sb.bottom) continue;
        const auto* srow = reinterpret_cast<const uint8_t*>(srcBits->baseAddr + int64_t(sy - sb.top) * srcBits->rowBytes);
        auto* drow = reinterpret_cast<uint8_t*>(dstBits->baseAddr + int64_t(y - dstBits->bounds.top) * dstBits->rowBytes);
        if (sd == dd && sameScale && srcCol[0] >= sb.left && srcCol[size_t(tw - 1)] < sb.right) {
            std::memmove(drow + int64_t(target.left - dstBits->bounds.left) * pixelBytes,
                         srow + int64_t(srcCol[0] - sb.left) * pixelBytes, size_t(tw) * size_t(pixelBytes));
            continue;
        }
        const uint8_t* from = srow;
        if (sameBuffer) {  // scaled copy within one buffer: read from a snapshot of the row
            rowCopy.assign(srow, srow + int64_t(sb.right - sb.left) * pixelBytes);
            from = rowCopy.data();
        }
        for (int32_t x = 0; x < tw; ++x) {
            const int32_t sx = srcCol[size_t(x)];
            if (sx < sb.left || sx >= sb.right) continue;
            const int32_t dx = target.left + x - dstBits->bounds.left;
            if (sd == dd)
                std::memcpy(drow + int64_t(dx) * pixelBytes, from + int64_t(sx - sb.left) * pixelBytes,
                            size_t(pixelBytes));
            else
                WritePixel64(drow, dx, dd, ReadPixel64(from, sx - sb.left, sd));
        }
    }
}

void SetRect(Rect* r, int16_t left, int16_t top, int16_t right, int16_t bottom) {
    if (r) *r = Rect{top, left, bottom, right};
}
void OffsetRect(Rect* r, int16_t dh, int16_t dv) {
    if (!r) return;
    r->left = int16_t(r->left + dh);
    r->right = int16_t(r->right + dh);
    r->top = int16_t(r->top + dv);
    r->bottom = int16_t(r->bottom + dv);
}
void InsetRect(Rect* r, int16_t dh, int16_t dv) {
    if (!r) return;
    r->left = int16_t(r->left + dh);
    r->right = int16_t(r->right - dh);
    r->top = int16_t(r->top + dv);
    r->bottom = int16_t(r->bottom - dv);
    if (EmptyRect(r)) *r = Rect{0, 0, 0, 0};
}
Boolean EmptyRect(const Rect* r) { return !r || r->left >= r->right || r->top >= r->bottom; }
Boolean EqualRect(const Rect* a, const Rect* b) {
    return a && b && a->top == b->top && a->left == b->left && a->bottom == b->bottom && a->right == b->right;
}
Boolean SectRect(const Rect* a, const Rect* b, Rect* dst) {
    Rect r{std::max(a->top, b->top), std::max(a->left, b->left), std::min(a->bottom, b->bottom),
           std::min(a->right, b->right)};
    if (EmptyRect(&r)) {
        if (dst) *dst = Rect{0, 0, 0, 0};
        return false;
    }
    if (dst) *dst = r;
    return true;
}
void UnionRect(const Rect* a, const Rect* b, Rect* dst) {
    if (!dst) return;
    *dst = Rect{std::min(a->top, b->top), std::min(a->left, b->left), std::max(a->bottom, b->bottom),
                std::max(a->right, b->right)};
}
Boolean PtInRect(Point pt, const Rect* r) {
    return r && pt.h >= r->left && pt.h < r->right && pt.v >= r->top && pt.v < r->bottom;
}
