#include "app/render/SavedSettings.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/AppError.h"
#include "pipeline/pluginData.h"
#include "pipeline/prefsloader.h"
#include "platform/resources/Resources.h"

namespace {

const unsigned char kPrefsFileName[] = "\x0bpelzo-Prefs";

}  // namespace

void RecordDeleter::operator()(PluginDataRec* r) const { std::free(r); }

RecordPtr DefaultRecord() {
    uint32_t size = 0;
    pGetConfigSize(size);
    RecordPtr rec(static_cast<PluginDataRec*>(std::calloc(1, size)));
    if (!rec) throw AppError("out of memory");
    ResetConfig(rec.get(), true);
    return rec;
}

RecordPtr LoadSettings(const char** source) {
    RecordPtr rec = DefaultRecord();
    std::string detail;
    const SavedState state = InspectSavedConfig(&detail);
    if (source) *source = "defaults";
    if (state == SavedState::kValid && ReadConfig(rec.get())) {
        if (source) *source = "saved";
    } else if (state == SavedState::kWrongSize || state == SavedState::kWrongVersion ||
               state == SavedState::kUnreadable) {
        std::fprintf(stderr, "vexolumen: %s: %s; not used%s\n", Printable(PrefsFilePath()).c_str(), detail.c_str(),
                     state == SavedState::kUnreadable ? "" : ", and kept as pelzo-Prefs.unusable when replaced");
    }
    return rec;
}

void ApplyChanges(const ConfigChanges& c, PluginDataRec& rec) {
    for (int i = 0; i < 3; ++i)
        if (c.angles[i]) rec.sliders[i] = *c.angles[i];
    if (c.offset) rec.colors[0] = *c.offset;
    if (c.method) rec.method = *c.method;
    if (c.rect) rec.startRel = *c.rect;
    if (c.standard) rec.mediaType = *c.standard;
}

std::string PrefsFilePath() {
    int16_t vRef = 0;
    int32_t dirID = 0;
    FSSpec spec{};
    FindFolder(kOnSystemDisk, kPreferencesFolderType, kDontCreateFolder, &vRef, &dirID);
    FSMakeFSSpec(vRef, dirID, kPrefsFileName, &spec);
    if (spec.path[0]) return spec.path;
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    return (xdg && *xdg ? std::string(xdg) : std::string(home ? home : "") + "/.config") + "/pelzo-Prefs";
}

SavedState InspectSavedConfig(std::string* detail) {
    int16_t vRef = 0;
    int32_t dirID = 0;
    FSSpec spec{};
    if (FindFolder(kOnSystemDisk, kPreferencesFolderType, kDontCreateFolder, &vRef, &dirID) != noErr ||
        FSMakeFSSpec(vRef, dirID, kPrefsFileName, &spec) != noErr) {
        if (detail) *detail = "no preferences file";
        return SavedState::kNoFile;
    }
    const ResFileRefNum saved = CurResFile();
    const ResFileRefNum ref = FSpOpenResFile(&spec, fsRdPerm);
    if (ref == -1) {
        if (detail) *detail = "not a readable preferences file (error " + std::to_string(ResError()) + ")";
        return SavedState::kUnreadable;
    }
    SavedState state = SavedState::kNoRecord;
    if (detail) *detail = "no saved settings";
    if (Handle h = Get1Resource(cPrefResType, cPrefResID)) {
        const int32_t size = GetHandleSize(h);
        ConfigSaveRec head{};
        std::memcpy(&head, *h, size_t(std::min<int32_t>(size, 8)));
        if (size != int32_t(sizeof(ConfigSaveRec)) || head.sizeInBytes != sizeof(ConfigSaveRec)) {
            state = SavedState::kWrongSize;
            if (detail)
                *detail = "saved settings of " + std::to_string(size) + " bytes (size field " +
                          std::to_string(size >= 4 ? head.sizeInBytes : 0) + "), expected 394";
        } else if (head.version != cConfigSaveVersion) {
            state = SavedState::kWrongVersion;
            if (detail) *detail = "saved settings of version " + std::to_string(head.version) + ", expected 3";
        } else {
            state = SavedState::kValid;
            if (detail) detail->clear();
        }
    }
    CloseResFile(ref);
    if (saved != -1 && saved != ref) UseResFile(saved);
    return state;
}
