#include "pipeline/prefsloader.h"

#include <cstring>

#include "platform/resources/Resources.h"

namespace {

Boolean SaveConfigLocked(const PluginDataRec* theConfig);

const unsigned char kPrefsFileName[] = "\x0bpelzo-Prefs";
const unsigned char kUnusableFileName[] = "\x14pelzo-Prefs.unusable";
const unsigned char kPrefResName[] = "\x0f" "Config Settings";
const char kMiscText[] = "Config save for Tralvex iMovie plug-in";

// The preferences file, when the folder and the file both exist.
bool FindPrefsFile(FSSpec& spec, Boolean createFolder) {
    int16_t vRefNum = 0;
    int32_t dirID = 0;
    if (FindFolder(kOnSystemDisk, kPreferencesFolderType, createFolder, &vRefNum, &dirID) != noErr) return false;
    return FSMakeFSSpec(vRefNum, dirID, kPrefsFileName, &spec) == noErr;
}

// Opens the existing preferences file and makes it current; -1 when there is
// none or it cannot be read.
ResFileRefNum OpenPrefsFile() {
    FSSpec spec;
    if (!FindPrefsFile(spec, kDontCreateFolder)) return -1;
    const ResFileRefNum refNum = FSpOpenResFile(&spec, fsCurPerm);
    if (refNum == -1 || ResError() != noErr) return -1;
    UseResFile(refNum);
    return refNum;
}

// A stored record this version would reject (Save2Config's rule).
bool Unusable(Handle h) {
    if (GetHandleSize(h) < int32_t(sizeof(ConfigSaveRec))) return true;
    ConfigSaveRec head;
    std::memcpy(&head, *h, 8);
    return head.sizeInBytes != sizeof(ConfigSaveRec) || head.version != cConfigSaveVersion;
}

// Copies the record into "pelzo-Prefs.unusable", replacing the one kept
// before, so that a build that can read it still finds it.
bool KeepAside(Handle old, ResFileRefNum prefs) {
    int16_t vRefNum = 0;
    int32_t dirID = 0;
    FSSpec spec;
    bool kept = false;
    if (FindFolder(kOnSystemDisk, kPreferencesFolderType, kDontCreateFolder, &vRefNum, &dirID) != noErr) return false;
    const OSErr found = FSMakeFSSpec(vRefNum, dirID, kUnusableFileName, &spec);
    if (found == fnfErr) FSpCreateResFile(&spec, FOUR_CHAR_CODE("????"), cPrefResType, 0);
    if (found != noErr && (found != fnfErr || ResError() != noErr)) return false;
    ResFileRefNum aside = FSpOpenResFile(&spec, fsRdWrPerm);
    if (aside == -1 && found == noErr && ResError() == mapReadErr && FSpDelete(&spec) == noErr) {
        // A damaged one would block every save from now on: start afresh.
        FSpCreateResFile(&spec, FOUR_CHAR_CODE("????"), cPrefResType, 0);
        if (ResError() == noErr) aside = FSpOpenResFile(&spec, fsRdWrPerm);
    }
    if (aside != -1 && ResError() == noErr) {
        UseResFile(aside);
        if (Handle earlier = Get1Resource(cPrefResType, cPrefResID)) {
            RemoveResource(earlier);
            DisposeHandle(earlier);
        }
        const int32_t size = GetHandleSize(old);
        Handle copy = NewHandle(size);
        if (copy) {
            if (size > 0) std::memcpy(*copy, *old, size_t(size));
            AddResource(copy, cPrefResType, cPrefResID, kPrefResName);
            if (ResError() != noErr) DisposeHandle(copy);
            UpdateResFile(aside);
            kept = ResError() == noErr;
        }
        CloseResFile(aside);
    }
    UseResFile(prefs);
    return kept;
}

// Back to the caller's current resource file, when it is still open.
void Restore(ResFileRefNum saved, ResFileRefNum closed) {
    if (saved > 0 && saved != closed) UseResFile(saved);
}

}  // namespace

Boolean Config2Save(const PluginDataRec* theConfig, configSaveH theSave) {
    if (!theConfig || !theSave || !*theSave) return false;
    ConfigSaveRec rec;
    std::memset(&rec, 0, sizeof rec);
    rec.sizeInBytes = sizeof(ConfigSaveRec);
    rec.version = cConfigSaveVersion;
    rec.startRel = theConfig->startRel;
    rec.endRel = theConfig->endRel;
    for (int i = 0; i < 6; ++i) {
        rec.colors[i] = theConfig->colors[i];
        rec.sliders[i] = theConfig->sliders[i];
    }
    rec.frameStartColor = theConfig->frameStartColor;
    rec.frameEndColor = theConfig->frameEndColor;
    rec.mediaType = theConfig->mediaType;
    rec.keepProps = theConfig->keepProps;
    rec.method = theConfig->method;
    rec.miscString[0] = uint8_t(sizeof kMiscText - 1);
    std::memcpy(rec.miscString + 1, kMiscText, sizeof kMiscText - 1);
    std::memcpy(*theSave, &rec, sizeof rec);
    return true;
}

Boolean Save2Config(PluginDataRec* theConfig, configSaveH theSave) {
    if (!theConfig || !theSave || !*theSave) return false;
    if (GetHandleSize(reinterpret_cast<Handle>(theSave)) < int32_t(sizeof(ConfigSaveRec))) return false;
    ConfigSaveRec rec;
    std::memcpy(&rec, *theSave, sizeof rec);
    if (rec.sizeInBytes != sizeof(ConfigSaveRec) || rec.version != cConfigSaveVersion) return false;
    theConfig->startRel = rec.startRel;
    theConfig->endRel = rec.endRel;
    for (int i = 0; i < 6; ++i) {
        theConfig->colors[i] = rec.colors[i];
        theConfig->sliders[i] = rec.sliders[i];
    }
    theConfig->frameStartColor = rec.frameStartColor;
    theConfig->frameEndColor = rec.frameEndColor;
    theConfig->mediaType = rec.mediaType;
    theConfig->keepProps = rec.keepProps;
    theConfig->method = rec.method;
    return true;
}

Boolean SaveConfig(const PluginDataRec* theConfig) {
    if (!theConfig || !LockSavedConfig()) return false;
    const Boolean written = SaveConfigLocked(theConfig);
    UnlockSavedConfig();
    return written;
}

namespace {

Boolean SaveConfigLocked(const PluginDataRec* theConfig) {
    const ResFileRefNum saved = CurResFile();
    const ResFileRefNum refNum = OpenPrefsFile();
    if (refNum == -1) return false;

    // The new block is ready before the old one goes, and the file is written
    // once, so it holds the old record or the new one, never neither.
    Handle block = NewHandleClear(sizeof(ConfigSaveRec));
    if (!block || !Config2Save(theConfig, reinterpret_cast<configSaveH>(block))) {
        DisposeHandle(block);
        CloseResFile(refNum);
        Restore(saved, refNum);
        return false;
    }
    if (Handle old = Get1Resource(cPrefResType, cPrefResID)) {
        if (Unusable(old) && !KeepAside(old, refNum)) {
            DisposeHandle(block);
            CloseResFile(refNum);
            Restore(saved, refNum);
            return false;
        }
        RemoveResource(old);
        DisposeHandle(old);
    }
    AddResource(block, cPrefResType, cPrefResID, kPrefResName);
    if (ResError() != noErr) {
        DisposeHandle(block);
        CloseResFile(refNum);
        Restore(saved, refNum);
        return false;
    }
    UpdateResFile(refNum);
    const bool written = ResError() == noErr;
    ReleaseResource(block);
    CloseResFile(refNum);
    Restore(saved, refNum);
    return written;
}

}  // namespace

Boolean ReadConfig(PluginDataRec* theConfig) {
    if (!theConfig) return false;
    const ResFileRefNum saved = CurResFile();
    const ResFileRefNum refNum = OpenPrefsFile();
    if (refNum == -1) return false;
    Handle block = Get1Resource(cPrefResType, cPrefResID);
    if (!block) {
        CloseResFile(refNum);
        Restore(saved, refNum);
        return false;
    }
    DetachResource(block);
    CloseResFile(refNum);
    Restore(saved, refNum);
    const Boolean ok = Save2Config(theConfig, reinterpret_cast<configSaveH>(block));
    DisposeHandle(block);
    return ok;
}

void CreatePrefsFileIfMissing() {
    FSSpec spec;
    int16_t vRefNum = 0;
    int32_t dirID = 0;
    if (FindFolder(kOnSystemDisk, kPreferencesFolderType, kCreateFolder, &vRefNum, &dirID) != noErr) return;
    if (FSMakeFSSpec(vRefNum, dirID, kPrefsFileName, &spec) == fnfErr)
        FSpCreateResFile(&spec, FOUR_CHAR_CODE("????"), cPrefResType, 0);
}

namespace {

// Where the preferences file is, also when it is missing.
bool PrefsSpec(FSSpec& spec) {
    int16_t vRefNum = 0;
    int32_t dirID = 0;
    if (FindFolder(kOnSystemDisk, kPreferencesFolderType, kDontCreateFolder, &vRefNum, &dirID) != noErr) return false;
    const OSErr err = FSMakeFSSpec(vRefNum, dirID, kPrefsFileName, &spec);
    return err == noErr || err == fnfErr;
}

}  // namespace

Boolean LockSavedConfig() {
    FSSpec spec;
    if (!PrefsSpec(spec)) return true;  // no folder: nothing to change, nothing to lose
    const OSErr err = FSpLockForUpdate(&spec, cPrefsLockWait);
    return err != fLckdErr;
}

void UnlockSavedConfig() {
    FSSpec spec;
    if (PrefsSpec(spec)) FSpUnlockForUpdate(&spec);
}
