// Shared by the program's end-to-end tests: a scratch folder per test, running
// the program and the ffmpeg tools, and reading pixels back.
#pragma once
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "effect/pixelEffect.h"
#include "pipeline/relRects.h"

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

// Reproducible noise, so every channel value and every neighbour occurs.
inline std::string NoiseBytes(size_t n, uint32_t seed) {
    std::string out(n, '\0');
    for (char& c : out) {
        seed = seed * 1664525u + 1013904223u;
        c = char(seed >> 24);
    }
    return out;
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

    // Output and errors go through files of the scratch folder, removed again.
    RunResult Shell(const std::string& command) {
        const int raw = std::system((command + " >" + P(".out") + " 2>" + P(".err") + " </dev/null").c_str());
        RunResult r{WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw), ReadFile(P(".out")), ReadFile(P(".err"))};
        std::filesystem::remove(P(".out"));
        std::filesystem::remove(P(".err"));
        return r;
    }

    void Ffmpeg(const std::string& args, const std::string& out) {
        const RunResult r = Shell("ffmpeg -nostdin -v error -y " + args + " " + out);
        ASSERT_EQ(r.status, 0) << args << "\n" << r.err;
    }

    // n frames of noise of pixFmt (rgb24, rgba or rgb48le) at 25 a second,
    // made into `out` by ffmpeg with `encode`; the raw bytes.
    std::string NoiseFile(const std::string& out, int w, int h, int n, const std::string& pixFmt, uint32_t seed,
                          const std::string& encode = "") {
        const size_t bytes = pixFmt == "rgb48le" ? 6 : pixFmt == "rgba" ? 4 : 3;
        const std::string pixels = NoiseBytes(size_t(w) * h * bytes * n, seed);
        WriteFile(P(out + ".raw"), pixels);
        Ffmpeg("-f rawvideo -pix_fmt " + pixFmt + " -s " + std::to_string(w) + "x" + std::to_string(h) +
                   " -r 25 -i " + P(out + ".raw") + " " + encode,
               P(out));
        std::filesystem::remove(P(out + ".raw"));
        return pixels;
    }

    // Frames of any file as packed RGB bytes (or RGBA).
    std::string RawFrames(const std::string& file, const std::string& pixFmt = "rgb24") {
        const RunResult r = Shell("ffmpeg -nostdin -v error -i " + file + " -f rawvideo -pix_fmt " + pixFmt + " -");
        EXPECT_EQ(r.status, 0) << r.err;
        return r.out;
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


// For EXPECT_TRUE: the text holds the part; both are shown when it does not.
inline ::testing::AssertionResult Contains(const std::string& text, const std::string& part) {
    if (text.find(part) != std::string::npos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "'" << part << "' not in:\n" << text;
}

struct Settings {
    int16_t angles[3] = {100, 100, 100};
    RGBColor offset{0, 0, 0};
    int16_t method = 1;
    RelRect rect{0, 1, 0, 1};
};

// What the effect makes of packed RGB (bpp 3) or RGBA (bpp 4) pixels.
inline std::string Rotated(const std::string& pixels, int w, int h, int bpp, const Settings& s) {
    std::vector<uint8_t> argb(size_t(w) * h * 4), out(argb.size());
    for (size_t i = 0; i < size_t(w) * h; ++i)  // RGB(A) to ARGB
        for (int c = 0; c < 4; ++c) argb[4 * i + c] = c == 0 && bpp == 3 ? 255 : uint8_t(pixels[bpp * i + (c + 3) % 4]);
    RotationSetup setup;
    MakeRotationSetup(s.angles[0], s.angles[1], s.angles[2], s.offset, s.method, setup);
    const Rect frame{0, 0, int16_t(h), int16_t(w)};
    RotatePixelsReference(setup, argb.data(), w * 4, out.data(), w * 4, w, h, Rel2Rect(s.rect, frame), true);
    std::string result(pixels.size(), '\0');
    for (size_t i = 0; i < size_t(w) * h; ++i)
        for (int c = 0; c < bpp; ++c) result[bpp * i + c] = char(out[4 * i + (c + 1) % 4]);
    return result;
}

// The same at 16 bits: packed little-endian RGB words (rgb48le) in and out.
inline std::string Rotated64(const std::string& pixels, int w, int h, const Settings& s) {
    const size_t n = size_t(w) * h;
    std::vector<uint16_t> argb(n * 4), out(argb.size());
    for (size_t i = 0; i < n; ++i) {
        argb[4 * i] = 65535;
        for (int c = 0; c < 3; ++c)
            argb[4 * i + 1 + c] = uint16_t(uint8_t(pixels[6 * i + 2 * c]) | uint8_t(pixels[6 * i + 2 * c + 1]) << 8);
    }
    RotationSetup64 setup;
    MakeRotationSetup64(s.angles[0], s.angles[1], s.angles[2], s.offset, s.method, setup);
    const Rect frame{0, 0, int16_t(h), int16_t(w)};
    RotatePixelsReference64(setup, reinterpret_cast<const uint8_t*>(argb.data()), w * 8,
                            reinterpret_cast<uint8_t*>(out.data()), w * 8, w, h, Rel2Rect(s.rect, frame), true);
    std::string result(pixels.size(), '\0');
    for (size_t i = 0; i < n; ++i)
        for (int c = 0; c < 3; ++c) {
            result[6 * i + 2 * c] = char(out[4 * i + 1 + c] & 255);
            result[6 * i + 2 * c + 1] = char(out[4 * i + 1 + c] >> 8);
        }
    return result;
}
