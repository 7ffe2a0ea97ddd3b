// vexolumen: runs the plug-in bundle over video files, as a host would.
// The command line is read against the option table; each command has one
// handler here that turns its options into a call of the command itself.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/log.h>
}

#include "app/AppError.h"
#include "app/cli/OptionTable.h"
#include "app/cli/Options.h"
#include "app/commands/Commands.h"
#include "app/commands/ConfigCommand.h"
#include "app/commands/Lut.h"

#ifndef VX_VERSION
#define VX_VERSION "0"
#endif

namespace {

struct Invocation {
    const CommandSpec* command = nullptr;  // nil: none given
    ParsedArgs args;
    const char* argv0 = "vexolumen";

    const std::string* Value(const char* name) const {
        const auto it = args.values.find(name);
        return it == args.values.end() ? nullptr : &it->second;
    }
    PluginBundle Bundle() const {
        const std::string* dir = Value("--bundle");
        return PluginBundle(dir ? *dir : DefaultBundleDir(argv0));
    }
    // Exactly n words besides the options, or the usage line.
    void NeedPositional(size_t n) const {
        if (args.positional.size() == n) return;
        const std::string help = CommandHelp(*command);
        throw AppError(help.substr(0, help.find('\n')), kUsageStatus);
    }
    int64_t FrameAt() const {
        const std::string* v = Value("--at");
        return v ? ParseInteger("--at", *v, 0, INT32_MAX) : 0;
    }
};

Invocation Parse(int argc, char** argv) {
    std::vector<std::string> words(argv + 1, argv + argc);
    Invocation inv;
    inv.argv0 = argv[0];
    std::set<std::string> valued, flags;
    for (const char* name : CommonOptions()) (FindOption(name)->value ? valued : flags).insert(name);
    // The command is the first word that is not an option (or an option's value).
    for (size_t i = 0; i < words.size(); ++i) {
        if (valued.count(words[i])) {
            ++i;
            continue;
        }
        if (words[i].empty() || words[i][0] == '-') continue;
        inv.command = FindCommand(words[i]);
        if (!inv.command) throw AppError("unknown command '" + words[i] + "' (see vexolumen --help)", kUsageStatus);
        words.erase(words.begin() + long(i));
        break;
    }
    if (inv.command)
        for (const char* name : inv.command->options)
            (FindOption(name, inv.command->name)->value ? valued : flags).insert(name);
    inv.args = ParseArgs(words, valued, flags, inv.command ? inv.command->name : "vexolumen");
    return inv;
}

// Settled before any command runs, so that no work is done with the wrong settings.
void ApplyCommonOptions(const Invocation& inv) {
    InstallLibraryLog(inv.args.Has("--verbose"));
    const std::string* dir = inv.Value("--config-dir");
    if (!dir) return;
    CheckConfigDir(*dir);
    // The preferences lookup ignores a relative XDG_CONFIG_HOME, as the
    // standard says; a folder named on the command line is meant as given.
    std::error_code ec;
    const std::string absolute = std::filesystem::absolute(*dir, ec).string();
    setenv("XDG_CONFIG_HOME", ec ? dir->c_str() : absolute.c_str(), 1);
}

void Info(const Invocation& inv) {
    inv.NeedPositional(0);
    RunInfo(inv.Bundle());
}

RenderOptions RenderOptionsOf(const Invocation& inv) {
    RenderOptions o;
    o.in = inv.args.positional[0];
    o.out = inv.args.positional[1];
    if (auto v = inv.Value("--from")) o.from = ParseInteger("--from", *v, 0, INT32_MAX);
    if (auto v = inv.Value("--frames")) o.frames = ParseInteger("--frames", *v, 1, INT32_MAX);
    if (auto v = inv.Value("--fade-in")) o.fadeIn = int32_t(ParseInteger("--fade-in", *v, 0, INT32_MAX));
    if (auto v = inv.Value("--fade-out")) o.fadeOut = int32_t(ParseInteger("--fade-out", *v, 0, INT32_MAX));
    if (auto v = inv.Value("--sliders")) {
        const std::vector<double> s = ParseNumberList("--sliders", *v, 3);
        for (int i = 0; i < 3; ++i) o.sliders[i] = float(s[size_t(i)]);
        o.slidersGiven = true;
    }
    if (auto v = inv.Value("--size")) ParseSize("--size", *v, &o.width, &o.height);
    if (auto v = inv.Value("--codec")) o.codec = *v;
    if (auto v = inv.Value("--crf")) o.crf = int(ParseInteger("--crf", *v, 0, 63));
    if (auto v = inv.Value("--profile")) o.profile = *v;
    if (auto v = inv.Value("--format")) o.format = *v;
    if (auto v = inv.Value("--segment")) {
        const size_t slash = v->find('/');
        if (slash == std::string::npos) throw AppError("--segment: '" + *v + "' is not K/N", kUsageStatus);
        o.segments = ParseInteger("--segment", v->substr(slash + 1), 1, INT32_MAX);
        o.segment = ParseInteger("--segment", v->substr(0, slash), 1, o.segments);
    }
    o.autorotate = !inv.args.Has("--no-autorotate");
    o.fastConvert = inv.args.Has("--fast-convert");
    if (auto v = inv.Value("--depth")) o.depth = ParseChoice("--depth", *v, {"8", "16"}) == 1 ? 8 : 16;
    o.proxy = inv.args.Has("--proxy");
    o.overwrite = inv.args.Has("--overwrite");
    o.progress = inv.args.Has("--progress") || isatty(2);
    return o;
}

void Render(const Invocation& inv) {
    inv.NeedPositional(2);
    const RenderOptions o = RenderOptionsOf(inv);
    InstallInterruptHandler();
    const RenderStats s = RunRender(o, inv.Bundle());
    if (!o.progress) return;
    std::fprintf(stderr, "vexolumen: wrote %s: %lld frames in %.2f s (%.1f fps); plug-in %.2f s (%.0f%%)%s\n",
                 Printable(o.out).c_str(), static_cast<long long>(s.frames), s.seconds,
                 s.seconds > 0 ? double(s.frames) / s.seconds : 0.0, s.pluginSeconds,
                 s.seconds > 0 ? 100.0 * s.pluginSeconds / s.seconds : 0.0,
                 !s.audio ? "" : s.audioCopied ? "; audio copied" : "; audio re-encoded");
}

void Join(const Invocation& inv) {
    const std::vector<std::string>& p = inv.args.positional;
    if (p.size() < 2) throw AppError("usage: vexolumen join OUT PART... [--source IN] [-y]", kUsageStatus);
    JoinOptions o;
    o.overwrite = inv.args.Has("--overwrite");
    o.progress = inv.args.Has("--progress") || isatty(2);
    if (auto v = inv.Value("--source")) o.source = *v;
    InstallInterruptHandler();
    RunJoin(p[0], {p.begin() + 1, p.end()}, o);
}

void Thumbnail(const Invocation& inv) {
    inv.NeedPositional(2);
    const int64_t at = inv.FrameAt();
    InstallInterruptHandler();
    RunThumbnail(inv.args.positional[0], inv.args.positional[1], at, inv.args.Has("--overwrite"), inv.Bundle());
}

void Configure(const Invocation& inv) {
    inv.NeedPositional(1);
    const int64_t at = inv.FrameAt();
    // Checked before the plug-in hears anything, so that nothing changes.
    if (!HaveDisplay())
        throw AppError("configure: no display (set DISPLAY or WAYLAND_DISPLAY, or QT_QPA_PLATFORM); nothing changed");
    RunConfigure(inv.args.positional[0], at, inv.Bundle());
}

ConfigChanges ConfigChangesOf(const Invocation& inv) {
    ConfigChanges c;
    if (auto v = inv.Value("--angles")) {
        const std::vector<double> n = ParseNumberList("--angles", *v, 3);
        for (int i = 0; i < 3; ++i) {
            // The dialog's sliders reach a full turn either way.
            if (n[size_t(i)] < -200 || n[size_t(i)] > 200 || n[size_t(i)] != double(int64_t(n[size_t(i)])))
                throw AppError("--angles: '" + *v + "' needs whole numbers in -200..200", kUsageStatus);
            c.angles[i] = int16_t(n[size_t(i)]);
        }
    }
    if (auto v = inv.Value("--offset")) c.offset = ParseHexColor("--offset", *v);
    if (auto v = inv.Value("--method")) c.method = ParseChoice("--method", *v, {"clamp", "wrap", "reflect"});
    if (auto v = inv.Value("--rect")) {
        const std::vector<double> n = ParseNumberList("--rect", *v, 4);
        c.rect = RelRect{n[0], n[1], n[2], n[3]};
    }
    if (auto v = inv.Value("--standard")) c.standard = ParseChoice("--standard", *v, {"ntsc", "pal", "hd"});
    if (auto v = inv.Value("--preset")) ApplyPreset(*v, c);
    return c;
}

void Config(const Invocation& inv) {
    if (inv.args.positional.size() != 1)
        throw AppError("usage: vexolumen config show|set|reset|presets", kUsageStatus);
    const std::string& sub = inv.args.positional[0];
    const auto& v = inv.args.values;
    const bool changes = v.size() > (v.count("--bundle") + v.count("--config-dir"));
    if (sub == "show" || sub == "reset" || sub == "presets") {
        if (changes) throw AppError("config " + sub + ": takes no settings (use config set)", kUsageStatus);
        sub == "show" ? RunConfigShow() : sub == "reset" ? RunConfigReset() : RunConfigPresets();
    } else if (sub == "set") {
        const ConfigChanges c = ConfigChangesOf(inv);
        if (!changes) throw AppError("config set: nothing to set (see vexolumen config --help)", kUsageStatus);
        RunConfigSet(c);
    } else {
        throw AppError("config: unknown action '" + sub + "' (show, set or reset)", kUsageStatus);
    }
}

void Lut(const Invocation& inv) {
    inv.NeedPositional(1);
    LutOptions o;
    o.out = inv.args.positional[0];
    if (auto v = inv.Value("--preset")) o.preset = *v;
    if (auto v = inv.Value("--level")) o.level = int(ParseInteger("--level", *v, 2, 16));
    if (auto v = inv.Value("--size")) o.size = int(ParseInteger("--size", *v, 2, 256));
    if (auto v = inv.Value("--layout")) o.obsLayout = ParseChoice("--layout", *v, {"hald", "obs"}) == 2;
    o.overwrite = inv.args.Has("--overwrite");
    o.progress = inv.args.Has("--progress") || isatty(2);
    InstallInterruptHandler();
    RunLut(o);
}

const std::map<std::string, void (*)(const Invocation&)> kHandlers = {
    {"info", Info},           {"render", Render},       {"join", Join},
    {"thumbnail", Thumbnail}, {"configure", Configure}, {"config", Config},
    {"lut", Lut},
};

// Text for standard output that must arrive: a full disk or a closed
// standard output is a failure, not a success.
void Say(const std::string& text) {
    errno = 0;
    std::fputs(text.c_str(), stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        throw AppError(std::string("cannot write to standard output: ") + std::strerror(errno ? errno : EIO));
}

// A closed standard descriptor would be taken by the next file opened, and
// output meant for it would land there: hold each place with /dev/null,
// opened so that writes to a closed standard output still fail.
void HoldStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        const int held = open("/dev/null", fd == 2 ? O_WRONLY : O_RDONLY);
        if (held >= 0 && held != fd) {
            dup2(held, fd);
            close(held);
        }
    }
}

int Run(int argc, char** argv) {
    const Invocation inv = Parse(argc, argv);
    if (inv.args.Has("--version")) {
        Say(std::string("vexolumen ") + VX_VERSION + "\n");
        return 0;
    }
    if (inv.args.Has("--help")) {
        Say(inv.command ? CommandHelp(*inv.command) : MainHelp());
        return 0;
    }
    if (!inv.command) {
        std::fputs(MainHelp().c_str(), stderr);
        return kUsageStatus;
    }
    ApplyCommonOptions(inv);
    kHandlers.at(inv.command->name)(inv);
    Say("");
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
    HoldStandardDescriptors();
    try {
        return Run(argc, argv);
    } catch (const AppError& e) {
        return Fail(e.what(), e.status);
    } catch (const std::exception& e) {
        return Fail(e.what(), 1);
    }
}
