#include "pipeline/pluginData.h"

#include <cstring>

#include "pipeline/prefsloader.h"
#include "support/commonprocs.h"

PluginDataRec* gTheConfig = nullptr;
PluginWorkSpace gConfigWorkspace{};

void pGetConfigSize(uint32_t& theSize) { theSize = uint32_t(sizeof(PluginDataRec)); }

void InitMyPlugIn(void* theData) {
    Assert(theData, "Unable to allocate new data structure");
    CreatePrefsFileIfMissing();
    InitPluginData(static_cast<PluginDataRec*>(theData));
}

void InitPluginData(PluginDataRec* theConfig) {
    Assert(theConfig, "Nil theConfig on InitPluginData");
    ResetConfig(theConfig, true);
    // The write-back must not undo a save another process made meanwhile.
    const Boolean locked = LockSavedConfig();
    ReadConfig(theConfig);
    if (locked) {
        SaveConfig(theConfig);
        UnlockSavedConfig();
    }
}

void ResetConfig(PluginDataRec* theConfig, Boolean fullInit) {
    if (!theConfig) return;
    InitRelRect(theConfig->startRel);
    InitRelRect(theConfig->endRel);
    theConfig->colors[0] = RGBColor{0, 0, 0};
    theConfig->colors[1] = RGBColor{65535, 65535, 65535};
    for (int i = 2; i < 6; ++i) theConfig->colors[i] = RGBColor{0, 0, 0};
    for (int i = 0; i < 3; ++i) theConfig->sliders[i] = 100;
    for (int i = 3; i < 6; ++i) theConfig->sliders[i] = 0;
    theConfig->frameStartColor = RGBColor{65535, 0, 0};
    theConfig->mediaType = 1;
    theConfig->keepProps = false;
    theConfig->method = 1;
    if (fullInit) {
        theConfig->theOriginalImage = nullptr;
        theConfig->theRendered = nullptr;
    }
}

// Both blocks are always allocated with pGetConfigSize, so their sizes match;
// a raw pointer carries no size to compare here.
void pCopyConfig(const PluginDataRec* source, PluginDataRec* dest) {
    if (!source || !dest) return;
    std::memcpy(static_cast<void*>(dest), source, sizeof(PluginDataRec));
    if (source->theRendered) dest->theRendered = CGImageCreateCopy(source->theRendered);
    dest->theOriginalImage = nullptr;
}

void pUncopyConfig(PluginDataRec* theData) {
    Assert(theData, "Nil data in pUncopyConfig");
    if (theData->theRendered) CGImageRelease(theData->theRendered);
}

int16_t GetMediaFormat(const PluginDataRec* theData) { return theData ? theData->mediaType : 1; }

RelRect GetCurrentRel() { return gConfigWorkspace.theConfig->startRel; }

void PutCurrentRel(const RelRect& theRel) { gConfigWorkspace.theConfig->startRel = theRel; }
