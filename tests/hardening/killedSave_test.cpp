// Saves killed at random moments: the preferences file must always hold the
// old record or the new one, and the other resources in it must survive.
#include <cstdio>
#include <random>

#include "HardeningSupport.h"
#include "pipeline/prefsloader.h"
#include "platform/resources/ResourceFormat.h"

namespace {

const std::string kOtherBytes = "another program's note, kept through every save";

// Records that differ from the first field to the last, so a torn save shows.
PluginDataRec Record(int16_t seed) {
    PluginDataRec r{};
    r.startRel = r.endRel = {0.125 * seed, 0.5, 0.25, 1.0 / seed};
    for (int i = 0; i < 6; ++i)
        r.sliders[i] = int16_t(seed * 7 + i), r.colors[i] = {uint16_t(seed * 999 + i), uint16_t(seed), uint16_t(-seed)};
    r.frameStartColor = r.frameEndColor = r.colors[0];
    r.mediaType = r.method = int16_t(1 + seed % 3);
    r.keepProps = Boolean(seed % 2);
    return r;
}

TEST(KilledSave, FileHoldsOldOrNewRecordAndKeepsItsOtherResources) {
    const std::string dir = hard::MakeScratch("vx-killsave"), file = dir + "/pelzo-Prefs";
    setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    vxres::ResourceImage image;  // the file holds another program's note first
    image.entries.push_back({FOUR_CHAR_CODE("TEXT"), 128, 0, true, "note", {kOtherBytes.begin(), kOtherBytes.end()}});
    std::vector<uint8_t> bytes;
    ASSERT_EQ(vxres::BuildResourceFile(image, bytes), noErr);
    hard::WriteFile(file, std::string(bytes.begin(), bytes.end()));

    // The whole file after a save of each record, and how long a save takes
    // here, to spread the kills over whole saves.
    const PluginDataRec a = Record(1), b = Record(2);
    ASSERT_TRUE(SaveConfig(&b));
    const std::string fileB = hard::ReadFile(file);
    const auto t0 = std::chrono::steady_clock::now();
    ASSERT_TRUE(SaveConfig(&a));
    const long saveUs = std::max<long>(
        50, std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - t0).count());
    const std::string fileA = hard::ReadFile(file);
    ASSERT_NE(fileA, fileB);
    for (const std::string& f : {fileA, fileB})  // the other resource, its bytes and its name
        ASSERT_TRUE(f.find(kOtherBytes) != std::string::npos && f.find("\x04note") != std::string::npos);

    const long kills = hard::Knob("VX_SOAK_KILLS", 300);
    std::mt19937 rng(20261206);
    int seen[2] = {0, 0};
    for (long k = 0; k < kills; ++k) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0)
            for (unsigned i = 0;; ++i) SaveConfig(i % 2 ? &a : &b);
        std::this_thread::sleep_for(std::chrono::microseconds(rng() % (4 * saveUs)));
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the saving child ended by itself";

        const std::string now = hard::ReadFile(file);
        ASSERT_TRUE(now == fileA || now == fileB) << "kill " << k << " left neither, " << now.size() << " bytes";
        ++seen[now == fileB];
    }
    std::printf("killed saves: %ld kills, old/new seen %d/%d, one save %ld us\n", kills, seen[0], seen[1], saveUs);
    EXPECT_GT(seen[0], 0);
    EXPECT_GT(seen[1], 0);
    // The next save clears what the killed savers left half-written.
    ASSERT_TRUE(SaveConfig(&a));
    for (const auto& e : std::filesystem::directory_iterator(dir))
        EXPECT_EQ(e.path().filename(), "pelzo-Prefs") << "left behind";
    std::filesystem::remove_all(dir);
}

}  // namespace
