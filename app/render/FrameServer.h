// Frames for the plug-in's GetFrame, read from a file, and the buffers that
// carry them.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "app/convert/Orientation.h"
#include "app/media/Media.h"
#include "app/render/PluginHost.h"

// Serves GetFrame from any frame of a file, converting to the asked size.
// Buffers it hands out are freed at ReleaseFrame; the plug-in never
// disposes of them.
// Frames are shown upright, as render shows them.
class FrameServer {
public:
    // Buffers of the given depth (64 once the plug-in took deep frames).
    explicit FrameServer(const std::string& path, BufferDepth depth = BufferDepth::k32);
    HYPluginResult Get(int32_t frame, int32_t width, int32_t height, GWorldPtr* out, void** cookie);
    HYPluginResult Release(void* cookie);
    MediaReader& Reader() { return reader_; }
    int Width() const { return upright_.Swaps() ? reader_.Height() : reader_.Width(); }
    int Height() const { return upright_.Swaps() ? reader_.Width() : reader_.Height(); }
    // Message of the last failure behind a kPluginFailed from Get, if any.
    const std::string& Error() const { return error_; }

private:
    MediaReader reader_;
    BufferDepth depth_;
    ArgbConverter converter_;
    std::string error_;
    Orientation upright_;
    std::vector<uint8_t> stored_;
};

// A buffer of width x height for the plug-in, 32-bit unless said; nil when
// memory is short.
GWorldPtr NewArgbBuffer(int width, int height, BufferDepth depth = BufferDepth::k32);
