// The colour rotation on 64-bit pixels: worked values, the out-of-range
// methods at 16 bits, and every fast kernel against the plain transcription.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "effect/pixelAccess.h"
#include "effect/pixelEffect.h"

namespace {

#if defined(__SANITIZE_ADDRESS__)
const bool kSanitized = true;
#else
const bool kSanitized = false;
#endif

struct RGB16 {
    int r, g, b;
};

std::vector<int16_t> DeepKernels(bool withReference) {
    std::vector<int16_t> ks;
    if (withReference) ks.push_back(cRotateReference);
    for (int16_t k : {cRotateTable, cRotateAVX2, cRotateAVX512})
        if (RotationKernel64Available(k)) ks.push_back(k);
    return ks;
}

RotationSetup64 Deep(int16_t s1, int16_t s2, int16_t s3, RGB16 offset, int16_t method) {
    RotationSetup64 s;
    MakeRotationSetup64(s1, s2, s3, RGBColor{uint16_t(offset.r), uint16_t(offset.g), uint16_t(offset.b)}, method,
                        s);
    return s;
}

// A hand-made matrix with offset black: raw = pixel . column, exactly.
RotationSetup64 DeepMatrix(const double (&cols)[3][3], int16_t method) {
    RotationSetup64 s = Deep(0, 0, 0, {0, 0, 0}, method);
    for (int c = 0; c < 3; ++c)
        for (int k = 0; k < 3; ++k) s.rotMatrix.m[c][k] = cols[k][c];
    return s;
}

std::vector<uint8_t> DeepRow(const std::vector<PixRec64>& px) {
    std::vector<uint8_t> out(px.size() * 8);
    std::memcpy(out.data(), px.data(), out.size());
    return out;
}

// One colour through every kernel in a row long enough for the vector loops
// and their tails; each pixel keeps its own alpha.
void ExpectDeep(RotationSetup64 s, RGB16 in, RGB16 out, const std::string& what) {
    const int width = 21;
    std::vector<PixRec64> src, want;
    for (int c = 0; c < width; ++c) {
        const uint16_t a = uint16_t(c * 3001);
        src.push_back({a, uint16_t(in.r), uint16_t(in.g), uint16_t(in.b)});
        want.push_back({a, uint16_t(out.r), uint16_t(out.g), uint16_t(out.b)});
    }
    const std::vector<uint8_t> srcBytes = DeepRow(src), wantBytes = DeepRow(want);
    for (int16_t k : DeepKernels(true)) {
        ASSERT_TRUE(SetRotationKernel64(s, k));
        std::vector<uint8_t> dst(width * 8, 0x77);
        RotatePixels64(s, srcBytes.data(), width * 8, dst.data(), width * 8, width, 1, Rect{0, 0, 1, int16_t(width)},
                       true);
        EXPECT_EQ(dst, wantBytes) << what << " kernel " << RotationKernel64Name(k);
    }
}

}  // namespace

TEST(DeepPixelEffect, OutOfRangeValuesAtTheirBoundaries) {
    // Red = r + g/2 - b/2: raw 65535.5, -0.5 and 65536. Green = 4g - 2r:
    // raw -131066, 0, -131062, -60000 and 160000, some of which one wrap
    // leaves outside 16 bits.
    const double cols[3][3] = {{1, 0.5, -0.5}, {-2, 4, 0}, {0, 0, 1}};
    const RGB16 in[] = {{65535, 1, 0}, {0, 0, 1}, {65535, 2, 0}, {30000, 0, 0}, {0, 40000, 0}};
    const int want[3][5][2] = {{{65535, 0}, {0, 0}, {65535, 0}, {30000, 0}, {20000, 65535}},           // clamp
                               {{0, 5}, {65534, 0}, {1, 9}, {30000, 5535}, {20000, 28929}},            // wrap
                               {{65534, 65535}, {0, 0}, {65534, 65535}, {30000, 60000}, {20000, 0}}};  // reflect
    for (int m = 0; m < 3; ++m)
        for (int i = 0; i < 5; ++i)
            ExpectDeep(DeepMatrix(cols, int16_t(m + 1)), in[i], {want[m][i][0], want[m][i][1], in[i].b},
                       "method " + std::to_string(m + 1) + " pixel " + std::to_string(i));
    // 0.0 and 65535.0 pass unchanged; a tiny negative is not zero for wrap.
    const double tiny[3][3] = {{1, 0, -1e-9}, {0, 1, 0}, {0, 0, 1}};
    ExpectDeep(DeepMatrix(tiny, 2), {65535, 0, 1}, {65534, 0, 1}, "wrap just below 65535");
    ExpectDeep(DeepMatrix(tiny, 2), {0, 0, 1}, {65534, 0, 1}, "wrap just below 0");
    ExpectDeep(DeepMatrix(tiny, 2), {0, 65535, 0}, {0, 65535, 0}, "wrap exactly 65535");
    ExpectDeep(DeepMatrix(tiny, 3), {0, 0, 1}, {0, 0, 1}, "reflect just below 0");
    ExpectDeep(DeepMatrix(tiny, 0), {0, 0, 1}, {0, 0, 1}, "method 0 reflects");
}

TEST(DeepPixelEffect, TurnsAboutTheFullSixteenBitOffset) {
    std::mt19937 rng(11);
    for (int16_t m : {1, 2, 3})
        for (int i = 0; i < 20; ++i) {
            const RGB16 p{int(rng() % 65536), int(rng() % 65536), int(rng() % 65536)};
            ExpectDeep(Deep(0, 0, 0, {int(rng() % 65536), 300, 65535}, m), p, p, "zero angles");
            // The offset's low byte counts: a pixel on it stays put at any angle.
            ExpectDeep(Deep(int16_t(rng()), int16_t(rng()), int16_t(rng()), p, m), p, p, "offset colour");
        }
    // Directions at 16 bits, as at 8: a quarter turn about red takes green to blue.
    ExpectDeep(Deep(50, 0, 0, {0, 0, 0}, 1), {0, 25600, 0}, {0, 0, 25600}, "green to blue");
    ExpectDeep(Deep(0, 0, -50, {0, 0, 0}, 1), {25600, 0, 0}, {0, 0, 0}, "red to negative green, clamped");
}

// Every fast kernel against the plain transcription on random buffers,
// settings and rectangles; channel values lean to the ends of the range.
TEST(DeepPixelEffect, FastKernelsEqualTheReferenceByteForByte) {
    std::mt19937 rng(20261207);
    const int16_t touchy[] = {0, 100, -100, 50, -50, 200, 25, 1, -1, 150, 32767, -32768, 12345, -20000};
    const int widths[] = {1, 3, 7, 9, 33, 257, 1023};
    const int16_t methods[] = {1, 2, 3, 0, 3, -7};
    const int64_t pixelsPerConfig = kSanitized ? 6000 : 40000;
    int64_t checked = 0;
    for (int i = 0; i < 48; ++i) {
        auto slider = [&]() -> int16_t { return rng() % 3 == 0 ? int16_t(rng()) : touchy[rng() % 14]; };
        auto channel = [&]() { return uint16_t(rng() % 4 == 0 ? (rng() % 2) * 65535 : rng()); };
        RotationSetup64 setup;
        MakeRotationSetup64(slider(), slider(), slider(), RGBColor{channel(), channel(), channel()}, methods[i % 6],
                            setup);
        setup.threads = 1 + i % 3;
        const int width = widths[i % 7];
        const int height = int(std::clamp<int64_t>(pixelsPerConfig / width, 1, 30000));  // int16 rectangles
        const int16_t w = int16_t(width), h = int16_t(height);
        const Rect rects[] = {{0, 0, h, w},
                              {-5, -3, int16_t(h + 9), int16_t(w + 2)},  // past the edges
                              {int16_t(rng() % h), int16_t(rng() % w), int16_t(rng() % (h + 1)),
                               int16_t(rng() % (w + 1))},  // may be empty
                              {int16_t(h / 3), int16_t(w / 4), int16_t(h - 1), int16_t(w - w / 3)},
                              {h, 0, int16_t(h + 4), w}};  // outside
        const Rect rect = rects[i % 5];
        const bool copyRest = rng() % 4 != 0, inPlace = i % 4 == 1;
        const int srcRowBytes = width * 8 + int(rng() % 3) * 24;
        const int rb = inPlace ? srcRowBytes : width * 8 + int(rng() % 3) * 8;

        std::vector<uint8_t> src(size_t(srcRowBytes) * height), init(size_t(rb) * height);
        for (size_t b = 0; b < src.size(); b += 2) {
            const uint16_t v = channel();
            std::memcpy(&src[b], &v, 2);
        }
        for (auto& b : init) b = uint8_t(rng());
        if (inPlace) init = src;
        std::vector<uint8_t> expected = init;
        RotatePixelsReference64(setup, inPlace ? expected.data() : src.data(), srcRowBytes, expected.data(), rb,
                                width, height, rect, copyRest);
        for (int r = 0; r < height; ++r)
            for (int c = width * 8; c < rb; ++c) ASSERT_EQ(expected[size_t(r) * rb + c], init[size_t(r) * rb + c]);

        for (int16_t k : DeepKernels(false)) {
            ASSERT_TRUE(SetRotationKernel64(setup, k));
            std::vector<uint8_t> actual = init;
            RotatePixels64(setup, inPlace ? actual.data() : src.data(), srcRowBytes, actual.data(), rb, width,
                           height, rect, copyRest);
            ASSERT_TRUE(actual == expected) << "kernel " << RotationKernel64Name(k) << " config " << i;
            checked += int64_t(width) * height;
        }
    }
    if (!kSanitized) {
        EXPECT_GE(checked / int64_t(std::max<size_t>(1, DeepKernels(false).size())), 1800000);
    }
}

// Rotations whose raw values land next to integers: small slider steps, the
// half turns of the stored pi and grey offsets, over a dense spread of colours.
TEST(DeepPixelEffect, FastKernelsEqualTheReferenceNearIntegers) {
    const int width = 1021, height = kSanitized ? 64 : 512;
    std::vector<uint8_t> src(size_t(width) * height * 8), expected(src.size()), actual(src.size());
    for (size_t i = 0; i < src.size() / 8; ++i) {
        const uint64_t v = uint64_t(i) * 0x9E3779B97F4A7C15ull;
        const uint16_t ch[4] = {uint16_t(i), uint16_t(i * 65), uint16_t(v >> 20), uint16_t((i & 1) ? 65535 - i : i)};
        std::memcpy(&src[i * 8], ch, 8);
    }
    const Rect all{0, 0, int16_t(height), int16_t(width)};
    for (RotationSetup64 setup :
         {Deep(100, 100, 100, {0, 0, 0}, 1), Deep(100, 0, 0, {32768, 32768, 32768}, 2),
          Deep(50, 150, -50, {65535, 0, 16448}, 3), Deep(1, -1, 2, {0x1234, 0xFEDC, 0x8001}, 2),
          Deep(25, -30, 40, {32896, 32896, 32896}, 3)}) {
        RotatePixelsReference64(setup, src.data(), width * 8, expected.data(), width * 8, width, height, all, true);
        for (int16_t k : DeepKernels(false)) {
            ASSERT_TRUE(SetRotationKernel64(setup, k));
            RotatePixels64(setup, src.data(), width * 8, actual.data(), width * 8, width, height, all, true);
            ASSERT_TRUE(actual == expected) << RotationKernel64Name(k);
        }
    }
}

TEST(DeepPixelEffect, RotateColorTakesTheDepthOfItsBuffers) {
    PluginDataRec rec{};
    rec.sliders[0] = 25, rec.sliders[1] = -30, rec.sliders[2] = 40;
    rec.colors[0] = RGBColor{0x8012, 0x7FEE, 0x0101};
    rec.method = 3;
    const Rect bounds{0, 0, 9, 13}, rect{2, 3, 8, 11};
    GWorldPtr src = nullptr, dst = nullptr, flat = nullptr;
    ASSERT_EQ(NewGWorld(&src, 64, &bounds, nullptr, nullptr, 0), noErr);
    ASSERT_EQ(NewGWorld(&dst, 64, &bounds, nullptr, nullptr, 0), noErr);
    ASSERT_EQ(NewGWorld(&flat, 32, &bounds, nullptr, nullptr, 0), noErr);
    PixMapHandle spm = GetGWorldPixMap(src), dpm = GetGWorldPixMap(dst);
    const int rb = GetPixRowBytes(spm);
    std::mt19937 rng(5);
    for (int i = 0; i < rb * 9; ++i) GetPixBaseAddr(spm)[i] = char(rng());

    std::vector<uint8_t> expected(size_t(rb) * 9);
    std::memcpy(expected.data(), GetPixBaseAddr(dpm), expected.size());  // zero padding stays zero
    RotatePixelsReference64(Deep(25, -30, 40, {0x8012, 0x7FEE, 0x0101}, 3),
                            reinterpret_cast<const uint8_t*>(GetPixBaseAddr(spm)), rb, expected.data(), rb, 13, 9,
                            rect, true);
    RotateColor(src, dst, rect, true, &rec);
    EXPECT_EQ(std::memcmp(GetPixBaseAddr(dpm), expected.data(), expected.size()), 0);

    // Buffers of different depths: nothing is written either way.
    RotateColor(src, flat, rect, true, &rec);
    PixMapHandle fpm = GetGWorldPixMap(flat);
    EXPECT_TRUE(std::all_of(GetPixBaseAddr(fpm), GetPixBaseAddr(fpm) + GetPixRowBytes(fpm) * 9,
                            [](char c) { return c == 0; }));
    const std::vector<uint8_t> before = expected;
    RotateColor(flat, dst, rect, true, &rec);
    EXPECT_EQ(std::memcmp(GetPixBaseAddr(dpm), before.data(), before.size()), 0);
    DisposeGWorld(src);
    DisposeGWorld(dst);
    DisposeGWorld(flat);
}
