#include "memory_file_system.h"

QString MemoryFileSystem::Key(const QString &path)
{
    QString key = path.toLower();
    while (key.size() > 2 && (key.endsWith(u'\\') || key.endsWith(u'/')))
        key.chop(1);
    if (key.size() == 3 && key[1] == u':' && (key[2] == u'\\' || key[2] == u'/'))
        key.chop(1);
    return key;
}

QString MemoryFileSystem::Parent(const QString &path)
{
    const QString key = Key(path);
    const int sep = std::max(key.lastIndexOf(u'\\'), key.lastIndexOf(u'/'));
    if (sep > 0)
        return key.left(sep);
    const int colon = key.indexOf(u':');
    if (colon > 0 && colon + 1 < key.size())
        return key.left(colon + 1);
    return QString();
}

void MemoryFileSystem::AddFolder(const QString &path, bool readOnly)
{
    m_entries[Key(path)] = Entry{true, readOnly, 0};
}

void MemoryFileSystem::AddFile(const QString &path, qint64 size)
{
    m_entries[Key(path)] = Entry{false, false, size};
}

bool MemoryFileSystem::CanMakeIn(const QString &folder) const
{
    const auto it = m_entries.find(folder);
    return !folder.isEmpty() && it != m_entries.end() && it->second.folder && !it->second.readOnly;
}

QStringList MemoryFileSystem::FindByExtension(const QString &, const QString &) const
{
    return {};
}

std::optional<platform::FileStatus> MemoryFileSystem::Status(const QString &path) const
{
    const auto it = m_entries.find(Key(path));
    if (it == m_entries.end())
        return std::nullopt;
    platform::FileStatus status;
    status.isFolder = it->second.folder;
    status.isRegularFile = !it->second.folder;
    status.size = it->second.size;
    return status;
}

bool MemoryFileSystem::Exists(const QString &path) const
{
    return m_entries.count(Key(path)) != 0;
}

bool MemoryFileSystem::CopyFile(const QString &source, const QString &target, bool failIfExists)
{
    const auto from = Status(source);
    if (!from || from->isFolder || (failIfExists && Exists(target)) || !CanMakeIn(Parent(target)))
        return false;
    AddFile(target, from->size);
    return true;
}

bool MemoryFileSystem::DeleteFile(const QString &path)
{
    const auto it = m_entries.find(Key(path));
    if (it == m_entries.end() || it->second.folder || !CanMakeIn(Parent(path)))
        return false;
    m_entries.erase(it);
    m_deleted << path;
    return true;
}

bool MemoryFileSystem::CreateFolder(const QString &path)
{
    if (Exists(path) || !CanMakeIn(Parent(path)))
        return false;
    AddFolder(path);
    m_created << path;
    return true;
}

bool MemoryFileSystem::CreateNewFile(const QString &path)
{
    if (Exists(path) || !CanMakeIn(Parent(path)))
        return false;
    AddFile(path, 0);
    return true;
}
