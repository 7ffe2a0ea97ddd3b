#include "support/commonprocs.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
AlertPresenterProc gAlertPresenter = nullptr;
void DefaultExitToShell() { std::exit(1); }
ExitToShellProc gExitToShell = DefaultExitToShell;

int16_t PresentAlert(int16_t kind, ConstStr255Param title, ConstStr255Param msg, ConstStr255Param okText,
                     ConstStr255Param cancelText) {
    const std::string t = PToCString(title), m = PToCString(msg);
    std::fprintf(stderr, "%s %s\n", t.c_str(), m.c_str());
    if (!gAlertPresenter) return 1;
    return gAlertPresenter(kind, t.c_str(), m.c_str(), okText ? PToCString(okText).c_str() : "",
                           cancelText ? PToCString(cancelText).c_str() : "");
}
}  // namespace

void SetAlertPresenter(AlertPresenterProc proc) { gAlertPresenter = proc; }
void SetExitToShellProc(ExitToShellProc proc) { gExitToShell = proc ? proc : DefaultExitToShell; }

void CToPStr(const char* src, Str255 dst) {
    const size_t n = src ? std::min<size_t>(std::strlen(src), 255) : 0;
    dst[0] = uint8_t(n);
    if (n) std::memcpy(dst + 1, src, n);
}
void PStrCopy(Str255 dst, ConstStr255Param src) { std::memmove(dst, src, size_t(src[0]) + 1); }
void PStrCat(Str255 dst, ConstStr255Param src) {
    const size_t n = std::min<size_t>(src[0], 255u - dst[0]);
    std::memmove(dst + 1 + dst[0], src + 1, n);
    dst[0] = uint8_t(dst[0] + n);
}
std::string PToCString(ConstStr255Param src) {
    return src ? std::string(reinterpret_cast<const char*>(src + 1), src[0]) : std::string();
}

void Terminate(ConstStr255Param title, ConstStr255Param msg) {
    PresentAlert(0, title, msg, nullptr, nullptr);
    gExitToShell();
    std::exit(1);  // an exit procedure that returns still must not come back here
}
void Terminate(const char* title, const char* msg) {
    Str255 t, m;
    CToPStr(title, t);
    CToPStr(msg, m);
    Terminate(t, m);
}

void Assert(const void* p, ConstStr255Param msg) {
    if (p) return;
    Str255 title, text;
    CToPStr("Assertion Failure", title);
    CToPStr("Assertion failed in: ", text);
    PStrCat(text, msg);
    Terminate(title, text);
}
void Assert(const void* p, const char* msg) {
    if (p) return;
    Str255 m;
    CToPStr(msg, m);
    Assert(p, m);
}

int16_t StandardWarning(ConstStr255Param title, ConstStr255Param msg, ConstStr255Param okText,
                        ConstStr255Param cancelText) {
    return PresentAlert(2, title, msg, okText, cancelText && cancelText[0] ? cancelText : nullptr);
}

void Notify(ConstStr255Param msg) {
    Str255 title, ok, none;
    CToPStr("Internal Notification:", title);
    CToPStr("ok", ok);
    none[0] = 0;
    StandardWarning(title, msg, ok, none);
}
void Notify(const char* msg) {
    Str255 m;
    CToPStr(msg, m);
    Notify(m);
}

Rect GetPortRect(CGrafPtr port) {
    Rect r{0, 0, 0, 0};
    GetPortBounds(port, &r);
    return r;
}

void LockGWorld(GWorldPtr gw) {
    if (gw) LockPixels(GetGWorldPixMap(gw));
}

GWorldPtr AllocateRectGWorld(const Rect& theRect) {
    Rect bounds = theRect;
    OffsetRect(&bounds, int16_t(-theRect.left), int16_t(-theRect.top));
    GWorldPtr gw = nullptr;
    if (NewGWorld(&gw, 32, &bounds, nullptr, nullptr, 0) != noErr) return nullptr;
    LockGWorld(gw);
    return gw;
}

void Source2Target(GWorldPtr theSource, GWorldPtr theTarget) {
    if (!theSource || !theTarget) return;
    const RGBColor white{65535, 65535, 65535}, black{0, 0, 0};
    RGBBackColor(&white);
    RGBForeColor(&black);
    const Rect from = GetPortRect(theSource), to = GetPortRect(theTarget);
    CopyBits(GetPortBitMapForCopyBits(theSource), GetPortBitMapForCopyBits(theTarget), &from, &to, srcCopy,
             nullptr);
}

void GetDims(const Rect& theRect, int32_t& wid, int32_t& hig) {
    wid = int32_t(theRect.right) - theRect.left;
    hig = int32_t(theRect.bottom) - theRect.top;
}

Rect KeepPropsWithFixedHorizontal(const Rect& inOriginal, const Rect& inNewSize) {
    int32_t w1, h1, w2, h2;
    GetDims(inOriginal, w1, h1);
    GetDims(inNewSize, w2, h2);
    if (w1 == 0) return inNewSize;
    const double prop = double(w1) / double(h1);
    const double newHeight = double(w2) / prop;
    Rect r = inNewSize;
    r.bottom = int16_t(r.top + int32_t(std::trunc(newHeight + 0.5)));
    return r;
}

Rect KeepPropsWithFixedVertical(const Rect& inOriginal, const Rect& inNewSize) {
    int32_t w1, h1, w2, h2;
    GetDims(inOriginal, w1, h1);
    GetDims(inNewSize, w2, h2);
    if (h1 == 0) return inNewSize;
    const double prop = double(w1) / double(h1);
    const double newWidth = double(h2) * prop;
    Rect r = inNewSize;
    r.right = int16_t(r.left + int32_t(std::trunc(newWidth + 0.5)));
    return r;
}

Rect CalcProportionalRectForFrame(const Rect& inRect, const Rect& inFrame) {
    int32_t iWid, iHig, wid, hig;
    GetDims(inRect, iWid, iHig);
    const Rect imageBounds{0, 0, int16_t(iHig), int16_t(iWid)};
    GetDims(inFrame, wid, hig);
    const Rect frame{0, 0, int16_t(hig), int16_t(wid)};
    if (wid > hig)
        return iWid > iHig ? KeepPropsWithFixedHorizontal(imageBounds, frame)
                           : KeepPropsWithFixedVertical(imageBounds, frame);
    return iHig > iWid ? KeepPropsWithFixedVertical(imageBounds, frame)
                       : KeepPropsWithFixedHorizontal(imageBounds, frame);
}

void CenterRectInRect(Rect& theRect, const Rect& inRect) {
    int32_t w, h, w2, h2;
    GetDims(inRect, w, h);
    GetDims(theRect, w2, h2);
    const int32_t outerH = inRect.left + w / 2, outerV = inRect.top + h / 2;
    const int32_t innerH = theRect.left + w2 / 2, innerV = theRect.top + h2 / 2;
    OffsetRect(&theRect, int16_t(outerH - innerH), int16_t(outerV - innerV));
}

void Num2Text(int32_t theNum, Str255 outText) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%d", int(theNum));
    CToPStr(buf, outText);
}

CFStringRef MakeCFString(ConstStr255Param theString) {
    return CFStringCreateWithPascalString(nullptr, theString, kCFStringEncodingMacRoman);
}

RGBColor SetRGBColor(int16_t r, int16_t g, int16_t b) {
    return RGBColor{uint16_t(r), uint16_t(g), uint16_t(b)};
}

int32_t PixRec2LongInt(PixRec p) { return int32_t(p.red) * 65536 + int32_t(p.green) * 256 + int32_t(p.blue); }

PixRec LongInt2PixRec(int32_t n) {
    const uint32_t u = uint32_t(n);
    return PixRec{0, uint8_t(u >> 16), uint8_t(u >> 8), uint8_t(u)};
}

int32_t RGBColor2LongInt(const RGBColor& c) {
    return PixRec2LongInt(PixRec{0, uint8_t(c.red / 256), uint8_t(c.green / 256), uint8_t(c.blue / 256)});
}

RGBColor LongInt2RGBColor(int32_t n) {
    const PixRec p = LongInt2PixRec(n);
    return RGBColor{uint16_t(p.red * 256), uint16_t(p.green * 256), uint16_t(p.blue * 256)};
}
