#include "common/doubles.h"

#include "common/environment.h"

#include <QFile>

namespace testing_support {

using platform::MessageButtons;
using platform::MessageResult;

namespace {

template <class T>
std::optional<T> Pop(std::deque<T> &queue)
{
    if (queue.empty())
        return std::nullopt;
    T front = queue.front();
    queue.pop_front();
    return front;
}

} // namespace

void ScriptedPrompter::QueueAnswer(MessageResult answer)
{
    std::lock_guard lock(m_mutex);
    m_answers.push_back(answer);
}

void ScriptedPrompter::QueueFile(std::optional<QString> file)
{
    std::lock_guard lock(m_mutex);
    m_choices.push_back(file);
}

std::vector<PromptRecord> ScriptedPrompter::Records() const
{
    std::lock_guard lock(m_mutex);
    return m_records;
}

QStringList ScriptedPrompter::BoxTexts() const
{
    QStringList texts;
    for (const PromptRecord &r : Records()) {
        if (r.kind == PromptRecord::AppBox || r.kind == PromptRecord::OwnedBox)
            texts << r.text;
    }
    return texts;
}

void ScriptedPrompter::Clear()
{
    std::lock_guard lock(m_mutex);
    m_answers.clear();
    m_choices.clear();
    m_records.clear();
}

MessageResult ScriptedPrompter::Box(PromptRecord record)
{
    std::lock_guard lock(m_mutex);
    record.busy = busy && busy();
    m_records.push_back(record);
    const MessageResult unanswered[]
        = {MessageResult::Ok, MessageResult::Cancel, MessageResult::No};
    return Pop(m_answers).value_or(unanswered[int(record.buttons)]);
}

MessageResult ScriptedPrompter::AppMessageBox(const QString &text)
{
    const MessageResult scripted = Box({.kind = PromptRecord::AppBox,
                                        .text = text,
                                        .caption = platform::ApplicationTitle(),
                                        .icon = platform::MessageIcon::Exclamation});
    return showOn ? showOn->AppMessageBox(text) : scripted;
}

MessageResult ScriptedPrompter::MessageBox(QWidget *owner,
                                           const QString &text,
                                           const QString &caption,
                                           MessageButtons buttons,
                                           platform::MessageIcon icon)
{
    const MessageResult scripted
        = Box({PromptRecord::OwnedBox, text, caption, buttons, icon, owner});
    return showOn ? showOn->MessageBox(owner, text, caption, buttons, icon) : scripted;
}

void ScriptedPrompter::DeclineBoxes(bool decline)
{
    if (showOn)
        showOn->DeclineBoxes(decline);
}

bool ScriptedPrompter::AnyBoxOpen() const
{
    return showOn && showOn->AnyBoxOpen();
}

QString ScriptedPrompter::BrowseForFolder(const QString &)
{
    std::lock_guard lock(m_mutex);
    m_records.push_back({.kind = PromptRecord::Folder});
    return Pop(m_choices).value_or(std::nullopt).value_or(QString());
}

std::optional<QString>
ScriptedPrompter::OpenFile(QWidget *parent, const QString &filterList, bool, const QString &)
{
    std::lock_guard lock(m_mutex);
    m_records.push_back({.kind = PromptRecord::OpenFile, .text = filterList, .owner = parent});
    return Pop(m_choices).value_or(std::nullopt);
}

platform::Services TestServices(ScriptedPrompter &prompter, FakeClock &clock)
{
    platform::Services s = platform::Services::Real();
    s.prompter = &prompter;
    s.clock = &clock;
    return s;
}

QString WriteScript(const QString &path, const QByteArray &body)
{
    WriteFile(path, "#!/bin/sh\n" + body + "\n");
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

} // namespace testing_support
