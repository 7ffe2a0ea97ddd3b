#include "ResourceFormat.h"

#include <algorithm>
#include <utility>

namespace vxres {
namespace {

constexpr size_t kHeaderSize = 16;
constexpr size_t kDataStart = 256;     // header plus the reserved system and application areas
constexpr size_t kMapHeaderSize = 28;  // header copy, next map, file ref, attributes, two offsets
constexpr size_t kTypeEntrySize = 8;
constexpr size_t kRefEntrySize = 12;
constexpr uint16_t kNoName = 0xFFFF;
// Flags that only mean something while a file is open.
constexpr uint16_t kTransientFileAttrs = 0x0060;  // mapCompact, mapChanged
constexpr uint8_t kTransientResAttrs = 0x02;      // resChanged

uint32_t Get32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
uint32_t Get24(const uint8_t* p) { return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2]; }
uint16_t Get16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }

void Put32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}
void Put24(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 16);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v);
}
void Put16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}

// True when [offset, offset + length) lies inside [0, limit); no overflow.
bool Within(uint64_t offset, uint64_t length, uint64_t limit) {
    return offset <= limit && length <= limit - offset;
}

}  // namespace

OSErr ParseResourceFile(const uint8_t* bytes, size_t size, ResourceImage& image) {
    image = ResourceImage{};
    if (!bytes || size < kHeaderSize || size > kMaxResourceFileSize) return mapReadErr;
    const uint32_t dataOffset = Get32(bytes);
    const uint32_t mapOffset = Get32(bytes + 4);
    const uint32_t dataLength = Get32(bytes + 8);
    const uint32_t mapLength = Get32(bytes + 12);
    if (!Within(dataOffset, dataLength, size) || !Within(mapOffset, mapLength, size)) return mapReadErr;
    if (mapLength < kMapHeaderSize + 2) return mapReadErr;

    const uint8_t* map = bytes + mapOffset;
    const uint8_t* data = bytes + dataOffset;
    const size_t typeListOffset = Get16(map + 24);
    const size_t nameListOffset = Get16(map + 26);
    if (!Within(typeListOffset, 2, mapLength) || nameListOffset > mapLength) return mapReadErr;
    const uint8_t* typeList = map + typeListOffset;
    const size_t typeCount = uint16_t(Get16(typeList) + 1);  // 0xFFFF means none
    if (!Within(typeListOffset + 2, uint64_t(typeCount) * kTypeEntrySize, mapLength)) return mapReadErr;

    // Reference lists of a sound file are disjoint, so together they fit in
    // the map; bounding the total first keeps shared or crafted lists from
    // costing more than the map's size.
    uint64_t totalRefs = 0;
    for (size_t t = 0; t < typeCount; ++t) totalRefs += uint64_t(Get16(typeList + 2 + t * kTypeEntrySize + 4)) + 1;
    if (totalRefs * kRefEntrySize > mapLength - typeListOffset) return mapReadErr;

    struct Span {
        uint32_t start, end;
    };
    std::vector<Span> spans;
    spans.reserve(size_t(totalRefs));
    ResourceImage result;
    result.fileAttributes = uint16_t(Get16(map + 22) & ~kTransientFileAttrs);
    result.entries.reserve(size_t(totalRefs));
    for (size_t t = 0; t < typeCount; ++t) {
        const uint8_t* typeEntry = typeList + 2 + t * kTypeEntrySize;
        const ResType type = Get32(typeEntry);
        const size_t refCount = size_t(Get16(typeEntry + 4)) + 1;
        const size_t refListOffset = Get16(typeEntry + 6);
        if (!Within(typeListOffset + refListOffset, uint64_t(refCount) * kRefEntrySize, mapLength)) return mapReadErr;
        const uint8_t* refs = typeList + refListOffset;
        for (size_t r = 0; r < refCount; ++r) {
            const uint8_t* ref = refs + r * kRefEntrySize;
            ResourceEntry entry;
            entry.type = type;
            entry.id = int16_t(Get16(ref));
            const uint16_t nameOffset = Get16(ref + 2);
            entry.attributes = uint8_t(ref[4] & ~kTransientResAttrs);
            const uint32_t resOffset = Get24(ref + 5);
            if (nameOffset != kNoName) {
                const size_t at = nameListOffset + size_t(nameOffset);
                if (at >= mapLength) return mapReadErr;
                const size_t length = map[at];
                if (!Within(at + 1, length, mapLength)) return mapReadErr;
                entry.hasName = true;
                entry.name.assign(reinterpret_cast<const char*>(map + at + 1), length);
            }
            if (!Within(resOffset, 4, dataLength)) return mapReadErr;
            const uint32_t length = Get32(data + resOffset);
            if (!Within(uint64_t(resOffset) + 4, length, dataLength)) return mapReadErr;
            spans.push_back({resOffset, resOffset + 4 + length});
            entry.data.assign(data + resOffset + 4, data + resOffset + 4 + length);
            result.entries.push_back(std::move(entry));
        }
    }

    std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.start < b.start; });
    for (size_t i = 1; i < spans.size(); ++i)
        if (spans[i].start < spans[i - 1].end) return mapReadErr;

    std::vector<std::pair<ResType, int16_t>> keys;
    keys.reserve(result.entries.size());
    for (const ResourceEntry& e : result.entries) keys.emplace_back(e.type, e.id);
    std::sort(keys.begin(), keys.end());
    if (std::adjacent_find(keys.begin(), keys.end()) != keys.end()) return mapReadErr;

    image = std::move(result);
    return noErr;
}

OSErr BuildResourceFile(const ResourceImage& image, std::vector<uint8_t>& bytes) {
    // Group by type, keeping the order of first appearance.
    std::vector<ResType> types;
    std::vector<std::vector<const ResourceEntry*>> byType;
    for (const ResourceEntry& e : image.entries) {
        auto it = std::find(types.begin(), types.end(), e.type);
        size_t index = size_t(it - types.begin());
        if (it == types.end()) {
            types.push_back(e.type);
            byType.emplace_back();
        }
        byType[index].push_back(&e);
        if (byType[index].size() > 0x10000 || e.name.size() > 255) return addResFailed;
    }
    if (types.size() > 0x10000) return addResFailed;

    size_t dataLength = 0;
    size_t namesLength = 0;
    for (const auto& list : byType)
        for (const ResourceEntry* e : list) {
            if (dataLength > 0xFFFFFF) return addResFailed;  // the offset has 24 bits
            dataLength += 4 + e->data.size();
            if (e->hasName) namesLength += 1 + e->name.size();
        }
    const size_t typeListLength = 2 + types.size() * kTypeEntrySize;
    const size_t nameListOffset = kMapHeaderSize + typeListLength + image.entries.size() * kRefEntrySize;
    if (nameListOffset > 0xFFFF || dataLength > 0xFFFFFFFFu) return addResFailed;
    const size_t mapLength = nameListOffset + namesLength;
    const size_t mapOffset = kDataStart + dataLength;
    if (mapOffset + mapLength > kMaxResourceFileSize) return addResFailed;

    std::vector<uint8_t> out(mapOffset + mapLength, 0);
    Put32(&out[0], uint32_t(kDataStart));
    Put32(&out[4], uint32_t(mapOffset));
    Put32(&out[8], uint32_t(dataLength));
    Put32(&out[12], uint32_t(mapLength));
    uint8_t* map = &out[mapOffset];
    std::copy(out.begin(), out.begin() + kHeaderSize, map);
    Put16(map + 22, uint16_t(image.fileAttributes & ~kTransientFileAttrs));
    Put16(map + 24, uint16_t(kMapHeaderSize));
    Put16(map + 26, uint16_t(nameListOffset));
    uint8_t* typeList = map + kMapHeaderSize;
    Put16(typeList, uint16_t(types.size() - 1));

    size_t dataAt = 0;
    size_t refAt = typeListLength;  // reference lists follow the type entries
    size_t nameAt = 0;
    for (size_t t = 0; t < types.size(); ++t) {
        uint8_t* typeEntry = typeList + 2 + t * kTypeEntrySize;
        Put32(typeEntry, types[t]);
        Put16(typeEntry + 4, uint16_t(byType[t].size() - 1));
        Put16(typeEntry + 6, uint16_t(refAt));
        for (const ResourceEntry* e : byType[t]) {
            uint8_t* ref = typeList + refAt;
            Put16(ref, uint16_t(e->id));
            if (e->hasName) {
                if (nameAt > 0xFFFE) return addResFailed;
                Put16(ref + 2, uint16_t(nameAt));
                uint8_t* name = map + nameListOffset + nameAt;
                name[0] = uint8_t(e->name.size());
                std::copy(e->name.begin(), e->name.end(), name + 1);
                nameAt += 1 + e->name.size();
            } else {
                Put16(ref + 2, kNoName);
            }
            ref[4] = uint8_t(e->attributes & ~kTransientResAttrs);
            Put24(ref + 5, uint32_t(dataAt));
            uint8_t* block = &out[kDataStart + dataAt];
            Put32(block, uint32_t(e->data.size()));
            std::copy(e->data.begin(), e->data.end(), block + 4);
            dataAt += 4 + e->data.size();
            refAt += kRefEntrySize;
        }
    }
    bytes = std::move(out);
    return noErr;
}

}  // namespace vxres
