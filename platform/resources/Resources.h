// Memory handles, resource files, the preferences folder, bundles and the
// few Core Foundation values (strings, URLs) that travel with them.
//
// Resource files hold typed, numbered, named blocks. Reading any file, however
// damaged, fails cleanly: the open or the lookup reports an error, nothing is
// read out of bounds and the file is not changed. Writing (UpdateResFile,
// CloseResFile of a changed file) replaces the file atomically: the new
// contents go to a temporary file in the same folder which is then renamed
// over the old one, so a crash leaves the old file or the new one.
//
// An open file is held in memory whole (files over 64 MB are refused).
//
// Threading: one thread at a time, like the platform this mirrors; the
// current resource file and ResError are process-wide.
#pragma once
#include <cstdint>

#include "platform/qd/MacTypes.h"

// --- Handles: a pointer to a master pointer to a resizable block ------------
// Only handles made here may be passed in. *h moves on SetHandleSize only.
Handle NewHandle(int32_t size);        // nil when memory runs out
Handle NewHandleClear(int32_t size);   // zero-filled
void DisposeHandle(Handle h);          // nil does nothing
int32_t GetHandleSize(Handle h);
OSErr SetHandleSize(Handle h, int32_t newSize);
void HLock(Handle h);
void HUnlock(Handle h);
OSErr MemError();

// Errors of this layer beyond the common ones.
enum : OSErr {
    eofErr = -39,
    fLckdErr = -45,
    dupFNErr = -48,
    wrPermErr = -61,
    dirNFErr = -120,
    addResFailed = -194,
    rmvResFailed = -196,
};

// --- Folders and file specifications ------------------------------------
enum : int16_t { kOnSystemDisk = -32768, kUserDomain = -32763 };
enum : OSType { kPreferencesFolderType = FOUR_CHAR_CODE("pref") };
enum : Boolean { kDontCreateFolder = 0, kCreateFolder = 1 };

// A file named by its folder and leaf name.
struct FSSpec {
    int16_t vRefNum;
    int32_t parID;
    Str63 name;           // leaf name, length-prefixed
    char path[4096];      // full path, NUL-terminated
};
struct FSRef {
    char path[4096];
};

// The preferences folder is $XDG_CONFIG_HOME, else $HOME/.config. Returns
// fnfErr when it is not there and createFolder is false.
OSErr FindFolder(int16_t vRefNum, OSType folderType, Boolean createFolder, int16_t* foundVRefNum,
                 int32_t* foundDirID);
// Fills spec for name inside the folder; fnfErr (spec still filled) when the
// file does not exist.
OSErr FSMakeFSSpec(int16_t vRefNum, int32_t dirID, ConstStr255Param fileName, FSSpec* spec);

// Removes the file; a link is removed itself, never what it points to.
OSErr FSpDelete(const FSSpec* spec);

// One read-modify-write at a time in spec's folder, across processes (an
// advisory lock). Nests within a process; each lock needs its unlock. Waits
// up to waitMilliseconds, then fLckdErr. Every write of a resource file
// takes the same lock for its own duration.
OSErr FSpLockForUpdate(const FSSpec* spec, int32_t waitMilliseconds);
void FSpUnlockForUpdate(const FSSpec* spec);

// --- Resource files ------------------------------------------------------
typedef int16_t ResFileRefNum;
enum : int8_t { fsCurPerm = 0, fsRdPerm = 1, fsRdWrPerm = 3 };

// Creates an empty resource file; dupFNErr (-48) when it exists. The new file
// appears complete or not at all. Result in ResError.
void FSpCreateResFile(const FSSpec* spec, OSType creator, OSType fileType, int16_t scriptTag);
// Opens a resource file and makes it current; -1 on failure (see ResError:
// fnfErr, mapReadErr for a damaged file, permErr). The whole map is checked
// at open. A file already open gives its existing reference number.
// fsCurPerm opens read-write when the file is writable, else read-only.
ResFileRefNum FSpOpenResFile(const FSSpec* spec, int8_t permission);
void UseResFile(ResFileRefNum refNum);
ResFileRefNum CurResFile();
OSErr ResError();  // result of the last resource call
// Looks in the current file only. Returns the resource's handle (owned by the
// file until detached) or nil.
Handle Get1Resource(ResType type, int16_t id);
Handle Get1NamedResource(ResType type, ConstStr255Param name);
void GetResInfo(Handle resource, int16_t* id, ResType* type, Str255 name);
int16_t Count1Resources(ResType type);
int16_t Count1Types();
void Get1IndType(ResType* type, int16_t index);          // index from 1; 0 when none
Handle Get1IndResource(ResType type, int16_t index);     // index from 1
// Adds data as a new resource of the current file; the file owns the handle.
// addResFailed, and the caller keeps the handle, when the file already has a
// resource of that type and number or data is already a resource.
void AddResource(Handle data, ResType type, int16_t id, ConstStr255Param name);
void RemoveResource(Handle resource);   // the caller then owns (and disposes) the handle
void ChangedResource(Handle resource);
void DetachResource(Handle resource);   // the handle becomes the caller's
void ReleaseResource(Handle resource);  // frees a resource handle the file still owns
// Writes changes (atomically); error in ResError. A failed write leaves the
// file on disk as it was and the changes pending in memory.
void UpdateResFile(ResFileRefNum refNum);
// Writes changes, then closes and disposes of the file's resource handles.
void CloseResFile(ResFileRefNum refNum);
// The errno behind the last file write that failed (creating or replacing a
// file); 0 when the last write succeeded or failed for another reason.
int LastWriteErrno();

// --- Core Foundation values -------------------------------------------------
struct __CFString;
typedef const __CFString* CFStringRef;
struct __CFURL;
typedef const __CFURL* CFURLRef;
struct __CFBundle;
typedef __CFBundle* CFBundleRef;
typedef const void* CFTypeRef;
typedef uint32_t CFStringEncoding;
enum : CFStringEncoding { kCFStringEncodingMacRoman = 0, kCFStringEncodingUTF8 = 0x08000100 };

CFTypeRef CFRetain(CFTypeRef cf);
void CFRelease(CFTypeRef cf);  // frees at the last release; nil does nothing
// Short strings here hold UTF-8; bytes that are not valid UTF-8 are taken as
// Mac Roman, whatever enc says.
CFStringRef CFStringCreateWithPascalString(void* alloc, ConstStr255Param pStr, CFStringEncoding enc);
CFStringRef CFStringCreateWithCString(void* alloc, const char* cStr, CFStringEncoding enc);
// UTF-8 text of a string; valid while the string lives.
const char* CFStringGetCStringPtrUTF8(CFStringRef s);
Boolean CFURLGetFSRef(CFURLRef url, FSRef* ref);
const char* CFURLGetPath(CFURLRef url);  // valid while the URL lives

// --- Bundles -------------------------------------------------------------------
// A bundle is a folder holding an info file ("Info", lines "key = value" with
// at least "identifier" and "executable"), the executable and Resources/.
// Bundles created in this process are found again by identifier, and so are
// bundles whose executable was loaded some other way (a plain dlopen): the
// folders of loaded shared objects are searched for a matching info file.
// Bundles live until the process ends; CFBundleCreate returns a reference the
// caller releases, and the same folder gives the same bundle.
CFBundleRef CFBundleCreate(void* alloc, const char* folder);  // nil when it has no valid info file
// When several bundles share an identifier, the one holding the caller's
// shared object wins, else the one created last. Not retained.
CFBundleRef CFBundleGetBundleWithIdentifier(CFStringRef bundleID);
CFStringRef CFBundleGetIdentifier(CFBundleRef bundle);
const char* CFBundleGetPath(CFBundleRef bundle);  // the folder
// Loads the executable (dlopen); false with a message in *error when it fails.
Boolean CFBundleLoadExecutable(CFBundleRef bundle);
const char* CFBundleGetLoadError(CFBundleRef bundle);
void* CFBundleGetFunctionPointerForName(CFBundleRef bundle, const char* name);
// Resources/<subDir>/<name>.<type> (subDir and type may be nil or empty); nil
// when there is no such file. The caller releases the URL.
CFURLRef CFBundleCopyResourceURL(CFBundleRef bundle, CFStringRef name, CFStringRef type,
                                 CFStringRef subDir);
// Makes the bundle's string lists (Resources/strings.txt) visible to
// GetIndString; fnfErr when the bundle has none, ioErr when that is not a
// regular file of at most 1 MiB, mapReadErr when it holds no string lists.
// Opening twice is harmless.
OSErr CFBundleOpenBundleResourceMap(CFBundleRef bundle);

// Entry `index` (from 1) of string list `listID`: the open resource files
// ('STR#' resources, current file first), then the open bundle maps, last
// opened first; an empty string when there is none.
void GetIndString(Str255 theString, int16_t listID, int16_t index);
