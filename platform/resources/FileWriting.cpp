// Writing files in folders that others may share. Temporary names cannot be
// guessed and are created exclusively, without following links, relative to
// the open folder; the rename stays in that folder. Nothing is ever resolved
// by name after it was checked, so a link planted meanwhile is never written
// through. Writers in one folder take turns under an advisory lock.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <string>
#include <utility>

#include "ResourcesPrivate.h"
#include "Resources.h"

namespace vxres {

OSErr ErrnoToOSErr(int err) {
    switch (err) {
        case ENOENT: return fnfErr;
        case ENOSPC: case EDQUOT: case EFBIG: return dskFulErr;
        case EACCES: case EPERM: case EROFS: return permErr;
        case ENOMEM: return memFullErr;
        case EEXIST: return dupFNErr;
        default: return ioErr;
    }
}

}  // namespace vxres

namespace {

using vxres::ErrnoToOSErr;

void SplitPath(const std::string& path, std::string& folder, std::string& leaf) {
    const size_t slash = path.find_last_of('/');
    folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    leaf = slash == std::string::npos ? path : path.substr(slash + 1);
}

int OpenFolder(const std::string& folder) {
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 && errno == EACCES) fd = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    return fd;
}

// An open folder and a name in it.
struct Place {
    int dirFd = -1;
    std::string leaf;
    Place() = default;
    Place(const Place&) = delete;
    Place& operator=(const Place&) = delete;
    ~Place() {
        if (dirFd >= 0) close(dirFd);
    }
};

// A link at the name is followed only when its owner could have put the file
// there anyway: ourselves, or the owner of a folder no one else may write to.
// Anything else is a link someone planted.
bool TrustedLink(const struct stat& link, const struct stat& folder) {
    if (link.st_uid == geteuid()) return true;
    return link.st_uid == folder.st_uid && !(folder.st_mode & (S_IWGRP | S_IWOTH));
}

int OpenPlace(const std::string& path, Place& place) {
    std::string current = path;
    for (int hops = 0; hops < 16; ++hops) {
        std::string folder;
        SplitPath(current, folder, place.leaf);
        if (place.leaf.empty() || place.leaf == "." || place.leaf == "..") return EISDIR;
        if (place.dirFd >= 0) close(place.dirFd);
        place.dirFd = OpenFolder(folder);
        if (place.dirFd < 0) return errno;
        struct stat st, dir;
        if (fstatat(place.dirFd, place.leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return errno == ENOENT ? 0 : errno;
        if (!S_ISLNK(st.st_mode)) return 0;
        if (fstat(place.dirFd, &dir) != 0) return errno;
        if (!TrustedLink(st, dir)) return EPERM;
        char target[4096];
        const ssize_t n = readlinkat(place.dirFd, place.leaf.c_str(), target, sizeof target - 1);
        if (n <= 0) return n < 0 ? errno : ENOENT;
        target[n] = '\0';
        current = target[0] == '/' ? std::string(target) : folder + "/" + target;
    }
    return ELOOP;
}

std::string RandomText(size_t length) {
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char raw[32];
    if (length > sizeof raw) length = sizeof raw;
    if (getrandom(raw, length, 0) != ssize_t(length)) {
        timespec t{};
        clock_gettime(CLOCK_MONOTONIC, &t);
        for (size_t i = 0; i < length; ++i) raw[i] = (unsigned char)((t.tv_nsec >> (i % 8)) ^ (i * 131) ^ getpid());
    }
    std::string out;
    for (size_t i = 0; i < length; ++i) out += kLetters[raw[i] % 62];
    return out;
}

constexpr size_t kRandomLength = 10;

// ".<leaf>.<pid>.<random>": the process id lets a later writer remove what a
// killed one left; the random part makes the name impossible to plant ahead.
std::string TemporaryName(const std::string& leaf) {
    return "." + leaf + "." + std::to_string(getpid()) + "." + RandomText(kRandomLength);
}

void RemoveDeadWritersFiles(int dirFd, const std::string& leaf) {
    const int listFd = openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listFd < 0) return;
    DIR* d = fdopendir(listFd);
    if (!d) {
        close(listFd);
        return;
    }
    const std::string prefix = "." + leaf + ".";
    while (const dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        const size_t dot = name.find('.', prefix.size());
        if (dot == std::string::npos || dot == prefix.size() || name.size() != dot + 1 + kRandomLength) continue;
        const std::string digits = name.substr(prefix.size(), dot - prefix.size());
        if (digits.find_first_not_of("0123456789") != std::string::npos || digits.size() > 9) continue;
        struct stat st;
        // Only our own regular files; never another user's.
        if (fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != geteuid())
            continue;
        const pid_t pid = pid_t(std::stol(digits));
        if (pid > 0 && kill(pid, 0) != 0 && errno == ESRCH) unlinkat(dirFd, name.c_str(), 0);
    }
    closedir(d);
}

struct Owner {
    mode_t mode;
    uid_t uid;
    gid_t gid;
};

// What the file at the name has, or for a new one what it should get: the
// umask's mode and, when root writes into someone else's folder, that
// folder's owner, so the user can still read and change it.
int OwnerFor(const Place& place, Owner& owner, bool& exists) {
    struct stat st;
    exists = fstatat(place.dirFd, place.leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    if (exists) {
        if (!S_ISREG(st.st_mode)) return EPERM;
        owner = Owner{mode_t(st.st_mode & 07777), st.st_uid, st.st_gid};
        return 0;
    }
    const mode_t mask = umask(0);
    umask(mask);
    owner = Owner{mode_t(0666 & ~mask), geteuid(), getegid()};
    struct stat dir;
    if (geteuid() == 0 && fstat(place.dirFd, &dir) == 0 && dir.st_uid != 0) {
        owner.uid = dir.st_uid;
        owner.gid = dir.st_gid;
    }
    return 0;
}

// Writes a complete, synced temporary file in the place's folder.
int WriteTemporary(const Place& place, const Owner& owner, const void* bytes, size_t size, std::string& name) {
    int fd = -1;
    for (int tries = 0; tries < 100 && fd < 0; ++tries) {
        name = TemporaryName(place.leaf);
        fd = openat(place.dirFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST) return errno;
    }
    if (fd < 0) return EEXIST;
    int err = 0;
    // A user who may not give the file away (not root) keeps it as their own.
    if ((owner.uid != geteuid() || owner.gid != getegid()) && fchown(fd, owner.uid, owner.gid) != 0 &&
        errno != EPERM)
        err = errno;
    if (!err && fchmod(fd, owner.mode) != 0) err = errno;
    const auto* p = static_cast<const uint8_t*>(bytes);
    size_t done = 0;
    while (!err && done < size) {
        const ssize_t n = write(fd, p + done, size - done);
        if (n < 0) {
            if (errno != EINTR) err = errno;
        } else {
            done += size_t(n);
        }
    }
    if (!err && fsync(fd) != 0) err = errno;
    if (close(fd) != 0 && !err) err = errno;
    if (err) unlinkat(place.dirFd, name.c_str(), 0);
    return err;
}

// --- One writer at a time ----------------------------------------------------------

struct HeldLock {
    int fd;
    int depth;
};
std::map<std::pair<dev_t, ino_t>, HeldLock> gLocks;

bool FolderKey(const std::string& folder, std::pair<dev_t, ino_t>& key) {
    struct stat st;
    if (stat(folder.c_str(), &st) != 0) return false;
    key = {st.st_dev, st.st_ino};
    return true;
}

OSErr LockFolder(const std::string& folder, int32_t waitMilliseconds) {
    std::pair<dev_t, ino_t> key;
    if (!FolderKey(folder, key)) return ErrnoToOSErr(errno);
    auto it = gLocks.find(key);
    if (it != gLocks.end()) {
        ++it->second.depth;
        return noErr;
    }
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return ErrnoToOSErr(errno);
    for (int32_t waited = 0;; waited += 10) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) break;
        if ((errno != EWOULDBLOCK && errno != EINTR) || waited >= waitMilliseconds) {
            close(fd);
            return fLckdErr;
        }
        const timespec pause{0, 10 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
    gLocks[key] = HeldLock{fd, 1};
    return noErr;
}

void UnlockFolder(const std::string& folder) {
    std::pair<dev_t, ino_t> key;
    if (!FolderKey(folder, key)) return;
    auto it = gLocks.find(key);
    if (it == gLocks.end() || --it->second.depth > 0) return;
    close(it->second.fd);  // releases the lock
    gLocks.erase(it);
}

// Held for the duration of one write.
struct FolderTurn {
    std::string folder;
    OSErr err;
    explicit FolderTurn(std::string f) : folder(std::move(f)), err(LockFolder(folder, kWriterWait)) {}
    ~FolderTurn() {
        if (err == noErr) UnlockFolder(folder);
    }
    static constexpr int32_t kWriterWait = 10000;
};

std::string FolderOf(const std::string& path) {
    std::string folder, leaf;
    SplitPath(path, folder, leaf);
    return folder;
}

}  // namespace

namespace {

int gWriteErrno = 0;

OSErr WriteFailed(int err) {
    gWriteErrno = err;
    return ErrnoToOSErr(err);
}

}  // namespace

int LastWriteErrno() { return gWriteErrno; }

namespace vxres {

OSErr WriteFileAtomically(const std::string& path, const void* bytes, size_t size) {
    gWriteErrno = 0;
    Place place;
    int err = OpenPlace(path, place);
    if (err) return WriteFailed(err);
    FolderTurn turn(FolderOf(path));
    // A folder we may not read cannot be locked; the write goes on without.
    if (turn.err == fLckdErr) return fLckdErr;
    Owner owner{};
    bool exists = false;
    if ((err = OwnerFor(place, owner, exists))) return WriteFailed(err);
    std::string temp;
    if ((err = WriteTemporary(place, owner, bytes, size, temp))) return WriteFailed(err);
    if (renameat(place.dirFd, temp.c_str(), place.dirFd, place.leaf.c_str()) != 0) {
        err = errno;
        unlinkat(place.dirFd, temp.c_str(), 0);
        return WriteFailed(err);
    }
    fsync(place.dirFd);  // makes the rename itself durable
    RemoveDeadWritersFiles(place.dirFd, place.leaf);
    return noErr;
}

OSErr CreateFileExclusively(const std::string& path, const void* bytes, size_t size) {
    gWriteErrno = 0;
    Place place;
    std::string folder;
    SplitPath(path, folder, place.leaf);
    place.dirFd = OpenFolder(folder);
    if (place.dirFd < 0) return WriteFailed(errno);
    Owner owner{};
    bool exists = false;
    int err = OwnerFor(place, owner, exists);
    if (exists) return dupFNErr;
    if (err) return WriteFailed(err);
    std::string temp;
    if ((err = WriteTemporary(place, owner, bytes, size, temp))) return WriteFailed(err);
    // Appears whole, and whatever appeared at the name meanwhile stays.
    if (renameat2(place.dirFd, temp.c_str(), place.dirFd, place.leaf.c_str(), RENAME_NOREPLACE) != 0) {
        err = errno;
        if (err == EINVAL || err == ENOSYS) {  // file systems without it
            err = linkat(place.dirFd, temp.c_str(), place.dirFd, place.leaf.c_str(), 0) == 0 ? 0 : errno;
        }
        unlinkat(place.dirFd, temp.c_str(), 0);
        if (err) return WriteFailed(err);
    }
    fsync(place.dirFd);
    RemoveDeadWritersFiles(place.dirFd, place.leaf);
    return noErr;
}

}  // namespace vxres

OSErr FSpDelete(const FSSpec* spec) {
    if (!spec || !spec->path[0]) return paramErr;
    std::string folder, leaf;
    SplitPath(spec->path, folder, leaf);
    Place place;
    place.dirFd = OpenFolder(folder);
    if (place.dirFd < 0) return ErrnoToOSErr(errno);
    return unlinkat(place.dirFd, leaf.c_str(), 0) == 0 ? OSErr(noErr) : ErrnoToOSErr(errno);
}

OSErr FSpLockForUpdate(const FSSpec* spec, int32_t waitMilliseconds) {
    if (!spec || !spec->path[0]) return paramErr;
    return LockFolder(FolderOf(spec->path), waitMilliseconds);
}

void FSpUnlockForUpdate(const FSSpec* spec) {
    if (spec && spec->path[0]) UnlockFolder(FolderOf(spec->path));
}
