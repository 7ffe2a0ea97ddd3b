#include "app/media/MediaCommon.h"

#include <cctype>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "app/AppError.h"

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

std::string Extension(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    const size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

PacketPtr NewPacket() {
    PacketPtr p(av_packet_alloc());
    if (!p) throw AppError("out of memory");
    return p;
}

