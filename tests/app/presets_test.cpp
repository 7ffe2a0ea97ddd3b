// Named looks, from the listing through the saved settings to a render.
#include "tests/app/AppTestSupport.h"
#include "pipeline/presets.h"

namespace {

TEST_F(AppTest, PresetsAreListedSavedAndRendered) {
    const RunResult list = Vx("config presets");
    ASSERT_EQ(list.status, 0) << list.err;
    Ffmpeg("-f lavfi -i testsrc2=size=48x32 -frames:v 1", P("in.png"));
    const std::string in = RawFrames(P("in.png"));

    std::vector<std::string> looks;
    for (const Preset& p : kPresets) {
        EXPECT_TRUE(Contains(list.out, std::string(p.name) + " "));
        // The listing's option line, given by hand, is the preset.
        const size_t at = list.out.find("--angles", list.out.find(std::string(p.name) + " "));
        ASSERT_NE(at, std::string::npos) << p.name;
        const std::string spelled = list.out.substr(at, list.out.find('\n', at) - at);
        ASSERT_EQ(Vx("config set " + spelled).status, 0) << spelled;
        const std::string byHand = Vx("config show").out;
        const RunResult set = Vx("config set --preset " + std::string(p.name));
        ASSERT_EQ(set.status, 0) << set.err;
        EXPECT_EQ(Vx("config show").out, byHand) << p.name;

        ASSERT_EQ(Vx("render " + P("in.png") + " " + P("out.png") + " -y").status, 0) << p.name;
        looks.push_back(RawFrames(P("out.png")));
        EXPECT_NE(looks.back(), in) << p.name << " leaves the picture as it was";
    }
    // No two presets look the same.
    for (size_t i = 0; i < looks.size(); ++i)
        for (size_t j = i + 1; j < looks.size(); ++j) EXPECT_NE(looks[i], looks[j]) << i << " and " << j;

    // Options beside --preset win over its fields; the rest come from it.
    ASSERT_EQ(Vx("config set --preset spotlight --method wrap --angles 1,2,3").status, 0);
    EXPECT_TRUE(Contains(Vx("config show").out,
                         "angles   1,2,3\noffset   #804020\nmethod   wrap\nrect     0.25,0.75,0.25,0.75"));
    // The frei0r filter's starting point is one of them.
    EXPECT_NE(FindPreset(kFrei0rPreset), nullptr);
}

}  // namespace
