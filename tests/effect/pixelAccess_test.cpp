#include "effect/pixelAccess.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

TEST(PixelAccess, ViewReportsBaseStrideAndBoundsAndSavesLockState) {
    GWorldPtr gw = nullptr;
    const Rect bounds{10, 20, 13, 25};  // 5 wide, 3 high, moved to the origin
    ASSERT_EQ(NewGWorld(&gw, 32, &bounds, nullptr, nullptr, 0), noErr);
    PixMapHandle pm = GetGWorldPixMap(gw);
    UnlockPixels(pm);
    const GWorldFlags before = GetPixelsState(pm);

    Ptr base = nullptr;
    int32_t rowBytes = 0;
    Rect frame{};
    GWorldFlags flags = 0;
    GetPixInfoFromGWorld(gw, &base, &rowBytes, &frame, &flags);
    EXPECT_EQ(flags, before);
    EXPECT_TRUE(GetPixelsState(pm) & pixelsLocked);
    EXPECT_EQ(base, GetPixBaseAddr(pm));
    EXPECT_EQ(rowBytes, GetPixRowBytes(pm));
    EXPECT_EQ(frame.top, 0);
    EXPECT_EQ(frame.left, 0);
    EXPECT_EQ(frame.bottom, 3);
    EXPECT_EQ(frame.right, 5);
    SetPixelsState(GetGWorldPixMap(gw), flags);
    EXPECT_EQ(GetPixelsState(pm), before);
    DisposeGWorld(gw);
}

TEST(PixelAccess, PixelIsFoundWithTheStrideNotTheWidth) {
    // Our own memory: 4 wide, 3 high, 28 bytes a row (12 bytes of padding).
    std::vector<uint8_t> mem(3 * 28);
    for (size_t i = 0; i < mem.size(); ++i) mem[i] = uint8_t(i);
    GWorldPtr gw = nullptr;
    const Rect bounds{0, 0, 3, 4};
    ASSERT_EQ(NewGWorldFromPtr(&gw, &bounds, reinterpret_cast<Ptr>(mem.data()), 28), noErr);
    Ptr base = nullptr;
    int32_t rowBytes = 0;
    Rect frame{};
    GWorldFlags flags = 0;
    GetPixInfoFromGWorld(gw, &base, &rowBytes, &frame, &flags);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(base), mem.data());  // pixel (0, 0) first
    ASSERT_EQ(rowBytes, 28);
    PixRec p;  // pixel (c 3, r 2)
    std::memcpy(&p, base + 2 * rowBytes + 4 * 3, 4);
    EXPECT_EQ(p.alpha, 68);
    EXPECT_EQ(p.red, 69);
    EXPECT_EQ(p.blue, 71);
    SetPixelsState(GetGWorldPixMap(gw), flags);
    DisposeGWorld(gw);
}
