#include "dialog/sliderHandlers.h"

#include <cstdio>

#include "dialog/configdlghandler.h"
#include "effect/lineEffect.h"
#include "host/effectHandlers.h"
#include "pipeline/callPixelFX.h"
#include "pipeline/pluginData.h"
#include "support/CarbonMacros.h"
#include "support/commonprocs.h"

namespace {

const ControlActionProcPtr kSliderActions[6] = {Slider1Action, Slider2Action, Slider3Action,
                                                Slider4Action, Slider5Action, Slider6Action};

void SetValueText(int16_t n, int32_t v) {
    Str255 text, percent;
    Num2Text(v, text);
    CToPStr("%", percent);
    PStrCat(text, percent);
    SimpleSetControlText(gConfigWorkspace.theWindow, kSigSliderText, n, text);
}

void SliderAction(int16_t n, ControlRef theControl) {
    const int32_t v = GetControl32BitValue(theControl);
    gConfigWorkspace.theConfig->sliders[n - 1] = int16_t(v);
    SetValueText(n, v);
    if (n == 1) RenderLineArt(gConfigWorkspace.theConfig);  // the line art follows the first angle
    RerenderAndBlit();
}

}  // namespace

void ClipPositionText(int32_t position, Str255 outText) {
    Str255 slash, last;
    Num2Text(position, outText);
    CToPStr("/", slash);
    PStrCat(outText, slash);
    Num2Text(gConfigWorkspace.maxFrameIndex, last);
    PStrCat(outText, last);
}

void SetupSliders(WindowRef theWindow) {
    PluginWorkSpace& ws = gConfigWorkspace;
    for (int16_t i = 1; i <= 6; ++i) {
        ControlRef slider = SimpleGetControlByID(theWindow, kSigSlider, i);
        char msg[40];
        std::snprintf(msg, sizeof msg, "Cannot access slider %d", i);
        Assert(slider, msg);
        ws.sliders[i - 1] = slider;
        if (cUsesSlider[i - 1] == 1) {
            SetControlAction(slider, NewControlActionUPP(kSliderActions[i - 1]));
            SetControl32BitValue(slider, ws.theConfig->sliders[i - 1]);
            SetValueText(i, ws.theConfig->sliders[i - 1]);
        } else {
            SimpleHideControl(theWindow, kSigSlider, i);
            SimpleHideControl(theWindow, kSigSliderText, i);
            SimpleHideControl(theWindow, kSigSliderLabel, i);
        }
    }
    ws.clipSlider = SimpleGetControlByID(theWindow, kSigClipSlider, 1);
    Assert(ws.clipSlider, "Cannot access clip slider");
    SetControlAction(ws.clipSlider, NewControlActionUPP(ClipSliderAction));
    // Range first: the value is clamped to it.
    SetControl32BitMinimum(ws.clipSlider, 0);
    SetControl32BitMaximum(ws.clipSlider, ws.maxFrameIndex);
    SetControl32BitValue(ws.clipSlider, ws.currFrameIndex);
    Str255 text;
    ClipPositionText(ws.currFrameIndex, text);
    SimpleSetControlText(theWindow, kSigClipText, 1, text);
}

void Slider1Action(ControlRef theControl, ControlPartCode) { SliderAction(1, theControl); }
void Slider2Action(ControlRef theControl, ControlPartCode) { SliderAction(2, theControl); }
void Slider3Action(ControlRef theControl, ControlPartCode) { SliderAction(3, theControl); }
void Slider4Action(ControlRef theControl, ControlPartCode) { SliderAction(4, theControl); }
void Slider5Action(ControlRef theControl, ControlPartCode) { SliderAction(5, theControl); }
void Slider6Action(ControlRef theControl, ControlPartCode) { SliderAction(6, theControl); }

void ClipSliderAction(ControlRef theControl, ControlPartCode) {
    const int32_t v = GetControl32BitValue(theControl);
    gConfigWorkspace.currFrameIndex = v;
    Str255 text;
    ClipPositionText(v, text);
    SimpleSetControlText(gConfigWorkspace.theWindow, kSigClipText, 1, text);
    AccessRenderAndBlit(v);
}

void AccessRenderAndBlit(int32_t theVal) {
    PluginWorkSpace& ws = gConfigWorkspace;
    if (ws.iMovieParams)
        GetFrameIntoGW(ws.sourceClip, ws.iMovieParams, ws.minFrameIndex + theVal, cUseDisposeGWInSlider);
    RerenderAndBlit();
}

void RerenderAndBlit() {
    PluginWorkSpace& ws = gConfigWorkspace;
    CallPixelEffect(ws.sourceClip, ws.theFXClip);
    // The value means nothing; changing it is what redraws the editor.
    const uint32_t v = uint32_t(GetControl32BitValue(ws.theFrameCtrl));
    SetControl32BitValue(ws.theFrameCtrl, v > 0 ? 0 : 1);
}
