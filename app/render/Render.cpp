// `vexolumen render`: decoding, the plug-in's calls, the conversion for the
// encoder and encoding run on four threads joined by bounded queues. The plug-in is only ever called from the
// calling thread, one message at a time; buffers are made and freed there too
// (the current port is process-wide), the other threads only touch pixels.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <thread>

#include "app/AppError.h"
#include "app/render/BoundedQueue.h"
#include "app/commands/Commands.h"
#include "app/render/RenderPlan.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace {

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

uint8_t* Pixels(GWorldPtr gw) { return reinterpret_cast<uint8_t*>(GetPixBaseAddr(GetGWorldPixMap(gw))); }
int RowBytes(GWorldPtr gw) { return GetPixRowBytes(GetGWorldPixMap(gw)); }

GWorldPtr NewFrameBuffer(int width, int height) {
    Rect r{0, 0, int16_t(height), int16_t(width)};
    GWorldPtr gw = nullptr;
    if (NewGWorld(&gw, 32, &r, nullptr, nullptr, 0) != noErr || !gw) throw AppError("out of memory");
    return gw;
}

// The first failure of any thread; later ones are consequences.
class FirstError {
public:
    void Set(const std::string& message, int status = 1) {
        std::lock_guard lock(mutex_);
        if (!failed_) {
            failed_ = true;
            message_ = message;
            status_ = status;
        }
    }
    bool Failed() {
        std::lock_guard lock(mutex_);
        return failed_;
    }
    // Runs a thread's work; true when it failed, the failure kept for the
    // calling thread (label names the file of failures that do not).
    template <typename Body>
    bool Run(const std::string& label, Body body) {
        try {
            body();
            return false;
        } catch (const AppError& e) {
            Set(e.what(), e.status);
        } catch (const std::exception& e) {
            Set(label + ": " + e.what());
        }
        return true;
    }
    [[noreturn]] void Throw() {
        std::lock_guard lock(mutex_);
        throw AppError(message_, status_);
    }

private:
    std::mutex mutex_;
    bool failed_ = false;
    std::string message_;
    int status_ = 1;
};

struct Decoded {
    int64_t index = 0;  // in the input's numbering
    GWorldPtr gw = nullptr;
    int64_t pts = 0, duration = 0;
    std::vector<PacketPtr> audio;
};

struct Rendered {
    GWorldPtr gw = nullptr;
    int64_t pts = 0, duration = 0;
    bool audioMixed = false;
    std::vector<PacketPtr> audio;
};

struct Converted {
    FramePtr frame;  // in the encoder's pixel format; nil for the sound after the last frame
    int64_t pts = 0, duration = 0;
    std::vector<PacketPtr> audio;
};

// Tells a terminal user how far along the work is.
class Progress {
public:
    Progress(bool enabled, int64_t total)
        : enabled_(enabled), tty_(isatty(2)), total_(total), start_(Now()), last_(start_) {}
    void Update(int64_t done) {
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

private:
    bool enabled_, tty_;
    int64_t total_;
    double start_, last_;
};

}  // namespace

RenderStats RunRender(const RenderOptions& o, const PluginBundle& bundle) {
    const double started = Now();
    RenderPlan plan = PlanRender(o);
    MediaReader* const reader = plan.reader.get();
    const bool lengthKnown = plan.lengthKnown, toEnd = plan.toEnd;
    const int64_t total = plan.total, claimed = plan.claimed, count = plan.count;
    const int64_t first = plan.first, todo = plan.todo;  // the frames this run renders, counted from the clip's start
    const int turns = plan.turns, width = plan.width, height = plan.height;
    const std::unique_ptr<Spool>& spool = plan.spool;
    std::vector<PacketPtr>& firstAudio = plan.firstAudio;

    const AVRational vtb = reader->TimeBase();
    // Read before the decoding thread owns the reader.
    const int movieWidth = plan.uprightWidth, movieHeight = plan.uprightHeight;
    auto timeBaseOf = [reader](int index) { return reader->Format()->streams[index]->time_base; };

    MediaWriter writer(plan.writer);
    for (const std::string& line : writer.Notes()) Note(line);
    if (plan.sourceDepth > 8) {
        const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(writer.PixelFormat());
        Note(o.in + ": " + std::to_string(plan.sourceDepth) + "-bit video; the effect works on 8-bit values" +
             (d && d->comp[0].depth > 8 ? ", written back as " + std::to_string(d->comp[0].depth) + "-bit" : ""));
    }

    // Buffers: a few frames in flight on each side of the plug-in, as many
    // as fit in a fixed number of bytes, so huge frames cost no more.
    constexpr size_t kQueueBytes = size_t(96) << 20;
    const int kInFlight = int(std::clamp<size_t>(kQueueBytes / (size_t(width) * size_t(height) * 4), 1, 4));
    std::vector<GWorldPtr> buffers;
    struct BufferGuard {
        std::vector<GWorldPtr>& list;
        ~BufferGuard() {
            for (GWorldPtr gw : list) DisposeGWorld(gw);
        }
    } bufferGuard{buffers};
    BoundedQueue<GWorldPtr> freeSource(kInFlight + 1), freeOutput(kInFlight + 1);
    for (int i = 0; i < kInFlight; ++i) {
        buffers.push_back(NewFrameBuffer(width, height));
        freeSource.Push(buffers.back());
        buffers.push_back(NewFrameBuffer(width, height));
        freeOutput.Push(buffers.back());
    }
    BoundedQueue<Decoded> decoded(kInFlight);
    BoundedQueue<Rendered> rendered(kInFlight);
    BoundedQueue<Converted> converted(1);
    FirstError failure;
    auto closeAll = [&] {
        freeSource.Close();
        freeOutput.Close();
        decoded.Close();
        rendered.Close();
        converted.Close();
    };

    // Decoding thread: the clip's frames in order, converted to the output size.
    MediaReader* source = reader;
    const bool fastScale = o.proxy && height <= 259;
    std::thread decodeThread([&, source] {
        const InterruptWakes wakes;  // a stalled pipe gives way to Ctrl-C
        failure.Run(o.in, [&] {
            ArgbConverter converter(o.fastConvert);
            std::vector<uint8_t> stored;  // the picture as stored, before it is turned
            const int storedWidth = turns % 2 ? height : width, storedHeight = turns % 2 ? width : height;
            if (turns) stored.resize(size_t(storedWidth) * storedHeight * 4);
            int64_t shiftV = 0, clipStartV = AV_NOPTS_VALUE;
            int64_t prevPts = AV_NOPTS_VALUE, prevDuration = 1;
            const int64_t start = o.from + first;
            // A segment keeps the time stamps of the clip it is part of (the
            // clip's start taken at the nominal frame rate), so the parts line
            // up as in one render.
            if (o.segments > 0 && o.from > 0)
                shiftV = av_rescale_q(o.from, av_inv_q(source->FrameRate()), vtb);
            for (int64_t k = 0; k < todo; ++k) {
                std::vector<PacketPtr> audio;
                if (k == 0) audio = std::move(firstAudio);
                const AVFrame* f = k == 0 ? source->Frame(start, &audio) : source->Next(&audio);
                if (!f) {
                    // The output holds what the input really has, never repeats.
                    if (source->CutOff())
                        Note(o.in + ": cut off inside frame " + std::to_string(start + k) + "; the " +
                             std::to_string(k) + " whole frames before it rendered");
                    else if (lengthKnown || o.frames >= 0)
                        Note(o.in + ": ends after " + std::to_string(start + k) + " frames; " +
                             std::to_string(k) + " rendered");
                    else if (claimed > start + k)
                        Note(o.in + ": holds " + std::to_string(start + k) + " frames, not the " +
                             std::to_string(claimed) + " its header claims");
                    if (audio.empty() || !toEnd) break;
                }
                Decoded item;
                item.index = start + k;
                if (f) {
                    item.pts = f->best_effort_timestamp != AV_NOPTS_VALUE
                                   ? f->best_effort_timestamp
                                   : source->FirstPts() + item.index * source->FrameDuration();
#if LIBAVUTIL_VERSION_MAJOR >= 58
                    item.duration = f->duration > 0 ? f->duration : source->FrameDuration();
#else
                    item.duration = f->pkt_duration > 0 ? f->pkt_duration : source->FrameDuration();
#endif
                }
                // A damaged stream can step back in time; the encoder and the
                // muxer refuse frames that do not move forward.
                if (prevPts != AV_NOPTS_VALUE && item.pts <= prevPts) item.pts = prevPts + prevDuration;
                prevPts = item.pts;
                prevDuration = std::max<int64_t>(1, item.duration);
                if (k == 0 && start > 0) {
                    if (o.segments == 0) shiftV = item.pts - source->FirstPts();
                    clipStartV = item.pts;
                }
                if (f && k == todo - 1)
                    source->DrainAudio(audio, toEnd ? AV_NOPTS_VALUE : item.pts + item.duration);
                // Keep what plays during the clip, moved with it.
                for (PacketPtr& p : audio) {
                    const AVRational tb = timeBaseOf(p->stream_index);
                    if (p->pts != AV_NOPTS_VALUE && clipStartV != AV_NOPTS_VALUE &&
                        av_compare_ts(p->pts + p->duration, tb, clipStartV, vtb) <= 0)
                        continue;
                    if (shiftV) {
                        const int64_t shift = av_rescale_q(shiftV, vtb, tb);
                        if (p->pts != AV_NOPTS_VALUE) p->pts -= shift;
                        if (p->dts != AV_NOPTS_VALUE) p->dts -= shift;
                    }
                    item.audio.push_back(std::move(p));
                }
                if (!f) {
                    // The sound after the last frame rides with it.
                    if (!decoded.Push(std::move(item))) return;
                    break;
                }
                item.pts -= shiftV;
                std::optional<GWorldPtr> gw = freeSource.Pop();
                if (!gw) return;
                item.gw = *gw;
                if (turns) {
                    converter.Convert(f, stored.data(), storedWidth * 4, storedWidth, storedHeight, fastScale);
                    TurnPixels(stored.data(), storedWidth * 4, storedWidth, storedHeight, Pixels(item.gw),
                               RowBytes(item.gw), turns);
                } else {
                    converter.Convert(f, Pixels(item.gw), RowBytes(item.gw), width, height, fastScale);
                }
                if (!decoded.Push(std::move(item))) return;
            }
            source->ReleaseDecoder();
        });
        decoded.Close();
    });

    auto isAudio = [reader](int index) {
        return reader->Format()->streams[index]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
    };
    // Conversion for the encoder, on a thread of its own so that the
    // encoder's own threads are fed without waiting for it.
    std::thread convertThread([&] {
        const bool failed = failure.Run(o.out, [&] {
            while (std::optional<Rendered> r = rendered.Pop()) {
                Converted c;
                if (r->gw) {  // else only the sound after the last frame
                    c.frame = writer.ConvertVideo(Pixels(r->gw), RowBytes(r->gw));
                    if (!freeOutput.Push(r->gw)) return;
                }
                c.pts = r->pts;
                c.duration = r->duration;
                // Sound passes only where the plug-in mixed it; subtitles always.
                for (PacketPtr& p : r->audio)
                    if (r->audioMixed || !isAudio(p->stream_index)) c.audio.push_back(std::move(p));
                if (!converted.Push(std::move(c))) return;
            }
        });
        if (failed) closeAll();
        converted.Close();
    });
    std::thread encodeThread([&] {
        const bool failed = failure.Run(o.out, [&] {
            while (std::optional<Converted> c = converted.Pop()) {
                for (PacketPtr& p : c->audio) writer.WriteCarried(std::move(p));
                if (c->frame) writer.WriteFrame(std::move(c->frame), c->pts, c->duration);
            }
        });
        if (failed) closeAll();
    });
    struct Joiner {
        std::function<void()> close;
        std::thread &a, &b, &c;
        ~Joiner() {
            close();
            for (std::thread* t : {&a, &b, &c})
                if (t->joinable()) t->join();
        }
    } joiner{closeAll, decodeThread, convertThread, encodeThread};

    // The plug-in, on this thread.
    std::optional<Decoded> current;
    bool handedOut = false;
    std::unique_ptr<FrameServer> other;  // frames other than the one being rendered
    std::string callbackError;
    static char pooledCookie;
    HostSession session(
        bundle.Entry(),
        [&](int32_t frame, int32_t w, int32_t h, GWorldPtr* out, void** cookie) -> HYPluginResult {
            if (current && !handedOut && frame == current->index && w == width && h == height) {
                handedOut = true;
                *out = current->gw;
                *cookie = &pooledCookie;
                return kPluginOK;
            }
            try {
                if (!other && !lengthKnown) {
                    callbackError = o.in + ": the plug-in asked for frame " + std::to_string(frame) +
                                    ", which a pipe cannot go back to";
                    return kPluginFailed;
                }
                if (!other) other = std::make_unique<FrameServer>(spool ? spool->Path() : o.in);
                const HYPluginResult r = other->Get(frame, w, h, out, cookie);
                if (r != kPluginOK && !other->Error().empty()) callbackError = other->Error();
                return r;
            } catch (const std::exception& e) {
                callbackError = e.what();
                return kPluginFailed;
            }
        },
        [&](void* cookie) -> HYPluginResult {
            if (cookie == &pooledCookie) return kPluginOK;  // the buffer goes back after the frame
            return other ? other->Release(cookie) : kPluginBadParams;
        });
    // A pipe's length is learnt as it goes; until then the frames so far.
    const int64_t known = lengthKnown ? count : o.frames >= 0 ? count : 1;
    session.movieFrames = int32_t(lengthKnown ? total : known);
    session.movieWidth = movieWidth;
    session.movieHeight = movieHeight;
    session.clipStart = int32_t(o.from);
    session.clipFrames = int32_t(known);
    HYPluginParams& params = session.Params();
    params.getInfo2.selectedFrames = int32_t(known);

    auto pluginError = [&](const std::string& what, HYPluginResult r) -> AppError {
        if (!callbackError.empty()) return AppError(callbackError);
        return AppError("plug-in failed " + what + ": " + ResultText(r));
    };
    HYPluginResult r = session.Send(kPlugGetInfo);
    if (r != kPluginOK) throw pluginError("to describe itself", r);
    for (int i = 0; i < 3; ++i)
        session.filterInfo.sliderValues[i] = o.slidersGiven ? o.sliders[i] : params.getInfo2.filterSliders[i].defaultValue;
    session.filterInfo.fadeInFrames = o.fadeIn;
    session.filterInfo.fadeOutFrames = o.fadeOut;

    params.startFrame = int32_t(o.from);
    params.frameCount = int32_t(known);
    params.renderFrame = 0;
    params.proxyOnly = o.proxy;
    params.frameRect = Rect{0, 0, int16_t(height), int16_t(width)};
    params.frame = nullptr;
    params.clientData = nullptr;
    r = session.Send(kPlugInitialize);
    if (r != kPluginOK) {
        session.Send(kPlugTerminate);
        throw pluginError("to initialize", r);
    }
    struct Terminator {
        HostSession& s;
        bool done = false;
        ~Terminator() {
            if (!done) s.Send(kPlugTerminate);
        }
    } terminator{session};

    Progress progress(o.progress, known == count ? todo : 0);
    int64_t done = 0;
    bool lastMixed = false;
    for (int64_t j = 0; j < todo; ++j) {
        const int64_t i = first + j;  // the frame's place in the clip
        if (Interrupted()) throw AppError("interrupted by " + InterruptName() + "; " + o.out + " not written", InterruptStatus());
        current = decoded.Pop();
        if (!current) break;
        if (!current->gw) {  // no frame, only the sound after the last one
            Rendered tail;
            tail.audioMixed = lastMixed;
            tail.audio = std::move(current->audio);
            current.reset();
            rendered.Push(std::move(tail));
            break;
        }
        if (known != count && i + 1 > params.frameCount) params.frameCount = session.clipFrames = int32_t(i + 1);
        handedOut = false;
        std::optional<GWorldPtr> out = freeOutput.Pop();
        if (!out) break;
        params.renderFrame = int32_t(i);
        params.frame = *out;
        session.audioMixed = false;
        r = session.Send(kPlugDoFrame);
        // Take the source buffer back even if the plug-in kept it: it is not
        // to hold host frames between messages.
        freeSource.Push(current->gw);
        if (r != kPluginOK) throw pluginError("on frame " + std::to_string(o.from + i), r);
        Rendered result;
        result.gw = *out;
        result.pts = current->pts;
        result.duration = current->duration;
        result.audioMixed = lastMixed = session.audioMixed;
        result.audio = std::move(current->audio);
        current.reset();
        if (!rendered.Push(std::move(result))) break;
        progress.Update(j + 1);
        done = j + 1;
    }
    terminator.done = true;
    r = session.Send(kPlugTerminate);
    rendered.Close();
    convertThread.join();
    decodeThread.join();
    // The frames are all handed on: the memory goes back before the encoder
    // empties its queue, when it needs the most.
    for (GWorldPtr gw : buffers) DisposeGWorld(gw);
    buffers.clear();
    encodeThread.join();
    if (failure.Failed()) failure.Throw();
    if (Interrupted()) throw AppError("interrupted by " + InterruptName() + "; " + o.out + " not written", InterruptStatus());
    if (r != kPluginOK) throw pluginError("to finish", r);
    writer.Finish();

    RenderStats stats;
    stats.frames = done;
    stats.seconds = Now() - started;
    stats.pluginSeconds = session.pluginSeconds;
    stats.audio = writer.HasAudio();
    stats.audioCopied = writer.AudioCopied();
    return stats;
}
