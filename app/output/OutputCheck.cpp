#include "app/output/Placement.h"
#include "app/output/PlacementDetail.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
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

}  // namespace

std::string placement_detail::Errno(int err) { return std::string("cannot write: ") + std::strerror(err); }

std::string placement_detail::RandomText() {
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char raw[10];
    if (getrandom(raw, sizeof raw, 0) != ssize_t(sizeof raw)) throw AppError("no random numbers for a file name");
    std::string out;
    for (unsigned char c : raw) out += kLetters[c % 62];
    return out;
}

// The expanded leaf, checked against FFmpeg's own expansion: that one cuts
// names silently to its buffer.
std::string placement_detail::FrameLeaf(const std::string& pattern, const std::string& leaf, int64_t n) {
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
std::vector<std::string> placement_detail::ExistingFrames(int dirFd, const std::string& leaf, int64_t lo, int64_t hi) {
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

int placement_detail::OpenFolder(const std::string& folder, const std::string& out) {
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 && errno == EACCES) fd = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) throw AppError(out + ": " + Errno(errno));
    return fd;
}

int placement_detail::StreamDescriptor(const std::string& out) {
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

namespace {

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

}  // namespace

namespace {

bool IsImageExtension(const std::string& ext) {
    static const char* const kPictures[] = {"png", "jpg", "jpeg", "tif", "tiff", "bmp"};
    for (const char* p : kPictures)
        if (ext == p) return true;
    return false;
}

}  // namespace

std::string Extension(const std::string& path) {
    const std::string leaf = SplitPath(path).leaf;
    const size_t dot = leaf.find_last_of('.');
    if (dot == std::string::npos) return "";
    std::string ext = leaf.substr(dot + 1);
    for (char& c : ext) c = char(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

bool IsSequencePath(const std::string& path) {
    return IsImageExtension(Extension(path)) && av_filename_number_test(SplitPath(path).leaf.c_str());
}

bool IsStillPath(const std::string& path) { return IsImageExtension(Extension(path)) && !IsSequencePath(path); }

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
