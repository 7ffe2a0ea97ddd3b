// vexolumen: runs the plug-in bundle over video files, as a host would.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "app/AppError.h"
#include "app/commands/Commands.h"
#include "app/commands/ConfigCommand.h"
#include "app/cli/Options.h"

#ifndef VX_VERSION
#define VX_VERSION "0"
#endif

namespace {

const char* kMainHelp =
    "usage: vexolumen COMMAND [options]\n"
    "\n"
    "Runs the vexolumen colour-rotation filter over video files.\n"
    "\n"
    "commands:\n"
    "  info                      what the filter declares to a host\n"
    "  render IN OUT             filter a clip or a still into a new file\n"
    "  join OUT PART...          put rendered segments together, without re-encoding\n"
    "  thumbnail IN OUT.png      the filter's placeholder frame\n"
    "  config show|set|reset     the saved settings\n"
    "  config presets            the named looks that config set --preset applies\n"
    "  configure IN              the filter's settings dialog (needs a display)\n"
    "\n"
    "options of every command:\n"
    "  --bundle DIR              the plug-in bundle (default: beside the program)\n"
    "  --config-dir DIR          the preferences folder (default: $XDG_CONFIG_HOME or ~/.config)\n"
    "  --verbose                 show FFmpeg's own messages too\n"
    "  --help, --version\n"
    "\n"
    "'vexolumen COMMAND --help' describes a command.\n";

const char* kRenderHelp =
    "usage: vexolumen render IN OUT [options]\n"
    "\n"
    "Sends the filter initialize, one do-frame per output frame and terminate.\n"
    "IN is any clip or still FFmpeg reads, '-' (standard input) or a FIFO; OUT's\n"
    "extension picks the container: H.264 in .mp4, .mkv, .mov and .ts, VP9 in\n"
    ".webm, MPEG-4 in .avi, .gif, one picture in .png or .jpg, one file per\n"
    "frame for names like out_%04d.png. OUT '-' (standard output) or a FIFO is\n"
    "written in place, Matroska unless --format says otherwise. Every other\n"
    "file appears at OUT only when the render succeeds.\n"
    "\n"
    "Frames, frame rate, time stamps, every audio and subtitle stream,\n"
    "chapters, titles, languages, colour tags and HDR data are kept; sound the\n"
    "container cannot hold is converted, anything else left out is named.\n"
    "Pictures stored turned (phone clips) are turned upright first. The effect\n"
    "works on 8-bit values: deeper sources are read and written at their own\n"
    "depth and chroma layout where the encoder has them. A pipe is read once:\n"
    "with --fade-in or --fade-out it is first copied to a temporary file beside\n"
    "OUT (the fades need its length); otherwise frames are counted as they come.\n"
    "\n"
    "  --from N          first input frame, from 0 (default 0)\n"
    "  --frames N        number of frames (default: to the end; 1 for .png, .jpg)\n"
    "  --fade-in N       the host's fade-in length in frames (default 0)\n"
    "  --fade-out N      the host's fade-out length in frames (default 0)\n"
    "  --sliders A,B,C   the host's slider values (default: the filter's)\n"
    "  --proxy           ask for a quick (proxy) render\n"
    "  --size WxH        output size (default: the input's, upright)\n"
    "  --codec NAME      video encoder (e.g. libx264, png, ffv1, mpeg4, prores_ks)\n"
    "  --crf N           constant rate factor of the encoder\n"
    "  --format NAME     OUT's container, as ffmpeg -f names it (e.g. matroska, mp4)\n"
    "  --no-autorotate   keep pictures as stored, with their rotation tag\n"
    "  -y, --overwrite   replace OUT when it exists\n"
    "  --progress        report progress also when stderr is not a terminal\n"
    "  --segment K/N     render only part K (from 1) of N equal parts of the clip,\n"
    "                    with fades where a whole render puts them; the parts\n"
    "                    go back together with 'vexolumen join'\n"
    "  --fast-convert    quicker conversions of decoded frames (a few codes off)\n"
    "                    instead of the accurate ones\n";

const char* kJoinHelp =
    "usage: vexolumen join OUT PART... [-y]\n"
    "\n"
    "Puts the parts of a render made with 'render --segment K/N' together, in\n"
    "the order given, into OUT without re-encoding: OUT holds the frames, times\n"
    "and sound of one render (with a lossless codec such as ffv1, its very\n"
    "frames). The parts must come from the same clip and settings. OUT appears\n"
    "only when the join succeeds.\n"
    "\n"
    "  -y, --overwrite   replace OUT when it exists\n";

const char* kThumbnailHelp =
    "usage: vexolumen thumbnail IN OUT.png [--at N] [-y]\n"
    "\n"
    "Sends the placeholder message for frame N (default 0) and writes the frame.\n";

const char* kConfigHelp =
    "usage: vexolumen config show\n"
    "       vexolumen config set [--preset NAME] [--angles R,G,B] [--offset '#RRGGBB']\n"
    "                            [--method clamp|wrap|reflect] [--rect LEFT,RIGHT,TOP,BOTTOM]\n"
    "                            [--standard ntsc|pal|hd]\n"
    "       vexolumen config reset\n"
    "       vexolumen config presets\n"
    "\n"
    "The saved settings that every render starts from. Angles are slider values\n"
    "-200..200 (100 = half turn) about the red, green and blue axes; the offset\n"
    "colour is the centre of the rotation; the rectangle is in fractions of the\n"
    "frame (0 to 1 spans it), left <= right and top <= bottom. --preset sets all\n"
    "of these from a named look; other options on the same line override its\n"
    "fields.\n";

const char* kConfigureHelp =
    "usage: vexolumen configure IN [--at N]\n"
    "\n"
    "Opens the filter's settings dialog on frame N (default 0) of IN. Confirming\n"
    "saves the settings. Needs a display.\n";

const char* kInfoHelp =
    "usage: vexolumen info\n"
    "\n"
    "Sends get-info and prints the filter's type, flags, group, sliders, button\n"
    "title and memory need.\n";

const std::set<std::string> kCommonValued = {"--bundle", "--config-dir"};
const std::set<std::string> kCommonFlags = {"--help", "--version", "--verbose"};

std::set<std::string> With(std::set<std::string> base, std::initializer_list<std::string> more) {
    base.insert(more.begin(), more.end());
    return base;
}

void NeedPositional(const ParsedArgs& a, size_t n, const char* usage) {
    if (a.positional.size() != n) {
        std::string line(usage);
        line = line.substr(0, line.find('\n'));
        throw AppError(line, kUsageStatus);
    }
}

int Run(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    // The command is the first word that is not an option (or an option's value).
    std::string command;
    for (size_t i = 0; i < args.size(); ++i) {
        if (kCommonValued.count(args[i])) {
            ++i;
            continue;
        }
        if (!args[i].empty() && args[i][0] != '-') {
            command = args[i];
            args.erase(args.begin() + long(i));
            break;
        }
    }
    if (command.empty()) {
        const ParsedArgs a = ParseArgs(args, kCommonValued, kCommonFlags, "vexolumen");
        if (a.Has("--version")) {
            std::printf("vexolumen %s\n", VX_VERSION);
            return 0;
        }
        if (a.Has("--help")) {
            std::fputs(kMainHelp, stdout);
            return 0;
        }
        std::fputs(kMainHelp, stderr);
        return kUsageStatus;
    }

    std::set<std::string> valued = kCommonValued, flags = kCommonFlags;
    const char* help = nullptr;
    if (command == "render") {
        valued = With(valued, {"--from", "--frames", "--fade-in", "--fade-out", "--sliders", "--size", "--codec", "--crf",
                               "--format", "--segment"});
        flags = With(flags, {"--proxy", "--overwrite", "--progress", "--no-autorotate", "--fast-convert"});
        help = kRenderHelp;
    } else if (command == "join") {
        flags = With(flags, {"--overwrite"});
        help = kJoinHelp;
    } else if (command == "thumbnail") {
        valued = With(valued, {"--at"});
        flags = With(flags, {"--overwrite"});
        help = kThumbnailHelp;
    } else if (command == "configure") {
        valued = With(valued, {"--at"});
        help = kConfigureHelp;
    } else if (command == "config") {
        valued = With(valued, {"--preset", "--angles", "--offset", "--method", "--rect", "--standard"});
        help = kConfigHelp;
    } else if (command == "info") {
        help = kInfoHelp;
    } else {
        throw AppError("unknown command '" + command + "' (see vexolumen --help)", kUsageStatus);
    }
    const ParsedArgs a = ParseArgs(args, valued, flags, command);
    if (a.Has("--help")) {
        std::fputs(help, stdout);
        return 0;
    }
    if (a.Has("--version")) {
        std::printf("vexolumen %s\n", VX_VERSION);
        return 0;
    }
    av_log_set_level(a.Has("--verbose") ? AV_LOG_INFO : AV_LOG_QUIET);
    if (a.values.count("--config-dir")) {
        const std::string dir = a.values.at("--config-dir");
        if (dir.empty()) throw AppError("--config-dir: needs a folder", kUsageStatus);
        CheckConfigDir(dir);
        // The preferences lookup ignores a relative XDG_CONFIG_HOME, as the
        // standard says; a folder named on the command line is meant as given.
        std::error_code ec;
        const std::string absolute = std::filesystem::absolute(dir, ec).string();
        setenv("XDG_CONFIG_HOME", ec ? dir.c_str() : absolute.c_str(), 1);
    }
    auto bundle = [&]() {
        const auto it = a.values.find("--bundle");
        return PluginBundle(it != a.values.end() ? it->second : DefaultBundleDir(argv[0]));
    };
    auto value = [&](const char* name) -> const std::string* {
        const auto it = a.values.find(name);
        return it == a.values.end() ? nullptr : &it->second;
    };

    if (command == "info") {
        NeedPositional(a, 0, help);
        RunInfo(bundle());
    } else if (command == "render") {
        NeedPositional(a, 2, help);
        RenderOptions o;
        o.in = a.positional[0];
        o.out = a.positional[1];
        if (auto v = value("--from")) o.from = ParseInteger("--from", *v, 0, INT32_MAX);
        if (auto v = value("--frames")) o.frames = ParseInteger("--frames", *v, 1, INT32_MAX);
        if (auto v = value("--fade-in")) o.fadeIn = int32_t(ParseInteger("--fade-in", *v, 0, INT32_MAX));
        if (auto v = value("--fade-out")) o.fadeOut = int32_t(ParseInteger("--fade-out", *v, 0, INT32_MAX));
        if (auto v = value("--sliders")) {
            const std::vector<double> s = ParseNumberList("--sliders", *v, 3);
            for (int i = 0; i < 3; ++i) o.sliders[i] = float(s[size_t(i)]);
            o.slidersGiven = true;
        }
        if (auto v = value("--size")) ParseSize("--size", *v, &o.width, &o.height);
        if (auto v = value("--codec")) o.codec = *v;
        if (auto v = value("--crf")) o.crf = int(ParseInteger("--crf", *v, 0, 63));
        if (auto v = value("--format")) o.format = *v;
        o.autorotate = !a.Has("--no-autorotate");
        if (auto v = value("--segment")) {
            const size_t slash = v->find('/');
            if (slash == std::string::npos) throw AppError("--segment: '" + *v + "' is not K/N", kUsageStatus);
            o.segments = ParseInteger("--segment", v->substr(slash + 1), 1, INT32_MAX);
            o.segment = ParseInteger("--segment", v->substr(0, slash), 1, o.segments);
        }
        o.fastConvert = a.Has("--fast-convert");
        o.proxy = a.Has("--proxy");
        o.overwrite = a.Has("--overwrite");
        const bool report = a.Has("--progress") || isatty(2);
        o.progress = report;
        InstallInterruptHandler();
        const RenderStats s = RunRender(o, bundle());
        if (report) {
            std::fprintf(stderr,
                         "vexolumen: wrote %s: %lld frames in %.2f s (%.1f fps); plug-in %.2f s (%.0f%%)%s\n",
                         Printable(o.out).c_str(), static_cast<long long>(s.frames), s.seconds,
                         s.seconds > 0 ? double(s.frames) / s.seconds : 0.0, s.pluginSeconds,
                         s.seconds > 0 ? 100.0 * s.pluginSeconds / s.seconds : 0.0,
                         !s.audio ? "" : s.audioCopied ? "; audio copied" : "; audio re-encoded");
        }
    } else if (command == "join") {
        if (a.positional.size() < 2) throw AppError("usage: vexolumen join OUT PART... [-y]", kUsageStatus);
        InstallInterruptHandler();
        RunJoin(a.positional[0], {a.positional.begin() + 1, a.positional.end()}, a.Has("--overwrite"));
    } else if (command == "thumbnail") {
        NeedPositional(a, 2, help);
        int64_t at = 0;
        if (auto v = value("--at")) at = ParseInteger("--at", *v, 0, INT32_MAX);
        InstallInterruptHandler();
        RunThumbnail(a.positional[0], a.positional[1], at, a.Has("--overwrite"), bundle());
    } else if (command == "configure") {
        NeedPositional(a, 1, help);
        int64_t at = 0;
        if (auto v = value("--at")) at = ParseInteger("--at", *v, 0, INT32_MAX);
        // Checked before the plug-in hears anything, so that nothing changes.
        if (!HaveDisplay())
            throw AppError("configure: no display (set DISPLAY or WAYLAND_DISPLAY, or QT_QPA_PLATFORM); nothing changed");
        RunConfigure(a.positional[0], at, bundle());
    } else {  // config
        if (a.positional.size() != 1) throw AppError("usage: vexolumen config show|set|reset|presets", kUsageStatus);
        const std::string& sub = a.positional[0];
        const bool changes = a.values.size() > (a.values.count("--bundle") + a.values.count("--config-dir"));
        if (sub == "show" || sub == "reset" || sub == "presets") {
            if (changes) throw AppError("config " + sub + ": takes no settings (use config set)", kUsageStatus);
            sub == "show" ? RunConfigShow() : sub == "reset" ? RunConfigReset() : RunConfigPresets();
        } else if (sub == "set") {
            ConfigChanges c;
            if (auto v = value("--angles")) {
                const std::vector<double> n = ParseNumberList("--angles", *v, 3);
                for (int i = 0; i < 3; ++i) {
                    // The dialog's sliders reach a full turn either way.
                    if (n[size_t(i)] < -200 || n[size_t(i)] > 200 || n[size_t(i)] != double(int64_t(n[size_t(i)])))
                        throw AppError("--angles: '" + *v + "' needs whole numbers in -200..200", kUsageStatus);
                    c.angles[i] = int16_t(n[size_t(i)]);
                }
            }
            if (auto v = value("--offset")) c.offset = ParseHexColor("--offset", *v);
            if (auto v = value("--method")) c.method = ParseChoice("--method", *v, {"clamp", "wrap", "reflect"});
            if (auto v = value("--rect")) {
                const std::vector<double> n = ParseNumberList("--rect", *v, 4);
                c.rect = RelRect{n[0], n[1], n[2], n[3]};
            }
            if (auto v = value("--standard")) c.standard = ParseChoice("--standard", *v, {"ntsc", "pal", "hd"});
            if (auto v = value("--preset")) ApplyPreset(*v, c);
            if (!changes) throw AppError("config set: nothing to set (see vexolumen config --help)", kUsageStatus);
            RunConfigSet(c);
        } else {
            throw AppError("config: unknown action '" + sub + "' (show, set or reset)", kUsageStatus);
        }
    }
    return 0;
}

int Fail(const std::string& message, int status) {
    if (Interrupted()) {
        // Whatever gave way first, the signal is the reason.
        if (message.rfind("interrupted", 0) != 0)
            std::fprintf(stderr, "vexolumen: interrupted by %s; nothing written\n", InterruptName().c_str());
        else
            std::fprintf(stderr, "vexolumen: %s\n", Printable(message).c_str());
        return InterruptStatus();
    }
    std::fprintf(stderr, "vexolumen: %s\n", Printable(message).c_str());
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    HoldClosedStandardStreams();
    try {
        const int status = Run(argc, argv);
        FlushStandardOutput();
        return status;
    } catch (const AppError& e) {
        return Fail(e.what(), e.status);
    } catch (const std::exception& e) {
        return Fail(e.what(), 1);
    }
}
