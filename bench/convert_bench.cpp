// Colour conversions between YUV and the plug-in's 32-bit A,R,G,B buffer:
// time per frame and the largest error against the same conversion done in
// doubles, for libswscale, zimg and libyuv; and the program's own into and
// out of the 64-bit buffers of deep frames.
//
// usage: vexolumen_convert_bench [WIDTHxHEIGHT] [RUNS] [FORMAT]   (default 1920x1080 5, all formats)
#include <zimg.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "libyuv/convert.h"
#include "libyuv/convert_argb.h"
#include "libyuv/convert_from_argb.h"

#include "app/convert/Conversions.h"

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace {

struct Format {
    const char* name;
    AVPixelFormat av;
    int bits, ssx, ssy;  // log2 chroma subsampling
};
const Format kFormats[] = {
    {"yuv420p", AV_PIX_FMT_YUV420P, 8, 1, 1},       {"yuv422p", AV_PIX_FMT_YUV422P, 8, 1, 0},
    {"yuv444p", AV_PIX_FMT_YUV444P, 8, 0, 0},       {"yuv420p10", AV_PIX_FMT_YUV420P10LE, 10, 1, 1},
    {"yuv422p10", AV_PIX_FMT_YUV422P10LE, 10, 1, 0}, {"yuv444p10", AV_PIX_FMT_YUV444P10LE, 10, 0, 0},
};

struct Matrix {
    double kr, kb;
};
const Matrix k709{0.2126, 0.0722}, k601{0.299, 0.114};

// A planar YUV picture in 16-bit samples whatever the depth, plus the view
// in the library's own layout.
struct Yuv {
    const Format* f;
    int w, h, cw, ch;
    std::vector<uint16_t> p[3];
    AVFrame* frame = nullptr;  // samples in the format's own width

    Yuv(const Format& fmt, int width, int height) : f(&fmt), w(width), h(height) {
        cw = (w + (1 << f->ssx) - 1) >> f->ssx;
        ch = (h + (1 << f->ssy) - 1) >> f->ssy;
        p[0].resize(size_t(w) * h);
        p[1].resize(size_t(cw) * ch);
        p[2].resize(size_t(cw) * ch);
        frame = av_frame_alloc();
        frame->format = f->av;
        frame->width = w;
        frame->height = h;
        av_frame_get_buffer(frame, 64);
    }
    ~Yuv() { av_frame_free(&frame); }
    int PW(int c) const { return c ? cw : w; }
    int PH(int c) const { return c ? ch : h; }
    void ToFrame() {
        for (int c = 0; c < 3; ++c)
            for (int y = 0; y < PH(c); ++y) {
                uint8_t* row = frame->data[c] + ptrdiff_t(y) * frame->linesize[c];
                for (int x = 0; x < PW(c); ++x) {
                    const uint16_t v = p[c][size_t(y) * PW(c) + x];
                    if (f->bits == 8) row[x] = uint8_t(v);
                    else reinterpret_cast<uint16_t*>(row)[x] = v;
                }
            }
    }
    void FromFrame() {
        for (int c = 0; c < 3; ++c)
            for (int y = 0; y < PH(c); ++y) {
                const uint8_t* row = frame->data[c] + ptrdiff_t(y) * frame->linesize[c];
                for (int x = 0; x < PW(c); ++x)
                    p[c][size_t(y) * PW(c) + x] =
                        f->bits == 8 ? row[x] : reinterpret_cast<const uint16_t*>(row)[x];
            }
    }
};

// Detailed luma, smooth chroma, all inside the RGB cube: interpolation of
// the chroma planes then differs between libraries by far less than a code,
// so what is left is the arithmetic.
void MakeSource(Yuv& yuv) {
    const double s = double(1 << (yuv.f->bits - 8));
    uint32_t seed = 12345;
    for (size_t i = 0; i < yuv.p[0].size(); ++i) {
        seed = seed * 1664525u + 1013904223u;
        yuv.p[0][i] = uint16_t(std::lround((16 + 219 * (0.3 + 0.4 * double(seed >> 8) / double(1 << 24))) * s));
    }
    for (int y = 0; y < yuv.ch; ++y)
        for (int x = 0; x < yuv.cw; ++x) {
            const double u = 0.15 * std::sin(x * 0.011 + y * 0.007), v = 0.15 * std::cos(x * 0.009 - y * 0.013);
            yuv.p[1][size_t(y) * yuv.cw + x] = uint16_t(std::lround((128 + 224 * u) * s));
            yuv.p[2][size_t(y) * yuv.cw + x] = uint16_t(std::lround((128 + 224 * v) * s));
        }
}

// Chroma at a luma position, bilinear between centre-sited samples.
double ChromaAt(const Yuv& yuv, int c, int x, int y) {
    const double fx = std::clamp((x + 0.5) / (1 << yuv.f->ssx) - 0.5, 0.0, double(yuv.cw - 1));
    const double fy = std::clamp((y + 0.5) / (1 << yuv.f->ssy) - 0.5, 0.0, double(yuv.ch - 1));
    const int x0 = int(fx), y0 = int(fy), x1 = std::min(x0 + 1, yuv.cw - 1), y1 = std::min(y0 + 1, yuv.ch - 1);
    const double ax = fx - x0, ay = fy - y0;
    auto at = [&](int xx, int yy) { return double(yuv.p[c][size_t(yy) * yuv.cw + xx]); };
    return (at(x0, y0) * (1 - ax) + at(x1, y0) * ax) * (1 - ay) + (at(x0, y1) * (1 - ax) + at(x1, y1) * ax) * ay;
}

// Limited-range YUV to A,R,G,B in doubles: bytes, or 16-bit words for the
// 64-bit buffers of deep frames.
template <typename T = uint8_t>
std::vector<T> ReferenceArgb(const Yuv& yuv, Matrix m) {
    const double s = double(1 << (yuv.f->bits - 8)), kg = 1 - m.kr - m.kb;
    const long top = std::numeric_limits<T>::max();
    std::vector<T> out(size_t(yuv.w) * yuv.h * 4);
    for (int y = 0; y < yuv.h; ++y)
        for (int x = 0; x < yuv.w; ++x) {
            const double l = (yuv.p[0][size_t(y) * yuv.w + x] / s - 16) / 219;
            const double cb = (ChromaAt(yuv, 1, x, y) / s - 128) / 224, cr = (ChromaAt(yuv, 2, x, y) / s - 128) / 224;
            const double r = l + 2 * (1 - m.kr) * cr, b = l + 2 * (1 - m.kb) * cb, g = (l - m.kr * r - m.kb * b) / kg;
            T* px = &out[(size_t(y) * yuv.w + x) * 4];
            px[0] = T(top);
            px[1] = T(std::clamp(std::lround(r * double(top)), 0L, top));
            px[2] = T(std::clamp(std::lround(g * double(top)), 0L, top));
            px[3] = T(std::clamp(std::lround(b * double(top)), 0L, top));
        }
    return out;
}

// A,R,G,B bytes to limited-range YUV in doubles; chroma is the mean over
// the block each sample stands for.
template <typename T>
void ReferenceYuv(const std::vector<T>& argb, Yuv& yuv, Matrix m) {
    const double s = double(1 << (yuv.f->bits - 8)), kg = 1 - m.kr - m.kb;
    const double top = std::numeric_limits<T>::max();
    std::vector<double> cb(size_t(yuv.w) * yuv.h), cr(cb.size());
    for (size_t i = 0; i < cb.size(); ++i) {
        const double r = argb[4 * i + 1] / top, g = argb[4 * i + 2] / top, b = argb[4 * i + 3] / top;
        const double l = m.kr * r + kg * g + m.kb * b;
        yuv.p[0][i] = uint16_t(std::lround((16 + 219 * l) * s));
        cb[i] = (b - l) / (2 * (1 - m.kb));
        cr[i] = (r - l) / (2 * (1 - m.kr));
    }
    for (int y = 0; y < yuv.ch; ++y)
        for (int x = 0; x < yuv.cw; ++x) {
            double su = 0, sv = 0;
            int n = 0;
            for (int dy = 0; dy < (1 << yuv.f->ssy); ++dy)
                for (int dx = 0; dx < (1 << yuv.f->ssx); ++dx) {
                    const int xx = std::min((x << yuv.f->ssx) + dx, yuv.w - 1);
                    const int yy = std::min((y << yuv.f->ssy) + dy, yuv.h - 1);
                    su += cb[size_t(yy) * yuv.w + xx];
                    sv += cr[size_t(yy) * yuv.w + xx];
                    ++n;
                }
            yuv.p[1][size_t(y) * yuv.cw + x] = uint16_t(std::lround((128 + 224 * su / n) * s));
            yuv.p[2][size_t(y) * yuv.cw + x] = uint16_t(std::lround((128 + 224 * sv / n) * s));
        }
}

template <typename T>
int MaxError(const std::vector<T>& a, const std::vector<T>& b) {
    int e = 0;
    for (size_t i = 0; i < a.size(); ++i) e = std::max(e, std::abs(int(a[i]) - int(b[i])));
    return e;
}
int MaxError(const Yuv& a, const Yuv& b) {
    int e = 0;
    for (int c = 0; c < 3; ++c)
        for (size_t i = 0; i < a.p[c].size(); ++i) e = std::max(e, std::abs(int(a.p[c][i]) - int(b.p[c][i])));
    return e;
}

double Seconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
double Best(int runs, const std::function<void()>& job) {
    job();  // warm up
    double best = 1e9;
    for (int i = 0; i < runs; ++i) {
        const double t0 = Seconds();
        job();
        best = std::min(best, Seconds() - t0);
    }
    return best;
}

// --- libswscale ---------------------------------------------------------------
SwsContext* NewSws(int w, int h, AVPixelFormat from, AVPixelFormat to, int flags, int threads, bool toRgb) {
    SwsContext* c = sws_alloc_context();
    av_opt_set_int(c, "srcw", w, 0);
    av_opt_set_int(c, "srch", h, 0);
    av_opt_set_int(c, "dstw", w, 0);
    av_opt_set_int(c, "dsth", h, 0);
    av_opt_set_pixel_fmt(c, "src_format", from, 0);
    av_opt_set_pixel_fmt(c, "dst_format", to, 0);
    av_opt_set_int(c, "sws_flags", flags, 0);
    av_opt_set_int(c, "threads", threads, 0);
    if (sws_init_context(c, nullptr, nullptr) < 0) return nullptr;
    const int* bt709 = sws_getCoefficients(SWS_CS_ITU709);
    sws_setColorspaceDetails(c, bt709, toRgb ? 0 : 1, bt709, toRgb ? 1 : 0, 0, 1 << 16, 1 << 16);
    return c;
}

// Wraps a caller's buffer as a frame sws_scale_frame writes into in place.
AVFrame* WrapArgb(uint8_t* data, int w, int h) {
    AVFrame* f = av_frame_alloc();
    f->format = AV_PIX_FMT_ARGB;
    f->width = w;
    f->height = h;
    f->data[0] = data;
    f->linesize[0] = w * 4;
    f->buf[0] = av_buffer_create(data, size_t(w) * h * 4, [](void*, uint8_t*) {}, nullptr, 0);
    return f;
}

struct SwsVariant {
    const char* name;
    int flags, threads;
};
const SwsVariant kSws[] = {
    {"sws accurate (bicubic+accurate_rnd+full_chroma_int)", SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, 1},
    {"sws accurate, 2 slice threads", SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, 2},
    {"sws bilinear+accurate_rnd+full_chroma_int, 2 threads", SWS_BILINEAR | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, 2},
    {"sws bicubic (no accurate_rnd, no full_chroma_int)", SWS_BICUBIC, 1},
    {"sws fast_bilinear", SWS_FAST_BILINEAR, 1},
};

// --- zimg ---------------------------------------------------------------------
void ZimgFormat(zimg_image_format& z, const Format* f, int w, int h) {
    zimg_image_format_default(&z, ZIMG_API_VERSION);
    z.width = unsigned(w);
    z.height = unsigned(h);
    z.color_primaries = ZIMG_PRIMARIES_709;
    z.transfer_characteristics = ZIMG_TRANSFER_709;
    if (f) {
        z.pixel_type = f->bits == 8 ? ZIMG_PIXEL_BYTE : ZIMG_PIXEL_WORD;
        z.depth = unsigned(f->bits);
        z.subsample_w = unsigned(f->ssx);
        z.subsample_h = unsigned(f->ssy);
        z.color_family = ZIMG_COLOR_YUV;
        z.matrix_coefficients = ZIMG_MATRIX_709;
        z.pixel_range = ZIMG_RANGE_LIMITED;
        z.chroma_location = ZIMG_CHROMA_CENTER;
    } else {
        z.pixel_type = ZIMG_PIXEL_BYTE;
        z.depth = 8;
        z.color_family = ZIMG_COLOR_RGB;
        z.matrix_coefficients = ZIMG_MATRIX_RGB;
        z.pixel_range = ZIMG_RANGE_FULL;
    }
}

zimg_filter_graph* ZimgGraph(const Format* from, const Format* to, int w, int h) {
    zimg_image_format src, dst;
    ZimgFormat(src, from, w, h);
    ZimgFormat(dst, to, w, h);
    zimg_graph_builder_params p;
    zimg_graph_builder_params_default(&p, ZIMG_API_VERSION);
    p.resample_filter_uv = ZIMG_RESIZE_BILINEAR;
    p.dither_type = ZIMG_DITHER_NONE;
    p.cpu_type = ZIMG_CPU_AUTO_64B;
    return zimg_filter_graph_build(&src, &dst, &p);
}

// Packs zimg's planar rows into A,R,G,B as they come, so the planes stay in cache.
struct ZimgPack {
    std::vector<uint8_t> ring[3];
    unsigned mask = 0;
    int w = 0;
    uint8_t* argb = nullptr;
};
// Splits A,R,G,B rows into zimg's planar ring as it asks for them.
int UnpackRow(void* user, unsigned i, unsigned left, unsigned right) {
    auto* p = static_cast<ZimgPack*>(user);
    const size_t row = i & p->mask;
    uint8_t* r = &p->ring[0][row * p->w];
    uint8_t* g = &p->ring[1][row * p->w];
    uint8_t* b = &p->ring[2][row * p->w];
    const uint8_t* in = p->argb + size_t(i) * p->w * 4;
    for (unsigned x = left; x < right; ++x) {
        r[x] = in[4 * x + 1];
        g[x] = in[4 * x + 2];
        b[x] = in[4 * x + 3];
    }
    return 0;
}

int PackRow(void* user, unsigned i, unsigned left, unsigned right) {
    auto* p = static_cast<ZimgPack*>(user);
    const size_t row = i & p->mask;
    const uint8_t* r = &p->ring[0][row * p->w];
    const uint8_t* g = &p->ring[1][row * p->w];
    const uint8_t* b = &p->ring[2][row * p->w];
    uint8_t* out = p->argb + size_t(i) * p->w * 4;
    for (unsigned x = left; x < right; ++x) {
        out[4 * x] = 255;
        out[4 * x + 1] = r[x];
        out[4 * x + 2] = g[x];
        out[4 * x + 3] = b[x];
    }
    return 0;
}

void Report(const char* dir, const Format& f, const char* lib, double seconds, int w, int h, int err,
            const char* note = "") {
    std::printf("%-9s %-4s %-56s %7.2f ms/frame %6.2f ns/px  max error %d%s\n", f.name, dir, lib, seconds * 1e3,
                seconds * 1e9 / (double(w) * h), err, note);
}

// The program's own conversions into and out of the 64-bit buffers of deep
// frames, zimg both ways. Into them the error is in 16-bit codes (one
// 10-bit code is 64 of them); out of them in codes of the format.
void DeepRows(const Format& f, const Yuv& src, int w, int h, int runs) {
    src.frame->colorspace = AVCOL_SPC_BT709;
    src.frame->color_range = AVCOL_RANGE_MPEG;
    const std::vector<uint16_t> want = ReferenceArgb<uint16_t>(src, k709);
    std::vector<uint16_t> argb(want.size());
    ArgbConverter to(false, BufferDepth::k64);
    const double t = Best(runs, [&] { to.Convert(src.frame, reinterpret_cast<uint8_t*>(argb.data()), w * 8, w, h); });
    Report("to", f, "program, into 64-bit A,R,G,B (error in 16-bit codes)", t, w, h, MaxError(argb, want));
    Yuv wantYuv(f, w, h), got(f, w, h);
    ReferenceYuv(want, wantYuv, k709);
    got.frame->colorspace = AVCOL_SPC_BT709;
    got.frame->color_range = AVCOL_RANGE_MPEG;
    ZimgFromArgb from(BufferDepth::k64);
    const double t2 = Best(runs, [&] { from.Convert(reinterpret_cast<const uint8_t*>(want.data()), w * 8, got.frame); });
    got.FromFrame();
    Report("from", f, "program, from 64-bit A,R,G,B", t2, w, h, MaxError(got, wantYuv));
}

}  // namespace

int main(int argc, char** argv) {
    int w = 1920, h = 1080, runs = 5;
    if (argc > 1 && std::sscanf(argv[1], "%dx%d", &w, &h) != 2) {
        std::fprintf(stderr, "usage: %s [WIDTHxHEIGHT] [RUNS] [FORMAT]\n", argv[0]);
        return 2;
    }
    if (argc > 2) runs = std::max(1, std::atoi(argv[2]));
    const std::string only = argc > 3 ? argv[3] : "";
    std::printf("YUV (BT.709, limited range) <-> 32-bit A,R,G,B at %dx%d, best of %d; error in codes of the "
                "target (8-bit bytes, or 10-bit samples)\n", w, h, runs);
    std::vector<uint8_t> argb(size_t(w) * h * 4);
    for (const Format& f : kFormats) {
        if (!only.empty() && only != f.name) continue;
        Yuv src(f, w, h);
        MakeSource(src);
        src.ToFrame();
        const std::vector<uint8_t> wantArgb = ReferenceArgb(src, k709);

        // YUV to A,R,G,B.
        for (const SwsVariant& v : kSws) {
            SwsContext* c = NewSws(w, h, f.av, AV_PIX_FMT_ARGB, v.flags, v.threads, true);
            AVFrame* dst = WrapArgb(argb.data(), w, h);
            const double t = Best(runs, [&] { sws_scale_frame(c, dst, src.frame); });
            Report("to", f, v.name, t, w, h, MaxError(argb, wantArgb));
            av_frame_free(&dst);
            sws_freeContext(c);
        }
        {
            zimg_filter_graph* g = ZimgGraph(&f, nullptr, w, h);
            size_t tmpSize = 0;
            unsigned lines = 0;
            zimg_filter_graph_get_tmp_size(g, &tmpSize);
            zimg_filter_graph_get_output_buffering(g, &lines);
            std::vector<uint8_t> tmp(tmpSize + 64);
            ZimgPack pack;
            pack.mask = zimg_select_buffer_mask(lines);
            pack.w = w;
            pack.argb = argb.data();
            zimg_image_buffer_const in{};
            in.version = ZIMG_API_VERSION;
            zimg_image_buffer out{};
            out.version = ZIMG_API_VERSION;
            for (int c = 0; c < 3; ++c) {
                in.plane[c] = {src.frame->data[c], src.frame->linesize[c], ZIMG_BUFFER_MAX};
                pack.ring[c].resize(size_t(w) * (pack.mask == ZIMG_BUFFER_MAX ? h : pack.mask + 1) + 64);
                out.plane[c] = {pack.ring[c].data(), w, pack.mask};
            }
            void* aligned = tmp.data() + (64 - reinterpret_cast<uintptr_t>(tmp.data()) % 64) % 64;
            const double t = Best(runs, [&] {
                zimg_filter_graph_process(g, &in, &out, aligned, nullptr, nullptr, PackRow, &pack);
            });
            Report("to", f, "zimg (bilinear chroma), packed row by row", t, w, h, MaxError(argb, wantArgb));
            zimg_filter_graph_free(g);
        }
        {
            std::vector<uint8_t> libArgb(argb.size());
            const double t = Best(runs, [&] {
                const uint8_t *y = src.frame->data[0], *u = src.frame->data[1], *v = src.frame->data[2];
                const int* ls = src.frame->linesize;
                uint8_t* out = libArgb.data();
                const auto* m = &libyuv::kYuvH709Constants;
                if (f.bits == 8 && f.ssy) libyuv::I420ToARGBMatrix(y, ls[0], u, ls[1], v, ls[2], out, w * 4, m, w, h);
                else if (f.bits == 8 && f.ssx) libyuv::I422ToARGBMatrix(y, ls[0], u, ls[1], v, ls[2], out, w * 4, m, w, h);
                else if (f.bits == 8) libyuv::I444ToARGBMatrix(y, ls[0], u, ls[1], v, ls[2], out, w * 4, m, w, h);
                else {
                    auto* y16 = reinterpret_cast<const uint16_t*>(y);
                    auto* u16 = reinterpret_cast<const uint16_t*>(u);
                    auto* v16 = reinterpret_cast<const uint16_t*>(v);
                    if (f.ssy) libyuv::I010ToARGBMatrix(y16, ls[0] / 2, u16, ls[1] / 2, v16, ls[2] / 2, out, w * 4, m, w, h);
                    else if (f.ssx) libyuv::I210ToARGBMatrix(y16, ls[0] / 2, u16, ls[1] / 2, v16, ls[2] / 2, out, w * 4, m, w, h);
                    else libyuv::I410ToARGBMatrix(y16, ls[0] / 2, u16, ls[1] / 2, v16, ls[2] / 2, out, w * 4, m, w, h);
                }
                // libyuv's ARGB is B,G,R,A in memory; the buffer wants A,R,G,B.
                libyuv::ARGBToBGRA(out, w * 4, argb.data(), w * 4, w, h);
            });
            Report("to", f, "libyuv I4xxToARGBMatrix + ARGBToBGRA", t, w, h, MaxError(argb, wantArgb));
        }

        // A,R,G,B to YUV, from the reference picture.
        Yuv want(f, w, h), got(f, w, h);
        ReferenceYuv(wantArgb, want, k709);
        std::vector<uint8_t> in = wantArgb;
        for (const SwsVariant& v : kSws) {
            SwsContext* c = NewSws(w, h, AV_PIX_FMT_ARGB, f.av, v.flags, v.threads, false);
            AVFrame* s = WrapArgb(in.data(), w, h);
            const double t = Best(runs, [&] { sws_scale_frame(c, got.frame, s); });
            got.FromFrame();
            Report("from", f, v.name, t, w, h, MaxError(got, want));
            av_frame_free(&s);
            sws_freeContext(c);
        }
        {
            zimg_filter_graph* g = ZimgGraph(nullptr, &f, w, h);
            size_t tmpSize = 0;
            zimg_filter_graph_get_tmp_size(g, &tmpSize);
            std::vector<uint8_t> tmp(tmpSize + 64), planes[3];
            zimg_image_buffer_const zin{};
            zin.version = ZIMG_API_VERSION;
            zimg_image_buffer zout{};
            zout.version = ZIMG_API_VERSION;
            for (int c = 0; c < 3; ++c) {
                planes[c].resize(size_t(w) * h);
                zin.plane[c] = {planes[c].data(), w, ZIMG_BUFFER_MAX};
                zout.plane[c] = {got.frame->data[c], got.frame->linesize[c], ZIMG_BUFFER_MAX};
            }
            void* aligned = tmp.data() + (64 - reinterpret_cast<uintptr_t>(tmp.data()) % 64) % 64;
            const double t = Best(runs, [&] {
                for (size_t i = 0; i < size_t(w) * h; ++i)
                    for (int c = 0; c < 3; ++c) planes[c][i] = in[4 * i + 1 + c];
                zimg_filter_graph_process(g, &zin, &zout, aligned, nullptr, nullptr, nullptr, nullptr);
            });
            got.FromFrame();
            Report("from", f, "zimg (bilinear chroma), after unpacking", t, w, h, MaxError(got, want));
            unsigned lines = 0;
            zimg_filter_graph_get_input_buffering(g, &lines);
            ZimgPack unpack;
            unpack.mask = zimg_select_buffer_mask(lines);
            unpack.w = w;
            unpack.argb = in.data();
            for (int c = 0; c < 3; ++c) {
                unpack.ring[c].resize(size_t(w) * (unpack.mask == ZIMG_BUFFER_MAX ? h : unpack.mask + 1) + 64);
                zin.plane[c] = {unpack.ring[c].data(), w, unpack.mask};
            }
            const double t2 = Best(runs, [&] {
                zimg_filter_graph_process(g, &zin, &zout, aligned, UnpackRow, &unpack, nullptr, nullptr);
            });
            got.FromFrame();
            Report("from", f, "zimg (bilinear chroma), unpacked row by row", t2, w, h, MaxError(got, want));
            zimg_filter_graph_free(g);
        }
        if (f.bits == 8) {
            // libyuv has only BT.601 limited range this way; it is judged against that.
            Yuv want601(f, w, h);
            ReferenceYuv(wantArgb, want601, k601);
            const double t = Best(runs, [&] {
                uint8_t** d = got.frame->data;
                const int* ls = got.frame->linesize;
                if (f.ssy) libyuv::BGRAToI420(in.data(), w * 4, d[0], ls[0], d[1], ls[1], d[2], ls[2], w, h);
                else {
                    std::vector<uint8_t>& swapped = argb;  // A,R,G,B as libyuv's B,G,R,A
                    libyuv::ARGBToBGRA(in.data(), w * 4, swapped.data(), w * 4, w, h);
                    if (f.ssx) libyuv::ARGBToI422(swapped.data(), w * 4, d[0], ls[0], d[1], ls[1], d[2], ls[2], w, h);
                    else libyuv::ARGBToI444(swapped.data(), w * 4, d[0], ls[0], d[1], ls[1], d[2], ls[2], w, h);
                }
            });
            got.FromFrame();
            Report("from", f, "libyuv BGRAToI420 / ARGBToI42x (BT.601 only)", t, w, h, MaxError(got, want601));
        } else {
            std::printf("%-9s from libyuv: no conversion from 32-bit RGB to 10-bit YUV\n", f.name);
        }
        DeepRows(f, src, w, h, runs);
    }
    return 0;
}
