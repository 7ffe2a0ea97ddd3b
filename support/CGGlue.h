// Drawing glue between our off-screen buffers and rectangles (top-left origin,
// y down, 16-bit) and Core Graphics images and contexts (bottom-left origin,
// y up, float). Runs on the caller's thread; no state.
#pragma once
#include <cstdint>

#include "platform/cg/CoreGraphics.h"
#include "platform/qd/QuickDraw.h"

// theRect, given in the coordinates of a port whose port rectangle is
// theFrame, as a Core Graphics rectangle in that port's context.
CGRect QDRectToGCRect(const Rect& theRect, const Rect& theFrame);
// Draws theImage scaled into targetRect (its proportions not kept), turned by
// theRadiants counter-clockwise about the rectangle's centre; clearFirst
// clears the (turned) rectangle to transparent first. The context's state is
// left as it was. A nil context or image ends the process through Assert.
void DrawRotatedImageInCGRect(CGContextRef theContext, CGImageRef theImage, CGRect targetRect,
                              float theRadiants, Boolean clearFirst);
// The same on qdTargetRect of a port; the port's pixels are written when this
// returns. A nil image draws nothing.
void DrawCGImageInQDRect(CGrafPtr theGW, CGImageRef theImage, const Rect& qdTargetRect, float theRadiants,
                         Boolean clearFirst);
// A rectangle at the origin with theImage's proportions, sized from theFrame.
// A nil image gives an empty rectangle.
Rect CalcProportionalImageForFrame(CGImageRef theImage, const Rect& theFrame);
// A new image of theGW's pixels as they are now; the caller releases it.
// The buffer must stay in place during the call.
CGImageRef GWorld2CGImage(GWorldPtr theGW);
// The image's size in pixels; 0 x 0 for nil.
void GetImageDims(CGImageRef theImage, int32_t& wid, int32_t& hig);
