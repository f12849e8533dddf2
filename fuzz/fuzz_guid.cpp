// Class identifiers as the settings store and the module registrations write them
// (Guid::Parse). A parsed identifier prints as text that parses to the same identifier.

#include "fuzz_support.h"

#include "platform/com.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = fuzz::Text(data, size);
    const std::optional<platform::Guid> guid = platform::Guid::Parse(text);
    if (!guid)
        return 0;
    const QString printed = guid->ToString();
    fuzz::Check(printed.size() == 38, "an identifier prints as {8-4-4-4-12}");
    fuzz::Check(platform::Guid::Parse(printed) == guid, "the printed identifier parses back");
    fuzz::Check(
        printed.compare(u'{' + text.trimmed().remove(u'{').remove(u'}') + u'}', Qt::CaseInsensitive)
            == 0,
        "the identifier is the text's digits");
    return 0;
}
