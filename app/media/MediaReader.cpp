#include <sys/stat.h>

#include <algorithm>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "app/AppError.h"
#include "app/media/MediaCommon.h"

MediaReader::MediaReader(const std::string& path, const std::string& label)
    : path_(path == "-" ? "pipe:0" : path), label_(label.empty() ? path : label) {
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

// FFmpeg takes "10:30.mp4" for protocol "10"; a name the user gives is a
// file unless it is a pipe, says file: itself, or is a URL of a protocol
// FFmpeg has.
std::string InputUrl(const std::string& path) {
    if (path == "-" || (path.rfind("pipe:", 0) == 0 && path.find_first_not_of("0123456789", 5) == std::string::npos))
        return path;
    struct stat st;
    if (lstat(path.c_str(), &st) == 0) return "file:" + path;
    if (path.rfind("file:", 0) == 0) return path;
    const size_t colon = path.find("://");
    if (colon != std::string::npos && colon > 0) {
        const std::string scheme = path.substr(0, colon);
        void* state = nullptr;
        while (const char* name = avio_enum_protocols(&state, 0))
            if (scheme == name) return path;
    }
    return "file:" + path;
}

namespace {

// Reading stops when a signal asks the program to end: a pipe or FIFO whose
// writer stalls must not hold it.
AVFormatContext* NewInputContext() {
    AVFormatContext* f = avformat_alloc_context();
    if (!f) throw AppError("out of memory");
    f->interrupt_callback.callback = [](void*) -> int { return Interrupted() ? 1 : 0; };
    return f;
}

}  // namespace

MediaReader::~MediaReader() { Close(); }

void MediaReader::Close() {
    avcodec_free_context(&decoder_);
    avformat_close_input(&format_);
}

void MediaReader::ReleaseDecoder() {
    frame_.reset();
    avcodec_free_context(&decoder_);
}

namespace {

// Decoders whose strict mode refuses sound files: FFmpeg's TIFF decoder
// fails every picture with a tag it does not know, which its own encoder
// writes (ResolutionUnit).
bool ExplodesOnSoundFiles(AVCodecID id) {
    static constexpr AVCodecID kCodecs[] = {AV_CODEC_ID_TIFF};
    return std::find(std::begin(kCodecs), std::end(kCodecs), id) != std::end(kCodecs);
}

}  // namespace

void MediaReader::OpenDecoder(bool strict) {
    AVStream* st = format_->streams[videoIndex_];
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    // The native VP9 decoder ignores the alpha that WebM keeps beside the picture.
    const AVDictionaryEntry* alphaMode = av_dict_get(st->metadata, "alpha_mode", nullptr, 0);
    alphaDecoder_ = false;
    if (st->codecpar->codec_id == AV_CODEC_ID_VP9 && alphaMode && std::string(alphaMode->value) == "1") {
        if (const AVCodec* vpx = avcodec_find_decoder_by_name("libvpx-vp9")) {
            codec = vpx;
            alphaDecoder_ = true;
        }
    }
    if (!codec) throw AppError(label_ + ": no decoder for its video codec");
    decoder_ = avcodec_alloc_context3(codec);
    if (!decoder_) throw AppError("out of memory");
    avcodec_parameters_to_context(decoder_, st->codecpar);
    decoder_->pkt_timebase = st->time_base;
    // Damage is an error, not concealed; after a seek, pictures that refer to
    // frames before the seek point must only be marked, which the frame
    // threads of an exploding decoder turn into an error on every frame after.
    decoder_->err_recognition |= strict && !ExplodesOnSoundFiles(codec->id) ? AV_EF_EXPLODE | AV_EF_CRCCHECK
                                                                            : AV_EF_CRCCHECK;
    // Frame threads keep every core busy but can drop a damaged frame without
    // a word, which Next finds by counting; with other decoders than these
    // they can also abort the process on damage, so those keep slice threads.
    decoder_->thread_count = 0;
    decoder_->thread_type = FF_THREAD_SLICE;
    if (codec->id == AV_CODEC_ID_H264 || codec->id == AV_CODEC_ID_HEVC) decoder_->thread_type |= FF_THREAD_FRAME;
    const int err = avcodec_open2(decoder_, codec, nullptr);
    if (err < 0) throw AppError(label_ + ": cannot open the video decoder: " + AVErrorText(err));
    if (decoder_->width <= 0 || decoder_->height <= 0) throw AppError(label_ + ": video size unknown");
    if (decoder_->width > 32767 || decoder_->height > 32767)
        throw AppError(label_ + ": frames larger than 32767 pixels are not supported");
}

void MediaReader::Open() {
    format_ = NewInputContext();
    int err = avformat_open_input(&format_, InputUrl(path_).c_str(), nullptr, nullptr);
    if (err < 0) throw AppError(label_ + ": " + AVErrorText(err));
    err = avformat_find_stream_info(format_, nullptr);
    if (err < 0) throw AppError(label_ + ": cannot read the streams: " + AVErrorText(err));
    seekable_ = format_->pb && (format_->pb->seekable & AVIO_SEEKABLE_NORMAL);

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
    if (videoIndex_ < 0) throw AppError(label_ + ": no video stream");
    carried_.clear();
    for (unsigned i = 0; i < format_->nb_streams; ++i) {
        const AVMediaType type = format_->streams[i]->codecpar->codec_type;
        if (type == AVMEDIA_TYPE_AUDIO || type == AVMEDIA_TYPE_SUBTITLE || type == AVMEDIA_TYPE_ATTACHMENT)
            carried_.push_back(int(i));
        else if (int(i) != videoIndex_)
            format_->streams[i]->discard = AVDISCARD_ALL;
    }

    OpenDecoder(true);
    AVStream* st = format_->streams[videoIndex_];
    frameRate_ = st->avg_frame_rate;
    if (frameRate_.num <= 0 || frameRate_.den <= 0) frameRate_ = st->r_frame_rate;
    if (frameRate_.num <= 0 || frameRate_.den <= 0) frameRate_ = AVRational{25, 1};
    frameDuration_ = std::max<int64_t>(1, av_rescale_q(1, av_inv_q(frameRate_), st->time_base));
    firstPts_ = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
    nextIndex_ = 0;
    lastIndex_ = -1;
    sentEof_ = decoderDone_ = false;
    tailPartial_ = cutOff_ = false;
    leadInEnd_ = AV_NOPTS_VALUE;
    seekMissed_ = false;
    damage_.Restart(CountsFrames());
}

// VP8 and VP9 send reference frames that are never shown.
bool MediaReader::CountsFrames() const {
    return decoder_->codec_id != AV_CODEC_ID_VP8 && decoder_->codec_id != AV_CODEC_ID_VP9;
}

int MediaReader::Width() const { return decoder_->width; }
int MediaReader::Height() const { return decoder_->height; }
AVPixelFormat MediaReader::PixelFormat() const {
    if (alphaDecoder_) return AV_PIX_FMT_YUVA420P;  // known only once a frame is decoded
    return decoder_->pix_fmt != AV_PIX_FMT_NONE ? decoder_->pix_fmt
                                                : AVPixelFormat(VideoStream()->codecpar->format);
}
bool MediaReader::HasAlpha() const {
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(PixelFormat());
    return d && (d->flags & AV_PIX_FMT_FLAG_ALPHA);
}
int64_t MediaReader::ClipStart() const {
    int64_t start = firstPts_;
    for (unsigned i = 0; i < format_->nb_streams; ++i) {
        const AVStream* st = format_->streams[i];
        if ((int(i) != videoIndex_ && !IsCarried(int(i))) || st->start_time == AV_NOPTS_VALUE) continue;
        if (av_compare_ts(st->start_time, st->time_base, start, TimeBase()) < 0)
            start = av_rescale_q_rnd(st->start_time, st->time_base, TimeBase(),
                                     AVRounding(AV_ROUND_DOWN | AV_ROUND_PASS_MINMAX));
    }
    return start;
}

AVRational MediaReader::TimeBase() const { return format_->streams[videoIndex_]->time_base; }
const AVStream* MediaReader::VideoStream() const { return format_->streams[videoIndex_]; }

int64_t MediaReader::ClaimedFrames() const {
    const AVStream* st = VideoStream();
    if (st->nb_frames > 0) return st->nb_frames;
    if (format_->duration > 0) return av_rescale_q(format_->duration, AV_TIME_BASE_Q, av_inv_q(frameRate_));
    return -1;
}

int64_t MediaReader::FrameCount() {
    if (frameCount_ >= 0) return frameCount_;
    if (!seekable_) return frameCount_ = std::max<int64_t>(ClaimedFrames(), 1);
    // Headers can promise more than a cut-off file holds: count the packets,
    // which is quick because nothing is decoded.
    AVFormatContext* scan = NewInputContext();
    int64_t count = 0, stored = 0, end = INT64_MIN;  // end: of the last packet of any stream, AV_TIME_BASE units
    bool counted = false;
    if (avformat_open_input(&scan, InputUrl(path_).c_str(), nullptr, nullptr) >= 0 &&
        avformat_find_stream_info(scan, nullptr) >= 0 && unsigned(videoIndex_) < scan->nb_streams) {
        for (unsigned i = 0; i < scan->nb_streams; ++i)
            if (int(i) != videoIndex_ && !IsCarried(int(i))) scan->streams[i]->discard = AVDISCARD_ALL;
        AVPacket* p = av_packet_alloc();
        while (p && av_read_frame(scan, p) >= 0) {
            if (p->pts != AV_NOPTS_VALUE)
                end = std::max(end, av_rescale_q(p->pts + p->duration, scan->streams[p->stream_index]->time_base,
                                                 AV_TIME_BASE_Q));
            if (p->stream_index == videoIndex_) {
                ++stored;
                if (!(p->flags & AV_PKT_FLAG_DISCARD)) ++count;
            }
            av_packet_unref(p);
        }
        counted = p != nullptr;
        av_packet_free(&p);
        // MPEG-TS states no length, but a file cut anywhere ends inside a
        // transport packet.
        const int64_t size = avio_size(scan->pb);
        if (counted && std::string(scan->iformat->name) == "mpegts" && size > 0 && size % 188 != 0 && size % 192 != 0)
            tornTail_ = true;
        // A length the header states (Matroska's) that the packets fall short of.
        if (counted && scan->duration_estimation_method == AVFMT_DURATION_FROM_STREAM && scan->duration > 0 &&
            end != INT64_MIN && scan->start_time != AV_NOPTS_VALUE) {
            const int64_t missing = scan->start_time + scan->duration - end;
            const int64_t frame = av_rescale_q(1, av_inv_q(frameRate_), AV_TIME_BASE_Q);
            if (missing > std::max<int64_t>(AV_TIME_BASE / 2, 2 * frame)) missingTime_ = missing;
        }
    }
    avformat_close_input(&scan);
    storedPackets_ = counted ? stored : -1;
    if (!counted || count == 0) count = ClaimedFrames();
    return frameCount_ = std::max<int64_t>(count, 1);
}

int64_t MediaReader::IndexOf(const AVFrame* f) const {
    const int64_t ts = f->best_effort_timestamp;
    if (ts == AV_NOPTS_VALUE) return nextIndex_;
    return av_rescale_q(ts - firstPts_, TimeBase(), av_inv_q(frameRate_));
}

// The file holds less than its container says: the last frame may be torn
// even where the read did not come short (AVI trims it to what is there).
bool MediaReader::ShortOfHeader() const {
    return frameCount_ >= 0 && (tornTail_ || missingTime_ > 0 || VideoStream()->nb_frames > storedPackets_);
}

bool MediaReader::ReadPacket(std::vector<PacketPtr>* audio) {
    for (;;) {
        const int err = av_read_frame(format_, packet_.get());
        if (err == AVERROR_EOF) {
            if (ShortOfHeader()) tailPartial_ = true;
            return false;
        }
        if (err < 0) throw AppError(label_ + ": read error: " + AVErrorText(err));
        if (packet_->stream_index == videoIndex_) {
            if (packet_->size > 0 && !(packet_->flags & AV_PKT_FLAG_DISCARD)) damage_.Sent(packet_->pts);
            // A read that came short (AVI) also ends where the file was cut.
            const bool shortRead = packet_->flags & AV_PKT_FLAG_CORRUPT;
            const bool torn = avio_feof(format_->pb) || shortRead;
            const int sent = avcodec_send_packet(decoder_, packet_.get());
            av_packet_unref(packet_.get());
            if (sent < 0 && sent != AVERROR(EAGAIN) && !InLeadIn()) {
                // A file cut off inside its last frame ends before that frame.
                if (torn) {
                    cutOff_ = true;
                    tailPartial_ = tailPartial_ || shortRead;
                    return false;
                }
                throw AppError(label_ + ": corrupt frame " + std::to_string(nextIndex_) + ": " +
                               AVErrorText(sent));
            }
            if (torn) tailPartial_ = true;
            return true;
        }
        if (audio && IsCarried(packet_->stream_index)) {
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
            const bool damaged = frame_->decode_error_flags || (frame_->flags & AV_FRAME_FLAG_CORRUPT);
            if (InLeadIn()) {
                const int64_t ts = frame_->best_effort_timestamp;
                if (ts == AV_NOPTS_VALUE || ts >= leadInEnd_) {
                    leadInEnd_ = AV_NOPTS_VALUE;
                } else if (damaged) {
                    continue;
                }
            }
            lastIndex_ = nextIndex_ < 0 ? IndexOf(frame_.get()) : nextIndex_;
            if (damaged) {
                if (tailPartial_) {  // the frame the file was cut off in
                    cutOff_ = decoderDone_ = true;
                    return nullptr;
                }
                throw AppError(label_ + ": corrupt frame " + std::to_string(lastIndex_));
            }
            damage_.Received(frame_->pts, frame_->interlaced_frame);
            nextIndex_ = lastIndex_ + 1;
            FillColourTags(frame_.get());
            return frame_.get();
        }
        if (err == AVERROR_EOF) {
            decoderDone_ = true;
            // A seek by time alone (MPEG-TS) can land past the key frame,
            // and nothing from the target on decodes: Frame starts over.
            if (InLeadIn()) {
                seekMissed_ = true;
                return nullptr;
            }
            // The frame a file was cut off in may vanish without a word.
            if (const int64_t lost = damage_.Lost() - (tailPartial_ ? 1 : 0); lost > 0)
                throw AppError(label_ + ": corrupt frame " + std::to_string(std::max<int64_t>(nextIndex_, 0)) +
                               " (" + std::to_string(lost) + " not decoded)");
            return nullptr;
        }
        if (err != AVERROR(EAGAIN) && !InLeadIn()) {
            if (tailPartial_) {  // the frame the file was cut off in
                cutOff_ = decoderDone_ = true;
                return nullptr;
            }
            throw AppError(label_ + ": corrupt frame " + std::to_string(std::max<int64_t>(nextIndex_, 0)) +
                           ": " + AVErrorText(err));
        }
        if (!sentEof_ && !ReadPacket(audio)) {
            avcodec_send_packet(decoder_, nullptr);
            sentEof_ = true;
        }
    }
}

bool MediaReader::InLeadIn() const { return leadInEnd_ != AV_NOPTS_VALUE; }

// The key frame before the one at or before the target, where the index
// knows it: pictures of an open GOP refer to frames before their key frame.
int64_t MediaReader::SeekPoint(int64_t target) const {
    AVStream* st = format_->streams[videoIndex_];
    const int at = av_index_search_timestamp(st, target, AVSEEK_FLAG_BACKWARD);
    for (int i = at - 1; i >= 0; --i) {
        const AVIndexEntry* e = avformat_index_get_entry(st, i);
        if (e && (e->flags & AVINDEX_KEYFRAME)) return e->timestamp;
    }
    // Without an index, a few seconds earlier, likely before a key frame.
    if (at < 0) return std::max(firstPts_, target - av_rescale_q(3 * AV_TIME_BASE, AV_TIME_BASE_Q, st->time_base));
    return target;
}

void MediaReader::Seek(int64_t n) {
    if (!seekable_) return;  // the caller decodes forward
    const int64_t target = firstPts_ + av_rescale_q(n, av_inv_q(frameRate_), TimeBase());
    if (av_seek_frame(format_, videoIndex_, SeekPoint(target), AVSEEK_FLAG_BACKWARD) < 0) {
        // Not seekable: start again from the top.
        Close();
        Open();
        return;
    }
    avcodec_free_context(&decoder_);
    OpenDecoder(false);
    leadInEnd_ = target;
    seekMissed_ = false;
    damage_.Restart(CountsFrames(), leadInEnd_);
    sentEof_ = decoderDone_ = false;
    tailPartial_ = cutOff_ = false;
    nextIndex_ = -1;  // learnt from the next frame's time stamp
    lastIndex_ = -1;
}

const AVFrame* MediaReader::Frame(int64_t n, std::vector<PacketPtr>* audio) {
    if (n < 0) return nullptr;
    if (n == lastIndex_) return frame_.get();
    if (!seekable_ && n < nextIndex_)
        throw AppError(label_ + ": frame " + std::to_string(n) + " has gone by; a pipe is read only once");
    // A short way forward is cheaper decoded than sought.
    if (seekable_ && (nextIndex_ < 0 || n < nextIndex_ || n > nextIndex_ + 8)) {
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
    if (seekMissed_) {
        Close();
        Open();
        if (audio) audio->clear();
        while (const AVFrame* f = Next(audio))
            if (lastIndex_ >= n) return f;
    }
    return nullptr;
}

bool MediaReader::IsCarried(int index) const {
    return std::find(carried_.begin(), carried_.end(), index) != carried_.end();
}

void MediaReader::DrainAudio(std::vector<PacketPtr>& audio, int64_t endPts) {
    if (carried_.empty()) return;
    for (;;) {
        const int err = av_read_frame(format_, packet_.get());
        if (err == AVERROR_EOF) return;
        if (err < 0) throw AppError(label_ + ": read error: " + AVErrorText(err));
        if (!IsCarried(packet_->stream_index)) {
            av_packet_unref(packet_.get());
            continue;
        }
        // Streams interleave by time, give or take a little: a packet well
        // past the end means the others have passed it too.
        const AVRational tb = format_->streams[packet_->stream_index]->time_base;
        if (endPts != AV_NOPTS_VALUE && packet_->pts != AV_NOPTS_VALUE &&
            av_compare_ts(packet_->pts, tb, endPts, TimeBase()) >= 0) {
            const int64_t slack = av_rescale_q(2 * AV_TIME_BASE, AV_TIME_BASE_Q, TimeBase());
            const bool farPast = av_compare_ts(packet_->pts, tb, endPts + slack, TimeBase()) >= 0;
            av_packet_unref(packet_.get());
            if (farPast) return;
            continue;
        }
        PacketPtr copy = NewPacket();
        av_packet_move_ref(copy.get(), packet_.get());
        audio.push_back(std::move(copy));
    }
}

void DropDetector::Restart(bool checked, int64_t forgiveBelow) {
    leading_.clear();
    sent_ = received_ = skipped_ = 0;
    forgiveBelow_ = forgiveBelow;
    checked_ = checked;
    started_ = false;
}

void DropDetector::Sent(int64_t pts) {
    ++sent_;
    if (!started_ && pts != AV_NOPTS_VALUE) leading_.insert(pts);
}

void DropDetector::Received(int64_t pts, bool fields) {
    if (!started_ && pts != AV_NOPTS_VALUE && pts < forgiveBelow_) return;  // counted among the leading
    ++received_;
    if (fields) checked_ = false;
    if (started_) return;
    started_ = true;
    if (pts != AV_NOPTS_VALUE)
        skipped_ = int64_t(std::distance(leading_.begin(), leading_.lower_bound(pts)));
    leading_.clear();
}

int64_t DropDetector::Lost() const {
    if (!checked_) return 0;
    // Nothing came back from the target on: what was sent from there is lost.
    if (!started_ && forgiveBelow_ != INT64_MIN)
        return int64_t(std::distance(leading_.lower_bound(forgiveBelow_), leading_.end()));
    return std::max<int64_t>(0, sent_ - received_ - skipped_);
}
