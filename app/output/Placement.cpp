#include "app/output/Placement.h"
#include "app/output/PlacementDetail.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>

extern "C" {
#include <libavformat/avformat.h>
#include <libavformat/avio.h>
}

#include "app/AppError.h"


using namespace placement_detail;

namespace {


// A new file in dirFd under stem + random letters, created exclusively;
// -1 and errno when it cannot be.
int CreateExclusive(int dirFd, const std::string& stem, std::string* name, mode_t mode) {
    for (int tries = 0;; ++tries) {
        *name = stem + RandomText();
        const int fd = openat(dirFd, name->c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST || tries == 100) return fd;
    }
}

// 0 or an errno. Never replaces: file systems without RENAME_NOREPLACE get a
// link, which fails on an existing name just the same.
int RenameNoReplace(int fromDir, const std::string& from, int toDir, const std::string& to) {
    if (renameat2(fromDir, from.c_str(), toDir, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    const int err = errno;
    if (err != EINVAL && err != ENOSYS) return err;
    if (linkat(fromDir, from.c_str(), toDir, to.c_str(), 0) != 0) return errno;
    unlinkat(fromDir, from.c_str(), 0);
    return 0;
}

// The replaced regular file's mode and owner carry over, as far as we may;
// a link's target lends nothing.
int KeepModeAndOwner(int fd, int dirFd, const std::string& leaf) {
    struct stat old;
    if (fstatat(dirFd, leaf.c_str(), &old, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(old.st_mode)) return 0;
    if ((old.st_uid != geteuid() || old.st_gid != getegid()) && fchown(fd, old.st_uid, old.st_gid) != 0 &&
        errno != EPERM)
        return errno;
    fchmod(fd, old.st_mode & 07777);
    return 0;
}

// The pid in "<pid>-<10 letters>" (or the older "<pid>" for files) when
// that process is gone; else 0.
pid_t DeadRun(const std::string& rest, bool olderForm) {
    const size_t dash = rest.find('-');
    const std::string digits = rest.substr(0, dash);
    if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos) return 0;
    if (dash == std::string::npos ? !olderForm : rest.size() != dash + 11) return 0;
    const pid_t pid = pid_t(std::stol(digits));
    return pid != getpid() && kill(pid, 0) != 0 && errno == ESRCH ? pid : 0;
}

// What runs that died left for OUT: its temporary files, and the frame
// folders in its folder.
void RemoveDeadLeftovers(int dirFd, const std::string& leaf) {
    const int listFd = openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* d = listFd >= 0 ? fdopendir(listFd) : nullptr;
    if (!d) {
        if (listFd >= 0) close(listFd);
        return;
    }
    const std::string filePrefix = "." + leaf + ".part-";
    std::vector<std::pair<std::string, bool>> dead;  // name, is a folder
    while (const dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name.rfind(filePrefix, 0) == 0 && DeadRun(name.substr(filePrefix.size()), true))
            dead.emplace_back(name, false);
        else if (name.rfind(kFramesStem, 0) == 0 && DeadRun(name.substr(sizeof kFramesStem - 1), false))
            dead.emplace_back(name, true);
    }
    closedir(d);
    for (const auto& [name, folder] : dead) {
        struct stat st;
        if (fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || st.st_uid != geteuid() ||
            !(folder ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode)))
            continue;
        if (!folder) {
            unlinkat(dirFd, name.c_str(), 0);
            continue;
        }
        Fd inside{openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)};
        if (inside.fd >= 0) RemovePrivateFolder(dirFd, name.c_str(), inside.fd);
    }
}

}  // namespace

int CreateScratchFile(const std::string& folder, const std::string& stem, std::string* path) {
    Fd dir{open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (dir.fd < 0) return -1;
    std::string name;
    const int fd = CreateExclusive(dir.fd, stem + "-" + std::to_string(getpid()) + "-", &name, 0600);
    *path = (folder == "/" ? "" : folder) + "/" + name;
    return fd;
}

Placement::Placement(const OutputRequest& request) : request_(request), kind_(CheckOutput(request)) {
    try {
        Open();
    } catch (...) {
        Discard();
        if (dirFd_ >= 0) close(dirFd_);
        throw;
    }
}

Placement::~Placement() {
    Discard();
    if (dirFd_ >= 0) close(dirFd_);
}

void Placement::Open() {
    if (kind_ == OutputKind::Stream) return OpenStream();
    const PathParts parts = SplitPath(WithoutFilePrefix(request_.out));
    folder_ = parts.folder;
    leaf_ = parts.leaf;
    dirFd_ = OpenFolder(folder_, request_.out);
    RemoveDeadLeftovers(dirFd_, leaf_);
    const std::string pid = std::to_string(getpid());
    const EndingSignalsHeld held;  // made and listed for clean-up as one step
    if (kind_ == OutputKind::File) {
        fd_ = CreateExclusive(dirFd_, "." + leaf_ + ".part-" + pid + "-", &temp_, 0666);  // less the umask
        if (fd_ < 0) throw AppError(request_.out + ": " + Errno(errno));
        live_ = true;
        cleanupSlot_ = AddInterruptCleanup(dirFd_, temp_.c_str());
        // FFmpeg reaches this very file through its descriptor, whatever
        // happens to the folder meanwhile.
        url_ = "file:/proc/self/fd/" + std::to_string(fd_);
        return;
    }
    for (int tries = 0;; ++tries) {
        temp_ = kFramesStem + pid + "-" + RandomText();
        if (mkdirat(dirFd_, temp_.c_str(), 0700) == 0) break;
        if (errno != EEXIST || tries == 100) throw AppError(request_.out + ": " + Errno(errno));
    }
    fd_ = openat(dirFd_, temp_.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd_ < 0) {
        const int err = errno;
        unlinkat(dirFd_, temp_.c_str(), AT_REMOVEDIR);
        throw AppError(request_.out + ": " + Errno(err));
    }
    live_ = true;
    cleanupSlot_ = AddInterruptCleanup(dirFd_, temp_.c_str(), fd_);
    // A short name through the descriptor: FFmpeg forms frame names in a
    // buffer of its own, and cuts long ones silently.
    url_ = "/proc/self/fd/" + std::to_string(fd_) + "/" + leaf_;
}

void Placement::OpenStream() {
    const int alias = StreamDescriptor(request_.out);
    if (alias >= 0) {
        url_ = "pipe:" + std::to_string(alias);
        return;
    }
    const PathParts parts = SplitPath(WithoutFilePrefix(request_.out));
    dirFd_ = OpenFolder(parts.folder, request_.out);
    // Blocks until a FIFO has a reader; a signal ends the wait.
    fd_ = openat(dirFd_, parts.leaf.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd_ < 0 && Interrupted())
        throw AppError("interrupted by " + InterruptName() + "; " + request_.out + " not written", InterruptStatus());
    if (fd_ < 0) throw AppError(request_.out + ": " + Errno(errno));
    struct stat st;
    if (fstat(fd_, &st) != 0 || !(S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)))
        throw AppError(request_.out + ": changed while it was opened; not written");
    url_ = "pipe:" + std::to_string(fd_);
}

void Placement::Discard() {
    if (live_) {
        if (kind_ == OutputKind::File) unlinkat(dirFd_, temp_.c_str(), 0);
        else RemovePrivateFolder(dirFd_, temp_.c_str(), fd_);
        DropInterruptCleanup(cleanupSlot_);
        cleanupSlot_ = -1;
        live_ = false;
    }
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

std::string Placement::Appeared() const {
    return "appeared during the " + request_.work + " and is left alone (use -y to replace it)";
}

void Placement::Fail(const std::string& what, const std::string& why) {
    Discard();
    throw AppError(what + ": " + why);
}

void Placement::Place(int64_t frames) {
    if (kind_ == OutputKind::Stream) return;  // written in place
    if (!live_) throw AppError(request_.out + ": nothing to place");
    if (request_.overwrite) {
        // The same checks once more: OUT may have changed during the render.
        OutputKind now;
        try {
            now = CheckOutput(request_);
        } catch (const AppError&) {
            Discard();
            throw;
        }
        if (now != kind_) Fail(request_.out, "not a regular file; not replaced");
    }
    if (kind_ == OutputKind::File) PlaceFile();
    else PlaceFrames(frames);
    DropInterruptCleanup(cleanupSlot_);
    cleanupSlot_ = -1;
    fsync(dirFd_);
}

void Placement::PlaceFile() {
    if (fsync(fd_) != 0) Fail(request_.out, Errno(errno));
    int err = 0;
    if (request_.overwrite) {
        err = KeepModeAndOwner(fd_, dirFd_, leaf_);
        if (!err && renameat(dirFd_, temp_.c_str(), dirFd_, leaf_.c_str()) != 0) err = errno;
    } else {
        err = RenameNoReplace(dirFd_, temp_, dirFd_, leaf_);
    }
    if (err == EEXIST) Fail(request_.out, Appeared());
    if (err) Fail(request_.out, Errno(err));
    live_ = false;
    close(fd_);
    fd_ = -1;
}

void Placement::PlaceFrames(int64_t frames) {
    const std::string pattern = WithoutFilePrefix(request_.out);
    const std::string shown = pattern.substr(0, pattern.size() - leaf_.size());
    std::vector<std::pair<std::string, struct stat>> placed;
    // Only frames still ours go: what replaced one meanwhile stays.
    auto rollBack = [&] {
        for (const auto& [name, mine] : placed) {
            struct stat now;
            if (fstatat(dirFd_, name.c_str(), &now, AT_SYMLINK_NOFOLLOW) == 0 && SameFile(now, mine))
                unlinkat(dirFd_, name.c_str(), 0);
        }
    };
    for (int64_t n = 1; n <= frames; ++n) {
        if (Interrupted()) {
            rollBack();
            Discard();
            throw AppError("interrupted by " + InterruptName() + "; " + request_.out + " not written",
                           InterruptStatus());
        }
        const std::string name = FrameLeaf(pattern, leaf_, n);
        struct stat st;
        int err = fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : errno;
        if (!err && request_.overwrite) {
            Fd frame{openat(fd_, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC)};
            err = frame.fd < 0 ? errno : KeepModeAndOwner(frame.fd, dirFd_, name);
            if (!err && renameat(fd_, name.c_str(), dirFd_, name.c_str()) != 0) err = errno;
        } else if (!err) {
            err = RenameNoReplace(fd_, name, dirFd_, name);
        }
        if (err) {
            rollBack();
            Fail(shown + name, err == EEXIST ? Appeared() : Errno(err));
        }
        placed.emplace_back(name, st);
    }
    Discard();  // the emptied folder
}

int ProbeCreate(const std::string& folder, bool asFolder) {
    Fd dir{open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)};  // a folder one may write but not list
    if (dir.fd < 0) return errno;
    const std::string name = ".vexolumen-probe-" + RandomText();
    if (asFolder) {
        if (mkdirat(dir.fd, name.c_str(), 0700) != 0) return errno;
        unlinkat(dir.fd, name.c_str(), AT_REMOVEDIR);
        return 0;
    }
    const int fd = openat(dir.fd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return errno;
    close(fd);
    unlinkat(dir.fd, name.c_str(), 0);
    return 0;
}
