// The vexolumen program end to end: real files in, real files out, checked
// with the ffmpeg tools and against the colour rotation run directly.
#include <signal.h>

#include <cmath>
#include <cstring>
#include <thread>

#include "effect/pixelEffect.h"
#include "pipeline/prefsloader.h"
#include "pipeline/relRects.h"
#include "platform/resources/Resources.h"
#include "tests/app/AppTestSupport.h"

namespace {

struct Settings {
    int16_t angles[3] = {100, 100, 100};
    RGBColor offset{0, 0, 0};
    int16_t method = 1;
    RelRect rect{0, 1, 0, 1};
};

// What the effect makes of packed RGB (bpp 3) or RGBA (bpp 4) pixels.
std::string Rotated(const std::string& pixels, int w, int h, int bpp, const Settings& s) {
    std::vector<uint8_t> argb(size_t(w) * h * 4), out(argb.size());
    for (size_t i = 0; i < size_t(w) * h; ++i) {
        argb[4 * i] = bpp == 4 ? uint8_t(pixels[bpp * i + 3]) : 255;
        for (int c = 0; c < 3; ++c) argb[4 * i + 1 + c] = uint8_t(pixels[bpp * i + c]);
    }
    RotationSetup setup;
    MakeRotationSetup(s.angles[0], s.angles[1], s.angles[2], s.offset, s.method, setup);
    const Rect frame{0, 0, int16_t(h), int16_t(w)};
    RotatePixelsReference(setup, argb.data(), w * 4, out.data(), w * 4, w, h, Rel2Rect(s.rect, frame), true);
    std::string result(pixels.size(), '\0');
    for (size_t i = 0; i < size_t(w) * h; ++i) {
        for (int c = 0; c < 3; ++c) result[bpp * i + c] = char(out[4 * i + 1 + c]);
        if (bpp == 4) result[bpp * i + 3] = char(out[4 * i]);
    }
    return result;
}

std::string Blend(const std::string& over, const std::string& under, int opacity) {
    std::string out(over.size(), '\0');
    for (size_t i = 0; i < over.size(); ++i)
        out[i] = char((uint8_t(over[i]) * opacity + uint8_t(under[i]) * (255 - opacity) + 127) / 255);
    return out;
}

void ExpectOneLineError(const RunResult& r, const std::string& needle, const std::string& what) {
    EXPECT_NE(r.status, 0) << what;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << what << ": " << r.err;
    EXPECT_EQ(r.err.rfind("vexolumen: ", 0), 0u) << what << ": " << r.err;
    EXPECT_NE(r.err.find(needle), std::string::npos) << what << ": " << r.err;
}

}  // namespace

TEST_F(AppTest, RenderKeepsFramesTimestampsAndAudio) {
    for (const std::string ext : {"mp4", "mkv"}) {
        const std::string in = P("in." + ext), out = P("out." + ext);
        MustRun("ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=64x48:rate=25:duration=2 -f lavfi "
                "-i sine=frequency=440:duration=2 -c:v libx264 -pix_fmt yuv420p -c:a aac -shortest " + in);
        const RunResult r = Vx("render " + in + " " + out);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "") << "nothing is printed on a pipe";
        const std::string stream = "-select_streams v:0 -count_frames -of csv=p=0 "
                                   "-show_entries stream=nb_read_frames,avg_frame_rate,width,height ";
        EXPECT_EQ(Probe(stream + out), Probe(stream + in)) << ext;
        const std::string times = "-select_streams v:0 -show_entries frame=pts_time -of csv=p=0 ";
        EXPECT_EQ(Probe(times + out), Probe(times + in)) << ext;
        const std::string audio = " -map 0:a -c copy -f framemd5 -";
        const std::string audioIn = Shell("ffmpeg -nostdin -v error -i " + in + audio).out;
        EXPECT_NE(audioIn.find("0,"), std::string::npos);
        EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i " + out + audio).out, audioIn) << ext;
    }

    // A proxy render leaves out MixAudio, so no sound is passed.
    ASSERT_EQ(Vx("render " + P("in.mp4") + " " + P("proxy.mp4") + " --proxy").status, 0);
    EXPECT_EQ(Probe("-select_streams a -show_entries packet=pts -of csv=p=0 " + P("proxy.mp4")), "");

    // Sound the container cannot hold as it is (PCM in MP4) is re-encoded, not dropped.
    MustRun("ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=64x48:rate=25:duration=2 -f lavfi "
            "-i sine=duration=2:sample_rate=48000 -c:v mpeg4 -c:a pcm_s16le -shortest " + P("pcm.mov"));
    const RunResult pcm = Vx("render " + P("pcm.mov") + " " + P("pcm.mp4"));
    ASSERT_EQ(pcm.status, 0) << pcm.err;
    const std::string sound = Probe("-select_streams a:0 -show_entries stream=codec_name,sample_rate,duration -of csv=p=0 " +
                                    P("pcm.mp4"));
    EXPECT_EQ(sound.substr(0, 10), "aac,48000,") << sound;
    EXPECT_NEAR(std::stod(sound.substr(10)), 2.0, 0.05) << sound;

    // A part of the clip at another size: the frames asked for, starting at
    // the clip's start time, with the sound of those frames.
    const RunResult r = Vx("render " + P("in.mp4") + " " + P("part.mp4") + " --from 10 --frames 20 --size 32x24");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Probe("-select_streams v:0 -count_frames -of csv=p=0 -show_entries stream=nb_read_frames,width,height " +
                    P("part.mp4")),
              "32,24,20\n");
    const std::string times = "-select_streams v:0 -show_entries frame=pts_time -of csv=p=0 ";
    EXPECT_EQ(std::stod(Probe(times + P("part.mp4"))), std::stod(Probe(times + P("in.mp4"))));
    const double seconds = std::stod(Probe("-select_streams a:0 -show_entries stream=duration -of csv=p=0 " + P("part.mp4")));
    EXPECT_NEAR(seconds, 0.8, 0.1);
}

TEST_F(AppTest, PngRendersEqualTheRotationDoneDirectlyWithTheSavedSettings) {
    const int w = 37, h = 23;  // odd sizes: rows are padded, nothing lines up
    for (const int bpp : {3, 4}) {
        const char* fmt = bpp == 3 ? "rgb24" : "rgba";
        SCOPED_TRACE(fmt);
        const std::string pixels = NoiseBytes(size_t(w) * h * bpp, 7u + bpp);
        WriteFile(P("in.raw"), pixels);
        MustRun("ffmpeg -nostdin -v error -y -f rawvideo -pix_fmt " + std::string(fmt) + " -s 37x23 -i " + P("in.raw") +
                " " + P("in.png"));

        // A new machine renders with the defaults.
        Vx("config reset");
        RunResult r = Vx("render " + P("in.png") + " " + P("default.png") + " -y");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(RawFrames(P("default.png"), fmt), Rotated(pixels, w, h, bpp, Settings{}));

        // Settings saved from the command line are the ones the next render uses.
        r = Vx("config set --angles 25,-30,40 --offset '#80C040' --method wrap --rect 0.1,0.9,0.2,0.75");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("angles   25,-30,40"), std::string::npos) << r.out;
        r = Vx("render " + P("in.png") + " " + P("set.png") + " -y");
        ASSERT_EQ(r.status, 0) << r.err;
        Settings s;
        s.angles[0] = 25, s.angles[1] = -30, s.angles[2] = 40;
        s.offset = RGBColor{0x8080, 0xC0C0, 0x4040};
        s.method = 2;
        s.rect = RelRect{0.1, 0.9, 0.2, 0.75};
        const std::string expected = Rotated(pixels, w, h, bpp, s);
        ASSERT_NE(expected, pixels);
        EXPECT_EQ(RawFrames(P("set.png"), fmt), expected);
        EXPECT_EQ(Probe("-show_entries stream=pix_fmt -of csv=p=0 " + P("set.png")), std::string(fmt) + "\n");
    }
}

TEST_F(AppTest, FadesLayTheUnprocessedFrameOverTheProcessedOne) {
    const int w = 32, h = 16, n = 12, frameBytes = w * h * 3;
    const std::string pixels = NoiseBytes(size_t(frameBytes) * n, 11);
    WriteFile(P("clip.raw"), pixels);
    MustRun("ffmpeg -nostdin -v error -f rawvideo -pix_fmt rgb24 -s 32x16 -r 25 -i " + P("clip.raw") +
            " -c:v png " + P("clip.mov"));
    ASSERT_EQ(Vx("config set --angles 25,-30,40 --offset '#404040'").status, 0);
    Settings s;
    s.angles[0] = 25, s.angles[1] = -30, s.angles[2] = 40;
    s.offset = RGBColor{0x4040, 0x4040, 0x4040};

    // A lossless codec keeps RGB, so every byte can be checked.
    const RunResult r = Vx("render " + P("clip.mov") + " " + P("faded.mkv") + " --codec ffv1 --fade-in 4 --fade-out 3");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string out = RawFrames(P("faded.mkv"));
    ASSERT_EQ(out.size(), pixels.size());
    for (int i = 0; i < n; ++i) {
        const std::string original = pixels.substr(size_t(i) * frameBytes, frameBytes);
        const std::string processed = Rotated(original, w, h, 3, s);
        std::string expected = processed;
        if (i < 4) expected = Blend(original, processed, int((1.0 - double(i) / 4.0) * 255.0));
        else if (i > n - 3) expected = Blend(original, processed, int((1.0 - double(n - i) / 3.0) * 255.0));
        EXPECT_EQ(out.substr(size_t(i) * frameBytes, frameBytes), expected) << "frame " << i;
    }
    EXPECT_EQ(out.substr(0, frameBytes), pixels.substr(0, frameBytes)) << "a fade-in starts unprocessed";

    // Starting far into the clip seeks; the frames must still be the ones asked for.
    const RunResult part = Vx("render " + P("clip.mov") + " " + P("part.mkv") + " --codec ffv1 --from 9 --frames 2");
    ASSERT_EQ(part.status, 0) << part.err;
    EXPECT_EQ(RawFrames(P("part.mkv")), Rotated(pixels.substr(9u * frameBytes, frameBytes), w, h, 3, s) +
                                            Rotated(pixels.substr(10u * frameBytes, frameBytes), w, h, 3, s));

    // The placeholder is the processed frame the block names, without fades.
    const RunResult t = Vx("thumbnail " + P("clip.mov") + " " + P("thumb.png") + " --at 5");
    ASSERT_EQ(t.status, 0) << t.err;
    EXPECT_EQ(RawFrames(P("thumb.png")), Rotated(pixels.substr(5u * frameBytes, frameBytes), w, h, 3, s));
}

TEST_F(AppTest, BadInputsGiveOneLineAndLeaveNoFile) {
    const std::string clip = P("a.mp4");
    MustRun("ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=32x24:rate=25:duration=1 -f lavfi "
            "-i sine=duration=1 -c:v libx264 -pix_fmt yuv420p -c:a aac -shortest " + clip);
    MustRun("ffmpeg -nostdin -v error -f lavfi -i sine=duration=1 -c:a aac " + P("tone.m4a"));
    WriteFile(P("junk.mp4"), "this is not a video\n");
    WriteFile(P("exists.mp4"), "keep me");
    // A PNG whose image data is damaged after the header.
    MustRun("ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=32x24 -frames:v 1 " + P("good.png"));
    std::string png = ReadFile(P("good.png"));
    const size_t idat = png.find("IDAT");
    ASSERT_NE(idat, std::string::npos);
    for (size_t i = idat + 12; i < idat + 40 && i < png.size(); ++i) png[i] = char(png[i] ^ 0x5A);
    WriteFile(P("bad.png"), png);
    const std::vector<std::string> before = Listing();

    const std::string out = " " + P("out.mp4");
    const struct {
        std::string args, env, needle;
    } cases[] = {
        {"render " + P("nosuch.mp4") + out, "", "nosuch.mp4: No such file"},
        {"render " + P("junk.mp4") + out, "", "junk.mp4: Invalid data"},
        {"render " + P("tone.m4a") + out, "", "tone.m4a: no video stream"},
        {"render " + P("bad.png") + out, "", "bad.png: corrupt frame 0"},
        {"render " + clip + " " + P("no/such/dir/out.mp4"), "", "no/such/dir/out.mp4: cannot write"},
        {"render " + clip + out + " --codec nosuch", "", "--codec: unknown video encoder 'nosuch'"},
        {"render " + clip + " " + P("exists.mp4"), "", "exists.mp4: already exists (use -y"},
        {"render " + clip + out + " --frames abc", "", "--frames: 'abc' is not a whole number"},
        {"render " + clip + out + " --size 0x10", "", "--size: 0 is out of range"},
        {"render " + clip + out + " --sliders 1,2", "", "--sliders: '1,2' needs 3"},
        {"render " + clip + out + " --from 25", "", "--from: " + clip + " has 25 frames"},
        {"render " + clip + out + " --bogus", "", "unknown option '--bogus'"},
        {"render " + clip + out + " --bundle " + P("nobundle"), "", "nobundle: no plug-in bundle"},
        {"render " + clip + out + " --bundle " VX_TESTFILTER_DIR, "VX_TESTFILTER_FAIL_AT=2",
         "plug-in failed on frame 2: 6 (kPluginFailed)"},
        {"thumbnail " + clip + " " + P("t.png") + " --at 99", "", "--at: "},
        {"thumbnail " + clip + " " + P("t.jpg"), "", "t.jpg: a thumbnail is written as .png"},
    };
    for (const auto& c : cases) {
        ExpectOneLineError(Vx(c.args, c.env), c.needle, c.args);
        EXPECT_EQ(Listing(), before) << c.args;
    }
    EXPECT_EQ(ReadFile(P("exists.mp4")), "keep me");
    // With -y the same render replaces it.
    EXPECT_EQ(Vx("render " + clip + " " + P("exists.mp4") + " -y").status, 0);
    EXPECT_NE(ReadFile(P("exists.mp4")), "keep me");
}

TEST_F(AppTest, InterruptRemovesThePartialOutput) {
    MustRun("ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=32x24:rate=25:duration=8 -c:v libx264 " + P("long.mp4"));
    const std::string err = P("progress.txt");
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        freopen(err.c_str(), "w", stderr);
        setenv("VX_TESTFILTER_SLEEP_MS", "40", 1);
        execl(VX_APP_BIN, VX_APP_BIN, "render", P("long.mp4").c_str(), P("out.mp4").c_str(), "--progress",
              "--bundle", VX_TESTFILTER_DIR, nullptr);
        _exit(127);
    }
    // Wait for the work to be under way (the temporary file exists by then).
    for (int i = 0; i < 600 && ReadFile(err).find("frame ") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    const std::string text = ReadFile(err);
    EXPECT_NE(text.find("interrupted; " + P("out.mp4") + " not written"), std::string::npos) << text;
    std::filesystem::remove(err);
    EXPECT_EQ(Listing(), std::vector<std::string>{"long.mp4"});
}

TEST_F(AppTest, SavedSettingsFollowThePluginsRules) {
    // A new machine: nothing saved, the defaults are shown.
    RunResult r = Vx("config show");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("source   defaults"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("angles   100,100,100\noffset   #000000\nmethod   clamp\nrect     0,1,0,1\nstandard ntsc"),
              std::string::npos)
        << r.out;

    // Values outside the frame are kept as the record keeps them.
    ASSERT_EQ(Vx("config set --angles 1,2,3 --rect -0.25,1.5,0,1 --standard pal --method reflect").status, 0);
    r = Vx("config show");
    EXPECT_NE(r.out.find("source   saved\nangles   1,2,3\noffset   #000000\nmethod   reflect\nrect     -0.25,1.5,0,1\n"
                         "standard pal"),
              std::string::npos)
        << r.out;

    // A record of another version is reported and not used; the next save replaces it.
    {
        int16_t vRef = 0;
        int32_t dirID = 0;
        FSSpec spec{};
        ASSERT_EQ(FindFolder(kOnSystemDisk, kPreferencesFolderType, kDontCreateFolder, &vRef, &dirID), noErr);
        ASSERT_EQ(FSMakeFSSpec(vRef, dirID, reinterpret_cast<const unsigned char*>("\x0bpelzo-Prefs"), &spec), noErr);
        const ResFileRefNum ref = FSpOpenResFile(&spec, fsRdWrPerm);
        ASSERT_NE(ref, -1);
        Handle h = Get1Resource(cPrefResType, cPrefResID);
        ASSERT_NE(h, nullptr);
        reinterpret_cast<ConfigSaveRec*>(*h)->version = 2;
        ChangedResource(h);
        CloseResFile(ref);
    }
    r = Vx("config show");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("version 2, expected 3; not used"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find("source   defaults\nangles   100,100,100"), std::string::npos) << r.out;
    ASSERT_EQ(Vx("config set --offset '#FF0000'").status, 0);
    r = Vx("config show");
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("angles   100,100,100\noffset   #FF0000"), std::string::npos) << r.out;

    // Without a display the dialog is not attempted and nothing changes.
    MustRun("ffmpeg -nostdin -v error -f lavfi -i testsrc2=size=32x24 -frames:v 1 " + P("still.png"));
    const std::string prefs = ReadFile(config + "/pelzo-Prefs");
    r = Vx("configure " + P("still.png"), "env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM");
    ExpectOneLineError(r, "no display", "configure");
    EXPECT_EQ(ReadFile(config + "/pelzo-Prefs"), prefs);

    const std::pair<const char*, const char*> bad[] = {
        {"config set --method spiral", "--method: 'spiral' is not one of clamp|wrap|reflect"},
        {"config set --offset red", "--offset: 'red' is not a colour"},
        {"config set --angles 1,2,3.5", "--angles: '1,2,3.5' needs whole numbers"},
        {"config show --angles 1,2,3", "takes no settings"},
        {"config set", "nothing to set"},
    };
    for (const auto& [args, needle] : bad) ExpectOneLineError(Vx(args), needle, args);
}

TEST_F(AppTest, InfoPrintsWhatTheFilterDeclares) {
    const RunResult r = Vx("info");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("type     105 (filter)\nflags    0x00001380\ngroup    Vexolumen\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("slider 1 Red axis (Left .. Right), default 0.5\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("memory   50000 bytes"), std::string::npos) << r.out;
    EXPECT_EQ(Vx("render --help").status, 0);
    EXPECT_NE(Vx("--version").out.find("vexolumen "), std::string::npos);
}
