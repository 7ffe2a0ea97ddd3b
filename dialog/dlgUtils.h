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
void DrawHandles(const Rect& theRect);
void DrawFrameContents(WindowRef theWindow, const Rect& destRect);
void DragRect(Rect& theRect, Point oldLoc, Point newLoc);
void DragCorner(int16_t theHandle, Rect& theRect, Point oldLoc, Point newLoc, uint32_t modifiers,
                const Rect& theFrame, const RelRect& origRel);
void KeepImageProps(Rect& theRect);
void CalcAndKeepImageProps();
