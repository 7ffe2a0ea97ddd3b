// Controls: the widgets of a window that carry a control ID.
#include "ToolboxPrivate.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <algorithm>
#include <cstring>

namespace tbx {

namespace {

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

}  // namespace

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

}  // namespace tbx

using namespace tbx;

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
