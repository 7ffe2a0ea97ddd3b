// The plug-in's side of a render, on the calling thread: get-info,
// initialize, one do-frame per frame of this run, terminate. The frame being
// rendered is handed out from the decode thread's buffer; any other frame the
// plug-in asks for is read from the file by a FrameServer of its own.
#include <memory>

#include "app/render/Pipeline.h"

namespace {

// Answers the plug-in's GetFrame and ReleaseFrame during a render.
class RenderFrames {
public:
    RenderFrames(const RenderOptions& o, const RenderPlan& plan) : o_(o), plan_(plan) {}

    std::optional<Decoded> current;
    bool handedOut = false;
    BufferDepth depth = BufferDepth::k32;  // of the frames the plug-in takes
    std::string error;  // behind the last failed GetFrame, if any

    HYPluginResult Get(int32_t frame, int32_t w, int32_t h, GWorldPtr* out, void** cookie) {
        if (current && !handedOut && frame == current->index && w == plan_.width && h == plan_.height) {
            handedOut = true;
            *out = current->gw;
            *cookie = &pooled_;
            return kPluginOK;
        }
        try {
            if (!other_ && !plan_.lengthKnown) {
                error = o_.in + ": the plug-in asked for frame " + std::to_string(frame) +
                        ", which a pipe cannot go back to";
                return kPluginFailed;
            }
            if (!other_) other_ = std::make_unique<FrameServer>(plan_.spool ? plan_.spool->Path() : o_.in, depth);
            const HYPluginResult r = other_->Get(frame, w, h, out, cookie);
            if (r != kPluginOK && !other_->Error().empty()) error = other_->Error();
            return r;
        } catch (const std::exception& e) {
            error = e.what();
            return kPluginFailed;
        }
    }

    HYPluginResult Release(void* cookie) {
        if (cookie == &pooled_) return kPluginOK;  // the buffer goes back after the frame
        return other_ ? other_->Release(cookie) : kPluginBadParams;
    }

    AppError Failure(const std::string& what, HYPluginResult r) const {
        if (!error.empty()) return AppError(error);
        return AppError("plug-in failed " + what + ": " + ResultText(r));
    }

private:
    const RenderOptions& o_;
    const RenderPlan& plan_;
    std::unique_ptr<FrameServer> other_;  // frames other than the one being rendered
    char pooled_ = 0;                     // the cookie of the handed-out buffer
};

// Sends terminate when the render leaves early.
struct Terminator {
    HostSession& s;
    bool done = false;
    ~Terminator() {
        if (!done) s.Send(kPlugTerminate);
    }
};

// What the host tells the plug-in before initialize. A pipe's length is
// learnt as it goes; until then the frames so far.
void DescribeClip(HostSession& session, const RenderOptions& o, const RenderPlan& plan, int64_t known) {
    session.movieFrames = int32_t(plan.lengthKnown ? plan.total : known);
    session.movieWidth = plan.uprightWidth;
    session.movieHeight = plan.uprightHeight;
    session.clipStart = int32_t(o.from);
    session.clipFrames = int32_t(known);
    HYPluginParams& params = session.Params();
    params.getInfo2.selectedFrames = int32_t(known);
}

void PrepareInitialize(HostSession& session, const RenderOptions& o, const RenderPlan& plan, int64_t known) {
    HYPluginParams& params = session.Params();
    for (int i = 0; i < 3; ++i)
        session.filterInfo.sliderValues[i] = o.slidersGiven ? o.sliders[i] : params.getInfo2.filterSliders[i].defaultValue;
    session.filterInfo.fadeInFrames = o.fadeIn;
    session.filterInfo.fadeOutFrames = o.fadeOut;
    params.startFrame = int32_t(o.from);
    params.frameCount = int32_t(known);
    params.renderFrame = 0;
    params.proxyOnly = o.proxy;
    params.frameRect = Rect{0, 0, int16_t(plan.height), int16_t(plan.width)};
    params.frame = nullptr;
    params.clientData = nullptr;
}

}  // namespace

int64_t RenderPipeline::DrivePlugIn(const PluginBundle& bundle, double* pluginSeconds,
                                    std::optional<AppError>* finishFailure) {
    RenderFrames frames(o_, plan_);
    HostSession session(
        bundle.Entry(),
        [&](int32_t f, int32_t w, int32_t h, GWorldPtr* out, void** cookie) { return frames.Get(f, w, h, out, cookie); },
        [&](void* cookie) { return frames.Release(cookie); });
    const int64_t count = plan_.count;
    const int64_t known = plan_.lengthKnown || o_.frames >= 0 ? count : 1;
    DescribeClip(session, o_, plan_, known);
    if (plan_.deep) session.OfferDeepFrames();
    HYPluginResult r = session.Send(kPlugGetInfo);
    if (r != kPluginOK) throw frames.Failure("to describe itself", r);
    frames.depth = session.DeepFramesTaken() ? BufferDepth::k64 : BufferDepth::k32;
    Start(frames.depth);
    PrepareInitialize(session, o_, plan_, known);
    r = session.Send(kPlugInitialize);
    if (r != kPluginOK) {
        session.Send(kPlugTerminate);
        throw frames.Failure("to initialize", r);
    }
    Terminator terminator{session};

    HYPluginParams& params = session.Params();
    Progress progress(o_.progress, known == count ? plan_.todo : 0);
    int64_t done = 0;
    bool lastMixed = false;
    for (int64_t j = 0; j < plan_.todo; ++j) {
        const int64_t i = plan_.first + j;  // the frame's place in the clip
        if (Interrupted())
            throw AppError("interrupted by " + InterruptName() + "; " + o_.out + " not written", InterruptStatus());
        frames.current = decoded_.Pop();
        if (!frames.current) break;
        if (!frames.current->gw) {  // no frame, only the sound after the last one
            Rendered tail;
            tail.audioMixed = lastMixed;
            tail.audio = std::move(frames.current->audio);
            frames.current.reset();
            rendered_.Push(std::move(tail));
            break;
        }
        if (known != count && i + 1 > params.frameCount) params.frameCount = session.clipFrames = int32_t(i + 1);
        frames.handedOut = false;
        std::optional<GWorldPtr> out = freeOutput_.Pop();
        if (!out) break;
        params.renderFrame = int32_t(i);
        params.frame = *out;
        session.audioMixed = false;
        r = session.Send(kPlugDoFrame);
        // Take the source buffer back even if the plug-in kept it: it is not
        // to hold host frames between messages.
        freeSource_.Push(frames.current->gw);
        if (r != kPluginOK) throw frames.Failure("on frame " + std::to_string(o_.from + i), r);
        Rendered result{*out, frames.current->pts, frames.current->duration, session.audioMixed,
                        std::move(frames.current->audio)};
        lastMixed = session.audioMixed;
        frames.current.reset();
        if (!rendered_.Push(std::move(result))) break;
        progress.Update(j + 1);
        done = j + 1;
    }
    terminator.done = true;
    r = session.Send(kPlugTerminate);
    *pluginSeconds = session.pluginSeconds;
    if (r != kPluginOK) finishFailure->emplace(frames.Failure("to finish", r));
    return done;
}
