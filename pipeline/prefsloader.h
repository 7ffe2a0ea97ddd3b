// The saved configuration: the user's last confirmed settings, kept as
// resource 'Pref' 1 "Config Settings" in the file "pelzo-Prefs" of the
// preferences folder. Failures are silent: the functions return false and
// leave the record as it was.
#pragma once
#include <cstddef>
#include <cstdint>

#include "pipeline/pluginData.h"

// The stored form: 394 bytes, numbers in the processor's byte order. A record
// from a machine of the other byte order fails the size check. The order of
// fields differs from PluginDataRec on purpose; it is the file format.
#pragma pack(push, 2)
struct ConfigSaveRec {
    uint32_t sizeInBytes;  // 394
    uint32_t version;      // 3
    RelRect startRel;
    RelRect endRel;
    RGBColor colors[6];
    int16_t sliders[6];
    RGBColor frameStartColor;
    RGBColor frameEndColor;
    int16_t mediaType;
    Boolean keepProps;
    uint8_t alignment;  // 0
    int16_t method;
    Str255 miscString;
};
#pragma pack(pop)
typedef ConfigSaveRec* configSavePtr;
typedef ConfigSaveRec** configSaveH;

static_assert(sizeof(ConfigSaveRec) == 394);
static_assert(offsetof(ConfigSaveRec, version) == 4);
static_assert(offsetof(ConfigSaveRec, startRel) == 8);
static_assert(offsetof(ConfigSaveRec, endRel) == 40);
static_assert(offsetof(ConfigSaveRec, colors) == 72);
static_assert(offsetof(ConfigSaveRec, sliders) == 108);
static_assert(offsetof(ConfigSaveRec, frameStartColor) == 120);
static_assert(offsetof(ConfigSaveRec, frameEndColor) == 126);
static_assert(offsetof(ConfigSaveRec, mediaType) == 132);
static_assert(offsetof(ConfigSaveRec, keepProps) == 134);
static_assert(offsetof(ConfigSaveRec, method) == 136);
static_assert(offsetof(ConfigSaveRec, miscString) == 138);

enum : uint32_t { cConfigSaveVersion = 3 };
enum : ResType { cPrefResType = FOUR_CHAR_CODE("Pref") };
enum : int16_t { cPrefResID = 1 };

// Fills theSave (a handle of at least 394 bytes) from theConfig.
Boolean Config2Save(const PluginDataRec* theConfig, configSaveH theSave);
// Copies a valid stored record into theConfig; false (theConfig untouched)
// for a wrong size, version or a handle shorter than the record.
Boolean Save2Config(PluginDataRec* theConfig, configSaveH theSave);
// True when the record was written. Never creates the file. The file is
// replaced whole, so it holds the old record or the new one.
Boolean SaveConfig(const PluginDataRec* theConfig);
// True when a valid saved record was copied into theConfig.
Boolean ReadConfig(PluginDataRec* theConfig);
// Creates an empty "pelzo-Prefs" (and the preferences folder) when missing.
void CreatePrefsFileIfMissing();
// Held around a read-modify-write of the saved record (read, change, save)
// so that another process's change in between is not lost; nests. False
// when another process kept it for more than cPrefsLockWait milliseconds.
// SaveConfig takes it itself too, and a record it replaces that this version
// cannot use is first kept as the only record of "pelzo-Prefs.unusable".
enum : int32_t { cPrefsLockWait = 10000 };
Boolean LockSavedConfig();
void UnlockSavedConfig();
