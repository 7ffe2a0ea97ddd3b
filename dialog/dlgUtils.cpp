#include "dialog/dlgUtils.h"

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

void DrawHandles(const Rect& theRect) {
    const RGBColor black{0, 0, 0}, white{65535, 65535, 65535};
    PenMode(srcOr);
    const Point corners[4] = {{theRect.top, theRect.left},
                              {theRect.top, theRect.right},
                              {theRect.bottom, theRect.left},
                              {theRect.bottom, theRect.right}};
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
    const Rect theFrame = Rel2Rect(ws.theConfig->startRel, destRect);
    FrameRect(&theFrame);
    if (ws.activeRel == 1) DrawHandles(theFrame);
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
    if (modifiers & optionKey) {  // grow or shrink about the centre
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
