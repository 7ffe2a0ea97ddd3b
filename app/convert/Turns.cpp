#include "app/convert/Turns.h"

#include <cmath>

extern "C" {
#include <libavutil/display.h>
}

int QuarterTurns(const AVStream* st) {
    const uint8_t* m = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
    if (!m) return 0;
    const double rotation = av_display_rotation_get(reinterpret_cast<const int32_t*>(m));
    if (std::isnan(rotation)) return 0;
    // The matrix turns counter-clockwise; showing it upright turns back.
    double theta = -std::round(rotation);
    theta -= 360 * std::floor(theta / 360 + 0.9 / 360);
    for (int turns = 1; turns < 4; ++turns)
        if (std::fabs(theta - 90.0 * turns) < 1.0) return turns;
    return 0;
}

void TurnPixels(const uint8_t* src, int srcRowBytes, int width, int height, uint8_t* dst, int dstRowBytes,
                int turns) {
    auto in = [&](int x, int y) { return reinterpret_cast<const uint32_t*>(src + size_t(y) * srcRowBytes) + x; };
    auto out = [&](int x, int y) { return reinterpret_cast<uint32_t*>(dst + size_t(y) * dstRowBytes) + x; };
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            switch (turns & 3) {
                case 0: *out(x, y) = *in(x, y); break;
                case 1: *out(height - 1 - y, x) = *in(x, y); break;
                case 2: *out(width - 1 - x, height - 1 - y) = *in(x, y); break;
                default: *out(y, width - 1 - x) = *in(x, y); break;
            }
        }
}
