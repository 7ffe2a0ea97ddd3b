// Image references and drawing contexts, on Cairo.
//
// Our buffers hold pixels as bytes alpha, red, green, blue (premultiplied
// when drawn by a context); Cairo's ARGB32 is a native-endian word. The
// conversion happens inside this layer, where the two meet.
//
// Images are immutable and reference-counted: Create/Copy return a reference
// the caller owns; CGImageRelease drops it. Contexts draw straight into the
// memory they were created on. One thread at a time per context.
#pragma once
#include <cstddef>
#include <cstdint>

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
