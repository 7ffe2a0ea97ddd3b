#include "app/cli/Options.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "app/AppError.h"

namespace {

[[noreturn]] void Bad(const std::string& option, const std::string& text, const std::string& what) {
    throw AppError(option + ": '" + text + "' is not " + what, kUsageStatus);
}

double ParseDouble(const std::string& option, const std::string& text) {
    if (text.empty()) Bad(option, text, "a number");
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (*end || errno == ERANGE || !std::isfinite(v)) Bad(option, text, "a number");
    return v;
}

}  // namespace

ParsedArgs ParseArgs(const std::vector<std::string>& args, const std::set<std::string>& valued,
                     const std::set<std::string>& flagNames, const std::string& command) {
    ParsedArgs out;
    bool onlyPositional = false;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string a = args[i];
        if (onlyPositional || a.size() < 2 || a[0] != '-') {
            out.positional.push_back(a);
            continue;
        }
        if (a == "--") {
            onlyPositional = true;
            continue;
        }
        if (a == "-y") a = "--overwrite";
        if (a == "-h") a = "--help";
        std::string value;
        bool hasValue = false;
        if (const size_t eq = a.find('='); a.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = a.substr(eq + 1);
            a = a.substr(0, eq);
            hasValue = true;
        }
        if (valued.count(a)) {
            if (!hasValue) {
                if (i + 1 >= args.size()) throw AppError(a + ": needs a value", kUsageStatus);
                value = args[++i];
            }
            out.values[a] = value;
        } else if (flagNames.count(a)) {
            if (hasValue) throw AppError(a + ": takes no value", kUsageStatus);
            out.flags.insert(a);
        } else {
            throw AppError("unknown option '" + a + "' for " + command + " (see vexolumen " + command +
                               " --help)",
                           kUsageStatus);
        }
    }
    return out;
}

int64_t ParseInteger(const std::string& option, const std::string& text, int64_t min, int64_t max) {
    errno = 0;
    char* end = nullptr;
    const long long v = text.empty() ? 0 : std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || *end || errno == ERANGE) Bad(option, text, "a whole number");
    if (v < min || v > max)
        throw AppError(option + ": " + text + " is out of range " + std::to_string(min) + ".." +
                           std::to_string(max),
                       kUsageStatus);
    return v;
}

std::vector<double> ParseNumberList(const std::string& option, const std::string& text, size_t count) {
    std::vector<double> out;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        out.push_back(ParseDouble(option, text.substr(start, comma - start)));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    if (out.size() != count)
        throw AppError(option + ": '" + text + "' needs " + std::to_string(count) + " comma-separated numbers",
                       kUsageStatus);
    return out;
}

void ParseSize(const std::string& option, const std::string& text, int* width, int* height) {
    const size_t x = text.find('x');
    if (x == std::string::npos) Bad(option, text, "a size like 1280x720");
    *width = int(ParseInteger(option, text.substr(0, x), 1, 32767));
    *height = int(ParseInteger(option, text.substr(x + 1), 1, 32767));
}

RGBColor ParseHexColor(const std::string& option, const std::string& text) {
    std::string hex = !text.empty() && text[0] == '#' ? text.substr(1) : text;
    if ((hex.size() != 6 && hex.size() != 12) || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        Bad(option, text, "a colour like '#RRGGBB' or '#RRRRGGGGBBBB'");
    const unsigned long long v = std::strtoull(hex.c_str(), nullptr, 16);
    // Sixteen bits a channel as given; each byte of '#RRGGBB' fills both
    // halves of its channel, as a colour picker does.
    if (hex.size() == 12) return RGBColor{uint16_t(v >> 32), uint16_t(v >> 16), uint16_t(v)};
    auto channel = [](unsigned long long byte) { return uint16_t(byte * 257); };
    return RGBColor{channel((v >> 16) & 255), channel((v >> 8) & 255), channel(v & 255)};
}

int16_t ParseChoice(const std::string& option, const std::string& text, const std::vector<std::string>& names) {
    std::string list;
    for (size_t i = 0; i < names.size(); ++i) {
        if (text == names[i]) return int16_t(i + 1);
        list += (i ? "|" : "") + names[i];
    }
    throw AppError(option + ": '" + text + "' is not one of " + list, kUsageStatus);
}
