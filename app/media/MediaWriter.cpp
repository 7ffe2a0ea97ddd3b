#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
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
#include "app/convert/ColourSpaces.h"
#include "app/convert/Orientation.h"
#include "app/media/Containers.h"
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
    OutputRequest target;
    target.out = s.path;
    if (!s.inputPath.empty()) target.inputs = {s.inputPath};
    target.overwrite = s.overwrite;
    target.frames = s.frames;
    inPlace_ = CheckOutput(target) == OutputKind::Stream;
    const AVOutputFormat* ofmt = ChooseContainer(s.path, s.format, inPlace_);
    std::string noAlpha;
    const AVCodec* codec = ChooseEncoder(ofmt, &noAlpha);
    OpenTarget(target);
    int err = avformat_alloc_output_context2(&format_, ofmt, nullptr, tempPath_.c_str());
    if (err < 0 || !format_) throw AppError(s.path + ": " + AVErrorText(err));
    pixFmt_ = ChoosePixelFormat(codec, s.sourcePixFmt, s.sourceHasAlpha, s.width, s.height);
    const AVPixFmtDescriptor* outDesc = av_pix_fmt_desc_get(pixFmt_);
    if (s.sourceHasAlpha && outDesc && !(outDesc->flags & AV_PIX_FMT_FLAG_ALPHA))
        notes_.push_back("alpha left out: " + (noAlpha.empty() ? encoderName_ + " cannot store it" : noAlpha));
    // Before any frame: a part that cannot say what it is can never be joined.
    if (!s.tags.empty() && FactsOf(ofmt).dropsTags)
        throw AppError(s.path + ": ." + Extension(s.path) +
                       " files keep no tags to know a part by (use .mkv, .mp4, .mov, .webm or .nut with --segment)");
    constantRate_ = FactsOf(ofmt).evenlyTimed;
    UseListedRate(codec);
    OpenEncoder(ofmt, codec);
    AddVideoStream(ofmt);
    if (s.input) CopyContainerInfo(s.input, format_, s.clipStart, s.clipEnd, s.clipShift);
    for (const auto& [key, value] : s.tags)
        if (av_dict_set(&format_->metadata, key.c_str(), value.c_str(), 0) < 0) throw AppError("out of memory");
    carried_ = std::make_unique<CarriedStreams>(s.carried, ofmt, format_, s.path, notes_);
    WriteHeader(ofmt);
    PrepareConversion();
    packet_ = NewPacket();
}

const AVCodec* MediaWriter::ChooseEncoder(const AVOutputFormat* ofmt, std::string* noAlpha) {
    const WriterSettings& s = settings_;
    const bool codecGiven = !s.codec.empty();
    encoderName_ = codecGiven ? s.codec : DefaultEncoder(ofmt, s.path, s.sourceHasAlpha, noAlpha);
    const AVCodec* codec = avcodec_find_encoder_by_name(encoderName_.c_str());
    if (!codec) {
        const AVCodecDescriptor* d = avcodec_descriptor_get_by_name(encoderName_.c_str());
        if (d) codec = avcodec_find_encoder(d->id);
    }
    if (!codec || codec->type != AVMEDIA_TYPE_VIDEO)
        throw AppError("--codec: unknown video encoder '" + encoderName_ + "'");
    encoderName_ = codec->name;
    // Blame the option the user gave, or say the choice was ours.
    culprit_ = codecGiven ? "--codec: " : s.path + ": the default encoder ";
    if (avformat_query_codec(ofmt, codec->id, FF_COMPLIANCE_NORMAL) == 0)
        throw AppError(culprit_ + encoderName_ + " cannot be stored in " +
                       (s.format.empty() ? "." + Extension(s.path) + " files" : s.format));
    return codec;
}

// Frames of a sequence gather in a private folder beside them and move out
// when all are written; a stream is written in place.
void MediaWriter::OpenTarget(const OutputRequest& target) {
    output_ = std::make_unique<Placement>(target);
    tempPath_ = output_->Url();
}

// Tags say what the conversion does: the source's matrix where the
// converters have it, else BT.601; the source's range, or full where the
// format or the codec is full range.
void MediaWriter::SetColour(const AVCodec* codec) {
    const WriterSettings& s = settings_;
    if (IsYuv(pixFmt_)) {
        encoder_->colorspace = MatrixOf(s.colour.space).written;
        const bool fullSource = IsYuv(s.sourcePixFmt) && IsFullRangeYuv(s.sourcePixFmt, s.colour.range);
        encoder_->color_range =
            IsFullRangeYuv(pixFmt_, AVCOL_RANGE_UNSPECIFIED) || fullSource || codec->id == AV_CODEC_ID_MJPEG
                ? AVCOL_RANGE_JPEG
                : AVCOL_RANGE_MPEG;
    }
    if (s.videoIn && (IsYuv(pixFmt_) || codec->id != AV_CODEC_ID_PNG)) {
        encoder_->color_primaries = s.colour.primaries;
        encoder_->color_trc = s.colour.trc;
    }
}

void MediaWriter::OpenEncoder(const AVOutputFormat* ofmt, const AVCodec* codec) {
    const WriterSettings& s = settings_;
    encoder_ = avcodec_alloc_context3(codec);
    if (!encoder_) throw AppError("out of memory");
    encoder_->width = s.width;
    encoder_->height = s.height;
    encoder_->pix_fmt = pixFmt_;
    encoder_->time_base = constantRate_ ? av_inv_q(s.frameRate) : s.timeBase;
    encoder_->thread_count = 0;  // every core, as the ffmpeg command line asks; the library's default is one
    encoder_->framerate = s.frameRate;
    encoder_->sample_aspect_ratio = s.sampleAspect;
    SetColour(codec);
    const AVCodecParameters* in = s.videoIn ? s.videoIn->codecpar : nullptr;
    if (in && in->field_order != AV_FIELD_UNKNOWN && in->field_order != AV_FIELD_PROGRESSIVE) {
        encoder_->field_order = in->field_order;
        encoder_->flags |= AV_CODEC_FLAG_INTERLACED_DCT | AV_CODEC_FLAG_INTERLACED_ME;
    }
    if (ofmt->flags & AVFMT_GLOBALHEADER) encoder_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (s.crf >= 0 && av_opt_set_int(encoder_->priv_data, "crf", s.crf, 0) < 0)
        throw AppError("--crf: encoder " + encoderName_ + " has no CRF setting");
    AVDictionary* codecOpts = nullptr;
    const AVPixFmtDescriptor* outDesc = av_pix_fmt_desc_get(pixFmt_);
    if (!s.profile.empty())
        SetProfile();
    else if (codec->id == AV_CODEC_ID_PRORES && outDesc && (outDesc->flags & AV_PIX_FMT_FLAG_ALPHA))
        av_dict_set(&codecOpts, "profile", "4", 0);  // 4444, the profile with alpha
    ForgetLibraryError();
    const int err = avcodec_open2(encoder_, codec, &codecOpts);
    av_dict_free(&codecOpts);
    if (err < 0)
        throw AppError(culprit_ + "cannot open " + encoderName_ + RateAdvice(codec) + ": " + LibraryReason(err));
}

// Encoders name their profiles in their own options (dnxhr_hq, 4444); the
// rest take the common numbered one, as ffmpeg -profile:v does.
void MediaWriter::SetProfile() {
    const std::string& name = settings_.profile;
    void* holder = av_opt_find(encoder_->priv_data, "profile", nullptr, 0, 0) ? encoder_->priv_data : encoder_;
    if (av_opt_set(holder, "profile", name.c_str(), 0) < 0)
        throw AppError("--profile: " + encoderName_ + " has no profile '" + name + "'");
}

// MPEG-1 and MPEG-2 read the frame rate from the time base and know only a
// list of rates: their frames are numbered in one, taken from the source's
// when it is one of them but for the rounding of a time base (2997/100).
void MediaWriter::UseListedRate(const AVCodec* codec) {
    const AVRational* listed = codec->supported_framerates;
    if (!listed) return;
    constantRate_ = true;
    AVRational& rate = settings_.frameRate;
    const AVRational nearest = listed[av_find_nearest_q_idx(rate, listed)];
    if (std::fabs(av_q2d(nearest) / av_q2d(rate) - 1) < 1e-3) rate = nearest;
}

// Where to read the rates an encoder with a list of them takes.
std::string MediaWriter::RateAdvice(const AVCodec* codec) const {
    if (!codec->supported_framerates) return "";
    char rate[32];
    std::snprintf(rate, sizeof rate, "%.5g", av_q2d(settings_.frameRate));
    return " at " + std::string(rate) + " frames a second (ffmpeg -h encoder=" + codec->name + " lists its rates)";
}

void MediaWriter::AddVideoStream(const AVOutputFormat* ofmt) {
    const WriterSettings& s = settings_;
    videoOut_ = avformat_new_stream(format_, nullptr);
    if (!videoOut_) throw AppError("out of memory");
    avcodec_parameters_from_context(videoOut_->codecpar, encoder_);
    videoOut_->time_base = constantRate_ ? encoder_->time_base : s.timeBase;  // AVI's rate is its time base
    videoOut_->avg_frame_rate = s.frameRate;
    videoOut_->sample_aspect_ratio = encoder_->sample_aspect_ratio;
    if (!s.videoIn) return;
    CopyStreamInfo(s.videoIn, videoOut_);
    CopyVideoSideData(s.videoIn, videoOut_, s.keepDisplayMatrix);
    if (s.keepDisplayMatrix) KeepOrientationTag(ofmt);
    if (s.firstFrame) CopyFrameHdrData(s.firstFrame, videoOut_);
}

// Pictures kept as stored keep the tag that says how to show them: the
// stream's, or a still's own (EXIF), where the container can hold one.
void MediaWriter::KeepOrientationTag(const AVOutputFormat* ofmt) {
    const WriterSettings& s = settings_;
    const bool onStream = av_stream_get_side_data(s.videoIn, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
    const int32_t* onFrame = FrameDisplayMatrix(s.firstFrame);
    if (!onStream && !onFrame) return;
    if (!HoldsRotation(FactsOf(ofmt))) {
        notes_.push_back("rotation tag left out: " +
                         (s.format.empty() ? "." + Extension(s.path) + " files" : s.format) +
                         " cannot hold it here (leave out --no-autorotate to turn the pictures upright)");
        return;
    }
    if (onStream) return;  // copied with the stream's side data
    const size_t size = 9 * sizeof(int32_t);
    uint8_t* m = av_stream_new_side_data(videoOut_, AV_PKT_DATA_DISPLAYMATRIX, size);
    if (!m) throw AppError("out of memory");
    std::memcpy(m, onFrame, size);
}

void MediaWriter::WriteHeader(const AVOutputFormat* ofmt) {
    const WriterSettings& s = settings_;
    if (!(ofmt->flags & AVFMT_NOFILE)) {
        const int err = avio_open(&format_->pb, tempPath_.c_str(), AVIO_FLAG_WRITE);
        if (err < 0) throw AppError(s.path + ": cannot write: " + AVErrorText(err));
    }
    AVDictionary* opts = nullptr;
    if (IsStillPath(s.path) && s.format.empty()) av_dict_set(&opts, "update", "1", 0);
    // MP4 on a pipe cannot go back to write its index: fragments instead.
    std::string movflags;
    if (inPlace_ && FactsOf(ofmt).pipeFragments) movflags = "+frag_keyframe+empty_moov+default_base_moof";
    // MP4 and QuickTime keep only the tags they know unless told.
    if (!s.tags.empty()) movflags += "+use_metadata_tags";
    if (!movflags.empty() && ofmt->priv_class &&
        av_opt_find(const_cast<AVClass**>(&ofmt->priv_class), "movflags", nullptr, 0, AV_OPT_SEARCH_FAKE_OBJ))
        av_dict_set(&opts, "movflags", movflags.c_str(), 0);
    ForgetLibraryError();
    const int err = avformat_write_header(format_, &opts);
    av_dict_free(&opts);
    if (err < 0) throw AppError(s.path + ": cannot write: " + LibraryReason(err));
    headerWritten_ = true;
}

void MediaWriter::PrepareConversion() {
    const WriterSettings& s = settings_;
    const int flags = s.tableDriven ? SWS_BICUBIC : SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT;
    const bool yuv = IsYuv(pixFmt_);
    const int space = yuv ? MatrixOf(encoder_->colorspace).sws : -1;
    const bool deep = s.bufferDepth == BufferDepth::k64;
    if (!scaler_.Get(s.width, s.height, deep ? AV_PIX_FMT_RGBA64 : AV_PIX_FMT_ARGB, s.width, s.height, pixFmt_, flags,
                     yuv ? SWS_CS_DEFAULT : -1, true, space, encoder_->color_range == AVCOL_RANGE_JPEG))
        throw AppError("--codec: cannot convert frames for " + encoderName_);
    // zimg is both faster and closer than swscale's quick path, so it serves
    // --fast-convert too; from 64-bit frames it takes planar RGB as well.
    if (yuv || deep) zimg_ = std::make_unique<ZimgFromArgb>(s.bufferDepth);
    if (!framePool_) {
        const int size = av_image_get_buffer_size(pixFmt_, s.width, s.height, kPictureAlign);
        if (size > 0)
            framePool_ = av_buffer_pool_init(size_t(size) + kPictureAlign + AV_INPUT_BUFFER_PADDING_SIZE, nullptr);
        if (!framePool_) throw AppError("out of memory");
    }
}

void MediaWriter::SetBufferDepth(BufferDepth depth) {
    if (depth == settings_.bufferDepth) return;
    settings_.bufferDepth = depth;
    zimg_.reset();
    PrepareConversion();
}

MediaWriter::~MediaWriter() { Release(); }

void MediaWriter::Release() {
    if (!finished_) Abort();
    carried_.reset();
    avcodec_free_context(&encoder_);
    av_buffer_pool_uninit(&framePool_);  // pictures still out go when their last user lets go
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
    FramePtr out(av_frame_alloc());
    if (!out) throw AppError("out of memory");
    out->format = encoder_->pix_fmt;
    out->width = settings_.width;
    out->height = settings_.height;
    // Encoders that describe colour in their own headers (ProRes) read it here.
    out->colorspace = encoder_->colorspace;
    out->color_range = encoder_->color_range;
    out->color_primaries = encoder_->color_primaries;
    out->color_trc = encoder_->color_trc;
    out->chroma_location = encoder_->chroma_sample_location;
    // Pictures come from a pool, as a filter graph's do: a frame-threaded
    // encoder (FFV1) holds several, and a fresh 4K picture each time cost
    // its mapping, its page faults and a copy of pixels about to be replaced.
    out->buf[0] = av_buffer_pool_get(framePool_);
    if (!out->buf[0] || av_image_fill_arrays(out->data, out->linesize, out->buf[0]->data, encoder_->pix_fmt,
                                             settings_.width, settings_.height, kPictureAlign) < 0)
        throw AppError("out of memory");
    if (zimg_ && zimg_->Convert(argb, rowBytes, out.get())) return out;
    AVFrame* in = av_frame_alloc();
    if (!in) throw AppError("out of memory");
    in->format = AV_PIX_FMT_ARGB;
    in->width = settings_.width;
    in->height = settings_.height;
    in->data[0] = const_cast<uint8_t*>(argb);
    in->linesize[0] = rowBytes;
    if (settings_.bufferDepth == BufferDepth::k64) {
        const size_t row = size_t(settings_.width) * 8;
        turned_.resize(row * size_t(settings_.height));
        for (int y = 0; y < settings_.height; ++y) {
            std::memcpy(turned_.data() + row * y, argb + ptrdiff_t(y) * rowBytes, row);
            Argb64ToRgba64(turned_.data() + row * y, settings_.width);
        }
        in->format = AV_PIX_FMT_RGBA64;
        in->data[0] = turned_.data();
        in->linesize[0] = int(row);
    }
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
    frame.reset();  // the encoder keeps its own reference while it needs the picture
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
