// Runs the built vexolumen program and the ffmpeg command line for the
// hardening tests.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>

#include "HardeningSupport.h"

#ifndef VX_APP_BIN
#error "VX_APP_BIN must name the vexolumen program"
#endif

namespace hard {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

// Sanitized programs run several times slower.
inline double TimeLimit(double plainSeconds) { return kSanitized ? plainSeconds * 6 : plainSeconds; }

inline Outcome Vexolumen(const std::vector<std::string>& args, const std::string& configDir, double seconds,
                     long fileLimit = 0) {
    std::vector<std::string> argv{VX_APP_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back("--config-dir");
    argv.push_back(configDir);
    return Spawn(argv, TimeLimit(seconds), fileLimit);
}

// Makes a file with the ffmpeg command line; "ARGS" go between the inputs
// and the output.
inline void Ffmpeg(const std::string& args) {
    const std::string cmd = "ffmpeg -nostdin -v error -y " + args;
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
}

// What a shell command prints.
inline std::string Capture(const std::string& cmd) {
    std::string out;
    if (FILE* p = popen(cmd.c_str(), "r")) {
        char buffer[256];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
        pclose(p);
    }
    return out;
}

inline std::vector<std::string> Listing(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A failed command says what went wrong in one line of its own, the last;
// warnings may come before it.
inline ::testing::AssertionResult OneClearLine(const Outcome& r) {
    if (r.timedOut) return ::testing::AssertionFailure() << "timed out";
    if (r.status >= 128) return ::testing::AssertionFailure() << "killed by signal " << r.status - 128 << "\n" << r.err;
    if (r.status == 0) return ::testing::AssertionFailure() << "succeeded";
    if (r.err.empty() || r.err.back() != '\n') return ::testing::AssertionFailure() << "no line: [" << r.err << "]";
    for (size_t at = 0; at < r.err.size(); at = r.err.find('\n', at) + 1)
        if (r.err.compare(at, 11, "vexolumen: ") != 0)
            return ::testing::AssertionFailure() << "a line not of the program's own: [" << r.err << "]";
    return ::testing::AssertionSuccess();
}

}  // namespace hard
