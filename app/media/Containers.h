// What the program knows of each container it writes, in one table: the
// encoders it picks, the streams it may carry, and what a pipe or its
// timing needs. Containers not in the table take FFmpeg's own defaults.
#pragma once
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/codec_id.h>
#include <libavformat/avformat.h>
}

struct ContainerFacts {
    const char* name;            // the muxer, as ffmpeg -f names it
    // Encoders by preference, the first this FFmpeg has; nil: the muxer's own.
    const char* video;           // the default
    const char* alphaVideo;      // for a source with alpha; nil: none keeps it
    AVCodecID textSubtitles;     // what text subtitles become; NONE: the muxer's default
    bool pipeFragments;          // on a pipe, written as fragments (no index to go back to)
    bool evenlyTimed;            // no time stamps, only a frame rate
    bool pictures;               // holds pictures only: no sound, no subtitles
    bool attachments;            // fonts and other attached files
    // Sound its muxer names but refuses (FLAC in MP4 only as experimental).
    std::vector<AVCodecID> refusedAudio;
    // The only sound its players read (AVI's tag table lists more); empty: any.
    std::vector<AVCodecID> audio;
    // Sound the muxer cannot name the type of is written as data no player
    // reads: then only this list is copied.
    std::vector<AVCodecID> knownAudio;
    bool holdsRotation = false;        // stores a stream's display matrix
    bool rotationLostBefore6 = false;  // ... but FFmpeg 5's writer drops it
    bool dropsTags = false;            // keeps none of the program's own tags
};

// Whether this FFmpeg writes a display matrix into the container.
bool HoldsRotation(const ContainerFacts& facts);

// The facts of a container; a row of defaults for one not in the table.
const ContainerFacts& FactsOf(const AVOutputFormat* ofmt);
// The first encoder of a preference list ("libx264 mpeg4") that this FFmpeg
// has; the last one when none.
std::string FirstEncoder(const char* names);
