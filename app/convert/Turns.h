// Pictures stored turned: the quarter turns a display matrix asks for, and
// the turn itself on 32-bit pixels.
#pragma once
#include <cstdint>

extern "C" {
#include <libavformat/avformat.h>
}

// Quarter turns clockwise that show the stream's pictures upright, from its
// display matrix, as ffmpeg turns them by default: 0 to 3.
int QuarterTurns(const AVStream* st);

// Turns a 32-bit picture of width x height by quarter turns clockwise into
// dst, which is height x width for odd turns.
void TurnPixels(const uint8_t* src, int srcRowBytes, int width, int height, uint8_t* dst, int dstRowBytes,
                int turns);
