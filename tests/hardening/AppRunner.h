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

inline std::vector<std::string> Listing(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A failed command says what went wrong in one line of its own.
inline ::testing::AssertionResult OneClearLine(const Outcome& r) {
    if (r.timedOut) return ::testing::AssertionFailure() << "timed out";
    if (r.status >= 128) return ::testing::AssertionFailure() << "killed by signal " << r.status - 128 << "\n" << r.err;
    if (r.status == 0) return ::testing::AssertionFailure() << "succeeded";
    if (hard::LineCount(r.err) != 1 || r.err.rfind("vexolumen: ", 0) != 0)
        return ::testing::AssertionFailure() << "not one line: [" << r.err << "]";
    return ::testing::AssertionSuccess();
}

}  // namespace hard
