#pragma once
// The file operations the program uses. Paths are full paths in the native style.

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

namespace platform {

struct FileStatus
{
    qint64 size = 0;
    // When the file was made: its birth time where the file system keeps one, otherwise
    // its last status change.
    QDateTime created;
    bool isFolder = false;
    // A plain file with contents of its own (or a link to one); not a folder, a device,
    // a FIFO or a socket, which must never be read as a photo or written as a movie.
    bool isRegularFile = false;
    // The path itself is a symbolic link. The other fields describe what it points at;
    // a link that points at nothing has only this set.
    bool isLink = false;
    // Device and inode: two paths with the same pair name one file.
    quint64 device = 0;
    quint64 inode = 0;
};

class FileSystem
{
public:
    virtual ~FileSystem() = default;

    // The names (not paths) of the entries of `folder` whose names end in "." + extension,
    // compared without regard to case, as the Windows file system matches "*.ext".
    // Sub-folders whose names match are listed too. Sorted by name without regard to
    // case. Nothing when the folder cannot be read.
    virtual QStringList FindByExtension(const QString &folder, const QString &extension) const = 0;
    virtual std::optional<FileStatus> Status(const QString &path) const = 0;
    // True when a file or folder of that name exists.
    virtual bool Exists(const QString &path) const = 0;
    // Copies a file, replacing an existing target unless failIfExists; the copy is written
    // to a temporary name first, so a failed copy never leaves a half-written target. A
    // symbolic link is copied as a link to the same file.
    virtual bool CopyFile(const QString &source, const QString &target, bool failIfExists) = 0;
    // Deletes a file; false when it cannot be deleted (including when it does not exist).
    virtual bool DeleteFile(const QString &path) = 0;
    // Creates one folder (its parent must exist); false when it cannot be made.
    virtual bool CreateFolder(const QString &path) = 0;
    // Creates a new, empty file; false when something of that name exists already or the
    // file cannot be made. Never truncates an existing file.
    virtual bool CreateNewFile(const QString &path) = 0;
    // Puts the file `from` in the place of `to` in one step (both in the same folder, or
    // at least on the same file system): whoever opens `to` sees either the old file or
    // the new one, never a missing or half-written one. An existing file at `to` is
    // replaced; false when that cannot be done, and then nothing has changed.
    virtual bool ReplaceFile(const QString &from, const QString &to) = 0;
};

FileSystem &TheFileSystem();

// Waiting, apart so that tests of long retry loops do not have to sleep.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual void Sleep(int milliseconds) = 0;
};

Clock &TheClock();

} // namespace platform
