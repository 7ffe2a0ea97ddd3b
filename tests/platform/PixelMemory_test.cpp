#include "platform/qd/PixelMemory.h"

#include <gtest/gtest.h>

#include <sys/mman.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

namespace {
constexpr size_t kFrame = size_t(1920) * 1080 * 4;  // an HD frame

bool AllZero(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    for (size_t i = 0; i < n; i += 4093)
        if (b[i]) return false;
    return b[n - 1] == 0;
}

bool Mapped(void* p, size_t n) { return msync(p, n, MS_ASYNC) == 0 || errno != ENOMEM; }
}  // namespace

TEST(PixelMemory, ReusedBuffersComeBackZeroedAndAligned) {
    for (size_t bytes : {size_t(100), kFrame}) {
        size_t keepLength = 0, length = 0;
        void* keep = AllocatePixels(bytes, &keepLength);  // holds the size in use
        void* a = AllocatePixels(bytes, &length);
        ASSERT_TRUE(keep && a);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(a) % 64, 0u);
        EXPECT_TRUE(AllZero(a, bytes));
        std::memset(a, 0xAB, bytes);
        FreePixels(a, length);
        void* b = AllocatePixels(bytes, &length);  // most likely a again
        ASSERT_TRUE(b);
        EXPECT_TRUE(AllZero(b, bytes)) << bytes;
        FreePixels(b, length);
        FreePixels(keep, keepLength);
    }
}

TEST(PixelMemory, LastBufferOfASizeGivesTheMemoryBack) {
    size_t la = 0, lb = 0;
    void* a = AllocatePixels(kFrame, &la);
    void* b = AllocatePixels(kFrame, &lb);
    ASSERT_TRUE(a && b);
    if (la == 0) GTEST_SKIP() << "buffers come from the heap in this build";
    FreePixels(b, lb);  // kept for the next frame: a is still in use
    EXPECT_TRUE(Mapped(b, lb));
    FreePixels(a, la);
    EXPECT_FALSE(Mapped(a, la));
    EXPECT_FALSE(Mapped(b, lb));
}
