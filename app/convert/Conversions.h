// The colour conversions between decoded frames and the plug-in's buffers:
// 32-bit (8-bit channels A,R,G,B in memory order) or 64-bit (16-bit channels
// A,R,G,B, native byte order). Chosen by measurement
// (bench/convert_bench.cpp): zimg between planar YUV (and, for 64-bit
// buffers, planar RGB) and the buffers at the same size, both ways; swscale
// with slice threads for everything else.
// Both are within one code of the conversion done in doubles.
#pragma once
#include <cstdint>
#include <string>

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

struct zimg_filter_graph;

// A swscale context with slice threads that writes into, and reads from,
// buffers it does not own. Rebuilt when the shape of the work changes.
class ThreadedScaler {
public:
    ~ThreadedScaler();
    // srcSpace/dstSpace are SWS_CS_*; with both -1 (no YUV side) the
    // colour details are left alone. Nil on failure.
    SwsContext* Get(int srcW, int srcH, AVPixelFormat src, int dstW, int dstH, AVPixelFormat dst, int flags,
                    int srcSpace, bool srcFull, int dstSpace, bool dstFull);
    // Converts the whole of src into dst; false when swscale refused.
    bool Scale(const AVFrame* src, AVFrame* dst);
    // The FFmpeg error code of the last Get or Scale that failed.
    int LastError() const { return err_; }

private:
    SwsContext* sws_ = nullptr;
    int err_ = 0;
    int key_[11] = {};
};

// Bits a pixel of the plug-in's buffers: 32, or 64 for deep frames.
enum class BufferDepth { k32 = 32, k64 = 64 };
inline int BytesPerPixel(BufferDepth d) { return d == BufferDepth::k64 ? 8 : 4; }

// Between 64-bit A,R,G,B rows and FFmpeg's native-endian RGBA64, in place.
void Argb64ToRgba64(uint8_t* row, int width);
void Rgba64ToArgb64(uint8_t* row, int width);

// Planar 8- to 16-bit YUV without alpha, same size, into A,R,G,B with
// alpha opaque; into 64-bit buffers also planar RGB, and alpha planes of
// the same depth, each sample scaled to 16 bits. Convert answers false for
// frames it does not take.
class ZimgToArgb {
public:
    explicit ZimgToArgb(BufferDepth depth = BufferDepth::k32);
    ~ZimgToArgb();
    ZimgToArgb(const ZimgToArgb&) = delete;
    ZimgToArgb& operator=(const ZimgToArgb&) = delete;
    bool Convert(const AVFrame* src, uint8_t* dst, int dstRowBytes, int width, int height);

    struct Impl;

private:
    Impl* impl_;
};

// The way back: A,R,G,B (alpha left out) into a planar 8- to 16-bit YUV
// frame of the same size, by the frame's colorspace, color_range and
// chroma_location; from 64-bit buffers also planar RGB, and alpha into a
// frame that has it. Convert answers false for frames it does not take.
class ZimgFromArgb {
public:
    explicit ZimgFromArgb(BufferDepth depth = BufferDepth::k32);
    ~ZimgFromArgb();
    ZimgFromArgb(const ZimgFromArgb&) = delete;
    ZimgFromArgb& operator=(const ZimgFromArgb&) = delete;
    bool Convert(const uint8_t* src, int srcRowBytes, AVFrame* dst);

    struct Impl;

private:
    Impl* impl_;
};

// Converts decoded frames into the buffers' alpha, red, green, blue pixels
// (full range) of any size; keeps its scaler between calls of the same shape.
// fast is for proxies: bilinear and a few codes off.
class ArgbConverter {
public:
    // tableDriven takes swscale's table-driven conversions instead of zimg,
    // up to five codes off (--fast-convert).
    explicit ArgbConverter(bool tableDriven = false, BufferDepth depth = BufferDepth::k32)
        : tableDriven_(tableDriven), depth_(depth), zimg_(depth) {}
    ~ArgbConverter();
    void Convert(const AVFrame* src, uint8_t* dst, int dstRowBytes, int width, int height,
                 bool fast = false);

private:
    bool tableDriven_;
    BufferDepth depth_;
    ZimgToArgb zimg_;
    ThreadedScaler scaler_;
};
