#include "app/media/MediaCommon.h"

#include <cctype>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "app/AppError.h"


PacketPtr NewPacket() {
    PacketPtr p(av_packet_alloc());
    if (!p) throw AppError("out of memory");
    return p;
}

