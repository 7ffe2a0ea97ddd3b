// Reading files in-process: random access lands on the frame asked for, and
// pixels arrive as full-range 32-bit ARGB.
#include "app/media/Media.h"

#include "tests/app/AppTestSupport.h"

TEST_F(AppTest, ReaderFindsEveryFrameInAnyOrder) {
    const int w = 16, h = 8, n = 30, frameBytes = w * h * 3, rowBytes = w * 4 + 16;
    // MKV keeps no frame count, so the reader counts packets.
    const std::string pixels = NoiseFile("clip.mkv", w, h, n, "rgb24", 3, "-c:v ffv1 -g 5");
    MediaReader reader(P("clip.mkv"));
    EXPECT_EQ(reader.FrameCount(), n);
    ArgbConverter converter;
    // Forward a little, far, back, the same again, the last, past the end.
    for (const int64_t i : {0, 3, 20, 7, 7, 8, 29, 1}) {
        const AVFrame* f = reader.Frame(i);
        ASSERT_NE(f, nullptr) << i;
        std::vector<uint8_t> argb(size_t(rowBytes) * h, 0xEE);
        converter.Convert(f, argb.data(), rowBytes, w, h);
        std::string rgb;
        for (int y = 0; y < h; ++y) {
            for (const uint8_t* p = &argb[size_t(y) * rowBytes]; p < &argb[size_t(y) * rowBytes + 4 * w]; p += 4) {
                EXPECT_EQ(p[0], 255) << "opaque source, opaque pixels";
                rgb += std::string{char(p[1]), char(p[2]), char(p[3])};
            }
            EXPECT_EQ(argb[size_t(y) * rowBytes + 4 * w], 0xEE) << "row padding untouched";
        }
        EXPECT_EQ(rgb, pixels.substr(size_t(i) * frameBytes, frameBytes)) << "frame " << i;
    }
    for (const int64_t past : {n, -1}) EXPECT_EQ(reader.Frame(past), nullptr) << past;
}
