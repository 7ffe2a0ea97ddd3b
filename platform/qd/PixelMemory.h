// Pixel storage of offscreen buffers, for QuickDraw only. Thread-safe: the
// plug-in and its host's threads allocate and free buffers at once.
#pragma once
#include <cstddef>

// Zeroed storage of at least bytes, 64-byte aligned; nullptr when out of
// memory. *length receives what FreePixels needs back.
void* AllocatePixels(size_t bytes, size_t* length);
void FreePixels(void* pixels, size_t length);
