#include "platform/file_system.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

// No file can have a name with a zero character in it; the system calls would take the
// name only up to it, and so act on another file.
bool HoldsZero(const QString &path)
{
    return path.contains(QChar(u'\0'));
}

class LocalFileSystem final : public FileSystem
{
public:
    QStringList FindByExtension(const QString &folder, const QString &extension) const override
    {
        QDir dir(folder);
        if (!dir.exists())
            return {};
        const QString suffix = u'.' + extension;
        QStringList names;
        const QStringList entries
            = dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        for (const QString &name : entries) {
            if (name.size() > suffix.size() - 1 && name.endsWith(suffix, Qt::CaseInsensitive))
                names << name;
        }
        std::stable_sort(names.begin(), names.end(), [](const QString &a, const QString &b) {
            const int c = a.compare(b, Qt::CaseInsensitive);
            return c != 0 ? c < 0 : a < b;
        });
        return names;
    }

    std::optional<FileStatus> Status(const QString &path) const override
    {
        struct stat own
        {};
        const QByteArray name = QFile::encodeName(path);
        if (name.isEmpty() || HoldsZero(path) || lstat(name.constData(), &own) != 0)
            return std::nullopt;
        FileStatus status;
        status.isLink = S_ISLNK(own.st_mode);
        struct stat target
        {};
        if (stat(name.constData(), &target) != 0)
            return status; // a link that points at nothing
        status.device = static_cast<quint64>(target.st_dev);
        status.inode = static_cast<quint64>(target.st_ino);
        QFileInfo info(path);
        status.size = info.isDir() ? 0 : info.size();
        status.isFolder = info.isDir();
        status.isRegularFile = S_ISREG(target.st_mode);
        status.created = info.birthTime();
        if (!status.created.isValid())
            status.created = info.metadataChangeTime();
        return status;
    }

    bool Exists(const QString &path) const override { return QFileInfo::exists(path); }

    bool CopyFile(const QString &source, const QString &target, bool failIfExists) override
    {
        if (failIfExists && QFileInfo::exists(target))
            return false;
        if (QFileInfo(source).isSymLink())
            return CopyLink(source, target);
        QFile in(source);
        if (!in.open(QIODevice::ReadOnly))
            return false;
        QSaveFile out(target);
        if (!out.open(QIODevice::WriteOnly))
            return false;
        char buffer[1 << 16];
        for (;;) {
            const qint64 n = in.read(buffer, sizeof buffer);
            if (n < 0) {
                out.cancelWriting();
                return false;
            }
            if (n == 0)
                break;
            if (out.write(buffer, n) != n) {
                out.cancelWriting();
                return false;
            }
        }
        if (!out.commit())
            return false;
        // Programs stay programs when copied.
        QFile::setPermissions(target, in.permissions());
        return true;
    }

    // A link (such as the program folder's links to the system's FFmpeg libraries) is
    // copied as a link to the same file, never as a copy of that file. The new link is made
    // under a temporary name and renamed over the target, so no half-made target is left.
    static bool CopyLink(const QString &source, const QString &target)
    {
        const QString pointsTo = QFileInfo(source).symLinkTarget();
        if (pointsTo.isEmpty() || !QFileInfo::exists(pointsTo))
            return false;
        const QByteArray temp
            = QFile::encodeName(target + QStringLiteral(".%1.link").arg(getpid()));
        ::unlink(temp.constData());
        if (::symlink(QFile::encodeName(pointsTo).constData(), temp.constData()) != 0)
            return false;
        if (::rename(temp.constData(), QFile::encodeName(target).constData()) != 0) {
            ::unlink(temp.constData());
            return false;
        }
        return true;
    }

    bool DeleteFile(const QString &path) override
    {
        QFileInfo info(path);
        if (!info.exists() && !info.isSymLink())
            return false;
        if (info.isDir() && !info.isSymLink())
            return false;
        return QFile::remove(path);
    }

    bool CreateFolder(const QString &path) override
    {
        return !HoldsZero(path) && QDir().mkdir(path);
    }

    bool CreateNewFile(const QString &path) override
    {
        if (HoldsZero(path))
            return false;
        QFile file(path);
        return file.open(QIODevice::WriteOnly | QIODevice::NewOnly);
    }

    bool ReplaceFile(const QString &from, const QString &to) override
    {
        // rename(2) replaces the target atomically (QFile::rename refuses an existing one).
        return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData())
               == 0;
    }
};

class RealClock final : public Clock
{
public:
    void Sleep(int milliseconds) override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
};

} // namespace

FileSystem &TheFileSystem()
{
    static LocalFileSystem fs;
    return fs;
}

Clock &TheClock()
{
    static RealClock clock;
    return clock;
}

} // namespace platform
