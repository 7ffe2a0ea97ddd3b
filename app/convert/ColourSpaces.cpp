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

// What players take an untagged picture for, by its size.
struct Guess {
    AVColorSpace space;
    AVColorPrimaries primaries;
    AVColorTransferCharacteristic trc;
};
const Guess kHd = {AVCOL_SPC_BT709, AVCOL_PRI_BT709, AVCOL_TRC_BT709};
const Guess kSd625 = {AVCOL_SPC_BT470BG, AVCOL_PRI_BT470BG, AVCOL_TRC_SMPTE170M};
const Guess kSd525 = {AVCOL_SPC_SMPTE170M, AVCOL_PRI_SMPTE170M, AVCOL_TRC_SMPTE170M};

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

ColourTags AsPlayersShow(ColourTags t, AVPixelFormat format, int width, int height) {
    if (!IsYuv(format)) return t;
    const Guess& g = width > 1024 || height > 576 ? kHd : height > 480 ? kSd625 : kSd525;
    if (t.space == AVCOL_SPC_UNSPECIFIED) t.space = g.space;
    if (t.primaries == AVCOL_PRI_UNSPECIFIED) t.primaries = g.primaries;
    if (t.trc == AVCOL_TRC_UNSPECIFIED) t.trc = g.trc;
    if (t.range == AVCOL_RANGE_UNSPECIFIED)
        t.range = IsFullRangeYuv(format, AVCOL_RANGE_UNSPECIFIED) ? AVCOL_RANGE_JPEG : AVCOL_RANGE_MPEG;
    return t;
}

void FillColourTags(AVFrame* f) {
    const ColourTags t = AsPlayersShow({f->colorspace, f->color_primaries, f->color_trc, f->color_range},
                                       AVPixelFormat(f->format), f->width, f->height);
    f->colorspace = t.space;
    f->color_primaries = t.primaries;
    f->color_trc = t.trc;
    f->color_range = t.range;
}
