// Opening documents with the user's default application.
#include "ToolboxPrivate.h"

#include <sys/stat.h>

#include <QDesktopServices>
#include <QUrl>

using namespace tbx;

// --- Documents ---------------------------------------------------------------------------------------------

OSStatus LSOpenFSRef(const FSRef* inRef, FSRef* outLaunchedRef) {
    if (!inRef) return paramErr;
    if (outLaunchedRef) outLaunchedRef->path[0] = 0;
    struct stat st;
    if (::stat(inRef->path, &st) != 0) return fnfErr;
    if (gScripted) {
        gOpened.emplace_back(inRef->path);
        if (gOpenAnswers.empty()) return noErr;
        const OSStatus answer = gOpenAnswers.front();
        gOpenAnswers.pop_front();
        return answer;
    }
    if (!EnsureApp()) return kLSApplicationNotFoundErr;
    const bool opened = QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromUtf8(inRef->path)));
    return opened ? OSStatus(noErr) : OSStatus(kLSApplicationNotFoundErr);
}
