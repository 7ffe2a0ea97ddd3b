// The configuration dialog driven through the custom-button handler, with a
// test host for frames, windows on Qt's offscreen platform and the user's
// input from a toolbox script.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "dialog/aboutWindow.h"
#include "dialog/configdlghandler.h"
#include "host/effectHandlers.h"
#include "pipeline/callPixelFX.h"
#include "pipeline/pluginData.h"
#include "pipeline/prefsloader.h"
#include "platform/toolbox/ToolboxTesting.h"
#include "support/CarbonMacros.h"
#include "support/commonprocs.h"
#include "tests/testhost/TestHost.h"

// The entry point's global record; this program has no entry point.
PluginDataRec* gPluginData = nullptr;

namespace {

namespace fs = std::filesystem;
using tbtest::kDown;
using tbtest::kDrag;
using tbtest::kUp;

Point Pt(int h, int v) { return Point{int16_t(v), int16_t(h)}; }

std::string Text(OSType sig, int32_t id) { return tbtest::ControlText(lgTheWindow, sig, id); }

bool SameRel(const RelRect& a, const RelRect& b) {
    return a.left == b.left && a.right == b.right && a.top == b.top && a.bottom == b.bottom;
}

uint32_t PixelAt(GWorldPtr gw, int h, int v) {
    PixMapHandle pm = GetGWorldPixMap(gw);
    const auto* p = reinterpret_cast<const uint8_t*>(GetPixBaseAddr(pm)) + int64_t(v) * GetPixRowBytes(pm) + 4 * h;
    return (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

bool SamePixels(GWorldPtr a, GWorldPtr b) {
    const Rect r = GetPortRect(a);
    const Rect rb = GetPortRect(b);
    if (!EqualRect(&r, &rb)) return false;
    PixMapHandle pa = GetGWorldPixMap(a), pb = GetGWorldPixMap(b);
    for (int y = 0; y < r.bottom; ++y)
        if (std::memcmp(GetPixBaseAddr(pa) + int64_t(y) * GetPixRowBytes(pa),
                        GetPixBaseAddr(pb) + int64_t(y) * GetPixRowBytes(pb), size_t(r.right) * 4) != 0)
            return false;
    return true;
}

// The preview holds the source rendered with the record as it is now, and
// the editor on screen shows it.
void ExpectPreviewCurrent(const char* where) {
    SCOPED_TRACE(where);
    PluginWorkSpace& ws = gConfigWorkspace;
    GWorldPtr expect = AllocateRectGWorld(GetPortRect(ws.sourceClip));
    CallPixelEffect(ws.sourceClip, expect);
    EXPECT_TRUE(SamePixels(expect, ws.theFXClip));
    DisposeGWorld(expect);
    const Rect b = GetControlBox(ws.theFrameCtrl);
    const Rect src = GetPortRect(ws.theFXClip);
    const int dx = (b.right - b.left) / 2, dy = (b.bottom - b.top) / 2;
    EXPECT_EQ(tbtest::ScreenPixel(lgTheWindow, b.left + dx, b.top + dy),
              PixelAt(ws.theFXClip, dx * src.right / (b.right - b.left), dy * src.bottom / (b.bottom - b.top)));
}

class DialogTest : public testing::Test {
protected:
    void SetUp() override {
        tbtest::Reset();
        tbtest::SetScripted(true);
        host = std::make_unique<TestHost>(72, 48, 10);
        host->params.selector = kPlugCustomButtonClick;
        uint32_t size = 0;
        pGetConfigSize(size);
        gPluginData = static_cast<PluginDataRec*>(std::calloc(1, size));
        InitMyPlugIn(gPluginData);
        gMostRecentStartFrame = 0;
        gMostRecentFrameCount = 10;
    }
    void TearDown() override {
        EXPECT_FALSE(tbtest::ScriptRanDry()) << "the script ended before the dialog closed";
        EXPECT_EQ(tbtest::PendingSteps(), 0u) << "the dialog closed before the script ended";
        std::free(gPluginData);
        gPluginData = nullptr;
    }
    HYPluginResult Open() { return CustomButton(0, &host->params); }
    // Sets a rectangle of a quarter inset on every side before the dialog opens.
    void InsetRectangle() { gPluginData->startRel = RelRect{0.25, 0.75, 0.25, 0.75}; }
    // The rectangle on screen right now.
    static Rect OnScreen() {
        return Rel2Rect(gConfigWorkspace.theConfig->startRel, GetControlBox(gConfigWorkspace.theFrameCtrl));
    }
    static RelRect Stored(const Rect& r) { return Rect2Rel(r, GetControlBox(gConfigWorkspace.theFrameCtrl)); }

    std::unique_ptr<TestHost> host;
};

TEST_F(DialogTest, AngleSliderDragsWriteRecordTextAndPreviewAtEveryStep) {
    uint32_t lastCentre = 0;
    tbtest::PostCall([&] {
        EXPECT_EQ(tbtest::WindowTitle(lgTheWindow), "Vexolumen — Colour Rotation (NTSC)");
        EXPECT_EQ(Text(kSigSliderText, 1), "100%");
        EXPECT_EQ(Text(kSigSliderText, 4), "0%");  // hidden sliders get their text too
        ExpectPreviewCurrent("on opening");
        lastCentre = PixelAt(gConfigWorkspace.theFXClip, 360, 240);
    });
    const int16_t steps[] = {-50, 0, 37, 150};
    for (int i = 0; i < 4; ++i) {
        tbtest::PostSliderDrag(kSigSlider, 1, {steps[i]});
        tbtest::PostCall([&, i] {
            EXPECT_EQ(gPluginData->sliders[0], steps[i]);
            EXPECT_EQ(Text(kSigSliderText, 1), std::to_string(steps[i]) + "%");
            ExpectPreviewCurrent("after a step of slider 1");
            const uint32_t centre = PixelAt(gConfigWorkspace.theFXClip, 360, 240);
            EXPECT_NE(centre, lastCentre) << "step " << i;
            lastCentre = centre;
        });
    }
    // Within one drag the record, the text and the preview follow the thumb.
    tbtest::PostSliderDrag(kSigSlider, 2, {90, 80, -120}, [&](int32_t v) {
        EXPECT_EQ(gPluginData->sliders[1], v);
        EXPECT_EQ(Text(kSigSliderText, 2), std::to_string(v) + "%");
        ExpectPreviewCurrent("during a drag of slider 2");
    });
    tbtest::PostSliderDrag(kSigSlider, 3, {5});
    tbtest::PostCall([&] {
        EXPECT_EQ(gPluginData->sliders[1], -120);
        EXPECT_EQ(Text(kSigSliderText, 2), "-120%");
        EXPECT_EQ(gPluginData->sliders[2], 5);
        EXPECT_EQ(gPluginData->sliders[3], 0);
        ExpectPreviewCurrent("after sliders 2 and 3");
    });
    tbtest::PostClick(FOUR_CHAR_CODE("Butn"), 7);  // Cancel
    EXPECT_EQ(Open(), kPluginOK);
    EXPECT_EQ(gPluginData->sliders[0], 100);
    EXPECT_EQ(gPluginData->sliders[1], 100);
    EXPECT_EQ(gPluginData->sliders[2], 100);
}

TEST_F(DialogTest, CornerDragsStoreTheRectanglesTheHandlesGive) {
    InsetRectangle();
    Rect start{};
    auto drag = [&](Point from, Point to, uint32_t mods) {
        tbtest::PostMouse(kDown, from, mods);
        tbtest::PostMouse(kDrag, to, mods);
        tbtest::PostMouse(kUp, to, mods);
    };
    auto expect = [&](const char* what, Rect want) {
        tbtest::PostCall([&, what, want] {
            SCOPED_TRACE(what);
            EXPECT_TRUE(SameRel(gPluginData->startRel, Stored(want)));
            ExpectPreviewCurrent(what);
            // The outline in the frame colour (red) along the top edge.
            const Rect r = OnScreen();
            if (!EmptyRect(&r)) {
                EXPECT_EQ(tbtest::ScreenPixel(lgTheWindow, (r.left + r.right) / 2, r.top), 0xFF0000u);
            }
        });
    };
    auto restore = [&] { tbtest::PostCall([&] { gPluginData->startRel = Stored(start); }); };

    tbtest::PostCall([&] {
        start = OnScreen();  // (106, 76) - (286, 196) in a 360 x 240 editor at (16, 16)
        EXPECT_EQ(start.left, 106);
        EXPECT_EQ(start.bottom, 196);
    });
    // Bottom-right by (+10, +10).
    drag(Pt(286, 196), Pt(296, 206), 0);
    expect("bottom-right", Rect{76, 106, 206, 296});
    restore();
    // The same with option: the opposite corner moves the other way.
    drag(Pt(286, 196), Pt(296, 206), optionKey);
    expect("bottom-right with option", Rect{66, 96, 206, 296});
    restore();
    // Top-left dragged past the bottom-right corner turns the rectangle over.
    drag(Pt(106, 76), Pt(300, 210), 0);
    expect("turned over", Rect{196, 286, 210, 300});
    restore();
    // Onto the opposite edge's row: zero height.
    drag(Pt(286, 76), Pt(286, 196), 0);
    expect("zero height", Rect{196, 106, 196, 286});
    restore();
    // Shift on a rectangle wider than tall: the width follows the mouse and
    // the bottom comes from the proportions (210 wide, 3:2, so 140 high).
    drag(Pt(286, 196), Pt(316, 196), shiftKey);
    expect("shift, wide", Rect{76, 106, 216, 316});
    restore();
    // Keep proportions: a purely vertical drag is undone by the 3:2 editor.
    tbtest::PostClick(kSigKeep, 1);
    tbtest::PostCall([&] { EXPECT_TRUE(gPluginData->keepProps); });
    drag(Pt(286, 196), Pt(286, 226), 0);
    expect("keep proportions", Rect{76, 106, 196, 286});
    tbtest::PostClick(kSigKeep, 1);
    tbtest::PostCall([&] { EXPECT_FALSE(gPluginData->keepProps); });
    tbtest::PostClick(FOUR_CHAR_CODE("Butn"), 8);  // OK
    EXPECT_EQ(Open(), kPluginOK);
}

TEST_F(DialogTest, BodyDragsMoveStepByStepAndMissesChangeNothing) {
    InsetRectangle();
    RelRect before{};
    tbtest::PostCall([&] { before = gPluginData->startRel; });
    // Away from the rectangle and its handles: part 0, the drag does nothing.
    tbtest::PostMouse(kDown, Pt(30, 30));
    tbtest::PostMouse(kDrag, Pt(60, 60));
    tbtest::PostMouse(kUp, Pt(60, 60));
    tbtest::PostCall([&] { EXPECT_TRUE(SameRel(gPluginData->startRel, before)); });
    // Inside: every movement moves it on, and the record follows at once.
    tbtest::PostMouse(kDown, Pt(150, 100));
    tbtest::PostMouse(kDrag, Pt(160, 105));
    tbtest::PostCall([&] {
        EXPECT_TRUE(SameRel(gPluginData->startRel, Stored(Rect{81, 116, 201, 296})));
        ExpectPreviewCurrent("first movement");
    });
    tbtest::PostMouse(kDrag, Pt(170, 110));
    tbtest::PostCall([&] { EXPECT_TRUE(SameRel(gPluginData->startRel, Stored(Rect{86, 126, 206, 306}))); });
    // Outside the editor the rectangle stays; back inside it takes up the
    // whole offset.
    tbtest::PostMouse(kDrag, Pt(500, 110));
    tbtest::PostCall([&] { EXPECT_TRUE(SameRel(gPluginData->startRel, Stored(Rect{86, 126, 206, 306}))); });
    tbtest::PostMouse(kDrag, Pt(180, 110));
    tbtest::PostCall([&] { EXPECT_TRUE(SameRel(gPluginData->startRel, Stored(Rect{86, 136, 206, 316}))); });
    // Shift does not constrain a move; keep proportions does not correct it.
    tbtest::PostMouse(kUp, Pt(180, 110));
    tbtest::PostCommand(kHICommandCancel);
    EXPECT_EQ(Open(), kPluginOK);
    EXPECT_TRUE(SameRel(gPluginData->startRel, RelRect{0.25, 0.75, 0.25, 0.75}));
}

TEST_F(DialogTest, OkSavesAndCancelRestoresExactlyAcrossStandardChanges) {
    gPluginData->sliders[0] = 33;
    gPluginData->method = 2;
    std::vector<uint8_t> before(sizeof(PluginDataRec));
    std::memcpy(before.data(), gPluginData, before.size());

    // Change things, switch to PAL and then HD (each reopens), then cancel.
    tbtest::PostSliderDrag(kSigSlider, 1, {-10});
    tbtest::PostPopup(kSigMethod, 1, 3);
    tbtest::PostCall([&] { EXPECT_EQ(gPluginData->method, 3); });
    tbtest::PostPopup(kSigMedia, 1, 2);
    tbtest::PostCall([&] {
        EXPECT_EQ(tbtest::WindowTitle(lgTheWindow), "Vexolumen — Colour Rotation (PAL)");
        EXPECT_EQ(SimpleGetControlValueByID(lgTheWindow, kSigMedia, 1), 2);
        EXPECT_EQ(SimpleGetControlValueByID(lgTheWindow, kSigSlider, 1), -10);  // filled from the record as it is
        EXPECT_EQ(Text(kSigSliderText, 1), "-10%");
        ExpectPreviewCurrent("PAL window");
    });
    tbtest::PostPopup(kSigMedia, 1, 3);
    tbtest::PostCommand(kHICommandCancel);
    EXPECT_EQ(Open(), kPluginOK);
    EXPECT_EQ(tbtest::CreatedWindows(), (std::vector<std::string>{"vexolumen.nib/configNTSC", "vexolumen.nib/configPAL",
                                                                   "vexolumen.nib/configHD"}));
    EXPECT_EQ(std::memcmp(before.data(), gPluginData, before.size()), 0);

    // The HD record fetches an HD frame; picking the current entry again
    // does not reopen; OK saves what is shown.
    gPluginData->mediaType = 3;
    tbtest::Reset();
    host->frameRequests.clear();
    tbtest::PostPopup(kSigMedia, 1, 3);
    tbtest::PostSliderDrag(kSigSlider, 3, {-77});
    tbtest::PostClick(FOUR_CHAR_CODE("Butn"), 8);
    EXPECT_EQ(Open(), kPluginOK);
    ASSERT_FALSE(host->frameRequests.empty());
    EXPECT_EQ(host->frameRequests[0].width, 960);
    EXPECT_EQ(host->frameRequests[0].height, 540);
    EXPECT_EQ(tbtest::CreatedWindows().size(), 1u);
    EXPECT_EQ(gPluginData->sliders[2], -77);
    PluginDataRec reread{};
    ReadConfig(&reread);
    EXPECT_EQ(reread.sliders[2], -77);
    EXPECT_EQ(reread.mediaType, 3);

    // Confirming without any change still saves: a value only in memory
    // reaches the file.
    gPluginData->sliders[1] = 55;
    tbtest::Reset();
    tbtest::PostCommand(kHICommandOK);
    EXPECT_EQ(Open(), kPluginOK);
    ReadConfig(&reread);
    EXPECT_EQ(reread.sliders[1], 55);
}

TEST_F(DialogTest, ResetWholeFrameAndStepButtons) {
    gPluginData->sliders[0] = 10;
    gPluginData->sliders[1] = 20;
    gPluginData->method = 2;
    gPluginData->mediaType = 2;
    gPluginData->colors[0] = RGBColor{65535, 0, 0};
    gPluginData->startRel = RelRect{0.1, 0.2, 0.3, 0.4};
    gMostRecentFrameCount = 3;
    gMostRecentStartFrame = 4;
    host->params.renderFrame = 1;  // the dialog opens at host frame 5
    host->params.startFrame = 2;   // and each fetch adds the start frame again

    tbtest::PostCall([&] {
        EXPECT_EQ(Text(kSigClipText, 1), "0/2");
        EXPECT_EQ(gConfigWorkspace.minFrameIndex, 5);
        host->frameRequests.clear();
    });
    tbtest::PostClick(FOUR_CHAR_CODE("Butn"), 1);  // back at 0: nothing moves
    tbtest::PostCall([&] {
        EXPECT_TRUE(host->frameRequests.empty());
        EXPECT_EQ(Text(kSigClipText, 1), "0/2");
    });
    tbtest::PostClick(FOUR_CHAR_CODE("Butn"), 2);
    tbtest::PostClick(FOUR_CHAR_CODE("Butn"), 2);
    tbtest::PostCall([&] {
        ASSERT_EQ(host->frameRequests.size(), 2u);
        EXPECT_EQ(host->frameRequests[0].frame, 5 + 1 + 2);
        EXPECT_EQ(host->frameRequests[1].frame, 5 + 2 + 2);
        EXPECT_EQ(Text(kSigClipText, 1), "2/2");
        EXPECT_EQ(GetControl32BitValue(gConfigWorkspace.clipSlider), 2);
        ExpectPreviewCurrent("stepped to the end");
    });
    tbtest::PostClick(FOUR_CHAR_CODE("Butn"), 2);  // at the end: nothing moves
    tbtest::PostCall([&] {
        EXPECT_EQ(host->frameRequests.size(), 2u);
        EXPECT_EQ(Text(kSigClipText, 1), "2/2");
    });
    // The clip slider fetches as it is dragged.
    tbtest::PostSliderDrag(kSigClipSlider, 1, {1});
    tbtest::PostCall([&] {
        EXPECT_EQ(host->frameRequests.back().frame, 5 + 1 + 2);
        EXPECT_EQ(gConfigWorkspace.currFrameIndex, 1);
        EXPECT_EQ(Text(kSigClipText, 1), "1/2");
    });
    tbtest::PostClick(FOUR_CHAR_CODE("Butn"), 3);  // Reset
    tbtest::PostCall([&] {
        EXPECT_EQ(gPluginData->sliders[0], 100);
        EXPECT_EQ(gPluginData->sliders[1], 100);
        EXPECT_EQ(gPluginData->method, 1);
        EXPECT_EQ(gPluginData->mediaType, 2);  // kept
        EXPECT_EQ(gPluginData->colors[0].red, 0);
        EXPECT_TRUE(SameRel(gPluginData->startRel, RelRect{0, 1, 0, 1}));
        EXPECT_EQ(Text(kSigSliderText, 1), "100%");
        EXPECT_EQ(SimpleGetControlValueByID(lgTheWindow, kSigSlider, 2), 100);
        EXPECT_EQ(SimpleGetControlValueByID(lgTheWindow, kSigMethod, 1), 1);
        EXPECT_EQ(SimpleGetControlValueByID(lgTheWindow, kSigColor, 1), 0);
        ExpectPreviewCurrent("after reset");
        gPluginData->startRel = RelRect{0.1, 0.2, 0.3, 0.4};
    });
    tbtest::PostClick(FOUR_CHAR_CODE("Butn"), 4);  // Whole frame
    tbtest::PostCall([&] {
        EXPECT_TRUE(SameRel(gPluginData->startRel, RelRect{0, 1, 0, 1}));
        ExpectPreviewCurrent("whole frame");
    });
    tbtest::PostClick(FOUR_CHAR_CODE("Butn"), 8);
    EXPECT_EQ(Open(), kPluginOK);
}

TEST_F(DialogTest, OneFrameClipAndMissingHostFrame) {
    gMostRecentFrameCount = 0;
    host->getFrameGivesNoBuffer = true;
    tbtest::PostCall([&] {
        EXPECT_EQ(gConfigWorkspace.maxFrameIndex, 0);
        EXPECT_EQ(Text(kSigClipText, 1), "0/0");
        // A black NTSC frame stands in for the one the host did not give.
        const Rect r = GetPortRect(gConfigWorkspace.sourceClip);
        EXPECT_EQ(r.right, 720);
        EXPECT_EQ(r.bottom, 480);
        EXPECT_EQ(PixelAt(gConfigWorkspace.sourceClip, 300, 200), 0u);
        ExpectPreviewCurrent("black frame");
    });
    tbtest::PostClick(FOUR_CHAR_CODE("Butn"), 2);
    tbtest::PostClick(FOUR_CHAR_CODE("Butn"), 1);
    tbtest::PostCall([&] { EXPECT_EQ(Text(kSigClipText, 1), "0/0"); });
    tbtest::PostClick(FOUR_CHAR_CODE("Butn"), 8);
    EXPECT_EQ(Open(), kPluginOK);
    EXPECT_EQ(host->outstandingFrames, 0);
}

TEST_F(DialogTest, ColourBoxChooserAnsweredAndCancelled) {
    tbtest::AnswerColorChooser(true, RGBColor{65535, 32896, 257});
    tbtest::PostClick(kSigColor, 1);
    tbtest::PostCall([&] {
        // Only the high bytes survive.
        EXPECT_EQ(gPluginData->colors[0].red, 65280);
        EXPECT_EQ(gPluginData->colors[0].green, 32768);
        EXPECT_EQ(gPluginData->colors[0].blue, 256);
        EXPECT_EQ(SimpleGetControlValueByID(lgTheWindow, kSigColor, 1), 0xFF8001);
        const Rect b = GetControlBox(SimpleGetControlByID(lgTheWindow, kSigColor, 1));
        EXPECT_EQ(tbtest::ScreenPixel(lgTheWindow, (b.left + b.right) / 2, (b.top + b.bottom) / 2), 0xFF8001u);
        EXPECT_EQ(tbtest::ScreenPixel(lgTheWindow, b.left, b.top), 0u);  // black border
        ExpectPreviewCurrent("new offset colour");
    });
    tbtest::AnswerColorChooser(false, RGBColor{1, 2, 3});
    tbtest::PostClick(kSigColor, 1);
    tbtest::PostCall([&] {
        EXPECT_EQ(gPluginData->colors[0].red, 65280);
        EXPECT_EQ(SimpleGetControlValueByID(lgTheWindow, kSigColor, 1), 0xFF8001);
    });
    tbtest::PostCommand(kHICommandOK);
    EXPECT_EQ(Open(), kPluginOK);
    const auto calls = tbtest::ChooserCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].prompt, "Please choose color:");
    EXPECT_EQ(calls[0].start.red, 0);  // the default black
    EXPECT_EQ(calls[1].start.red, 65280);
    EXPECT_EQ(calls[1].start.blue, 256);
    EXPECT_EQ(calls[0].origin.h, 0);
    EXPECT_EQ(calls[0].origin.v, 0);
    EXPECT_EQ(gPluginData->colors[0].green, 32768);
}

TEST_F(DialogTest, AboutWindowNestsAndReturnsToAnUnchangedDialog) {
    CGrafPtr dialogPort = nullptr;
    std::vector<uint8_t> record(sizeof(PluginDataRec));
    tbtest::PostCall([&] {
        dialogPort = GetWindowPort(lgTheWindow);
        std::memcpy(record.data(), gPluginData, record.size());
    });
    tbtest::PostClick(FOUR_CHAR_CODE("Butn"), 6);
    tbtest::PostCall([&] {
        WindowRef about = GetFrontModalWindow();
        ASSERT_NE(about, lgTheWindow);
        EXPECT_EQ(tbtest::ControlText(about, FOUR_CHAR_CODE("Plug"), 1), "Vexolumen");
        EXPECT_EQ(tbtest::ControlText(about, FOUR_CHAR_CODE("Vers"), 1), "Version " cPlugVersion);
        // Commands other than OK and Cancel pass on.
        EXPECT_EQ(SendCommandToWindow(about, FOUR_CHAR_CODE("Zzzz")), eventNotHandledErr);
        EXPECT_EQ(SendCommandToWindow(about, FOUR_CHAR_CODE("Sall")), eventNotHandledErr);
    });
    tbtest::PostClick(FOUR_CHAR_CODE("Butn"), 1);  // the about window's OK
    tbtest::PostCall([&] {
        EXPECT_EQ(GetFrontModalWindow(), lgTheWindow);
        CGrafPtr port = nullptr;
        GetPort(&port);
        EXPECT_EQ(port, dialogPort);
        EXPECT_EQ(std::memcmp(record.data(), gPluginData, record.size()), 0);
        ExpectPreviewCurrent("after about");
        // Unknown commands, and the reset command, are reported as not handled.
        EXPECT_EQ(SendCommandToWindow(lgTheWindow, FOUR_CHAR_CODE("Zzzz")), eventNotHandledErr);
        EXPECT_EQ(SendCommandToWindow(lgTheWindow, FOUR_CHAR_CODE("OK  ")), eventNotHandledErr);
        EXPECT_EQ(SendCommandToWindow(lgTheWindow, FOUR_CHAR_CODE("Rset")), eventNotHandledErr);
        EXPECT_EQ(SendCommandToWindow(lgTheWindow, FOUR_CHAR_CODE("Sall")), noErr);
    });
    tbtest::PostCommand(kHICommandCancel);
    EXPECT_EQ(Open(), kPluginOK);
    EXPECT_EQ(tbtest::CreatedWindows(),
              (std::vector<std::string>{"vexolumen.nib/configNTSC", "about.nib/about"}));
}

TEST_F(DialogTest, HelpOpensTheManualOrSaysItIsMissing) {
    const fs::path manual = fs::path(host->bundleCopy) / "Resources" / "manual.pdf";
    ASSERT_TRUE(fs::exists(manual)) << "the build puts the manual into the bundle";
    tbtest::PostClick(FOUR_CHAR_CODE("Butn"), 5);
    tbtest::PostCall([&] { fs::remove(manual); });
    tbtest::PostClick(FOUR_CHAR_CODE("Butn"), 5);
    tbtest::PostCall([&] { EXPECT_NE(GetFrontModalWindow(), nullptr); });  // the dialog stays open
    tbtest::PostCommand(kHICommandCancel);
    EXPECT_EQ(Open(), kPluginOK);
    ASSERT_EQ(tbtest::OpenedDocuments().size(), 1u);
    EXPECT_EQ(fs::path(tbtest::OpenedDocuments()[0]).filename(), "manual.pdf");
    const auto alerts = tbtest::Alerts();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].kind, kAlertCautionAlert);
    EXPECT_EQ(alerts[0].title, "Internal Notification:");
    EXPECT_EQ(alerts[0].text, "Cannot locate manual in bundle");
    EXPECT_EQ(alerts[0].okText, "ok");
    EXPECT_EQ(alerts[0].cancelText, "");
}

TEST_F(DialogTest, PicturesOfTheThreeDialogsAndTheAboutWindow) {
    const fs::path dir = fs::path(VX_BINARY_DIR) / "dialog-pictures";
    fs::create_directories(dir);
    // A smooth colour chart reads better than the test pattern.
    host = std::make_unique<TestHost>(240, 160, 2);
    gMostRecentFrameCount = 2;
    for (GWorldPtr frame : host->clip) {
        PixMapHandle pm = GetGWorldPixMap(frame);
        for (int y = 0; y < 160; ++y)
            for (int x = 0; x < 240; ++x) {
                auto* p = reinterpret_cast<uint8_t*>(GetPixBaseAddr(pm) + y * GetPixRowBytes(pm) + 4 * x);
                p[0] = 255;
                p[1] = uint8_t(x * 255 / 239);
                p[2] = uint8_t(255 - y * 255 / 159);
                p[3] = uint8_t((x + y) * 255 / 398);
            }
    }
    gPluginData->startRel = RelRect{0.2, 0.8, 0.15, 0.85};
    gPluginData->sliders[0] = 50;
    gPluginData->sliders[1] = 0;
    gPluginData->sliders[2] = 0;
    gPluginData->colors[0] = RGBColor{32768, 32768, 32768};
    auto save = [&](const std::string& name) {
        tbtest::PostCall([&, name] {
            EXPECT_TRUE(tbtest::SaveWindowPicture(GetFrontModalWindow(), (dir / name).string()));
        });
    };
    save("configNTSC.png");
    tbtest::PostClick(FOUR_CHAR_CODE("Butn"), 6);
    save("about.png");
    tbtest::PostCommand(kHICommandOK);
    tbtest::PostPopup(kSigMedia, 1, 2);
    save("configPAL.png");
    tbtest::PostPopup(kSigMedia, 1, 3);
    save("configHD.png");
    tbtest::PostCommand(kHICommandCancel);
    EXPECT_EQ(Open(), kPluginOK);
    for (const char* name : {"configNTSC.png", "configPAL.png", "configHD.png", "about.png"}) {
        std::ifstream in(dir / name, std::ios::binary);
        char sig[8] = {};
        in.read(sig, 8);
        EXPECT_EQ(std::string(sig + 1, 3), "PNG") << name;
    }
}

TEST_F(DialogTest, BrokenPreconditionShowsTheStopAlertAndEndsTheProcess) {
    EXPECT_EXIT(DoConfig(nullptr), testing::ExitedWithCode(1),
                "\\[alert 0\\] Assertion Failure \\| Assertion failed in: Nil theConfig on DoConfig");
}

TEST_F(DialogTest, MissingWindowDefinitionsEndTheProcess) {
    const fs::path nib = fs::path(host->bundleCopy) / "Resources" / "vexolumen.nib";
    // A missing window: the process stops at once with the error's low byte, no alert.
    fs::rename(nib / "configNTSC.ui", nib / "moved.ui");
    EXPECT_EXIT(Open(), testing::ExitedWithCode(uint8_t(fnfErr)), "^[^\\[]*$");
    // A missing nib: the stop alert, then the end.
    fs::remove_all(nib);
    EXPECT_EXIT(Open(), testing::ExitedWithCode(1),
                "\\[alert 0\\] OpenNibWindow Failed \\| Unable to CreateNibReferenceWithCFBundle for "
                "\"com.tralvex.vidplug.vexolumen/vexolumen\" as it returned errcode #-43\\.");
}

// The whole way in: the host's main with the custom-button selector.
TEST_F(DialogTest, TheBundleEntryPointOpensTheDialog) {
    tbtest::PostSliderDrag(kSigSlider, 1, {-42});
    tbtest::PostCall([&] { EXPECT_EQ(tbtest::ControlText(GetFrontModalWindow(), kSigSliderText, 1), "-42%"); });
    tbtest::PostCommand(kHICommandOK);
    EXPECT_EQ(host->Send(kPlugCustomButtonClick), kPluginOK);
    EXPECT_EQ(host->outstandingFrames, 0);
    PluginDataRec reread{};
    ReadConfig(&reread);
    EXPECT_EQ(reread.sliders[0], -42);
}

TEST(DialogWithoutDisplay, SaysSoAndChangesNothing) {
    if (GetFrontModalWindow() != nullptr) GTEST_SKIP();
    for (const char* v : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) unsetenv(v);
    if (ToolboxCanOpenWindows(nullptr)) GTEST_SKIP() << "a Qt application already runs in this process";
    TestHost host(16, 12, 2);
    uint32_t size = 0;
    pGetConfigSize(size);
    gPluginData = static_cast<PluginDataRec*>(std::calloc(1, size));
    InitMyPlugIn(gPluginData);
    std::vector<uint8_t> before(size);
    std::memcpy(before.data(), gPluginData, size);
    testing::internal::CaptureStderr();
    EXPECT_NE(CustomButton(0, &host.params), kPluginOK);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("no display"), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);
    EXPECT_TRUE(host.frameRequests.empty());
    EXPECT_EQ(std::memcmp(before.data(), gPluginData, size), 0);
    // Through the bundle too.
    testing::internal::CaptureStderr();
    EXPECT_NE(host.Send(kPlugCustomButtonClick), kPluginOK);
    testing::internal::GetCapturedStderr();
    std::free(gPluginData);
    gPluginData = nullptr;
}

}  // namespace
