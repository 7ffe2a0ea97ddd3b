// The host's compositing callback on tiny buffers, exact to the byte. Its
// other callbacks are seen through the real plug-in end to end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "app/render/PluginHost.h"

namespace {

// A 32-bit buffer of one ARGB colour, with 0xEE in the row padding.
struct Buffer {
    GWorldPtr gw = nullptr;
    Buffer(int w, int h, const std::vector<int>& argb) {
        Rect r{0, 0, int16_t(h), int16_t(w)};
        NewGWorld(&gw, 32, &r, nullptr, nullptr, 0);
        for (int y = 0; y < h; ++y) {
            std::memset(at(0, y), 0xEE, size_t(GetPixRowBytes(pm())));
            for (int x = 0; x < w; ++x) std::copy(argb.begin(), argb.end(), at(x, y));
        }
    }
    ~Buffer() { DisposeGWorld(gw); }
    PixMapHandle pm() const { return GetGWorldPixMap(gw); }
    uint8_t* at(int x, int y) const {
        return reinterpret_cast<uint8_t*>(GetPixBaseAddr(pm())) + y * GetPixRowBytes(pm()) + 4 * x;
    }
    std::vector<int> Pixel(int x, int y) const { return std::vector<int>(at(x, y), at(x, y) + 4); }
};

}  // namespace

TEST(HostBlit, BlendsScalesAndClipsInsideTheRectangleOnly) {
    const std::vector<int> source{255, 200, 100, 0}, before{255, 0, 50, 255};
    Buffer src(3, 2, source), dst(3, 2, before);
    const Rect all{0, 0, 2, 3}, part{0, 1, 1, 3};  // part: row 0, columns 1 and 2
    ASSERT_EQ(HostBlit(src.pm(), dst.pm(), &part, &part, 128), kPluginOK);
    // (s * 128 + d * 127 + 127) / 255, rounded to nearest.
    for (int x : {1, 2}) EXPECT_EQ(dst.Pixel(x, 0), (std::vector<int>{255, 100, 75, 127})) << x;
    for (int x : {0, 1}) EXPECT_EQ(dst.Pixel(x, x), before) << "outside the rectangle";
    EXPECT_EQ(dst.at(3, 0)[0], 0xEE) << "row padding untouched";
    // Opacity beyond 255 is limited to it: the source itself.
    HostBlit(src.pm(), dst.pm(), &all, &all, 300);
    EXPECT_EQ(dst.Pixel(2, 1), source);

    // Twice as wide and past both edges: nearest neighbour takes columns 0..2
    // from source column 0 and 3.. from column 1, and nothing is written past
    // the right edge.
    Buffer narrow(2, 1, {255, 0, 0, 0}), wide(4, 2, {255, 1, 1, 1});
    narrow.at(1, 0)[1] = 250;
    const Rect srcRect{0, 0, 1, 2}, dstRect{0, 0, 3, 6}, empty{0, 0, 0, 0};
    ASSERT_EQ(HostBlit(narrow.pm(), wide.pm(), &srcRect, &dstRect, 255), kPluginOK);
    EXPECT_EQ(wide.Pixel(2, 0)[1], 0);
    EXPECT_EQ(wide.Pixel(3, 1)[1], 250);
    EXPECT_EQ(wide.at(4, 0)[0] + wide.at(4, 1)[0], 2 * 0xEE);
    EXPECT_EQ(HostBlit(narrow.pm(), wide.pm(), &empty, &dstRect, 255), kPluginOK);
    EXPECT_EQ(HostBlit(nullptr, wide.pm(), &srcRect, &dstRect, 255), kPluginBadParams);
}

TEST(HostBlit, BlendsSixteenBitChannelsOfDeepMaps) {
    Rect r{0, 0, 1, 3};
    GWorldPtr src = nullptr, dst = nullptr, shallow = nullptr;
    ASSERT_EQ(NewGWorld(&src, 64, &r, nullptr, nullptr, 0), noErr);
    ASSERT_EQ(NewGWorld(&dst, 64, &r, nullptr, nullptr, 0), noErr);
    ASSERT_EQ(NewGWorld(&shallow, 32, &r, nullptr, nullptr, 0), noErr);
    auto words = [](GWorldPtr gw) { return reinterpret_cast<uint16_t*>(GetPixBaseAddr(GetGWorldPixMap(gw))); };
    const uint16_t s[4] = {65535, 65535, 1000, 0}, d[4] = {65535, 0, 3, 65535};
    for (int x = 0; x < 3; ++x)
        for (int k = 0; k < 4; ++k) {
            words(src)[4 * x + k] = s[k];
            words(dst)[4 * x + k] = d[k];
        }
    const Rect one{0, 1, 1, 2};
    ASSERT_EQ(HostBlit(GetGWorldPixMap(src), GetGWorldPixMap(dst), &one, &one, 128), kPluginOK);
    // (s * 128 + d * 127 + 127) / 255 on each 16-bit channel, no byte carried over.
    const uint16_t blended[4] = {65535, 32896, 503, 32639};
    for (int k = 0; k < 4; ++k) {
        EXPECT_EQ(words(dst)[4 + k], blended[k]) << k;
        EXPECT_EQ(words(dst)[k], d[k]) << "outside the rectangle";
    }
    // Maps of two depths are the plug-in's mistake, not something to guess at.
    EXPECT_EQ(HostBlit(GetGWorldPixMap(src), GetGWorldPixMap(shallow), &one, &one, 128), kPluginBadParams);
    for (GWorldPtr gw : {src, dst, shallow}) DisposeGWorld(gw);
}

TEST(HostSession, StandardFollowsTheFrameSize) {
    const int sizes[][3] = {{720, 480, 1}, {720, 576, 2}, {960, 540, 3}, {1920, 1080, 3}, {32, 24, 1}};
    for (const auto& z : sizes) EXPECT_EQ(StandardForSize(z[0], z[1]), z[2]) << z[0] << "x" << z[1];
}

namespace {

// The plug-in releases an empty cookie after a failed fetch; a zero-sized
// fetch is refused. Neither may reach the command's functions.
HYPluginResult gBadSize = -1, gNilRelease = -1;

int32_t OddCallsEntry(int16_t, HYPluginParams* p) {
    GWorldPtr frame = nullptr;
    void* cookie = nullptr;
    int16_t volume = 0;
    gBadSize = p->procs->GetFrame(p->instance, 12, &frame, 0, 6, kDVHighQuality, &volume, &cookie);
    gNilRelease = p->procs->ReleaseFrame(p->instance, cookie);
    return kPluginOK;
}

}  // namespace

TEST(HostSession, EmptyCookiesAndBadSizesStayInTheHost) {
    int calls = 0;
    auto refuse = [&](auto&&...) { return ++calls, kPluginFailed; };  // counts the call, then refuses it
    HostSession s(OddCallsEntry, refuse, refuse);
    ASSERT_EQ(s.Send(kPlugDoFrame), kPluginOK);
    EXPECT_EQ(gBadSize, kPluginBadParams);
    EXPECT_EQ(gNilRelease, kPluginOK);
    EXPECT_EQ(calls, 0);
}
