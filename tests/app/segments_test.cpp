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
        {"join " + P("out.mp4") + " " + P("a.mp4") + " " + P("b.mp4"), "b.mp4: stream 0 differs"},
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
