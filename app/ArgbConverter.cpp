extern "C" {
#include <libavutil/pixdesc.h>
}

#include "app/AppError.h"
#include "app/MediaCommon.h"

ArgbConverter::~ArgbConverter() { sws_freeContext(sws_); }

void ArgbConverter::Convert(const AVFrame* src, uint8_t* dst, int dstRowBytes, int width, int height,
                            bool fast) {
    const auto fmt = AVPixelFormat(src->format);
    const int flags = fast ? SWS_FAST_BILINEAR : (SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT);
    sws_ = sws_getCachedContext(sws_, src->width, src->height, fmt, width, height, AV_PIX_FMT_ARGB,
                                flags, nullptr, nullptr, nullptr);
    if (!sws_) throw AppError("cannot convert frames of pixel format " +
                              std::string(av_get_pix_fmt_name(fmt) ? av_get_pix_fmt_name(fmt) : "?"));
    if (IsYuv(fmt)) {
        const int* coefficients = sws_getCoefficients(SwsColorspace(src->colorspace));
        sws_setColorspaceDetails(sws_, coefficients, IsFullRangeYuv(fmt, src->color_range) ? 1 : 0,
                                 sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
    }
    uint8_t* planes[4] = {dst, nullptr, nullptr, nullptr};
    int strides[4] = {dstRowBytes, 0, 0, 0};
    sws_scale(sws_, src->data, src->linesize, 0, src->height, planes, strides);
}

// --- Audio the container cannot hold as it is ------------------------------------
