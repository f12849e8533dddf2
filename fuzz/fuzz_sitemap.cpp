// A contents (.hhc) or index (.hhk) page of a help file, as ParseSitemap reads it.

#include "fuzz_support.h"

#include "hhctrl/sitemap.h"

namespace {

// Every entry kept carries a name or a page; returns the number of entries.
int CheckEntries(const std::vector<hhctrl::SitemapEntry> &entries)
{
    int count = 0;
    for (const hhctrl::SitemapEntry &entry : entries) {
        fuzz::Check(!entry.name.isEmpty() || !entry.local.isEmpty(), "an entry names something");
        count += 1 + CheckEntries(entry.children);
    }
    return count;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray html = fuzz::Bytes(data, size);
    const int entries = CheckEntries(hhctrl::ParseSitemap(html));
    // An entry needs at least "<object" and a "<param" in the page.
    fuzz::Check(entries <= html.size() / 10, "no more entries than the page can hold");
    return 0;
}
