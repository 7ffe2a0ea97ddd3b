#include "app/media/Containers.h"

#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace {

const std::vector<AVCodecID> kAviAudio = {AV_CODEC_ID_MP2, AV_CODEC_ID_MP3,     AV_CODEC_ID_AAC,     AV_CODEC_ID_AC3,
                                          AV_CODEC_ID_DTS, AV_CODEC_ID_PCM_S16LE, AV_CODEC_ID_PCM_U8};
const std::vector<AVCodecID> kTsAudio = {AV_CODEC_ID_MP2,  AV_CODEC_ID_MP3, AV_CODEC_ID_AAC,    AV_CODEC_ID_AC3,
                                         AV_CODEC_ID_EAC3, AV_CODEC_ID_DTS, AV_CODEC_ID_TRUEHD, AV_CODEC_ID_OPUS};
// Ogg, as its muxer checks.
const std::vector<AVCodecID> kOggAudio = {AV_CODEC_ID_VORBIS, AV_CODEC_ID_OPUS, AV_CODEC_ID_FLAC, AV_CODEC_ID_SPEEX};
// Sound MP4 and QuickTime name but refuse: FLAC and TrueHD only as
// experimental, Opus in QuickTime not at all.
const std::vector<AVCodecID> kMp4Refused = {AV_CODEC_ID_FLAC, AV_CODEC_ID_TRUEHD};
const std::vector<AVCodecID> kMovRefused = {AV_CODEC_ID_FLAC, AV_CODEC_ID_TRUEHD, AV_CODEC_ID_OPUS};
// MPEG program streams, as their muxer checks.
const std::vector<AVCodecID> kProgramAudio = {AV_CODEC_ID_MP1,     AV_CODEC_ID_MP2,       AV_CODEC_ID_MP3,
                                              AV_CODEC_ID_PCM_DVD, AV_CODEC_ID_PCM_S16BE, AV_CODEC_ID_AC3,
                                              AV_CODEC_ID_DTS};

// name, video, alpha video, text subtitles, pipe fragments, evenly timed,
// pictures, attachments, refused audio, audio, known audio,
// holds rotation, rotation lost before FFmpeg 6, drops tags
const ContainerFacts kContainers[] = {
    {"mp4", "libx264 mpeg4", nullptr, AV_CODEC_ID_MOV_TEXT, true, false, false, false, kMp4Refused, {}, {}, true},
    {"ipod", "libx264 mpeg4", nullptr, AV_CODEC_ID_MOV_TEXT, true, false, false, false, kMp4Refused, {}, {}, true},
    {"mov", "libx264 mpeg4", "prores_ks", AV_CODEC_ID_MOV_TEXT, true, false, false, false, kMovRefused, {}, {}, true},
    {"matroska", "libx264 mpeg4", "ffv1", AV_CODEC_ID_NONE, false, false, false, true, {}, {}, {}, true, true},
    {"webm", "libvpx-vp9 libvpx", "libvpx-vp9 libvpx", AV_CODEC_ID_WEBVTT, false, false, false, false, {}, {}, {}, true, true},
    {"mpegts", "libx264 mpeg4", nullptr, AV_CODEC_ID_NONE, false, false, false, false, {}, {}, kTsAudio, false, false, true},
    {"avi", nullptr, nullptr, AV_CODEC_ID_NONE, false, true, false, false, {}, kAviAudio, {}, false, false, true},
    {"mpeg", nullptr, nullptr, AV_CODEC_ID_NONE, false, false, false, false, {}, kProgramAudio, {}, false, false, true},
    {"vcd", nullptr, nullptr, AV_CODEC_ID_NONE, false, false, false, false, {}, kProgramAudio, {}, false, false, true},
    {"vob", nullptr, nullptr, AV_CODEC_ID_NONE, false, false, false, false, {}, kProgramAudio, {}, false, false, true},
    {"svcd", nullptr, nullptr, AV_CODEC_ID_NONE, false, false, false, false, {}, kProgramAudio, {}, false, false, true},
    {"dvd", nullptr, nullptr, AV_CODEC_ID_NONE, false, false, false, false, {}, kProgramAudio, {}, false, false, true},
    {"ogg", nullptr, nullptr, AV_CODEC_ID_NONE, false, true, false, false, {}, kOggAudio, {}, false, false, true},
    {"ogv", nullptr, nullptr, AV_CODEC_ID_NONE, false, true, false, false, {}, kOggAudio, {}, false, false, true},
    {"apng", nullptr, nullptr, AV_CODEC_ID_NONE, false, false, true, false, {}, {}, {}, false, false, true},
    {"webp", nullptr, nullptr, AV_CODEC_ID_NONE, false, false, true, false, {}, {}, {}, false, false, true},
    {"yuv4mpegpipe", nullptr, nullptr, AV_CODEC_ID_NONE, false, true, true, false, {}, {}, {}, false, false, true},
    {"image2", nullptr, nullptr, AV_CODEC_ID_NONE, false, false, true, false, {}, {}, {}, false, false, true},
    {"gif", nullptr, nullptr, AV_CODEC_ID_NONE, false, false, true, false, {}, {}, {}, false, false, true},
};

const ContainerFacts kOther = {"", nullptr, nullptr, AV_CODEC_ID_NONE, false, false, false, false, {}, {}, {}};

}  // namespace

const ContainerFacts& FactsOf(const AVOutputFormat* ofmt) {
    for (const ContainerFacts& f : kContainers)
        if (std::strcmp(f.name, ofmt->name) == 0) return f;
    return kOther;
}

std::string FirstEncoder(const char* names) {
    std::string name;
    for (const char* c = names;; ++c) {
        if (*c && *c != ' ') {
            name += *c;
            continue;
        }
        if (!*c || avcodec_find_encoder_by_name(name.c_str())) return name;
        name.clear();
    }
}

bool HoldsRotation(const ContainerFacts& facts) {
    return facts.holdsRotation && (LIBAVFORMAT_VERSION_MAJOR >= 60 || !facts.rotationLostBefore6);
}
