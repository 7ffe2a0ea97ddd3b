#include "app/render/PartInfo.h"

#include <sys/stat.h>

#include <cinttypes>
#include <cstdio>
#include <sstream>

extern "C" {
#include <libavformat/avformat.h>
}

#include "app/AppError.h"
#include "app/render/SavedSettings.h"
#include "app/media/Media.h"
#include "pipeline/pluginData.h"

namespace {

// FNV-1a: identifies, does not protect.
class Digest {
public:
    Digest& Add(const void* data, size_t size) {
        for (const uint8_t* p = static_cast<const uint8_t*>(data); size--; ++p) hash_ = (hash_ ^ *p) * 1099511628211ull;
        return *this;
    }
    Digest& Add(const std::string& text) { return Add(text.data(), text.size() + 1); }
    std::string Hex() const {
        char text[17];
        std::snprintf(text, sizeof text, "%016" PRIx64, hash_);
        return text;
    }

private:
    uint64_t hash_ = 14695981039346656037ull;
};

const char* const kPart = "vexolumen_part";
const char* const kFrames = "vexolumen_frames";
const char* const kSource = "vexolumen_source";
const char* const kSourceId = "vexolumen_source_id";
const char* const kSettings = "vexolumen_settings";
const char* const kClock = "vexolumen_clock";
const char* const kChapters = "vexolumen_chapters";

std::string Get(const AVDictionary* metadata, const char* key, const std::string& label) {
    const AVDictionaryEntry* e = av_dict_get(metadata, key, nullptr, 0);
    if (!e) throw AppError(label + ": not a part of a render with --segment (no " + key + " in its metadata)");
    return e->value;
}

}  // namespace

void WritePartInfo(const PartInfo& i, AVDictionary** metadata) {
    auto set = [&](const char* key, const std::string& value) {
        if (av_dict_set(metadata, key, value.c_str(), 0) < 0) throw AppError("out of memory");
    };
    set(kPart, std::to_string(i.index) + "/" + std::to_string(i.count));
    set(kFrames, std::to_string(i.first) + " " + std::to_string(i.frames) + " " + (i.toEnd ? "1" : "0"));
    set(kSource, i.source);
    set(kSourceId, i.sourceId);
    set(kSettings, i.settings);
    set(kClock, std::to_string(i.timeBase.num) + "/" + std::to_string(i.timeBase.den) + " " +
                    std::to_string(i.clipZero) + " " + std::to_string(i.startPts) + " " + std::to_string(i.endPts));
    set(kChapters, std::to_string(i.chapterStart) + " " + std::to_string(i.chapterEnd) + " " +
                       std::to_string(i.chapterShift));
}

PartInfo ReadPartInfo(const AVDictionary* metadata, const std::string& label) {
    PartInfo i;
    const std::string part = Get(metadata, kPart, label);
    i.source = Get(metadata, kSource, label);
    i.sourceId = Get(metadata, kSourceId, label);
    i.settings = Get(metadata, kSettings, label);
    int toEnd = 0;
    char slash = 0;
    std::istringstream p(part), f(Get(metadata, kFrames, label)), c(Get(metadata, kClock, label)),
        ch(Get(metadata, kChapters, label));
    p >> i.index >> slash >> i.count;
    f >> i.first >> i.frames >> toEnd;
    char slash2 = 0;
    c >> i.timeBase.num >> slash2 >> i.timeBase.den >> i.clipZero >> i.startPts >> i.endPts;
    ch >> i.chapterStart >> i.chapterEnd >> i.chapterShift;
    i.toEnd = toEnd != 0;
    if (p.fail() || f.fail() || c.fail() || ch.fail() || slash != '/' || slash2 != '/' || i.index < 1 ||
        i.index > i.count || i.frames < 1 || i.timeBase.num <= 0 || i.timeBase.den <= 0)
        throw AppError(label + ": its part metadata is damaged");
    return i;
}

std::string SourceIdentity(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return "";
    Digest d;
    AVFormatContext* f = nullptr;
    if (avformat_open_input(&f, InputUrl(path).c_str(), nullptr, nullptr) >= 0) {
        AVPacket* p = av_packet_alloc();
        for (int n = 0; p && n < 32 && av_read_frame(f, p) >= 0; ++n) {
            d.Add(p->data, size_t(p->size));
            av_packet_unref(p);
        }
        av_packet_free(&p);
        avformat_close_input(&f);
    }
    return std::to_string(st.st_size) + " " + std::to_string(st.st_mtim.tv_sec) + "." +
           std::to_string(st.st_mtim.tv_nsec) + " " + d.Hex();
}

bool SameSource(const std::string& a, const std::string& b) {
    std::istringstream x(a), y(b);
    std::string sizeA, timeA, digestA, sizeB, timeB, digestB;
    x >> sizeA >> timeA >> digestA;
    y >> sizeB >> timeB >> digestB;
    return !sizeA.empty() && sizeA == sizeB && digestA == digestB;
}

std::string SettingsDigest(const RenderOptions& o) {
    Digest d;
    // The settings as a render loads them: the file itself is made and
    // rewritten by the plug-in as it runs.
    std::string detail;
    const RecordPtr rec = InspectSavedConfig(&detail) == SavedState::kValid ? LoadSettings() : DefaultRecord();
    d.Add(rec.get(), sizeof(PluginDataRec));
    for (const int64_t v : {o.from, o.frames, int64_t(o.fadeIn), int64_t(o.fadeOut), int64_t(o.slidersGiven),
                            int64_t(o.proxy), int64_t(o.width), int64_t(o.height), int64_t(o.crf),
                            int64_t(o.autorotate), int64_t(o.fastConvert), o.segments,
                            int64_t(o.depth)})
        d.Add(&v, sizeof v);
    if (o.slidersGiven) d.Add(o.sliders, sizeof o.sliders);
    d.Add(o.codec).Add(o.format);
    if (!o.profile.empty()) d.Add(o.profile);  // parts of renders without one keep their digest
    return d.Hex();
}
