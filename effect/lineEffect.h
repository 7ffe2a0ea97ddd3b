// Refresh of the record's rendered image from its source picture.
#pragma once
#include "pipeline/pluginData.h"

// Releases theConfig's rendered image and, when it holds a source picture,
// renders a new one at the picture's size; the record owns the result.
// A nil record ends the process through Assert. Host or dialog thread only.
void RenderLineArt(PluginDataRec* theConfig);
