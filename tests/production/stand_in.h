#pragma once
// Helpers for tests that run real child processes: small shell scripts that stand in for
// the converter or for ffmpeg, and a folder that holds the real converter with its three
// libraries beside it.

#include "common/environment.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <ostream>

// Readable texts in test failures.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList &texts, std::ostream *out)
{
    *out << '{';
    for (const QString &t : texts)
        *out << " \"" << t.toStdString() << '"';
    *out << " }";
}

namespace stand_in {

// Writes "#!/bin/sh" and `body` to `path` and makes it executable; returns the path.
QString WriteScript(const QString &path, const QByteArray &body);

using testing_support::ProcessResult;
using testing_support::RunToEnd;

// Copies the built converter into `folder` and links the three libraries it checks for
// beside it; returns the converter's path.
QString InstallConverter(const QString &folder);

} // namespace stand_in
