// Where the program's files land, one fault a row: the commands run, the
// status and the one line they must end with, and what is on disk after.
#include <sys/stat.h>

#include <functional>

#include "HardeningSupport.h"

namespace {

namespace fs = std::filesystem;

#ifdef VX_APP_BIN

struct Ctx {
    std::string dir, clips, aux, cfg, flag;  // aux: beside dir, for the config and flags
    std::string P(const std::string& name) const { return dir + "/" + name; }
    hard::Running Start(const std::vector<std::string>& args) const {
        return hard::Start(hard::VexolumenArgs(args, cfg), 0, {}, dir);
    }
    hard::Outcome Run(const std::vector<std::string>& args) const {
        return hard::Spawn(hard::VexolumenArgs(args, cfg), hard::TimeLimit(60), 0, {}, dir);
    }
    hard::Outcome Shell(const std::string& script) const {
        return hard::Spawn({"/bin/sh", "-c", script}, hard::TimeLimit(60), 0, {"VX=" VX_APP_BIN}, dir);
    }
    bool HasHidden() const {
        for (const std::string& name : hard::Listing(dir))
            if (name[0] == '.') return true;
        return false;
    }
    // A FIFO fed with data[0, first) at once and the rest once `flag`
    // exists; first == size leaves it stalled for good.
    pid_t Feed(const std::string& fifo, const std::string& data, size_t first) const {
        if (mkfifo(P(fifo).c_str(), 0600) != 0) return -1;
        const std::string path = P(fifo);
        const pid_t pid = fork();
        if (pid != 0) return pid;
        const int fd = open(path.c_str(), O_WRONLY);
        if (fd < 0 || write(fd, data.data(), first) != ssize_t(first)) _exit(1);
        while (first == data.size() || access(flag.c_str(), F_OK) != 0) usleep(10000);
        _exit(write(fd, data.data() + first, data.size() - first) < 0);
    }
};

void Plant(const std::string& target, const std::string& at) {
    ASSERT_EQ(symlink(target.c_str(), at.c_str()), 0) << at;
    lchown(at.c_str(), 4242, 4242);  // another user's
}

hard::Outcome Ended(hard::Running& run, pid_t feeder) {
    hard::Outcome r = hard::Finish(run, hard::TimeLimit(60));
    if (feeder > 0) kill(feeder, SIGKILL), waitpid(feeder, nullptr, 0);
    return r;
}

// Signals as soon as the predicate holds; the status says how it ended,
// `took` the seconds from the first signal.
hard::Outcome Signalled(hard::Running run, pid_t feeder, const std::function<bool()>& ready,
                        const std::vector<int>& sigs, double* took) {
    if (!hard::WaitFor(ready, 30)) ADD_FAILURE() << "never got under way";
    const auto t0 = std::chrono::steady_clock::now();
    for (int sig : sigs) kill(run.pid, sig);
    hard::Outcome r = Ended(run, feeder);
    *took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    // Two pending at once are taken lowest number first: either may be the second.
    if (sigs.size() == 2 && r.status == 128 + sigs[1]) r.status = 128 + sigs[0];
    return r;
}

bool FramesUnderWay(const Ctx& c) {
    for (const std::string& name : hard::Listing(c.dir))
        if (name.rfind(".vexolumen-frames-", 0) == 0 && !hard::Listing(c.P(name)).empty()) return true;
    return false;
}

std::string LongFolder(const Ctx& c) {
    std::string path = c.dir;
    while (path.size() < 1000) path += "/" + std::string(std::min<size_t>(200, 1000 - path.size()), 'd');
    fs::create_directories(path);
    return path;
}

struct Row {
    const char* fault;
    std::function<hard::Outcome(Ctx&)> act;  // the commands
    int status;
    const char* line;                        // what the last line on stderr says; "" when it succeeds
    std::vector<std::string> after;          // the folder afterwards, beside in.mp4, p1.mkv and p2.mkv
    std::function<void(Ctx&)> check = nullptr;
};

const Row kRows[] = {
    {"join OUT that is a part under another spelling",
     [](Ctx& c) { return c.Run({"join", "./p1.mkv", "p1.mkv", "p2.mkv", "-y"}); }, 1, "is the input p1.mkv", {},
     [](Ctx& c) { EXPECT_EQ(hard::ReadFile(c.P("p1.mkv")), hard::ReadFile(c.clips + "/p1.mkv")); }},
    {"join without -y: a file appears at OUT meanwhile",
     [](Ctx& c) {
         const std::string part = hard::ReadFile(c.clips + "/p2.mkv");
         const pid_t feeder = c.Feed("fifo.mkv", part, part.size() / 2);
         hard::Running run = c.Start({"join", "j.mkv", "p1.mkv", "fifo.mkv"});
         if (!hard::WaitFor([&] { return c.HasHidden(); }, 30)) ADD_FAILURE() << "no temporary";
         hard::WriteFile(c.P("j.mkv"), "made meanwhile");
         hard::WriteFile(c.flag, "");
         return Ended(run, feeder);
     },
     1, "j.mkv: appeared during the join", {"fifo.mkv", "j.mkv"},
     [](Ctx& c) { EXPECT_EQ(hard::ReadFile(c.P("j.mkv")), "made meanwhile"); }},
    {"join -y onto a planted link to a set-id file",
     [](Ctx& c) {
         hard::WriteFile(c.P("victim"), "kept");
         chmod(c.P("victim").c_str(), 06777);
         chmod(c.dir.c_str(), 01777);
         Plant("victim", c.P("j.mkv"));
         return c.Run({"join", "j.mkv", "p1.mkv", "p2.mkv", "-y"});
     },
     0, "", {"j.mkv", "victim"},
     [](Ctx& c) {
         struct stat st{}, victim{};
         ASSERT_EQ(lstat(c.P("j.mkv").c_str(), &st), 0);
         const mode_t mask = umask(0);
         umask(mask);
         EXPECT_TRUE(S_ISREG(st.st_mode));
         EXPECT_EQ(st.st_mode & 07777, 0666 & ~mask);
         ASSERT_EQ(stat(c.P("victim").c_str(), &victim), 0);
         EXPECT_EQ(victim.st_mode & 07777, 06777u);
         EXPECT_EQ(hard::ReadFile(c.P("victim")), "kept");
     }},
    {"join onto an image pattern",
     [](Ctx& c) { return c.Run({"join", "j_%04d.png", "p1.mkv", "p2.mkv"}); }, 1, "not as pictures", {}},
    {"join stalled on a FIFO part, one SIGTERM",
     [](Ctx& c) {
         const std::string part = hard::ReadFile(c.clips + "/p2.mkv");
         const pid_t feeder = c.Feed("fifo.mkv", part, part.size() / 2);
         double took = 0;
         hard::Outcome r = Signalled(c.Start({"join", "j.mkv", "p1.mkv", "fifo.mkv"}), feeder,
                                     [&] { return c.HasHidden(); }, {SIGTERM}, &took);
         EXPECT_LT(took, hard::TimeLimit(2));
         return r;
     },
     128 + SIGTERM, "interrupted by SIGTERM", {"fifo.mkv"}},
    {"join stalled on a FIFO part, SIGTERM then SIGINT",
     [](Ctx& c) {
         const std::string part = hard::ReadFile(c.clips + "/p2.mkv");
         const pid_t feeder = c.Feed("fifo.mkv", part, part.size() / 2);
         double took = 0;
         return Signalled(c.Start({"join", "j.mkv", "p1.mkv", "fifo.mkv"}), feeder,
                          [&] { return c.HasHidden(); }, {SIGTERM, SIGINT}, &took);
     },
     128 + SIGTERM, "", {"fifo.mkv"}},
    {"sequence in a folder near 1,000 bytes long: frame names in full",
     [](Ctx& c) { return c.Run({"render", "in.mp4", LongFolder(c) + "/f_%04d.png", "--frames", "3"}); }, 0, "",
     {std::string(200, 'd')},
     [](Ctx& c) {
         EXPECT_EQ(hard::Listing(LongFolder(c)), (std::vector<std::string>{"f_0001.png", "f_0002.png", "f_0003.png"}));
     }},
    {"sequence whose frame number FFmpeg would cut short",
     [](Ctx& c) { return c.Run({"render", "in.mp4", "f_%0300d.png", "--frames", "2"}); }, 1, "too long", {}},
    {"render -y of an image pattern onto itself",
     [](Ctx& c) {
         hard::Ffmpeg("-f lavfi -i testsrc=size=64x48:rate=25 -frames:v 3 " + c.P("x_%04d.png"));
         hard::WriteFile(c.aux + "/x_0002.png", hard::ReadFile(c.P("x_0002.png")));
         return c.Run({"render", "x_%04d.png", "x_%04d.png", "-y"});
     },
     1, "is the input x_%04d.png", {"x_0001.png", "x_0002.png", "x_0003.png"},
     [](Ctx& c) { EXPECT_EQ(hard::ReadFile(c.P("x_0002.png")), hard::ReadFile(c.aux + "/x_0002.png")); }},
    {"sequence without -y onto a folder holding frame 5",
     [](Ctx& c) {
         hard::WriteFile(c.P("out_0005.png"), "mine");
         return c.Run({"render", "in.mp4", "out_%04d.png"});
     },
     1, "out_0005.png: already exists", {"out_0005.png"},
     [](Ctx& c) { EXPECT_EQ(hard::ReadFile(c.P("out_0005.png")), "mine"); }},
    {"sequence without -y: a frame's name is taken during the render",
     [](Ctx& c) {
         fs::copy_file(c.clips + "/long.mp4", c.P("long.mp4"));
         hard::Running run = c.Start({"render", "long.mp4", "f_%04d.png", "--frames", "100"});
         if (!hard::WaitFor([&] { return FramesUnderWay(c); }, 30)) ADD_FAILURE() << "never got under way";
         hard::WriteFile(c.P("f_0050.png"), "made meanwhile");
         return Ended(run, 0);
     },
     1, "f_0050.png: appeared during the render", {"f_0050.png", "long.mp4"},
     [](Ctx& c) { EXPECT_EQ(hard::ReadFile(c.P("f_0050.png")), "made meanwhile"); }},
    {"sequence render, SIGTERM then SIGINT",
     [](Ctx& c) {
         fs::copy_file(c.clips + "/long.mp4", c.P("long.mp4"));
         double took = 0;
         return Signalled(c.Start({"render", "long.mp4", "f_%04d.png"}), 0, [&] { return FramesUnderWay(c); },
                          {SIGTERM, SIGINT}, &took);
     },
     128 + SIGTERM, "", {"long.mp4"}},
    {"planted link at OUT to a FIFO, without -y",
     [](Ctx& c) {
         chmod(c.dir.c_str(), 01777);
         mkfifo(c.P("fifo").c_str(), 0666);
         Plant("fifo", c.P("out.mkv"));
         const int reader = open(c.P("fifo").c_str(), O_RDONLY | O_NONBLOCK);
         hard::Outcome r = c.Run({"render", "in.mp4", "out.mkv"});
         char byte;
         EXPECT_LE(read(reader, &byte, 1), 0) << "written into the FIFO";
         close(reader);
         return r;
     },
     1, "out.mkv: already exists", {"fifo", "out.mkv"},
     [](Ctx& c) { EXPECT_TRUE(fs::is_symlink(c.P("out.mkv"))); }},
    {"planted link at OUT to a FIFO, with -y",
     [](Ctx& c) {
         chmod(c.dir.c_str(), 01777);
         mkfifo(c.P("fifo").c_str(), 0666);
         Plant("fifo", c.P("out.mkv"));
         const int reader = open(c.P("fifo").c_str(), O_RDONLY | O_NONBLOCK);
         hard::Outcome r = c.Run({"render", "in.mp4", "out.mkv", "-y"});
         char byte;
         EXPECT_LE(read(reader, &byte, 1), 0) << "written into the FIFO";
         close(reader);
         return r;
     },
     0, "", {"fifo", "out.mkv"},
     [](Ctx& c) {
         EXPECT_EQ(fs::symlink_status(c.P("out.mkv")).type(), fs::file_type::regular);
         EXPECT_EQ(fs::symlink_status(c.P("fifo")).type(), fs::file_type::fifo);
     }},
    {"planted link at OUT to /dev/null, without -y",
     [](Ctx& c) {
         chmod(c.dir.c_str(), 01777);
         Plant("/dev/null", c.P("out.mkv"));
         return c.Run({"render", "in.mp4", "out.mkv"});
     },
     1, "out.mkv: already exists", {"out.mkv"}},
    {"planted link at OUT to /proc/self/fd/1, without -y",
     [](Ctx& c) {
         Plant("/proc/self/fd/1", c.P("out.mkv"));
         return c.Run({"render", "in.mp4", "out.mkv"});
     },
     1, "out.mkv: already exists", {"out.mkv"}},
    // Its own /dev, so that a wrong fix cannot harm the machine's.
    {"/dev/stdout -y, standard output a file",
     [](Ctx& c) {
         if (std::system("unshare -m --propagation private true 2>/dev/null") != 0) {
             GTEST_LOG_(INFO) << "no private mount namespace here; /proc/self/fd/1 stands in";
             return c.Shell("\"$VX\" render in.mp4 /proc/self/fd/1 -y --config-dir " + c.cfg + " > stdout.mkv");
         }
         return hard::Spawn({"/usr/bin/unshare", "-m", "--propagation", "private", "/bin/sh", "-c",
                             "mount -t tmpfs none /dev && ln -s /proc/self/fd/1 /dev/stdout || exit 98; "
                             "\"$VX\" render in.mp4 /dev/stdout -y --config-dir " + c.cfg +
                                 " > stdout.mkv; s=$?; [ -L /dev/stdout ] && [ \"$(ls /dev)\" = stdout ] || exit 99; "
                                 "exit $s"},
                            hard::TimeLimit(60), 0, {"VX=" VX_APP_BIN}, c.dir);
     },
     0, "", {"stdout.mkv"}, [](Ctx& c) { EXPECT_GT(fs::file_size(c.P("stdout.mkv")), 1000u); }},
    {"standard output open on the input",
     [](Ctx& c) { return c.Shell("exec \"$VX\" render in.mp4 - --config-dir " + c.cfg + " 1<> in.mp4"); }, 1,
     "-: is the input in.mp4", {},
     [](Ctx& c) { EXPECT_EQ(hard::ReadFile(c.P("in.mp4")), hard::ReadFile(c.clips + "/short.mp4")); }},
};

struct Placement : ::testing::Test {
    static std::string clips;
    static void SetUpTestSuite() {
        clips = hard::MakeScratch("vx-place-clips");
        hard::Ffmpeg("-f lavfi -i testsrc=size=64x48:rate=25 -t 1 -pix_fmt yuv420p " + clips + "/short.mp4");
        // Long enough that a signal lands mid-render.
        hard::Ffmpeg("-f lavfi -i testsrc=size=320x240:rate=25 -t 20 -pix_fmt yuv420p " + clips + "/long.mp4");
        // Two halves of a render, for join.
        hard::Ffmpeg("-f lavfi -i testsrc=size=64x48:rate=25 -t 4 -c:v mpeg4 -g 25 " + clips + "/src.mkv");
        for (const std::string k : {"1", "2"}) {
            const hard::Outcome r = hard::Vexolumen(
                {"render", clips + "/src.mkv", clips + "/p" + k + ".mkv", "--codec", "mpeg4", "--segment", k + "/2"},
                clips + "/cfg", 60);
            ASSERT_EQ(r.status, 0) << r.err;
        }
    }
    static void TearDownTestSuite() { fs::remove_all(clips); }
};
std::string Placement::clips;

TEST_F(Placement, EachFaultEndsAsItShould) {
    for (const Row& row : kRows) {
        SCOPED_TRACE(row.fault);
        Ctx c{hard::MakeScratch("vx-place"), clips, hard::MakeScratch("vx-place-aux"), "", ""};
        c.cfg = c.aux + "/cfg";
        c.flag = c.aux + "/go";
        fs::copy_file(clips + "/short.mp4", c.P("in.mp4"));
        fs::copy_file(clips + "/p1.mkv", c.P("p1.mkv"));
        fs::copy_file(clips + "/p2.mkv", c.P("p2.mkv"));
        const hard::Outcome r = row.act(c);
        EXPECT_EQ(r.status, row.status) << r.err;
        if (row.status > 0 && row.status < 128) {
            EXPECT_TRUE(hard::OneClearLine(r, row.line));
        } else if (*row.line) {
            EXPECT_NE(r.err.find(row.line), std::string::npos) << r.err;
        }
        std::vector<std::string> after = row.after;
        after.insert(after.end(), {"in.mp4", "p1.mkv", "p2.mkv"});
        std::sort(after.begin(), after.end());
        EXPECT_EQ(hard::Listing(c.dir), after);
        if (row.check) row.check(c);
        fs::remove_all(c.dir);
        fs::remove_all(c.aux);
    }
}

#endif

}  // namespace
