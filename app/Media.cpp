#include "app/Media.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswresample/swresample.h>
}

#include "app/AppError.h"

std::string AVErrorText(int errnum) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(errnum, text, sizeof text);
    return text;
}

namespace {

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

}  // namespace

// --- Reader ----------------------------------------------------------------

MediaReader::MediaReader(const std::string& path) : path_(path) {
    frame_.reset(av_frame_alloc());
    packet_ = NewPacket();
    if (!frame_) throw AppError("out of memory");
    try {
        Open();
    } catch (...) {
        Close();
        throw;
    }
}

MediaReader::~MediaReader() { Close(); }

void MediaReader::Close() {
    avcodec_free_context(&decoder_);
    avformat_close_input(&format_);
}

void MediaReader::Open() {
    int err = avformat_open_input(&format_, path_.c_str(), nullptr, nullptr);
    if (err < 0) throw AppError(path_ + ": " + AVErrorText(err));
    err = avformat_find_stream_info(format_, nullptr);
    if (err < 0) throw AppError(path_ + ": cannot read the streams: " + AVErrorText(err));

    videoIndex_ = -1;
    for (unsigned i = 0; i < format_->nb_streams; ++i) {
        const AVStream* st = format_->streams[i];
        // Cover art is a picture attached to audio, not a video.
        if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            !(st->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
            videoIndex_ = int(i);
            break;
        }
    }
    if (videoIndex_ < 0) throw AppError(path_ + ": no video stream");
    audioIndex_ = av_find_best_stream(format_, AVMEDIA_TYPE_AUDIO, -1, videoIndex_, nullptr, 0);
    if (audioIndex_ < 0) audioIndex_ = -1;
    for (unsigned i = 0; i < format_->nb_streams; ++i)
        if (int(i) != videoIndex_ && int(i) != audioIndex_) format_->streams[i]->discard = AVDISCARD_ALL;

    AVStream* st = format_->streams[videoIndex_];
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    if (!codec) throw AppError(path_ + ": no decoder for its video codec");
    decoder_ = avcodec_alloc_context3(codec);
    if (!decoder_) throw AppError("out of memory");
    avcodec_parameters_to_context(decoder_, st->codecpar);
    decoder_->pkt_timebase = st->time_base;
    decoder_->err_recognition |= AV_EF_EXPLODE | AV_EF_CRCCHECK;  // damage is an error, not concealed
    // Frame threads drop a damaged frame without a word; slice threads report it.
    decoder_->thread_count = 0;
    decoder_->thread_type = FF_THREAD_SLICE;
    err = avcodec_open2(decoder_, codec, nullptr);
    if (err < 0) throw AppError(path_ + ": cannot open the video decoder: " + AVErrorText(err));
    if (decoder_->width <= 0 || decoder_->height <= 0) throw AppError(path_ + ": video size unknown");
    if (decoder_->width > 32767 || decoder_->height > 32767)
        throw AppError(path_ + ": frames larger than 32767 pixels are not supported");

    frameRate_ = st->avg_frame_rate;
    if (frameRate_.num <= 0 || frameRate_.den <= 0) frameRate_ = st->r_frame_rate;
    if (frameRate_.num <= 0 || frameRate_.den <= 0) frameRate_ = AVRational{25, 1};
    frameDuration_ = std::max<int64_t>(1, av_rescale_q(1, av_inv_q(frameRate_), st->time_base));
    firstPts_ = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
    nextIndex_ = 0;
    lastIndex_ = -1;
    sentEof_ = decoderDone_ = false;
}

int MediaReader::Width() const { return decoder_->width; }
int MediaReader::Height() const { return decoder_->height; }
bool MediaReader::HasAlpha() const {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(decoder_->pix_fmt);
    return d && (d->flags & AV_PIX_FMT_FLAG_ALPHA);
}
AVRational MediaReader::TimeBase() const { return format_->streams[videoIndex_]->time_base; }
const AVStream* MediaReader::VideoStream() const { return format_->streams[videoIndex_]; }
const AVStream* MediaReader::AudioStream() const {
    return audioIndex_ >= 0 ? format_->streams[audioIndex_] : nullptr;
}

int64_t MediaReader::FrameCount() {
    if (frameCount_ >= 0) return frameCount_;
    const AVStream* st = VideoStream();
    if (st->nb_frames > 0) return frameCount_ = st->nb_frames;
    // Containers without a frame count: count the packets, which is quick
    // because nothing is decoded.
    AVFormatContext* scan = nullptr;
    int64_t count = 0;
    if (avformat_open_input(&scan, path_.c_str(), nullptr, nullptr) >= 0 &&
        avformat_find_stream_info(scan, nullptr) >= 0) {
        for (unsigned i = 0; i < scan->nb_streams; ++i)
            if (int(i) != videoIndex_) scan->streams[i]->discard = AVDISCARD_ALL;
        AVPacket* p = av_packet_alloc();
        while (p && av_read_frame(scan, p) >= 0) {
            if (p->stream_index == videoIndex_) ++count;
            av_packet_unref(p);
        }
        av_packet_free(&p);
    }
    avformat_close_input(&scan);
    if (count == 0 && format_->duration > 0)
        count = av_rescale_q(format_->duration, AV_TIME_BASE_Q, av_inv_q(frameRate_));
    return frameCount_ = std::max<int64_t>(count, 1);
}

int64_t MediaReader::IndexOf(const AVFrame* f) const {
    const int64_t ts = f->best_effort_timestamp;
    if (ts == AV_NOPTS_VALUE) return nextIndex_;
    return av_rescale_q(ts - firstPts_, TimeBase(), av_inv_q(frameRate_));
}

bool MediaReader::ReadPacket(std::vector<PacketPtr>* audio) {
    for (;;) {
        const int err = av_read_frame(format_, packet_.get());
        if (err == AVERROR_EOF) return false;
        if (err < 0) throw AppError(path_ + ": read error: " + AVErrorText(err));
        if (packet_->stream_index == videoIndex_) {
            const int sent = avcodec_send_packet(decoder_, packet_.get());
            av_packet_unref(packet_.get());
            if (sent < 0 && sent != AVERROR(EAGAIN))
                throw AppError(path_ + ": corrupt frame " + std::to_string(nextIndex_) + ": " +
                               AVErrorText(sent));
            return true;
        }
        if (audio && packet_->stream_index == audioIndex_) {
            PacketPtr copy = NewPacket();
            av_packet_move_ref(copy.get(), packet_.get());
            audio->push_back(std::move(copy));
        } else {
            av_packet_unref(packet_.get());
        }
    }
}

const AVFrame* MediaReader::Next(std::vector<PacketPtr>* audio) {
    for (;;) {
        if (decoderDone_) return nullptr;
        const int err = avcodec_receive_frame(decoder_, frame_.get());
        if (err == 0) {
            lastIndex_ = nextIndex_ < 0 ? IndexOf(frame_.get()) : nextIndex_;
            nextIndex_ = lastIndex_ + 1;
            if (frame_->decode_error_flags || (frame_->flags & AV_FRAME_FLAG_CORRUPT))
                throw AppError(path_ + ": corrupt frame " + std::to_string(lastIndex_));
            return frame_.get();
        }
        if (err == AVERROR_EOF) {
            decoderDone_ = true;
            return nullptr;
        }
        if (err != AVERROR(EAGAIN))
            throw AppError(path_ + ": corrupt frame " + std::to_string(std::max<int64_t>(nextIndex_, 0)) +
                           ": " + AVErrorText(err));
        if (!sentEof_ && !ReadPacket(audio)) {
            avcodec_send_packet(decoder_, nullptr);
            sentEof_ = true;
        }
    }
}

void MediaReader::Seek(int64_t n) {
    const int64_t target = firstPts_ + av_rescale_q(n, av_inv_q(frameRate_), TimeBase());
    if (av_seek_frame(format_, videoIndex_, target, AVSEEK_FLAG_BACKWARD) < 0) {
        // Not seekable: start again from the top.
        Close();
        Open();
        return;
    }
    avcodec_flush_buffers(decoder_);
    sentEof_ = decoderDone_ = false;
    nextIndex_ = -1;  // learnt from the next frame's time stamp
    lastIndex_ = -1;
}

const AVFrame* MediaReader::Frame(int64_t n, std::vector<PacketPtr>* audio) {
    if (n < 0) return nullptr;
    if (n == lastIndex_) return frame_.get();
    // A short way forward is cheaper decoded than sought.
    if (nextIndex_ < 0 || n < nextIndex_ || n > nextIndex_ + 8) {
        Seek(n);
        if (audio) audio->clear();
        const AVFrame* f = Next(audio);
        if (f && lastIndex_ > n) {  // landed past it: the index map was off
            Close();
            Open();
            if (audio) audio->clear();
        } else if (f && lastIndex_ == n) {
            return f;
        }
    }
    while (const AVFrame* f = Next(audio))
        if (lastIndex_ >= n) return f;
    return nullptr;
}

void MediaReader::DrainAudio(std::vector<PacketPtr>& audio, int64_t endPts) {
    if (audioIndex_ < 0) return;
    for (;;) {
        const int err = av_read_frame(format_, packet_.get());
        if (err == AVERROR_EOF) return;
        if (err < 0) throw AppError(path_ + ": read error: " + AVErrorText(err));
        if (packet_->stream_index != audioIndex_) {
            av_packet_unref(packet_.get());
            continue;
        }
        if (endPts != AV_NOPTS_VALUE && packet_->pts != AV_NOPTS_VALUE && packet_->pts >= endPts) {
            av_packet_unref(packet_.get());
            return;
        }
        PacketPtr copy = NewPacket();
        av_packet_move_ref(copy.get(), packet_.get());
        audio.push_back(std::move(copy));
    }
}

// --- Converter ----------------------------------------------------------------

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

// Decodes the input's audio, converts it and encodes it with the container's
// own audio codec. Runs on the writer's thread.
class AudioTranscoder {
public:
    using Write = std::function<void(AVPacket*)>;

    AudioTranscoder(const AVStream* in, const AVOutputFormat* ofmt, AVFormatContext* out, const std::string& path)
        : path_(path) {
        try {
            Open(in, ofmt, out);
        } catch (...) {
            Free();
            throw;
        }
    }
    ~AudioTranscoder() { Free(); }
    AVStream* Stream() const { return stream_; }

    void Feed(const AVPacket* packet, const Write& write) {
        const int err = avcodec_send_packet(dec_, packet);
        if (err < 0 && err != AVERROR(EAGAIN) && err != AVERROR_EOF)
            throw AppError(path_ + ": the input's audio cannot be decoded: " + AVErrorText(err));
        Decode(write);
    }

    void Flush(const Write& write) {
        avcodec_send_packet(dec_, nullptr);
        Decode(write);
        Convert(nullptr, 0);
        Encode(true, write);
        avcodec_send_frame(enc_, nullptr);
        Drain(write);
    }

private:
    void Open(const AVStream* in, const AVOutputFormat* ofmt, AVFormatContext* out) {
        const std::string name = avcodec_get_name(in->codecpar->codec_id);
        const AVCodec* dcodec = avcodec_find_decoder(in->codecpar->codec_id);
        const AVCodec* ecodec = avcodec_find_encoder(ofmt->audio_codec);
        if (!dcodec || !ecodec)
            throw AppError(path_ + ": this container cannot hold the input's " + name + " audio; use .mkv");
        dec_ = avcodec_alloc_context3(dcodec);
        enc_ = avcodec_alloc_context3(ecodec);
        frame_.reset(av_frame_alloc());
        packet_.reset(av_packet_alloc());
        if (!dec_ || !enc_ || !frame_ || !packet_) throw AppError("out of memory");
        avcodec_parameters_to_context(dec_, in->codecpar);
        dec_->pkt_timebase = in->time_base;
        if (avcodec_open2(dec_, dcodec, nullptr) < 0)
            throw AppError(path_ + ": the input's " + name + " audio cannot be decoded");

        AVChannelLayout layout{};
        av_channel_layout_copy(&layout, &dec_->ch_layout);
        if (layout.order == AV_CHANNEL_ORDER_UNSPEC) av_channel_layout_default(&layout, dec_->ch_layout.nb_channels);
        av_channel_layout_copy(&enc_->ch_layout, &layout);
        enc_->sample_rate = dec_->sample_rate;
        if (const int* rates = ecodec->supported_samplerates) {
            int best = rates[0];
            for (const int* r = rates; *r; ++r)
                if (std::abs(*r - dec_->sample_rate) < std::abs(best - dec_->sample_rate)) best = *r;
            enc_->sample_rate = best;
        }
        enc_->sample_fmt = ecodec->sample_fmts ? ecodec->sample_fmts[0] : dec_->sample_fmt;
        enc_->time_base = AVRational{1, enc_->sample_rate};
        enc_->bit_rate = 64000 * std::min(enc_->ch_layout.nb_channels, 6);
        if (ofmt->flags & AVFMT_GLOBALHEADER) enc_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        int err = avcodec_open2(enc_, ecodec, nullptr);
        if (err < 0) {
            av_channel_layout_uninit(&layout);
            throw AppError(path_ + ": cannot encode audio with " + ecodec->name + ": " + AVErrorText(err));
        }
        err = swr_alloc_set_opts2(&swr_, &enc_->ch_layout, enc_->sample_fmt, enc_->sample_rate, &layout,
                                  dec_->sample_fmt, dec_->sample_rate, 0, nullptr);
        av_channel_layout_uninit(&layout);
        if (err < 0 || swr_init(swr_) < 0) throw AppError(path_ + ": cannot convert the input's audio");
        fifo_ = av_audio_fifo_alloc(enc_->sample_fmt, enc_->ch_layout.nb_channels, 4096);
        if (!fifo_) throw AppError("out of memory");

        stream_ = avformat_new_stream(out, nullptr);
        if (!stream_) throw AppError("out of memory");
        avcodec_parameters_from_context(stream_->codecpar, enc_);
        stream_->time_base = enc_->time_base;
    }

    void Free() {
        avcodec_free_context(&dec_);
        avcodec_free_context(&enc_);
        swr_free(&swr_);
        if (fifo_) av_audio_fifo_free(fifo_);
        fifo_ = nullptr;
    }

    void Decode(const Write& write) {
        while (avcodec_receive_frame(dec_, frame_.get()) == 0) {
            if (nextPts_ == AV_NOPTS_VALUE) {
                const int64_t ts = frame_->best_effort_timestamp;
                nextPts_ = ts == AV_NOPTS_VALUE ? 0 : av_rescale_q(ts, dec_->pkt_timebase, enc_->time_base);
            }
            Convert(const_cast<const uint8_t**>(frame_->extended_data), frame_->nb_samples);
            av_frame_unref(frame_.get());
            Encode(false, write);
        }
    }

    // Resamples into the queue; nil input drains the resampler.
    void Convert(const uint8_t** data, int samples) {
        const int room = swr_get_out_samples(swr_, samples);
        if (room <= 0) return;
        uint8_t** out = nullptr;
        if (av_samples_alloc_array_and_samples(&out, nullptr, enc_->ch_layout.nb_channels, room, enc_->sample_fmt, 0) < 0)
            throw AppError("out of memory");
        const int n = swr_convert(swr_, out, room, data, samples);
        if (n > 0) av_audio_fifo_write(fifo_, reinterpret_cast<void**>(out), n);
        av_freep(&out[0]);
        av_freep(&out);
    }

    void Encode(bool final, const Write& write) {
        const bool variable = enc_->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE;
        const int size = enc_->frame_size > 0 && !variable ? enc_->frame_size : 1024;
        while (av_audio_fifo_size(fifo_) >= size || (final && av_audio_fifo_size(fifo_) > 0)) {
            FramePtr f(av_frame_alloc());
            if (!f) throw AppError("out of memory");
            f->nb_samples = std::min(size, av_audio_fifo_size(fifo_));
            f->format = enc_->sample_fmt;
            f->sample_rate = enc_->sample_rate;
            av_channel_layout_copy(&f->ch_layout, &enc_->ch_layout);
            if (av_frame_get_buffer(f.get(), 0) < 0) throw AppError("out of memory");
            av_audio_fifo_read(fifo_, reinterpret_cast<void**>(f->data), f->nb_samples);
            f->pts = nextPts_ == AV_NOPTS_VALUE ? 0 : nextPts_;
            nextPts_ = f->pts + f->nb_samples;
            const int err = avcodec_send_frame(enc_, f.get());
            if (err < 0) throw AppError(path_ + ": audio encoding failed: " + AVErrorText(err));
            Drain(write);
        }
    }

    void Drain(const Write& write) {
        while (avcodec_receive_packet(enc_, packet_.get()) == 0) {
            av_packet_rescale_ts(packet_.get(), enc_->time_base, stream_->time_base);
            packet_->stream_index = stream_->index;
            write(packet_.get());
        }
    }

    std::string path_;
    AVCodecContext* dec_ = nullptr;
    AVCodecContext* enc_ = nullptr;
    SwrContext* swr_ = nullptr;
    AVAudioFifo* fifo_ = nullptr;
    FramePtr frame_;
    PacketPtr packet_;
    AVStream* stream_ = nullptr;
    int64_t nextPts_ = AV_NOPTS_VALUE;
};

// --- Writer -------------------------------------------------------------------

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

    // The temporary file lives beside the result so the final rename stays on
    // one file system.
    const size_t slash = path.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    tempPath_ = dir + "." + base + ".part-" + std::to_string(getpid());

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
    std::remove(tempPath_.c_str());
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
    if (std::rename(tempPath_.c_str(), settings_.path.c_str()) != 0)
        throw AppError(settings_.path + ": cannot write: " + std::strerror(errno));
    finished_ = true;
}
