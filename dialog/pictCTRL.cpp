#include "dialog/pictCTRL.h"

#include <map>

#include "support/CGGlue.h"
#include "support/CarbonMacros.h"
#include "support/commonprocs.h"

namespace {
ToolboxObjectClassRef lgPictureControlClassRef = nullptr;
EventHandlerUPP lgMyHandlerUPP = nullptr;

std::map<int32_t, CGImageRef>& Images() {
    static std::map<int32_t, CGImageRef> images;
    return images;
}

CGImageRef ImageOf(int32_t token) {
    auto it = Images().find(token);
    return it == Images().end() ? nullptr : it->second;
}


void Draw(ControlRef c) {
    WindowRef owner = GetControlOwner(c);
    CGrafPtr port = GetWindowPort(owner);
    if (!port) return;
    SetPortWindowPort(owner);
    Rect bounds;
    GetControlBounds(c, &bounds);
    const uint8_t hilite = GetControlHilite(c);
    if (hilite == kControlInactivePart || hilite == kControlDisabledPart) return;
    const RGBColor white{65535, 65535, 65535}, black{0, 0, 0};
    RGBBackColor(&white);
    EraseRect(&bounds);
    if (CGImageRef theImage = ImageOf(GetControl32BitValue(c))) {
        Rect thePictFrame = CalcProportionalImageForFrame(theImage, bounds);
        CenterRectInRect(thePictFrame, bounds);
        DrawCGImageInQDRect(port, theImage, thePictFrame, 0.0f, false);
    }
    RGBForeColor(&black);
    FrameRect(&bounds);
    if (hilite != 0) InvertRect(&bounds);
}
}  // namespace

void SetPictureBoxImage(ControlRef theControl, CGImageRef theImage) {
    static int32_t nextToken = 0;
    int32_t token = 0;
    if (theImage) {
        token = ++nextToken;
        Images()[token] = theImage;
    }
    SetControl32BitMaximum(theControl, token > GetControl32BitMaximum(theControl) ? token
                                                                                   : GetControl32BitMaximum(theControl));
    SetControl32BitValue(theControl, token);
}

void RegisterPictureControl() {
    static const EventTypeSpec kEvents[] = {{kEventClassControl, kEventControlDraw},
                                            {kEventClassControl, kEventControlHitTest},
                                            {kEventClassControl, kEventControlHit}};
    lgMyHandlerUPP = NewEventHandlerUPP(PictureControlHandler);
    CFStringRef id = CFStringCreateWithCString(nullptr, "com.tralvex.vidplug.imageCTRL", kCFStringEncodingUTF8);
    RegisterToolboxObjectClass(id, nullptr, 3, kEvents, lgMyHandlerUPP, nullptr, &lgPictureControlClassRef);
    CFRelease(id);
}

void UnregisterPictureControl() {
    if (lgPictureControlClassRef) UnregisterToolboxObjectClass(lgPictureControlClassRef);
    lgPictureControlClassRef = nullptr;
    DisposeEventHandlerUPP(lgMyHandlerUPP);
    lgMyHandlerUPP = nullptr;
}

OSStatus PictureControlHandler(EventHandlerCallRef, EventRef theEvent, void*) {
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
            Draw(GetEventControl(theEvent));
            SetGWorld(savedPort, savedDevice);
            status = noErr;
            break;
        }
        default:
            break;
    }
    return status;
}
