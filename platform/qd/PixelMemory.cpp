#include "PixelMemory.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

namespace {

constexpr size_t kAlign = 64;  // rows of wide buffers line up for vector loads

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kMapped = false;  // the sanitizer watches the heap, not our mappings
#else
constexpr bool kMapped = true;
#endif

// A frame's buffers come from the kernel on 2 MB pages where it allows: on
// 4 KB pages the first touch of an HD frame costs two thousand faults, which
// in a virtual machine outweigh the work done on the pixels.
constexpr size_t kHuge = size_t(2) << 20;

// A host and its plug-in make and drop buffers of one size every frame; the
// last few dropped are kept for the next request of their size, but only
// while a buffer of that size is still in use: when the host lets go of its
// last one, the render is over and the memory goes back at once. Stills too
// big to matter are returned at once.
constexpr size_t kKept = 2;
constexpr size_t kMaxKept = size_t(256) << 20;
struct Block {
    void* pixels;
    size_t length;
};
struct Pool {
    std::mutex mutex;
    std::vector<Block> kept;          // oldest first
    std::map<size_t, size_t> live;    // mapped buffers in use, by length
};
// Never destroyed: buffers may still be freed while the process exits.
Pool& ThePool() {
    static Pool* pool = new Pool;
    return *pool;
}

void* Map(size_t length) {
    // Room to start on a 2 MB boundary; the slack is unmapped again.
    void* raw = mmap(nullptr, length + kHuge, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (raw == MAP_FAILED) return nullptr;
    const auto start = reinterpret_cast<uintptr_t>(raw);
    const uintptr_t at = (start + kHuge - 1) / kHuge * kHuge;
    if (at > start) munmap(raw, at - start);
    if (const uintptr_t end = start + length + kHuge; end > at + length)
        munmap(reinterpret_cast<void*>(at + length), end - (at + length));
    void* pixels = reinterpret_cast<void*>(at);
    madvise(pixels, length, MADV_HUGEPAGE);  // a hint: without it 4 KB pages still work
    return pixels;
}

}  // namespace

void* AllocatePixels(size_t bytes, size_t* length) {
    if (!kMapped || bytes < kHuge) {
        const size_t rounded = (bytes + kAlign - 1) / kAlign * kAlign;
        void* pixels = std::aligned_alloc(kAlign, rounded);
        if (pixels) std::memset(pixels, 0, rounded);
        *length = 0;
        return pixels;
    }
    const size_t want = *length = (bytes + kHuge - 1) / kHuge * kHuge;
    Pool& pool = ThePool();
    void* reused = nullptr;
    {
        std::lock_guard lock(pool.mutex);
        for (auto k = pool.kept.begin(); k != pool.kept.end(); ++k)
            if (k->length == want) {
                reused = k->pixels;
                pool.kept.erase(k);
                ++pool.live[want];
                break;
            }
    }
    if (reused) {
        std::memset(reused, 0, want);  // outside the lock: other threads need not wait for it
        return reused;
    }
    void* pixels = Map(want);  // fresh mappings are zeroed by the kernel
    if (!pixels) return nullptr;
    std::lock_guard lock(pool.mutex);
    ++pool.live[want];
    return pixels;
}

void FreePixels(void* pixels, size_t length) {
    if (!pixels) return;
    if (length == 0) {
        std::free(pixels);
        return;
    }
    std::vector<Block> unmap{{pixels, length}};
    Pool& pool = ThePool();
    {
        std::lock_guard lock(pool.mutex);
        auto live = pool.live.find(length);
        if (live != pool.live.end() && --live->second > 0) {
            if (length <= kMaxKept) {
                pool.kept.push_back(unmap.back());
                unmap.pop_back();
                if (pool.kept.size() > kKept) {
                    unmap.push_back(pool.kept.front());
                    pool.kept.erase(pool.kept.begin());
                }
            }
        } else {
            if (live != pool.live.end()) pool.live.erase(live);
            for (auto k = pool.kept.begin(); k != pool.kept.end();)
                if (k->length == length) {
                    unmap.push_back(*k);
                    k = pool.kept.erase(k);
                } else {
                    ++k;
                }
        }
    }
    for (const Block& b : unmap) munmap(b.pixels, b.length);
}
