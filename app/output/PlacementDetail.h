// What the output checks and the placing share: descriptors, names and
// frame patterns. Not for use outside app/output/.
#pragma once
#include <unistd.h>

#include <cstdint>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace placement_detail {

constexpr char kFramesStem[] = ".vexolumen-frames-";

inline std::string WithoutFilePrefix(const std::string& name) {
    return name.rfind("file:", 0) == 0 ? name.substr(5) : name;
}
inline bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }
std::string Errno(int err);

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) close(fd);
    }
};

// Letters no one can guess, for temporary names.
std::string RandomText();
// The expanded leaf of frame n, checked against FFmpeg's own expansion
// (which cuts names silently to its buffer); AppError naming pattern when
// it cannot be formed in full.
std::string FrameLeaf(const std::string& pattern, const std::string& leaf, int64_t n);
// The names in the open folder dirFd that leaf's pattern gives for frames lo..hi.
std::vector<std::string> ExistingFrames(int dirFd, const std::string& leaf, int64_t lo, int64_t hi);
// The descriptor a stream name ("-", "pipe:N", /dev/stdout, /proc/self/fd/N)
// stands for, or -1 for a name that is none.
int StreamDescriptor(const std::string& out);
// The folder, open; AppError naming out when it cannot be.
int OpenFolder(const std::string& folder, const std::string& out);

}  // namespace placement_detail
