#include "topic_search.h"

#include "chm_archive.h"

#include <QRegularExpression>
#include <QStringDecoder>
#include <QTextDocumentFragment>

#include <algorithm>

namespace hhctrl {
namespace {

bool IsHtmlPath(const QString &path)
{
    return path.endsWith(QLatin1String(".html"), Qt::CaseInsensitive)
           || path.endsWith(QLatin1String(".htm"), Qt::CaseInsensitive);
}

// The page's <title> as a reader sees it (entities resolved, blanks folded).
QString TitleOf(const QString &html)
{
    static const QRegularExpression title(QStringLiteral("<title[^>]*>(.*?)</title>"),
                                          QRegularExpression::CaseInsensitiveOption
                                              | QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match = title.match(html);
    if (!match.hasMatch())
        return QString();
    return QTextDocumentFragment::fromHtml(match.captured(1)).toPlainText().simplified();
}

} // namespace

QString DecodeHtml(const QByteArray &bytes)
{
    QStringDecoder decoder = QStringDecoder::decoderForHtml(bytes);
    return decoder.isValid() ? decoder.decode(bytes) : QString::fromLatin1(bytes);
}

TopicSearch::TopicSearch(const ChmArchive &archive)
    : m_archive(archive)
{}

QStringList TopicSearch::WordsOf(const QString &text)
{
    static const QRegularExpression separators(QStringLiteral("[^\\w]+"),
                                               QRegularExpression::UseUnicodePropertiesOption);
    return text.toLower().split(separators, Qt::SkipEmptyParts);
}

void TopicSearch::Load() const
{
    m_loaded = true;
    for (const QString &path : m_archive.Files()) {
        if (!IsHtmlPath(path))
            continue;
        const std::optional<QByteArray> bytes = m_archive.Read(path);
        if (!bytes)
            continue;
        const QString html = DecodeHtml(*bytes);
        Page page{path, TitleOf(html), {}};
        if (page.title.isEmpty())
            page.title = path;
        // A fragment is never laid out, so the page's pictures are not looked for.
        for (const QString &word : WordsOf(QTextDocumentFragment::fromHtml(html).toPlainText()))
            ++page.wordCounts[word];
        m_pages.push_back(std::move(page));
    }
}

std::vector<TopicSearch::Hit> TopicSearch::Find(const QString &query) const
{
    QStringList words = WordsOf(query);
    words.removeDuplicates();
    std::vector<Hit> hits;
    if (words.isEmpty())
        return hits;
    if (!m_loaded)
        Load();
    for (const Page &page : m_pages) {
        int matches = 0;
        for (const QString &word : words) {
            const int count = page.wordCounts.value(word);
            if (count == 0) {
                matches = 0;
                break;
            }
            matches += count;
        }
        if (matches > 0)
            hits.push_back({page.path, page.title, matches});
    }
    std::stable_sort(
        hits.begin(), hits.end(), [](const Hit &a, const Hit &b) { return a.matches > b.matches; });
    return hits;
}

} // namespace hhctrl
