// The file a command writes: first a temporary file beside OUT that no one
// can plant or redirect, then placed at OUT in one rename. Without -y that
// rename never replaces what appeared at OUT meanwhile; OUT and the input
// may never be one file, however spelled.
#pragma once
#include <string>

// OUT without a "file:" prefix. Throws for other protocols and, before any
// work starts, for an OUT that exists (without overwrite), is not a regular
// file, or is the input itself.
std::string CheckOutput(const std::string& in, const std::string& out, bool overwrite);

class OutputFile {
public:
    // Runs CheckOutput, removes temporaries that renders which died left
    // for OUT, and creates this one's.
    OutputFile(const std::string& in, const std::string& out, bool overwrite);
    ~OutputFile();  // removes the temporary unless placed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // A name FFmpeg can open that reaches the temporary file itself, never
    // through its folder.
    const std::string& Url() const { return url_; }
    void Place();    // throws, and removes the temporary, when it cannot
    void Discard();

private:
    std::string in_, out_, leaf_, temp_, url_;
    bool overwrite_;
    int dirFd_ = -1, fd_ = -1;
};
