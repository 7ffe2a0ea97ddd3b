#include "app/commands/Commands.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

#include "app/AppError.h"
#include "app/output/Spool.h"
#include "app/output/Placement.h"

namespace {

struct GWorldOwner {
    GWorldPtr gw;
    ~GWorldOwner() { DisposeGWorld(gw); }
};

// Every command begins as a host does: it asks the filter to describe itself.
void Describe(HostSession& session) {
    const HYPluginResult r = session.Send(kPlugGetInfo);
    if (r != kPluginOK) throw AppError("plug-in failed to describe itself: " + ResultText(r));
}

}  // namespace

void WritePng(GWorldPtr gw, const std::string& path, bool keepAlpha, const std::string& in, bool overwrite) {
    Rect bounds{};
    GetPortBounds(gw, &bounds);
    WriterSettings ws;
    ws.path = path;
    ws.inputPath = in;
    ws.overwrite = overwrite;
    ws.codec = "png";
    ws.width = bounds.right - bounds.left;
    ws.height = bounds.bottom - bounds.top;
    ws.sourceHasAlpha = keepAlpha;
    MediaWriter writer(ws);
    PixMapHandle pm = GetGWorldPixMap(gw);
    writer.WriteVideo(reinterpret_cast<const uint8_t*>(GetPixBaseAddr(pm)), GetPixRowBytes(pm), 0, 1);
    writer.Finish();
}

void RunInfo(const PluginBundle& bundle) {
    HostSession session(
        bundle.Entry(), [](int32_t, int32_t, int32_t, GWorldPtr*, void**) { return kPluginFailed; },
        [](void*) { return kPluginOK; });
    Describe(session);
    const HYPluginParams& p = session.Params();
    std::printf("type     %d%s\n", p.getInfo.pluginType, p.getInfo.pluginType == kPluginFilterType ? " (filter)" : "");
    std::printf("flags    0x%08x\n", p.getInfo.pluginFlags);
    std::printf("group    %.*s\n", kHYLabelSize, p.getInfo2.group);
    for (int i = 0; i < 3; ++i) {
        const HYPluginFilterSliderInfo& s = p.getInfo2.filterSliders[i];
        std::printf("slider %d %.*s (%.*s .. %.*s), default %g\n", i + 1, kHYLabelSize, s.label, kHYLabelSize,
                    s.minLabel, kHYLabelSize, s.maxLabel, double(s.defaultValue));
    }
    std::printf("button   %.*s\n", kHYButtonTitleSize, p.getInfo3.buttonTitle);
    std::printf("memory   %d bytes\n", p.getInfo2.baseMemoryNeeded);
}

void RunThumbnail(const std::string& in, const std::string& out, int64_t at, bool overwrite,
                  const PluginBundle& bundle) {
    if (out.size() < 5 || (out.compare(out.size() - 4, 4, ".png") && out.compare(out.size() - 4, 4, ".PNG")))
        throw AppError(out + ": a thumbnail is written as .png");
    OutputRequest target;
    target.out = out;
    target.inputs = {in};
    target.overwrite = overwrite;
    target.sequenceAllowed = false;
    CheckOutput(target);
    FrameServer server(in);
    const int64_t total = server.Reader().FrameCount();
    if (at < 0 || at >= total) throw AppError("--at: " + in + " has " + std::to_string(total) + " frames, numbered from 0");
    const int width = server.Width(), height = server.Height();
    GWorldOwner frame{NewArgbBuffer(width, height)};
    if (!frame.gw) throw AppError("out of memory");

    HostSession session(
        bundle.Entry(),
        [&](int32_t f, int32_t w, int32_t h, GWorldPtr* o, void** c) { return server.Get(f, w, h, o, c); },
        [&](void* c) { return server.Release(c); });
    session.movieFrames = session.clipFrames = int32_t(total);
    session.movieWidth = width;
    session.movieHeight = height;
    HYPluginParams& p = session.Params();
    p.getInfo2.selectedFrames = int32_t(total);
    Describe(session);
    p.getInfo.bestThumbOffset = int32_t(at);
    p.startFrame = 0;
    p.frameCount = int32_t(total);
    p.frameRect = Rect{0, 0, int16_t(height), int16_t(width)};
    p.frame = frame.gw;
    const HYPluginResult r = session.Send(kPlugFilePlaceHolder);
    if (!server.Error().empty()) throw AppError(server.Error());
    if (r != kPluginOK) throw AppError("plug-in failed to draw the placeholder: " + ResultText(r));
    WritePng(frame.gw, out, server.Reader().HasAlpha(), in, overwrite);
}

bool HaveDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* v = std::getenv(name);
        if (v && *v) return true;
    }
    return false;
}

void RunConfigure(const std::string& in, int64_t at, const PluginBundle& bundle) {
    FrameServer server(in);
    const int64_t total = server.Reader().FrameCount();
    if (at < 0 || at >= total) throw AppError("--at: " + in + " has " + std::to_string(total) + " frames, numbered from 0");
    HostSession session(
        bundle.Entry(),
        [&](int32_t f, int32_t w, int32_t h, GWorldPtr* o, void** c) { return server.Get(f, w, h, o, c); },
        [&](void* c) { return server.Release(c); });
    session.movieFrames = session.clipFrames = int32_t(total);
    session.movieWidth = server.Width();
    session.movieHeight = server.Height();
    HYPluginParams& p = session.Params();
    p.getInfo2.selectedFrames = int32_t(total);
    Describe(session);
    // As an editor does before the filter's button can be pressed: the
    // plug-in renders the frame on show, which tells it where it stands. The
    // clip begins at that frame, so the clip slider runs from it to the end.
    const int width = server.Reader().Width(), height = server.Reader().Height();
    GWorldOwner shown{NewArgbBuffer(width, height)};
    if (!shown.gw) throw AppError("out of memory");
    session.clipStart = int32_t(at);
    session.clipFrames = int32_t(total - at);
    p.startFrame = int32_t(at);
    p.frameCount = int32_t(total - at);
    p.renderFrame = 0;
    p.frameRect = Rect{0, 0, int16_t(height), int16_t(width)};
    p.frame = shown.gw;
    p.clientData = nullptr;
    HYPluginResult r = session.Send(kPlugInitialize);
    if (r == kPluginOK) r = session.Send(kPlugDoFrame);
    const HYPluginResult ended = session.Send(kPlugTerminate);
    if (!server.Error().empty()) throw AppError(server.Error());
    if (r == kPluginOK) r = ended;
    if (r != kPluginOK) throw AppError("plug-in failed on frame " + std::to_string(at) + ": " + ResultText(r));

    // The button itself: frames are then counted from the start of the movie.
    p.startFrame = 0;
    p.renderFrame = 0;
    p.frame = nullptr;
    r = session.Send(kPlugCustomButtonClick);
    if (!server.Error().empty()) throw AppError(server.Error());
    if (r != kPluginOK) throw AppError("plug-in failed in its dialog: " + ResultText(r));
}
