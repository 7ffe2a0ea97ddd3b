#include "dialog/dlgUtils.h"

#include <algorithm>

#include "pipeline/pluginData.h"
#include "support/CarbonMacros.h"
#include "support/commonprocs.h"

namespace {

Rect HandleSquare(int16_t h, int16_t v) {
    Rect r;
    SetRect(&r, h, v, h, v);
    // Grown by hand: InsetRect would treat the empty start as nothing.
    r.left = int16_t(r.left - cHandleSize);
    r.top = int16_t(r.top - cHandleSize);
    r.right = int16_t(r.right + cHandleSize);
    r.bottom = int16_t(r.bottom + cHandleSize);
    return r;
}

void Ring(Rect square, const RGBColor& color) {
    RGBForeColor(&color);
    FrameOval(&square);
}

}  // namespace

int16_t IsHandleHit(const Rect& theRect, Point theLoc) {
    const Rect corners[4] = {HandleSquare(theRect.left, theRect.top), HandleSquare(theRect.right, theRect.top),
                             HandleSquare(theRect.left, theRect.bottom), HandleSquare(theRect.right, theRect.bottom)};
    for (int16_t i = 0; i < 4; ++i)
        if (PtInRect(theLoc, &corners[i])) return int16_t(i + 1);
    if (PtInRect(theLoc, &theRect)) return kBody;
    return kNoPart;
}

namespace {

void DrawHandlesAt(const Point (&corners)[4]) {
    const RGBColor black{0, 0, 0}, white{65535, 65535, 65535};
    PenMode(srcOr);
    for (const Point& p : corners) {
        Rect square = HandleSquare(p.h, p.v);
        Ring(square, black);
        InsetRect(&square, 1, 1);
        Ring(square, white);
        InsetRect(&square, 1, 1);
        Ring(square, black);
    }
    PenNormal();
}

}  // namespace

void DrawHandles(const Rect& theRect) {
    const Point corners[4] = {{theRect.top, theRect.left},
                              {theRect.top, theRect.right},
                              {theRect.bottom, theRect.left},
                              {theRect.bottom, theRect.right}};
    DrawHandlesAt(corners);
}

void DrawShownHandles(const Rect& shown, const Rect& destRect) {
    const Point corners[4] = {ShownHandleCentre(shown, destRect, kTopLeft), ShownHandleCentre(shown, destRect, kTopRight),
                              ShownHandleCentre(shown, destRect, kBottomLeft),
                              ShownHandleCentre(shown, destRect, kBottomRight)};
    DrawHandlesAt(corners);
}

Rect ShownRect(const Rect& theRect, const Rect& destRect) {
    const Rect inside{int16_t(destRect.top + 1), int16_t(destRect.left + 1), int16_t(destRect.bottom - 1),
                      int16_t(destRect.right - 1)};
    Rect shown;
    if (!SectRect(&theRect, &inside, &shown)) {
        // Nothing of it inside: left as it is, so a flat rectangle still shows
        // as a line and one moved out of the frame is cut off.
        if (theRect.right < inside.left || theRect.left > inside.right || theRect.bottom < inside.top ||
            theRect.top > inside.bottom)
            return theRect;
        shown = theRect;
        shown.left = std::max(shown.left, inside.left);
        shown.right = std::min(shown.right, inside.right);
        shown.top = std::max(shown.top, inside.top);
        shown.bottom = std::min(shown.bottom, inside.bottom);
    }
    return shown;
}

Point ShownHandleCentre(const Rect& shown, const Rect& destRect, int16_t handle) {
    const int16_t h = (handle == kTopLeft || handle == kBottomLeft) ? shown.left : shown.right;
    const int16_t v = (handle == kTopLeft || handle == kTopRight) ? shown.top : shown.bottom;
    // Whole rings: a handle at the edge would otherwise show as a quarter.
    const int16_t reach = int16_t(cHandleSize + 1);
    auto pull = [reach](int16_t x, int16_t lo, int16_t hi) -> int16_t {
        if (hi - lo < 2 * reach) return x;
        return std::max(int16_t(lo + reach), std::min(int16_t(hi - reach), x));
    };
    return Point{pull(v, destRect.top, destRect.bottom), pull(h, destRect.left, destRect.right)};
}

int16_t IsShownHandleHit(const Rect& theRect, const Rect& destRect, Point theLoc) {
    const int16_t part = IsHandleHit(theRect, theLoc);
    if (part != kNoPart && part != kBody) return part;
    const Rect shown = ShownRect(theRect, destRect);
    for (int16_t handle = kTopLeft; handle <= kBottomRight; ++handle) {
        const Point c = ShownHandleCentre(shown, destRect, handle);
        const Rect square = HandleSquare(c.h, c.v);
        if (PtInRect(theLoc, &square)) return handle;
    }
    return part;
}

void DrawFrameContents(WindowRef theWindow, const Rect& destRect) {
    PluginWorkSpace& ws = gConfigWorkspace;
    const Rect sourceRect = GetPortRect(ws.theFXClip);
    const RGBColor white{65535, 65535, 65535}, black{0, 0, 0};
    RGBBackColor(&white);
    RGBForeColor(&black);
    CGrafPtr windowPort = GetWindowPort(theWindow);
    CopyBits(GetPortBitMapForCopyBits(ws.theFXClip), GetPortBitMapForCopyBits(windowPort), &sourceRect, &destRect,
             srcCopy, nullptr);
    const Rect thePortRect = GetPortRect(windowPort);
    ClipRect(&destRect);
    RGBForeColor(&ws.theConfig->frameStartColor);
    // Drawn just inside the black border, so that a rectangle at the edge of
    // the frame (the whole frame, say) is not hidden under it.
    const Rect theFrame = ShownRect(Rel2Rect(ws.theConfig->startRel, destRect), destRect);
    FrameRect(&theFrame);
    // A dark line inside the outline, so that it shows on a picture of its
    // own colour too.
    Rect shade = theFrame;
    InsetRect(&shade, 1, 1);
    RGBForeColor(&black);
    if (!EmptyRect(&shade)) FrameRect(&shade);
    if (ws.activeRel == 1) DrawShownHandles(theFrame, destRect);
    ClipRect(&thePortRect);
    RGBForeColor(&black);
    FrameRect(&destRect);
}

void DragRect(Rect& theRect, Point oldLoc, Point newLoc) {
    OffsetRect(&theRect, int16_t(newLoc.h - oldLoc.h), int16_t(newLoc.v - oldLoc.v));
}

void DragCorner(int16_t theHandle, Rect& theRect, Point oldLoc, Point newLoc, uint32_t modifiers,
                const Rect& theFrame, const RelRect& origRel) {
    Point fixPoint, varPoint;
    switch (theHandle) {
        case kTopLeft:
            fixPoint = Point{theRect.bottom, theRect.right};
            varPoint = Point{theRect.top, theRect.left};
            break;
        case kTopRight:
            fixPoint = Point{theRect.bottom, theRect.left};
            varPoint = Point{theRect.top, theRect.right};
            break;
        case kBottomLeft:
            fixPoint = Point{theRect.top, theRect.right};
            varPoint = Point{theRect.bottom, theRect.left};
            break;
        case kBottomRight:
            fixPoint = Point{theRect.top, theRect.left};
            varPoint = Point{theRect.bottom, theRect.right};
            break;
        default:
            return;
    }
    const int16_t dx = int16_t(newLoc.h - oldLoc.h);
    const int16_t dy = int16_t(newLoc.v - oldLoc.v);
    varPoint.h = int16_t(varPoint.h + dx);
    varPoint.v = int16_t(varPoint.v + dy);
    // Ctrl too: window managers commonly take Alt-drag for moving windows.
    if (modifiers & (optionKey | controlKey)) {  // grow or shrink about the centre
        fixPoint.h = int16_t(fixPoint.h - dx);
        fixPoint.v = int16_t(fixPoint.v - dy);
    }
    Pt2Rect(fixPoint, varPoint, &theRect);
    if (modifiers & shiftKey) {
        const Rect propRect = Rel2Rect(origRel, theFrame);
        int32_t wid, hig;
        GetDims(propRect, wid, hig);
        theRect = wid > hig ? KeepPropsWithFixedHorizontal(propRect, theRect)
                            : KeepPropsWithFixedVertical(propRect, theRect);
    }
    KeepImageProps(theRect);
}

void KeepImageProps(Rect& theRect) {
    if (!gConfigWorkspace.theConfig->keepProps) return;
    int32_t wid, hig;
    GetDims(GetControlBox(gConfigWorkspace.theFrameCtrl), wid, hig);
    Rect propRect;
    SetRect(&propRect, 0, 0, int16_t(wid), int16_t(hig));
    theRect = wid > hig ? KeepPropsWithFixedHorizontal(propRect, theRect)
                        : KeepPropsWithFixedVertical(propRect, theRect);
}

void CalcAndKeepImageProps() {
    const RelRect theRel = GetCurrentRel();
    const Rect theFrame = GetControlBox(gConfigWorkspace.theFrameCtrl);
    Rect theRect = Rel2Rect(theRel, theFrame);
    KeepImageProps(theRect);
    PutCurrentRel(Rect2Rel(theRect, theFrame));
}
