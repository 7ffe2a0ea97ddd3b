// Geometry, drawing and dragging of the clip-rectangle editor. All points and
// rectangles are in window pixels, right and bottom exclusive.
#pragma once
#include <cstdint>

#include "pipeline/relRects.h"
#include "platform/toolbox/Toolbox.h"

constexpr int16_t cHandleSize = 6;

// Part codes of the editor.
enum : int16_t { kNoPart = 0, kTopLeft = 1, kTopRight = 2, kBottomLeft = 3, kBottomRight = 4, kBody = 5 };

int16_t IsHandleHit(const Rect& theRect, Point theLoc);
// The rectangle as the editor draws it: pulled inside the preview's border
// where it reaches the edge, so that it never hides under the border.
Rect ShownRect(const Rect& theRect, const Rect& destRect);
// Where the handle's ring is drawn: at the shown corner, moved in so that the
// whole ring lies inside the preview.
Point ShownHandleCentre(const Rect& shown, const Rect& destRect, int16_t handle);
// IsHandleHit, and where that finds no handle, the rings as drawn.
int16_t IsShownHandleHit(const Rect& theRect, const Rect& destRect, Point theLoc);
void DrawHandles(const Rect& theRect);
void DrawShownHandles(const Rect& shown, const Rect& destRect);
void DrawFrameContents(WindowRef theWindow, const Rect& destRect);
void DragRect(Rect& theRect, Point oldLoc, Point newLoc);
void DragCorner(int16_t theHandle, Rect& theRect, Point oldLoc, Point newLoc, uint32_t modifiers,
                const Rect& theFrame, const RelRect& origRel);
void KeepImageProps(Rect& theRect);
void CalcAndKeepImageProps();
