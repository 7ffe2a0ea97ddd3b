#include "effect/rotatePool.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

class RotatePool {
public:
    // Only in the process that started the workers: a forked child must not
    // even destroy the condition variables, whose waiters live in the parent.
    ~RotatePool() {
        {
            std::lock_guard<std::mutex> lk(m_);
            stop_ = true;
        }
        wake_.notify_all();
        for (auto& t : workers_) t.join();
    }

    bool InForkedChild() const { return !workers_.empty() && getpid() != owner_; }

    void Run(int32_t threads, int32_t chunks, RotateChunkProc proc, void* context) {
        std::unique_lock<std::mutex> caller(callMutex_, std::try_to_lock);
        int32_t helpers = threads - 1;
        if (helpers > chunks - 1) helpers = chunks - 1;
        // A forked child (a death test, a helper process) has none of the
        // parent's workers: waiting for them would never end.
        if (!caller.owns_lock() || helpers <= 0 || InForkedChild()) {
            for (int32_t c = 0; c < chunks; ++c) proc(context, c);
            return;
        }
        {
            std::lock_guard<std::mutex> lk(m_);
            owner_ = getpid();
            while (int32_t(workers_.size()) < helpers) {
                const int32_t index = int32_t(workers_.size());
                workers_.emplace_back([this, index, seen = generation_] { Work(index, seen); });
            }
            proc_ = proc;
            context_ = context;
            chunks_ = chunks;
            next_.store(0, std::memory_order_relaxed);
            wanted_ = helpers;
            open_ = true;
            ++generation_;
        }
        wake_.notify_all();
        Drain();
        // Close the job: a helper that has not joined yet (the machine may be
        // busy with other work) never will, so only those already inside,
        // which hold pointers into this call's job, are waited for.
        std::unique_lock<std::mutex> lk(m_);
        open_ = false;
        finished_.wait(lk, [this] { return busy_ == 0; });
    }

private:
    void Drain() {
        for (;;) {
            const int32_t c = next_.fetch_add(1, std::memory_order_relaxed);
            if (c >= chunks_) return;
            proc_(context_, c);
        }
    }

    void Work(int32_t index, uint64_t seen) {
        std::unique_lock<std::mutex> lk(m_);
        for (;;) {
            wake_.wait(lk, [&] { return stop_ || generation_ != seen; });
            if (stop_) return;
            seen = generation_;
            if (index >= wanted_ || !open_) continue;
            ++busy_;
            lk.unlock();
            Drain();
            lk.lock();
            if (--busy_ == 0) finished_.notify_one();
        }
    }

    std::mutex callMutex_;  // one frame at a time through the pool
    std::mutex m_;
    std::condition_variable wake_, finished_;
    std::vector<std::thread> workers_;
    uint64_t generation_ = 0;
    int32_t wanted_ = 0;
    int32_t busy_ = 0;      // helpers inside the current job
    bool open_ = false;     // helpers may still join the current job
    bool stop_ = false;
    pid_t owner_ = 0;  // the process the workers run in
    RotateChunkProc proc_ = nullptr;
    void* context_ = nullptr;
    int32_t chunks_ = 0;
    std::atomic<int32_t> next_{0};
};

struct PoolHolder {
    RotatePool* pool = new RotatePool;
    ~PoolHolder() {
        if (!pool->InForkedChild()) delete pool;  // else left as it is
    }
};

RotatePool& ThePool() {
    static PoolHolder holder;
    return *holder.pool;
}

}  // namespace

void RunRotateChunks(int32_t threads, int32_t chunks, RotateChunkProc proc, void* context) {
    if (chunks <= 0) return;
    if (threads <= 1 || chunks == 1) {
        for (int32_t c = 0; c < chunks; ++c) proc(context, c);
        return;
    }
    ThePool().Run(threads, chunks, proc, context);
}
