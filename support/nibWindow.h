// Windows from the nib files of a bundle.
#pragma once
#include "platform/toolbox/Toolbox.h"

// The window windowName of nib nibName ("vexolumen" when empty) in the bundle
// bundleID, created hidden. Never returns without one: a missing bundle
// fails an assertion, a missing nib ends the process with an alert, a window
// that cannot be made ends it at once with the error's low byte as status.
WindowRef OpenNibWindowFromCFBundle(const char* bundleID, const char* nibName, const char* windowName);
