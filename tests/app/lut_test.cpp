// Looks as lookup tables, checked the way other programs apply them: FFmpeg's
// haldclut and lut3d filters and melt, against the program's own render.
#include <cmath>

#include "app/commands/Lut.h"
#include "tests/app/AppTestSupport.h"

namespace {

struct Agreement {
    double withinTwo;  // share of values at most 2 codes off
    double mean;       // mean difference in codes
};

Agreement Compare(const std::string& a, const std::string& b) {
    EXPECT_EQ(a.size(), b.size());
    size_t close = 0;
    double sum = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) {
        const int d = std::abs(int(uint8_t(a[i])) - int(uint8_t(b[i])));
        close += d <= 2;
        sum += d;
    }
    return {a.empty() ? 0 : double(close) / double(a.size()), a.empty() ? 0 : sum / double(a.size())};
}

class LutTest : public AppTest {
protected:
    // Noise of every byte value, as a PNG of w x h.
    std::string Noise(int w, int h, const std::string& name) {
        NoiseFile(name + ".png", w, h, 1, "rgb24", 11);
        return P(name + ".png");
    }
    void Run(const std::string& args) {
        const RunResult r = Vx(args);
        ASSERT_EQ(r.status, 0) << args << "\n" << r.err;
    }
    std::string Rendered(const std::string& in) {
        Run("render " + in + " " + P("render.png") + " -y");
        return RawFrames(P("render.png"));
    }
};

TEST(LutEntries, CubeValuesSurviveTruncationAndRounding) {
    for (int byte = 0; byte < 256; ++byte) {
        const double v = CubeValue(uint8_t(byte));
        EXPECT_LE(v, 1.0);
        // As written (six decimals), read back in single precision.
        char text[32];
        std::snprintf(text, sizeof text, "%.6f", v);
        const float read = std::strtof(text, nullptr);
        EXPECT_EQ(int(read * 255.0f), byte) << "truncated, " << text;
        EXPECT_EQ(int(std::lround(read * 255.0f)), byte) << "rounded, " << text;
    }
}

// Halves go up, where FFmpeg's own identity generator truncates.
TEST(LutEntries, IdentityBytesAreRounded) {
    const struct {
        int i, n, byte;
    } bytes[] = {{0, 256, 0}, {200, 256, 200}, {255, 256, 255}, {11, 64, 45}, {4, 9, 128}, {1, 2, 255}};
    for (const auto& c : bytes) EXPECT_EQ(LutEntryByte(c.i, c.n), c.byte) << c.i << " of " << c.n;
}

// Level 16 holds every colour: looked up without interpolation it is the
// render itself, for each way of bringing values back into range.
TEST_F(LutTest, HaldClutGivesTheRendersBytesForEveryMethod) {
    const std::string noise = Noise(256, 192, "noise");
    for (const char* preset : {"tint", "neon", "pastel"}) {  // clamp, wrap, reflect
        SCOPED_TRACE(preset);
        Run(std::string("config set --preset ") + preset);
        Run("lut " + P("hald.png") + " -y");
        Ffmpeg("-i " + noise + " -i " + P("hald.png") + " -filter_complex haldclut=interp=nearest -frames:v 1",
               P("looked.png"));
        EXPECT_TRUE(RawFrames(P("looked.png")) == Rendered(noise));
    }
}

// With the rotation switched off, the tables are FFmpeg's own identities,
// and the cube's grid points on bytes give exactly those bytes.
TEST_F(LutTest, LayoutsMatchFfmpegsIdentities) {
    Run("config set --angles 0,0,0");
    for (const int level : {4, 16}) {
        Run("lut " + P("id.png") + " -y --level " + std::to_string(level));
        Ffmpeg("-f lavfi -i haldclutsrc=" + std::to_string(level) + " -frames:v 1", P("ref.png"));
        EXPECT_TRUE(RawFrames(P("id.png")) == RawFrames(P("ref.png"))) << "level " << level;
    }
    // OBS's: blue picks the 64 x 64 tile, eight tiles a row.
    Run("lut " + P("obs.png") + " --layout obs");
    const std::string obs = RawFrames(P("obs.png"));
    ASSERT_EQ(obs.size(), size_t(512 * 512 * 3));
    const struct {
        int x, y;
        uint8_t rgb[3];
    } pixels[] = {{63, 0, {255, 0, 0}}, {0, 63, {0, 255, 0}}, {64, 0, {0, 0, 4}}, {0, 64, {0, 0, 32}},
                  {511, 511, {255, 255, 255}}};
    for (const auto& p : pixels)
        EXPECT_EQ(obs.substr(size_t(p.y * 512 + p.x) * 3, 3), std::string(p.rgb, p.rgb + 3)) << p.x << "," << p.y;

    // 18 points a side fall on multiples of 15: every colour made of those
    // is a grid point, which lut3d gives back exactly.
    std::string grid;
    for (int b = 0; b < 18; ++b)
        for (int g = 0; g < 18; ++g)
            for (int r = 0; r < 18; ++r) grid += {char(r * 15), char(g * 15), char(b * 15)};
    WriteFile(P("grid.raw"), grid);
    Ffmpeg("-f rawvideo -pix_fmt rgb24 -s 72x81 -i " + P("grid.raw") + " -frames:v 1", P("grid.png"));
    Run("config set --preset pastel");
    Run("lut " + P("look.cube") + " --size 18");
    Ffmpeg("-i " + P("grid.png") + " -vf lut3d=file=" + P("look.cube") + " -frames:v 1", P("cubed.png"));
    EXPECT_TRUE(RawFrames(P("cubed.png")) == Rendered(P("grid.png")));
}

TEST_F(LutTest, CubeThroughLut3dIsWithinTwoCodes) {
    const std::string noise = Noise(256, 192, "noise");
    Run("config set --preset tint");
    Run("lut " + P("look.cube"));
    EXPECT_TRUE(Contains(ReadFile(P("look.cube")), "LUT_3D_SIZE 65\nDOMAIN_MIN 0 0 0\nDOMAIN_MAX 1 1 1\n"));
    Ffmpeg("-i " + noise + " -vf lut3d=file=" + P("look.cube") + ":interp=tetrahedral -frames:v 1", P("cubed.png"));
    const Agreement a = Compare(RawFrames(P("cubed.png")), Rendered(noise));
    EXPECT_GE(a.withinTwo, 0.999);
    EXPECT_LE(a.mean, 0.5);
}

TEST_F(LutTest, MeltAppliesTheCubeAsFfmpegDoes) {
    if (Shell("which melt").status != 0) GTEST_SKIP() << "melt is not installed";
    // A profile of square pixels the size of the picture, so melt scales nothing.
    const std::string noise = Noise(320, 240, "noise");
    Run("config set --preset pastel");
    Run("lut " + P("look.cube"));
    const RunResult r = Shell("melt -profile quarter_ntsc " + noise + " out=0 -filter avfilter.lut3d av.file=" +
                              P("look.cube") + " av.interp=tetrahedral -consumer avformat:" + P("melted.png") +
                              " vcodec=png mlt_image_format=rgb pix_fmt=rgb24");
    ASSERT_EQ(r.status, 0) << r.err;
    const Agreement a = Compare(RawFrames(P("melted.png")), Rendered(noise));
    EXPECT_GE(a.withinTwo, 0.999);
    EXPECT_LE(a.mean, 0.5);
}

TEST_F(LutTest, RefusalsGiveOneLineAndLeaveNothing) {
    WriteFile(P("exists.cube"), "keep me");
    const std::vector<std::string> before = Listing();
    const struct {
        std::string args, needle;
        int status;
    } cases[] = {
        {"lut " + P("look.jpg"), "look.jpg: a LUT is written as .png", 2},
        {"lut " + P("look.cube") + " --size 1", "--size: 1 is out of range 2..256", 2},
        {"lut " + P("look.cube") + " --size 257", "--size: 257 is out of range 2..256", 2},
        {"lut " + P("look.png") + " --level 17", "--level: 17 is out of range 2..16", 2},
        {"lut " + P("look.png") + " --size 33", "--size: only for a .cube", 2},
        {"lut " + P("look.cube") + " --layout obs", "--layout: only for a .png", 2},
        {"lut " + P("look.png") + " --preset nosuch", "--preset: no preset 'nosuch'", 2},
        {"lut " + P("exists.cube"), "exists.cube: already exists (use -y to overwrite)", 1},
        {"lut " + P("no/such/dir/look.cube"), "no/such/dir/look.cube: cannot write", 1},
    };
    for (const auto& c : cases) {
        const RunResult r = Vx(c.args);
        EXPECT_EQ(r.status, c.status) << c.args;
        EXPECT_TRUE(Contains(r.err, c.needle)) << c.args;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(Listing(), before) << c.args;
    }
    EXPECT_EQ(ReadFile(P("exists.cube")), "keep me");
}

// What a table cannot hold is said, and the table is written all the same.
TEST_F(LutTest, RectangleAndWrapAreNamed) {
    const struct {
        const char *preset, *out, *needle;
    } cases[] = {
        {"spotlight", "spot.png", "the rectangle is no part of a colour table"},
        {"neon", "neon.cube", "wrap folds colours over"},
        {"neon", "neon.png", nullptr},
    };
    for (const auto& c : cases) {
        const bool cube = std::string(c.out).find(".cube") != std::string::npos;
        const RunResult r = Vx(std::string("lut ") + P(c.out) + (cube ? " --size 5" : " --level 4") + " --preset " +
                               c.preset);
        ASSERT_EQ(r.status, 0) << r.err;
        if (c.needle) EXPECT_TRUE(Contains(r.err, c.needle));
        else EXPECT_EQ(r.err.find("vexolumen:"), std::string::npos) << r.err;
        EXPECT_TRUE(std::filesystem::exists(P(c.out)));
    }
}

}  // namespace
