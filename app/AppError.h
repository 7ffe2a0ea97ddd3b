// The program's one failure type: a one-line message for the user and the
// exit status to leave with.
#pragma once
#include <signal.h>

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
// FFmpeg's log: shown with --verbose, and its first error on each thread kept
// for failures whose code says little ("Invalid argument").
void InstallLibraryLog(bool verbose);
void ForgetLibraryError();
// The first error FFmpeg logged on this thread since ForgetLibraryError, as
// one line; else the text of errnum.
std::string LibraryReason(int errnum);

// Set by SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGUSR1 or SIGUSR2; long loops poll it,
// and the program then ends with InterruptStatus() (128 + the signal). A
// second such signal ends it at once, removing what AddInterruptCleanup
// listed.
bool Interrupted();
int InterruptStatus();
std::string InterruptName();  // "SIGTERM"
void InstallInterruptHandler();
// A temporary for a second signal to remove: `name` in the open folder
// dirFd; with folderFd (that folder, open), the files in it first. Returns
// a slot for DropInterruptCleanup, or -1 when none is free.
int AddInterruptCleanup(int dirFd, const char* name, int folderFd = -1);
void DropInterruptCleanup(int slot);
// Removes the files in the folder open as folderFd, then the folder `name`
// in dirFd; safe in a signal handler.
void RemovePrivateFolder(int dirFd, const char* name, int folderFd);

// Held while a temporary is made and listed for AddInterruptCleanup: an
// ending signal waits until both are done, so none can come between them.
struct EndingSignalsHeld {
    EndingSignalsHeld();
    ~EndingSignalsHeld();
    EndingSignalsHeld(const EndingSignalsHeld&) = delete;
    EndingSignalsHeld& operator=(const EndingSignalsHeld&) = delete;

private:
    sigset_t saved_;
};

// Held by a thread that may block reading a pipe: the signal is passed on
// to it, so that the read gives way.
struct InterruptWakes {
    InterruptWakes();
    ~InterruptWakes();
    InterruptWakes(const InterruptWakes&) = delete;
    InterruptWakes& operator=(const InterruptWakes&) = delete;
};
