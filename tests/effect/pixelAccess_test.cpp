#include "effect/pixelAccess.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

TEST(PixelAccess, ViewFindsPixelsByStrideFromTheOriginAndSavesLockState) {
    // Our own memory: 4 wide, 3 high, 28 bytes a row (12 bytes of padding); bounds moved to the origin.
    std::vector<uint8_t> mem(3 * 28);
    for (size_t i = 0; i < mem.size(); ++i) mem[i] = uint8_t(i);
    GWorldPtr gw = nullptr;
    const Rect bounds{10, 20, 13, 24};
    ASSERT_EQ(NewGWorldFromPtr(&gw, &bounds, reinterpret_cast<Ptr>(mem.data()), 28), noErr);
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
    EXPECT_EQ(reinterpret_cast<uint8_t*>(base), mem.data());  // pixel (0, 0) first
    ASSERT_EQ(rowBytes, 28);
    EXPECT_EQ((std::vector<int>{frame.top, frame.left, frame.bottom, frame.right}), (std::vector<int>{0, 0, 3, 4}));
    PixRec p;  // pixel (c 3, r 2)
    std::memcpy(&p, base + 2 * rowBytes + 4 * 3, 4);
    EXPECT_EQ((std::vector<int>{p.alpha, p.red, p.blue}), (std::vector<int>{68, 69, 71}));
    SetPixelsState(pm, flags);
    EXPECT_EQ(GetPixelsState(pm), before);
    DisposeGWorld(gw);
}
