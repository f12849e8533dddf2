#include "help_test_env.h"

#include <QDir>
#include <QFile>

namespace helptest {

HelpFolders::HelpFolders()
{
    registry = root.filePath(QStringLiteral("registry"));
    program = root.filePath(QStringLiteral("program"));
    system = root.filePath(QStringLiteral("system"));
    other = root.filePath(QStringLiteral("other"));
    log = root.filePath(QStringLiteral("calls.log"));
    for (const QString &dir : {registry, program, system, other})
        QDir().mkpath(dir);
    environment.Set("VANTOREL_REGISTRY_DIR", registry);
    environment.Set("VANTOREL_PROGRAM_DIR", program);
    environment.Set("VANTOREL_SYSTEM_DIR", system);
    environment.Set("VANTOREL_HELP_RECORDER_LOG", log);
}

bool CopyFile(const QString &from, const QString &to)
{
    QFile::remove(to);
    return QFile::copy(from, to);
}

} // namespace helptest
