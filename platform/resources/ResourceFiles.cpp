// The preferences folder, file specifications and the Resource Manager.
//
// An open resource file is held in memory whole; the file on disk is only
// read at open and replaced (never rewritten in place) when changes are
// written, so a reader never sees half a file.
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "ResourceFormat.h"
#include "ResourcesPrivate.h"
#include "Resources.h"

namespace {

// --- Folders -----------------------------------------------------------------

std::vector<std::string> gFolders;  // dirID - kFirstDirID indexes this
constexpr int32_t kFirstDirID = 100;

int32_t FolderID(const std::string& path) {
    auto it = std::find(gFolders.begin(), gFolders.end(), path);
    if (it == gFolders.end()) it = gFolders.insert(gFolders.end(), path);
    return kFirstDirID + int32_t(it - gFolders.begin());
}

std::string PreferencesPath() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && xdg[0] == '/') return xdg;  // relative values are invalid and ignored
    const char* home = std::getenv("HOME");
    if (!home || !home[0]) {
        const passwd* pw = getpwuid(getuid());
        home = pw ? pw->pw_dir : nullptr;
    }
    if (!home || !home[0]) return {};
    return std::string(home) + "/.config";
}

bool IsDirectory(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MakeFolders(const std::string& path) {
    if (IsDirectory(path)) return true;
    const size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !MakeFolders(path.substr(0, slash))) return false;
    if (mkdir(path.c_str(), 0700) != 0) return errno == EEXIST && IsDirectory(path);
    // Root making a user's folder gives it to the user who owns the parent.
    struct stat parent;
    const std::string above = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    if (geteuid() == 0 && stat(above.c_str(), &parent) == 0 && parent.st_uid != 0)
        if (chown(path.c_str(), parent.st_uid, parent.st_gid) != 0) return false;
    return true;
}

using vxres::ErrnoToOSErr;

// --- Resource files --------------------------------------------------------------

struct Resource {
    ResType type;
    int16_t id;
    uint8_t attributes;
    bool hasName;
    std::string name;
    std::vector<uint8_t> data;  // the stored contents, or the last snapshot of handle
    Handle handle = nullptr;    // loaded contents; owned by the file unless detached
    bool changed = false;       // handle (or data) differs from the file on disk
};

struct ResFile {
    ResFileRefNum refNum;
    std::string path;
    dev_t device;
    ino_t inode;
    bool writable;
    uint16_t attributes;
    std::vector<Resource> resources;
    bool changed = false;
};

std::vector<std::unique_ptr<ResFile>> gFiles;  // in order of opening
ResFileRefNum gCurrent = 0;
ResFileRefNum gNextRefNum = 2;
OSErr gResError = noErr;

ResFile* FindFile(ResFileRefNum refNum) {
    for (auto& f : gFiles)
        if (f->refNum == refNum) return f.get();
    return nullptr;
}

ResFile* CurrentFile() { return FindFile(gCurrent); }

Resource* FindByHandle(ResFile* file, Handle h) {
    if (!file || !h) return nullptr;
    for (Resource& r : file->resources)
        if (r.handle == h) return &r;
    return nullptr;
}

Resource* FindByHandleAnywhere(Handle h, ResFile** owner = nullptr) {
    for (auto& f : gFiles)
        if (Resource* r = FindByHandle(f.get(), h)) {
            if (owner) *owner = f.get();
            return r;
        }
    return nullptr;
}

std::vector<uint8_t> HandleBytes(Handle h) {
    const int32_t size = GetHandleSize(h);
    const auto* p = reinterpret_cast<const uint8_t*>(*h);
    return std::vector<uint8_t>(p, p + size);
}

// Keeps what a changed handle holds before the handle goes away.
void Snapshot(Resource& r) {
    if (r.handle && r.changed) r.data = HandleBytes(r.handle);
}

Handle Load(Resource& r) {
    if (!r.handle) {
        r.handle = NewHandle(int32_t(r.data.size()));
        if (!r.handle) {
            gResError = memFullErr;
            return nullptr;
        }
        if (!r.data.empty()) std::memcpy(*r.handle, r.data.data(), r.data.size());
    }
    gResError = noErr;
    return r.handle;
}

OSErr WriteFile(ResFile& file) {
    if (!file.changed) return noErr;
    if (!file.writable) return wrPermErr;
    vxres::ResourceImage image;
    image.fileAttributes = file.attributes;
    for (const Resource& r : file.resources) {
        vxres::ResourceEntry e{r.type, r.id, r.attributes, r.hasName, r.name, {}};
        e.data = r.handle && r.changed ? HandleBytes(r.handle) : r.data;
        image.entries.push_back(std::move(e));
    }
    std::vector<uint8_t> bytes;
    OSErr err = vxres::BuildResourceFile(image, bytes);
    if (err == noErr) err = vxres::WriteFileAtomically(file.path, bytes.data(), bytes.size());
    if (err != noErr) return err;
    struct stat st;
    if (stat(file.path.c_str(), &st) == 0) {
        file.device = st.st_dev;
        file.inode = st.st_ino;
    }
    for (size_t i = 0; i < file.resources.size(); ++i) {
        Resource& r = file.resources[i];
        if (r.changed) r.data = std::move(image.entries[i].data);
        r.changed = false;
    }
    file.changed = false;
    return noErr;
}

bool ToString(ConstStr255Param p, std::string& out) {
    if (!p) return false;
    out.assign(reinterpret_cast<const char*>(p + 1), p[0]);
    return true;
}

}  // namespace

// --- Shared with the rest of the layer --------------------------------------------

namespace vxres {

OSErr ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes) {
    // Not blocking: a FIFO in the file's place must not hang the open.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return ErrnoToOSErr(errno);
    struct stat st;
    OSErr result = noErr;
    if (fstat(fd, &st) != 0) {
        result = ErrnoToOSErr(errno);
    } else if (!S_ISREG(st.st_mode) || size_t(st.st_size) > kMaxResourceFileSize) {
        result = mapReadErr;
    } else {
        bytes.resize(size_t(st.st_size));
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = read(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += size_t(n);
        }
        if (done != bytes.size()) result = ioErr;  // it shrank or failed under us
    }
    close(fd);
    return result;
}

bool GetOpenStringList(int16_t listID, int16_t index, Str255 out) {
    // Current file first, then the others, newest first.
    ResFile* cur = CurrentFile();
    std::vector<ResFile*> order;
    if (cur) order.push_back(cur);
    for (auto it = gFiles.rbegin(); it != gFiles.rend(); ++it)
        if (it->get() != cur) order.push_back(it->get());
    for (ResFile* file : order) {
        for (const Resource& r : file->resources) {
            if (r.type != FOUR_CHAR_CODE("STR#") || r.id != listID) continue;
            std::vector<uint8_t> bytes = r.handle && r.changed ? HandleBytes(r.handle) : r.data;
            if (bytes.size() < 2) return false;
            const int count = (bytes[0] << 8) | bytes[1];
            if (index < 1 || index > count) return false;
            size_t at = 2;
            for (int i = 1; i <= index; ++i) {
                if (at >= bytes.size() || at + 1 + bytes[at] > bytes.size()) return false;
                if (i == index) {
                    std::memcpy(out, &bytes[at], size_t(bytes[at]) + 1);
                    return true;
                }
                at += 1 + bytes[at];
            }
        }
    }
    return false;
}

}  // namespace vxres

// --- Folders and file specifications --------------------------------------------

OSErr FindFolder(int16_t, OSType folderType, Boolean createFolder, int16_t* foundVRefNum,
                 int32_t* foundDirID) {
    if (folderType != kPreferencesFolderType) return fnfErr;
    const std::string path = PreferencesPath();
    if (path.empty()) return fnfErr;
    if (!IsDirectory(path) && !(createFolder && MakeFolders(path))) return fnfErr;
    if (foundVRefNum) *foundVRefNum = kOnSystemDisk;
    if (foundDirID) *foundDirID = FolderID(path);
    return noErr;
}

OSErr FSMakeFSSpec(int16_t vRefNum, int32_t dirID, ConstStr255Param fileName, FSSpec* spec) {
    if (!spec || !fileName) return paramErr;
    std::string name;
    ToString(fileName, name);
    std::string path;
    if (!name.empty() && name[0] == '/') {
        path = name;  // a full path needs no folder
    } else if (dirID >= kFirstDirID && size_t(dirID - kFirstDirID) < gFolders.size()) {
        path = gFolders[size_t(dirID - kFirstDirID)] + "/" + name;
    } else {
        return dirNFErr;
    }
    if (path.size() >= sizeof(spec->path)) return paramErr;
    std::memset(spec, 0, sizeof(*spec));
    spec->vRefNum = vRefNum;
    spec->parID = dirID;
    const std::string leaf = path.substr(path.find_last_of('/') + 1);
    spec->name[0] = uint8_t(std::min<size_t>(leaf.size(), 63));
    std::memcpy(spec->name + 1, leaf.data(), spec->name[0]);
    std::memcpy(spec->path, path.c_str(), path.size() + 1);
    struct stat st;
    if (stat(spec->path, &st) != 0) return ErrnoToOSErr(errno);
    return noErr;
}

// --- Resource files ------------------------------------------------------------

void FSpCreateResFile(const FSSpec* spec, OSType, OSType, int16_t) {
    if (!spec || !spec->path[0]) {
        gResError = paramErr;
        return;
    }
    const std::string path = spec->path;
    struct stat st;
    if (lstat(path.c_str(), &st) == 0) {
        gResError = dupFNErr;
        return;
    }
    std::vector<uint8_t> bytes;
    vxres::BuildResourceFile(vxres::ResourceImage{}, bytes);
    const OSErr err = vxres::CreateFileExclusively(path, bytes.data(), bytes.size());
    gResError = err;
}

ResFileRefNum FSpOpenResFile(const FSSpec* spec, int8_t permission) {
    if (!spec || !spec->path[0]) {
        gResError = paramErr;
        return -1;
    }
    struct stat st;
    if (stat(spec->path, &st) != 0) {
        gResError = ErrnoToOSErr(errno);
        return -1;
    }
    for (auto& f : gFiles)
        if (f->device == st.st_dev && f->inode == st.st_ino) {
            gCurrent = f->refNum;
            gResError = noErr;
            return f->refNum;
        }
    const bool canWrite = access(spec->path, W_OK) == 0;
    if (permission == fsRdWrPerm && !canWrite) {
        gResError = permErr;
        return -1;
    }
    std::vector<uint8_t> bytes;
    OSErr err = vxres::ReadWholeFile(spec->path, bytes);
    vxres::ResourceImage image;
    if (err == noErr) err = vxres::ParseResourceFile(bytes.data(), bytes.size(), image);
    if (err != noErr) {
        gResError = err;
        return -1;
    }
    // Numbers go round and are reused once their file is closed, so a long
    // session of opens and closes never runs out.
    ResFileRefNum refNum = -1;
    for (int tries = 0; tries < INT16_MAX && refNum == -1; ++tries) {
        if (!FindFile(gNextRefNum)) refNum = gNextRefNum;
        gNextRefNum = gNextRefNum == INT16_MAX ? 2 : ResFileRefNum(gNextRefNum + 1);
    }
    if (refNum == -1) {
        gResError = ioErr;  // every number is in use
        return -1;
    }
    auto file = std::make_unique<ResFile>();
    file->refNum = refNum;
    file->path = spec->path;
    file->device = st.st_dev;
    file->inode = st.st_ino;
    file->writable = permission != fsRdPerm && canWrite;
    file->attributes = image.fileAttributes;
    for (vxres::ResourceEntry& e : image.entries)
        file->resources.push_back(Resource{e.type, e.id, e.attributes, e.hasName, std::move(e.name),
                                           std::move(e.data)});
    gCurrent = file->refNum;
    gFiles.push_back(std::move(file));
    gResError = noErr;
    return gCurrent;
}

void UseResFile(ResFileRefNum refNum) {
    if (!FindFile(refNum)) {
        gResError = resFNotFound;
        return;
    }
    gCurrent = refNum;
    gResError = noErr;
}

ResFileRefNum CurResFile() { return gCurrent; }

OSErr ResError() { return gResError; }

Handle Get1Resource(ResType type, int16_t id) {
    ResFile* file = CurrentFile();
    if (!file) {
        gResError = resFNotFound;
        return nullptr;
    }
    for (Resource& r : file->resources)
        if (r.type == type && r.id == id) return Load(r);
    gResError = resNotFound;
    return nullptr;
}

Handle Get1NamedResource(ResType type, ConstStr255Param name) {
    ResFile* file = CurrentFile();
    std::string wanted;
    if (!file || !ToString(name, wanted)) {
        gResError = file ? OSErr(paramErr) : OSErr(resFNotFound);
        return nullptr;
    }
    for (Resource& r : file->resources)
        if (r.type == type && r.hasName && r.name == wanted) return Load(r);
    gResError = resNotFound;
    return nullptr;
}

void GetResInfo(Handle resource, int16_t* id, ResType* type, Str255 name) {
    Resource* r = FindByHandleAnywhere(resource);
    if (!r) {
        gResError = resNotFound;
        return;
    }
    if (id) *id = r->id;
    if (type) *type = r->type;
    if (name) {
        name[0] = r->hasName ? uint8_t(r->name.size()) : 0;
        std::memcpy(name + 1, r->name.data(), name[0]);
    }
    gResError = noErr;
}

int16_t Count1Resources(ResType type) {
    ResFile* file = CurrentFile();
    gResError = file ? OSErr(noErr) : OSErr(resFNotFound);
    if (!file) return 0;
    return int16_t(std::count_if(file->resources.begin(), file->resources.end(),
                                 [type](const Resource& r) { return r.type == type; }));
}

namespace {
std::vector<ResType> TypesOf(const ResFile& file) {
    std::vector<ResType> types;
    for (const Resource& r : file.resources)
        if (std::find(types.begin(), types.end(), r.type) == types.end()) types.push_back(r.type);
    return types;
}
}  // namespace

int16_t Count1Types() {
    ResFile* file = CurrentFile();
    gResError = file ? OSErr(noErr) : OSErr(resFNotFound);
    return file ? int16_t(TypesOf(*file).size()) : 0;
}

void Get1IndType(ResType* type, int16_t index) {
    if (!type) return;
    *type = 0;
    ResFile* file = CurrentFile();
    if (!file) {
        gResError = resFNotFound;
        return;
    }
    const std::vector<ResType> types = TypesOf(*file);
    if (index < 1 || size_t(index) > types.size()) {
        gResError = resNotFound;
        return;
    }
    *type = types[size_t(index - 1)];
    gResError = noErr;
}

Handle Get1IndResource(ResType type, int16_t index) {
    ResFile* file = CurrentFile();
    if (!file) {
        gResError = resFNotFound;
        return nullptr;
    }
    int16_t seen = 0;
    for (Resource& r : file->resources)
        if (r.type == type && ++seen == index) return Load(r);
    gResError = resNotFound;
    return nullptr;
}

void AddResource(Handle data, ResType type, int16_t id, ConstStr255Param name) {
    ResFile* file = CurrentFile();
    if (!file || !data || FindByHandleAnywhere(data)) {
        gResError = file ? OSErr(addResFailed) : OSErr(resFNotFound);
        return;
    }
    for (const Resource& r : file->resources)
        if (r.type == type && r.id == id) {
            gResError = addResFailed;
            return;
        }
    Resource r{type, id, 0, false, {}, {}};
    r.hasName = ToString(name, r.name);
    r.handle = data;
    r.changed = true;
    file->resources.push_back(std::move(r));
    file->changed = true;
    gResError = noErr;
}

void RemoveResource(Handle resource) {
    ResFile* file = CurrentFile();
    Resource* r = FindByHandle(file, resource);
    if (!r) {
        gResError = rmvResFailed;
        return;
    }
    file->resources.erase(file->resources.begin() + (r - file->resources.data()));
    file->changed = true;
    gResError = noErr;
}

void ChangedResource(Handle resource) {
    ResFile* file = nullptr;
    Resource* r = FindByHandleAnywhere(resource, &file);
    if (!r) {
        gResError = resNotFound;
        return;
    }
    r->changed = true;
    file->changed = true;
    gResError = noErr;
}

void DetachResource(Handle resource) {
    Resource* r = FindByHandleAnywhere(resource);
    if (!r) {
        gResError = resNotFound;
        return;
    }
    Snapshot(*r);
    r->handle = nullptr;
    gResError = noErr;
}

void ReleaseResource(Handle resource) {
    Resource* r = FindByHandleAnywhere(resource);
    if (!r) {
        gResError = resNotFound;
        return;
    }
    Snapshot(*r);
    DisposeHandle(r->handle);
    r->handle = nullptr;
    gResError = noErr;
}

void UpdateResFile(ResFileRefNum refNum) {
    ResFile* file = FindFile(refNum);
    gResError = file ? WriteFile(*file) : OSErr(resFNotFound);
}

void CloseResFile(ResFileRefNum refNum) {
    auto it = std::find_if(gFiles.begin(), gFiles.end(),
                           [refNum](const std::unique_ptr<ResFile>& f) { return f->refNum == refNum; });
    if (it == gFiles.end()) {
        gResError = resFNotFound;
        return;
    }
    const OSErr err = WriteFile(**it);
    for (Resource& r : (*it)->resources) DisposeHandle(r.handle);
    gFiles.erase(it);
    if (gCurrent == refNum) gCurrent = gFiles.empty() ? 0 : gFiles.back()->refNum;
    gResError = err;
}
