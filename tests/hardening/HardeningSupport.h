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

// Runs argv with stdin from /dev/null and stdout dropped, in `cwd` with `env`
// added; kills it after `seconds`. `fileLimit` > 0 caps the size of any file
// it writes.
inline Outcome Spawn(const std::vector<std::string>& argv, double seconds, long fileLimit = 0,
                     const std::vector<std::string>& env = {}, const std::string& cwd = "") {
    char errName[] = "/tmp/vx-hard-err-XXXXXX";
    const int errFd = mkstemp(errName);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(open("/dev/null", O_RDWR), 0);
        dup2(0, 1);
        dup2(errFd, 2);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
        for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
        const rlimit lim{rlim_t(fileLimit), rlim_t(fileLimit)};
        if (fileLimit > 0) signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails with EFBIG instead
        if (fileLimit > 0) setrlimit(RLIMIT_FSIZE, &lim);
        std::vector<char*> args(argv.size() + 1);  // ends in a null pointer
        std::transform(argv.begin(), argv.end(), args.begin(), [](const std::string& a) { return (char*)a.c_str(); });
        execv(args[0], args.data());
        _exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    int raw = 0;
    rusage usage{};
    while (wait4(pid, &raw, WNOHANG, &usage) != pid) {
        if (std::chrono::steady_clock::now() > deadline) kill(pid, SIGKILL);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    close(errFd);
    Outcome r{WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw), usage.ru_maxrss, ReadFile(errName)};
    unlink(errName);
    return r;
}

#ifdef VX_APP_BIN
// Sanitized programs run several times slower.
extern "C" void __asan_init() __attribute__((weak));
inline bool Sanitized() { return &__asan_init != nullptr; }
inline double TimeLimit(double plainSeconds) { return Sanitized() ? plainSeconds * 6 : plainSeconds; }

inline Outcome Vexolumen(std::vector<std::string> args, const std::string& configDir, double seconds,
                         long fileLimit = 0) {
    args.insert(args.begin(), VX_APP_BIN);
    args.insert(args.end(), {"--config-dir", configDir});
    return Spawn(args, TimeLimit(seconds), fileLimit);
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
