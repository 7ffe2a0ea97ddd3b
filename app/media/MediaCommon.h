// Small helpers shared by the reader, the converter and the writer.
#pragma once
#include <string>

#include "app/media/Media.h"

bool IsYuv(AVPixelFormat fmt);
// Full range when the frame says so or the format is one of the old J formats.
bool IsFullRangeYuv(AVPixelFormat fmt, AVColorRange range);
// Lower-case extension of a path's last component, empty when it has none.
std::string Extension(const std::string& path);
PacketPtr NewPacket();
