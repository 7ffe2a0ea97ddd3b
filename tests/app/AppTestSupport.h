// Shared by the program's end-to-end tests: a scratch folder per test, running
// the program and the ffmpeg tools, and reading pixels back.
#pragma once
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

struct RunResult {
    int status = -1;
    std::string out, err;
};

inline std::string ReadFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

inline void WriteFile(const std::string& path, const std::string& data) {
    std::ofstream(path, std::ios::binary) << data;
}

class AppTest : public ::testing::Test {
protected:
    void SetUp() override {
        char name[] = "/tmp/vxapp-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir = name;
        config = dir + "/config";
        setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::string P(const std::string& leaf) const { return dir + "/" + leaf; }

    // Runs the program with the test's preferences folder; env goes first
    // ("NAME=value ...").
    RunResult Vx(const std::string& args, const std::string& env = "") {
        return Shell(env + " " VX_APP_BIN " --config-dir " + config + " " + args);
    }

    RunResult Shell(const std::string& command) {
        const std::string out = P(".stdout"), err = P(".stderr");
        const int raw = std::system((command + " >" + out + " 2>" + err + " </dev/null").c_str());
        RunResult r;
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
        r.out = ReadFile(out);
        r.err = ReadFile(err);
        std::filesystem::remove(out);
        std::filesystem::remove(err);
        return r;
    }

    void MustRun(const std::string& command) {
        const RunResult r = Shell(command);
        ASSERT_EQ(r.status, 0) << command << "\n" << r.err;
    }

    // Frames of any file as packed RGB bytes (or RGBA).
    std::string RawFrames(const std::string& file, const char* pixFmt = "rgb24") {
        const std::string raw = P(".raw");
        const RunResult r = Shell("ffmpeg -nostdin -v error -y -i " + file + " -f rawvideo -pix_fmt " + pixFmt + " " + raw);
        EXPECT_EQ(r.status, 0) << r.err;
        std::string data = ReadFile(raw);
        std::filesystem::remove(raw);
        return data;
    }

    std::string Probe(const std::string& args) { return Shell("ffprobe -v error " + args).out; }

    // Files of the scratch folder other than the preferences folder.
    std::vector<std::string> Listing() {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir))
            if (e.path().filename() != "config") names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string dir, config;
};

// Reproducible noise, so every channel value and every neighbour occurs.
inline std::string NoiseBytes(size_t n, uint32_t seed) {
    std::string out(n, '\0');
    for (char& c : out) {
        seed = seed * 1664525u + 1013904223u;
        c = char(seed >> 24);
    }
    return out;
}
