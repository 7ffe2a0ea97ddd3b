// Windows, controls, events and modal loops on Qt 6 Widgets: the least of the
// Mac toolbox that the plug-in's dialogs use, under the toolbox's names.
//
// Windows come from Qt Designer files inside a bundle's nib folders
// (Resources/<nib>.nib/<window>.ui). A widget becomes a control when it has
// the dynamic properties "signature" (four characters) and "controlID"; a
// "command" property (four characters) makes push buttons, pop-ups, check
// boxes and custom controls send that command when clicked. Custom controls
// are widgets of class VxCustomControl whose "classID" names a class
// registered with RegisterToolboxObjectClass.
//
// Each window has a port: a 32-bit buffer of the window's size in window
// coordinates, which QuickDraw draws into and custom controls show on screen.
// Control bounds are in the same coordinates; right and bottom exclusive.
//
// Threading: everything here runs on the thread that first opened a window,
// one event at a time, as on the platform this mirrors. Handlers may open
// nested modal loops (an about window over a dialog, a drag's mouse tracking).
//
// The Qt application object is created the first time a window is needed and
// kept for the life of the process; ToolboxCanOpenWindows says beforehand
// whether that can work, so a caller without a display never gets a crash.
#pragma once
#include <cstdint>

#include "platform/qd/QuickDraw.h"
#include "platform/resources/Resources.h"

struct OpaqueWindowPtr;
typedef OpaqueWindowPtr* WindowRef;
struct OpaqueControlRef;
typedef OpaqueControlRef* ControlRef;
struct OpaqueEventRef;
typedef OpaqueEventRef* EventRef;
struct OpaqueEventHandlerCallRef;
typedef OpaqueEventHandlerCallRef* EventHandlerCallRef;
struct OpaqueEventTargetRef;
typedef OpaqueEventTargetRef* EventTargetRef;
struct OpaqueEventHandlerRef;
typedef OpaqueEventHandlerRef* EventHandlerRef;
struct OpaqueToolboxObjectClassRef;
typedef OpaqueToolboxObjectClassRef* ToolboxObjectClassRef;
struct OpaqueIBNibRef;
typedef OpaqueIBNibRef* IBNibRef;
struct OpaqueDialogRef;
typedef OpaqueDialogRef* DialogRef;

typedef OSStatus (*EventHandlerProcPtr)(EventHandlerCallRef inHandlerCallRef, EventRef inEvent,
                                        void* inUserData);
typedef EventHandlerProcPtr EventHandlerUPP;
typedef int16_t ControlPartCode;
typedef void (*ControlActionProcPtr)(ControlRef theControl, ControlPartCode partCode);
typedef ControlActionProcPtr ControlActionUPP;
typedef uint16_t MouseTrackingResult;

struct EventTypeSpec {
    OSType eventClass;
    uint32_t eventKind;
};

struct ControlID {
    OSType signature;
    int32_t id;
};

struct HICommand {
    uint32_t attributes;
    uint32_t commandID;
    struct {
        void* menuRef;
        uint16_t menuItemIndex;
    } menu;
};

enum : OSStatus {
    eventNotHandledErr = -9874,
    eventParameterNotFoundErr = -9870,
    eventInternalErr = -9868,
    errUnknownControl = -30584,
    errControlNotFound = -30599,
    kLSApplicationNotFoundErr = -10814,
    userCanceledErr = -128,
};

enum : OSType {
    kEventClassCommand = FOUR_CHAR_CODE("cmds"),
    kEventClassControl = FOUR_CHAR_CODE("cntl"),
    kEventParamDirectObject = FOUR_CHAR_CODE("----"),
    kEventParamMouseLocation = FOUR_CHAR_CODE("mloc"),
    kEventParamKeyModifiers = FOUR_CHAR_CODE("kmod"),
    kEventParamControlPart = FOUR_CHAR_CODE("cprt"),
    typeWildCard = FOUR_CHAR_CODE("****"),
    typeHICommand = FOUR_CHAR_CODE("hcmd"),
    typeControlRef = FOUR_CHAR_CODE("ctrl"),
    typeQDPoint = FOUR_CHAR_CODE("QDpt"),
    typeUInt32 = FOUR_CHAR_CODE("magn"),
    typeControlPartCode = FOUR_CHAR_CODE("cprt"),
    kControlStaticTextTextTag = FOUR_CHAR_CODE("text"),
    kEventClassKeyboard = FOUR_CHAR_CODE("keyb"),
    kEventParamKeyCode = FOUR_CHAR_CODE("kcod"),
    kHICommandOK = FOUR_CHAR_CODE("ok  "),
    kHICommandCancel = FOUR_CHAR_CODE("not!"),
};

enum : uint32_t {
    kEventCommandProcess = 1,
    kEventRawKeyDown = 1,  // class kEventClassKeyboard
    kEventControlHit = 1,
    kEventControlHitTest = 3,
    kEventControlDraw = 4,
    kEventControlActivate = 9,
    kEventControlTrack = 51,
    kEventControlOwningWindowChanged = 159,
};

// Virtual key codes of the keys that controls answer.
enum : uint32_t {
    kVK_Return = 0x24,
    kVK_Tab = 0x30,
    kVK_Space = 0x31,
    kVK_Escape = 0x35,
    kVK_LeftArrow = 0x7B,
    kVK_RightArrow = 0x7C,
    kVK_DownArrow = 0x7D,
    kVK_UpArrow = 0x7E,
};

// Keyboard modifier bits as the events carry them.
enum : uint32_t { cmdKey = 0x0100, shiftKey = 0x0200, optionKey = 0x0800, controlKey = 0x1000 };

enum : MouseTrackingResult {
    kMouseTrackingMouseDown = 1,
    kMouseTrackingMouseUp = 2,
    kMouseTrackingMouseDragged = 5,
};

enum : ControlPartCode { kControlNoPart = 0, kControlIndicatorPart = 129 };
enum : uint8_t { kControlDisabledPart = 254, kControlInactivePart = 255 };

// --- Availability -------------------------------------------------------------
// True when windows can be opened: a Qt application exists already, or a
// platform is named in QT_QPA_PLATFORM, or a display is reachable through
// WAYLAND_DISPLAY or DISPLAY. Otherwise false, with the reason in *why.
Boolean ToolboxCanOpenWindows(const char** why);

// --- Events and handlers ------------------------------------------------------
EventHandlerUPP NewEventHandlerUPP(EventHandlerProcPtr proc);
void DisposeEventHandlerUPP(EventHandlerUPP upp);
EventTargetRef GetWindowEventTarget(WindowRef window);
EventTargetRef GetControlEventTarget(ControlRef control);
// Handlers of one target run newest first; one that returns
// eventNotHandledErr passes the event on to the next.
OSStatus InstallEventHandler(EventTargetRef target, EventHandlerUPP handler, uint32_t numTypes,
                             const EventTypeSpec* list, void* userData, EventHandlerRef* outRef);
OSStatus RemoveEventHandler(EventHandlerRef handler);
OSStatus CallNextEventHandler(EventHandlerCallRef inCallRef, EventRef inEvent);
OSType GetEventClass(EventRef event);
uint32_t GetEventKind(EventRef event);
// Copies the parameter into outData (at most inBufferSize bytes). The type
// must match inDesiredType unless that is typeWildCard.
OSStatus GetEventParameter(EventRef event, OSType inName, OSType inDesiredType, OSType* outActualType,
                           uint32_t inBufferSize, uint32_t* outActualSize, void* outData);
OSStatus SetEventParameter(EventRef event, OSType inName, OSType inType, uint32_t inSize,
                           const void* inData);
// Sends a command-process event to the window's handlers.
OSStatus SendCommandToWindow(WindowRef window, uint32_t commandID);

// --- Custom control classes -----------------------------------------------------
// classID is copied; the class receives the listed control events.
// Keyboard: a custom control takes the focus by Tab when its window
// definition gives it a focus policy that does (and shows a focus frame
// then). A key pressed while it has the focus goes to its class as
// kEventClassKeyboard / kEventRawKeyDown with the control as direct object,
// kEventParamKeyCode (typeUInt32, kVK_ codes) and kEventParamKeyModifiers,
// when the class asks for that event. Space, and Return for a control with a
// command, that the class leaves unhandled click the control.
OSStatus RegisterToolboxObjectClass(CFStringRef classID, ToolboxObjectClassRef baseClass,
                                    uint32_t numEvents, const EventTypeSpec* eventList,
                                    EventHandlerUPP eventHandler, void* userData,
                                    ToolboxObjectClassRef* outClassRef);
OSStatus UnregisterToolboxObjectClass(ToolboxObjectClassRef classRef);

// --- Windows ------------------------------------------------------------------------
OSStatus CreateNibReferenceWithCFBundle(CFBundleRef bundle, CFStringRef nibName, IBNibRef* outNibRef);
// The window starts hidden; made while another window is up, it belongs to
// that window and opens centred over it. fnfErr for a missing window file,
// -30586 for one that is not a regular file of at most 4 MiB holding a window
// definition, errUnknownControl when it names an unregistered class. Each
// failure also puts one line naming the file on standard error.
OSStatus CreateWindowFromNib(IBNibRef nibRef, CFStringRef name, WindowRef* outWindow);
void DisposeNibReference(IBNibRef nibRef);
void ShowWindow(WindowRef window);
void HideWindow(WindowRef window);
Boolean IsWindowVisible(WindowRef window);
void BringToFront(WindowRef window);
// Also removes the window's handlers. The window must not be in a modal loop.
void DisposeWindow(WindowRef window);
CGrafPtr GetWindowPort(WindowRef window);
void SetPortWindowPort(WindowRef window);
WindowRef GetWindowFromPort(CGrafPtr port);
// Blocks until QuitAppModalLoopForWindow for this window; nests.
OSStatus RunAppModalLoopForWindow(WindowRef window);
OSStatus QuitAppModalLoopForWindow(WindowRef window);
WindowRef GetFrontModalWindow();  // innermost running modal loop's window, or nil

// --- Controls ---------------------------------------------------------------------------
OSStatus GetControlByID(WindowRef window, const ControlID* inID, ControlRef* outControl);
int32_t GetControl32BitValue(ControlRef control);
// Clamped to the control's range; a custom control whose value changes is
// redrawn at once.
void SetControl32BitValue(ControlRef control, int32_t value);
int32_t GetControl32BitMinimum(ControlRef control);
void SetControl32BitMinimum(ControlRef control, int32_t minimum);
int32_t GetControl32BitMaximum(ControlRef control);
void SetControl32BitMaximum(ControlRef control, int32_t maximum);
void ShowControl(ControlRef control);
void HideControl(ControlRef control);
Boolean IsControlVisible(ControlRef control);
// Tag 'text': the bytes are Mac Roman text without a length byte.
OSStatus SetControlData(ControlRef control, ControlPartCode part, OSType tag, int32_t size,
                        const void* data);
OSStatus GetControlData(ControlRef control, ControlPartCode part, OSType tag, int32_t bufferSize,
                        void* buffer, int32_t* actualSize);
void Draw1Control(ControlRef control);
Rect* GetControlBounds(ControlRef control, Rect* bounds);
// 0 normal, the part being pressed during a click, 254 disabled.
uint8_t GetControlHilite(ControlRef control);
void HiliteControl(ControlRef control, ControlPartCode part);
WindowRef GetControlOwner(ControlRef control);
OSStatus GetControlCommandID(ControlRef control, uint32_t* outCommandID);
// Called on every change of a slider's value that the user makes, while the
// thumb is dragged too.
ControlActionUPP NewControlActionUPP(ControlActionProcPtr proc);
void DisposeControlActionUPP(ControlActionUPP upp);
void SetControlAction(ControlRef control, ControlActionUPP action);

// --- Mouse tracking ---------------------------------------------------------------------
// Inside a track event: waits for the next mouse movement or release and
// returns it in the window's coordinates. nil port means the current port.
OSStatus TrackMouseLocation(GrafPtr inPort, Point* outPt, MouseTrackingResult* outResult);

// --- Colour chooser -------------------------------------------------------------------------
struct CMRGBColor {
    uint16_t red, green, blue;
};
union CMColor {
    CMRGBColor rgb;
};
struct PMColor {
    void* profile;
    CMColor color;
};
struct PickerMenuItemInfo {
    int16_t editMenuID, cutItem, copyItem, pasteItem, clearItem, undoItem;
};
struct NColorPickerInfo {
    PMColor theColor;
    void* dstProfile;
    uint32_t flags;
    int16_t placeWhere;
    Point dialogOrigin;
    OSType pickerType;
    void* eventProc;
    void* colorProc;
    uintptr_t colorProcData;
    Str255 prompt;
    PickerMenuItemInfo mInfo;
    Boolean newColorChosen;
};
// Modal. noErr in both cases; newColorChosen tells whether the user chose.
OSStatus NPickColor(NColorPickerInfo* info);

// --- Alerts -----------------------------------------------------------------------------------
enum : int16_t { kAlertStopAlert = 0, kAlertNoteAlert = 1, kAlertCautionAlert = 2 };
struct AlertStdCFStringAlertParamRec {
    uint32_t version;
    Boolean movable;
    Boolean helpButton;
    CFStringRef defaultText;
    CFStringRef cancelText;
    CFStringRef otherText;
    int16_t defaultButton;
    int16_t cancelButton;
    uint16_t position;
    uint32_t flags;
};
// The strings are copied. The alert opens over the innermost modal window (or
// the newest window shown). Without a display the alert goes to standard error
// and RunStandardAlert answers the default button; on a platform that shows
// nothing (offscreen, minimal) nobody could answer it, so it answers the
// default button at once, leaving the telling to the caller.
OSStatus CreateStandardAlert(int16_t alertType, CFStringRef error, CFStringRef explanation,
                             const AlertStdCFStringAlertParamRec* param, DialogRef* outAlert);
// Shows the alert modally, answers the button hit (1 default, 2 cancel) and
// disposes of it.
OSStatus RunStandardAlert(DialogRef inAlert, void* filterProc, int16_t* outItemHit);

// --- Documents ------------------------------------------------------------------------------------
// Opens the file with the user's default application.
OSStatus LSOpenFSRef(const FSRef* inRef, FSRef* outLaunchedRef);
