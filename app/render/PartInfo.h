// What a part of a render spread over many runs records about itself in its
// metadata, so that `join` can check a set of parts and take everything but
// the pictures from the source once.
#pragma once
#include <cstdint>
#include <string>

extern "C" {
#include <libavutil/avutil.h>
#include <libavutil/dict.h>
#include <libavutil/rational.h>
}

#include "app/render/RenderOptions.h"

struct PartInfo {
    int64_t index = 0, count = 0;   // part K of N
    int64_t first = 0, frames = 0;  // frames [first, first + frames) of the input
    bool toEnd = false;             // the last part ends where the input does
    std::string source;             // the input's absolute path
    std::string sourceId;           // SourceIdentity of the input
    std::string settings;           // SettingsDigest of the render
    // The input's video clock: the clip's time 0 and this part's first frame.
    AVRational timeBase{0, 1};
    int64_t clipZero = 0, startPts = 0;
    // Where the frame after the last part starts, when the clip ends before
    // the input: no sound goes past it (AV_NOPTS_VALUE: unknown or to the end).
    int64_t endPts = AV_NOPTS_VALUE;
    // The chapters kept: those overlapping [start, end), moved by shift
    // (AV_TIME_BASE units), as WriterSettings has them.
    int64_t chapterStart = INT64_MIN, chapterEnd = INT64_MAX, chapterShift = 0;
};

void WritePartInfo(const PartInfo& info, AVDictionary** metadata);
// AppError naming label when the metadata holds no part or a damaged one.
PartInfo ReadPartInfo(const AVDictionary* metadata, const std::string& label);

// Size, modification time and a digest of the first packets of a file: the
// same clip even when copied (size and digest), told apart from an edited one.
std::string SourceIdentity(const std::string& path);
// Whether two identities name the same clip (the time may differ in a copy).
bool SameSource(const std::string& a, const std::string& b);

// Everything a part's pictures depend on besides the input: the saved
// settings, the fades, the size, the codec and the encoder's options.
std::string SettingsDigest(const RenderOptions& o);
