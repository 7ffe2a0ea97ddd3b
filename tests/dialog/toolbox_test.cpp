// The toolbox layer, the drawing into ports, and the dialog units that do not
// need the whole dialog: exact pixels on tiny buffers, event routing, and the
// picture and colour boxes in a window of their own.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "dialog/colorCTRL.h"
#include "dialog/dlgUtils.h"
#include "dialog/pictCTRL.h"
#include "pipeline/pluginData.h"
#include "platform/toolbox/ToolboxTesting.h"
#include "support/CarbonMacros.h"
#include "support/commonprocs.h"
#include "support/nibWindow.h"
#include "tests/testhost/TestHost.h"

// Fontconfig and Qt keep caches for the life of the process; they are not
// our leaks.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\nleak:libQt6Gui\nleak:libQt6Widgets\nleak:libglib\n";
}

namespace {

Point Pt(int h, int v) { return Point{int16_t(v), int16_t(h)}; }

// A small port to draw into, current while it lives.
struct Canvas {
    GWorldPtr gw = nullptr;
    Canvas(int w, int h) {
        const Rect r{0, 0, int16_t(h), int16_t(w)};
        NewGWorld(&gw, 32, &r, nullptr, nullptr, 0);
        SetGWorld(gw, nullptr);
    }
    ~Canvas() {
        SetGWorld(nullptr, nullptr);
        DisposeGWorld(gw);
    }
    uint8_t* At(int h, int v) {
        PixMapHandle pm = GetGWorldPixMap(gw);
        return reinterpret_cast<uint8_t*>(GetPixBaseAddr(pm)) + v * GetPixRowBytes(pm) + 4 * h;
    }
    // One character a pixel: '#' where the red channel is set, '.' elsewhere.
    std::string Picture() {
        std::string s;
        for (int v = 0; v < GetPortRect(gw).bottom; ++v) {
            for (int h = 0; h < GetPortRect(gw).right; ++h) s += At(h, v)[1] ? '#' : '.';
            s += '\n';
        }
        return s;
    }
};

TEST(QuickDrawDrawing, PrimitivesOnTinyBuffers) {
    const struct {
        const char* what;
        int w, h;
        std::function<void()> draw;
        std::string picture;
    } cases[] = {
        {"a frame, and an empty rectangle's, which is nothing", 6, 5,
         [] { Rect r{1, 1, 4, 5}, empty{2, 2, 2, 4}; FrameRect(&r); FrameRect(&empty); }, "......\n.####.\n.#..#.\n.####.\n......\n"},
        {"the clip rectangle and the port's bounds cut painting off", 6, 5,
         [] { Rect clip{0, 0, 2, 3}, all{-3, -3, 9, 9}; ClipRect(&clip); PaintRect(&all); },
         "###...\n###...\n......\n......\n......\n"},
        {"the ring round each of the editor's handles", 12, 12, [] { Rect r{0, 0, 12, 12}; FrameOval(&r); },
         "....####....\n"
         "..##....##..\n"
         ".#........#.\n"
         ".#........#.\n"
         "#..........#\n"
         "#..........#\n"
         "#..........#\n"
         "#..........#\n"
         ".#........#.\n"
         ".#........#.\n"
         "..##....##..\n"
         "....####....\n"},
    };
    const RGBColor red{65535, 0, 0}, grey{0x1234, 0x5678, 0x9ABC};
    for (const auto& c : cases) {
        Canvas canvas(c.w, c.h);
        RGBForeColor(&red);
        c.draw();
        EXPECT_EQ(canvas.Picture(), c.picture) << c.what;
    }
    // Drawn pixels are opaque; erase uses the background colour; invert keeps alpha.
    Canvas c(3, 1);
    RGBForeColor(&red);
    RGBBackColor(&grey);
    Rect first{0, 0, 1, 1}, second{0, 1, 1, 2}, third{0, 2, 1, 3};
    PaintRect(&first);
    EraseRect(&second);
    EraseRect(&third);
    c.At(2, 0)[0] = 7;
    InvertRect(&third);
    EXPECT_EQ(std::vector<int>(c.At(0, 0), c.At(3, 0)),
              (std::vector<int>{255, 255, 0, 0, 255, 0x12, 0x56, 0x9A, 7, 0xED, 0xA9, 0x65}));
}

TEST(CarbonMacros, CommandTextKeepsEveryByte) {
    const std::pair<uint32_t, std::string> cases[] = {
        {FOUR_CHAR_CODE("ok  "), "ok  "}, {FOUR_CHAR_CODE("not!"), "not!"}, {0x436F6C31, "Col1"}, {0x00FF0A20, {"\0\xFF\n ", 4}}};
    for (const auto& [id, text] : cases) {
        Str255 s;
        CommandID2Str(id, s);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(s + 1), s[0]), text);
    }
}

TEST(EditorGeometry, HandleHitsAndShiftOnATallRectangle) {
    const Rect r{100, 100, 160, 200}, tiny{50, 50, 54, 54};  // top, left, bottom, right
    const struct { Rect r; int h, v; int16_t part; } hits[] = {
        {r, 150, 130, kBody}, {r, 199, 130, kBody}, {r, 200, 130, kNoPart}, {r, 150, 160, kNoPart},  // right, bottom edges out
        {r, 94, 94, kTopLeft}, {r, 93, 94, kNoPart}, {r, 205, 105, kTopRight}, {r, 206, 105, kNoPart},
        {r, 100, 165, kBottomLeft}, {r, 200, 160, kBottomRight},
        // Overlapping squares of a tiny rectangle: the lowest handle wins.
        {tiny, 52, 52, kTopLeft}, {tiny, 58, 47, kTopRight}, {tiny, 47, 58, kBottomLeft}};
    for (const auto& c : hits) EXPECT_EQ(IsHandleHit(c.r, Pt(c.h, c.v)), c.part) << c.h << "," << c.v;

    // Shift on a rectangle not wider than tall: the height follows the mouse,
    // the right edge comes from the proportions (1:2).
    PluginDataRec record{};
    gConfigWorkspace.theConfig = &record;
    const Rect frame{0, 0, 240, 360}, tall{20, 20, 120, 70}, want{20, 20, 140, 80};
    Rect got = tall;
    DragCorner(kBottomRight, got, Pt(70, 120), Pt(200, 140), shiftKey, frame, Rect2Rel(tall, frame));
    EXPECT_TRUE(EqualRect(&got, &want)) << got.top << "," << got.left << "," << got.bottom << "," << got.right;
    gConfigWorkspace = PluginWorkSpace{};
}

// A window holding a box of each kind and a label, from a copy of the bundle.
class BoxWindow : public testing::Test {
protected:
    void SetUp() override {
        tbtest::Reset();
        tbtest::SetScripted(true);
        std::ofstream(std::filesystem::path(host.bundleCopy) / "Resources" / "vexolumen.nib" / "boxes.ui") << R"(
<ui version="4.0"><class>boxes</class><widget class="QWidget" name="boxes">
 <property name="geometry"><rect><x>0</x><y>0</y><width>120</width><height>80</height></rect></property>
 <widget class="VxCustomControl" name="pict"><property name="classID" stdset="0"><string>com.tralvex.vidplug.imageCTRL</string></property>
  <property name="geometry"><rect><x>10</x><y>10</y><width>40</width><height>30</height></rect></property>
  <property name="signature" stdset="0"><string>Pict</string></property><property name="controlID" stdset="0"><number>1</number></property></widget>
 <widget class="VxCustomControl" name="color"><property name="classID" stdset="0"><string>com.tralvex.vidplug.color</string></property>
  <property name="geometry"><rect><x>60</x><y>10</y><width>30</width><height>20</height></rect></property>
  <property name="signature" stdset="0"><string>Colr</string></property><property name="controlID" stdset="0"><number>1</number></property>
  <property name="maximum" stdset="0"><number>16777215</number></property></widget>
 <widget class="QLabel" name="label"><property name="text"><string>start</string></property>
  <property name="geometry"><rect><x>10</x><y>50</y><width>100</width><height>20</height></rect></property>
  <property name="signature" stdset="0"><string>Labl</string></property><property name="controlID" stdset="0"><number>1</number></property></widget>
</widget><customwidgets><customwidget><class>VxCustomControl</class><extends>QWidget</extends></customwidget></customwidgets></ui>
)";
        RegisterPictureControl();
        RegisterColorBox();
        window = OpenNibWindowFromCFBundle("com.tralvex.vidplug.vexolumen", "", "boxes");
        ShowWindow(window);
    }
    void TearDown() override {
        DisposeWindow(window);
        UnregisterPictureControl();
        UnregisterColorBox();
    }
    // The screen's pixels at the points, as 0xRRGGBB.
    std::vector<uint32_t> At(std::vector<Point> points) {
        std::vector<uint32_t> colours;
        for (Point p : points) colours.push_back(tbtest::ScreenPixel(window, p.h, p.v));
        return colours;
    }

    TestHost host{8, 6, 1};
    WindowRef window = nullptr;
};

TEST_F(BoxWindow, PictureAndColourBoxesDrawPressAndDisable) {
    using V = std::vector<uint32_t>;
    ControlRef pict = SimpleGetControlByID(window, FOUR_CHAR_CODE("Pict"), 1);
    ControlRef colour = SimpleGetControlByID(window, FOUR_CHAR_CODE("Colr"), 1);
    const std::vector<Point> border{Pt(10, 10), Pt(49, 39)}, inside{Pt(11, 11), Pt(30, 25)};
    // No image: white ground, black one-pixel border on the inside.
    EXPECT_EQ(At(border), V(2, 0));
    EXPECT_EQ(At(inside), V(2, 0xFFFFFF));
    // Pressed: the whole box inverted, border included; normal again after.
    tbtest::PostMouse(tbtest::kDown, Pt(20, 20));
    tbtest::PostCall([&] { EXPECT_EQ(At({Pt(10, 10), Pt(30, 25)}), (V{0xFFFFFF, 0})) << GetControlHilite(pict); });
    tbtest::PostMouse(tbtest::kUp, Pt(20, 20));
    tbtest::PostCall([&] { EXPECT_EQ(At({Pt(10, 10), Pt(30, 25)}), (V{0, 0xFFFFFF})) << GetControlHilite(pict); });
    // A press on the right edge is outside: nothing lights up.
    tbtest::PostMouse(tbtest::kDown, Pt(50, 20));
    tbtest::PostCall([&] { EXPECT_EQ(GetControlHilite(pict), 0); });
    tbtest::PostMouse(tbtest::kUp, Pt(50, 20));
    tbtest::PostCall([this] { QuitAppModalLoopForWindow(window); });
    RunAppModalLoopForWindow(window);
    EXPECT_FALSE(tbtest::ScriptRanDry());
    // Disabled: a picture box's draw leaves what was there.
    SetPortWindowPort(window);
    const RGBColor green{0, 65535, 0}, white{65535, 65535, 65535};
    RGBForeColor(&green);
    Rect b = GetControlBox(pict);
    PaintRect(&b);
    HiliteControl(pict, kControlDisabledPart);
    Draw1Control(pict);
    EXPECT_EQ(At({Pt(10, 10), Pt(30, 25)}), V(2, 0x00FF00));
    // A colour box shows its value in a black border; disabled, it is erased, border too.
    SetControl32BitValue(colour, 0xFF8000);
    EXPECT_EQ(At({Pt(75, 20), Pt(60, 10), Pt(89, 29)}), (V{0xFF8000, 0, 0}));
    RGBBackColor(&white);
    HiliteControl(colour, kControlDisabledPart);
    EXPECT_EQ(At({Pt(75, 20), Pt(60, 10)}), V(2, 0xFFFFFF));
}

TEST_F(BoxWindow, HelpersIgnoreMissingControlsAndEmptyALabel) {
    // The helpers on controls that are not there: nothing, nil or 0, no message.
    Str255 text;
    CToPStr("x", text);
    EXPECT_EQ(SimpleGetControlByID(window, FOUR_CHAR_CODE("None"), 1), nullptr);
    SimpleSetControlText(window, FOUR_CHAR_CODE("None"), 1, text);
    SimpleHideControl(window, FOUR_CHAR_CODE("Labl"), 2);
    SimpleShowControl(window, FOUR_CHAR_CODE("Labl"), 2);
    SimpleSetControlValueByID(window, FOUR_CHAR_CODE("Labl"), 2, 5);
    EXPECT_EQ(SimpleGetControlValueByID(window, FOUR_CHAR_CODE("Labl"), 2), 0);
    EXPECT_TRUE(tbtest::Alerts().empty());
    // An empty text empties a label.
    text[0] = 0;
    SimpleSetControlText(window, FOUR_CHAR_CODE("Labl"), 1, text);
    EXPECT_EQ(tbtest::ControlText(window, FOUR_CHAR_CODE("Labl"), 1), "");
}

}  // namespace
