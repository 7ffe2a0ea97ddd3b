#include <dlfcn.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
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

#include "platform/resources/ResourceFormat.h"
#include "platform/resources/Resources.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

struct PStr {
    unsigned char s[256];
    explicit PStr(const std::string& text) {
        s[0] = uint8_t(text.size());
        std::memcpy(s + 1, text.data(), text.size());
    }
    operator const unsigned char*() const { return s; }
};

std::string Text(const unsigned char* p) { return std::string(reinterpret_cast<const char*>(p + 1), p[0]); }

Bytes ReadBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const fs::path& p, const Bytes& b) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

Handle HandleOf(const std::string& text) {
    Handle h = NewHandle(int32_t(text.size()));
    std::memcpy(*h, text.data(), text.size());
    return h;
}

std::string Contents(Handle h) { return std::string(*h, size_t(GetHandleSize(h))); }

uint32_t Be32(const Bytes& b, size_t at) {
    return (uint32_t(b[at]) << 24) | (uint32_t(b[at + 1]) << 16) | (uint32_t(b[at + 2]) << 8) | b[at + 3];
}
void PutBe16(Bytes& b, size_t at, uint16_t v) {
    b[at] = uint8_t(v >> 8);
    b[at + 1] = uint8_t(v);
}
void PutBe32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + size_t(i)] = uint8_t(v >> (24 - 8 * i));
}

// A private preferences folder for each test.
class ResourcesTest : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vx-res-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root = tmpl;
        prefs = root / "config";
        fs::create_directory(prefs);
        setenv("XDG_CONFIG_HOME", prefs.c_str(), 1);
    }
    void TearDown() override {
        fs::permissions(prefs, fs::perms::owner_all, fs::perm_options::add);
        fs::remove_all(root);
        unsetenv("XDG_CONFIG_HOME");
    }
    FSSpec Spec(const std::string& name) {
        int16_t vRef = 0;
        int32_t dirID = 0;
        EXPECT_EQ(FindFolder(kOnSystemDisk, kPreferencesFolderType, kDontCreateFolder, &vRef, &dirID), noErr);
        FSSpec spec{};
        FSMakeFSSpec(vRef, dirID, PStr(name), &spec);
        return spec;
    }
    // Files left in the folder other than the named ones (temporary files).
    std::vector<std::string> Strays(const std::vector<std::string>& expected) {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(prefs)) {
            const std::string n = e.path().filename().string();
            if (std::find(expected.begin(), expected.end(), n) == expected.end()) out.push_back(n);
        }
        return out;
    }
    fs::path root, prefs;
};

// Runs body in a child process, optionally as an unprivileged user (so that
// folder permissions hold even when the tests run as root); its exit status.
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

TEST(Handles, ResizeKeepsContentsAndBadSizesFail) {
    Handle h = NewHandleClear(5);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(std::string(*h, 5), std::string(5, '\0'));
    std::memcpy(*h, "abcde", 5);
    EXPECT_EQ(SetHandleSize(h, 100000), noErr);
    EXPECT_EQ(GetHandleSize(h), 100000);
    EXPECT_EQ(std::string(*h, 5), "abcde");
    EXPECT_EQ(SetHandleSize(h, -1), paramErr);
    EXPECT_EQ(GetHandleSize(h), 100000);
    EXPECT_EQ(SetHandleSize(h, 2), noErr);
    EXPECT_EQ(Contents(h), "ab");
    DisposeHandle(h);
    EXPECT_EQ(NewHandle(-1), nullptr);
    EXPECT_EQ(MemError(), paramErr);
    DisposeHandle(nullptr);
    EXPECT_EQ(MemError(), noErr);
}

TEST_F(ResourcesTest, PreferencesFolderComesFromXdgThenHome) {
    int16_t vRef = 0;
    int32_t dirID = 0;
    const fs::path nested = root / "fresh" / "deeper";
    setenv("XDG_CONFIG_HOME", nested.c_str(), 1);
    EXPECT_EQ(FindFolder(kOnSystemDisk, kPreferencesFolderType, kDontCreateFolder, &vRef, &dirID), fnfErr);
    EXPECT_FALSE(fs::exists(nested));
    ASSERT_EQ(FindFolder(kOnSystemDisk, kPreferencesFolderType, kCreateFolder, &vRef, &dirID), noErr);
    EXPECT_TRUE(fs::is_directory(nested));

    FSSpec spec{};
    EXPECT_EQ(FSMakeFSSpec(vRef, dirID, PStr("pelzo-Prefs"), &spec), fnfErr);
    EXPECT_EQ(std::string(spec.path), (nested / "pelzo-Prefs").string());
    EXPECT_EQ(Text(spec.name), "pelzo-Prefs");
    WriteBytes(nested / "pelzo-Prefs", {1});
    EXPECT_EQ(FSMakeFSSpec(vRef, dirID, PStr("pelzo-Prefs"), &spec), noErr);
    EXPECT_EQ(FSMakeFSSpec(vRef, 12345, PStr("pelzo-Prefs"), &spec), dirNFErr);

    // Unset or relative XDG_CONFIG_HOME falls back to ~/.config.
    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome ? oldHome : "";
    fs::create_directories(root / "home" / ".config");
    setenv("HOME", (root / "home").c_str(), 1);
    for (const char* xdg : {static_cast<const char*>(nullptr), "relative/dir", ""}) {
        if (xdg) setenv("XDG_CONFIG_HOME", xdg, 1); else unsetenv("XDG_CONFIG_HOME");
        ASSERT_EQ(FindFolder(kOnSystemDisk, kPreferencesFolderType, kDontCreateFolder, &vRef, &dirID), noErr);
        FSMakeFSSpec(vRef, dirID, PStr("x"), &spec);
        EXPECT_EQ(std::string(spec.path), (root / "home" / ".config" / "x").string());
    }
    setenv("HOME", savedHome.c_str(), 1);
}

TEST_F(ResourcesTest, FilesHaveTheClassicLayout) {
    FSSpec spec = Spec("f");
    FSpCreateResFile(&spec, 0, FOUR_CHAR_CODE("Pref"), 0);
    ASSERT_EQ(ResError(), noErr);
    Bytes empty(286, 0);
    PutBe32(empty, 0, 256);   // data offset
    PutBe32(empty, 4, 256);   // map offset
    PutBe32(empty, 12, 30);   // map length
    std::copy(empty.begin(), empty.begin() + 16, empty.begin() + 256);
    PutBe16(empty, 256 + 24, 28);      // type list offset
    PutBe16(empty, 256 + 26, 30);      // name list offset
    PutBe16(empty, 256 + 28, 0xFFFF);  // no types
    EXPECT_EQ(ReadBytes(spec.path), empty);

    FSpCreateResFile(&spec, 0, FOUR_CHAR_CODE("Pref"), 0);
    EXPECT_EQ(ResError(), dupFNErr);
    EXPECT_EQ(ReadBytes(spec.path), empty);

    const ResFileRefNum ref = FSpOpenResFile(&spec, fsCurPerm);
    ASSERT_GT(ref, 0);
    EXPECT_EQ(CurResFile(), ref);
    AddResource(HandleOf("abc"), FOUR_CHAR_CODE("Pref"), 1, PStr("Config Settings"));
    AddResource(HandleOf("Z"), FOUR_CHAR_CODE("TEXT"), -2, nullptr);
    CloseResFile(ref);
    ASSERT_EQ(ResError(), noErr);

    // data: 7 + 5 bytes at 256; map: 28 header, 2 + 2 x 8 types, 2 x 12 refs, 16 name.
    Bytes expected(256, 0);
    for (char b : {'\0', '\0', '\0', '\3', 'a', 'b', 'c', '\0', '\0', '\0', '\1', 'Z'}) expected.push_back(uint8_t(b));
    const size_t mapAt = expected.size();
    expected.resize(mapAt + 86, 0);
    PutBe32(expected, 0, 256);
    PutBe32(expected, 4, uint32_t(mapAt));
    PutBe32(expected, 8, 12);
    PutBe32(expected, 12, 86);
    std::copy(expected.begin(), expected.begin() + 16, expected.begin() + long(mapAt));
    PutBe16(expected, mapAt + 24, 28);
    PutBe16(expected, mapAt + 26, 28 + 18 + 24);
    const size_t types = mapAt + 28;
    PutBe16(expected, types, 1);  // two types
    PutBe32(expected, types + 2, FOUR_CHAR_CODE("Pref"));
    PutBe16(expected, types + 6, 0);
    PutBe16(expected, types + 8, 18);
    PutBe32(expected, types + 10, FOUR_CHAR_CODE("TEXT"));
    PutBe16(expected, types + 14, 0);
    PutBe16(expected, types + 16, 30);
    PutBe16(expected, types + 18, 1);       // id 1, name at 0, data at 0
    PutBe16(expected, types + 30, 0xFFFE);  // id -2, no name, data at 7
    PutBe16(expected, types + 32, 0xFFFF);
    expected[types + 37] = 7;
    expected[types + 42] = 15;
    std::memcpy(&expected[types + 43], "Config Settings", 15);
    EXPECT_EQ(ReadBytes(spec.path), expected);
}

TEST_F(ResourcesTest, EditsKeepEveryOtherResource) {
    FSSpec spec = Spec("f");
    FSpCreateResFile(&spec, 0, 0, 0);
    ResFileRefNum ref = FSpOpenResFile(&spec, fsCurPerm);
    AddResource(HandleOf("one"), FOUR_CHAR_CODE("Pref"), 1, PStr("first"));
    AddResource(HandleOf(""), FOUR_CHAR_CODE("Pref"), 2, nullptr);
    AddResource(HandleOf("note"), FOUR_CHAR_CODE("TEXT"), 128, PStr("n"));
    Handle dup = HandleOf("dup");
    AddResource(dup, FOUR_CHAR_CODE("Pref"), 1, nullptr);
    EXPECT_EQ(ResError(), addResFailed);  // and the caller keeps dup
    DisposeHandle(dup);
    // A string list stored in the open file is seen by GetIndString.
    AddResource(HandleOf(std::string("\0\2\3abc\2de", 10)), FOUR_CHAR_CODE("STR#"), 300, nullptr);
    Str255 s;
    GetIndString(s, 300, 2);
    EXPECT_EQ(Text(s), "de");
    GetIndString(s, 300, 3);
    EXPECT_EQ(Text(s), "");
    CloseResFile(ref);
    ASSERT_EQ(ResError(), noErr);

    ref = FSpOpenResFile(&spec, fsCurPerm);
    ASSERT_GT(ref, 0);
    EXPECT_EQ(Count1Types(), 3);
    ResType t = 0;
    Get1IndType(&t, 2);
    EXPECT_EQ(t, FOUR_CHAR_CODE("TEXT"));
    EXPECT_EQ(Count1Resources(FOUR_CHAR_CODE("Pref")), 2);
    EXPECT_EQ(Get1Resource(FOUR_CHAR_CODE("Pref"), 3), nullptr);
    EXPECT_EQ(ResError(), resNotFound);
    Handle note = Get1NamedResource(FOUR_CHAR_CODE("TEXT"), PStr("n"));
    ASSERT_NE(note, nullptr);
    EXPECT_EQ(Contents(note), "note");
    int16_t id = 0;
    Str255 name;
    GetResInfo(note, &id, &t, name);
    EXPECT_EQ(id, 128);
    EXPECT_EQ(Text(name), "n");
    EXPECT_EQ(GetHandleSize(Get1IndResource(FOUR_CHAR_CODE("Pref"), 2)), 0);

    // Change one, remove one, detach one: only those change on disk.
    SetHandleSize(note, 5);
    std::memcpy(*note, "notes", 5);
    ChangedResource(note);
    Handle first = Get1Resource(FOUR_CHAR_CODE("Pref"), 1);
    RemoveResource(first);
    EXPECT_EQ(Contents(first), "one");  // now the caller's
    DisposeHandle(first);
    Handle empty = Get1Resource(FOUR_CHAR_CODE("Pref"), 2);
    DetachResource(empty);
    CloseResFile(ref);
    ASSERT_EQ(ResError(), noErr);
    EXPECT_EQ(GetHandleSize(empty), 0);  // a detached handle outlives its file
    DisposeHandle(empty);

    ref = FSpOpenResFile(&spec, fsRdPerm);
    EXPECT_EQ(Count1Resources(FOUR_CHAR_CODE("Pref")), 1);
    EXPECT_NE(Get1Resource(FOUR_CHAR_CODE("Pref"), 2), nullptr);
    EXPECT_EQ(Contents(Get1Resource(FOUR_CHAR_CODE("TEXT"), 128)), "notes");
    // A read-only open refuses to write and leaves the file alone.
    const Bytes before = ReadBytes(spec.path);
    AddResource(HandleOf("x"), FOUR_CHAR_CODE("Pref"), 9, nullptr);
    UpdateResFile(ref);
    EXPECT_EQ(ResError(), wrPermErr);
    CloseResFile(ref);
    EXPECT_EQ(ReadBytes(spec.path), before);
}

// A valid file with two types, a name each, for damaging.
Bytes ValidFile() {
    vxres::ResourceImage image;
    image.entries.push_back({FOUR_CHAR_CODE("Pref"), 1, 0, true, "Config Settings", Bytes(394, 7)});
    image.entries.push_back({FOUR_CHAR_CODE("Pref"), 2, 0, true, "other", Bytes(3, 1)});
    image.entries.push_back({FOUR_CHAR_CODE("TEXT"), 5, 0, false, "", Bytes(20, 2)});
    Bytes b;
    EXPECT_EQ(vxres::BuildResourceFile(image, b), noErr);
    return b;
}

TEST_F(ResourcesTest, DamagedFilesFailToOpenAndAreLeftAlone) {
    const Bytes good = ValidFile();
    const size_t map = Be32(good, 4);
    const size_t types = map + 28;
    const size_t refs = types + 2 + 16;  // first reference list
    std::vector<Bytes> bad;
    for (size_t n = 0; n < good.size(); n += (n < 300 ? 1 : 7)) bad.emplace_back(good.begin(), good.begin() + long(n));
    auto damaged = [&](const std::function<void(Bytes&)>& f) {
        Bytes b = good;
        f(b);
        bad.push_back(b);
    };
    damaged([](Bytes& b) { PutBe32(b, 0, uint32_t(b.size())); });              // data past the end
    damaged([](Bytes& b) { PutBe32(b, 12, 0xFFFFFFFF); });                      // map length wraps
    damaged([](Bytes& b) { PutBe32(b, 4, 0xFFFFFFF0); });                       // map offset wraps
    damaged([&](Bytes& b) { PutBe16(b, types, 0xFFFE); });                      // 65535 types
    damaged([&](Bytes& b) { PutBe16(b, types + 6, 0xFFFF); });                  // 65536 references
    damaged([&](Bytes& b) { PutBe16(b, types + 8, 0xFFF0); });                  // list past the map
    damaged([&](Bytes& b) { PutBe16(b, types + 16, b[types + 9]); });           // two types share a list
    damaged([&](Bytes& b) { PutBe16(b, refs + 2, 0x7FFF); });                   // name past the map
    damaged([&](Bytes& b) { b[map + b[map + 27] + b[map + 26] * 256] = 255; }); // name runs off the end
    damaged([&](Bytes& b) { b[refs + 5] = 0x7F; });                             // data past the end
    damaged([&](Bytes& b) { PutBe32(b, 256, 0x7FFFFFFF); });                    // huge data length
    damaged([&](Bytes& b) { std::copy_n(&b[refs + 5], 3, &b[refs + 12 + 5]); });  // shared data
    damaged([&](Bytes& b) { PutBe16(b, refs + 12, 1); });                       // 'Pref' 1 twice
    std::mt19937 rng(42);
    for (int i = 0; i < 200; ++i) {
        Bytes b(rng() % 600);
        for (auto& x : b) x = uint8_t(rng());
        if (i % 2 && b.size() >= 16) std::copy_n(good.begin(), 16, b.begin());  // plausible header
        bad.push_back(b);
    }

    const fs::path path = prefs / "bad";
    int opened = 0;
    for (const Bytes& b : bad) {
        WriteBytes(path, b);
        FSSpec spec = Spec("bad");
        const ResFileRefNum ref = FSpOpenResFile(&spec, fsCurPerm);
        if (ref != -1) {
            ++opened;  // random bytes that happen to form a file must still behave
            Get1Resource(FOUR_CHAR_CODE("Pref"), 1);
            CloseResFile(ref);
            continue;
        }
        EXPECT_NE(ResError(), noErr);
        EXPECT_EQ(ReadBytes(path), b);
        EXPECT_EQ(CurResFile(), 0);
    }
    EXPECT_EQ(opened, 0);
    WriteBytes(path, good);
    FSSpec spec = Spec("bad");
    const ResFileRefNum ref = FSpOpenResFile(&spec, fsCurPerm);
    ASSERT_GT(ref, 0);
    EXPECT_EQ(Count1Resources(FOUR_CHAR_CODE("Pref")), 2);
    CloseResFile(ref);
}

TEST_F(ResourcesTest, WritesReplaceTheFileWholeOrNotAtAll) {
    FSSpec spec = Spec("f");
    FSpCreateResFile(&spec, 0, 0, 0);
    ResFileRefNum ref = FSpOpenResFile(&spec, fsCurPerm);
    AddResource(HandleOf("old"), FOUR_CHAR_CODE("Pref"), 1, nullptr);
    CloseResFile(ref);
    fs::permissions(spec.path, fs::perms(0640));
    const Bytes old = ReadBytes(spec.path);

    // A reader holding the old file keeps seeing it whole; permissions stay.
    std::ifstream reader(spec.path, std::ios::binary);
    ref = FSpOpenResFile(&spec, fsCurPerm);
    AddResource(HandleOf("new"), FOUR_CHAR_CODE("Pref"), 2, nullptr);
    UpdateResFile(ref);
    EXPECT_EQ(ResError(), noErr);
    CloseResFile(ref);
    EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(reader), {}), old);
    EXPECT_EQ(fs::status(spec.path).permissions(), fs::perms(0640));
    const Bytes current = ReadBytes(spec.path);
    EXPECT_TRUE(Strays({"f"}).empty());

    // Through a symbolic link the target is replaced and the link stays.
    fs::create_symlink(spec.path, prefs / "link");
    FSSpec link = Spec("link");
    ref = FSpOpenResFile(&link, fsCurPerm);
    AddResource(HandleOf("via link"), FOUR_CHAR_CODE("Pref"), 4, nullptr);
    CloseResFile(ref);
    EXPECT_EQ(ResError(), noErr);
    EXPECT_TRUE(fs::is_symlink(prefs / "link"));
    EXPECT_EQ(ReadBytes(spec.path).size(), current.size() + 4 + 8 + 12);
    fs::remove(prefs / "link");
    WriteBytes(spec.path, current);

    // The disk fills up in the middle of the write.
    EXPECT_EQ(RunChild([&] {
        signal(SIGXFSZ, SIG_IGN);
        rlimit limit{400, 400};
        setrlimit(RLIMIT_FSIZE, &limit);
        const ResFileRefNum r = FSpOpenResFile(&spec, fsCurPerm);
        AddResource(HandleOf(std::string(1000, 'x')), FOUR_CHAR_CODE("Pref"), 3, nullptr);
        UpdateResFile(r);
        return ResError() == dskFulErr ? 0 : 1;
    }, false), 0);
    EXPECT_EQ(ReadBytes(spec.path), current);
    EXPECT_TRUE(Strays({"f"}).empty());

    // The folder is read-only although the file is writable.
    fs::permissions(spec.path, fs::perms(0666));
    fs::permissions(root, fs::perms(0755));
    fs::permissions(prefs, fs::perms(0555));
    EXPECT_EQ(RunChild([&] {
        const ResFileRefNum r = FSpOpenResFile(&spec, fsCurPerm);
        AddResource(HandleOf("more"), FOUR_CHAR_CODE("Pref"), 3, nullptr);
        UpdateResFile(r);
        return ResError() == permErr ? 0 : 1;
    }, true), 0);
    EXPECT_EQ(ReadBytes(spec.path), current);
    EXPECT_TRUE(Strays({"f"}).empty());
}

// --- Bundles -------------------------------------------------------------------

std::string UniqueID(const char* what) { return std::string("org.example.") + what + "." + std::to_string(getpid()); }

CFStringRef Str(const std::string& s) { return CFStringCreateWithCString(nullptr, s.c_str(), kCFStringEncodingUTF8); }

std::string ResourcePath(CFBundleRef b, const char* name, const char* type, const char* sub) {
    CFStringRef n = Str(name), t = type ? Str(type) : nullptr, d = sub ? Str(sub) : nullptr;
    CFURLRef url = CFBundleCopyResourceURL(b, n, t, d);
    std::string out = url ? CFURLGetPath(url) : "(none)";
    CFRelease(url);
    CFRelease(n);
    CFRelease(t);
    CFRelease(d);
    return out;
}

TEST_F(ResourcesTest, BundlesGiveStringsResourcesAndCode) {
    const fs::path b = root / "test.plugin";
    fs::create_directories(b / "Resources" / "Help");
    const std::string id = UniqueID("strings");
    std::ofstream(b / "Info") << "# test bundle\nidentifier = " << id << "\n  executable=code.so  \nname = x\n";
    fs::copy_file(fs::path(VX_BUNDLE_DIR) / "vexolumen.so", b / "code.so");
    std::ofstream(b / "Resources" / "manual.pdf") << "%PDF";
    std::ofstream(b / "Resources" / "Help" / "page.html") << "<p>";
    std::ofstream(b / "Resources" / "strings.txt")
        << "# header\n[STR# 7]\nfirst\n# a comment\n\nthird\r\n\n\n[STR# -3]\nminus\n[STR# 8]\n"
        << std::string(300, 'L') << "\n[STR#]\norphan\n";

    EXPECT_EQ(CFBundleCreate(nullptr, (root / "missing").c_str()), nullptr);
    EXPECT_EQ(CFBundleCreate(nullptr, root.c_str()), nullptr);  // no Info
    CFBundleRef bundle = CFBundleCreate(nullptr, (b.string() + "/").c_str());
    ASSERT_NE(bundle, nullptr);
    EXPECT_EQ(CFBundleCreate(nullptr, b.c_str()), bundle);
    EXPECT_EQ(std::string(CFStringGetCStringPtrUTF8(CFBundleGetIdentifier(bundle))), id);
    CFStringRef idRef = Str(id);
    EXPECT_EQ(CFBundleGetBundleWithIdentifier(idRef), bundle);
    CFRelease(idRef);

    EXPECT_EQ(ResourcePath(bundle, "manual", "pdf", nullptr), (b / "Resources" / "manual.pdf").string());
    EXPECT_EQ(ResourcePath(bundle, "manual.pdf", nullptr, nullptr), (b / "Resources" / "manual.pdf").string());
    EXPECT_EQ(ResourcePath(bundle, "page", "html", "Help"), (b / "Resources" / "Help" / "page.html").string());
    EXPECT_EQ(ResourcePath(bundle, "manual", "txt", nullptr), "(none)");
    EXPECT_EQ(ResourcePath(bundle, "page", "html", nullptr), "(none)");

    Str255 s;
    GetIndString(s, 7, 1);
    EXPECT_EQ(Text(s), "");  // not visible before the map is opened
    ASSERT_EQ(CFBundleOpenBundleResourceMap(bundle), noErr);
    ASSERT_EQ(CFBundleOpenBundleResourceMap(bundle), noErr);
    const std::pair<int, const char*> list7[] = {{1, "first"}, {2, ""}, {3, "third"}, {4, ""}, {0, ""}};
    for (auto [index, text] : list7) {
        GetIndString(s, 7, int16_t(index));
        EXPECT_EQ(Text(s), text) << index;
    }
    GetIndString(s, -3, 1);
    EXPECT_EQ(Text(s), "minus");
    GetIndString(s, 8, 1);
    EXPECT_EQ(Text(s), std::string(255, 'L'));
    GetIndString(s, 9, 1);
    EXPECT_EQ(Text(s), "");

    EXPECT_NE(CFBundleGetFunctionPointerForName(bundle, "main"), nullptr);
    EXPECT_EQ(CFBundleGetFunctionPointerForName(bundle, "no_such_symbol"), nullptr);

    const fs::path broken = root / "broken.plugin";
    fs::create_directories(broken);
    std::ofstream(broken / "Info") << "identifier = " << UniqueID("broken") << "\nexecutable = gone.so\n";
    CFBundleRef bad = CFBundleCreate(nullptr, broken.c_str());
    ASSERT_NE(bad, nullptr);
    EXPECT_FALSE(CFBundleLoadExecutable(bad));
    EXPECT_NE(std::string(CFBundleGetLoadError(bad)).find("gone.so"), std::string::npos);
    EXPECT_EQ(CFBundleOpenBundleResourceMap(bad), fnfErr);
    CFRelease(bad);
    CFRelease(bundle);
}

TEST_F(ResourcesTest, PlainlyLoadedBundleIsFoundByIdentifier) {
    const fs::path b = root / "scan.plugin";
    fs::create_directories(b / "Resources");
    const std::string id = UniqueID("scan");
    std::ofstream(b / "Info") << "identifier = " << id << "\nexecutable = scan.so\n";
    fs::copy_file(fs::path(VX_BUNDLE_DIR) / "vexolumen.so", b / "scan.so");
    CFStringRef idRef = Str(id);
    EXPECT_EQ(CFBundleGetBundleWithIdentifier(idRef), nullptr);

    void* lib = dlopen((b / "scan.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    CFBundleRef found = CFBundleGetBundleWithIdentifier(idRef);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(std::string(CFBundleGetPath(found)), fs::canonical(b).string());
    EXPECT_EQ(CFBundleGetFunctionPointerForName(found, "main"), dlsym(lib, "main"));
    CFRelease(idRef);
    dlclose(lib);
}

TEST(CFStrings, PascalStringsAreUtf8OrMacRoman) {
    const unsigned char utf8[] = "\x05" "Caf\xc3\xa9";
    const unsigned char roman[] = "\x05" "Caf\x8e\xc9";  // é and … in Mac Roman
    CFStringRef a = CFStringCreateWithPascalString(nullptr, utf8, kCFStringEncodingMacRoman);
    CFStringRef b = CFStringCreateWithPascalString(nullptr, roman, kCFStringEncodingMacRoman);
    EXPECT_STREQ(CFStringGetCStringPtrUTF8(a), "Caf\xc3\xa9");
    EXPECT_STREQ(CFStringGetCStringPtrUTF8(b), "Caf\xc3\xa9\xe2\x80\xa6");
    CFRetain(a);
    CFRelease(a);
    EXPECT_STREQ(CFStringGetCStringPtrUTF8(a), "Caf\xc3\xa9");  // still alive after one release
    CFRelease(a);
    CFRelease(b);
}

}  // namespace
