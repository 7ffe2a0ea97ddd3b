// Feeds arbitrary bytes to the resource-file reader, as a damaged or hostile
// preferences file would. Besides the sanitizers' checks it stops on:
// a file that opens but does not survive being written out and read back,
// a file changed by reading it, a failed ReadConfig that touched the record,
// and a save that does not read back, loses an unusable record or leaves a
// file behind.
#include <dirent.h>
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
    std::remove((gFolder + "/pelzo-Prefs.unusable").c_str());
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

std::vector<std::string> FolderNames() {
    std::vector<std::string> names;
    if (DIR* d = opendir(gFolder.c_str())) {
        while (const dirent* e = readdir(d))
            if (e->d_name[0] != '.' || (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..")))
                names.push_back(e->d_name);
        closedir(d);
    }
    return names;
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
    std::remove((gFolder + "/pelzo-Prefs.unusable").c_str());
    bool unusable = false;
    std::vector<char> kept;
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
            unusable = !Save2Config(&r, reinterpret_cast<configSaveH>(pref));
            if (unusable) kept.assign(*pref, *pref + GetHandleSize(pref));
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

    // A save over it: only into a file that opened, the record reads back,
    // an unusable one is kept aside first, and no temporary file stays.
    PluginDataRec mine{};
    mine.sliders[0] = int16_t(size);
    mine.method = 2;
    const bool saved = SaveConfig(&mine);
    Check(!saved || ref != -1, "saved into a file that does not open");
    if (saved) {
        PluginDataRec back{};
        const bool read = ReadConfig(&back);
        if (!read || back.sliders[0] != mine.sliders[0] || back.method != 2)
            std::fprintf(stderr, "resfile_fuzz: read %d, slider %d of %d, method %d\n", read, back.sliders[0],
                         mine.sliders[0], back.method);
        Check(read && back.sliders[0] == mine.sliders[0] && back.method == 2, "saved record not read back");
        if (unusable) {
            FSSpec aside{};
            const std::string asidePath = gFolder + "/pelzo-Prefs.unusable";
            std::memcpy(aside.path, asidePath.c_str(), asidePath.size() + 1);
            const ResFileRefNum a = FSpOpenResFile(&aside, fsRdPerm);
            Check(a != -1, "unusable record not kept");
            Handle h = Get1Resource(cPrefResType, cPrefResID);
            Check(h && GetHandleSize(h) == int32_t(kept.size()) &&
                      (kept.empty() || std::memcmp(*h, kept.data(), kept.size()) == 0),
                  "kept record differs");
            CloseResFile(a);
        }
    }
    Check(FolderNames().size() <= 2, "a file left behind");
    return 0;
}
