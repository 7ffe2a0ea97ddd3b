// What the toolbox's files share: the records behind the opaque references
// and the state of the one Qt application all windows live in.
#pragma once
#include <QEventLoop>
#include <QImage>
#include <QPointer>
#include <QString>
#include <QVariant>
#include <QWidget>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Toolbox.h"
#include "ToolboxTesting.h"
#include "platform/qd/QuickDrawPrivate.h"

class QApplication;
class QFocusEvent;
class QKeyEvent;
class QMouseEvent;
class QPaintEvent;

// --- Records behind the opaque references ------------------------------------------

struct OpaqueEventRef {
    OSType eventClass;
    uint32_t kind;
    struct Param {
        OSType type;
        std::vector<uint8_t> data;
    };
    std::map<OSType, Param> params;
};

struct OpaqueEventHandlerRef {
    OpaqueEventTargetRef* target;
    EventHandlerUPP proc;
    std::vector<EventTypeSpec> types;
    void* userData;
};

struct OpaqueEventTargetRef {
    std::vector<OpaqueEventHandlerRef*> handlers;  // in order of installation
    ~OpaqueEventTargetRef() {
        for (auto* h : handlers) delete h;
    }
};

struct OpaqueToolboxObjectClassRef {
    std::string classID;
    EventHandlerUPP proc;
    std::vector<EventTypeSpec> types;
    void* userData;
    bool registered = true;
};

struct OpaqueEventHandlerCallRef {
    std::vector<std::pair<EventHandlerUPP, void*>> chain;
    size_t next;
};

struct OpaqueIBNibRef {
    std::string folder;
};

struct OpaqueDialogRef {
    int16_t kind;
    std::string title, text, okText, cancelText;
};

namespace tbx {

enum class Kind { Other, PushButton, CheckBox, Popup, Slider, Label, Custom };

}  // namespace tbx

struct OpaqueControlRef {
    WindowRef owner = nullptr;
    QWidget* widget = nullptr;
    tbx::Kind kind = tbx::Kind::Other;
    ControlID cid{0, 0};
    uint32_t command = 0;
    int32_t value = 0, minimum = 0, maximum = 0;
    uint8_t hilite = 0;
    ControlPartCode pressedPart = 0;  // standard tracking of a custom control
    ControlActionUPP action = nullptr;
    std::shared_ptr<OpaqueToolboxObjectClassRef> cls;
    OpaqueEventTargetRef target;
    bool settingValue = false;  // programmatic change: no action procedure
};

struct OpaqueWindowPtr {
    std::string name;
    QWidget* widget = nullptr;
    std::vector<uint8_t> pixels;
    GWorldPtr port = nullptr;
    QImage screen;  // what custom controls show, RGB32
    std::vector<std::unique_ptr<OpaqueControlRef>> controls;
    OpaqueEventTargetRef target;
    QEventLoop* loop = nullptr;
    bool quitPending = false;
};

namespace tbx {

// --- Application (ToolboxApp.cpp) ---
extern QApplication* gApp;
bool EnsureApp();
const char* CFText(CFStringRef s);
QString FromMacRoman(const uint8_t* p, size_t n);
std::string ToMacRoman(const QString& s);
OSType FourCC(const QVariant& v);
uint32_t Modifiers(Qt::KeyboardModifiers m);
Qt::KeyboardModifiers QtModifiers(uint32_t m);

// --- Events (Events.cpp) ---
OSStatus Dispatch(OpaqueEventTargetRef* target, const OpaqueToolboxObjectClassRef* cls, EventRef e);
OpaqueEventRef ControlEvent(uint32_t kind, ControlRef c);

// --- Windows (Windows.cpp) ---
extern std::vector<WindowRef> gModalStack;
extern std::vector<WindowRef> gWindows;
// The window new windows and alerts open over: the innermost modal one, else
// the newest one shown; nil when none is up.
WindowRef FrontWindow();

// --- Controls (Controls.cpp) ---
void AddControl(WindowRef w, QWidget* widget);
ControlRef FindControl(WindowRef w, OSType sig, int32_t id);

// --- Custom control classes and mouse tracking (CustomControls.cpp) ---
extern std::map<std::string, std::shared_ptr<OpaqueToolboxObjectClassRef>> gClasses;
// Mouse tracking inside a track event.
struct Tracker {
    ControlRef control = nullptr;
    std::deque<std::pair<Point, MouseTrackingResult>> pending;
    QEventLoop* loop = nullptr;
};
extern Tracker gTracker;
bool ClassWants(ControlRef c, uint32_t kind);
Rect WindowBounds(WindowRef w);
// Port pixels (bytes A, R, G, B) to the screen image, then repaint what changed.
void Flush(WindowRef w, Rect r);
void FlushControl(ControlRef c);
void SendDraw(ControlRef c);
void SendActivate(ControlRef c);

// A control drawn by its class into the window's port; on screen it shows
// its part of the window's screen image, only the rectangle Qt asks for.
class VxCustomControl : public QWidget {
public:
    explicit VxCustomControl(QWidget* parent);
    ControlRef control = nullptr;

protected:
    Point WindowPoint(const QPointF& local) const;
    void paintEvent(QPaintEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
};

// --- The scripted test pump (TestPump.cpp) ---
extern bool gScripted;
extern std::deque<std::pair<bool, RGBColor>> gChooserAnswers;
extern std::vector<tbtest::ChooserCall> gChooserCalls;
extern std::vector<tbtest::AlertRecord> gAlerts;
extern std::vector<std::string> gOpened;
extern std::deque<OSStatus> gOpenAnswers;
extern std::vector<std::string> gCreated;
void SchedulePump();

}  // namespace tbx
