// `vexolumen render`: the plan, the writer and the pipeline between them.
#include <unistd.h>

#include <algorithm>
#include <cstdio>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "app/render/Pipeline.h"

void FirstError::Set(const std::string& message, int status) {
    std::lock_guard lock(mutex_);
    if (!failed_) {
        failed_ = true;
        message_ = message;
        status_ = status;
    }
}

bool FirstError::Failed() {
    std::lock_guard lock(mutex_);
    return failed_;
}

void FirstError::Throw() {
    std::lock_guard lock(mutex_);
    throw AppError(message_, status_);
}

Progress::Progress(bool enabled, int64_t total)
    : enabled_(enabled), tty_(isatty(2)), total_(total), start_(Now()), last_(start_) {}

void Progress::Update(int64_t done) {
    if (!enabled_) return;
    const double now = Now();
    if (done < total_ && now - last_ < (tty_ ? 0.2 : 1.0)) return;
    last_ = now;
    const double elapsed = now - start_;
    const double fps = elapsed > 0 ? double(done) / elapsed : 0;
    const double left = fps > 0 ? double(total_ - done) / fps : 0;
    if (total_ > 0)
        std::fprintf(stderr, "%sframe %lld/%lld  %.1f fps  %.1f s left%s", tty_ ? "\r" : "",
                     static_cast<long long>(done), static_cast<long long>(total_), fps, left, tty_ ? "  " : "\n");
    else  // a pipe of unknown length
        std::fprintf(stderr, "%sframe %lld  %.1f fps%s", tty_ ? "\r" : "", static_cast<long long>(done), fps,
                     tty_ ? "  " : "\n");
    if (tty_ && done == total_) std::fputc('\n', stderr);
    std::fflush(stderr);
}

namespace {

// A few frames in flight on each side of the plug-in, as many as fit in a
// fixed number of bytes, so huge frames cost no more. Four 32-bit 4K frames
// fit: with two, the threads wait on each other (6 % slower at 4K), and the
// peak memory stays under ffmpeg's own.
size_t FramesInFlight(int width, int height, BufferDepth depth = BufferDepth::k32) {
    constexpr size_t kQueueBytes = size_t(136) << 20;
    return std::clamp<size_t>(kQueueBytes / (size_t(width) * size_t(height) * BytesPerPixel(depth)), 1, 4);
}

}  // namespace

RenderPipeline::RenderPipeline(const RenderOptions& options, RenderPlan& plan, MediaWriter& writer)
    : o_(options),
      plan_(plan),
      writer_(writer),
      reader_(plan.reader.get()),
      vtb_(reader_->TimeBase()),
      freeSource_(FramesInFlight(plan.width, plan.height) + 1),
      freeOutput_(FramesInFlight(plan.width, plan.height) + 1),
      decoded_(FramesInFlight(plan.width, plan.height)),
      rendered_(FramesInFlight(plan.width, plan.height)),
      converted_(1) {}

void RenderPipeline::Start(BufferDepth depth) {
    depth_ = depth;
    writer_.SetBufferDepth(depth);
    const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(writer_.PixelFormat());
    const std::string written =
        d && d->comp[0].depth > 8 ? ", written back as " + std::to_string(d->comp[0].depth) + "-bit" : "";
    if (plan_.sourceDepth > 8 && depth == BufferDepth::k32)
        Note(o_.in + ": " + std::to_string(plan_.sourceDepth) + "-bit video; the effect works on 8-bit values" +
             (plan_.deep ? " (the plug-in does not take 16-bit frames)" : "") + written);
    // The free queues hold every buffer; fewer of the deep ones fit the budget.
    for (size_t i = 0; i < FramesInFlight(plan_.width, plan_.height, depth); ++i) {
        freeSource_.Push(NewFrameBuffer());
        freeOutput_.Push(NewFrameBuffer());
    }
    decode_ = std::thread(&RenderPipeline::DecodeThread, this);
    convert_ = std::thread(&RenderPipeline::ConvertThread, this);
    encode_ = std::thread(&RenderPipeline::EncodeThread, this);
}

RenderPipeline::~RenderPipeline() {
    CloseAll();
    JoinAll();
    FreeBuffers();
}

GWorldPtr RenderPipeline::NewFrameBuffer() {
    GWorldPtr gw = NewArgbBuffer(plan_.width, plan_.height, depth_);
    if (!gw) throw AppError("out of memory");
    buffers_.push_back(gw);
    return gw;
}

void RenderPipeline::FreeBuffers() {
    for (GWorldPtr gw : buffers_) DisposeGWorld(gw);
    buffers_.clear();
}

void RenderPipeline::CloseAll() {
    freeSource_.Close();
    freeOutput_.Close();
    decoded_.Close();
    rendered_.Close();
    converted_.Close();
}

void RenderPipeline::JoinAll() {
    for (std::thread* t : {&decode_, &convert_, &encode_})
        if (t->joinable()) t->join();
}

RenderStats RenderPipeline::Run(const PluginBundle& bundle) {
    RenderStats stats;
    std::optional<AppError> finishFailure;
    stats.frames = DrivePlugIn(bundle, &stats.pluginSeconds, &finishFailure);
    rendered_.Close();
    convert_.join();
    decode_.join();
    // The frames are all handed on: the memory goes back before the encoder
    // empties its queue, when it needs the most.
    FreeBuffers();
    encode_.join();
    if (failure_.Failed()) failure_.Throw();
    if (Interrupted())
        throw AppError("interrupted by " + InterruptName() + "; " + o_.out + " not written", InterruptStatus());
    if (finishFailure) throw *finishFailure;
    writer_.Finish();
    stats.audio = writer_.HasAudio();
    stats.audioCopied = writer_.AudioCopied();
    return stats;
}

RenderStats RunRender(const RenderOptions& o, const PluginBundle& bundle) {
    const double started = Now();
    RenderPlan plan = PlanRender(o);
    MediaWriter writer(plan.writer);
    for (const std::string& line : writer.Notes()) Note(line);
    RenderPipeline pipeline(o, plan, writer);
    RenderStats stats = pipeline.Run(bundle);
    stats.seconds = Now() - started;
    return stats;
}
