#include <dlfcn.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

#include <gtest/gtest.h>

#include "platform/resources/ResourceFormat.h"
#include "platform/resources/Resources.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

struct PStr {
    unsigned char s[256];
    explicit PStr(const std::string& text) : s{uint8_t(text.size())} { std::memcpy(s + 1, text.data(), text.size()); }
    operator const unsigned char*() const { return s; }
};

std::string Text(const unsigned char* p) { return std::string(reinterpret_cast<const char*>(p + 1), p[0]); }

Bytes ReadBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const fs::path& p, const Bytes& b) {
    std::ofstream(p, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(b.data()), long(b.size()));
}

Handle HandleOf(const std::string& text) {
    Handle h = NewHandle(int32_t(text.size()));
    std::memcpy(*h, text.data(), text.size());
    return h;
}

void PutBe16(Bytes& b, size_t at, uint16_t v) { b[at] = uint8_t(v >> 8), b[at + 1] = uint8_t(v); }
void PutBe32(Bytes& b, size_t at, uint32_t v) { PutBe16(b, at, uint16_t(v >> 16)), PutBe16(b, at + 2, uint16_t(v)); }

// A file given in hex (spaces ignored): the 16-byte header, zeros up to 256,
// the data, the header again and the rest of the map.
Bytes FileBytes(const std::string& head, const std::string& data, const std::string& map) {
    std::string hex;
    for (char c : head + std::string(480, '0') + data + head + map)
        if (c != ' ') hex += c;
    Bytes b;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) b.push_back(uint8_t(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return b;
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
        fs::remove_all(root);
        unsetenv("XDG_CONFIG_HOME");
    }
    FSSpec Spec(const std::string& name) {
        FSSpec spec{};
        std::strcpy(spec.path, (prefs / name).c_str());
        return spec;
    }
    fs::path root, prefs;
};

TEST_F(ResourcesTest, PreferencesFolderComesFromXdgThenHome) {
    const std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    fs::create_directories(root / "home" / ".config");
    setenv("HOME", (root / "home").c_str(), 1);
    // XDG_CONFIG_HOME when absolute; unset, relative or empty falls back to ~/.config.
    for (const char* xdg : {prefs.c_str(), static_cast<const char*>(nullptr), "relative/dir", ""}) {
        if (xdg) setenv("XDG_CONFIG_HOME", xdg, 1); else unsetenv("XDG_CONFIG_HOME");
        int16_t vRef = 0;
        int32_t dirID = 0;
        FSSpec spec{};
        ASSERT_EQ(FindFolder(kOnSystemDisk, kPreferencesFolderType, kDontCreateFolder, &vRef, &dirID), noErr);
        FSMakeFSSpec(vRef, dirID, PStr("x"), &spec);
        EXPECT_EQ(std::string(spec.path), ((xdg == prefs.c_str() ? prefs : root / "home" / ".config") / "x").string());
    }
    setenv("HOME", savedHome.c_str(), 1);
}

TEST_F(ResourcesTest, FilesHaveTheClassicLayout) {
    FSSpec spec = Spec("f");
    FSpCreateResFile(&spec, 0, FOUR_CHAR_CODE("Pref"), 0);
    // Data at 256, none; map of 30 bytes: type list at 28, names at 30, no types.
    const Bytes empty = FileBytes("00000100 00000100 00000000 0000001E", "", "00000000 0000 0000 001C 001E FFFF");
    EXPECT_EQ(ReadBytes(spec.path), empty);
    FSpCreateResFile(&spec, 0, FOUR_CHAR_CODE("Pref"), 0);
    EXPECT_EQ(ResError(), dupFNErr);
    EXPECT_EQ(ReadBytes(spec.path), empty);

    const ResFileRefNum ref = FSpOpenResFile(&spec, fsCurPerm);
    ASSERT_GT(ref, 0);
    AddResource(HandleOf("abc"), FOUR_CHAR_CODE("Pref"), 1, PStr("Config Settings"));
    AddResource(HandleOf("Z"), FOUR_CHAR_CODE("TEXT"), -2, nullptr);
    CloseResFile(ref);
    EXPECT_EQ(ReadBytes(spec.path),
              FileBytes("00000100 0000010C 0000000C 00000056", "00000003 616263 00000001 5A",
                        "00000000 0000 0000 001C 0046"
                        " 0001 50726566 0000 0012 54455854 0000 001E"                // 'Pref', 'TEXT'
                        " 0001 0000 00 000000 00000000 FFFE FFFF 00 000007 00000000"  // 1 named, -2 not
                        " 0F 436F6E6669672053657474696E6773"));                       // "Config Settings"
}

TEST_F(ResourcesTest, DamagedFilesFailToOpenAndAreLeftAlone) {
    vxres::ResourceImage image;  // two types, a name each
    image.entries.push_back({FOUR_CHAR_CODE("Pref"), 1, 0, true, "Config Settings", Bytes(394, 7)});
    image.entries.push_back({FOUR_CHAR_CODE("Pref"), 2, 0, true, "other", Bytes(3, 1)});
    image.entries.push_back({FOUR_CHAR_CODE("TEXT"), 5, 0, false, "", Bytes(20, 2)});
    Bytes good;
    ASSERT_EQ(vxres::BuildResourceFile(image, good), noErr);
    const size_t map = size_t(good[6]) << 8 | good[7], types = map + 28, refs = types + 2 + 16;
    std::vector<Bytes> bad;
    for (size_t n = 0; n < good.size(); n += (n < 300 ? 1 : 7)) bad.emplace_back(good.begin(), good.begin() + long(n));
    const std::function<void(Bytes&)> damages[] = {
        [](Bytes& b) { PutBe32(b, 0, uint32_t(b.size())); },              // data past the end
        [](Bytes& b) { PutBe32(b, 12, 0xFFFFFFFF); },                      // map length wraps
        [](Bytes& b) { PutBe32(b, 4, 0xFFFFFFF0); },                       // map offset wraps
        [&](Bytes& b) { PutBe16(b, types, 0xFFFE); },                      // 65535 types
        [&](Bytes& b) { PutBe16(b, types + 6, 0xFFFF); },                  // 65536 references
        [&](Bytes& b) { PutBe16(b, types + 8, 0xFFF0); },                  // list past the map
        [&](Bytes& b) { PutBe16(b, types + 16, b[types + 9]); },           // two types share a list
        [&](Bytes& b) { PutBe16(b, refs + 2, 0x7FFF); },                   // name past the map
        [&](Bytes& b) { b[map + b[map + 27] + b[map + 26] * 256] = 255; }, // name runs off the end
        [&](Bytes& b) { b[refs + 5] = 0x7F; },                             // data past the end
        [&](Bytes& b) { PutBe32(b, 256, 0x7FFFFFFF); },                    // huge data length
        [&](Bytes& b) { std::copy_n(&b[refs + 5], 3, &b[refs + 12 + 5]); },  // shared data
        [&](Bytes& b) { PutBe16(b, refs + 12, 1); }};                      // 'Pref' 1 twice
    for (const auto& damage : damages) damage(bad.emplace_back(good));
    std::mt19937 rng(42);
    for (int i = 0; i < 200; ++i) {
        Bytes& b = bad.emplace_back(rng() % 600);
        for (auto& x : b) x = uint8_t(rng());
    }

    const fs::path path = prefs / "bad";
    FSSpec spec = Spec("bad");
    for (size_t i = 0; i < bad.size(); ++i) {
        WriteBytes(path, bad[i]);
        const ResFileRefNum ref = FSpOpenResFile(&spec, fsCurPerm);
        EXPECT_EQ(ref, -1) << i;
        if (ref != -1) CloseResFile(ref);
        EXPECT_EQ(ReadBytes(path), bad[i]) << i;
        EXPECT_EQ(CurResFile(), 0) << i;
    }
    WriteBytes(path, good);  // the undamaged file opens
    const ResFileRefNum ref = FSpOpenResFile(&spec, fsCurPerm);
    EXPECT_GT(ref, 0);
    CloseResFile(ref);
}

// The file is replaced by a new one on every write: through a symbolic link
// the target is replaced, and the link and the file's permissions stay.
TEST_F(ResourcesTest, WritesThroughALinkKeepTheLinkAndPermissions) {
    FSSpec spec = Spec("f"), link = Spec("link");
    FSpCreateResFile(&spec, 0, 0, 0);
    fs::permissions(spec.path, fs::perms(0640));
    fs::create_symlink(spec.path, prefs / "link");
    const ResFileRefNum ref = FSpOpenResFile(&link, fsCurPerm);
    AddResource(HandleOf("new"), FOUR_CHAR_CODE("Pref"), 1, nullptr);
    CloseResFile(ref);
    EXPECT_TRUE(fs::is_symlink(prefs / "link"));
    EXPECT_EQ(fs::status(spec.path).permissions(), fs::perms(0640));
    EXPECT_EQ(ReadBytes(spec.path).size(), 286u + 4 + 3 + 8 + 12);
}

// In a folder anyone may add names to, a link someone else planted at the
// file is not written through, and the file it points to stays as it was.
TEST_F(ResourcesTest, PlantedLinksAreNotWrittenThrough) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to plant a link of another user";
    FSSpec target = Spec("target"), planted = Spec("planted");
    FSpCreateResFile(&target, 0, 0, 0);
    const Bytes before = ReadBytes(target.path);
    fs::permissions(prefs, fs::perms(01777));
    fs::create_symlink(target.path, planted.path);
    ASSERT_EQ(lchown(planted.path, 4242, 4242), 0);
    const ResFileRefNum ref = FSpOpenResFile(&planted, fsCurPerm);
    ASSERT_GT(ref, 0);
    AddResource(HandleOf("new"), FOUR_CHAR_CODE("Pref"), 1, nullptr);
    UpdateResFile(ref);
    EXPECT_EQ(ResError(), permErr);
    CloseResFile(ref);
    EXPECT_EQ(ReadBytes(target.path), before);
    EXPECT_TRUE(fs::is_symlink(planted.path));
}

// The update lock shuts out other processes, not the holder itself, and is
// given up when the holder's last unlock comes.
TEST_F(ResourcesTest, UpdateLockIsExclusiveBetweenProcessesAndNests) {
    FSSpec spec = Spec("f");
    ASSERT_EQ(FSpLockForUpdate(&spec, 0), noErr);
    ASSERT_EQ(FSpLockForUpdate(&spec, 0), noErr);  // nested
    // Another program taking the same advisory lock on the folder.
    auto otherGets = [&] { return std::system(("flock -n " + prefs.string() + " true").c_str()) == 0; };
    EXPECT_FALSE(otherGets());
    FSpUnlockForUpdate(&spec);
    EXPECT_FALSE(otherGets());  // still held once
    // A write in between goes through: the holder's own lock does not block it.
    FSpCreateResFile(&spec, 0, 0, 0);
    EXPECT_EQ(ResError(), noErr);
    FSpUnlockForUpdate(&spec);
    EXPECT_TRUE(otherGets());
    // And the other way round: held elsewhere, the wait ends in fLckdErr.
    const pid_t holder = fork();
    if (holder == 0) {
        execlp("flock", "flock", "-o", prefs.c_str(), "sleep", "30", nullptr);  // -o: the lock dies with flock
        _exit(127);
    }
    for (int i = 0; i < 500 && otherGets(); ++i) usleep(10000);
    EXPECT_EQ(FSpLockForUpdate(&spec, 100), fLckdErr);
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    EXPECT_EQ(FSpLockForUpdate(&spec, 5000), noErr);
    FSpUnlockForUpdate(&spec);
}

// More opens than there are reference numbers, one file at a time.
TEST_F(ResourcesTest, ReferenceNumbersAreReusedAfterClose) {
    FSSpec spec = Spec("f");
    FSpCreateResFile(&spec, 0, 0, 0);
    for (int i = 0; i < 40000; ++i) {
        const ResFileRefNum ref = FSpOpenResFile(&spec, fsRdPerm);
        ASSERT_GT(ref, 0) << "open " << i;
        CloseResFile(ref);
    }
}

// --- Bundles -------------------------------------------------------------------

std::string UniqueID(const char* what) { return std::string("org.example.") + what + "." + std::to_string(getpid()); }

CFStringRef Str(const std::string& s) { return CFStringCreateWithCString(nullptr, s.c_str(), kCFStringEncodingUTF8); }

std::string ResourcePath(CFBundleRef b, const char* name, const char* type) {
    CFStringRef n = Str(name), t = Str(type);
    CFURLRef url = CFBundleCopyResourceURL(b, n, t, nullptr);
    const std::string out = url ? CFURLGetPath(url) : "(none)";
    for (CFTypeRef r : {CFTypeRef(url), CFTypeRef(n), CFTypeRef(t)}) CFRelease(r);
    return out;
}

TEST_F(ResourcesTest, BundlesGiveStringsResourcesAndCode) {
    const fs::path b = root / "test.plugin";
    fs::create_directories(b / "Resources");
    const std::string id = UniqueID("strings");
    std::ofstream(b / "Info") << "# test bundle\nidentifier = " << id << "\n  executable=code.so  \nname = x\n";
    fs::copy_file(fs::path(VX_BUNDLE_DIR) / "vexolumen.so", b / "code.so");
    std::ofstream(b / "Resources" / "manual.pdf") << "%PDF";
    std::ofstream(b / "Resources" / "strings.txt")
        << "# header\n[STR# 7]\nfirst\n# a comment\n\nthird\r\n\n\n[STR# -3]\nminus\n[STR# 8]\n"
        << std::string(300, 'L') << "\n[STR#]\norphan\n";

    EXPECT_EQ(CFBundleCreate(nullptr, root.c_str()), nullptr);  // no Info
    CFBundleRef bundle = CFBundleCreate(nullptr, b.c_str());
    ASSERT_NE(bundle, nullptr);
    CFStringRef idRef = Str(id);
    EXPECT_EQ(CFBundleGetBundleWithIdentifier(idRef), bundle);
    CFRelease(idRef);
    EXPECT_EQ(ResourcePath(bundle, "manual", "pdf"), (b / "Resources" / "manual.pdf").string());
    EXPECT_EQ(ResourcePath(bundle, "manual", "txt"), "(none)");

    ASSERT_EQ(CFBundleOpenBundleResourceMap(bundle), noErr);
    const std::tuple<int16_t, int16_t, std::string> strings[] = {
        {7, 1, "first"}, {7, 2, ""}, {7, 3, "third"}, {7, 4, ""}, {7, 0, ""},
        {-3, 1, "minus"}, {8, 1, std::string(255, 'L')}, {9, 1, ""}};
    for (const auto& [list, index, text] : strings) {
        Str255 s;
        GetIndString(s, list, index);
        EXPECT_EQ(Text(s), text) << list << "/" << index;
    }
    EXPECT_NE(CFBundleGetFunctionPointerForName(bundle, "main"), nullptr);
    CFRelease(bundle);

    const fs::path broken = root / "broken.plugin";
    fs::create_directories(broken);
    std::ofstream(broken / "Info") << "identifier = " << UniqueID("broken") << "\nexecutable = gone.so\n";
    CFBundleRef bad = CFBundleCreate(nullptr, broken.c_str());
    ASSERT_NE(bad, nullptr);
    EXPECT_FALSE(CFBundleLoadExecutable(bad));
    EXPECT_NE(std::string(CFBundleGetLoadError(bad)).find("gone.so"), std::string::npos);
    CFRelease(bad);
}

TEST_F(ResourcesTest, PlainlyLoadedBundleIsFoundByIdentifier) {
    const fs::path b = root / "scan.plugin";
    fs::create_directories(b);
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
    CFStringRef a = CFStringCreateWithPascalString(nullptr, PStr("Caf\xc3\xa9"), kCFStringEncodingMacRoman);
    CFStringRef b = CFStringCreateWithPascalString(nullptr, PStr("Caf\x8e\xc9"), kCFStringEncodingMacRoman);
    EXPECT_STREQ(CFStringGetCStringPtrUTF8(a), "Caf\xc3\xa9");
    EXPECT_STREQ(CFStringGetCStringPtrUTF8(b), "Caf\xc3\xa9\xe2\x80\xa6");  // é and … in Mac Roman
    CFRelease(a);
    CFRelease(b);
}

}  // namespace
