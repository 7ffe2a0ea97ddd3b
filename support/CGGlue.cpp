#include "support/CGGlue.h"

#include "support/commonprocs.h"

CGRect QDRectToGCRect(const Rect& theRect, const Rect& theFrame) {
    int32_t frameWid, frameHig, wid, hig;
    GetDims(theFrame, frameWid, frameHig);
    GetDims(theRect, wid, hig);
    const int32_t x = int32_t(theRect.left) + theFrame.left;
    // The rectangle's bottom edge, measured up from the frame's bottom edge.
    const int32_t y = int32_t(theFrame.top) + frameHig - theRect.bottom;
    return CGRectMake(CGFloat(x), CGFloat(y), CGFloat(wid), CGFloat(hig));
}

void DrawRotatedImageInCGRect(CGContextRef theContext, CGImageRef theImage, CGRect targetRect,
                              float theRadiants, Boolean clearFirst) {
    Assert(theContext, "NIL context for DrawRotatedImageInQDRect");
    Assert(theImage, "NIL Image for DrawRotatedImageInQDRect");
    CGContextSaveGState(theContext);
    const CGFloat wid = targetRect.size.width, hig = targetRect.size.height;
    // Turn about the rectangle's centre: draw around the origin, then move.
    const CGRect drawRect = CGRectMake(-wid / 2, -hig / 2, wid, hig);
    CGContextTranslateCTM(theContext, targetRect.origin.x + wid / 2, targetRect.origin.y + hig / 2);
    CGContextRotateCTM(theContext, theRadiants);
    if (clearFirst) CGContextClearRect(theContext, drawRect);
    CGContextDrawImage(theContext, drawRect, theImage);
    CGContextRestoreGState(theContext);
}

void DrawCGImageInQDRect(CGrafPtr theGW, CGImageRef theImage, const Rect& qdTargetRect, float theRadiants,
                         Boolean clearFirst) {
    const Rect theFrame = GetPortRect(theGW);
    const CGRect target = QDRectToGCRect(qdTargetRect, theFrame);
    if (!theImage) return;
    CGContextRef context = nullptr;
    QDBeginCGContext(theGW, &context);
    DrawRotatedImageInCGRect(context, theImage, target, theRadiants, clearFirst);
    CGContextFlush(context);
    QDEndCGContext(theGW, &context);
    CGContextRelease(context);
}

Rect CalcProportionalImageForFrame(CGImageRef theImage, const Rect& theFrame) {
    if (!theImage) return Rect{0, 0, 0, 0};
    int32_t wid, hig;
    GetImageDims(theImage, wid, hig);
    const Rect imageRect{0, 0, int16_t(hig), int16_t(wid)};
    return CalcProportionalRectForFrame(imageRect, theFrame);
}

CGImageRef GWorld2CGImage(GWorldPtr theGW) {
    PixMapHandle pm = GetGWorldPixMap(theGW);
    Ptr baseAddr = GetPixBaseAddr(pm);
    const int32_t rowBytes = GetPixRowBytes(pm);
    Rect bounds;
    GetPortBounds(theGW, &bounds);
    int32_t wid, hig;
    GetDims(bounds, wid, hig);
    CGColorSpaceRef space = CGColorSpaceCreateDeviceRGB();
    // A context of its own memory would snapshot zeroes: no buffer, no context.
    CGContextRef context =
        baseAddr && wid > 0 && hig > 0
            ? CGBitmapContextCreate(baseAddr, size_t(wid), size_t(hig), 8, size_t(rowBytes), space,
                                    kCGImageAlphaPremultipliedFirst)
            : nullptr;
    Assert(context, "Failed to create s CGContext on GWorld2CGImage");
    CGColorSpaceRelease(space);
    CGImageRef image = CGBitmapContextCreateImage(context);
    CGContextRelease(context);
    return image;
}

void GetImageDims(CGImageRef theImage, int32_t& wid, int32_t& hig) {
    wid = int32_t(CGImageGetWidth(theImage));
    hig = int32_t(CGImageGetHeight(theImage));
}
