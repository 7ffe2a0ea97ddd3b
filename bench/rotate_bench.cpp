// Speed of the colour rotation against a plain copy of the same frame, per
// kernel and thread count, for 32-bit and deep (64-bit) pixels. Counters give
// nanoseconds per pixel.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <time.h>

#include "effect/pixelEffect.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Frame {
    int32_t width, height, rowBytes;
    std::vector<uint8_t> src, dst;
    Frame(int32_t w, int32_t h) : width(w), height(h), rowBytes(w * 4 + 16) {
        src.resize(size_t(rowBytes) * h);
        dst.resize(src.size());
        // Noise: no colour repeats to flatter a cache or a branch predictor.
        std::mt19937 rng(42);
        for (auto& b : src) b = uint8_t(rng());
    }
};

Frame& FrameOf(int32_t w) {
    static Frame sd(720, 480), hd(1920, 1080);
    return w == 720 ? sd : hd;
}

// Deep frames: 8 bytes a pixel, the same noise.
struct DeepFrame {
    int32_t width, height, rowBytes;
    std::vector<uint8_t> src, dst;
    DeepFrame(int32_t w, int32_t h) : width(w), height(h), rowBytes(w * 8 + 16) {
        src.resize(size_t(rowBytes) * h);
        dst.resize(src.size());
        std::mt19937 rng(43);
        for (auto& b : src) b = uint8_t(rng());
    }
};

DeepFrame& DeepFrameOf(int32_t w) {
    static DeepFrame sd(720, 480), hd(1920, 1080);
    return w == 720 ? sd : hd;
}

// CPU time of the calling thread: on a machine busy with other work it shows
// what one thread's kernel costs, where the wall clock shows the waiting too.
double ThreadCpuNs() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e9 + double(t.tv_nsec);
}

// Nanoseconds per pixel of the last run of each frame size's plain copy; the
// copy is registered first, so every rotation can be set against it.
std::map<int32_t, double> gCopyNsPerPixel, gCopyCpuNsPerPixel;

double NsPerPixel(const benchmark::State& state, const Frame& f, Clock::time_point start) {
    const double ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
    return ns / (double(state.iterations()) * f.width * f.height);
}

void MemCopy(benchmark::State& state, int32_t w) {
    Frame& f = FrameOf(w);
    const double cpu0 = ThreadCpuNs();
    const auto start = Clock::now();
    for (auto _ : state) {
        std::memcpy(f.dst.data(), f.src.data(), f.src.size());
        benchmark::ClobberMemory();
    }
    const double ns = NsPerPixel(state, f, start);
    gCopyNsPerPixel[w] = ns;
    state.counters["ns_per_px"] = ns;
    const double cpu = (ThreadCpuNs() - cpu0) / (double(state.iterations()) * f.width * f.height);
    gCopyCpuNsPerPixel[w] = cpu;
    state.counters["cpu_ns_per_px"] = cpu;
}

// Runs body once an iteration and sets the per-pixel counters: wall time,
// and for one thread the thread's CPU time; against the 32-bit copy of the
// same width when againstCopy.
template <typename Body>
void TimeRotation(benchmark::State& state, int32_t w, int32_t h, int32_t threads, bool againstCopy, Body body) {
    const double cpu0 = ThreadCpuNs();
    const auto start = Clock::now();
    for (auto _ : state) {
        body();
        benchmark::ClobberMemory();
    }
    const double pixels = double(state.iterations()) * w * h;
    const double ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count() / pixels;
    state.counters["ns_per_px"] = ns;
    if (againstCopy && gCopyNsPerPixel.count(w)) state.counters["x_memcpy"] = ns / gCopyNsPerPixel[w];
    if (threads == 1) {
        const double cpu = (ThreadCpuNs() - cpu0) / pixels;
        state.counters["cpu_ns_per_px"] = cpu;
        if (againstCopy && gCopyCpuNsPerPixel.count(w)) state.counters["cpu_x_memcpy"] = cpu / gCopyCpuNsPerPixel[w];
    }
}

void Rotate(benchmark::State& state, int32_t w, int32_t h, int16_t kernel, int32_t threads, int16_t method) {
    Frame& f = FrameOf(w);
    RotationSetup setup;
    MakeRotationSetup(25, -30, 40, RGBColor{0x8000, 0x8000, 0x8000}, method, setup);
    if (!SetRotationKernel(setup, kernel)) {
        state.SkipWithError("kernel not supported on this processor");
        return;
    }
    setup.threads = threads;
    const Rect all{0, 0, int16_t(h), int16_t(w)};
    TimeRotation(state, w, h, threads, true, [&] {
        if (kernel == cRotateReference)
            RotatePixelsReference(setup, f.src.data(), f.rowBytes, f.dst.data(), f.rowBytes, w, h, all, true);
        else
            RotatePixels(setup, f.src.data(), f.rowBytes, f.dst.data(), f.rowBytes, w, h, all, true);
    });
}

void RotateDeep(benchmark::State& state, int32_t w, int32_t h, int16_t kernel, int32_t threads, int16_t method) {
    DeepFrame& f = DeepFrameOf(w);
    RotationSetup64 setup;
    MakeRotationSetup64(25, -30, 40, RGBColor{0x8000, 0x8000, 0x8000}, method, setup);
    if (!SetRotationKernel64(setup, kernel)) {
        state.SkipWithError("kernel not supported on this processor");
        return;
    }
    setup.threads = threads;
    const Rect all{0, 0, int16_t(h), int16_t(w)};
    TimeRotation(state, w, h, threads, false, [&] {
        if (kernel == cRotateReference)
            RotatePixelsReference64(setup, f.src.data(), f.rowBytes, f.dst.data(), f.rowBytes, w, h, all, true);
        else
            RotatePixels64(setup, f.src.data(), f.rowBytes, f.dst.data(), f.rowBytes, w, h, all, true);
    });
}

}  // namespace

// With --benchmark_repetitions, the fastest repetition is the least disturbed
// by other work on the machine.
double Fastest(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

int main(int argc, char** argv) {
    const char* methodNames[] = {"", "clamp", "wrap", "reflect"};
    for (auto [w, h] : {std::pair{720, 480}, std::pair{1920, 1080}}) {
        const std::string size = std::to_string(w) + "x" + std::to_string(h);
        benchmark::RegisterBenchmark(("memcpy/" + size).c_str(), MemCopy, w)->UseRealTime()->ComputeStatistics("min", Fastest);
        benchmark::RegisterBenchmark(("reference/clamp/t1/" + size).c_str(), Rotate, w, h, cRotateReference, 1, 1)
            ->UseRealTime()
            ->ComputeStatistics("min", Fastest);
        for (int16_t k : {cRotateTable, cRotateAVX2, cRotateAVX2Lanes, cRotateAVX512})
            for (int16_t method : {1, 2, 3})
                for (int32_t threads : {1, 2}) {
                    if (method != 1 && k == cRotateTable) continue;
                    const std::string name = std::string(RotationKernelName(k)) + "/" + methodNames[method] + "/t" +
                                             std::to_string(threads) + "/" + size;
                    benchmark::RegisterBenchmark(name.c_str(), Rotate, w, h, k, threads, method)
                        ->UseRealTime()
                        ->ComputeStatistics("min", Fastest);
                }
        benchmark::RegisterBenchmark(("deep-reference/clamp/t1/" + size).c_str(), RotateDeep, w, h,
                                     cRotateReference, 1, 1)
            ->UseRealTime()
            ->ComputeStatistics("min", Fastest);
        for (int16_t k : {cRotateTable, cRotateAVX2, cRotateAVX512})
            for (int16_t method : {1, 2, 3})
                for (int32_t threads : {1, 2}) {
                    if (method != 1 && k == cRotateTable) continue;
                    const std::string name = std::string(RotationKernel64Name(k)) + "/" + methodNames[method] +
                                             "/t" + std::to_string(threads) + "/" + size;
                    benchmark::RegisterBenchmark(name.c_str(), RotateDeep, w, h, k, threads, method)
                        ->UseRealTime()
                        ->ComputeStatistics("min", Fastest);
                }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
