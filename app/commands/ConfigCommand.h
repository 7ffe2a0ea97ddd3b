// `vexolumen config`: the saved settings, read and written with the
// plug-in's own rules, so that they can be scripted without the dialog.
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

// Prints the settings a render would use; a record that is not used is
// reported on standard error.
void RunConfigShow();
// Applies the changes to the saved settings (defaults when none are valid)
// and saves them; prints the result. Refuses a rectangle that is inside out
// before anything is written.
void RunConfigSet(const ConfigChanges& changes);
// Fills every field of changes that is not given yet from the named preset.
void ApplyPreset(const std::string& name, ConfigChanges& changes);
// Fails with one line naming dir (status 2) when it cannot serve as the
// preferences folder: not a folder, a dangling link, a missing one that
// cannot be made, or one where no settings file exists nor can be created.
// Leaves nothing behind.
void CheckConfigDir(const std::string& dir);
// Lists the presets with their settings.
void RunConfigPresets();
// Saves the defaults; prints them.
void RunConfigReset();
