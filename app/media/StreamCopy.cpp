#include "app/media/StreamCopy.h"

#include <cstring>
#include <vector>

#include "app/AppError.h"
#include "app/media/AudioTranscoder.h"
#include "app/media/Containers.h"
#include "app/media/MediaCommon.h"

namespace {

std::string Describe(const AVStream* st) {
    const char* kind = av_get_media_type_string(st->codecpar->codec_type);
    return std::string(kind ? kind : "data") + " stream " + std::to_string(st->index) + " (" +
           avcodec_get_name(st->codecpar->codec_id) + ")";
}

bool Listed(const std::vector<AVCodecID>& ids, AVCodecID id) {
    for (const AVCodecID i : ids)
        if (i == id) return true;
    return false;
}

// Whether the container stores this codec as it is.
int CanStore(const AVOutputFormat* ofmt, const AVCodecParameters* par) {
    const ContainerFacts& facts = FactsOf(ofmt);
    if (Listed(facts.refusedAudio, par->codec_id)) return 0;
    if (par->codec_type == AVMEDIA_TYPE_ATTACHMENT) return facts.attachments;
    if (par->codec_type == AVMEDIA_TYPE_AUDIO && !facts.audio.empty()) return Listed(facts.audio, par->codec_id);
    const int q = avformat_query_codec(ofmt, par->codec_id, FF_COMPLIANCE_NORMAL);
    if (q >= 0) return q;
    // The container does not say; text subtitles it cannot name are data no
    // player reads.
    if (par->codec_type == AVMEDIA_TYPE_AUDIO)
        return facts.knownAudio.empty() || Listed(facts.knownAudio, par->codec_id);
    const AVCodecDescriptor* d = avcodec_descriptor_get(par->codec_id);
    return d && (d->props & AV_CODEC_PROP_BITMAP_SUB) ? 1 : 0;
}

bool IsTextSubtitle(const AVCodecParameters* par) {
    const AVCodecDescriptor* d = avcodec_descriptor_get(par->codec_id);
    return par->codec_type == AVMEDIA_TYPE_SUBTITLE && d && (d->props & AV_CODEC_PROP_TEXT_SUB);
}

// The text subtitle format a container takes, as ffmpeg picks it.
AVCodecID TextSubtitleCodec(const AVOutputFormat* ofmt) {
    if (FactsOf(ofmt).textSubtitles != AV_CODEC_ID_NONE) return FactsOf(ofmt).textSubtitles;
    return avcodec_find_encoder(ofmt->subtitle_codec) ? ofmt->subtitle_codec : AV_CODEC_ID_NONE;
}

}  // namespace

// Text subtitles into the container's own text format (SubRip to MP4's
// timed text), cue by cue.
class SubtitleTranscoder {
public:
    SubtitleTranscoder(const AVStream* in, AVCodecID to, AVFormatContext* out, const std::string& path)
        : in_(in), path_(path) {
        const AVCodec* dcodec = avcodec_find_decoder(in->codecpar->codec_id);
        const AVCodec* ecodec = avcodec_find_encoder(to);
        if (!dcodec || !ecodec) throw AppError(path + ": cannot convert the " + Describe(in));
        dec_ = avcodec_alloc_context3(dcodec);
        enc_ = avcodec_alloc_context3(ecodec);
        if (!dec_ || !enc_) throw AppError("out of memory");
        avcodec_parameters_to_context(dec_, in->codecpar);
        dec_->pkt_timebase = in->time_base;
        if (avcodec_open2(dec_, dcodec, nullptr) < 0) throw AppError(path + ": cannot read the " + Describe(in));
        enc_->time_base = AVRational{1, 1000};
        if (dec_->subtitle_header) {
            enc_->subtitle_header = static_cast<uint8_t*>(av_mallocz(dec_->subtitle_header_size + 1));
            if (!enc_->subtitle_header) throw AppError("out of memory");
            std::memcpy(enc_->subtitle_header, dec_->subtitle_header, dec_->subtitle_header_size);
            enc_->subtitle_header_size = dec_->subtitle_header_size;
        }
        if (avcodec_open2(enc_, ecodec, nullptr) < 0) throw AppError(path + ": cannot convert the " + Describe(in));
        stream_ = avformat_new_stream(out, nullptr);
        if (!stream_) throw AppError("out of memory");
        avcodec_parameters_from_context(stream_->codecpar, enc_);
        stream_->time_base = enc_->time_base;
    }
    ~SubtitleTranscoder() {
        avcodec_free_context(&dec_);
        avcodec_free_context(&enc_);
    }
    AVStream* Stream() const { return stream_; }

    void Feed(AVPacket* packet, const CarriedStreams::Sink& write) {
        AVSubtitle sub{};
        int got = 0;
        if (avcodec_decode_subtitle2(dec_, &sub, &got, packet) < 0 || !got) return;  // a cue it cannot read
        std::vector<uint8_t> buffer(1 << 16);
        const int n = avcodec_encode_subtitle(enc_, buffer.data(), int(buffer.size()), &sub);
        avsubtitle_free(&sub);
        if (n < 0) throw AppError(path_ + ": cannot convert the " + Describe(in_));
        PacketPtr p = NewPacket();
        if (av_new_packet(p.get(), n) < 0) throw AppError("out of memory");
        std::memcpy(p->data, buffer.data(), size_t(n));
        p->pts = p->dts = packet->pts;
        p->duration = packet->duration;
        av_packet_rescale_ts(p.get(), in_->time_base, stream_->time_base);
        p->stream_index = stream_->index;
        write(p.get());
    }

private:
    const AVStream* in_;
    std::string path_;
    AVCodecContext* dec_ = nullptr;
    AVCodecContext* enc_ = nullptr;
    AVStream* stream_ = nullptr;
};

CarriedStreams::CarriedStreams(const std::vector<const AVStream*>& in, const AVOutputFormat* ofmt,
                               AVFormatContext* out, const std::string& path, std::vector<std::string>& notes) {
    const bool pictures = ofmt->flags & AVFMT_NOTIMESTAMPS || FactsOf(ofmt).pictures;
    for (const AVStream* st : in) {
        const AVMediaType type = st->codecpar->codec_type;
        if (pictures) continue;  // a picture file holds no sound; that goes without saying
        Route r;
        r.in = st;
        if (CanStore(ofmt, st->codecpar)) {
            r.out = avformat_new_stream(out, nullptr);
            if (!r.out) throw AppError("out of memory");
            avcodec_parameters_copy(r.out->codecpar, st->codecpar);
            r.out->codecpar->codec_tag = 0;
            r.out->time_base = st->time_base;
        } else if (type == AVMEDIA_TYPE_AUDIO && ofmt->audio_codec != AV_CODEC_ID_NONE) {
            r.coder = std::make_unique<AudioTranscoder>(st, ofmt, out, path);
            r.out = r.coder->Stream();
        } else if (IsTextSubtitle(st->codecpar) && TextSubtitleCodec(ofmt) != AV_CODEC_ID_NONE) {
            r.text = std::make_unique<SubtitleTranscoder>(st, TextSubtitleCodec(ofmt), out, path);
            r.out = r.text->Stream();
        } else {
            notes.push_back(Describe(st) + " left out: " + ofmt->name + " cannot hold it");
            continue;
        }
        CopyStreamInfo(st, r.out);
        routes_.emplace(st->index, std::move(r));
    }
}

CarriedStreams::~CarriedStreams() = default;

bool CarriedStreams::HasAudio() const {
    for (const auto& [i, r] : routes_)
        if (r.in->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) return true;
    return false;
}

bool CarriedStreams::AudioCopied() const {
    for (const auto& [i, r] : routes_)
        if (r.in->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && r.coder) return false;
    return HasAudio();
}

void CarriedStreams::Write(AVPacket* packet, const Sink& write) {
    const auto it = routes_.find(packet->stream_index);
    if (it == routes_.end()) return;
    Route& r = it->second;
    if (r.coder) {
        r.coder->Feed(packet, write);
        return;
    }
    if (r.text) {
        r.text->Feed(packet, write);
        return;
    }
    av_packet_rescale_ts(packet, r.in->time_base, r.out->time_base);
    packet->stream_index = r.out->index;
    packet->pos = -1;
    write(packet);
}

void CarriedStreams::Flush(const Sink& write) {
    for (auto& [i, r] : routes_)
        if (r.coder) r.coder->Flush(write);
}

void CopyContainerInfo(const AVFormatContext* in, AVFormatContext* out, int64_t start, int64_t end,
                       int64_t shift) {
    av_dict_copy(&out->metadata, in->metadata, 0);
    av_dict_set(&out->metadata, "encoder", nullptr, 0);
    av_dict_set(&out->metadata, "duration", nullptr, 0);
    for (unsigned i = 0; i < in->nb_chapters; ++i) {
        const AVChapter* c = in->chapters[i];
        const int64_t s = av_rescale_q(c->start, c->time_base, AV_TIME_BASE_Q);
        const int64_t e = av_rescale_q(c->end, c->time_base, AV_TIME_BASE_Q);
        if (e <= start || s >= end) continue;
        auto* copy = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
        if (!copy) throw AppError("out of memory");
        copy->id = c->id;
        copy->time_base = AV_TIME_BASE_Q;
        // Muxers refuse a chapter before the start.
        copy->start = std::max<int64_t>(0, std::max(s, start) - shift);
        copy->end = std::max(copy->start, std::min(e, end) - shift);
        av_dict_copy(&copy->metadata, c->metadata, 0);
        if (av_dynarray_add_nofree(&out->chapters, reinterpret_cast<int*>(&out->nb_chapters), copy) < 0) {
            av_dict_free(&copy->metadata);
            av_free(copy);
            throw AppError("out of memory");
        }
    }
}

void CopyStreamInfo(const AVStream* in, AVStream* out) {
    av_dict_copy(&out->metadata, in->metadata, 0);
    // Stale once the stream is re-encoded or cut.
    for (const char* key : {"rotate", "DURATION", "duration", "encoder", "ENCODER", "alpha_mode"})
        av_dict_set(&out->metadata, key, nullptr, 0);
    out->disposition = in->disposition & ~AV_DISPOSITION_ATTACHED_PIC;
}

void CopyVideoSideData(const AVStream* in, AVStream* out, bool displayMatrix) {
    for (int i = 0; i < in->nb_side_data; ++i) {
        const AVPacketSideData& sd = in->side_data[i];
        if (sd.type != AV_PKT_DATA_MASTERING_DISPLAY_METADATA && sd.type != AV_PKT_DATA_CONTENT_LIGHT_LEVEL &&
            !(displayMatrix && sd.type == AV_PKT_DATA_DISPLAYMATRIX))
            continue;
        uint8_t* data = av_stream_new_side_data(out, sd.type, sd.size);
        if (!data) throw AppError("out of memory");
        std::memcpy(data, sd.data, sd.size);
    }
}

void CopyFrameHdrData(const AVFrame* frame, AVStream* out) {
    const struct {
        AVFrameSideDataType frame;
        AVPacketSideDataType stream;
    } kinds[] = {{AV_FRAME_DATA_MASTERING_DISPLAY_METADATA, AV_PKT_DATA_MASTERING_DISPLAY_METADATA},
                 {AV_FRAME_DATA_CONTENT_LIGHT_LEVEL, AV_PKT_DATA_CONTENT_LIGHT_LEVEL}};
    for (const auto& k : kinds) {
        const AVFrameSideData* sd = av_frame_get_side_data(frame, k.frame);
        if (!sd || av_stream_get_side_data(out, k.stream, nullptr)) continue;
        // Both carry the same structure.
        uint8_t* data = av_stream_new_side_data(out, k.stream, sd->size);
        if (!data) throw AppError("out of memory");
        std::memcpy(data, sd->data, sd->size);
    }
}
