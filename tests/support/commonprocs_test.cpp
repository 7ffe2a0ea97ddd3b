#include "support/commonprocs.h"

#include <gtest/gtest.h>

#include <string>

namespace {
std::string Text(ConstStr255Param s) { return PToCString(s); }
bool Same(const Rect& a, const Rect& b) {
    return a.top == b.top && a.left == b.left && a.bottom == b.bottom && a.right == b.right;
}

std::string gAlertTitle, gAlertText, gAlertOk, gAlertCancel;
int16_t gAlertKind = -1;
int16_t RecordAlert(int16_t kind, const char* title, const char* text, const char* ok, const char* cancel) {
    gAlertKind = kind;
    gAlertTitle = title;
    gAlertText = text;
    gAlertOk = ok;
    gAlertCancel = cancel;
    return 1;
}
}  // namespace

TEST(CommonProcs, NumbersAndColoursConvert) {
    Str255 s;
    Num2Text(0, s);
    EXPECT_EQ(Text(s), "0");
    Num2Text(-5, s);
    EXPECT_EQ(Text(s), "-5");
    Num2Text(-2147483647 - 1, s);
    EXPECT_EQ(Text(s), "-2147483648");

    EXPECT_EQ(RGBColor2LongInt(RGBColor{65535, 32768, 0}), 16744448);
    const RGBColor c = LongInt2RGBColor(16744448);
    EXPECT_EQ(c.red, 65280);
    EXPECT_EQ(c.green, 32768);
    EXPECT_EQ(c.blue, 0);
    for (int32_t n = 0; n <= 16777215; n += 97) ASSERT_EQ(RGBColor2LongInt(LongInt2RGBColor(n)), n);
    EXPECT_EQ(RGBColor2LongInt(LongInt2RGBColor(16777215)), 16777215);

    const PixRec p = LongInt2PixRec(-1);
    EXPECT_EQ(p.alpha, 0);
    EXPECT_EQ(p.red, 255);
    EXPECT_EQ(p.green, 255);
    EXPECT_EQ(p.blue, 255);
    EXPECT_EQ(PixRec2LongInt(PixRec{77, 1, 2, 3}), 0x010203);
    EXPECT_EQ(SetRGBColor(-1, 0, 5).red, 65535);
}

TEST(CommonProcs, ProportionsAndCentring) {
    EXPECT_TRUE(Same(KeepPropsWithFixedHorizontal(Rect{0, 0, 30, 40}, Rect{10, 20, 60, 100}), Rect{10, 20, 70, 100}));
    EXPECT_TRUE(Same(KeepPropsWithFixedHorizontal(Rect{0, 0, 30, 0}, Rect{10, 20, 60, 100}), Rect{10, 20, 60, 100}));
    const Rect v = KeepPropsWithFixedVertical(Rect{0, 0, 30, 40}, Rect{0, 0, 45, 10});
    EXPECT_EQ(v.right - v.left, 60);
    EXPECT_TRUE(Same(KeepPropsWithFixedVertical(Rect{0, 0, 0, 40}, Rect{1, 2, 3, 4}), Rect{1, 2, 3, 4}));

    EXPECT_TRUE(Same(CalcProportionalRectForFrame(Rect{0, 0, 100, 300}, Rect{0, 0, 150, 200}), Rect{0, 0, 67, 200}));
    EXPECT_TRUE(Same(CalcProportionalRectForFrame(Rect{0, 0, 300, 100}, Rect{0, 0, 150, 200}), Rect{0, 0, 150, 50}));
    // Only the kept dimension is bounded by the frame.
    EXPECT_TRUE(Same(CalcProportionalRectForFrame(Rect{0, 0, 190, 200}, Rect{0, 0, 90, 100}), Rect{0, 0, 95, 100}));

    Rect r{0, 0, 10, 10};
    CenterRectInRect(r, Rect{0, 0, 100, 100});
    EXPECT_TRUE(Same(r, Rect{45, 45, 55, 55}));
}

TEST(CommonProcs, BuffersAllocateAtTheOriginAndCopyScaled) {
    GWorldPtr gw = AllocateRectGWorld(Rect{20, 30, 120, 230});
    ASSERT_NE(gw, nullptr);
    EXPECT_TRUE(Same(GetPortRect(gw), Rect{0, 0, 100, 200}));
    EXPECT_TRUE(GetPixelsState(GetGWorldPixMap(gw)) & pixelsLocked);
    EXPECT_EQ(AllocateRectGWorld(Rect{5, 5, 5, 9}), nullptr);

    // 2 x 2 source doubled into 4 x 4: each source pixel becomes a 2 x 2 block.
    GWorldPtr small = AllocateRectGWorld(Rect{0, 0, 2, 2});
    GWorldPtr big = AllocateRectGWorld(Rect{0, 0, 4, 4});
    PixMapHandle sp = GetGWorldPixMap(small), bp = GetGWorldPixMap(big);
    for (int i = 0; i < 4; ++i)
        reinterpret_cast<uint32_t*>(GetPixBaseAddr(sp) + (i / 2) * GetPixRowBytes(sp))[i % 2] = 0x01020300u + i;
    SetGWorld(big, nullptr);
    Source2Target(small, big);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(reinterpret_cast<uint32_t*>(GetPixBaseAddr(bp) + y * GetPixRowBytes(bp))[x],
                      0x01020300u + (y / 2) * 2 + x / 2);
    RGBColor fore, back;
    GetForeColor(&fore);
    GetBackColor(&back);
    EXPECT_EQ(fore.red, 0);
    EXPECT_EQ(back.blue, 65535);
    Source2Target(nullptr, big);  // nothing
    SetGWorld(nullptr, nullptr);
    DisposeGWorld(small);
    DisposeGWorld(big);
    DisposeGWorld(gw);
}

TEST(CommonProcs, NotifyReturnsAndAssertEndsTheProcess) {
    SetAlertPresenter(RecordAlert);
    Notify("careful");
    EXPECT_EQ(gAlertKind, 2);
    EXPECT_EQ(gAlertTitle, "Internal Notification:");
    EXPECT_EQ(gAlertText, "careful");
    EXPECT_EQ(gAlertOk, "ok");
    EXPECT_EQ(gAlertCancel, "");

    gAlertKind = -1;
    int x = 0;
    Assert(&x, "never shown");
    EXPECT_EQ(gAlertKind, -1);
    SetAlertPresenter(nullptr);

    EXPECT_EXIT(Assert(nullptr, "Nil theConfig on DoConfig"), testing::ExitedWithCode(1),
                "Assertion Failure Assertion failed in: Nil theConfig on DoConfig");
}
