#include "app/render/FrameServer.h"

#include "app/convert/Orientation.h"

GWorldPtr NewArgbBuffer(int width, int height, BufferDepth depth) {
    Rect r{0, 0, int16_t(height), int16_t(width)};
    GWorldPtr gw = nullptr;
    if (NewGWorld(&gw, int16_t(depth), &r, nullptr, nullptr, 0) != noErr || !gw) return nullptr;
    return gw;
}

// A still says its orientation on its first picture, not in the stream.
FrameServer::FrameServer(const std::string& path, BufferDepth depth)
    : reader_(path),
      depth_(depth),
      converter_(false, depth),
      upright_(UprightOrientation(reader_.VideoStream(), reader_.Frame(0))) {}

HYPluginResult FrameServer::Get(int32_t frame, int32_t width, int32_t height, GWorldPtr* out, void** cookie) {
    if (frame < 0 || frame >= reader_.FrameCount() || width > 32767 || height > 32767) return kPluginBadParams;
    try {
        const AVFrame* f = reader_.Frame(frame);
        if (!f) {
            error_ = reader_.Path() + ": frame " + std::to_string(frame) + " cannot be decoded";
            return kPluginFailed;
        }
        GWorldPtr gw = NewArgbBuffer(width, height, depth_);
        if (!gw) return kPluginOutOfMemory;
        uint8_t* pixels = reinterpret_cast<uint8_t*>(GetPixBaseAddr(GetGWorldPixMap(gw)));
        const int rowBytes = GetPixRowBytes(GetGWorldPixMap(gw));
        if (!upright_.Identity()) {
            const int w = upright_.Swaps() ? height : width, h = upright_.Swaps() ? width : height;
            const int bytes = BytesPerPixel(depth_);
            stored_.resize(size_t(w) * h * bytes);
            converter_.Convert(f, stored_.data(), w * bytes, w, h);
            Orient(stored_.data(), w * bytes, w, h, pixels, rowBytes, upright_, bytes);
        } else {
            converter_.Convert(f, pixels, rowBytes, width, height);
        }
        *out = gw;
        *cookie = gw;
        return kPluginOK;
    } catch (const std::exception& e) {
        error_ = e.what();
        return kPluginFailed;
    }
}

// The buffer handed out is the host's until ReleaseFrame takes it back.
HYPluginResult FrameServer::Release(void* cookie) {
    DisposeGWorld(static_cast<GWorldPtr>(cookie));
    return kPluginOK;
}
