#include "app/media/OutputFormat.h"

#include <cstring>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "app/AppError.h"
#include "app/media/Containers.h"
#include "app/media/MediaCommon.h"
#include "app/output/Placement.h"

namespace {

bool Supports(const AVCodec* codec, AVPixelFormat f) {
    if (!codec->pix_fmts) return true;
    for (const AVPixelFormat* p = codec->pix_fmts; *p != AV_PIX_FMT_NONE; ++p)
        if (*p == f) return true;
    return false;
}

AVPixelFormat Best(const AVCodec* codec, AVPixelFormat want, bool alpha) {
    if (!codec->pix_fmts || Supports(codec, want)) return want;
    return avcodec_find_best_pix_fmt_of_list(codec->pix_fmts, want, alpha, nullptr);
}

// Planar YUV of a chroma layout and depth, with or without alpha.
AVPixelFormat Yuv(int log2w, int log2h, int depth, bool alpha) {
    for (const AVPixFmtDescriptor* d = av_pix_fmt_desc_next(nullptr); d; d = av_pix_fmt_desc_next(d)) {
        if ((d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_BE | AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_PAL |
                         AV_PIX_FMT_FLAG_BAYER | AV_PIX_FMT_FLAG_FLOAT)) ||
            !(d->flags & AV_PIX_FMT_FLAG_PLANAR) || d->nb_components != (alpha ? 4 : 3) ||
            bool(d->flags & AV_PIX_FMT_FLAG_ALPHA) != alpha || d->log2_chroma_w != log2w ||
            d->log2_chroma_h != log2h || d->comp[0].depth != depth || d->comp[1].plane == d->comp[2].plane ||
            std::strncmp(d->name, "yuv", 3) != 0)
            continue;
        return av_pix_fmt_desc_get_id(d);
    }
    return alpha ? AV_PIX_FMT_YUVA444P : AV_PIX_FMT_YUV444P;
}

AVPixelFormat Rgb(int depth, bool alpha) {
    if (depth <= 8) return alpha ? AV_PIX_FMT_ARGB : AV_PIX_FMT_RGB24;
    if (depth <= 10) return alpha ? AV_PIX_FMT_GBRAP10 : AV_PIX_FMT_GBRP10;
    if (depth <= 12) return alpha ? AV_PIX_FMT_GBRAP12 : AV_PIX_FMT_GBRP12;
    return alpha ? AV_PIX_FMT_GBRAP16 : AV_PIX_FMT_GBRP16;
}

}  // namespace

const AVOutputFormat* ChooseContainer(const std::string& path, const std::string& format, bool inPlace) {
    if (!format.empty()) {
        const AVOutputFormat* f = av_guess_format(format.c_str(), nullptr, nullptr);
        if (!f) throw AppError("--format: unknown container '" + format + "' (see ffmpeg -muxers)", 2);
        return f;
    }
    if (IsSequencePath(path) || IsStillPath(path)) return av_guess_format("image2", nullptr, nullptr);
    const AVOutputFormat* f = Extension(path).empty() ? nullptr : av_guess_format(nullptr, path.c_str(), nullptr);
    if (!f && inPlace) f = av_guess_format("matroska", nullptr, nullptr);
    if (!f)
        throw AppError(path + ": unknown output format (use .mp4, .mkv, .mov, .webm, .avi, .ts, .gif, .png, "
                              ".jpg, or --format)");
    return f;
}

std::string DefaultEncoder(const AVOutputFormat* ofmt, const std::string& path, bool alpha, std::string* why) {
    // Picture files take the encoder their extension names, as ffmpeg's.
    if (std::strcmp(ofmt->name, "image2") == 0) {
        const AVCodec* named =
            avcodec_find_encoder(av_guess_codec(ofmt, nullptr, path.c_str(), nullptr, AVMEDIA_TYPE_VIDEO));
        return named ? named->name : "mjpeg";
    }
    const ContainerFacts& facts = FactsOf(ofmt);
    if (alpha && facts.alphaVideo) return FirstEncoder(facts.alphaVideo);
    if (facts.video) {
        if (alpha && why) *why = "." + Extension(path) + " has no common codec with alpha (use .mov, .webm or .mkv)";
        return FirstEncoder(facts.video);
    }
    const AVCodec* codec = avcodec_find_encoder(ofmt->video_codec);
    if (!codec) throw AppError(path + ": no video encoder for the " + ofmt->name + " format");
    return codec->name;
}

AVPixelFormat ChoosePixelFormat(const AVCodec* codec, AVPixelFormat source, bool alpha, int width, int height) {
    const AVPixFmtDescriptor* src = av_pix_fmt_desc_get(source);
    const int depth = src ? src->comp[0].depth : 8;
    const AVCodecDescriptor* desc = avcodec_descriptor_get(codec->id);
    const bool lossless =
        desc && (desc->props & AV_CODEC_PROP_LOSSLESS) && !(desc->props & AV_CODEC_PROP_LOSSY);
    if (codec->id == AV_CODEC_ID_PNG)
        return depth > 8 ? (alpha ? AV_PIX_FMT_RGBA64BE : AV_PIX_FMT_RGB48BE) : (alpha ? AV_PIX_FMT_RGBA : AV_PIX_FMT_RGB24);
    const bool yuvSource = src && IsYuv(source) && !(src->flags & AV_PIX_FMT_FLAG_RGB);
    // Raw frames (no list) keep a YUV source's layout, as ffmpeg's; those for
    // YUV4MPEG (wrapped frames) are YUV whatever the source.
    if (lossless && (codec->pix_fmts || (!yuvSource && codec->id == AV_CODEC_ID_RAWVIDEO)))
        return Best(codec, Rgb(depth, alpha), alpha);
    // RGB sources go to 4:2:0, which every player takes.
    int log2w = yuvSource ? src->log2_chroma_w : 1, log2h = yuvSource ? src->log2_chroma_h : 1;
    if ((log2w && width % 2) || (log2h && height % 2)) log2w = log2h = 0;
    if (codec->id == AV_CODEC_ID_MJPEG) {
        // The J formats say full range, which JPEG files are.
        const AVPixelFormat j = log2h ? AV_PIX_FMT_YUVJ420P : log2w ? AV_PIX_FMT_YUVJ422P : AV_PIX_FMT_YUVJ444P;
        return Best(codec, j, false);
    }
    return Best(codec, Yuv(log2w, log2h, depth, alpha), alpha);
}
