// A libFuzzer-free driver for the normal build: replays the corpus, then a
// few thousand pseudo-random and mutated inputs, with a fixed seed so a
// failure repeats. Usage: resfile_fuzz_smoke [-runs=N] corpus-dir-or-file...
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes Load(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void Run(const Bytes& b) { LLVMFuzzerTestOneInput(b.data(), b.size()); }

// Values that sit on the edges of the format's checks.
const uint32_t kEdges[] = {0, 1, 2, 15, 16, 28, 30, 255, 256, 0x7FFF, 0x8000, 0xFFFE, 0xFFFF,
                           0x10000, 0xFFFFFF, 0x7FFFFFFF, 0xFFFFFFF0, 0xFFFFFFFF};

Bytes Mutate(Bytes b, std::mt19937& rng) {
    const int steps = 1 + int(rng() % 4);
    for (int s = 0; s < steps; ++s) {
        const size_t at = b.empty() ? 0 : rng() % b.size();
        switch (rng() % 6) {
            case 0:  // flip a byte
                if (!b.empty()) b[at] ^= uint8_t(1u << (rng() % 8));
                break;
            case 1:  // an edge value, 16 or 32 bits, big-endian
                if (b.size() >= 4 && at + 4 <= b.size()) {
                    const uint32_t v = kEdges[rng() % (sizeof kEdges / sizeof kEdges[0])];
                    if (rng() % 2) {
                        b[at] = uint8_t(v >> 8);
                        b[at + 1] = uint8_t(v);
                    } else {
                        for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (24 - 8 * i));
                    }
                }
                break;
            case 2:  // truncate
                b.resize(at);
                break;
            case 3:  // append noise
                for (int i = int(rng() % 64); i > 0; --i) b.push_back(uint8_t(rng()));
                break;
            case 4:  // copy a span over another (shared or looping offsets)
                if (b.size() > 8) {
                    const size_t from = rng() % (b.size() - 4), to = rng() % (b.size() - 4);
                    std::memmove(&b[to], &b[from], 4);
                }
                break;
            default:  // a random byte
                if (!b.empty()) b[at] = uint8_t(rng());
        }
    }
    return b;
}

}  // namespace

int main(int argc, char** argv) {
    long runs = 3000;
    std::vector<Bytes> corpus;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "-runs=", 6) == 0) {
            runs = std::strtol(argv[i] + 6, nullptr, 10);
            continue;
        }
        const fs::path p = argv[i];
        if (fs::is_directory(p)) {
            for (const auto& e : fs::directory_iterator(p))
                if (e.is_regular_file()) corpus.push_back(Load(e.path()));
        } else {
            corpus.push_back(Load(p));
        }
    }
    for (const Bytes& b : corpus) Run(b);
    std::mt19937 rng(20261206);
    for (long i = 0; i < runs; ++i) {
        if (corpus.empty() || i % 4 == 0) {
            Bytes b(rng() % 1024);
            for (auto& x : b) x = uint8_t(rng());
            Run(b);
        } else {
            Run(Mutate(corpus[size_t(rng()) % corpus.size()], rng));
        }
    }
    std::printf("%s: %zu corpus files, %ld generated inputs, no failure\n", argv[0], corpus.size(), runs);
    return 0;
}
