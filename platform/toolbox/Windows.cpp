// Windows from window definition files, their ports, and modal loops.
#include "ToolboxPrivate.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QKeyEvent>
#include <QXmlStreamReader>
#include <QtUiTools/QUiLoader>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace tbx {

std::vector<WindowRef> gModalStack;
std::vector<WindowRef> gWindows;

WindowRef FrontWindow() {
    if (!gModalStack.empty()) return gModalStack.back();
    for (auto it = gWindows.rbegin(); it != gWindows.rend(); ++it)
        if ((*it)->widget->isVisible()) return *it;
    return nullptr;
}

namespace {

constexpr qint64 kMaxWindowFile = 4 << 20;

// Only a regular file of bounded size: a FIFO or a device in the bundle must
// neither hang the program nor fill its memory.
bool ReadWindowFile(const std::string& path, QByteArray& out, std::string& why) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        why = std::strerror(errno);
        return false;
    }
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0;
    if (!ok)
        why = std::strerror(errno);
    else if (!S_ISREG(st.st_mode))
        why = "not a regular file", ok = false;
    else if (st.st_size > kMaxWindowFile)
        why = "larger than 4 MiB", ok = false;
    if (ok) {
        out.resize(qsizetype(st.st_size));
        qsizetype got = 0;
        while (got < out.size()) {
            const ssize_t n = ::read(fd, out.data() + got, size_t(out.size() - got));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            got += n;
        }
        out.resize(got);
    }
    ::close(fd);
    return ok;
}

// The whole file must be well-formed XML with a widget under <ui>: the
// loader itself takes what it can of a damaged file.
bool IsWindowDefinition(const QByteArray& bytes, std::string& why) {
    QXmlStreamReader xml(bytes);
    bool root = false, widget = false;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement) continue;
        if (!root) {
            if (xml.name() != QLatin1String("ui")) {
                why = "not a window definition (no <ui> element)";
                return false;
            }
            root = true;
        } else if (xml.name() == QLatin1String("widget")) {
            widget = true;
        }
    }
    if (xml.hasError()) {
        why = "not a window definition (line " + std::to_string(xml.lineNumber()) + ": " +
              xml.errorString().toStdString() + ")";
        return false;
    }
    if (!widget) {
        why = "not a window definition (no window in it)";
        return false;
    }
    return true;
}

class Loader : public QUiLoader {
public:
    QWidget* createWidget(const QString& className, QWidget* parent, const QString& name) override {
        if (className == QLatin1String("VxCustomControl")) {
            auto* w = new VxCustomControl(parent);
            w->setObjectName(name);
            return w;
        }
        return QUiLoader::createWidget(className, parent, name);
    }
};

// Return sends OK, Escape and the close box send Cancel, as a dialog's
// default and cancel buttons would.
class WindowFilter : public QObject {
public:
    explicit WindowFilter(WindowRef w) : window(w) {}
    WindowRef window;

protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (o != window->widget) return false;
        if (e->type() == QEvent::Close) {
            e->ignore();
            SendCommandToWindow(window, kHICommandCancel);
            return true;
        }
        if (e->type() == QEvent::WindowActivate) {
            for (auto& c : window->controls) SendActivate(c.get());
            return false;
        }
        if (e->type() == QEvent::KeyPress) {
            const int key = static_cast<QKeyEvent*>(e)->key();
            if (key == Qt::Key_Escape) {
                SendCommandToWindow(window, kHICommandCancel);
                return true;
            }
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                SendCommandToWindow(window, kHICommandOK);
                return true;
            }
        }
        return false;
    }
};

}  // namespace

}  // namespace tbx

using namespace tbx;

// --- Windows ----------------------------------------------------------------------------------------

OSStatus CreateNibReferenceWithCFBundle(CFBundleRef bundle, CFStringRef nibName, IBNibRef* outNibRef) {
    if (!outNibRef) return paramErr;
    *outNibRef = nullptr;
    const char* root = bundle ? CFBundleGetPath(bundle) : nullptr;
    if (!root) return paramErr;
    const std::string folder = std::string(root) + "/Resources/" + CFText(nibName) + ".nib";
    struct stat st;
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        std::fprintf(stderr, "%s: window definitions missing\n", folder.c_str());
        return fnfErr;
    }
    *outNibRef = new OpaqueIBNibRef{folder};
    return noErr;
}

void DisposeNibReference(IBNibRef nibRef) { delete nibRef; }

OSStatus CreateWindowFromNib(IBNibRef nibRef, CFStringRef name, WindowRef* outWindow) {
    if (!outWindow) return paramErr;
    *outWindow = nullptr;
    if (!nibRef) return paramErr;
    const std::string path = nibRef->folder + "/" + CFText(name) + ".ui";
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) {
        std::fprintf(stderr, "%s: window definition missing\n", path.c_str());
        return fnfErr;
    }
    if (!EnsureApp()) return -30585;  // no display to open it on
    QByteArray bytes;
    std::string why;
    if (!ReadWindowFile(path, bytes, why) || !IsWindowDefinition(bytes, why)) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), why.c_str());
        return -30586;
    }
    QBuffer file(&bytes);
    file.open(QIODevice::ReadOnly);
    Loader loader;
    QWidget* top = loader.load(&file);
    if (!top) {
        std::fprintf(stderr, "%s: not a window definition (%s)\n", path.c_str(),
                     loader.errorString().toStdString().c_str());
        return -30586;
    }

    auto w = std::make_unique<OpaqueWindowPtr>();
    w->name = nibRef->folder.substr(nibRef->folder.find_last_of('/') + 1) + "/" + CFText(name);
    w->widget = top;
    // Over the window it was opened from, as a window manager expects of a
    // dialog's own dialogs (About, alerts).
    if (WindowRef over = FrontWindow()) top->setParent(over->widget, top->windowFlags() | Qt::Dialog);
    top->setWindowModality(Qt::ApplicationModal);
    top->setFixedSize(top->size());
    top->setAttribute(Qt::WA_DeleteOnClose, false);

    QList<QWidget*> all = top->findChildren<QWidget*>();
    all.prepend(top);
    for (QWidget* widget : all) {
        if (auto* custom = dynamic_cast<VxCustomControl*>(widget)) {
            const std::string id = widget->property("classID").toString().toStdString();
            if (!gClasses.count(id)) {
                std::fprintf(stderr, "window %s: control class %s is not registered\n", w->name.c_str(), id.c_str());
                delete top;
                return errUnknownControl;
            }
            (void)custom;
        }
        if (widget->property("signature").isValid()) AddControl(w.get(), widget);
    }
    for (auto& c : w->controls)
        if (c->kind == Kind::Custom) c->cls = gClasses[c->widget->property("classID").toString().toStdString()];

    const int width = top->width(), height = top->height();
    const int32_t rowBytes = (width * 4 + 31) & ~15;
    w->pixels.assign(size_t(rowBytes) * size_t(height), 0);
    const QColor bg = top->palette().color(QPalette::Window);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            uint8_t* p = &w->pixels[size_t(y) * rowBytes + 4 * size_t(x)];
            p[0] = 255;
            p[1] = uint8_t(bg.red());
            p[2] = uint8_t(bg.green());
            p[3] = uint8_t(bg.blue());
        }
    const Rect bounds{0, 0, int16_t(height), int16_t(width)};
    if (NewGWorldFromPtr(&w->port, &bounds, reinterpret_cast<Ptr>(w->pixels.data()), rowBytes) != noErr) {
        delete top;
        return memFullErr;
    }
    w->port->refCon = w.get();
    w->screen = QImage(width, height, QImage::Format_RGB32);
    auto* filter = new WindowFilter(w.get());
    filter->setParent(top);  // goes with the window
    top->installEventFilter(filter);

    *outWindow = w.release();
    gWindows.push_back(*outWindow);
    gCreated.push_back((*outWindow)->name);
    Flush(*outWindow, bounds);
    return noErr;
}

void ShowWindow(WindowRef window) {
    if (!window) return;
    QWidget* top = window->widget;
    if (QWidget* over = top->parentWidget(); over && !top->isVisible())
        top->move(over->frameGeometry().center() - QPoint(top->width() / 2, top->height() / 2));
    top->show();
    for (auto& c : window->controls) SendDraw(c.get());
}

void HideWindow(WindowRef window) {
    if (window) window->widget->hide();
}

Boolean IsWindowVisible(WindowRef window) { return window && window->widget->isVisible(); }

void BringToFront(WindowRef window) {
    if (!window) return;
    window->widget->raise();
    window->widget->activateWindow();
}

void DisposeWindow(WindowRef window) {
    if (!window) return;
    if (gTracker.control && gTracker.control->owner == window) gTracker = Tracker{};
    for (auto it = gWindows.begin(); it != gWindows.end(); ++it)
        if (*it == window) {
            gWindows.erase(it);
            break;
        }
    for (auto& c : window->controls)
        if (c->kind == Kind::Custom) static_cast<VxCustomControl*>(c->widget)->control = nullptr;
    for (WindowRef other : gWindows)  // windows opened over it stay theirs to dispose of
        if (other->widget->parentWidget() == window->widget) other->widget->setParent(nullptr, other->widget->windowFlags());
    window->widget->hide();
    delete window->widget;
    window->controls.clear();
    DisposeGWorld(window->port);
    delete window;
}

CGrafPtr GetWindowPort(WindowRef window) { return window ? window->port : nullptr; }
void SetPortWindowPort(WindowRef window) {
    if (window) SetPort(window->port);
}
WindowRef GetWindowFromPort(CGrafPtr port) {
    for (WindowRef w : gWindows)
        if (w->port == port) return w;
    return nullptr;
}

OSStatus RunAppModalLoopForWindow(WindowRef window) {
    if (!window) return paramErr;
    if (window->quitPending) {
        window->quitPending = false;
        return noErr;
    }
    if (!window->widget->isVisible()) ShowWindow(window);
    QEventLoop loop;
    window->loop = &loop;
    gModalStack.push_back(window);
    SchedulePump();
    loop.exec();
    gModalStack.pop_back();
    window->loop = nullptr;
    return noErr;
}

OSStatus QuitAppModalLoopForWindow(WindowRef window) {
    if (!window) return paramErr;
    if (window->loop)
        window->loop->exit(0);
    else
        window->quitPending = true;
    return noErr;
}

WindowRef GetFrontModalWindow() { return gModalStack.empty() ? nullptr : gModalStack.back(); }
