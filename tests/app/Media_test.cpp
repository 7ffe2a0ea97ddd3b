// Reading and writing files in-process: random access lands on the frame
// asked for, pixels arrive as full-range 32-bit ARGB, and a writer leaves
// nothing behind unless it finishes.
#include "app/AppError.h"
#include "app/Media.h"
#include "tests/app/AppTestSupport.h"

namespace {

// Packed RGB of a decoded frame, through the converter the host uses.
std::string AsRgb(const AVFrame* f, int w, int h) {
    ArgbConverter converter;
    const int rowBytes = w * 4 + 16;
    std::vector<uint8_t> argb(size_t(rowBytes) * h, 0xEE);
    converter.Convert(f, argb.data(), rowBytes, w, h);
    std::string rgb;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const uint8_t* p = &argb[size_t(y) * rowBytes + 4 * x];
            EXPECT_EQ(p[0], 255) << "opaque source, opaque pixels";
            rgb += std::string{char(p[1]), char(p[2]), char(p[3])};
        }
        EXPECT_EQ(argb[size_t(y) * rowBytes + 4 * w], 0xEE) << "row padding untouched";
    }
    return rgb;
}

}  // namespace

TEST_F(AppTest, ReaderFindsEveryFrameInAnyOrder) {
    const int w = 16, h = 8, n = 30, frameBytes = w * h * 3;
    const std::string pixels = NoiseBytes(size_t(frameBytes) * n, 3);
    WriteFile(P("clip.raw"), pixels);
    // MKV keeps no frame count, so the reader counts packets.
    MustRun("ffmpeg -nostdin -v error -f rawvideo -pix_fmt rgb24 -s 16x8 -r 25 -i " + P("clip.raw") +
            " -c:v ffv1 -g 5 " + P("clip.mkv"));
    MediaReader reader(P("clip.mkv"));
    EXPECT_EQ(reader.FrameCount(), n);
    EXPECT_EQ(reader.Width(), w);
    EXPECT_EQ(reader.Height(), h);
    EXPECT_FALSE(reader.HasAlpha());
    EXPECT_EQ(av_cmp_q(reader.FrameRate(), AVRational{25, 1}), 0);
    // Forward a little, far, back, the same again, the last, past the end.
    for (const int64_t i : {0, 3, 20, 7, 7, 8, 29, 1}) {
        const AVFrame* f = reader.Frame(i);
        ASSERT_NE(f, nullptr) << i;
        EXPECT_EQ(AsRgb(f, w, h), pixels.substr(size_t(i) * frameBytes, frameBytes)) << "frame " << i;
    }
    EXPECT_EQ(reader.Frame(30), nullptr);
    EXPECT_EQ(reader.Frame(-1), nullptr);

    // In order, with the sound read on the way handed back.
    MustRun("ffmpeg -nostdin -v error -f rawvideo -pix_fmt rgb24 -s 16x8 -r 25 -i " + P("clip.raw") +
            " -f lavfi -i sine=duration=1.2 -c:v ffv1 -c:a flac -shortest " + P("sound.mkv"));
    MediaReader sound(P("sound.mkv"));
    ASSERT_NE(sound.AudioStream(), nullptr);
    std::vector<PacketPtr> audio;
    int frames = 0;
    while (sound.Next(&audio)) {
        EXPECT_EQ(sound.LastIndex(), frames);
        ++frames;
    }
    sound.DrainAudio(audio, AV_NOPTS_VALUE);
    EXPECT_EQ(frames, n);
    ASSERT_FALSE(audio.empty());
    for (const PacketPtr& p : audio) EXPECT_EQ(p->stream_index, sound.AudioStream()->index);
}

TEST_F(AppTest, WriterPublishesOnlyAFinishedFile) {
    av_log_set_level(AV_LOG_QUIET);
    const int w = 6, h = 4;
    std::vector<uint8_t> argb(size_t(w) * h * 4);
    for (size_t i = 0; i < argb.size(); ++i) argb[i] = uint8_t(i * 37);
    WriterSettings s;
    s.width = w;
    s.height = h;

    s.path = P("abandoned.mkv");
    {
        MediaWriter writer(s);
        writer.WriteVideo(argb.data(), w * 4, 0, 1);
        EXPECT_EQ(Listing().size(), 1u) << "work goes to a temporary file";
        EXPECT_EQ(std::filesystem::exists(s.path), false);
    }
    EXPECT_TRUE(Listing().empty()) << "an unfinished writer removes its temporary file";

    // An RGBA PNG keeps every byte, alpha included.
    s.path = P("exact.png");
    s.sourceHasAlpha = true;
    {
        MediaWriter writer(s);
        EXPECT_EQ(writer.EncoderName(), "png");
        writer.WriteVideo(argb.data(), w * 4, 0, 1);
        writer.Finish();
    }
    EXPECT_EQ(Listing(), std::vector<std::string>{"exact.png"});
    std::string expected;
    for (size_t i = 0; i < argb.size(); i += 4)
        expected += std::string{char(argb[i + 1]), char(argb[i + 2]), char(argb[i + 3]), char(argb[i])};
    EXPECT_EQ(RawFrames(P("exact.png"), "rgba"), expected);

    EXPECT_EQ(DefaultEncoderFor("a.MOV"), "libx264");
    EXPECT_EQ(DefaultEncoderFor("b.png"), "png");
    EXPECT_THROW(DefaultEncoderFor("c.nosuchformat"), AppError);
    s.path = P("x.mp4");
    s.codec = "png";
    s.crf = 20;
    try {
        MediaWriter writer(s);
        ADD_FAILURE() << "png has no CRF";
    } catch (const AppError& e) {
        EXPECT_STREQ(e.what(), "--crf: encoder png has no CRF setting");
    }
    EXPECT_TRUE(Listing().size() == 1) << "only exact.png";
}
