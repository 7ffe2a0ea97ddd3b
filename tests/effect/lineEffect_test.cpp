#include "effect/lineEffect.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>

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
            const uint8_t px[4] = {0xFF, uint8_t(50 * x), uint8_t(100 + y), uint8_t(7 * x + y)};
            std::memcpy(GetPixBaseAddr(pm) + y * GetPixRowBytes(pm) + 4 * x, px, 4);
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
    EXPECT_EQ(CGImageGetRetainCount(rec.theOriginalImage), 1);
    EXPECT_EQ(CGImageGetRetainCount(first), 1);

    // The picture's own pixels, the transparent one included.
    GWorldPtr got = AllocateRectGWorld(Rect{0, 0, 2, 3});
    DrawCGImageInQDRect(got, first, Rect{0, 0, 2, 3}, 0.0f, true);
    int32_t wid, hig;
    GetImageDims(first, wid, hig);
    EXPECT_EQ(std::make_pair(wid, hig), std::make_pair(3, 2));
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 3; ++x)
            EXPECT_EQ(Word(got, x, y), x == 2 && y == 1 ? 0u : 0xFF000000u | 50 * x << 16 | (100 + y) << 8 | (7 * x + y))
                << x << "," << y;
    DisposeGWorld(got);

    // Each refresh releases the previous rendered image.
    CGImageRetain(first);
    RenderLineArt(&rec);
    EXPECT_EQ(CGImageGetRetainCount(first), 1);
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
