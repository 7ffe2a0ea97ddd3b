#include "effect/lineEffect.h"

#include <gtest/gtest.h>

#include <cstring>

#include "support/CGGlue.h"
#include "support/commonprocs.h"

namespace {

uint32_t Word(GWorldPtr gw, int x, int y) {
    PixMapHandle pm = GetGWorldPixMap(gw);
    const auto* p = reinterpret_cast<const uint8_t*>(GetPixBaseAddr(pm) + y * GetPixRowBytes(pm) + 4 * x);
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// A 3 x 2 picture: opaque, all different, one transparent pixel.
CGImageRef Picture() {
    GWorldPtr gw = AllocateRectGWorld(Rect{0, 0, 2, 3});
    PixMapHandle pm = GetGWorldPixMap(gw);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) {
            uint8_t* p = reinterpret_cast<uint8_t*>(GetPixBaseAddr(pm) + y * GetPixRowBytes(pm) + 4 * x);
            const uint8_t px[4] = {0xFF, uint8_t(50 * x), uint8_t(100 + y), uint8_t(7 * x + y)};
            std::memcpy(p, px, 4);
        }
    std::memset(GetPixBaseAddr(pm) + GetPixRowBytes(pm) + 8, 0, 4);  // (2, 1)
    CGImageRef image = GWorld2CGImage(gw);
    DisposeGWorld(gw);
    return image;
}

TEST(LineEffect, RendersTheSourcePictureAndOwnsTheResult) {
    PluginDataRec rec{};
    RenderLineArt(&rec);
    EXPECT_EQ(rec.theOriginalImage, nullptr);
    EXPECT_EQ(rec.theRendered, nullptr);

    rec.theOriginalImage = Picture();
    RenderLineArt(&rec);
    CGImageRef first = rec.theRendered;
    ASSERT_NE(first, nullptr);
    EXPECT_NE(first, rec.theOriginalImage);
    EXPECT_EQ(CGImageGetRetainCount(rec.theOriginalImage), 1);
    EXPECT_EQ(CGImageGetRetainCount(first), 1);

    GWorldPtr want = AllocateRectGWorld(Rect{0, 0, 2, 3});
    GWorldPtr got = AllocateRectGWorld(Rect{0, 0, 2, 3});
    DrawCGImageInQDRect(want, rec.theOriginalImage, Rect{0, 0, 2, 3}, 0.0f, true);
    DrawCGImageInQDRect(got, first, Rect{0, 0, 2, 3}, 0.0f, true);
    int32_t wid, hig;
    GetImageDims(first, wid, hig);
    EXPECT_EQ(wid, 3);
    EXPECT_EQ(hig, 2);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x) EXPECT_EQ(Word(got, x, y), Word(want, x, y)) << x << "," << y;
    EXPECT_EQ(Word(got, 1, 1), 0xFF326508u);
    EXPECT_EQ(Word(got, 2, 1), 0u);
    DisposeGWorld(want);
    DisposeGWorld(got);

    // Each refresh releases the previous rendered image.
    CGImageRetain(first);
    RenderLineArt(&rec);
    EXPECT_EQ(CGImageGetRetainCount(first), 1);
    EXPECT_NE(rec.theRendered, nullptr);
    CGImageRelease(first);

    // Without a source picture the rendered image goes and stays gone.
    CGImageRelease(rec.theOriginalImage);
    rec.theOriginalImage = nullptr;
    CGImageRef last = CGImageRetain(rec.theRendered);
    RenderLineArt(&rec);
    EXPECT_EQ(rec.theRendered, nullptr);
    EXPECT_EQ(CGImageGetRetainCount(last), 1);
    RenderLineArt(&rec);
    EXPECT_EQ(CGImageGetRetainCount(last), 1);
    CGImageRelease(last);

    EXPECT_EXIT(RenderLineArt(nullptr), testing::ExitedWithCode(1),
                "Assertion failed in: nil config on RenderLineArt");
}

}  // namespace
