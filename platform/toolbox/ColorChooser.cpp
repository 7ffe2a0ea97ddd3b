// The colour chooser.
#include "ToolboxPrivate.h"

#include <QColorDialog>
#include <string>

using namespace tbx;

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
    WindowRef front = FrontWindow();
    const QString title = FromMacRoman(info->prompt + 1, info->prompt[0]);
    QColor chosen = QColorDialog::getColor(initial, front ? front->widget : nullptr, title);
    if (chosen.isValid()) {
        const QRgba64 c = chosen.rgba64();
        info->theColor.color.rgb = CMRGBColor{c.red(), c.green(), c.blue()};
        info->newColorChosen = true;
    }
    return noErr;
}
