// Inputs that are not plain files, and pictures stored turned.
#pragma once
#include <cstdint>
#include <string>

extern "C" {
#include <libavformat/avformat.h>
}

// "-", "pipe:N", a FIFO, a terminal or a socket: read once, front to back.
bool IsStreamPath(const std::string& path);

// A pipe's whole content copied into a private temporary file in dir, so that
// its frames can be counted before the first is rendered; removed again when
// the spool goes.
class Spool {
public:
    Spool(const std::string& in, const std::string& dir);
    ~Spool();
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;
    const std::string& Path() const { return path_; }
    int64_t Bytes() const { return bytes_; }

private:
    void Remove();

    std::string path_;
    int fd_ = -1;  // open while the file is read through /proc, nameless
    int64_t bytes_ = 0;
};

// Quarter turns clockwise that show the stream's pictures upright, from its
// display matrix, as ffmpeg turns them by default: 0 to 3.
int QuarterTurns(const AVStream* st);

// Turns a 32-bit picture of width x height by quarter turns clockwise into
// dst, which is height x width for odd turns.
void TurnPixels(const uint8_t* src, int srcRowBytes, int width, int height, uint8_t* dst, int dstRowBytes,
                int turns);
