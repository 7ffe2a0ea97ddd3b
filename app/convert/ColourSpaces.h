// What each YUV matrix is called by the three libraries that meet it, in one
// table: FFmpeg's tag, swscale's coefficients, zimg's matrix, and the tag a
// file written with it carries.
#pragma once
extern "C" {
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
}

struct MatrixFacts {
    AVColorSpace space;
    int sws;              // SWS_CS_*
    int zimg;             // ZIMG_MATRIX_*; -1 where zimg needs more than a matrix
    AVColorSpace written; // the tag of what the conversion for the encoder does
};

// The facts of a matrix; an unknown or unspecified one is taken as BT.601,
// as swscale takes it, and written so.
const MatrixFacts& MatrixOf(AVColorSpace space);

// A picture's colour description; any part may be unspecified.
struct ColourTags {
    AVColorSpace space = AVCOL_SPC_UNSPECIFIED;
    AVColorPrimaries primaries = AVCOL_PRI_UNSPECIFIED;
    AVColorTransferCharacteristic trc = AVCOL_TRC_UNSPECIFIED;
    AVColorRange range = AVCOL_RANGE_UNSPECIFIED;
};

// The description a YUV picture of width x height is shown with: what it
// says, and for what it leaves out what players guess: BT.709 for frames
// wider than 1024 or taller than 576, else BT.601 of its line count (625
// lines above 480), limited range unless the format is a full-range one.
ColourTags AsPlayersShow(ColourTags given, AVPixelFormat format, int width, int height);
// The same for a decoded frame, in place; frames of other formats are left alone.
void FillColourTags(AVFrame* frame);

bool IsYuv(AVPixelFormat fmt);
// Full range when the frame says so or the format is one of the old J formats.
bool IsFullRangeYuv(AVPixelFormat fmt, AVColorRange range);
