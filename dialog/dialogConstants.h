// Where the dialogs' window definitions come from.
#pragma once

#define cMyPluginName "vexolumen"
#define cMyBundleID "com.tralvex.vidplug.vexolumen"
