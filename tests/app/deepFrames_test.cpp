// Sources deeper than 8 bits through the 16-bit form of the effect, end to
// end: exact values from 16-bit pictures, the levels of a 10-bit ramp, HDR
// clips kept at their depth and tags, and fades at 16 bits.
#include <set>
#include <tuple>

#include "tests/app/AppTestSupport.h"

namespace {

std::string Hex(const RGBColor& c) {
    char text[16];
    std::snprintf(text, sizeof text, "#%04X%04X%04X", c.red, c.green, c.blue);
    return text;
}

// 16-bit words of packed little-endian samples.
std::vector<uint16_t> Words(const std::string& raw) {
    std::vector<uint16_t> w(raw.size() / 2);
    for (size_t i = 0; i < w.size(); ++i) w[i] = uint16_t(uint8_t(raw[2 * i]) | uint8_t(raw[2 * i + 1]) << 8);
    return w;
}

class DeepFrames : public AppTest {
protected:
    // A 10-bit grey ramp of luma 64..940, one level every two or three columns.
    void MakeRamp(const std::string& out) {
        Ffmpeg("-f lavfi -i \"nullsrc=s=1920x16,format=yuv420p10le,geq=lum='64+floor(X*877/W)':cb=512:cr=512\" "
               "-frames:v 1 -c:v ffv1",
               out);
    }
    size_t LumaLevels(const std::string& file) {
        const std::vector<uint16_t> y = Words(RawFrames(file, "yuv420p10le"));
        return std::set<uint16_t>(y.begin(), y.begin() + std::min<size_t>(y.size(), 1920 * 16)).size();
    }
};

}  // namespace

TEST_F(DeepFrames, SixteenBitPicturesMatchTheDeepFormValueForValue) {
    const int w = 37, h = 11;
    const std::string pixels = NoiseFile("in.png", w, h, 1, "rgb48le", 21);
    const RGBColor offset{0x8123, 0x3FFF, 0xC001};  // not bytes doubled: all 16 bits count
    for (int16_t method = 1; method <= 3; ++method) {
        SCOPED_TRACE(method);
        const Settings s{{25, -70, 140}, offset, method, RelRect{0.1, 0.8, 0.2, 1}};
        ASSERT_EQ(Vx("config set --angles 25,-70,140 --offset '" + Hex(offset) + "' --rect 0.1,0.8,0.2,1 --method " +
                     (method == 1 ? "clamp" : method == 2 ? "wrap" : "reflect"))
                      .status,
                  0);
        const RunResult r = Vx("render " + P("in.png") + " " + P("out.png") + " --overwrite");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(Probe("-show_entries stream=pix_fmt -of csv=p=0 " + P("out.png")), "rgb48be\n");
        EXPECT_TRUE(RawFrames(P("out.png"), "rgb48le") == Rotated64(pixels, w, h, s));
    }
    EXPECT_TRUE(Contains(Vx("config show").out, "offset   " + Hex(offset)));
    // TIFF too, in and out (the reflect settings are still saved).
    Ffmpeg("-i " + P("in.png"), P("in.tif"));
    const RunResult r = Vx("render " + P("in.tif") + " " + P("out.tif"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Probe("-show_entries stream=codec_name,pix_fmt -of csv=p=0 " + P("out.tif")), "tiff,rgb48le\n");
    EXPECT_TRUE(RawFrames(P("out.tif"), "rgb48le") ==
                Rotated64(pixels, w, h, Settings{{25, -70, 140}, offset, 3, RelRect{0.1, 0.8, 0.2, 1}}));
}

TEST_F(DeepFrames, ATenBitRampKeepsItsLevels) {
    MakeRamp(P("ramp.mkv"));
    ASSERT_EQ(LumaLevels(P("ramp.mkv")), 877u);
    // x264 at crf 0 is lossless: what comes out is what the effect made.
    RunResult r = Vx("render " + P("ramp.mkv") + " " + P("deep.mkv") + " --crf 0");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_GE(LumaLevels(P("deep.mkv")), 877u * 95 / 100);
    r = Vx("render " + P("ramp.mkv") + " " + P("shallow.mkv") + " --crf 0 --depth 8");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.err, "10-bit video; the effect works on 8-bit values, written back as 10-bit"));
    EXPECT_LT(LumaLevels(P("shallow.mkv")), 877u / 3);
    // A plug-in that does not take deep frames still renders, at 8 bits.
    r = Vx("render --bundle " VX_TESTFILTER_DIR " " + P("ramp.mkv") + " " + P("old.mkv") + " --crf 0");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Contains(r.err, "the effect works on 8-bit values (the plug-in does not take 16-bit frames)"));
    EXPECT_LT(LumaLevels(P("old.mkv")), 877u / 3);
    EXPECT_EQ(Vx("render " + P("ramp.mkv") + " " + P("x.mkv") + " --depth 10").status, 2);
}

TEST_F(DeepFrames, HlgClipsStayTenBitWithTheirTags) {
    Ffmpeg("-f lavfi -i testsrc2=s=320x180:r=25 -frames:v 5 -pix_fmt yuv420p10le -c:v libx265 "
           "-x265-params log-level=none -color_primaries bt2020 -color_trc arib-std-b67 -colorspace bt2020nc",
           P("hlg.mp4"));
    // (libx265 inside the program would leave x265's own leak to the
    // sanitizer runs; ffmpeg made the clip with it.)
    for (const auto& [codec, out, pixFmt] : {std::tuple{"libx264", "out.mp4", "yuv420p10le"},
                                             std::tuple{"prores_ks", "out.mov", "yuv422p10le"}}) {
        const RunResult r = Vx("render " + P("hlg.mp4") + " " + P(out) + " --codec " + codec);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(Probe("-show_entries stream=pix_fmt,color_space,color_transfer,color_primaries -of csv=p=0 " +
                        P(out)),
                  std::string(pixFmt) + ",bt2020nc,arib-std-b67,bt2020\n")
            << codec;
    }
}

TEST_F(DeepFrames, FadesBlendAtSixteenBits) {
    const int w = 16, h = 8, n = 6, frameBytes = w * h * 6;
    const std::string pixels = NoiseFile("clip.mov", w, h, n, "rgb48le", 5, "-c:v png");
    ASSERT_EQ(Vx("config set --angles 25,-30,40 --offset '#404040'").status, 0);
    const Settings s{{25, -30, 40}, {0x4040, 0x4040, 0x4040}};
    // Fade-in 3 on 6 frames: opacities 255, 170, 85; fade-out 2: frame 5 at 127.
    ASSERT_EQ(Vx("render " + P("clip.mov") + " " + P("out.mkv") + " --codec ffv1 --fade-in 3 --fade-out 2").status, 0);
    EXPECT_EQ(Probe("-show_entries stream=pix_fmt -of csv=p=0 " + P("out.mkv")), "gbrp16le\n");
    const std::vector<uint16_t> out = Words(RawFrames(P("out.mkv"), "rgb48le"));
    ASSERT_EQ(out.size() * 2, pixels.size());
    const int opacity[n] = {255, 170, 85, -1, -1, 127};
    for (int i = 0; i < n; ++i) {
        const std::string over = pixels.substr(size_t(i) * frameBytes, frameBytes);
        const std::vector<uint16_t> source = Words(over), processed = Words(Rotated64(over, w, h, s));
        std::vector<uint16_t> expected = processed;
        for (size_t k = 0; opacity[i] >= 0 && k < expected.size(); ++k)
            expected[k] = uint16_t((source[k] * opacity[i] + processed[k] * (255 - opacity[i]) + 127) / 255);
        const std::vector<uint16_t> got(out.begin() + ptrdiff_t(i) * w * h * 3, out.begin() + ptrdiff_t(i + 1) * w * h * 3);
        EXPECT_EQ(got, expected) << "frame " << i;
    }
}
