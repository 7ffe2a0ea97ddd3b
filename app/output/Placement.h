// Every file the program writes is placed through here: a render's or a
// thumbnail's file, an image sequence, join's result and a pipe's spool.
//
// Work goes to a private temporary beside OUT (a file, or for a sequence a
// folder), created exclusively relative to an open folder descriptor; links
// are never followed, except ones this program made. The result is placed
// with a rename that, without -y, never replaces what appeared meanwhile;
// with -y a replaced regular file's mode and owner carry over, while a link
// at OUT is replaced by the file and its target left alone.
//
// Refused before any work, with one line naming OUT: another protocol than
// file:, a folder, an existing OUT without -y (for a sequence, any of its
// frame names), something that is neither a file nor a stream, a name too
// long to form in full, any place under /dev or /proc but the streams, and
// OUT that is one of the inputs under any spelling (links, hard links,
// file:, standard output open on it, the same image pattern).
//
// "-", "pipe:N", /dev/stdout, /dev/stderr, /dev/fd/N, /proc/self/fd/N and a
// FIFO or device named directly (not through a link) are streams: written
// in place, never replaced.
//
// A Placement belongs to one thread. Until placed or discarded, its
// temporary is listed for removal by a second ending signal.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// "a/b" -> {"a", "b"}, "b" -> {".", "b"}, "/b" -> {"/", "b"}.
struct PathParts {
    std::string folder, leaf;
};
PathParts SplitPath(const std::string& path);

// Lower-case extension of a path's last component, empty when it has none.
std::string Extension(const std::string& path);
// name_%04d.png and the like: one file per frame.
bool IsSequencePath(const std::string& path);
// One picture (.png, .jpg): the file holds a single frame.
bool IsStillPath(const std::string& path);

enum class OutputKind { Stream, File, Sequence };

struct OutputRequest {
    std::string out;                  // as the user gave it
    std::vector<std::string> inputs;  // never replaced, however OUT is spelled
    bool overwrite = false;           // -y
    int64_t frames = 1;               // a sequence's frames, at most: names 1..frames
    bool streamAllowed = true;
    bool sequenceAllowed = true;
    std::string work = "render";      // what OUT waits for, in messages
};

// What OUT is; throws AppError for what is refused. Creates nothing.
OutputKind CheckOutput(const OutputRequest& request);

// The name of frame n (from 1) of a sequence pattern, in full; AppError
// when FFmpeg would cut it short or it is too long for a file name.
std::string FrameName(const std::string& pattern, int64_t n);

class Placement {
public:
    // Checks again, removes what dead runs left for OUT, and makes the
    // temporary (or, for a stream, opens it).
    explicit Placement(const OutputRequest& request);
    ~Placement();  // discards unless placed
    Placement(const Placement&) = delete;
    Placement& operator=(const Placement&) = delete;

    OutputKind Kind() const { return kind_; }
    // What FFmpeg opens: "pipe:N" for a stream; for a file the temporary
    // through its descriptor; for a sequence the pattern inside the private
    // folder, reached through the folder's descriptor.
    const std::string& Url() const { return url_; }
    // Frames 1..frames of a sequence move out; a file takes OUT's name.
    // Throws, and removes the temporary, when it cannot.
    void Place(int64_t frames = 1);
    void Discard();

private:
    void Open();
    void OpenStream();
    void PlaceFile();
    void PlaceFrames(int64_t frames);
    void Fail(const std::string& what, const std::string& why);
    std::string Appeared() const;

    OutputRequest request_;
    OutputKind kind_;
    std::string folder_, leaf_, temp_, url_;
    int dirFd_ = -1, fd_ = -1;  // fd_: the temporary file, its folder, or the stream
    int cleanupSlot_ = -1;
    bool live_ = false;  // the temporary exists
};

// A new file in folder under an unguessable name starting with stem,
// created exclusively; its descriptor (or -1 and errno) and its path.
int CreateScratchFile(const std::string& folder, const std::string& stem, std::string* path);

// Whether a new file (or folder) can be made in folder: one is made under an
// unguessable name, exclusively, and removed at once. 0, or the errno.
int ProbeCreate(const std::string& folder, bool asFolder);
