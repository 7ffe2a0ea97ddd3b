#include "app/convert/Conversions.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "app/AppError.h"
#include "app/convert/ColourSpaces.h"

ArgbConverter::~ArgbConverter() = default;

void ArgbConverter::Convert(const AVFrame* src, uint8_t* dst, int dstRowBytes, int width, int height,
                            bool fast) {
    const auto fmt = AVPixelFormat(src->format);
    if (!fast && !tableDriven_ && zimg_.Convert(src, dst, dstRowBytes, width, height)) return;
    int flags = SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT;
    if (fast) flags = SWS_FAST_BILINEAR;
    else if (tableDriven_) flags = SWS_BICUBIC;
    const bool yuv = IsYuv(fmt);
    const bool deep = depth_ == BufferDepth::k64;
    // swscale has no 64-bit A,R,G,B: it writes R,G,B,A words, turned in place.
    SwsContext* sws = scaler_.Get(src->width, src->height, fmt, width, height,
                                  deep ? AV_PIX_FMT_RGBA64 : AV_PIX_FMT_ARGB, flags,
                                  yuv ? MatrixOf(src->colorspace).sws : -1,
                                  yuv && IsFullRangeYuv(fmt, src->color_range), yuv ? SWS_CS_DEFAULT : -1, true);
    AVFrame* out = av_frame_alloc();
    if (!out) throw AppError("out of memory");
    out->format = deep ? AV_PIX_FMT_RGBA64 : AV_PIX_FMT_ARGB;
    out->width = width;
    out->height = height;
    out->data[0] = dst;
    out->linesize[0] = dstRowBytes;
    const bool ok = sws && scaler_.Scale(src, out);
    av_frame_free(&out);
    if (!ok) {
        const std::string name = av_get_pix_fmt_name(fmt) ? av_get_pix_fmt_name(fmt) : "?";
        const auto size = [](int w, int h) { return std::to_string(w) + "x" + std::to_string(h); };
        if (src->width != width || src->height != height)
            throw AppError("--size: cannot scale " + size(src->width, src->height) + " frames to " +
                           size(width, height) + ": " + AVErrorText(scaler_.LastError()));
        throw AppError("cannot convert frames of pixel format " + name + ": " + AVErrorText(scaler_.LastError()));
    }
    if (deep)
        for (int y = 0; y < height; ++y) Rgba64ToArgb64(dst + ptrdiff_t(y) * dstRowBytes, width);
}

