// The Qt application behind every window, whether one can be had, and the
// conversions between toolbox and Qt values.
#include "ToolboxPrivate.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QApplication>
#include <QDir>
#include <QLibraryInfo>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tbx {

QApplication* gApp = nullptr;

const char* CFText(CFStringRef s) {
    const char* t = s ? CFStringGetCStringPtrUTF8(s) : nullptr;
    return t ? t : "";
}

// Mac Roman bytes 0x80..0xFF.
const char16_t kMacRoman[128] = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1, 0x00E0, 0x00E2, 0x00E4, 0x00E3,
    0x00E5, 0x00E7, 0x00E9, 0x00E8, 0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3,
    0x00F2, 0x00F4, 0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC, 0x2020, 0x00B0, 0x00A2, 0x00A3,
    0x00A7, 0x2022, 0x00B6, 0x00DF, 0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8,
    0x221E, 0x00B1, 0x2264, 0x2265, 0x00A5, 0x00B5, 0x2202, 0x2211, 0x220F, 0x03C0, 0x222B, 0x00AA,
    0x00BA, 0x03A9, 0x00E6, 0x00F8, 0x00BF, 0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB,
    0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5, 0x0152, 0x0153, 0x2013, 0x2014, 0x201C, 0x201D,
    0x2018, 0x2019, 0x00F7, 0x25CA, 0x00FF, 0x0178, 0x2044, 0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02,
    0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1, 0x00CB, 0x00C8, 0x00CD, 0x00CE,
    0x00CF, 0x00CC, 0x00D3, 0x00D4, 0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9, 0x0131, 0x02C6, 0x02DC,
    0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7,
};

QString FromMacRoman(const uint8_t* p, size_t n) {
    QString s;
    s.reserve(qsizetype(n));
    for (size_t i = 0; i < n; ++i) s.append(p[i] < 0x80 ? QChar(p[i]) : QChar(kMacRoman[p[i] - 0x80]));
    return s;
}

std::string ToMacRoman(const QString& s) {
    std::string out;
    for (QChar c : s) {
        const char16_t u = c.unicode();
        if (u < 0x80) {
            out.push_back(char(u));
            continue;
        }
        char b = '?';
        for (int i = 0; i < 128; ++i)
            if (kMacRoman[i] == u) b = char(0x80 + i);
        out.push_back(b);
    }
    return out;
}

OSType FourCC(const QVariant& v) {
    QByteArray b = v.toString().toLatin1();
    while (b.size() < 4) b.append(' ');
    return (uint32_t(uint8_t(b[0])) << 24) | (uint32_t(uint8_t(b[1])) << 16) |
           (uint32_t(uint8_t(b[2])) << 8) | uint32_t(uint8_t(b[3]));
}

uint32_t Modifiers(Qt::KeyboardModifiers m) {
    uint32_t r = 0;
    if (m & Qt::ShiftModifier) r |= shiftKey;
    if (m & Qt::AltModifier) r |= optionKey;
    if (m & Qt::ControlModifier) r |= controlKey;
    if (m & Qt::MetaModifier) r |= cmdKey;
    return r;
}

Qt::KeyboardModifiers QtModifiers(uint32_t m) {
    Qt::KeyboardModifiers r;
    if (m & shiftKey) r |= Qt::ShiftModifier;
    if (m & optionKey) r |= Qt::AltModifier;
    if (m & controlKey) r |= Qt::ControlModifier;
    if (m & cmdKey) r |= Qt::MetaModifier;
    return r;
}

// Connecting to an X server that is gone makes Qt abort, so look first.
bool XDisplayReachable(const char* display) {
    const char* colon = std::strrchr(display, ':');
    if (!colon) return false;
    if (colon != display && std::strncmp(display, "unix", 4) != 0) return true;  // remote: trust it
    const int number = std::atoi(colon + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "/tmp/.X11-unix/X%d", number);
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    if (!ok) {  // the abstract socket of the same name
        sockaddr_un abs{};
        abs.sun_family = AF_UNIX;
        const int len = std::snprintf(abs.sun_path + 1, sizeof abs.sun_path - 1, "/tmp/.X11-unix/X%d", number);
        ok = ::connect(fd, reinterpret_cast<sockaddr*>(&abs), socklen_t(offsetof(sockaddr_un, sun_path) + 1 + len)) == 0;
    }
    ::close(fd);
    return ok;
}

bool EnsureApp() {
    if (gApp) return true;
    if (auto* existing = qobject_cast<QApplication*>(QCoreApplication::instance())) {
        gApp = existing;
        return true;
    }
    if (!ToolboxCanOpenWindows(nullptr)) return false;
    static int argc = 1;
    static char arg0[] = "vexolumen";
    static char* argv[] = {arg0, nullptr};
    gApp = new QApplication(argc, argv);  // kept for the life of the process
    gApp->setQuitOnLastWindowClosed(false);
    return true;
}
}  // namespace tbx

using namespace tbx;

// --- Availability ------------------------------------------------------------------------------

Boolean ToolboxCanOpenWindows(const char** why) {
    if (gApp || qobject_cast<QApplication*>(QCoreApplication::instance())) return true;
    if (QCoreApplication::instance()) {  // a host with Qt but without widgets: a second one would abort
        if (why) *why = "the host runs a Qt application without widgets";
        return false;
    }
    const char* qpa = std::getenv("QT_QPA_PLATFORM");
    const char* display = std::getenv("DISPLAY");
    if (qpa && *qpa) {
        if (std::strncmp(qpa, "xcb", 3) != 0) return true;  // offscreen, wayland, vnc...: Qt's to judge
        if (display && *display && XDisplayReachable(display)) return true;
        if (why) *why = "QT_QPA_PLATFORM asks for X, but no X display can be reached";
        return false;
    }
    if (display && *display && XDisplayReachable(display)) return true;
    // Without X, Wayland needs Qt's Wayland platform plugin.
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (wayland && *wayland) {
        const QDir platforms(QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms"));
        if (!platforms.entryList({QStringLiteral("libqwayland*")}).isEmpty()) return true;
    }
    if (why) {
        if (display && *display)
            *why = "the X display in DISPLAY cannot be reached";
        else if (wayland && *wayland)
            *why = "WAYLAND_DISPLAY is set but Qt's Wayland platform plugin is not installed";
        else
            *why = "no display (DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM are all unset)";
    }
    return false;
}
