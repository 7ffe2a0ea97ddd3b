#include "platform/qd/QuickDraw.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {
GWorldPtr Make(int w, int h) {
    Rect r{0, 0, int16_t(h), int16_t(w)};
    GWorldPtr gw = nullptr;
    EXPECT_EQ(NewGWorld(&gw, 32, &r, nullptr, nullptr, 0), noErr);
    return gw;
}
uint32_t* Row(GWorldPtr gw, int y) {
    PixMapHandle pm = GetGWorldPixMap(gw);
    return reinterpret_cast<uint32_t*>(GetPixBaseAddr(pm) + y * GetPixRowBytes(pm));
}
void Number(GWorldPtr gw) {
    Rect b;
    GetPortBounds(gw, &b);
    for (int y = 0; y < b.bottom; ++y)
        for (int x = 0; x < b.right; ++x) Row(gw, y)[x] = uint32_t(y * 1000 + x);
}
}  // namespace

TEST(QuickDraw, BuffersArePaddedZeroedAndAtTheOrigin) {
    for (int w : {1, 3, 4, 5, 8, 720}) {
        GWorldPtr gw = Make(w, 3);
        PixMapHandle pm = GetGWorldPixMap(gw);
        EXPECT_GE(GetPixRowBytes(pm), 4 * w + 16) << w;
        EXPECT_EQ(GetPixRowBytes(pm) % 16, 0);
        Rect b;
        GetPortBounds(gw, &b);
        EXPECT_EQ(b.right, w);
        EXPECT_EQ(b.bottom, 3);
        for (int i = 0; i < GetPixRowBytes(pm) * 3; ++i) ASSERT_EQ(GetPixBaseAddr(pm)[i], 0);
        EXPECT_FALSE(GetPixelsState(pm) & pixelsLocked);
        LockPixels(pm);
        const GWorldFlags locked = GetPixelsState(pm);
        EXPECT_TRUE(locked & pixelsLocked);
        SetPixelsState(pm, 0);
        EXPECT_FALSE(GetPixelsState(pm) & pixelsLocked);
        DisposeGWorld(gw);
    }
    GWorldPtr gw = reinterpret_cast<GWorldPtr>(1);
    Rect empty{5, 5, 5, 10};
    EXPECT_EQ(NewGWorld(&gw, 32, &empty, nullptr, nullptr, 0), paramErr);
    EXPECT_EQ(gw, nullptr);
    Rect ok{0, 0, 2, 2};
    EXPECT_EQ(NewGWorld(&gw, 16, &ok, nullptr, nullptr, 0), paramErr);
}

TEST(QuickDraw, CopyBitsCopiesScalesAndClips) {
    GWorldPtr src = Make(4, 4), dst = Make(8, 8);
    Number(src);
    Rect from{0, 0, 4, 4}, to{0, 0, 8, 8};
    CopyBits(GetPortBitMapForCopyBits(src), GetPortBitMapForCopyBits(dst), &from, &to, srcCopy, nullptr);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) ASSERT_EQ(Row(dst, y)[x], uint32_t((y / 2) * 1000 + x / 2));
    // Padding after each row is never written.
    PixMapHandle pm = GetGWorldPixMap(dst);
    for (int y = 0; y < 8; ++y)
        for (int i = 32; i < GetPixRowBytes(pm); ++i) ASSERT_EQ(GetPixBaseAddr(pm)[y * GetPixRowBytes(pm) + i], 0);

    // Part of the target outside the destination: only the overlap is written.
    GWorldPtr small = Make(3, 3);
    Rect off{-1, -1, 3, 3};
    CopyBits(GetPortBitMapForCopyBits(src), GetPortBitMapForCopyBits(small), &from, &off, srcCopy, nullptr);
    EXPECT_EQ(Row(small, 0)[0], 1001u);
    EXPECT_EQ(Row(small, 2)[2], 3003u);
    DisposeGWorld(src);
    DisposeGWorld(dst);
    DisposeGWorld(small);
}

TEST(QuickDraw, OverlappingCopiesWithinOneBufferAreSafe) {
    GWorldPtr gw = Make(6, 6);
    Number(gw);
    Rect from{0, 0, 4, 4}, to{2, 2, 6, 6};
    CopyBits(GetPortBitMapForCopyBits(gw), GetPortBitMapForCopyBits(gw), &from, &to, srcCopy, nullptr);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) ASSERT_EQ(Row(gw, y + 2)[x + 2], uint32_t(y * 1000 + x));
    Number(gw);
    CopyBits(GetPortBitMapForCopyBits(gw), GetPortBitMapForCopyBits(gw), &to, &from, srcCopy, nullptr);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) ASSERT_EQ(Row(gw, y)[x], uint32_t((y + 2) * 1000 + x + 2));
    DisposeGWorld(gw);
}

TEST(QuickDraw, CurrentPortAndRectangleHelpers) {
    GWorldPtr gw = Make(2, 2);
    SetGWorld(gw, nullptr);
    CGrafPtr port;
    GDHandle dev;
    GetGWorld(&port, &dev);
    EXPECT_EQ(port, gw);
    EXPECT_EQ(dev, GetMainDevice());
    const RGBColor red{65535, 0, 0};
    RGBForeColor(&red);
    RGBColor got;
    GetForeColor(&got);
    EXPECT_EQ(got.red, 65535);
    DisposeGWorld(gw);  // disposing the current port leaves no dangling port
    GetGWorld(&port, &dev);
    EXPECT_EQ(port, nullptr);

    Rect a{0, 0, 10, 10}, b{5, 5, 15, 15}, c{20, 20, 30, 30}, out;
    EXPECT_TRUE(SectRect(&a, &b, &out));
    EXPECT_EQ(out.top, 5);
    EXPECT_EQ(out.right, 10);
    EXPECT_FALSE(SectRect(&a, &c, &out));
    EXPECT_TRUE(EmptyRect(&out));
    EXPECT_TRUE(PtInRect(Point{9, 9}, &a));
    EXPECT_FALSE(PtInRect(Point{10, 9}, &a));  // right and bottom are exclusive
}
