#include "platform/com.h"

#include <QUuid>

#include <algorithm>
#include <cstdlib>
#include <iterator>

namespace platform {

std::optional<Guid> Guid::Parse(QStringView text)
{
    text = text.trimmed();
    if (text.startsWith(u'{') && text.endsWith(u'}'))
        text = text.mid(1, text.size() - 2);
    // QUuid reads the 8-4-4-4-12 digits but forgives text after them and answers malformed
    // text with the null id, so the length is checked here and the null id told apart.
    static constexpr QStringView kNullText = u"00000000-0000-0000-0000-000000000000";
    if (text.size() != kNullText.size())
        return std::nullopt;
    const QUuid uuid = QUuid::fromString(text);
    if (uuid.isNull() && text != kNullText)
        return std::nullopt;
    Guid g;
    g.data1 = uuid.data1;
    g.data2 = uuid.data2;
    g.data3 = uuid.data3;
    std::copy(std::begin(uuid.data4), std::end(uuid.data4), g.data4.begin());
    return g;
}

QString Guid::ToString() const
{
    QString s = QStringLiteral("{%1-%2-%3-%4%5-")
                    .arg(data1, 8, 16, QLatin1Char('0'))
                    .arg(data2, 4, 16, QLatin1Char('0'))
                    .arg(data3, 4, 16, QLatin1Char('0'))
                    .arg(data4[0], 2, 16, QLatin1Char('0'))
                    .arg(data4[1], 2, 16, QLatin1Char('0'));
    for (int i = 2; i < 8; ++i)
        s += QStringLiteral("%1").arg(data4[i], 2, 16, QLatin1Char('0'));
    s += u'}';
    return s.toUpper();
}

void *CoTaskMemAlloc(std::size_t bytes)
{
    return std::malloc(bytes == 0 ? 1 : bytes);
}

void CoTaskMemFree(void *block)
{
    std::free(block);
}

} // namespace platform
