#include "pipeline/callPixelFX.h"

#include <gtest/gtest.h>

#include <vector>

#include "pipeline/pluginFX.h"
#include "support/commonprocs.h"

namespace {
uint32_t& Pixel(GWorldPtr gw, int x, int y) {
    PixMapHandle pm = GetGWorldPixMap(gw);
    return reinterpret_cast<uint32_t*>(GetPixBaseAddr(pm) + y * GetPixRowBytes(pm))[x];
}
void Fill(GWorldPtr gw) {
    const Rect b = GetPortRect(gw);
    for (int y = 0; y < b.bottom; ++y)
        for (int x = 0; x < b.right; ++x) Pixel(gw, x, y) = uint32_t(x * 2654435761u ^ y * 40503u) | 0xFFu;
}
std::vector<uint32_t> All(GWorldPtr gw) {
    const Rect b = GetPortRect(gw);
    std::vector<uint32_t> v;
    for (int y = 0; y < b.bottom; ++y)
        for (int x = 0; x < b.right; ++x) v.push_back(Pixel(gw, x, y));
    return v;
}
}  // namespace

TEST(RenderDriver, ProcessesExactlyTheMappedRectangle) {
    GWorldPtr src = AllocateRectGWorld(Rect{0, 0, 480, 720});
    GWorldPtr dst = AllocateRectGWorld(Rect{0, 0, 480, 720});
    Fill(src);
    PluginDataRec rec{};
    ResetConfig(&rec, true);
    rec.sliders[0] = 50;  // a quarter turn changes nearly every pixel
    rec.startRel = RelRect{0.25, 0.75, 0.25, 0.75};
    DoEffect(&rec, nullptr, src, dst, 0, 0, 0, 1, 0.5f, 0.5f, 0.5f);
    int changedInside = 0, insideCount = 0;
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 720; ++x) {
            const bool inside = x >= 180 && x < 540 && y >= 120 && y < 360;
            if (!inside) {
                ASSERT_EQ(Pixel(dst, x, y), Pixel(src, x, y)) << x << "," << y;
            } else {
                ++insideCount;
                changedInside += Pixel(dst, x, y) != Pixel(src, x, y);
            }
        }
    EXPECT_GT(changedInside, insideCount * 9 / 10);
    DisposeGWorld(src);
    DisposeGWorld(dst);
}

TEST(RenderDriver, FrameAndSlidersDoNotChangeThePictureAndThePreviewMatches) {
    GWorldPtr src = AllocateRectGWorld(Rect{0, 0, 31, 45});
    GWorldPtr a = AllocateRectGWorld(Rect{0, 0, 31, 45});
    GWorldPtr b = AllocateRectGWorld(Rect{0, 0, 31, 45});
    GWorldPtr c = AllocateRectGWorld(Rect{0, 0, 31, 45});
    Fill(src);
    PluginDataRec rec{};
    ResetConfig(&rec, true);
    rec.sliders[0] = 25;
    rec.sliders[1] = -30;
    rec.sliders[2] = 40;
    rec.colors[0] = RGBColor{0x8000, 0x4000, 0xC000};
    rec.startRel = RelRect{0.1, 0.9, 0.2, 0.7};
    CGrafPtr before;
    GDHandle device;
    GetGWorld(&before, &device);
    DoEffect(&rec, nullptr, src, a, 0, 0, 0, 10, 0.0f, 0.0f, 0.0f);
    DoEffect(&rec, nullptr, src, b, 7, 3, 2, 99, 1.0f, 0.25f, 0.75f);
    CGrafPtr after;
    GetGWorld(&after, &device);
    EXPECT_EQ(after, before);  // the current port is restored
    EXPECT_EQ(All(a), All(b));

    gConfigWorkspace.theConfig = &rec;
    gConfigWorkspace.currFrameIndex = 4;
    gConfigWorkspace.maxFrameIndex = 9;
    CallPixelEffect(src, c);
    EXPECT_EQ(All(c), All(a));
    gConfigWorkspace.theConfig = nullptr;

    EXPECT_EXIT(DoEffect(nullptr, nullptr, src, a, 0, 0, 0, 1, 0, 0, 0), testing::ExitedWithCode(1),
                "uninited theData in Plugin Effect master proc");
    for (GWorldPtr gw : {src, a, b, c}) DisposeGWorld(gw);
}
