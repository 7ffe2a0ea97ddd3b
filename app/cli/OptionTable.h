// The command line as data: every command and option once, with its help
// text. Parsing, `--help`, the manual page's option list and the bash
// completion are all made from these tables, so none can fall behind.
#pragma once
#include <string>
#include <vector>

struct OptionSpec {
    const char* name;     // "--from"
    const char* value;    // "N"; nil for a flag
    const char* help;     // for --help; lines after the first are continued
    // What completes the value: a word list ("clamp wrap reflect"), "@dir",
    // "@presets", or "" for nothing.
    const char* completes = "";
    // The one command this meaning is for, where another command gives the
    // name another meaning; nil: every command that lists it.
    const char* command = nullptr;
};

struct CommandSpec {
    const char* name;      // "render"
    const char* usage;     // "IN OUT [options]"; more lines for more forms
    const char* summary;   // its line in vexolumen --help
    const char* about;     // what it does, for its --help
    std::vector<const char*> options;  // names in kOptions, besides the common ones
};

const std::vector<OptionSpec>& Options();
const std::vector<CommandSpec>& Commands();
// The options every command takes (--bundle, --config-dir, --verbose, --help, --version).
const std::vector<const char*>& CommonOptions();

// The option's meaning for the command (nil or "": the general one).
const OptionSpec* FindOption(const std::string& name, const char* command = nullptr);
const CommandSpec* FindCommand(const std::string& name);

// The texts made from the tables.
std::string MainHelp();
std::string CommandHelp(const CommandSpec& command);
std::string ManPageOptions();   // roff, for the OPTIONS section
std::string BashCompletion();   // a whole completion script
