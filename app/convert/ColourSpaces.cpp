#include "app/convert/ColourSpaces.h"

#include <zimg.h>

extern "C" {
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

namespace {

const MatrixFacts kMatrices[] = {
    {AVCOL_SPC_BT709, SWS_CS_ITU709, ZIMG_MATRIX_709, AVCOL_SPC_BT709},
    {AVCOL_SPC_BT470BG, SWS_CS_ITU601, ZIMG_MATRIX_BT470_BG, AVCOL_SPC_BT470BG},
    {AVCOL_SPC_SMPTE170M, SWS_CS_ITU601, ZIMG_MATRIX_BT470_BG, AVCOL_SPC_SMPTE170M},
    {AVCOL_SPC_FCC, SWS_CS_FCC, ZIMG_MATRIX_FCC, AVCOL_SPC_FCC},
    {AVCOL_SPC_SMPTE240M, SWS_CS_SMPTE240M, ZIMG_MATRIX_ST240_M, AVCOL_SPC_SMPTE240M},
    {AVCOL_SPC_BT2020_NCL, SWS_CS_BT2020, ZIMG_MATRIX_BT2020_NCL, AVCOL_SPC_BT2020_NCL},
    // The constant-luminance form needs the transfer function, which only
    // swscale's approximation takes; written back as the usual form.
    {AVCOL_SPC_BT2020_CL, SWS_CS_BT2020, -1, AVCOL_SPC_BT2020_NCL},
};

const MatrixFacts kUnknown = {AVCOL_SPC_UNSPECIFIED, SWS_CS_ITU601, ZIMG_MATRIX_BT470_BG, AVCOL_SPC_SMPTE170M};

}  // namespace

const MatrixFacts& MatrixOf(AVColorSpace space) {
    for (const MatrixFacts& m : kMatrices)
        if (m.space == space) return m;
    return kUnknown;
}

bool IsYuv(AVPixelFormat fmt) {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(fmt);
    return d && !(d->flags & AV_PIX_FMT_FLAG_RGB) && d->nb_components >= 3;
}

bool IsFullRangeYuv(AVPixelFormat fmt, AVColorRange range) {
    if (range == AVCOL_RANGE_JPEG) return true;
    switch (fmt) {
        case AV_PIX_FMT_YUVJ420P:
        case AV_PIX_FMT_YUVJ422P:
        case AV_PIX_FMT_YUVJ444P:
        case AV_PIX_FMT_YUVJ440P:
        case AV_PIX_FMT_YUVJ411P: return true;
        default: return false;
    }
}
