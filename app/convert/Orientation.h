// Pictures stored turned or mirrored: how to show them upright, from a
// display matrix (a phone clip's stream, or a still's EXIF orientation on
// its decoded frame), and the move itself on the plug-in's pixels.
#pragma once
#include <cstdint>

extern "C" {
#include <libavformat/avformat.h>
}

// Where a stored pixel (x, y) goes: x' = a x + c y, y' = b x + d y, each
// coefficient -1, 0 or 1 (one of the eight turns and mirrors), shifted
// back into the picture. The identity by default.
struct Orientation {
    int a = 1, b = 0, c = 0, d = 1;
    bool Identity() const { return a == 1 && d == 1; }
    bool Swaps() const { return a == 0; }  // width and height trade places
    bool Mirrors() const { return a * d - b * c < 0; }
};

// The orientation that shows a display matrix's picture upright, as ffmpeg
// shows it; the identity for nil or a matrix that is no quarter turn or mirror.
Orientation OrientationOf(const int32_t* matrix);
// The stream's display matrix, else the frame's (JPEG and TIFF stills carry
// theirs on the decoded picture); frame may be nil.
Orientation UprightOrientation(const AVStream* st, const AVFrame* frame);
// The display matrix of a frame, nil when it has none.
const int32_t* FrameDisplayMatrix(const AVFrame* frame);

// Moves a picture of width x height, 4 or 8 bytes a pixel, into dst, which
// is height x width when o swaps them.
void Orient(const uint8_t* src, int srcRowBytes, int width, int height, uint8_t* dst, int dstRowBytes,
            Orientation o, int bytesPerPixel = 4);
