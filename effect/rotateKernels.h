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

// Brings one raw channel value into 0..Top (255 for bytes, 65535 for the
// words of deep pixels) with the same result as the reference's compare
// chains, but without branches:
// - clamping before or after truncation gives the same integer;
// - reflect: for raw > Top, Top - (raw - Top) is exact (raw lies below 697
//   for bytes, within -113510 .. 179046 for words), so it equals
//   2 Top - raw, and min(|raw|, 2 Top - raw) picks -raw below 0,
//   2 Top - raw above Top and raw in between; int32 holds every raw value.
// Wrap keeps the reference's additions: raw + Top may round.
template <int32_t Top>
inline int32_t ClampTo(int32_t t) { return t < 0 ? 0 : t > Top ? Top : t; }

template <int Mode, int32_t Top>
inline int32_t MapRotated(double rawVal) {
    if (Mode == cModeClamp) return ClampTo<Top>(int32_t(rawVal));
    if (Mode == cModeWrap) {
        const double adj = rawVal < 0 ? double(Top) : rawVal > Top ? -double(Top) : 0.0;
        return int32_t(rawVal + adj);  // raw + 0.0 only turns -0 into +0
    }
    const double a = std::fabs(rawVal), b = 2.0 * Top - rawVal;
    return ClampTo<Top>(int32_t(b < a ? b : a));
}

template <int Mode>
inline uint8_t MapRotatedChannel(double rawVal) { return uint8_t(MapRotated<Mode, 255>(rawVal)); }
template <int Mode>
inline uint16_t MapRotatedChannel64(double rawVal) { return uint16_t(MapRotated<Mode, 65535>(rawVal)); }

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

// Where row r's pixels [left, right) start in src and dst, Bytes a pixel,
// after copying the row's columns outside them when copyRest (and the two
// buffers differ). Every row kernel walks its rows through this.
struct RowStart {
    const uint8_t* in;
    uint8_t* out;
};
template <int Bytes>
inline RowStart RowSpan(const uint8_t* src, int32_t srcRowBytes, uint8_t* dst, int32_t dstRowBytes,
                        int32_t width, int32_t r, int32_t left, int32_t right, bool copyRest) {
    const uint8_t* s = src + ptrdiff_t(r) * srcRowBytes;
    uint8_t* d = dst + ptrdiff_t(r) * dstRowBytes;
    if (copyRest && s != d) {
        if (left > 0) std::memcpy(d, s, size_t(left) * Bytes);
        if (right < width)
            std::memcpy(d + size_t(right) * Bytes, s + size_t(right) * Bytes, size_t(width - right) * Bytes);
    }
    return {s + ptrdiff_t(left) * Bytes, d + ptrdiff_t(left) * Bytes};
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
