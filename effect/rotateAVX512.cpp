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
    __m512i gather;    // packed clamp results into pixel order
    __m512i wrapRG, wrapB;  // low bytes of the wrap results into pixel order
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
    // After the packs, 128-bit lane L holds pixels 2L and 2L+1: red at bytes
    // 0 and 2, green at 4 and 6, blue at 8 and 10.
    alignas(64) uint8_t g[64] = {}, rg[64] = {}, b[64] = {};
    for (int p = 0; p < 8; ++p) {
        const int base = (p / 2) * 16 + (p % 2) * 2;
        g[4 * p + 1] = uint8_t(base), g[4 * p + 2] = uint8_t(base + 4), g[4 * p + 3] = uint8_t(base + 8);
        rg[4 * p + 1] = uint8_t(8 * p), rg[4 * p + 2] = uint8_t(64 + 8 * p);
        b[4 * p + 1] = uint8_t(4 * p + 1), b[4 * p + 2] = uint8_t(4 * p + 2), b[4 * p + 3] = uint8_t(64 + 8 * p);
    }
    k.gather = _mm512_load_si512(g);
    k.wrapRG = _mm512_load_si512(rg);
    k.wrapB = _mm512_load_si512(b);
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
    __m512i t[3];
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
            // min(|raw|, 510 - raw) (see MapRotatedChannel) in one selecting
            // operation: of a = 510 - raw and raw, the smaller magnitude with
            // the sign of a. Below 0 that is |raw|, up to 255 raw, then a.
            raw = _mm512_range_pd(_mm512_sub_pd(_mm512_set1_pd(510.0), raw), raw, 0x2);
        }
        // A one-uop conversion to 64-bit lanes (the 32-bit one takes two).
        t[j] = _mm512_cvttpd_epi64(raw);
    }
    __m256i bytes;
    if (Mode == cModeWrap) {
        // Wrap keeps the low 8 bits: byte 0 of each lane.
        const __m512i rg = _mm512_permutex2var_epi8(t[0], k.wrapRG, t[1]);
        bytes = _mm512_castsi512_si256(_mm512_permutex2var_epi8(rg, k.wrapB, t[2]));
    } else {
        // Clamping before or after truncation gives the same integer, so clamp
        // and reflect leave it to the saturating packs. Each lane's high half
        // (0 or -1) packs to 0; values stay far below 32768, so the signed
        // word-to-byte pack saturates them correctly.
        const __m512i rg = _mm512_packus_epi32(t[0], t[1]);
        const __m512i bb = _mm512_packus_epi32(t[2], t[2]);
        const __m512i packed = _mm512_packus_epi16(rg, bb);
        bytes = _mm512_castsi512_si256(_mm512_permutexvar_epi8(k.gather, packed));
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
        auto [sp, dp] = RowSpan<4>(src, srcRowBytes, dst, dstRowBytes, width, r, left, right, copyRest);
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

// Deep pixels, eight a step: each pixel is one 64-bit lane.
struct Avx512DeepConsts {
    __m512d m[3][3];
    __m512d o[3];
    __m512d magicO[3];  // 2^52 + offset channel
    __m512i magic;      // bits of 2^52
    __m512i idx[3];     // bytes of channel c of lane p into bytes 0-1 of lane p
    __m512i packed;     // words of the packs into pixel order
    __m512i lowWords;   // word 4p of the 64-bit results into word 4p + c
};

VX_AVX512 inline void LoadDeepConsts(const RotationSetup64& s, Avx512DeepConsts& k) {
    for (int c = 0; c < 3; ++c) {
        for (int j = 0; j < 3; ++j) k.m[c][j] = _mm512_set1_pd(s.rotMatrix.m[c][j]);
        k.o[c] = _mm512_set1_pd(double(s.offset[c]));
        k.magicO[c] = _mm512_set1_pd(4503599627370496.0 + double(s.offset[c]));
        alignas(64) uint8_t idx[64] = {};
        for (int p = 0; p < 8; ++p) {
            idx[8 * p] = uint8_t(8 * p + 2 * c + 2);  // little-endian: red is bytes 2-3
            idx[8 * p + 1] = uint8_t(8 * p + 2 * c + 3);
        }
        k.idx[c] = _mm512_load_si512(idx);
    }
    k.magic = _mm512_set1_epi64(0x4330000000000000LL);
    // After the packs, 128-bit lane L holds pixels 2L and 2L+1: red at words
    // 0 and 2, green at 4 and 6 of the first pack, blue at 0 and 2 of the
    // second (indices 32 and up).
    alignas(64) uint16_t packed[32] = {}, low[32] = {};
    for (int p = 0; p < 8; ++p) {
        const int base = (p / 2) * 8 + (p % 2) * 2;
        packed[4 * p + 1] = uint16_t(base);
        packed[4 * p + 2] = uint16_t(base + 4);
        packed[4 * p + 3] = uint16_t(32 + base);
        for (int c = 0; c < 4; ++c) low[4 * p + c] = uint16_t(4 * p);
    }
    k.packed = _mm512_load_si512(packed);
    k.lowWords = _mm512_load_si512(low);
}

template <int Mode>
VX_AVX512 inline __m512i Rotate8Deep(const Avx512DeepConsts& k, __m512i w) {
    __m512d nd[3];
#pragma GCC unroll 3
    for (int c = 0; c < 3; ++c) {
        // The channel's two bytes into the bits of 2^52, minus 2^52 + O: v - O.
        const __m512i bits = _mm512_mask_permutexvar_epi8(k.magic, 0x0303030303030303ULL, k.idx[c], w);
        nd[c] = _mm512_sub_pd(_mm512_castsi512_pd(bits), k.magicO[c]);
    }
    const __m512d top = _mm512_set1_pd(65535.0);
    __m512i t[3];
#pragma GCC unroll 3
    for (int j = 0; j < 3; ++j) {
        const __m512d sum = _mm512_add_pd(
            _mm512_add_pd(_mm512_mul_pd(nd[0], k.m[0][j]), _mm512_mul_pd(nd[1], k.m[1][j])),
            _mm512_mul_pd(nd[2], k.m[2][j]));
        __m512d raw = _mm512_add_pd(k.o[j], sum);
        if (Mode == cModeWrap) {
            // O + sum is never -0.0: the sign bit alone tells raw < 0.
            const __mmask8 lt = _mm512_movepi64_mask(_mm512_castpd_si512(raw));
            const __mmask8 gt = _mm512_cmp_pd_mask(raw, top, _CMP_GT_OQ);
            raw = _mm512_mask_add_pd(raw, lt, raw, top);
            raw = _mm512_mask_sub_pd(raw, gt, raw, top);
        } else if (Mode == cModeReflect) {
            // min(|raw|, 131070 - raw) (see the 32-bit kernel) in one operation.
            raw = _mm512_range_pd(_mm512_sub_pd(_mm512_set1_pd(131070.0), raw), raw, 0x2);
        }
        t[j] = _mm512_cvttpd_epi64(raw);
    }
    const __mmask32 alpha = 0x11111111u;
    if (Mode == cModeWrap) {
        // The low word of each 64-bit result is its low 16 bits.
        __m512i out = _mm512_mask_permutexvar_epi16(w, __mmask32(alpha << 1), k.lowWords, t[0]);
        out = _mm512_mask_permutexvar_epi16(out, __mmask32(alpha << 2), k.lowWords, t[1]);
        return _mm512_mask_permutexvar_epi16(out, __mmask32(alpha << 3), k.lowWords, t[2]);
    }
    // Clamp and reflect: the packs' unsigned saturation clamps (the same
    // integer as clamping first); each lane's high half, 0 or -1, packs to 0.
    const __m512i rg = _mm512_packus_epi32(t[0], t[1]);
    const __m512i bb = _mm512_packus_epi32(t[2], t[2]);
    return _mm512_mask_blend_epi16(alpha, _mm512_permutex2var_epi16(rg, k.packed, bb), w);
}

template <int Mode>
VX_AVX512 void RotateRowsDeepAVX512(const RotationSetup64& setup, const uint8_t* src, int32_t srcRowBytes,
                                    uint8_t* dst, int32_t dstRowBytes, int32_t width, int32_t rowBegin,
                                    int32_t rowEnd, int32_t left, int32_t right, bool copyRest) {
    Avx512DeepConsts k;
    LoadDeepConsts(setup, k);
    for (int32_t r = rowBegin; r < rowEnd; ++r) {
        auto [sp, dp] = RowSpan<8>(src, srcRowBytes, dst, dstRowBytes, width, r, left, right, copyRest);
        int32_t n = right - left;
        for (; n >= 8; n -= 8, sp += 64, dp += 64)
            _mm512_storeu_si512(dp, Rotate8Deep<Mode>(k, _mm512_loadu_si512(sp)));
        if (n > 0) {
            // Masked: the bytes past the row's last pixel are neither read nor written.
            const __mmask8 m = __mmask8((1u << n) - 1);
            _mm512_mask_storeu_epi64(dp, m, Rotate8Deep<Mode>(k, _mm512_maskz_loadu_epi64(m, sp)));
        }
    }
}

}  // namespace

#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif

RotateRowsProc64 GetRotateRowsDeepAVX512(int mode) {
    switch (mode) {
        case cModeClamp: return RotateRowsDeepAVX512<cModeClamp>;
        case cModeWrap: return RotateRowsDeepAVX512<cModeWrap>;
        default: return RotateRowsDeepAVX512<cModeReflect>;
    }
}

RotateRowsProc GetRotateRowsAVX512(int mode) {
    switch (mode) {
        case cModeClamp: return RotateRowsAVX512<cModeClamp>;
        case cModeWrap: return RotateRowsAVX512<cModeWrap>;
        default: return RotateRowsAVX512<cModeReflect>;
    }
}

#else
RotateRowsProc64 GetRotateRowsDeepAVX512(int) { return nullptr; }
RotateRowsProc GetRotateRowsAVX512(int) { return nullptr; }
#endif
