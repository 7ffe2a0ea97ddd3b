// Colour descriptions: untagged sources are read as players show them and
// the output says what was used; encoders with colour in their own headers
// carry it there too.
#include <algorithm>

#include "app/convert/ColourSpaces.h"
#include "tests/app/AppTestSupport.h"

namespace {

TEST(ColourTags, WhatIsMissingIsFilledAsPlayersGuess) {
    struct Row {
        ColourTags given;
        AVPixelFormat format;
        int width, height;
        ColourTags shown;
    } rows[] = {
        // Untagged: by size. 1025 wide or 577 tall is HD; 576 lines is PAL's BT.601, fewer NTSC's.
        {{}, AV_PIX_FMT_YUV420P, 1280, 720,
         {AVCOL_SPC_BT709, AVCOL_PRI_BT709, AVCOL_TRC_BT709, AVCOL_RANGE_MPEG}},
        {{}, AV_PIX_FMT_YUV420P, 1025, 576,
         {AVCOL_SPC_BT709, AVCOL_PRI_BT709, AVCOL_TRC_BT709, AVCOL_RANGE_MPEG}},
        {{}, AV_PIX_FMT_YUV420P, 720, 577,
         {AVCOL_SPC_BT709, AVCOL_PRI_BT709, AVCOL_TRC_BT709, AVCOL_RANGE_MPEG}},
        {{}, AV_PIX_FMT_YUV422P, 720, 576,
         {AVCOL_SPC_BT470BG, AVCOL_PRI_BT470BG, AVCOL_TRC_SMPTE170M, AVCOL_RANGE_MPEG}},
        {{}, AV_PIX_FMT_YUV420P, 720, 480,
         {AVCOL_SPC_SMPTE170M, AVCOL_PRI_SMPTE170M, AVCOL_TRC_SMPTE170M, AVCOL_RANGE_MPEG}},
        // A full-range format stays full range.
        {{}, AV_PIX_FMT_YUVJ420P, 1920, 1080,
         {AVCOL_SPC_BT709, AVCOL_PRI_BT709, AVCOL_TRC_BT709, AVCOL_RANGE_JPEG}},
        // Partly tagged: only the gaps are filled.
        {{AVCOL_SPC_BT2020_NCL, AVCOL_PRI_UNSPECIFIED, AVCOL_TRC_ARIB_STD_B67, AVCOL_RANGE_UNSPECIFIED},
         AV_PIX_FMT_YUV420P10, 3840, 2160,
         {AVCOL_SPC_BT2020_NCL, AVCOL_PRI_BT709, AVCOL_TRC_ARIB_STD_B67, AVCOL_RANGE_MPEG}},
        {{AVCOL_SPC_BT709, AVCOL_PRI_BT709, AVCOL_TRC_BT709, AVCOL_RANGE_JPEG}, AV_PIX_FMT_YUV420P, 320, 240,
         {AVCOL_SPC_BT709, AVCOL_PRI_BT709, AVCOL_TRC_BT709, AVCOL_RANGE_JPEG}},
        // RGB has no matrix to guess: left as it is.
        {{}, AV_PIX_FMT_RGB24, 1920, 1080, {}},
    };
    for (const Row& r : rows) {
        const ColourTags t = AsPlayersShow(r.given, r.format, r.width, r.height);
        SCOPED_TRACE(std::to_string(r.width) + "x" + std::to_string(r.height));
        EXPECT_EQ(t.space, r.shown.space);
        EXPECT_EQ(t.primaries, r.shown.primaries);
        EXPECT_EQ(t.trc, r.shown.trc);
        EXPECT_EQ(t.range, r.shown.range);
    }
}

class ColourClips : public AppTest {
protected:
    // Rendered through the pass-through filter, so only the colour handling shows.
    RunResult Render(const std::string& in, const std::string& out, const std::string& more = "") {
        return Vx("render --bundle " VX_TESTFILTER_DIR " " + P(in) + " " + P(out) + " " + more);
    }
    std::string Rgb(const std::string& file, const std::string& matrix) {
        const RunResult r = Shell("ffmpeg -nostdin -v error -i " + P(file) + " -vf scale=in_color_matrix=" + matrix +
                                  ":flags=accurate_rnd+full_chroma_int -frames:v 1 -f rawvideo -pix_fmt rgb24 -");
        EXPECT_EQ(r.status, 0) << r.err;
        return r.out;
    }
    std::string Tags(const std::string& file, const std::string& section = "stream") {
        return Probe("-select_streams v:0 -read_intervals %+#1 -show_entries " + section +
                     "=color_space,color_primaries,color_transfer -of csv=p=0 " + P(file));
    }
};

// The 99th percentile of the differences of two pictures, in codes.
int Percentile99(const std::string& a, const std::string& b) {
    std::vector<int> d;
    for (size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        d.push_back(std::abs(int(uint8_t(a[i])) - int(uint8_t(b[i]))));
    if (d.empty() || a.size() != b.size()) return 256;
    std::nth_element(d.begin(), d.begin() + long(d.size() * 99 / 100), d.end());
    return d[d.size() * 99 / 100];
}

}  // namespace

// The source shown as a player shows it (BT.709 for HD, BT.601 for PAL),
// against the output shown by its own tags.
TEST_F(ColourClips, UntaggedClipsComeOutAsPlayersShowThem) {
    struct {
        const char* size;
        const char* matrix;
        const char* tags;
    } rows[] = {{"1280x720", "bt709", "bt709,bt709,bt709"}, {"720x576", "bt601", "bt470bg,smpte170m,bt470bg"}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.size);
        Ffmpeg(std::string("-f lavfi -i gradients=s=") + row.size + ":d=0.08,format=yuv420p -c:v libx264 -crf 0",
               P("in.mp4"));
        ASSERT_EQ(Tags("in.mp4"), "unknown,unknown,unknown\n");
        const RunResult r = Render("in.mp4", "out.mp4", "--crf 0 -y");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(Tags("out.mp4"), std::string(row.tags) + "\n");
        EXPECT_LE(Percentile99(Rgb("in.mp4", row.matrix), Rgb("out.mp4", "auto")), 3);
    }
}

// ProRes keeps the description in each frame's header, where FFmpeg's
// decoder reads it; the container's box alone is not enough.
TEST_F(ColourClips, ProResFrameHeadersCarryTheColour) {
    Ffmpeg("-f lavfi -i testsrc2=s=64x48:d=0.08 -c:v libx264 -pix_fmt yuv420p10le -color_primaries bt2020 "
           "-color_trc arib-std-b67 -colorspace bt2020nc",
           P("hlg.mkv"));
    const RunResult r = Render("hlg.mkv", "hlg.mov", "--codec prores_ks");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Tags("hlg.mov", "frame"), "bt2020nc,bt2020,arib-std-b67\n");
}

// DNxHR is chosen by its profile, as with ffmpeg -profile:v; the encoder's
// own complaint names what is wrong. Its frames have no place for colour
// (FFmpeg's decoder calls every one BT.709): the container's box holds it.
TEST_F(ColourClips, DnxhrTakesItsProfileAndKeepsTheColour) {
    Ffmpeg("-f lavfi -i testsrc2=s=256x128:d=0.08 -c:v libx264 -pix_fmt yuv420p10le -color_primaries bt2020 "
           "-color_trc arib-std-b67 -colorspace bt2020nc",
           P("hlg.mkv"));
    RunResult r = Render("hlg.mkv", "hlg.mov", "--codec dnxhd --profile dnxhr_hqx");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Probe("-show_entries stream=profile,pix_fmt -of csv=p=0 " + P("hlg.mov")), "DNXHR HQX,yuv422p10le\n");
    EXPECT_EQ(Tags("hlg.mov"), "bt2020nc,arib-std-b67,bt2020\n");
    r = Render("hlg.mkv", "sq.mov", "--codec dnxhd --depth 8 --profile dnxhr_sq");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err,
              "vexolumen: --codec: cannot open dnxhd: pixel format is incompatible with DNxHR LB/SQ/HQ profile\n");
    r = Render("hlg.mkv", "bad.mov", "--codec dnxhd --profile dnxhr_best");
    EXPECT_EQ(r.err, "vexolumen: --profile: dnxhd has no profile 'dnxhr_best'\n");
    EXPECT_FALSE(std::filesystem::exists(P("sq.mov")) || std::filesystem::exists(P("bad.mov")));
}
