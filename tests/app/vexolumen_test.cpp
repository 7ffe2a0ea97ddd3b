// The vexolumen program end to end: real files in, real files out, checked
// with the ffmpeg tools and against the colour rotation run directly.
#include "pipeline/prefsloader.h"
#include "platform/resources/Resources.h"
#include "tests/app/AppTestSupport.h"

namespace {

const std::string kTimes = "-select_streams v:0 -show_entries frame=pts_time -of csv=p=0 ";
const std::string kVideo =
    "-select_streams v:0 -count_frames -of csv=p=0 -show_entries stream=nb_read_frames,avg_frame_rate,width,height ";
const std::string kSound = "-select_streams a:0 -of csv=p=0 -show_entries stream=";
const std::string kTwoSeconds = "-f lavfi -i testsrc2=size=64x48:rate=25:duration=2 -f lavfi -i sine=duration=2";
const std::string kH264Aac = "-c:v libx264 -pix_fmt yuv420p -c:a aac -shortest";

}  // namespace

TEST_F(AppTest, RenderKeepsFramesTimestampsAndAudio) {
    for (const std::string ext : {"mp4", "mkv"}) {
        const std::string in = P("in." + ext), out = P("out." + ext);
        Ffmpeg(kTwoSeconds + " " + kH264Aac, in);
        const RunResult r = Vx("render " + in + " " + out);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "") << "nothing is printed on a pipe";
        EXPECT_EQ(Probe(kVideo + out), Probe(kVideo + in)) << ext;
        EXPECT_EQ(Probe(kTimes + out), Probe(kTimes + in)) << ext;
        const std::string audio = " -map 0:a -c copy -f framemd5 -";
        const std::string audioIn = Shell("ffmpeg -nostdin -v error -i " + in + audio).out;
        EXPECT_TRUE(Contains(audioIn, "0,"));
        EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i " + out + audio).out, audioIn) << ext;
    }
    // A proxy render leaves out MixAudio, so no sound is passed.
    ASSERT_EQ(Vx("render " + P("in.mp4") + " " + P("proxy.mp4") + " --proxy").status, 0);
    EXPECT_EQ(Probe("-select_streams a -show_entries packet=pts -of csv=p=0 " + P("proxy.mp4")), "");

    // Sound the container cannot hold as it is (PCM in MP4) is re-encoded, not dropped.
    Ffmpeg(kTwoSeconds + ":sample_rate=48000 -c:v mpeg4 -c:a pcm_s16le -shortest", P("pcm.mov"));
    ASSERT_EQ(Vx("render " + P("pcm.mov") + " " + P("pcm.mp4")).status, 0);
    const std::string sound = Probe(kSound + "codec_name,sample_rate,duration " + P("pcm.mp4"));
    EXPECT_EQ(sound.substr(0, 10), "aac,48000,") << sound;
    EXPECT_NEAR(std::stod(sound.substr(10)), 2.0, 0.05) << sound;

    // A part of the clip at another size: the frames asked for, starting at
    // the clip's start time, with the sound of those frames.
    const RunResult r = Vx("render " + P("in.mp4") + " " + P("part.mp4") + " --from 10 --frames 20 --size 32x24");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Probe(kVideo + P("part.mp4")), "32,24,25/1,20\n");
    EXPECT_EQ(std::stod(Probe(kTimes + P("part.mp4"))), std::stod(Probe(kTimes + P("in.mp4"))));
    EXPECT_NEAR(std::stod(Probe(kSound + "duration " + P("part.mp4"))), 0.8, 0.1);
}

TEST_F(AppTest, PngRendersEqualTheRotationDoneDirectlyWithTheSavedSettings) {
    const int w = 37, h = 23;  // odd sizes: rows are padded, nothing lines up
    const Settings saved{{25, -30, 40}, {0x8080, 0xC0C0, 0x4040}, 2, {0.1, 0.9, 0.2, 0.75}};
    for (const int bpp : {3, 4}) {
        const std::string fmt = bpp == 3 ? "rgb24" : "rgba";
        SCOPED_TRACE(fmt);
        const std::string pixels = NoiseFile("in.png", w, h, 1, fmt, 7u + bpp);

        // A new machine renders with the defaults.
        Vx("config reset");
        RunResult r = Vx("render " + P("in.png") + " " + P("default.png") + " -y");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(RawFrames(P("default.png"), fmt), Rotated(pixels, w, h, bpp, Settings{}));

        // Settings saved from the command line are the ones the next render uses.
        r = Vx("config set --angles 25,-30,40 --offset '#80C040' --method wrap --rect 0.1,0.9,0.2,0.75");
        ASSERT_EQ(r.status, 0) << r.err;
        r = Vx("render " + P("in.png") + " " + P("set.png") + " -y");
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string expected = Rotated(pixels, w, h, bpp, saved);
        ASSERT_NE(expected, pixels);
        EXPECT_EQ(RawFrames(P("set.png"), fmt), expected);
        EXPECT_EQ(Probe("-show_entries stream=pix_fmt -of csv=p=0 " + P("set.png")), fmt + "\n");
    }
}

TEST_F(AppTest, FadesLayTheUnprocessedFrameOverTheProcessedOne) {
    const int w = 32, h = 16, n = 12, frameBytes = w * h * 3;
    const std::string pixels = NoiseFile("clip.mov", w, h, n, "rgb24", 11, "-c:v png");
    ASSERT_EQ(Vx("config set --angles 25,-30,40 --offset '#404040'").status, 0);
    const Settings s{{25, -30, 40}, {0x4040, 0x4040, 0x4040}};
    auto original = [&](int i) { return pixels.substr(size_t(i) * frameBytes, frameBytes); };

    // A lossless codec keeps RGB, so every byte can be checked. Fade-in 4 on
    // 12 frames: opacities 255, 191, 127, 63; fade-out 3: frames 10 and 11 at
    // 85 and 170.
    ASSERT_EQ(Vx("render " + P("clip.mov") + " " + P("out.mkv") + " --codec ffv1 --fade-in 4 --fade-out 3").status, 0);
    const std::string out = RawFrames(P("out.mkv"));
    ASSERT_EQ(out.size(), pixels.size());
    const int opacity[n] = {255, 191, 127, 63, -1, -1, -1, -1, -1, -1, 85, 170};
    for (int i = 0; i < n; ++i) {
        const std::string over = original(i), processed = Rotated(over, w, h, 3, s);
        std::string expected = processed;
        for (size_t k = 0; opacity[i] >= 0 && k < expected.size(); ++k)
            expected[k] =
                char((uint8_t(over[k]) * opacity[i] + uint8_t(processed[k]) * (255 - opacity[i]) + 127) / 255);
        EXPECT_EQ(out.substr(size_t(i) * frameBytes, frameBytes), expected) << "frame " << i;
    }

    // Starting far into the clip seeks; the frames must still be the ones asked for.
    ASSERT_EQ(Vx("render " + P("clip.mov") + " " + P("part.mkv") + " --codec ffv1 --from 9 --frames 2").status, 0);
    EXPECT_EQ(RawFrames(P("part.mkv")), Rotated(original(9), w, h, 3, s) + Rotated(original(10), w, h, 3, s));
    // The placeholder is the processed frame the block names, without fades.
    ASSERT_EQ(Vx("thumbnail " + P("clip.mov") + " " + P("thumb.png") + " --at 5").status, 0);
    EXPECT_EQ(RawFrames(P("thumb.png")), Rotated(original(5), w, h, 3, s));
}

// Every bad input or setting: one line, a non-zero status, no file left and
// the saved settings untouched.
TEST_F(AppTest, BadInputsGiveOneLineAndLeaveNoFile) {
    const std::string clip = P("a.mp4"), out = " " + P("out.mp4");
    Ffmpeg("-f lavfi -i testsrc2=size=32x24:rate=25:duration=1 -f lavfi -i sine=duration=1 " + kH264Aac, clip);
    Ffmpeg("-f lavfi -i sine=duration=1 -c:a aac", P("tone.m4a"));
    WriteFile(P("junk.mp4"), "this is not a video\n");
    WriteFile(P("exists.mp4"), "keep me");
    // A PNG whose image data is damaged after the header.
    Ffmpeg("-f lavfi -i testsrc2=size=32x24 -frames:v 1", P("good.png"));
    std::string png = ReadFile(P("good.png"));
    const size_t idat = png.find("IDAT");
    ASSERT_NE(idat, std::string::npos);
    for (size_t i = idat + 12; i < idat + 40 && i < png.size(); ++i) png[i] = char(png[i] ^ 0x5A);
    WriteFile(P("bad.png"), png);
    ASSERT_EQ(Vx("config set --offset '#FF0000'").status, 0);
    const std::vector<std::string> before = Listing();
    const std::string prefs = ReadFile(config + "/pelzo-Prefs");

    const struct {
        std::string args, env, needle;
    } cases[] = {
        {"render " + P("nosuch.mp4") + out, "", "nosuch.mp4: No such file"},
        {"render " + P("junk.mp4") + out, "", "junk.mp4: Invalid data"},
        {"render " + P("tone.m4a") + out, "", "tone.m4a: no video stream"},
        {"render " + P("bad.png") + out, "", "bad.png: corrupt frame 0"},
        {"render " + clip + " " + P("no/such/dir/out.mp4"), "", "no/such/dir/out.mp4: cannot write"},
        {"render " + clip + " " + P("out.nosuchformat"), "", "out.nosuchformat: unknown output format"},
        {"render " + clip + out + " --codec nosuch", "", "--codec: unknown video encoder 'nosuch'"},
        {"render " + clip + out + " --codec png --crf 20", "", "--crf: encoder png has no CRF setting"},
        {"render " + clip + " " + P("exists.mp4"), "", "exists.mp4: already exists (use -y"},
        {"render " + clip + out + " --frames abc", "", "--frames: 'abc' is not a whole number"},
        {"render " + clip + out + " --frames 99999999999999999999", "", "'99999999999999999999' is not a whole"},
        {"render " + clip + out + " --frames", "", "--frames: needs a value"},
        {"render " + clip + out + " --size 0x10", "", "--size: 0 is out of range"},
        {"render " + clip + out + " --sliders 1,2", "", "--sliders: '1,2' needs 3"},
        {"render " + clip + out + " --from 25", "", "--from: " + clip + " has 25 frames"},
        {"render " + clip + out + " --bogus", "", "unknown option '--bogus' for render"},
        {"render " + clip + out + " --bundle " + P("nobundle"), "", "nobundle: no plug-in bundle"},
        {"render " + clip + out + " --bundle " VX_TESTFILTER_DIR, "VX_TESTFILTER_FAIL_AT=2",
         "plug-in failed on frame 2: 6 (kPluginFailed)"},
        {"thumbnail " + clip + " " + P("t.png") + " --at 99", "", "--at: "},
        {"thumbnail " + clip + " " + P("t.jpg"), "", "t.jpg: a thumbnail is written as .png"},
        {"configure " + clip, "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM", "no display"},
        {"config set --method Clamp", "", "--method: 'Clamp' is not one of clamp|wrap|reflect"},
        {"config set --offset '#12345'", "", "--offset: '#12345' is not a colour like '#RRGGBB'"},
        {"config set --angles 1,2,3.5", "", "--angles: '1,2,3.5' needs whole numbers"},
        {"config set --rect 0,1,nan,1", "", "--rect: 'nan' is not a number"},
        {"config set --rect 0.8,0.2,0,1", "", "--rect: '0.8,0.2,0,1' has left after right"},
        {"config set --preset tint --rect 0,1,0.75,0.5", "", "--rect: '0,1,0.75,0.5' has top below bottom"},
        {"config set --angles 0,201,0", "", "--angles: '0,201,0' needs whole numbers in -200..200"},
        {"config set --angles -1e300,0,0", "", "needs whole numbers in -200..200"},
        {"config set --offset red", "", "--offset: 'red' is not a colour"},
        {"config set --offset ''", "", "--offset: '' is not a colour"},
        {"config set --preset nosuch", "", "--preset: no preset 'nosuch' (tint, swap"},
        {"config presets --preset tint", "", "takes no settings"},
        // Control characters reach the terminal escaped, on the one line.
        {"config set --method \"$(printf 'a\\033[2Jb\\nc')\"", "", "--method: 'a\\x1b[2Jb\\x0ac' is not one of"},
        {"render " + clip + " file:" + P("exists.mp4"), "", "exists.mp4: already exists (use -y"},
        {"config show --angles 1,2,3", "", "takes no settings"},
        {"config set", "", "nothing to set"},
    };
    for (const auto& c : cases) {
        const RunResult r = Vx(c.args, c.env);
        EXPECT_NE(r.status, 0) << c.args;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.args << ": " << r.err;
        EXPECT_EQ(r.err.rfind("vexolumen: ", 0), 0u) << c.args << ": " << r.err;
        EXPECT_TRUE(Contains(r.err, c.needle)) << c.args;
        EXPECT_EQ(Listing(), before) << c.args;
        EXPECT_EQ(ReadFile(config + "/pelzo-Prefs"), prefs) << c.args;
    }
    EXPECT_EQ(ReadFile(P("exists.mp4")), "keep me");
    // With -y the same render replaces it.
    EXPECT_EQ(Vx("render " + clip + " " + P("exists.mp4") + " -y").status, 0);
    EXPECT_NE(ReadFile(P("exists.mp4")), "keep me");
}

// Ctrl-C once frames are being written (the progress shows it).
TEST_F(AppTest, InterruptRemovesThePartialOutput) {
    Ffmpeg("-f lavfi -i testsrc2=size=32x24:rate=25:duration=8 -c:v libx264", P("long.mp4"));
    const RunResult r =
        Shell("{ VX_TESTFILTER_SLEEP_MS=40 " VX_APP_BIN " render " + P("long.mp4") + " " + P("out.mp4") +
              " --progress --bundle " VX_TESTFILTER_DIR " & for i in $(seq 600); do grep -q 'frame ' " + P(".err") +
              " && break; sleep 0.05; done; kill -INT $!; wait $!; }");
    EXPECT_EQ(r.status, 130);
    EXPECT_TRUE(Contains(r.err, "frame "));
    EXPECT_TRUE(Contains(r.err, "interrupted by SIGINT; " + P("out.mp4") + " not written"));
    EXPECT_EQ(Listing(), std::vector<std::string>{"long.mp4"});
}

TEST_F(AppTest, SavedSettingsFollowThePluginsRules) {
    // A new machine: nothing saved, the defaults are shown.
    EXPECT_TRUE(Contains(Vx("config show").out,
                         "source   defaults\nangles   100,100,100\noffset   #000000\n"
                         "method   clamp\nrect     0,1,0,1\nstandard ntsc"));
    // Values outside the frame are kept as the record keeps them.
    ASSERT_EQ(Vx("config set --angles 1,2,3 --rect -0.25,1.5,0,1 --standard pal --method reflect").status, 0);
    EXPECT_TRUE(Contains(Vx("config show").out,
                         "source   saved\nangles   1,2,3\noffset   #000000\nmethod   reflect\n"
                         "rect     -0.25,1.5,0,1\nstandard pal"));

    // A record of another version is reported and not used; the next save replaces it.
    int16_t vRef = 0;
    int32_t dirID = 0;
    FSSpec spec{};
    ASSERT_EQ(FindFolder(kOnSystemDisk, kPreferencesFolderType, kDontCreateFolder, &vRef, &dirID), noErr);
    ASSERT_EQ(FSMakeFSSpec(vRef, dirID, reinterpret_cast<const unsigned char*>("\x0bpelzo-Prefs"), &spec), noErr);
    const ResFileRefNum ref = FSpOpenResFile(&spec, fsRdWrPerm);
    Handle h = Get1Resource(cPrefResType, cPrefResID);
    ASSERT_NE(h, nullptr);
    reinterpret_cast<ConfigSaveRec*>(*h)->version = 2;
    ChangedResource(h);
    CloseResFile(ref);
    RunResult r = Vx("config show");
    EXPECT_TRUE(Contains(r.err, "version 2, expected 3; not used"));
    EXPECT_TRUE(Contains(r.out, "source   defaults\nangles   100,100,100"));
    ASSERT_EQ(Vx("config set --offset '#FF0000'").status, 0);
    r = Vx("config show");
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(Contains(r.out, "angles   100,100,100\noffset   #FF0000"));
}
