// The on-disk layout of a resource file, as pure functions over bytes, so that
// the reader can be checked (and fuzzed) without touching files.
//
// Layout, all numbers big-endian:
//   header (16 bytes): data offset, map offset, data length, map length;
//   data: per resource a 4-byte length and the bytes;
//   map: 16-byte header copy, 4 + 2 reserved, file attributes, type list
//   offset, name list offset; type list (count - 1, then type, count - 1 and
//   reference list offset per type); reference lists (id, name offset or -1,
//   attributes, 24-bit data offset, 4 reserved); name list (length-prefixed).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/resources/Resources.h"

namespace vxres {

struct ResourceEntry {
    ResType type = 0;
    int16_t id = 0;
    uint8_t attributes = 0;
    bool hasName = false;
    std::string name;  // at most 255 bytes
    std::vector<uint8_t> data;
};

struct ResourceImage {
    uint16_t fileAttributes = 0;
    std::vector<ResourceEntry> entries;  // no two share type and id
};

// Files larger than this are refused before they are read.
constexpr size_t kMaxResourceFileSize = size_t(64) << 20;

// Checks every offset and count before following it. A file whose regions
// leave the file, overlap one another, or that lists one (type, id) twice is
// refused with mapReadErr; image is left empty then.
OSErr ParseResourceFile(const uint8_t* bytes, size_t size, ResourceImage& image);

// Lays out a whole file. Entries of one type are grouped, types in order of
// first appearance. addResFailed when the contents do not fit the format's
// 16- and 24-bit offsets.
OSErr BuildResourceFile(const ResourceImage& image, std::vector<uint8_t>& bytes);

}  // namespace vxres
