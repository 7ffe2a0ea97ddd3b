// The about window: name and version, closed by OK.
#pragma once
#include "platform/toolbox/Toolbox.h"

#define cMyClearName "Vexolumen"
#if defined(__x86_64__)
#define cPlugArch "x86_64"
#elif defined(__aarch64__)
#define cPlugArch "arm64"
#elif defined(__i386__)
#define cPlugArch "i386"
#else
#define cPlugArch "generic"
#endif
#define cPlugVersion "3.0.0 (" cPlugArch " Linux)"

void ShowAbout();
OSStatus AboutDialogHandler(EventHandlerCallRef nextHandler, EventRef theEvent, void* userData);
