#include "app/cli/OptionTable.h"

#include <cctype>
#include <cstring>

namespace {

const std::vector<OptionSpec> kOptions = {
    // render
    {"--from", "N", "first input frame, from 0 (default 0)"},
    {"--frames", "N", "number of frames (default: to the end; 1 for .png, .jpg, .tif)"},
    {"--fade-in", "N", "the host's fade-in length in frames (default 0)"},
    {"--fade-out", "N", "the host's fade-out length in frames (default 0)"},
    {"--sliders", "A,B,C", "the host's slider values (default: the filter's)"},
    {"--proxy", nullptr, "ask for a quick (proxy) render"},
    {"--size", "WxH", "output size (default: the input's, upright)"},
    {"--codec", "NAME", "video encoder (e.g. libx264, png, ffv1, mpeg4, prores_ks)"},
    {"--crf", "N", "constant rate factor of the encoder"},
    {"--profile", "NAME", "the encoder's profile, as ffmpeg -profile:v (e.g. dnxhr_hq\nfor dnxhd, 4444 for prores_ks)"},
    {"--format", "NAME", "OUT's container, as ffmpeg -f names it (e.g. matroska, mp4)"},
    {"--no-autorotate", nullptr, "keep pictures as stored, with their rotation tag"},
    {"--overwrite", nullptr, "replace OUT when it exists"},
    {"--progress", nullptr, "report progress also when stderr is not a terminal"},
    {"--segment", "K/N",
     "render only part K (from 1) of N equal parts of the clip,\nwith fades where a whole render puts them; the "
     "parts\ngo back together with 'vexolumen join'"},
    {"--fast-convert", nullptr, "quicker conversions of decoded frames (a few codes off)\ninstead of the accurate ones"},
    {"--depth", "BITS", "bits a channel through the effect: 8 or 16 (default: 16\nfor sources deeper than 8 bits, else 8)",
     "8 16"},
    // join
    {"--source", "IN", "the clip the parts were rendered from, when it has moved"},
    // thumbnail, configure
    {"--at", "N", "the frame, from 0 (default 0)"},
    // config set
    {"--preset", "NAME", "start from a named look (see config presets)", "@presets"},
    {"--angles", "R,G,B", "slider values -200..200 about the red, green and blue axes"},
    {"--offset", "#RRGGBB", "the colour the rotation turns about ('#RRRRGGGGBBBB' for\n16 bits a channel)"},
    {"--method", "NAME", "what becomes of values out of range: clamp, wrap or reflect", "clamp wrap reflect"},
    {"--rect", "L,R,T,B", "the rectangle, in fractions of the frame"},
    {"--standard", "NAME", "the dialog's video standard: ntsc, pal or hd", "ntsc pal hd"},
    // lut
    {"--size", "N", "points a side of a .cube, 2..256 (default 65)", "", "lut"},
    {"--level", "L", "level of a Hald CLUT, 2..16 (default 16: every 8-bit colour)"},
    {"--layout", "NAME", "a .png's layout: hald (default) or obs (OBS's 512x512)", "hald obs"},
    // every command
    {"--bundle", "DIR", "the plug-in bundle (default: beside the program)", "@dir"},
    {"--config-dir", "DIR", "the preferences folder (default: $XDG_CONFIG_HOME or ~/.config)", "@dir"},
    {"--verbose", nullptr, "show FFmpeg's own messages too"},
    {"--help", nullptr, "this text"},
    {"--version", nullptr, "the program's version"},
};

const std::vector<const char*> kCommon = {"--bundle", "--config-dir", "--verbose", "--help", "--version"};

const std::vector<CommandSpec> kCommands = {
    {"info", "", "what the filter declares to a host",
     "Sends get-info and prints the filter's type, flags, group, sliders, button\n"
     "title and memory need.\n",
     {}},
    {"render", "IN OUT [options]", "filter a clip or a still into a new file",
     "Sends the filter initialize, one do-frame per output frame and terminate.\n"
     "IN is any clip or still FFmpeg reads, '-' (standard input) or a FIFO; OUT's\n"
     "extension picks the container: H.264 in .mp4, .mkv, .mov and .ts, VP9 in\n"
     ".webm, MPEG-4 in .avi, .gif, one picture in .png, .jpg or .tif, one file per\n"
     "frame for names like out_%04d.png. OUT '-' (standard output) or a FIFO is\n"
     "written in place, Matroska unless --format says otherwise. Every other\n"
     "file appears at OUT only when the render succeeds. A plain name is always\n"
     "a file, even with a colon in it.\n"
     "\n"
     "Frames, frame rate, time stamps (from 0, as ffmpeg has them), every audio\n"
     "and subtitle stream, chapters, titles, languages, colour tags and HDR data\n"
     "are kept; sound the container cannot hold is converted, anything else left\n"
     "out is named. Pictures stored turned (phone clips) are turned upright\n"
     "first. Sources deeper than 8 bits (10-bit HDR, 16-bit PNG) go through the\n"
     "effect at 16 bits a channel and are written at their own depth and chroma\n"
     "layout where the encoder has them; --depth 8 keeps the 8-bit effect. A\n"
     "pipe is read once: with --fade-in or --fade-out it is first copied to a\n"
     "temporary file beside OUT (the fades need its length); otherwise frames\n"
     "are counted as they come.\n",
     {"--from", "--frames", "--fade-in", "--fade-out", "--sliders", "--proxy", "--size", "--codec", "--crf",
      "--profile", "--format", "--no-autorotate", "--overwrite", "--progress", "--segment", "--fast-convert",
      "--depth"}},
    {"join", "OUT PART... [--source IN] [-y]", "put rendered segments together, without re-encoding",
     "Puts the parts of a render made with 'render --segment K/N' together into\n"
     "OUT without re-encoding, in the order of K whatever the order given: OUT\n"
     "holds the frames, times and sound of one render (with a lossless codec\n"
     "such as ffv1, its very frames). Parts carry only pictures; the sound,\n"
     "subtitles, attachments, chapters and tags are taken from the source once,\n"
     "as one render carries them. A set with a part missing or given twice, or\n"
     "parts of another clip or other settings, is refused naming the part. OUT\n"
     "is a video file, not a picture, and appears only when the join succeeds.\n",
     {"--source", "--overwrite", "--progress"}},
    {"thumbnail", "IN OUT.png [--at N] [-y]", "the filter's placeholder frame",
     "Sends the placeholder message for frame N (default 0) and writes the frame.\n", {"--at", "--overwrite"}},
    {"config",
     "show\nset [--preset NAME] [--angles R,G,B] [--offset '#RRGGBB']\n    [--method clamp|wrap|reflect] "
     "[--rect LEFT,RIGHT,TOP,BOTTOM]\n    [--standard ntsc|pal|hd]\nreset\npresets",
     "the saved settings (show, set, reset, presets)",
     "The saved settings that every render starts from. Angles are slider values\n"
     "-200..200 (100 = half turn) about the red, green and blue axes; the offset\n"
     "colour is the centre of the rotation; the rectangle is in fractions of the\n"
     "frame (0 to 1 spans it), left <= right and top <= bottom. --preset sets all\n"
     "of these from a named look; other options on the same line override its\n"
     "fields. 'config presets' lists the named looks.\n",
     {"--preset", "--angles", "--offset", "--method", "--rect", "--standard"}},
    {"lut", "OUT [--preset NAME] [--level L | --size N] [--layout hald|obs] [-y]",
     "the look's colour transform as a LUT (.png, .cube)",
     "Writes the colour transform of the saved settings (or of --preset NAME)\n"
     "as a lookup table, computed by the effect itself. OUT's extension picks\n"
     "the format: .png is a Hald CLUT of level L (default 16: 4096x4096, every\n"
     "8-bit colour, so a reader that looks up without interpolation gives the\n"
     "render's very bytes); .cube is a 3-D cube of N points a side (default 65)\n"
     "for readers that interpolate. --layout obs writes OBS Studio's 512x512\n"
     "layout instead. The rectangle and the fades are no part of a colour table.\n"
     "OUT appears only when complete.\n",
     {"--preset", "--level", "--size", "--layout", "--overwrite", "--progress"}},
    {"configure", "IN [--at N]", "the filter's settings dialog (needs a display)",
     "Opens the filter's settings dialog on frame N (default 0) of IN. Confirming\n"
     "saves the settings. Needs a display.\n",
     {"--at"}},
};

// "  --from N" padded to the help column, then the help's lines.
std::string OptionLines(const OptionSpec& o, size_t kColumn = 20) {
    std::string head = "  ";
    head += std::strcmp(o.name, "--overwrite") == 0 ? "-y, --overwrite" : o.name;
    if (o.value) head += std::string(" ") + o.value;
    std::string out = head + std::string(head.size() < kColumn ? kColumn - head.size() : 1, ' ');
    for (const char* c = o.help; *c; ++c) out += *c == '\n' ? "\n" + std::string(kColumn, ' ') : std::string(1, *c);
    return out + "\n";
}

// Each form of a command's usage on a line of its own; a form's
// continuation lines (indented in the table) line up after its first word.
std::string UsageLines(const CommandSpec& c) {
    const std::string prog = std::string("vexolumen ") + c.name;
    std::string out, forms = c.usage;
    size_t indent = 0;
    for (size_t start = 0;;) {
        const size_t nl = forms.find('\n', start);
        std::string form = forms.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
        if (form.rfind("    ", 0) == 0) {
            out += std::string(indent, ' ') + form.substr(4) + "\n";
        } else {
            out += (out.empty() ? "usage: " : "       ") + prog + (form.empty() ? "" : " " + form) + "\n";
            indent = 7 + prog.size() + 1 + form.find(' ') + 1;
        }
        if (nl == std::string::npos) return out;
        start = nl + 1;
    }
}

// roff text: hyphens as minus signs, so that they can be searched and copied.
std::string Roff(const std::string& text) {
    std::string out;
    for (char c : text) out += c == '-' ? "\\-" : c == '\\' ? "\\e" : c == '\n' ? " " : std::string(1, c);
    return out;
}

std::string Joined(const std::vector<std::string>& words) {
    std::string out;
    for (const std::string& w : words) out += (out.empty() ? "" : " ") + w;
    return out;
}

std::vector<std::string> CompletedOptions(const CommandSpec& c) {
    std::vector<std::string> words;
    for (const char* name : c.options) {
        words.push_back(name);
        if (std::strcmp(name, "--overwrite") == 0) words.push_back("-y");
    }
    return words;
}

}  // namespace

const std::vector<OptionSpec>& Options() { return kOptions; }
const std::vector<CommandSpec>& Commands() { return kCommands; }
const std::vector<const char*>& CommonOptions() { return kCommon; }

const OptionSpec* FindOption(const std::string& name, const char* command) {
    const OptionSpec* general = nullptr;
    for (const OptionSpec& o : kOptions) {
        if (name != o.name) continue;
        if (!o.command) general = general ? general : &o;
        else if (command && std::strcmp(command, o.command) == 0) return &o;
    }
    return general;
}

const CommandSpec* FindCommand(const std::string& name) {
    for (const CommandSpec& c : kCommands)
        if (name == c.name) return &c;
    return nullptr;
}

std::string MainHelp() {
    std::string out =
        "usage: vexolumen COMMAND [options]\n\nRuns the vexolumen colour-rotation filter over video files.\n\n"
        "commands:\n";
    for (const CommandSpec& c : kCommands) {
        std::string head = std::string("  ") + c.name;
        const std::string usage = c.usage;
        if (std::strcmp(c.name, "config") == 0) head += " show|set|reset";
        else if (!usage.empty()) head += " " + usage.substr(0, usage.find(" ["));
        out += head + std::string(head.size() < 28 ? 28 - head.size() : 1, ' ') + c.summary + "\n";
    }
    out += "\noptions of every command:\n";
    for (const char* name : kCommon) {
        if (std::strcmp(name, "--version") == 0) continue;
        if (std::strcmp(name, "--help") == 0) {
            out += "  --help, --version\n";
            continue;
        }
        out += OptionLines(*FindOption(name), 28);
    }
    return out + "\n'vexolumen COMMAND --help' describes a command.\n";
}

std::string CommandHelp(const CommandSpec& c) {
    std::string out = UsageLines(c) + "\n" + c.about;
    if (!c.options.empty()) out += "\n";
    for (const char* name : c.options) out += OptionLines(*FindOption(name, c.name));
    return out;
}

std::string ManPageOptions() {
    std::string out;
    for (const OptionSpec& o : kOptions) {
        const bool overwrite = std::strcmp(o.name, "--overwrite") == 0;
        out += ".TP\n";
        if (overwrite) out += ".BR \\-y \", \" " + Roff(o.name) + "\n";
        else if (o.value) out += ".BI " + Roff(o.name) + " \" " + Roff(o.value) + "\"\n";
        else out += ".B " + Roff(o.name) + "\n";
        std::string text = Roff(o.help);
        if (!text.empty()) text[0] = char(std::toupper(static_cast<unsigned char>(text[0])));
        out += text + ".\n";
    }
    return out;
}

std::string BashCompletion() {
    std::vector<std::string> commands, dirs, none;
    std::string valueCases;
    for (const CommandSpec& c : kCommands) commands.push_back(c.name);
    for (const OptionSpec& o : kOptions) {
        if (!o.value) continue;
        const std::string what = o.completes;
        if (what == "@dir") dirs.push_back(o.name);
        else if (what == "@presets")
            valueCases += std::string("        ") + o.name +
                          ")\n            COMPREPLY=($(compgen -W \"$(vexolumen config presets 2>/dev/null | awk "
                          "'/^[^ ]/ { print $1 }')\" -- \"$cur\"))\n            return ;;\n";
        else if (!what.empty())
            valueCases += std::string("        ") + o.name + ") COMPREPLY=($(compgen -W \"" + what +
                          "\" -- \"$cur\")); return ;;\n";
        else if (!o.command) none.push_back(o.name);  // the general meaning lists the name once
    }
    auto alternatives = [](const std::vector<std::string>& names) {
        std::string out;
        for (const std::string& n : names) out += (out.empty() ? "" : " | ") + n;
        return out;
    };
    std::string commandCases;
    for (const CommandSpec& c : kCommands) {
        const std::string opts = Joined(CompletedOptions(c));
        commandCases += std::string("        ") + c.name + ")\n";
        if (std::strcmp(c.name, "config") == 0)
            commandCases +=
                "            local action=\"\"\n"
                "            for ((i++; i < cword; i++)); do\n"
                "                [[ ${words[i]} != -* && ${words[i-1]} != --* ]] && { action=${words[i]}; break; }\n"
                "            done\n"
                "            if [[ -z $action ]]; then\n"
                "                COMPREPLY=($(compgen -W \"show set reset presets\" -- \"$cur\"))\n"
                "            elif [[ $action == set ]]; then\n"
                "                COMPREPLY=($(compgen -W \"" + opts + " $common\" -- \"$cur\"))\n"
                "            else\n"
                "                COMPREPLY=($(compgen -W \"$common\" -- \"$cur\"))\n"
                "            fi ;;\n";
        else if (std::string(c.usage).empty())
            commandCases += "            COMPREPLY=($(compgen -W \"$common\" -- \"$cur\")) ;;\n";
        else
            commandCases += "            if [[ $cur == -* ]]; then\n"
                            "                COMPREPLY=($(compgen -W \"" + opts + (opts.empty() ? "" : " ") +
                            "$common\" -- \"$cur\"))\n"
                            "            else\n"
                            "                _filedir\n"
                            "            fi ;;\n";
    }
    std::vector<std::string> common(kCommon.begin(), kCommon.end());
    return "# bash completion for vexolumen, made from the program's option table\n"
           "_vexolumen() {\n"
           "    local cur prev words cword\n"
           "    _init_completion || return\n\n"
           "    local common=\"" + Joined(common) + "\"\n"
           "    local command=\"\" i\n"
           "    for ((i = 1; i < cword; i++)); do\n"
           "        case ${words[i]} in\n"
           "            " + alternatives(dirs) + ") ((i++)) ;;\n"
           "            -*) ;;\n"
           "            *) command=${words[i]}; break ;;\n"
           "        esac\n"
           "    done\n\n"
           "    case $prev in\n"
           "        " + alternatives(dirs) + ") _filedir -d; return ;;\n" +
           valueCases +
           "        " + alternatives(none) + ") return ;;\n"
           "    esac\n\n"
           "    case $command in\n"
           "        \"\") COMPREPLY=($(compgen -W \"" + Joined(commands) + " $common\" -- \"$cur\")) ;;\n" +
           commandCases +
           "    esac\n"
           "}\n"
           "complete -F _vexolumen vexolumen\n";
}
