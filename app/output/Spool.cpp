#include "app/output/Spool.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "app/AppError.h"
#include "app/output/Placement.h"

bool IsStreamPath(const std::string& path) {
    if (path == "-" || path.rfind("pipe:", 0) == 0) return true;
    struct stat st{};
    if (stat(path.c_str(), &st) != 0) return false;
    return S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode) || S_ISSOCK(st.st_mode);
}

namespace {

int OpenInput(const std::string& in) {
    if (in == "-") return dup(0);
    if (in.rfind("pipe:", 0) == 0) {
        const std::string n = in.substr(5);
        return dup(n.empty() ? 0 : std::atoi(n.c_str()));
    }
    return open(in.c_str(), O_RDONLY | O_CLOEXEC);
}

}  // namespace

Spool::Spool(const std::string& in, const std::string& dir) {
    const int src = OpenInput(in);
    if (src < 0) throw AppError(in + ": " + std::strerror(errno));
    std::string name;
    const int dst = CreateScratchFile(dir.empty() ? "." : dir, ".vexolumen-spool", &name);
    if (dst < 0) {
        const int e = errno;
        close(src);
        throw AppError(in + ": cannot keep a copy of the pipe in " + (dir.empty() ? "." : dir) + ": " +
                       std::strerror(e));
    }
    path_ = name;
    // Read back through the descriptor, the file has no name to leave
    // behind, even when the program is killed.
    const std::string byDescriptor = "/proc/self/fd/" + std::to_string(dst);
    if (access(byDescriptor.c_str(), R_OK) == 0 && unlink(name.c_str()) == 0) {
        path_ = byDescriptor;
        fd_ = dst;
    }
    std::vector<char> buffer(1 << 16);
    std::string failure;
    for (;;) {
        if (Interrupted()) {
            failure = "interrupted";
            break;
        }
        const ssize_t n = read(src, buffer.data(), buffer.size());
        if (n == 0) break;
        if (n < 0) {
            if (errno == EINTR) continue;
            failure = in + ": read error: " + std::strerror(errno);
            break;
        }
        for (ssize_t done = 0; done < n && failure.empty();) {
            const ssize_t w = write(dst, buffer.data() + done, size_t(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) failure = in + ": cannot keep a copy of the pipe: " + std::strerror(errno);
            else done += w;
        }
        if (!failure.empty()) break;
    }
    close(src);
    if (fd_ < 0 && close(dst) != 0 && failure.empty())
        failure = in + ": cannot keep a copy of the pipe: " + std::strerror(errno);
    if (!failure.empty()) {
        Remove();
        throw AppError(failure, failure == "interrupted" ? kInterruptedStatus : 1);
    }
}

Spool::~Spool() { Remove(); }

void Spool::Remove() {
    if (fd_ >= 0) close(fd_);
    else unlink(path_.c_str());
    fd_ = -1;
}
