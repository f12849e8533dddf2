#include "platform/system_folders.h"

#include <QDir>
#include <QFileInfo>

namespace platform {
namespace {

QString WithTrailingSlash(QString dir)
{
    if (!dir.endsWith(u'/'))
        dir += u'/';
    return dir;
}

class LinuxSystemFolders final : public SystemFolders
{
public:
    QString ModuleFileName() const override
    {
        const QString programDir = qEnvironmentVariable("VANTOREL_PROGRAM_DIR");
        if (!programDir.isEmpty())
            return WithTrailingSlash(programDir) + QStringLiteral("vantorel");
        return QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    }

    std::optional<QString> WindowsFolder() const override
    {
        QString dir = qEnvironmentVariable("VANTOREL_WINDOWS_DIR");
        if (dir.isEmpty())
            dir = QDir::homePath();
        if (dir.isEmpty())
            return std::nullopt;
        return WithTrailingSlash(dir);
    }

    std::optional<QString> SystemFolder() const override
    {
        QString dir = qEnvironmentVariable("VANTOREL_SYSTEM_DIR");
        if (dir.isEmpty()) {
            QString data = qEnvironmentVariable("XDG_DATA_HOME");
            if (data.isEmpty())
                data = QDir::homePath() + QStringLiteral("/.local/share");
            dir = data + QStringLiteral("/vantorel/system");
            QDir().mkpath(dir);
        }
        while (dir.size() > 1 && dir.endsWith(u'/'))
            dir.chop(1);
        return dir;
    }
};

} // namespace

SystemFolders &TheSystemFolders()
{
    static LinuxSystemFolders folders;
    return folders;
}

QString ProgramFolder()
{
    const QString path = TheSystemFolders().ModuleFileName();
    const int cut = path.lastIndexOf(u'/');
    return cut < 0 ? QString() : path.left(cut + 1);
}

} // namespace platform
