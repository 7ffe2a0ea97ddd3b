#include "app/convert/Conversions.h"

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

#include "app/convert/ColourSpaces.h"

ThreadedScaler::~ThreadedScaler() { sws_freeContext(sws_); }

SwsContext* ThreadedScaler::Get(int srcW, int srcH, AVPixelFormat src, int dstW, int dstH, AVPixelFormat dst,
                                int flags, int srcSpace, bool srcFull, int dstSpace, bool dstFull) {
    const int key[11] = {srcW, srcH, src, dstW, dstH, dst, flags, srcSpace, srcFull, dstSpace, dstFull};
    if (sws_ && std::memcmp(key, key_, sizeof key) == 0) return sws_;
    sws_freeContext(sws_);
    sws_ = sws_alloc_context();
    err_ = AVERROR(ENOMEM);
    if (!sws_) return nullptr;
    av_opt_set_int(sws_, "srcw", srcW, 0);
    av_opt_set_int(sws_, "srch", srcH, 0);
    av_opt_set_int(sws_, "dstw", dstW, 0);
    av_opt_set_int(sws_, "dsth", dstH, 0);
    av_opt_set_pixel_fmt(sws_, "src_format", src, 0);
    av_opt_set_pixel_fmt(sws_, "dst_format", dst, 0);
    av_opt_set_int(sws_, "sws_flags", flags, 0);
    av_opt_set_int(sws_, "threads", 0, 0);  // one slice per core
    if ((err_ = sws_init_context(sws_, nullptr, nullptr)) < 0) {
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
        err_ = AVERROR(ENOMEM);
        if (!borrowed) return false;
        dst->buf[0] = borrowed;
    }
    AVFrame* in = const_cast<AVFrame*>(src);
    AVBufferRef* inBorrowed = nullptr;
    if (!in->buf[0]) {
        inBorrowed = av_buffer_create(in->data[0], 1, [](void*, uint8_t*) {}, nullptr, 0);
        in->buf[0] = inBorrowed;
    }
    const int err = err_ = sws_scale_frame(sws_, dst, in);
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

// A frame's alpha samples, which zimg leaves alone: copied beside it.
struct AlphaPlane {
    uint8_t* data = nullptr;
    int stride = 0;
    int max = 0;  // the largest sample: (1 << depth) - 1
};

struct ZimgGraph {
    explicit ZimgGraph(BufferDepth d) : depth(d) {}
    AlphaPlane alpha;  // of the frame being converted, if it has one
    const BufferDepth depth;
    zimg_filter_graph* graph = nullptr;
    std::vector<uint8_t> tmp, ring[3];  // ring: the RGB planes, a few rows or whole
    unsigned mask = 0;
    int stride = 0;
    static constexpr int kKeySize = 18;
    unsigned key_[kKeySize] = {};

    ZimgGraph(const ZimgGraph&) = delete;
    ZimgGraph& operator=(const ZimgGraph&) = delete;
    ~ZimgGraph();
    // rgbIn: the RGB side is the input. False when zimg cannot do it.
    bool Prepare(const zimg_image_format& in, const zimg_image_format& out, bool wide, bool rgbIn);
    static uint8_t* Aligned(std::vector<uint8_t>& v) {
        return v.data() + (kAlign - reinterpret_cast<uintptr_t>(v.data()) % kAlign) % kAlign;
    }
    // Row i of the ring's plane c, as samples of type T.
    template <typename T>
    T* RingRow(int c, unsigned i) {
        return reinterpret_cast<T*>(Aligned(ring[c]) + size_t(i & mask) * size_t(stride));
    }
};

struct ZimgToArgb::Impl : ZimgGraph {
    using ZimgGraph::ZimgGraph;
    uint8_t* out = nullptr;
    int outRowBytes = 0;

    static int Pack64(void* user, unsigned i, unsigned left, unsigned right);

    // Interleaves rows as zimg finishes them, while they are still in cache.
    static int Pack(void* user, unsigned i, unsigned left, unsigned right) {
        auto* self = static_cast<Impl*>(user);
        const auto* r = self->RingRow<uint8_t>(0, i);
        const auto* g = self->RingRow<uint8_t>(1, i);
        const auto* b = self->RingRow<uint8_t>(2, i);
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

// The same for 64-bit buffers: 16-bit planes into A,R,G,B words.
int ZimgToArgb::Impl::Pack64(void* user, unsigned i, unsigned left, unsigned right) {
    auto* self = static_cast<Impl*>(user);
    const auto* r = self->RingRow<uint16_t>(0, i);
    const auto* g = self->RingRow<uint16_t>(1, i);
    const auto* b = self->RingRow<uint16_t>(2, i);
    uint8_t* px = self->out + ptrdiff_t(i) * self->outRowBytes;
    unsigned x = left;
#if defined(__SSE2__)
    // Eight pixels a step: interleaving words, then word pairs.
    const __m128i opaque = _mm_set1_epi16(-1);
    for (; x + 8 <= right; x += 8) {
        const __m128i vr = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + x));
        const __m128i vg = _mm_loadu_si128(reinterpret_cast<const __m128i*>(g + x));
        const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + x));
        const __m128i arLo = _mm_unpacklo_epi16(opaque, vr), arHi = _mm_unpackhi_epi16(opaque, vr);
        const __m128i gbLo = _mm_unpacklo_epi16(vg, vb), gbHi = _mm_unpackhi_epi16(vg, vb);
        auto* out = reinterpret_cast<__m128i*>(px + 8 * size_t(x));
        _mm_storeu_si128(out, _mm_unpacklo_epi32(arLo, gbLo));
        _mm_storeu_si128(out + 1, _mm_unpackhi_epi32(arLo, gbLo));
        _mm_storeu_si128(out + 2, _mm_unpacklo_epi32(arHi, gbHi));
        _mm_storeu_si128(out + 3, _mm_unpackhi_epi32(arHi, gbHi));
    }
#endif
    for (; x < right; ++x) {
        const uint64_t v = 0xFFFFu | uint64_t(r[x]) << 16 | uint64_t(g[x]) << 32 | uint64_t(b[x]) << 48;
        std::memcpy(px + 8 * size_t(x), &v, 8);
    }
    const AlphaPlane& a = self->alpha;
    if (a.data) {
        const uint8_t* row = a.data + ptrdiff_t(i) * a.stride;
        for (x = left; x < right; ++x) {
            const uint32_t v = a.max == 255 ? row[x] : reinterpret_cast<const uint16_t*>(row)[x];
            const auto word = uint16_t((v * 65535u + uint32_t(a.max) / 2) / uint32_t(a.max));
            std::memcpy(px + 8 * size_t(x), &word, 2);
        }
    }
    return 0;
}

void Argb64ToRgba64(uint8_t* row, int width) {
    for (int x = 0; x < width; ++x) {
        uint64_t v;
        std::memcpy(&v, row + 8 * size_t(x), 8);
        v = std::rotr(v, 16);
        std::memcpy(row + 8 * size_t(x), &v, 8);
    }
}

void Rgba64ToArgb64(uint8_t* row, int width) {
    for (int x = 0; x < width; ++x) {
        uint64_t v;
        std::memcpy(&v, row + 8 * size_t(x), 8);
        v = std::rotl(v, 16);
        std::memcpy(row + 8 * size_t(x), &v, 8);
    }
}

namespace {

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

ZimgToArgb::ZimgToArgb(BufferDepth depth) : impl_(new Impl(depth)) {}
ZimgToArgb::~ZimgToArgb() { delete impl_; }

namespace {

// The zimg description of a planar frame's layout, where zimg's planes are
// in it and its alpha plane, or false when zimg is not to take it: packed,
// big-endian, RGB or alpha unless deep (into or out of 64-bit buffers), rows
// that are not 32-byte aligned. *wide tells whether they are 64-byte aligned
// too.
bool PlanarLayout(const AVFrame* f, AVColorSpace space, AVColorRange range, AVChromaLocation loc, bool deep,
                  zimg_image_format* z, bool* wide, int planes[3], AlphaPlane* alpha) {
    const auto fmt = AVPixelFormat(f->format);
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(fmt);
    const bool hasAlpha = d && (d->flags & AV_PIX_FMT_FLAG_ALPHA);
    if (!d || (d->flags & (AV_PIX_FMT_FLAG_BE | AV_PIX_FMT_FLAG_PAL | AV_PIX_FMT_FLAG_BITSTREAM |
                           AV_PIX_FMT_FLAG_FLOAT | AV_PIX_FMT_FLAG_HWACCEL)) ||
        !(d->flags & AV_PIX_FMT_FLAG_PLANAR) || d->nb_components != 3 + hasAlpha || (hasAlpha && !deep))
        return false;
    *alpha = AlphaPlane{};
    if (hasAlpha) {
        const AVComponentDescriptor& a = d->comp[3];
        if (a.shift || a.offset || a.depth != d->comp[0].depth || a.plane < 3) return false;
        *alpha = AlphaPlane{f->data[a.plane], f->linesize[a.plane], (1 << a.depth) - 1};
    }
    const bool rgb = deep;
    const bool isRgb = d->flags & AV_PIX_FMT_FLAG_RGB;
    if (isRgb && !rgb) return false;
    *wide = true;
    for (int c = 0; c < 3; ++c) {
        const uintptr_t at = reinterpret_cast<uintptr_t>(f->data[c]) | uintptr_t(f->linesize[c]);
        if (at % kMinAlign) return false;
        if (at % kAlign) *wide = false;
        planes[c] = d->comp[c].plane;
        if (d->comp[c].shift || d->comp[c].offset) return false;
    }
    const int depth = d->comp[0].depth;
    if (depth < 8 || depth > 16 || planes[0] == planes[1] || planes[1] == planes[2] || planes[0] == planes[2])
        return false;
    const int matrix = isRgb ? ZIMG_MATRIX_RGB : MatrixOf(space).zimg;
    if (matrix < 0) return false;
    const bool jFormat = fmt == AV_PIX_FMT_YUVJ420P || fmt == AV_PIX_FMT_YUVJ422P || fmt == AV_PIX_FMT_YUVJ444P ||
                         fmt == AV_PIX_FMT_YUVJ440P || fmt == AV_PIX_FMT_YUVJ411P;
    zimg_image_format_default(z, ZIMG_API_VERSION);
    z->width = unsigned(f->width);
    z->height = unsigned(f->height);
    z->pixel_type = depth == 8 ? ZIMG_PIXEL_BYTE : ZIMG_PIXEL_WORD;
    z->depth = unsigned(depth);
    z->subsample_w = d->log2_chroma_w;
    z->subsample_h = d->log2_chroma_h;
    z->color_family = isRgb ? ZIMG_COLOR_RGB : ZIMG_COLOR_YUV;
    z->matrix_coefficients = zimg_matrix_coefficients_e(matrix);
    z->pixel_range = isRgb || jFormat || range == AVCOL_RANGE_JPEG ? ZIMG_RANGE_FULL : ZIMG_RANGE_LIMITED;
    z->chroma_location = zimg_chroma_location_e(ZimgChroma(loc));
    // The matrix only, as swscale does: no change of primaries or curve.
    z->transfer_characteristics = ZIMG_TRANSFER_UNSPECIFIED;
    z->color_primaries = ZIMG_PRIMARIES_UNSPECIFIED;
    return true;
}

// Full-range RGB planes, the buffer's side of a conversion: 8-bit for
// 32-bit buffers, 16-bit for 64-bit ones.
zimg_image_format RgbLayout(int width, int height, BufferDepth depth) {
    const bool deep = depth == BufferDepth::k64;
    zimg_image_format z;
    zimg_image_format_default(&z, ZIMG_API_VERSION);
    z.width = unsigned(width);
    z.height = unsigned(height);
    z.pixel_type = deep ? ZIMG_PIXEL_WORD : ZIMG_PIXEL_BYTE;
    z.depth = deep ? 16 : 8;
    z.color_family = ZIMG_COLOR_RGB;
    z.matrix_coefficients = ZIMG_MATRIX_RGB;
    z.pixel_range = ZIMG_RANGE_FULL;
    z.transfer_characteristics = ZIMG_TRANSFER_UNSPECIFIED;
    z.color_primaries = ZIMG_PRIMARIES_UNSPECIFIED;
    return z;
}

}  // namespace

// A graph with its scratch memory and a ring of RGB rows on the 32-bit
// buffer's side, rebuilt when the shape of the work changes.
bool ZimgGraph::Prepare(const zimg_image_format& in, const zimg_image_format& out, bool wide, bool rgbIn) {
    // Every field either side may set, so no two shapes share a graph.
    const unsigned key[kKeySize] = {in.width, in.height, unsigned(in.pixel_type), in.depth, in.subsample_w,
                                    in.subsample_h, unsigned(in.matrix_coefficients), unsigned(in.pixel_range),
                                    unsigned(in.chroma_location), unsigned(out.pixel_type), out.depth,
                                    out.subsample_w, out.subsample_h, unsigned(out.matrix_coefficients),
                                    unsigned(out.pixel_range), unsigned(out.chroma_location), wide, rgbIn};
    if (graph && std::memcmp(key, key_, sizeof key) == 0) return true;
    zimg_filter_graph_free(graph);
    graph = nullptr;
    zimg_graph_builder_params p;
    zimg_graph_builder_params_default(&p, ZIMG_API_VERSION);
    p.resample_filter_uv = ZIMG_RESIZE_BILINEAR;
    p.dither_type = ZIMG_DITHER_NONE;
    p.cpu_type = wide ? ZIMG_CPU_AUTO_64B : ZIMG_CPU_AUTO;
    graph = zimg_filter_graph_build(&in, &out, &p);
    if (!graph) return false;
    size_t tmpSize = 0;
    unsigned lines = 0;
    if (zimg_filter_graph_get_tmp_size(graph, &tmpSize) ||
        (rgbIn ? zimg_filter_graph_get_input_buffering(graph, &lines)
               : zimg_filter_graph_get_output_buffering(graph, &lines))) {
        zimg_filter_graph_free(graph);
        graph = nullptr;
        return false;
    }
    tmp.assign(tmpSize + kAlign, 0);
    mask = zimg_select_buffer_mask(lines);
    const size_t rows = mask == ZIMG_BUFFER_MAX ? size_t(in.height) : size_t(mask) + 1;
    stride = int((size_t(in.width) * (depth == BufferDepth::k64 ? 2 : 1) + kAlign - 1) / kAlign * kAlign);
    for (auto& r : ring) r.assign(rows * size_t(stride) + kAlign, 0);
    std::memcpy(key_, key, sizeof key);
    return true;
}

ZimgGraph::~ZimgGraph() { zimg_filter_graph_free(graph); }

bool ZimgToArgb::Convert(const AVFrame* src, uint8_t* dst, int dstRowBytes, int width, int height) {
    zimg_image_format in;
    bool wide = false;
    int planes[3];
    Impl& z = *impl_;
    const bool deep = z.depth == BufferDepth::k64;
    if (src->width != width || src->height != height ||
        !PlanarLayout(src, src->colorspace, src->color_range, src->chroma_location, deep, &in, &wide, planes,
                      &z.alpha))
        return false;
    if (!z.Prepare(in, RgbLayout(width, height, z.depth), wide, false)) return false;
    zimg_image_buffer_const zin{};
    zin.version = ZIMG_API_VERSION;
    zimg_image_buffer zout{};
    zout.version = ZIMG_API_VERSION;
    for (int c = 0; c < 3; ++c) {
        zin.plane[c].data = src->data[planes[c]];
        zin.plane[c].stride = src->linesize[planes[c]];
        zin.plane[c].mask = ZIMG_BUFFER_MAX;
        zout.plane[c].data = ZimgGraph::Aligned(z.ring[c]);
        zout.plane[c].stride = z.stride;
        zout.plane[c].mask = z.mask;
    }
    z.out = dst;
    z.outRowBytes = dstRowBytes;
    return zimg_filter_graph_process(z.graph, &zin, &zout, ZimgGraph::Aligned(z.tmp), nullptr, nullptr,
                                     deep ? &Impl::Pack64 : &Impl::Pack, &z) == ZIMG_ERROR_SUCCESS;
}

struct ZimgFromArgb::Impl : ZimgGraph {
    using ZimgGraph::ZimgGraph;
    const uint8_t* in = nullptr;
    int inRowBytes = 0;

    static int Unpack64(void* user, unsigned i, unsigned left, unsigned right);

    // Splits rows into planes as zimg asks for them.
    static int Unpack(void* user, unsigned i, unsigned left, unsigned right) {
        auto* self = static_cast<Impl*>(user);
        auto* r = self->RingRow<uint8_t>(0, i);
        auto* g = self->RingRow<uint8_t>(1, i);
        auto* b = self->RingRow<uint8_t>(2, i);
        const uint8_t* px = self->in + ptrdiff_t(i) * self->inRowBytes;
        unsigned x = left;
#if defined(__SSE2__)
        // Sixteen pixels a step: each channel shifted down, masked, packed.
        const __m128i low = _mm_set1_epi32(0xFF);
        for (; x + 16 <= right; x += 16) {
            const auto* at = reinterpret_cast<const __m128i*>(px + 4 * size_t(x));
            const __m128i p0 = _mm_loadu_si128(at), p1 = _mm_loadu_si128(at + 1);
            const __m128i p2 = _mm_loadu_si128(at + 2), p3 = _mm_loadu_si128(at + 3);
            auto channel = [&](int shift) {
                const __m128i a = _mm_packs_epi32(_mm_and_si128(_mm_srli_epi32(p0, shift), low),
                                                  _mm_and_si128(_mm_srli_epi32(p1, shift), low));
                const __m128i c = _mm_packs_epi32(_mm_and_si128(_mm_srli_epi32(p2, shift), low),
                                                  _mm_and_si128(_mm_srli_epi32(p3, shift), low));
                return _mm_packus_epi16(a, c);
            };
            _mm_storeu_si128(reinterpret_cast<__m128i*>(r + x), channel(8));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(g + x), channel(16));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(b + x), channel(24));
        }
#endif
        for (; x < right; ++x) {
            r[x] = px[4 * x + 1];
            g[x] = px[4 * x + 2];
            b[x] = px[4 * x + 3];
        }
        return 0;
    }
};

// The same from 64-bit buffers: A,R,G,B words into 16-bit planes.
int ZimgFromArgb::Impl::Unpack64(void* user, unsigned i, unsigned left, unsigned right) {
    auto* self = static_cast<Impl*>(user);
    auto* r = self->RingRow<uint16_t>(0, i);
    auto* g = self->RingRow<uint16_t>(1, i);
    auto* b = self->RingRow<uint16_t>(2, i);
    const uint8_t* px = self->in + ptrdiff_t(i) * self->inRowBytes;
    unsigned x = left;
#if defined(__SSE2__)
    // Eight pixels a step: two 4x4 word transposes.
    for (; x + 8 <= right; x += 8) {
        const auto* at = reinterpret_cast<const __m128i*>(px + 8 * size_t(x));
        auto transpose = [](__m128i p0, __m128i p1, __m128i* ar, __m128i* gb) {
            const __m128i lo = _mm_unpacklo_epi16(p0, p1), hi = _mm_unpackhi_epi16(p0, p1);
            *ar = _mm_unpacklo_epi16(lo, hi);  // A0..A3 R0..R3
            *gb = _mm_unpackhi_epi16(lo, hi);  // G0..G3 B0..B3
        };
        __m128i ar0, gb0, ar1, gb1;
        transpose(_mm_loadu_si128(at), _mm_loadu_si128(at + 1), &ar0, &gb0);
        transpose(_mm_loadu_si128(at + 2), _mm_loadu_si128(at + 3), &ar1, &gb1);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(r + x), _mm_unpackhi_epi64(ar0, ar1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(g + x), _mm_unpacklo_epi64(gb0, gb1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(b + x), _mm_unpackhi_epi64(gb0, gb1));
    }
#endif
    for (; x < right; ++x) {
        uint64_t v;
        std::memcpy(&v, px + 8 * size_t(x), 8);
        r[x] = uint16_t(v >> 16);
        g[x] = uint16_t(v >> 32);
        b[x] = uint16_t(v >> 48);
    }
    const AlphaPlane& a = self->alpha;
    if (a.data) {
        uint8_t* row = a.data + ptrdiff_t(i) * a.stride;
        for (x = left; x < right; ++x) {
            uint16_t word;
            std::memcpy(&word, px + 8 * size_t(x), 2);
            const uint32_t v = (uint32_t(word) * uint32_t(a.max) + 32767u) / 65535u;
            if (a.max == 255) row[x] = uint8_t(v);
            else reinterpret_cast<uint16_t*>(row)[x] = uint16_t(v);
        }
    }
    return 0;
}

ZimgFromArgb::ZimgFromArgb(BufferDepth depth) : impl_(new Impl(depth)) {}
ZimgFromArgb::~ZimgFromArgb() { delete impl_; }

bool ZimgFromArgb::Convert(const uint8_t* src, int srcRowBytes, AVFrame* dst) {
    zimg_image_format out;
    bool wide = false;
    int planes[3];
    Impl& z = *impl_;
    const bool deep = z.depth == BufferDepth::k64;
    if (!PlanarLayout(dst, dst->colorspace, dst->color_range, dst->chroma_location, deep, &out, &wide, planes,
                      &z.alpha))
        return false;
    if (!z.Prepare(RgbLayout(dst->width, dst->height, z.depth), out, wide, true)) return false;
    zimg_image_buffer_const zin{};
    zin.version = ZIMG_API_VERSION;
    zimg_image_buffer zout{};
    zout.version = ZIMG_API_VERSION;
    for (int c = 0; c < 3; ++c) {
        zin.plane[c].data = ZimgGraph::Aligned(z.ring[c]);
        zin.plane[c].stride = z.stride;
        zin.plane[c].mask = z.mask;
        zout.plane[c].data = dst->data[planes[c]];
        zout.plane[c].stride = dst->linesize[planes[c]];
        zout.plane[c].mask = ZIMG_BUFFER_MAX;
    }
    z.in = src;
    z.inRowBytes = srcRowBytes;
    return zimg_filter_graph_process(z.graph, &zin, &zout, ZimgGraph::Aligned(z.tmp),
                                     deep ? &Impl::Unpack64 : &Impl::Unpack, &z, nullptr,
                                     nullptr) == ZIMG_ERROR_SUCCESS;
}
