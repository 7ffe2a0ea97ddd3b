// Core Foundation values (strings, URLs), bundles and their string lists.
#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cerrno>
#include <cstring>
#include <sstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ResourcesPrivate.h"
#include "Resources.h"

// Every value starts with the reference count; the type decides how to free it.
struct CFObject {
    int refCount = 1;
    virtual ~CFObject() = default;
};

struct __CFString : CFObject {
    std::string text;  // UTF-8
};

struct __CFURL : CFObject {
    std::string path;
};

struct __CFBundle : CFObject {
    std::string folder;  // canonical, no trailing slash
    std::string executable;
    std::map<std::string, std::string> info;
    __CFString* identifier = nullptr;
    void* library = nullptr;
    std::string loadError;
};

namespace {

const uint16_t kMacRoman[128] = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1,
    0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5, 0x00E7, 0x00E9, 0x00E8,
    0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3,
    0x00F2, 0x00F4, 0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC,
    0x2020, 0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6, 0x00DF,
    0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8,
    0x221E, 0x00B1, 0x2264, 0x2265, 0x00A5, 0x00B5, 0x2202, 0x2211,
    0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8,
    0x00BF, 0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB,
    0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5, 0x0152, 0x0153,
    0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA,
    0x00FF, 0x0178, 0x2044, 0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02,
    0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1,
    0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC, 0x00D3, 0x00D4,
    0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9, 0x0131, 0x02C6, 0x02DC,
    0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7,
};

bool IsUTF8(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        const uint8_t c = uint8_t(s[i]);
        size_t extra = c < 0x80 ? 0 : (c >> 5) == 0x6 ? 1 : (c >> 4) == 0xE ? 2 : (c >> 3) == 0x1E ? 3 : 99;
        if (extra == 99 || (extra == 1 && c < 0xC2) || i + extra >= s.size() + (extra ? 0 : 1)) return false;
        for (size_t k = 1; k <= extra; ++k)
            if ((uint8_t(s[i + k]) & 0xC0) != 0x80) return false;
        i += extra + 1;
    }
    return true;
}

std::string MacRomanToUTF8(const std::string& s) {
    std::string out;
    for (char ch : s) {
        const uint8_t c = uint8_t(ch);
        if (c < 0x80) {
            out += ch;
            continue;
        }
        const uint16_t u = kMacRoman[c - 0x80];
        if (u < 0x800) {
            out += char(0xC0 | (u >> 6));
        } else {
            out += char(0xE0 | (u >> 12));
            out += char(0x80 | ((u >> 6) & 0x3F));
        }
        out += char(0x80 | (u & 0x3F));
    }
    return out;
}

__CFString* NewString(const std::string& bytes) {
    auto* s = new __CFString;
    s->text = IsUTF8(bytes) ? bytes : MacRomanToUTF8(bytes);
    return s;
}

std::string Canonical(const std::string& path) {
    char buffer[PATH_MAX];
    if (!realpath(path.c_str(), buffer)) return {};
    return buffer;
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string Trim(const std::string& s) {
    const size_t a = s.find_first_not_of(" \t\r");
    if (a == std::string::npos) return {};
    return s.substr(a, s.find_last_not_of(" \t\r") - a + 1);
}

// Bundle files are small text. Only a regular file up to this size is read,
// so that a FIFO or a device planted in a bundle neither hangs the reader nor
// fills its memory.
constexpr off_t kMaxBundleText = 1 << 20;

// noErr with the whole file; fnfErr when missing, ioErr when it is not a
// regular file of at most kMaxBundleText bytes or cannot be read.
OSErr ReadBundleText(const std::string& path, std::string& out) {
    out.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT || errno == ENOTDIR ? OSErr(fnfErr) : OSErr(ioErr);
    struct stat st;
    OSErr result = noErr;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > kMaxBundleText) result = ioErr;
    char buffer[16384];
    while (result == noErr) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) result = ioErr;
        if (n <= 0) break;
        out.append(buffer, size_t(n));
        if (off_t(out.size()) > kMaxBundleText) result = ioErr;  // grew while read
    }
    ::close(fd);
    if (result != noErr) out.clear();
    return result;
}

bool ReadInfo(const std::string& folder, std::map<std::string, std::string>& info) {
    std::string text;
    if (ReadBundleText(folder + "/Info", text) != noErr) return false;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        const std::string t = Trim(line);
        if (t.empty() || t[0] == '#') continue;
        const size_t eq = t.find('=');
        if (eq == std::string::npos) continue;
        info[Trim(t.substr(0, eq))] = Trim(t.substr(eq + 1));
    }
    return !info["identifier"].empty() && !info["executable"].empty();
}

// In order of creation. Bundles live until the process ends, so the list is
// never destroyed either (code may still ask for a bundle during exit).
std::vector<__CFBundle*>& gBundles = *new std::vector<__CFBundle*>;
std::set<std::string> gScannedFolders;  // folders of loaded objects already looked at

__CFBundle* BundleAt(const std::string& canonicalFolder) {
    for (__CFBundle* b : gBundles)
        if (b->folder == canonicalFolder) return b;
    return nullptr;
}

__CFBundle* Register(const std::string& canonicalFolder) {
    if (__CFBundle* b = BundleAt(canonicalFolder)) return b;
    std::map<std::string, std::string> info;
    if (!ReadInfo(canonicalFolder, info)) return nullptr;
    auto* b = new __CFBundle;
    b->folder = canonicalFolder;
    b->info = info;
    b->executable = info["executable"];
    b->identifier = NewString(info["identifier"]);
    gBundles.push_back(b);
    return b;
}

// Bundles whose executable someone loaded without CFBundleCreate.
void ScanLoadedObjects() {
    std::vector<std::string> objects;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            if (info->dlpi_name && info->dlpi_name[0])
                static_cast<std::vector<std::string>*>(data)->push_back(info->dlpi_name);
            return 0;
        },
        &objects);
    for (const std::string& object : objects) {
        const std::string path = Canonical(object);
        if (path.empty()) continue;
        const std::string folder = FolderOf(path);
        if (!gScannedFolders.insert(folder).second) continue;
        std::map<std::string, std::string> info;
        if (ReadInfo(folder, info) && info["executable"] == path.substr(folder.size() + 1)) Register(folder);
    }
}

// --- String lists ----------------------------------------------------------------

struct StringMap {
    std::string folder;
    std::map<int, std::vector<std::string>> lists;
};
std::vector<StringMap> gStringMaps;  // in order of opening

// "[STR# n]" starts list n; each following line is an entry, '#' lines are
// comments; blank lines that end a list only separate lists. mapReadErr for
// a file that is not one of string lists: NUL bytes, text before the first
// list, or no list at all.
OSErr ReadStringLists(const std::string& file, StringMap& map) {
    std::string text;
    if (const OSErr err = ReadBundleText(file, text); err != noErr) return err;
    if (text.find('\0') != std::string::npos) return mapReadErr;
    std::istringstream in(text);
    bool junk = false;
    std::vector<std::string>* current = nullptr;
    auto finish = [&] {
        while (current && !current->empty() && current->back().empty()) current->pop_back();
    };
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line[0] == '#') continue;
        const std::string t = Trim(line);
        if (t.rfind("[STR#", 0) == 0 && t.back() == ']') {
            finish();
            char* end = nullptr;
            const long id = std::strtol(t.c_str() + 5, &end, 10);
            if (end == t.c_str() + 5 || Trim(end) != "]" || id < INT16_MIN || id > INT16_MAX) {
                current = nullptr;  // a malformed heading: its lines belong to no list
                continue;
            }
            current = &map.lists[int(id)];
            current->clear();
            continue;
        }
        if (current)
            current->push_back(line.substr(0, 255));
        else if (map.lists.empty() && !t.empty())
            junk = true;
    }
    finish();
    return junk || map.lists.empty() ? OSErr(mapReadErr) : OSErr(noErr);
}

}  // namespace

// --- Values -------------------------------------------------------------------------

CFTypeRef CFRetain(CFTypeRef cf) {
    if (cf) ++static_cast<CFObject*>(const_cast<void*>(cf))->refCount;
    return cf;
}

void CFRelease(CFTypeRef cf) {
    if (!cf) return;
    auto* object = static_cast<CFObject*>(const_cast<void*>(cf));
    if (--object->refCount == 0) delete object;
}

CFStringRef CFStringCreateWithPascalString(void*, ConstStr255Param pStr, CFStringEncoding) {
    if (!pStr) return nullptr;
    return NewString(std::string(reinterpret_cast<const char*>(pStr + 1), pStr[0]));
}

CFStringRef CFStringCreateWithCString(void*, const char* cStr, CFStringEncoding) {
    if (!cStr) return nullptr;
    return NewString(cStr);
}

const char* CFStringGetCStringPtrUTF8(CFStringRef s) { return s ? s->text.c_str() : nullptr; }

Boolean CFURLGetFSRef(CFURLRef url, FSRef* ref) {
    if (!url || !ref || url->path.size() >= sizeof(ref->path)) return false;
    std::memcpy(ref->path, url->path.c_str(), url->path.size() + 1);
    return true;
}

const char* CFURLGetPath(CFURLRef url) { return url ? url->path.c_str() : nullptr; }

// --- Bundles ---------------------------------------------------------------------------

CFBundleRef CFBundleCreate(void*, const char* folder) {
    if (!folder) return nullptr;
    const std::string canonical = Canonical(folder);
    if (canonical.empty()) return nullptr;
    __CFBundle* b = Register(canonical);
    if (b) CFRetain(b);  // the registry keeps its own reference
    return b;
}

CFBundleRef CFBundleGetBundleWithIdentifier(CFStringRef bundleID) {
    if (!bundleID) return nullptr;
    std::string callerFolder;
    Dl_info where;
    if (dladdr(__builtin_return_address(0), &where) && where.dli_fname)
        callerFolder = FolderOf(Canonical(where.dli_fname));
    auto pick = [&]() -> __CFBundle* {
        __CFBundle* last = nullptr;
        for (__CFBundle* b : gBundles) {
            if (b->identifier->text != bundleID->text) continue;
            if (b->folder == callerFolder) return b;
            last = b;
        }
        return last;
    };
    __CFBundle* found = pick();
    if (!found || found->folder != callerFolder) {
        ScanLoadedObjects();
        found = pick();
    }
    return found;
}

CFStringRef CFBundleGetIdentifier(CFBundleRef bundle) { return bundle ? bundle->identifier : nullptr; }

const char* CFBundleGetPath(CFBundleRef bundle) { return bundle ? bundle->folder.c_str() : nullptr; }

Boolean CFBundleLoadExecutable(CFBundleRef bundle) {
    if (!bundle) return false;
    if (bundle->library) return true;
    const std::string path = bundle->folder + "/" + bundle->executable;
    bundle->library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!bundle->library) {
        const char* why = dlerror();
        bundle->loadError = why ? why : ("cannot load " + path);
        return false;
    }
    bundle->loadError.clear();
    return true;
}

const char* CFBundleGetLoadError(CFBundleRef bundle) { return bundle ? bundle->loadError.c_str() : nullptr; }

void* CFBundleGetFunctionPointerForName(CFBundleRef bundle, const char* name) {
    if (!bundle || !name || !CFBundleLoadExecutable(bundle)) return nullptr;
    return dlsym(bundle->library, name);
}

CFURLRef CFBundleCopyResourceURL(CFBundleRef bundle, CFStringRef name, CFStringRef type,
                                 CFStringRef subDir) {
    if (!bundle || !name || name->text.empty()) return nullptr;
    std::string path = bundle->folder + "/Resources/";
    if (subDir && !subDir->text.empty()) path += subDir->text + "/";
    path += name->text;
    if (type && !type->text.empty()) path += (type->text[0] == '.' ? "" : ".") + type->text;
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return nullptr;
    auto* url = new __CFURL;
    url->path = path;
    return url;
}

OSErr CFBundleOpenBundleResourceMap(CFBundleRef bundle) {
    if (!bundle) return paramErr;
    for (const StringMap& m : gStringMaps)
        if (m.folder == bundle->folder) return noErr;
    StringMap map;
    map.folder = bundle->folder;
    if (const OSErr err = ReadStringLists(bundle->folder + "/Resources/strings.txt", map); err != noErr) return err;
    gStringMaps.push_back(std::move(map));
    return noErr;
}

void GetIndString(Str255 theString, int16_t listID, int16_t index) {
    if (!theString) return;
    theString[0] = 0;
    if (vxres::GetOpenStringList(listID, index, theString)) return;
    for (auto it = gStringMaps.rbegin(); it != gStringMaps.rend(); ++it) {
        auto list = it->lists.find(listID);
        if (list == it->lists.end()) continue;
        if (index >= 1 && size_t(index) <= list->second.size()) {
            const std::string& s = list->second[size_t(index - 1)];
            theString[0] = uint8_t(s.size());
            std::memcpy(theString + 1, s.data(), s.size());
        }
        return;
    }
}
