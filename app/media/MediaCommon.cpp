#include "app/media/MediaCommon.h"

#include <cctype>

extern "C" {
#include <libavutil/pixdesc.h>
}

#include "app/AppError.h"
#include "app/output/Placement.h"

std::string Extension(const std::string& path) {
    const std::string leaf = SplitPath(path).leaf;
    const size_t dot = leaf.find_last_of('.');
    if (dot == std::string::npos) return "";
    std::string ext = leaf.substr(dot + 1);
    for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

PacketPtr NewPacket() {
    PacketPtr p(av_packet_alloc());
    if (!p) throw AppError("out of memory");
    return p;
}

