#include "support/CGGlue.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

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
uint32_t Distinct(int x, int y) { return 0xFF000000u | uint32_t(30 + 20 * x) << 16 | uint32_t(40 + 30 * y) << 8 | uint32_t(x + 16 * y); }

// A buffer of the given size, every pixel (and all row padding) set to fill.
GWorldPtr Filled(int16_t wid, int16_t hig, uint8_t fill) {
    GWorldPtr gw = AllocateRectGWorld(Rect{0, 0, hig, wid});
    std::memset(Px(gw, 0, 0), fill, size_t(GetPixRowBytes(GetGWorldPixMap(gw))) * size_t(hig));
    return gw;
}

// An image of the given pixels, row by row; 0 is transparent.
CGImageRef Image(int16_t wid, int16_t hig, uint32_t (*pixel)(int, int)) {
    GWorldPtr gw = Filled(wid, hig, 0);
    for (int y = 0; y < hig; ++y)
        for (int x = 0; x < wid; ++x)
            for (int i = 0; i < 4; ++i) Px(gw, x, y)[i] = uint8_t(pixel(x, y) >> (24 - 8 * i));
    CGImageRef image = GWorld2CGImage(gw);
    DisposeGWorld(gw);
    return image;
}

TEST(CGGlue, QDRectToGCRectFlipsAboutTheFrame) {
    auto expectRect = [](CGRect r, float x, float y, float w, float h) {
        EXPECT_EQ((std::vector<float>{float(r.origin.x), float(r.origin.y), float(r.size.width), float(r.size.height)}),
                  (std::vector<float>{x, y, w, h}));
    };
    const Rect frame{0, 0, 100, 200};
    expectRect(QDRectToGCRect(Rect{10, 20, 30, 60}, frame), 20, 70, 40, 20);
    expectRect(QDRectToGCRect(frame, frame), 0, 0, 200, 100);
    expectRect(QDRectToGCRect(Rect{0, 5, 25, 15}, frame), 5, 75, 10, 25);  // touches the top
    expectRect(QDRectToGCRect(Rect{10, 20, 30, 60}, Rect{5, 7, 105, 207}), 27, 75, 40, 20);
}

TEST(CGGlue, DrawsExactlyIntoTheTargetOnlyClearingAndTurningOnRequest) {
    CGImageRef image = Image(3, 2, Distinct);
    GWorldPtr gw = Filled(7, 5, 0x3C);
    DrawCGImageInQDRect(gw, image, Rect{1, 2, 3, 5}, 0.0f, false);
    DrawCGImageInQDRect(gw, nullptr, Rect{0, 0, 5, 7}, 0.0f, true);  // nothing to draw
    for (int y = 0; y < 5; ++y) {
        for (int x = 0; x < 7; ++x) {
            const bool inside = y >= 1 && y < 3 && x >= 2 && x < 5;
            EXPECT_EQ(Word(gw, x, y), inside ? Distinct(x - 2, y - 1) : 0x3C3C3C3Cu) << x << "," << y;
        }
        for (int32_t i = 28; i < GetPixRowBytes(GetGWorldPixMap(gw)); ++i) EXPECT_EQ(Px(gw, 0, y)[i], 0x3C) << "row padding";
    }
    DisposeGWorld(gw);
    CGImageRelease(image);

    // A transparent pixel, bottom-left, shows what was there unless the target is cleared.
    image = Image(2, 2, [](int x, int y) { return x ? (y ? 0xFFFF0000u : 0xFF00FF00u) : (y ? 0u : 0xFF0000FFu); });
    gw = Filled(4, 2, 0x80);
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

TEST(CGGlue, ProportionalImageRectAndBrokenPreconditions) {
    CGImageRef wide = Image(30, 10, Distinct);  // width and height go the right way round
    const Rect r = CalcProportionalImageForFrame(wide, Rect{0, 0, 150, 200});
    EXPECT_EQ((std::vector<int16_t>{r.top, r.left, r.bottom, r.right}), (std::vector<int16_t>{0, 0, 67, 200}));
    const Rect none = CalcProportionalImageForFrame(nullptr, Rect{0, 0, 150, 200});
    EXPECT_TRUE(EmptyRect(&none));

    EXPECT_EXIT(DrawRotatedImageInCGRect(nullptr, wide, CGRectMake(0, 0, 1, 1), 0.0f, false),
                testing::ExitedWithCode(1), "Assertion failed in: NIL context for DrawRotatedImageInQDRect");
    CGContextRef c = CGBitmapContextCreate(nullptr, 1, 1, 8, 0, nullptr, kCGImageAlphaPremultipliedFirst);
    EXPECT_EXIT(DrawRotatedImageInCGRect(c, nullptr, CGRectMake(0, 0, 1, 1), 0.0f, false),
                testing::ExitedWithCode(1), "Assertion failed in: NIL Image for DrawRotatedImageInQDRect");
    EXPECT_EXIT(GWorld2CGImage(nullptr), testing::ExitedWithCode(1),
                "Assertion failed in: Failed to create s CGContext on GWorld2CGImage");
    CGContextRelease(c);
    CGImageRelease(wide);
}

}  // namespace
