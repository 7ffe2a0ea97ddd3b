#include "app/output/OutputFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern "C" {
#include <libavformat/avio.h>
}

#include "app/AppError.h"

namespace {

std::string WithoutFilePrefix(const std::string& name) { return name.rfind("file:", 0) == 0 ? name.substr(5) : name; }

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

std::string RandomText() {
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char raw[10];
    if (getrandom(raw, sizeof raw, 0) != ssize_t(sizeof raw)) throw AppError("no random numbers for a file name");
    std::string out;
    for (unsigned char c : raw) out += kLetters[c % 62];
    return out;
}

// ".<leaf>.part-<pid>-<random>" of a process that is gone, or the older
// ".<leaf>.part-<pid>", ours alone.
void RemoveDeadRendersFiles(int dirFd, const std::string& leaf) {
    const int listFd = openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* d = listFd >= 0 ? fdopendir(listFd) : nullptr;
    if (!d) {
        if (listFd >= 0) close(listFd);
        return;
    }
    const std::string prefix = "." + leaf + ".part-";
    while (const dirent* e = readdir(d)) {
        const std::string name = e->d_name;
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        const std::string rest = name.substr(prefix.size());
        const size_t dash = rest.find('-');
        const std::string digits = rest.substr(0, dash);
        if (digits.empty() || digits.size() > 9 || digits.find_first_not_of("0123456789") != std::string::npos)
            continue;
        if (dash != std::string::npos && rest.size() != dash + 11) continue;
        struct stat st;
        if (fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != geteuid())
            continue;
        const pid_t pid = pid_t(std::stol(digits));
        if (pid != getpid() && kill(pid, 0) != 0 && errno == ESRCH) unlinkat(dirFd, name.c_str(), 0);
    }
    closedir(d);
}

}  // namespace

std::string CheckOutput(const std::string& in, const std::string& out, bool overwrite) {
    const char* protocol = avio_find_protocol_name(out.c_str());
    if (protocol && std::strcmp(protocol, "file") != 0)
        throw AppError(out + ": only files can be written (" + protocol + " is not one)");
    const std::string path = WithoutFilePrefix(out);
    if (path.empty() || path.back() == '/') throw AppError(out + ": names a folder, not a file");
    struct stat outSt, inSt;
    if (lstat(path.c_str(), &outSt) != 0) return path;
    if (!overwrite) throw AppError(out + ": already exists (use -y to overwrite)");
    const bool isLink = S_ISLNK(outSt.st_mode);
    if (!isLink && !S_ISREG(outSt.st_mode)) throw AppError(out + ": not a regular file; not replaced");
    // A link at OUT is replaced by the file, so only its own inode counts;
    // what it points to is left alone.
    if (!isLink && stat(WithoutFilePrefix(in).c_str(), &inSt) == 0 && SameFile(outSt, inSt))
        throw AppError(out + ": is the input " + in + " itself; not replaced");
    return path;
}

OutputFile::OutputFile(const std::string& in, const std::string& out, bool overwrite)
    : in_(in), out_(out), overwrite_(overwrite) {
    const std::string path = CheckOutput(in, out, overwrite);
    const size_t slash = path.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    leaf_ = slash == std::string::npos ? path : path.substr(slash + 1);
    dirFd_ = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd_ < 0 && errno == EACCES) dirFd_ = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dirFd_ < 0) throw AppError(out + ": cannot write: " + std::strerror(errno));
    RemoveDeadRendersFiles(dirFd_, leaf_);
    const mode_t mask = umask(0);
    umask(mask);
    for (int tries = 0; fd_ < 0; ++tries) {
        temp_ = "." + leaf_ + ".part-" + std::to_string(getpid()) + "-" + RandomText();
        fd_ = openat(dirFd_, temp_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666 & ~mask);
        if (fd_ < 0 && (errno != EEXIST || tries == 100)) {
            const int err = errno;
            close(dirFd_);
            throw AppError(out + ": cannot write: " + std::strerror(err));
        }
    }
    SetInterruptCleanup(dirFd_, temp_.c_str());
    // The open descriptor's own name: FFmpeg reaches this very file through
    // it, whatever happens to the folder meanwhile.
    url_ = "file:/proc/self/fd/" + std::to_string(fd_);
}

OutputFile::~OutputFile() {
    Discard();
    if (dirFd_ >= 0) close(dirFd_);
}

void OutputFile::Discard() {
    if (fd_ < 0) return;
    SetInterruptCleanup(-1, nullptr);
    unlinkat(dirFd_, temp_.c_str(), 0);
    close(fd_);
    fd_ = -1;
}

void OutputFile::Place() {
    if (fd_ < 0) throw AppError(out_ + ": nothing to place");
    auto fail = [&](const std::string& why) {
        Discard();
        throw AppError(out_ + ": " + why);
    };
    if (fsync(fd_) != 0) fail(std::string("cannot write: ") + std::strerror(errno));
    if (overwrite_) {
        // The same checks once more: OUT may have changed during the render.
        try {
            CheckOutput(in_, out_, true);
        } catch (const AppError&) {
            Discard();
            throw;
        }
        // The replaced file's mode and owner carry over, as far as we may.
        struct stat old;
        if (fstatat(dirFd_, leaf_.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(old.st_mode)) {
            if (old.st_uid != geteuid() || old.st_gid != getegid())
                if (fchown(fd_, old.st_uid, old.st_gid) != 0 && errno != EPERM)
                    fail(std::string("cannot write: ") + std::strerror(errno));
            fchmod(fd_, old.st_mode & 07777);
        }
        if (renameat(dirFd_, temp_.c_str(), dirFd_, leaf_.c_str()) != 0)
            fail(std::string("cannot write: ") + std::strerror(errno));
    } else if (renameat2(dirFd_, temp_.c_str(), dirFd_, leaf_.c_str(), RENAME_NOREPLACE) != 0) {
        int err = errno;
        if (err == EINVAL || err == ENOSYS) {  // file systems without it
            err = linkat(dirFd_, temp_.c_str(), dirFd_, leaf_.c_str(), 0) == 0 ? 0 : errno;
            if (!err) unlinkat(dirFd_, temp_.c_str(), 0);
        }
        if (err == EEXIST) fail("appeared during the render and is left alone (use -y to replace it)");
        if (err) fail(std::string("cannot write: ") + std::strerror(err));
    }
    SetInterruptCleanup(-1, nullptr);
    fsync(dirFd_);
    close(fd_);
    fd_ = -1;
}
