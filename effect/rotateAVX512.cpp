// AVX-512 row kernel: eight pixels per step in double lanes, the same
// operations in the same order as the scalar path, so the same bytes.
#include "effect/rotateKernels.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>

// Per-function targets (not a target pragma, which clang ignores): the rest
// of the program must run on any x86-64.
#define VX_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx512dq,avx512vbmi")))

#if !defined(__clang__)
// GCC 12's headers fill unused lanes from an "undefined" value that trips
// this warning inside the intrinsics themselves (GCC bug 105593).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace {

struct Avx512Consts {
    __m512d m[3][3];   // m[c][k] = rotMatrix[c][k]
    __m512d o[3];      // offset bytes
    __m512d magicO[3];  // 2^52 + offset byte
    __m512i magic;     // bits of 2^52
    __m512i idx[3];    // byte c+1 of pixel i into byte 0 of lane i
};

VX_AVX512 inline void LoadConsts(const RotationSetup& s, Avx512Consts& k) {
    for (int c = 0; c < 3; ++c) {
        for (int j = 0; j < 3; ++j) k.m[c][j] = _mm512_set1_pd(s.rotMatrix.m[c][j]);
        k.o[c] = _mm512_set1_pd(double(s.offset[c]));
        k.magicO[c] = _mm512_set1_pd(4503599627370496.0 + double(s.offset[c]));
        alignas(64) uint8_t idx[64] = {};
        for (int i = 0; i < 8; ++i) idx[i * 8] = uint8_t(i * 4 + c + 1);
        k.idx[c] = _mm512_load_si512(idx);
    }
    k.magic = _mm512_set1_epi64(0x4330000000000000LL);
}

// 8 pixels in (the low half of wz), 8 pixels out (alpha from wz).
template <int Mode>
VX_AVX512 inline __m256i Rotate8(const Avx512Consts& k, __m512i wz) {
    const __m256i w = _mm512_castsi512_si256(wz);
    __m512d nd[3];
#pragma GCC unroll 3
    for (int c = 0; c < 3; ++c) {
        // 2^52 + v as a double, minus 2^52 + O: exactly v - O. Products of
        // v - O are the exact negatives of those of O - v, and so are their
        // sums, so O + sum here equals O - sum of the plain path.
        const __m512i bits = _mm512_mask_permutexvar_epi8(k.magic, 0x0101010101010101ULL, k.idx[c], wz);
        nd[c] = _mm512_sub_pd(_mm512_castsi512_pd(bits), k.magicO[c]);
    }
    __m256i t[3];
#pragma GCC unroll 3
    for (int j = 0; j < 3; ++j) {
        const __m512d sum = _mm512_add_pd(
            _mm512_add_pd(_mm512_mul_pd(nd[0], k.m[0][j]), _mm512_mul_pd(nd[1], k.m[1][j])),
            _mm512_mul_pd(nd[2], k.m[2][j]));
        __m512d raw = _mm512_add_pd(k.o[j], sum);
        const __m512d c255 = _mm512_set1_pd(255.0);
        if (Mode == cModeWrap) {
            const __mmask8 lt = _mm512_cmp_pd_mask(raw, _mm512_setzero_pd(), _CMP_LT_OQ);
            const __mmask8 gt = _mm512_cmp_pd_mask(raw, c255, _CMP_GT_OQ);
            raw = _mm512_mask_add_pd(raw, lt, raw, c255);
            raw = _mm512_mask_sub_pd(raw, gt, raw, c255);
        } else if (Mode == cModeReflect) {
            // min(|raw|, 510 - raw): see MapRotatedChannel.
            raw = _mm512_min_pd(_mm512_abs_pd(raw), _mm512_sub_pd(_mm512_set1_pd(510.0), raw));
        }
        // Clamping before or after truncation gives the same integer, so
        // clamp and reflect leave it to the saturating packs below.
        t[j] = _mm512_maskz_cvttpd_epi32(0xFF, raw);
    }
    __m256i bytes;
    if (Mode == cModeWrap) {
        // Low 8 bits of each truncated value: byte 0 of every lane.
        const __m256i rg = _mm256_permutex2var_epi8(
            t[0],
            _mm256_setr_epi8(0, 0, 32, 0, 0, 4, 36, 0, 0, 8, 40, 0, 0, 12, 44, 0, 0, 16, 48, 0, 0, 20, 52, 0, 0, 24,
                             56, 0, 0, 28, 60, 0),
            t[1]);
        bytes = _mm256_permutex2var_epi8(
            rg,
            _mm256_setr_epi8(0, 1, 2, 32, 4, 5, 6, 36, 8, 9, 10, 40, 12, 13, 14, 44, 16, 17, 18, 48, 20, 21, 22, 52,
                             24, 25, 26, 56, 28, 29, 30, 60),
            t[2]);
    } else {
        const __m256i rg = _mm256_packus_epi32(t[0], t[1]);
        const __m256i bb = _mm256_packus_epi32(t[2], t[2]);
        const __m256i packed = _mm256_packus_epi16(rg, bb);  // per lane: r0-3 g0-3 b0-3 b0-3
        bytes = _mm256_shuffle_epi8(packed, _mm256_setr_epi8(0, 0, 4, 8, 0, 1, 5, 9, 0, 2, 6, 10, 0, 3, 7, 11, 0,
                                                             0, 4, 8, 0, 1, 5, 9, 0, 2, 6, 10, 0, 3, 7, 11));
    }
    return _mm256_mask_blend_epi8(0x11111111u, bytes, w);
}

template <int Mode>
VX_AVX512 void RotateRowsAVX512(const RotationSetup& setup, const uint8_t* src, int32_t srcRowBytes, uint8_t* dst,
                      int32_t dstRowBytes, int32_t width, int32_t rowBegin, int32_t rowEnd, int32_t left,
                      int32_t right, bool copyRest) {
    Avx512Consts k;
    LoadConsts(setup, k);
    for (int32_t r = rowBegin; r < rowEnd; ++r) {
        const uint8_t* s = src + ptrdiff_t(r) * srcRowBytes;
        uint8_t* d = dst + ptrdiff_t(r) * dstRowBytes;
        if (copyRest) CopyRowOutside(s, d, width, left, right);
        const uint8_t* sp = s + ptrdiff_t(left) * 4;
        uint8_t* dp = d + ptrdiff_t(left) * 4;
        int32_t n = right - left;
        for (; n >= 8; n -= 8, sp += 32, dp += 32) {
            const __m512i w = _mm512_maskz_loadu_epi32(0xFF, sp);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(dp), Rotate8<Mode>(k, w));
        }
        if (n > 0) {
            // Masked: the bytes past the row's last pixel are neither read nor written.
            const __mmask16 m = __mmask16((1u << n) - 1);
            const __m512i w = _mm512_maskz_loadu_epi32(m, sp);
            _mm256_mask_storeu_epi32(dp, __mmask8(m), Rotate8<Mode>(k, w));
        }
    }
}

}  // namespace

#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif

RotateRowsProc GetRotateRowsAVX512(int mode) {
    switch (mode) {
        case cModeClamp: return RotateRowsAVX512<cModeClamp>;
        case cModeWrap: return RotateRowsAVX512<cModeWrap>;
        default: return RotateRowsAVX512<cModeReflect>;
    }
}

#else
RotateRowsProc GetRotateRowsAVX512(int) { return nullptr; }
#endif
