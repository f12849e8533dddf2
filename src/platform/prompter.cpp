#include "platform/prompter.h"

#include "platform/system_folders.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QThread>

#include <algorithm>
#include <vector>

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
void NameForScreenReaders(QMessageBox &box)
{
    box.setAccessibleName(box.windowTitle());
    box.setAccessibleDescription(box.text());
}

// The answer of a person who declines `box`: its Cancel or No, else its only button.
int DeclinedButton(const QMessageBox &box)
{
    for (QMessageBox::StandardButton button : {QMessageBox::Cancel, QMessageBox::No}) {
        if (box.standardButtons() & button)
            return button;
    }
    return QMessageBox::Ok;
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
            NameForScreenReaders(box);
            return FromQt(Run(box));
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
            NameForScreenReaders(box);
            return FromQt(Run(box));
        });
    }

    QString BrowseForFolder(const QString &startFolder) override
    {
        return OnMainThread([&] {
            QFileDialog dialog(nullptr, QString(), startFolder);
            dialog.setFileMode(QFileDialog::Directory);
            dialog.setOption(QFileDialog::ShowDirsOnly);
            if (Run(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
                return QString();
            QString dir = dialog.selectedFiles().first();
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
            if (Run(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty())
                return std::nullopt;
            return dialog.selectedFiles().first();
        });
    }

    void DeclineBoxes(bool decline) override
    {
        m_declining = decline;
        if (decline) {
            for (const QPointer<QDialog> &dialog : m_open)
                Decline(dialog);
        }
    }

    bool AnyBoxOpen() const override { return !m_open.empty(); }

private:
    static void Decline(QDialog *dialog)
    {
        if (!dialog)
            return;
        if (const auto *box = qobject_cast<QMessageBox *>(dialog))
            dialog->done(DeclinedButton(*box));
        else
            dialog->reject();
    }

    // Shows `dialog` modally and returns its result, declined at once while declining.
    int Run(QDialog &dialog)
    {
        if (m_declining) {
            Decline(&dialog);
            return dialog.result();
        }
        m_open.emplace_back(&dialog);
        const int result = dialog.exec();
        m_open.erase(std::find(m_open.begin(), m_open.end(), &dialog));
        return result;
    }

    // On the main thread only.
    std::vector<QPointer<QDialog>> m_open;
    bool m_declining = false;
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
        // "*.*" is every file where the list comes from; to Qt it is only names with a dot.
        QStringList each = patterns.split(u' ', Qt::SkipEmptyParts);
        std::replace(each.begin(), each.end(), QStringLiteral("*.*"), QStringLiteral("*"));
        patterns = each.join(u' ');
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
