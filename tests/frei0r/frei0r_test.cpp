// The frei0r filter driven through its C interface, loaded as hosts load it.
#include <dlfcn.h>
// frei0r.h declares C functions without saying so.
extern "C" {
#include <frei0r.h>
}
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "pipeline/presets.h"

namespace {

enum { kRed, kGreen, kBlue, kOffset, kMethod, kLeft, kRight, kTop, kBottom };
using Px = std::array<uint8_t, 4>;

// One frame of RGBA pixels.
struct Frame : std::vector<Px> {
    int w;
    Frame(int width, int height) : std::vector<Px>(size_t(width) * height), w(width) {}
    Px& at(int x, int y) { return (*this)[size_t(y) * w + x]; }
    const uint32_t* in() { return reinterpret_cast<const uint32_t*>(data()); }
    uint32_t* out() { return reinterpret_cast<uint32_t*>(data()); }
};

class Frei0rFilter : public ::testing::Test {
protected:
    void* lib = dlopen(VX_FREI0R_PLUGIN, RTLD_NOW | RTLD_LOCAL);
    template <class F> F* Sym(const char* name) { return lib ? reinterpret_cast<F*>(dlsym(lib, name)) : nullptr; }
    decltype(&f0r_get_param_info) paramInfo = Sym<decltype(f0r_get_param_info)>("f0r_get_param_info");
    decltype(&f0r_construct) construct = Sym<decltype(f0r_construct)>("f0r_construct");
    decltype(&f0r_destruct) destruct = Sym<decltype(f0r_destruct)>("f0r_destruct");
    decltype(&f0r_set_param_value) set = Sym<decltype(f0r_set_param_value)>("f0r_set_param_value");
    decltype(&f0r_get_param_value) get = Sym<decltype(f0r_get_param_value)>("f0r_get_param_value");
    decltype(&f0r_update) update = Sym<decltype(f0r_update)>("f0r_update");

    void SetUp() override {
        ASSERT_TRUE(lib && paramInfo && construct && destruct && set && get && update) << dlerror();
    }
    ~Frei0rFilter() override {
        if (lib) dlclose(lib);
    }
    template <class T> void Set(f0r_instance_t i, int index, T v) { set(i, &v, index); }
    template <class T> T Get(f0r_instance_t i, int index, T v) {
        get(i, &v, index);
        return v;
    }
    std::tuple<float, float, float> Colour(f0r_instance_t i) {
        const f0r_param_color_t c = Get(i, kOffset, f0r_param_color_t{-1, -1, -1});
        return {c.r, c.g, c.b};
    }
    // Angles, rectangle and method in one go (offset and method slots unused).
    void Configure(f0r_instance_t i, const std::array<double, 9>& v, const char* method) {
        for (int k : {kRed, kGreen, kBlue, kLeft, kRight, kTop, kBottom}) Set(i, k, v[k]);
        Set(i, kMethod, method);
    }
};

TEST_F(Frei0rFilter, DefaultsAndBadValues) {
    EXPECT_EQ(construct(0, 8), nullptr);
    EXPECT_EQ(construct(40000, 8), nullptr);
    f0r_instance_t in = construct(13, 7);
    ASSERT_NE(in, nullptr);

    // A preset, in frei0r's units, so that adding the filter shows something.
    const Preset& p = *FindPreset(kFrei0rPreset);
    const double defaults[] = {(p.sliders[0] + 100) / 200.0, (p.sliders[1] + 100) / 200.0,
                               (p.sliders[2] + 100) / 200.0, 0, 0, p.rect.left, p.rect.right, p.rect.top, p.rect.bottom};
    for (int i : {kRed, kGreen, kBlue, kLeft, kRight, kTop, kBottom}) EXPECT_EQ(Get(in, i, -7.0), defaults[i]) << i;
    const auto [r, g, b] = Colour(in);
    EXPECT_EQ(std::make_tuple(std::lround(r * 255), std::lround(g * 255), std::lround(b * 255)),
              std::make_tuple(long(p.offset[0]), long(p.offset[1]), long(p.offset[2])));
    EXPECT_STREQ(Get<const char*>(in, kMethod, nullptr), "clamp");
    // Untouched, it changes a grey ramp by more than a few levels on average.
    {
        Frame ramp(13, 7), out(13, 7);
        for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = Px{uint8_t(i * 41), uint8_t(i * 17), uint8_t(i * 3), 255};
        update(in, 0.0, ramp.in(), out.out());
        double change = 0;
        for (size_t i = 0; i < ramp.size(); ++i)
            for (int c = 0; c < 3; ++c) change += std::abs(int(out[i][c]) - int(ramp[i][c]));
        EXPECT_GT(change / (ramp.size() * 3), 8.0);
    }

    // Out of range is clamped, NaN and unknown methods are ignored.
    const std::tuple<int, double, double> values[] = {{kRed, 1.7, 1.0},   {kGreen, -3.0, 0.0},     {kBlue, 0.25, 0.25},
                                                      {kBlue, NAN, 0.25}, {kLeft, -HUGE_VAL, 0.0}, {kTop, 0.5, 0.5}};
    for (const auto& [index, value, kept] : values) {
        Set(in, index, value);
        EXPECT_EQ(Get(in, index, -7.0), kept) << index << " set to " << value;
    }
    Set(in, kOffset, f0r_param_color_t{0.5f, NAN, 2.0f});
    EXPECT_EQ(Colour(in), std::make_tuple(0.5f, g, 1.0f));
    const char* methods[][2] = {{"Wrap", "wrap"}, {"sideways", "wrap"}, {nullptr, "wrap"}, {"reflect", "reflect"}};
    for (const auto& [text, kept] : methods) {
        Set(in, kMethod, text);
        EXPECT_STREQ(Get<const char*>(in, kMethod, nullptr), kept) << (text ? text : "nil");
    }

    // Nothing happens for bad indexes or a missing instance or frame.
    f0r_param_info_t untouched{"x", 99, nullptr};
    paramInfo(&untouched, 9);
    EXPECT_EQ(untouched.type, 99);
    Set(in, 9, 0.5);
    Set(in, -1, 0.5);
    Set(nullptr, kRed, 0.5);
    update(nullptr, 0.0, nullptr, nullptr);
    Frame f(13, 7);
    update(in, 0.0, nullptr, f.out());
    destruct(in);
}

TEST_F(Frei0rFilter, RotatesInsideTheRectangleAndKeepsAlpha) {
    // 13 x 7: neither side a multiple of 8. The rectangle 0.2, 0.7, 0.3, 0.8
    // is columns 2..8 and rows 2..4 (products truncated: 2.6, 9.1, 2.1, 5.6).
    f0r_instance_t in = construct(13, 7);
    Frame src(13, 7);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 13; ++x) src.at(x, y) = Px{10, 10, 10, uint8_t(7 * x + y)};
    src.at(2, 2) = Px{0, 0, 0, 1};
    src.at(8, 4) = Px{255, 255, 255, 0};
    // Offset (128, 128, 128), sliders 100, 0, 0.
    Set(in, kOffset, f0r_param_color_t{128 / 255.0f, 128 / 255.0f, 128 / 255.0f});
    const char* methods[] = {"clamp", "wrap", "reflect"};
    const Px black[] = {Px{0, 255, 255, 1}, Px{0, 1, 0, 1}, Px{0, 253, 254, 1}};
    std::vector<Frame> results;
    for (int m = 0; m < 3; ++m) {
        Configure(in, {1, 0.5, 0.5, 0, 0, 0.2, 0.7, 0.3, 0.8}, methods[m]);
        Frame& dst = results.emplace_back(13, 7);
        update(in, m, src.in(), dst.out());
        EXPECT_EQ(dst.at(3, 3), (Px{10, 246, 245, 24})) << methods[m];
        EXPECT_EQ(dst.at(2, 2), black[m]) << methods[m];
        EXPECT_EQ(dst.at(8, 4), (Px{255, 0, 1, 0})) << methods[m];
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < 13; ++x)
                if (x < 2 || x > 8 || y < 2 || y > 4) {
                    EXPECT_EQ(dst.at(x, y), src.at(x, y)) << x << "," << y;
                }
    }
    // In place, as some hosts call it.
    update(in, 9.0, src.in(), src.out());
    EXPECT_EQ(src, results[2]);
    destruct(in);

    // Three half turns about black show the stored pi: (200, 100, 50) becomes (200, 99, 49).
    // Then, offset black, clamp: a quarter turn about blue takes red to green.
    // 0.75 is slider 50, 0.7524 still rounds to 50; 0.25 is -50, and the
    // negative green clamps.
    f0r_instance_t one = construct(1, 1);
    Set(one, kOffset, f0r_param_color_t{0, 0, 0});
    Configure(one, {1, 1, 1, 0, 0, 0, 1, 0, 1}, "clamp");
    const std::pair<double, Px> cases[] = {
        {1.0, Px{200, 99, 49, 77}}, {0.75, Px{0, 100, 0, 255}}, {0.7524, Px{0, 100, 0, 255}}, {0.25, Px{0, 0, 0, 255}}};
    for (const auto& [blue, want] : cases) {
        if (blue != 1.0) Configure(one, {0.5, 0.5, blue, 0, 0, 0, 1, 0, 1}, "clamp");
        Frame f(1, 1);
        f.at(0, 0) = blue == 1.0 ? Px{200, 100, 50, 77} : Px{100, 0, 0, 255};
        update(one, 0.0, f.in(), f.out());
        EXPECT_EQ(f.at(0, 0), want) << blue;
    }
    destruct(one);
}

// A 5 x 6 frame cut into three bands of two rows, as MLT's slice threading
// hands them to an instance constructed with the band's height. The rectangle
// is rows 1..3 of 6, but row 1 of a band.
TEST_F(Frei0rFilter, BandsOfOneFrameComeOutAsTheWholeFrame) {
    const std::array<double, 9> settings{0.75, 0.4, 0.6, 0, 0, 0.2, 0.7, 0.3, 0.8};
    Frame src(5, 6), want(5, 6);
    for (size_t i = 0; i < src.size() * 4; ++i) reinterpret_cast<uint8_t*>(src.data())[i] = uint8_t(i * 37 + 11);
    f0r_instance_t whole = construct(5, 6);
    Configure(whole, settings, "wrap");
    update(whole, 0.0, src.in(), want.out());
    destruct(whole);

    f0r_instance_t bands = construct(5, 2);
    Configure(bands, settings, "wrap");
    const int orders[][3] = {{0, 1, 2}, {2, 0, 1}, {1, 2, 0}, {2, 1, 0}};
    double time = 0.0;
    for (const auto& order : orders) {
        Frame got(5, 6);
        for (int k : order) update(bands, time, src.in() + 10 * k, got.out() + 10 * k);
        EXPECT_EQ(got, want) << "order " << order[0] << order[1] << order[2];
        time += 0.04;
    }
    // Taking turns, the bands may also arrive on several threads at once.
    Frame got(5, 6);
    std::vector<std::thread> threads;
    for (int k = 0; k < 3; ++k)
        threads.emplace_back([&, k] { update(bands, time, src.in() + 10 * k, got.out() + 10 * k); });
    for (auto& t : threads) t.join();
    EXPECT_EQ(got, want) << "threads";
    destruct(bands);
}

}  // namespace
