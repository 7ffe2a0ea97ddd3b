#include "support/CGGlue.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>

#include "support/commonprocs.h"

namespace {

uint8_t* Px(GWorldPtr gw, int x, int y) {
    PixMapHandle pm = GetGWorldPixMap(gw);
    return reinterpret_cast<uint8_t*>(GetPixBaseAddr(pm) + y * GetPixRowBytes(pm) + 4 * x);
}
uint32_t Word(GWorldPtr gw, int x, int y) {
    const uint8_t* p = Px(gw, x, y);
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
void SetWord(GWorldPtr gw, int x, int y, uint32_t w) {
    uint8_t* p = Px(gw, x, y);
    p[0] = uint8_t(w >> 24), p[1] = uint8_t(w >> 16), p[2] = uint8_t(w >> 8), p[3] = uint8_t(w);
}
uint32_t Distinct(int x, int y) { return 0xFF000000u | uint32_t(30 + 20 * x) << 16 | uint32_t(40 + 30 * y) << 8 | uint32_t(x + 16 * y); }

// A buffer of the given size, every pixel (and all row padding) set to fill.
GWorldPtr Filled(int16_t wid, int16_t hig, uint8_t fill) {
    GWorldPtr gw = AllocateRectGWorld(Rect{0, 0, hig, wid});
    PixMapHandle pm = GetGWorldPixMap(gw);
    std::memset(GetPixBaseAddr(pm), fill, size_t(GetPixRowBytes(pm)) * size_t(hig));
    return gw;
}

CGImageRef DistinctImage(int16_t wid, int16_t hig) {
    GWorldPtr gw = Filled(wid, hig, 0);
    for (int y = 0; y < hig; ++y)
        for (int x = 0; x < wid; ++x) SetWord(gw, x, y, Distinct(x, y));
    CGImageRef image = GWorld2CGImage(gw);
    DisposeGWorld(gw);
    return image;
}

TEST(CGGlue, QDRectToGCRectFlipsAboutTheFrame) {
    auto expectRect = [](CGRect r, float x, float y, float w, float h) {
        EXPECT_EQ(r.origin.x, x);
        EXPECT_EQ(r.origin.y, y);
        EXPECT_EQ(r.size.width, w);
        EXPECT_EQ(r.size.height, h);
    };
    const Rect frame{0, 0, 100, 200};
    expectRect(QDRectToGCRect(Rect{10, 20, 30, 60}, frame), 20, 70, 40, 20);
    expectRect(QDRectToGCRect(frame, frame), 0, 0, 200, 100);
    expectRect(QDRectToGCRect(Rect{0, 5, 25, 15}, frame), 5, 75, 10, 25);  // touches the top
    expectRect(QDRectToGCRect(Rect{10, 20, 30, 60}, Rect{5, 7, 105, 207}), 27, 75, 40, 20);
}

TEST(CGGlue, DrawsExactlyIntoTheTargetOnly) {
    CGImageRef image = DistinctImage(3, 2);
    GWorldPtr gw = Filled(7, 5, 0x3C);
    DrawCGImageInQDRect(gw, image, Rect{1, 2, 3, 5}, 0.0f, false);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x) {
            const bool inside = y >= 1 && y < 3 && x >= 2 && x < 5;
            EXPECT_EQ(Word(gw, x, y), inside ? Distinct(x - 2, y - 1) : 0x3C3C3C3Cu) << x << "," << y;
        }
    const int32_t rowBytes = GetPixRowBytes(GetGWorldPixMap(gw));
    for (int y = 0; y < 5; ++y)
        for (int32_t i = 28; i < rowBytes; ++i) EXPECT_EQ(Px(gw, 0, y)[i], 0x3C) << "row padding";

    DrawCGImageInQDRect(gw, nullptr, Rect{0, 0, 5, 7}, 0.0f, true);  // nothing to draw
    EXPECT_EQ(Word(gw, 0, 0), 0x3C3C3C3Cu);
    DisposeGWorld(gw);
    CGImageRelease(image);
}

TEST(CGGlue, ClearFirstAndQuarterTurn) {
    // A transparent pixel shows what was there unless the target is cleared.
    GWorldPtr src = Filled(2, 2, 0);
    SetWord(src, 0, 0, 0xFF0000FFu);
    SetWord(src, 1, 0, 0xFF00FF00u);
    SetWord(src, 1, 1, 0xFFFF0000u);  // (0, 1) stays transparent
    CGImageRef image = GWorld2CGImage(src);
    DisposeGWorld(src);

    GWorldPtr gw = Filled(4, 2, 0x80);
    DrawCGImageInQDRect(gw, image, Rect{0, 0, 2, 2}, 0.0f, false);
    DrawCGImageInQDRect(gw, image, Rect{0, 2, 2, 4}, 0.0f, true);
    EXPECT_EQ(Word(gw, 0, 1), 0x80808080u);
    EXPECT_EQ(Word(gw, 2, 1), 0u);
    EXPECT_EQ(Word(gw, 3, 1), 0xFFFF0000u);

    // A quarter turn counter-clockwise: top-left to bottom-left, top-right to top-left.
    DrawCGImageInQDRect(gw, image, Rect{0, 0, 2, 2}, float(M_PI / 2), true);
    EXPECT_EQ(Word(gw, 0, 1), 0xFF0000FFu);
    EXPECT_EQ(Word(gw, 0, 0), 0xFF00FF00u);
    EXPECT_EQ(Word(gw, 1, 0), 0xFFFF0000u);
    EXPECT_EQ(Word(gw, 1, 1), 0u);
    EXPECT_EQ(Word(gw, 2, 0), 0xFF0000FFu) << "outside the turned square";
    DisposeGWorld(gw);
    CGImageRelease(image);
}

TEST(CGGlue, GWorldImagesAreSnapshots) {
    GWorldPtr gw = Filled(5, 3, 0);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) SetWord(gw, x, y, Distinct(x, y));
    CGImageRef image = GWorld2CGImage(gw);
    ASSERT_NE(image, nullptr);
    int32_t wid = -1, hig = -1;
    GetImageDims(image, wid, hig);
    EXPECT_EQ(wid, 5);
    EXPECT_EQ(hig, 3);
    SetWord(gw, 0, 0, 0);  // after the snapshot

    GWorldPtr back = Filled(5, 3, 0);
    DrawCGImageInQDRect(back, image, Rect{0, 0, 3, 5}, 0.0f, true);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) EXPECT_EQ(Word(back, x, y), Distinct(x, y)) << x << "," << y;
    EXPECT_EQ(Word(gw, 1, 0), Distinct(1, 0)) << "taking the image leaves the buffer alone";
    EXPECT_EQ(CGImageGetRetainCount(image), 1);
    CGImageRelease(image);
    DisposeGWorld(back);
    DisposeGWorld(gw);

    GetImageDims(nullptr, wid, hig);
    EXPECT_EQ(wid, 0);
    EXPECT_EQ(hig, 0);
}

TEST(CGGlue, ProportionalImageRect) {
    CGImageRef wide = CGBitmapContextCreateImage(nullptr);
    EXPECT_EQ(wide, nullptr);
    CGContextRef c = CGBitmapContextCreate(nullptr, 300, 100, 8, 0, nullptr, kCGImageAlphaPremultipliedFirst);
    wide = CGBitmapContextCreateImage(c);
    CGContextRelease(c);
    c = CGBitmapContextCreate(nullptr, 100, 300, 8, 0, nullptr, kCGImageAlphaPremultipliedFirst);
    CGImageRef tall = CGBitmapContextCreateImage(c);
    CGContextRelease(c);
    const Rect frame{0, 0, 150, 200};
    Rect r = CalcProportionalImageForFrame(wide, frame);
    EXPECT_EQ((std::array<int16_t, 4>{r.top, r.left, r.bottom, r.right}), (std::array<int16_t, 4>{0, 0, 67, 200}));
    r = CalcProportionalImageForFrame(tall, frame);
    EXPECT_EQ((std::array<int16_t, 4>{r.top, r.left, r.bottom, r.right}), (std::array<int16_t, 4>{0, 0, 150, 50}));
    EXPECT_TRUE(EmptyRect(&(r = CalcProportionalImageForFrame(nullptr, frame))));
    CGImageRelease(wide);
    CGImageRelease(tall);
}

TEST(CGGlue, BrokenPreconditionsEndTheProcess) {
    CGImageRef image = DistinctImage(1, 1);
    EXPECT_EXIT(DrawRotatedImageInCGRect(nullptr, image, CGRectMake(0, 0, 1, 1), 0.0f, false),
                testing::ExitedWithCode(1), "Assertion failed in: NIL context for DrawRotatedImageInQDRect");
    CGContextRef c = CGBitmapContextCreate(nullptr, 1, 1, 8, 0, nullptr, kCGImageAlphaPremultipliedFirst);
    EXPECT_EXIT(DrawRotatedImageInCGRect(c, nullptr, CGRectMake(0, 0, 1, 1), 0.0f, false),
                testing::ExitedWithCode(1), "Assertion failed in: NIL Image for DrawRotatedImageInQDRect");
    EXPECT_EXIT(GWorld2CGImage(nullptr), testing::ExitedWithCode(1),
                "Assertion failed in: Failed to create s CGContext on GWorld2CGImage");
    CGContextRelease(c);
    CGImageRelease(image);
}

}  // namespace
