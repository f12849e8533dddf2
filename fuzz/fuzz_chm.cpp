// A whole compiled help file (.chm) as the help window opens it: the archive, its system
// record, its file list, every object in it and the contents and index pages.

#include "fuzz_support.h"

#include "hhctrl/chm_archive.h"
#include "hhctrl/sitemap.h"

namespace {

constexpr int kMaxObjectsRead = 64;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString path = fuzz::WriteScratchFile(data, size, QStringLiteral(".chm"));
    const auto archive = hhctrl::ChmArchive::Open(path);
    if (!archive)
        return 0;
    const QStringList files = archive->Files();
    // Not checked that each listed file is found: in a damaged archive the listing and the
    // index that finds files by name may disagree, and then the file is just not shown.
    for (int i = 0; i < files.size() && i < kMaxObjectsRead; ++i)
        archive->Read(files[i]);
    for (const QString &page : {archive->ContentsFile(), archive->IndexFile()}) {
        if (const auto sitemap = archive->Read(page))
            hhctrl::ParseSitemap(*sitemap);
    }
    archive->Read(archive->DefaultTopic());
    return 0;
}
