// The picture box: an image fitted into the box on white with a black
// border, inverted while pressed.
#pragma once
#include "platform/cg/CoreGraphics.h"
#include "platform/toolbox/Toolbox.h"

void RegisterPictureControl();
void UnregisterPictureControl();
OSStatus PictureControlHandler(EventHandlerCallRef inHandlerCallRef, EventRef theEvent, void* userData);
// A control value cannot hold a pointer here, so boxes show images through
// tokens: the box's value becomes a token for theImage (0 for none). The
// caller keeps the image alive while the box may draw it.
void SetPictureBoxImage(ControlRef theControl, CGImageRef theImage);
