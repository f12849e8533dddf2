#include "stand_in.h"

#include <QFile>

namespace stand_in {

QString WriteScript(const QString &path, const QByteArray &body)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write("#!/bin/sh\n" + body + "\n");
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                            | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther
                            | QFile::ExeOther);
    }
    return path;
}

QString InstallConverter(const QString &folder)
{
    const QString converter = folder + QStringLiteral("/KelvoraCfg.dll");
    QFile::remove(converter);
    QFile::copy(QStringLiteral(CONVERTER_PROGRAM), converter);
    QFile::setPermissions(converter, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // What the links point at does not matter to the check, only that it exists.
    for (const char *name : {"avcodec.dll", "avformat.dll", "avutil.dll"})
        QFile::link(converter, folder + u'/' + QLatin1String(name));
    return converter;
}

} // namespace stand_in
