// The exported entry point of the help engine.
//
//   quintptr HtmlHelpW(quintptr ownerWindow, const char16_t *file, unsigned command, quintptr data)
//
// ownerWindow  a QWidget* of the calling program, or 0 for none.
// file         the compiled help file, a zero-terminated UTF-16 path. "path.chm::/page.html"
//              opens that page of the file instead of its default topic.
// command      0 (display topic) is the only command served: it shows the help window of the
//              file at the topic, creating the window on the first call and bringing the same
//              window forward on later calls for the same file (as long as it is open). Every
//              other command does nothing and returns 0.
// data         not used by the display-topic command.
//
// Result: the help window as a QWidget* cast to quintptr, or 0 when nothing is shown: the
// file is missing or is not a compiled help file, it holds no page, the command is not
// served, or the caller has no QApplication or calls from a thread other than its GUI thread.
// The engine shows no message of its own.

#include "chm_archive.h"
#include "help_window.h"

#include <QApplication>
#include <QFileInfo>
#include <QPointer>
#include <QThread>

#include <map>

namespace hhctrl {
namespace {

constexpr unsigned kDisplayTopic = 0;

// One window per help file, found by the file's canonical path. A closed window deletes
// itself and its entry turns null.
std::map<QString, QPointer<HelpWindow>> &OpenWindows()
{
    static std::map<QString, QPointer<HelpWindow>> windows;
    return windows;
}

quintptr DisplayTopic(QWidget *owner, const QString &argument)
{
    QString file = argument;
    QString topic;
    const qsizetype inside = argument.indexOf(QLatin1String("::"));
    if (inside >= 0) {
        file = argument.left(inside);
        topic = argument.mid(inside + 2);
    }
    const QFileInfo info(file);
    const QString key = info.canonicalFilePath();
    if (key.isEmpty() || !info.isFile())
        return 0;

    QPointer<HelpWindow> &window = OpenWindows()[key];
    if (!window) {
        std::unique_ptr<ChmArchive> archive = ChmArchive::Open(key);
        if (!archive || FindStartTopic(*archive).isEmpty()) {
            OpenWindows().erase(key);
            return 0;
        }
        window = new HelpWindow(std::move(archive), owner);
    }
    window->ShowTopic(topic);
    if (window->isMinimized())
        window->showNormal();
    else
        window->show();
    window->raise();
    window->activateWindow();
    return reinterpret_cast<quintptr>(static_cast<QWidget *>(window.data()));
}

} // namespace
} // namespace hhctrl

extern "C" __attribute__((visibility("default"))) quintptr
HtmlHelpW(quintptr ownerWindow, const char16_t *file, unsigned int command, quintptr data)
{
    Q_UNUSED(data);
    if (command != hhctrl::kDisplayTopic || !file)
        return 0;
    auto *app = qobject_cast<QApplication *>(QCoreApplication::instance());
    if (!app || QThread::currentThread() != app->thread())
        return 0;
    auto *owner = reinterpret_cast<QWidget *>(ownerWindow);
    return hhctrl::DisplayTopic(owner, QString::fromUtf16(file));
}
