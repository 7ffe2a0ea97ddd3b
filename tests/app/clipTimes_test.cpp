// Where an output starts and which frames it holds, whatever clock the input
// runs on, wherever it is cut, however it was cut off.
#include "tests/app/AppTestSupport.h"

class ClipTimes : public AppTest {
protected:
    double Number(const std::string& probeArgs) {
        const std::string text = Probe(probeArgs);
        return text.empty() ? -1 : std::stod(text);
    }
    std::string Frames(const std::string& file) {
        return Shell("ffmpeg -nostdin -v error -i " + file + " -fps_mode passthrough -f rawvideo -pix_fmt rgb24 -").out;
    }
};

// A broadcast recording whose clock stands at 10 hours comes out starting
// at 0 and as long as it is, in every container.
TEST_F(ClipTimes, TenHourClockStartsAtZero) {
    Ffmpeg("-f lavfi -i testsrc2=size=64x48:rate=25:duration=2 -f lavfi -i sine=duration=2:sample_rate=48000 "
           "-c:v mpeg2video -c:a ac3 -output_ts_offset 36000", P("late.ts"));
    for (const std::string ext : {"mkv", "mov", "mp4"}) {
        const std::string out = P("out." + ext);
        const RunResult r = Vx("render " + P("late.ts") + " " + out + " -y");
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NEAR(Number("-show_entries format=start_time -of csv=p=0 " + out), 0, 0.05) << ext;
        EXPECT_NEAR(Number("-show_entries format=duration -of csv=p=0 " + out), 2.0, 0.1) << ext;
    }
}

// Cut in an open GOP (pictures after a key frame refer to the frames before
// it), with B-frames: the frames of a whole render, none refused as corrupt.
TEST_F(ClipTimes, FromIntoAnOpenGopGivesTheWholeRendersFrames) {
    Ffmpeg("-f lavfi -i testsrc2=size=32x24:rate=25:duration=3 -c:v libx264 -pix_fmt yuv420p -bf 3 "
           "-x264-params open-gop=1:keyint=20:min-keyint=20:scenecut=0", P("open.mp4"));
    RunResult r = Vx("render " + P("open.mp4") + " " + P("whole.mkv") + " --codec ffv1");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string whole = Frames(P("whole.mkv"));
    const size_t frame = 32 * 24 * 3;
    ASSERT_EQ(whole.size(), 75 * frame);
    for (const int from : {19, 20, 21, 43, 70}) {
        r = Vx("render " + P("open.mp4") + " " + P("part.mkv") + " --codec ffv1 -y --frames 5 --from " +
               std::to_string(from));
        ASSERT_EQ(r.status, 0) << from << ": " << r.err;
        EXPECT_TRUE(Frames(P("part.mkv")) == whole.substr(from * frame, 5 * frame)) << "from " << from;
        EXPECT_NEAR(Number("-show_entries format=start_time -of csv=p=0 " + P("part.mkv")), 0, 0.001) << from;
    }
}

// A file cut off renders what it holds and says so in one line, in every
// container: one whose header states a length (Matroska), a count (AVI) or
// nothing (MPEG-TS); an MP4 cut with an edit list (ffmpeg -ss -c copy) is
// not taken for a short one, and brings no sound from before the cut.
TEST_F(ClipTimes, CutOffFilesSayTheTruth) {
    const struct {
        std::string ext, codec;
    } cuts[] = {{"mkv", "ffv1"}, {"webm", "libvpx-vp9"}, {"avi", "mpeg4"}, {"ts", "mpeg2video"}};
    for (const auto& c : cuts) {
        const std::string full = P("full." + c.ext), cut = P("cut." + c.ext), out = P("cut-out.mkv");
        Ffmpeg("-f lavfi -i testsrc2=size=64x48:rate=25:duration=2 -f lavfi -i sine=duration=2 -c:v " + c.codec, full);
        const std::string bytes = ReadFile(full);
        WriteFile(cut, bytes.substr(0, bytes.size() * 2 / 5));
        const RunResult r = Vx("render " + cut + " " + out + " -y");
        ASSERT_EQ(r.status, 0) << c.ext << ": " << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_TRUE(Contains(r.err, "cut." + c.ext + ": cut off")) << c.ext;
        const size_t held = Frames(out).size() / (64 * 48 * 3);
        EXPECT_GT(held, 0u) << c.ext;
        EXPECT_LT(held, 50u) << c.ext;
        // The count it gives is the frames written.
        EXPECT_TRUE(Contains(r.err, "holds " + std::to_string(held) + " frames") ||
                    Contains(r.err, "the " + std::to_string(held) + " whole frames"))
            << c.ext;
    }

    Ffmpeg("-f lavfi -i testsrc2=size=64x48:rate=25:duration=4 -f lavfi -i sine=duration=4 "
           "-c:v libx264 -g 50 -pix_fmt yuv420p -c:a aac", P("long.mp4"));
    Ffmpeg("-ss 1.5 -i " + P("long.mp4") + " -c copy", P("trimmed.mp4"));
    for (const std::string ext : {"mkv", "mp4"}) {
        const std::string out = P("trimmed-out." + ext);
        const RunResult r = Vx("render " + P("trimmed.mp4") + " " + out);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "") << ext;
        EXPECT_EQ(Frames(out).size(), Frames(P("trimmed.mp4")).size()) << ext;
        // At most the one packet the sound decoder starts on comes before the pictures.
        EXPECT_LT(Number("-select_streams v -show_entries stream=start_time -of csv=p=0 " + out), 0.05) << ext;
    }
}
