// Shared by the hardening tests: scratch folders, and running a program (the
// built vexolumen above all) with a time limit and reading its peak memory.
#pragma once
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
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

// Whether a user who is neither the owner nor in the group can reach path
// (search every folder above it) and has `need` of its mode bits; a folder's
// contents must be readable to them as well.
inline bool OthersMayUse(const std::string& path, mode_t need) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path real = fs::canonical(path, ec);
    if (ec) return false;
    struct stat st;
    for (fs::path up = real.parent_path();; up = up.parent_path()) {
        if (stat(up.c_str(), &st) != 0 || !(st.st_mode & S_IXOTH)) return false;
        if (up == up.root_path()) break;
    }
    if (stat(real.c_str(), &st) != 0 || (st.st_mode & need) != need) return false;
    if (!S_ISDIR(st.st_mode)) return true;
    for (const auto& e : fs::recursive_directory_iterator(real, ec)) {
        const mode_t want = e.is_directory() ? S_IROTH | S_IXOTH : S_IROTH;
        if (stat(e.path().c_str(), &st) != 0 || (st.st_mode & want) != want) return false;
    }
    return !ec;
}

// The program as another user can run it: VX_APP_BIN when they can reach it,
// its libraries (build/lib, its RUNPATH) and the bundle beside them; else a
// copy of the three in `folder`, which they must be able to reach, with the
// environment the copy needs in *env. Empty, with *why, when neither works.
inline std::string ProgramForOthers(const std::string& folder, std::vector<std::string>* env, std::string* why) {
    namespace fs = std::filesystem;
    const fs::path build = fs::path(VX_APP_BIN).parent_path().parent_path();
    const fs::path lib = build / "lib", bundle = build / "vexolumen.plugin";
    const mode_t folderNeeds = S_IROTH | S_IXOTH;
    if (!fs::is_directory(lib) || !fs::is_directory(bundle)) {
        *why = "no " + lib.string() + " or " + bundle.string() + " beside the program";
        return "";
    }
    if (OthersMayUse(VX_APP_BIN, S_IXOTH) && OthersMayUse(lib, folderNeeds) && OthersMayUse(bundle, folderNeeds))
        return VX_APP_BIN;
    std::error_code ec;
    const fs::path program = fs::path(folder) / "bin" / fs::path(VX_APP_BIN).filename();
    fs::create_directories(program.parent_path(), ec);
    if (!ec) fs::copy_file(VX_APP_BIN, program, ec);
    if (!ec) fs::copy(lib, fs::path(folder) / "lib", fs::copy_options::recursive, ec);
    if (!ec) fs::copy(bundle, fs::path(folder) / "vexolumen.plugin", fs::copy_options::recursive, ec);
    if (ec) {
        *why = "cannot copy the program to " + folder + ": " + ec.message();
        return "";
    }
    if (!OthersMayUse(program, S_IXOTH) || !OthersMayUse(folder + "/lib", folderNeeds) ||
        !OthersMayUse(folder + "/vexolumen.plugin", folderNeeds)) {
        *why = "neither the build nor a copy in " + folder + " is open to other users";
        return "";
    }
    env->push_back("LD_LIBRARY_PATH=" + folder + "/lib");  // before the build's RUNPATH
    return program.string();
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
