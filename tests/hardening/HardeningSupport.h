// Shared by the hardening tests: scratch folders, running a program with a
// time limit and reading its peak memory, and the mounts that make a full or
// read-only place for it to write into.
#pragma once
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace hard {

inline std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

inline void WriteFile(const std::string& path, const std::string& data) {
    std::ofstream(path, std::ios::binary) << data;
}

// A knob of `make soak`: the long form's count, or the short form's.
inline long Knob(const char* name, long shortForm) {
    const char* v = std::getenv(name);
    return v && *v ? std::strtol(v, nullptr, 10) : shortForm;
}

inline std::string MakeScratch(const char* prefix) {
    std::string name = std::string("/tmp/") + prefix + "-XXXXXX";
    if (!mkdtemp(name.data())) std::abort();
    return name;
}

struct Outcome {
    int status = -1;    // exit status, or 128 + signal
    bool timedOut = false;
    long peakKb = 0;    // peak resident size of the child
    std::string err;    // what it wrote to stderr
};

// Runs argv with stdin from /dev/null and stdout dropped; kills it after
// `seconds`. `fileLimit` > 0 caps the size of any file it writes.
inline Outcome Spawn(const std::vector<std::string>& argv, double seconds, long fileLimit = 0,
                 const std::vector<std::string>& env = {}, const std::string& cwd = "") {
    char errName[] = "/tmp/vx-hard-err-XXXXXX";
    const int errFd = mkstemp(errName);
    Outcome r;
    const pid_t pid = fork();
    if (pid == 0) {
        const int nul = open("/dev/null", O_RDWR);
        dup2(nul, 0);
        dup2(nul, 1);
        dup2(errFd, 2);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
        for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
        if (fileLimit > 0) {
            signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
            rlimit lim{rlim_t(fileLimit), rlim_t(fileLimit)};
            setrlimit(RLIMIT_FSIZE, &lim);
        }
        std::vector<char*> args;
        for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int raw = 0;
    rusage usage{};
    for (;;) {
        const pid_t done = wait4(pid, &raw, WNOHANG, &usage);
        if (done == pid) break;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            wait4(pid, &raw, 0, &usage);
            r.timedOut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
    r.peakKb = usage.ru_maxrss;
    close(errFd);
    r.err = ReadFile(errName);
    unlink(errName);
    return r;
}


// A tmpfs of `bytes` at `where`; false when mounting is refused.
inline bool MountTmpfs(const std::string& where, long bytes) {
    const std::string opts = "size=" + std::to_string(bytes) + ",mode=0755";
    return mount("tmpfs", where.c_str(), "tmpfs", 0, opts.c_str()) == 0;
}

// Makes `folder` read-only even for root: a read-only bind mount of itself,
// else the immutable flag. Returns how, or "" when neither works.
inline std::string MakeReadOnly(const std::string& folder) {
    if (mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) == 0) {
        if (mount(nullptr, folder.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0)
            return "bind";
        umount2(folder.c_str(), MNT_DETACH);
    }
    if (std::system(("chattr +i '" + folder + "' 2>/dev/null").c_str()) == 0) return "chattr";
    if (geteuid() != 0 && chmod(folder.c_str(), 0555) == 0) return "chmod";
    return "";
}

inline void UndoReadOnly(const std::string& folder, const std::string& how) {
    if (how == "bind") umount2(folder.c_str(), MNT_DETACH);
    if (how == "chattr") std::system(("chattr -i '" + folder + "' 2>/dev/null").c_str());
    if (how == "chmod") chmod(folder.c_str(), 0755);
}

}  // namespace hard
