// `vexolumen join`: the parts of a render spread over many runs, into one
// file without re-encoding. The parts carry only pictures, with the times of
// their place in the clip; the sound, subtitles, attachments, chapters and
// tags come from the source once, copied or converted as one render carries
// them, so nothing is cut or moved at the seams.
#include <algorithm>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "app/AppError.h"
#include "app/commands/Commands.h"
#include "app/media/MediaCommon.h"
#include "app/media/OutputFormat.h"
#include "app/media/StreamCopy.h"
#include "app/output/Placement.h"
#include "app/render/PartInfo.h"
#include "app/render/Pipeline.h"

namespace {

struct Input {
    AVFormatContext* format = nullptr;
    Input() = default;
    Input(Input&& o) noexcept : format(o.format) { o.format = nullptr; }
    Input& operator=(Input&& o) noexcept {
        std::swap(format, o.format);
        return *this;
    }
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

// A read cut short by a signal can look like the end of a part.
void CheckInterrupt(const std::string& out) {
    if (Interrupted())
        throw AppError("interrupted by " + InterruptName() + "; " + out + " not written", InterruptStatus());
}

struct Part {
    std::string path;
    Input in;
    PartInfo info;
    int video = -1;
};

// The same video stream, with the same codec and shape, as the first part.
void CheckMatches(const Part& first, const Part& other) {
    const AVCodecParameters* a = first.in.format->streams[first.video]->codecpar;
    const AVCodecParameters* b = other.in.format->streams[other.video]->codecpar;
    if (a->codec_id != b->codec_id || a->width != b->width || a->height != b->height || a->format != b->format)
        throw AppError(other.path + ": its video differs from " + first.path + "'s; not a part of the same render");
}

// A whole set: one clip, one set of settings, every part once, each
// starting where the one before ends. Sorts the parts by their index.
void CheckSet(std::vector<Part>& parts) {
    const Part& model = parts[0];
    for (const Part& p : parts) {
        if (!SameSource(p.info.sourceId, model.info.sourceId) || p.info.clipZero != model.info.clipZero)
            throw AppError(p.path + ": a part of another clip (" + p.info.source + ") than " + model.path + " (" +
                           model.info.source + ")");
        if (p.info.settings != model.info.settings || p.info.count != model.info.count)
            throw AppError(p.path + ": rendered with other settings than " + model.path);
        CheckMatches(model, p);
    }
    std::stable_sort(parts.begin(), parts.end(), [](const Part& a, const Part& b) { return a.info.index < b.info.index; });
    for (size_t i = 1; i < parts.size(); ++i)
        if (parts[i].info.index == parts[i - 1].info.index)
            throw AppError(parts[i].path + ": part " + std::to_string(parts[i].info.index) + " given twice (also " +
                           parts[i - 1].path + ")");
    const int64_t n = model.info.count;
    for (int64_t k = 1, i = 0; k <= n; ++k, ++i)
        if (size_t(i) >= parts.size() || parts[size_t(i)].info.index != k)
            throw AppError("part " + std::to_string(k) + " of " + std::to_string(n) + " is missing (" +
                           std::to_string(parts.size()) + " of " + std::to_string(n) + " given)");
    for (size_t i = 1; i < parts.size(); ++i) {
        const PartInfo& a = parts[i - 1].info;
        const PartInfo& b = parts[i].info;
        if (b.first != a.first + a.frames)
            throw AppError(parts[i].path + ": starts at frame " + std::to_string(b.first) + ", not at frame " +
                           std::to_string(a.first + a.frames) + " where " + parts[i - 1].path + " ends");
    }
}

// The clip the parts were made from, where they say or where --source says.
void OpenSource(Input& source, std::string& path, const PartInfo& info) {
    const bool named = !path.empty();
    if (!named) path = info.source;
    const std::string id = SourceIdentity(path);
    if (id.empty())
        throw AppError(path + ": the parts' source is not there" + (named ? "" : " (name it with --source)"));
    if (!SameSource(id, info.sourceId))
        throw AppError(path + ": not the clip the parts were rendered from" + (named ? "" : " (name it with --source)"));
    Open(source, path);
}

// Packets of one stream of files read in turn, each packet in the output's
// time base; what a container leaves without a decode time stamp (Matroska)
// gets one before the next packet's.
class VideoPackets {
public:
    VideoPackets(std::vector<Part>& parts, const AVStream* out, const std::string& path)
        : parts_(parts), out_(out), path_(path) {}
    // The next packet, nil at the end.
    AVPacket* Peek();
    PacketPtr Take();
    size_t PartIndex() const { return part_; }
    int64_t End() const { return end_; }  // of the last frame taken, output time base

private:
    bool Fill();
    std::vector<Part>& parts_;
    const AVStream* out_;
    std::string path_;  // the output's, for messages
    size_t part_ = 0;
    int64_t shift_ = AV_NOPTS_VALUE, lastDts_ = AV_NOPTS_VALUE, end_ = AV_NOPTS_VALUE;
    std::deque<PacketPtr> queue_;
};

// Reads up to the next packet with a decode time stamp; those before it get
// one each, just before the next.
bool VideoPackets::Fill() {
    while (part_ < parts_.size()) {
        Part& p = parts_[part_];
        PacketPtr packet = NewPacket();
        const int err = av_read_frame(p.in.format, packet.get());
        CheckInterrupt(path_);
        if (err == AVERROR_EOF) {
            if (!queue_.empty()) return true;
            ++part_;
            shift_ = AV_NOPTS_VALUE;
            continue;
        }
        if (err < 0) throw AppError(p.path + ": read error: " + AVErrorText(err));
        if (packet->stream_index != p.video) continue;
        av_packet_rescale_ts(packet.get(), p.in.format->streams[p.video]->time_base, out_->time_base);
        // The part's first frame goes where its place in the clip says, to
        // the tick: containers round a part's start their own way.
        if (shift_ == AV_NOPTS_VALUE) {
            const int64_t at = av_rescale_q(p.info.startPts - p.info.clipZero, p.info.timeBase, out_->time_base);
            shift_ = packet->pts != AV_NOPTS_VALUE ? at - packet->pts : 0;
        }
        if (packet->pts != AV_NOPTS_VALUE) packet->pts += shift_;
        if (packet->dts != AV_NOPTS_VALUE) packet->dts += shift_;
        const bool timed = packet->dts != AV_NOPTS_VALUE;
        queue_.push_back(std::move(packet));
        if (timed) return true;
    }
    return !queue_.empty();
}

AVPacket* VideoPackets::Peek() {
    if (queue_.empty() && !Fill()) return nullptr;
    if (queue_.front()->dts == AV_NOPTS_VALUE) {
        int64_t next = queue_.back()->dts;
        for (size_t i = queue_.size(); i-- > 0;) {
            AVPacket* q = queue_[i].get();
            if (q->dts == AV_NOPTS_VALUE) q->dts = next == AV_NOPTS_VALUE ? q->pts : std::min(q->pts, next - 1);
            next = q->dts;
        }
    }
    return queue_.front().get();
}

PacketPtr VideoPackets::Take() {
    PacketPtr p = std::move(queue_.front());
    queue_.pop_front();
    if (lastDts_ != AV_NOPTS_VALUE && p->dts <= lastDts_) p->dts = lastDts_ + 1;
    if (p->pts != AV_NOPTS_VALUE && p->dts > p->pts) p->pts = p->dts;
    lastDts_ = p->dts;
    if (p->pts != AV_NOPTS_VALUE) end_ = std::max(end_, p->pts + std::max<int64_t>(p->duration, 1));
    return p;
}

// The source's sound, subtitles and attachments over the clip, as one
// render keeps them (DecodeStage's KeepAudio and DrainAudio).
class SourcePackets {
public:
    SourcePackets(AVFormatContext* source, const std::vector<Part>& parts, const std::string& path);
    // The next packet, in its stream's time base moved to the clip's time 0;
    // nil at the end.
    PacketPtr Next();
    bool Carries(int index) const { return std::find(carried_.begin(), carried_.end(), index) != carried_.end(); }
    const std::vector<int>& Carried() const { return carried_; }
    AVRational Base(const AVPacket* p) const { return source_->streams[p->stream_index]->time_base; }
    // Past the clip's last frame, when the clip ends before the source: where
    // the next frame starts, or (not known) the video's end (outBase).
    bool PastEnd(const AVPacket* p, int64_t videoEnd, AVRational outBase) const {
        if (toEnd_ || p->pts == AV_NOPTS_VALUE) return false;
        if (end_ != AV_NOPTS_VALUE) return av_compare_ts(p->pts, Base(p), end_ - zero_, vtb_) >= 0;
        return videoEnd != AV_NOPTS_VALUE && av_compare_ts(p->pts, Base(p), videoEnd, outBase) >= 0;
    }
    bool EndKnown() const { return !toEnd_ && end_ != AV_NOPTS_VALUE; }

private:
    AVFormatContext* source_;
    std::string path_;
    std::vector<int> carried_;
    AVRational vtb_;
    int64_t zero_, firstPts_, end_;
    bool atStart_, toEnd_;
};

SourcePackets::SourcePackets(AVFormatContext* source, const std::vector<Part>& parts, const std::string& path)
    : source_(source), path_(path) {
    const PartInfo& first = parts.front().info;
    vtb_ = first.timeBase;
    zero_ = first.clipZero;
    firstPts_ = first.startPts;
    atStart_ = first.first == 0;
    toEnd_ = parts.back().info.toEnd;
    end_ = parts.back().info.endPts;
    for (unsigned i = 0; i < source->nb_streams; ++i) {
        const AVMediaType type = source->streams[i]->codecpar->codec_type;
        if (type == AVMEDIA_TYPE_AUDIO || type == AVMEDIA_TYPE_SUBTITLE || type == AVMEDIA_TYPE_ATTACHMENT)
            carried_.push_back(int(i));
        else
            source->streams[i]->discard = AVDISCARD_ALL;
    }
    // A clip that starts late is read from a little before its first frame.
    if (!atStart_ && !carried_.empty()) {
        const int64_t back = av_rescale_q(10 * AV_TIME_BASE, AV_TIME_BASE_Q, vtb_);
        const int video = av_find_best_stream(source, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (video >= 0) {
            const int64_t at = av_rescale_q(firstPts_ - back, vtb_, source->streams[video]->time_base);
            av_seek_frame(source, video, at, AVSEEK_FLAG_BACKWARD);
        }
    }
}

PacketPtr SourcePackets::Next() {
    if (carried_.empty()) return nullptr;
    PacketPtr p = NewPacket();
    for (;;) {
        const int err = av_read_frame(source_, p.get());
        if (Interrupted()) throw AppError("interrupted by " + InterruptName(), InterruptStatus());
        if (err == AVERROR_EOF) return nullptr;
        if (err < 0) throw AppError(path_ + ": read error: " + AVErrorText(err));
        if (!Carries(p->stream_index)) {
            av_packet_unref(p.get());
            continue;
        }
        const AVRational tb = source_->streams[p->stream_index]->time_base;
        if (p->pts != AV_NOPTS_VALUE) {
            const int64_t end = p->pts + p->duration + (atStart_ ? p->duration : 0);
            if ((!atStart_ || (p->flags & AV_PKT_FLAG_DISCARD)) && av_compare_ts(end, tb, firstPts_, vtb_) <= 0) {
                av_packet_unref(p.get());
                continue;
            }
        }
        const int64_t shift = av_rescale_q(zero_, vtb_, tb);
        if (p->pts != AV_NOPTS_VALUE) p->pts -= shift;
        if (p->dts != AV_NOPTS_VALUE) p->dts -= shift;
        return p;
    }
}

// The output's video stream: the first part's.
AVStream* AddVideo(AVFormatContext* format, const AVStream* model) {
    AVStream* s = avformat_new_stream(format, nullptr);
    if (!s) throw AppError("out of memory");
    avcodec_parameters_copy(s->codecpar, model->codecpar);
    s->codecpar->codec_tag = 0;  // the output container's own
    s->time_base = model->time_base;
    s->avg_frame_rate = model->avg_frame_rate;
    s->sample_aspect_ratio = model->sample_aspect_ratio;
    CopyStreamInfo(model, s);
    s->disposition = model->disposition;
    for (int i = 0; i < model->nb_side_data; ++i) {
        const AVPacketSideData& sd = model->side_data[i];
        uint8_t* data = av_stream_new_side_data(s, sd.type, sd.size);
        if (!data) throw AppError("out of memory");
        std::copy(sd.data, sd.data + sd.size, data);
    }
    return s;
}

// Video packets from the parts and the source's packets, in time order.
void CopyPackets(AVFormatContext* format, VideoPackets& video, SourcePackets& carried, CarriedStreams& routes,
                 const std::string& out, Progress& progress) {
    const AVStream* vs = format->streams[0];
    auto mux = [&](AVPacket* p) {
        const int err = av_interleaved_write_frame(format, p);
        if (err < 0) throw AppError(out + ": cannot write: " + AVErrorText(err));
    };
    int64_t frames = 0;
    PacketPtr side = carried.Next();
    for (;;) {
        CheckInterrupt(out);
        AVPacket* v = video.Peek();
        while (side && (!v || carried.EndKnown()) && carried.PastEnd(side.get(), video.End(), vs->time_base))
            side = carried.Next();
        const int64_t sideTime = side ? (side->dts != AV_NOPTS_VALUE ? side->dts : side->pts) : AV_NOPTS_VALUE;
        if (side && (!v || sideTime == AV_NOPTS_VALUE ||
                     av_compare_ts(sideTime, carried.Base(side.get()), v->dts, vs->time_base) < 0)) {
            routes.Write(side.get(), mux);
            side = carried.Next();
            continue;
        }
        CheckInterrupt(out);
        if (!v) break;
        PacketPtr p = video.Take();
        p->stream_index = vs->index;
        p->pos = -1;
        mux(p.get());
        progress.Update(++frames);
    }
    routes.Flush(mux);
}

}  // namespace

void RunJoin(const std::string& out, const std::vector<std::string>& paths, const JoinOptions& options) {
    if (IsSequencePath(out) || IsStillPath(out))
        throw AppError(out + ": a join is written as one video file (.mp4, .mkv or .mov), not as pictures");
    const AVOutputFormat* ofmt = av_guess_format(nullptr, out.c_str(), nullptr);
    if (!ofmt) throw AppError(out + ": unknown output format (use .mp4, .mkv or .mov)");
    OutputRequest target;
    target.out = out;
    target.inputs = paths;
    if (!options.source.empty()) target.inputs.push_back(options.source);
    target.overwrite = options.overwrite;
    target.streamAllowed = target.sequenceAllowed = false;
    target.work = "join";
    CheckOutput(target);
    const InterruptWakes wakes;  // a stalled part gives way to a signal
    std::vector<Part> parts(paths.size());
    for (size_t i = 0; i < paths.size(); ++i) {
        parts[i].path = paths[i];
        Open(parts[i].in, paths[i]);
    }
    for (Part& p : parts) {
        p.video = av_find_best_stream(p.in.format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (p.video < 0) throw AppError(p.path + ": no video stream");
        p.info = ReadPartInfo(p.in.format->metadata, p.path);
    }
    CheckSet(parts);
    Input source;
    std::string sourcePath = options.source;
    OpenSource(source, sourcePath, parts[0].info);
    SourcePackets carried(source.format, parts, sourcePath);

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
    AVStream* vs = AddVideo(format, parts[0].in.format->streams[parts[0].video]);
    const PartInfo &first = parts.front().info, &last = parts.back().info;
    CopyContainerInfo(source.format, format, first.chapterStart, last.chapterEnd, first.chapterShift);
    std::vector<const AVStream*> streams;
    for (const int i : carried.Carried()) streams.push_back(source.format->streams[i]);
    std::vector<std::string> notes;
    CarriedStreams routes(streams, ofmt, format, out, notes);
    for (const std::string& line : notes) Note(line);
    err = avio_open(&format->pb, placement.Url().c_str(), AVIO_FLAG_WRITE);
    if (err < 0) throw AppError(out + ": cannot write: " + AVErrorText(err));
    err = avformat_write_header(format, nullptr);
    if (err < 0) throw AppError(out + ": cannot write: " + AVErrorText(err));

    VideoPackets video(parts, vs, out);
    Progress progress(options.progress, last.first + last.frames - first.first);
    CopyPackets(format, video, carried, routes, out, progress);
    CheckInterrupt(out);
    err = av_write_trailer(format);
    if (err < 0) throw AppError(out + ": cannot write: " + AVErrorText(err));
    err = avio_closep(&format->pb);
    if (err < 0) throw AppError(out + ": cannot write: " + AVErrorText(err));
    CheckInterrupt(out);
    placement.Place();
}
