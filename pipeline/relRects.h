// Rectangles as fractions of the frame, so one setting fits every frame size.
#pragma once
#include "platform/qd/MacTypes.h"

// Fractions of the frame's width (left, right) and height (top, bottom); 0 is
// the frame's first edge, 1 its far edge. Nothing clamps them.
struct RelRect {
    double left, right, top, bottom;
};

void InitRelRect(RelRect& theRel);  // the whole frame
// Pixel rectangle inside theFrame; products truncated toward zero.
Rect Rel2Rect(const RelRect& theRel, const Rect& theFrame);
// theFrame must not be empty.
RelRect Rect2Rel(const Rect& theRect, const Rect& theFrame);
