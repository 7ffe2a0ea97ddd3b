// The command line's forms and its messages for bad values.
#include <gtest/gtest.h>

#include "app/AppError.h"
#include "app/Options.h"

namespace {

std::string ErrorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const AppError& e) {
        EXPECT_EQ(e.status, kUsageStatus);
        return e.what();
    }
    return "";
}

}  // namespace

TEST(Options, BothFormsFlagsAndPositionals) {
    const ParsedArgs a = ParseArgs({"in.mp4", "--from=5", "-y", "--frames", "7", "--", "-odd.mp4"},
                                   {"--from", "--frames"}, {"--overwrite"}, "render");
    EXPECT_EQ(a.positional, (std::vector<std::string>{"in.mp4", "-odd.mp4"}));
    EXPECT_EQ(a.values.at("--from"), "5");
    EXPECT_EQ(a.values.at("--frames"), "7");
    EXPECT_TRUE(a.Has("--overwrite"));
    EXPECT_EQ(ErrorOf([] { ParseArgs({"--frames"}, {"--frames"}, {}, "render"); }), "--frames: needs a value");
    EXPECT_EQ(ErrorOf([] { ParseArgs({"--overwrite=1"}, {}, {"--overwrite"}, "render"); }),
              "--overwrite: takes no value");
    EXPECT_EQ(ErrorOf([] { ParseArgs({"--nope"}, {}, {}, "thumbnail"); }),
              "unknown option '--nope' for thumbnail (see vexolumen thumbnail --help)");
}

TEST(Options, ValuesAndTheirMessages) {
    EXPECT_EQ(ParseInteger("--at", "12", 0, 99), 12);
    EXPECT_EQ(ErrorOf([] { ParseInteger("--at", "1.5", 0, 99); }), "--at: '1.5' is not a whole number");
    EXPECT_EQ(ErrorOf([] { ParseInteger("--at", "", 0, 99); }), "--at: '' is not a whole number");
    EXPECT_EQ(ErrorOf([] { ParseInteger("--at", "-1", 0, 99); }), "--at: -1 is out of range 0..99");
    EXPECT_EQ(ErrorOf([] { ParseInteger("--at", "99999999999999999999", 0, 99); }),
              "--at: '99999999999999999999' is not a whole number");

    EXPECT_EQ(ParseNumberList("--rect", "-0.25,1.5,0,1", 4), (std::vector<double>{-0.25, 1.5, 0, 1}));
    EXPECT_EQ(ErrorOf([] { ParseNumberList("--rect", "0,1,,1", 4); }), "--rect: '' is not a number");
    EXPECT_EQ(ErrorOf([] { ParseNumberList("--rect", "0,1,nan,1", 4); }), "--rect: 'nan' is not a number");

    int w = 0, h = 0;
    ParseSize("--size", "1280x720", &w, &h);
    EXPECT_EQ(w, 1280);
    EXPECT_EQ(h, 720);
    EXPECT_EQ(ErrorOf([&] { ParseSize("--size", "1280*720", &w, &h); }), "--size: '1280*720' is not a size like 1280x720");
    EXPECT_EQ(ErrorOf([&] { ParseSize("--size", "40000x10", &w, &h); }), "--size: 40000 is out of range 1..32767");

    // A byte fills its whole 16-bit channel, so the high byte reads back the same.
    const RGBColor c = ParseHexColor("--offset", "#80c0FF");
    EXPECT_EQ(c.red, 0x8080);
    EXPECT_EQ(c.green, 0xC0C0);
    EXPECT_EQ(c.blue, 0xFFFF);
    EXPECT_EQ(ParseHexColor("--offset", "000000").red, 0);
    EXPECT_EQ(ErrorOf([] { ParseHexColor("--offset", "#12345"); }), "--offset: '#12345' is not a colour like '#RRGGBB'");
    EXPECT_EQ(ErrorOf([] { ParseHexColor("--offset", ""); }), "--offset: '' is not a colour like '#RRGGBB'");

    EXPECT_EQ(ParseChoice("--method", "reflect", {"clamp", "wrap", "reflect"}), 3);
    EXPECT_EQ(ErrorOf([] { ParseChoice("--method", "Clamp", {"clamp", "wrap"}); }),
              "--method: 'Clamp' is not one of clamp|wrap");
}
