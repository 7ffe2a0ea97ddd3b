#include "dialog/clipCTRL.h"

#include "dialog/dlgUtils.h"
#include "pipeline/callPixelFX.h"
#include "pipeline/pluginData.h"
#include "support/CarbonMacros.h"
#include "support/commonprocs.h"

namespace {
ToolboxObjectClassRef lgClipCtrlClassRef1 = nullptr;
EventHandlerUPP lgMyHandlerUPP = nullptr;

const EventTypeSpec cEventList[] = {
    {kEventClassControl, kEventControlDraw},     {kEventClassControl, kEventControlHitTest},
    {kEventClassControl, kEventControlHit},      {kEventClassControl, kEventControlActivate},
    {kEventClassControl, kEventControlOwningWindowChanged}, {kEventClassControl, kEventControlTrack}};

void Track(EventRef theEvent, ControlRef theControl) {
    PluginWorkSpace& ws = gConfigWorkspace;
    Point mouseLocation{0, 0};
    uint32_t modifierKeys = 0;
    GetEventParameter(theEvent, kEventParamMouseLocation, typeQDPoint, nullptr, sizeof mouseLocation, nullptr,
                      &mouseLocation);
    GetEventParameter(theEvent, kEventParamKeyModifiers, typeUInt32, nullptr, sizeof modifierKeys, nullptr,
                      &modifierKeys);
    Rect bounds;
    GetControlBounds(theControl, &bounds);
    ClipRect(&bounds);
    const Rect origRect = Rel2Rect(ws.theConfig->startRel, bounds);
    Rect testRect = origRect;
    const RelRect origRel = GetCurrentRel();
    const int16_t whatPart = IsHandleHit(testRect, mouseLocation);
    MouseTrackingResult result = kMouseTrackingMouseDown;
    Point newLoc = mouseLocation;
    while (result != kMouseTrackingMouseUp) {
        if (result == kMouseTrackingMouseDragged && PtInRect(newLoc, &bounds) && whatPart >= 1) {
            if (whatPart <= 4) {
                testRect = origRect;
                DragCorner(whatPart, testRect, mouseLocation, newLoc, modifierKeys, bounds, origRel);
            } else {
                DragRect(testRect, mouseLocation, newLoc);
            }
            PutCurrentRel(Rect2Rel(testRect, bounds));
            CallPixelEffect(ws.sourceClip, ws.theFXClip);
            DrawFrameContents(ws.theWindow, bounds);
            if (whatPart == kBody) mouseLocation = newLoc;
        }
        TrackMouseLocation(nullptr, &newLoc, &result);
    }
}
}  // namespace

void RegisterClipCtrl() {
    lgMyHandlerUPP = NewEventHandlerUPP(ClipCtrlControlHandler);
    CFStringRef id = CFStringCreateWithCString(nullptr, "com.tralvex.vidplug.clip", kCFStringEncodingUTF8);
    RegisterToolboxObjectClass(id, nullptr, sizeof cEventList / sizeof cEventList[0], cEventList, lgMyHandlerUPP,
                               nullptr, &lgClipCtrlClassRef1);
    CFRelease(id);
}

void UnregisterClipCtrl() {
    UnregisterToolboxObjectClass(lgClipCtrlClassRef1);
    lgClipCtrlClassRef1 = nullptr;
    DisposeEventHandlerUPP(lgMyHandlerUPP);
    lgMyHandlerUPP = nullptr;
}

OSStatus ClipCtrlControlHandler(EventHandlerCallRef, EventRef theEvent, void*) {
    PluginWorkSpace& ws = gConfigWorkspace;
    OSStatus status = eventNotHandledErr;
    CGrafPtr savedPort = nullptr;
    GDHandle savedDevice = nullptr;
    bool saved = false;
    ControlRef theControl = GetEventControl(theEvent);
    switch (GetEventKind(theEvent)) {
        case kEventControlHit:
            status = noErr;
            break;
        case kEventControlHitTest: {
            GetGWorld(&savedPort, &savedDevice);
            saved = true;
            SetPortWindowPort(ws.theWindow);
            Point where{0, 0};
            GetEventParameter(theEvent, kEventParamMouseLocation, typeQDPoint, nullptr, sizeof where, nullptr, &where);
            Rect bounds;
            GetControlBounds(theControl, &bounds);
            ControlPartCode part = 0;
            if (PtInRect(where, &bounds)) part = IsHandleHit(Rel2Rect(ws.theConfig->startRel, bounds), where);
            SetEventParameter(theEvent, kEventParamControlPart, typeControlPartCode, sizeof part, &part);
            status = noErr;
            break;
        }
        case kEventControlDraw:
        case kEventControlActivate:
        case kEventControlOwningWindowChanged: {
            GetGWorld(&savedPort, &savedDevice);
            saved = true;
            SetPortWindowPort(ws.theWindow);
            Rect bounds;
            GetControlBounds(theControl, &bounds);
            if (GetControlHilite(theControl) < kControlDisabledPart) DrawFrameContents(ws.theWindow, bounds);
            status = noErr;
            break;
        }
        case kEventControlTrack:
            GetGWorld(&savedPort, &savedDevice);
            saved = true;
            SetPortWindowPort(ws.theWindow);
            Track(theEvent, theControl);
            status = noErr;
            break;
        default:
            break;
    }
    if (saved) SetGWorld(savedPort, savedDevice);
    if (ws.theWindow) {
        const Rect whole = GetPortRect(GetWindowPort(ws.theWindow));
        ClipRect(&whole);
    }
    return status;
}
