#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>

#include "app/AppError.h"

namespace {

constexpr int kEndings[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGUSR1, SIGUSR2};

volatile std::sig_atomic_t gSignal = 0;

// What a second signal removes before the program ends at once: a fixed
// table, as a handler may not allocate.
struct Cleanup {
    std::atomic<bool> used{false}, ready{false};
    int dirFd = -1, folderFd = -1;
    char name[NAME_MAX + 1];
};
constexpr int kMaxCleanups = 8;
Cleanup gCleanups[kMaxCleanups];

// Threads that may sit in a blocking read; a signal interrupts that read.
constexpr int kMaxWoken = 8;
std::atomic<pthread_t> gWoken[kMaxWoken];
int gWakeSignal = 0;

extern "C" void OnWake(int) {}

extern "C" void OnEnding(int sig) {
    if (gSignal != 0) {
        for (Cleanup& c : gCleanups) {
            if (!c.ready.load()) continue;
            if (c.folderFd >= 0) RemovePrivateFolder(c.dirFd, c.name, c.folderFd);
            else unlinkat(c.dirFd, c.name, 0);
        }
        _exit(128 + sig);
    }
    gSignal = sig;
    for (auto& t : gWoken) {
        const pthread_t id = t.load();
        if (id && !pthread_equal(id, pthread_self())) pthread_kill(id, gWakeSignal);
    }
}

}  // namespace

bool Interrupted() { return gSignal != 0; }

int InterruptStatus() { return 128 + (gSignal ? int(gSignal) : SIGINT); }

std::string InterruptName() {
    const char* abbrev = gSignal ? sigabbrev_np(gSignal) : nullptr;
    return abbrev ? std::string("SIG") + abbrev : "a signal";
}

void InstallInterruptHandler() {
    gWakeSignal = SIGRTMIN + 1;
    struct sigaction sa {};
    sigemptyset(&sa.sa_mask);
    // No SA_RESTART: a blocked open or read returns, and the loop around it
    // sees the flag.
    sa.sa_handler = OnWake;
    sigaction(gWakeSignal, &sa, nullptr);
    sa.sa_handler = OnEnding;
    for (int sig : kEndings) sigaddset(&sa.sa_mask, sig);
    for (int sig : kEndings) sigaction(sig, &sa, nullptr);
}

int AddInterruptCleanup(int dirFd, const char* name, int folderFd) {
    if (dirFd < 0 || !name || std::strlen(name) > NAME_MAX) return -1;
    for (int i = 0; i < kMaxCleanups; ++i) {
        Cleanup& c = gCleanups[i];
        bool free = false;
        if (!c.used.compare_exchange_strong(free, true)) continue;
        c.dirFd = dirFd;
        c.folderFd = folderFd;
        std::strcpy(c.name, name);
        c.ready = true;
        return i;
    }
    return -1;
}

void DropInterruptCleanup(int slot) {
    if (slot < 0 || slot >= kMaxCleanups) return;
    gCleanups[slot].ready = false;
    gCleanups[slot].used = false;
}

void RemovePrivateFolder(int dirFd, const char* name, int folderFd) {
    const int fd = folderFd >= 0 ? openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
    // Removing while listing may skip names: list again until none is left.
    for (int pass = 0; fd >= 0 && pass < 8; ++pass) {
        lseek(fd, 0, SEEK_SET);
        alignas(8) char buf[4096];
        bool removed = false;
        for (ssize_t n; (n = getdents64(fd, buf, sizeof buf)) > 0;) {
            for (ssize_t at = 0; at < n;) {
                const auto* e = reinterpret_cast<const struct dirent64*>(buf + at);
                at += e->d_reclen;
                const char* s = e->d_name;
                if (s[0] == '.' && (s[1] == 0 || (s[1] == '.' && s[2] == 0))) continue;
                removed |= unlinkat(fd, s, 0) == 0;
            }
        }
        if (!removed) break;
    }
    if (fd >= 0) close(fd);
    unlinkat(dirFd, name, AT_REMOVEDIR);
}

EndingSignalsHeld::EndingSignalsHeld() {
    sigset_t endings;
    sigemptyset(&endings);
    for (int sig : kEndings) sigaddset(&endings, sig);
    pthread_sigmask(SIG_BLOCK, &endings, &saved_);
}

EndingSignalsHeld::~EndingSignalsHeld() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }

InterruptWakes::InterruptWakes() {
    for (auto& t : gWoken) {
        pthread_t empty{};
        if (t.compare_exchange_strong(empty, pthread_self())) return;
    }
}

InterruptWakes::~InterruptWakes() {
    for (auto& t : gWoken) {
        pthread_t self = pthread_self();
        if (t.compare_exchange_strong(self, pthread_t{})) return;
    }
}
