#include "dialog/clipCTRL.h"

#include <algorithm>

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
    {kEventClassControl, kEventControlOwningWindowChanged}, {kEventClassControl, kEventControlTrack},
    {kEventClassKeyboard, kEventRawKeyDown}};

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
    const int16_t whatPart = IsShownHandleHit(testRect, bounds, mouseLocation);
    MouseTrackingResult result = kMouseTrackingMouseDown;
    Point newLoc = mouseLocation;
    Rect lastRect = testRect;
    while (true) {
        bool update = false;
        const bool moved = result == kMouseTrackingMouseDragged || result == kMouseTrackingMouseUp;
        if (moved && whatPart >= kTopLeft && whatPart <= kBottomRight) {
            // A corner follows the mouse up to the preview's edge and stays
            // there beyond it, however fast the mouse left; the release point
            // counts too.
            const Point at{std::clamp(newLoc.v, bounds.top, bounds.bottom), std::clamp(newLoc.h, bounds.left, bounds.right)};
            testRect = origRect;
            DragCorner(whatPart, testRect, mouseLocation, at, modifierKeys, bounds, origRel);
            update = result == kMouseTrackingMouseDragged || !EqualRect(&testRect, &lastRect);
        } else if (result == kMouseTrackingMouseDragged && whatPart == kBody && PtInRect(newLoc, &bounds)) {
            DragRect(testRect, mouseLocation, newLoc);
            mouseLocation = newLoc;
            update = true;
        }
        if (update) {
            lastRect = testRect;
            PutCurrentRel(Rect2Rel(testRect, bounds));
            CallPixelEffect(ws.sourceClip, ws.theFXClip);
            DrawFrameContents(ws.theWindow, bounds);
        }
        if (result == kMouseTrackingMouseUp) break;
        TrackMouseLocation(nullptr, &newLoc, &result);
    }
}

// Arrows move the rectangle by one editor pixel; with Shift they move its
// right or bottom edge instead, so that it grows or shrinks.
bool KeyDown(EventRef theEvent, ControlRef theControl) {
    PluginWorkSpace& ws = gConfigWorkspace;
    uint32_t key = 0, modifiers = 0;
    GetEventParameter(theEvent, kEventParamKeyCode, typeUInt32, nullptr, sizeof key, nullptr, &key);
    GetEventParameter(theEvent, kEventParamKeyModifiers, typeUInt32, nullptr, sizeof modifiers, nullptr, &modifiers);
    int16_t dx = 0, dy = 0;
    switch (key) {
        case kVK_LeftArrow: dx = -1; break;
        case kVK_RightArrow: dx = 1; break;
        case kVK_UpArrow: dy = -1; break;
        case kVK_DownArrow: dy = 1; break;
        default: return false;
    }
    Rect bounds;
    GetControlBounds(theControl, &bounds);
    Rect r = Rel2Rect(ws.theConfig->startRel, bounds);
    if (modifiers & shiftKey) {
        r.right = std::max(r.left, int16_t(r.right + dx));
        r.bottom = std::max(r.top, int16_t(r.bottom + dy));
        KeepImageProps(r);
    } else {
        OffsetRect(&r, dx, dy);
    }
    PutCurrentRel(Rect2Rel(r, bounds));
    CallPixelEffect(ws.sourceClip, ws.theFXClip);
    DrawFrameContents(ws.theWindow, bounds);
    return true;
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
    // Key events share their kind numbers with control events.
    const uint32_t kind = GetEventClass(theEvent) == kEventClassKeyboard ? 0 : GetEventKind(theEvent);
    if (GetEventClass(theEvent) == kEventClassKeyboard && GetEventKind(theEvent) == kEventRawKeyDown) {
        GetGWorld(&savedPort, &savedDevice);
        saved = true;
        SetPortWindowPort(ws.theWindow);
        if (KeyDown(theEvent, theControl)) status = noErr;
    }
    switch (kind) {
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
            if (PtInRect(where, &bounds)) part = IsShownHandleHit(Rel2Rect(ws.theConfig->startRel, bounds), bounds, where);
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
