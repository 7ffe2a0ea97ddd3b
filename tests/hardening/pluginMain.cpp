// The plug-in's entry point compiled into a test program. Its asm label names
// it "main", which a program already has: everything it includes comes first,
// then the label is dropped so the entry is the plain C symbol PluginMain.
#include <new>

#include "host/effectHandlers.h"
#include "pipeline/pluginData.h"
#include "support/commonprocs.h"

#define __asm__(name)
#include "host/main.cpp"
#undef __asm__
