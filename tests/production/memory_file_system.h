#pragma once
// A file system of Windows paths held in memory, for the output-path rules in the Windows
// style. Drives are folders named "C:"; a folder can be marked read-only (no file or
// folder can be made in it). Every deletion is recorded.

#include "platform/file_system.h"
#include "production/path_style.h"

#include <map>
#include <set>

class MemoryFileSystem final : public platform::FileSystem
{
public:
    void AddFolder(const QString &path, bool readOnly = false);
    void AddFile(const QString &path, qint64 size = 1);

    QStringList Deleted() const { return m_deleted; }
    QStringList Created() const { return m_created; }

    QStringList FindByExtension(const QString &folder, const QString &extension) const override;
    std::optional<platform::FileStatus> Status(const QString &path) const override;
    bool Exists(const QString &path) const override;
    bool CopyFile(const QString &source, const QString &target, bool failIfExists) override;
    bool DeleteFile(const QString &path) override;
    bool CreateFolder(const QString &path) override;
    bool CreateNewFile(const QString &path) override;

private:
    struct Entry
    {
        bool folder = false;
        bool readOnly = false;
        qint64 size = 0;
    };
    // The folder that holds `path`: up to its last separator, "D:" for "D:clip".
    static QString Parent(const QString &path);
    static QString Key(const QString &path);
    bool CanMakeIn(const QString &folder) const;

    std::map<QString, Entry> m_entries;
    QStringList m_deleted;
    QStringList m_created;
};
