// Shared inside the resources layer only.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/qd/MacTypes.h"

namespace vxres {

// The File Manager's code for an errno value.
OSErr ErrnoToOSErr(int err);

// Writes bytes to a temporary file beside path, syncs it and renames it over
// path (keeping path's mode, owner and group). A link at path is followed
// only when its owner could have written the file anyway; one planted by
// someone else fails with permErr. On failure path is untouched and no
// temporary file is left. fLckdErr when another process held the folder's
// lock too long.
OSErr WriteFileAtomically(const std::string& path, const void* bytes, size_t size);
// Like WriteFileAtomically, but dupFNErr when anything is at path: that is
// never replaced.
OSErr CreateFileExclusively(const std::string& path, const void* bytes, size_t size);
// Reads a regular file of at most kMaxResourceFileSize bytes.
OSErr ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes);
// Entry of a 'STR#' resource in the open resource files.
bool GetOpenStringList(int16_t listID, int16_t index, Str255 out);

}  // namespace vxres
