#include "app/output/Placement.h"

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
#include "app/media/OutputFormat.h"

namespace {

constexpr char kFramesStem[] = ".vexolumen-frames-";

std::string WithoutFilePrefix(const std::string& name) { return name.rfind("file:", 0) == 0 ? name.substr(5) : name; }

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

std::string Errno(int err) { return std::string("cannot write: ") + std::strerror(err); }

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) close(fd);
    }
};

std::string RandomText() {
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char raw[10];
    if (getrandom(raw, sizeof raw, 0) != ssize_t(sizeof raw)) throw AppError("no random numbers for a file name");
    std::string out;
    for (unsigned char c : raw) out += kLetters[c % 62];
    return out;
}

// A frame name pattern as FFmpeg reads it: one %d (with a width), %% for %.
struct FramePattern {
    std::string prefix, suffix;
    int width = 0;
    std::string Expand(int64_t n) const {
        std::vector<char> digits(size_t(width) + 24);
        std::snprintf(digits.data(), digits.size(), "%0*lld", width, static_cast<long long>(n));
        return prefix + digits.data() + suffix;
    }
};

bool ParsePattern(const std::string& leaf, FramePattern* p) {
    std::string* part = &p->prefix;
    bool found = false;
    for (size_t i = 0; i < leaf.size(); ++i) {
        if (leaf[i] != '%') {
            *part += leaf[i];
            continue;
        }
        int width = 0;
        size_t j = i + 1;
        for (; j < leaf.size() && leaf[j] >= '0' && leaf[j] <= '9'; ++j)
            if ((width = width * 10 + (leaf[j] - '0')) > 4096) return false;
        if (j == leaf.size()) return false;
        i = j;
        if (leaf[j] == '%') {
            *part += '%';
        } else if (leaf[j] == 'd' && !found) {
            found = true;
            p->width = width;
            part = &p->suffix;
        } else {
            return false;
        }
    }
    return found;
}

// The expanded leaf, checked against FFmpeg's own expansion: that one cuts
// names silently to its buffer.
std::string FrameLeaf(const std::string& pattern, const std::string& leaf, int64_t n) {
    FramePattern p;
    if (!ParsePattern(leaf, &p) || n < 0 || n > INT_MAX) throw AppError(pattern + ": not a frame name pattern");
    const std::string mine = p.Expand(n);
    std::vector<char> buf(PATH_MAX + 2);
    const bool same = av_get_frame_filename(buf.data(), int(buf.size()), leaf.c_str(), int(n)) == 0 &&
                      mine == buf.data();
    if (!same || mine.size() > NAME_MAX)
        throw AppError(pattern + ": the name of frame " + std::to_string(n) + " is too long to form in full");
    return mine;
}

// The names in the open folder dirFd that pattern gives for frames lo..hi.
std::vector<std::string> ExistingFrames(int dirFd, const std::string& leaf, int64_t lo, int64_t hi) {
    std::vector<std::string> found;
    FramePattern p;
    const int listFd = openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* d = listFd >= 0 ? fdopendir(listFd) : nullptr;
    if (!d) {
        if (listFd >= 0) close(listFd);
        return found;
    }
    if (ParsePattern(leaf, &p)) {
        while (const dirent* e = readdir(d)) {
            const std::string name = e->d_name;
            if (name.size() <= p.prefix.size() + p.suffix.size() || name.compare(0, p.prefix.size(), p.prefix) ||
                name.compare(name.size() - p.suffix.size(), p.suffix.size(), p.suffix))
                continue;
            const std::string digits = name.substr(p.prefix.size(), name.size() - p.prefix.size() - p.suffix.size());
            const size_t lead = digits.find_first_not_of('0');
            if (digits.find_first_not_of("0123456789") != std::string::npos ||
                (lead != std::string::npos && digits.size() - lead > 10))
                continue;
            const int64_t n = std::stoll(digits);
            if (n >= lo && n <= hi && p.Expand(n) == name) found.push_back(name);
        }
    }
    closedir(d);
    return found;
}

int OpenFolder(const std::string& folder, const std::string& out) {
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 && errno == EACCES) fd = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) throw AppError(out + ": " + Errno(errno));
    return fd;
}

// The files the inputs are, each with its name; an image pattern stands
// for its frames.
std::vector<std::pair<struct stat, std::string>> InputFiles(const std::vector<std::string>& inputs) {
    std::vector<std::pair<struct stat, std::string>> files;
    for (const std::string& given : inputs) {
        struct stat st;
        if (given == "-" || given.rfind("pipe:", 0) == 0) {
            const std::string n = given == "-" ? "" : given.substr(5);
            if (fstat(n.empty() ? 0 : std::atoi(n.c_str()), &st) == 0) files.emplace_back(st, given);
            continue;
        }
        const std::string path = WithoutFilePrefix(given);
        if (stat(path.c_str(), &st) == 0) {
            files.emplace_back(st, given);
            continue;
        }
        const PathParts parts = SplitPath(path);
        Fd dir{open(parts.folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
        if (dir.fd < 0) continue;
        for (const std::string& name : ExistingFrames(dir.fd, parts.leaf, 0, INT_MAX))
            if (fstatat(dir.fd, name.c_str(), &st, 0) == 0) files.emplace_back(st, given);
    }
    return files;
}

void RefuseInput(const OutputRequest& r, const struct stat& st) {
    for (const auto& [file, name] : InputFiles(r.inputs))
        if (SameFile(file, st)) throw AppError(r.out + ": is the input " + name + " itself; not replaced");
}

// The descriptor a stream name stands for, or -1 for a name that is none.
int StreamDescriptor(const std::string& out) {
    if (out == "-") return 1;
    std::string n;
    if (out.rfind("pipe:", 0) == 0) {
        n = out.substr(5);
        if (n.empty()) return 1;
    } else {
        const std::string path = WithoutFilePrefix(out);
        if (path == "/dev/stdin") return 0;
        if (path == "/dev/stdout") return 1;
        if (path == "/dev/stderr") return 2;
        for (const std::string& prefix : {std::string("/dev/fd/"), std::string("/proc/self/fd/"),
                                         std::string("/proc/thread-self/fd/"),
                                         "/proc/" + std::to_string(getpid()) + "/fd/"})
            if (path.rfind(prefix, 0) == 0) n = path.substr(prefix.size());
        if (n.empty()) return -1;
    }
    if (n.size() > 6 || n.find_first_not_of("0123456789") != std::string::npos)
        throw AppError(out + ": not a descriptor number");
    return std::atoi(n.c_str());
}

bool UnderDevOrProc(int dirFd) {
    char real[PATH_MAX];
    const std::string self = "/proc/self/fd/" + std::to_string(dirFd);
    const ssize_t n = readlink(self.c_str(), real, sizeof real - 1);
    if (n <= 0) return false;
    const std::string path(real, size_t(n));
    for (const char* top : {"/dev", "/proc"})
        if (path == top || path.rfind(std::string(top) + "/", 0) == 0) return true;
    return false;
}

OutputKind AcceptStream(const OutputRequest& r, const struct stat& st) {
    if (!r.streamAllowed) throw AppError(r.out + ": a stream; this command writes a file");
    RefuseInput(r, st);
    return OutputKind::Stream;
}

OutputKind CheckStream(const OutputRequest& r, int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0) throw AppError(r.out + ": descriptor " + std::to_string(fd) + " is not open");
    return AcceptStream(r, st);
}

OutputKind CheckSequence(const OutputRequest& r, int dirFd, const PathParts& parts) {
    if (!r.sequenceAllowed) throw AppError(r.out + ": an image sequence; this command writes one file");
    // Names grow with the number: the last is the longest.
    FrameName(WithoutFilePrefix(r.out), std::max<int64_t>(r.frames, 1));
    std::vector<std::string> taken = ExistingFrames(dirFd, parts.leaf, 1, std::max<int64_t>(r.frames, 1));
    if (taken.empty()) return OutputKind::Sequence;
    std::sort(taken.begin(), taken.end());
    const std::string shown = (parts.folder == "." && r.out.find('/') == std::string::npos ? "" : parts.folder + "/");
    if (!r.overwrite) throw AppError(shown + taken[0] + ": already exists (use -y to overwrite)");
    for (const std::string& name : taken) {
        struct stat st;
        if (fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISLNK(st.st_mode)) continue;
        if (!S_ISREG(st.st_mode)) throw AppError(shown + name + ": not a regular file; not replaced");
        RefuseInput(r, st);
    }
    return OutputKind::Sequence;
}

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

PathParts SplitPath(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return {".", path};
    return {slash == 0 ? "/" : path.substr(0, slash), path.substr(slash + 1)};
}

std::string FrameName(const std::string& pattern, int64_t n) {
    const PathParts parts = SplitPath(pattern);
    const size_t slash = pattern.find_last_of('/');
    const std::string name = pattern.substr(0, slash == std::string::npos ? 0 : slash + 1) +
                             FrameLeaf(pattern, parts.leaf, n);
    if (name.size() >= PATH_MAX) throw AppError(pattern + ": the name of frame " + std::to_string(n) + " is too long");
    return name;
}

OutputKind CheckOutput(const OutputRequest& r) {
    const std::string& out = r.out;
    if (out == "-" || out.rfind("pipe:", 0) == 0) return CheckStream(r, StreamDescriptor(out));
    const char* protocol = avio_find_protocol_name(out.c_str());
    if (protocol && std::strcmp(protocol, "file") != 0)
        throw AppError(out + ": only files can be written (" + protocol + " is not one)");
    const int alias = StreamDescriptor(out);
    if (alias >= 0) return CheckStream(r, alias);
    const std::string path = WithoutFilePrefix(out);
    const PathParts parts = SplitPath(path);
    if (parts.leaf.empty() || parts.leaf == "." || parts.leaf == "..")
        throw AppError(out + ": names a folder, not a file");
    if (parts.leaf.size() > NAME_MAX || path.size() >= PATH_MAX) throw AppError(out + ": the name is too long");
    Fd dir{OpenFolder(parts.folder, out)};
    struct stat st;
    const bool exists = fstatat(dir.fd, parts.leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    // Only a FIFO or device named as such; a link to one is just a link.
    if (exists && (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))) return AcceptStream(r, st);
    if (UnderDevOrProc(dir.fd)) throw AppError(out + ": only streams are written under /dev and /proc");
    if (IsSequencePath(path)) return CheckSequence(r, dir.fd, parts);
    if (!exists) return OutputKind::File;
    if (!r.overwrite) throw AppError(out + ": already exists (use -y to overwrite)");
    if (S_ISLNK(st.st_mode)) return OutputKind::File;  // replaced; its target is left alone
    if (!S_ISREG(st.st_mode)) throw AppError(out + ": not a regular file; not replaced");
    RefuseInput(r, st);
    return OutputKind::File;
}

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
