// The frei0r filter driven through its C interface, loaded as hosts load it.
#include <dlfcn.h>
// frei0r.h declares C functions without saying so.
extern "C" {
#include <frei0r.h>
}
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

struct Plugin {
    void* handle = nullptr;
    decltype(&f0r_get_plugin_info) info = nullptr;
    decltype(&f0r_get_param_info) paramInfo = nullptr;
    decltype(&f0r_construct) construct = nullptr;
    decltype(&f0r_destruct) destruct = nullptr;
    decltype(&f0r_set_param_value) set = nullptr;
    decltype(&f0r_get_param_value) get = nullptr;
    decltype(&f0r_update) update = nullptr;

    Plugin() {
        handle = dlopen(VX_FREI0R_PLUGIN, RTLD_NOW | RTLD_LOCAL);
        if (!handle) return;
        info = reinterpret_cast<decltype(info)>(dlsym(handle, "f0r_get_plugin_info"));
        paramInfo = reinterpret_cast<decltype(paramInfo)>(dlsym(handle, "f0r_get_param_info"));
        construct = reinterpret_cast<decltype(construct)>(dlsym(handle, "f0r_construct"));
        destruct = reinterpret_cast<decltype(destruct)>(dlsym(handle, "f0r_destruct"));
        set = reinterpret_cast<decltype(set)>(dlsym(handle, "f0r_set_param_value"));
        get = reinterpret_cast<decltype(get)>(dlsym(handle, "f0r_get_param_value"));
        update = reinterpret_cast<decltype(update)>(dlsym(handle, "f0r_update"));
        if (!info || !paramInfo || !construct || !destruct || !set || !get || !update) {
            dlclose(handle);
            handle = nullptr;
        }
    }
    ~Plugin() {
        if (handle) dlclose(handle);
    }
    void setDouble(f0r_instance_t i, int index, double v) { set(i, &v, index); }
    double getDouble(f0r_instance_t i, int index) {
        double v = -7;
        get(i, &v, index);
        return v;
    }
    void setText(f0r_instance_t i, int index, const char* text) { set(i, &text, index); }
    std::string getText(f0r_instance_t i, int index) {
        const char* text = nullptr;
        get(i, &text, index);
        return text ? text : "(nil)";
    }
};

enum { kRed, kGreen, kBlue, kOffset, kMethod, kLeft, kRight, kTop, kBottom };

// One frame of RGBA bytes.
struct Frame {
    int w, h;
    std::vector<uint8_t> bytes;
    Frame(int width, int height) : w(width), h(height), bytes(size_t(width) * height * 4) {}
    uint8_t* px(int x, int y) { return &bytes[(size_t(y) * w + x) * 4]; }
    void set(int x, int y, std::array<uint8_t, 4> rgba) { std::memcpy(px(x, y), rgba.data(), 4); }
    std::array<uint8_t, 4> at(int x, int y) {
        std::array<uint8_t, 4> v;
        std::memcpy(v.data(), px(x, y), 4);
        return v;
    }
    const uint32_t* in() { return reinterpret_cast<const uint32_t*>(bytes.data()); }
    uint32_t* out() { return reinterpret_cast<uint32_t*>(bytes.data()); }
};
using Px = std::array<uint8_t, 4>;

TEST(Frei0rFilter, DefaultsAndBadValues) {
    Plugin p;
    ASSERT_NE(p.handle, nullptr) << dlerror();
    EXPECT_EQ(p.construct(0, 8), nullptr);
    EXPECT_EQ(p.construct(40000, 8), nullptr);
    f0r_instance_t in = p.construct(13, 7);
    ASSERT_NE(in, nullptr);

    // The plug-in's reset: half turns, black, clamp, the whole frame.
    for (int i : {kRed, kGreen, kBlue, kRight, kBottom}) EXPECT_EQ(p.getDouble(in, i), 1.0) << i;
    EXPECT_EQ(p.getDouble(in, kLeft), 0.0);
    EXPECT_EQ(p.getDouble(in, kTop), 0.0);
    f0r_param_color_t c{-1, -1, -1};
    p.get(in, &c, kOffset);
    EXPECT_EQ(c.r, 0.0f);
    EXPECT_EQ(c.g, 0.0f);
    EXPECT_EQ(c.b, 0.0f);
    EXPECT_EQ(p.getText(in, kMethod), "clamp");

    // Out of range is clamped, NaN and unknown methods are ignored.
    p.setDouble(in, kRed, 1.7);
    p.setDouble(in, kGreen, -3.0);
    p.setDouble(in, kBlue, 0.25);
    p.setDouble(in, kBlue, NAN);
    p.setDouble(in, kLeft, -HUGE_VAL);
    p.setDouble(in, kTop, 0.5);
    EXPECT_EQ(p.getDouble(in, kRed), 1.0);
    EXPECT_EQ(p.getDouble(in, kGreen), 0.0);
    EXPECT_EQ(p.getDouble(in, kBlue), 0.25);
    EXPECT_EQ(p.getDouble(in, kLeft), 0.0);
    EXPECT_EQ(p.getDouble(in, kTop), 0.5);
    f0r_param_color_t odd{0.5f, NAN, 2.0f};
    p.set(in, &odd, kOffset);
    p.get(in, &c, kOffset);
    EXPECT_EQ(c.r, 0.5f);
    EXPECT_EQ(c.g, 0.0f);
    EXPECT_EQ(c.b, 1.0f);
    p.setText(in, kMethod, "Wrap");
    EXPECT_EQ(p.getText(in, kMethod), "wrap");
    p.setText(in, kMethod, "sideways");
    p.setText(in, kMethod, nullptr);
    EXPECT_EQ(p.getText(in, kMethod), "wrap");
    p.setText(in, kMethod, "reflect");
    EXPECT_EQ(p.getText(in, kMethod), "reflect");

    // Nothing happens for bad indexes or a missing instance or frame.
    f0r_param_info_t untouched{"x", 99, nullptr};
    p.paramInfo(&untouched, 9);
    EXPECT_EQ(untouched.type, 99);
    p.setDouble(in, 9, 0.5);
    p.setDouble(in, -1, 0.5);
    p.setDouble(nullptr, kRed, 0.5);
    p.update(nullptr, 0.0, nullptr, nullptr);
    Frame f(13, 7);
    p.update(in, 0.0, nullptr, f.out());
    p.destruct(in);
}

TEST(Frei0rFilter, RotatesInsideTheRectangleAndKeepsAlpha) {
    Plugin p;
    ASSERT_NE(p.handle, nullptr) << dlerror();
    // 13 x 7: neither side a multiple of 8. The rectangle 0.2, 0.7, 0.3, 0.8
    // is columns 2..8 and rows 2..4 (products truncated: 2.6, 9.1, 2.1, 5.6).
    f0r_instance_t in = p.construct(13, 7);
    Frame src(13, 7);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 13; ++x) src.set(x, y, Px{10, 10, 10, uint8_t(7 * x + y)});
    src.set(2, 2, Px{0, 0, 0, 1});
    src.set(8, 4, Px{255, 255, 255, 0});
    src.set(9, 4, Px{0, 0, 0, 2});  // just right of the rectangle
    src.set(8, 5, Px{0, 0, 0, 3});  // just below it
    const double rect[4] = {0.2, 0.7, 0.3, 0.8};
    for (int i = 0; i < 4; ++i) p.setDouble(in, kLeft + i, rect[i]);
    // Offset (128, 128, 128), sliders 100, 0, 0.
    f0r_param_color_t grey{128 / 255.0f, 128 / 255.0f, 128 / 255.0f};
    p.set(in, &grey, kOffset);
    p.setDouble(in, kGreen, 0.5);
    p.setDouble(in, kBlue, 0.5);

    const char* methods[] = {"clamp", "wrap", "reflect"};
    const Px black[] = {Px{0, 255, 255, 1}, Px{0, 1, 0, 1}, Px{0, 253, 254, 1}};
    for (int m = 0; m < 3; ++m) {
        p.setText(in, kMethod, methods[m]);
        Frame dst(13, 7);
        p.update(in, m, src.in(), dst.out());
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
    p.setText(in, kMethod, "clamp");
    Frame same = src;
    p.update(in, 9.0, same.in(), same.out());
    EXPECT_EQ(same.at(2, 2), black[0]);
    EXPECT_EQ(same.at(9, 4), src.at(9, 4));
    p.destruct(in);

    // The defaults show the stored pi: (200, 100, 50) becomes (200, 99, 49).
    f0r_instance_t def = p.construct(1, 1);
    Frame one(1, 1);
    one.set(0, 0, Px{200, 100, 50, 77});
    p.update(def, 0.0, one.in(), one.out());
    EXPECT_EQ(one.at(0, 0), (Px{200, 99, 49, 77}));
    p.destruct(def);
}

TEST(Frei0rFilter, SlidersAreWholeStepsOfTheUnitRange) {
    Plugin p;
    ASSERT_NE(p.handle, nullptr) << dlerror();
    // Offset black, clamp: a quarter turn about blue takes red to green.
    // 0.75 is slider 50; 0.7524 still rounds to 50; 0.5 is no turn.
    f0r_instance_t in = p.construct(1, 1);
    for (double v : {0.75, 0.7524}) {
        p.setDouble(in, kRed, 0.5);
        p.setDouble(in, kGreen, 0.5);
        p.setDouble(in, kBlue, v);
        Frame f(1, 1);
        f.set(0, 0, Px{100, 0, 0, 255});
        p.update(in, 0.0, f.in(), f.out());
        EXPECT_EQ(f.at(0, 0), (Px{0, 100, 0, 255})) << v;
    }
    p.setDouble(in, kBlue, 0.25);  // slider -50: green goes negative and clamps
    Frame f(1, 1);
    f.set(0, 0, Px{100, 0, 0, 255});
    p.update(in, 0.0, f.in(), f.out());
    EXPECT_EQ(f.at(0, 0), (Px{0, 0, 0, 255}));
    p.destruct(in);
}

// A 5 x 6 frame cut into three bands of two rows, as MLT's slice threading
// hands them to an instance constructed with the band's height.
TEST(Frei0rFilter, BandsOfOneFrameComeOutAsTheWholeFrame) {
    Plugin p;
    ASSERT_NE(p.handle, nullptr) << dlerror();
    auto configure = [&](f0r_instance_t i) {
        const double values[] = {0.75, 0.4, 0.6};
        for (int k = 0; k < 3; ++k) p.setDouble(i, kRed + k, values[k]);
        const double rect[] = {0.2, 0.7, 0.3, 0.8};  // rows 1..3 of 6, but row 1 of a band
        for (int k = 0; k < 4; ++k) p.setDouble(i, kLeft + k, rect[k]);
        p.setText(i, kMethod, "wrap");
    };
    Frame src(5, 6);
    for (size_t i = 0; i < src.bytes.size(); ++i) src.bytes[i] = uint8_t(i * 37 + 11);
    f0r_instance_t whole = p.construct(5, 6);
    configure(whole);
    Frame want(5, 6);
    p.update(whole, 0.0, src.in(), want.out());
    p.destruct(whole);

    f0r_instance_t bands = p.construct(5, 2);
    configure(bands);
    const int orders[][3] = {{0, 1, 2}, {2, 0, 1}, {1, 2, 0}, {2, 1, 0}};
    double time = 0.0;
    for (const auto& order : orders) {
        Frame got(5, 6);
        for (int k : order) p.update(bands, time, src.in() + 10 * k, got.out() + 10 * k);
        EXPECT_EQ(got.bytes, want.bytes) << "order " << order[0] << order[1] << order[2];
        time += 0.04;
    }
    // Taking turns, the bands may also arrive on several threads at once.
    Frame got(5, 6);
    std::vector<std::thread> threads;
    for (int k = 0; k < 3; ++k)
        threads.emplace_back([&, k] { p.update(bands, time, src.in() + 10 * k, got.out() + 10 * k); });
    for (auto& t : threads) t.join();
    EXPECT_EQ(got.bytes, want.bytes) << "threads";
    p.destruct(bands);

    // Whole frames, in place or not, at the same time or not, stay whole.
    f0r_instance_t single = p.construct(5, 6);
    configure(single);
    Frame a = src, b(5, 6);
    p.update(single, 1.0, a.in(), a.out());
    p.update(single, 1.0, src.in(), b.out());
    EXPECT_EQ(a.bytes, want.bytes);
    EXPECT_EQ(b.bytes, want.bytes);
    p.destruct(single);
}

}  // namespace
