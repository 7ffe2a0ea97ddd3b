// Reaching a window's controls by signature and number in one call, and
// commands as four-character text.
#pragma once
#include <cstdint>

#include "platform/toolbox/Toolbox.h"

// The four characters of commandID, most significant byte first, nothing
// trimmed ("ok  " keeps its blanks).
void CommandID2Str(uint32_t commandID, Str255 outStr);

// nil when the window has no such control.
ControlRef SimpleGetControlByID(WindowRef theWindow, OSType theSig, int16_t theID);
Rect GetControlBox(ControlRef theControl);  // window coordinates
// The procedures below do nothing (or answer 0) for a missing control.
void SimpleSetControlText(WindowRef theWindow, OSType theSig, int16_t theID, ConstStr255Param theText);
void SimpleShowControl(WindowRef theWindow, OSType theSig, int16_t theID);
void SimpleHideControl(WindowRef theWindow, OSType theSig, int16_t theID);
int32_t SimpleGetControlValueByID(WindowRef theWindow, OSType theSig, int16_t theID);
void SimpleSetControlValueByID(WindowRef theWindow, OSType theSig, int16_t theID, int32_t theVal);

// For event handlers: the control a control event is about, and the command
// text of a command event.
ControlRef GetEventControl(EventRef theEvent);
void GetEventCommandStr(EventRef theEvent, Str255 outStr);
// Answers a hit-test event for a control that is one part: 1 inside its
// bounds, 0 outside.
void AnswerHitTestInBounds(EventRef theEvent);
