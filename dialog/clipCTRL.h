// The clip-rectangle editor control: the preview with the effect rectangle
// and its corner handles, dragged live. Its drawing and geometry are in
// dlgUtils.h.
#pragma once
#include "platform/toolbox/Toolbox.h"

void RegisterClipCtrl();
void UnregisterClipCtrl();
OSStatus ClipCtrlControlHandler(EventHandlerCallRef inHandlerCallRef, EventRef theEvent, void* userData);
