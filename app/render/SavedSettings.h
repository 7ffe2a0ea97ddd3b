// The settings a render starts from, read with the plug-in's own rules:
// the record in the preferences file over the plug-in's defaults.
#pragma once
#include <memory>
#include <optional>
#include <string>

#include "pipeline/relRects.h"
#include "platform/qd/MacTypes.h"

struct ConfigChanges {
    std::optional<int16_t> angles[3];
    std::optional<RGBColor> offset;
    std::optional<int16_t> method;    // 1 clamp, 2 wrap, 3 reflect
    std::optional<RelRect> rect;
    std::optional<int16_t> standard;  // 1 NTSC, 2 PAL, 3 HD
};

struct PluginDataRec;
struct RecordDeleter {
    void operator()(PluginDataRec* r) const;
};
using RecordPtr = std::unique_ptr<PluginDataRec, RecordDeleter>;

// A record as the plug-in makes one: zero-filled, then the defaults.
RecordPtr DefaultRecord();
// The settings a render starts from: the saved record over the defaults; one
// that is not used is reported on standard error. source is set to "saved"
// or "defaults" when given.
RecordPtr LoadSettings(const char** source = nullptr);
// The fields given in changes, set in rec.
void ApplyChanges(const ConfigChanges& changes, PluginDataRec& rec);

// What the preferences file holds, as the plug-in would judge it.
enum class SavedState { kNoFile, kNoRecord, kWrongSize, kWrongVersion, kValid, kUnreadable };

// Path of "pelzo-Prefs" in the preferences folder ($XDG_CONFIG_HOME).
std::string PrefsFilePath();
// Looks at the stored record; detail tells what is wrong with it.
SavedState InspectSavedConfig(std::string* detail);
