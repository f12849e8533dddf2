#pragma once
// GoogleTest prints a value it knows nothing of as raw bytes ("2-byte object <59-00 ...>"),
// which for Qt's strings says nothing. The test build puts this header in front of every
// test file (one printer for all of them), so a failed check shows the text itself.

#include <QString>
#include <QStringList>

#include <ostream>

inline void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QStringList &texts, std::ostream *os)
{
    *os << '{';
    for (qsizetype i = 0; i < texts.size(); ++i) {
        *os << (i ? ", " : "");
        PrintTo(texts[i], os);
    }
    *os << '}';
}
