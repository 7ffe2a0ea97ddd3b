// Pictures stored turned or mirrored are shown upright: the eight EXIF
// orientations, as display matrices and on real JPEG stills.
#include <cstring>

extern "C" {
#include <libavutil/display.h>
}

#include "app/convert/Orientation.h"
#include "tests/app/AppTestSupport.h"

namespace {

// The matrix FFmpeg's JPEG decoder attaches for an EXIF orientation.
std::vector<int32_t> ExifMatrix(int orientation) {
    std::vector<int32_t> m(9);
    switch (orientation) {
        case 2: av_display_rotation_set(m.data(), 0); av_display_matrix_flip(m.data(), 1, 0); break;
        case 3: av_display_rotation_set(m.data(), 180); break;
        case 4: av_display_rotation_set(m.data(), 0); av_display_matrix_flip(m.data(), 0, 1); break;
        case 5: av_display_rotation_set(m.data(), 90); av_display_matrix_flip(m.data(), 1, 0); break;
        case 6: av_display_rotation_set(m.data(), 90); break;
        case 7: av_display_rotation_set(m.data(), -90); av_display_matrix_flip(m.data(), 1, 0); break;
        case 8: av_display_rotation_set(m.data(), -90); break;
        default: av_display_rotation_set(m.data(), 0);
    }
    return m;
}

// A JPEG file with an EXIF orientation tag in front of its first segment.
std::string WithExifOrientation(const std::string& jpeg, int orientation) {
    const std::string tiff = std::string("MM\0\x2a\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0", 19) +
                             char(orientation) + std::string("\0\0\0\0\0\0", 6);
    const std::string app1 = std::string("Exif\0\0", 6) + tiff;
    const size_t length = app1.size() + 2;
    return jpeg.substr(0, 2) + "\xff\xe1" + char(length >> 8) + char(length & 255) + app1 + jpeg.substr(2);
}

}  // namespace

// A 3x2 picture of pixels 0..5, row by row, in each orientation as EXIF
// defines it (2 mirrors left-right, 6 turns clockwise, 5 and 7 mirror across
// the diagonals).
TEST(Orientation, EachExifOrientationLandsEveryPixelWhereItBelongs) {
    const uint32_t stored[6] = {0, 1, 2, 3, 4, 5};
    const std::vector<uint32_t> shown[9] = {
        {},
        {0, 1, 2, 3, 4, 5},  // 1: as stored
        {2, 1, 0, 5, 4, 3},  // 2
        {5, 4, 3, 2, 1, 0},  // 3
        {3, 4, 5, 0, 1, 2},  // 4
        {0, 3, 1, 4, 2, 5},  // 5: transposed, 2 wide
        {3, 0, 4, 1, 5, 2},  // 6: turned clockwise
        {5, 2, 4, 1, 3, 0},  // 7
        {2, 5, 1, 4, 0, 3},  // 8: turned counter-clockwise
    };
    for (int exif = 1; exif <= 8; ++exif) {
        const Orientation o = OrientationOf(ExifMatrix(exif).data());
        EXPECT_EQ(o.Swaps(), exif >= 5) << exif;
        EXPECT_EQ(o.Mirrors(), exif == 2 || exif == 4 || exif == 5 || exif == 7) << exif;
        const int outWidth = o.Swaps() ? 2 : 3;
        std::vector<uint32_t> out(6, 99);
        Orient(reinterpret_cast<const uint8_t*>(stored), 3 * 4, 3, 2, reinterpret_cast<uint8_t*>(out.data()),
               outWidth * 4, o);
        EXPECT_EQ(out, shown[exif]) << "orientation " << exif;
        // 64-bit pixels move whole, every byte with its pixel.
        uint64_t deep[6];
        for (int i = 0; i < 6; ++i) deep[i] = 0x0101010101010101u * uint64_t(i) + 0xFF00;
        std::vector<uint64_t> deepOut(6, 99);
        Orient(reinterpret_cast<const uint8_t*>(deep), 3 * 8, 3, 2, reinterpret_cast<uint8_t*>(deepOut.data()),
               outWidth * 8, o, 8);
        for (int i = 0; i < 6; ++i) EXPECT_EQ(deepOut[size_t(i)], deep[shown[exif][size_t(i)]]) << exif;
    }
    // Neither a quarter turn nor a mirror: shown as stored.
    std::vector<int32_t> tilted(9);
    av_display_rotation_set(tilted.data(), 30);
    EXPECT_TRUE(OrientationOf(tilted.data()).Identity());
    EXPECT_TRUE(OrientationOf(nullptr).Identity());
}

class Stills : public AppTest {};

TEST_F(Stills, ExifTurnedPhotosComeOutUpright) {
    Ffmpeg("-f lavfi -i testsrc2=s=64x32 -frames:v 1", P("plain.jpg"));
    WriteFile(P("portrait.jpg"), WithExifOrientation(ReadFile(P("plain.jpg")), 6));
    const std::string size = "-show_entries stream=width,height -of csv=p=0 ";

    RunResult r = Vx("render " + P("portrait.jpg") + " " + P("upright.png"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Probe(size + P("upright.png")), "32,64\n");
    // The pixels are the stored picture's, turned clockwise (the pass-through
    // filter leaves them as they are).
    r = Vx("render --bundle " VX_TESTFILTER_DIR " " + P("portrait.jpg") + " " + P("pass.png"));
    ASSERT_EQ(r.status, 0) << r.err;
    r = Vx("render --bundle " VX_TESTFILTER_DIR " --no-autorotate " + P("portrait.jpg") + " " + P("stored.png"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err,
              "vexolumen: rotation tag left out: .png files cannot hold it here (leave out --no-autorotate to turn "
              "the pictures upright)\n");
    Ffmpeg("-i " + P("stored.png") + " -vf transpose=clock", P("turned.png"));
    EXPECT_EQ(RawFrames(P("pass.png")), RawFrames(P("turned.png")));

    // Kept as stored in a container that holds the tag: the tag goes along.
    r = Vx("render --no-autorotate " + P("portrait.jpg") + " " + P("stored.mp4"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Probe(size + P("stored.mp4")).substr(0, 6), "64,32,");
    EXPECT_TRUE(Contains(Probe("-show_entries stream_side_data=rotation -of csv=p=0 " + P("stored.mp4")), "-90"));
}
