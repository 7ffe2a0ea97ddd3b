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

RGBColor Offset(int r, int g, int b) {
    // The low byte of each channel must not matter.
    return RGBColor{uint16_t(r << 8 | 0xA5), uint16_t(g << 8 | 0x5A), uint16_t(b << 8 | 0xFF)};
}

std::vector<int16_t> FastKernels() {
    std::vector<int16_t> ks;
    for (int16_t k : {cRotateTable, cRotateAVX2, cRotateAVX512})
        if (RotationKernelAvailable(k)) ks.push_back(k);
    return ks;
}

std::vector<int16_t> AllKernels() {
    std::vector<int16_t> ks = FastKernels();
    ks.insert(ks.begin(), cRotateReference);
    return ks;
}

// Runs one colour through every kernel, in a row long enough for the vector
// loops and their tails, and checks each output pixel.
void ExpectRotation(const RotationSetup& base, RGB in, RGB out, const char* what) {
    const int width = 21;
    std::vector<uint8_t> src(width * 4), dst(width * 4);
    for (int c = 0; c < width; ++c) {
        src[c * 4] = uint8_t(c * 11);
        src[c * 4 + 1] = uint8_t(in.r), src[c * 4 + 2] = uint8_t(in.g), src[c * 4 + 3] = uint8_t(in.b);
    }
    for (int16_t k : AllKernels()) {
        RotationSetup s = base;
        ASSERT_TRUE(SetRotationKernel(s, k));
        std::fill(dst.begin(), dst.end(), 0x77);
        RotatePixels(s, src.data(), width * 4, dst.data(), width * 4, width, 1, Rect{0, 0, 1, int16_t(width)},
                     true);
        for (int c = 0; c < width; ++c) {
            SCOPED_TRACE(testing::Message() << what << " kernel " << RotationKernelName(k) << " column " << c);
            EXPECT_EQ(dst[c * 4], src[c * 4]);
            EXPECT_EQ(dst[c * 4 + 1], out.r);
            EXPECT_EQ(dst[c * 4 + 2], out.g);
            EXPECT_EQ(dst[c * 4 + 3], out.b);
        }
    }
}

void ExpectRotation(int16_t s1, int16_t s2, int16_t s3, RGB offset, int16_t method, RGB in, RGB out) {
    RotationSetup s;
    MakeRotationSetup(s1, s2, s3, Offset(offset.r, offset.g, offset.b), method, s);
    testing::Message m;
    m << "sliders " << s1 << "," << s2 << "," << s3 << " method " << method << " pixel " << in.r << ","
      << in.g << "," << in.b;
    ExpectRotation(s, in, out, m.GetString().c_str());
}

// A setup with a hand-made matrix; with offset black, raw = pixel . column.
RotationSetup MatrixSetup(const double (&cols)[3][3], int16_t method) {
    RotationSetup s;
    MakeRotationSetup(0, 0, 0, RGBColor{0, 0, 0}, method, s);
    for (int c = 0; c < 3; ++c)
        for (int k = 0; k < 3; ++k) s.rotMatrix.m[c][k] = cols[k][c];
    RefreshRotationSetup(s);
    return s;
}

}  // namespace

TEST(PixelEffect, ZeroAnglesAndTheOffsetColourItselfAreFixedPoints) {
    std::mt19937 rng(7);
    for (int16_t method : {1, 2, 3}) {
        for (int i = 0; i < 20; ++i) {
            const RGB p{int(rng() % 256), int(rng() % 256), int(rng() % 256)};
            ExpectRotation(0, 0, 0, RGB{int(rng() % 256), 30, 200}, method, p, p);
            // Any angle turns about the offset colour, which stays put.
            const int16_t s1 = int16_t(rng()), s2 = int16_t(rng()), s3 = int16_t(rng());
            ExpectRotation(s1, s2, s3, p, method, p, p);
        }
    }
}

TEST(PixelEffect, DefaultRecordShowsTheStoredPiInTruncation) {
    ExpectRotation(100, 100, 100, {0, 0, 0}, 1, {200, 100, 50}, {200, 99, 49});
    ExpectRotation(100, 100, 100, {0, 0, 0}, 1, {10, 10, 10}, {10, 10, 9});
    ExpectRotation(100, 100, 100, {0, 0, 0}, 1, {255, 255, 255}, {255, 255, 254});
    ExpectRotation(100, 100, 100, {0, 0, 0}, 1, {0, 0, 0}, {0, 0, 0});
}

TEST(PixelEffect, HalfTurnAboutRedAndTheThreeMethods) {
    for (int16_t method : {1, 2, 3}) {
        ExpectRotation(100, 0, 0, {128, 128, 128}, method, {10, 10, 10}, {10, 246, 245});
        ExpectRotation(100, 0, 0, {128, 128, 128}, method, {255, 255, 255}, {255, 0, 1});
    }
    ExpectRotation(100, 0, 0, {128, 128, 128}, 1, {0, 0, 0}, {0, 255, 255});
    ExpectRotation(100, 0, 0, {128, 128, 128}, 2, {0, 0, 0}, {0, 1, 0});
    ExpectRotation(100, 0, 0, {128, 128, 128}, 3, {0, 0, 0}, {0, 253, 254});
    // Any method other than 1 and 2 reflects.
    for (int16_t method : {0, 3, -1, 99}) ExpectRotation(100, 0, 0, {128, 128, 128}, method, {0, 0, 0}, {0, 253, 254});

    ExpectRotation(50, 0, 0, {255, 0, 0}, 1, {200, 100, 50}, {200, 0, 100});
    ExpectRotation(50, 0, 0, {255, 0, 0}, 2, {200, 100, 50}, {200, 205, 100});
    ExpectRotation(50, 0, 0, {255, 0, 0}, 3, {200, 100, 50}, {200, 49, 100});
}

TEST(PixelEffect, AxesTurnInTheRightDirectionAndOrder) {
    ExpectRotation(50, 0, 0, {0, 0, 0}, 1, {0, 100, 0}, {0, 0, 100});
    ExpectRotation(0, 50, 0, {0, 0, 0}, 1, {0, 0, 100}, {100, 0, 0});
    ExpectRotation(0, 0, 50, {0, 0, 0}, 1, {100, 0, 0}, {0, 100, 0});
    ExpectRotation(0, 0, -50, {0, 0, 0}, 1, {100, 0, 0}, {0, 0, 0});
    for (int16_t method : {1, 2, 3})
        ExpectRotation(25, -30, 40, {128, 128, 128}, method, {200, 100, 50}, {126, 236, 142});
}

TEST(PixelEffect, OutOfRangeMethodsAtTheirBoundaries) {
    // Red output = r + g/2 - b/2: raw 255.5, -0.5 and 256 from three pixels.
    // Green output = 4g - 2r: raw -300 and 600, which one wrap leaves outside.
    const double cols[3][3] = {{1, 0.5, -0.5}, {-2, 4, 0}, {0, 0, 1}};
    const RGB in[] = {{255, 1, 0}, {0, 0, 1}, {255, 2, 0}, {150, 0, 0}, {0, 150, 0}};
    // Green of the first and third pixels: -506 and -502.
    const int clamp[][2] = {{255, 0}, {0, 0}, {255, 0}, {150, 0}, {75, 255}};
    const int wrap[][2] = {{0, 5}, {254, 0}, {1, 9}, {150, 211}, {75, 89}};  // -45 -> 211, 345 -> 89
    const int reflect[][2] = {{254, 255}, {0, 0}, {254, 255}, {150, 255}, {75, 0}};
    for (int i = 0; i < 5; ++i) {
        ExpectRotation(MatrixSetup(cols, 1), in[i], {clamp[i][0], clamp[i][1], in[i].b}, "clamp");
        ExpectRotation(MatrixSetup(cols, 2), in[i], {wrap[i][0], wrap[i][1], in[i].b}, "wrap");
        ExpectRotation(MatrixSetup(cols, 3), in[i], {reflect[i][0], reflect[i][1], in[i].b}, "reflect");
    }
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
    const int configs = 48;
    const int64_t pixelsPerConfig = kSanitized ? 12000 : 60000;
    int64_t checked = 0;
    for (int i = 0; i < configs; ++i) {
        auto slider = [&]() -> int16_t { return rng() % 3 == 0 ? int16_t(rng()) : touchy[rng() % 14]; };
        const int16_t s1 = slider(), s2 = slider(), s3 = slider();
        const int16_t method = methods[i % 6];
        auto byte = [&]() { return rng() % 4 == 0 ? (rng() % 2) * 255 : rng() % 256; };
        const RGBColor offset{uint16_t(byte() << 8), uint16_t(byte() << 8), uint16_t(rng() & 0xFFFF)};
        const int width = widths[i % 7];
        const int height = int(std::max<int64_t>(1, pixelsPerConfig / width));
        const int srcRowBytes = width * 4 + int(rng() % 3) * 12;
        const int dstRowBytes = width * 4 + int(rng() % 3) * 4;
        Rect rect;
        switch (i % 5) {
            case 0: rect = Rect{0, 0, int16_t(height), int16_t(width)}; break;
            case 1: rect = Rect{-5, -3, int16_t(height + 9), int16_t(width + 2)}; break;  // past the edges
            case 2: rect = Rect{int16_t(rng() % height), int16_t(rng() % width), int16_t(rng() % (height + 1)),
                                int16_t(rng() % (width + 1))};
                break;  // may be empty
            case 3: rect = Rect{int16_t(height / 3), int16_t(width / 4), int16_t(height - 1), int16_t(width - width / 3)}; break;
            default: rect = Rect{int16_t(height), 0, int16_t(height + 4), int16_t(width)};  // outside
        }
        const bool copyRest = rng() % 4 != 0;
        const bool inPlace = i % 4 == 1;
        const int threads = 1 + i % 3;

        std::vector<uint8_t> src(size_t(srcRowBytes) * height), dstInit(size_t(dstRowBytes) * height);
        for (auto& b : src) b = uint8_t(rng());
        for (auto& b : dstInit) b = uint8_t(rng());

        RotationSetup setup;
        MakeRotationSetup(s1, s2, s3, offset, method, setup);
        setup.threads = threads;
        std::vector<uint8_t> expected = inPlace ? src : dstInit;
        RotatePixelsReference(setup, inPlace ? expected.data() : src.data(), srcRowBytes, expected.data(),
                              inPlace ? srcRowBytes : dstRowBytes, width, height, rect, copyRest);
        // Padding is never touched, even by the reference.
        const std::vector<uint8_t>& init = inPlace ? src : dstInit;
        const int rb = inPlace ? srcRowBytes : dstRowBytes;
        for (int r = 0; r < height; ++r)
            for (int c = width * 4; c < rb; ++c) ASSERT_EQ(expected[size_t(r) * rb + c], init[size_t(r) * rb + c]);

        for (int16_t k : FastKernels()) {
            ASSERT_TRUE(SetRotationKernel(setup, k));
            std::vector<uint8_t> actual = inPlace ? src : dstInit;
            RotatePixels(setup, inPlace ? actual.data() : src.data(), srcRowBytes, actual.data(), rb, width, height,
                         rect, copyRest);
            ASSERT_TRUE(actual == expected)
                << "kernel " << RotationKernelName(k) << " sliders " << s1 << "," << s2 << "," << s3 << " method "
                << method << " width " << width << " rect " << rect.top << "," << rect.left << "," << rect.bottom
                << "," << rect.right << " copyRest " << copyRest << " inPlace " << inPlace << " threads "
                << threads;
            checked += int64_t(width) * height;
        }
    }
    if (!kSanitized) {
        EXPECT_GE(checked / int64_t(std::max<size_t>(1, FastKernels().size())), 2000000);
    }
}

// All 2^24 colours for settings whose raw values sit next to integers.
TEST(PixelEffect, FastKernelsEqualTheReferenceOnEveryColour) {
    const int step = kSanitized ? 13 : 1;
    const int count = (1 << 24) / step;
    std::vector<uint8_t> src(size_t(count) * 4), expected(src.size()), actual(src.size());
    for (int i = 0; i < count; ++i) {
        const uint32_t rgb = uint32_t(i) * step;
        src[size_t(i) * 4] = uint8_t(i * 13);
        src[size_t(i) * 4 + 1] = uint8_t(rgb >> 16), src[size_t(i) * 4 + 2] = uint8_t(rgb >> 8);
        src[size_t(i) * 4 + 3] = uint8_t(rgb);
    }
    // 4096 pixels a row.
    const int width = 4096, height = count / width;
    struct Setting {
        int16_t s1, s2, s3, method;
        RGB offset;
    } settings[] = {{100, 100, 100, 1, {0, 0, 0}}, {100, 0, 0, 2, {128, 128, 128}}, {50, 150, -50, 3, {255, 0, 64}}};
    for (const Setting& st : settings) {
        RotationSetup setup;
        MakeRotationSetup(st.s1, st.s2, st.s3, Offset(st.offset.r, st.offset.g, st.offset.b), st.method, setup);
        const Rect all{0, 0, int16_t(height), int16_t(width)};
        RotatePixelsReference(setup, src.data(), width * 4, expected.data(), width * 4, width, height, all, true);
        for (int16_t k : FastKernels()) {
            ASSERT_TRUE(SetRotationKernel(setup, k));
            RotatePixels(setup, src.data(), width * 4, actual.data(), width * 4, width, height, all, true);
            ASSERT_TRUE(actual == expected) << RotationKernelName(k) << " sliders " << st.s1 << "," << st.s2
                                            << "," << st.s3;
        }
    }
}

TEST(PixelEffect, RectangleEdgesAndCopyRest) {
    // 6 x 5, rows padded; rectangle rows 1..3, columns 2..4 (exclusive ends).
    const int w = 6, h = 5, rb = w * 4 + 8;
    std::vector<uint8_t> src(rb * h);
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) {
            uint8_t* p = &src[r * rb + c * 4];
            p[0] = uint8_t(r * 16 + c), p[1] = 10, p[2] = 10, p[3] = 10;
        }
    RotationSetup setup;
    MakeRotationSetup(100, 0, 0, Offset(128, 128, 128), 1, setup);
    for (int16_t k : AllKernels()) {
        ASSERT_TRUE(SetRotationKernel(setup, k));
        for (bool copyRest : {true, false}) {
            std::vector<uint8_t> dst(rb * h, 0xEE);
            RotatePixels(setup, src.data(), rb, dst.data(), rb, w, h, Rect{1, 2, 4, 5}, copyRest);
            for (int r = 0; r < h; ++r) {
                for (int c = 0; c < w; ++c) {
                    SCOPED_TRACE(testing::Message() << RotationKernelName(k) << " r " << r << " c " << c);
                    const uint8_t* p = &dst[r * rb + c * 4];
                    if (r >= 1 && r < 4 && c >= 2 && c < 5) {
                        EXPECT_EQ(p[0], src[r * rb + c * 4]);
                        EXPECT_EQ(p[2], 246);
                        EXPECT_EQ(p[3], 245);
                    } else if (copyRest) {
                        EXPECT_EQ(std::memcmp(p, &src[r * rb + c * 4], 4), 0);
                    } else {
                        EXPECT_EQ(p[0], 0xEE);
                        EXPECT_EQ(p[3], 0xEE);
                    }
                }
                for (int b = w * 4; b < rb; ++b) EXPECT_EQ(dst[r * rb + b], 0xEE);
            }
            // Empty and outside rectangles: a plain copy, or nothing at all.
            for (Rect empty : {Rect{3, 3, 3, 5}, Rect{1, 4, 4, 2}, Rect{-9, -9, 0, 6}, Rect{0, 6, 5, 90}}) {
                std::vector<uint8_t> d2(rb * h, 0xEE);
                RotatePixels(setup, src.data(), rb, d2.data(), rb, w, h, empty, copyRest);
                for (int r = 0; r < h; ++r) {
                    EXPECT_EQ(std::memcmp(&d2[r * rb], copyRest ? &src[r * rb] : std::vector<uint8_t>(rb, 0xEE).data(),
                                          w * 4),
                              0);
                    EXPECT_EQ(d2[r * rb + w * 4], 0xEE);
                }
            }
        }
    }
}

TEST(PixelEffect, ThreadCountComesFromTheEnvironment) {
    RotationSetup s;
    setenv("VEXOLUMEN_THREADS", "3", 1);
    MakeRotationSetup(0, 0, 0, RGBColor{}, 1, s);
    EXPECT_EQ(s.threads, 3);
    const int cores = int(std::max(1u, std::thread::hardware_concurrency()));
    for (const char* bad : {"0", "many", "2x", "-4", ""}) {
        setenv("VEXOLUMEN_THREADS", bad, 1);
        MakeRotationSetup(0, 0, 0, RGBColor{}, 1, s);
        EXPECT_EQ(s.threads, std::min(cores, 64)) << bad;
    }
    unsetenv("VEXOLUMEN_THREADS");
    MakeRotationSetup(0, 0, 0, RGBColor{}, 1, s);
    EXPECT_EQ(s.threads, std::min(cores, 64));
    EXPECT_NE(s.kernel, cRotateAuto);
    EXPECT_NE(s.kernel, cRotateReference);
}

namespace {

GWorldPtr MakeBuffer(int w, int h, uint32_t seed) {
    GWorldPtr gw = nullptr;
    const Rect bounds{0, 0, int16_t(h), int16_t(w)};
    EXPECT_EQ(NewGWorld(&gw, 32, &bounds, nullptr, nullptr, 0), noErr);
    PixMapHandle pm = GetGWorldPixMap(gw);
    uint8_t* base = reinterpret_cast<uint8_t*>(GetPixBaseAddr(pm));
    const int32_t rb = GetPixRowBytes(pm);
    std::mt19937 rng(seed);
    for (int r = 0; r < h; ++r)
        for (int i = 0; i < w * 4; ++i) base[r * rb + i] = uint8_t(rng());
    return gw;
}

std::vector<uint8_t> Pixels(GWorldPtr gw) {
    PixMapHandle pm = GetGWorldPixMap(gw);
    Rect b;
    GetPortBounds(gw, &b);
    const uint8_t* base = reinterpret_cast<const uint8_t*>(GetPixBaseAddr(pm));
    const int32_t rb = GetPixRowBytes(pm);
    std::vector<uint8_t> out;
    for (int r = 0; r < b.bottom; ++r) out.insert(out.end(), base + r * rb, base + r * rb + b.right * 4);
    return out;
}

PluginDataRec Record(int16_t s1, int16_t s2, int16_t s3, RGB offset, int16_t method) {
    PluginDataRec rec{};
    rec.sliders[0] = s1, rec.sliders[1] = s2, rec.sliders[2] = s3;
    rec.sliders[3] = 77;  // sliders 4..6 and colours 2..6 take no part
    rec.colors[0] = Offset(offset.r, offset.g, offset.b);
    rec.colors[1] = RGBColor{65535, 0, 0};
    rec.method = method;
    return rec;
}

}  // namespace

TEST(PixelEffect, RotateColorOnGraphicsWorlds) {
    const PluginDataRec rec = Record(25, -30, 40, {128, 128, 128}, 2);
    const Rect rect{2, 3, 9, 11};
    GWorldPtr src = MakeBuffer(13, 10, 1), dst = MakeBuffer(13, 10, 2);
    const std::vector<uint8_t> srcPixels = Pixels(src), dstPixels = Pixels(dst);

    // The buffer-level reference is what the graphics-world entry must give.
    RotationSetup setup;
    MakeRotationSetup(25, -30, 40, rec.colors[0], 2, setup);
    std::vector<uint8_t> expected(srcPixels.size());
    RotatePixelsReference(setup, srcPixels.data(), 13 * 4, expected.data(), 13 * 4, 13, 10, rect, true);

    PixMapHandle spm = GetGWorldPixMap(src);
    UnlockPixels(spm);
    const GWorldFlags srcState = GetPixelsState(spm);
    RotateColor(src, dst, rect, true, &rec);
    EXPECT_TRUE(Pixels(dst) == expected);
    EXPECT_TRUE(Pixels(src) == srcPixels);
    EXPECT_EQ(GetPixelsState(spm), srcState);

    // No record, or a destination of another size: nothing is written.
    GWorldPtr other = MakeBuffer(13, 9, 3), fresh = MakeBuffer(13, 10, 2);
    const std::vector<uint8_t> otherPixels = Pixels(other);
    RotateColor(src, other, rect, true, &rec);
    EXPECT_TRUE(Pixels(other) == otherPixels);
    RotateColor(src, fresh, rect, true, nullptr);
    EXPECT_TRUE(Pixels(fresh) == dstPixels);
    RotateColor(nullptr, fresh, rect, true, &rec);
    EXPECT_TRUE(Pixels(fresh) == dstPixels);

    // No destination: in place, the rest unchanged.
    RotateColor(src, nullptr, rect, false, &rec);
    EXPECT_TRUE(Pixels(src) == expected);

    // ThePixelEffect copies the rest whatever it is told, and puts the
    // current port back.
    GWorldPtr src2 = MakeBuffer(13, 10, 1);
    GWorldPtr dst2 = MakeBuffer(13, 10, 2);
    SetGWorld(other, nullptr);
    ThePixelEffect(src2, dst2, rect, false, rec, 5, 10, 1.0, 2.0, 3.0);
    EXPECT_TRUE(Pixels(dst2) == expected);
    CGrafPtr port;
    GDHandle gdh;
    GetGWorld(&port, &gdh);
    EXPECT_EQ(port, other);
    SetGWorld(nullptr, nullptr);

    for (GWorldPtr g : {src, dst, other, fresh, src2, dst2}) DisposeGWorld(g);
}

TEST(PixelEffect, ThreadedRotationWorksInAForkedChild) {
    // The parent's workers do not exist in a child; the call must not wait for them.
    const int w = 512, h = 128;
    std::vector<uint8_t> src(size_t(w) * h * 4, 0x40), dst(src.size());
    RotationSetup setup;
    MakeRotationSetup(25, -30, 40, Offset(128, 128, 128), 1, setup);
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
