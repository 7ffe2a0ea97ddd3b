// Which frames an output holds, wherever it is cut.
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
    }
}
