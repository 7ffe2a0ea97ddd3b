#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswresample/swresample.h>
}

#include "app/AppError.h"
#include "app/AudioTranscoder.h"
#include "app/MediaCommon.h"
#include "app/OutputFile.h"

std::string DefaultEncoderFor(const std::string& path) {
    const std::string ext = Extension(path);
    if (ext == "mp4" || ext == "mkv" || ext == "mov" || ext == "m4v")
        return avcodec_find_encoder_by_name("libx264") ? "libx264" : "mpeg4";
    if (ext == "png") return "png";
    const AVOutputFormat* fmt = av_guess_format(nullptr, path.c_str(), nullptr);
    if (!fmt) throw AppError(path + ": unknown output format (use .mp4, .mkv, .mov or .png)");
    const AVCodec* codec = avcodec_find_encoder(fmt->video_codec);
    if (!codec) throw AppError(path + ": no video encoder for this format");
    return codec->name;
}

MediaWriter::MediaWriter(const WriterSettings& s) : settings_(s) {
    try {
        Init();
    } catch (...) {
        Release();
        throw;
    }
}

void MediaWriter::Init() {
    const WriterSettings& s = settings_;
    const std::string& path = s.path;
    const std::string ext = Extension(path);
    const AVOutputFormat* ofmt = ext == "png" ? av_guess_format("image2", nullptr, nullptr)
                                              : av_guess_format(nullptr, path.c_str(), nullptr);
    if (!ofmt) throw AppError(path + ": unknown output format (use .mp4, .mkv, .mov or .png)");

    encoderName_ = s.codec.empty() ? DefaultEncoderFor(path) : s.codec;
    const AVCodec* codec = avcodec_find_encoder_by_name(encoderName_.c_str());
    if (!codec) {
        const AVCodecDescriptor* d = avcodec_descriptor_get_by_name(encoderName_.c_str());
        if (d) codec = avcodec_find_encoder(d->id);
    }
    if (!codec || codec->type != AVMEDIA_TYPE_VIDEO)
        throw AppError("--codec: unknown video encoder '" + encoderName_ + "'");
    encoderName_ = codec->name;
    if (avformat_query_codec(ofmt, codec->id, FF_COMPLIANCE_NORMAL) == 0)
        throw AppError("--codec: " + encoderName_ + " cannot be stored in ." + ext + " files");

    output_ = std::make_unique<OutputFile>(s.input, path, s.overwrite);
    tempPath_ = output_->Url();

    int err = avformat_alloc_output_context2(&format_, ofmt, nullptr, tempPath_.c_str());
    if (err < 0 || !format_) throw AppError(path + ": " + AVErrorText(err));

    // Pixel format: exact RGB for PNG, 4:2:0 where players expect it.
    AVPixelFormat pixFmt = AV_PIX_FMT_NONE;
    const AVPixelFormat* formats = codec->pix_fmts;
    auto supports = [&](AVPixelFormat f) {
        if (!formats) return true;
        for (const AVPixelFormat* p = formats; *p != AV_PIX_FMT_NONE; ++p)
            if (*p == f) return true;
        return false;
    };
    const bool even = s.width % 2 == 0 && s.height % 2 == 0;
    const AVCodecDescriptor* desc = avcodec_descriptor_get(codec->id);
    const bool lossless = desc && (desc->props & AV_CODEC_PROP_LOSSLESS) && !(desc->props & AV_CODEC_PROP_LOSSY);
    if (codec->id == AV_CODEC_ID_PNG) pixFmt = s.sourceHasAlpha ? AV_PIX_FMT_RGBA : AV_PIX_FMT_RGB24;
    else if (!lossless && even && s.sourceHasAlpha && supports(AV_PIX_FMT_YUVA420P)) pixFmt = AV_PIX_FMT_YUVA420P;
    else if (!lossless && even && supports(AV_PIX_FMT_YUV420P)) pixFmt = AV_PIX_FMT_YUV420P;
    else if (formats)
        pixFmt = avcodec_find_best_pix_fmt_of_list(formats, s.sourceHasAlpha ? AV_PIX_FMT_ARGB : AV_PIX_FMT_RGB24,
                                                   s.sourceHasAlpha, nullptr);
    else pixFmt = s.sourceHasAlpha ? AV_PIX_FMT_RGBA : AV_PIX_FMT_RGB24;

    encoder_ = avcodec_alloc_context3(codec);
    if (!encoder_) throw AppError("out of memory");
    encoder_->width = s.width;
    encoder_->height = s.height;
    encoder_->pix_fmt = pixFmt;
    encoder_->time_base = s.timeBase;
    encoder_->framerate = s.frameRate;
    if (s.videoIn && s.videoIn->codecpar->width == s.width && s.videoIn->codecpar->height == s.height)
        encoder_->sample_aspect_ratio = s.videoIn->codecpar->sample_aspect_ratio;
    int swsSpace = SWS_CS_ITU601;
    if (IsYuv(pixFmt)) {
        const AVColorSpace in = s.videoIn ? s.videoIn->codecpar->color_space : AVCOL_SPC_UNSPECIFIED;
        encoder_->colorspace = in == AVCOL_SPC_BT709 ? AVCOL_SPC_BT709 : AVCOL_SPC_SMPTE170M;
        swsSpace = SwsColorspace(encoder_->colorspace);
        encoder_->color_range = IsFullRangeYuv(pixFmt, AVCOL_RANGE_UNSPECIFIED) ? AVCOL_RANGE_JPEG
                                                                                 : AVCOL_RANGE_MPEG;
        if (s.videoIn) {
            encoder_->color_primaries = s.videoIn->codecpar->color_primaries;
            encoder_->color_trc = s.videoIn->codecpar->color_trc;
        }
    }
    if (ofmt->flags & AVFMT_GLOBALHEADER) encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (s.crf >= 0 && av_opt_set_int(encoder_->priv_data, "crf", s.crf, 0) < 0)
        throw AppError("--crf: encoder " + encoderName_ + " has no CRF setting");
    err = avcodec_open2(encoder_, codec, nullptr);
    if (err < 0) throw AppError("--codec: cannot open encoder " + encoderName_ + ": " + AVErrorText(err));

    videoOut_ = avformat_new_stream(format_, nullptr);
    if (!videoOut_) throw AppError("out of memory");
    avcodec_parameters_from_context(videoOut_->codecpar, encoder_);
    videoOut_->time_base = s.timeBase;
    videoOut_->avg_frame_rate = s.frameRate;
    videoOut_->sample_aspect_ratio = encoder_->sample_aspect_ratio;

    if (s.audioIn && ofmt->audio_codec != AV_CODEC_ID_NONE) {
        const AVCodecID id = s.audioIn->codecpar->codec_id;
        if (avformat_query_codec(ofmt, id, FF_COMPLIANCE_NORMAL) == 0) {
            audioCoder_ = std::make_unique<AudioTranscoder>(s.audioIn, ofmt, format_, path);
            audioOut_ = audioCoder_->Stream();
        } else {
            audioOut_ = avformat_new_stream(format_, nullptr);
            if (!audioOut_) throw AppError("out of memory");
            avcodec_parameters_copy(audioOut_->codecpar, s.audioIn->codecpar);
            audioOut_->codecpar->codec_tag = 0;
            audioOut_->time_base = s.audioIn->time_base;
        }
    }

    if (!(ofmt->flags & AVFMT_NOFILE)) {
        err = avio_open(&format_->pb, tempPath_.c_str(), AVIO_FLAG_WRITE);
        if (err < 0) throw AppError(path + ": cannot write: " + AVErrorText(err));
    }
    AVDictionary* opts = nullptr;
    if (ext == "png") av_dict_set(&opts, "update", "1", 0);
    err = avformat_write_header(format_, &opts);
    av_dict_free(&opts);
    if (err < 0) throw AppError(path + ": cannot write: " + AVErrorText(err));
    headerWritten_ = true;

    sws_ = sws_getContext(s.width, s.height, AV_PIX_FMT_ARGB, s.width, s.height, pixFmt,
                          SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr, nullptr, nullptr);
    if (!sws_) throw AppError("--codec: cannot convert frames for " + encoderName_);
    if (IsYuv(pixFmt))
        sws_setColorspaceDetails(sws_, sws_getCoefficients(SWS_CS_DEFAULT), 1, sws_getCoefficients(swsSpace),
                                 encoder_->color_range == AVCOL_RANGE_JPEG ? 1 : 0, 0, 1 << 16, 1 << 16);
    frame_.reset(av_frame_alloc());
    packet_ = NewPacket();
    if (!frame_) throw AppError("out of memory");
    frame_->format = pixFmt;
    frame_->width = s.width;
    frame_->height = s.height;
    if (av_frame_get_buffer(frame_.get(), 0) < 0) throw AppError("out of memory");
}

MediaWriter::~MediaWriter() { Release(); }

void MediaWriter::Release() {
    if (!finished_) Abort();
    audioCoder_.reset();
    sws_freeContext(sws_);
    sws_ = nullptr;
    avcodec_free_context(&encoder_);
    if (format_ && !(format_->oformat->flags & AVFMT_NOFILE)) avio_closep(&format_->pb);
    avformat_free_context(format_);
    format_ = nullptr;
}

void MediaWriter::Abort() {
    if (!format_) return;
    if (!(format_->oformat->flags & AVFMT_NOFILE)) avio_closep(&format_->pb);
    if (output_) output_->Discard();
}

void MediaWriter::Drain(bool flush) {
    if (flush) avcodec_send_frame(encoder_, nullptr);
    for (;;) {
        const int err = avcodec_receive_packet(encoder_, packet_.get());
        if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) return;
        if (err < 0) throw AppError(settings_.path + ": encoding failed: " + AVErrorText(err));
        av_packet_rescale_ts(packet_.get(), encoder_->time_base, videoOut_->time_base);
        packet_->stream_index = videoOut_->index;
        Mux(packet_.get());
    }
}

void MediaWriter::WriteVideo(const uint8_t* argb, int rowBytes, int64_t pts, int64_t duration) {
    if (av_frame_make_writable(frame_.get()) < 0) throw AppError("out of memory");
    const uint8_t* planes[4] = {argb, nullptr, nullptr, nullptr};
    const int strides[4] = {rowBytes, 0, 0, 0};
    sws_scale(sws_, planes, strides, 0, settings_.height, frame_->data, frame_->linesize);
    frame_->pts = pts;
#if LIBAVUTIL_VERSION_MAJOR >= 58
    frame_->duration = duration;
#else
    frame_->pkt_duration = duration;
#endif
    const int err = avcodec_send_frame(encoder_, frame_.get());
    if (err < 0) throw AppError(settings_.path + ": encoding failed: " + AVErrorText(err));
    Drain(false);
}

void MediaWriter::WriteAudio(PacketPtr packet) {
    if (!audioOut_) return;
    if (audioCoder_) {
        audioCoder_->Feed(packet.get(), [&](AVPacket* p) { Mux(p); });
        return;
    }
    av_packet_rescale_ts(packet.get(), settings_.audioIn->time_base, audioOut_->time_base);
    packet->stream_index = audioOut_->index;
    packet->pos = -1;
    Mux(packet.get());
}

void MediaWriter::Mux(AVPacket* packet) {
    const int err = av_interleaved_write_frame(format_, packet);
    if (err < 0) throw AppError(settings_.path + ": cannot write: " + AVErrorText(err));
}

void MediaWriter::Finish() {
    Drain(true);
    if (audioCoder_) audioCoder_->Flush([&](AVPacket* p) { Mux(p); });
    int err = av_write_trailer(format_);
    if (err < 0) throw AppError(settings_.path + ": cannot write: " + AVErrorText(err));
    if (!(format_->oformat->flags & AVFMT_NOFILE)) {
        err = avio_closep(&format_->pb);
        if (err < 0) throw AppError(settings_.path + ": cannot write: " + AVErrorText(err));
    }
    output_->Place();
    finished_ = true;
}
