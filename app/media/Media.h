// Reading, converting and writing video with FFmpeg's libraries.
//
// Frames of an input are numbered from 0 in presentation order of its first
// video stream. A reader and a writer each belong to one thread at a time.
#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/buffer.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include "app/convert/ColourSpaces.h"
#include "app/convert/Conversions.h"

struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;

// Finds frames a frame-threaded decoder dropped without a word: each packet
// sent comes back as one frame, less the leading pictures a decoder skips
// after a start or a seek (those with time stamps before the first frame's).
// Field pictures and invisible frames break the count, so those are not
// checked.
class DropDetector {
public:
    // After a seek, frames before forgiveBelow (decoded only to reach the
    // target) neither start the count nor count as lost.
    void Restart(bool checked = true, int64_t forgiveBelow = INT64_MIN);
    void Sent(int64_t pts);
    void Received(int64_t pts, bool fields);
    // At the end of the stream: how many frames never came back.
    int64_t Lost() const;

private:
    std::multiset<int64_t> leading_;  // time stamps sent before the first frame
    int64_t sent_ = 0, received_ = 0, skipped_ = 0;
    int64_t forgiveBelow_ = INT64_MIN;
    bool checked_ = true, started_ = false;
};

// What FFmpeg must be given to open the input the user names: a plain name
// is a file, even with a colon in it ("10:30.mp4"); "-", "pipe:N", "file:"
// names and URLs of a protocol FFmpeg has stay as they are.
std::string InputUrl(const std::string& path);

class MediaReader {
public:
    // Opens the file and its video decoder; AppError naming the file when it
    // cannot be read or has no video. label names it in messages (default: path).
    explicit MediaReader(const std::string& path, const std::string& label = "");
    ~MediaReader();
    MediaReader(const MediaReader&) = delete;
    MediaReader& operator=(const MediaReader&) = delete;

    const std::string& Path() const { return label_; }
    int Width() const;
    int Height() const;
    bool HasAlpha() const;
    AVPixelFormat PixelFormat() const;
    // Whether the input can be read again from the start or sought in; a
    // pipe is read once, front to back.
    bool Seekable() const { return seekable_; }
    // The input ended inside a frame, which was left out.
    bool CutOff() const { return cutOff_; }
    const AVFormatContext* Format() const { return format_; }
    // Audio, subtitle and attachment streams that travel with the video.
    const std::vector<int>& CarriedStreams() const { return carried_; }
    AVRational FrameRate() const { return frameRate_; }
    AVRational TimeBase() const;
    int64_t FrameDuration() const { return frameDuration_; }  // in TimeBase()
    int64_t FirstPts() const { return firstPts_; }
    // Where the earliest of the video and the carried streams starts, in
    // TimeBase(): time 0 of a render of the whole clip, as ffmpeg has it.
    int64_t ClipStart() const;
    const AVStream* VideoStream() const;
    // Number of video frames: counted (without decoding) when the input can
    // be read again, else what the container claims. At least 1.
    int64_t FrameCount();
    // What the container says, or -1 when it does not.
    int64_t ClaimedFrames() const;
    // After FrameCount: video packets stored, with those an edit list hides
    // (which a header's frame count includes), and how much of the length
    // the header states is missing at the end (AV_TIME_BASE units; 0 when
    // unknown or none).
    int64_t StoredPackets() const { return storedPackets_; }
    int64_t MissingTime() const { return missingTime_; }
    // After FrameCount: the file ends inside a packet of its container.
    bool TornTail() const { return tornTail_; }

    // The next frame in order, or nil at the end. When audio is given, the
    // packets of the carried streams read on the way are appended to it
    // (stream_index is the input's). The frame stays the reader's until the
    // next call.
    const AVFrame* Next(std::vector<PacketPtr>* audio = nullptr);
    // Index of the frame Next returned last.
    int64_t LastIndex() const { return lastIndex_; }
    // Frame n, seeking when it is not the next one; nil past the end. Audio
    // read on the way is appended to audio when given.
    const AVFrame* Frame(int64_t n, std::vector<PacketPtr>* audio = nullptr);
    // Carried packets after the last video frame, up to (not including) endPts
    // in the video time base; AV_NOPTS_VALUE reads to the end of the file.
    void DrainAudio(std::vector<PacketPtr>& audio, int64_t endPts);
    // Frees the decoder and its pictures once no more frames are wanted, so
    // that they are gone before the encoder's last burst; the streams stay,
    // for the packets already handed out. Only the destructor may follow.
    void ReleaseDecoder();

private:
    void Open();
    void OpenDecoder(bool strict);
    void Close();
    void Seek(int64_t n);
    bool CountsFrames() const;
    bool ReadPacket(std::vector<PacketPtr>* audio);
    bool IsCarried(int index) const;
    int64_t IndexOf(const AVFrame* f) const;
    bool InLeadIn() const;
    bool ShortOfHeader() const;
    int64_t SeekPoint(int64_t target) const;

    std::string path_, label_;
    AVFormatContext* format_ = nullptr;
    std::vector<int> carried_;
    bool seekable_ = true, alphaDecoder_ = false;
    AVCodecContext* decoder_ = nullptr;
    int videoIndex_ = -1;
    AVRational frameRate_{25, 1};
    int64_t frameDuration_ = 1, firstPts_ = 0;
    int64_t frameCount_ = -1, storedPackets_ = -1, missingTime_ = 0;
    bool tornTail_ = false;
    int64_t nextIndex_ = 0, lastIndex_ = -1;
    bool sentEof_ = false, decoderDone_ = false;
    // The last video packet was read at the end of a file that may be cut off
    // inside it; cutOff_ once that frame turned out incomplete.
    bool tailPartial_ = false, cutOff_ = false;
    // After a seek, pictures before leadInEnd_ are decoded only to reach the
    // target; an open GOP's references to frames before the seek point fail
    // there, which is no damage.
    int64_t leadInEnd_ = AV_NOPTS_VALUE;
    bool seekMissed_ = false;  // the input ended before a seek reached its target
    FramePtr frame_;
    PacketPtr packet_;
    DropDetector damage_;
};

class CarriedStreams;
class Placement;
struct OutputRequest;

struct WriterSettings {
    std::string path;     // the final file; work goes to a temporary beside it
    std::string inputPath;  // never replaced, even with overwrite
    bool overwrite = false;
    int64_t frames = 1;   // a sequence's frames, at most: each name is checked before the first is written
    std::string codec;    // encoder name, empty for the default of the container
    std::string format;   // container as ffmpeg -f names it; empty: from the path
    int crf = -1;         // -1 leaves the encoder's default
    std::string profile;  // empty leaves the encoder's default
    int width = 0, height = 0;
    bool sourceHasAlpha = false;
    AVPixelFormat sourcePixFmt = AV_PIX_FMT_NONE;  // chroma layout and depth to keep
    AVRational timeBase{1, 25};   // of the pts handed to WriteVideo
    AVRational frameRate{25, 1};
    AVRational sampleAspect{0, 1};
    const AVStream* videoIn = nullptr;  // metadata and side data to keep; may be nil
    ColourTags colour;                  // the source's colour description, completed
    bool keepDisplayMatrix = false;     // the pictures are stored turned, as they came
    const AVFrame* firstFrame = nullptr;  // HDR data the stream header lacks; read in the constructor only
    const AVFormatContext* input = nullptr;      // its metadata and chapters are kept
    // The chapters kept overlap [clipStart, clipEnd) and move earlier by
    // clipShift (AV_TIME_BASE units).
    int64_t clipStart = INT64_MIN, clipEnd = INT64_MAX, clipShift = 0;
    std::vector<const AVStream*> carried;        // copied when the container can hold them, else converted
    std::vector<std::pair<std::string, std::string>> tags;  // container metadata of our own
    bool tableDriven = false;           // where zimg declines, swscale's quick conversions
    BufferDepth bufferDepth = BufferDepth::k32;  // of the frames handed to ConvertVideo
};

// Encodes alpha, red, green, blue frames (32- or 64-bit, as the settings
// say) into a new file. Nothing
// appears at the path until Finish succeeds; a writer destroyed before that
// removes its temporary file. A pipe or FIFO is written in place; an image
// sequence is written into a private folder and moved out at the end.
class MediaWriter {
public:
    explicit MediaWriter(const WriterSettings& settings);
    ~MediaWriter();
    MediaWriter(const MediaWriter&) = delete;
    MediaWriter& operator=(const MediaWriter&) = delete;

    AVPixelFormat PixelFormat() const { return pixFmt_; }
    // The depth of the frames ConvertVideo gets from now on, when it is not
    // the one the settings named (the plug-in declined deep frames). Before
    // the first frame only.
    void SetBufferDepth(BufferDepth depth);
    // One line each about what the output does not keep.
    const std::vector<std::string>& Notes() const { return notes_; }
    bool HasAudio() const;
    bool AudioCopied() const;
    void WriteVideo(const uint8_t* argb, int rowBytes, int64_t pts, int64_t duration);
    // WriteVideo in two steps, for two threads: a frame of the settings'
    // depth into the encoder's pixel format (one thread at a time), then
    // into the encoder.
    FramePtr ConvertVideo(const uint8_t* argb, int rowBytes);
    void WriteFrame(FramePtr frame, int64_t pts, int64_t duration);
    // A packet of a carried stream, in its time base, stream_index the input's.
    void WriteCarried(PacketPtr packet);
    void Finish();

private:
    void Init();
    const AVCodec* ChooseEncoder(const AVOutputFormat* ofmt, std::string* noAlpha);
    void OpenTarget(const OutputRequest& target);
    void SetColour(const AVCodec* codec);
    void SetProfile();
    void UseListedRate(const AVCodec* codec);
    std::string RateAdvice(const AVCodec* codec) const;
    void OpenEncoder(const AVOutputFormat* ofmt, const AVCodec* codec);
    void AddVideoStream(const AVOutputFormat* ofmt);
    void KeepOrientationTag(const AVOutputFormat* ofmt);
    void WriteHeader(const AVOutputFormat* ofmt);
    void PrepareConversion();
    void Drain(bool flush);
    void Mux(AVPacket* packet);
    void Abort();    // removes the temporary file
    void Release();  // frees everything; Abort first unless finished

    WriterSettings settings_;
    std::unique_ptr<Placement> output_;
    std::string tempPath_, encoderName_;
    std::string culprit_;  // whom a failure of the encoder blames
    bool inPlace_ = false;     // a pipe, FIFO or standard output
    bool constantRate_ = false;  // frames numbered 0, 1, 2... in 1/frame rate
    int64_t framesWritten_ = 0;
    AVPixelFormat pixFmt_ = AV_PIX_FMT_NONE;
    std::vector<std::string> notes_;
    AVFormatContext* format_ = nullptr;
    AVCodecContext* encoder_ = nullptr;
    AVStream* videoOut_ = nullptr;
    std::unique_ptr<CarriedStreams> carried_;
    ThreadedScaler scaler_;
    std::unique_ptr<ZimgFromArgb> zimg_;  // tried first; scaler_ takes what it declines
    std::vector<uint8_t> turned_;         // a 64-bit frame as swscale reads it
    // The encoder's pictures; rows 64-byte aligned, as zimg's widest code wants.
    static constexpr int kPictureAlign = 64;
    AVBufferPool* framePool_ = nullptr;
    PacketPtr packet_;
    bool headerWritten_ = false, finished_ = false;
};

