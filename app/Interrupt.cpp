#include <csignal>

#include "app/AppError.h"

namespace {
volatile std::sig_atomic_t gInterrupted = 0;

extern "C" void OnInterrupt(int sig) {
    gInterrupted = 1;
    // A second Ctrl-C ends the program at once.
    std::signal(sig, SIG_DFL);
}
}  // namespace

bool Interrupted() { return gInterrupted != 0; }

void InstallInterruptHandler() {
    struct sigaction sa {};
    sa.sa_handler = OnInterrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
}
