// The file chooser's filter list ("Description|*.a;*.b|...|") as ParseFilterList turns it
// into Qt's name filters.

#include "fuzz_support.h"

#include "platform/prompter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString list = fuzz::Text(data, size);
    const QStringList filters = platform::ParseFilterList(list);
    fuzz::Check(filters.size() <= (list.count(u'|') + 1) / 2, "one filter for each pair of fields");
    for (const QString &filter : filters)
        fuzz::Check(filter.endsWith(u')') && !filter.contains(u'|'),
                    "a filter is \"description (patterns)\"");
    return 0;
}
