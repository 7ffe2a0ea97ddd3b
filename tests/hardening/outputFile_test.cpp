// The render's output against planted links, files that appear meanwhile,
// its own input under other names, and every way a render can end.
#include <sys/stat.h>

#include <random>

#include "HardeningSupport.h"

namespace {

namespace fs = std::filesystem;

bool HasPart(const std::string& dir) {
    for (const std::string& name : hard::Listing(dir))
        if (name.find(".part-") != std::string::npos) return true;
    return false;
}

struct OutputFile : ::testing::Test {
    static std::string clips;
    std::string dir = hard::MakeScratch("vx-output");
    std::string in = dir + "/in.mp4", out = dir + "/out.mp4";
    static void SetUpTestSuite() {
        clips = hard::MakeScratch("vx-output-clips");
        // Long enough that a signal lands mid-render, even on a fast machine.
        hard::Ffmpeg("-f lavfi -i testsrc=size=320x240:rate=25 -t 20 -pix_fmt yuv420p " + clips + "/long.mp4");
        hard::Ffmpeg("-f lavfi -i testsrc=size=64x48:rate=25 -t 1 -pix_fmt yuv420p " + clips + "/short.mp4");
        hard::Ffmpeg("-f lavfi -i testsrc=size=320x240:rate=25 -t 4 -c:v ffv1 -f nut " + clips + "/stream.nut");
    }
    static void TearDownTestSuite() { fs::remove_all(clips); }
    void SetUp() override { fs::copy_file(clips + "/short.mp4", in); }
    void TearDown() override { fs::remove_all(dir); }
    hard::Running StartRender(const std::string& from, const std::string& to) {
        return hard::Start(hard::VexolumenArgs({"render", from, to}, dir + "/cfg"));
    }
};
std::string OutputFile::clips;

#ifdef VX_APP_BIN
TEST_F(OutputFile, PlantedLinksAtTemporaryNamesAreNotWrittenThrough) {
    const std::string victim = dir + "/victim";
    hard::WriteFile(victim, "another user's file\n");
    chmod(victim.c_str(), 0600);
    chmod(dir.c_str(), 01777);
    std::mt19937 rng(7);
    const long guesses = hard::Knob("VX_SOAK_LINKS", 1000);
    for (long i = 0; i < guesses; ++i) {
        const std::string pid = std::to_string(getpid() + i - guesses / 4);
        std::string random;
        for (int k = 0; k < 10; ++k) random += "ABCxyz0189"[rng() % 10];
        for (const std::string& name : {".out.mp4.part-" + pid, ".out.mp4.part-" + pid + "-" + random}) {
            symlink(victim.c_str(), (dir + "/" + name).c_str());
            lchown((dir + "/" + name).c_str(), 4242, 4242);
        }
    }
    EXPECT_EQ(hard::Vexolumen({"render", in, out}, dir + "/cfg", 60).status, 0);
    EXPECT_EQ(hard::ReadFile(victim), "another user's file\n");
    EXPECT_EQ(fs::symlink_status(out).type(), fs::file_type::regular);
    EXPECT_GT(fs::file_size(out), 1000u);
}

// Without -y nothing is replaced, not even what appears during the render.
TEST_F(OutputFile, WhatAppearsAtOutDuringTheRenderIsLeftAlone) {
    fs::copy_file(clips + "/long.mp4", in, fs::copy_options::overwrite_existing);
    hard::Running run = StartRender(in, out);
    ASSERT_TRUE(hard::WaitFor([&] { return HasPart(dir); }, 30));
    hard::WriteFile(out, "made meanwhile");
    const hard::Outcome r = hard::Finish(run, hard::TimeLimit(120));
    EXPECT_TRUE(hard::OneClearLine(r, "appeared during the render"));
    EXPECT_EQ(hard::ReadFile(out), "made meanwhile");
    EXPECT_FALSE(HasPart(dir));
}

// -y replaces a file with another that keeps its mode and owner.
TEST_F(OutputFile, AReplacedFileKeepsItsModeAndOwner) {
    hard::WriteFile(out, "old");
    ASSERT_EQ(chmod(out.c_str(), 0604), 0);
    const bool root = geteuid() == 0;
    if (root) {
        ASSERT_EQ(chown(out.c_str(), 4242, 4243), 0);
    }
    ASSERT_EQ(hard::Vexolumen({"render", in, out, "-y"}, dir + "/cfg", 60).status, 0);
    struct stat st{};
    ASSERT_EQ(stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    if (root) {
        EXPECT_EQ(st.st_uid, 4242u);
        EXPECT_EQ(st.st_gid, 4243u);
    }
    EXPECT_GT(st.st_size, 1000);
}

// The input is never the output, whatever the spelling; an existing OUT
// given as a file: URL is refused before any work.
TEST_F(OutputFile, TheInputIsNeverReplaced) {
    const std::string before = hard::ReadFile(in);
    ASSERT_EQ(link(in.c_str(), (dir + "/hard.mp4").c_str()), 0);
    for (const std::string& to : {std::string("./in.mp4"), in, dir + "/./in.mp4", std::string("file:in.mp4"),
                                  "file:" + in, dir + "/hard.mp4"}) {
        const hard::Outcome r = hard::Spawn(hard::VexolumenArgs({"render", in, to, "-y"}, dir + "/cfg"),
                                            hard::TimeLimit(30), 0, {}, dir);
        EXPECT_TRUE(hard::OneClearLine(r, "is the input")) << to;
    }
    EXPECT_EQ(hard::ReadFile(in), before);
    const std::string still = dir + "/still.png";
    hard::Ffmpeg("-f lavfi -i testsrc=size=32x24 -frames:v 1 " + still);
    const std::string stillBefore = hard::ReadFile(still);
    EXPECT_TRUE(hard::OneClearLine(hard::Vexolumen({"thumbnail", still, "file:" + still, "-y"}, dir + "/cfg", 30),
                                   "is the input"));
    EXPECT_EQ(hard::ReadFile(still), stillBefore);
    hard::WriteFile(out, "kept");
    const auto t0 = std::chrono::steady_clock::now();
    const hard::Outcome r = hard::Vexolumen({"render", in, "file:" + out}, dir + "/cfg", 30);
    EXPECT_TRUE(hard::OneClearLine(r, "already exists"));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(int(hard::TimeLimit(20))));
    EXPECT_EQ(hard::ReadFile(out), "kept");
    EXPECT_EQ(hard::Listing(dir), (std::vector<std::string>{"hard.mp4", "in.mp4", "out.mp4", "still.png"}));
}

// Each ending signal mid-render: status 128 + N and nothing left behind. A
// render killed outright leaves its temporary file, which the next render
// of the same OUT removes.
TEST_F(OutputFile, EveryEndingCleansUp) {
    fs::copy_file(clips + "/long.mp4", in, fs::copy_options::overwrite_existing);
    for (int sig : {SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGPIPE, SIGUSR1}) {
        hard::Running run = StartRender(in, out);
        ASSERT_TRUE(hard::WaitFor([&] { return HasPart(dir); }, 30)) << sig;
        kill(run.pid, sig);
        const hard::Outcome r = hard::Finish(run, hard::TimeLimit(30));
        EXPECT_EQ(r.status, 128 + sig) << r.err;
        EXPECT_EQ(hard::Listing(dir), (std::vector<std::string>{"cfg", "in.mp4"})) << sig;
    }
    hard::Running run = StartRender(in, out);
    ASSERT_TRUE(hard::WaitFor([&] { return HasPart(dir); }, 30));
    kill(run.pid, SIGKILL);
    hard::Finish(run, 30);
    ASSERT_TRUE(HasPart(dir));
    fs::copy_file(clips + "/short.mp4", in, fs::copy_options::overwrite_existing);
    EXPECT_EQ(hard::Vexolumen({"render", in, out}, dir + "/cfg", 60).status, 0);
    EXPECT_EQ(hard::Listing(dir), (std::vector<std::string>{"cfg", "in.mp4", "out.mp4"}));
}

// A FIFO whose writer stalls, before the first frame and in the middle.
TEST_F(OutputFile, AStalledInputGivesWayToSigterm) {
    const std::string fifo = dir + "/fifo";
    const std::string stream = hard::ReadFile(clips + "/stream.nut");
    for (size_t sent : {size_t(0), stream.size() / 2}) {
        fs::remove(fifo);
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        const pid_t writer = fork();
        if (writer == 0) {
            if (sent) {
                const int fd = open(fifo.c_str(), O_WRONLY);
                if (write(fd, stream.data(), sent) < 0) _exit(1);
            }
            pause();
            _exit(0);
        }
        hard::Running run = StartRender(fifo, out);
        std::this_thread::sleep_for(std::chrono::milliseconds(int(hard::TimeLimit(1.5) * 1000)));
        const auto t0 = std::chrono::steady_clock::now();
        kill(run.pid, SIGTERM);
        const hard::Outcome r = hard::Finish(run, hard::TimeLimit(10));
        const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        kill(writer, SIGKILL);
        waitpid(writer, nullptr, 0);
        EXPECT_EQ(r.status, 128 + SIGTERM) << sent << ": " << r.err;
        EXPECT_LT(took, hard::TimeLimit(2)) << sent;
        EXPECT_FALSE(HasPart(dir));
        EXPECT_FALSE(fs::exists(out));
    }
}
#endif

}  // namespace
