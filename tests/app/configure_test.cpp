// The configure command drives the real dialog of the bundle: a scripted
// user changes the method and confirms, and the saved settings follow.
#if VX_HAVE_TOOLBOX
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>

#include "app/commands/Commands.h"
#include "platform/toolbox/ToolboxTesting.h"
#include "tests/app/AppTestSupport.h"

// Qt and the libraries under it keep caches for the life of the process.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\nleak:libQt6Gui\nleak:libQt6Widgets\nleak:libglib\n";
}

TEST_F(AppTest, ConfigureRunsTheDialogAndItsConfirmationIsSaved) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    Ffmpeg("-f lavfi -i testsrc2=size=64x48:rate=25:duration=1 -c:v png", P("clip.mov"));
    tbtest::Reset();
    tbtest::SetScripted(true);
    tbtest::PostPopup(FOUR_CHAR_CODE("Meth"), 1, 2);  // wrap
    tbtest::PostCommand(FOUR_CHAR_CODE("ok  "));

    const PluginBundle bundle(VX_BUNDLE_DIR);
    RunConfigure(P("clip.mov"), 5, bundle);
    EXPECT_FALSE(tbtest::ScriptRanDry()) << "the dialog closed by the script's OK";
    EXPECT_EQ(tbtest::PendingSteps(), 0u);
    const std::vector<std::string> windows = tbtest::CreatedWindows();
    EXPECT_TRUE(std::any_of(windows.begin(), windows.end(),
                            [](const std::string& w) { return w.find("configNTSC") != std::string::npos; }));
    tbtest::SetScripted(false);

    const RunResult r = Vx("config show");
    EXPECT_NE(r.out.find("source   saved"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("method   wrap"), std::string::npos) << r.out;
}
// The host says where it stands before the button is pressed, so the clip
// slider spans the clip from --at to its end, and stepping shows other frames.
TEST_F(AppTest, ConfigureStepsThroughTheClipFromItsStartingFrame) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    Ffmpeg("-f lavfi -i testsrc2=size=96x64:rate=25:duration=1 -c:v png", P("clip.mov"));  // 25 frames
    tbtest::Reset();
    tbtest::SetScripted(true);
    // What the editor shows: a checksum over its pixels.
    auto shown = [] {
        WindowRef w = GetFrontModalWindow();
        ControlRef editor = nullptr;
        const ControlID id{FOUR_CHAR_CODE("Clip"), 1};
        GetControlByID(w, &id, &editor);
        Rect b{};
        GetControlBounds(editor, &b);
        uint64_t sum = 0;
        for (int v = b.top; v < b.bottom; v += 3)
            for (int h = b.left; h < b.right; h += 3) sum = sum * 31 + tbtest::ScreenPixel(w, h, v);
        return sum;
    };
    auto position = [] { return tbtest::ControlText(GetFrontModalWindow(), FOUR_CHAR_CODE("ClpM"), 1); };
    std::vector<uint64_t> pictures;
    std::vector<std::string> positions;
    auto look = [&] {
        tbtest::PostCall([&] {
            pictures.push_back(shown());
            positions.push_back(position());
        });
    };
    look();
    tbtest::PostClick(FOUR_CHAR_CODE("Butn"), 2);  // one frame on
    look();
    tbtest::PostClick(FOUR_CHAR_CODE("Butn"), 1);  // and back
    look();
    tbtest::PostSliderDrag(FOUR_CHAR_CODE("ClpS"), 1, {19});  // the clip's last frame
    look();
    tbtest::PostClick(FOUR_CHAR_CODE("Butn"), 2);  // no further
    look();
    tbtest::PostCommand(FOUR_CHAR_CODE("not!"));

    const PluginBundle bundle(VX_BUNDLE_DIR);
    RunConfigure(P("clip.mov"), 5, bundle);
    tbtest::SetScripted(false);
    EXPECT_FALSE(tbtest::ScriptRanDry());
    EXPECT_EQ(positions, (std::vector<std::string>{"0/19", "1/19", "0/19", "19/19", "19/19"}));
    ASSERT_EQ(pictures.size(), 5u);
    EXPECT_NE(pictures[1], pictures[0]) << "the next frame is shown";
    EXPECT_EQ(pictures[2], pictures[0]) << "and the first again";
    EXPECT_NE(pictures[3], pictures[0]);
    EXPECT_EQ(pictures[4], pictures[3]);
}
// A damaged bundle stops the program at once with a line naming the file:
// no hang on a FIFO, no memory eaten by a device, no wait on an alert that
// nobody can see.
TEST_F(AppTest, BrokenBundlesFailFastNamingTheFile) {
    namespace fs = std::filesystem;
    Ffmpeg("-f lavfi -i testsrc2=size=64x48:rate=25:duration=0.2 -c:v png", P("clip.mov"));
    const std::string ntsc = "Resources/vexolumen.nib/configNTSC.ui", strings = "Resources/strings.txt";
    struct Case {
        const char* what;
        std::string file;  // in the bundle; named in the error
        std::function<void(const std::string&)> damage;
        const char* command;
        int status;
    };
    auto replace = [](const std::string& data) {
        return [data](const std::string& f) {
            fs::remove(f);
            WriteFile(f, data);
        };
    };
    auto fifo = [](const std::string& f) {
        fs::remove(f);
        ASSERT_EQ(mkfifo(f.c_str(), 0600), 0);
    };
    const std::string ui = ReadFile(std::string(VX_BUNDLE_DIR) + "/" + ntsc);
    const Case cases[] = {
        {"truncated window", ntsc, replace(ui.substr(0, ui.size() / 2)), "configure", 134},
        {"garbage window", ntsc, replace(std::string("\x89PNG\0\x01garbage", 14)), "configure", 134},
        {"window FIFO", ntsc, fifo, "configure", 134},
        {"window missing", ntsc, [](const std::string& f) { fs::remove(f); }, "configure", uint8_t(-43)},
        {"windows missing", "Resources/vexolumen.nib", [](const std::string& f) { fs::remove_all(f); }, "configure", 1},
        {"strings missing", strings, [](const std::string& f) { fs::remove(f); }, "info", 1},
        {"strings junk", strings, replace(std::string(4096, '\x01') + "\n[STR# 128]\nx\n"), "info", 1},
        {"strings FIFO", strings, fifo, "info", 1},
        {"strings /dev/zero", strings, [](const std::string& f) { fs::remove(f); fs::create_symlink("/dev/zero", f); },
         "info", 1},
        {"Info FIFO", "Info", fifo, "info", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string bundle = P("broken.plugin");
        fs::remove_all(bundle);
        fs::copy(VX_BUNDLE_DIR, bundle, fs::copy_options::recursive);
        const std::string file = bundle + "/" + c.file;
        c.damage(file);
        const std::string args = std::string(c.command) == "configure" ? "configure " + P("clip.mov") : "info";
        const auto start = std::chrono::steady_clock::now();
        const RunResult r = Vx("--bundle " + bundle + " " + args, "QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR=" + dir + " timeout 60");
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_LT(seconds, 30.0);
        const std::string named = std::string(c.file) == "Info" ? bundle : file;
        EXPECT_NE(r.err.find(named), std::string::npos) << r.err;
        EXPECT_LE(std::count(r.err.begin(), r.err.end(), '\n'), 2) << r.err;
        EXPECT_EQ(r.err.find("Qt"), std::string::npos) << r.err;
    }
}
#endif
