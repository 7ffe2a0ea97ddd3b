// Custom control classes: registration, the events their controls hear,
// and mouse tracking inside a track event.
#include "ToolboxPrivate.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace tbx {

std::map<std::string, std::shared_ptr<OpaqueToolboxObjectClassRef>> gClasses;
Tracker gTracker;

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
VxCustomControl::VxCustomControl(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFocusPolicy(Qt::ClickFocus);
}

Point VxCustomControl::WindowPoint(const QPointF& local) const {
    const QPoint p = mapTo(control->owner->widget, local.toPoint());
    return Point{int16_t(p.y()), int16_t(p.x())};
}

void VxCustomControl::paintEvent(QPaintEvent* e) {
    if (!control) return;
    QPainter p(this);
    const QPoint at = mapTo(control->owner->widget, QPoint(0, 0));
    p.drawImage(e->rect().topLeft(), control->owner->screen, e->rect().translated(at));
    if (hasFocus()) {  // on screen only: the port keeps what the class drew
        // Over the control's outermost pixels only, where controls draw their
        // border, so that nothing the class drew inside is hidden.
        p.setPen(QPen(palette().color(QPalette::Highlight), 1));
        p.setBrush(Qt::NoBrush);
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

void VxCustomControl::focusInEvent(QFocusEvent* e) {
    QWidget::focusInEvent(e);
    update();
}

void VxCustomControl::focusOutEvent(QFocusEvent* e) {
    QWidget::focusOutEvent(e);
    update();
}

void VxCustomControl::keyPressEvent(QKeyEvent* e) {
    uint32_t key = 0;
    switch (e->key()) {
        case Qt::Key_Left: key = kVK_LeftArrow; break;
        case Qt::Key_Right: key = kVK_RightArrow; break;
        case Qt::Key_Up: key = kVK_UpArrow; break;
        case Qt::Key_Down: key = kVK_DownArrow; break;
        case Qt::Key_Space: key = kVK_Space; break;
        case Qt::Key_Return:
        case Qt::Key_Enter: key = kVK_Return; break;
        default: break;
    }
    if (!control || !key || GetControlHilite(control) >= kControlDisabledPart) {
        e->ignore();  // on to the window: Escape, Tab, Return as OK
        return;
    }
    const uint32_t mods = Modifiers(e->modifiers());
    if (control->cls && control->cls->registered) {
        bool wants = false;
        for (const auto& t : control->cls->types)
            if (t.eventClass == kEventClassKeyboard && t.eventKind == kEventRawKeyDown) wants = true;
        if (wants) {
            OpaqueEventRef ev = ControlEvent(kEventRawKeyDown, control);
            ev.eventClass = kEventClassKeyboard;
            SetEventParameter(&ev, kEventParamKeyCode, typeUInt32, sizeof key, &key);
            SetEventParameter(&ev, kEventParamKeyModifiers, typeUInt32, sizeof mods, &mods);
            const OSStatus status = Dispatch(&control->target, control->cls.get(), &ev);
            if (control) FlushControl(control);
            if (status != eventNotHandledErr) return;
        }
    }
    if (key == kVK_Space || (key == kVK_Return && control->command)) {
        SendHit(control, 1, mods);
        return;
    }
    e->ignore();
}

void VxCustomControl::mousePressEvent(QMouseEvent* e) {
    if (!control || e->button() != Qt::LeftButton) return;
    CustomMouseDown(control, WindowPoint(e->position()), Modifiers(e->modifiers()));
}

void VxCustomControl::mouseMoveEvent(QMouseEvent* e) {
    if (!control || gTracker.control != control || !(e->buttons() & Qt::LeftButton)) return;
    gTracker.pending.emplace_back(WindowPoint(e->position()), kMouseTrackingMouseDragged);
    if (gTracker.loop) gTracker.loop->quit();
}

void VxCustomControl::mouseReleaseEvent(QMouseEvent* e) {
    if (!control || e->button() != Qt::LeftButton) return;
    if (gTracker.control == control) {
        gTracker.pending.emplace_back(WindowPoint(e->position()), kMouseTrackingMouseUp);
        if (gTracker.loop) gTracker.loop->quit();
        return;
    }
    CustomMouseUp(control, WindowPoint(e->position()), Modifiers(e->modifiers()));
}

}  // namespace tbx

using namespace tbx;

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
