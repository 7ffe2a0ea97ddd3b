// `vexolumen render`: decoding, the plug-in's calls and encoding run on three
// threads joined by bounded queues. The plug-in is only ever called from the
// calling thread, one message at a time; buffers are made and freed there too
// (the current port is process-wide), the other threads only touch pixels.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>

#include "app/AppError.h"
#include "app/OutputFile.h"
#include "app/BoundedQueue.h"
#include "app/Commands.h"

namespace {

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

bool EndsWithPng(const std::string& path) {
    return path.size() > 4 && (path.compare(path.size() - 4, 4, ".png") == 0 ||
                               path.compare(path.size() - 4, 4, ".PNG") == 0);
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
        std::fprintf(stderr, "%sframe %lld/%lld  %.1f fps  %.1f s left%s", tty_ ? "\r" : "",
                     static_cast<long long>(done), static_cast<long long>(total_), fps, left, tty_ ? "  " : "\n");
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
    CheckOutput(o.in, o.out, o.overwrite);
    const bool pngOut = EndsWithPng(o.out);
    if (pngOut && o.frames > 1) throw AppError("--frames: a .png output holds one frame");

    auto reader = std::make_unique<MediaReader>(o.in);
    const int64_t total = reader->FrameCount();
    if (o.from >= total)
        throw AppError("--from: " + o.in + " has " + std::to_string(total) + " frames, numbered from 0");
    const int64_t available = total - o.from;
    const int64_t count = o.frames >= 0 ? o.frames : (pngOut ? 1 : available);
    if (count > available)
        throw AppError("--frames: " + o.in + " has only " + std::to_string(available) + " frames from frame " +
                       std::to_string(o.from));
    if (count > INT32_MAX || total > INT32_MAX) throw AppError(o.in + ": too many frames");
    const int width = o.width ? o.width : reader->Width();
    const int height = o.height ? o.height : reader->Height();
    const bool toEnd = o.from + count == total;

    const AVRational vtb = reader->TimeBase();
    // Read before the decoding thread owns the reader.
    const int movieWidth = reader->Width(), movieHeight = reader->Height();
    const AVStream* audioIn = reader->AudioStream();

    WriterSettings ws;
    ws.path = o.out;
    ws.input = o.in;
    ws.overwrite = o.overwrite;
    ws.codec = o.codec;
    ws.crf = o.crf;
    ws.width = width;
    ws.height = height;
    ws.sourceHasAlpha = reader->HasAlpha();
    ws.timeBase = vtb;
    ws.frameRate = reader->FrameRate();
    ws.videoIn = reader->VideoStream();
    ws.audioIn = audioIn;
    MediaWriter writer(ws);

    // Buffers: a few frames in flight on each side of the plug-in.
    constexpr int kInFlight = 4;
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
    FirstError failure;
    auto closeAll = [&] {
        freeSource.Close();
        freeOutput.Close();
        decoded.Close();
        rendered.Close();
    };

    // Decoding thread: the clip's frames in order, converted to the output size.
    MediaReader* source = reader.get();
    const bool fastScale = o.proxy && height <= 259;
    std::thread decodeThread([&, source] {
        const InterruptWakes wakes;  // a stalled pipe gives way to Ctrl-C
        try {
            ArgbConverter converter;
            FramePtr last;
            int64_t shiftV = 0, clipStartA = AV_NOPTS_VALUE, shiftA = 0;
            int64_t prevPts = AV_NOPTS_VALUE, prevDuration = 1;
            for (int64_t k = 0; k < count; ++k) {
                std::vector<PacketPtr> audio;
                const AVFrame* f = k == 0 && o.from > 0 ? source->Frame(o.from, &audio) : source->Next(&audio);
                Decoded item;
                item.index = o.from + k;
                if (f) {
                    last.reset(av_frame_clone(f));
                    if (!last) throw AppError("out of memory");
                    item.pts = f->best_effort_timestamp != AV_NOPTS_VALUE
                                   ? f->best_effort_timestamp
                                   : source->FirstPts() + item.index * source->FrameDuration();
#if LIBAVUTIL_VERSION_MAJOR >= 58
                    item.duration = f->duration > 0 ? f->duration : source->FrameDuration();
#else
                    item.duration = f->pkt_duration > 0 ? f->pkt_duration : source->FrameDuration();
#endif
                } else {
                    // The container promised more frames than the stream holds:
                    // the last one stands in, as a still would.
                    if (!last) throw AppError(o.in + ": no frame could be decoded");
                    if (k > 0 && source->LastIndex() + 1 == item.index)
                        std::fprintf(stderr, "vexolumen: %s: ends after %lld frames; repeating the last\n",
                                     Printable(o.in).c_str(), static_cast<long long>(item.index));
                    item.duration = source->FrameDuration();
                    item.pts = last->best_effort_timestamp + (item.index - source->LastIndex()) * item.duration;
                }
                // A damaged stream can step back in time; the encoder and the
                // muxer refuse frames that do not move forward.
                if (prevPts != AV_NOPTS_VALUE && item.pts <= prevPts) item.pts = prevPts + prevDuration;
                prevPts = item.pts;
                prevDuration = std::max<int64_t>(1, item.duration);
                if (k == 0 && o.from > 0) {
                    shiftV = item.pts - source->FirstPts();
                    if (audioIn) {
                        clipStartA = av_rescale_q(item.pts, vtb, audioIn->time_base);
                        shiftA = av_rescale_q(shiftV, vtb, audioIn->time_base);
                    }
                }
                if (k == count - 1 && audioIn)
                    source->DrainAudio(audio, toEnd ? AV_NOPTS_VALUE
                                                    : av_rescale_q(item.pts + item.duration, vtb, audioIn->time_base));
                // Keep the audio that plays during the clip, moved with it.
                for (PacketPtr& p : audio) {
                    if (p->pts != AV_NOPTS_VALUE && clipStartA != AV_NOPTS_VALUE && p->pts + p->duration <= clipStartA)
                        continue;
                    if (shiftA) {
                        if (p->pts != AV_NOPTS_VALUE) p->pts -= shiftA;
                        if (p->dts != AV_NOPTS_VALUE) p->dts -= shiftA;
                    }
                    item.audio.push_back(std::move(p));
                }
                item.pts -= shiftV;
                std::optional<GWorldPtr> gw = freeSource.Pop();
                if (!gw) return;
                item.gw = *gw;
                converter.Convert(last.get(), Pixels(item.gw), RowBytes(item.gw), width, height, fastScale);
                if (!decoded.Push(std::move(item))) return;
            }
        } catch (const AppError& e) {
            failure.Set(e.what(), e.status);
        } catch (const std::exception& e) {
            failure.Set(o.in + ": " + e.what());
        }
        decoded.Close();
    });

    // Encoding thread.
    std::thread encodeThread([&] {
        try {
            while (std::optional<Rendered> r = rendered.Pop()) {
                if (r->audioMixed)
                    for (PacketPtr& p : r->audio) writer.WriteAudio(std::move(p));
                writer.WriteVideo(Pixels(r->gw), RowBytes(r->gw), r->pts, r->duration);
                if (!freeOutput.Push(r->gw)) return;
            }
        } catch (const AppError& e) {
            failure.Set(e.what(), e.status);
            closeAll();
        } catch (const std::exception& e) {
            failure.Set(o.out + ": " + e.what());
            closeAll();
        }
    });
    struct Joiner {
        std::function<void()> close;
        std::thread &a, &b;
        ~Joiner() {
            close();
            if (a.joinable()) a.join();
            if (b.joinable()) b.join();
        }
    } joiner{closeAll, decodeThread, encodeThread};

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
                if (!other) other = std::make_unique<FrameServer>(o.in);
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
    session.movieFrames = int32_t(total);
    session.movieWidth = movieWidth;
    session.movieHeight = movieHeight;
    session.clipStart = int32_t(o.from);
    session.clipFrames = int32_t(count);
    HYPluginParams& params = session.Params();
    params.getInfo2.selectedFrames = int32_t(count);

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
    params.frameCount = int32_t(count);
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

    Progress progress(o.progress, count);
    for (int64_t i = 0; i < count; ++i) {
        if (Interrupted()) throw AppError("interrupted by " + InterruptName() + "; " + o.out + " not written", InterruptStatus());
        current = decoded.Pop();
        if (!current) break;
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
        Rendered done;
        done.gw = *out;
        done.pts = current->pts;
        done.duration = current->duration;
        done.audioMixed = session.audioMixed;
        done.audio = std::move(current->audio);
        current.reset();
        if (!rendered.Push(std::move(done))) break;
        progress.Update(i + 1);
    }
    terminator.done = true;
    r = session.Send(kPlugTerminate);
    rendered.Close();
    encodeThread.join();
    decodeThread.join();
    if (failure.Failed()) failure.Throw();
    if (Interrupted()) throw AppError("interrupted by " + InterruptName() + "; " + o.out + " not written", InterruptStatus());
    if (r != kPluginOK) throw pluginError("to finish", r);
    writer.Finish();

    RenderStats stats;
    stats.frames = count;
    stats.seconds = Now() - started;
    stats.pluginSeconds = session.pluginSeconds;
    stats.audio = writer.HasAudio();
    stats.audioCopied = writer.AudioCopied();
    return stats;
}
