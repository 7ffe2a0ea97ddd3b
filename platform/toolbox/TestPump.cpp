// Driving windows from a script of user steps (ToolboxTesting.h).
#include "ToolboxPrivate.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimer>
#include <algorithm>
#include <cstdio>

namespace tbx {

bool gScripted = false;
std::deque<std::pair<bool, RGBColor>> gChooserAnswers;
std::vector<tbtest::ChooserCall> gChooserCalls;
std::vector<tbtest::AlertRecord> gAlerts;
std::vector<std::string> gOpened;
std::deque<OSStatus> gOpenAnswers;
std::vector<std::string> gCreated;

namespace {

std::deque<std::function<void()>> gSteps;
bool gPumpScheduled = false;
bool gRanDry = false;
QPointer<QWidget> gPressedWidget;

void RunOneStep();

}  // namespace

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

namespace {

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

}  // namespace tbx

using namespace tbx;

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
    gOpenAnswers.clear();
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

void PostKey(uint32_t key, uint32_t modifiers) {
    Post([key, modifiers] {
        WindowRef w = GetFrontModalWindow();
        if (!w) return;
        int qtKey = 0;
        switch (key) {
            case kVK_Return: qtKey = Qt::Key_Return; break;
            case kVK_Tab: qtKey = (modifiers & shiftKey) ? Qt::Key_Backtab : Qt::Key_Tab; break;
            case kVK_Space: qtKey = Qt::Key_Space; break;
            case kVK_Escape: qtKey = Qt::Key_Escape; break;
            case kVK_LeftArrow: qtKey = Qt::Key_Left; break;
            case kVK_RightArrow: qtKey = Qt::Key_Right; break;
            case kVK_DownArrow: qtKey = Qt::Key_Down; break;
            case kVK_UpArrow: qtKey = Qt::Key_Up; break;
            default: return;
        }
        QWidget* target = w->widget->focusWidget();
        if (!target) target = w->widget;
        QKeyEvent press(QEvent::KeyPress, qtKey, QtModifiers(modifiers));
        QApplication::sendEvent(target, &press);
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
void AnswerDocumentOpen(OSStatus result) { gOpenAnswers.push_back(result); }
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

bool ControlHasFocus(WindowRef window, OSType signature, int32_t id) {
    ControlRef c = FindControl(window, signature, id);
    return c && window->widget->focusWidget() == c->widget;
}

WindowRef ParentWindow(WindowRef window) {
    QWidget* over = window ? window->widget->parentWidget() : nullptr;
    for (WindowRef w : gWindows)
        if (over && w->widget == over) return w;
    return nullptr;
}

Point WindowCentre(WindowRef window) {
    if (!window) return Point{0, 0};
    const QPoint c = window->widget->frameGeometry().center();
    return Point{int16_t(c.y()), int16_t(c.x())};
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
