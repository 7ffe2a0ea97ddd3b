// AVX2 row kernel: four pixels per step in double lanes, the same operations
// in the same order as the scalar path, so the same bytes.
#include "effect/rotateKernels.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>

// Per-function targets (not a target pragma, which clang ignores): the rest
// of the program must run on any x86-64.
#define VX_AVX2 __attribute__((target("avx2")))

namespace {

struct Avx2Consts {
    __m256d m[3][3];
    __m256d o[3];
    __m256d magicO[3];
    __m256i magic;
    __m256i idx[3];
};

VX_AVX2 inline void LoadConsts(const RotationSetup& s, Avx2Consts& k) {
    for (int c = 0; c < 3; ++c) {
        for (int j = 0; j < 3; ++j) k.m[c][j] = _mm256_set1_pd(s.rotMatrix.m[c][j]);
        k.o[c] = _mm256_set1_pd(double(s.offset[c]));
        k.magicO[c] = _mm256_set1_pd(4503599627370496.0 + double(s.offset[c]));
        // After the blend in Rotate4, the low 128-bit half holds pixels 0 and
        // 1 in bytes 0-7, the high half pixels 2 and 3 in bytes 8-15, and each
        // half's other eight bytes are the magic, 0x30 0x43 at bytes 6-7 of
        // its qword. One shuffle then makes 2^52 + v in every lane.
        alignas(32) int8_t idx[32];
        for (int i = 0; i < 32; ++i) idx[i] = int8_t(0x80);
        for (int i = 0; i < 4; ++i) {
            const int half = i / 2, lane = half * 16 + (i % 2) * 8;
            const int magicAt = half == 0 ? 14 : 6;
            idx[lane] = int8_t(half * 8 + (i % 2) * 4 + c + 1);
            idx[lane + 6] = int8_t(magicAt);
            idx[lane + 7] = int8_t(magicAt + 1);
        }
        k.idx[c] = _mm256_load_si256(reinterpret_cast<const __m256i*>(idx));
    }
    k.magic = _mm256_set1_epi64x(0x4330000000000000LL);
}

template <int Mode>
VX_AVX2 inline __m128i Rotate4(const Avx2Consts& k, __m128i w) {
    const __m256i wb = _mm256_blend_epi32(_mm256_broadcastsi128_si256(w), k.magic, 0x3C);
    __m256d nd[3];
#pragma GCC unroll 3
    for (int c = 0; c < 3; ++c) {
        // v - O exactly; see the AVX-512 kernel for why O + sum is the same.
        const __m256i bits = _mm256_shuffle_epi8(wb, k.idx[c]);
        nd[c] = _mm256_sub_pd(_mm256_castsi256_pd(bits), k.magicO[c]);
    }
    const __m256d zero = _mm256_setzero_pd();
    const __m256d c255 = _mm256_set1_pd(255.0);
    __m128i t[3];
#pragma GCC unroll 3
    for (int j = 0; j < 3; ++j) {
        const __m256d sum = _mm256_add_pd(
            _mm256_add_pd(_mm256_mul_pd(nd[0], k.m[0][j]), _mm256_mul_pd(nd[1], k.m[1][j])),
            _mm256_mul_pd(nd[2], k.m[2][j]));
        __m256d raw = _mm256_add_pd(k.o[j], sum);
        if (Mode == cModeWrap) {
            // raw + (255, -255 or 0): the reference's addition, selected by masks.
            const __m256d lt = _mm256_cmp_pd(raw, zero, _CMP_LT_OQ);
            const __m256d gt = _mm256_cmp_pd(raw, c255, _CMP_GT_OQ);
            const __m256d adj = _mm256_or_pd(_mm256_and_pd(lt, c255), _mm256_and_pd(gt, _mm256_set1_pd(-255.0)));
            raw = _mm256_add_pd(raw, adj);
        } else if (Mode == cModeReflect) {
            // min(|raw|, 510 - raw): see MapRotatedChannel.
            const __m256d abs = _mm256_andnot_pd(_mm256_set1_pd(-0.0), raw);
            raw = _mm256_min_pd(abs, _mm256_sub_pd(_mm256_set1_pd(510.0), raw));
        }
        t[j] = _mm256_cvttpd_epi32(raw);
    }
    if (Mode == cModeWrap) {
        const __m128i low = _mm_set1_epi32(0xFF);
#pragma GCC unroll 3
        for (int j = 0; j < 3; ++j) t[j] = _mm_and_si128(t[j], low);
    }
    // Saturation does the clamping for clamp and reflect (the same integer as
    // clamping first); after wrap the values are already bytes.
    const __m128i ar = _mm_packus_epi32(_mm_and_si128(w, _mm_set1_epi32(0xFF)), t[0]);
    const __m128i gb = _mm_packus_epi32(t[1], t[2]);
    const __m128i packed = _mm_packus_epi16(ar, gb);  // a0-3 r0-3 g0-3 b0-3
    return _mm_shuffle_epi8(packed, _mm_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15));
}

template <int Mode>
VX_AVX2 void RotateRowsAVX2(const RotationSetup& setup, const uint8_t* src, int32_t srcRowBytes, uint8_t* dst,
                    int32_t dstRowBytes, int32_t width, int32_t rowBegin, int32_t rowEnd, int32_t left,
                    int32_t right, bool copyRest) {
    Avx2Consts k;
    LoadConsts(setup, k);
    for (int32_t r = rowBegin; r < rowEnd; ++r) {
        auto [sp, dp] = RowSpan<4>(src, srcRowBytes, dst, dstRowBytes, width, r, left, right, copyRest);
        int32_t n = right - left;
        for (; n >= 4; n -= 4, sp += 16, dp += 16) {
            const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sp));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dp), Rotate4<Mode>(k, w));
        }
        for (; n > 0; --n, sp += 4, dp += 4) RotateOnePixel<Mode>(setup, sp, dp);
    }
}

// Per input channel c and value v, the products into output channels red,
// green and blue, in lanes 1..3 so that they line up with the pixel's bytes;
// lane 0 (alpha) is 0. 24 KB: the three lookups of a pixel stay in L1.
struct LaneTables {
    alignas(32) double q[3][256][4];
};

void FillLaneTables(const RotationSetup& s, LaneTables& t) {
    for (int c = 0; c < 3; ++c)
        for (int v = 0; v < 256; ++v) {
            t.q[c][v][0] = 0.0;
            for (int k = 0; k < 3; ++k) t.q[c][v][1 + k] = s.prod[k][c][v];
        }
}

// One pixel, its three channels side by side: the products come from the
// tables instead of being multiplied, added in the plain order. Returns the
// lanes alpha (always 0), red, green, blue as 32-bit integers.
template <int Mode>
VX_AVX2 inline __m128i LaneChannels(const LaneTables& t, __m256d o, uint32_t w) {
    const __m256d rg = _mm256_add_pd(_mm256_load_pd(t.q[0][(w >> PixelShift(1)) & 0xFF]),
                                     _mm256_load_pd(t.q[1][(w >> PixelShift(2)) & 0xFF]));
    __m256d raw = _mm256_sub_pd(o, _mm256_add_pd(rg, _mm256_load_pd(t.q[2][(w >> PixelShift(3)) & 0xFF])));
    const __m256d c255 = _mm256_set1_pd(255.0);
    if (Mode == cModeWrap) {
        // O - sum is never -0.0 (O is +0.0 at the least), so the sign bit
        // alone tells raw < 0, and the blend needs no compare for it.
        const __m256d down = _mm256_and_pd(_mm256_cmp_pd(raw, c255, _CMP_GT_OQ), _mm256_set1_pd(-255.0));
        raw = _mm256_add_pd(raw, _mm256_blendv_pd(down, c255, raw));
    } else if (Mode == cModeReflect) {
        const __m256d abs = _mm256_andnot_pd(_mm256_set1_pd(-0.0), raw);
        raw = _mm256_min_pd(abs, _mm256_sub_pd(_mm256_set1_pd(510.0), raw));
    }
    return _mm256_cvttpd_epi32(raw);
}

// Four pixels' lanes into their bytes, alpha bytes 0.
template <int Mode>
VX_AVX2 inline __m128i PackLanes(__m128i t0, __m128i t1, __m128i t2, __m128i t3) {
    if (Mode == cModeWrap) {
        // Wrapped values lie within -187..442: the signed pack keeps them, the
        // mask their low byte.
        const __m128i low = _mm_set1_epi16(0xFF);
        return _mm_packus_epi16(_mm_and_si128(_mm_packs_epi32(t0, t1), low),
                                _mm_and_si128(_mm_packs_epi32(t2, t3), low));
    }
    return _mm_packus_epi16(_mm_packus_epi32(t0, t1), _mm_packus_epi32(t2, t3));
}

// One pixel a vector: no multiplications and no conversion of the bytes, but
// three table loads and a conversion per pixel. Wrap comes out faster than
// Rotate4, reflect even, clamp slower.
template <int Mode>
VX_AVX2 void RotateRowsAVX2Lanes(const RotationSetup& setup, const uint8_t* src, int32_t srcRowBytes,
                                 uint8_t* dst, int32_t dstRowBytes, int32_t width, int32_t rowBegin,
                                 int32_t rowEnd, int32_t left, int32_t right, bool copyRest) {
    LaneTables t;
    FillLaneTables(setup, t);
    const __m256d o = _mm256_setr_pd(0.0, double(setup.offset[0]), double(setup.offset[1]), double(setup.offset[2]));
    const __m128i alpha = _mm_set1_epi32(0xFF);
    const __m128i none = _mm_setzero_si128();
    for (int32_t r = rowBegin; r < rowEnd; ++r) {
        auto [sp, dp] = RowSpan<4>(src, srcRowBytes, dst, dstRowBytes, width, r, left, right, copyRest);
        int32_t n = right - left;
        for (; n >= 4; n -= 4, sp += 16, dp += 16) {
            uint64_t w01, w23;
            std::memcpy(&w01, sp, 8);
            std::memcpy(&w23, sp + 8, 8);
            const __m128i bytes = PackLanes<Mode>(
                LaneChannels<Mode>(t, o, uint32_t(w01)), LaneChannels<Mode>(t, o, uint32_t(w01 >> 32)),
                LaneChannels<Mode>(t, o, uint32_t(w23)), LaneChannels<Mode>(t, o, uint32_t(w23 >> 32)));
            const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sp));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dp), _mm_or_si128(bytes, _mm_and_si128(w, alpha)));
        }
        for (; n > 0; --n, sp += 4, dp += 4) {
            uint32_t w;
            std::memcpy(&w, sp, 4);
            const __m128i bytes = PackLanes<Mode>(LaneChannels<Mode>(t, o, w), none, none, none);
            const uint32_t q = uint32_t(_mm_cvtsi128_si32(bytes)) | (w & 0xFF);
            std::memcpy(dp, &q, 4);
        }
    }
}

// Deep pixels, four a step: each pixel is one 64-bit lane, its channels
// taken straight into double lanes.
struct Avx2DeepConsts {
    __m256d m[3][3];
    __m256d o[3];
    __m256d magicO[3];  // 2^52 + offset channel
    __m256i magic;      // bits of 2^52
    __m256i idx[3];     // channel c of each lane into its low 16 bits
};

VX_AVX2 inline void LoadDeepConsts(const RotationSetup64& s, Avx2DeepConsts& k) {
    for (int c = 0; c < 3; ++c) {
        for (int j = 0; j < 3; ++j) k.m[c][j] = _mm256_set1_pd(s.rotMatrix.m[c][j]);
        k.o[c] = _mm256_set1_pd(double(s.offset[c]));
        k.magicO[c] = _mm256_set1_pd(4503599627370496.0 + double(s.offset[c]));
        // Little-endian lanes: channel c (red 0) is bytes 2c+2 and 2c+3.
        alignas(32) int8_t idx[32];
        for (int i = 0; i < 32; ++i) idx[i] = int8_t(0x80);
        for (int q = 0; q < 4; ++q) {
            const int lane = q * 8, from = (q % 2) * 8 + 2 * c + 2;
            idx[lane] = int8_t(from);
            idx[lane + 1] = int8_t(from + 1);
        }
        k.idx[c] = _mm256_load_si256(reinterpret_cast<const __m256i*>(idx));
    }
    k.magic = _mm256_set1_epi64x(0x4330000000000000LL);
}

template <int Mode>
VX_AVX2 inline __m256i Rotate4Deep(const Avx2DeepConsts& k, __m256i w) {
    __m256d nd[3];
#pragma GCC unroll 3
    for (int c = 0; c < 3; ++c) {
        // 2^52 + v minus 2^52 + O: exactly v - O (see RotateOnePixel64).
        const __m256i bits = _mm256_or_si256(_mm256_shuffle_epi8(w, k.idx[c]), k.magic);
        nd[c] = _mm256_sub_pd(_mm256_castsi256_pd(bits), k.magicO[c]);
    }
    const __m256d top = _mm256_set1_pd(65535.0);
    __m128i t[3];
#pragma GCC unroll 3
    for (int j = 0; j < 3; ++j) {
        const __m256d sum = _mm256_add_pd(
            _mm256_add_pd(_mm256_mul_pd(nd[0], k.m[0][j]), _mm256_mul_pd(nd[1], k.m[1][j])),
            _mm256_mul_pd(nd[2], k.m[2][j]));
        __m256d raw = _mm256_add_pd(k.o[j], sum);
        if (Mode == cModeWrap) {
            // O + sum is never -0.0, so its sign bit alone tells raw < 0.
            const __m256d down = _mm256_and_pd(_mm256_cmp_pd(raw, top, _CMP_GT_OQ), _mm256_set1_pd(-65535.0));
            raw = _mm256_add_pd(raw, _mm256_blendv_pd(down, top, raw));
        } else if (Mode == cModeReflect) {
            const __m256d abs = _mm256_andnot_pd(_mm256_set1_pd(-0.0), raw);
            raw = _mm256_min_pd(abs, _mm256_sub_pd(_mm256_set1_pd(131070.0), raw));
        }
        t[j] = _mm256_cvttpd_epi32(raw);
    }
    // Words (0, red) and (green, blue) of each pixel, as 32-bit lanes.
    __m128i ar, gb;
    if (Mode == cModeWrap) {
        // The low 16 bits of each result, by shifts and word blends.
        ar = _mm_slli_epi32(t[0], 16);
        gb = _mm_blend_epi16(t[1], _mm_slli_epi32(t[2], 16), 0xAA);
    } else {
        // Clamping before or after truncation gives the same integer: the
        // unsigned saturation of the packs clamps clamp and reflect.
        const __m128i rg = _mm_packus_epi32(t[0], t[1]);  // r0-3 g0-3
        const __m128i bb = _mm_packus_epi32(t[2], t[2]);  // b0-3 b0-3
        ar = _mm_unpacklo_epi16(_mm_setzero_si128(), rg);
        gb = _mm_unpackhi_epi16(rg, bb);
    }
    const __m256i rgb = _mm256_set_m128i(_mm_unpackhi_epi32(ar, gb), _mm_unpacklo_epi32(ar, gb));
    return _mm256_blend_epi16(rgb, w, 0x11);  // alpha as it was
}

template <int Mode>
VX_AVX2 void RotateRowsDeepAVX2(const RotationSetup64& setup, const uint8_t* src, int32_t srcRowBytes,
                                uint8_t* dst, int32_t dstRowBytes, int32_t width, int32_t rowBegin,
                                int32_t rowEnd, int32_t left, int32_t right, bool copyRest) {
    Avx2DeepConsts k;
    LoadDeepConsts(setup, k);
    for (int32_t r = rowBegin; r < rowEnd; ++r) {
        auto [sp, dp] = RowSpan<8>(src, srcRowBytes, dst, dstRowBytes, width, r, left, right, copyRest);
        int32_t n = right - left;
        for (; n >= 4; n -= 4, sp += 32, dp += 32) {
            const __m256i w = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sp));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(dp), Rotate4Deep<Mode>(k, w));
        }
        for (; n > 0; --n, sp += 8, dp += 8) RotateOnePixel64<Mode>(setup, sp, dp);
    }
}

}  // namespace


RotateRowsProc64 GetRotateRowsDeepAVX2(int mode) {
    switch (mode) {
        case cModeClamp: return RotateRowsDeepAVX2<cModeClamp>;
        case cModeWrap: return RotateRowsDeepAVX2<cModeWrap>;
        default: return RotateRowsDeepAVX2<cModeReflect>;
    }
}

RotateRowsProc GetRotateRowsAVX2(int mode) {
    switch (mode) {
        case cModeClamp: return RotateRowsAVX2<cModeClamp>;
        case cModeWrap: return RotateRowsAVX2<cModeWrap>;
        default: return RotateRowsAVX2<cModeReflect>;
    }
}

RotateRowsProc GetRotateRowsAVX2Lanes(int mode) {
    switch (mode) {
        case cModeClamp: return RotateRowsAVX2Lanes<cModeClamp>;
        case cModeWrap: return RotateRowsAVX2Lanes<cModeWrap>;
        default: return RotateRowsAVX2Lanes<cModeReflect>;
    }
}

#else
RotateRowsProc64 GetRotateRowsDeepAVX2(int) { return nullptr; }
RotateRowsProc GetRotateRowsAVX2(int) { return nullptr; }
RotateRowsProc GetRotateRowsAVX2Lanes(int) { return nullptr; }
#endif
