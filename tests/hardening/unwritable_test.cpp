// Full file systems and read-only preferences: every write that cannot be
// made fails with one clear line, and what was there before stays.
#include <gtest/gtest.h>

#include <cstdio>

#include "AppRunner.h"
#include "pipeline/prefsloader.h"

namespace {

using hard::Outcome;

class Unwritable : public ::testing::Test {
protected:
    void SetUp() override {
        dir = hard::MakeScratch("vx-unwritable");
        config = dir + "/config";
        std::filesystem::create_directory(config);
    }
    void TearDown() override {
        for (const std::string& m : mounts) umount2(m.c_str(), MNT_DETACH);
        if (!readOnly.empty()) hard::UndoReadOnly(config, readOnly);
        std::filesystem::remove_all(dir);
    }

    // A small full-able folder: a tmpfs when the system lets us mount one,
    // else a plain folder and a cap on the size of files the program writes.
    std::string SmallPlace(long bytes, long& fileLimit) {
        const std::string place = dir + "/small";
        std::filesystem::create_directory(place);
        fileLimit = 0;
        if (hard::MountTmpfs(place, bytes)) {
            mounts.push_back(place);
        } else {
            std::printf("cannot mount a tmpfs (%s); capping the file size instead\n", std::strerror(errno));
            fileLimit = bytes;
        }
        return place;
    }

    std::string dir, config, readOnly;
    std::vector<std::string> mounts;
};

TEST_F(Unwritable, RenderOntoFullFileSystemFailsAndKeepsTheOldResult) {
    const std::string in = dir + "/in.mkv";
    hard::Ffmpeg("-f lavfi -i testsrc2=size=160x120:rate=25 -frames:v 60 -c:v mpeg4 -q:v 2 " + in);
    long fileLimit = 0;
    const std::string place = SmallPlace(16 * 1024, fileLimit);
    const std::string out = place + "/out.mkv";

    // A fresh name: nothing appears.
    Outcome r = hard::Vexolumen({"render", in, out, "--codec", "mpeg4"}, config, 30, fileLimit);
    ASSERT_TRUE(hard::OneClearLine(r));
    EXPECT_NE(r.err.find(out), std::string::npos) << r.err;
    EXPECT_TRUE(hard::Listing(place).empty());

    // Replacing an older result: it stays as it was.
    hard::WriteFile(out, "an older render");
    r = hard::Vexolumen({"render", in, out, "-y", "--codec", "mpeg4"}, config, 30, fileLimit);
    ASSERT_TRUE(hard::OneClearLine(r));
    EXPECT_EQ(hard::Listing(place), std::vector<std::string>{"out.mkv"});
    EXPECT_EQ(hard::ReadFile(out), "an older render");
}

TEST_F(Unwritable, RenderIntoReadOnlyFolderFailsWithOneLine) {
    const std::string in = dir + "/in.png";
    hard::Ffmpeg("-f lavfi -i testsrc=size=32x24 -frames:v 1 " + in);
    const std::string place = dir + "/results";
    std::filesystem::create_directory(place);
    hard::WriteFile(place + "/out.png", "an older render");
    const std::string how = hard::MakeReadOnly(place);
    if (how.empty()) GTEST_SKIP() << "cannot make a read-only folder here";
    const Outcome r = hard::Vexolumen({"render", in, place + "/out.png", "-y"}, config, 20);
    hard::UndoReadOnly(place, how);
    EXPECT_TRUE(hard::OneClearLine(r));
    EXPECT_EQ(hard::Listing(place), std::vector<std::string>{"out.png"});
    EXPECT_EQ(hard::ReadFile(place + "/out.png"), "an older render");
}

TEST_F(Unwritable, ConfigSetOnFullFileSystemKeepsTheOldSettings) {
    long fileLimit = 0;
    const std::string place = SmallPlace(8 * 1024, fileLimit);
    ASSERT_EQ(hard::Vexolumen({"config", "set", "--angles", "1,2,3"}, place, 10).status, 0);
    const std::string before = hard::ReadFile(place + "/pelzo-Prefs");
    ASSERT_FALSE(before.empty());
    if (fileLimit == 0) {
        // Fill what is left.
        std::FILE* f = std::fopen((place + "/filler").c_str(), "wb");
        ASSERT_NE(f, nullptr);
        const std::string block(4096, 'x');
        while (std::fwrite(block.data(), 1, block.size(), f) == block.size() && std::fflush(f) == 0) {
        }
        std::fclose(f);
    } else {
        fileLimit = 64;
    }
    const Outcome r = hard::Spawn({VX_APP_BIN, "config", "set", "--angles", "4,5,6", "--config-dir", place},
                              hard::TimeLimit(10), fileLimit);
    EXPECT_TRUE(hard::OneClearLine(r));
    EXPECT_EQ(hard::ReadFile(place + "/pelzo-Prefs"), before);
    for (const std::string& name : hard::Listing(place)) EXPECT_TRUE(name == "pelzo-Prefs" || name == "filler") << name;
}

TEST_F(Unwritable, ReadOnlyPreferencesRefuseSavesAndStillRender) {
    ASSERT_EQ(hard::Vexolumen({"config", "set", "--angles", "10,20,30", "--method", "wrap"}, config, 10).status, 0);
    const std::string before = hard::ReadFile(config + "/pelzo-Prefs");
    readOnly = hard::MakeReadOnly(config);
    if (readOnly.empty()) GTEST_SKIP() << "cannot make a read-only folder here (no bind mount, chattr or chmod)";

    for (const char* what : {"set", "reset"}) {
        const Outcome r = what == std::string("set")
                          ? hard::Vexolumen({"config", "set", "--angles", "1,1,1"}, config, 10)
                          : hard::Vexolumen({"config", "reset"}, config, 10);
        EXPECT_TRUE(hard::OneClearLine(r)) << "config " << what;
        EXPECT_NE(r.err.find(config), std::string::npos) << r.err;
    }
    EXPECT_EQ(hard::ReadFile(config + "/pelzo-Prefs"), before);

    // The plug-in's own save says no; its reader still has the old record.
    setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    PluginDataRec record{};
    record.sliders[0] = 99;
    EXPECT_FALSE(SaveConfig(&record));
    PluginDataRec back{};
    ASSERT_TRUE(ReadConfig(&back));
    EXPECT_EQ(back.sliders[0], 10);
    EXPECT_EQ(back.method, 2);
    EXPECT_EQ(hard::ReadFile(config + "/pelzo-Prefs"), before);
    unsetenv("XDG_CONFIG_HOME");

    // Loading the plug-in writes the settings back; that failing is silent.
    const std::string in = dir + "/in.png", out = dir + "/out.png";
    hard::Ffmpeg("-f lavfi -i testsrc=size=32x24 -frames:v 1 " + in);
    const Outcome r = hard::Vexolumen({"render", in, out}, config, 20);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(std::filesystem::exists(out));
}

// Whatever sits where the preferences file belongs is neither waited on,
// read without end, nor replaced; the program goes on with the defaults.
TEST_F(Unwritable, OddThingsAtThePreferencesPathNeitherHangNorAreReplaced) {
    const std::string in = dir + "/in.png", out = dir + "/out.png", prefs = config + "/pelzo-Prefs";
    hard::Ffmpeg("-f lavfi -i testsrc=size=32x24 -frames:v 1 " + in);
    const char* kinds[] = {"fifo", "endless device", "folder", "link to itself", "oversized"};
    for (const char* kind : kinds) {
        std::filesystem::remove_all(prefs);
        const std::string k = kind;
        if (k == "fifo") {
            ASSERT_EQ(mkfifo(prefs.c_str(), 0644), 0);
        }
        if (k == "endless device") std::filesystem::create_symlink("/dev/zero", prefs);
        if (k == "folder") std::filesystem::create_directory(prefs);
        if (k == "link to itself") std::filesystem::create_symlink(prefs, prefs);
        if (k == "oversized") {
            hard::WriteFile(prefs, "x");
            ASSERT_EQ(truncate(prefs.c_str(), 65 << 20), 0);
        }
        const auto before = std::filesystem::symlink_status(prefs).type();

        Outcome r = hard::Vexolumen({"config", "show"}, config, 10);
        EXPECT_FALSE(r.timedOut) << kind;
        EXPECT_EQ(r.status, 0) << kind << ": " << r.err;
        r = hard::Vexolumen({"render", in, out, "-y"}, config, 20);
        EXPECT_FALSE(r.timedOut) << kind;
        EXPECT_EQ(r.status, 0) << kind << ": " << r.err;
        // A warning that the file is not used may come first.
        r = hard::Vexolumen({"config", "set", "--angles", "1,2,3"}, config, 10);
        EXPECT_FALSE(r.timedOut) << kind;
        EXPECT_TRUE(r.status > 0 && r.status < 128) << kind << ": " << r.status;
        EXPECT_NE(r.err.find(prefs + ": cannot save"), std::string::npos) << kind << ": " << r.err;
        EXPECT_EQ(std::filesystem::symlink_status(prefs).type(), before) << kind;
    }
}

// A relative --config-dir is a folder like any other, not a reason to fall
// back to the user's real settings.
TEST_F(Unwritable, RelativeConfigDirIsTheFolderNamed) {
    std::filesystem::create_directory(dir + "/home");
    const Outcome r = hard::Spawn({VX_APP_BIN, "config", "set", "--angles", "7,8,9", "--config-dir", "config"},
                              hard::TimeLimit(10), 0, {"HOME=" + dir + "/home", "XDG_CONFIG_HOME="}, dir);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(std::filesystem::exists(config + "/pelzo-Prefs"));
    EXPECT_FALSE(std::filesystem::exists(dir + "/home/.config/pelzo-Prefs"));
}

}  // namespace
