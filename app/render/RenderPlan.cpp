#include "app/render/RenderPlan.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "app/AppError.h"
#include "app/media/MediaCommon.h"
#include "app/output/Placement.h"
#include "app/media/OutputFormat.h"

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

void Note(const std::string& line) { std::fprintf(stderr, "vexolumen: %s\n", line.c_str()); }

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
    std::unique_ptr<Spool>& spool = plan.spool;
    if (IsStreamPath(o.in) && (o.fadeIn > 0 || o.fadeOut > 0)) {
        const char* tmp = std::getenv("TMPDIR");
        spool = std::make_unique<Spool>(o.in, pipeOut ? (tmp && *tmp ? tmp : "/tmp") : SplitPath(o.out).folder);
    }
    plan.reader = std::make_unique<MediaReader>(spool ? spool->Path() : o.in, o.in);
    MediaReader* reader = plan.reader.get();
    const bool lengthKnown = plan.lengthKnown = reader->Seekable();
    const int64_t total = plan.total = lengthKnown ? reader->FrameCount() : -1;
    const int64_t claimed = plan.claimed = reader->VideoStream()->nb_frames;
    if (lengthKnown && claimed > total)
        Note(o.in + ": holds " + std::to_string(total) + " frames, not the " + std::to_string(claimed) +
             " its header claims");
    if (lengthKnown && o.from >= total)
        throw AppError("--from: " + o.in + " has " + std::to_string(total) + " frames, numbered from 0");
    const int64_t available = lengthKnown ? total - o.from : INT32_MAX - o.from;
    const int64_t count = plan.count = o.frames >= 0 ? o.frames : (stillOut ? 1 : available);
    if (lengthKnown && count > available)
        throw AppError("--frames: " + o.in + " has only " + std::to_string(available) + " frames from frame " +
                       std::to_string(o.from));
    if (count > INT32_MAX || total > INT32_MAX) throw AppError(o.in + ": too many frames");
    int64_t first = 0, todo = count;
    if (o.segments > 0) {
        if (!lengthKnown) throw AppError("--segment: " + o.in + " is a pipe; a segment needs the clip's length");
        if (o.segment < 1 || o.segment > o.segments || o.segments > count)
            throw AppError("--segment: " + std::to_string(o.segment) + "/" + std::to_string(o.segments) +
                           " does not name a part of a clip of " + std::to_string(count) + " frames");
        first = count * (o.segment - 1) / o.segments;
        todo = count * o.segment / o.segments - first;
    }
    plan.first = first;
    plan.todo = todo;

    // Pictures are turned upright before the plug-in sees them.
    const int turns = plan.turns = o.autorotate ? QuarterTurns(reader->VideoStream()) : 0;
    const int uprightWidth = plan.uprightWidth = turns % 2 ? reader->Height() : reader->Width();
    const int uprightHeight = plan.uprightHeight = turns % 2 ? reader->Width() : reader->Height();
    const int width = plan.width = o.width ? o.width : uprightWidth;
    const int height = plan.height = o.height ? o.height : uprightHeight;
    const bool toEnd = plan.toEnd = !lengthKnown || o.from + first + todo == total;
    const AVRational vtb = reader->TimeBase();

    // The first frame says what the stream header may not: alpha that only
    // its decoder knows, HDR data kept in the pictures.
    const AVFrame* firstFrame = reader->Frame(o.from + first, &plan.firstAudio);
    if (!firstFrame && o.from + first > 0)
        throw AppError("--from: " + o.in + " has " + std::to_string(reader->LastIndex() + 1) +
                       " frames, numbered from 0");
    if (!firstFrame) throw AppError(o.in + ": no frame could be decoded");

    WriterSettings& ws = plan.writer;
    ws.path = o.out;
    ws.inputPath = o.in;
    ws.overwrite = o.overwrite;
    ws.frames = todo;
    ws.firstFrame = firstFrame;
    ws.codec = o.codec;
    ws.format = o.format;
    ws.crf = o.crf;
    ws.width = width;
    ws.height = height;
    ws.sourcePixFmt = AVPixelFormat(firstFrame->format);
    const AVPixFmtDescriptor* firstDesc = av_pix_fmt_desc_get(ws.sourcePixFmt);
    ws.sourceHasAlpha = firstDesc && (firstDesc->flags & AV_PIX_FMT_FLAG_ALPHA);
    if (ws.sourceHasAlpha && reader->VideoStream()->codecpar->codec_id == AV_CODEC_ID_GIF)
        ws.sourceHasAlpha = SeemsTransparent(firstFrame, firstDesc);
    plan.sourceDepth = firstDesc ? firstDesc->comp[0].depth : 8;
    ws.timeBase = vtb;
    ws.frameRate = reader->FrameRate();
    ws.videoIn = reader->VideoStream();
    ws.keepDisplayMatrix = !o.autorotate;
    ws.input = reader->Format();
    if (width == uprightWidth && height == uprightHeight) {
        const AVRational sar = ws.videoIn->codecpar->sample_aspect_ratio;
        ws.sampleAspect = turns % 2 && sar.num > 0 ? AVRational{sar.den, sar.num} : sar;
    }
    const int64_t firstUs = av_rescale_q(reader->FirstPts(), vtb, AV_TIME_BASE_Q);
    // A segment's times stay those of its place in the clip.
    ws.clipShift = av_rescale_q(o.from, av_inv_q(ws.frameRate), AV_TIME_BASE_Q);
    if (o.from + first > 0) ws.clipStart = firstUs + av_rescale_q(o.from + first, av_inv_q(ws.frameRate), AV_TIME_BASE_Q);
    if (!toEnd) ws.clipEnd = firstUs + av_rescale_q(o.from + first + todo, av_inv_q(ws.frameRate), AV_TIME_BASE_Q);
    ws.tableDriven = o.fastConvert;
    for (const int i : reader->CarriedStreams()) ws.carried.push_back(reader->Format()->streams[i]);
    return plan;
}
