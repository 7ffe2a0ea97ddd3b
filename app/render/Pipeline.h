// The render's graph: four threads joined by bounded queues.
//
//   MediaReader                                                   MediaWriter
//       |                                                              ^
//   [decode]  --decoded-->  [plug-in]  --rendered-->  [convert]  --converted-->  [encode]
//       ^                    |    |                        |
//       +---- freeSource ----+    +<------ freeOutput -----+
//
// decode     reads and decodes the clip, turns frames upright and converts
//            them into free source buffers, 32-bit, or 64-bit once the
//            plug-in took deep frames (DecodeStage.cpp);
// plug-in    the calling thread: sends the plug-in one do-frame per frame,
//            between initialize and terminate (PluginStage.cpp);
// convert    the rendered buffer into the encoder's pixel format, then the
//            buffer goes back to freeOutput (EncodeStage.cpp);
// encode     encodes and muxes, with the sound and subtitles that travel
//            with each frame (EncodeStage.cpp).
//
// The plug-in is only ever called from the calling thread, one message at a
// time; buffers are made and freed there too (the current port is
// process-wide): the other threads only touch pixels. The first failure of
// any thread closes every queue, so all threads wind down, and is the one
// reported.
#pragma once
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/AppError.h"
#include "app/render/FrameServer.h"
#include "app/render/RenderOptions.h"
#include "app/render/BoundedQueue.h"
#include "app/render/RenderPlan.h"

// The first failure of any thread; later ones are consequences.
class FirstError {
public:
    void Set(const std::string& message, int status = 1);
    bool Failed();
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
    [[noreturn]] void Throw();

private:
    std::mutex mutex_;
    bool failed_ = false;
    std::string message_;
    int status_ = 1;
};

// A decoded frame, or (gw nil) only the sound after the last one.
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

// One render from a plan to a finished writer. Owns the threads, the queues
// and the frame buffers; Run may be called once.
class RenderPipeline {
public:
    RenderPipeline(const RenderOptions& options, RenderPlan& plan, MediaWriter& writer);
    ~RenderPipeline();  // closes the queues, joins the threads, frees the buffers
    RenderPipeline(const RenderPipeline&) = delete;
    RenderPipeline& operator=(const RenderPipeline&) = delete;

    // Drives the plug-in on this thread, starting the other threads once it
    // has said which frames it takes; waits for them. The first failure of
    // any thread is thrown.
    RenderStats Run(const PluginBundle& bundle);

private:
    // Thread entry points.
    void DecodeThread();
    void ConvertThread();
    void EncodeThread();
    // The plug-in's side, on the calling thread; the frames rendered. A
    // failed terminate is kept for after the other threads' failures.
    int64_t DrivePlugIn(const PluginBundle& bundle, double* pluginSeconds, std::optional<AppError>* finishFailure);

    // Decoding helpers.
    bool DecodeFrames();
    void NoteShortInput(int64_t k, int64_t start);
    void TimeFrame(const AVFrame* f, Decoded& item);
    void KeepAudio(std::vector<PacketPtr>& audio, Decoded& item) const;
    void HoldBack(Decoded& item);

    // Buffers of the depth the plug-in takes, then the threads.
    void Start(BufferDepth depth);
    void CloseAll();
    void JoinAll();
    void FreeBuffers();
    GWorldPtr NewFrameBuffer();

    const RenderOptions& o_;
    RenderPlan& plan_;
    MediaWriter& writer_;
    MediaReader* const reader_;
    const AVRational vtb_;
    BufferDepth depth_ = BufferDepth::k32;  // of every buffer; set before the threads start
    std::vector<GWorldPtr> buffers_;
    BoundedQueue<GWorldPtr> freeSource_, freeOutput_;
    BoundedQueue<Decoded> decoded_;
    BoundedQueue<Rendered> rendered_;
    BoundedQueue<Converted> converted_;
    FirstError failure_;
    std::thread decode_, convert_, encode_;

    // The decode thread's clock: time 0 is the clip's start; a segment keeps
    // the times of its place in the clip.
    int64_t shiftV_ = 0, clipStartV_ = AV_NOPTS_VALUE;
    int64_t prevPts_ = AV_NOPTS_VALUE, prevDuration_ = 1;
    std::vector<PacketPtr> heldAudio_;  // read ahead of the frames; see HoldBack
    bool noted_ = false;                // why the input fell short was said
};

// Tells a terminal user how far along the work is.
class Progress {
public:
    Progress(bool enabled, int64_t total);
    void Update(int64_t done);

private:
    bool enabled_, tty_;
    int64_t total_;
    double start_, last_;
};
