// The configuration dialog driven through the custom-button handler, with a
// test host for frames, windows on Qt's offscreen platform and the user's
// input from a toolbox script.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "dialog/configdlghandler.h"
#include "dialog/dlgUtils.h"
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

const uint8_t* Row(GWorldPtr gw, int v) {
    PixMapHandle pm = GetGWorldPixMap(gw);
    return reinterpret_cast<const uint8_t*>(GetPixBaseAddr(pm)) + int64_t(v) * GetPixRowBytes(pm);
}

uint32_t PixelAt(GWorldPtr gw, int h, int v) {
    const uint8_t* p = Row(gw, v) + 4 * h;
    return (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

// The preview holds the source rendered with the record as it is now, and
// the editor on screen shows it.
void ExpectPreviewCurrent(const char* where) {
    SCOPED_TRACE(where);
    PluginWorkSpace& ws = gConfigWorkspace;
    const Rect r = GetPortRect(ws.sourceClip), fx = GetPortRect(ws.theFXClip);
    ASSERT_TRUE(EqualRect(&r, &fx));
    GWorldPtr expect = AllocateRectGWorld(r);
    CallPixelEffect(ws.sourceClip, expect);
    const int32_t rowBytes = GetPixRowBytes(GetGWorldPixMap(expect));
    ASSERT_EQ(GetPixRowBytes(GetGWorldPixMap(ws.theFXClip)), rowBytes);
    EXPECT_EQ(std::memcmp(Row(expect, 0), Row(ws.theFXClip, 0), size_t(rowBytes) * size_t(r.bottom)), 0);
    DisposeGWorld(expect);
    const Rect b = GetControlBox(ws.theFrameCtrl);
    const int dx = (b.right - b.left) / 2, dy = (b.bottom - b.top) / 2;
    EXPECT_EQ(tbtest::ScreenPixel(lgTheWindow, b.left + dx, b.top + dy),
              PixelAt(ws.theFXClip, dx * r.right / (b.right - b.left), dy * r.bottom / (b.bottom - b.top)));
}

// The record's bytes, to compare whole.
std::vector<uint8_t> Record() {
    const auto* p = reinterpret_cast<const uint8_t*>(gPluginData);
    return std::vector<uint8_t>(p, p + sizeof(PluginDataRec));
}

// Buttons: 1 back, 2 on, 3 reset, 4 whole frame, 5 help, 6 about, 7 cancel, 8 OK.
void Click(int32_t id) { tbtest::PostClick(FOUR_CHAR_CODE("Butn"), id); }

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
    // Ends the script with the command and runs the dialog.
    void Close(uint32_t command) {
        tbtest::PostCommand(command);
        EXPECT_EQ(Open(), kPluginOK);
    }
    // What the record holds for a rectangle on screen.
    static RelRect Stored(const Rect& r) { return Rect2Rel(r, GetControlBox(gConfigWorkspace.theFrameCtrl)); }

    std::unique_ptr<TestHost> host;
};

TEST_F(DialogTest, SliderDragsWriteRecordTextAndPreviewAtEveryStep) {
    uint32_t lastCentre = 0;
    tbtest::PostCall([&] {
        EXPECT_EQ(Text(kSigSliderText, 4), "0%");  // hidden sliders get their text too
        ExpectPreviewCurrent("on opening");
        lastCentre = PixelAt(gConfigWorkspace.theFXClip, 360, 240);
    });
    const std::vector<int32_t> steps[] = {{-50, 0, 37, 150}, {90, 80, -120}, {5}};
    for (int32_t n = 1; n <= 3; ++n)
        tbtest::PostSliderDrag(kSigSlider, n, steps[n - 1], [&, n](int32_t v) {
            EXPECT_EQ(gPluginData->sliders[n - 1], v);
            EXPECT_EQ(Text(kSigSliderText, n), std::to_string(v) + "%");
            ExpectPreviewCurrent("during a drag");
            if (n > 1) return;
            // The angle turns the colours: the preview's centre changes at every step.
            EXPECT_NE(PixelAt(gConfigWorkspace.theFXClip, 360, 240), lastCentre) << v;
            lastCentre = PixelAt(gConfigWorkspace.theFXClip, 360, 240);
        });
    tbtest::PostCall([] {
        EXPECT_EQ((std::vector<int16_t>(gPluginData->sliders, gPluginData->sliders + 4)), (std::vector<int16_t>{150, -120, 5, 0}));
        ExpectPreviewCurrent("after the drags");
    });
    Click(7);  // Cancel
    EXPECT_EQ(Open(), kPluginOK);
}

TEST_F(DialogTest, CornerAndBodyDragsStoreTheRectanglesTheEditorGives) {
    const RelRect inset{0.25, 0.75, 0.25, 0.75};  // (106, 76) - (286, 196) in a 360 x 240 editor at (16, 16)
    gPluginData->startRel = inset;
    auto press = [&](Point from, uint32_t mods) {
        tbtest::PostCall([&] { gPluginData->startRel = inset; });
        tbtest::PostMouse(kDown, from, mods);
    };
    auto drag = [&](Point from, Point to, uint32_t mods) {
        press(from, mods);
        tbtest::PostMouse(kDrag, to, mods);
        tbtest::PostMouse(kUp, to, mods);
    };
    auto expect = [](const char* what, Rect want) {
        tbtest::PostCall([what, want] {
            SCOPED_TRACE(what);
            EXPECT_TRUE(SameRel(gPluginData->startRel, Stored(want)));
            ExpectPreviewCurrent(what);
            const Rect box = GetControlBox(gConfigWorkspace.theFrameCtrl);
            const Rect r = ShownRect(Rel2Rect(gPluginData->startRel, box), box);
            if (!EmptyRect(&r)) {  // the outline in the frame colour, red, along the top edge
                EXPECT_EQ(tbtest::ScreenPixel(lgTheWindow, (r.left + r.right) / 2, r.top), 0xFF0000u);
            }
        });
    };
    drag(Pt(30, 30), Pt(60, 60), 0);
    expect("away from the rectangle and its handles", Rect{76, 106, 196, 286});
    drag(Pt(286, 196), Pt(296, 206), 0);
    expect("bottom-right by (+10, +10)", Rect{76, 106, 206, 296});
    drag(Pt(286, 196), Pt(296, 206), optionKey);
    expect("the same with option: the opposite corner moves the other way", Rect{66, 96, 206, 296});
    drag(Pt(286, 196), Pt(296, 206), controlKey);  // window managers take Alt-drag
    expect("the same with control", Rect{66, 96, 206, 296});
    // Past the editor's edge, however fast: the corner lands on the edge.
    drag(Pt(286, 196), Pt(600, 400), 0);
    expect("bottom-right far beyond the edge", Rect{76, 106, 256, 376});
    press(Pt(106, 76), 0);
    tbtest::PostMouse(kUp, Pt(-50, -40));  // released outside without a movement seen
    expect("top-left released beyond the edge", Rect{16, 16, 196, 286});
    drag(Pt(106, 76), Pt(300, 210), 0);
    expect("top-left past the bottom-right corner turns the rectangle over", Rect{196, 286, 210, 300});
    drag(Pt(286, 76), Pt(286, 196), 0);
    expect("onto the opposite edge's row: zero height", Rect{196, 106, 196, 286});
    // Wider than tall: the width follows the mouse and the bottom comes from
    // the proportions (210 wide, 3:2, so 140 high).
    drag(Pt(286, 196), Pt(316, 196), shiftKey);
    expect("shift, wide", Rect{76, 106, 216, 316});
    // A body drag: the record follows every movement; outside the editor the
    // rectangle stays, back inside it takes up the whole offset.
    press(Pt(150, 100), 0);
    tbtest::PostMouse(kDrag, Pt(160, 105));
    expect("body, first movement", Rect{81, 116, 201, 296});
    tbtest::PostMouse(kDrag, Pt(500, 110));
    expect("body, outside the editor", Rect{81, 116, 201, 296});
    tbtest::PostMouse(kDrag, Pt(180, 110));
    expect("body, back inside", Rect{86, 136, 206, 316});
    tbtest::PostMouse(kUp, Pt(180, 110));
    // Keep proportions: a purely vertical drag is undone by the 3:2 editor.
    tbtest::PostClick(kSigKeep, 1);
    drag(Pt(286, 196), Pt(286, 226), 0);
    expect("keep proportions", Rect{76, 106, 196, 286});
    Close(kHICommandCancel);
    EXPECT_TRUE(SameRel(gPluginData->startRel, inset));
    EXPECT_FALSE(gPluginData->keepProps);
}

// At the whole frame the rectangle lies on the editor's border; it is drawn
// just inside it, with whole handles that can be grabbed where they show.
TEST_F(DialogTest, TheWholeFrameRectangleShowsInsideTheBorderAndItsHandlesGrab) {
    gPluginData->startRel = RelRect{0.25, 0.75, 0.25, 0.75};
    Click(4);  // Whole frame; the editor is (16, 16) - (376, 256)
    tbtest::PostCall([] {
        const uint32_t red = 0xFF0000u;
        EXPECT_EQ(tbtest::ScreenPixel(lgTheWindow, 17, 136), red);
        EXPECT_EQ(tbtest::ScreenPixel(lgTheWindow, 374, 136), red);
        EXPECT_EQ(tbtest::ScreenPixel(lgTheWindow, 196, 17), red);
        EXPECT_EQ(tbtest::ScreenPixel(lgTheWindow, 196, 254), red);
        EXPECT_EQ(tbtest::ScreenPixel(lgTheWindow, 16, 136), 0u);  // the border stays
        // The top-left ring lies whole inside: its white middle ring left and right of its centre (23, 23).
        EXPECT_EQ(tbtest::ScreenPixel(lgTheWindow, 18, 23), 0xFFFFFFu);
        EXPECT_EQ(tbtest::ScreenPixel(lgTheWindow, 27, 23), 0xFFFFFFu);
    });
    tbtest::PostMouse(kDown, Pt(23, 23));  // the ring's centre, outside the corner's own square
    tbtest::PostMouse(kDrag, Pt(63, 43));
    tbtest::PostMouse(kUp, Pt(63, 43));
    tbtest::PostCall([] {
        EXPECT_TRUE(SameRel(gPluginData->startRel, Stored(Rect{36, 56, 256, 376})));
        ExpectPreviewCurrent("after the handle drag");
    });
    Close(kHICommandCancel);
}

// Tab reaches the editor and the colour box; arrows move the rectangle by
// one editor pixel, Shift+arrows resize it; Space and Return open the chooser.
TEST_F(DialogTest, TheKeyboardReachesTheEditorAndTheColourBox) {
    gPluginData->startRel = RelRect{0.25, 0.75, 0.25, 0.75};  // (106, 76) - (286, 196)
    tbtest::PostClickAt(Pt(30, 30));  // in the editor, away from the rectangle
    tbtest::PostCall([] { EXPECT_TRUE(tbtest::ControlHasFocus(lgTheWindow, kSigClip, 1)); });
    tbtest::PostKey(kVK_RightArrow);
    tbtest::PostKey(kVK_RightArrow);
    tbtest::PostKey(kVK_UpArrow);
    tbtest::PostCall([] {
        EXPECT_TRUE(SameRel(gPluginData->startRel, Stored(Rect{75, 108, 195, 288})));
        ExpectPreviewCurrent("moved by keys");
    });
    tbtest::PostKey(kVK_LeftArrow, shiftKey);
    tbtest::PostKey(kVK_DownArrow, shiftKey);
    tbtest::PostKey(kVK_DownArrow, shiftKey);
    tbtest::PostCall([] {
        EXPECT_TRUE(SameRel(gPluginData->startRel, Stored(Rect{75, 108, 197, 287})));
        ExpectPreviewCurrent("resized by keys");
    });
    // Back, forward, the clip slider, three sliders: then the colour box.
    for (int i = 0; i < 7; ++i) tbtest::PostKey(kVK_Tab);
    tbtest::PostCall([] { EXPECT_TRUE(tbtest::ControlHasFocus(lgTheWindow, kSigColor, 1)); });
    tbtest::AnswerColorChooser(true, RGBColor{0x4000, 0x8000, 0xC000});
    tbtest::PostKey(kVK_Space);
    tbtest::PostCall([] { EXPECT_EQ(SimpleGetControlValueByID(lgTheWindow, kSigColor, 1), 0x4080C0); });
    tbtest::PostKey(kVK_Return);  // cancelled: the colour stays
    tbtest::PostKey(kVK_RightArrow);   // keys the box does not use do nothing
    tbtest::PostCall([] {
        EXPECT_EQ(gPluginData->colors[0].green, 0x8000);
        EXPECT_TRUE(tbtest::ControlHasFocus(lgTheWindow, kSigColor, 1));
    });
    Close(kHICommandCancel);
    EXPECT_EQ(tbtest::ChooserCalls().size(), 2u);
}

TEST_F(DialogTest, OkSavesAndCancelRestoresExactlyAcrossStandardChanges) {
    gPluginData->sliders[0] = 33;
    const std::vector<uint8_t> before = Record();
    // Change things, switch to PAL and then HD (each reopens), then cancel.
    tbtest::PostSliderDrag(kSigSlider, 1, {-10});
    tbtest::PostPopup(kSigMethod, 1, 3);
    tbtest::PostPopup(kSigMedia, 1, 2);
    tbtest::PostCall([&] {
        // Filled from the record as it is.
        EXPECT_EQ(SimpleGetControlValueByID(lgTheWindow, kSigSlider, 1), -10);
        EXPECT_EQ(SimpleGetControlValueByID(lgTheWindow, kSigMethod, 1), 3);
        ExpectPreviewCurrent("PAL window");
    });
    tbtest::PostPopup(kSigMedia, 1, 3);
    Close(kHICommandCancel);
    EXPECT_EQ(tbtest::CreatedWindows(), (std::vector<std::string>{"vexolumen.nib/configNTSC", "vexolumen.nib/configPAL",
                                                                   "vexolumen.nib/configHD"}));
    EXPECT_EQ(Record(), before);

    // An HD record fetches an HD frame; picking the current entry again does
    // not reopen; OK saves what is shown.
    gPluginData->mediaType = 3;
    tbtest::Reset();
    tbtest::PostPopup(kSigMedia, 1, 3);
    tbtest::PostSliderDrag(kSigSlider, 3, {-77});
    Click(8);
    host->frameRequests.clear();
    EXPECT_EQ(Open(), kPluginOK);
    ASSERT_FALSE(host->frameRequests.empty());
    EXPECT_EQ(std::make_pair(host->frameRequests[0].width, host->frameRequests[0].height), std::make_pair(960, 540));
    EXPECT_EQ(tbtest::CreatedWindows().size(), 1u);
    PluginDataRec reread{};
    ReadConfig(&reread);
    EXPECT_EQ(std::make_pair(int(reread.sliders[2]), int(reread.mediaType)), std::make_pair(-77, 3));

    // Confirming without any change still saves: a value only in memory reaches the file.
    gPluginData->sliders[1] = 55;
    tbtest::Reset();
    Close(kHICommandOK);
    ReadConfig(&reread);
    EXPECT_EQ(reread.sliders[1], 55);
}

TEST_F(DialogTest, StepButtonsAtBothEndsResetAndWholeFrame) {
    gPluginData->sliders[0] = 10;
    gPluginData->method = 2;
    gPluginData->mediaType = 2;
    gPluginData->startRel = RelRect{0.1, 0.2, 0.3, 0.4};
    gMostRecentFrameCount = 3;
    gMostRecentStartFrame = 4;
    host->params.renderFrame = 1;  // the dialog opens at host frame 5
    host->params.startFrame = 2;   // and each later fetch adds the start frame
    // The position text, the frames fetched since opening, and the preview.
    auto at = [&](const char* text, std::vector<int32_t> fetched) {
        tbtest::PostCall([this, text, fetched] {
            EXPECT_EQ(Text(kSigClipText, 1), text);
            std::vector<int32_t> got;
            for (const auto& request : host->frameRequests) got.push_back(request.frame);
            EXPECT_EQ(got, fetched) << text;
            ExpectPreviewCurrent(text);
        });
    };
    Click(1);  // back at 0: nothing moves
    at("0/2", {5});
    Click(2);
    Click(2);
    at("2/2", {5, 8, 9});
    Click(2);  // at the end: nothing moves
    at("2/2", {5, 8, 9});
    tbtest::PostSliderDrag(kSigClipSlider, 1, {0});  // the clip slider fetches as it is dragged
    at("0/2", {5, 8, 9, 7});
    tbtest::PostClick(kSigKeep, 1);
    tbtest::PostCall([&] { EXPECT_TRUE(gPluginData->keepProps); });
    Click(3);  // Reset
    tbtest::PostCall([&] {
        EXPECT_FALSE(gPluginData->keepProps);
        EXPECT_EQ(SimpleGetControlValueByID(lgTheWindow, kSigKeep, 1), 0) << "the box follows the record";
        EXPECT_EQ(gPluginData->sliders[0], 100);
        EXPECT_EQ(gPluginData->mediaType, 2);  // kept
        EXPECT_TRUE(SameRel(gPluginData->startRel, RelRect{0, 1, 0, 1}));
        EXPECT_EQ(Text(kSigSliderText, 1), "100%");
        EXPECT_EQ(SimpleGetControlValueByID(lgTheWindow, kSigMethod, 1), 1);
        ExpectPreviewCurrent("after reset");
        gPluginData->startRel = RelRect{0.1, 0.2, 0.3, 0.4};
    });
    Click(4);  // Whole frame
    tbtest::PostCall([&] {
        EXPECT_TRUE(SameRel(gPluginData->startRel, RelRect{0, 1, 0, 1}));
        ExpectPreviewCurrent("whole frame");
    });
    Close(kHICommandOK);

    // A clip of one frame, from a host that gives no frame: neither button
    // moves, and a black NTSC frame stands in.
    gMostRecentFrameCount = 0;
    gPluginData->mediaType = 1;
    host->getFrameGivesNoBuffer = true;
    tbtest::Reset();
    Click(2);
    Click(1);
    tbtest::PostCall([&] {
        EXPECT_EQ(gConfigWorkspace.maxFrameIndex, 0);
        EXPECT_EQ(Text(kSigClipText, 1), "0/0");
        const Rect r = GetPortRect(gConfigWorkspace.sourceClip);
        EXPECT_EQ(std::make_pair(r.right, r.bottom), std::make_pair(int16_t(720), int16_t(480)));
        EXPECT_EQ(PixelAt(gConfigWorkspace.sourceClip, 300, 200), 0u);
    });
    Close(kHICommandOK);
    EXPECT_EQ(host->outstandingFrames, 0);
}

TEST_F(DialogTest, ColourBoxAboutWindowHelpAndUnknownCommands) {
    const fs::path manual = fs::path(host->bundleCopy) / "Resources" / "manual.pdf";
    ASSERT_TRUE(fs::exists(manual)) << "the build puts the manual into the bundle";
    CGrafPtr dialogPort = nullptr;
    std::vector<uint8_t> record;
    // The chooser answered (only the high bytes survive), then cancelled.
    tbtest::AnswerColorChooser(true, RGBColor{65535, 32896, 257});
    tbtest::AnswerColorChooser(false, RGBColor{1, 2, 3});
    tbtest::PostClick(kSigColor, 1);
    tbtest::PostClick(kSigColor, 1);
    tbtest::PostCall([&] {
        const RGBColor& c = gPluginData->colors[0];
        EXPECT_EQ((std::vector<int32_t>{c.red, c.green, c.blue, SimpleGetControlValueByID(lgTheWindow, kSigColor, 1)}),
                  (std::vector<int32_t>{65280, 32768, 256, 0xFF8001}));
        ExpectPreviewCurrent("new offset colour");
        dialogPort = GetWindowPort(lgTheWindow);
        record = Record();
    });
    Click(6);  // About
    tbtest::PostCall([&] {
        WindowRef about = GetFrontModalWindow();
        ASSERT_NE(about, lgTheWindow);
        // Over the dialog, not wherever the window manager likes.
        EXPECT_EQ(tbtest::ParentWindow(about), lgTheWindow);
        const Point a = tbtest::WindowCentre(about), d = tbtest::WindowCentre(lgTheWindow);
        EXPECT_LE(std::abs(a.h - d.h) + std::abs(a.v - d.v), 4) << a.h << "," << a.v << " vs " << d.h << "," << d.v;
        EXPECT_EQ(SendCommandToWindow(about, FOUR_CHAR_CODE("Sall")), eventNotHandledErr);  // passed on
    });
    tbtest::PostClick(FOUR_CHAR_CODE("Butn"), 1);  // the about window's OK
    tbtest::PostCall([&] {
        EXPECT_EQ(GetFrontModalWindow(), lgTheWindow);
        CGrafPtr port = nullptr;
        GetPort(&port);
        EXPECT_EQ(port, dialogPort);
        EXPECT_EQ(Record(), record);
        ExpectPreviewCurrent("after about");
        // Unknown commands, and the reset command, are reported as not handled.
        EXPECT_EQ(SendCommandToWindow(lgTheWindow, FOUR_CHAR_CODE("Zzzz")), eventNotHandledErr);
        EXPECT_EQ(SendCommandToWindow(lgTheWindow, FOUR_CHAR_CODE("Rset")), eventNotHandledErr);
    });
    // Help opens the manual; without a viewer, or without a manual, it says
    // so and the dialog stays.
    Click(5);
    tbtest::PostCall([] { tbtest::AnswerDocumentOpen(kLSApplicationNotFoundErr); });
    Click(5);
    tbtest::PostCall([&] { fs::remove(manual); });
    Click(5);
    Close(kHICommandCancel);
    const auto calls = tbtest::ChooserCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].prompt, "Please choose color:");
    // The first opens on the default black, the second on the colour chosen.
    EXPECT_EQ(std::make_pair(calls[0].start.red, calls[1].start.red), std::make_pair(uint16_t(0), uint16_t(65280)));
    EXPECT_EQ(std::make_pair(calls[0].origin.h, calls[0].origin.v), std::make_pair(int16_t(0), int16_t(0)));
    ASSERT_EQ(tbtest::OpenedDocuments().size(), 2u);
    EXPECT_EQ(fs::path(tbtest::OpenedDocuments()[0]).filename(), "manual.pdf");
    const auto alerts = tbtest::Alerts();
    ASSERT_EQ(alerts.size(), 2u);
    EXPECT_EQ(alerts[0].text, "LSOpen failed with -10814: no application opened the manual, " +
                                  fs::canonical(manual.parent_path()).string() + "/manual.pdf");
    EXPECT_EQ(alerts[1].text, "Cannot locate manual in bundle");
    for (const auto& alert : alerts) EXPECT_EQ(alert.okText, "OK");
}

TEST_F(DialogTest, PicturesOfTheThreeDialogsAndTheAboutWindow) {
    const fs::path dir = fs::path(VX_BINARY_DIR) / "dialog-pictures";
    fs::create_directories(dir);
    // A smooth colour chart reads better than the test pattern.
    host = std::make_unique<TestHost>(240, 160, 2);
    gMostRecentFrameCount = 2;
    for (GWorldPtr frame : host->clip)
        for (int y = 0; y < 160; ++y)
            for (int x = 0; x < 240; ++x) {
                auto* p = const_cast<uint8_t*>(Row(frame, y)) + 4 * x;
                p[0] = 255, p[1] = uint8_t(x * 255 / 239), p[2] = uint8_t(255 - y * 255 / 159), p[3] = uint8_t((x + y) * 255 / 398);
            }
    gPluginData->startRel = RelRect{0, 1, 0, 1};  // the default, which must show too
    gPluginData->sliders[0] = 50;
    gPluginData->sliders[1] = gPluginData->sliders[2] = 0;
    gPluginData->colors[0] = RGBColor{32768, 32768, 32768};
    auto save = [&](const std::string& name) {
        tbtest::PostCall([&, name] { EXPECT_TRUE(tbtest::SaveWindowPicture(GetFrontModalWindow(), (dir / name).string())); });
    };
    save("configNTSC.png");
    Click(6);
    save("about.png");
    tbtest::PostCommand(kHICommandOK);
    tbtest::PostPopup(kSigMedia, 1, 2);
    save("configPAL.png");
    tbtest::PostPopup(kSigMedia, 1, 3);
    save("configHD.png");
    Close(kHICommandCancel);
}

TEST_F(DialogTest, BrokenPreconditionsAndMissingWindowDefinitionsEndTheProcess) {
    EXPECT_EXIT(DoConfig(nullptr), testing::ExitedWithCode(1),
                "\\[alert 0\\] Assertion Failure \\| Assertion failed in: Nil theConfig on DoConfig");
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

// The whole way in: the host's main with the custom-button message.
TEST_F(DialogTest, TheBundleEntryPointRunsTheDialog) {
    tbtest::PostSliderDrag(kSigSlider, 1, {-42});
    tbtest::PostCommand(kHICommandOK);
    EXPECT_EQ(host->Send(kPlugCustomButtonClick), kPluginOK);
    EXPECT_EQ(host->outstandingFrames, 0);
    PluginDataRec reread{};
    ReadConfig(&reread);
    EXPECT_EQ(reread.sliders[0], -42);
}

TEST_F(DialogTest, WithoutADisplaySaysSoInOneLineAndChangesNothing) {
    if (GetFrontModalWindow() != nullptr) GTEST_SKIP();
    for (const char* v : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) unsetenv(v);
    if (ToolboxCanOpenWindows(nullptr)) GTEST_SKIP() << "a Qt application already runs in this process";
    const std::vector<uint8_t> before = Record();
    testing::internal::CaptureStderr();
    EXPECT_NE(Open(), kPluginOK);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("no display"), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);
    EXPECT_TRUE(host->frameRequests.empty());
    EXPECT_EQ(Record(), before);
}

}  // namespace
