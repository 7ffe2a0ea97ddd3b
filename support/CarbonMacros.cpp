#include "support/CarbonMacros.h"

void CommandID2Str(uint32_t commandID, Str255 outStr) {
    outStr[0] = 4;
    outStr[1] = uint8_t(commandID >> 24);
    outStr[2] = uint8_t(commandID >> 16);
    outStr[3] = uint8_t(commandID >> 8);
    outStr[4] = uint8_t(commandID);
}

ControlRef SimpleGetControlByID(WindowRef theWindow, OSType theSig, int16_t theID) {
    const ControlID cid{theSig, int32_t(theID)};
    ControlRef theControl = nullptr;
    GetControlByID(theWindow, &cid, &theControl);
    return theControl;
}

Rect GetControlBox(ControlRef theControl) {
    Rect r{0, 0, 0, 0};
    GetControlBounds(theControl, &r);
    return r;
}

void SimpleSetControlText(WindowRef theWindow, OSType theSig, int16_t theID, ConstStr255Param theText) {
    ControlRef c = SimpleGetControlByID(theWindow, theSig, theID);
    if (!c) return;
    SetControlData(c, 0, kControlStaticTextTextTag, theText[0], theText + 1);
    Draw1Control(c);
}

void SimpleShowControl(WindowRef theWindow, OSType theSig, int16_t theID) {
    if (ControlRef c = SimpleGetControlByID(theWindow, theSig, theID)) ShowControl(c);
}

void SimpleHideControl(WindowRef theWindow, OSType theSig, int16_t theID) {
    if (ControlRef c = SimpleGetControlByID(theWindow, theSig, theID)) HideControl(c);
}

int32_t SimpleGetControlValueByID(WindowRef theWindow, OSType theSig, int16_t theID) {
    ControlRef c = SimpleGetControlByID(theWindow, theSig, theID);
    return c ? GetControl32BitValue(c) : 0;
}

void SimpleSetControlValueByID(WindowRef theWindow, OSType theSig, int16_t theID, int32_t theVal) {
    if (ControlRef c = SimpleGetControlByID(theWindow, theSig, theID)) SetControl32BitValue(c, theVal);
}

ControlRef GetEventControl(EventRef theEvent) {
    ControlRef c = nullptr;
    GetEventParameter(theEvent, kEventParamDirectObject, typeControlRef, nullptr, sizeof c, nullptr, &c);
    return c;
}

void GetEventCommandStr(EventRef theEvent, Str255 outStr) {
    HICommand theCommand{};
    GetEventParameter(theEvent, kEventParamDirectObject, typeHICommand, nullptr, sizeof theCommand, nullptr,
                      &theCommand);
    CommandID2Str(theCommand.commandID, outStr);
}

void AnswerHitTestInBounds(EventRef theEvent) {
    Point where{0, 0};
    GetEventParameter(theEvent, kEventParamMouseLocation, typeQDPoint, nullptr, sizeof where, nullptr, &where);
    Rect bounds;
    GetControlBounds(GetEventControl(theEvent), &bounds);
    const ControlPartCode part = PtInRect(where, &bounds) ? 1 : 0;
    SetEventParameter(theEvent, kEventParamControlPart, typeControlPartCode, sizeof part, &part);
}
