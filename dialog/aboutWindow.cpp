#include "dialog/aboutWindow.h"

#include <cstring>

#include "dialog/dialogConstants.h"
#include "support/CarbonMacros.h"
#include "support/commonprocs.h"
#include "support/nibWindow.h"

namespace {
WindowRef lgTheWindow = nullptr;
int16_t lgItemHit = -1;
}  // namespace

void ShowAbout() {
    CGrafPtr savedPort = nullptr;
    GDHandle savedDevice = nullptr;
    GetGWorld(&savedPort, &savedDevice);
    lgTheWindow = OpenNibWindowFromCFBundle(cMyBundleID, "about", "about");
    static const EventTypeSpec kCommandEvents[] = {{kEventClassCommand, kEventCommandProcess}};
    InstallEventHandler(GetWindowEventTarget(lgTheWindow), NewEventHandlerUPP(AboutDialogHandler), 1, kCommandEvents,
                        lgTheWindow, nullptr);
    Str255 text;
    CToPStr(cMyClearName, text);
    SimpleSetControlText(lgTheWindow, FOUR_CHAR_CODE("Plug"), 1, text);
    CToPStr("Version " cPlugVersion, text);
    SimpleSetControlText(lgTheWindow, FOUR_CHAR_CODE("Vers"), 1, text);
    ShowWindow(lgTheWindow);
    BringToFront(lgTheWindow);
    RunAppModalLoopForWindow(lgTheWindow);
    DisposeWindow(lgTheWindow);
    lgTheWindow = nullptr;
    SetGWorld(savedPort, savedDevice);
}

OSStatus AboutDialogHandler(EventHandlerCallRef, EventRef theEvent, void* userData) {
    OSStatus status = eventNotHandledErr;
    Str255 cmd;
    GetEventCommandStr(theEvent, cmd);
    lgItemHit = -1;
    if (std::memcmp(cmd, "\4ok  ", 5) == 0) {
        lgItemHit = 1;
        status = noErr;
        QuitAppModalLoopForWindow(static_cast<WindowRef>(userData));
    } else if (std::memcmp(cmd, "\4not!", 5) == 0) {
        lgItemHit = 2;
        status = noErr;
        QuitAppModalLoopForWindow(static_cast<WindowRef>(userData));
    }
    return status;
}
