#include "dialog/configdlghandler.h"

#include <strings.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "dialog/aboutWindow.h"
#include "dialog/clipCTRL.h"
#include "dialog/colorCTRL.h"
#include "dialog/dlgUtils.h"
#include "dialog/pictCTRL.h"
#include "dialog/sliderHandlers.h"
#include "effect/lineEffect.h"
#include "host/effectHandlers.h"
#include "pipeline/callPixelFX.h"
#include "pipeline/prefsloader.h"
#include "support/CarbonMacros.h"
#include "support/commonprocs.h"
#include "support/nibWindow.h"

WindowRef lgTheWindow = nullptr;
int16_t lgItemHit = -1;

namespace {

bool Is(ConstStr255Param s, const char* cmd) {
    return s[0] == std::strlen(cmd) && std::memcmp(s + 1, cmd, s[0]) == 0;
}

// Alerts become message boxes once a display is there; without one the
// text on standard error is all there is.
int16_t PresentAlert(int16_t kind, const char* title, const char* text, const char* okText,
                     const char* cancelText) {
    if (!ToolboxCanOpenWindows(nullptr)) return 1;
    AlertStdCFStringAlertParamRec param{};
    param.version = 1;
    param.movable = true;
    // Buttons read "OK" as everywhere on this desktop, whatever case the caller used.
    const bool plainOk = !okText || !*okText || strcasecmp(okText, "ok") == 0;
    param.defaultText = CFStringCreateWithCString(nullptr, plainOk ? "OK" : okText, kCFStringEncodingUTF8);
    param.cancelText =
        cancelText && *cancelText ? CFStringCreateWithCString(nullptr, cancelText, kCFStringEncodingUTF8) : nullptr;
    param.defaultButton = 1;
    param.cancelButton = 2;
    CFStringRef t = CFStringCreateWithCString(nullptr, title, kCFStringEncodingUTF8);
    CFStringRef m = CFStringCreateWithCString(nullptr, text, kCFStringEncodingUTF8);
    DialogRef alert = nullptr;
    int16_t hit = 1;
    if (CreateStandardAlert(kind, t, m, &param, &alert) == noErr) RunStandardAlert(alert, nullptr, &hit);
    CFRelease(t);
    CFRelease(m);
    CFRelease(param.defaultText);
    if (param.cancelText) CFRelease(param.cancelText);
    return hit;
}

const bool gAlertsInstalled = (SetAlertPresenter(PresentAlert), true);

void OpenManual() {
    CFStringRef theID = CFStringCreateWithCString(nullptr, cMyBundleID, kCFStringEncodingUTF8);
    CFBundleRef theBundle = CFBundleGetBundleWithIdentifier(theID);
    CFRelease(theID);
    if (!theBundle) Notify("Cannot Locate Bundle. Proceed with caution. Crash imminent");
    CFStringRef name = CFStringCreateWithCString(nullptr, "manual", kCFStringEncodingUTF8);
    CFStringRef type = CFStringCreateWithCString(nullptr, "pdf", kCFStringEncodingUTF8);
    CFURLRef theURL = theBundle ? CFBundleCopyResourceURL(theBundle, name, type, nullptr) : nullptr;
    CFRelease(name);
    CFRelease(type);
    if (!theURL) {
        Notify("Cannot locate manual in bundle");
        return;
    }
    FSRef theRef;
    if (CFURLGetFSRef(theURL, &theRef)) {
        const OSStatus err = LSOpenFSRef(&theRef, nullptr);
        if (err != noErr) {
            // Name the file, so that a user without a PDF viewer can still get at it.
            Str255 num;
            Num2Text(err, num);
            const std::string msg = "LSOpen failed with " + PToCString(num) + ": no application opened the manual, " +
                                    CFURLGetPath(theURL);
            Notify(msg.c_str());
        }
    }
    CFRelease(theURL);
}

// The clip slider one step on, as the step buttons move it.
void StepClip(int32_t delta) {
    PluginWorkSpace& ws = gConfigWorkspace;
    int32_t v = GetControl32BitValue(ws.clipSlider);
    if ((delta > 0 && v < ws.maxFrameIndex) || (delta < 0 && v > 0)) {
        v += delta;
        SetControl32BitValue(ws.clipSlider, v);
        ws.currFrameIndex = v;  // so a reopened window stands where the preview is
        AccessRenderAndBlit(v);
        Str255 text;
        ClipPositionText(v, text);
        SimpleSetControlText(ws.theWindow, kSigClipText, 1, text);
    }
}

}  // namespace

HYPluginResult CustomButton(int16_t, HYPluginParams* params) {
    (void)gAlertsInstalled;
    const char* why = "";
    if (!ToolboxCanOpenWindows(&why)) {
        std::fprintf(stderr, "vexolumen: cannot open the configuration dialog: %s\n", why);
        return kPluginFailed;
    }
    if (!params || !params->procs) return kPluginBadParams;
    const int32_t frame = params->renderFrame + gMostRecentStartFrame;
    int32_t width = 720, height = 480;
    switch (GetMediaFormat(gPluginData)) {
        case 2: height = 576; break;
        case 3: width = 960; height = 540; break;
        default: break;
    }
    GWorldPtr theGW = nullptr;
    int16_t volume = 0;
    void* cookie = nullptr;
    if (params->procs->GetFrame)
        params->procs->GetFrame(params->instance, frame, &theGW, width, height, kDVHighQuality, &volume,
                                      &cookie);
    // A host that has no frame to give still gets a dialog: on black.
    GWorldPtr blackFrame = nullptr;
    if (!theGW) {
        const Rect r{0, 0, int16_t(height), int16_t(width)};
        blackFrame = AllocateRectGWorld(r);
        Assert(blackFrame, "Unable to allocate a frame for the dialog");
        theGW = blackFrame;
    }
    ConfigurePlugIn(gPluginData, theGW, params, frame, gMostRecentFrameCount);
    DisposeGWorld(blackFrame);
    if (params->procs->ReleaseFrame) params->procs->ReleaseFrame(params->instance, cookie);
    return kPluginOK;
}

void ConfigurePlugIn(PluginDataRec* theData, GWorldPtr theGW, HYPluginParams* params, int32_t firstFrameIndex,
                     int32_t numberOfFrames) {
    PluginWorkSpace& ws = gConfigWorkspace;
    gTheConfig = theData;
    ws.theConfig = gTheConfig;
    ws.sourceClip = theGW;
    ws.iMovieParams = params;
    ws.currFrameIndex = 0;
    ws.minFrameIndex = firstFrameIndex;
    if (numberOfFrames < 1) numberOfFrames = 1;
    ws.maxFrameIndex = numberOfFrames - 1;
    ws.activeRel = 1;
    ws.theFXClip = AllocateRectGWorld(GetPortRect(theGW));
    Assert(ws.theFXClip, "Unable to allocate theProcessed in ConffigurePlug Init run");
    Assert(theData, "uninited theData in Configure master proc. need to call init before calling me");
    CallPixelEffect(theGW, ws.theFXClip);

    RegisterColorBox();
    RegisterClipCtrl();
    RegisterPictureControl();
    DoConfig(gTheConfig);
    UnregisterClipCtrl();
    UnregisterColorBox();
    UnregisterPictureControl();

    DisposeGWorld(ws.theFXClip);
    ws.theFXClip = nullptr;
}

void DoConfig(PluginDataRec* theConfig) {
    Assert(theConfig, "Nil theConfig on DoConfig");
    PluginDataRec theBackup;
    std::memcpy(&theBackup, theConfig, sizeof theBackup);
    static const EventTypeSpec kCommandEvents[] = {{kEventClassCommand, kEventCommandProcess}};
    do {
        const char* name = "configNTSC";
        if (theConfig->mediaType == 2) name = "configPAL";
        if (theConfig->mediaType == 3) name = "configHD";
        lgTheWindow = OpenNibWindowFromCFBundle(cMyBundleID, cMyPluginName, name);
        InstallEventHandler(GetWindowEventTarget(lgTheWindow), NewEventHandlerUPP(TheDialogHandler), 1,
                            kCommandEvents, lgTheWindow, nullptr);
        SetupDialog(lgTheWindow, theConfig);
        ShowWindow(lgTheWindow);
        SetPortWindowPort(lgTheWindow);
        BringToFront(lgTheWindow);
        RunAppModalLoopForWindow(lgTheWindow);
        DisposeWindow(lgTheWindow);
        lgTheWindow = nullptr;
        gConfigWorkspace.theWindow = nullptr;
    } while (lgItemHit != 1 && lgItemHit != 2);

    if (lgItemHit == 1)
        SaveConfig(theConfig);
    else
        std::memcpy(theConfig, &theBackup, sizeof theBackup);
}

void SetupDialog(WindowRef theWindow, PluginDataRec* theConfig) {
    Assert(theWindow, "Nil Window in SetupDialog");
    Assert(theConfig, "Nil theConfig in SetupDialog");
    PluginWorkSpace& ws = gConfigWorkspace;
    ws.theWindow = theWindow;
    ws.theFrameCtrl = SimpleGetControlByID(theWindow, kSigClip, 1);
    Assert(ws.theFrameCtrl, "Cannot acces Clip 1 CTRL");
    SetupColors(theWindow, theConfig);
    SetupSliders(theWindow);
    SimpleHideControl(theWindow, kSigRect, 1);
    SimpleHideControl(theWindow, kSigRect, 2);
    SimpleSetControlValueByID(theWindow, kSigMedia, 1, theConfig->mediaType);
    Config2Dlg(ws.theConfig);
    CalcAndKeepImageProps();
    RenderLineArt(ws.theConfig);
    RerenderAndBlit();
}

void SetupColors(WindowRef theWindow, PluginDataRec* theConfig) {
    for (int16_t i = 1; i <= 6; ++i) {
        ControlRef box = SimpleGetControlByID(theWindow, kSigColor, i);
        char msg[64];
        std::snprintf(msg, sizeof msg, "Cannot allocate color%d in SetupDialog", i);
        Assert(box, msg);
        SetControl32BitMinimum(box, 0);
        SetControl32BitMaximum(box, 16777215);
        SetControl32BitValue(box, RGBColor2LongInt(theConfig->colors[i - 1]));
        if (cUsesColor[i - 1] == 1) {
            ShowControl(box);
            SimpleShowControl(theWindow, kSigColorLegend, i);
        } else {
            HideControl(box);
            SimpleHideControl(theWindow, kSigColorLegend, i);
        }
        gConfigWorkspace.colors[i - 1] = box;
    }
}

void Config2Dlg(PluginDataRec* theConfig) {
    PluginWorkSpace& ws = gConfigWorkspace;
    for (int i = 0; i < 6; ++i) SetControl32BitValue(ws.colors[i], RGBColor2LongInt(theConfig->colors[i]));
    for (int16_t i = 1; i <= 6; ++i) {
        SetControl32BitValue(ws.sliders[i - 1], theConfig->sliders[i - 1]);
        Str255 text, percent;
        Num2Text(theConfig->sliders[i - 1], text);
        CToPStr("%", percent);
        PStrCat(text, percent);
        SimpleSetControlText(ws.theWindow, kSigSliderText, i, text);
    }
    SimpleSetControlValueByID(ws.theWindow, kSigMethod, 1, theConfig->method);
    // The check box shows the record's setting like every other control, so
    // that Reset cannot leave it ticked over a setting that is off.
    SimpleSetControlValueByID(ws.theWindow, kSigKeep, 1, theConfig->keepProps ? 1 : 0);
    RerenderAndBlit();
}

OSStatus TheDialogHandler(EventHandlerCallRef, EventRef theEvent, void* userData) {
    OSStatus status = eventNotHandledErr;
    Str255 cmd;
    GetEventCommandStr(theEvent, cmd);
    lgItemHit = -1;
    PluginWorkSpace& ws = gConfigWorkspace;
    PluginDataRec* theConfig = ws.theConfig;
    WindowRef theWindow = ws.theWindow;

    if (Is(cmd, "ok  ")) {
        lgItemHit = 1;
        QuitAppModalLoopForWindow(static_cast<WindowRef>(userData));
        status = noErr;
    } else if (Is(cmd, "not!")) {
        lgItemHit = 2;
        QuitAppModalLoopForWindow(static_cast<WindowRef>(userData));
        status = noErr;
    } else if (Is(cmd, "Info")) {
        ShowAbout();
        status = noErr;
    } else if (cmd[1] == 'C' && cmd[2] == 'o' && cmd[3] == 'l' && cmd[4] >= '1' && cmd[4] <= '6') {
        const int16_t i = int16_t(cmd[4] - '0');
        const int32_t v = SimpleGetControlValueByID(theWindow, kSigColor, i);
        theConfig->colors[i - 1] = LongInt2RGBColor(v);
        RerenderAndBlit();
        status = noErr;
    } else if (Is(cmd, "Adva")) {
        StepClip(+1);
        status = noErr;
    } else if (Is(cmd, "Revi")) {
        StepClip(-1);
        status = noErr;
    } else if (Is(cmd, "Rset")) {
        const int16_t keepMedia = theConfig->mediaType;
        ResetConfig(theConfig, false);
        theConfig->mediaType = keepMedia;
        Config2Dlg(theConfig);
        RenderLineArt(theConfig);
        RerenderAndBlit();
    } else if (Is(cmd, "Medi")) {
        const int16_t prev = theConfig->mediaType;
        theConfig->mediaType = int16_t(SimpleGetControlValueByID(theWindow, kSigMedia, 1));
        if (theConfig->mediaType != prev) {
            lgItemHit = 0;
            QuitAppModalLoopForWindow(static_cast<WindowRef>(userData));
        }
        status = noErr;
    } else if (Is(cmd, "Sall")) {
        RelRect whole;
        InitRelRect(whole);
        PutCurrentRel(whole);
        RerenderAndBlit();
        status = noErr;
    } else if (Is(cmd, "Help")) {
        OpenManual();
        status = noErr;
    } else if (Is(cmd, "Keep")) {
        theConfig->keepProps = SimpleGetControlValueByID(theWindow, kSigKeep, 1) == 1;
        CalcAndKeepImageProps();
        RerenderAndBlit();
        status = noErr;
    } else if (Is(cmd, "Meth")) {
        theConfig->method = int16_t(SimpleGetControlValueByID(theWindow, kSigMethod, 1));
        RerenderAndBlit();
        status = noErr;
    }
    return status;
}
