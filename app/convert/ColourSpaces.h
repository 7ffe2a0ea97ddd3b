// What each YUV matrix is called by the three libraries that meet it, in one
// table: FFmpeg's tag, swscale's coefficients, zimg's matrix, and the tag a
// file written with it carries.
#pragma once
extern "C" {
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

bool IsYuv(AVPixelFormat fmt);
// Full range when the frame says so or the format is one of the old J formats.
bool IsFullRangeYuv(AVPixelFormat fmt, AVColorRange range);
