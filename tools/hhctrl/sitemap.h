#pragma once
// The contents (.hhc) and index (.hhk) files of a compiled help file are HTML "sitemaps":
// nested <UL> lists whose <OBJECT type="text/sitemap"> items carry a "Name" and a "Local"
// (the page inside the archive) as <param> elements.

#include <QByteArray>
#include <QString>

#include <vector>

namespace hhctrl {

struct SitemapEntry
{
    QString name;
    QString local; // as written in the sitemap, relative to the archive root; may be empty
    std::vector<SitemapEntry> children;
};

// Tolerant of the loose HTML that help authoring tools write: unclosed <LI>, upper or lower
// case, quoted or bare attribute values. Items outside any list are kept at the top level.
std::vector<SitemapEntry> ParseSitemap(const QByteArray &html);

} // namespace hhctrl
