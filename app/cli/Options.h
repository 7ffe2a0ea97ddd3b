// Command-line parsing: "--name value", "--name=value" and flags, in any
// order after the command. Every bad value becomes a one-line AppError that
// names the option (exit status 2).
#pragma once
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "pipeline/relRects.h"
#include "platform/qd/MacTypes.h"

struct ParsedArgs {
    std::vector<std::string> positional;
    std::map<std::string, std::string> values;  // options that take a value
    std::set<std::string> flags;                // options that do not
    bool Has(const std::string& name) const { return values.count(name) || flags.count(name); }
};

// valued and flagNames list the long names (with "--"); "-y" is "--overwrite"
// and "-h" is "--help".
ParsedArgs ParseArgs(const std::vector<std::string>& args, const std::set<std::string>& valued,
                     const std::set<std::string>& flagNames, const std::string& command);

int64_t ParseInteger(const std::string& option, const std::string& text, int64_t min, int64_t max);
// "A,B,C..." with exactly count numbers.
std::vector<double> ParseNumberList(const std::string& option, const std::string& text, size_t count);
void ParseSize(const std::string& option, const std::string& text, int* width, int* height);
RGBColor ParseHexColor(const std::string& option, const std::string& text);
// The choice's index in names, from 1.
int16_t ParseChoice(const std::string& option, const std::string& text, const std::vector<std::string>& names);
