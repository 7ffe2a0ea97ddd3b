// The preferences file against a hostile second user and against careless
// ones: planted links, racing writers, another user's folder, records this
// version cannot read.
#include <sys/stat.h>

#include <random>

#include "HardeningSupport.h"
#include "pipeline/prefsloader.h"
#include "platform/resources/ResourceFormat.h"

namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

constexpr uid_t kOtherUid = 4242;  // a user that need not exist

std::string EmptyResourceFile() {
    std::vector<uint8_t> bytes;
    vxres::BuildResourceFile(vxres::ResourceImage{}, bytes);
    return std::string(bytes.begin(), bytes.end());
}

// The saved record as this process reads it.
bool Saved(const std::string& dir, PluginDataRec& rec) {
    setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    rec = PluginDataRec{};
    return ReadConfig(&rec);
}

void PlantLink(const std::string& target, const std::string& at) {
    symlink(target.c_str(), at.c_str());
    lchown(at.c_str(), kOtherUid, kOtherUid);
}

struct SettingsFiles : ::testing::Test {
    std::string root = hard::MakeScratch("vx-settings");
    std::string dir = root + "/shared", vault = root + "/vault";
    void SetUp() override {
        fs::create_directory(dir);
        fs::create_directory(vault);
        chmod(dir.c_str(), 01777);  // like /tmp: anyone may add names
        chmod(vault.c_str(), 0700);
    }
    void TearDown() override { fs::remove_all(root); }
};

#ifdef VX_APP_BIN
// Links at every name a writer used to take or might take; none of them is
// written through, and a link planted at the file itself is not either.
TEST_F(SettingsFiles, PlantedLinksAreNeverWrittenThrough) {
    const std::string text = vault + "/secret", resfile = vault + "/victim-Prefs";
    hard::WriteFile(text, "root's own words\n");
    hard::WriteFile(resfile, EmptyResourceFile());
    chmod(text.c_str(), 0600);
    const std::string textBefore = hard::ReadFile(text), resBefore = hard::ReadFile(resfile);
    std::mt19937 rng(11);
    const long guesses = hard::Knob("VX_SOAK_LINKS", 1000);
    const pid_t near = getpid();
    for (long i = 0; i < guesses; ++i) {
        PlantLink(text, dir + "/pelzo-Prefs.new" + std::to_string(near + i - guesses / 4));
        std::string random;
        for (int k = 0; k < 10; ++k) random += "ABCxyz0189"[rng() % 10];
        PlantLink(text, dir + "/.pelzo-Prefs." + std::to_string(near + i - guesses / 4) + "." + random);
    }
    const std::string png = root + "/in.png";
    hard::Ffmpeg("-f lavfi -i testsrc=size=32x24 -frames:v 1 " + png);

    EXPECT_EQ(hard::Vexolumen({"info"}, dir, 20).status, 0);
    EXPECT_EQ(hard::Vexolumen({"config", "set", "--angles", "5,6,7"}, dir, 20).status, 0);
    EXPECT_EQ(hard::Vexolumen({"render", png, root + "/out.png"}, dir, 30).status, 0);
    EXPECT_EQ(fs::symlink_status(dir + "/pelzo-Prefs").type(), fs::file_type::regular);
    PluginDataRec rec;
    ASSERT_TRUE(Saved(dir, rec));
    EXPECT_EQ(rec.sliders[1], 6);

    // An unusable record, with a link where it would be kept: the record
    // stays where it is rather than go through the link.
    std::string prefs = hard::ReadFile(dir + "/pelzo-Prefs");
    const size_t at = prefs.find(std::string("\x8a\x01\0\0\x03\0\0\0", 8));
    ASSERT_NE(at, std::string::npos);
    prefs[at + 4] = 2;
    hard::WriteFile(dir + "/pelzo-Prefs", prefs);
    PlantLink(resfile, dir + "/pelzo-Prefs.unusable");
    EXPECT_EQ(hard::Vexolumen({"info"}, dir, 20).status, 0);
    EXPECT_EQ(hard::ReadFile(dir + "/pelzo-Prefs"), prefs);

    // A link in place of the file itself.
    fs::remove(dir + "/pelzo-Prefs");
    PlantLink(resfile, dir + "/pelzo-Prefs");
    EXPECT_TRUE(hard::OneClearLine(hard::Vexolumen({"config", "set", "--angles", "1,2,3"}, dir, 20), "cannot save"));
    EXPECT_EQ(hard::Vexolumen({"render", png, root + "/out2.png"}, dir, 30).status, 0);

    EXPECT_EQ(hard::ReadFile(text), textBefore);
    EXPECT_EQ(hard::ReadFile(resfile), resBefore);
    EXPECT_TRUE(fs::is_symlink(dir + "/pelzo-Prefs"));
}

// Two changes of different fields at once, and loads that write the record
// back while a change is saved: every change that said "saved" stays.
TEST_F(SettingsFiles, RacingWritersKeepEveryChange) {
    const long rounds = hard::Knob("VX_SOAK_RACES", 40);
    const char* methods[] = {"wrap", "reflect"};
    for (long k = 0; k < rounds; ++k) {
        ASSERT_EQ(hard::Vexolumen({"config", "reset"}, dir, 20).status, 0);
        const std::string a = std::to_string(k % 200);
        hard::Running one = hard::Start(hard::VexolumenArgs({"config", "set", "--angles", a + ",1," + a}, dir));
        hard::Running two = hard::Start(hard::VexolumenArgs({"config", "set", "--method", methods[k % 2]}, dir));
        ASSERT_EQ(hard::Finish(one, hard::TimeLimit(30)).status, 0);
        ASSERT_EQ(hard::Finish(two, hard::TimeLimit(30)).status, 0);
        PluginDataRec rec;
        ASSERT_TRUE(Saved(dir, rec));
        ASSERT_EQ(rec.sliders[0], k % 200) << "round " << k << ": the angles were lost";
        ASSERT_EQ(rec.method, 2 + k % 2) << "round " << k << ": the method was lost";
    }
    const long loads = hard::Knob("VX_SOAK_LOAD_RACES", 30);
    for (long k = 0; k < loads; ++k) {
        const std::string a = std::to_string(k + 1);
        hard::Running info = hard::Start(hard::VexolumenArgs({"info"}, dir));
        hard::Running set = hard::Start(hard::VexolumenArgs({"config", "set", "--angles", a + "," + a + "," + a}, dir));
        ASSERT_EQ(hard::Finish(set, hard::TimeLimit(30)).status, 0);
        ASSERT_EQ(hard::Finish(info, hard::TimeLimit(30)).status, 0);
        PluginDataRec rec;
        ASSERT_TRUE(Saved(dir, rec));
        ASSERT_EQ(rec.sliders[2], k + 1) << "load " << k << " reverted a saved change";
    }
}

// A writer that holds the lock for good makes a change fail with one line
// after a bounded wait, and the file stays as it was.
TEST_F(SettingsFiles, AHeldLockIsWaitedForThenReported) {
    ASSERT_EQ(hard::Vexolumen({"config", "set", "--angles", "1,2,3"}, dir, 20).status, 0);
    const std::string before = hard::ReadFile(dir + "/pelzo-Prefs");
    hard::Running holder = hard::Start({"/usr/bin/flock", "-o", dir, "sleep", "60"});  // -o: the lock dies with flock
    ASSERT_TRUE(hard::WaitFor([&] { return system(("flock -n " + dir + " true").c_str()) != 0; }, 10));
    const auto t0 = std::chrono::steady_clock::now();
    const hard::Outcome r = hard::Vexolumen({"config", "set", "--angles", "4,5,6"}, dir, 60);
    const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    kill(holder.pid, SIGKILL);
    hard::Finish(holder, 10);
    EXPECT_TRUE(hard::OneClearLine(r, "busy")) << r.err;
    EXPECT_GE(waited, int(cPrefsLockWait) / 1000.0 - 0.5);
    EXPECT_EQ(hard::ReadFile(dir + "/pelzo-Prefs"), before);
}

// Root saving into another user's folder leaves files that user can still
// read and change.
TEST_F(SettingsFiles, RootSavingForAnotherUserKeepsTheirOwnership) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root";
    const std::string home = root + "/home";
    fs::create_directory(home);
    chmod(root.c_str(), 0755);  // the user must reach their folder
    ASSERT_EQ(chown(home.c_str(), kOtherUid, kOtherUid), 0);
    chmod(home.c_str(), 0700);
    ASSERT_EQ(hard::Vexolumen({"info"}, home, 20).status, 0);  // creates the file
    ASSERT_EQ(chmod((home + "/pelzo-Prefs").c_str(), 0640), 0);
    ASSERT_EQ(hard::Vexolumen({"config", "set", "--angles", "9,9,9"}, home, 20).status, 0);
    for (const char* name : {"/pelzo-Prefs"}) {
        struct stat st{};
        ASSERT_EQ(stat((home + name).c_str(), &st), 0);
        EXPECT_EQ(st.st_uid, kOtherUid);
        EXPECT_EQ(st.st_gid, kOtherUid);
        EXPECT_EQ(st.st_mode & 07777, 0640u);
    }
    // And the user saves there afterwards, with a program they can reach: a
    // build inside a private folder is out of their reach.
    const std::string setpriv = "/usr/bin/setpriv";
    if (!fs::exists(setpriv)) GTEST_SKIP() << "no setpriv";
    std::vector<std::string> env;
    std::string why;
    const std::string program = hard::ProgramForOthers(root + "/program", &env, &why);
    if (program.empty()) GTEST_SKIP() << "user " << kOtherUid << " cannot run the program: " << why;
    const hard::Outcome asUser =
        hard::Spawn({setpriv, "--reuid=" + std::to_string(kOtherUid), "--regid=" + std::to_string(kOtherUid),
                     "--clear-groups", program, "config", "set", "--angles", "3,3,3", "--config-dir", home},
                    hard::TimeLimit(20), 0, env);
    EXPECT_EQ(asUser.status, 0) << asUser.err;
    PluginDataRec rec;
    ASSERT_TRUE(Saved(home, rec));
    EXPECT_EQ(rec.sliders[0], 3);
}

// A record of another version or byte order is kept aside before the load
// replaces it, the latest one of them, and config show says where.
TEST_F(SettingsFiles, UnusableRecordsAreKeptAsideNotLost) {
    ASSERT_EQ(hard::Vexolumen({"config", "set", "--angles", "7,8,9"}, dir, 20).status, 0);
    const std::string good = hard::ReadFile(dir + "/pelzo-Prefs");
    const size_t at = good.find(std::string("\x8a\x01\0\0\x03\0\0\0", 8));
    ASSERT_NE(at, std::string::npos);
    std::string older = good, swapped = good;
    older[at + 4] = 2;                                           // version 2
    swapped.replace(at, 8, std::string("\0\0\x01\x8a\0\0\0\x03", 8));  // the other byte order
    hard::WriteFile(dir + "/pelzo-Prefs.unusable", "damaged, and not in the way");
    for (const std::string& bad : {older, swapped}) {
        hard::WriteFile(dir + "/pelzo-Prefs", bad);
        EXPECT_EQ(hard::Vexolumen({"info"}, dir, 20).status, 0);
        EXPECT_EQ(hard::ReadFile(dir + "/pelzo-Prefs.unusable"), bad);  // the record, in a file of its own
        EXPECT_NE(hard::ReadFile(dir + "/pelzo-Prefs"), bad);
    }
    hard::Running show = hard::Start(
        {"/bin/sh", "-c", std::string(VX_APP_BIN) + " config show --config-dir " + dir + " >&2"});
    const hard::Outcome r = hard::Finish(show, hard::TimeLimit(20));
    EXPECT_NE(r.err.find("unusable " + dir + "/pelzo-Prefs.unusable"), std::string::npos) << r.err;
}
#endif

}  // namespace
