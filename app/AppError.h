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

// Exit status of a run stopped by Ctrl-C, as shells report SIGINT.
constexpr int kInterruptedStatus = 130;

// Text of an FFmpeg error code.
std::string AVErrorText(int errnum);

// Set from the SIGINT/SIGTERM handler; long loops poll it.
bool Interrupted();
void InstallInterruptHandler();
