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
    for (int i = 0; i < files.size() && i < kMaxObjectsRead; ++i) {
        fuzz::Check(archive->Contains(files[i]), "a listed file is in the archive");
        archive->Read(files[i]);
    }
    for (const QString &page : {archive->ContentsFile(), archive->IndexFile()}) {
        if (const auto sitemap = archive->Read(page))
            hhctrl::ParseSitemap(*sitemap);
    }
    archive->Read(archive->DefaultTopic());
    return 0;
}
