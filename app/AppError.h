// The program's one failure type: a one-line message for the user and the
// exit status to leave with.
#pragma once
#include <stdexcept>
#include <string>

struct AppError : std::runtime_error {
    explicit AppError(const std::string& message, int exitStatus = 1)
        : std::runtime_error(message), status(exitStatus) {}
    int status;
};

// Exit status of a command line that is not understood.
constexpr int kUsageStatus = 2;
// Exit status of a run stopped by Ctrl-C, as shells report SIGINT.
constexpr int kInterruptedStatus = 130;

// Text with its control characters as \xNN: names and values from the
// command line or from files must not reach the terminal as such.
std::string Printable(const std::string& text);

// Text of an FFmpeg error code.
std::string AVErrorText(int errnum);

// Set by SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGUSR1 or SIGUSR2; long loops poll it,
// and the program then ends with InterruptStatus() (128 + the signal). A
// second such signal ends it at once, removing the file named by
// SetInterruptCleanup (a name in the open folder dirFd; -1 for none).
bool Interrupted();
int InterruptStatus();
std::string InterruptName();  // "SIGTERM"
void InstallInterruptHandler();
void SetInterruptCleanup(int dirFd, const char* name);

// Held by a thread that may block reading a pipe: the signal is passed on
// to it, so that the read gives way.
struct InterruptWakes {
    InterruptWakes();
    ~InterruptWakes();
    InterruptWakes(const InterruptWakes&) = delete;
    InterruptWakes& operator=(const InterruptWakes&) = delete;
};
