#include "Toolbox.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QLibraryInfo>
#include <QPointer>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QUrl>
#include <QtUiTools/QUiLoader>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ToolboxTesting.h"
#include "platform/qd/QuickDrawPrivate.h"

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

namespace {

enum class Kind { Other, PushButton, CheckBox, Popup, Slider, Label, Custom };

}  // namespace

struct OpaqueControlRef {
    WindowRef owner = nullptr;
    QWidget* widget = nullptr;
    Kind kind = Kind::Other;
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

namespace {

QApplication* gApp = nullptr;
std::map<std::string, std::shared_ptr<OpaqueToolboxObjectClassRef>> gClasses;
std::vector<WindowRef> gModalStack;
std::vector<WindowRef> gWindows;

// Mouse tracking inside a track event.
struct Tracker {
    ControlRef control = nullptr;
    std::deque<std::pair<Point, MouseTrackingResult>> pending;
    QEventLoop* loop = nullptr;
};
Tracker gTracker;

// Scripted input.
bool gScripted = false;
std::deque<std::function<void()>> gSteps;
bool gPumpScheduled = false;
bool gRanDry = false;
std::deque<std::pair<bool, RGBColor>> gChooserAnswers;
std::vector<tbtest::ChooserCall> gChooserCalls;
std::vector<tbtest::AlertRecord> gAlerts;
std::vector<std::string> gOpened;
std::vector<std::string> gCreated;
QPointer<QWidget> gPressedWidget;

const char* CFText(CFStringRef s) {
    const char* t = s ? CFStringGetCStringPtrUTF8(s) : nullptr;
    return t ? t : "";
}

// Mac Roman bytes 0x80..0xFF.
const char16_t kMacRoman[128] = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1, 0x00E0, 0x00E2, 0x00E4, 0x00E3,
    0x00E5, 0x00E7, 0x00E9, 0x00E8, 0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3,
    0x00F2, 0x00F4, 0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC, 0x2020, 0x00B0, 0x00A2, 0x00A3,
    0x00A7, 0x2022, 0x00B6, 0x00DF, 0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8,
    0x221E, 0x00B1, 0x2264, 0x2265, 0x00A5, 0x00B5, 0x2202, 0x2211, 0x220F, 0x03C0, 0x222B, 0x00AA,
    0x00BA, 0x03A9, 0x00E6, 0x00F8, 0x00BF, 0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB,
    0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5, 0x0152, 0x0153, 0x2013, 0x2014, 0x201C, 0x201D,
    0x2018, 0x2019, 0x00F7, 0x25CA, 0x00FF, 0x0178, 0x2044, 0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02,
    0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1, 0x00CB, 0x00C8, 0x00CD, 0x00CE,
    0x00CF, 0x00CC, 0x00D3, 0x00D4, 0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9, 0x0131, 0x02C6, 0x02DC,
    0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7,
};

QString FromMacRoman(const uint8_t* p, size_t n) {
    QString s;
    s.reserve(qsizetype(n));
    for (size_t i = 0; i < n; ++i) s.append(p[i] < 0x80 ? QChar(p[i]) : QChar(kMacRoman[p[i] - 0x80]));
    return s;
}

std::string ToMacRoman(const QString& s) {
    std::string out;
    for (QChar c : s) {
        const char16_t u = c.unicode();
        if (u < 0x80) {
            out.push_back(char(u));
            continue;
        }
        char b = '?';
        for (int i = 0; i < 128; ++i)
            if (kMacRoman[i] == u) b = char(0x80 + i);
        out.push_back(b);
    }
    return out;
}

OSType FourCC(const QVariant& v) {
    QByteArray b = v.toString().toLatin1();
    while (b.size() < 4) b.append(' ');
    return (uint32_t(uint8_t(b[0])) << 24) | (uint32_t(uint8_t(b[1])) << 16) |
           (uint32_t(uint8_t(b[2])) << 8) | uint32_t(uint8_t(b[3]));
}

uint32_t Modifiers(Qt::KeyboardModifiers m) {
    uint32_t r = 0;
    if (m & Qt::ShiftModifier) r |= shiftKey;
    if (m & Qt::AltModifier) r |= optionKey;
    if (m & Qt::ControlModifier) r |= controlKey;
    if (m & Qt::MetaModifier) r |= cmdKey;
    return r;
}

Qt::KeyboardModifiers QtModifiers(uint32_t m) {
    Qt::KeyboardModifiers r;
    if (m & shiftKey) r |= Qt::ShiftModifier;
    if (m & optionKey) r |= Qt::AltModifier;
    if (m & controlKey) r |= Qt::ControlModifier;
    if (m & cmdKey) r |= Qt::MetaModifier;
    return r;
}

// Connecting to an X server that is gone makes Qt abort, so look first.
bool XDisplayReachable(const char* display) {
    const char* colon = std::strrchr(display, ':');
    if (!colon) return false;
    if (colon != display && std::strncmp(display, "unix", 4) != 0) return true;  // remote: trust it
    const int number = std::atoi(colon + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "/tmp/.X11-unix/X%d", number);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    if (!ok) {  // the abstract socket of the same name
        sockaddr_un abs{};
        abs.sun_family = AF_UNIX;
        const int len = std::snprintf(abs.sun_path + 1, sizeof abs.sun_path - 1, "/tmp/.X11-unix/X%d", number);
        ok = ::connect(fd, reinterpret_cast<sockaddr*>(&abs), socklen_t(offsetof(sockaddr_un, sun_path) + 1 + len)) == 0;
    }
    ::close(fd);
    return ok;
}

bool EnsureApp() {
    if (gApp) return true;
    if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance())) {
        gApp = existing;
        return true;
    }
    if (!ToolboxCanOpenWindows(nullptr)) return false;
    static int argc = 1;
    static char arg0[] = "vexolumen";
    static char* argv[] = {arg0, nullptr};
    gApp = new QApplication(argc, argv);  // kept for the life of the process
    gApp->setQuitOnLastWindowClosed(false);
    return true;
}

// --- Event dispatch -------------------------------------------------------------------------

bool Wants(const std::vector<EventTypeSpec>& types, const OpaqueEventRef* e) {
    for (const auto& t : types)
        if (t.eventClass == e->eventClass && t.eventKind == e->kind) return true;
    return false;
}

// A handler that does not handle the event passes it on to the next one.
OSStatus RunChain(OpaqueEventHandlerCallRef& call, EventRef e) {
    OSStatus status = eventNotHandledErr;
    while (status == eventNotHandledErr && call.next < call.chain.size()) {
        auto [proc, user] = call.chain[call.next++];
        status = proc(&call, e, user);
    }
    return status;
}

OSStatus Dispatch(OpaqueEventTargetRef* target, const OpaqueToolboxObjectClassRef* cls, EventRef e) {
    OpaqueEventHandlerCallRef call;
    call.next = 0;
    for (auto it = target->handlers.rbegin(); it != target->handlers.rend(); ++it)
        if (Wants((*it)->types, e)) call.chain.emplace_back((*it)->proc, (*it)->userData);
    if (cls && cls->registered && Wants(cls->types, e)) call.chain.emplace_back(cls->proc, cls->userData);
    return RunChain(call, e);
}

OpaqueEventRef ControlEvent(uint32_t kind, ControlRef c) {
    OpaqueEventRef e{kEventClassControl, kind, {}};
    SetEventParameter(&e, kEventParamDirectObject, typeControlRef, sizeof c, &c);
    return e;
}

bool ClassWants(ControlRef c, uint32_t kind) {
    if (!c->cls || !c->cls->registered) return false;
    for (const auto& t : c->cls->types)
        if (t.eventClass == kEventClassControl && t.eventKind == kind) return true;
    return false;
}

Rect WindowBounds(WindowRef w) {
    return Rect{0, 0, int16_t(w->widget->height()), int16_t(w->widget->width())};
}

// Port pixels (bytes A, R, G, B) to the screen image, then repaint what changed.
void Flush(WindowRef w, Rect r) {
    const Rect all = WindowBounds(w);
    if (!SectRect(&r, &all, &r)) return;
    const PixMap& pm = w->port->pixMap;
    for (int y = r.top; y < r.bottom; ++y) {
        const auto* src = reinterpret_cast<const uint8_t*>(pm.baseAddr + int64_t(y) * pm.rowBytes);
        auto* dst = reinterpret_cast<uint32_t*>(w->screen.scanLine(y));
        for (int x = r.left; x < r.right; ++x) {
            const uint8_t* p = src + 4 * x;
            dst[x] = 0xFF000000u | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
        }
    }
    const QRect changed(r.left, r.top, r.right - r.left, r.bottom - r.top);
    for (auto& c : w->controls) {
        if (c->kind != Kind::Custom) continue;
        const QPoint at = c->widget->mapTo(w->widget, QPoint(0, 0));
        const QRect mine = QRect(at, c->widget->size()).intersected(changed);
        if (!mine.isEmpty()) c->widget->update(mine.translated(-at));
    }
}

void FlushControl(ControlRef c) {
    Rect b;
    GetControlBounds(c, &b);
    Flush(c->owner, b);
}

void SendDraw(ControlRef c) {
    if (c->kind != Kind::Custom || !ClassWants(c, kEventControlDraw) || !c->widget->isVisible()) return;
    OpaqueEventRef e = ControlEvent(kEventControlDraw, c);
    Dispatch(&c->target, c->cls.get(), &e);
    FlushControl(c);
}

// The window came to the front: controls that ask for it hear so (and redraw).
void SendActivate(ControlRef c) {
    if (c->kind != Kind::Custom || !ClassWants(c, kEventControlActivate) || !c->widget->isVisible()) return;
    OpaqueEventRef e = ControlEvent(kEventControlActivate, c);
    Dispatch(&c->target, c->cls.get(), &e);
    FlushControl(c);
}

ControlPartCode HitTest(ControlRef c, Point pt) {
    if (!ClassWants(c, kEventControlHitTest)) {
        Rect b;
        GetControlBounds(c, &b);
        return PtInRect(pt, &b) ? 1 : 0;
    }
    OpaqueEventRef e = ControlEvent(kEventControlHitTest, c);
    SetEventParameter(&e, kEventParamMouseLocation, typeQDPoint, sizeof pt, &pt);
    Dispatch(&c->target, c->cls.get(), &e);
    ControlPartCode part = 0;
    GetEventParameter(&e, kEventParamControlPart, typeControlPartCode, nullptr, sizeof part, nullptr, &part);
    return part;
}

// The click is complete: the control hears of it, then its command goes out
// unless the control handled the hit itself.
void SendHit(ControlRef c, ControlPartCode part, uint32_t mods) {
    OSStatus status = eventNotHandledErr;
    if (ClassWants(c, kEventControlHit)) {
        OpaqueEventRef e = ControlEvent(kEventControlHit, c);
        SetEventParameter(&e, kEventParamControlPart, typeControlPartCode, sizeof part, &part);
        SetEventParameter(&e, kEventParamKeyModifiers, typeUInt32, sizeof mods, &mods);
        status = Dispatch(&c->target, c->cls.get(), &e);
    }
    if (status == eventNotHandledErr && c->command && c->owner) SendCommandToWindow(c->owner, c->command);
}

void CustomMouseDown(ControlRef c, Point pt, uint32_t mods) {
    if (GetControlHilite(c) >= kControlDisabledPart) return;
    const ControlPartCode part = HitTest(c, pt);
    if (part == 0) return;
    if (ClassWants(c, kEventControlTrack)) {
        OpaqueEventRef e = ControlEvent(kEventControlTrack, c);
        SetEventParameter(&e, kEventParamMouseLocation, typeQDPoint, sizeof pt, &pt);
        SetEventParameter(&e, kEventParamKeyModifiers, typeUInt32, sizeof mods, &mods);
        const Tracker saved = gTracker;
        gTracker = Tracker{};
        gTracker.control = c;
        Dispatch(&c->target, c->cls.get(), &e);
        gTracker = saved;
        FlushControl(c);
        ControlPartCode hitPart = part;
        GetEventParameter(&e, kEventParamControlPart, typeControlPartCode, nullptr, sizeof hitPart, nullptr,
                          &hitPart);
        if (hitPart != 0) SendHit(c, hitPart, mods);
        return;
    }
    c->pressedPart = part;
    HiliteControl(c, part);
}

void CustomMouseUp(ControlRef c, Point pt, uint32_t mods) {
    if (!c->pressedPart) return;
    c->pressedPart = 0;
    const ControlPartCode part = HitTest(c, pt);
    HiliteControl(c, 0);
    if (part != 0) SendHit(c, part, mods);
}

// --- Widgets ---------------------------------------------------------------------------------

// A control drawn by its class into the window's port; on screen it shows
// its part of the window's screen image, only the rectangle Qt asks for.
class VxCustomControl : public QWidget {
public:
    explicit VxCustomControl(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setFocusPolicy(Qt::ClickFocus);
    }
    ControlRef control = nullptr;

protected:
    Point WindowPoint(const QPointF& local) const {
        const QPoint p = mapTo(control->owner->widget, local.toPoint());
        return Point{int16_t(p.y()), int16_t(p.x())};
    }
    void paintEvent(QPaintEvent* e) override {
        if (!control) return;
        QPainter p(this);
        const QPoint at = mapTo(control->owner->widget, QPoint(0, 0));
        p.drawImage(e->rect().topLeft(), control->owner->screen, e->rect().translated(at));
    }
    void mousePressEvent(QMouseEvent* e) override {
        if (!control || e->button() != Qt::LeftButton) return;
        CustomMouseDown(control, WindowPoint(e->position()), Modifiers(e->modifiers()));
    }
    void mouseMoveEvent(QMouseEvent* e) override {
        if (!control || gTracker.control != control || !(e->buttons() & Qt::LeftButton)) return;
        gTracker.pending.emplace_back(WindowPoint(e->position()), kMouseTrackingMouseDragged);
        if (gTracker.loop) gTracker.loop->quit();
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        if (!control || e->button() != Qt::LeftButton) return;
        if (gTracker.control == control) {
            gTracker.pending.emplace_back(WindowPoint(e->position()), kMouseTrackingMouseUp);
            if (gTracker.loop) gTracker.loop->quit();
            return;
        }
        CustomMouseUp(control, WindowPoint(e->position()), Modifiers(e->modifiers()));
    }
};

class Loader : public QUiLoader {
public:
    QWidget* createWidget(const QString& className, QWidget* parent, const QString& name) override {
        if (className == QLatin1String("VxCustomControl")) {
            auto* w = new VxCustomControl(parent);
            w->setObjectName(name);
            return w;
        }
        return QUiLoader::createWidget(className, parent, name);
    }
};

// Return sends OK, Escape and the close box send Cancel, as a dialog's
// default and cancel buttons would.
class WindowFilter : public QObject {
public:
    explicit WindowFilter(WindowRef w) : window(w) {}
    WindowRef window;

protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (o != window->widget) return false;
        if (e->type() == QEvent::Close) {
            e->ignore();
            SendCommandToWindow(window, kHICommandCancel);
            return true;
        }
        if (e->type() == QEvent::WindowActivate) {
            for (auto& c : window->controls) SendActivate(c.get());
            return false;
        }
        if (e->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(e)->key();
            if (key == Qt::Key_Escape) {
                SendCommandToWindow(window, kHICommandCancel);
                return true;
            }
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                SendCommandToWindow(window, kHICommandOK);
                return true;
            }
        }
        return false;
    }
};

void Connect(ControlRef c) {
    switch (c->kind) {
        case Kind::PushButton:
        case Kind::CheckBox: {
            auto* b = static_cast<QAbstractButton*>(c->widget);
            QObject::connect(b, &QAbstractButton::clicked, [c, b](bool) {
                if (c->kind == Kind::CheckBox) c->value = b->isChecked() ? 1 : 0;
                if (c->command) SendCommandToWindow(c->owner, c->command);
            });
            break;
        }
        case Kind::Popup: {
            auto* box = static_cast<QComboBox*>(c->widget);
            QObject::connect(box, &QComboBox::activated, [c](int index) {
                c->value = index + 1;
                if (c->command) SendCommandToWindow(c->owner, c->command);
            });
            break;
        }
        case Kind::Slider: {
            auto* s = static_cast<QAbstractSlider*>(c->widget);
            QObject::connect(s, &QAbstractSlider::valueChanged, [c](int v) {
                if (c->settingValue) return;
                c->value = v;
                if (c->action) c->action(c, kControlIndicatorPart);
            });
            break;
        }
        default:
            break;
    }
}

void AddControl(WindowRef w, QWidget* widget) {
    const QVariant sig = widget->property("signature");
    auto c = std::make_unique<OpaqueControlRef>();
    c->owner = w;
    c->widget = widget;
    c->cid = ControlID{sig.isValid() ? FourCC(sig) : 0, widget->property("controlID").toInt()};
    const QVariant cmd = widget->property("command");
    c->command = cmd.isValid() ? FourCC(cmd) : 0;
    if (auto* custom = dynamic_cast<VxCustomControl*>(widget)) {
        c->kind = Kind::Custom;
        custom->control = c.get();
        c->minimum = widget->property("minimum").toInt();
        c->maximum = widget->property("maximum").toInt();
        c->value = widget->property("value").toInt();
    } else if (auto* s = qobject_cast<QAbstractSlider*>(widget)) {
        c->kind = Kind::Slider;
        c->minimum = s->minimum();
        c->maximum = s->maximum();
        c->value = s->value();
    } else if (auto* box = qobject_cast<QComboBox*>(widget)) {
        c->kind = Kind::Popup;
        c->minimum = 1;
        c->maximum = box->count();
        c->value = box->currentIndex() + 1;
    } else if (auto* check = qobject_cast<QCheckBox*>(widget)) {
        c->kind = Kind::CheckBox;
        c->maximum = 1;
        c->value = check->isChecked() ? 1 : 0;
    } else if (qobject_cast<QAbstractButton*>(widget)) {
        c->kind = Kind::PushButton;
    } else if (qobject_cast<QLabel*>(widget)) {
        c->kind = Kind::Label;
    }
    Connect(c.get());
    w->controls.push_back(std::move(c));
}

ControlRef FindControl(WindowRef w, OSType sig, int32_t id) {
    if (!w) return nullptr;
    for (auto& c : w->controls)
        if (c->cid.signature == sig && c->cid.id == id) return c.get();
    return nullptr;
}

// --- The script pump -----------------------------------------------------------------------

void RunOneStep();

void SchedulePump() {
    if (!gScripted || gPumpScheduled || !gApp) return;
    gPumpScheduled = true;
    // A fresh timer each time: a timer does not fire again while its own
    // handler runs, and steps open nested loops that need the next step.
    QTimer::singleShot(0, gApp, [] {
        gPumpScheduled = false;
        RunOneStep();
    });
}

void RunOneStep() {
    if (gSteps.empty()) {
        if (gTracker.control && gTracker.loop) {
            gRanDry = true;
            std::fprintf(stderr, "toolbox script ran dry during a mouse drag: releasing\n");
            gTracker.pending.emplace_back(gTracker.pending.empty() ? Point{0, 0} : gTracker.pending.back().first,
                                          kMouseTrackingMouseUp);
            gTracker.loop->quit();
        } else if (!gModalStack.empty()) {
            gRanDry = true;
            std::fprintf(stderr, "toolbox script ran dry in window %s: cancelling\n",
                         gModalStack.back()->name.c_str());
            SendCommandToWindow(gModalStack.back(), kHICommandCancel);
            QuitAppModalLoopForWindow(gModalStack.back());
        }
        return;
    }
    auto step = std::move(gSteps.front());
    gSteps.pop_front();
    SchedulePump();  // the step may open a nested loop that needs the next one
    step();
}

void Post(std::function<void()> f) {
    gSteps.push_back(std::move(f));
    SchedulePump();
}

void SendMouse(QWidget* target, QEvent::Type type, Point where, uint32_t mods) {
    WindowRef w = GetFrontModalWindow();
    if (!target || !w) return;
    const QPoint local = target->mapFrom(w->widget, QPoint(where.h, where.v));
    const QPoint global = target->mapToGlobal(local);
    const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent ev(type, QPointF(local), QPointF(global), Qt::LeftButton, buttons, QtModifiers(mods));
    QApplication::sendEvent(target, &ev);
}

}  // namespace

// --- Availability ------------------------------------------------------------------------------

Boolean ToolboxCanOpenWindows(const char** why) {
    if (gApp || qobject_cast<QApplication*>(QCoreApplication::instance())) return true;
    if (QCoreApplication::instance()) {  // a host with Qt but without widgets: a second one would abort
        if (why) *why = "the host runs a Qt application without widgets";
        return false;
    }
    const char* qpa = std::getenv("QT_QPA_PLATFORM");
    const char* display = std::getenv("DISPLAY");
    if (qpa && *qpa) {
        if (std::strncmp(qpa, "xcb", 3) != 0) return true;  // offscreen, wayland, vnc...: Qt's to judge
        if (display && *display && XDisplayReachable(display)) return true;
        if (why) *why = "QT_QPA_PLATFORM asks for X, but no X display can be reached";
        return false;
    }
    if (display && *display && XDisplayReachable(display)) return true;
    // Without X, Wayland needs Qt's Wayland platform plugin.
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (wayland && *wayland) {
        const QDir platforms(QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms"));
        if (!platforms.entryList({QStringLiteral("libqwayland*")}).isEmpty()) return true;
    }
    if (why) {
        if (display && *display)
            *why = "the X display in DISPLAY cannot be reached";
        else if (wayland && *wayland)
            *why = "WAYLAND_DISPLAY is set but Qt's Wayland platform plugin is not installed";
        else
            *why = "no display (DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM are all unset)";
    }
    return false;
}

// --- Events -------------------------------------------------------------------------------------

EventHandlerUPP NewEventHandlerUPP(EventHandlerProcPtr proc) { return proc; }
void DisposeEventHandlerUPP(EventHandlerUPP) {}
EventTargetRef GetWindowEventTarget(WindowRef window) { return window ? &window->target : nullptr; }
EventTargetRef GetControlEventTarget(ControlRef control) { return control ? &control->target : nullptr; }

OSStatus InstallEventHandler(EventTargetRef target, EventHandlerUPP handler, uint32_t numTypes,
                             const EventTypeSpec* list, void* userData, EventHandlerRef* outRef) {
    if (!target || !handler) return paramErr;
    auto* h = new OpaqueEventHandlerRef{target, handler, std::vector<EventTypeSpec>(list, list + numTypes), userData};
    target->handlers.push_back(h);
    if (outRef) *outRef = h;
    return noErr;
}

OSStatus RemoveEventHandler(EventHandlerRef handler) {
    if (!handler) return paramErr;
    auto& hs = handler->target->handlers;
    for (auto it = hs.begin(); it != hs.end(); ++it)
        if (*it == handler) {
            hs.erase(it);
            delete handler;
            return noErr;
        }
    return paramErr;
}

OSStatus CallNextEventHandler(EventHandlerCallRef inCallRef, EventRef inEvent) {
    return inCallRef ? RunChain(*inCallRef, inEvent) : eventNotHandledErr;
}

OSType GetEventClass(EventRef event) { return event ? event->eventClass : 0; }
uint32_t GetEventKind(EventRef event) { return event ? event->kind : 0; }

OSStatus GetEventParameter(EventRef event, OSType inName, OSType inDesiredType, OSType* outActualType,
                           uint32_t inBufferSize, uint32_t* outActualSize, void* outData) {
    if (!event) return paramErr;
    auto it = event->params.find(inName);
    if (it == event->params.end()) return eventParameterNotFoundErr;
    if (inDesiredType != typeWildCard && inDesiredType != it->second.type) return eventParameterNotFoundErr;
    const auto& data = it->second.data;
    if (outActualType) *outActualType = it->second.type;
    if (outActualSize) *outActualSize = uint32_t(data.size());
    if (outData) std::memcpy(outData, data.data(), std::min<size_t>(inBufferSize, data.size()));
    return noErr;
}

OSStatus SetEventParameter(EventRef event, OSType inName, OSType inType, uint32_t inSize, const void* inData) {
    if (!event || (!inData && inSize)) return paramErr;
    const auto* p = static_cast<const uint8_t*>(inData);
    event->params[inName] = OpaqueEventRef::Param{inType, std::vector<uint8_t>(p, p + inSize)};
    return noErr;
}

OSStatus SendCommandToWindow(WindowRef window, uint32_t commandID) {
    if (!window) return paramErr;
    OpaqueEventRef e{kEventClassCommand, kEventCommandProcess, {}};
    HICommand cmd{0, commandID, {nullptr, 0}};
    SetEventParameter(&e, kEventParamDirectObject, typeHICommand, sizeof cmd, &cmd);
    return Dispatch(&window->target, nullptr, &e);
}

// --- Custom control classes -------------------------------------------------------------------

OSStatus RegisterToolboxObjectClass(CFStringRef classID, ToolboxObjectClassRef, uint32_t numEvents,
                                    const EventTypeSpec* eventList, EventHandlerUPP eventHandler, void* userData,
                                    ToolboxObjectClassRef* outClassRef) {
    const std::string id = CFText(classID);
    if (id.empty() || !eventHandler) return paramErr;
    auto cls = std::make_shared<OpaqueToolboxObjectClassRef>();
    cls->classID = id;
    cls->proc = eventHandler;
    cls->types.assign(eventList, eventList + numEvents);
    cls->userData = userData;
    auto old = gClasses.find(id);
    if (old != gClasses.end()) old->second->registered = false;
    gClasses[id] = cls;
    if (outClassRef) *outClassRef = cls.get();
    return noErr;
}

OSStatus UnregisterToolboxObjectClass(ToolboxObjectClassRef classRef) {
    for (auto it = gClasses.begin(); it != gClasses.end(); ++it)
        if (it->second.get() == classRef) {
            it->second->registered = false;  // controls still holding it stop hearing events
            gClasses.erase(it);
            return noErr;
        }
    return paramErr;
}

// --- Windows ----------------------------------------------------------------------------------------

OSStatus CreateNibReferenceWithCFBundle(CFBundleRef bundle, CFStringRef nibName, IBNibRef* outNibRef) {
    if (!outNibRef) return paramErr;
    *outNibRef = nullptr;
    const char* root = bundle ? CFBundleGetPath(bundle) : nullptr;
    if (!root) return paramErr;
    const std::string folder = std::string(root) + "/Resources/" + CFText(nibName) + ".nib";
    struct stat st;
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return fnfErr;
    *outNibRef = new OpaqueIBNibRef{folder};
    return noErr;
}

void DisposeNibReference(IBNibRef nibRef) { delete nibRef; }

OSStatus CreateWindowFromNib(IBNibRef nibRef, CFStringRef name, WindowRef* outWindow) {
    if (!outWindow) return paramErr;
    *outWindow = nullptr;
    if (!nibRef) return paramErr;
    QFile file(QString::fromStdString(nibRef->folder + "/" + CFText(name) + ".ui"));
    if (!file.exists()) return fnfErr;
    if (!EnsureApp()) return -30585;  // no display to open it on
    if (!file.open(QIODevice::ReadOnly)) return ioErr;
    Loader loader;
    QWidget* top = loader.load(&file);
    if (!top) return -30586;

    auto w = std::make_unique<OpaqueWindowPtr>();
    w->name = nibRef->folder.substr(nibRef->folder.find_last_of('/') + 1) + "/" + CFText(name);
    w->widget = top;
    top->setWindowModality(Qt::ApplicationModal);
    top->setFixedSize(top->size());
    top->setAttribute(Qt::WA_DeleteOnClose, false);

    QList<QWidget*> all = top->findChildren<QWidget*>();
    all.prepend(top);
    for (QWidget* widget : all) {
        if (auto* custom = dynamic_cast<VxCustomControl*>(widget)) {
            const std::string id = widget->property("classID").toString().toStdString();
            if (!gClasses.count(id)) {
                std::fprintf(stderr, "window %s: control class %s is not registered\n", w->name.c_str(), id.c_str());
                delete top;
                return errUnknownControl;
            }
            (void)custom;
        }
        if (widget->property("signature").isValid()) AddControl(w.get(), widget);
    }
    for (auto& c : w->controls)
        if (c->kind == Kind::Custom) c->cls = gClasses[c->widget->property("classID").toString().toStdString()];

    const int width = top->width(), height = top->height();
    const int32_t rowBytes = (width * 4 + 31) & ~15;
    w->pixels.assign(size_t(rowBytes) * size_t(height), 0);
    const QColor bg = top->palette().color(QPalette::Window);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &w->pixels[size_t(y) * rowBytes + 4 * size_t(x)];
            p[0] = 255;
            p[1] = uint8_t(bg.red());
            p[2] = uint8_t(bg.green());
            p[3] = uint8_t(bg.blue());
        }
    const Rect bounds{0, 0, int16_t(height), int16_t(width)};
    if (NewGWorldFromPtr(&w->port, &bounds, reinterpret_cast<Ptr>(w->pixels.data()), rowBytes) != noErr) {
        delete top;
        return memFullErr;
    }
    w->port->refCon = w.get();
    w->screen = QImage(width, height, QImage::Format_RGB32);
    auto* filter = new WindowFilter(w.get());
    filter->setParent(top);  // goes with the window
    top->installEventFilter(filter);

    *outWindow = w.release();
    gWindows.push_back(*outWindow);
    gCreated.push_back((*outWindow)->name);
    Flush(*outWindow, bounds);
    return noErr;
}

void ShowWindow(WindowRef window) {
    if (!window) return;
    window->widget->show();
    for (auto& c : window->controls) SendDraw(c.get());
}

void HideWindow(WindowRef window) {
    if (window) window->widget->hide();
}

Boolean IsWindowVisible(WindowRef window) { return window && window->widget->isVisible(); }

void BringToFront(WindowRef window) {
    if (!window) return;
    window->widget->raise();
    window->widget->activateWindow();
}

void DisposeWindow(WindowRef window) {
    if (!window) return;
    if (gTracker.control && gTracker.control->owner == window) gTracker = Tracker{};
    for (auto it = gWindows.begin(); it != gWindows.end(); ++it)
        if (*it == window) {
            gWindows.erase(it);
            break;
        }
    for (auto& c : window->controls)
        if (c->kind == Kind::Custom) static_cast<VxCustomControl*>(c->widget)->control = nullptr;
    window->widget->hide();
    delete window->widget;
    window->controls.clear();
    DisposeGWorld(window->port);
    delete window;
}

CGrafPtr GetWindowPort(WindowRef window) { return window ? window->port : nullptr; }
void SetPortWindowPort(WindowRef window) {
    if (window) SetPort(window->port);
}
WindowRef GetWindowFromPort(CGrafPtr port) {
    for (WindowRef w : gWindows)
        if (w->port == port) return w;
    return nullptr;
}

OSStatus RunAppModalLoopForWindow(WindowRef window) {
    if (!window) return paramErr;
    if (window->quitPending) {
        window->quitPending = false;
        return noErr;
    }
    if (!window->widget->isVisible()) ShowWindow(window);
    QEventLoop loop;
    window->loop = &loop;
    gModalStack.push_back(window);
    SchedulePump();
    loop.exec();
    gModalStack.pop_back();
    window->loop = nullptr;
    return noErr;
}

OSStatus QuitAppModalLoopForWindow(WindowRef window) {
    if (!window) return paramErr;
    if (window->loop)
        window->loop->exit(0);
    else
        window->quitPending = true;
    return noErr;
}

WindowRef GetFrontModalWindow() { return gModalStack.empty() ? nullptr : gModalStack.back(); }

// --- Controls --------------------------------------------------------------------------------------

OSStatus GetControlByID(WindowRef window, const ControlID* inID, ControlRef* outControl) {
    if (outControl) *outControl = nullptr;
    if (!window || !inID || !outControl) return paramErr;
    *outControl = FindControl(window, inID->signature, inID->id);
    return *outControl ? OSStatus(noErr) : OSStatus(errControlNotFound);
}

int32_t GetControl32BitValue(ControlRef control) { return control ? control->value : 0; }

void SetControl32BitValue(ControlRef c, int32_t value) {
    if (!c) return;
    value = std::max(c->minimum, std::min(c->maximum, value));
    const bool changed = value != c->value;
    c->value = value;
    c->settingValue = true;
    switch (c->kind) {
        case Kind::Slider: static_cast<QAbstractSlider*>(c->widget)->setValue(value); break;
        case Kind::Popup: static_cast<QComboBox*>(c->widget)->setCurrentIndex(value - 1); break;
        case Kind::CheckBox: static_cast<QCheckBox*>(c->widget)->setChecked(value != 0); break;
        default: break;
    }
    c->settingValue = false;
    if (changed) SendDraw(c);
}

int32_t GetControl32BitMinimum(ControlRef c) { return c ? c->minimum : 0; }
int32_t GetControl32BitMaximum(ControlRef c) { return c ? c->maximum : 0; }

void SetControl32BitMinimum(ControlRef c, int32_t minimum) {
    if (!c) return;
    c->minimum = minimum;
    c->settingValue = true;
    if (c->kind == Kind::Slider) static_cast<QAbstractSlider*>(c->widget)->setMinimum(minimum);
    c->settingValue = false;
    if (c->maximum < minimum) c->maximum = minimum;
    if (c->value < minimum) SetControl32BitValue(c, minimum);
}

void SetControl32BitMaximum(ControlRef c, int32_t maximum) {
    if (!c) return;
    c->maximum = maximum;
    c->settingValue = true;
    if (c->kind == Kind::Slider) static_cast<QAbstractSlider*>(c->widget)->setMaximum(maximum);
    c->settingValue = false;
    if (c->minimum > maximum) c->minimum = maximum;
    if (c->value > maximum) SetControl32BitValue(c, maximum);
}

void ShowControl(ControlRef c) {
    if (!c) return;
    c->widget->show();
    SendDraw(c);
}

void HideControl(ControlRef c) {
    if (c) c->widget->hide();
}

Boolean IsControlVisible(ControlRef c) { return c && !c->widget->isHidden(); }

OSStatus SetControlData(ControlRef c, ControlPartCode, OSType tag, int32_t size, const void* data) {
    if (!c || size < 0 || (size && !data)) return paramErr;
    if (tag != kControlStaticTextTextTag) return errControlNotFound;
    const QString text = FromMacRoman(static_cast<const uint8_t*>(data), size_t(size));
    if (auto* label = qobject_cast<QLabel*>(c->widget))
        label->setText(text);
    else if (auto* button = qobject_cast<QAbstractButton*>(c->widget))
        button->setText(text);
    else if (auto* edit = qobject_cast<QLineEdit*>(c->widget))
        edit->setText(text);
    else
        c->widget->setProperty("text", text);
    return noErr;
}

OSStatus GetControlData(ControlRef c, ControlPartCode, OSType tag, int32_t bufferSize, void* buffer,
                        int32_t* actualSize) {
    if (!c || tag != kControlStaticTextTextTag) return paramErr;
    QString text;
    if (auto* label = qobject_cast<QLabel*>(c->widget))
        text = label->text();
    else if (auto* button = qobject_cast<QAbstractButton*>(c->widget))
        text = button->text();
    else if (auto* box = qobject_cast<QComboBox*>(c->widget))
        text = box->currentText();
    else if (auto* edit = qobject_cast<QLineEdit*>(c->widget))
        text = edit->text();
    else
        text = c->widget->property("text").toString();
    const std::string bytes = ToMacRoman(text);
    if (actualSize) *actualSize = int32_t(bytes.size());
    if (buffer && bufferSize > 0) std::memcpy(buffer, bytes.data(), std::min<size_t>(size_t(bufferSize), bytes.size()));
    return noErr;
}

void Draw1Control(ControlRef c) {
    if (!c) return;
    if (c->kind == Kind::Custom)
        SendDraw(c);
    else
        c->widget->update();
}

Rect* GetControlBounds(ControlRef c, Rect* bounds) {
    if (!bounds) return bounds;
    if (!c) {
        *bounds = Rect{0, 0, 0, 0};
        return bounds;
    }
    const QPoint at = c->widget->mapTo(c->owner->widget, QPoint(0, 0));
    *bounds = Rect{int16_t(at.y()), int16_t(at.x()), int16_t(at.y() + c->widget->height()),
                   int16_t(at.x() + c->widget->width())};
    return bounds;
}

uint8_t GetControlHilite(ControlRef c) {
    if (!c) return 0;
    if (!c->widget->isEnabled()) return kControlDisabledPart;
    return c->hilite;
}

void HiliteControl(ControlRef c, ControlPartCode part) {
    if (!c) return;
    if (part == kControlDisabledPart || part == kControlInactivePart) {
        c->widget->setEnabled(false);
        c->hilite = 0;
    } else {
        c->widget->setEnabled(true);
        c->hilite = uint8_t(part);
    }
    SendDraw(c);
}

WindowRef GetControlOwner(ControlRef c) { return c ? c->owner : nullptr; }

OSStatus GetControlCommandID(ControlRef c, uint32_t* outCommandID) {
    if (!c || !outCommandID) return paramErr;
    *outCommandID = c->command;
    return noErr;
}

ControlActionUPP NewControlActionUPP(ControlActionProcPtr proc) { return proc; }
void DisposeControlActionUPP(ControlActionUPP) {}
void SetControlAction(ControlRef c, ControlActionUPP action) {
    if (c) c->action = action;
}

// --- Mouse tracking ------------------------------------------------------------------------------------

OSStatus TrackMouseLocation(GrafPtr, Point* outPt, MouseTrackingResult* outResult) {
    if (!gTracker.control) {
        if (outResult) *outResult = kMouseTrackingMouseUp;
        return paramErr;
    }
    FlushControl(gTracker.control);  // show what the last step drew before waiting
    ControlRef tracked = gTracker.control;
    while (gTracker.control == tracked && gTracker.pending.empty()) {
        QEventLoop loop;
        gTracker.loop = &loop;
        SchedulePump();
        loop.exec();
        if (gTracker.control == tracked) gTracker.loop = nullptr;
    }
    if (gTracker.control != tracked) {  // the window went away under the drag
        if (outResult) *outResult = kMouseTrackingMouseUp;
        return noErr;
    }
    auto [pt, result] = gTracker.pending.front();
    gTracker.pending.pop_front();
    if (outPt) *outPt = pt;
    if (outResult) *outResult = result;
    return noErr;
}

// --- Colour chooser -----------------------------------------------------------------------------------

OSStatus NPickColor(NColorPickerInfo* info) {
    if (!info) return paramErr;
    info->newColorChosen = false;
    const RGBColor start{info->theColor.color.rgb.red, info->theColor.color.rgb.green,
                         info->theColor.color.rgb.blue};
    const std::string prompt(reinterpret_cast<const char*>(info->prompt + 1), info->prompt[0]);
    if (gScripted) {
        gChooserCalls.push_back(tbtest::ChooserCall{prompt, start, info->dialogOrigin});
        if (gChooserAnswers.empty()) return noErr;
        auto [chosen, color] = gChooserAnswers.front();
        gChooserAnswers.pop_front();
        if (chosen) {
            info->theColor.color.rgb = CMRGBColor{color.red, color.green, color.blue};
            info->newColorChosen = true;
        }
        return noErr;
    }
    if (!EnsureApp()) return noErr;
    QColor initial = QColor::fromRgba64(QRgba64::fromRgba64(start.red, start.green, start.blue, 65535));
    WindowRef front = GetFrontModalWindow();
    const QString title = FromMacRoman(info->prompt + 1, info->prompt[0]);
    QColor chosen = QColorDialog::getColor(initial, front ? front->widget : nullptr, title);
    if (chosen.isValid()) {
        const QRgba64 c = chosen.rgba64();
        info->theColor.color.rgb = CMRGBColor{c.red(), c.green(), c.blue()};
        info->newColorChosen = true;
    }
    return noErr;
}

// --- Alerts ------------------------------------------------------------------------------------------------

OSStatus CreateStandardAlert(int16_t alertType, CFStringRef error, CFStringRef explanation,
                             const AlertStdCFStringAlertParamRec* param, DialogRef* outAlert) {
    if (!outAlert) return paramErr;
    auto* a = new OpaqueDialogRef{alertType, CFText(error), CFText(explanation), "OK", ""};
    if (param && param->defaultText) a->okText = CFText(param->defaultText);
    if (param && param->cancelText) a->cancelText = CFText(param->cancelText);
    *outAlert = a;
    return noErr;
}

OSStatus RunStandardAlert(DialogRef inAlert, void*, int16_t* outItemHit) {
    if (!inAlert) return paramErr;
    std::unique_ptr<OpaqueDialogRef> a(inAlert);
    int16_t hit = 1;
    if (gScripted) {
        gAlerts.push_back(tbtest::AlertRecord{a->kind, a->title, a->text, a->okText, a->cancelText});
        // Also on standard error, for tests that watch a process end.
        std::fprintf(stderr, "[alert %d] %s | %s\n", a->kind, a->title.c_str(), a->text.c_str());
    } else if (EnsureApp()) {
        WindowRef front = GetFrontModalWindow();
        QMessageBox box(a->kind == kAlertStopAlert ? QMessageBox::Critical
                        : a->kind == kAlertCautionAlert ? QMessageBox::Warning
                                                        : QMessageBox::Information,
                        QString::fromStdString(a->title), QString::fromStdString(a->title), QMessageBox::NoButton,
                        front ? front->widget : nullptr);
        box.setInformativeText(QString::fromStdString(a->text));
        QPushButton* ok = box.addButton(QString::fromStdString(a->okText), QMessageBox::AcceptRole);
        QPushButton* cancel = nullptr;
        if (!a->cancelText.empty()) cancel = box.addButton(QString::fromStdString(a->cancelText), QMessageBox::RejectRole);
        box.setDefaultButton(ok);
        box.exec();
        hit = (cancel && box.clickedButton() == cancel) ? 2 : 1;
    } else {
        std::fprintf(stderr, "%s %s\n", a->title.c_str(), a->text.c_str());
    }
    if (outItemHit) *outItemHit = hit;
    return noErr;
}

// --- Documents ---------------------------------------------------------------------------------------------

OSStatus LSOpenFSRef(const FSRef* inRef, FSRef* outLaunchedRef) {
    if (!inRef) return paramErr;
    if (outLaunchedRef) outLaunchedRef->path[0] = 0;
    struct stat st;
    if (::stat(inRef->path, &st) != 0) return fnfErr;
    if (gScripted) {
        gOpened.emplace_back(inRef->path);
        return noErr;
    }
    if (!EnsureApp()) return kLSApplicationNotFoundErr;
    const bool opened = QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromUtf8(inRef->path)));
    return opened ? OSStatus(noErr) : OSStatus(kLSApplicationNotFoundErr);
}

// --- Test driving ---------------------------------------------------------------------------------------------

namespace tbtest {

void SetScripted(bool on) { gScripted = on; }

void Reset() {
    gSteps.clear();
    gRanDry = false;
    gChooserAnswers.clear();
    gChooserCalls.clear();
    gAlerts.clear();
    gOpened.clear();
    gCreated.clear();
}

void PostMouse(MouseKind kind, Point where, uint32_t modifiers) {
    Post([kind, where, modifiers] {
        WindowRef w = GetFrontModalWindow();
        if (!w) return;
        if (kind == kDown) {
            QWidget* target = w->widget->childAt(QPoint(where.h, where.v));
            if (!target) target = w->widget;
            gPressedWidget = target;
            SendMouse(target, QEvent::MouseButtonPress, where, modifiers);
        } else if (gPressedWidget) {
            QWidget* target = gPressedWidget;
            if (kind == kUp) gPressedWidget = nullptr;
            SendMouse(target, kind == kDrag ? QEvent::MouseMove : QEvent::MouseButtonRelease, where, modifiers);
        }
    });
}

void PostClickAt(Point where, uint32_t modifiers) {
    PostMouse(kDown, where, modifiers);
    PostMouse(kUp, where, modifiers);
}

void PostClick(OSType signature, int32_t id) {
    Post([signature, id] {
        ControlRef c = FindControl(GetFrontModalWindow(), signature, id);
        if (!c) {
            std::fprintf(stderr, "toolbox script: no control to click\n");
            return;
        }
        if (c->kind == Kind::Custom) {
            Rect b;
            GetControlBounds(c, &b);
            const Point mid{int16_t((b.top + b.bottom) / 2), int16_t((b.left + b.right) / 2)};
            SendMouse(c->widget, QEvent::MouseButtonPress, mid, 0);
            SendMouse(c->widget, QEvent::MouseButtonRelease, mid, 0);
        } else if (auto* b = qobject_cast<QAbstractButton*>(c->widget)) {
            b->click();
        }
    });
}

void PostPopup(OSType signature, int32_t id, int32_t value) {
    Post([signature, id, value] {
        ControlRef c = FindControl(GetFrontModalWindow(), signature, id);
        auto* box = c ? qobject_cast<QComboBox*>(c->widget) : nullptr;
        if (!box) return;
        box->setCurrentIndex(value - 1);
        emit box->activated(value - 1);
    });
}

void PostSliderDrag(OSType signature, int32_t id, std::vector<int32_t> values,
                    std::function<void(int32_t)> afterEach) {
    Post([signature, id, values, afterEach] {
        ControlRef c = FindControl(GetFrontModalWindow(), signature, id);
        auto* s = c ? qobject_cast<QAbstractSlider*>(c->widget) : nullptr;
        if (!s) return;
        s->setSliderDown(true);
        for (int32_t v : values) {
            s->setSliderPosition(v);
            if (afterEach) afterEach(v);
        }
        s->setSliderDown(false);
    });
}

void PostCommand(uint32_t commandID) {
    Post([commandID] {
        if (WindowRef w = GetFrontModalWindow()) SendCommandToWindow(w, commandID);
    });
}

void PostCall(std::function<void()> f) { Post(std::move(f)); }
size_t PendingSteps() { return gSteps.size(); }
bool ScriptRanDry() { return gRanDry; }

void AnswerColorChooser(bool chosen, RGBColor color) { gChooserAnswers.emplace_back(chosen, color); }
std::vector<ChooserCall> ChooserCalls() { return gChooserCalls; }
std::vector<AlertRecord> Alerts() { return gAlerts; }
std::vector<std::string> OpenedDocuments() { return gOpened; }
std::vector<std::string> CreatedWindows() { return gCreated; }

std::string ControlText(WindowRef window, OSType signature, int32_t id) {
    ControlRef c = FindControl(window, signature, id);
    if (!c) return {};
    char buf[256];
    int32_t n = 0;
    if (GetControlData(c, 0, kControlStaticTextTextTag, sizeof buf, buf, &n) != noErr) return {};
    return std::string(buf, size_t(std::min<int32_t>(n, int32_t(sizeof buf))));
}

bool ControlExists(WindowRef window, OSType signature, int32_t id) {
    return FindControl(window, signature, id) != nullptr;
}

std::string WindowTitle(WindowRef window) { return window ? window->widget->windowTitle().toStdString() : ""; }

bool SaveWindowPicture(WindowRef window, const std::string& pngPath) {
    if (!window) return false;
    Flush(window, WindowBounds(window));
    return window->widget->grab().save(QString::fromStdString(pngPath), "PNG");
}

uint32_t ScreenPixel(WindowRef window, int h, int v) {
    if (!window || h < 0 || v < 0 || h >= window->screen.width() || v >= window->screen.height()) return 0;
    return window->screen.pixel(h, v) & 0xFFFFFFu;
}

}  // namespace tbtest
