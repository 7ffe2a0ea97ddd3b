#include "platform/cg/CoreGraphics.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

// A top-down A,R,G,B buffer with 8 bytes of padding per row to catch row
// stepping by width.
struct Buffer {
    size_t width, height, rowBytes;
    std::vector<uint8_t> bytes;
    Buffer(size_t w, size_t h, uint8_t fill = 0) : width(w), height(h), rowBytes(4 * w + 8), bytes(rowBytes * h, fill) {}
    uint8_t* px(size_t x, size_t y) { return &bytes[y * rowBytes + 4 * x]; }
    uint32_t word(size_t x, size_t y) {
        const uint8_t* p = px(x, y);
        return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
    }
    CGContextRef context() {
        return CGBitmapContextCreate(bytes.data(), width, height, 8, rowBytes, nullptr, kCGImageAlphaPremultipliedFirst);
    }
};

// Opaque, every pixel different, no symmetry.
uint32_t Distinct(size_t x, size_t y) { return 0xFF000000u | uint32_t(10 + 40 * x) << 16 | uint32_t(20 + 50 * y) << 8 | uint32_t(x * 7 + y * 3); }

CGImageRef MakeImage(size_t w, size_t h) {
    Buffer b(w, h);
    for (size_t y = 0; y < h; ++y)
        for (size_t x = 0; x < w; ++x)
            for (int i = 0; i < 4; ++i) b.px(x, y)[i] = uint8_t(Distinct(x, y) >> (24 - 8 * i));
    CGContextRef c = b.context();
    CGImageRef image = CGBitmapContextCreateImage(c);
    CGContextRelease(c);
    return image;
}

// The image's pixels, drawn unscaled onto transparent black.
Buffer Pixels(CGImageRef image) {
    Buffer b(CGImageGetWidth(image), CGImageGetHeight(image));
    CGContextRef c = b.context();
    CGContextDrawImage(c, CGRectMake(0, 0, float(b.width), float(b.height)), image);
    CGContextRelease(c);
    return b;
}

TEST(CoreGraphics, UnscaledDrawIsExactAndLandsTopDown) {
    CGImageRef image = MakeImage(5, 3);
    Buffer dst(8, 6, 0x5A);
    CGContextRef c = dst.context();
    // Rect x 2, y 1 (from the bottom), 5 x 3: memory rows 2..4, columns 2..6.
    CGContextDrawImage(c, CGRectMake(2, 1, 5, 3), image);
    EXPECT_EQ(dst.word(2, 2), 0x5A5A5A5Au) << "memory changes only at flush";
    CGContextFlush(c);
    for (size_t y = 0; y < 6; ++y)
        for (size_t x = 0; x < 8; ++x) {
            const bool inside = x >= 2 && x < 7 && y >= 2 && y < 5;
            EXPECT_EQ(dst.word(x, y), inside ? Distinct(x - 2, y - 2) : 0x5A5A5A5Au) << x << "," << y;
        }
    for (size_t y = 0; y < 6; ++y)
        for (size_t i = 32; i < dst.rowBytes; ++i) EXPECT_EQ(dst.bytes[y * dst.rowBytes + i], 0x5A);
    CGContextRelease(c);
    CGImageRelease(image);
}

TEST(CoreGraphics, QuarterTurnIsCounterClockwise) {
    const size_t n = 3;
    CGImageRef image = MakeImage(n, n);
    Buffer dst(n, n);
    CGContextRef c = dst.context();
    CGContextTranslateCTM(c, 1.5f, 1.5f);
    CGContextRotateCTM(c, float(M_PI / 2));
    CGContextDrawImage(c, CGRectMake(-1.5f, -1.5f, 3, 3), image);
    CGContextRelease(c);  // the last release flushes
    // Top-right goes to top-left, top-left to bottom-left.
    for (size_t r = 0; r < n; ++r)
        for (size_t col = 0; col < n; ++col)
            EXPECT_EQ(dst.word(r, n - 1 - col), Distinct(col, r)) << r << "," << col;
    CGImageRelease(image);
}

TEST(CoreGraphics, ScalesWithoutSoftEdgesClearsUnderTheCtmAndSurvivesDegenerateInput) {
    CGImageRef image = MakeImage(1, 1);
    const uint32_t colour = Distinct(0, 0);
    Buffer dst(6, 6, 0x11);
    CGContextRef c = dst.context();
    CGContextDrawImage(c, CGRectMake(1, 1, 4, 4), image);
    CGContextSaveGState(c);
    CGContextTranslateCTM(c, 2, 2);
    CGContextClearRect(c, CGRectMake(0, 0, 1, 1));  // memory row 3, column 2
    CGContextRestoreGState(c);
    CGContextClearRect(c, CGRectMake(5, 5, 1, 1));  // restored: top-right corner
    // Degenerate input draws nothing and does not break the context.
    CGContextRotateCTM(c, NAN);
    CGContextScaleCTM(c, 0, 1);
    CGContextDrawImage(c, CGRectMake(0, 0, 0, 3), image);
    CGContextDrawImage(c, CGRectMake(0, 0, 1, 1), nullptr);
    CGContextRelease(c);
    for (size_t y = 0; y < 6; ++y)
        for (size_t x = 0; x < 6; ++x) {
            uint32_t want = (x >= 1 && x < 5 && y >= 1 && y < 5) ? colour : 0x11111111u;
            if ((x == 2 && y == 3) || (x == 5 && y == 0)) want = 0;
            EXPECT_EQ(dst.word(x, y), want) << x << "," << y;
        }
    CGImageRelease(image);
}

// Images are snapshots of the context's pixels, and a copy outlives the original.
TEST(CoreGraphics, ImagesAreSnapshotsAndCopiesSurviveTheOriginal) {
    Buffer b(2, 2, 0x7F);
    CGContextRef c = b.context();
    CGImageRef before = CGBitmapContextCreateImage(c);
    CGContextClearRect(c, CGRectMake(0, 0, 2, 2));
    CGImageRef after = CGBitmapContextCreateImage(c);  // sees the unflushed drawing
    CGContextRelease(c);
    EXPECT_EQ(Pixels(after).word(0, 0), 0u);
    CGImageRef copy = CGImageCreateCopy(before);
    CGImageRelease(before);
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(Pixels(copy).word(0, 0), 0x7F7F7F7Fu);
    CGImageRelease(copy);
    CGImageRelease(after);
}

}  // namespace
