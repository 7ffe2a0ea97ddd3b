#include "app/Conversions.h"

#include <zimg.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <bit>
#include <cstring>
#include <vector>

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

ThreadedScaler::~ThreadedScaler() { sws_freeContext(sws_); }

SwsContext* ThreadedScaler::Get(int srcW, int srcH, AVPixelFormat src, int dstW, int dstH, AVPixelFormat dst,
                                int flags, int srcSpace, bool srcFull, int dstSpace, bool dstFull) {
    const int key[11] = {srcW, srcH, src, dstW, dstH, dst, flags, srcSpace, srcFull, dstSpace, dstFull};
    if (sws_ && std::memcmp(key, key_, sizeof key) == 0) return sws_;
    sws_freeContext(sws_);
    sws_ = sws_alloc_context();
    if (!sws_) return nullptr;
    av_opt_set_int(sws_, "srcw", srcW, 0);
    av_opt_set_int(sws_, "srch", srcH, 0);
    av_opt_set_int(sws_, "dstw", dstW, 0);
    av_opt_set_int(sws_, "dsth", dstH, 0);
    av_opt_set_pixel_fmt(sws_, "src_format", src, 0);
    av_opt_set_pixel_fmt(sws_, "dst_format", dst, 0);
    av_opt_set_int(sws_, "sws_flags", flags, 0);
    av_opt_set_int(sws_, "threads", 0, 0);  // one slice per core
    if (sws_init_context(sws_, nullptr, nullptr) < 0) {
        sws_freeContext(sws_);
        return sws_ = nullptr;
    }
    if (srcSpace >= 0 || dstSpace >= 0)
        sws_setColorspaceDetails(sws_, sws_getCoefficients(srcSpace < 0 ? SWS_CS_DEFAULT : srcSpace), srcFull,
                                 sws_getCoefficients(dstSpace < 0 ? SWS_CS_DEFAULT : dstSpace), dstFull, 0, 1 << 16,
                                 1 << 16);
    std::memcpy(key_, key, sizeof key);
    return sws_;
}

bool ThreadedScaler::Scale(const AVFrame* src, AVFrame* dst) {
    // sws_scale_frame writes into dst's own buffer when it has one; a buffer
    // of the caller's gets a reference that frees nothing.
    AVBufferRef* borrowed = nullptr;
    if (!dst->buf[0]) {
        borrowed = av_buffer_create(dst->data[0], 1, [](void*, uint8_t*) {}, nullptr, 0);
        if (!borrowed) return false;
        dst->buf[0] = borrowed;
    }
    AVFrame* in = const_cast<AVFrame*>(src);
    AVBufferRef* inBorrowed = nullptr;
    if (!in->buf[0]) {
        inBorrowed = av_buffer_create(in->data[0], 1, [](void*, uint8_t*) {}, nullptr, 0);
        in->buf[0] = inBorrowed;
    }
    const int err = sws_scale_frame(sws_, dst, in);
    if (inBorrowed) {
        in->buf[0] = nullptr;
        av_buffer_unref(&inBorrowed);
    }
    if (borrowed) {
        dst->buf[0] = nullptr;
        av_buffer_unref(&borrowed);
    }
    return err >= 0;
}

// --- zimg -----------------------------------------------------------------------

// zimg's SIMD wants 32-byte aligned rows, 64 for its AVX-512 code; our own
// buffers are always 64.
constexpr uintptr_t kAlign = 64, kMinAlign = 32;

struct ZimgToArgb::Impl {
    zimg_filter_graph* graph = nullptr;
    int key[9] = {};
    std::vector<uint8_t> tmp, ring[3];
    unsigned mask = 0;
    int width = 0, stride = 0;
    uint8_t* out = nullptr;

    static uint8_t* Aligned(std::vector<uint8_t>& v) {
        return v.data() + (kAlign - reinterpret_cast<uintptr_t>(v.data()) % kAlign) % kAlign;
    }
    int outRowBytes = 0;

    ~Impl() { zimg_filter_graph_free(graph); }

    // Interleaves rows as zimg finishes them, while they are still in cache.
    static int Pack(void* user, unsigned i, unsigned left, unsigned right) {
        auto* self = static_cast<Impl*>(user);
        const size_t row = size_t(i & self->mask) * size_t(self->stride);
        const uint8_t* r = Aligned(self->ring[0]) + row;
        const uint8_t* g = Aligned(self->ring[1]) + row;
        const uint8_t* b = Aligned(self->ring[2]) + row;
        uint8_t* px = self->out + ptrdiff_t(i) * self->outRowBytes;
        static_assert(std::endian::native == std::endian::little);
        unsigned x = left;
#if defined(__SSE2__)
        // Sixteen pixels a step: interleaving bytes, then byte pairs.
        const __m128i opaque = _mm_set1_epi8(char(0xFF));
        for (; x + 16 <= right; x += 16) {
            const __m128i vr = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + x));
            const __m128i vg = _mm_loadu_si128(reinterpret_cast<const __m128i*>(g + x));
            const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + x));
            const __m128i arLo = _mm_unpacklo_epi8(opaque, vr), arHi = _mm_unpackhi_epi8(opaque, vr);
            const __m128i gbLo = _mm_unpacklo_epi8(vg, vb), gbHi = _mm_unpackhi_epi8(vg, vb);
            auto* out = reinterpret_cast<__m128i*>(px + 4 * size_t(x));
            _mm_storeu_si128(out, _mm_unpacklo_epi16(arLo, gbLo));
            _mm_storeu_si128(out + 1, _mm_unpackhi_epi16(arLo, gbLo));
            _mm_storeu_si128(out + 2, _mm_unpacklo_epi16(arHi, gbHi));
            _mm_storeu_si128(out + 3, _mm_unpackhi_epi16(arHi, gbHi));
        }
#endif
        // The rest, whole pixels in one store each (bytes A, R, G, B in memory).
        for (; x < right; ++x) {
            const uint32_t v = 0xFFu | uint32_t(r[x]) << 8 | uint32_t(g[x]) << 16 | uint32_t(b[x]) << 24;
            std::memcpy(px + 4 * size_t(x), &v, 4);
        }
        return 0;
    }
};

namespace {

int ZimgMatrix(AVColorSpace space) {
    switch (space) {
        case AVCOL_SPC_BT709: return ZIMG_MATRIX_709;
        case AVCOL_SPC_FCC: return ZIMG_MATRIX_FCC;
        case AVCOL_SPC_SMPTE240M: return ZIMG_MATRIX_ST240_M;
        case AVCOL_SPC_BT2020_NCL: return ZIMG_MATRIX_BT2020_NCL;
        case AVCOL_SPC_BT2020_CL: return -1;  // needs the transfer function; swscale does it
        default: return ZIMG_MATRIX_BT470_BG;      // as swscale takes an unknown matrix
    }
}

int ZimgChroma(AVChromaLocation loc) {
    switch (loc) {
        case AVCHROMA_LOC_LEFT: return ZIMG_CHROMA_LEFT;
        case AVCHROMA_LOC_TOPLEFT: return ZIMG_CHROMA_TOP_LEFT;
        case AVCHROMA_LOC_TOP: return ZIMG_CHROMA_TOP;
        case AVCHROMA_LOC_BOTTOMLEFT: return ZIMG_CHROMA_BOTTOM_LEFT;
        case AVCHROMA_LOC_BOTTOM: return ZIMG_CHROMA_BOTTOM;
        default: return ZIMG_CHROMA_CENTER;  // swscale's assumption too
    }
}

}  // namespace

ZimgToArgb::ZimgToArgb() : impl_(new Impl) {}
ZimgToArgb::~ZimgToArgb() { delete impl_; }

bool ZimgToArgb::Convert(const AVFrame* src, uint8_t* dst, int dstRowBytes, int width, int height) {
    const auto fmt = AVPixelFormat(src->format);
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(fmt);
    if (!d || src->width != width || src->height != height) return false;
    if ((d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_ALPHA | AV_PIX_FMT_FLAG_BE | AV_PIX_FMT_FLAG_PAL |
                     AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_FLOAT | AV_PIX_FMT_FLAG_HWACCEL)) ||
        !(d->flags & AV_PIX_FMT_FLAG_PLANAR) || d->nb_components != 3)
        return false;
    bool wide = true;  // rows 64-byte aligned
    for (int c = 0; c < 3; ++c) {
        const uintptr_t at = reinterpret_cast<uintptr_t>(src->data[c]) | uintptr_t(src->linesize[c]);
        if (at % kMinAlign) return false;
        if (at % kAlign) wide = false;
    }
    const int depth = d->comp[0].depth;
    if (depth < 8 || depth > 16 || d->comp[1].plane != 1 || d->comp[2].plane != 2) return false;
    const int matrix = ZimgMatrix(src->colorspace);
    if (matrix < 0) return false;
    const bool jFormat = fmt == AV_PIX_FMT_YUVJ420P || fmt == AV_PIX_FMT_YUVJ422P || fmt == AV_PIX_FMT_YUVJ444P ||
                         fmt == AV_PIX_FMT_YUVJ440P || fmt == AV_PIX_FMT_YUVJ411P;
    const bool full = jFormat || src->color_range == AVCOL_RANGE_JPEG;
    const int chroma = ZimgChroma(src->chroma_location);

    Impl& z = *impl_;
    const int key[9] = {fmt, width, height, matrix, full, chroma, wide, 0, 0};
    if (!z.graph || std::memcmp(key, z.key, sizeof key) != 0) {
        zimg_filter_graph_free(z.graph);
        z.graph = nullptr;
        zimg_image_format in, out;
        zimg_image_format_default(&in, ZIMG_API_VERSION);
        zimg_image_format_default(&out, ZIMG_API_VERSION);
        in.width = out.width = unsigned(width);
        in.height = out.height = unsigned(height);
        in.pixel_type = depth == 8 ? ZIMG_PIXEL_BYTE : ZIMG_PIXEL_WORD;
        in.depth = unsigned(depth);
        in.subsample_w = d->log2_chroma_w;
        in.subsample_h = d->log2_chroma_h;
        in.color_family = ZIMG_COLOR_YUV;
        in.matrix_coefficients = zimg_matrix_coefficients_e(matrix);
        in.pixel_range = full ? ZIMG_RANGE_FULL : ZIMG_RANGE_LIMITED;
        in.chroma_location = zimg_chroma_location_e(chroma);
        out.pixel_type = ZIMG_PIXEL_BYTE;
        out.depth = 8;
        out.color_family = ZIMG_COLOR_RGB;
        out.matrix_coefficients = ZIMG_MATRIX_RGB;
        out.pixel_range = ZIMG_RANGE_FULL;
        // The matrix only, as swscale does: no change of primaries or curve.
        in.transfer_characteristics = out.transfer_characteristics = ZIMG_TRANSFER_UNSPECIFIED;
        in.color_primaries = out.color_primaries = ZIMG_PRIMARIES_UNSPECIFIED;
        zimg_graph_builder_params p;
        zimg_graph_builder_params_default(&p, ZIMG_API_VERSION);
        p.resample_filter_uv = ZIMG_RESIZE_BILINEAR;
        p.dither_type = ZIMG_DITHER_NONE;
        p.cpu_type = wide ? ZIMG_CPU_AUTO_64B : ZIMG_CPU_AUTO;
        z.graph = zimg_filter_graph_build(&in, &out, &p);
        if (!z.graph) return false;
        size_t tmpSize = 0;
        unsigned lines = 0;
        if (zimg_filter_graph_get_tmp_size(z.graph, &tmpSize) || zimg_filter_graph_get_output_buffering(z.graph, &lines)) {
            zimg_filter_graph_free(z.graph);
            z.graph = nullptr;
            return false;
        }
        z.tmp.assign(tmpSize + kAlign, 0);
        z.mask = zimg_select_buffer_mask(lines);
        const size_t rows = z.mask == ZIMG_BUFFER_MAX ? size_t(height) : size_t(z.mask) + 1;
        z.stride = int((size_t(width) + kAlign - 1) / kAlign * kAlign);
        for (auto& r : z.ring) r.assign(rows * size_t(z.stride) + kAlign, 0);
        z.width = width;
        std::memcpy(z.key, key, sizeof key);
    }
    zimg_image_buffer_const in{};
    in.version = ZIMG_API_VERSION;
    zimg_image_buffer out{};
    out.version = ZIMG_API_VERSION;
    for (int c = 0; c < 3; ++c) {
        in.plane[c].data = src->data[c];
        in.plane[c].stride = src->linesize[c];
        in.plane[c].mask = ZIMG_BUFFER_MAX;
        out.plane[c].data = Impl::Aligned(z.ring[c]);
        out.plane[c].stride = z.stride;
        out.plane[c].mask = z.mask;
    }
    z.out = dst;
    z.outRowBytes = dstRowBytes;
    return zimg_filter_graph_process(z.graph, &in, &out, Impl::Aligned(z.tmp), nullptr, nullptr, &Impl::Pack, &z) == ZIMG_ERROR_SUCCESS;
}
