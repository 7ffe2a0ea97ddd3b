#include "app/media/MediaCommon.h"

#include <cctype>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "app/AppError.h"
#include "app/output/Placement.h"

std::string AVErrorText(int errnum) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(errnum, text, sizeof text);
    return text;
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

int SwsColorspace(AVColorSpace space) {
    switch (space) {
        case AVCOL_SPC_BT709: return SWS_CS_ITU709;
        case AVCOL_SPC_FCC: return SWS_CS_FCC;
        case AVCOL_SPC_SMPTE240M: return SWS_CS_SMPTE240M;
        case AVCOL_SPC_BT2020_NCL:
        case AVCOL_SPC_BT2020_CL: return SWS_CS_BT2020;
        default: return SWS_CS_ITU601;
    }
}

std::string Extension(const std::string& path) {
    const std::string leaf = SplitPath(path).leaf;
    const size_t dot = leaf.find_last_of('.');
    if (dot == std::string::npos) return "";
    std::string ext = leaf.substr(dot + 1);
    for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

PacketPtr NewPacket() {
    PacketPtr p(av_packet_alloc());
    if (!p) throw AppError("out of memory");
    return p;
}

