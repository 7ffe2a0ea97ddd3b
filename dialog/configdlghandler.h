// The configuration dialog: opened by the host's custom button, edits the
// global record in place with a live preview, saves on OK and restores the
// record on Cancel.
#pragma once
#include <cstdint>

#include "host/HYPlugin.h"
#include "pipeline/pluginData.h"
#include "platform/toolbox/Toolbox.h"

#include "dialog/dialogConstants.h"

// Which colour boxes and effect sliders the dialog shows (entry i is box or
// slider i + 1).
constexpr int16_t cUsesColor[6] = {1, 0, 0, 0, 0, 0};
constexpr int16_t cUsesSlider[6] = {1, 1, 1, 0, 0, 0};
constexpr int16_t cUsedNumberOfRects = 1;

// Control signatures of the dialog's window definitions.
enum : OSType {
    kSigClip = FOUR_CHAR_CODE("Clip"),
    kSigColor = FOUR_CHAR_CODE("Colr"),
    kSigColorLegend = FOUR_CHAR_CODE("CLgd"),
    kSigSlider = FOUR_CHAR_CODE("Sldr"),
    kSigSliderText = FOUR_CHAR_CODE("Lgnd"),
    kSigSliderLabel = FOUR_CHAR_CODE("Labl"),
    kSigClipSlider = FOUR_CHAR_CODE("ClpS"),
    kSigClipText = FOUR_CHAR_CODE("ClpM"),
    kSigRect = FOUR_CHAR_CODE("Rect"),
    kSigMedia = FOUR_CHAR_CODE("Medi"),
    kSigMethod = FOUR_CHAR_CODE("Meth"),
    kSigKeep = FOUR_CHAR_CODE("Keep"),
};

// How the last modal loop of the dialog ended: 1 OK, 2 Cancel, 0 the video
// standard changed (reopen), -1 while a command runs.
extern WindowRef lgTheWindow;
extern int16_t lgItemHit;

// The custom-button message. Without a display it says so on standard error
// and fails without touching anything.
HYPluginResult CustomButton(int16_t which, HYPluginParams* params);
// Runs the dialog on theData with theGW as the source frame; theGW stays the
// caller's.
void ConfigurePlugIn(PluginDataRec* theData, GWorldPtr theGW, HYPluginParams* params, int32_t firstFrameIndex,
                     int32_t numberOfFrames);
void DoConfig(PluginDataRec* theConfig);
void SetupDialog(WindowRef theWindow, PluginDataRec* theConfig);
void SetupColors(WindowRef theWindow, PluginDataRec* theConfig);
void Config2Dlg(PluginDataRec* theConfig);
OSStatus TheDialogHandler(EventHandlerCallRef nextHandler, EventRef theEvent, void* userData);
