#pragma once
#include <functional>
#include <string>

extern "C" {
#include <libavutil/audio_fifo.h>
#include <libavutil/imgutils.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libswresample/swresample.h>
}

#include "app/AppError.h"
#include "app/media/MediaCommon.h"

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
        // Vorbis and Opus pick a rate that suits the sample rate; a fixed one
        // can lie outside their range (8 kHz Vorbis).
        if (ecodec->id != AV_CODEC_ID_VORBIS && ecodec->id != AV_CODEC_ID_OPUS)
            enc_->bit_rate = 64000 * std::min(enc_->ch_layout.nb_channels, 6);
        if (ofmt->flags & AVFMT_GLOBALHEADER) enc_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        ForgetLibraryError();
        int err = avcodec_open2(enc_, ecodec, nullptr);
        if (err < 0) {
            av_channel_layout_uninit(&layout);
            throw AppError(path_ + ": cannot encode audio with " + ecodec->name + ": " + LibraryReason(err));
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
