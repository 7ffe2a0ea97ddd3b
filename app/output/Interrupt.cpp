#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstring>

#include "app/AppError.h"

namespace {

constexpr int kEndings[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGUSR1, SIGUSR2};

volatile std::sig_atomic_t gSignal = 0;

// What a second signal removes before the program ends at once.
std::atomic<int> gCleanupDir{-1};
char gCleanupName[1024];

// Threads that may sit in a blocking read; a signal interrupts that read.
constexpr int kMaxWoken = 8;
std::atomic<pthread_t> gWoken[kMaxWoken];
int gWakeSignal = 0;

extern "C" void OnWake(int) {}

extern "C" void OnEnding(int sig) {
    if (gSignal != 0) {
        const int dir = gCleanupDir.load();
        if (dir >= 0) unlinkat(dir, gCleanupName, 0);
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

void SetInterruptCleanup(int dirFd, const char* name) {
    gCleanupDir = -1;
    if (dirFd < 0 || !name || std::strlen(name) >= sizeof gCleanupName) return;
    std::strcpy(gCleanupName, name);
    gCleanupDir = dirFd;
}

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
