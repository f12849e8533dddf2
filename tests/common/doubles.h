#pragma once
// Doubles for what a test cannot drive: a person answering message boxes and choosers, a
// file system that refuses to delete, a clock that should not really wait.

#include "platform/file_system.h"
#include "platform/prompter.h"
#include "platform/services.h"

#include <QString>
#include <QStringList>

#include <deque>
#include <mutex>
#include <optional>
#include <vector>

namespace testing_support {

// One box or chooser the program asked for.
struct PromptRecord
{
    enum Kind { AppBox, OwnedBox, Folder, OpenFile } kind;
    QString text;    // box text, or the filter list of the file dialog
    QString caption; // owned boxes
    platform::MessageButtons buttons = platform::MessageButtons::Ok;
    platform::MessageIcon icon = platform::MessageIcon::None;
    QWidget *owner = nullptr;
    QString startFolder; // choosers
};

// Records every box and chooser and answers them from queues. A box with no queued
// answer gets OK (OK boxes) or Cancel/No (questions); a chooser with nothing queued is
// cancelled. Thread-safe: the conversion worker asks too.
class ScriptedPrompter final : public platform::Prompter
{
public:
    void QueueAnswer(platform::MessageResult answer);
    void QueueFolder(const QString &folder); // an empty text cancels
    void QueueFile(std::optional<QString> file);

    std::vector<PromptRecord> Records() const;
    // The texts of all boxes (not choosers), in order.
    QStringList BoxTexts() const;
    void Clear();

    platform::MessageResult AppMessageBox(const QString &text) override;
    platform::MessageResult MessageBox(QWidget *owner,
                                       const QString &text,
                                       const QString &caption,
                                       platform::MessageButtons buttons,
                                       platform::MessageIcon icon) override;
    QString BrowseForFolder(const QString &startFolder) override;
    std::optional<QString> OpenFile(QWidget *parent,
                                    const QString &filterList,
                                    bool fileMustExist,
                                    const QString &startFolder) override;

private:
    platform::MessageResult Answer(platform::MessageButtons buttons);

    mutable std::mutex m_mutex;
    std::deque<platform::MessageResult> m_answers;
    std::deque<QString> m_folders;
    std::deque<std::pair<bool, QString>> m_files; // (chosen, path)
    std::vector<PromptRecord> m_records;
};

// Counts the waits instead of waiting.
class FakeClock final : public platform::Clock
{
public:
    void Sleep(int milliseconds) override { m_sleeps.push_back(milliseconds); }
    const std::vector<int> &Sleeps() const { return m_sleeps; }

private:
    std::vector<int> m_sleeps;
};

// The real services with the prompter, clock and file system replaced.
platform::Services TestServices(ScriptedPrompter &prompter,
                                FakeClock &clock,
                                platform::FileSystem *fileSystem = nullptr);

} // namespace testing_support
