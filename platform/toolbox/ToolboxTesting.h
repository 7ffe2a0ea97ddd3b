// Driving windows without a user: a script of steps that the modal loops run
// one at a time, as if the user did them. Steps are real Qt input (mouse
// events, button clicks, slider moves) delivered to the innermost modal
// window, so handlers, tracking loops and nested windows run as they would
// by hand. Use with QT_QPA_PLATFORM=offscreen.
//
// In scripted mode the colour chooser, alerts and document opening show
// nothing: the chooser takes the next queued answer (cancel when none),
// alerts are recorded (and printed on standard error as
// "[alert KIND] TITLE | TEXT") and answer their default button, documents are
// recorded and "opened" successfully.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/toolbox/Toolbox.h"

namespace tbtest {

void SetScripted(bool on);
// Drops queued steps, answers and records.
void Reset();

// --- Steps ----------------------------------------------------------------------------
enum MouseKind { kDown, kDrag, kUp };
// A mouse event at a point of the innermost modal window (window
// coordinates). During a press, drags and the release go to the pressed
// control wherever the point is, as with a real mouse grab.
void PostMouse(MouseKind kind, Point where, uint32_t modifiers = 0);
// A press and release at the same point.
void PostClickAt(Point where, uint32_t modifiers = 0);
// Clicks the button, check box or custom control with this control ID.
void PostClick(OSType signature, int32_t id);
// The user picks entry `value` (from 1) of a pop-up, even the current one.
void PostPopup(OSType signature, int32_t id, int32_t value);
// The user drags a slider's thumb through these values and lets go;
// afterEach, when given, runs after each value while the thumb is held.
void PostSliderDrag(OSType signature, int32_t id, std::vector<int32_t> values,
                    std::function<void(int32_t)> afterEach = {});
// A key press (a kVK_ code) to the widget that has the keyboard focus in the
// innermost modal window; kVK_Tab moves the focus on, with shiftKey back.
void PostKey(uint32_t key, uint32_t modifiers = 0);
// A command as a menu or key would send it.
void PostCommand(uint32_t commandID);
// Runs f inside the loop (to look at the window between steps).
void PostCall(std::function<void()> f);
size_t PendingSteps();
// True when a modal loop was left running with no steps: the loop was then
// cancelled ("not!") so that the test ends instead of hanging.
bool ScriptRanDry();

// --- Answers and records ----------------------------------------------------------
void AnswerColorChooser(bool chosen, RGBColor color);
struct ChooserCall {
    std::string prompt;
    RGBColor start;
    Point origin;
};
std::vector<ChooserCall> ChooserCalls();
struct AlertRecord {
    int16_t kind;
    std::string title, text, okText, cancelText;
};
std::vector<AlertRecord> Alerts();
std::vector<std::string> OpenedDocuments();
// The next document opening answers this instead of success (as when no
// application opens that kind of file); it is recorded all the same.
void AnswerDocumentOpen(OSStatus result);

// --- Looking at windows ------------------------------------------------------------
// Text of a label, button or pop-up entry; empty when missing.
std::string ControlText(WindowRef window, OSType signature, int32_t id);
bool ControlExists(WindowRef window, OSType signature, int32_t id);
// True when that control has the window's keyboard focus.
bool ControlHasFocus(WindowRef window, OSType signature, int32_t id);
// The window a window opened over (nil for one of its own), and where the
// two stand on the screen: the centre of the window's frame.
WindowRef ParentWindow(WindowRef window);
Point WindowCentre(WindowRef window);
// Window title and size.
std::string WindowTitle(WindowRef window);
// Renders the window as on screen and writes it as PNG; false on failure.
bool SaveWindowPicture(WindowRef window, const std::string& pngPath);
// What the window's custom controls show at (h, v): 0x00RRGGBB.
uint32_t ScreenPixel(WindowRef window, int h, int v);
// Names of the windows created so far, in order (nib/window).
std::vector<std::string> CreatedWindows();

}  // namespace tbtest
