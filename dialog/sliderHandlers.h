// The effect sliders, the clip slider and the live preview.
#pragma once
#include <cstdint>

#include "platform/toolbox/Toolbox.h"

constexpr int16_t cUseDisposeGWInSlider = 1;

void SetupSliders(WindowRef theWindow);
void Slider1Action(ControlRef theControl, ControlPartCode thePart);
void Slider2Action(ControlRef theControl, ControlPartCode thePart);
void Slider3Action(ControlRef theControl, ControlPartCode thePart);
void Slider4Action(ControlRef theControl, ControlPartCode thePart);
void Slider5Action(ControlRef theControl, ControlPartCode thePart);
void Slider6Action(ControlRef theControl, ControlPartCode thePart);
void ClipSliderAction(ControlRef theControl, ControlPartCode thePart);
// Fetches the frame at clip position theVal into the source buffer, then
// re-renders.
void AccessRenderAndBlit(int32_t theVal);
// Renders the preview from the source buffer and the record and makes the
// clip-rectangle editor redraw.
void RerenderAndBlit();
// "12/299": the clip position and the last position.
void ClipPositionText(int32_t position, Str255 outText);
