#include "app/commands/ConfigCommand.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "app/AppError.h"
#include "app/output/Placement.h"
#include "pipeline/pluginData.h"
#include "pipeline/presets.h"
#include "pipeline/prefsloader.h"
#include "platform/resources/Resources.h"

namespace {

std::string Number(double v) {
    char text[64];
    const auto r = std::to_chars(text, text + sizeof text, v);
    return std::string(text, r.ptr);
}

const char* MethodName(int16_t m) { return m == 1 ? "clamp" : m == 2 ? "wrap" : "reflect"; }
const char* StandardName(int16_t s) { return s == 2 ? "pal" : s == 3 ? "hd" : "ntsc"; }

void Print(const PluginDataRec& r, const char* source) {
    std::printf("file     %s\n", PrefsFilePath().c_str());
    std::printf("source   %s\n", source);
    std::printf("angles   %d,%d,%d\n", r.sliders[0], r.sliders[1], r.sliders[2]);
    const RGBColor& o = r.colors[0];
    // Short where every channel is a byte filling both halves, as '#RRGGBB' sets them.
    if (o.red % 257 == 0 && o.green % 257 == 0 && o.blue % 257 == 0)
        std::printf("offset   #%02X%02X%02X\n", o.red >> 8, o.green >> 8, o.blue >> 8);
    else
        std::printf("offset   #%04X%04X%04X\n", o.red, o.green, o.blue);
    std::printf("method   %s\n", MethodName(r.method));
    std::printf("rect     %s,%s,%s,%s\n", Number(r.startRel.left).c_str(), Number(r.startRel.right).c_str(),
                Number(r.startRel.top).c_str(), Number(r.startRel.bottom).c_str());
    std::printf("standard %s\n", StandardName(r.mediaType));
    struct stat st;
    const std::string aside = PrefsFilePath() + ".unusable";
    if (stat(aside.c_str(), &st) == 0) std::printf("unusable %s (settings this version cannot read, kept)\n", aside.c_str());
}

void Save(const PluginDataRec& rec) {
    if (SaveConfig(&rec)) return;
    // A damaged file is never overwritten; say so, and how to start afresh.
    std::string detail, why;
    struct stat st;
    if (const int err = LastWriteErrno())
        why = std::string(": ") + std::strerror(err);
    else if (InspectSavedConfig(&detail) == SavedState::kUnreadable && stat(PrefsFilePath().c_str(), &st) == 0 &&
             S_ISREG(st.st_mode))
        why = ": " + detail + "; delete it to start afresh";
    throw AppError(PrefsFilePath() + ": cannot save the settings" + why);
}

// Read, change and save as one step against other processes doing the same.
struct Update {
    Update() {
        CreatePrefsFileIfMissing();
        if (!LockSavedConfig())
            throw AppError(PrefsFilePath() + ": busy: another vexolumen kept it locked for " +
                           std::to_string(cPrefsLockWait / 1000) + " s; nothing changed");
    }
    ~Update() { UnlockSavedConfig(); }
    Update(const Update&) = delete;
    Update& operator=(const Update&) = delete;
};

// /proc and the like refuse new names with ENOENT, which would read as if
// the folder itself were missing.
std::string Refusal(int err) { return err == ENOENT ? "nothing new can be made there" : std::strerror(err); }

std::string Parent(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    const size_t slash = p.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : p.substr(0, slash);
}

}  // namespace

void CheckConfigDir(const std::string& dir) {
    const std::string name = "--config-dir: " + dir + ": ";
    if (dir.empty()) throw AppError("--config-dir: needs a folder", kUsageStatus);
    struct stat st;
    if (lstat(dir.c_str(), &st) == 0 && S_ISLNK(st.st_mode) && stat(dir.c_str(), &st) != 0 && errno == ENOENT)
        throw AppError(name + "a link to nothing", kUsageStatus);
    if (stat(dir.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode)) throw AppError(name + "not a folder", kUsageStatus);
        // A folder that holds the file serves loads; a save says itself why it fails.
        if (lstat((dir + "/pelzo-Prefs").c_str(), &st) == 0) return;
        if (const int err = ProbeCreate(dir, false))
            throw AppError(name + "cannot hold the settings file: " + Refusal(err), kUsageStatus);
        return;
    }
    if (errno != ENOENT) throw AppError(name + std::strerror(errno), kUsageStatus);
    // Missing: the settings code makes it, and the folders above, when it can.
    std::string above = Parent(dir);
    while (stat(above.c_str(), &st) != 0 && errno == ENOENT && above != Parent(above)) above = Parent(above);
    if (stat(above.c_str(), &st) != 0)
        throw AppError(name + "cannot be made: " + above + ": " + std::strerror(errno), kUsageStatus);
    if (!S_ISDIR(st.st_mode)) throw AppError(name + "cannot be made: " + above + " is not a folder", kUsageStatus);
    if (const int err = ProbeCreate(above, true))
        throw AppError(name + "cannot be made in " + above + ": " + Refusal(err), kUsageStatus);
}

void RunConfigShow() {
    const char* source = nullptr;
    RecordPtr rec = LoadSettings(&source);
    Print(*rec, source);
}

void RunConfigSet(const ConfigChanges& c) {
    if (c.rect) {
        const RelRect& r = *c.rect;
        const std::string text = Number(r.left) + "," + Number(r.right) + "," + Number(r.top) + "," + Number(r.bottom);
        if (r.left > r.right) throw AppError("--rect: '" + text + "' has left after right", kUsageStatus);
        if (r.top > r.bottom) throw AppError("--rect: '" + text + "' has top below bottom", kUsageStatus);
    }
    const Update update;
    const char* source = nullptr;
    RecordPtr rec = LoadSettings(&source);
    ApplyChanges(c, *rec);
    Save(*rec);
    Print(*rec, "saved");
}

void RunConfigReset() {
    const Update update;
    RecordPtr rec = DefaultRecord();
    Save(*rec);
    Print(*rec, "saved");
}

void ApplyPreset(const std::string& name, ConfigChanges& c) {
    const Preset* p = FindPreset(name.c_str());
    if (!p) {
        std::string list;
        for (const Preset& q : kPresets) list += std::string(list.empty() ? "" : ", ") + q.name;
        throw AppError("--preset: no preset '" + name + "' (" + list + ")", kUsageStatus);
    }
    for (int i = 0; i < 3; ++i)
        if (!c.angles[i]) c.angles[i] = p->sliders[i];
    // Bytes fill both halves of the channel, as everywhere else in this program.
    if (!c.offset) c.offset = RGBColor{uint16_t(p->offset[0] * 257), uint16_t(p->offset[1] * 257),
                                       uint16_t(p->offset[2] * 257)};
    if (!c.method) c.method = p->method;
    if (!c.rect) c.rect = p->rect;
}

void RunConfigPresets() {
    for (const Preset& p : kPresets) {
        std::printf("%-14s %s\n", p.name, p.summary);
        std::printf("%-14s --angles %d,%d,%d --offset '#%02X%02X%02X' --method %s --rect %s,%s,%s,%s\n", "",
                    p.sliders[0], p.sliders[1], p.sliders[2], p.offset[0], p.offset[1], p.offset[2],
                    MethodName(p.method), Number(p.rect.left).c_str(), Number(p.rect.right).c_str(),
                    Number(p.rect.top).c_str(), Number(p.rect.bottom).c_str());
    }
}
