// Row kernels of the colour rotation, shared between pixelEffect.cpp and the
// SIMD kernel files. Internal to effect/.
#pragma once
#include <cstdint>
#include <cmath>
#include <cstring>

#include "effect/pixelEffect.h"

enum : int { cModeClamp = 1, cModeWrap = 2, cModeReflect = 3 };

inline int RotationModeOf(int16_t wrapMode) {
    return wrapMode == 1 ? cModeClamp : wrapMode == 2 ? cModeWrap : cModeReflect;
}

// Each returns nullptr when the kernel was not built in.
RotateRowsProc GetRotateRowsTable(int mode);
RotateRowsProc GetRotateRowsAVX2(int mode);
RotateRowsProc GetRotateRowsAVX2Lanes(int mode);
RotateRowsProc GetRotateRowsAVX512(int mode);
RotateRowsProc64 GetRotateRowsDeepAVX2(int mode);
RotateRowsProc64 GetRotateRowsDeepAVX512(int mode);

// Internal linkage, so that no copy inlined into a wider-target kernel can
// stand in for the plain one at link time.
namespace {

// Brings one raw channel value into a byte with the same result as the
// reference's compare chains, but without branches:
// - clamping before or after truncation gives the same integer;
// - reflect: for raw > 255, 255 - (raw - 255) is exact (raw lies below 697),
//   so it equals 510 - raw, and min(|raw|, 510 - raw) picks -raw below 0,
//   510 - raw above 255 and raw in between.
// Wrap keeps the reference's additions: raw + 255 may round.
inline int32_t ClampToByte(int32_t t) { return t < 0 ? 0 : t > 255 ? 255 : t; }

template <int Mode>
inline uint8_t MapRotatedChannel(double rawVal) {
    if (Mode == cModeClamp) return uint8_t(ClampToByte(int32_t(rawVal)));
    if (Mode == cModeWrap) {
        const double adj = rawVal < 0 ? 255.0 : rawVal > 255 ? -255.0 : 0.0;
        return uint8_t(int32_t(rawVal + adj));  // raw + 0.0 only turns -0 into +0
    }
    const double a = std::fabs(rawVal), b = 510.0 - rawVal;
    return uint8_t(ClampToByte(int32_t(b < a ? b : a)));
}

// One pixel through the product tables. The reference also adds
// 0.0 * rotMatrix[3][k], a signed zero; it can change only a zero sum's sign,
// and O - (+0) and O - (-0) are the same value, so it is left out.
// Bit position of byte i of a pixel word (alpha 0, red 1, green 2, blue 3).
constexpr int PixelShift(int i) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return 24 - 8 * i;
#else
    return 8 * i;
#endif
}

// Read and written as whole words: assembling bytes in memory and reading
// them back as a word stalls store forwarding.
template <int Mode>
inline void RotateOnePixel(const RotationSetup& s, const uint8_t* in, uint8_t* out) {
    uint32_t w;
    std::memcpy(&w, in, 4);
    const uint32_t r = (w >> PixelShift(1)) & 0xFF, g = (w >> PixelShift(2)) & 0xFF, b = (w >> PixelShift(3)) & 0xFF;
    uint32_t q = w & (0xFFu << PixelShift(0));
#pragma GCC unroll 3
    for (int k = 0; k < 3; ++k) {
        const double sum = (s.prod[k][0][r] + s.prod[k][1][g]) + s.prod[k][2][b];
        q |= uint32_t(MapRotatedChannel<Mode>(double(s.offset[k]) - sum)) << PixelShift(k + 1);
    }
    std::memcpy(out, &q, 4);
}

// Copies the columns outside [left, right) of one row.
inline void CopyRowOutside(const uint8_t* s, uint8_t* d, int32_t width, int32_t left, int32_t right) {
    if (s == d) return;
    if (left > 0) std::memcpy(d, s, size_t(left) * 4);
    if (right < width) std::memcpy(d + size_t(right) * 4, s + size_t(right) * 4, size_t(width - right) * 4);
}

// Copies the columns outside [left, right) of one row of 64-bit pixels.
inline void CopyRowOutside64(const uint8_t* s, uint8_t* d, int32_t width, int32_t left, int32_t right) {
    if (s == d) return;
    if (left > 0) std::memcpy(d, s, size_t(left) * 8);
    if (right < width) std::memcpy(d + size_t(right) * 8, s + size_t(right) * 8, size_t(width - right) * 8);
}

// The deep form of MapRotatedChannel, with the same reasoning at 65535:
// raw lies within -113510 .. 179046, so 131070 - raw is exact and picks the
// reflected value as min(|raw|, 131070 - raw); int32 holds every raw value.
inline int32_t ClampToWord(int32_t t) { return t < 0 ? 0 : t > 65535 ? 65535 : t; }

template <int Mode>
inline uint16_t MapRotatedChannel64(double rawVal) {
    if (Mode == cModeClamp) return uint16_t(ClampToWord(int32_t(rawVal)));
    if (Mode == cModeWrap) {
        const double adj = rawVal < 0 ? 65535.0 : rawVal > 65535 ? -65535.0 : 0.0;
        return uint16_t(int32_t(rawVal + adj));
    }
    const double a = std::fabs(rawVal), b = 131070.0 - rawVal;
    return uint16_t(ClampToWord(int32_t(b < a ? b : a)));
}

// One deep pixel without branches on its values. v - O is exact, and the
// products and sums of v - O are the exact negatives of those of O - v, so
// O + sum equals the reference's O - sum (see the AVX-512 kernel).
template <int Mode>
inline void RotateOnePixel64(const RotationSetup64& s, const uint8_t* in, uint8_t* out) {
    uint16_t ch[4];
    std::memcpy(ch, in, 8);
    const double d0 = double(ch[1]) - double(s.offset[0]), d1 = double(ch[2]) - double(s.offset[1]),
                 d2 = double(ch[3]) - double(s.offset[2]);
    const Matrix4& m = s.rotMatrix;
    uint16_t res[4] = {ch[0], 0, 0, 0};
#pragma GCC unroll 3
    for (int k = 0; k < 3; ++k) {
        const double sum = (d0 * m.m[0][k] + d1 * m.m[1][k]) + d2 * m.m[2][k];
        res[k + 1] = MapRotatedChannel64<Mode>(double(s.offset[k]) + sum);
    }
    std::memcpy(out, res, 8);
}

}  // namespace
