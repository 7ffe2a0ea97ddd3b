// What a render reads and writes, settled before the plug-in hears of it:
// the input (kept in a file first when a pipe's length is needed), the
// frames to render, their upright size, and the output's settings.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "app/render/FrameServer.h"
#include "app/render/RenderOptions.h"
#include "app/convert/Orientation.h"
#include "app/output/Spool.h"
#include "app/media/Media.h"

struct RenderPlan {
    std::unique_ptr<Spool> spool;  // before the reader, which reads it
    std::unique_ptr<MediaReader> reader;
    bool lengthKnown = true;   // false for a pipe read as it comes
    int64_t total = -1;        // frames in the input, when known
    int64_t claimed = 0;       // what its header says, 0 when it says nothing
    // Why the input holds fewer frames than it should, for when it has been
    // read; a frame cut in half found then says more.
    std::string shortNote;
    int64_t count = 0;         // frames of the clip (at most, for a pipe)
    // This run renders frames [first, first + todo) of the clip: all of it,
    // or one segment of a render spread over many runs.
    int64_t first = 0, todo = 0;
    bool toEnd = true;
    // Time stamps (the input's video time base) of the clip's first frame,
    // which becomes time 0 of every part, and of this run's first frame.
    int64_t clipZero = 0, startPts = 0;
    // Where the frame after this run's last one starts, when the run ends
    // before the input and carries sound: no sound plays past it.
    int64_t endPts = AV_NOPTS_VALUE;
    Orientation upright;       // how the stored pictures are shown upright
    int uprightWidth = 0, uprightHeight = 0, width = 0, height = 0;
    int sourceDepth = 8;
    bool deep = false;  // 64-bit frames are to be offered to the plug-in
    std::vector<PacketPtr> firstAudio;  // read on the way to the first frame
    WriterSettings writer;
};

// Checks the options against the input; AppError naming the option or file.
// The reader stands on the first frame to render.
RenderPlan PlanRender(const RenderOptions& o);

// A frame's time stamp, or where frame `index` falls at the nominal rate.
int64_t TimeOf(const MediaReader& reader, const AVFrame* f, int64_t index);
// FFmpeg reads a numbered sequence (a plain %d or %0Nd pattern) up to its
// first missing file and stops: the line naming that file when later ones
// exist, after `read` frames from the first; else empty.
std::string SequenceGap(const MediaReader& reader, const std::string& pattern, int64_t read);

// One line on standard error, for what the user should know but does not stop the work.
void Note(const std::string& line);
