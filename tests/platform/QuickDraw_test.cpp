#include "platform/qd/QuickDraw.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {
GWorldPtr Make(int w, int h, int16_t depth = 32) {
    Rect r{0, 0, int16_t(h), int16_t(w)};
    GWorldPtr gw = nullptr;
    EXPECT_EQ(NewGWorld(&gw, depth, &r, nullptr, nullptr, 0), noErr);
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

namespace {
GWorldPtr MakeDeep(int w, int h) { return Make(w, h, 64); }
uint64_t* DeepRow(GWorldPtr gw, int y) {
    PixMapHandle pm = GetGWorldPixMap(gw);
    return reinterpret_cast<uint64_t*>(GetPixBaseAddr(pm) + y * GetPixRowBytes(pm));
}
// Channels alpha, red, green, blue as one native 64-bit pixel.
uint64_t Deep(uint16_t a, uint16_t r, uint16_t g, uint16_t b) {
    const uint16_t ch[4] = {a, r, g, b};
    uint64_t p;
    std::memcpy(&p, ch, 8);
    return p;
}
}  // namespace

TEST(QuickDraw, DeepBuffersArePaddedZeroedAndTellTheirDepth) {
    for (int w : {1, 3, 5, 720}) {
        GWorldPtr gw = MakeDeep(w, 2);
        PixMapHandle pm = GetGWorldPixMap(gw);
        EXPECT_EQ(GetPixDepth(pm), 64);
        EXPECT_GE(GetPixRowBytes(pm), 8 * w + 16) << w;
        EXPECT_EQ(GetPixRowBytes(pm) % 16, 0);
        for (int i = 0; i < GetPixRowBytes(pm) * 2; ++i) ASSERT_EQ(GetPixBaseAddr(pm)[i], 0);
        DisposeGWorld(gw);
    }
    Rect r{0, 0, 2, 2};
    GWorldPtr gw = nullptr;
    ASSERT_EQ(NewGWorld(&gw, 0, &r, nullptr, nullptr, 0), noErr);  // 0 is 32
    EXPECT_EQ(GetPixDepth(GetGWorldPixMap(gw)), 32);
    DisposeGWorld(gw);
    for (int16_t bad : {8, 16, 48, 128}) {
        EXPECT_EQ(NewGWorld(&gw, bad, &r, nullptr, nullptr, 0), paramErr) << bad;
        EXPECT_EQ(gw, nullptr);
    }
    EXPECT_EQ(GetPixDepth(nullptr), 0);
}

TEST(QuickDraw, CopyBitsBetweenDeepBuffersKeepsEverySixteenBits) {
    GWorldPtr src = MakeDeep(4, 4), dst = MakeDeep(8, 8);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            DeepRow(src, y)[x] = Deep(uint16_t(0xA000 + x), uint16_t(y * 1000 + x), 0x0101, 0xFFFE);
    Rect from{0, 0, 4, 4}, to{0, 0, 8, 8};
    CopyBits(GetPortBitMapForCopyBits(src), GetPortBitMapForCopyBits(dst), &from, &to, srcCopy, nullptr);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) ASSERT_EQ(DeepRow(dst, y)[x], DeepRow(src, y / 2)[x / 2]);
    PixMapHandle pm = GetGWorldPixMap(dst);
    for (int y = 0; y < 8; ++y)
        for (int i = 64; i < GetPixRowBytes(pm); ++i) ASSERT_EQ(GetPixBaseAddr(pm)[y * GetPixRowBytes(pm) + i], 0);

    // Unscaled, clipped to the destination, and within one buffer.
    GWorldPtr small = MakeDeep(3, 3);
    Rect off{-1, -1, 3, 3};
    CopyBits(GetPortBitMapForCopyBits(src), GetPortBitMapForCopyBits(small), &from, &off, srcCopy, nullptr);
    EXPECT_EQ(DeepRow(small, 0)[0], DeepRow(src, 1)[1]);
    EXPECT_EQ(DeepRow(small, 2)[2], DeepRow(src, 3)[3]);
    Rect a{0, 0, 2, 2}, b{1, 1, 3, 3};
    const uint64_t corner = DeepRow(src, 0)[0], next = DeepRow(src, 1)[1];
    CopyBits(GetPortBitMapForCopyBits(src), GetPortBitMapForCopyBits(src), &a, &b, srcCopy, nullptr);
    EXPECT_EQ(DeepRow(src, 1)[1], corner);
    EXPECT_EQ(DeepRow(src, 2)[2], next);
    DisposeGWorld(src);
    DisposeGWorld(dst);
    DisposeGWorld(small);
}

TEST(QuickDraw, CopyBitsConvertsBetweenDepths) {
    GWorldPtr deep = MakeDeep(3, 1), flat = Make(3, 1), back = MakeDeep(3, 1);
    DeepRow(deep, 0)[0] = Deep(0xFFFF, 0x12FF, 0x0080, 0x0000);
    DeepRow(deep, 0)[1] = Deep(0x0100, 0xFEFF, 0xFF00, 0x00FF);
    Rect r{0, 0, 1, 3};
    CopyBits(GetPortBitMapForCopyBits(deep), GetPortBitMapForCopyBits(flat), &r, &r, srcCopy, nullptr);
    const auto* bytes = reinterpret_cast<const uint8_t*>(Row(flat, 0));
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 12),
              (std::vector<uint8_t>{0xFF, 0x12, 0x00, 0x00, 0x01, 0xFE, 0xFF, 0x00, 0, 0, 0, 0}));
    // 8 to 16 bits: v * 257, so white stays white and the high byte is v again.
    CopyBits(GetPortBitMapForCopyBits(flat), GetPortBitMapForCopyBits(back), &r, &r, srcCopy, nullptr);
    EXPECT_EQ(DeepRow(back, 0)[0], Deep(0xFFFF, 0x1212, 0x0000, 0x0000));
    EXPECT_EQ(DeepRow(back, 0)[1], Deep(0x0101, 0xFEFE, 0xFFFF, 0x0000));
    // Scaled across depths.
    GWorldPtr wide = Make(6, 2);
    Rect to{0, 0, 2, 6};
    CopyBits(GetPortBitMapForCopyBits(deep), GetPortBitMapForCopyBits(wide), &r, &to, srcCopy, nullptr);
    EXPECT_EQ(Row(wide, 1)[3], Row(flat, 0)[1]);
    DisposeGWorld(deep);
    DisposeGWorld(flat);
    DisposeGWorld(back);
    DisposeGWorld(wide);
}

TEST(QuickDraw, NothingIsDrawnIntoADeepPort) {
    GWorldPtr gw = MakeDeep(4, 4);
    SetGWorld(gw, nullptr);
    const RGBColor white{65535, 65535, 65535};
    RGBForeColor(&white);
    Rect all{0, 0, 4, 4};
    PaintRect(&all);
    FrameOval(&all);
    InvertRect(&all);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x) ASSERT_EQ(DeepRow(gw, y)[x], 0u);
    SetGWorld(nullptr, nullptr);
    DisposeGWorld(gw);
}
