// Reading, converting and writing video with FFmpeg's libraries.
//
// Frames of an input are numbered from 0 in presentation order of its first
// video stream. A reader and a writer each belong to one thread at a time.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;

class MediaReader {
public:
    // Opens the file and its video decoder; AppError naming the file when it
    // cannot be read or has no video.
    explicit MediaReader(const std::string& path);
    ~MediaReader();
    MediaReader(const MediaReader&) = delete;
    MediaReader& operator=(const MediaReader&) = delete;

    const std::string& Path() const { return path_; }
    int Width() const;
    int Height() const;
    bool HasAlpha() const;
    AVRational FrameRate() const { return frameRate_; }
    AVRational TimeBase() const;
    int64_t FrameDuration() const { return frameDuration_; }  // in TimeBase()
    int64_t FirstPts() const { return firstPts_; }
    const AVStream* VideoStream() const;
    const AVStream* AudioStream() const;  // nil when there is none
    // Number of video frames, from the container or by counting packets.
    int64_t FrameCount();

    // The next frame in order, or nil at the end. When audio is given, the
    // audio packets read on the way are appended to it. The frame stays the
    // reader's until the next call.
    const AVFrame* Next(std::vector<PacketPtr>* audio = nullptr);
    // Index of the frame Next returned last.
    int64_t LastIndex() const { return lastIndex_; }
    // Frame n, seeking when it is not the next one; nil past the end. Audio
    // read on the way is appended to audio when given.
    const AVFrame* Frame(int64_t n, std::vector<PacketPtr>* audio = nullptr);
    // Audio packets after the last video frame, up to (not including) endPts
    // in the audio time base; AV_NOPTS_VALUE reads to the end of the file.
    void DrainAudio(std::vector<PacketPtr>& audio, int64_t endPts);

private:
    void Open();
    void Close();
    void Seek(int64_t n);
    bool ReadPacket(std::vector<PacketPtr>* audio);
    int64_t IndexOf(const AVFrame* f) const;

    std::string path_;
    AVFormatContext* format_ = nullptr;
    AVCodecContext* decoder_ = nullptr;
    int videoIndex_ = -1, audioIndex_ = -1;
    AVRational frameRate_{25, 1};
    int64_t frameDuration_ = 1, firstPts_ = 0;
    int64_t frameCount_ = -1;
    int64_t nextIndex_ = 0, lastIndex_ = -1;
    bool sentEof_ = false, decoderDone_ = false;
    FramePtr frame_;
    PacketPtr packet_;
};

// Converts decoded frames into 32-bit alpha, red, green, blue pixels (full
// range) of any size; keeps its scaler between calls of the same shape.
class ArgbConverter {
public:
    ~ArgbConverter();
    void Convert(const AVFrame* src, uint8_t* dst, int dstRowBytes, int width, int height,
                 bool fast = false);

private:
    SwsContext* sws_ = nullptr;
};

class AudioTranscoder;
class OutputFile;

struct WriterSettings {
    std::string path;     // the final file; work goes to a temporary beside it
    std::string input;    // never replaced, even with overwrite
    bool overwrite = false;
    std::string codec;    // encoder name, empty for the default of the extension
    int crf = -1;         // -1 leaves the encoder's default
    int width = 0, height = 0;
    bool sourceHasAlpha = false;
    AVRational timeBase{1, 25};   // of the pts handed to WriteVideo
    AVRational frameRate{25, 1};
    const AVStream* videoIn = nullptr;  // colour description to keep; may be nil
    const AVStream* audioIn = nullptr;  // copied when the container can hold it, else re-encoded
};

// Encodes 32-bit alpha, red, green, blue frames into a new file. Nothing
// appears at the path until Finish succeeds; a writer destroyed before that
// removes its temporary file.
class MediaWriter {
public:
    explicit MediaWriter(const WriterSettings& settings);
    ~MediaWriter();
    MediaWriter(const MediaWriter&) = delete;
    MediaWriter& operator=(const MediaWriter&) = delete;

    const std::string& EncoderName() const { return encoderName_; }
    bool HasAudio() const { return audioOut_ != nullptr; }
    bool AudioCopied() const { return audioOut_ && !audioCoder_; }
    void WriteVideo(const uint8_t* argb, int rowBytes, int64_t pts, int64_t duration);
    // A packet in the time base of the input's audio stream.
    void WriteAudio(PacketPtr packet);
    void Finish();

private:
    void Init();
    void Drain(bool flush);
    void Mux(AVPacket* packet);
    void Abort();    // removes the temporary file
    void Release();  // frees everything; Abort first unless finished

    WriterSettings settings_;
    std::unique_ptr<OutputFile> output_;
    std::string tempPath_, encoderName_;
    AVFormatContext* format_ = nullptr;
    AVCodecContext* encoder_ = nullptr;
    AVStream* videoOut_ = nullptr;
    AVStream* audioOut_ = nullptr;
    std::unique_ptr<AudioTranscoder> audioCoder_;  // only when a copy cannot be stored
    SwsContext* sws_ = nullptr;
    FramePtr frame_;
    PacketPtr packet_;
    bool headerWritten_ = false, finished_ = false;
};

// The default output codec for a file name: H.264 for MP4, MKV and MOV, PNG
// for .png, otherwise the container's own default.
std::string DefaultEncoderFor(const std::string& path);
