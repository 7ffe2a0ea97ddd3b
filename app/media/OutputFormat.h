// What OUT becomes: its container, the video encoder and its pixel format.
#pragma once
#include <string>

#include "app/media/Media.h"
#include "app/output/Placement.h"

// The container: --format when given, else from the name; Matroska for a
// pipe with no telling name. AppError naming what was given when unknown.
const AVOutputFormat* ChooseContainer(const std::string& path, const std::string& format, bool inPlace);

// The encoder for a container when none is asked for: H.264 for MP4, MKV,
// MOV and TS, VP9 for WebM, full-range MJPEG for .jpg, PNG for .png, else
// the container's own. With an alpha source, one that keeps alpha where the
// container has one (ProRes 4444, VP9, FFV1); *why is set when none.
std::string DefaultEncoder(const AVOutputFormat* ofmt, const std::string& path, bool alpha, std::string* why);

// The encoder's pixel format closest to the source's chroma layout, depth
// and alpha; exact RGB for lossless encoders, since the effect's results are
// RGB.
AVPixelFormat ChoosePixelFormat(const AVCodec* codec, AVPixelFormat source, bool alpha, int width, int height);
