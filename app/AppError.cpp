#include "app/AppError.h"

#include <cstdarg>
#include <cstdio>

extern "C" {
#include <libavutil/error.h>
#include <libavutil/log.h>
}

namespace {

thread_local std::string tLibraryError;

void LogCallback(void* avcl, int level, const char* fmt, va_list vl) {
    // The first error: later ones tend to be the callers' "... failed".
    if (level <= AV_LOG_ERROR && tLibraryError.empty()) {
        char line[512];
        int prefix = 0;
        va_list copy;
        va_copy(copy, vl);
        // Without the "[mpeg2video @ 0x...]" prefix: the message itself.
        av_log_format_line2(nullptr, level, fmt, copy, line, sizeof line, &prefix);
        va_end(copy);
        std::string text(line);
        for (char& c : text)
            if (c == '\n') c = ' ';  // the one line the user gets
        while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
        if (!text.empty()) tLibraryError = Printable(text);
    }
    av_log_default_callback(avcl, level, fmt, vl);
}

}  // namespace

void InstallLibraryLog(bool verbose) {
    av_log_set_level(verbose ? AV_LOG_INFO : AV_LOG_QUIET);
    av_log_set_callback(LogCallback);
}

void ForgetLibraryError() { tLibraryError.clear(); }

std::string LibraryReason(int errnum) { return tLibraryError.empty() ? AVErrorText(errnum) : tLibraryError; }

std::string Printable(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7f) {
            char code[8];
            std::snprintf(code, sizeof code, "\\x%02x", c);
            out += code;
        } else {
            out += char(c);
        }
    }
    return out;
}

std::string AVErrorText(int errnum) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(errnum, text, sizeof text);
    return text;
}
