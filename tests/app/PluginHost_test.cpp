// The host's compositing callback on tiny buffers, exact to the byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "app/PluginHost.h"

namespace {

struct Buffer {
    GWorldPtr gw = nullptr;
    Buffer(int w, int h) {
        Rect r{0, 0, int16_t(h), int16_t(w)};
        NewGWorld(&gw, 32, &r, nullptr, nullptr, 0);
    }
    ~Buffer() { DisposeGWorld(gw); }
    PixMapHandle pm() const { return GetGWorldPixMap(gw); }
    uint8_t* at(int x, int y) const {
        return reinterpret_cast<uint8_t*>(GetPixBaseAddr(pm())) + y * GetPixRowBytes(pm()) + 4 * x;
    }
    void Fill(uint8_t a, uint8_t r, uint8_t g, uint8_t b, uint8_t pad) {
        const int rows = GetPixRowBytes(pm());
        Rect bounds{};
        GetPixBounds(pm(), &bounds);
        for (int y = 0; y < bounds.bottom; ++y) {
            std::memset(at(0, y), pad, size_t(rows));
            for (int x = 0; x < bounds.right; ++x) {
                uint8_t* p = at(x, y);
                p[0] = a, p[1] = r, p[2] = g, p[3] = b;
            }
        }
    }
};

std::vector<int> Pixel(const Buffer& b, int x, int y) {
    const uint8_t* p = b.at(x, y);
    return {p[0], p[1], p[2], p[3]};
}

}  // namespace

TEST(HostBlit, BlendsByOpacityInsideTheRectangleOnly) {
    Buffer src(3, 2), dst(3, 2);
    src.Fill(255, 200, 100, 0, 0);
    dst.Fill(255, 0, 50, 255, 0xEE);
    const Rect all{0, 0, 2, 3};
    const Rect part{0, 1, 1, 3};  // row 0, columns 1 and 2

    ASSERT_EQ(HostBlit(src.pm(), dst.pm(), &part, &part, 128), kPluginOK);
    // (s * 128 + d * 127 + 127) / 255, rounded to nearest.
    EXPECT_EQ(Pixel(dst, 1, 0), (std::vector<int>{255, 100, 75, 127}));
    EXPECT_EQ(Pixel(dst, 2, 0), (std::vector<int>{255, 100, 75, 127}));
    EXPECT_EQ(Pixel(dst, 0, 0), (std::vector<int>{255, 0, 50, 255})) << "outside the rectangle";
    EXPECT_EQ(Pixel(dst, 1, 1), (std::vector<int>{255, 0, 50, 255})) << "outside the rectangle";
    EXPECT_EQ(dst.at(3, 0)[0], 0xEE) << "row padding untouched";

    // 255 is the source itself, 0 leaves the destination; values beyond are limited.
    dst.Fill(255, 0, 50, 255, 0xEE);
    HostBlit(src.pm(), dst.pm(), &all, &all, 255);
    EXPECT_EQ(Pixel(dst, 2, 1), (std::vector<int>{255, 200, 100, 0}));
    dst.Fill(255, 0, 50, 255, 0xEE);
    HostBlit(src.pm(), dst.pm(), &all, &all, 0);
    EXPECT_EQ(Pixel(dst, 2, 1), (std::vector<int>{255, 0, 50, 255}));
    HostBlit(src.pm(), dst.pm(), &all, &all, 300);
    EXPECT_EQ(Pixel(dst, 0, 0), (std::vector<int>{255, 200, 100, 0}));
}

TEST(HostBlit, ScalesAndClipsToBothBuffers) {
    Buffer src(2, 1), dst(4, 2);
    src.Fill(255, 0, 0, 0, 0);
    src.at(1, 0)[1] = 250;  // right pixel red
    dst.Fill(255, 1, 1, 1, 0xEE);
    const Rect srcRect{0, 0, 1, 2};
    const Rect dstRect{0, 0, 3, 6};  // twice as wide, past both edges
    ASSERT_EQ(HostBlit(src.pm(), dst.pm(), &srcRect, &dstRect, 255), kPluginOK);
    // Nearest neighbour: columns 0..2 come from source column 0, 3.. from 1.
    EXPECT_EQ(Pixel(dst, 2, 0)[1], 0);
    EXPECT_EQ(Pixel(dst, 3, 1)[1], 250);
    for (int y = 0; y < 2; ++y) EXPECT_EQ(dst.at(4, y)[0], 0xEE) << "nothing written past the right edge";

    const Rect empty{0, 0, 0, 0};
    EXPECT_EQ(HostBlit(src.pm(), dst.pm(), &empty, &dstRect, 255), kPluginOK);
    EXPECT_EQ(HostBlit(nullptr, dst.pm(), &srcRect, &dstRect, 255), kPluginBadParams);
}

TEST(HostSession, StandardFollowsTheFrameSize) {
    EXPECT_EQ(StandardForSize(720, 480), 1);
    EXPECT_EQ(StandardForSize(720, 576), 2);
    EXPECT_EQ(StandardForSize(960, 540), 3);
    EXPECT_EQ(StandardForSize(1920, 1080), 3);
    EXPECT_EQ(StandardForSize(32, 24), 1);
}

namespace {

// What a plug-in saw of the host, recorded by a stand-in entry point.
struct Seen {
    bool zeroed = false;
    HYPluginFilterInfo filter{};
    HYPluginClipInfo clip{};
    int16_t standard = 0;
    int32_t total = 0;
    HYPluginResult frameResult = -1, badSize = -1, nilRelease = -1, released = -1;
    Rect bounds{};
    int16_t interfaceVersion = 0;
} gSeen;

int32_t RecordingEntry(int16_t, HYPluginParams* p) {
    HYProcs* procs = p->procs;
    gSeen.interfaceVersion = p->interfaceVersion;
    auto* block = static_cast<uint8_t*>(procs->NewPtrClear(64));
    gSeen.zeroed = block && std::all_of(block, block + 64, [](uint8_t b) { return b == 0; });
    procs->DisposePtr(block);
    HYPluginFilterInfo* info = nullptr;
    procs->GetFilterInfo(p->instance, &info);
    if (info) gSeen.filter = *info;
    procs->ReleaseFilterInfo(p->instance, info);
    procs->GetClipInfo(p->instance, 1, &gSeen.clip);
    procs->GetMovieInfo(&gSeen.standard, 720, 576, &gSeen.total);
    GWorldPtr frame = nullptr;
    void* cookie = nullptr;
    int16_t volume = 0;
    gSeen.frameResult = procs->GetFrame(p->instance, 12, &frame, 8, 6, kDVHighQuality, &volume, &cookie);
    if (frame) GetPortBounds(frame, &gSeen.bounds);
    procs->MixAudio(p->instance, cookie, 256);
    gSeen.released = procs->ReleaseFrame(p->instance, cookie);
    gSeen.nilRelease = procs->ReleaseFrame(p->instance, nullptr);
    gSeen.badSize = procs->GetFrame(p->instance, 12, &frame, 0, 6, kDVHighQuality, &volume, &cookie);
    return kPluginOK;
}

}  // namespace

TEST(HostSession, AnswersTheCallbacksAsTheContractSays) {
    Buffer buffer(8, 6);
    int32_t askedFrame = -1;
    void* releasedCookie = nullptr;
    int releases = 0;
    HostSession s(
        RecordingEntry,
        [&](int32_t frame, int32_t, int32_t, GWorldPtr* out, void** cookie) {
            askedFrame = frame;
            *out = buffer.gw;
            *cookie = &buffer;
            return kPluginOK;
        },
        [&](void* cookie) {
            releasedCookie = cookie;
            ++releases;
            return kPluginOK;
        });
    s.filterInfo = HYPluginFilterInfo{{0.1f, 0.2f, 0.3f}, 4, 5};
    s.clipStart = 10;
    s.clipFrames = 20;
    s.movieFrames = 99;

    ASSERT_EQ(s.Send(kPlugDoFrame), kPluginOK);
    EXPECT_EQ(s.Params().selector, kPlugDoFrame);
    EXPECT_EQ(gSeen.interfaceVersion, 4);
    EXPECT_TRUE(gSeen.zeroed);
    EXPECT_EQ(gSeen.filter.sliderValues[2], 0.3f);
    EXPECT_EQ(gSeen.filter.fadeInFrames, 4);
    EXPECT_EQ(gSeen.filter.fadeOutFrames, 5);
    EXPECT_EQ(s.outstandingFilterInfos, 0) << "every info handed out came back";
    EXPECT_EQ(gSeen.clip.clipStartFrame, 10);
    EXPECT_EQ(gSeen.clip.clipFrameCount, 20);
    EXPECT_EQ(gSeen.standard, 2);
    EXPECT_EQ(gSeen.total, 99);
    EXPECT_EQ(gSeen.frameResult, kPluginOK);
    EXPECT_EQ(askedFrame, 12);
    EXPECT_EQ(gSeen.bounds.right, 8);
    EXPECT_EQ(gSeen.bounds.bottom, 6);
    EXPECT_TRUE(s.audioMixed);
    EXPECT_EQ(gSeen.released, kPluginOK);
    EXPECT_EQ(releasedCookie, &buffer);
    EXPECT_EQ(releases, 1) << "an empty cookie is not passed on";
    EXPECT_EQ(gSeen.nilRelease, kPluginOK);
    EXPECT_EQ(gSeen.badSize, kPluginBadParams);
    EXPECT_GE(s.callbackSeconds, 0.0);
}
