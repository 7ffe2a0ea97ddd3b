// Frames, fills and ovals into the current port.
#include <cmath>
#include <vector>

#include "QuickDraw.h"
#include "QuickDrawPrivate.h"

namespace {

CGrafPtr Current() {
    CGrafPtr port = nullptr;
    GetPort(&port);
    return port;
}

// Where drawing may land: the port's bounds within its clip rectangle.
bool Drawable(CGrafPtr port, const Rect& r, Rect* out) {
    if (port->pixMap.pixelSize != 32) return false;  // the pens write 32-bit pixels
    Rect area;
    if (!SectRect(&port->pixMap.bounds, &port->clipRect, &area)) return false;
    return SectRect(&r, &area, out);
}

uint8_t* PixelAt(CGrafPtr port, int h, int v) {
    const PixMap& pm = port->pixMap;
    return reinterpret_cast<uint8_t*>(pm.baseAddr) + int64_t(v - pm.bounds.top) * pm.rowBytes +
           4 * int64_t(h - pm.bounds.left);
}

void Put(CGrafPtr port, int h, int v, const RGBColor& c) {
    uint8_t* p = PixelAt(port, h, v);
    p[0] = 255;
    p[1] = uint8_t(c.red >> 8);
    p[2] = uint8_t(c.green >> 8);
    p[3] = uint8_t(c.blue >> 8);
}

void Invert(CGrafPtr port, int h, int v) {
    uint8_t* p = PixelAt(port, h, v);
    p[1] = uint8_t(~p[1]);
    p[2] = uint8_t(~p[2]);
    p[3] = uint8_t(~p[3]);
}

// One pixel drawn with the pen, if the clip lets it through.
void PenPixel(CGrafPtr port, const Rect& clip, int h, int v) {
    if (h < clip.left || h >= clip.right || v < clip.top || v >= clip.bottom) return;
    switch (port->penMode) {
        case srcXor:
        case patXor: Invert(port, h, v); break;
        case srcBic: Put(port, h, v, port->backColor); break;
        default: Put(port, h, v, port->foreColor); break;
    }
}

void Fill(const Rect* r, int how) {  // 0 fore colour, 1 back colour, 2 invert
    CGrafPtr port = Current();
    Rect area;
    if (!port || !r || !Drawable(port, *r, &area)) return;
    for (int v = area.top; v < area.bottom; ++v)
        for (int h = area.left; h < area.right; ++h) {
            if (how == 2)
                Invert(port, h, v);
            else
                Put(port, h, v, how == 0 ? port->foreColor : port->backColor);
        }
}

}  // namespace

void ClipRect(const Rect* r) {
    if (CGrafPtr port = Current(); port && r) port->clipRect = *r;
}

void GetClipRect(Rect* r) {
    CGrafPtr port = Current();
    if (r) *r = port ? port->clipRect : Rect{0, 0, 0, 0};
}

void PenMode(int16_t mode) {
    if (CGrafPtr port = Current()) port->penMode = mode;
}

void PenNormal() {
    if (CGrafPtr port = Current()) port->penMode = patCopy;
}

void FrameRect(const Rect* r) {
    CGrafPtr port = Current();
    Rect clip;
    if (!port || !r || EmptyRect(r) || !Drawable(port, Rect{-32768, -32768, 32767, 32767}, &clip)) return;
    for (int h = r->left; h < r->right; ++h) {
        PenPixel(port, clip, h, r->top);
        if (r->bottom - 1 != r->top) PenPixel(port, clip, h, r->bottom - 1);
    }
    for (int v = r->top + 1; v < r->bottom - 1; ++v) {
        PenPixel(port, clip, r->left, v);
        if (r->right - 1 != r->left) PenPixel(port, clip, r->right - 1, v);
    }
}

void PaintRect(const Rect* r) { Fill(r, 0); }
void EraseRect(const Rect* r) { Fill(r, 1); }
void InvertRect(const Rect* r) { Fill(r, 2); }

// A pixel is inside the oval when its centre is; the outline is the inside
// pixels with a neighbour (left, right, up, down) outside.
void FrameOval(const Rect* r) {
    CGrafPtr port = Current();
    Rect clip;
    if (!port || !r || EmptyRect(r) || !Drawable(port, Rect{-32768, -32768, 32767, 32767}, &clip)) return;
    const int w = r->right - r->left, hgt = r->bottom - r->top;
    const double rx = w / 2.0, ry = hgt / 2.0;
    std::vector<uint8_t> inside(size_t(w) * size_t(hgt), 0);
    for (int y = 0; y < hgt; ++y) {
        const double dy = (y + 0.5 - ry) / ry;
        if (dy * dy > 1.0) continue;
        const double dx = rx * std::sqrt(1.0 - dy * dy);
        for (int x = 0; x < w; ++x)
            if (std::fabs(x + 0.5 - rx) <= dx) inside[size_t(y) * w + x] = 1;
    }
    auto in = [&](int x, int y) { return x >= 0 && y >= 0 && x < w && y < hgt && inside[size_t(y) * w + x]; };
    for (int y = 0; y < hgt; ++y)
        for (int x = 0; x < w; ++x)
            if (in(x, y) && (!in(x - 1, y) || !in(x + 1, y) || !in(x, y - 1) || !in(x, y + 1)))
                PenPixel(port, clip, r->left + x, r->top + y);
}

void Pt2Rect(Point a, Point b, Rect* r) {
    if (!r) return;
    r->left = a.h < b.h ? a.h : b.h;
    r->right = a.h < b.h ? b.h : a.h;
    r->top = a.v < b.v ? a.v : b.v;
    r->bottom = a.v < b.v ? b.v : a.v;
}
