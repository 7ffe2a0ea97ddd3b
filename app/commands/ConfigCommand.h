// `vexolumen config`: the saved settings, read and written with the
// plug-in's own rules, so that they can be scripted without the dialog.
#pragma once
#include <string>

#include "app/render/SavedSettings.h"

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
