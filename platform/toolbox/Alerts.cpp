// Standard alerts.
#include "ToolboxPrivate.h"

#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <cstdio>

using namespace tbx;

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
    } else if (EnsureApp() && QGuiApplication::platformName() != QLatin1String("offscreen") &&
               QGuiApplication::platformName() != QLatin1String("minimal")) {
        WindowRef front = FrontWindow();
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
    } else if (!gApp) {
        std::fprintf(stderr, "%s %s\n", a->title.c_str(), a->text.c_str());
    }
    if (outItemHit) *outItemHit = hit;
    return noErr;
}
