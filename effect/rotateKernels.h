// Row kernels of the colour rotation, shared between pixelEffect.cpp and the
// SIMD kernel files. Internal to effect/.
#pragma once
#include <cstdint>
#include <cstring>

#include "effect/pixelEffect.h"

enum : int { cModeClamp = 1, cModeWrap = 2, cModeReflect = 3 };

inline int RotationModeOf(int16_t wrapMode) {
    return wrapMode == 1 ? cModeClamp : wrapMode == 2 ? cModeWrap : cModeReflect;
}

// Each returns nullptr when the kernel was not built in.
RotateRowsProc GetRotateRowsTable(int mode);
RotateRowsProc GetRotateRowsAVX2(int mode);
RotateRowsProc GetRotateRowsAVX512(int mode);

// Internal linkage: the SIMD files include this before switching the target,
// and no copy compiled for a wider target may stand in for the plain one.
namespace {

// Brings one raw channel value into a byte, exactly as the reference does.
template <int Mode>
inline uint8_t MapRotatedChannel(double rawVal) {
    if (Mode == cModeClamp) {
        if (rawVal < 0) rawVal = 0.0;
        if (rawVal > 255) rawVal = 255.0;
    } else if (Mode == cModeWrap) {
        if (rawVal < 0)
            rawVal += 255.0;
        else if (rawVal > 255)
            rawVal -= 255.0;
    } else {
        if (rawVal < 0)
            rawVal = -rawVal;
        else if (rawVal > 255)
            rawVal = 255.0 - (rawVal - 255.0);
        if (rawVal < 0) rawVal = 0.0;
        if (rawVal > 255) rawVal = 255.0;
    }
    return uint8_t(int16_t(rawVal));
}

// One pixel through the product tables. The reference also adds
// 0.0 * rotMatrix[3][k], a signed zero; it can change only a zero sum's sign,
// and O - (+0) and O - (-0) are the same value, so it is left out.
template <int Mode>
inline void RotateOnePixel(const RotationSetup& s, const uint8_t* in, uint8_t* out) {
    uint8_t p[4];
    std::memcpy(p, in, 4);
    uint8_t q[4];
    q[0] = p[0];
    for (int k = 0; k < 3; ++k) {
        const double sum = (s.prod[k][0][p[1]] + s.prod[k][1][p[2]]) + s.prod[k][2][p[3]];
        q[k + 1] = MapRotatedChannel<Mode>(double(s.offset[k]) - sum);
    }
    std::memcpy(out, q, 4);
}

// Copies the columns outside [left, right) of one row.
inline void CopyRowOutside(const uint8_t* s, uint8_t* d, int32_t width, int32_t left, int32_t right) {
    if (s == d) return;
    if (left > 0) std::memcpy(d, s, size_t(left) * 4);
    if (right < width) std::memcpy(d + size_t(right) * 4, s + size_t(right) * 4, size_t(width - right) * 4);
}

}  // namespace
