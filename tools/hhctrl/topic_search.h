#pragma once
// Full-text search over every page of a compiled help file, as the Search tab of the help
// window offers it. The pages are read out of the archive on the first search (whatever
// their HTML: the text a reader sees is what is searched, tags, comments and style sheets
// are not), and every later search looks at that text only.

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

#include <vector>

namespace hhctrl {

class ChmArchive;

// The text of an HTML page of the archive, in the encoding its bytes declare (UTF-8 when
// they declare none and are valid UTF-8, else Latin-1).
QString DecodeHtml(const QByteArray &bytes);

class TopicSearch
{
public:
    // The archive must outlive the search.
    explicit TopicSearch(const ChmArchive &archive);

    struct Hit
    {
        QString path;  // archive path of the page
        QString title; // the page's <title>, or its path when it has none
        int matches;   // how often the words occur in the page
    };

    // The pages that hold every word of `query` (whole words, without regard to case),
    // most matches first; pages with as many matches keep the archive's order. Nothing for
    // a query without words.
    std::vector<Hit> Find(const QString &query) const;

    // The words of a text as the search sees them: letters and digits, lower case.
    static QStringList WordsOf(const QString &text);

private:
    struct Page
    {
        QString path;
        QString title;
        QHash<QString, int> wordCounts;
    };
    void Load() const;

    const ChmArchive &m_archive;
    mutable bool m_loaded = false;
    mutable std::vector<Page> m_pages;
};

} // namespace hhctrl
