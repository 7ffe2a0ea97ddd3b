#include "effect/pixelEffect.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

#include <unistd.h>

#include "effect/pixelAccess.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
const bool kSanitized = true;
#else
const bool kSanitized = false;
#endif

struct RGB {
    int r, g, b;
};

// The low byte of each channel must not matter.
RGBColor Offset(RGB c) {
    return RGBColor{uint16_t(c.r << 8 | 0xA5), uint16_t(c.g << 8 | 0x5A), uint16_t(c.b << 8 | 0xFF)};
}

std::vector<int16_t> Kernels(bool withReference) {
    std::vector<int16_t> ks;
    if (withReference) ks.push_back(cRotateReference);
    for (int16_t k : {cRotateTable, cRotateAVX2, cRotateAVX2Lanes, cRotateAVX512})
        if (RotationKernelAvailable(k)) ks.push_back(k);
    return ks;
}

RotationSetup Rotation(int16_t s1, int16_t s2, int16_t s3, RGB offset, int16_t method) {
    RotationSetup s;
    MakeRotationSetup(s1, s2, s3, Offset(offset), method, s);
    return s;
}

// A setup with a hand-made matrix; with offset black, raw = pixel . column.
RotationSetup MatrixSetup(const double (&cols)[3][3], int16_t method) {
    RotationSetup s = Rotation(0, 0, 0, {0, 0, 0}, method);
    for (int c = 0; c < 3; ++c)
        for (int k = 0; k < 3; ++k) s.rotMatrix.m[c][k] = cols[k][c];
    RefreshRotationSetup(s);
    return s;
}

// One colour through every kernel, in a row long enough for the vector loops
// and their tails; the alpha byte of each pixel is its own.
void ExpectRotation(RotationSetup s, RGB in, RGB out, const std::string& what) {
    const int width = 21;
    std::vector<uint8_t> src, want;
    for (int c = 0; c < width; ++c) {
        src.insert(src.end(), {uint8_t(c * 11), uint8_t(in.r), uint8_t(in.g), uint8_t(in.b)});
        want.insert(want.end(), {uint8_t(c * 11), uint8_t(out.r), uint8_t(out.g), uint8_t(out.b)});
    }
    for (int16_t k : Kernels(true)) {
        ASSERT_TRUE(SetRotationKernel(s, k));
        std::vector<uint8_t> dst(width * 4, 0x77);
        RotatePixels(s, src.data(), width * 4, dst.data(), width * 4, width, 1, Rect{0, 0, 1, int16_t(width)}, true);
        EXPECT_EQ(dst, want) << what << " kernel " << RotationKernelName(k);
    }
}

}  // namespace

TEST(PixelEffect, WorkedExamplesThroughEveryKernel) {
    const RGB black{0, 0, 0}, grey{128, 128, 128}, red{255, 0, 0};
    struct Case {
        int16_t s1, s2, s3;
        RGB offset;
        std::vector<int16_t> methods;
        RGB in, out;
    } cases[] = {
        // The default record: the stored pi shows in truncation.
        {100, 100, 100, black, {1}, {200, 100, 50}, {200, 99, 49}},
        {100, 100, 100, black, {1}, {10, 10, 10}, {10, 10, 9}},
        {100, 100, 100, black, {1}, {255, 255, 255}, {255, 255, 254}},
        {100, 100, 100, black, {1}, {0, 0, 0}, {0, 0, 0}},
        {100, 0, 0, grey, {1, 2, 3}, {10, 10, 10}, {10, 246, 245}},
        {100, 0, 0, grey, {1, 2, 3}, {255, 255, 255}, {255, 0, 1}},
        {100, 0, 0, grey, {1}, {0, 0, 0}, {0, 255, 255}},
        {100, 0, 0, grey, {2}, {0, 0, 0}, {0, 1, 0}},
        {100, 0, 0, grey, {3, 0, -1, 99}, {0, 0, 0}, {0, 253, 254}},  // any method but 1 and 2 reflects
        {50, 0, 0, red, {1}, {200, 100, 50}, {200, 0, 100}},
        {50, 0, 0, red, {2}, {200, 100, 50}, {200, 205, 100}},
        {50, 0, 0, red, {3}, {200, 100, 50}, {200, 49, 100}},
        // Directions and order of the three turns.
        {50, 0, 0, black, {1}, {0, 100, 0}, {0, 0, 100}},
        {0, 50, 0, black, {1}, {0, 0, 100}, {100, 0, 0}},
        {0, 0, 50, black, {1}, {100, 0, 0}, {0, 100, 0}},
        {0, 0, -50, black, {1}, {100, 0, 0}, {0, 0, 0}},
        {25, -30, 40, grey, {1, 2, 3}, {200, 100, 50}, {126, 236, 142}},
    };
    for (const Case& c : cases)
        for (int16_t m : c.methods)
            ExpectRotation(Rotation(c.s1, c.s2, c.s3, c.offset, m), c.in, c.out,
                           testing::PrintToString(std::vector<int>{c.s1, c.s2, c.s3, m, c.in.r, c.in.g, c.in.b}));
    // Zero angles change nothing; any angle turns about the offset colour, which stays put.
    std::mt19937 rng(7);
    for (int16_t m : {1, 2, 3})
        for (int i = 0; i < 20; ++i) {
            const RGB p{int(rng() % 256), int(rng() % 256), int(rng() % 256)};
            ExpectRotation(Rotation(0, 0, 0, RGB{int(rng() % 256), 30, 200}, m), p, p, "zero angles");
            ExpectRotation(Rotation(int16_t(rng()), int16_t(rng()), int16_t(rng()), p, m), p, p, "offset colour");
        }
}

TEST(PixelEffect, OutOfRangeValuesAtTheirBoundaries) {
    // Red = r + g/2 - b/2: raw 255.5, -0.5 and 256. Green = 4g - 2r: raw
    // -506, 0, -502, -300 and 600, which one wrap leaves outside.
    const double cols[3][3] = {{1, 0.5, -0.5}, {-2, 4, 0}, {0, 0, 1}};
    const RGB in[] = {{255, 1, 0}, {0, 0, 1}, {255, 2, 0}, {150, 0, 0}, {0, 150, 0}};
    const int want[3][5][2] = {{{255, 0}, {0, 0}, {255, 0}, {150, 0}, {75, 255}},       // clamp
                               {{0, 5}, {254, 0}, {1, 9}, {150, 211}, {75, 89}},        // wrap
                               {{254, 255}, {0, 0}, {254, 255}, {150, 255}, {75, 0}}};  // reflect
    for (int m = 0; m < 3; ++m)
        for (int i = 0; i < 5; ++i)
            ExpectRotation(MatrixSetup(cols, int16_t(m + 1)), in[i], {want[m][i][0], want[m][i][1], in[i].b},
                           "method " + std::to_string(m + 1) + " pixel " + std::to_string(i));
    // 0.0 and 255.0 pass unchanged; a tiny negative is not zero for wrap.
    const double tiny[3][3] = {{1, 0, -1e-9}, {0, 1, 0}, {0, 0, 1}};
    ExpectRotation(MatrixSetup(tiny, 2), {255, 0, 1}, {254, 0, 1}, "wrap just below 255");
    ExpectRotation(MatrixSetup(tiny, 2), {0, 0, 1}, {254, 0, 1}, "wrap just below 0");
    ExpectRotation(MatrixSetup(tiny, 2), {0, 255, 0}, {0, 255, 0}, "wrap exactly 255");
    ExpectRotation(MatrixSetup(tiny, 3), {0, 0, 1}, {0, 0, 1}, "reflect just below 0");
}

// Every fast kernel against the plain transcription on random buffers,
// settings and rectangles, including the places where truncation is touchy.
TEST(PixelEffect, FastKernelsEqualTheReferenceByteForByte) {
    std::mt19937 rng(20261206);
    const int16_t touchy[] = {0, 100, -100, 50, -50, 200, 25, 1, -1, 150, 32767, -32768, 12345, -20000};
    const int widths[] = {1, 3, 7, 33, 64, 257, 1023};
    const int16_t methods[] = {1, 2, 3, 0, 3, -7};
    const int64_t pixelsPerConfig = kSanitized ? 12000 : 60000;
    int64_t checked = 0;
    for (int i = 0; i < 48; ++i) {
        auto slider = [&]() -> int16_t { return rng() % 3 == 0 ? int16_t(rng()) : touchy[rng() % 14]; };
        auto byte = [&]() { return rng() % 4 == 0 ? (rng() % 2) * 255 : rng() % 256; };
        RotationSetup setup;
        const RGBColor offset{uint16_t(byte() << 8), uint16_t(byte() << 8), uint16_t(rng() & 0xFFFF)};
        MakeRotationSetup(slider(), slider(), slider(), offset, methods[i % 6], setup);
        setup.threads = 1 + i % 3;
        const int width = widths[i % 7];
        const int height = int(std::max<int64_t>(1, pixelsPerConfig / width));
        const int16_t w = int16_t(width), h = int16_t(height);
        const Rect rects[] = {{0, 0, h, w},
                              {-5, -3, int16_t(h + 9), int16_t(w + 2)},  // past the edges
                              {int16_t(rng() % h), int16_t(rng() % w), int16_t(rng() % (h + 1)),
                               int16_t(rng() % (w + 1))},  // may be empty
                              {int16_t(h / 3), int16_t(w / 4), int16_t(h - 1), int16_t(w - w / 3)},
                              {h, 0, int16_t(h + 4), w}};  // outside
        const Rect rect = rects[i % 5];
        const bool copyRest = rng() % 4 != 0, inPlace = i % 4 == 1;
        const int srcRowBytes = width * 4 + int(rng() % 3) * 12;
        const int rb = inPlace ? srcRowBytes : width * 4 + int(rng() % 3) * 4;

        std::vector<uint8_t> src(size_t(srcRowBytes) * height), init(size_t(rb) * height);
        for (auto& b : src) b = uint8_t(rng());
        for (auto& b : init) b = uint8_t(rng());
        if (inPlace) init = src;
        std::vector<uint8_t> expected = init;
        RotatePixelsReference(setup, inPlace ? expected.data() : src.data(), srcRowBytes, expected.data(), rb, width,
                              height, rect, copyRest);
        // Padding is never touched, even by the reference.
        for (int r = 0; r < height; ++r)
            for (int c = width * 4; c < rb; ++c) ASSERT_EQ(expected[size_t(r) * rb + c], init[size_t(r) * rb + c]);

        for (int16_t k : Kernels(false)) {
            ASSERT_TRUE(SetRotationKernel(setup, k));
            std::vector<uint8_t> actual = init;
            RotatePixels(setup, inPlace ? actual.data() : src.data(), srcRowBytes, actual.data(), rb, width, height,
                         rect, copyRest);
            ASSERT_TRUE(actual == expected) << "kernel " << RotationKernelName(k) << " config " << i;
            checked += int64_t(width) * height;
        }
    }
    if (!kSanitized) {
        EXPECT_GE(checked / int64_t(std::max<size_t>(1, Kernels(false).size())), 2000000);
    }
}

// All 2^24 colours, at settings whose raw values sit next to integers.
TEST(PixelEffect, FastKernelsEqualTheReferenceOnEveryColour) {
    const int step = kSanitized ? 13 : 1, width = 4096;
    const int height = (1 << 24) / step / width;
    std::vector<uint8_t> src(size_t(width) * height * 4), expected(src.size()), actual(src.size());
    for (size_t i = 0; i < src.size() / 4; ++i) {
        const uint32_t rgb = uint32_t(i) * uint32_t(step);
        src[i * 4] = uint8_t(i * 13), src[i * 4 + 1] = uint8_t(rgb >> 16);
        src[i * 4 + 2] = uint8_t(rgb >> 8), src[i * 4 + 3] = uint8_t(rgb);
    }
    const Rect all{0, 0, int16_t(height), int16_t(width)};
    for (RotationSetup setup : {Rotation(100, 100, 100, {0, 0, 0}, 1), Rotation(100, 0, 0, {128, 128, 128}, 2),
                                Rotation(50, 150, -50, {255, 0, 64}, 3)}) {
        RotatePixelsReference(setup, src.data(), width * 4, expected.data(), width * 4, width, height, all, true);
        for (int16_t k : Kernels(false)) {
            ASSERT_TRUE(SetRotationKernel(setup, k));
            RotatePixels(setup, src.data(), width * 4, actual.data(), width * 4, width, height, all, true);
            ASSERT_TRUE(actual == expected) << RotationKernelName(k);
        }
    }
}

TEST(PixelEffect, RectangleEdgesAndCopyRest) {
    // 6 x 5, rows padded, every pixel (alpha, 10, 10, 10) with its own alpha.
    const int w = 6, h = 5, rb = w * 4 + 8;
    std::vector<uint8_t> src(rb * h, 10);
    for (int i = 0; i < rb * h; i += 4) src[i] = uint8_t(i);
    RotationSetup setup = Rotation(100, 0, 0, {128, 128, 128}, 1);
    for (bool copyRest : {true, false}) {
        std::vector<uint8_t> plain(rb * h, 0xEE);
        for (int r = 0; r < h && copyRest; ++r) std::memcpy(&plain[r * rb], &src[r * rb], w * 4);
        std::vector<uint8_t> want = plain;  // rows 1..3, columns 2..4 rotated (exclusive ends)
        for (int r = 1; r < 4; ++r)
            for (int c = 2; c < 5; ++c) {
                uint8_t* p = &want[r * rb + c * 4];
                p[0] = src[r * rb + c * 4], p[1] = 10, p[2] = 246, p[3] = 245;
            }
        // Empty and outside rectangles: a plain copy, or nothing at all.
        for (Rect rect : {Rect{1, 2, 4, 5}, Rect{3, 3, 3, 5}, Rect{1, 4, 4, 2}, Rect{-9, -9, 0, 6}, Rect{0, 6, 5, 90}})
            for (int16_t k : Kernels(true)) {
                ASSERT_TRUE(SetRotationKernel(setup, k));
                std::vector<uint8_t> dst(rb * h, 0xEE);
                RotatePixels(setup, src.data(), rb, dst.data(), rb, w, h, rect, copyRest);
                EXPECT_EQ(dst, rect.left == 2 ? want : plain)
                    << RotationKernelName(k) << " copyRest " << copyRest << " rect " << rect.top << "," << rect.left;
            }
    }
}

TEST(PixelEffect, ThreadCountComesFromTheEnvironment) {
    const int cores = std::min(64, int(std::max(1u, std::thread::hardware_concurrency())));
    for (const char* value : {"3", "0", "many", "2x", "-4", "", static_cast<const char*>(nullptr)}) {
        value ? setenv("VEXOLUMEN_THREADS", value, 1) : unsetenv("VEXOLUMEN_THREADS");
        RotationSetup s = Rotation(0, 0, 0, {0, 0, 0}, 1);
        EXPECT_EQ(s.threads, value && value[0] == '3' ? 3 : cores) << (value ? value : "unset");
        EXPECT_NE(s.kernel, cRotateAuto);
        EXPECT_NE(s.kernel, cRotateReference);
    }
}

namespace {

// A graphics world over our own random pixels, with 8 bytes of padding a row.
struct Buffer {
    std::vector<uint8_t> px;
    GWorldPtr gw = nullptr;
    Buffer(int h, uint32_t seed) : px(size_t(h) * kRowBytes) {
        std::mt19937 rng(seed);
        for (size_t i = 0; i < px.size(); ++i) px[i] = i % kRowBytes < 13 * 4 ? uint8_t(rng()) : 0xEE;
        const Rect bounds{0, 0, int16_t(h), 13};
        EXPECT_EQ(NewGWorldFromPtr(&gw, &bounds, reinterpret_cast<Ptr>(px.data()), kRowBytes), noErr);
    }
    ~Buffer() { DisposeGWorld(gw); }
    static constexpr int kRowBytes = 13 * 4 + 8;
};

}  // namespace

TEST(PixelEffect, RotateColorOnGraphicsWorlds) {
    PluginDataRec rec{};
    rec.sliders[0] = 25, rec.sliders[1] = -30, rec.sliders[2] = 40;
    rec.sliders[3] = 77;  // sliders 4..6 and colours 2..6 take no part
    rec.colors[0] = Offset({128, 128, 128});
    rec.colors[1] = RGBColor{65535, 0, 0};
    rec.method = 2;
    const Rect rect{2, 3, 9, 11};
    const int rb = Buffer::kRowBytes;
    Buffer src(10, 1), dst(10, 2), other(9, 3), fresh(10, 2), src2(10, 1), dst2(10, 2);
    const std::vector<uint8_t> srcPixels = src.px, dstPixels = dst.px, otherPixels = other.px;

    // The buffer-level reference is what the graphics-world entry must give.
    std::vector<uint8_t> expected = src.px;
    RotatePixelsReference(Rotation(25, -30, 40, {128, 128, 128}, 2), srcPixels.data(), rb, expected.data(), rb, 13,
                          10, rect, true);
    PixMapHandle spm = GetGWorldPixMap(src.gw);
    UnlockPixels(spm);
    const GWorldFlags srcState = GetPixelsState(spm);
    RotateColor(src.gw, dst.gw, rect, true, &rec);
    EXPECT_EQ(dst.px, expected);
    EXPECT_EQ(src.px, srcPixels);
    EXPECT_EQ(GetPixelsState(spm), srcState);

    // No record or source, or a destination of another size: nothing is written.
    RotateColor(src.gw, other.gw, rect, true, &rec);
    EXPECT_EQ(other.px, otherPixels);
    RotateColor(src.gw, fresh.gw, rect, true, nullptr);
    RotateColor(nullptr, fresh.gw, rect, true, &rec);
    EXPECT_EQ(fresh.px, dstPixels);

    // No destination: in place, the rest and the padding unchanged.
    RotateColor(src.gw, nullptr, rect, false, &rec);
    EXPECT_EQ(src.px, expected);

    // ThePixelEffect copies the rest whatever it is told, and puts the current port back.
    SetGWorld(other.gw, nullptr);
    ThePixelEffect(src2.gw, dst2.gw, rect, false, rec, 5, 10, 1.0, 2.0, 3.0);
    EXPECT_EQ(dst2.px, expected);
    CGrafPtr port;
    GDHandle gdh;
    GetGWorld(&port, &gdh);
    EXPECT_EQ(port, other.gw);
    SetGWorld(nullptr, nullptr);
}

TEST(PixelEffect, ThreadedRotationWorksInAForkedChild) {
    // The parent's workers do not exist in a child; the call must not wait for them.
    const int w = 512, h = 128;
    std::vector<uint8_t> src(size_t(w) * h * 4, 0x40), dst(src.size());
    RotationSetup setup = Rotation(25, -30, 40, {128, 128, 128}, 1);
    setup.threads = 2;
    const Rect all{0, 0, int16_t(h), int16_t(w)};
    RotatePixels(setup, src.data(), w * 4, dst.data(), w * 4, w, h, all, true);  // starts the workers
    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_EXIT(
        {
            alarm(10);
            std::vector<uint8_t> again(src.size());
            RotatePixels(setup, src.data(), w * 4, again.data(), w * 4, w, h, all, true);
            std::exit(again == dst ? 0 : 1);  // static destructors run too
        },
        testing::ExitedWithCode(0), "");
}
