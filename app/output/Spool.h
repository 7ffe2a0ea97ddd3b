// Inputs that are not plain files: read once, or kept in a file first.
#pragma once
#include <string>

// An input that is "-", "pipe:N", a FIFO, a terminal or a socket: read
// once, front to back. (Whether OUT is a stream, CheckOutput says.)
bool IsStreamPath(const std::string& path);

// A pipe's whole content copied into a private temporary file in dir, so that
// its frames can be counted before the first is rendered; removed again when
// the spool goes.
class Spool {
public:
    Spool(const std::string& in, const std::string& dir);
    ~Spool();
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;
    const std::string& Path() const { return path_; }

private:
    void Remove();

    std::string path_;
    int fd_ = -1;  // open while the file is read through /proc, nameless
};
