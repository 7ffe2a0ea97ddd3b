// The toolbox layer, the drawing into ports, and the dialog units that do not
// need the whole dialog: exact pixels on tiny buffers, event routing, and the
// picture and colour boxes in a window of their own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "dialog/colorCTRL.h"
#include "dialog/dlgUtils.h"
#include "dialog/pictCTRL.h"
#include "pipeline/pluginData.h"
#include "platform/toolbox/ToolboxTesting.h"
#include "support/CarbonMacros.h"
#include "support/commonprocs.h"

// Fontconfig and Qt keep caches for the life of the process; they are not
// our leaks.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\nleak:libQt6Gui\nleak:libQt6Widgets\nleak:libglib\n";
}

namespace {

namespace fs = std::filesystem;

Point Pt(int h, int v) { return Point{int16_t(v), int16_t(h)}; }

// A small port to draw into, current while it lives.
struct Canvas {
    GWorldPtr gw = nullptr;
    Canvas(int w, int h) {
        const Rect r{0, 0, int16_t(h), int16_t(w)};
        NewGWorld(&gw, 32, &r, nullptr, nullptr, 0);
        SetGWorld(gw, nullptr);
    }
    ~Canvas() { DisposeGWorld(gw); }
    uint8_t* At(int h, int v) {
        PixMapHandle pm = GetGWorldPixMap(gw);
        return reinterpret_cast<uint8_t*>(GetPixBaseAddr(pm)) + v * GetPixRowBytes(pm) + 4 * h;
    }
    // One character a pixel: '#' drawn in the test colour, '.' untouched.
    std::string Picture() {
        const Rect r = GetPortRect(gw);
        std::string s;
        for (int v = 0; v < r.bottom; ++v) {
            for (int h = 0; h < r.right; ++h) s += At(h, v)[1] ? '#' : '.';
            s += '\n';
        }
        return s;
    }
};

TEST(QuickDrawDrawing, FramesFillsAndClipping) {
    Canvas c(6, 5);
    const RGBColor red{65535, 0, 0};
    RGBForeColor(&red);
    Rect r{1, 1, 4, 5};
    FrameRect(&r);
    EXPECT_EQ(c.Picture(),
              "......\n"
              ".####.\n"
              ".#..#.\n"
              ".####.\n"
              "......\n");
    EXPECT_EQ(c.At(1, 1)[0], 255);  // drawn pixels are opaque
    EXPECT_EQ(c.At(1, 1)[1], 255);
    EXPECT_EQ(c.At(1, 1)[2], 0);

    // The clip rectangle cuts drawing off; the port's bounds too.
    Canvas d(6, 5);
    RGBForeColor(&red);
    Rect clip{0, 0, 2, 3};
    ClipRect(&clip);
    Rect all{-3, -3, 9, 9};
    PaintRect(&all);
    EXPECT_EQ(d.Picture(),
              "###...\n"
              "###...\n"
              "......\n"
              "......\n"
              "......\n");

    // Erase uses the background colour; invert keeps alpha.
    Canvas e(2, 1);
    const RGBColor grey{0x1234, 0x5678, 0x9ABC};
    RGBBackColor(&grey);
    Rect both{0, 0, 1, 2};
    EraseRect(&both);
    EXPECT_EQ(e.At(1, 0)[1], 0x12);
    EXPECT_EQ(e.At(1, 0)[3], 0x9A);
    e.At(0, 0)[0] = 7;
    Rect first{0, 0, 1, 1};
    InvertRect(&first);
    EXPECT_EQ(e.At(0, 0)[0], 7);
    EXPECT_EQ(e.At(0, 0)[1], 0xFF - 0x12);
    EXPECT_EQ(e.At(0, 0)[3], 0xFF - 0x9A);

    // An XOR pen undoes itself; an empty rectangle draws nothing.
    Canvas f(4, 4);
    PenMode(srcXor);
    Rect sq{0, 0, 4, 4};
    FrameRect(&sq);
    FrameRect(&sq);
    Rect empty{2, 2, 2, 4};
    PenNormal();
    FrameRect(&empty);
    EXPECT_EQ(f.Picture(), "....\n....\n....\n....\n");

    Rect p;
    Pt2Rect(Pt(9, 2), Pt(3, 7), &p);
    EXPECT_EQ(p.left, 3);
    EXPECT_EQ(p.right, 9);
    EXPECT_EQ(p.top, 2);
    EXPECT_EQ(p.bottom, 7);
    SetGWorld(nullptr, nullptr);
}

TEST(QuickDrawDrawing, OvalRingOfTwelve) {
    Canvas c(12, 12);
    const RGBColor red{65535, 0, 0};
    RGBForeColor(&red);
    Rect r{0, 0, 12, 12};
    FrameOval(&r);
    const std::string pic = c.Picture();
    EXPECT_EQ(pic.substr(0, 13), "....####....\n");
    EXPECT_EQ(c.At(6, 6)[1], 0);  // a ring, not a disc
    EXPECT_EQ(c.At(0, 0)[1], 0);
    EXPECT_EQ(c.At(0, 6)[1], 255);
    // Symmetric about both axes.
    for (int v = 0; v < 12; ++v)
        for (int h = 0; h < 12; ++h) {
            EXPECT_EQ(c.At(h, v)[1], c.At(11 - h, v)[1]) << h << "," << v;
            EXPECT_EQ(c.At(h, v)[1], c.At(h, 11 - v)[1]) << h << "," << v;
        }
    SetGWorld(nullptr, nullptr);
}

TEST(CarbonMacros, CommandTextKeepsEveryByte) {
    Str255 s;
    CommandID2Str(FOUR_CHAR_CODE("ok  "), s);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(s + 1), s[0]), "ok  ");
    CommandID2Str(FOUR_CHAR_CODE("not!"), s);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(s + 1), s[0]), "not!");
    CommandID2Str(0x436F6C31, s);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(s + 1), s[0]), "Col1");
    CommandID2Str(0x00FF0A20, s);
    EXPECT_EQ(s[0], 4);
    EXPECT_EQ(s[1], 0x00);
    EXPECT_EQ(s[2], 0xFF);
    EXPECT_EQ(s[4], 0x20);
}

// The clip editor's geometry, on a record of its own.
class EditorGeometry : public testing::Test {
protected:
    void SetUp() override {
        ResetConfig(&record, true);
        gConfigWorkspace = PluginWorkSpace{};
        gConfigWorkspace.theConfig = &record;
    }
    void TearDown() override { gConfigWorkspace = PluginWorkSpace{}; }
    PluginDataRec record{};
};

TEST_F(EditorGeometry, HandleHitsAndEdges) {
    const Rect r{100, 100, 160, 200};  // top, left, bottom, right
    EXPECT_EQ(IsHandleHit(r, Pt(150, 130)), kBody);
    EXPECT_EQ(IsHandleHit(r, Pt(199, 130)), kBody);
    EXPECT_EQ(IsHandleHit(r, Pt(200, 130)), kNoPart);  // right edge is outside
    EXPECT_EQ(IsHandleHit(r, Pt(150, 160)), kNoPart);  // bottom edge too
    EXPECT_EQ(IsHandleHit(r, Pt(94, 94)), kTopLeft);
    EXPECT_EQ(IsHandleHit(r, Pt(93, 94)), kNoPart);
    EXPECT_EQ(IsHandleHit(r, Pt(205, 105)), kTopRight);
    EXPECT_EQ(IsHandleHit(r, Pt(206, 105)), kNoPart);
    EXPECT_EQ(IsHandleHit(r, Pt(100, 165)), kBottomLeft);
    EXPECT_EQ(IsHandleHit(r, Pt(200, 160)), kBottomRight);
    // Overlapping squares of a tiny rectangle: the lowest handle wins.
    const Rect tiny{50, 50, 54, 54};
    EXPECT_EQ(IsHandleHit(tiny, Pt(52, 52)), kTopLeft);
    EXPECT_EQ(IsHandleHit(tiny, Pt(58, 47)), kTopRight);
    EXPECT_EQ(IsHandleHit(tiny, Pt(47, 58)), kBottomLeft);
}

TEST_F(EditorGeometry, CornerAndBodyDrags) {
    const Rect frame{0, 0, 240, 360};
    const RelRect orig = Rect2Rel(Rect{60, 90, 180, 270}, frame);  // 180 x 120: wider than tall
    Rect r{60, 90, 180, 270};
    DragCorner(kBottomRight, r, Pt(270, 180), Pt(280, 190), optionKey, frame, orig);
    EXPECT_EQ(r.left, 80);
    EXPECT_EQ(r.top, 50);
    EXPECT_EQ(r.right, 280);
    EXPECT_EQ(r.bottom, 190);

    r = Rect{60, 90, 180, 270};
    DragCorner(kBottomLeft, r, Pt(90, 180), Pt(300, 20), 0, frame, orig);  // over both opposite sides
    EXPECT_EQ(r.left, 270);
    EXPECT_EQ(r.right, 300);
    EXPECT_EQ(r.top, 20);
    EXPECT_EQ(r.bottom, 60);

    r = Rect{60, 90, 180, 270};
    DragCorner(7, r, Pt(0, 0), Pt(10, 10), 0, frame, orig);  // no such handle
    EXPECT_EQ(r.right, 270);

    // Shift on a rectangle not wider than tall: the height follows the
    // mouse, the right edge comes from the proportions (1:2).
    const RelRect tall = Rect2Rel(Rect{20, 20, 120, 70}, frame);
    r = Rect{20, 20, 120, 70};
    DragCorner(kBottomRight, r, Pt(70, 120), Pt(200, 140), shiftKey, frame, tall);
    EXPECT_EQ(r.bottom, 140);
    EXPECT_EQ(r.right, 20 + 60);

    r = Rect{60, 90, 180, 270};
    DragRect(r, Pt(10, 10), Pt(-5, 30));
    EXPECT_EQ(r.left, 75);
    EXPECT_EQ(r.top, 80);
    EXPECT_EQ(r.right, 255);
    EXPECT_EQ(r.bottom, 200);
}

// A bundle with one window holding boxes of each kind.
class BoxWindow : public testing::Test {
protected:
    void SetUp() override {
        tbtest::Reset();
        tbtest::SetScripted(true);
        char pattern[] = "/tmp/vx-boxes-XXXXXX";
        dir = mkdtemp(pattern);
        fs::create_directories(dir / "Resources" / "test.nib");
        std::ofstream(dir / "Info") << "identifier = com.tralvex.test.boxes\nexecutable = none.so\n";
        std::ofstream(dir / "Resources" / "test.nib" / "boxes.ui") << R"(<?xml version="1.0" encoding="UTF-8"?>
<ui version="4.0"><class>boxes</class>
 <widget class="QWidget" name="boxes">
  <property name="geometry"><rect><x>0</x><y>0</y><width>120</width><height>80</height></rect></property>
  <widget class="VxCustomControl" name="pict">
   <property name="geometry"><rect><x>10</x><y>10</y><width>40</width><height>30</height></rect></property>
   <property name="classID" stdset="0"><string>com.tralvex.vidplug.imageCTRL</string></property>
   <property name="signature" stdset="0"><string>Pict</string></property>
   <property name="controlID" stdset="0"><number>1</number></property>
  </widget>
  <widget class="VxCustomControl" name="color">
   <property name="geometry"><rect><x>60</x><y>10</y><width>30</width><height>20</height></rect></property>
   <property name="classID" stdset="0"><string>com.tralvex.vidplug.color</string></property>
   <property name="signature" stdset="0"><string>Colr</string></property>
   <property name="controlID" stdset="0"><number>1</number></property>
   <property name="maximum" stdset="0"><number>16777215</number></property>
  </widget>
  <widget class="QLabel" name="label">
   <property name="geometry"><rect><x>10</x><y>50</y><width>100</width><height>20</height></rect></property>
   <property name="text"><string>start</string></property>
   <property name="signature" stdset="0"><string>Labl</string></property>
   <property name="controlID" stdset="0"><number>1</number></property>
  </widget>
 </widget>
 <customwidgets><customwidget><class>VxCustomControl</class><extends>QWidget</extends></customwidget></customwidgets>
</ui>
)";
        bundle = CFBundleCreate(nullptr, dir.c_str());
        ASSERT_NE(bundle, nullptr);
        RegisterPictureControl();
        RegisterColorBox();
        CFStringRef nibName = CFStringCreateWithCString(nullptr, "test", kCFStringEncodingUTF8);
        CFStringRef name = CFStringCreateWithCString(nullptr, "boxes", kCFStringEncodingUTF8);
        IBNibRef nib = nullptr;
        ASSERT_EQ(CreateNibReferenceWithCFBundle(bundle, nibName, &nib), noErr);
        ASSERT_EQ(CreateWindowFromNib(nib, name, &window), noErr);
        DisposeNibReference(nib);
        CFRelease(nibName);
        CFRelease(name);
        ShowWindow(window);
    }
    void TearDown() override {
        DisposeWindow(window);
        UnregisterPictureControl();
        UnregisterColorBox();
        fs::remove_all(dir);
    }
    uint32_t At(int h, int v) { return tbtest::ScreenPixel(window, h, v); }
    void RunScript() {
        tbtest::PostCall([this] { QuitAppModalLoopForWindow(window); });
        RunAppModalLoopForWindow(window);
        EXPECT_FALSE(tbtest::ScriptRanDry());
    }

    fs::path dir;
    CFBundleRef bundle = nullptr;
    WindowRef window = nullptr;
};

TEST_F(BoxWindow, PictureBoxGroundBorderPressAndDisabled) {
    ControlRef pict = SimpleGetControlByID(window, FOUR_CHAR_CODE("Pict"), 1);
    ASSERT_NE(pict, nullptr);
    // No image: white ground, black one-pixel border on the inside.
    EXPECT_EQ(At(10, 10), 0x000000u);
    EXPECT_EQ(At(49, 39), 0x000000u);
    EXPECT_EQ(At(11, 11), 0xFFFFFFu);
    EXPECT_EQ(At(30, 25), 0xFFFFFFu);
    // Pressed: the whole box inverted, border included; normal again after.
    tbtest::PostMouse(tbtest::kDown, Pt(20, 20));
    tbtest::PostCall([&] {
        EXPECT_EQ(GetControlHilite(pict), 1);
        EXPECT_EQ(At(10, 10), 0xFFFFFFu);
        EXPECT_EQ(At(30, 25), 0x000000u);
    });
    tbtest::PostMouse(tbtest::kUp, Pt(20, 20));
    tbtest::PostCall([&] {
        EXPECT_EQ(GetControlHilite(pict), 0);
        EXPECT_EQ(At(30, 25), 0xFFFFFFu);
    });
    // A press on the right edge is outside: nothing lights up.
    tbtest::PostMouse(tbtest::kDown, Pt(50, 20));
    tbtest::PostCall([&] { EXPECT_EQ(GetControlHilite(pict), 0); });
    tbtest::PostMouse(tbtest::kUp, Pt(50, 20));
    RunScript();

    // Disabled: a draw leaves what was there.
    SetPortWindowPort(window);
    const RGBColor green{0, 65535, 0};
    RGBForeColor(&green);
    Rect b = GetControlBox(pict);
    PaintRect(&b);
    HiliteControl(pict, kControlDisabledPart);
    Draw1Control(pict);
    EXPECT_EQ(At(30, 25), 0x00FF00u);
    EXPECT_EQ(At(10, 10), 0x00FF00u);
}

TEST_F(BoxWindow, ColourBoxDrawsItsValueAndErasesWhenDisabled) {
    ControlRef box = SimpleGetControlByID(window, FOUR_CHAR_CODE("Colr"), 1);
    SetControl32BitValue(box, 0xFF8000);
    EXPECT_EQ(At(75, 20), 0xFF8000u);
    EXPECT_EQ(At(60, 10), 0x000000u);
    EXPECT_EQ(At(89, 29), 0x000000u);
    SetPortWindowPort(window);
    const RGBColor white{65535, 65535, 65535};
    RGBBackColor(&white);
    HiliteControl(box, kControlDisabledPart);
    EXPECT_EQ(At(75, 20), 0xFFFFFFu);
    EXPECT_EQ(At(60, 10), 0xFFFFFFu);  // no border either
}

OSStatus gOrder[4];
int gCalls = 0;
OSStatus Older(EventHandlerCallRef, EventRef, void*) {
    gOrder[gCalls++] = 1;
    return noErr;
}
OSStatus Newer(EventHandlerCallRef next, EventRef e, void*) {
    gOrder[gCalls++] = 2;
    return CallNextEventHandler(next, e) == noErr ? OSStatus(eventNotHandledErr) : OSStatus(noErr);
}
OSStatus Newest(EventHandlerCallRef, EventRef, void*) {
    gOrder[gCalls++] = 3;
    return eventNotHandledErr;
}

TEST_F(BoxWindow, HandlersRunNewestFirstAndPassOnWhatTheyDoNotHandle) {
    const EventTypeSpec commands[] = {{kEventClassCommand, kEventCommandProcess}};
    EventHandlerRef newest = nullptr;
    InstallEventHandler(GetWindowEventTarget(window), Older, 1, commands, nullptr, nullptr);
    InstallEventHandler(GetWindowEventTarget(window), Newer, 1, commands, nullptr, nullptr);
    InstallEventHandler(GetWindowEventTarget(window), Newest, 1, commands, nullptr, &newest);
    gCalls = 0;
    // Newest passes on; Newer calls on to Older (handled) and reports not handled.
    EXPECT_EQ(SendCommandToWindow(window, FOUR_CHAR_CODE("Zzzz")), eventNotHandledErr);
    ASSERT_EQ(gCalls, 3);
    EXPECT_EQ(gOrder[0], 3);
    EXPECT_EQ(gOrder[1], 2);
    EXPECT_EQ(gOrder[2], 1);
    RemoveEventHandler(newest);
    gCalls = 0;
    SendCommandToWindow(window, FOUR_CHAR_CODE("Zzzz"));
    EXPECT_EQ(gCalls, 2);

    // The helpers on controls that are not there: nothing, nil or 0.
    Str255 text;
    CToPStr("x", text);
    EXPECT_EQ(SimpleGetControlByID(window, FOUR_CHAR_CODE("None"), 1), nullptr);
    SimpleSetControlText(window, FOUR_CHAR_CODE("None"), 1, text);
    SimpleHideControl(window, FOUR_CHAR_CODE("Labl"), 2);
    SimpleShowControl(window, FOUR_CHAR_CODE("Labl"), 2);
    SimpleSetControlValueByID(window, FOUR_CHAR_CODE("Labl"), 2, 5);
    EXPECT_EQ(SimpleGetControlValueByID(window, FOUR_CHAR_CODE("Labl"), 2), 0);
    EXPECT_TRUE(tbtest::Alerts().empty());
    // An empty text empties a label; Mac Roman bytes come through.
    text[0] = 0;
    SimpleSetControlText(window, FOUR_CHAR_CODE("Labl"), 1, text);
    EXPECT_EQ(tbtest::ControlText(window, FOUR_CHAR_CODE("Labl"), 1), "");
    const unsigned char roman[] = "\x04" "50\xA1\xC9";  // "50°…"
    SimpleSetControlText(window, FOUR_CHAR_CODE("Labl"), 1, roman);
    EXPECT_EQ(tbtest::ControlText(window, FOUR_CHAR_CODE("Labl"), 1), "50\xA1\xC9");
}

}  // namespace
