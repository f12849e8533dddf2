#include "common/doubles.h"

namespace testing_support {

using platform::MessageButtons;
using platform::MessageResult;

void ScriptedPrompter::QueueAnswer(MessageResult answer)
{
    std::lock_guard lock(m_mutex);
    m_answers.push_back(answer);
}

void ScriptedPrompter::QueueFolder(const QString &folder)
{
    std::lock_guard lock(m_mutex);
    m_folders.push_back(folder);
}

void ScriptedPrompter::QueueFile(std::optional<QString> file)
{
    std::lock_guard lock(m_mutex);
    m_files.emplace_back(file.has_value(), file.value_or(QString()));
}

std::vector<PromptRecord> ScriptedPrompter::Records() const
{
    std::lock_guard lock(m_mutex);
    return m_records;
}

QStringList ScriptedPrompter::BoxTexts() const
{
    std::lock_guard lock(m_mutex);
    QStringList texts;
    for (const PromptRecord &r : m_records) {
        if (r.kind == PromptRecord::AppBox || r.kind == PromptRecord::OwnedBox)
            texts << r.text;
    }
    return texts;
}

void ScriptedPrompter::Clear()
{
    std::lock_guard lock(m_mutex);
    m_records.clear();
    m_answers.clear();
    m_folders.clear();
    m_files.clear();
}

MessageResult ScriptedPrompter::Answer(MessageButtons buttons)
{
    if (!m_answers.empty()) {
        const MessageResult a = m_answers.front();
        m_answers.pop_front();
        return a;
    }
    switch (buttons) {
    case MessageButtons::Ok:
        return MessageResult::Ok;
    case MessageButtons::OkCancel:
        return MessageResult::Cancel;
    case MessageButtons::YesNo:
        return MessageResult::No;
    }
    return MessageResult::Cancel;
}

MessageResult ScriptedPrompter::AppMessageBox(const QString &text)
{
    std::lock_guard lock(m_mutex);
    m_records.push_back({PromptRecord::AppBox,
                         text,
                         platform::ApplicationTitle(),
                         MessageButtons::Ok,
                         platform::MessageIcon::Exclamation,
                         nullptr,
                         QString()});
    return Answer(MessageButtons::Ok);
}

MessageResult ScriptedPrompter::MessageBox(QWidget *owner,
                                           const QString &text,
                                           const QString &caption,
                                           MessageButtons buttons,
                                           platform::MessageIcon icon)
{
    std::lock_guard lock(m_mutex);
    m_records.push_back({PromptRecord::OwnedBox, text, caption, buttons, icon, owner, QString()});
    return Answer(buttons);
}

QString ScriptedPrompter::BrowseForFolder(const QString &startFolder)
{
    std::lock_guard lock(m_mutex);
    m_records.push_back({PromptRecord::Folder,
                         QString(),
                         QString(),
                         MessageButtons::Ok,
                         platform::MessageIcon::None,
                         nullptr,
                         startFolder});
    if (m_folders.empty())
        return QString();
    QString f = m_folders.front();
    m_folders.pop_front();
    return f;
}

std::optional<QString> ScriptedPrompter::OpenFile(QWidget *parent,
                                                  const QString &filterList,
                                                  bool,
                                                  const QString &startFolder)
{
    std::lock_guard lock(m_mutex);
    m_records.push_back({PromptRecord::OpenFile,
                         filterList,
                         QString(),
                         MessageButtons::Ok,
                         platform::MessageIcon::None,
                         parent,
                         startFolder});
    if (m_files.empty())
        return std::nullopt;
    const auto [chosen, path] = m_files.front();
    m_files.pop_front();
    if (!chosen)
        return std::nullopt;
    return path;
}

platform::Services
TestServices(ScriptedPrompter &prompter, FakeClock &clock, platform::FileSystem *fileSystem)
{
    platform::Services s = platform::Services::Real();
    s.prompter = &prompter;
    s.clock = &clock;
    if (fileSystem)
        s.fileSystem = fileSystem;
    return s;
}

} // namespace testing_support
