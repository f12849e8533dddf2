// The contents and index files of a help file are loose HTML; the engine must read the shapes
// that help authoring tools write.

#include "chm_archive.h"
#include "sitemap.h"

#include <gtest/gtest.h>

#include <QFile>

namespace {

QString Dump(const std::vector<hhctrl::SitemapEntry> &entries)
{
    QString out;
    for (const auto &e : entries) {
        out += e.name + u'=' + e.local;
        if (!e.children.empty())
            out += u'(' + Dump(e.children) + u')';
        out += u';';
    }
    return out;
}

struct SitemapRow
{
    const char *label;
    const char *html;
    const char *expected;
};

void PrintTo(const SitemapRow &row, std::ostream *os)
{
    *os << row.label;
}

class SitemapTest : public ::testing::TestWithParam<SitemapRow>
{};

TEST_P(SitemapTest, ReadsTheTree)
{
    EXPECT_EQ(Dump(hhctrl::ParseSitemap(QByteArray(GetParam().html))),
              QString::fromUtf8(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Shapes,
    SitemapTest,
    ::testing::Values(
        SitemapRow{"flat",
                   "<UL><LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"A\">"
                   "<param name=\"Local\" value=\"a.html\"></OBJECT>"
                   "<LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"B\">"
                   "<param name=\"Local\" value=\"b.html\"></OBJECT></UL>",
                   "A=a.html;B=b.html;"},
        SitemapRow{"nested, lower case, bare and single-quoted values",
                   "<ul><li><object type=text/sitemap><param name=Name value='Book'></object>"
                   "<ul><li><object type=\"text/sitemap\"><param name=name value=\"Page\">"
                   "<param name=local value=dir/p.html#top></object>"
                   "<ul><li><object type=\"text/sitemap\"><param name=\"Name\" value=\"Deep\">"
                   "<param name=\"Local\" value=\"d.html\"></object></ul></ul>"
                   "<li><object type=\"text/sitemap\"><param name=\"Name\" value=\"After\">"
                   "<param name=\"Local\" value=\"z.html\"></object></ul>",
                   "Book=(Page=dir/p.html#top(Deep=d.html;););After=z.html;"},
        SitemapRow{"entities and spaces",
                   "<UL><LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\" Tom &amp; "
                   "Jerry &#233; \">"
                   "<param name=\"Local\" value=\"t&amp;j.html\"></OBJECT></UL>",
                   "Tom & Jerry é=t&j.html;"},
        SitemapRow{
            "site properties and other objects are not entries",
            "<OBJECT type=\"text/site properties\"><param name=\"Name\" value=\"X\"></OBJECT>"
            "<UL><LI><OBJECT type=\"application/x-oleobject\"><param name=\"Name\" "
            "value=\"Y\"></OBJECT>"
            "<LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"Z\"></OBJECT></UL>",
            "Z=;"},
        SitemapRow{
            "unbalanced lists do not lose items",
            "</UL></UL><UL><UL><LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"A\">"
            "<param name=\"Local\" value=\"a.html\"></OBJECT>",
            "A=a.html;"},
        SitemapRow{"first value of a repeated parameter wins",
                   "<UL><LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"Key\">"
                   "<param name=\"Local\" value=\"one.html\"><param name=\"Local\" "
                   "value=\"two.html\"></OBJECT></UL>",
                   "Key=one.html;"},
        SitemapRow{"empty", "", ""}));

// A page nested without end is read with its items, but the tree stays shallow enough for
// the recursive walks of the help window.
TEST(Sitemap, BoundsTheNestingDepth)
{
    constexpr int kLevels = 100000;
    QByteArray page = "<UL>";
    for (int i = 0; i < kLevels; ++i)
        page += "<LI><OBJECT type=\"text/sitemap\"><param name=\"Name\" value=\"a\"></OBJECT><UL>";
    const std::vector<hhctrl::SitemapEntry> tree = hhctrl::ParseSitemap(page);
    int depth = 0;
    int entries = 0;
    for (const std::vector<hhctrl::SitemapEntry> *level = &tree; !level->empty();
         level = &level->back().children) {
        ++depth;
        entries += static_cast<int>(level->size());
    }
    EXPECT_EQ(entries, kLevels);
    EXPECT_LE(depth, 101);
}

TEST(ChmArchive, ReadsTheCompiledHelpFile)
{
    const auto archive
        = hhctrl::ChmArchive::Open(QStringLiteral(VANTOREL_TEST_PROGRAM_DIR "Vantorel.chm"));
    ASSERT_NE(archive, nullptr);
    EXPECT_EQ(archive->DefaultTopic(), QStringLiteral("/index.html"));
    EXPECT_EQ(archive->ContentsFile(), QStringLiteral("/toc.hhc"));
    EXPECT_EQ(archive->IndexFile(), QStringLiteral("/index.hhk"));
    EXPECT_EQ(archive->Title(), QStringLiteral("Vantorel Converter Help"));

    // Pages come back byte for byte as written, found without regard to case.
    QFile source(QStringLiteral(VANTOREL_TEST_SOURCE_DIR "/../src/help/content/batch.html"));
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    const QByteArray expected = source.readAll();
    EXPECT_EQ(archive->Read(QStringLiteral("batch.html")), expected);
    EXPECT_EQ(archive->Read(QStringLiteral("/BATCH.HTML")), expected);
    EXPECT_FALSE(archive->Read(QStringLiteral("/nothing.html")).has_value());
    EXPECT_TRUE(archive->Files().contains(QStringLiteral("/images/logo.png")));
    EXPECT_FALSE(archive->Files().contains(QStringLiteral("/#SYSTEM")));
    // Compiled with its full-text search index, for viewers that search the whole text.
    EXPECT_TRUE(archive->Read(QStringLiteral("/$FIftiMain")).has_value());

    // Files that are no help files are refused.
    EXPECT_EQ(hhctrl::ChmArchive::Open(QStringLiteral("/nonexistent/Vantorel.chm")), nullptr);
    EXPECT_EQ(hhctrl::ChmArchive::Open(QString()), nullptr);
    EXPECT_EQ(
        hhctrl::ChmArchive::Open(QStringLiteral(VANTOREL_TEST_SOURCE_DIR "/tools/CMakeLists.txt")),
        nullptr);
}

// Found by fuzzing: damaged archives (directory chunks that loop, reset tables and control
// data with no sizes or absurd ones, chunk numbers that run on, names that are not UTF-8 or
// not absolute) once hung or crashed the reader. Each now opens or is refused, and every
// file it lists is found by that name and read or refused without harm.
TEST(ChmArchive, ReadsDamagedArchivesWithoutHarm)
{
    for (const char *name : {"chm_listing_loops.chm",
                             "chm_reset_block_zero.chm",
                             "chm_control_window_zero.chm",
                             "chm_reset_block_huge.chm",
                             "chm_control_window_odd.chm",
                             "chm_no_reset_blocks.chm",
                             "chm_index_number_unbounded.chm",
                             "chm_reset_table_no_section.chm",
                             "chm_name_not_utf8.chm"}) {
        const auto archive = hhctrl::ChmArchive::Open(
            QStringLiteral(VANTOREL_TEST_SOURCE_DIR "/tools/data/") + QLatin1String(name));
        if (!archive)
            continue;
        for (const QString &file : archive->Files()) {
            EXPECT_TRUE(archive->Contains(file)) << name << ' ' << file.toStdString();
            archive->Read(file);
        }
    }
}

} // namespace
