// The plug-in driven through its entry point by a host, as a real host would.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "effect/pixelEffect.h"
#include "host/effectHandlers.h"
#include "pipeline/pluginData.h"
#include "pipeline/prefsloader.h"
#include "testhost/TestHost.h"

namespace {

// The buffer's pixels without row padding, 32- or 64-bit.
std::vector<uint8_t> Pixels(GWorldPtr gw) {
    Rect b;
    GetPortBounds(gw, &b);
    PixMapHandle pm = GetGWorldPixMap(gw);
    const int bytes = GetPixDepth(pm) / 8;
    std::vector<uint8_t> out;
    for (int y = 0; y < b.bottom; ++y) {
        const auto* row = reinterpret_cast<const uint8_t*>(GetPixBaseAddr(pm)) + y * GetPixRowBytes(pm);
        out.insert(out.end(), row, row + bytes * b.right);
    }
    return out;
}

// What the plug-in should produce for one frame: the rotation of the record
// over the record's rectangle, the rest copied.
std::vector<uint8_t> Expected(GWorldPtr source, const PluginDataRec& rec) {
    Rect b;
    GetPortBounds(source, &b);
    GWorldPtr out = nullptr;
    NewGWorld(&out, 32, &b, nullptr, nullptr, 0);
    ThePixelEffect(source, out, Rel2Rect(rec.startRel, b), true, rec, 0, 0, 0, 0, 0);
    auto px = Pixels(out);
    DisposeGWorld(out);
    return px;
}

PluginDataRec Defaults() {
    PluginDataRec rec{};
    ResetConfig(&rec, true);
    return rec;
}

void StartClip(TestHost& host, int32_t fadeIn, int32_t fadeOut) {
    host.filterInfo.fadeInFrames = fadeIn;
    host.filterInfo.fadeOutFrames = fadeOut;
    ASSERT_EQ(host.Send(kPlugInitialize), kPluginOK);
}

// Opacity of the blend laid over each rendered frame, or -1 for none.
std::vector<int> OpacitiesOverClip(TestHost& host, int32_t fadeIn, int32_t fadeOut) {
    StartClip(host, fadeIn, fadeOut);
    std::vector<int> seen;
    for (int32_t f = 0; f < host.params.frameCount; ++f) {
        host.blitOpacities.clear();
        host.params.renderFrame = f;
        EXPECT_EQ(host.Send(kPlugDoFrame), kPluginOK);
        seen.push_back(host.blitOpacities.empty() ? -1 : host.blitOpacities[0]);
    }
    EXPECT_EQ(host.Send(kPlugTerminate), kPluginOK);
    return seen;
}

}  // namespace

TEST(EntryPoint, RejectsBadBlocksAndOldHostsWithoutSideEffects) {
    TestHost host;
    EXPECT_EQ(host.entry(0, nullptr), kPluginBadParams);
    const int64_t before = TestHost::liveBlocks;
    host.params.interfaceVersion = 3;
    EXPECT_EQ(host.Send(kPlugGetInfo), kPluginAppIsTooOld);
    EXPECT_EQ(TestHost::liveBlocks, before);  // no global record yet

    host.params.interfaceVersion = 4;
    EXPECT_EQ(host.Send(kPlugDrawIcon), kPluginOK);  // no handler, but the record is made
    EXPECT_EQ(TestHost::liveBlocks, before + 1);
    for (int s : {int(kPlugDrawIcon), int(kPlugDrawThumbNail), int(kPlugCallOnceWithInitAndTerminate), 200})
        EXPECT_EQ(host.Send(HYPluginSelector(s)), kPluginOK);
    EXPECT_EQ(TestHost::liveBlocks, before + 1);  // made once only
    EXPECT_EQ(host.Send(kPlugTerminate), kPluginOK);  // terminate without a clip is harmless
}

TEST(EntryPoint, GetInfoDescribesTheFilter) {
    TestHost host;
    host.params.getInfo.pluginFlags = 0x5;
    host.params.getInfo2.selectedFrames = 30;
    host.params.getInfo.minSpeedFrames = 9;
    ASSERT_EQ(host.Send(kPlugGetInfo), kPluginOK);
    const HYPluginParams& p = host.params;
    EXPECT_EQ(p.getInfo.pluginType, kPluginFilterType);
    EXPECT_EQ(p.getInfo.pluginFlags, 0x5u | 0x1380u);
    EXPECT_EQ(p.getInfo.framesToBeRendered, 30);
    EXPECT_EQ(p.getInfo.takeFromClipAfter, 30);
    EXPECT_EQ(p.getInfo.takeFromClipBefore, 0);
    EXPECT_EQ(p.getInfo.minSpeedFrames, 0);
    EXPECT_EQ(p.getInfo2.baseMemoryNeeded, 50000);
    for (const auto& s : p.getInfo2.filterSliders) EXPECT_EQ(s.defaultValue, 0.5f);
    EXPECT_STREQ(p.getInfo2.filterSliders[0].label, "Red axis");
    EXPECT_STREQ(p.getInfo2.filterSliders[2].label, "Blue axis");
    EXPECT_STRNE(p.getInfo2.filterSliders[1].minLabel, "");
    EXPECT_STRNE(p.getInfo3.buttonTitle, "");
    EXPECT_LT(std::strlen(p.getInfo3.buttonTitle), sizeof p.getInfo3.buttonTitle);
    EXPECT_STREQ(p.getInfo2.group, "Vexolumen");
}

TEST(EntryPoint, RendersEveryFrameOfAClipWithTheSavedSettings) {
    // Settings saved before the plug-in loads are the ones it renders with.
    PluginDataRec saved = Defaults();
    saved.startRel = RelRect{0.25, 0.75, 0.25, 0.75};
    saved.sliders[0] = 25;
    saved.sliders[1] = -30;
    saved.sliders[2] = 40;
    saved.colors[0] = RGBColor{128 * 256, 128 * 256, 128 * 256};
    saved.method = 2;
    CreatePrefsFileIfMissing();
    ASSERT_TRUE(SaveConfig(&saved));

    TestHost host(37, 21, 4);  // odd sizes: stride and rectangle edges show
    StartClip(host, 0, 0);
    for (int32_t f = 0; f < 4; ++f) {
        host.params.renderFrame = f;
        ASSERT_EQ(host.Send(kPlugDoFrame), kPluginOK);
        EXPECT_EQ(Pixels(host.output), Expected(host.clip[size_t(f)], saved)) << "frame " << f;
        EXPECT_EQ(host.frameRequests.back().frame, f);
        EXPECT_EQ(host.frameRequests.back().quality, kDVHighQuality);
    }
    EXPECT_EQ(host.mixAudioCalls, 4);
    EXPECT_EQ(host.releaseFrameCalls, 4);
    EXPECT_EQ(host.outstandingFrames, 0);
    const int64_t live = TestHost::liveBlocks;
    EXPECT_EQ(host.Send(kPlugTerminate), kPluginOK);
    EXPECT_EQ(host.params.clientData, nullptr);
    EXPECT_EQ(TestHost::liveBlocks, live - 2);  // the clip's data and its record copy

    PluginDataRec defaults = Defaults();
    ASSERT_TRUE(SaveConfig(&defaults));
}

TEST(EntryPoint, FadesBlendTheUntouchedFrameOverTheResult) {
    {
        TestHost host(8, 6, 100);
        const auto in = OpacitiesOverClip(host, 10, 0);
        EXPECT_EQ(in[0], 255);
        EXPECT_EQ(in[5], 127);
        EXPECT_EQ(in[9], 25);
        EXPECT_EQ(in[10], -1);
        EXPECT_EQ(in[99], -1);
        const auto out = OpacitiesOverClip(host, 0, 10);
        EXPECT_EQ(out[0], -1);
        EXPECT_EQ(out[90], -1);
        EXPECT_EQ(out[91], 25);
        EXPECT_EQ(out[99], 229);
    }
    {
        TestHost host(8, 6, 10);
        // Both fades on a 10-frame clip share it: 8 and 8 become 5 and 5.
        const auto both = OpacitiesOverClip(host, 8, 8);
        EXPECT_EQ(both[4], 50);  // (1 - 4/5) * 255 is just below 51
        EXPECT_EQ(both[5], -1);
        EXPECT_EQ(both[6], 50);
        // A lone fade-in longer than the clip becomes the clip's length.
        const auto longIn = OpacitiesOverClip(host, 12, 0);
        EXPECT_EQ(longIn[5], 127);
        EXPECT_EQ(longIn[9], 25);
    }
    {
        // The first frame of a fade-in shows the source exactly.
        TestHost host(9, 7, 3);
        StartClip(host, 2, 0);
        ASSERT_EQ(host.Send(kPlugDoFrame), kPluginOK);
        EXPECT_EQ(Pixels(host.output), Pixels(host.clip[0]));
        host.Send(kPlugTerminate);
    }
}

TEST(EntryPoint, HostFailuresComeBackAsResults) {
    TestHost host(8, 6, 5);
    const auto untouched = Pixels(host.output);
    EXPECT_EQ(host.Send(kPlugDoFrame), kPluginBadParams);  // no clip started
    EXPECT_EQ(Pixels(host.output), untouched);
    EXPECT_TRUE(host.frameRequests.empty());

    StartClip(host, 0, 0);
    host.getFrameResult = 42;
    EXPECT_EQ(host.Send(kPlugDoFrame), 42);
    EXPECT_EQ(host.releaseFrameCalls, 1);
    host.getFrameResult = kPluginOK;

    host.getFrameGivesNoBuffer = true;  // says yes, hands nothing
    EXPECT_NE(host.Send(kPlugDoFrame), kPluginOK);
    host.getFrameGivesNoBuffer = false;

    host.mixAudioResult = 17;
    EXPECT_EQ(host.Send(kPlugDoFrame), 17);
    host.mixAudioResult = kPluginOK;
    host.params.proxyOnly = true;  // proxy renders carry no audio, and small ones are low quality
    const int mixed = host.mixAudioCalls;
    EXPECT_EQ(host.Send(kPlugDoFrame), kPluginOK);
    EXPECT_EQ(host.mixAudioCalls, mixed);
    EXPECT_EQ(host.frameRequests.back().quality, kDVLowQuality);
    host.params.proxyOnly = false;

    host.releaseFrameResult = 21;
    EXPECT_EQ(host.Send(kPlugDoFrame), 21);
    host.releaseFrameResult = kPluginOK;

    // A frame before the start of the movie: nothing fetched or drawn.
    host.params.startFrame = 0;
    host.params.renderFrame = -1;
    const size_t asked = host.frameRequests.size();
    EXPECT_EQ(host.Send(kPlugDoFrame), kPluginOK);
    EXPECT_EQ(host.frameRequests.size(), asked);
    host.params.renderFrame = 0;
    EXPECT_EQ(host.Send(kPlugTerminate), kPluginOK);
    EXPECT_EQ(host.outstandingFrames, 0);

    // A failing blend during a fade is reported.
    StartClip(host, 3, 0);
    host.blitResult = 9;
    EXPECT_EQ(host.Send(kPlugDoFrame), 9);
    host.blitResult = kPluginOK;
    EXPECT_EQ(host.Send(kPlugTerminate), kPluginOK);

    // The filter info may come back nil, and its result is initialize's.
    host.filterInfoNil = true;
    host.filterInfoResult = 5;
    EXPECT_EQ(host.Send(kPlugInitialize), 5);
    EXPECT_EQ(host.Send(kPlugTerminate), kPluginOK);
}

TEST(EntryPoint, PlaceholderRendersTheThumbFrameAndLeavesTheBlockAlone) {
    TestHost host(12, 10, 8);
    host.params.getInfo.bestThumbOffset = 5;
    const int64_t live = TestHost::liveBlocks + 1;  // the global record is made by this first message
    HYPluginParams before;
    std::memcpy(&before, &host.params, sizeof before);
    before.selector = kPlugFilePlaceHolder;
    EXPECT_EQ(host.Send(kPlugFilePlaceHolder), kPluginOK);
    EXPECT_EQ(std::memcmp(&before, &host.params, sizeof before), 0);
    ASSERT_FALSE(host.frameRequests.empty());
    EXPECT_EQ(host.frameRequests.back().frame, 5);
    EXPECT_EQ(Pixels(host.output), Expected(host.clip[5], Defaults()));
    EXPECT_EQ(TestHost::liveBlocks, live);  // the copy's clip data is gone again

    // With a clip running, the caller's per-clip data is neither freed nor replaced.
    StartClip(host, 0, 0);
    void* clipData = host.params.clientData;
    EXPECT_EQ(host.Send(kPlugFilePlaceHolder), kPluginOK);
    EXPECT_EQ(host.params.clientData, clipData);
    host.params.renderFrame = 1;
    EXPECT_EQ(host.Send(kPlugDoFrame), kPluginOK);
    EXPECT_EQ(Pixels(host.output), Expected(host.clip[1], Defaults()));
    EXPECT_EQ(host.Send(kPlugTerminate), kPluginOK);
    EXPECT_EQ(TestHost::liveBlocks, live);
}

TEST(EntryPoint, TheLibraryExportsOnlyMain) {
    const std::string cmd = std::string("nm -D --defined-only ") + VX_BUNDLE_DIR + "/vexolumen.so";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(cmd.c_str(), "r"), pclose);
    ASSERT_TRUE(pipe);
    std::vector<std::string> symbols;
    char line[512];
    while (std::fgets(line, sizeof line, pipe.get())) {
        std::string s(line);
        s.erase(s.find_last_not_of("\r\n") + 1);
        symbols.push_back(s.substr(s.rfind(' ') + 1));
    }
    EXPECT_EQ(symbols, std::vector<std::string>{"main"});
}

namespace {

// The deep reference over the record's rectangle, then, for a fade, the
// untouched frame laid over it by the 16-bit rule of HYPlugin.h.
std::vector<uint8_t> ExpectedDeep(GWorldPtr source, const PluginDataRec& rec, int opacity) {
    Rect b;
    GetPortBounds(source, &b);
    const std::vector<uint8_t> in = Pixels(source);
    std::vector<uint8_t> out(in.size());
    RotationSetup64 setup;
    MakeRotationSetup64(rec.sliders[0], rec.sliders[1], rec.sliders[2], rec.colors[0], rec.method, setup);
    RotatePixelsReference64(setup, in.data(), 8 * b.right, out.data(), 8 * b.right, b.right, b.bottom,
                            Rel2Rect(rec.startRel, b), true);
    if (opacity < 0) return out;
    for (size_t i = 0; i < out.size(); i += 2) {
        uint16_t s, d;
        std::memcpy(&s, &in[i], 2);
        std::memcpy(&d, &out[i], 2);
        const uint16_t v = uint16_t((s * opacity + d * (255 - opacity) + 127) / 255);
        std::memcpy(&out[i], &v, 2);
    }
    return out;
}

}  // namespace

TEST(DeepFrames, TakenOnlyFromAHostThatOffersThem) {
    TestHost host;
    host.params.getInfo.pluginFlags = 0x5;
    host.params.deepFrames = kHYDeepFramesOffered;  // an old host's stray padding byte
    ASSERT_EQ(host.Send(kPlugGetInfo), kPluginOK);
    EXPECT_EQ(host.params.getInfo.pluginFlags, 0x5u | 0x1380u);

    host.params.deepFrames = 2;  // a version 5 host with no offer
    host.params.interfaceVersion = kHYDeepInterfaceVersion;
    host.params.getInfo.pluginFlags = 0x5;
    ASSERT_EQ(host.Send(kPlugGetInfo), kPluginOK);
    EXPECT_EQ(host.params.getInfo.pluginFlags, 0x5u | 0x1380u);

    host.OfferDeepFrames();
    host.params.getInfo.pluginFlags = 0x5;
    ASSERT_EQ(host.Send(kPlugGetInfo), kPluginOK);
    EXPECT_EQ(host.params.getInfo.pluginFlags, 0x5u | 0x1380u | kHYFlagDeepFrames);
}

TEST(DeepFrames, DoFrameGivesTheDeepReferenceWithAndWithoutFades) {
    PluginDataRec saved = Defaults();
    saved.startRel = RelRect{0.25, 0.75, 0.25, 0.75};
    saved.sliders[0] = 25, saved.sliders[1] = -30, saved.sliders[2] = 40;
    saved.colors[0] = RGBColor{0x8012, 0x7FEE, 0x4001};  // low bytes count at 16 bits
    CreatePrefsFileIfMissing();
    for (int16_t method : {1, 2, 3}) {
        saved.method = method;
        ASSERT_TRUE(SaveConfig(&saved));
        TestHost host(37, 21, 10);  // odd sizes: stride and rectangle edges show
        host.OfferDeepFrames();
        StartClip(host, 4, 3);
        for (int32_t f = 0; f < 10; ++f) {
            host.blitOpacities.clear();
            host.params.renderFrame = f;
            ASSERT_EQ(host.Send(kPlugDoFrame), kPluginOK);
            const int opacity = host.blitOpacities.empty() ? -1 : host.blitOpacities[0];
            EXPECT_EQ(opacity, f < 4 ? int((1.0 - f / 4.0) * 255.0) : f > 7 ? int((1.0 - (10 - f) / 3.0) * 255.0) : -1);
            EXPECT_EQ(Pixels(host.output), ExpectedDeep(host.clip[size_t(f)], saved, opacity))
                << "method " << method << " frame " << f;
        }
        EXPECT_EQ(host.outstandingFrames, 0);
        EXPECT_EQ(host.Send(kPlugTerminate), kPluginOK);
    }
    PluginDataRec defaults = Defaults();
    ASSERT_TRUE(SaveConfig(&defaults));
}

TEST(DeepFrames, PlaceholderAndOldHostsKeepTheirPaths) {
    {
        // The placeholder's copy of the block carries the offer along.
        TestHost host(12, 10, 8);
        host.OfferDeepFrames();
        host.params.getInfo.bestThumbOffset = 5;
        EXPECT_EQ(host.Send(kPlugFilePlaceHolder), kPluginOK);
        EXPECT_EQ(Pixels(host.output), ExpectedDeep(host.clip[5], Defaults(), -1));
    }
    {
        // Version 4 with the padding byte set: the 8-bit path, byte for byte.
        TestHost host(13, 9, 3);
        host.params.deepFrames = kHYDeepFramesOffered;
        StartClip(host, 0, 0);
        host.params.renderFrame = 1;
        ASSERT_EQ(host.Send(kPlugDoFrame), kPluginOK);
        EXPECT_EQ(Pixels(host.output), Expected(host.clip[1], Defaults()));
        EXPECT_EQ(host.Send(kPlugTerminate), kPluginOK);
    }
}

// GetFrameIntoGW is called here directly, which links the handlers in
// without main.cpp, the owner of the global record.
PluginDataRec* gPluginData = nullptr;

TEST(DeepFrames, TheDialogsPreviewFetchTakesTheHighBytes) {
    TestHost host(11, 7, 4);
    host.OfferDeepFrames();
    GWorldPtr preview = nullptr;
    const Rect bounds{0, 0, 7, 11};
    ASSERT_EQ(NewGWorld(&preview, 32, &bounds, nullptr, nullptr, 0), noErr);
    EXPECT_EQ(GetFrameIntoGW(preview, &host.params, 2, 1), kPluginOK);
    const auto deep = Pixels(host.clip[2]);
    std::vector<uint8_t> high;
    for (size_t i = 1; i < deep.size(); i += 2) high.push_back(deep[i]);  // little-endian high bytes
    EXPECT_EQ(Pixels(preview), high);
    EXPECT_EQ(host.outstandingFrames, 0);
    DisposeGWorld(preview);
}
