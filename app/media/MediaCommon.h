// Small helpers shared by the reader and the writer.
#pragma once
#include <string>

#include "app/convert/ColourSpaces.h"
#include "app/media/Media.h"
#include "app/output/Placement.h"

PacketPtr NewPacket();
