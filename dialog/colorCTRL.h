// The colour box: a black-bordered swatch of its value (0x00RRGGBB) that
// opens the colour chooser when clicked.
#pragma once
#include "platform/toolbox/Toolbox.h"

void RegisterColorBox();
void UnregisterColorBox();
OSStatus ColorBoxControlHandler(EventHandlerCallRef inHandlerCallRef, EventRef theEvent, void* userData);
void ColorBoxDraw(const Rect& theRect, const RGBColor& theColor);  // into the current port
// True when the user chose a colour, which is then in outColor.
Boolean UseColorPicker(Point where, ConstStr255Param prompt, const RGBColor& inColor, RGBColor& outColor);
