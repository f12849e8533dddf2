#include "sitemap.h"

#include <QRegularExpression>
#include <QStringDecoder>

#include <optional>

namespace hhctrl {
namespace {

// Lists nest no deeper than this (a help file's contents go a few levels deep); a deeper
// list adds to the innermost one kept, so that a page nested without end cannot exhaust
// the stack of whoever walks or frees the tree.
constexpr std::size_t kMaxDepth = 100;

QString DecodeEntities(const QString &text)
{
    if (!text.contains(u'&'))
        return text;
    static const QRegularExpression entity(QStringLiteral("&(#x[0-9a-fA-F]+|#[0-9]+|[a-zA-Z]+);"));
    QString out;
    qsizetype last = 0;
    auto it = entity.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        out += text.mid(last, m.capturedStart() - last);
        const QString name = m.captured(1);
        char32_t code = 0;
        if (name.startsWith(QLatin1String("#x")))
            code = name.mid(2).toUInt(nullptr, 16);
        else if (name.startsWith(u'#'))
            code = name.mid(1).toUInt();
        else if (name == QLatin1String("amp"))
            code = u'&';
        else if (name == QLatin1String("lt"))
            code = u'<';
        else if (name == QLatin1String("gt"))
            code = u'>';
        else if (name == QLatin1String("quot"))
            code = u'"';
        else if (name == QLatin1String("apos"))
            code = u'\'';
        else if (name == QLatin1String("nbsp"))
            code = 0xA0;
        if (code != 0 && code <= 0x10FFFF)
            out += QString::fromUcs4(&code, 1);
        else
            out += m.captured(0);
        last = m.capturedEnd();
    }
    out += text.mid(last);
    return out;
}

// Attribute name (lower case) to value, from the text between a tag's name and its '>'.
QString Attribute(const QString &attributes, QLatin1String wanted)
{
    static const QRegularExpression attribute(QStringLiteral(
        "([A-Za-z_:][-A-Za-z0-9_:.]*)\\s*=\\s*(?:\"([^\"]*)\"|'([^']*)'|([^\\s\"'>]+))"));
    auto it = attribute.globalMatch(attributes);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        if (m.captured(1).compare(wanted, Qt::CaseInsensitive) != 0)
            continue;
        for (int group = 2; group <= 4; ++group) {
            if (m.capturedStart(group) >= 0)
                return DecodeEntities(m.captured(group));
        }
    }
    return QString();
}

// Builds the tree from the tags in file order.
class SitemapReader
{
public:
    std::vector<SitemapEntry> TakeTree() { return std::move(m_top); }

    void OnList(bool closing)
    {
        if (!closing) {
            std::vector<SitemapEntry> *current = m_levels.back();
            const bool deeper = !current->empty() && m_levels.size() <= kMaxDepth;
            m_levels.push_back(deeper ? &current->back().children : current);
        } else if (m_levels.size() > 1) {
            m_levels.pop_back();
        }
    }

    // Only objects of type text/sitemap are entries; an entry with neither a name nor a
    // page is left out.
    void OnObject(bool closing, const QString &attributes)
    {
        if (!closing) {
            if (Attribute(attributes, QLatin1String("type"))
                    .compare(QLatin1String("text/sitemap"), Qt::CaseInsensitive)
                == 0)
                m_item.emplace();
        } else if (m_item) {
            if (!m_item->name.isEmpty() || !m_item->local.isEmpty())
                m_levels.back()->push_back(std::move(*m_item));
            m_item.reset();
        }
    }

    // The first Name and the first Local of an entry count.
    void OnParam(const QString &attributes)
    {
        if (!m_item)
            return;
        const QString paramName = Attribute(attributes, QLatin1String("name"));
        QString *field = nullptr;
        if (paramName.compare(QLatin1String("Name"), Qt::CaseInsensitive) == 0)
            field = &m_item->name;
        else if (paramName.compare(QLatin1String("Local"), Qt::CaseInsensitive) == 0)
            field = &m_item->local;
        if (field && field->isEmpty())
            *field = Attribute(attributes, QLatin1String("value")).trimmed();
    }

private:
    std::vector<SitemapEntry> m_top;
    // The lists being filled, innermost last. A nested <UL> belongs to the item just
    // before it; one that follows no item adds to the current list.
    std::vector<std::vector<SitemapEntry> *> m_levels{&m_top};
    std::optional<SitemapEntry> m_item;
};

} // namespace

std::vector<SitemapEntry> ParseSitemap(const QByteArray &html)
{
    QStringDecoder decoder = QStringDecoder::decoderForHtml(html);
    const QString text = decoder.isValid() ? decoder.decode(html) : QString::fromLatin1(html);

    SitemapReader reader;
    static const QRegularExpression tag(QStringLiteral("<\\s*(/?)\\s*([A-Za-z]+)([^>]*)>"));
    auto it = tag.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        const bool closing = !m.captured(1).isEmpty();
        const QString name = m.captured(2).toLower();
        if (name == QLatin1String("ul"))
            reader.OnList(closing);
        else if (name == QLatin1String("object"))
            reader.OnObject(closing, m.captured(3));
        else if (name == QLatin1String("param") && !closing)
            reader.OnParam(m.captured(3));
    }
    return reader.TakeTree();
}

} // namespace hhctrl
