#include <fcntl.h>
#include <stdio.h>
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
#include "app/output/Spool.h"
#include "app/media/MediaCommon.h"
#include "app/output/Placement.h"
#include "app/media/OutputFormat.h"
#include "app/media/StreamCopy.h"

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
    OutputRequest target;
    target.out = path;
    if (!s.inputPath.empty()) target.inputs = {s.inputPath};
    target.overwrite = s.overwrite;
    target.frames = s.frames;
    inPlace_ = CheckOutput(target) == OutputKind::Stream;
    const AVOutputFormat* ofmt = ChooseContainer(path, s.format, inPlace_);

    const bool codecGiven = !s.codec.empty();
    std::string noAlpha;
    encoderName_ = codecGiven ? s.codec : DefaultEncoder(ofmt, path, s.sourceHasAlpha, &noAlpha);
    const AVCodec* codec = avcodec_find_encoder_by_name(encoderName_.c_str());
    if (!codec) {
        const AVCodecDescriptor* d = avcodec_descriptor_get_by_name(encoderName_.c_str());
        if (d) codec = avcodec_find_encoder(d->id);
    }
    if (!codec || codec->type != AVMEDIA_TYPE_VIDEO)
        throw AppError("--codec: unknown video encoder '" + encoderName_ + "'");
    encoderName_ = codec->name;
    // Blame the option the user gave, or say the choice was ours.
    const std::string culprit = codecGiven ? "--codec: " : path + ": the default encoder ";
    if (avformat_query_codec(ofmt, codec->id, FF_COMPLIANCE_NORMAL) == 0)
        throw AppError(culprit + encoderName_ + " cannot be stored in " +
                       (s.format.empty() ? "." + ext + " files" : s.format));

    // Frames of a sequence gather in a private folder beside them and move
    // out when all are written; a stream is written in place.
    output_ = std::make_unique<Placement>(target);
    tempPath_ = output_->Url();

    int err = avformat_alloc_output_context2(&format_, ofmt, nullptr, tempPath_.c_str());
    if (err < 0 || !format_) throw AppError(path + ": " + AVErrorText(err));

    const AVPixelFormat pixFmt = ChoosePixelFormat(codec, s.sourcePixFmt, s.sourceHasAlpha, s.width, s.height);
    pixFmt_ = pixFmt;
    const AVPixFmtDescriptor* outDesc = av_pix_fmt_desc_get(pixFmt);
    if (s.sourceHasAlpha && outDesc && !(outDesc->flags & AV_PIX_FMT_FLAG_ALPHA))
        notes_.push_back("alpha left out: " + (noAlpha.empty() ? encoderName_ + " cannot store it" : noAlpha));
    // AVI has no time stamps, only a frame rate: frames go out evenly timed.
    constantRate_ = std::strcmp(ofmt->name, "avi") == 0;

    encoder_ = avcodec_alloc_context3(codec);
    if (!encoder_) throw AppError("out of memory");
    encoder_->width = s.width;
    encoder_->height = s.height;
    encoder_->pix_fmt = pixFmt;
    encoder_->time_base = constantRate_ ? av_inv_q(s.frameRate) : s.timeBase;
    encoder_->thread_count = 0;  // every core, as the ffmpeg command line asks; the library's default is one
    encoder_->framerate = s.frameRate;
    encoder_->sample_aspect_ratio = s.sampleAspect;
    int swsSpace = SWS_CS_ITU601;
    const AVCodecParameters* in = s.videoIn ? s.videoIn->codecpar : nullptr;
    if (IsYuv(pixFmt)) {
        // Tags say what the conversion did: the source's matrix where the
        // scaler has it, else BT.601.
        const AVColorSpace space = in ? in->color_space : AVCOL_SPC_UNSPECIFIED;
        switch (space) {
            case AVCOL_SPC_BT709:
            case AVCOL_SPC_BT470BG:
            case AVCOL_SPC_SMPTE170M:
            case AVCOL_SPC_FCC:
            case AVCOL_SPC_SMPTE240M:
            case AVCOL_SPC_BT2020_NCL: encoder_->colorspace = space; break;
            case AVCOL_SPC_BT2020_CL: encoder_->colorspace = AVCOL_SPC_BT2020_NCL; break;
            default: encoder_->colorspace = AVCOL_SPC_SMPTE170M;
        }
        swsSpace = SwsColorspace(encoder_->colorspace);
        const bool fullSource = in && IsYuv(AVPixelFormat(in->format)) &&
                                IsFullRangeYuv(AVPixelFormat(in->format), in->color_range);
        encoder_->color_range = IsFullRangeYuv(pixFmt, AVCOL_RANGE_UNSPECIFIED) || fullSource ||
                                        codec->id == AV_CODEC_ID_MJPEG
                                    ? AVCOL_RANGE_JPEG
                                    : AVCOL_RANGE_MPEG;
    }
    if (in && (IsYuv(pixFmt) || codec->id != AV_CODEC_ID_PNG)) {
        encoder_->color_primaries = in->color_primaries;
        encoder_->color_trc = in->color_trc;
    }
    if (in && in->field_order != AV_FIELD_UNKNOWN && in->field_order != AV_FIELD_PROGRESSIVE) {
        encoder_->field_order = in->field_order;
        encoder_->flags |= AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;
    }
    if (ofmt->flags & AVFMT_GLOBALHEADER) encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (s.crf >= 0 && av_opt_set_int(encoder_->priv_data, "crf", s.crf, 0) < 0)
        throw AppError("--crf: encoder " + encoderName_ + " has no CRF setting");
    AVDictionary* codecOpts = nullptr;
    if (codec->id == AV_CODEC_ID_PRORES && outDesc && (outDesc->flags & AV_PIX_FMT_FLAG_ALPHA))
        av_dict_set(&codecOpts, "profile", "4", 0);  // 4444, the profile with alpha
    err = avcodec_open2(encoder_, codec, &codecOpts);
    av_dict_free(&codecOpts);
    if (err < 0) throw AppError(culprit + "cannot open " + encoderName_ + ": " + AVErrorText(err));

    videoOut_ = avformat_new_stream(format_, nullptr);
    if (!videoOut_) throw AppError("out of memory");
    avcodec_parameters_from_context(videoOut_->codecpar, encoder_);
    videoOut_->time_base = constantRate_ ? encoder_->time_base : s.timeBase;  // AVI's rate is its time base
    videoOut_->avg_frame_rate = s.frameRate;
    videoOut_->sample_aspect_ratio = encoder_->sample_aspect_ratio;
    if (s.videoIn) {
        CopyStreamInfo(s.videoIn, videoOut_);
        CopyVideoSideData(s.videoIn, videoOut_, s.keepDisplayMatrix);
#if LIBAVFORMAT_VERSION_MAJOR < 60
        // FFmpeg 5's Matroska writer drops a stream's display matrix.
        if (s.keepDisplayMatrix && (!std::strcmp(ofmt->name, "matroska") || !std::strcmp(ofmt->name, "webm")) &&
            av_stream_get_side_data(s.videoIn, AV_PKT_DATA_DISPLAYMATRIX, nullptr))
            notes_.push_back("rotation tag left out: this FFmpeg cannot store it in " + std::string(ofmt->name) +
                             " (leave out --no-autorotate to turn the pictures upright)");
#endif
        if (s.firstFrame) CopyFrameHdrData(s.firstFrame, videoOut_);
    }
    if (s.input) CopyContainerInfo(s.input, format_, s.clipStart, s.clipEnd, s.clipShift);
    carried_ = std::make_unique<CarriedStreams>(s.carried, ofmt, format_, path, notes_);

    if (!(ofmt->flags & AVFMT_NOFILE)) {
        err = avio_open(&format_->pb, tempPath_.c_str(), AVIO_FLAG_WRITE);
        if (err < 0) throw AppError(path + ": cannot write: " + AVErrorText(err));
    }
    AVDictionary* opts = nullptr;
    if (IsStillPath(path) && s.format.empty()) av_dict_set(&opts, "update", "1", 0);
    // MP4 on a pipe cannot go back to write its index: fragments instead.
    if (inPlace_ && (!std::strcmp(ofmt->name, "mp4") || !std::strcmp(ofmt->name, "mov") ||
                     !std::strcmp(ofmt->name, "ipod")))
        av_dict_set(&opts, "movflags", "frag_keyframe+empty_moov+default_base_moof", 0);
    err = avformat_write_header(format_, &opts);
    av_dict_free(&opts);
    if (err < 0) throw AppError(path + ": cannot write: " + AVErrorText(err));
    headerWritten_ = true;

    const int flags = s.tableDriven ? SWS_BICUBIC : SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT;
    const bool yuv = IsYuv(pixFmt);
    sws_ = scaler_.Get(s.width, s.height, AV_PIX_FMT_ARGB, s.width, s.height, pixFmt, flags,
                       yuv ? SWS_CS_DEFAULT : -1, true, yuv ? swsSpace : -1,
                       encoder_->color_range == AVCOL_RANGE_JPEG);
    if (!sws_) throw AppError("--codec: cannot convert frames for " + encoderName_);
    // zimg is both faster and closer than swscale's quick path, so it serves
    // --fast-convert too.
    if (yuv) zimg_ = std::make_unique<ZimgFromArgb>();
    packet_ = NewPacket();
}

MediaWriter::~MediaWriter() { Release(); }

void MediaWriter::Release() {
    if (!finished_) Abort();
    carried_.reset();
    sws_ = nullptr;
    avcodec_free_context(&encoder_);
    if (format_ && !(format_->oformat->flags & AVFMT_NOFILE)) avio_closep(&format_->pb);
    avformat_free_context(format_);
    format_ = nullptr;
}

void MediaWriter::Abort() {
    if (!format_) return;
    if (!(format_->oformat->flags & AVFMT_NOFILE)) avio_closep(&format_->pb);
    if (output_) output_->Discard();  // what went down a stream stays there
}

bool MediaWriter::HasAudio() const { return carried_ && carried_->HasAudio(); }
bool MediaWriter::AudioCopied() const { return carried_ && carried_->AudioCopied(); }

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
    WriteFrame(ConvertVideo(argb, rowBytes), pts, duration);
}

FramePtr MediaWriter::ConvertVideo(const uint8_t* argb, int rowBytes) {
    FramePtr out;
    {
        std::lock_guard lock(poolMutex_);
        if (!pool_.empty()) {
            out = std::move(pool_.back());
            pool_.pop_back();
        }
    }
    if (!out) {
        out.reset(av_frame_alloc());
        if (!out) throw AppError("out of memory");
        out->format = encoder_->pix_fmt;
        out->width = settings_.width;
        out->height = settings_.height;
        out->colorspace = encoder_->colorspace;
        out->color_range = encoder_->color_range;
        out->chroma_location = encoder_->chroma_sample_location;
        if (av_frame_get_buffer(out.get(), 0) < 0) throw AppError("out of memory");
    }
    // An encoder that still holds the pixels gets them kept; this one gets new.
    if (av_frame_make_writable(out.get()) < 0) throw AppError("out of memory");
    if (zimg_ && zimg_->Convert(argb, rowBytes, out.get())) return out;
    AVFrame* in = av_frame_alloc();
    if (!in) throw AppError("out of memory");
    in->format = AV_PIX_FMT_ARGB;
    in->width = settings_.width;
    in->height = settings_.height;
    in->data[0] = const_cast<uint8_t*>(argb);
    in->linesize[0] = rowBytes;
    const bool ok = scaler_.Scale(in, out.get());
    av_frame_free(&in);
    if (!ok) throw AppError(settings_.path + ": cannot convert the frame for " + encoderName_);
    return out;
}

void MediaWriter::WriteFrame(FramePtr frame, int64_t pts, int64_t duration) {
    if (constantRate_) {
        pts = framesWritten_;
        duration = 1;
    }
    ++framesWritten_;
    frame->pts = pts;
#if LIBAVUTIL_VERSION_MAJOR >= 58
    frame->duration = duration;
#else
    frame->pkt_duration = duration;
#endif
    if (encoder_->field_order != AV_FIELD_UNKNOWN && encoder_->field_order != AV_FIELD_PROGRESSIVE) {
        frame->interlaced_frame = 1;
        frame->top_field_first = encoder_->field_order == AV_FIELD_TT || encoder_->field_order == AV_FIELD_TB;
    }
    const int err = avcodec_send_frame(encoder_, frame.get());
    if (err < 0) throw AppError(settings_.path + ": encoding failed: " + AVErrorText(err));
    {
        std::lock_guard lock(poolMutex_);
        pool_.push_back(std::move(frame));
    }
    Drain(false);
}

void MediaWriter::WriteCarried(PacketPtr packet) {
    if (carried_) carried_->Write(packet.get(), [&](AVPacket* p) { Mux(p); });
}

void MediaWriter::Mux(AVPacket* packet) {
    const int err = av_interleaved_write_frame(format_, packet);
    if (err < 0) throw AppError(settings_.path + ": cannot write: " + AVErrorText(err));
}

void MediaWriter::Finish() {
    {
        std::lock_guard lock(poolMutex_);
        pool_.clear();  // the encoder has copied every picture it was sent
    }
    Drain(true);
    if (carried_) carried_->Flush([&](AVPacket* p) { Mux(p); });
    int err = av_write_trailer(format_);
    if (err < 0) throw AppError(settings_.path + ": cannot write: " + AVErrorText(err));
    if (!(format_->oformat->flags & AVFMT_NOFILE)) {
        err = avio_closep(&format_->pb);
        if (err < 0) throw AppError(settings_.path + ": cannot write: " + AVErrorText(err));
    }
    output_->Place(framesWritten_);
    finished_ = true;
}
