// Shared inside the resources layer only.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/qd/MacTypes.h"

namespace vxres {

// Writes bytes to a temporary file beside path, syncs it and renames it over
// path (keeping path's permissions). On failure path is untouched and no
// temporary file is left.
OSErr WriteFileAtomically(const std::string& path, const void* bytes, size_t size);
// Reads a regular file of at most kMaxResourceFileSize bytes.
OSErr ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes);
// Entry of a 'STR#' resource in the open resource files.
bool GetOpenStringList(int16_t listID, int16_t index, Str255 out);

}  // namespace vxres
