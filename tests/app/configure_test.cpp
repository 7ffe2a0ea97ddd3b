// The configure command drives the real dialog of the bundle: a scripted
// user changes the method and confirms, and the saved settings follow.
#if VX_HAVE_TOOLBOX
#include <algorithm>

#include "app/Commands.h"
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
#endif
