// `vexolumen join`: the segments of a render, packet by packet, into one file.
// Each part after the first is moved in time so that its first frame follows
// the last frame of the part before (muxers shift a file's time stamps each
// their own way); what two neighbours both hold, the sound across the cut,
// is written once.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "app/AppError.h"
#include "app/commands/Commands.h"
#include "app/media/MediaCommon.h"
#include "app/media/OutputFormat.h"
#include "app/output/Placement.h"

namespace {

struct Input {
    AVFormatContext* format = nullptr;
    ~Input() { avformat_close_input(&format); }
};

void Open(Input& in, const std::string& path) {
    // A part that is a stalled FIFO gives way to a signal.
    in.format = avformat_alloc_context();
    if (!in.format) throw AppError("out of memory");
    in.format->interrupt_callback.callback = [](void*) -> int { return Interrupted() ? 1 : 0; };
    int err = avformat_open_input(&in.format, InputUrl(path).c_str(), nullptr, nullptr);
    if (Interrupted()) throw AppError("interrupted by " + InterruptName(), InterruptStatus());
    if (err < 0) throw AppError(path + ": " + AVErrorText(err));
    err = avformat_find_stream_info(in.format, nullptr);
    if (err < 0) throw AppError(path + ": cannot read the streams: " + AVErrorText(err));
}

// The same streams in the same order, with the same codecs and shapes.
void CheckMatches(const Input& first, const Input& other, const std::string& path) {
    if (other.format->nb_streams != first.format->nb_streams)
        throw AppError(path + ": has " + std::to_string(other.format->nb_streams) + " streams, the first part " +
                       std::to_string(first.format->nb_streams) + "; not a part of the same render");
    for (unsigned i = 0; i < first.format->nb_streams; ++i) {
        const AVCodecParameters* a = first.format->streams[i]->codecpar;
        const AVCodecParameters* b = other.format->streams[i]->codecpar;
        if (a->codec_type != b->codec_type || a->codec_id != b->codec_id || a->width != b->width ||
            a->height != b->height || a->format != b->format || a->sample_rate != b->sample_rate)
            throw AppError(path + ": stream " + std::to_string(i) + " differs from the first part's; not a part of "
                           "the same render");
    }
}

// The output's streams, those of the first part.
void AddStreams(AVFormatContext* format, const AVFormatContext* model) {
    for (unsigned i = 0; i < model->nb_streams; ++i) {
        AVStream* s = avformat_new_stream(format, nullptr);
        if (!s) throw AppError("out of memory");
        avcodec_parameters_copy(s->codecpar, model->streams[i]->codecpar);
        s->codecpar->codec_tag = 0;  // the output container's own
        s->time_base = model->streams[i]->time_base;
        s->avg_frame_rate = model->streams[i]->avg_frame_rate;
        s->sample_aspect_ratio = model->streams[i]->sample_aspect_ratio;
        s->disposition = model->streams[i]->disposition;
        av_dict_copy(&s->metadata, model->streams[i]->metadata, 0);
    }
    av_dict_copy(&format->metadata, model->metadata, 0);
}

// Every part's packets in turn, each part moved in time to follow the one
// before.
void CopyPackets(AVFormatContext* format, std::vector<Input>& inputs, const std::vector<std::string>& parts,
                 const std::string& out) {
    const AVFormatContext* model = inputs[0].format;
    int err = 0;
    const int video = av_find_best_stream(inputs[0].format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (video < 0) throw AppError(parts[0] + ": no video stream");
    const AVRational vtb = format->streams[video]->time_base;
    AVRational rate = model->streams[video]->avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) rate = model->streams[video]->r_frame_rate;
    const int64_t frameTime = rate.num > 0 && rate.den > 0 ? std::max<int64_t>(1, av_rescale_q(1, av_inv_q(rate), vtb)) : 1;

    std::vector<int64_t> lastDts(model->nb_streams, AV_NOPTS_VALUE);
    // Sound counted in samples keeps the packet grid of the part before: a
    // container that stores a stream's start in milliseconds (an MP4 edit
    // list) moves it by a fraction of a packet.
    std::vector<int64_t> lastPts(model->nb_streams, AV_NOPTS_VALUE), lastDuration(model->nb_streams, 0);
    int64_t videoEnd = AV_NOPTS_VALUE;  // where the next part's first frame goes, in vtb
    PacketPtr packet = NewPacket();
    for (size_t i = 0; i < inputs.size(); ++i) {
        AVFormatContext* in = inputs[i].format;
        const AVStream* first = in->streams[video];
        int64_t shift = 0;  // in vtb
        if (i > 0 && videoEnd != AV_NOPTS_VALUE && first->start_time != AV_NOPTS_VALUE)
            shift = videoEnd - av_rescale_q(first->start_time, first->time_base, vtb);
        std::vector<int64_t> moved(model->nb_streams, AV_NOPTS_VALUE);  // per stream, in its time base
        for (;;) {
            if (Interrupted())
                throw AppError("interrupted by " + InterruptName() + "; " + out + " not written", InterruptStatus());
            err = av_read_frame(in, packet.get());
            if (err == AVERROR_EOF) break;
            if (err < 0) throw AppError(parts[i] + ": read error: " + AVErrorText(err));
            const unsigned index = unsigned(packet->stream_index);
            AVStream* os = format->streams[index];
            av_packet_rescale_ts(packet.get(), in->streams[index]->time_base, os->time_base);
            if (moved[index] == AV_NOPTS_VALUE) {
                moved[index] = av_rescale_q(shift, vtb, os->time_base);
                const int64_t at = packet->pts + moved[index];
                const AVCodecParameters* par = os->codecpar;
                const bool sampleClock = par->codec_type == AVMEDIA_TYPE_AUDIO && os->time_base.num == 1 &&
                                         os->time_base.den == par->sample_rate;
                if (sampleClock && packet->pts != AV_NOPTS_VALUE && lastPts[index] != AV_NOPTS_VALUE &&
                    lastDuration[index] > 0) {
                    const int64_t d = lastDuration[index];
                    const int64_t steps = (at - lastPts[index] + (at >= lastPts[index] ? d / 2 : -d / 2)) / d;
                    moved[index] += lastPts[index] + steps * d - at;
                }
            }
            if (packet->pts != AV_NOPTS_VALUE) packet->pts += moved[index];
            if (packet->dts != AV_NOPTS_VALUE) packet->dts += moved[index];
            if (int(index) == video && packet->pts != AV_NOPTS_VALUE) {
                const int64_t end = packet->pts + (packet->duration > 0 ? packet->duration : frameTime);
                if (videoEnd == AV_NOPTS_VALUE || end > videoEnd) videoEnd = end;
            }
            const int64_t dts = packet->dts != AV_NOPTS_VALUE ? packet->dts : packet->pts;
            // What the part before already wrote.
            if (dts != AV_NOPTS_VALUE && lastDts[index] != AV_NOPTS_VALUE && dts <= lastDts[index]) {
                av_packet_unref(packet.get());
                continue;
            }
            if (dts != AV_NOPTS_VALUE) lastDts[index] = dts;
            lastPts[index] = packet->pts;
            // A stream's last packet may be cut short; the grid is the full one.
            lastDuration[index] = std::max(lastDuration[index], packet->duration);
            packet->pos = -1;
            err = av_interleaved_write_frame(format, packet.get());
            if (err < 0) throw AppError(out + ": cannot write: " + AVErrorText(err));
        }
    }
}

}  // namespace

void RunJoin(const std::string& out, const std::vector<std::string>& parts, bool overwrite) {
    if (IsSequencePath(out) || IsStillPath(out))
        throw AppError(out + ": a join is written as one video file (.mp4, .mkv or .mov), not as pictures");
    const AVOutputFormat* ofmt = av_guess_format(nullptr, out.c_str(), nullptr);
    if (!ofmt) throw AppError(out + ": unknown output format (use .mp4, .mkv or .mov)");
    OutputRequest target;
    target.out = out;
    target.inputs = parts;
    target.overwrite = overwrite;
    target.streamAllowed = target.sequenceAllowed = false;
    target.work = "join";
    CheckOutput(target);
    const InterruptWakes wakes;  // a stalled part gives way to a signal
    std::vector<Input> inputs(parts.size());
    for (size_t i = 0; i < parts.size(); ++i) {
        Open(inputs[i], parts[i]);
        if (i > 0) CheckMatches(inputs[0], inputs[i], parts[i]);
    }

    Placement placement(target);
    AVFormatContext* format = nullptr;
    struct Cleanup {
        AVFormatContext*& format;
        ~Cleanup() {
            if (format && format->pb) avio_closep(&format->pb);
            avformat_free_context(format);
        }
    } cleanup{format};

    int err = avformat_alloc_output_context2(&format, ofmt, nullptr, placement.Url().c_str());
    if (err < 0 || !format) throw AppError(out + ": " + AVErrorText(err));
    const AVFormatContext* model = inputs[0].format;
    AddStreams(format, model);
    err = avio_open(&format->pb, placement.Url().c_str(), AVIO_FLAG_WRITE);
    if (err < 0) throw AppError(out + ": cannot write: " + AVErrorText(err));
    err = avformat_write_header(format, nullptr);
    if (err < 0) throw AppError(out + ": cannot write: " + AVErrorText(err));

    CopyPackets(format, inputs, parts, out);
    err = av_write_trailer(format);
    if (err < 0) throw AppError(out + ": cannot write: " + AVErrorText(err));
    err = avio_closep(&format->pb);
    if (err < 0) throw AppError(out + ": cannot write: " + AVErrorText(err));
    placement.Place();
}
