// The fast conversion paths against swscale's plain single-threaded one, on
// odd sizes, and the count that finds frames a decoder dropped.
#include "app/media/Media.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include "tests/app/AppTestSupport.h"

namespace {

struct Shape {
    AVPixelFormat format;
    int w, h;
};

// Noisy luma, smooth chroma: chroma interpolation then differs between
// libraries by far less than a code.
FramePtr MakeYuv(const Shape& s, int align) {
    FramePtr f(av_frame_alloc());
    f->format = s.format;
    f->width = s.w;
    f->height = s.h;
    f->colorspace = AVCOL_SPC_BT709;
    if (av_frame_get_buffer(f.get(), align) < 0) return nullptr;
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(s.format);
    const int depth = d->comp[0].depth, scale = 1 << (depth - 8);
    uint32_t seed = 99;
    for (int c = 0; c < 3; ++c) {
        const int cw = c ? AV_CEIL_RSHIFT(s.w, d->log2_chroma_w) : s.w;
        const int ch = c ? AV_CEIL_RSHIFT(s.h, d->log2_chroma_h) : s.h;
        for (int y = 0; y < ch; ++y)
            for (int x = 0; x < cw; ++x) {
                seed = seed * 1664525u + 1013904223u;
                const double v = c == 0 ? 16 + 219 * (0.3 + 0.4 * (seed >> 8) / double(1 << 24))
                                        : 128 + 30 * std::sin(0.2 * x + (c == 1 ? 0.13 : -0.17) * y);
                const int code = int(std::lround(v * scale));
                uint8_t* row = f->data[c] + ptrdiff_t(y) * f->linesize[c];
                if (depth == 8) row[x] = uint8_t(code);
                else reinterpret_cast<uint16_t*>(row)[x] = uint16_t(code);
            }
    }
    return f;
}

// What swscale makes of it alone, unthreaded: the path used before.
std::vector<uint8_t> PlainArgb(const AVFrame* f, int w, int h) {
    SwsContext* c = sws_getContext(f->width, f->height, AVPixelFormat(f->format), w, h, AV_PIX_FMT_ARGB,
                                   SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr, nullptr, nullptr);
    sws_setColorspaceDetails(c, sws_getCoefficients(SWS_CS_ITU709), 0, sws_getCoefficients(SWS_CS_DEFAULT), 1, 0,
                             1 << 16, 1 << 16);
    std::vector<uint8_t> out(size_t(w) * h * 4);
    uint8_t* planes[4] = {out.data()};
    int strides[4] = {w * 4};
    sws_scale(c, f->data, f->linesize, 0, f->height, planes, strides);
    sws_freeContext(c);
    return out;
}

int MaxDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    int e = 0;
    for (size_t i = 0; i < a.size(); ++i) e = std::max(e, std::abs(int(a[i]) - int(b[i])));
    return e;
}

const Shape kShapes[] = {
    {AV_PIX_FMT_YUV420P, 37, 23},     {AV_PIX_FMT_YUV422P, 37, 23},     {AV_PIX_FMT_YUV444P, 37, 23},
    {AV_PIX_FMT_YUV420P10LE, 37, 23}, {AV_PIX_FMT_YUV422P10LE, 35, 17}, {AV_PIX_FMT_YUV444P10LE, 35, 17},
    {AV_PIX_FMT_YUV420P, 1, 1},       {AV_PIX_FMT_YUV420P, 641, 3},
};

}  // namespace

TEST(Conversions, FastPathsStayWithinOneCodeOfThePlainOne) {
    for (const Shape& s : kShapes) {
        SCOPED_TRACE(std::string(av_get_pix_fmt_name(s.format)) + " " + std::to_string(s.w) + "x" +
                     std::to_string(s.h));
        // Rows of 64- and 32-byte multiples take zimg's two kinds of code;
        // rows of any length (align 1) fall back to swscale.
        for (const int align : {64, 32, 1}) {
            FramePtr f = MakeYuv(s, align);
            ASSERT_TRUE(f);
            const std::vector<uint8_t> plain = PlainArgb(f.get(), s.w, s.h);
            std::vector<uint8_t> fast(plain.size() + 4 * 3, 0xEE);  // padding at the end must stay
            ArgbConverter converter;
            converter.Convert(f.get(), fast.data(), s.w * 4, s.w, s.h);
            EXPECT_TRUE(std::all_of(fast.end() - 12, fast.end(), [](uint8_t b) { return b == 0xEE; }));
            fast.resize(plain.size());
            EXPECT_LE(MaxDifference(fast, plain), 1) << "align " << align;
            for (size_t i = 0; i < fast.size(); i += 4) ASSERT_EQ(fast[i], 255);
            // The table-driven option is allowed a few codes.
            std::vector<uint8_t> quick(plain.size());
            ArgbConverter(true).Convert(f.get(), quick.data(), s.w * 4, s.w, s.h);
            EXPECT_LE(MaxDifference(quick, plain), 8);
        }
        // Scaling goes through threaded swscale, which must give the plain bytes.
        FramePtr f = MakeYuv(s, 64);
        std::vector<uint8_t> scaled(size_t(19) * 11 * 4);
        ArgbConverter().Convert(f.get(), scaled.data(), 19 * 4, 19, 11);
        EXPECT_EQ(scaled, PlainArgb(f.get(), 19, 11));
    }
}

TEST(Conversions, ThreadedEncodingConversionEqualsThePlainOne) {
    for (const AVPixelFormat to : {AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV444P10LE, AV_PIX_FMT_RGB24}) {
        const int w = 333, h = 77;
        const std::string argb = NoiseBytes(size_t(w) * h * 4, 5);
        const bool yuv = to != AV_PIX_FMT_RGB24;
        ThreadedScaler scaler;
        const int flags = SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT;
        ASSERT_NE(scaler.Get(w, h, AV_PIX_FMT_ARGB, w, h, to, flags, yuv ? SWS_CS_DEFAULT : -1, true,
                             yuv ? SWS_CS_ITU709 : -1, false), nullptr);
        FramePtr in(av_frame_alloc()), threaded(av_frame_alloc()), plain(av_frame_alloc());
        in->format = AV_PIX_FMT_ARGB;
        in->width = w;
        in->height = h;
        in->data[0] = reinterpret_cast<uint8_t*>(const_cast<char*>(argb.data()));
        in->linesize[0] = w * 4;
        for (AVFrame* f : {threaded.get(), plain.get()}) {
            f->format = to;
            f->width = w;
            f->height = h;
            ASSERT_GE(av_frame_get_buffer(f, 0), 0);
        }
        ASSERT_TRUE(scaler.Scale(in.get(), threaded.get()));
        EXPECT_EQ(in->buf[0], nullptr) << "the caller's buffer is not kept";

        SwsContext* c = sws_getContext(w, h, AV_PIX_FMT_ARGB, w, h, to, flags, nullptr, nullptr, nullptr);
        if (yuv)
            sws_setColorspaceDetails(c, sws_getCoefficients(SWS_CS_DEFAULT), 1, sws_getCoefficients(SWS_CS_ITU709), 0,
                                     0, 1 << 16, 1 << 16);
        sws_scale(c, in->data, in->linesize, 0, h, plain->data, plain->linesize);
        sws_freeContext(c);
        const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(to);
        for (int p = 0; p < (yuv ? 3 : 1); ++p) {
            const int rows = p ? AV_CEIL_RSHIFT(h, d->log2_chroma_h) : h;
            const int bytes = av_image_get_linesize(to, w, p);
            for (int y = 0; y < rows; ++y)
                ASSERT_EQ(std::memcmp(threaded->data[p] + ptrdiff_t(y) * threaded->linesize[p],
                                      plain->data[p] + ptrdiff_t(y) * plain->linesize[p], size_t(bytes)), 0)
                    << av_get_pix_fmt_name(to) << " plane " << p << " row " << y;
        }
    }
}

// Grey noise over smooth colour: the noise moves luma only, so chroma
// filters that differ between libraries differ by far less than a code.
std::vector<uint8_t> NoisyArgb(int w, int h) {
    std::vector<uint8_t> argb(size_t(w) * h * 4);
    uint32_t seed = 7;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int grey = int(seed >> 27) - 16;  // -16..15
            uint8_t* p = &argb[(size_t(y) * w + x) * 4];
            p[0] = 0x5A;  // alpha is left out
            for (int c = 0; c < 3; ++c)
                p[1 + c] = uint8_t(128 + grey + int(std::lround(60 * std::sin(0.03 * x + 0.02 * y + 2.1 * c))));
        }
    return argb;
}

TEST(Conversions, ZimgEncodingConversionStaysWithinOneCodeOfSwscale) {
    for (const AVPixelFormat to : {AV_PIX_FMT_YUV420P, AV_PIX_FMT_YUV422P, AV_PIX_FMT_YUV444P,
                                   AV_PIX_FMT_YUV420P10LE, AV_PIX_FMT_YUV444P10LE}) {
        for (const auto& [w, h] : {std::pair{38, 24}, std::pair{642, 4}, std::pair{2, 2}, std::pair{37, 23}}) {
            SCOPED_TRACE(std::string(av_get_pix_fmt_name(to)) + " " + std::to_string(w) + "x" + std::to_string(h));
            std::vector<uint8_t> argb = NoisyArgb(w, h);
            const int rowBytes = w * 4 + 16;  // padded rows, as the plug-in's buffers have
            std::vector<uint8_t> padded(size_t(rowBytes) * h, 0xEE);
            for (int y = 0; y < h; ++y) std::memcpy(&padded[size_t(y) * rowBytes], &argb[size_t(y) * w * 4], w * 4);
            FramePtr fast(av_frame_alloc()), plain(av_frame_alloc());
            for (AVFrame* f : {fast.get(), plain.get()}) {
                f->format = to;
                f->width = w;
                f->height = h;
                f->colorspace = AVCOL_SPC_BT709;
                f->color_range = AVCOL_RANGE_MPEG;
                ASSERT_GE(av_frame_get_buffer(f, 64), 0);
            }
            const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(to);
            ZimgFromArgb zimg;
            const bool odd = (w % 2 && d->log2_chroma_w) || (h % 2 && d->log2_chroma_h);
            // zimg takes no odd sizes of subsampled chroma; swscale does them.
            ASSERT_EQ(zimg.Convert(padded.data(), rowBytes, fast.get()), !odd);
            if (odd) continue;
            SwsContext* c = sws_getContext(w, h, AV_PIX_FMT_ARGB, w, h, to,
                                           SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr, nullptr,
                                           nullptr);
            sws_setColorspaceDetails(c, sws_getCoefficients(SWS_CS_DEFAULT), 1, sws_getCoefficients(SWS_CS_ITU709),
                                     0, 0, 1 << 16, 1 << 16);
            const uint8_t* src[4] = {padded.data()};
            const int srcStride[4] = {rowBytes};
            sws_scale(c, src, srcStride, 0, h, plain->data, plain->linesize);
            sws_freeContext(c);
            const bool wide = d->comp[0].depth > 8;
            for (int p = 0; p < 3; ++p) {
                const int rows = p ? AV_CEIL_RSHIFT(h, d->log2_chroma_h) : h;
                const int cols = p ? AV_CEIL_RSHIFT(w, d->log2_chroma_w) : w;
                int worst = 0;
                for (int y = 0; y < rows; ++y)
                    for (int x = 0; x < cols; ++x) {
                        auto at = [&](const AVFrame* f) {
                            const uint8_t* row = f->data[p] + ptrdiff_t(y) * f->linesize[p];
                            return wide ? int(reinterpret_cast<const uint16_t*>(row)[x]) : int(row[x]);
                        };
                        worst = std::max(worst, std::abs(at(fast.get()) - at(plain.get())));
                    }
                EXPECT_LE(worst, 1 << (d->comp[0].depth - 8)) << "plane " << p;  // one 8-bit code
            }
        }
    }
    // Frames zimg cannot take are left to swscale.
    FramePtr packed(av_frame_alloc());
    packed->format = AV_PIX_FMT_NV12;
    packed->width = packed->height = 16;
    ASSERT_GE(av_frame_get_buffer(packed.get(), 64), 0);
    std::vector<uint8_t> argb = NoisyArgb(16, 16);
    EXPECT_FALSE(ZimgFromArgb().Convert(argb.data(), 64, packed.get()));
}

namespace {

// Random samples of the format's depth in every plane (alpha included).
FramePtr NoisyFrame(AVPixelFormat format, int w, int h, uint32_t seed) {
    FramePtr f(av_frame_alloc());
    f->format = format;
    f->width = w;
    f->height = h;
    f->colorspace = AVCOL_SPC_BT709;
    f->color_range = AVCOL_RANGE_MPEG;
    if (av_frame_get_buffer(f.get(), 64) < 0) return nullptr;
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
    for (int c = 0; c < d->nb_components; ++c) {
        const int depth = d->comp[c].depth, plane = d->comp[c].plane;
        const bool rgb = d->flags & AV_PIX_FMT_FLAG_RGB, chroma = (c == 1 || c == 2) && !rgb;
        const int cw = chroma ? AV_CEIL_RSHIFT(w, d->log2_chroma_w) : w;
        const int ch = chroma ? AV_CEIL_RSHIFT(h, d->log2_chroma_h) : h;
        for (int y = 0; y < ch; ++y)
            for (int x = 0; x < cw; ++x) {
                seed = seed * 1664525u + 1013904223u;
                // RGB and alpha anywhere; YUV within the colours RGB can hold.
                int v = int(seed >> (32 - depth));
                if (chroma) v = (1 << (depth - 1)) + (v >> 3) - (1 << (depth - 4));
                else if (!rgb && c == 0) v = (77 << (depth - 8)) + (v >> 1) * 2 / 5;
                uint8_t* row = f->data[plane] + ptrdiff_t(y) * f->linesize[plane];
                if (depth == 8) row[x] = uint8_t(v);
                else reinterpret_cast<uint16_t*>(row)[x] = uint16_t(v);
            }
    }
    return f;
}

int Sample(const AVFrame* f, int plane, int x, int y) {
    const uint8_t* row = f->data[plane] + ptrdiff_t(y) * f->linesize[plane];
    return av_pix_fmt_desc_get(AVPixelFormat(f->format))->comp[0].depth > 8
               ? int(reinterpret_cast<const uint16_t*>(row)[x])
               : int(row[x]);
}

}  // namespace

// 64-bit buffers: decoded frames in and back out at their own depth lose at
// most the last code (planar RGB nothing), on odd sizes and padded rows,
// through zimg's and through swscale's path.
TEST(Conversions, DeepBuffersKeepEverySourceLevel) {
    for (const AVPixelFormat fmt : {AV_PIX_FMT_YUV420P10LE, AV_PIX_FMT_YUV422P10LE, AV_PIX_FMT_YUV444P12LE,
                                    AV_PIX_FMT_YUV444P, AV_PIX_FMT_GBRP10LE, AV_PIX_FMT_GBRP16LE}) {
        const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(fmt);
        const bool rgb = d->flags & AV_PIX_FMT_FLAG_RGB;
        for (const auto& [w, h] : {std::pair{38, 24}, std::pair{37, 23}, std::pair{2, 2}}) {
            if ((w % 2 && d->log2_chroma_w) || (h % 2 && d->log2_chroma_h)) continue;
            SCOPED_TRACE(std::string(d->name) + " " + std::to_string(w) + "x" + std::to_string(h));
            FramePtr in = NoisyFrame(fmt, w, h, 7), back = NoisyFrame(fmt, w, h, 8);
            const int rowBytes = w * 8 + 24;
            std::vector<uint8_t> argb(size_t(rowBytes) * h, 0xEE);
            ArgbConverter(false, BufferDepth::k64).Convert(in.get(), argb.data(), rowBytes, w, h);
            for (int y = 0; y < h; ++y) {
                uint16_t alpha;
                std::memcpy(&alpha, &argb[size_t(y) * rowBytes + 8 * size_t(w - 1)], 2);
                ASSERT_EQ(alpha, 65535);
                ASSERT_EQ(argb[size_t(y) * rowBytes + 8 * size_t(w)], 0xEE) << "row padding";
            }
            ASSERT_TRUE(ZimgFromArgb(BufferDepth::k64).Convert(argb.data(), rowBytes, back.get()));
            // Luma and RGB come back to the code; subsampled chroma is
            // resampled on the way, so not compared.
            for (int c = 0; c < 3; ++c) {
                const bool chroma = c > 0 && !rgb;
                const int cw = chroma ? AV_CEIL_RSHIFT(w, d->log2_chroma_w) : w;
                const int ch = chroma ? AV_CEIL_RSHIFT(h, d->log2_chroma_h) : h;
                if (chroma && (d->log2_chroma_w || d->log2_chroma_h)) continue;
                const int allowed = rgb ? 0 : 1;
                int worst = 0;
                for (int y = 0; y < ch; ++y)
                    for (int x = 0; x < cw; ++x)
                        worst = std::max(worst, std::abs(Sample(in.get(), d->comp[c].plane, x, y) -
                                                         Sample(back.get(), d->comp[c].plane, x, y)));
                EXPECT_LE(worst, allowed) << "component " << c;
            }
        }
    }
    // Alpha goes along at its own depth, both ways; swscale, which takes
    // what zimg declines (here odd sizes of subsampled chroma), gives its
    // R,G,B,A words as A,R,G,B.
    FramePtr alpha = NoisyFrame(AV_PIX_FMT_YUVA444P10LE, 22, 5, 9), back = NoisyFrame(AV_PIX_FMT_YUVA444P10LE, 22, 5, 1);
    FramePtr odd = NoisyFrame(AV_PIX_FMT_YUVA420P10LE, 21, 5, 9);
    std::vector<uint16_t> viaZimg(22 * 5 * 4), viaSws(21 * 5 * 4);
    ArgbConverter(false, BufferDepth::k64).Convert(alpha.get(), reinterpret_cast<uint8_t*>(viaZimg.data()), 22 * 8, 22, 5);
    ArgbConverter(false, BufferDepth::k64).Convert(odd.get(), reinterpret_cast<uint8_t*>(viaSws.data()), 21 * 8, 21, 5);
    ASSERT_TRUE(ZimgFromArgb(BufferDepth::k64).Convert(reinterpret_cast<uint8_t*>(viaZimg.data()), 22 * 8, back.get()));
    for (int i = 0; i < 22 * 5; ++i) {
        const int x = i % 22, y = i / 22, a = Sample(alpha.get(), 3, x, y);
        EXPECT_EQ(viaZimg[4 * size_t(i)], (a * 65535 + 511) / 1023) << i;
        EXPECT_EQ(Sample(back.get(), 3, x, y), a) << i;
        if (x < 21) {
            EXPECT_NEAR(viaSws[4 * size_t(y * 21 + x)], Sample(odd.get(), 3, x, y) * 65535.0 / 1023, 64) << i;
        }
    }
}

TEST(DropDetector, CountsFramesThatNeverCameBack) {
    DropDetector d;
    // Every packet back, in another order: nothing lost.
    for (const int64_t pts : {0, 3, 1, 2}) d.Sent(pts);
    for (const int64_t pts : {0, 1, 2, 3}) d.Received(pts, false);
    EXPECT_EQ(d.Lost(), 0);
    // After a seek the decoder skips what comes before its first frame.
    d.Restart();
    for (const int64_t pts : {8, 6, 7, 11, 9, 10}) d.Sent(pts);
    for (const int64_t pts : {8, 9, 10, 11}) d.Received(pts, false);
    EXPECT_EQ(d.Lost(), 0);
    // One frame in the middle does not come back.
    d.Restart();
    for (const int64_t pts : {0, 1, 2, 3, 4}) d.Sent(pts);
    for (const int64_t pts : {0, 1, 3, 4}) d.Received(pts, false);
    EXPECT_EQ(d.Lost(), 1);
    // Without time stamps the count still holds.
    d.Restart();
    for (int i = 0; i < 3; ++i) d.Sent(AV_NOPTS_VALUE);
    d.Received(AV_NOPTS_VALUE, false);
    EXPECT_EQ(d.Lost(), 2);
    // Two fields make one frame; codecs with hidden frames are not counted.
    d.Restart();
    for (const int64_t pts : {0, 1, 2, 3}) d.Sent(pts);
    d.Received(0, true);
    d.Received(2, true);
    EXPECT_EQ(d.Lost(), 0);
    // After a seek, what is decoded only to reach the target neither starts
    // the count nor counts as lost, even where the decoder refused it (an
    // open GOP's pictures that refer to frames before the seek point)...
    const struct {
        std::vector<int64_t> sent, received;
        int64_t lost;
    } seeks[] = {
        {{4, 2, 3, 10, 8, 9, 12, 11}, {2, 4, 9, 10, 11, 12}, 0},
        {{8, 10, 11, 12}, {8, 10, 12}, 1},  // ...but a frame past it does
        {{8, 10, 11}, {8}, 2},              // nothing came back from the target on
    };
    for (const auto& c : seeks) {
        d.Restart(true, 10);
        for (const int64_t pts : c.sent) d.Sent(pts);
        for (const int64_t pts : c.received) d.Received(pts, false);
        EXPECT_EQ(d.Lost(), c.lost) << c.sent.size();
    }
    d.Restart(false);
    d.Sent(0);
    d.Sent(1);
    EXPECT_EQ(d.Lost(), 0);
}
