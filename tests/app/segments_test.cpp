// A render split into parts that run apart (here through GNU parallel) and
// are joined again gives exactly the frames, times and sound of one render.
#include "tests/app/AppTestSupport.h"

namespace {

const std::string kPackets = "-show_entries packet=stream_index,pts -of csv=p=0 ";

}  // namespace

// Every decoded frame as it is, none added or dropped for the frame rate.
class Segments : public AppTest {
protected:
    std::string Frames(const std::string& file) {
        return Shell("ffmpeg -nostdin -v error -i " + file + " -fps_mode passthrough -f rawvideo -pix_fmt rgb24 -").out;
    }
};

namespace {

}  // namespace

TEST_F(Segments, RenderedApartJoinIntoOneRender) {
    if (Shell("command -v parallel").status != 0) GTEST_SKIP() << "GNU parallel is not installed";
    Ffmpeg("-f lavfi -i testsrc2=size=96x64:rate=25:duration=2 -f lavfi -i sine=duration=2 "
           "-c:v libx264 -pix_fmt yuv420p -c:a aac -shortest", P("in.mp4"));
    ASSERT_EQ(Vx("config set --angles 25,-30,40 --offset '#404040' --method wrap").status, 0);
    // Fades longer than a part, so that they cross the cuts.
    const std::string args = " --codec ffv1 --fade-in 17 --fade-out 15";
    RunResult r = Vx("render " + P("in.mp4") + " " + P("whole.mkv") + args);
    ASSERT_EQ(r.status, 0) << r.err;

    const std::string job = VX_APP_BIN " --config-dir " + config + " render " + P("in.mp4") + " " +
                            P("part{}.mkv") + args + " --segment {}/4";
    r = Shell("parallel --halt now,fail=1 '" + job + "' ::: 1 2 3 4");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Probe("-count_frames -select_streams v -show_entries stream=nb_read_frames -of csv=p=0 " +
                    P("part1.mkv")), "12\n");
    const std::string parts = " " + P("part1.mkv") + " " + P("part2.mkv") + " " + P("part3.mkv") + " " + P("part4.mkv");
    r = Vx("join " + P("joined.mkv") + parts);
    ASSERT_EQ(r.status, 0) << r.err;

    const std::string whole = Frames(P("whole.mkv"));
    ASSERT_EQ(whole.size(), size_t(96 * 64 * 3 * 50));
    EXPECT_TRUE(Frames(P("joined.mkv")) == whole) << "the frames differ";
    // Times of every frame and every sound packet, and the sound itself.
    EXPECT_EQ(Probe(kPackets + P("joined.mkv")), Probe(kPackets + P("whole.mkv")));
    const std::string sound = " -map 0:a -c copy -f framemd5 -";
    EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i " + P("joined.mkv") + sound).out,
              Shell("ffmpeg -nostdin -v error -i " + P("whole.mkv") + sound).out);

    // The same in MP4 with H.264, whose parts carry their start in edit lists.
    r = Vx("render " + P("in.mp4") + " " + P("whole.mp4") + " --fade-in 17 --fade-out 15");
    ASSERT_EQ(r.status, 0) << r.err;
    std::string mp4Parts;
    for (int k = 1; k <= 3; ++k) {
        const std::string part = P("p" + std::to_string(k) + ".mp4");
        r = Vx("render " + P("in.mp4") + " " + part + " --fade-in 17 --fade-out 15 --segment " + std::to_string(k) + "/3");
        ASSERT_EQ(r.status, 0) << r.err;
        mp4Parts += " " + part;
    }
    ASSERT_EQ(Vx("join " + P("joined.mp4") + mp4Parts).status, 0);
    // The encoder groups frames its own way in each part, so the frames come
    // in another order of decoding; the last sound packet's length is the
    // container's business.
    const std::string times = "-select_streams v -show_entries packet=pts -of csv=p=0 " ;
    EXPECT_EQ(Shell("ffprobe -v error " + times + P("joined.mp4") + " | sort -n").out,
              Shell("ffprobe -v error " + times + P("whole.mp4") + " | sort -n").out);
    const std::string soundNoLength = sound + " | grep -v '^#' | cut -d, -f1-3,5-";
    EXPECT_EQ(Shell("ffmpeg -nostdin -v error -i " + P("joined.mp4") + soundNoLength).out,
              Shell("ffmpeg -nostdin -v error -i " + P("whole.mp4") + soundNoLength).out);
    EXPECT_EQ(Frames(P("joined.mp4")).size(), whole.size());
}

TEST_F(Segments, BadPartsAndJoinsGiveOneLineAndLeaveNoFile) {
    Ffmpeg("-f lavfi -i testsrc2=size=32x24:rate=25:duration=1 -c:v libx264 -pix_fmt yuv420p", P("a.mp4"));
    Ffmpeg("-f lavfi -i testsrc2=size=48x32:rate=25:duration=1 -c:v libx264 -pix_fmt yuv420p", P("b.mp4"));
    const struct {
        std::string args, needle;
    } cases[] = {
        {"render " + P("a.mp4") + " " + P("out.mp4") + " --segment 5/4", "--segment: 5 is out of range 1..4"},
        {"render " + P("a.mp4") + " " + P("out.mp4") + " --segment 2", "--segment: '2' is not K/N"},
        {"render " + P("a.mp4") + " " + P("out.mp4") + " --segment 1/26", "does not name a part of a clip of 25"},
        {"render " + P("a.mp4") + " " + P("out.ts") + " --segment 1/2",
         "out.ts: .ts files keep no tags to know a part"},
        {"join " + P("out.mp4") + " " + P("a.mp4") + " " + P("b.mp4"), "a.mp4: not a part of a render with --segment"},
        {"join " + P("out.mp4") + " " + P("a.mp4") + " " + P("nosuch.mp4"), "nosuch.mp4: No such file"},
        {"join " + P("a.mp4") + " " + P("b.mp4"), "a.mp4: already exists"},
        {"join " + P("out.mp4"), "usage: vexolumen join"},
    };
    for (const auto& c : cases) {
        const RunResult r = Vx(c.args);
        EXPECT_NE(r.status, 0) << c.args;
        EXPECT_TRUE(Contains(r.err, c.needle)) << c.args;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(Listing(), (std::vector<std::string>{"a.mp4", "b.mp4"})) << c.args;
    }
}

namespace {

// Sorted video time stamps, and the sound as decoded.
struct Outcome {
    std::string times, sound;
};

}  // namespace

class SegmentTable : public Segments {
protected:
    Outcome Of(const std::string& file) {
        return {Shell("ffprobe -v error -select_streams v -show_entries packet=pts_time -of csv=p=0 " + file +
                      " | sort -n").out,
                Shell("ffmpeg -nostdin -v error -i " + file + " -map 0:a -f s16le -").out};
    }
    // Renders the parts through GNU parallel and joins them, given in reverse.
    void SplitAndJoin(const std::string& in, const std::string& ext, int n, const std::string& args,
                      const std::string& joined) {
        const std::string job = VX_APP_BIN " --config-dir " + config + " render " + in + " " + P("part{}." + ext) +
                                args + " -y --segment {}/" + std::to_string(n);
        RunResult r = Shell("parallel --halt now,fail=1 '" + job + "' ::: $(seq " + std::to_string(n) + ")");
        ASSERT_EQ(r.status, 0) << r.err;
        std::string parts;
        for (int k = n; k >= 1; --k) parts += " " + P("part" + std::to_string(k) + "." + ext);
        r = Vx("join " + joined + parts + " -y");
        ASSERT_EQ(r.status, 0) << r.err;
        for (int k = 1; k <= n; ++k) std::filesystem::remove(P("part" + std::to_string(k) + "." + ext));
    }
};

// Clips whose cuts used to slip: variable frame rate, PCM converted per
// part, 44.1 kHz sound into WebM's Opus, open and closed GOPs with B-frames,
// a broadcast clock at 10 hours. Split 2, 3 and 5 ways, they join into one
// render's frame times and sound, sample for sample; with FFV1, its frames.
TEST_F(SegmentTable, EveryClipJoinsIntoOneRender) {
    if (Shell("command -v parallel").status != 0) GTEST_SKIP() << "GNU parallel is not installed";
    const std::string video = "-f lavfi -i testsrc2=size=48x32:rate=25:duration=1.2 ";
    const std::string sound = "-f lavfi -i sine=duration=1.2:sample_rate=";
    const std::string h264 = "-c:v libx264 -pix_fmt yuv420p ";
    const struct {
        std::string name, make, ext;
    } clips[] = {
        {"vfr.mp4", "-f lavfi -i testsrc2=size=48x32:rate=30:duration=1.2 " + sound + "48000 " + h264 +
                        "-vf select='not(eq(mod(n\\,5)\\,2))' -fps_mode vfr -video_track_timescale 90000 -c:a aac",
         "mp4"},
        {"pcm.mov", video + sound + "48000 -c:v mpeg4 -c:a pcm_s16le", "mp4"},
        {"a44.mp4", video + sound + "44100 " + h264 + "-c:a aac", "webm"},
        {"open.mp4", video + sound + "48000 " + h264 + "-bf 3 -x264-params open-gop=1:keyint=8:min-keyint=8:scenecut=0 -c:a aac",
         "mkv"},
        {"closed.mp4", video + sound + "48000 " + h264 + "-bf 3 -g 8 -c:a aac", "mov"},
        {"late.ts", video + sound + "48000 -c:v mpeg2video -c:a ac3 -output_ts_offset 36000", "mkv"},
    };
    for (const auto& c : clips) {
        SCOPED_TRACE(c.name);
        const std::string in = P(c.name);
        Ffmpeg(c.make, in);
        RunResult r = Vx("render " + in + " " + P("whole." + c.ext) + " -y");
        ASSERT_EQ(r.status, 0) << r.err;
        const Outcome whole = Of(P("whole." + c.ext));
        ASSERT_FALSE(whole.sound.empty());
        for (const int n : {2, 3, 5}) {
            SplitAndJoin(in, c.ext, n, "", P("joined." + c.ext));
            const Outcome joined = Of(P("joined." + c.ext));
            EXPECT_EQ(joined.times, whole.times) << n << " parts";
            EXPECT_TRUE(joined.sound == whole.sound) << n << " parts: the sound differs";
        }
        r = Vx("render " + in + " " + P("whole.mkv") + " --codec ffv1 -y");
        ASSERT_EQ(r.status, 0) << r.err;
        SplitAndJoin(in, "mkv", 3, " --codec ffv1", P("joined.mkv"));
        EXPECT_TRUE(Frames(P("joined.mkv")) == Frames(P("whole.mkv"))) << "the frames differ";
    }
}

// A set that is not one whole render is refused naming the part; the right
// parts join in any order, and --source finds a clip that has moved.
TEST_F(Segments, JoinChecksTheSet) {
    const std::string make = "-f lavfi -i testsrc2=size=32x24:rate=25:duration=1 -f lavfi -i sine=duration=1 "
                             "-c:v libx264 -pix_fmt yuv420p -c:a aac";
    Ffmpeg(make, P("a.mp4"));
    Ffmpeg(make + " -vf hflip", P("b.mp4"));
    auto part = [&](const std::string& in, const std::string& out, const std::string& args) {
        const RunResult r = Vx("render " + P(in) + " " + P(out) + " --codec ffv1 " + args);
        ASSERT_EQ(r.status, 0) << r.err;
    };
    for (const std::string k : {"1", "2", "3"}) part("a.mp4", "a" + k + ".mkv", "--segment " + k + "/3");
    part("b.mp4", "b2.mkv", "--segment 2/3");
    part("a.mp4", "faded2.mkv", "--segment 2/3 --fade-in 5");
    part("a.mp4", "half2.mkv", "--segment 2/2");
    const struct {
        std::string parts, needle;
    } cases[] = {
        {"a1.mkv a3.mkv", "part 2 of 3 is missing"},
        {"a1.mkv a2.mkv a3.mkv a2.mkv", "a2.mkv: part 2 given twice"},
        {"a1.mkv b2.mkv a3.mkv", "b2.mkv: a part of another clip"},
        {"a1.mkv faded2.mkv a3.mkv", "faded2.mkv: rendered with other settings"},
        {"a1.mkv half2.mkv a3.mkv", "half2.mkv: rendered with other settings"},
        {"a1.mkv a.mp4 a3.mkv", "a.mp4: not a part of a render with --segment"},
    };
    for (const auto& c : cases) {
        std::string parts;
        for (size_t at = 0, end; at < c.parts.size(); at = end + 1) {
            end = std::min(c.parts.find(' ', at), c.parts.size());
            parts += " " + P(c.parts.substr(at, end - at));
        }
        const RunResult r = Vx("join " + P("out.mkv") + parts);
        EXPECT_NE(r.status, 0) << c.parts;
        EXPECT_TRUE(Contains(r.err, c.needle)) << c.parts;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_FALSE(std::filesystem::exists(P("out.mkv"))) << c.parts;
    }

    RunResult r = Vx("render " + P("a.mp4") + " " + P("whole.mkv") + " --codec ffv1");
    ASSERT_EQ(r.status, 0) << r.err;
    r = Vx("join " + P("out.mkv") + " " + P("a3.mkv") + " " + P("a1.mkv") + " " + P("a2.mkv"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Frames(P("out.mkv")) == Frames(P("whole.mkv")));
    const std::string sound = " -map 0:a -f s16le -";
    EXPECT_TRUE(Shell("ffmpeg -nostdin -v error -i " + P("out.mkv") + sound).out ==
                Shell("ffmpeg -nostdin -v error -i " + P("whole.mkv") + sound).out);

    std::filesystem::rename(P("a.mp4"), P("moved.mp4"));
    const std::string parts = " " + P("a1.mkv") + " " + P("a2.mkv") + " " + P("a3.mkv");
    r = Vx("join " + P("out2.mkv") + parts);
    EXPECT_TRUE(Contains(r.err, "a.mp4: the parts' source is not there (name it with --source)")) << r.err;
    r = Vx("join " + P("out2.mkv") + parts + " --source " + P("b.mp4"));
    EXPECT_TRUE(Contains(r.err, "b.mp4: not the clip the parts were rendered from")) << r.err;
    r = Vx("join " + P("out2.mkv") + parts + " --source " + P("moved.mp4"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Frames(P("out2.mkv")) == Frames(P("whole.mkv")));
}

// A clip cut out of the input with --from and --frames: no sound after its
// last frame, in one render and in a join alike, though the decoder reads
// ahead of the frames.
TEST_F(SegmentTable, AClipCutOutOfTheInputJoinsIntoOneRender) {
    if (Shell("command -v parallel").status != 0) GTEST_SKIP() << "GNU parallel is not installed";
    Ffmpeg("-f lavfi -i testsrc2=size=48x32:rate=25:duration=2 -f lavfi -i sine=duration=2:sample_rate=44100 "
           "-c:v libx264 -pix_fmt yuv420p -bf 3 -g 12 -c:a aac", P("in.mp4"));
    const std::string cut = " --from 7 --frames 30";
    const RunResult r = Vx("render " + P("in.mp4") + " " + P("whole.mp4") + cut);
    ASSERT_EQ(r.status, 0) << r.err;
    SplitAndJoin(P("in.mp4"), "mp4", 3, cut, P("joined.mp4"));
    const Outcome whole = Of(P("whole.mp4")), joined = Of(P("joined.mp4"));
    EXPECT_EQ(joined.times, whole.times);
    EXPECT_TRUE(joined.sound == whole.sound) << "the sound differs";
    EXPECT_NEAR(double(whole.sound.size()) / 2 / 44100, 1.2, 0.03) << "sound after the last frame";
}
