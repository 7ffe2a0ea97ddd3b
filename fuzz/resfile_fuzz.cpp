// Feeds arbitrary bytes to the resource-file reader, as a damaged or hostile
// preferences file would. Besides the sanitizers' checks it stops on:
// a file that opens but does not survive being written out and read back,
// a file changed by reading it, and a failed ReadConfig that touched the record.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "pipeline/prefsloader.h"
#include "platform/resources/ResourceFormat.h"
#include "platform/resources/Resources.h"

namespace {

std::string gFolder;

void RemoveFolder() {
    std::remove((gFolder + "/pelzo-Prefs").c_str());
    rmdir(gFolder.c_str());
}

const std::string& PrefsPath() {
    static const std::string path = [] {
        char tmpl[] = "/tmp/vx-fuzz-XXXXXX";
        if (!mkdtemp(tmpl)) std::abort();
        gFolder = tmpl;
        setenv("XDG_CONFIG_HOME", tmpl, 1);
        std::atexit(RemoveFolder);
        return gFolder + "/pelzo-Prefs";
    }();
    return path;
}

void Check(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "resfile_fuzz: %s\n", what);
        std::abort();
    }
}

bool SameEntries(const vxres::ResourceImage& a, const vxres::ResourceImage& b) {
    if (a.fileAttributes != b.fileAttributes || a.entries.size() != b.entries.size()) return false;
    // The writer groups by type, so compare each entry with its match.
    for (const auto& e : a.entries) {
        bool found = false;
        for (const auto& f : b.entries)
            if (e.type == f.type && e.id == f.id) {
                found = e.attributes == f.attributes && e.hasName == f.hasName && e.name == f.name && e.data == f.data;
                break;
            }
        if (!found) return false;
    }
    return true;
}

std::vector<uint8_t> ReadBack(const std::string& path) {
    std::vector<uint8_t> out;
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        uint8_t buffer[4096];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.insert(out.end(), buffer, buffer + n);
        std::fclose(f);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The format on its own: what is accepted must also be writable and read
    // back the same.
    vxres::ResourceImage image;
    if (vxres::ParseResourceFile(data, size, image) == noErr) {
        std::vector<uint8_t> rebuilt;
        if (vxres::BuildResourceFile(image, rebuilt) == noErr) {
            vxres::ResourceImage again;
            Check(vxres::ParseResourceFile(rebuilt.data(), rebuilt.size(), again) == noErr, "rebuilt file rejected");
            Check(SameEntries(image, again), "rebuilt file differs");
        }
    }

    // Through the Resource Manager, as the preferences code uses it.
    const std::string& path = PrefsPath();
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);

    FSSpec spec{};
    std::memcpy(spec.path, path.c_str(), path.size() + 1);
    const ResFileRefNum ref = FSpOpenResFile(&spec, fsCurPerm);
    if (ref != -1) {
        for (int16_t t = 1; t <= Count1Types(); ++t) {
            ResType type = 0;
            Get1IndType(&type, t);
            const int16_t count = Count1Resources(type);
            for (int16_t i = 1; i <= count && i <= 64; ++i) {
                Handle h = Get1IndResource(type, i);
                Check(h != nullptr, "listed resource missing");
                int16_t id = 0;
                Str255 name;
                GetResInfo(h, &id, &type, name);
                Check(Get1Resource(type, id) == h, "lookup by number differs");
                if (name[0]) Check(Get1NamedResource(type, name) != nullptr, "lookup by name failed");
                ReleaseResource(h);
            }
        }
        if (Handle pref = Get1Resource(cPrefResType, cPrefResID)) {
            PluginDataRec r{};
            Save2Config(&r, reinterpret_cast<configSaveH>(pref));
        }
        CloseResFile(ref);
        Check(ResError() == noErr, "closing an unchanged file failed");
    }
    const std::vector<uint8_t> after = ReadBack(path);
    Check(after.size() == size && (size == 0 || std::memcmp(after.data(), data, size) == 0), "reading changed the file");

    PluginDataRec record;
    std::memset(&record, 0x5A, sizeof record);
    PluginDataRec before = record;
    if (!ReadConfig(&record)) Check(std::memcmp(&record, &before, sizeof record) == 0, "failed read changed the record");
    return 0;
}
