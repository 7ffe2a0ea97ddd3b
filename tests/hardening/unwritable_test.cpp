// Full file systems and read-only places: every write that cannot be made
// fails with one clear line, and what was there before stays.
#include <sys/mount.h>
#include <sys/stat.h>

#include <functional>

#include "HardeningSupport.h"
#include "pipeline/prefsloader.h"

namespace {

using Args = std::vector<std::string>;
namespace fs = std::filesystem;

class Unwritable : public ::testing::Test {
protected:
    void TearDown() override {
        for (const std::string& place : undo) umount2(place.c_str(), MNT_DETACH), chmod(place.c_str(), 0755);
        fs::remove_all(dir);
    }

    // A folder no write goes into: a small tmpfs (`bytes` > 0) or, when the
    // system refuses the mount, a cap of `bytes` on the size of any file the
    // program writes, returned in fileLimit; or read-only (`bytes` == 0, made
    // after `before` has run), "" when that cannot be done here.
    std::string Place(long bytes, long& fileLimit, const std::function<void(const std::string&)>& before) {
        const std::string place = dir + (bytes ? "/full" : "/read-only"), size = "size=" + std::to_string(bytes);
        fs::create_directory(place);
        undo.push_back(place);
        const bool mounted = bytes > 0 && mount("tmpfs", place.c_str(), "tmpfs", 0, size.c_str()) == 0;
        fileLimit = bytes > 0 && !mounted ? bytes : 0;
        before(place);
        return bytes > 0 || ReadOnly(place) ? place : "";
    }
    // A read-only bind mount of itself (even root, which needs the right to
    // mount, as for a tmpfs, cannot write there), else for others its mode.
    static bool ReadOnly(const std::string& p) {
        return (mount(p.c_str(), p.c_str(), nullptr, MS_BIND, nullptr) == 0 &&
                mount(nullptr, p.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0) ||
               (geteuid() != 0 && chmod(p.c_str(), 0555) == 0);
    }

    std::string dir = hard::MakeScratch("vx-unwritable"), in = dir + "/in.mkv", png = dir + "/in.png";
    std::vector<std::string> undo;  // folders mounted on or made read-only
};

// A render to a fresh name leaves nothing, and one replacing an older result
// leaves it as it was.
TEST_F(Unwritable, RenderOntoFullOrReadOnlyPlaceFailsAndKeepsTheOldResult) {
    hard::Ffmpeg("-f lavfi -i testsrc2=size=160x120:rate=25 -frames:v 60 -c:v mpeg4 -q:v 2 " + in);
    for (const long bytes : {16 * 1024, 0}) {
        long fileLimit = 0;
        const std::string place =
            Place(bytes, fileLimit, [](const std::string& p) { hard::WriteFile(p + "/out.mkv", "an older render"); });
        if (place.empty()) GTEST_SKIP() << "cannot make a read-only folder here";
        for (const std::string& out : {place + "/new.mkv", place + "/out.mkv"})
            EXPECT_TRUE(hard::OneClearLine(
                hard::Vexolumen({"render", in, out, "-y", "--codec", "mpeg4"}, dir, 30, fileLimit), out));
        EXPECT_EQ(hard::Listing(place), Args{"out.mkv"});
        EXPECT_EQ(hard::ReadFile(place + "/out.mkv"), "an older render");
    }
}

// Saving settings into a full or read-only folder fails with one line; the
// old settings stay, for the program and for the plug-in, which still renders.
TEST_F(Unwritable, SettingsThatCannotBeSavedStayAsTheyWere) {
    hard::Ffmpeg("-f lavfi -i testsrc=size=32x24 -frames:v 1 " + png);
    for (const long bytes : {8 * 1024, 0}) {
        long fileLimit = 0;
        const std::string place = Place(bytes, fileLimit, [&](const std::string& p) {
            // Named relative to the working folder: not a reason to use the user's own settings.
            const Args set{VX_APP_BIN, "config", "set", "--angles", "10,20,30", "--method", "wrap", "--config-dir",
                           fs::path(p).filename().string()};
            const hard::Outcome r =
                hard::Spawn(set, hard::TimeLimit(10), 0, {"HOME=/nonexistent", "XDG_CONFIG_HOME="}, dir);
            ASSERT_EQ(r.status, 0) << r.err;
            if (bytes && !fileLimit) std::system(("cat /dev/zero > " + p + "/filler 2>/dev/null").c_str());
        });
        if (place.empty()) GTEST_SKIP() << "cannot make a read-only folder here";
        const std::string prefs = place + "/pelzo-Prefs", before = hard::ReadFile(prefs);
        ASSERT_FALSE(before.empty());
        for (const Args& args : {Args{"config", "set", "--angles", "1,1,1"}, Args{"config", "reset"}})
            EXPECT_TRUE(hard::OneClearLine(hard::Vexolumen(args, place, 10, fileLimit ? 64 : 0), place)) << args[1];
        EXPECT_EQ(hard::ReadFile(prefs), before);
        EXPECT_EQ(hard::Listing(place), (bytes && !fileLimit ? Args{"filler", "pelzo-Prefs"} : Args{"pelzo-Prefs"}));
        if (fileLimit) continue;  // the cap cannot be put on this process

        setenv("XDG_CONFIG_HOME", place.c_str(), 1);
        PluginDataRec record{};
        EXPECT_FALSE(SaveConfig(&record));
        ASSERT_TRUE(ReadConfig(&record));
        EXPECT_EQ(record.sliders[0], 10);
        EXPECT_EQ(record.method, 2);
        unsetenv("XDG_CONFIG_HOME");
        // Loading the plug-in writes the settings back; that failing is silent.
        const hard::Outcome r = hard::Vexolumen({"render", png, dir + "/out.png", "-y"}, place, 20);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(hard::ReadFile(prefs), before);
    }
}

// Whatever sits where the preferences file belongs is neither waited on,
// read without end, nor replaced; the program goes on with the defaults.
TEST_F(Unwritable, OddThingsAtThePreferencesPathNeitherHangNorAreReplaced) {
    const std::string prefs = dir + "/pelzo-Prefs";
    hard::Ffmpeg("-f lavfi -i testsrc=size=32x24 -frames:v 1 " + png);
    for (const std::string kind : {"fifo", "endless device", "folder", "link to itself", "oversized"}) {
        fs::remove_all(prefs);
        ASSERT_TRUE(kind != "fifo" || mkfifo(prefs.c_str(), 0644) == 0);
        if (kind == "endless device") fs::create_symlink("/dev/zero", prefs);
        if (kind == "folder") fs::create_directory(prefs);
        if (kind == "link to itself") fs::create_symlink(prefs, prefs);
        ASSERT_TRUE(kind != "oversized" || (hard::WriteFile(prefs, "x"), truncate(prefs.c_str(), 65 << 20) == 0));
        const auto type = fs::symlink_status(prefs).type();
        for (const Args& args : {Args{"config", "show"}, Args{"render", png, dir + "/out.png", "-y"}})
            EXPECT_EQ(hard::Vexolumen(args, dir, 20).status, 0) << kind << ", " << args[0];
        // A warning that the file is not used may come first.
        EXPECT_TRUE(hard::OneClearLine(hard::Vexolumen({"config", "set", "--angles", "1,2,3"}, dir, 10),
                                       prefs + ": cannot save")) << kind;
        EXPECT_EQ(fs::symlink_status(prefs).type(), type) << kind;
    }
}

}  // namespace
