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
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "pipeline/prefsloader.h"
#include "platform/resources/Resources.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

const char kMisc[] = "Config save for Tralvex iMovie plug-in";
const unsigned char kName[] = "\x0f" "Config Settings";

Bytes ReadBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const fs::path& p, const Bytes& b) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

// Every saved field set to a value unlike the defaults.
PluginDataRec Distinct(int seed) {
    PluginDataRec r{};
    r.startRel = {0.125 * seed, 0.75, 1.0 / 3.0, -0.5};
    r.endRel = {0.5, 0.625, 0.25, 2.5};
    for (int i = 0; i < 6; ++i) {
        r.sliders[i] = int16_t(-200 + 37 * i + seed);
        r.colors[i] = {uint16_t(1000 * i + seed), uint16_t(65535 - i), uint16_t(7 * i)};
    }
    r.frameStartColor = {1, 2, uint16_t(3 + seed)};
    r.frameEndColor = {65535, 4, 5};
    r.mediaType = 3;
    r.method = int16_t(2 + seed);
    r.keepProps = true;
    r.theOriginalImage = reinterpret_cast<CGImageRef>(uintptr_t(0x1000 + seed));
    r.theRendered = reinterpret_cast<CGImageRef>(uintptr_t(0x2000 + seed));
    return r;
}

bool SameSettings(const PluginDataRec& a, const PluginDataRec& b) {
    return std::memcmp(&a.startRel, &b.startRel, sizeof a.startRel) == 0 &&
           std::memcmp(&a.endRel, &b.endRel, sizeof a.endRel) == 0 &&
           std::memcmp(a.sliders, b.sliders, sizeof a.sliders) == 0 &&
           std::memcmp(a.colors, b.colors, sizeof a.colors) == 0 &&
           std::memcmp(&a.frameStartColor, &b.frameStartColor, sizeof(RGBColor)) == 0 &&
           std::memcmp(&a.frameEndColor, &b.frameEndColor, sizeof(RGBColor)) == 0 &&
           a.mediaType == b.mediaType && a.method == b.method && a.keepProps == b.keepProps;
}

bool SameRecord(const PluginDataRec& a, const PluginDataRec& b) {
    return SameSettings(a, b) && a.theOriginalImage == b.theOriginalImage && a.theRendered == b.theRendered;
}

int RunChild(const std::function<int()>& body, bool unprivileged) {
    const pid_t pid = fork();
    if (pid == 0) {
        if (unprivileged && geteuid() == 0) {
            if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(99);
        }
        _exit(body());
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
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
    // The stored bytes of every resource of the prefs file, by type and id.
    std::vector<std::pair<std::string, Bytes>> Stored() {
        std::vector<std::pair<std::string, Bytes>> out;
        FSSpec spec{};
        int16_t v = 0;
        int32_t d = 0;
        FindFolder(kOnSystemDisk, kPreferencesFolderType, kDontCreateFolder, &v, &d);
        FSMakeFSSpec(v, d, reinterpret_cast<const unsigned char*>("\x0bpelzo-Prefs"), &spec);
        const ResFileRefNum ref = FSpOpenResFile(&spec, fsRdPerm);
        if (ref == -1) return out;
        for (int16_t t = 1; t <= Count1Types(); ++t) {
            ResType type = 0;
            Get1IndType(&type, t);
            for (int16_t i = 1; i <= Count1Resources(type); ++i) {
                Handle h = Get1IndResource(type, i);
                int16_t id = 0;
                Str255 name;
                GetResInfo(h, &id, &type, name);
                const char code[4] = {char(type >> 24), char(type >> 16), char(type >> 8), char(type)};
                const std::string key = std::string(code, 4) + "/" + std::to_string(id) +
                                        "/" + std::string(reinterpret_cast<char*>(name + 1), name[0]);
                out.emplace_back(key, Bytes(*h, *h + GetHandleSize(h)));
            }
        }
        CloseResFile(ref);
        return out;
    }
    // Replaces the prefs file by one holding these resources.
    void Store(const std::vector<std::tuple<ResType, int16_t, Bytes>>& resources) {
        fs::create_directories(prefs);
        fs::remove(file);
        CreatePrefsFileIfMissing();
        FSSpec spec{};
        std::strcpy(spec.path, file.c_str());
        const ResFileRefNum ref = FSpOpenResFile(&spec, fsRdWrPerm);
        ASSERT_GT(ref, 0);
        for (const auto& [type, id, bytes] : resources) {
            Handle h = NewHandle(int32_t(bytes.size()));
            if (!bytes.empty()) std::memcpy(*h, bytes.data(), bytes.size());
            AddResource(h, type, id, kName);
        }
        CloseResFile(ref);
        ASSERT_EQ(ResError(), noErr);
    }
    static Bytes Record(const PluginDataRec& r) {
        Bytes b(sizeof(ConfigSaveRec));
        configSavePtr p = reinterpret_cast<configSavePtr>(b.data());
        EXPECT_TRUE(Config2Save(&r, &p));
        return b;
    }
    fs::path root, prefs, file;
};

TEST_F(PrefsTest, MissingFileMakesBothFailUntilCreated) {
    PluginDataRec r = Distinct(1);
    const PluginDataRec before = r;
    EXPECT_FALSE(ReadConfig(&r));  // no folder
    EXPECT_FALSE(SaveConfig(&r));
    fs::create_directories(prefs);
    EXPECT_FALSE(ReadConfig(&r));  // folder, no file
    EXPECT_FALSE(SaveConfig(&r));
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(SameRecord(r, before));
    EXPECT_FALSE(ReadConfig(nullptr));
    EXPECT_FALSE(SaveConfig(nullptr));

    fs::remove_all(root / "config");
    CreatePrefsFileIfMissing();  // makes the missing folders too
    ASSERT_TRUE(fs::exists(file));
    EXPECT_EQ(fs::file_size(file), 286u);
    EXPECT_FALSE(ReadConfig(&r));  // empty file
    EXPECT_TRUE(SameRecord(r, before));
    EXPECT_TRUE(SaveConfig(&r));
    const Bytes saved = ReadBytes(file);
    CreatePrefsFileIfMissing();  // an existing file is kept
    EXPECT_EQ(ReadBytes(file), saved);
}

TEST_F(PrefsTest, SavedRecordHasTheFixedLayoutAndReadsBack) {
    CreatePrefsFileIfMissing();
    const PluginDataRec saved = Distinct(2);
    ASSERT_TRUE(SaveConfig(&saved));
    ASSERT_TRUE(SaveConfig(&saved));
    const auto stored = Stored();
    ASSERT_EQ(stored.size(), 1u);  // saving twice keeps one 'Pref' 1
    EXPECT_EQ(stored[0].first, "Pref/1/Config Settings");
    const Bytes& b = stored[0].second;
    ASSERT_EQ(b.size(), 394u);
    uint32_t size = 0, version = 0;
    std::memcpy(&size, &b[0], 4);
    std::memcpy(&version, &b[4], 4);
    EXPECT_EQ(size, 394u);
    EXPECT_EQ(version, 3u);
    double left = 0;
    std::memcpy(&left, &b[8], 8);
    EXPECT_EQ(left, saved.startRel.left);
    RGBColor c1{};
    std::memcpy(&c1, &b[72], 6);
    EXPECT_EQ(c1.red, saved.colors[0].red);
    int16_t s1 = 0, media = 0, method = 0;
    std::memcpy(&s1, &b[108], 2);
    std::memcpy(&media, &b[132], 2);
    std::memcpy(&method, &b[136], 2);
    EXPECT_EQ(s1, saved.sliders[0]);
    EXPECT_EQ(media, 3);
    EXPECT_EQ(method, saved.method);
    EXPECT_EQ(b[134], 1);
    EXPECT_EQ(b[135], 0);
    EXPECT_EQ(b[138], sizeof kMisc - 1);
    EXPECT_EQ(std::string(b.begin() + 139, b.begin() + 139 + b[138]), kMisc);
    EXPECT_TRUE(std::all_of(b.begin() + 139 + b[138], b.end(), [](uint8_t x) { return x == 0; }));

    // All fields come back; the reader's own pictures stay.
    PluginDataRec read = Distinct(5);
    read.theOriginalImage = nullptr;
    const CGImageRef rendered = read.theRendered;
    ASSERT_TRUE(ReadConfig(&read));
    EXPECT_TRUE(SameSettings(read, saved));
    EXPECT_EQ(read.theOriginalImage, nullptr);
    EXPECT_EQ(read.theRendered, rendered);
}

// A file laid out by a separate writer (tests/fuzz/make_corpus.py).
TEST_F(PrefsTest, ReadsAFileWrittenElsewhere) {
    fs::create_directories(prefs);
    fs::copy_file(fs::path(VX_SOURCE_DIR) / "tests/fuzz/corpus/valid-prefs", file);
    PluginDataRec r = Distinct(1);
    ASSERT_TRUE(ReadConfig(&r));
    EXPECT_EQ(r.sliders[0], 150);
    EXPECT_EQ(r.sliders[1], -20);
    EXPECT_EQ(r.sliders[2], 7);
    EXPECT_EQ(r.sliders[5], 0);
    EXPECT_EQ(r.startRel.right, 1.0);
    EXPECT_EQ(r.endRel.bottom, 1.0);
    EXPECT_EQ(r.colors[1].blue, 65535);
    EXPECT_EQ(r.frameStartColor.red, 65535);
    EXPECT_EQ(r.mediaType, 1);
    EXPECT_EQ(r.method, 1);
    EXPECT_FALSE(r.keepProps);
}

TEST_F(PrefsTest, OtherResourcesAreLeftAlone) {
    const Bytes note = {'h', 'i'};
    const Bytes other = Record(Distinct(9));
    Store({{FOUR_CHAR_CODE("TEXT"), 128, note}, {cPrefResType, 2, other}, {cPrefResType, 1, Record(Distinct(3))}});
    const auto before = Stored();
    const PluginDataRec next = Distinct(4);
    ASSERT_TRUE(SaveConfig(&next));
    const auto after = Stored();
    ASSERT_EQ(after.size(), 3u);
    for (const auto& [key, bytes] : before)
        if (key.find("/1/") == std::string::npos) {
            auto it = std::find_if(after.begin(), after.end(), [&](const auto& e) { return e.first == key; });
            ASSERT_NE(it, after.end()) << key;
            EXPECT_EQ(it->second, bytes) << key;
        }
    PluginDataRec read{};
    ASSERT_TRUE(ReadConfig(&read));
    EXPECT_TRUE(SameSettings(read, next));
}

TEST_F(PrefsTest, WrongRecordsAreRejectedUntilTheNextSave) {
    const PluginDataRec good = Distinct(6);
    const uint32_t two = 2, n396 = 396;
    Bytes version2 = Record(good);
    std::memcpy(&version2[4], &two, 4);
    Bytes size396 = Record(good);
    size396.resize(396);
    std::memcpy(&size396[0], &n396, 4);
    Bytes otherOrder = Record(good);  // as a big-endian build writes it
    std::reverse(otherOrder.begin(), otherOrder.begin() + 4);
    std::reverse(otherOrder.begin() + 4, otherOrder.begin() + 8);
    Bytes shortRecord = Record(good);
    shortRecord.resize(8);
    const std::pair<const char*, Bytes> cases[] = {
        {"version 2", version2}, {"size 396", size396}, {"other byte order", otherOrder},
        {"short", shortRecord}, {"empty", {}}};
    for (const auto& [what, bytes] : cases) {
        Store({{cPrefResType, 1, bytes}});
        PluginDataRec r = Distinct(7);
        const PluginDataRec before = r;
        EXPECT_FALSE(ReadConfig(&r)) << what;
        EXPECT_TRUE(SameRecord(r, before)) << what;
        EXPECT_EQ(Stored().at(0).second, bytes) << what;  // kept until replaced
        ASSERT_TRUE(SaveConfig(&good)) << what;
        ASSERT_EQ(Stored().size(), 1u) << what;
        ASSERT_TRUE(ReadConfig(&r)) << what;
        EXPECT_TRUE(SameSettings(r, good)) << what;
    }
    PluginDataRec r = good;
    EXPECT_FALSE(Config2Save(nullptr, nullptr));
    EXPECT_FALSE(Config2Save(&r, nullptr));
    EXPECT_FALSE(Save2Config(&r, nullptr));
    Handle small = NewHandleClear(393);
    std::memcpy(*small, Record(good).data(), 393);
    EXPECT_FALSE(Save2Config(&r, reinterpret_cast<configSaveH>(small)));
    DisposeHandle(small);
}

TEST_F(PrefsTest, DamagedFilesReadAsMissingAndStay) {
    CreatePrefsFileIfMissing();
    const PluginDataRec saved = Distinct(8);
    ASSERT_TRUE(SaveConfig(&saved));
    const Bytes valid = ReadBytes(file);
    std::vector<Bytes> damaged = {{}, Bytes(valid.begin(), valid.begin() + long(valid.size() / 2)),
                                  Bytes(valid.begin(), valid.end() - 1)};
    std::mt19937 rng(7);
    for (size_t n : {1u, 16u, 286u, 720u, 5000u}) {
        Bytes b(n);
        for (auto& x : b) x = uint8_t(rng());
        damaged.push_back(b);
    }
    for (const Bytes& b : damaged) {
        WriteBytes(file, b);
        PluginDataRec r = Distinct(1);
        const PluginDataRec before = r;
        EXPECT_FALSE(ReadConfig(&r)) << b.size();
        EXPECT_FALSE(SaveConfig(&r)) << b.size();
        EXPECT_TRUE(SameRecord(r, before)) << b.size();
        EXPECT_EQ(ReadBytes(file), b);
    }
}

TEST_F(PrefsTest, FailedSavesKeepTheOldRecord) {
    CreatePrefsFileIfMissing();
    const PluginDataRec old = Distinct(10);
    ASSERT_TRUE(SaveConfig(&old));
    const Bytes before = ReadBytes(file);
    const PluginDataRec next = Distinct(11);

    // The disk fills between an empty file's size and a full one's: a save
    // that wrote the file without the old record first would lose it here.
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
    fs::permissions(root, fs::perms(0755));
    fs::permissions(root / "config", fs::perms(0755));
    fs::permissions(prefs, fs::perms(0555));
    EXPECT_EQ(RunChild([&] { return SaveConfig(&next) ? 1 : 0; }, true), 0);
    EXPECT_EQ(ReadBytes(file), before);

    fs::permissions(prefs, fs::perms(0755));
    PluginDataRec read{};
    ASSERT_TRUE(ReadConfig(&read));
    EXPECT_TRUE(SameSettings(read, old));
    for (const auto& e : fs::directory_iterator(prefs)) EXPECT_EQ(e.path(), file);  // no temporary left
}

}  // namespace
