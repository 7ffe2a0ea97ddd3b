// The streams that travel with the video (audio, subtitles, attachments) and
// what the input says about itself: titles, languages, chapters, HDR data.
#pragma once
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/media/Media.h"

class AudioTranscoder;
class SubtitleTranscoder;

class CarriedStreams {
public:
    using Sink = std::function<void(AVPacket*)>;
    // Adds an output stream for each input stream the container can take,
    // as it is or converted; the rest are named in notes.
    CarriedStreams(const std::vector<const AVStream*>& in, const AVOutputFormat* ofmt, AVFormatContext* out,
                   const std::string& path, std::vector<std::string>& notes);
    ~CarriedStreams();
    bool HasAudio() const;
    bool AudioCopied() const;
    // A packet in its input stream's time base, stream_index the input's.
    void Write(AVPacket* packet, const Sink& write);
    void Flush(const Sink& write);

private:
    struct Route {
        const AVStream* in = nullptr;
        AVStream* out = nullptr;
        std::unique_ptr<AudioTranscoder> coder;
        std::unique_ptr<SubtitleTranscoder> text;
    };
    std::map<int, Route> routes_;
};

// Container metadata, and the chapters that overlap [start, end) (AV_TIME_BASE
// units of the input's clock), cut to it and moved earlier by shift.
void CopyContainerInfo(const AVFormatContext* in, AVFormatContext* out, int64_t start, int64_t end,
                       int64_t shift);
// Title, language, handler and the like, and the disposition.
void CopyStreamInfo(const AVStream* in, AVStream* out);
// Side data of the stream that stays true after the render: mastering
// display and light levels, and the display matrix when asked.
void CopyVideoSideData(const AVStream* in, AVStream* out, bool displayMatrix);
// Mastering display and light levels that the pictures carry (as HEVC does
// in its SEI), onto the stream where it has none.
void CopyFrameHdrData(const AVFrame* frame, AVStream* out);
