// Command-line faults that used to pass in silence or fail for the wrong
// reason: an unusable settings folder, a save that does not say why it
// failed, a file name FFmpeg took for a protocol, a second video stream
// dropped without a word, output lost to a full or closed standard output,
// a size the scaler cannot reach blamed on the pixel format.
#include <functional>

#include "HardeningSupport.h"

namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

#ifdef VX_APP_BIN
struct Row {
    const char* name;
    Args args;               // after the program; {ROOT} is the scratch folder
    std::string configDir;   // {ROOT} too
    const char* stdoutTo;    // "" drops it; "/dev/full"; "-" closes it
    long fileLimit;
    int status;
    std::string stderrHas;   // {ROOT} too
    std::function<void(const std::string& root)> onDisk;  // what must be there afterwards
};

std::string Fill(std::string text, const std::string& root) {
    for (size_t at; (at = text.find("{ROOT}")) != std::string::npos;) text.replace(at, 6, root);
    return text;
}

hard::Outcome RunRow(const Row& row, const std::string& root) {
    Args argv = {VX_APP_BIN};
    for (const std::string& a : row.args) argv.push_back(Fill(a, root));
    argv.insert(argv.end(), {"--config-dir", Fill(row.configDir, root)});
    if (*row.stdoutTo) {
        const std::string redirect = std::string(row.stdoutTo) == "-" ? ">&-" : std::string(">") + row.stdoutTo;
        argv.insert(argv.begin(), {"/bin/sh", "-c", "exec \"$0\" \"$@\" " + redirect});
    }
    return hard::Spawn(argv, hard::TimeLimit(30), row.fileLimit, {}, root);
}

void Absent(const std::string& path) { EXPECT_FALSE(fs::exists(fs::symlink_status(path))) << path; }

// Only the clip and the settings named: no output, no temporary files.
void NothingWritten(const std::string& root) {
    Absent(root + "/out.mkv");
    for (const std::string& name : hard::Listing(root)) EXPECT_EQ(name.find(".vexolumen"), std::string::npos) << name;
}

std::string Streams(const std::string& path) {
    const std::string list = path + ".streams";
    std::system(("ffprobe -v error -show_entries stream=codec_type -of csv=p=0 '" + path + "' > '" + list + "'").c_str());
    return hard::ReadFile(list);
}

TEST(CliFaults, EachFailsWithItsReasonOrSucceeds) {
    const std::string root = hard::MakeScratch("vx-cli");
    const std::string cfg = root + "/cfg";
    fs::create_directory(cfg);
    hard::Ffmpeg("-f lavfi -i testsrc=size=32x24:rate=10 -frames:v 3 -c:v ffv1 '" + root + "/10:30.mkv'");
    fs::copy_file(root + "/10:30.mkv", root + "/clip.mkv");
    hard::Ffmpeg("-f lavfi -i color=c=red:s=2x2:r=10 -frames:v 1 -c:v ffv1 '" + root + "/tiny.mkv'");
    hard::Ffmpeg("-f lavfi -i testsrc=size=32x24:rate=10 -f lavfi -i testsrc2=size=48x32:rate=10 -map 0:v -map 1:v "
                 "-frames:v 3 -c:v ffv1 -c:v:1 mpeg4 '" + root + "/two.mkv'");
    hard::WriteFile(root + "/plain", "a file, not a folder\n");
    fs::create_symlink(root + "/gone", root + "/dangling");
    // The settings saved before the failed save below.
    ASSERT_EQ(hard::Vexolumen({"config", "set", "--angles", "4,5,6"}, cfg, 20).status, 0);
    const std::string saved = hard::ReadFile(cfg + "/pelzo-Prefs");
    auto keepsSettings = [&](const std::string&) { EXPECT_EQ(hard::ReadFile(cfg + "/pelzo-Prefs"), saved); };

    const Row rows[] = {
        // 1: a settings folder that cannot be one stops the command before any work.
        {"config dir is a file", {"render", "clip.mkv", "out.mkv"}, "{ROOT}/plain", "", 0, 2,
         "vexolumen: --config-dir: {ROOT}/plain: not a folder\n",
         [](const std::string& r) { NothingWritten(r); EXPECT_EQ(hard::ReadFile(r + "/plain"), "a file, not a folder\n"); }},
        {"config dir is a dangling link", {"render", "clip.mkv", "out.mkv"}, "{ROOT}/dangling", "", 0, 2,
         "--config-dir: {ROOT}/dangling: a link to nothing", [](const std::string& r) { NothingWritten(r); Absent(r + "/gone"); }},
        {"config dir is /dev/null", {"render", "clip.mkv", "out.mkv"}, "/dev/null", "", 0, 2,
         "--config-dir: /dev/null: not a folder", NothingWritten},
        {"config dir is /proc", {"render", "clip.mkv", "out.mkv"}, "/proc", "", 0, 2,
         "--config-dir: /proc: cannot hold the settings file: nothing new can be made there\n", NothingWritten},
        {"config dir cannot be made", {"info"}, "/proc/vexolumen", "", 0, 2,
         "--config-dir: /proc/vexolumen: cannot be made in /proc: nothing new can be made there\n", NothingWritten},
        {"config dir under a file", {"info"}, "{ROOT}/plain/cfg", "", 0, 2,
         "--config-dir: {ROOT}/plain/cfg: Not a directory", NothingWritten},
        // 2: a failed save says why, and the saved settings stay.
        {"save fails", {"config", "set", "--angles", "1,2,3"}, "{ROOT}/cfg", "", 100, 1,
         "vexolumen: {ROOT}/cfg/pelzo-Prefs: cannot save the settings: File too large\n", keepsSettings},
        // 3: a plain name is a file, though FFmpeg would read "10:" as a protocol.
        {"colon in the name", {"render", "10:30.mkv", "out.mkv"}, "{ROOT}/cfg", "", 0, 0, "",
         [](const std::string& r) { EXPECT_EQ(Streams(r + "/out.mkv"), "video\n"); }},
        {"missing name with a colon", {"render", "10:31.mkv", "out.mkv"}, "{ROOT}/cfg", "", 0, 1,
         "vexolumen: 10:31.mkv: No such file or directory\n", NothingWritten},
        // 4: the second video stream is named as left out.
        {"two video streams", {"render", "two.mkv", "out.mkv"}, "{ROOT}/cfg", "", 0, 0,
         "vexolumen: two.mkv: video stream 1 (mpeg4) left out; only the first is rendered\n",
         [](const std::string& r) { EXPECT_EQ(Streams(r + "/out.mkv"), "video\n"); }},
        // 5: output that never arrived is an error.
        {"info into a full disk", {"info"}, "{ROOT}/cfg", "/dev/full", 0, 1,
         "vexolumen: cannot write to standard output: No space left on device\n", keepsSettings},
        {"config show to a closed stdout", {"config", "show"}, "{ROOT}/cfg", "-", 0, 1,
         "vexolumen: cannot write to standard output: Bad file descriptor\n", keepsSettings},
        {"help into a full disk", {"render", "--help"}, "{ROOT}/cfg", "/dev/full", 0, 1,
         "cannot write to standard output: No space left on device", keepsSettings},
#if !defined(__SANITIZE_ADDRESS__)  // FFmpeg 5.1's swscale leaks its slices when a threaded init fails
        // 6: a size the scaler cannot reach names the option, not a pixel format.
        {"scaled beyond the scaler", {"render", "tiny.mkv", "out.mkv", "--size", "8000x8000", "--codec", "ffv1"},
         "{ROOT}/cfg", "", 0, 1, "vexolumen: --size: cannot scale 2x2 frames to 8000x8000: ", NothingWritten},
#endif
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove(root + "/out.mkv");
        const hard::Outcome r = RunRow(row, root);
        EXPECT_EQ(r.status, row.status) << r.err;
        const std::string want = Fill(row.stderrHas, root);
        if (want.empty()) {
            EXPECT_EQ(r.err, "");
        } else {
            EXPECT_NE(r.err.find(want), std::string::npos) << r.err;
        }
        if (row.status) {
            EXPECT_TRUE(hard::OneClearLine(r));
        }
        row.onDisk(root);
    }
    fs::remove_all(root);
}
#endif

}  // namespace
