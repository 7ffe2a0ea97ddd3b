// Damaged and hostile input files through `vexolumen render`, and one long
// render whose memory must stay flat.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "AppRunner.h"

namespace {

using hard::Outcome;

class HostileMedia : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir = hard::MakeScratch("vx-media");
        config = dir + "/config";
        std::filesystem::create_directory(config);
        const std::string src = "-f lavfi -i testsrc=size=64x48:rate=10 ";
        hard::Ffmpeg(src + "-f lavfi -i sine=f=440:sample_rate=8000 -t 1 -c:v libx264 -pix_fmt yuv420p "
                           "-c:a aac -shortest " + dir + "/base.mp4");
        hard::Ffmpeg(src + "-t 1 -c:v mpeg4 " + dir + "/base.mkv");
        hard::Ffmpeg(src + "-frames:v 1 " + dir + "/base.png");
    }
    static void TearDownTestSuite() { std::filesystem::remove_all(dir); }

    static std::string dir, config;
};
std::string HostileMedia::dir, HostileMedia::config;

std::string Mutate(std::string b, std::mt19937& rng) {
    switch (rng() % 5) {
        case 0: {  // flipped bytes
            for (int n = 1 + int(rng() % 16); n > 0; --n) b[rng() % b.size()] ^= char(1u << (rng() % 8));
            break;
        }
        case 1:  // truncated
            b.resize(rng() % b.size());
            break;
        case 2:  // header cut off
            b.erase(0, 1 + rng() % std::min<size_t>(b.size() - 1, 512));
            break;
        case 3: {  // a run of zero or 0xFF bytes, where sizes and counts live
            const size_t at = rng() % b.size(), n = std::min<size_t>(b.size() - at, 1 + rng() % 64);
            std::fill_n(b.begin() + long(at), n, char(rng() % 2 ? 0 : 0xFF));
            break;
        }
        default: {  // random bytes in the first kilobyte
            for (int n = 1 + int(rng() % 8); n > 0; --n) b[rng() % std::min<size_t>(b.size(), 1024)] = char(rng());
        }
    }
    return b;
}

TEST_F(HostileMedia, DamagedFilesRenderOrFailWithOneLineAndLeaveNothingBehind) {
    const long count = hard::Knob("VX_SOAK_MUTANTS", 45);
    const std::string work = dir + "/work";
    std::filesystem::create_directory(work);
    const char* bases[] = {"base.mp4", "base.mkv", "base.png"};
    std::string originals[3];
    for (int i = 0; i < 3; ++i) originals[i] = hard::ReadFile(dir + "/" + bases[i]);

    std::mt19937 rng(7071);
    int rendered = 0, refused = 0;
    long slowestMs = 0;
    for (long n = 0; n < count; ++n) {
        const int which = int(n % 3);
        const std::string ext = std::string(bases[which]).substr(4);
        const std::string in = work + "/in" + ext, out = work + "/out" + (which == 2 ? ".png" : ".mkv");
        hard::WriteFile(in, Mutate(originals[which], rng));
        const auto t0 = std::chrono::steady_clock::now();
        const Outcome r = hard::Vexolumen({"render", in, out}, config, 20);
        slowestMs = std::max<long>(slowestMs, long(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                       std::chrono::steady_clock::now() - t0).count()));
        // Outside the scratch folder, so it outlives the test.
        const std::string keep = "/tmp/vx-hard-failed-" + std::to_string(getpid()) + "-" + std::to_string(n) + ext;
        if (r.status == 0) {
            ++rendered;
            EXPECT_GT(std::filesystem::file_size(out), 0u) << "mutant " << n;
            EXPECT_TRUE(r.err.find("Sanitizer") == std::string::npos) << r.err;
            EXPECT_EQ(hard::Listing(work), (std::vector<std::string>{"in" + ext, out.substr(work.size() + 1)}))
                << "mutant " << n;
        } else {
            ++refused;
            EXPECT_TRUE(hard::OneClearLine(r)) << "mutant " << n << " of " << bases[which];
            EXPECT_EQ(hard::Listing(work), std::vector<std::string>{"in" + ext}) << "mutant " << n << ": partial output";
        }
        if (::testing::Test::HasFailure()) {
            std::filesystem::copy_file(in, keep, std::filesystem::copy_options::overwrite_existing);
            ADD_FAILURE() << "kept the input as " << keep;
            return;
        }
        std::filesystem::remove(out);
        std::filesystem::remove(in);
    }
    std::printf("hostile media: %ld damaged files, %d rendered, %d refused with one line, slowest %ld ms\n", count,
                rendered, refused, slowestMs);
}

// Damaged clips found by the test above that once failed to render.
TEST_F(HostileMedia, ClipsWhoseTimeStepsBackRender) {
    // Its container promises 10 frames; the stream holds 9 and the last one's
    // time stamp lies before earlier ones.
    const std::string out = dir + "/steps-back.mkv";
    const Outcome r = hard::Vexolumen({"render", VX_HARD_MEDIA_DIR "/steps-back.mp4", out}, config, 20);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string frames = hard::Capture("ffprobe -v error -count_frames -select_streams v "
                                             "-show_entries stream=nb_read_frames -of csv=p=0 " + out);
    EXPECT_EQ(frames, "10\n");
    std::filesystem::remove(out);
}

// The render's peak resident size for a clip of `frames` frames.
long PeakKb(const std::string& dir, const std::string& config, long frames) {
    const std::string in = dir + "/long" + std::to_string(frames) + ".mkv";
    const std::string out = dir + "/long-out.mkv";
    hard::Ffmpeg("-f lavfi -i testsrc2=size=160x120:rate=25 -f lavfi -i sine=f=300:sample_rate=8000 -frames:v " +
                 std::to_string(frames) + " -c:v mpeg4 -q:v 5 -c:a pcm_s16le -shortest " + in);
    const Outcome r = hard::Vexolumen({"render", in, out, "-y", "--codec", "mpeg4"}, config, 30 + double(frames) / 20);
    EXPECT_EQ(r.status, 0) << r.err;
    std::filesystem::remove(in);
    std::filesystem::remove(out);
    return r.peakKb;
}

TEST_F(HostileMedia, LongRenderKeepsMemoryFlat) {
    const long frames = hard::Knob("VX_SOAK_FRAMES", 1000);
    const long shortKb = PeakKb(dir, config, 100);
    const long longKb = PeakKb(dir, config, frames);
    std::printf("peak resident size: %ld kB at 100 frames, %ld kB at %ld frames\n", shortKb, longKb, frames);
    // A 160x120 frame is 75 kB: holding on to one per frame would show.
    if (!hard::kSanitized) {
        EXPECT_LT(longKb, shortKb + 16 * 1024);
    }
}

}  // namespace
