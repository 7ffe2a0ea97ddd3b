// Shared by the hardening tests: scratch folders, and running a program (the
// built vexolumen above all) with a time limit and reading its peak memory.
#pragma once
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
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

inline std::vector<std::string> Listing(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

struct Outcome {
    int status = -1;    // exit status, or 128 + signal (137 when it ran out of time)
    long peakKb = 0;    // peak resident size of the child
    std::string err;    // what it wrote to stderr
};

// A program started in the background; Finish collects it.
struct Running {
    pid_t pid = -1;
    int errFd = -1;
    std::string errName;
};

// Runs argv with stdin from /dev/null and stdout dropped, in `cwd` with `env`
// added. `fileLimit` > 0 caps the size of any file it writes.
inline Running Start(const std::vector<std::string>& argv, long fileLimit = 0,
                     const std::vector<std::string>& env = {}, const std::string& cwd = "") {
    char errName[] = "/tmp/vx-hard-err-XXXXXX";
    Running r;
    r.errFd = mkstemp(errName);
    r.errName = errName;
    // Everything the child needs is made before the fork.
    std::vector<char*> args(argv.size() + 1);  // ends in a null pointer
    std::transform(argv.begin(), argv.end(), args.begin(), [](const std::string& a) { return (char*)a.c_str(); });
    r.pid = fork();
    if (r.pid == 0) {
        dup2(open("/dev/null", O_RDWR), 0);
        dup2(0, 1);
        dup2(r.errFd, 2);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
        for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
        const rlimit lim{rlim_t(fileLimit), rlim_t(fileLimit)};
        if (fileLimit > 0) signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
        if (fileLimit > 0) setrlimit(RLIMIT_FSIZE, &lim);
        execv(args[0], args.data());
        _exit(127);
    }
    return r;
}

// Waits for it, killing it after `seconds`.
inline Outcome Finish(Running& run, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int raw = 0;
    rusage usage{};
    while (wait4(run.pid, &raw, WNOHANG, &usage) != run.pid) {
        if (std::chrono::steady_clock::now() > deadline) kill(run.pid, SIGKILL);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    close(run.errFd);
    Outcome r{WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw), usage.ru_maxrss, ReadFile(run.errName)};
    unlink(run.errName.c_str());
    return r;
}

inline Outcome Spawn(const std::vector<std::string>& argv, double seconds, long fileLimit = 0,
                     const std::vector<std::string>& env = {}, const std::string& cwd = "") {
    Running run = Start(argv, fileLimit, env, cwd);
    return Finish(run, seconds);
}

#ifdef VX_APP_BIN
// Sanitized programs run several times slower.
extern "C" void __asan_init() __attribute__((weak));
inline bool Sanitized() { return &__asan_init != nullptr; }
inline double TimeLimit(double plainSeconds) { return Sanitized() ? plainSeconds * 6 : plainSeconds; }

inline std::vector<std::string> VexolumenArgs(std::vector<std::string> args, const std::string& configDir) {
    args.insert(args.begin(), VX_APP_BIN);
    args.insert(args.end(), {"--config-dir", configDir});
    return args;
}

inline Outcome Vexolumen(std::vector<std::string> args, const std::string& configDir, double seconds,
                         long fileLimit = 0) {
    return Spawn(VexolumenArgs(std::move(args), configDir), TimeLimit(seconds), fileLimit);
}

// Waits until `pred` holds (polling), at most `seconds`.
template <class Pred>
bool WaitFor(Pred pred, double seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(TimeLimit(seconds));
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Makes a file with the ffmpeg command line.
inline void Ffmpeg(const std::string& args) {
    ASSERT_EQ(std::system(("ffmpeg -nostdin -v error -y " + args).c_str()), 0) << args;
}

// A failed command says what went wrong in lines of its own, naming `what`
// (warnings may come before the last one).
inline ::testing::AssertionResult OneClearLine(const Outcome& r, const std::string& what = "") {
    if (r.status > 0 && r.status < 128 && std::regex_match(r.err, std::regex("(vexolumen: [^\n]*\n)+")) &&
        r.err.find(what) != std::string::npos)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "status " << r.status << " (137: out of time), stderr [" << r.err << "]";
}
#endif

}  // namespace hard
