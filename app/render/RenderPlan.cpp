#include "app/render/RenderPlan.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "app/AppError.h"
#include "app/media/MediaCommon.h"
#include "app/output/Placement.h"
#include "app/media/OutputFormat.h"
#include "app/render/PartInfo.h"

namespace {

// GIF pictures always come as RGBA, transparent or not: only a pixel that
// is not opaque says the clip has alpha.
bool SeemsTransparent(const AVFrame* f, const AVPixFmtDescriptor* d) {
    if (!d || !(d->flags & AV_PIX_FMT_FLAG_ALPHA)) return false;
    if ((d->flags & AV_PIX_FMT_FLAG_PLANAR) || d->nb_components != 4 || d->comp[3].depth != 8 || d->comp[3].step != 4)
        return true;
    for (int y = 0; y < f->height; ++y) {
        const uint8_t* row = f->data[0] + ptrdiff_t(y) * f->linesize[0] + d->comp[3].offset;
        for (int x = 0; x < f->width; ++x)
            if (row[4 * x] != 255) return true;
    }
    return false;
}

}  // namespace

void Note(const std::string& line) { std::fprintf(stderr, "vexolumen: %s\n", Printable(line).c_str()); }

namespace {

// Only one video stream is rendered; the others are named (cover art is
// not video).
void NoteOtherVideo(const std::string& in, const AVFormatContext* format, int rendered) {
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        const AVStream* st = format->streams[i];
        if (int(i) != rendered && st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            !(st->disposition & AV_DISPOSITION_ATTACHED_PIC))
            Note(in + ": video stream " + std::to_string(i) + " (" + avcodec_get_name(st->codecpar->codec_id) +
                 ") left out; only the first is rendered");
    }
}

std::string Seconds(int64_t us) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", double(us) / AV_TIME_BASE);
    return text;
}

// Which frames of the input this run renders; AppError naming the option
// that asks for frames the input does not have.
void PlanFrames(const RenderOptions& o, bool stillOut, RenderPlan& plan) {
    MediaReader* reader = plan.reader.get();
    plan.lengthKnown = reader->Seekable();
    plan.total = plan.lengthKnown ? reader->FrameCount() : -1;
    plan.claimed = reader->VideoStream()->nb_frames;
    // A header's count includes the frames an edit list hides; the length
    // the edit list shows is the claim then.
    const AVStream* st = reader->VideoStream();
    if (plan.lengthKnown && reader->StoredPackets() > plan.total && st->duration > 0)
        plan.claimed = std::min(plan.claimed, av_rescale_q_rnd(st->duration, st->time_base, av_inv_q(reader->FrameRate()),
                                                               AV_ROUND_DOWN));
    if (plan.lengthKnown && plan.claimed > plan.total)
        plan.shortNote = o.in + ": holds " + std::to_string(plan.total) + " frames, not the " +
                         std::to_string(plan.claimed) + " its header claims";
    else if (plan.lengthKnown && reader->MissingTime() > 0)
        plan.shortNote = o.in + ": cut off: holds " + std::to_string(plan.total) + " frames; the last " +
                         Seconds(reader->MissingTime()) + " s its header announces are missing";
    else if (plan.lengthKnown && reader->TornTail())
        plan.shortNote = o.in + ": cut off inside its last packet; holds " + std::to_string(plan.total) + " frames";

    if (plan.lengthKnown && o.from >= plan.total)
        throw AppError("--from: " + o.in + " has " + std::to_string(plan.total) + " frames, numbered from 0");
    const int64_t available = plan.lengthKnown ? plan.total - o.from : INT32_MAX - o.from;
    plan.count = o.frames >= 0 ? o.frames : (stillOut ? 1 : available);
    if (plan.lengthKnown && plan.count > available)
        throw AppError("--frames: " + o.in + " has only " + std::to_string(available) + " frames from frame " +
                       std::to_string(o.from));
    if (plan.count > INT32_MAX || plan.total > INT32_MAX) throw AppError(o.in + ": too many frames");
    plan.first = 0;
    plan.todo = plan.count;
    if (o.segments > 0) {
        if (!plan.lengthKnown) throw AppError("--segment: " + o.in + " is a pipe; a segment needs the clip's length");
        if (o.segment < 1 || o.segment > o.segments || o.segments > plan.count)
            throw AppError("--segment: " + std::to_string(o.segment) + "/" + std::to_string(o.segments) +
                           " does not name a part of a clip of " + std::to_string(plan.count) + " frames");
        plan.first = plan.count * (o.segment - 1) / o.segments;
        plan.todo = plan.count * o.segment / o.segments - plan.first;
    }
    plan.toEnd = !plan.lengthKnown || o.from + plan.first + plan.todo == plan.total;
}

// Pictures are turned upright before the plug-in sees them: by the
// stream's display matrix, or a still's own (EXIF orientation).
void PlanPicture(const RenderOptions& o, const AVFrame* firstFrame, RenderPlan& plan) {
    const MediaReader* reader = plan.reader.get();
    if (o.autorotate) plan.upright = UprightOrientation(reader->VideoStream(), firstFrame);
    const bool swaps = plan.upright.Swaps();
    plan.uprightWidth = swaps ? reader->Height() : reader->Width();
    plan.uprightHeight = swaps ? reader->Width() : reader->Height();
    plan.width = o.width ? o.width : plan.uprightWidth;
    plan.height = o.height ? o.height : plan.uprightHeight;
}

// What the writer keeps of the source; the first frame says what the stream
// header may not: alpha that only its decoder knows, HDR data kept in the
// pictures.
void PlanWriter(const RenderOptions& o, const AVFrame* firstFrame, RenderPlan& plan) {
    const MediaReader* reader = plan.reader.get();
    WriterSettings& ws = plan.writer;
    ws.path = o.out;
    ws.inputPath = o.in;
    ws.overwrite = o.overwrite;
    ws.frames = plan.todo;
    ws.firstFrame = firstFrame;
    ws.codec = o.codec;
    ws.format = o.format;
    ws.crf = o.crf;
    ws.profile = o.profile;
    ws.width = plan.width;
    ws.height = plan.height;
    ws.sourcePixFmt = AVPixelFormat(firstFrame->format);
    const AVPixFmtDescriptor* firstDesc = av_pix_fmt_desc_get(ws.sourcePixFmt);
    ws.sourceHasAlpha = firstDesc && (firstDesc->flags & AV_PIX_FMT_FLAG_ALPHA);
    if (ws.sourceHasAlpha && reader->VideoStream()->codecpar->codec_id == AV_CODEC_ID_GIF)
        ws.sourceHasAlpha = SeemsTransparent(firstFrame, firstDesc);
    plan.sourceDepth = firstDesc ? firstDesc->comp[0].depth : 8;
    plan.deep = o.depth == 16 || (o.depth == 0 && plan.sourceDepth > 8);
    ws.bufferDepth = plan.deep ? BufferDepth::k64 : BufferDepth::k32;
    ws.timeBase = reader->TimeBase();
    ws.frameRate = reader->FrameRate();
    ws.videoIn = reader->VideoStream();
    const AVCodecParameters* par = ws.videoIn->codecpar;
    ws.colour = AsPlayersShow({par->color_space, par->color_primaries, par->color_trc, par->color_range},
                              AVPixelFormat(par->format), par->width, par->height);
    ws.keepDisplayMatrix = !o.autorotate;
    ws.input = reader->Format();
    if (plan.width == plan.uprightWidth && plan.height == plan.uprightHeight) {
        const AVRational sar = ws.videoIn->codecpar->sample_aspect_ratio;
        ws.sampleAspect = plan.upright.Swaps() && sar.num > 0 ? AVRational{sar.den, sar.num} : sar;
    }
    ws.tableDriven = o.fastConvert;
    for (const int i : reader->CarriedStreams()) ws.carried.push_back(reader->Format()->streams[i]);
}

// The chapters kept are those of the frames rendered; a segment's times stay
// those of its place in the clip.
void PlanClipTimes(const RenderOptions& o, RenderPlan& plan) {
    WriterSettings& ws = plan.writer;
    const AVRational frame = av_inv_q(ws.frameRate);
    const int64_t firstUs = av_rescale_q(plan.reader->FirstPts(), ws.timeBase, AV_TIME_BASE_Q);
    const int64_t start = o.from + plan.first, end = start + plan.todo;
    ws.clipShift = av_rescale_q(plan.clipZero, ws.timeBase, AV_TIME_BASE_Q);
    if (start > 0) ws.clipStart = av_rescale_q(plan.startPts, ws.timeBase, AV_TIME_BASE_Q);
    if (!plan.toEnd) ws.clipEnd = firstUs + av_rescale_q(end, frame, AV_TIME_BASE_Q);
}

// A part carries only its pictures, and says what it is: join checks a set
// of parts by it and takes the sound, subtitles, chapters and tags from the
// source once, as one render carries them.
void PlanPart(const RenderOptions& o, RenderPlan& plan) {
    WriterSettings& ws = plan.writer;
    PartInfo info;
    info.index = o.segment;
    info.count = o.segments;
    info.first = o.from + plan.first;
    info.frames = plan.todo;
    info.toEnd = plan.toEnd;
    std::error_code ec;
    info.source = std::filesystem::absolute(o.in, ec).lexically_normal().string();
    if (ec) info.source = o.in;
    info.sourceId = SourceIdentity(o.in);
    info.settings = SettingsDigest(o);
    info.timeBase = ws.timeBase;
    info.clipZero = plan.clipZero;
    info.startPts = plan.startPts;
    info.chapterStart = ws.clipStart;
    info.chapterEnd = ws.clipEnd;
    info.chapterShift = ws.clipShift;
    info.endPts = plan.endPts;
    AVDictionary* tags = nullptr;
    WritePartInfo(info, &tags);
    for (const AVDictionaryEntry* e = nullptr; (e = av_dict_get(tags, "", e, AV_DICT_IGNORE_SUFFIX));)
        ws.tags.emplace_back(e->key, e->value);
    av_dict_free(&tags);
    ws.carried.clear();
    ws.input = nullptr;
}

}  // namespace

int64_t TimeOf(const MediaReader& reader, const AVFrame* f, int64_t index) {
    return f->best_effort_timestamp != AV_NOPTS_VALUE ? f->best_effort_timestamp
                                                      : reader.FirstPts() + index * reader.FrameDuration();
}

RenderPlan PlanRender(const RenderOptions& o) {
    // Before any work; the writer checks every frame name once their number is known.
    OutputRequest target;
    target.out = o.out;
    target.inputs = {o.in};
    target.overwrite = o.overwrite;
    const bool pipeOut = CheckOutput(target) == OutputKind::Stream;
    const bool stillOut = !pipeOut && IsStillPath(o.out) && o.format.empty();
    if (stillOut && o.frames > 1)
        throw AppError("--frames: a ." + Extension(o.out) + " output holds one frame (name it like out_%04d." +
                       Extension(o.out) + " for one file per frame)");

    // A pipe is read once. The fades need the clip's length before the first
    // frame, so then it is kept in a file first; without them it is counted
    // as it goes.
    RenderPlan plan;
    if (IsStreamPath(o.in) && (o.fadeIn > 0 || o.fadeOut > 0)) {
        const char* tmp = std::getenv("TMPDIR");
        plan.spool = std::make_unique<Spool>(o.in, pipeOut ? (tmp && *tmp ? tmp : "/tmp") : SplitPath(o.out).folder);
    }
    plan.reader = std::make_unique<MediaReader>(plan.spool ? plan.spool->Path() : o.in, o.in);
    NoteOtherVideo(o.in, plan.reader->Format(), plan.reader->VideoStream()->index);
    PlanFrames(o, stillOut, plan);
    const int64_t start = o.from + plan.first;
    // Time 0 of the output is where the clip starts: the file's start, as
    // ffmpeg has it, or the frame --from names; a later part keeps its place
    // relative to it.
    if (o.from == 0) {
        plan.clipZero = plan.reader->ClipStart();
    } else if (start != o.from) {
        const AVFrame* zero = plan.reader->Frame(o.from);
        if (!zero) throw AppError(o.in + ": frame " + std::to_string(o.from) + " could not be decoded");
        plan.clipZero = TimeOf(*plan.reader, zero, o.from);
    }
    const bool sound = !plan.reader->CarriedStreams().empty() && (o.segments == 0 || o.segment == o.segments);
    if (!plan.toEnd && sound)
        if (const AVFrame* next = plan.reader->Frame(start + plan.todo))
            plan.endPts = TimeOf(*plan.reader, next, start + plan.todo);
    const AVFrame* firstFrame = plan.reader->Frame(start, &plan.firstAudio);
    if (!firstFrame && start > 0)
        throw AppError("--from: " + o.in + " has " + std::to_string(plan.reader->LastIndex() + 1) +
                       " frames, numbered from 0");
    if (!firstFrame) throw AppError(o.in + ": no frame could be decoded");
    plan.startPts = TimeOf(*plan.reader, firstFrame, start);
    if (o.from > 0 && start == o.from) plan.clipZero = plan.startPts;
    PlanPicture(o, firstFrame, plan);
    PlanWriter(o, firstFrame, plan);
    PlanClipTimes(o, plan);
    if (o.segments > 0) PlanPart(o, plan);
    return plan;
}

std::string SequenceGap(const MediaReader& reader, const std::string& pattern, int64_t read) {
    if (std::strcmp(reader.Format()->iformat->name, "image2") != 0 || !av_filename_number_test(pattern.c_str()))
        return "";
    const PathParts parts = SplitPath(pattern);
    const size_t pct = parts.leaf.find('%'), d = parts.leaf.find('d', pct);
    if (pct == std::string::npos || d == std::string::npos || parts.leaf.find('%', d) != std::string::npos)
        return "";
    const std::string prefix = parts.leaf.substr(0, pct), suffix = parts.leaf.substr(d + 1);
    auto name = [&](int64_t n) {
        char text[4096];
        return av_get_frame_filename2(text, sizeof text, parts.leaf.c_str(), int(n), 0) < 0 ? "" : std::string(text);
    };
    int64_t first = INT64_MAX, last = -1;
    const std::filesystem::path folder = parts.folder.empty() ? "." : parts.folder;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string leaf = it->path().filename().string();
        if (leaf.size() <= prefix.size() + suffix.size() || leaf.compare(0, prefix.size(), prefix) != 0 ||
            leaf.compare(leaf.size() - suffix.size(), suffix.size(), suffix) != 0)
            continue;
        const std::string digits = leaf.substr(prefix.size(), leaf.size() - prefix.size() - suffix.size());
        if (digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) continue;
        const int64_t n = std::stoll(digits);
        if (name(n) != leaf) continue;  // another width
        first = std::min(first, n);
        last = std::max(last, n);
    }
    const int64_t missing = first + read;  // the reader starts at the first of 0..4 there is
    if (last < 0 || first > 4 || last <= missing || std::filesystem::exists(folder / name(missing), ec)) return "";
    return pattern + ": " + name(missing) + " is missing; the files after it, up to " + name(last) + ", were not read";
}
