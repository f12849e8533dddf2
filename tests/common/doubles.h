#pragma once
// Doubles for what a test cannot drive: a person answering boxes and choosers, a clock
// that should not wait, and shell scripts that stand in for the converter or ffmpeg.

#include "platform/file_system.h" // the clock
#include "platform/prompter.h"
#include "platform/services.h"

#include <QStringList>

#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace testing_support {

// One box or chooser the program asked for.
struct PromptRecord
{
    enum Kind { AppBox, OwnedBox, Folder, OpenFile } kind;
    QString text{};    // box text, or the filter list of the file dialog
    QString caption{}; // owned boxes
    platform::MessageButtons buttons = platform::MessageButtons::Ok;
    platform::MessageIcon icon = platform::MessageIcon::None;
    QWidget *owner = nullptr;
    bool busy = false; // what `ScriptedPrompter::busy` said as the box showed
};

// Records every box and chooser and answers from queues; unanswered, a box gets OK (OK boxes)
// or Cancel/No (questions) and a chooser is cancelled. The conversion worker asks too.
class ScriptedPrompter final : public platform::Prompter
{
public:
    void QueueAnswer(platform::MessageResult answer);
    // Both choosers take their answers from one queue; an empty folder or none cancels.
    void QueueFile(std::optional<QString> file);
    void QueueFolder(const QString &folder) { QueueFile(folder); }
    void Clear();
    std::vector<PromptRecord> Records() const;
    // The texts of all boxes (not choosers), in order.
    QStringList BoxTexts() const;

    // Asked as each box shows, for example whether the window is still busy.
    std::function<bool()> busy;
    // When set, boxes are recorded and then really shown by this prompter (the program's
    // own), for what happens while one is open; the queued answers are not used.
    platform::Prompter *showOn = nullptr;

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
    void DeclineBoxes(bool decline) override;
    bool AnyBoxOpen() const override;

private:
    platform::MessageResult Box(PromptRecord record);

    mutable std::mutex m_mutex;
    std::deque<platform::MessageResult> m_answers;
    std::deque<std::optional<QString>> m_choices;
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

// The real services with the prompter and clock replaced.
platform::Services TestServices(ScriptedPrompter &prompter, FakeClock &clock);

// Writes "#!/bin/sh" and `body` to `path` and makes it executable; returns the path.
QString WriteScript(const QString &path, const QByteArray &body);

} // namespace testing_support
