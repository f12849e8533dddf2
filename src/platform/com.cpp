#include "platform/com.h"

#include <cstdlib>

namespace platform {

std::optional<Guid> Guid::Parse(QStringView text)
{
    text = text.trimmed();
    if (text.startsWith(u'{') && text.endsWith(u'}'))
        text = text.mid(1, text.size() - 2);
    // 8-4-4-4-12 hex digits.
    if (text.size() != 36)
        return std::nullopt;
    static constexpr int kDashes[] = {8, 13, 18, 23};
    for (int d : kDashes) {
        if (text[d] != u'-')
            return std::nullopt;
    }
    auto hexAt = [&](int from, int digits, bool *ok) {
        std::uint32_t v = 0;
        for (int i = 0; i < digits; ++i) {
            const char16_t c = text[from + i].unicode();
            int value = -1;
            if (c >= u'0' && c <= u'9')
                value = c - u'0';
            else if (c >= u'a' && c <= u'f')
                value = c - u'a' + 10;
            else if (c >= u'A' && c <= u'F')
                value = c - u'A' + 10;
            if (value < 0)
                *ok = false;
            v = v * 16 + static_cast<std::uint32_t>(value < 0 ? 0 : value);
        }
        return v;
    };
    bool ok = true;
    Guid g;
    g.data1 = hexAt(0, 8, &ok);
    g.data2 = static_cast<std::uint16_t>(hexAt(9, 4, &ok));
    g.data3 = static_cast<std::uint16_t>(hexAt(14, 4, &ok));
    g.data4[0] = static_cast<std::uint8_t>(hexAt(19, 2, &ok));
    g.data4[1] = static_cast<std::uint8_t>(hexAt(21, 2, &ok));
    for (int i = 0; i < 6; ++i)
        g.data4[2 + i] = static_cast<std::uint8_t>(hexAt(24 + 2 * i, 2, &ok));
    if (!ok)
        return std::nullopt;
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
