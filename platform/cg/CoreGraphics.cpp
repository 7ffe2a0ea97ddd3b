#include "CoreGraphics.h"

#include <cairo.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/qd/QuickDrawPrivate.h"

struct CGColorSpace {
    long refs = 1;
};

// Pixels live in a Cairo ARGB32 surface that nobody draws on after creation;
// copies share it through Cairo's own reference count.
struct CGImage {
    long refs = 1;
    cairo_surface_t* surface = nullptr;
    size_t width = 0, height = 0;
};

struct CGContext {
    long refs = 1;
    uint8_t* data = nullptr;  // A,R,G,B bytes, top row first
    bool ownsData = false;
    size_t width = 0, height = 0, rowBytes = 0;
    cairo_surface_t* surface = nullptr;  // Cairo cannot draw our byte order on little-endian
    cairo_t* cr = nullptr;
    bool dirty = false;     // drawn since the memory was last written
    bool attached = true;   // false once QDEndCGContext let go of the port
};

namespace {

// Bytes A,R,G,B <-> Cairo's native-endian 0xAARRGGBB words. Both sides are
// premultiplied, so this is a lossless shuffle.
void LoadSurface(CGContext* c) {
    cairo_surface_flush(c->surface);
    uint8_t* dst = cairo_image_surface_get_data(c->surface);
    const int stride = cairo_image_surface_get_stride(c->surface);
    for (size_t y = 0; y < c->height; ++y) {
        const uint8_t* p = c->data + y * c->rowBytes;
        auto* w = reinterpret_cast<uint32_t*>(dst + y * size_t(stride));
        for (size_t x = 0; x < c->width; ++x, p += 4)
            w[x] = uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
    }
    cairo_surface_mark_dirty(c->surface);
}

void StoreSurface(CGContext* c) {
    cairo_surface_flush(c->surface);
    const uint8_t* src = cairo_image_surface_get_data(c->surface);
    const int stride = cairo_image_surface_get_stride(c->surface);
    for (size_t y = 0; y < c->height; ++y) {
        uint8_t* p = c->data + y * c->rowBytes;
        const auto* w = reinterpret_cast<const uint32_t*>(src + y * size_t(stride));
        for (size_t x = 0; x < c->width; ++x, p += 4) {
            p[0] = uint8_t(w[x] >> 24);
            p[1] = uint8_t(w[x] >> 16);
            p[2] = uint8_t(w[x] >> 8);
            p[3] = uint8_t(w[x]);
        }
    }
}

bool Usable(CGContextRef c) { return c && cairo_status(c->cr) == CAIRO_STATUS_SUCCESS; }

// Cairo puts a context into a permanent error state on a singular or
// non-finite matrix; such transforms are ignored instead.
bool Finite(double a, double b = 0.0) { return std::isfinite(a) && std::isfinite(b); }

CGRect Standardized(CGRect r) {
    if (r.size.width < 0) {
        r.origin.x += r.size.width;
        r.size.width = -r.size.width;
    }
    if (r.size.height < 0) {
        r.origin.y += r.size.height;
        r.size.height = -r.size.height;
    }
    return r;
}

bool Drawable(const CGRect& r) {
    return Finite(r.origin.x, r.origin.y) && Finite(r.size.width, r.size.height) &&
           r.size.width > 0 && r.size.height > 0;
}

}  // namespace

// --- Colour spaces ------------------------------------------------------------

CGColorSpaceRef CGColorSpaceCreateDeviceRGB() { return new (std::nothrow) CGColorSpace; }

CGColorSpaceRef CGColorSpaceRetain(CGColorSpaceRef space) {
    if (space) ++space->refs;
    return space;
}

void CGColorSpaceRelease(CGColorSpaceRef space) {
    if (space && --space->refs == 0) delete space;
}

// --- Images ---------------------------------------------------------------------

CGImageRef CGImageRetain(CGImageRef image) {
    if (image) ++image->refs;
    return image;
}

void CGImageRelease(CGImageRef image) {
    if (!image || --image->refs > 0) return;
    cairo_surface_destroy(image->surface);
    delete image;
}

CGImageRef CGImageCreateCopy(CGImageRef image) {
    if (!image) return nullptr;
    auto* copy = new (std::nothrow) CGImage;
    if (!copy) return nullptr;
    copy->surface = cairo_surface_reference(image->surface);
    copy->width = image->width;
    copy->height = image->height;
    return copy;
}

size_t CGImageGetWidth(CGImageRef image) { return image ? image->width : 0; }
size_t CGImageGetHeight(CGImageRef image) { return image ? image->height : 0; }
long CGImageGetRetainCount(CGImageRef image) { return image ? image->refs : 0; }

// --- Bitmap contexts -------------------------------------------------------------

CGContextRef CGBitmapContextCreate(void* data, size_t width, size_t height, size_t bitsPerComponent,
                                   size_t bytesPerRow, CGColorSpaceRef, CGBitmapInfo bitmapInfo) {
    if (bitsPerComponent != 8 || bitmapInfo != kCGImageAlphaPremultipliedFirst) return nullptr;
    if (width == 0 || height == 0 || width > 32767 || height > 32767) return nullptr;
    if (data ? bytesPerRow < 4 * width : (bytesPerRow != 0 && bytesPerRow < 4 * width)) return nullptr;
    auto* c = new (std::nothrow) CGContext;
    if (!c) return nullptr;
    c->width = width;
    c->height = height;
    c->rowBytes = bytesPerRow ? bytesPerRow : 4 * width;
    if (data) {
        c->data = static_cast<uint8_t*>(data);
    } else {
        c->data = static_cast<uint8_t*>(std::calloc(c->height, c->rowBytes));
        c->ownsData = true;
    }
    c->surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, int(width), int(height));
    if (!c->data || cairo_surface_status(c->surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(c->surface);
        if (c->ownsData) std::free(c->data);
        delete c;
        return nullptr;
    }
    LoadSurface(c);
    c->cr = cairo_create(c->surface);
    // Core Graphics' y axis points up from the bottom row.
    cairo_translate(c->cr, 0.0, double(height));
    cairo_scale(c->cr, 1.0, -1.0);
    return c;
}

CGImageRef CGBitmapContextCreateImage(CGContextRef context) {
    if (!context) return nullptr;
    cairo_surface_flush(context->surface);
    const int w = int(context->width), h = int(context->height);
    cairo_surface_t* pixels = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    if (cairo_surface_status(pixels) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(pixels);
        return nullptr;
    }
    const uint8_t* src = cairo_image_surface_get_data(context->surface);
    uint8_t* dst = cairo_image_surface_get_data(pixels);
    const int srcStride = cairo_image_surface_get_stride(context->surface);
    const int dstStride = cairo_image_surface_get_stride(pixels);
    for (int y = 0; y < h; ++y)
        std::memcpy(dst + size_t(y) * dstStride, src + size_t(y) * srcStride, size_t(w) * 4);
    cairo_surface_mark_dirty(pixels);
    auto* image = new (std::nothrow) CGImage;
    if (!image) {
        cairo_surface_destroy(pixels);
        return nullptr;
    }
    image->surface = pixels;
    image->width = context->width;
    image->height = context->height;
    return image;
}

void* CGBitmapContextGetData(CGContextRef context) { return context ? context->data : nullptr; }
size_t CGBitmapContextGetWidth(CGContextRef context) { return context ? context->width : 0; }
size_t CGBitmapContextGetHeight(CGContextRef context) { return context ? context->height : 0; }

CGContextRef CGContextRetain(CGContextRef context) {
    if (context) ++context->refs;
    return context;
}

void CGContextRelease(CGContextRef context) {
    if (!context || --context->refs > 0) return;
    CGContextFlush(context);
    cairo_destroy(context->cr);
    cairo_surface_destroy(context->surface);
    if (context->ownsData) std::free(context->data);
    delete context;
}

void CGContextFlush(CGContextRef context) {
    if (!context || !context->dirty || !context->attached) return;
    StoreSurface(context);
    context->dirty = false;
}

void CGContextSaveGState(CGContextRef context) {
    if (Usable(context)) cairo_save(context->cr);
}

void CGContextRestoreGState(CGContextRef context) {
    if (Usable(context)) cairo_restore(context->cr);
}

void CGContextTranslateCTM(CGContextRef context, CGFloat tx, CGFloat ty) {
    if (Usable(context) && Finite(tx, ty)) cairo_translate(context->cr, tx, ty);
}

void CGContextRotateCTM(CGContextRef context, CGFloat angle) {
    // With y up, Cairo's "x toward y" is counter-clockwise, as Core Graphics wants.
    if (Usable(context) && Finite(angle)) cairo_rotate(context->cr, angle);
}

void CGContextScaleCTM(CGContextRef context, CGFloat sx, CGFloat sy) {
    if (Usable(context) && Finite(sx, sy) && sx != 0 && sy != 0) cairo_scale(context->cr, sx, sy);
}

void CGContextClearRect(CGContextRef context, CGRect rect) {
    rect = Standardized(rect);
    if (!Usable(context) || !Drawable(rect)) return;
    cairo_t* cr = context->cr;
    cairo_save(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
    cairo_rectangle(cr, rect.origin.x, rect.origin.y, rect.size.width, rect.size.height);
    cairo_fill(cr);
    cairo_restore(cr);
    context->dirty = true;
}

void CGContextDrawImage(CGContextRef context, CGRect rect, CGImageRef image) {
    rect = Standardized(rect);
    if (!Usable(context) || !image || !Drawable(rect)) return;
    cairo_t* cr = context->cr;
    cairo_save(cr);
    // Image row 0 is its top: map it to the top edge of rect (largest y).
    cairo_translate(cr, rect.origin.x, double(rect.origin.y) + rect.size.height);
    cairo_scale(cr, rect.size.width / double(image->width), -(rect.size.height / double(image->height)));
    cairo_pattern_t* pattern = cairo_pattern_create_for_surface(image->surface);
    cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
    cairo_pattern_set_filter(pattern, CAIRO_FILTER_GOOD);
    cairo_set_source(cr, pattern);
    cairo_rectangle(cr, 0.0, 0.0, double(image->width), double(image->height));
    cairo_fill(cr);
    cairo_pattern_destroy(pattern);
    cairo_restore(cr);
    context->dirty = true;
}

// --- Contexts on ports --------------------------------------------------------------

OSStatus QDBeginCGContext(CGrafPtr port, CGContextRef* context) {
    if (!context) return paramErr;
    *context = nullptr;
    if (!port) return paramErr;
    const PixMap& pm = port->pixMap;
    const int32_t width = int32_t(pm.bounds.right) - pm.bounds.left;
    const int32_t height = int32_t(pm.bounds.bottom) - pm.bounds.top;
    if (!pm.baseAddr || width <= 0 || height <= 0 || pm.pixelSize != 32) return paramErr;
    CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
    *context = CGBitmapContextCreate(pm.baseAddr, size_t(width), size_t(height), 8, size_t(pm.rowBytes),
                                     space, kCGImageAlphaPremultipliedFirst);
    CGColorSpaceRelease(space);
    return *context ? OSStatus(noErr) : OSStatus(memFullErr);
}

OSStatus QDEndCGContext(CGrafPtr port, CGContextRef* context) {
    if (!port || !context || !*context) return paramErr;
    CGContextFlush(*context);
    (*context)->attached = false;
    return noErr;
}
