// The decode thread: the clip's frames in order, turned upright and converted
// into the plug-in's buffers (32- or 64-bit) at the output size, each with the sound
// and subtitles read on the way to it.
#include <algorithm>

#include "app/convert/Orientation.h"
#include "app/render/Pipeline.h"

namespace {

uint8_t* Pixels(GWorldPtr gw) { return reinterpret_cast<uint8_t*>(GetPixBaseAddr(GetGWorldPixMap(gw))); }
int RowBytes(GWorldPtr gw) { return GetPixRowBytes(GetGWorldPixMap(gw)); }

}  // namespace

void RenderPipeline::DecodeThread() {
    const InterruptWakes wakes;  // a stalled pipe gives way to Ctrl-C
    failure_.Run(o_.in, [&] {
        if (DecodeFrames()) reader_->ReleaseDecoder();
    });
    decoded_.Close();
}

// The output holds what the input really has, never repeats: why it ended.
void RenderPipeline::NoteShortInput(int64_t k, int64_t start) {
    noted_ = true;
    if (reader_->CutOff())
        Note(o_.in + ": cut off inside frame " + std::to_string(start + k) + "; the " + std::to_string(k) +
             " whole frames before it rendered");
    else if (!plan_.shortNote.empty())
        Note(plan_.shortNote);
    else if (const std::string gap = SequenceGap(*reader_, o_.in, start + k); !gap.empty())
        Note(gap);
    else if (plan_.lengthKnown || o_.frames >= 0)
        Note(o_.in + ": ends after " + std::to_string(start + k) + " frames; " + std::to_string(k) + " rendered");
    else if (plan_.claimed > start + k)
        Note(o_.in + ": holds " + std::to_string(start + k) + " frames, not the " + std::to_string(plan_.claimed) +
             " its header claims");
}

void RenderPipeline::TimeFrame(const AVFrame* f, Decoded& item) {
    if (f) {
        item.pts = TimeOf(*reader_, f, item.index);
#if LIBAVUTIL_VERSION_MAJOR >= 58
        item.duration = f->duration > 0 ? f->duration : reader_->FrameDuration();
#else
        item.duration = f->pkt_duration > 0 ? f->pkt_duration : reader_->FrameDuration();
#endif
    }
    // A damaged stream can step back in time; the encoder and the muxer
    // refuse frames that do not move forward.
    if (prevPts_ != AV_NOPTS_VALUE && item.pts <= prevPts_) item.pts = prevPts_ + prevDuration_;
    prevPts_ = item.pts;
    prevDuration_ = std::max<int64_t>(1, item.duration);
}

// Keeps what plays during the clip, moved with it.
void RenderPipeline::KeepAudio(std::vector<PacketPtr>& audio, Decoded& item) const {
    for (PacketPtr& p : audio) {
        const AVRational tb = reader_->Format()->streams[p->stream_index]->time_base;
        // Sound before the first frame stays only at the clip's start, as
        // ffmpeg keeps it; of what an edit list cut away, only the packet the
        // decoder needs to start on (AAC's priming).
        if (p->pts != AV_NOPTS_VALUE && clipStartV_ != AV_NOPTS_VALUE) {
            const bool atStart = o_.from + plan_.first == 0;
            const int64_t end = p->pts + p->duration + (atStart ? p->duration : 0);
            if ((!atStart || (p->flags & AV_PKT_FLAG_DISCARD)) && av_compare_ts(end, tb, clipStartV_, vtb_) <= 0)
                continue;
        }
        if (shiftV_) {
            const int64_t shift = av_rescale_q(shiftV_, vtb_, tb);
            if (p->pts != AV_NOPTS_VALUE) p->pts -= shift;
            if (p->dts != AV_NOPTS_VALUE) p->dts -= shift;
        }
        item.audio.push_back(std::move(p));
    }
}

// When the clip ends before the input, sound the decoder's delay read ahead
// of the frames waits until a frame's end passes it: none plays after the
// last frame, wherever the reading stood then.
void RenderPipeline::HoldBack(Decoded& item) {
    for (PacketPtr& p : item.audio) heldAudio_.push_back(std::move(p));
    item.audio.clear();
    const int64_t end = item.pts + item.duration;
    const int64_t clipEnd = plan_.endPts != AV_NOPTS_VALUE ? plan_.endPts - shiftV_ : AV_NOPTS_VALUE;
    std::vector<PacketPtr> later;
    for (PacketPtr& p : heldAudio_) {
        const AVRational tb = reader_->Format()->streams[p->stream_index]->time_base;
        if (clipEnd != AV_NOPTS_VALUE && p->pts != AV_NOPTS_VALUE && av_compare_ts(p->pts, tb, clipEnd, vtb_) >= 0)
            continue;  // after the clip
        if (p->pts == AV_NOPTS_VALUE || av_compare_ts(p->pts, tb, end, vtb_) < 0)
            item.audio.push_back(std::move(p));
        else
            later.push_back(std::move(p));
    }
    heldAudio_ = std::move(later);
}

// False when a queue closed under it (another thread failed).
bool RenderPipeline::DecodeFrames() {
    const Orientation upright = plan_.upright;
    const int width = plan_.width, height = plan_.height;
    const bool fastScale = o_.proxy && height <= 259;
    ArgbConverter converter(o_.fastConvert, depth_);
    const int bytes = BytesPerPixel(depth_);
    std::vector<uint8_t> stored;  // the picture as stored, before it is turned
    const int storedWidth = upright.Swaps() ? height : width, storedHeight = upright.Swaps() ? width : height;
    if (!upright.Identity()) stored.resize(size_t(storedWidth) * storedHeight * bytes);
    const int64_t start = o_.from + plan_.first;
    // The output starts at 0 whatever clock the input runs on; a segment
    // keeps its place in the clip, so the parts line up as in one render.
    shiftV_ = plan_.clipZero;
    for (int64_t k = 0; k < plan_.todo; ++k) {
        std::vector<PacketPtr> audio;
        if (k == 0) audio = std::move(plan_.firstAudio);
        const AVFrame* f = k == 0 ? reader_->Frame(start, &audio) : reader_->Next(&audio);
        if (!f) {
            NoteShortInput(k, start);
            if (audio.empty() || !plan_.toEnd) break;
        }
        Decoded item;
        item.index = start + k;
        TimeFrame(f, item);
        if (k == 0) clipStartV_ = item.pts;  // the sound before the first frame is not the clip's
        if (f && k == plan_.todo - 1)
            reader_->DrainAudio(audio, plan_.toEnd                          ? AV_NOPTS_VALUE
                                       : plan_.endPts != AV_NOPTS_VALUE ? plan_.endPts
                                                                        : item.pts + item.duration);
        KeepAudio(audio, item);
        if (!f) return decoded_.Push(std::move(item));  // the sound after the last frame rides alone
        item.pts -= shiftV_;
        if (!plan_.toEnd) HoldBack(item);
        std::optional<GWorldPtr> gw = freeSource_.Pop();
        if (!gw) return false;
        item.gw = *gw;
        if (!upright.Identity()) {
            converter.Convert(f, stored.data(), storedWidth * bytes, storedWidth, storedHeight, fastScale);
            Orient(stored.data(), storedWidth * bytes, storedWidth, storedHeight, Pixels(item.gw), RowBytes(item.gw),
                   upright, bytes);
        } else {
            converter.Convert(f, Pixels(item.gw), RowBytes(item.gw), width, height, fastScale);
        }
        if (!decoded_.Push(std::move(item))) return false;
    }
    if (!noted_ && !plan_.shortNote.empty()) Note(plan_.shortNote);
    return true;
}
