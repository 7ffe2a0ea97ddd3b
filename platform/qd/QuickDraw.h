// 32- and 64-bit off-screen buffers, graphics ports and the drawing the
// plug-in uses.
//
// 32-bit pixels are 4 bytes in memory order alpha, red, green, blue; 64-bit
// pixels are four native-endian 16-bit channels in the same order. Row bytes
// are always larger than the pixels of a row (padding of at least 16 bytes)
// so that code which steps rows by width instead of row bytes shows up in
// tests.
// Bounds start at (0, 0); right and bottom are exclusive.
//
// Threading: ports may be used from any thread, but the current port and
// device are process-wide, as on the platform this mirrors; only one thread
// may draw through them at a time.
#pragma once
#include "MacTypes.h"

struct GrafPort;           // a port: pixels plus drawing state
typedef GrafPort* CGrafPtr;
typedef GrafPort* GrafPtr;
typedef GrafPort* GWorldPtr;
struct PixMap;             // the pixel storage of a port
typedef PixMap* PixMapHandle;
typedef PixMap BitMap;     // CopyBits takes the pixel map of a port
struct GDevice;
typedef GDevice* GDHandle;
typedef uint32_t GWorldFlags;
struct Region;
typedef Region** RgnHandle;

enum : GWorldFlags { pixelsLocked = 0x80 };
enum : int16_t { srcCopy = 0, srcOr = 1, srcXor = 2, srcBic = 3, patCopy = 8, patXor = 10 };

extern "C++" {

// --- Off-screen buffers -----------------------------------------------------
// depth must be 32 or 64 (0 means 32). The buffer's bounds are boundsRect
// moved to the origin. Pixels start zeroed. Returns memFullErr when memory runs out and
// paramErr for an empty or negative size; *offscreen is nil then.
OSErr NewGWorld(GWorldPtr* offscreen, int16_t depth, const Rect* boundsRect,
                void* cTable, GDHandle device, GWorldFlags flags);
// Frees the buffer and everything it owns. nil does nothing.
void DisposeGWorld(GWorldPtr offscreen);

PixMapHandle GetGWorldPixMap(GWorldPtr offscreen);
PixMapHandle GetPortPixMap(CGrafPtr port);
const BitMap* GetPortBitMapForCopyBits(CGrafPtr port);
GWorldFlags GetPixelsState(PixMapHandle pm);
void SetPixelsState(PixMapHandle pm, GWorldFlags state);
Boolean LockPixels(PixMapHandle pm);
void UnlockPixels(PixMapHandle pm);
Ptr GetPixBaseAddr(PixMapHandle pm);
int32_t GetPixRowBytes(PixMapHandle pm);
int16_t GetPixDepth(PixMapHandle pm);  // 32 or 64; 0 for nil
Rect* GetPixBounds(PixMapHandle pm, Rect* bounds);
Rect* GetPortBounds(CGrafPtr port, Rect* rect);

// A 32-bit port over pixels that someone else owns (a window's backing
// store, a host frame). The memory must outlive the port and hold bounds' height rows
// of rowBytes. Dispose with DisposeGWorld; the pixels are not freed.
OSErr NewGWorldFromPtr(GWorldPtr* offscreen, const Rect* boundsRect, Ptr pixels,
                       int32_t rowBytes);

// --- Current port and device ------------------------------------------------
void GetGWorld(CGrafPtr* port, GDHandle* gdh);
void SetGWorld(CGrafPtr port, GDHandle gdh);  // gdh nil keeps the main device
void GetPort(GrafPtr* port);
void SetPort(GrafPtr port);
GDHandle GetMainDevice();

// Colours of the current port.
void RGBForeColor(const RGBColor* color);
void RGBBackColor(const RGBColor* color);
void GetForeColor(RGBColor* color);
void GetBackColor(RGBColor* color);

// Copies srcRect of src onto dstRect of dst, scaled by nearest neighbour when
// the sizes differ; whole pixels (alpha included) are copied. Between depths
// each channel is converted: 64 to 32 keeps the high byte, 32 to 64 takes
// v * 257, so that 0 and 255 stay black and white. Only copy
// mode is supported; other modes copy too. Rectangles are clipped to both
// bounds and to the clip rectangle of the port whose pixel map is dst.
// Overlapping copies within one buffer are safe.
void CopyBits(const BitMap* srcBits, const BitMap* dstBits, const Rect* srcRect,
              const Rect* dstRect, int16_t mode, RgnHandle maskRgn);

// --- Rectangle helpers --------------------------------------------------------
void SetRect(Rect* r, int16_t left, int16_t top, int16_t right, int16_t bottom);
void OffsetRect(Rect* r, int16_t dh, int16_t dv);
void InsetRect(Rect* r, int16_t dh, int16_t dv);
Boolean EmptyRect(const Rect* r);
Boolean EqualRect(const Rect* a, const Rect* b);
Boolean SectRect(const Rect* a, const Rect* b, Rect* dst);  // false and empty dst when disjoint
void UnionRect(const Rect* a, const Rect* b, Rect* dst);
Boolean PtInRect(Point pt, const Rect* r);

}  // extern "C++"

// --- Drawing into the current port ---------------------------------------------------
// Shapes are clipped to the port's bounds and clip rectangle; nothing is
// drawn into a 64-bit port. Colours are the
// port's, taken at 8 bits (the high byte of each component); drawn pixels
// get alpha 255. The pen is one pixel wide and solid, so the OR modes draw
// the foreground colour as copy does, the XOR modes invert the destination's
// colour and srcBic draws the background colour.
extern "C++" {
void ClipRect(const Rect* r);        // the clip rectangle of the current port
void GetClipRect(Rect* r);
void PenMode(int16_t mode);
void PenNormal();                    // copy mode
void FrameRect(const Rect* r);       // one-pixel outline on the inside of r
void PaintRect(const Rect* r);       // filled with the foreground colour
void EraseRect(const Rect* r);       // filled with the background colour
void InvertRect(const Rect* r);      // red, green and blue inverted; alpha kept
void FrameOval(const Rect* r);       // one-pixel outline of the oval inscribed in r
void Pt2Rect(Point a, Point b, Rect* r);  // smallest rectangle with a and b as corners
}  // extern "C++"
