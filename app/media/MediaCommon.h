// Small helpers shared by the reader and the writer.
#pragma once
#include <string>

#include "app/convert/ColourSpaces.h"
#include "app/media/Media.h"

// Lower-case extension of a path's last component, empty when it has none.
std::string Extension(const std::string& path);
PacketPtr NewPacket();
