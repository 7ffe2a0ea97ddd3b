#include "app/convert/Orientation.h"

#include <cstdlib>
#include <initializer_list>

extern "C" {
#include <libavutil/display.h>
}

namespace {

// -1, 0 or 1 for a 16.16 coefficient that is, to a rounding, one of those.
bool Unit(int32_t v, int* out) {
    const int64_t one = 1 << 16;
    for (int u : {-1, 0, 1})
        if (std::llabs(int64_t(v) - u * one) < one / 64) {
            *out = u;
            return true;
        }
    return false;
}

}  // namespace

Orientation OrientationOf(const int32_t* m) {
    Orientation o;
    if (!m) return o;
    Orientation found;
    if (!Unit(m[0], &found.a) || !Unit(m[1], &found.b) || !Unit(m[3], &found.c) || !Unit(m[4], &found.d))
        return o;
    // A turn or a mirror has exactly one non-zero entry in each row and column.
    if (std::abs(found.a) + std::abs(found.b) != 1 || std::abs(found.c) + std::abs(found.d) != 1 ||
        std::abs(found.a) + std::abs(found.c) != 1)
        return o;
    return found;
}

const int32_t* FrameDisplayMatrix(const AVFrame* frame) {
    const AVFrameSideData* sd = frame ? av_frame_get_side_data(frame, AV_FRAME_DATA_DISPLAYMATRIX) : nullptr;
    return sd && sd->size >= 9 * sizeof(int32_t) ? reinterpret_cast<const int32_t*>(sd->data) : nullptr;
}

Orientation UprightOrientation(const AVStream* st, const AVFrame* frame) {
    const uint8_t* m = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
    if (m) return OrientationOf(reinterpret_cast<const int32_t*>(m));
    return OrientationOf(FrameDisplayMatrix(frame));
}

namespace {

template <typename Pixel>
void OrientPixels(const uint8_t* src, int srcRowBytes, int width, int height, uint8_t* dst, int dstRowBytes,
                  Orientation o) {
    // Where stored (0, 0) lands.
    const int x0 = (o.a < 0 ? width - 1 : 0) + (o.c < 0 ? height - 1 : 0);
    const int y0 = (o.b < 0 ? width - 1 : 0) + (o.d < 0 ? height - 1 : 0);
    for (int y = 0; y < height; ++y) {
        const Pixel* in = reinterpret_cast<const Pixel*>(src + size_t(y) * srcRowBytes);
        for (int x = 0; x < width; ++x) {
            const int ox = x0 + o.a * x + o.c * y, oy = y0 + o.b * x + o.d * y;
            reinterpret_cast<Pixel*>(dst + size_t(oy) * dstRowBytes)[ox] = in[x];
        }
    }
}

}  // namespace

void Orient(const uint8_t* src, int srcRowBytes, int width, int height, uint8_t* dst, int dstRowBytes,
            Orientation o, int bytesPerPixel) {
    if (bytesPerPixel == 8)
        OrientPixels<uint64_t>(src, srcRowBytes, width, height, dst, dstRowBytes, o);
    else
        OrientPixels<uint32_t>(src, srcRowBytes, width, height, dst, dstRowBytes, o);
}
