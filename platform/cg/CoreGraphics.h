// Image references and drawing contexts, on Cairo.
//
// Our buffers hold pixels as bytes alpha, red, green, blue (premultiplied
// when drawn by a context); Cairo's ARGB32 is a native-endian word. The
// conversion happens inside this layer, where the two meet.
//
// Coordinates are Core Graphics': origin at the bottom-left of the bitmap, y
// up, positive angles counter-clockwise. Memory rows are top-down (row 0 is
// the top of the picture), as in every buffer of ours.
//
// Images are immutable and reference-counted: Create/Copy return a reference
// the caller owns; CGImageRelease drops it. Contexts, colour spaces likewise.
// Release functions accept nil. One thread at a time per context.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/qd/QuickDraw.h"

struct CGImage;
typedef CGImage* CGImageRef;
struct CGContext;
typedef CGContext* CGContextRef;
struct CGColorSpace;
typedef CGColorSpace* CGColorSpaceRef;

typedef float CGFloat;
struct CGPoint { CGFloat x, y; };
struct CGSize { CGFloat width, height; };
struct CGRect { CGPoint origin; CGSize size; };
inline CGRect CGRectMake(CGFloat x, CGFloat y, CGFloat w, CGFloat h) { return CGRect{{x, y}, {w, h}}; }

typedef uint32_t CGBitmapInfo;
enum : CGBitmapInfo { kCGImageAlphaPremultipliedFirst = 2 };

extern "C++" {

// --- Colour spaces ------------------------------------------------------------
CGColorSpaceRef CGColorSpaceCreateDeviceRGB();
CGColorSpaceRef CGColorSpaceRetain(CGColorSpaceRef space);
void CGColorSpaceRelease(CGColorSpaceRef space);

// --- Images ---------------------------------------------------------------------
CGImageRef CGImageRetain(CGImageRef image);  // returns image
void CGImageRelease(CGImageRef image);
// A new reference (a distinct object) to the same immutable pixels; nil for nil.
CGImageRef CGImageCreateCopy(CGImageRef image);
size_t CGImageGetWidth(CGImageRef image);   // 0 for nil
size_t CGImageGetHeight(CGImageRef image);  // 0 for nil
// How many references to this image object are held; for tests.
long CGImageGetRetainCount(CGImageRef image);

// --- Bitmap contexts -------------------------------------------------------------
// Draws on width x height pixels of 32 bits at data, rows bytesPerRow apart.
// Only 8 bits per component with kCGImageAlphaPremultipliedFirst is supported
// (bytes A, R, G, B); anything else, an empty size or too few row bytes gives
// nil. data nil: the context allocates and owns zeroed memory.
// Drawing goes to a private surface and reaches data at CGContextFlush and at
// the final CGContextRelease; data is read once, here. Nobody else may write
// data while the context lives. The bytes past 4 x width of each row are
// never touched.
CGContextRef CGBitmapContextCreate(void* data, size_t width, size_t height, size_t bitsPerComponent,
                                   size_t bytesPerRow, CGColorSpaceRef space, CGBitmapInfo bitmapInfo);
// A new image of the pixels as they are now (drawing so far included).
CGImageRef CGBitmapContextCreateImage(CGContextRef context);
void* CGBitmapContextGetData(CGContextRef context);
size_t CGBitmapContextGetWidth(CGContextRef context);
size_t CGBitmapContextGetHeight(CGContextRef context);

CGContextRef CGContextRetain(CGContextRef context);
void CGContextRelease(CGContextRef context);  // the last release flushes first
void CGContextFlush(CGContextRef context);   // writes the drawing into the memory

void CGContextSaveGState(CGContextRef context);
void CGContextRestoreGState(CGContextRef context);
void CGContextTranslateCTM(CGContextRef context, CGFloat tx, CGFloat ty);
void CGContextRotateCTM(CGContextRef context, CGFloat angle);  // radians, counter-clockwise
void CGContextScaleCTM(CGContextRef context, CGFloat sx, CGFloat sy);
// Sets rect (in user space, transformed by the CTM) to transparent.
void CGContextClearRect(CGContextRef context, CGRect rect);
// Draws image scaled into rect, upright in user space (its first row at the
// top of rect), over what is there. Smooth scaling, edges not faded.
void CGContextDrawImage(CGContextRef context, CGRect rect, CGImageRef image);

// --- Contexts on ports --------------------------------------------------------------
// A bitmap context on the pixels of port, origin at the bottom-left of its
// bounds. QDEndCGContext flushes the drawing into the port and detaches the
// context, which then draws nowhere; the caller still releases it. Both
// return paramErr for a nil port or context.
OSStatus QDBeginCGContext(CGrafPtr port, CGContextRef* context);
OSStatus QDEndCGContext(CGrafPtr port, CGContextRef* context);

}  // extern "C++"
