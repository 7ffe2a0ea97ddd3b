#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

#include <gtest/gtest.h>

#include "pipeline/prefsloader.h"
#include "platform/resources/ResourceFormat.h"
#include "platform/resources/Resources.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes ReadBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Every field, pictures included, unlike the defaults and other seeds.
PluginDataRec Distinct(int seed) {
    PluginDataRec r{};
    auto* p = reinterpret_cast<uint8_t*>(&r);
    for (size_t i = 0; i < offsetof(PluginDataRec, keepProps); ++i) p[i] = uint8_t(seed * 31 + int(i));
    r.keepProps = seed % 2 == 0;
    return r;
}

bool Same(const PluginDataRec& a, const PluginDataRec& b) {
    return std::memcmp(&a, &b, offsetof(PluginDataRec, keepProps) + 1) == 0;
}

// Runs body in a child process, as an unprivileged user when asked (so that
// folder permissions hold when the tests run as root); its exit status.
int RunChild(const std::function<int()>& body, bool unprivileged) {
    const pid_t pid = fork();
    if (pid == 0) _exit(unprivileged && geteuid() == 0 && (setgroups(0, nullptr) || setgid(65534) || setuid(65534)) ? 99 : body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

using Entries = std::vector<vxres::ResourceEntry>;

Bytes Build(const Entries& entries) {
    Bytes b;
    EXPECT_EQ(vxres::BuildResourceFile(vxres::ResourceImage{0, entries}, b), noErr);
    return b;
}

Bytes Record(const PluginDataRec& r) {
    Bytes b(sizeof(ConfigSaveRec));
    configSavePtr p = reinterpret_cast<configSavePtr>(b.data());
    EXPECT_TRUE(Config2Save(&r, &p));
    return b;
}

class PrefsTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vx-prefs-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root = tmpl;
        prefs = root / "config" / "nested";  // missing until created
        file = prefs / "pelzo-Prefs";
        setenv("XDG_CONFIG_HOME", prefs.c_str(), 1);
    }
    void TearDown() override {
        if (fs::exists(prefs)) fs::permissions(prefs, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(root);
        unsetenv("XDG_CONFIG_HOME");
    }
    void Write(const Bytes& b) {
        fs::create_directories(prefs);
        std::ofstream(file, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(b.data()), long(b.size()));
    }
    fs::path root, prefs, file;
};

TEST_F(PrefsTest, MissingFileMakesBothFailUntilCreated) {
    PluginDataRec r = Distinct(1);
    fs::create_directories(prefs);
    EXPECT_FALSE(ReadConfig(&r));  // no file
    EXPECT_FALSE(SaveConfig(&r));
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(Same(r, Distinct(1)));

    fs::remove_all(root / "config");
    CreatePrefsFileIfMissing();  // makes the missing folders too
    ASSERT_TRUE(fs::exists(file));
    Write({1, 2, 3});
    CreatePrefsFileIfMissing();  // an existing file, even a damaged one, is kept
    EXPECT_EQ(ReadBytes(file), Bytes({1, 2, 3}));
}

TEST_F(PrefsTest, SavedRecordHasTheFixedLayoutKeepsOthersAndReadsBack) {
    const Entries initial = {{cPrefResType, 1, 0, true, "old", Record(Distinct(3))},
                             {FOUR_CHAR_CODE("TEXT"), 128, 0, true, "note", {'h', 'i'}},
                             {cPrefResType, 2, 0, false, "", Record(Distinct(9))}};
    Write(Build(initial));
    const PluginDataRec s = Distinct(2);
    ASSERT_TRUE(SaveConfig(&s));
    ASSERT_TRUE(SaveConfig(&s));

    Bytes want(394, 0);
    const uint32_t head[2] = {394, 3};
    const uint8_t keep[2] = {1, 0};
    size_t at = 0;
    for (auto [p, n] : {std::pair<const void*, size_t>{head, 8}, {&s.startRel, 32}, {&s.endRel, 32}, {s.colors, 36},
                        {s.sliders, 12}, {&s.frameStartColor, 6}, {&s.frameEndColor, 6}, {&s.mediaType, 2},
                        {keep, 2}, {&s.method, 2}, {"\x26" "Config save for Tralvex iMovie plug-in", 39}}) {
        std::memcpy(&want[at], p, n);
        at += n;
    }
    Entries expected(initial.begin() + 1, initial.end());  // the others stay as they were
    expected.push_back({cPrefResType, 1, 0, true, "Config Settings", want});
    const Bytes stored = ReadBytes(file);
    vxres::ResourceImage after;
    ASSERT_EQ(vxres::ParseResourceFile(stored.data(), stored.size(), after), noErr);
    EXPECT_EQ(after.entries.size(), 3u);  // saving twice keeps one 'Pref' 1
    for (const auto& w : expected)
        EXPECT_TRUE(std::any_of(after.entries.begin(), after.entries.end(), [&](const auto& e) {
            return std::tie(e.type, e.id, e.name, e.data) == std::tie(w.type, w.id, w.name, w.data);
        })) << w.id;

    // All fields come back; the reader's own pictures stay.
    PluginDataRec read = Distinct(5), back = s;
    back.theOriginalImage = read.theOriginalImage;
    back.theRendered = read.theRendered;
    ASSERT_TRUE(ReadConfig(&read));
    EXPECT_TRUE(Same(read, back));
}

// Wrong records fail to read and stay until a save replaces them; damaged
// files fail to read and to save, and stay as they are.
TEST_F(PrefsTest, WrongRecordsAndDamagedFilesAreRejectedAndKept) {
    const PluginDataRec good = Distinct(6);
    const Bytes record = Record(good);
    Bytes version2 = record, size396 = record, otherOrder = record;
    const uint32_t two = 2, n396 = 396;
    std::memcpy(&version2[4], &two, 4);
    std::memcpy(&size396[0], &n396, 4);
    size396.resize(396);
    std::reverse(otherOrder.begin(), otherOrder.begin() + 4);  // as a build of the other byte order writes it
    std::reverse(otherOrder.begin() + 4, otherOrder.begin() + 8);
    std::vector<std::pair<Bytes, bool>> files = {{Build({}), true}};  // the file, whether it takes a save
    for (const Bytes& r : {version2, size396, otherOrder, Bytes(record.begin(), record.begin() + 8), Bytes{}})
        files.emplace_back(Build({{cPrefResType, 1, 0, true, "Config Settings", r}}), true);
    const Bytes valid = files[1].first;
    for (size_t n : {size_t(0), valid.size() / 2, valid.size() - 1}) files.push_back({Bytes(valid.begin(), valid.begin() + long(n)), false});
    std::mt19937 rng(7);
    for (size_t n : {1u, 16u, 286u, 720u, 5000u}) {
        files.push_back({Bytes(n), false});
        for (auto& x : files.back().first) x = uint8_t(rng());
    }
    for (size_t i = 0; i < files.size(); ++i) {
        const auto& [bytes, takesSave] = files[i];
        Write(bytes);
        PluginDataRec r = Distinct(7);
        EXPECT_FALSE(ReadConfig(&r)) << i;
        EXPECT_TRUE(Same(r, Distinct(7))) << i;
        EXPECT_EQ(ReadBytes(file), bytes) << i;  // a wrong record stays until replaced
        EXPECT_EQ(SaveConfig(&good), takesSave) << i;
        EXPECT_EQ(ReadConfig(&r), takesSave) << i;
        EXPECT_EQ(ReadBytes(file) == bytes, !takesSave) << i;
    }
}

TEST_F(PrefsTest, FailedSavesKeepTheOldRecord) {
    CreatePrefsFileIfMissing();
    const PluginDataRec old = Distinct(10), next = Distinct(11);
    ASSERT_TRUE(SaveConfig(&old));
    const Bytes before = ReadBytes(file);

    // The disk fills between an empty file's size and a full one's: a save
    // that wrote the file in place, or without the old record first, would
    // lose it here.
    ASSERT_GT(before.size(), 500u);
    EXPECT_EQ(RunChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{500, 500};
        setrlimit(RLIMIT_FSIZE, &limit);
        return SaveConfig(&next) ? 1 : 0;
    }, false), 0);
    EXPECT_EQ(ReadBytes(file), before);

    // A read-only folder, with the file itself writable.
    fs::permissions(file, fs::perms(0666));
    for (const fs::path& d : {root, root / "config"}) fs::permissions(d, fs::perms(0755));
    fs::permissions(prefs, fs::perms(0555));
    EXPECT_EQ(RunChild([&] { return SaveConfig(&next) ? 1 : 0; }, true), 0);
    EXPECT_EQ(ReadBytes(file), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(prefs), {}), 1);  // no temporary file left
}

}  // namespace
