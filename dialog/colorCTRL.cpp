#include "dialog/colorCTRL.h"

#include <cstring>

#include "support/CarbonMacros.h"
#include "support/commonprocs.h"

namespace {
ToolboxObjectClassRef lgColorBoxClassRef = nullptr;
EventHandlerUPP lgMyHandlerUPP = nullptr;

RGBColor ValueToColor(int32_t v) {
    const PixRec p = LongInt2PixRec(v);
    return SetRGBColor(int16_t(p.red * 256), int16_t(p.green * 256), int16_t(p.blue * 256));
}

int32_t ColorToValue(const RGBColor& c) {
    PixRec p{0, uint8_t(c.red >> 8), uint8_t(c.green >> 8), uint8_t(c.blue >> 8)};
    return PixRec2LongInt(p);
}

}  // namespace

void RegisterColorBox() {
    static const EventTypeSpec kEvents[] = {{kEventClassControl, kEventControlDraw},
                                            {kEventClassControl, kEventControlHitTest},
                                            {kEventClassControl, kEventControlHit}};
    lgMyHandlerUPP = NewEventHandlerUPP(ColorBoxControlHandler);
    CFStringRef id = CFStringCreateWithCString(nullptr, "com.tralvex.vidplug.color", kCFStringEncodingUTF8);
    RegisterToolboxObjectClass(id, nullptr, 3, kEvents, lgMyHandlerUPP, nullptr, &lgColorBoxClassRef);
    CFRelease(id);
}

void UnregisterColorBox() {
    UnregisterToolboxObjectClass(lgColorBoxClassRef);
    lgColorBoxClassRef = nullptr;
    DisposeEventHandlerUPP(lgMyHandlerUPP);
    lgMyHandlerUPP = nullptr;
}

OSStatus ColorBoxControlHandler(EventHandlerCallRef, EventRef theEvent, void*) {
    OSStatus status = eventNotHandledErr;
    switch (GetEventKind(theEvent)) {
        case kEventControlHitTest:
            AnswerHitTestInBounds(theEvent);
            status = noErr;
            break;
        case kEventControlDraw: {
            CGrafPtr savedPort = nullptr;
            GDHandle savedDevice = nullptr;
            GetGWorld(&savedPort, &savedDevice);
            ControlRef c = GetEventControl(theEvent);
            SetPortWindowPort(GetControlOwner(c));
            Rect bounds;
            GetControlBounds(c, &bounds);
            const uint8_t hilite = GetControlHilite(c);
            if (hilite == kControlInactivePart || hilite == kControlDisabledPart)
                EraseRect(&bounds);
            else
                ColorBoxDraw(bounds, ValueToColor(GetControl32BitValue(c)));
            SetGWorld(savedPort, savedDevice);
            status = noErr;
            break;
        }
        case kEventControlHit: {
            ControlRef c = GetEventControl(theEvent);
            RGBColor theColor = ValueToColor(GetControl32BitValue(c));
            Str255 prompt;
            CToPStr("Please choose color:", prompt);
            if (UseColorPicker(Point{0, 0}, prompt, theColor, theColor)) SetControl32BitValue(c, ColorToValue(theColor));
            // Not handled, so that the click goes on to the dialog as the box's command.
            break;
        }
        default:
            break;
    }
    return status;
}

void ColorBoxDraw(const Rect& theRect, const RGBColor& theColor) {
    RGBForeColor(&theColor);
    PaintRect(&theRect);
    const RGBColor black{0, 0, 0};
    RGBForeColor(&black);
    FrameRect(&theRect);
}

Boolean UseColorPicker(Point where, ConstStr255Param prompt, const RGBColor& inColor, RGBColor& outColor) {
    NColorPickerInfo info;
    std::memset(&info, 0, sizeof info);
    info.theColor.profile = nullptr;
    info.theColor.color.rgb = CMRGBColor{inColor.red, inColor.green, inColor.blue};
    info.dstProfile = nullptr;
    info.flags = 0x93;  // moveable, modal, ColorSync-aware, in picker dialog
    info.placeWhere = 0;
    info.dialogOrigin = where;
    info.pickerType = 0;
    std::memcpy(info.prompt, prompt, size_t(prompt[0]) + 1);
    info.newColorChosen = false;
    if (NPickColor(&info) == noErr && info.newColorChosen) {
        outColor = RGBColor{info.theColor.color.rgb.red, info.theColor.color.rgb.green, info.theColor.color.rgb.blue};
        return true;
    }
    return false;
}
