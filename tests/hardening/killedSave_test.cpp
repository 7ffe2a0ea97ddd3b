// Saves killed at random moments: the preferences file must always hold the
// old record or the new one, and the other resources in it must survive.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "HardeningSupport.h"
#include "pipeline/prefsloader.h"
#include "platform/resources/ResourceFormat.h"
#include "platform/resources/Resources.h"

namespace {

const ResType kOtherType = FOUR_CHAR_CODE("TEXT");
const std::string kOtherBytes = "another program's note, kept through every save";

PluginDataRec Record(int16_t seed) {
    PluginDataRec r{};
    r.startRel = {0.125 * seed, 0.5, 0.25, 0.75};
    r.endRel = {0.0, 1.0 / seed, 0.0, 1.0};
    for (int i = 0; i < 6; ++i) {
        r.sliders[i] = int16_t(seed * 7 + i);
        r.colors[i] = {uint16_t(seed * 1000 + i), uint16_t(seed), uint16_t(65535 - seed)};
    }
    r.frameStartColor = {uint16_t(seed), 2, 3};
    r.frameEndColor = {4, uint16_t(seed), 6};
    r.mediaType = int16_t(1 + seed % 3);
    r.method = int16_t(1 + seed % 3);
    r.keepProps = Boolean(seed % 2);
    return r;
}

// The stored form of a record, to compare records field by field at once.
std::string Stored(const PluginDataRec& r) {
    Handle h = NewHandleClear(sizeof(ConfigSaveRec));
    Config2Save(&r, reinterpret_cast<configSaveH>(h));
    std::string s(reinterpret_cast<const char*>(*h), sizeof(ConfigSaveRec));
    DisposeHandle(h);
    return s;
}

class KilledSave : public ::testing::Test {
protected:
    void SetUp() override {
        dir = hard::MakeScratch("vx-killsave");
        setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
        CreatePrefsFileIfMissing();
        // Another resource shares the file.
        FSSpec spec{};
        std::snprintf(spec.path, sizeof spec.path, "%s/pelzo-Prefs", dir.c_str());
        const ResFileRefNum ref = FSpOpenResFile(&spec, fsCurPerm);
        ASSERT_NE(ref, -1);
        UseResFile(ref);
        Handle h = NewHandle(int32_t(kOtherBytes.size()));
        std::memcpy(*h, kOtherBytes.data(), kOtherBytes.size());
        AddResource(h, kOtherType, 128, reinterpret_cast<ConstStr255Param>("\x04note"));
        UpdateResFile(ref);
        ASSERT_EQ(ResError(), noErr);
        CloseResFile(ref);
    }
    void TearDown() override { std::filesystem::remove_all(dir); }

    std::string dir;
};

TEST_F(KilledSave, FileHoldsOldOrNewRecordAndKeepsItsOtherResources) {
    const PluginDataRec a = Record(1), b = Record(2);
    const std::string storedA = Stored(a), storedB = Stored(b);
    ASSERT_NE(storedA, storedB);
    ASSERT_TRUE(SaveConfig(&a));

    // How long one save takes here, to spread the kills over whole saves.
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < 10; ++i) SaveConfig(i % 2 ? &a : &b);
    const long saveUs = std::max<long>(
        50, long(std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0).count() /
                 10));

    const long kills = hard::Knob("VX_SOAK_KILLS", 300);
    std::mt19937 rng(20261206);
    int sawA = 0, sawB = 0;
    for (long k = 0; k < kills; ++k) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            for (unsigned i = 0;; ++i) SaveConfig(i % 2 ? &a : &b);
        }
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % (4 * saveUs)));
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the saving child ended by itself";

        const std::string bytes = hard::ReadFile(dir + "/pelzo-Prefs");
        vxres::ResourceImage image;
        ASSERT_EQ(vxres::ParseResourceFile(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), image), noErr)
            << "kill " << k << " left a damaged file of " << bytes.size() << " bytes";
        int prefs = 0, others = 0;
        for (const auto& e : image.entries) {
            if (e.type == cPrefResType && e.id == cPrefResID) {
                ++prefs;
                const std::string stored(e.data.begin(), e.data.end());
                ASSERT_TRUE(stored == storedA || stored == storedB) << "kill " << k << ": neither record";
                (stored == storedA ? sawA : sawB)++;
                EXPECT_EQ(e.name, "Config Settings");
            } else if (e.type == kOtherType && e.id == 128) {
                ++others;
                EXPECT_EQ(std::string(e.data.begin(), e.data.end()), kOtherBytes);
                EXPECT_EQ(e.name, "note");
            }
        }
        ASSERT_EQ(prefs, 1) << "kill " << k;
        ASSERT_EQ(others, 1) << "kill " << k;
        ASSERT_EQ(image.entries.size(), 2u);
    }
    // The plug-in's own reader agrees with the file.
    PluginDataRec back{};
    ASSERT_TRUE(ReadConfig(&back));
    const std::string storedBack = Stored(back);
    EXPECT_TRUE(storedBack == storedA || storedBack == storedB);

    // Temporary files of killed saves are left beside the file; count them.
    int strays = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.path().filename() != "pelzo-Prefs") ++strays;
    std::printf("killed saves: %ld kills, old/new seen %d/%d, one save %ld us, %d temporary files left\n", kills,
                sawA, sawB, saveUs, strays);
    EXPECT_GT(sawA, 0);
    EXPECT_GT(sawB, 0);
}

}  // namespace
