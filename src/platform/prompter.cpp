#include "platform/prompter.h"

#include "platform/system_folders.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QThread>

namespace platform {
namespace {

// Runs f on the application's (main) thread and returns its result; the calling thread
// waits. On the main thread f runs directly.
template <class F>
auto OnMainThread(F f) -> decltype(f())
{
    if (QThread::currentThread() == qApp->thread())
        return f();
    decltype(f()) result{};
    QMetaObject::invokeMethod(
        qApp, [&] { result = f(); }, Qt::BlockingQueuedConnection);
    return result;
}

MessageResult FromQt(int button)
{
    switch (button) {
    case QMessageBox::Ok:
        return MessageResult::Ok;
    case QMessageBox::Yes:
        return MessageResult::Yes;
    case QMessageBox::No:
        return MessageResult::No;
    default:
        return MessageResult::Cancel;
    }
}

// A screen reader announces a box by its caption and reads its message as the description,
// as it does for the desktop's own alerts.
int ExecBox(QMessageBox &box)
{
    box.setAccessibleName(box.windowTitle());
    box.setAccessibleDescription(box.text());
    return box.exec();
}

class QtPrompter final : public Prompter
{
public:
    MessageResult AppMessageBox(const QString &text) override
    {
        return OnMainThread([&] {
            QMessageBox box(QMessageBox::Warning,
                            ApplicationTitle(),
                            text,
                            QMessageBox::Ok,
                            QApplication::activeWindow());
            return FromQt(ExecBox(box));
        });
    }

    MessageResult MessageBox(QWidget *owner,
                             const QString &text,
                             const QString &caption,
                             MessageButtons buttons,
                             MessageIcon icon) override
    {
        return OnMainThread([&] {
            QMessageBox::StandardButtons qtButtons = QMessageBox::Ok;
            if (buttons == MessageButtons::OkCancel)
                qtButtons = QMessageBox::Ok | QMessageBox::Cancel;
            else if (buttons == MessageButtons::YesNo)
                qtButtons = QMessageBox::Yes | QMessageBox::No;
            const QMessageBox::Icon qtIcon = icon == MessageIcon::Exclamation ? QMessageBox::Warning
                                             : icon == MessageIcon::Information
                                                 ? QMessageBox::Information
                                                 : QMessageBox::NoIcon;
            QMessageBox box(qtIcon, caption, text, qtButtons, owner);
            return FromQt(ExecBox(box));
        });
    }

    QString BrowseForFolder(const QString &startFolder) override
    {
        return OnMainThread([&] {
            QString dir = QFileDialog::getExistingDirectory(nullptr, QString(), startFolder);
            while (dir.size() > 1 && dir.endsWith(u'/'))
                dir.chop(1);
            return dir;
        });
    }

    std::optional<QString> OpenFile(QWidget *parent,
                                    const QString &filterList,
                                    bool fileMustExist,
                                    const QString &startFolder) override
    {
        return OnMainThread([&]() -> std::optional<QString> {
            QFileDialog dialog(parent, QString(), startFolder);
            dialog.setFileMode(fileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
            dialog.setAcceptMode(QFileDialog::AcceptOpen);
            const QStringList filters = ParseFilterList(filterList);
            dialog.setNameFilters(filters);
            if (!filters.isEmpty())
                dialog.selectNameFilter(filters.first());
            if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
                return std::nullopt;
            return dialog.selectedFiles().first();
        });
    }
};

} // namespace

QString ApplicationTitle()
{
    return QFileInfo(TheSystemFolders().ModuleFileName()).completeBaseName();
}

QStringList ParseFilterList(const QString &filterList)
{
    const QStringList parts = filterList.split(u'|');
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        const QString description = parts[i];
        const QString pattern = parts[i + 1];
        if (description.isEmpty())
            break;
        if (pattern.isEmpty())
            continue;
        QString patterns = pattern;
        patterns.replace(u';', u' ');
        filters << QStringLiteral("%1 (%2)").arg(description, patterns);
    }
    return filters;
}

Prompter &TheQtPrompter()
{
    static QtPrompter prompter;
    return prompter;
}

} // namespace platform
