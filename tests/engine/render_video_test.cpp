#include "common/media_makers.h"
#include "common/table_rows.h"
#include "engine/render/render_engine.h"
#include "render_test_graph.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <sys/stat.h>

namespace {

using testing_support::operator<<;

using namespace engine;
using namespace rendertest;
using platform::S_OK;

constexpr int kW = 160;
constexpr int kH = 120;

// A scene of kW x kH, rendered.
Rendered RenderShots(const std::vector<Shot> &shots, const Guid &resizer = Guid{})
{
    auto timeline = CreateTimeline();
    AddShots(timeline.Get(), AddGroup(timeline.Get(), kW, kH).Get(), shots);
    return Render(timeline.Get(), resizer);
}

// Writes a kW x kH BMP of one colour into `dir`; returns its path (empty on failure).
QString SolidBmp(const QTemporaryDir &dir, const char *name, const QColor &colour)
{
    const QString path = dir.filePath(QString::fromLatin1(name));
    return testmedia::SaveBmp(testmedia::SolidImage(kW, kH, colour), path) ? path : QString();
}

void ExpectColour(Rgb got, Rgb want, int tolerance, const std::string &where)
{
    EXPECT_NEAR(got.r, want.r, tolerance) << where;
    EXPECT_NEAR(got.g, want.g, tolerance) << where;
    EXPECT_NEAR(got.b, want.b, tolerance) << where;
}

constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kBlue{0, 0, 255};
constexpr Rgb kGreen{0, 255, 0};
constexpr Rgb kBlack{0, 0, 0};
// A resizer class that nothing registers: the engine falls back to its own.
constexpr Guid kNoSuchResizer = MakeGuid("{0F3C5B8E-6A1D-4C2E-9B7F-1D2E3F405162}");

// Two photos with the effect: red [0, 2] wipes in over black during [0, 1]; blue [1, 4]
// dissolves in over red during [1, 2]; then blue alone, repeated to the end.
TEST(RenderTransitions, WipeThenDissolveThenThePhotoAloneRepeatedToTheEnd)
{
    QTemporaryDir dir;
    const Rendered r
        = RenderShots({{SolidBmp(dir, "red.bmp", Qt::red), 0, 2, &CLSID_DxtJpeg, 1},
                       {SolidBmp(dir, "blue.bmp", Qt::blue), 1, 4, &CLSID_CrossFade, 2}});
    // Frame n starts at n * 1001/30000 s: at frame 15 the wipe's edge is at column 80, at
    // frame 24 at 128; frame 30 begins the dissolve, frame 45 is half way, 60 after it.
    // clang-format off
    const std::tuple<int, int, int, Rgb, int> pixels[] = {
        {0, 5, 60, kBlack, 0}, {0, 155, 60, kBlack, 0}, {15, 10, 10, kRed, 0},
        {15, 79, 110, kRed, 0}, {15, 80, 60, kBlack, 0}, {15, 150, 60, kBlack, 0},
        {24, 127, 60, kRed, 0}, {24, 129, 60, kBlack, 0}, {30, 80, 60, kRed, 15},
        {45, 80, 60, {127, 0, 128}, 4}, {60, 80, 60, kBlue, 0}, {119, 0, 119, kBlue, 0}};
    // clang-format on
    for (const auto &[n, x, y, colour, tolerance] : pixels)
        ExpectColour(r.At(n, x, y), colour, tolerance, "frame " + std::to_string(n));
    // The blue grows steadily over the dissolve.
    for (std::int64_t n = 31; n < 60; ++n)
        EXPECT_GE(r.At(n, 80, 60).b, r.At(n - 1, 80, 60).b) << n;

    const auto &frames = r.Frames();
    ASSERT_EQ(frames.size(), 120u); // 4 s at 29.97: frame 119 starts at 3.9706 s
    for (std::size_t n = 0; n < frames.size(); ++n) {
        ASSERT_EQ(frames[n].start, static_cast<ReferenceTime>(n) * kSecond * 1001 / 30000) << n;
        ASSERT_EQ(frames[n].bytes.size(), static_cast<std::size_t>(kW * 3 * kH));
        EXPECT_EQ(frames[n].repeat, n > 60) << n;
    }
    EXPECT_EQ(frames.back().stop, 120 * kSecond * 1001 / 30000);
    EXPECT_TRUE(r.recorders[0]->endOfStream);
}

struct PhotoRow
{
    const char *name;
    QImage (*image)();
    const char *file; // its extension picks the writer; "cmyk.jpg" is a CMYK JPEG
    testmedia::JpegOptions jpeg;
    // Expected pixels (x, y, colour, tolerance).
    std::vector<std::tuple<int, int, Rgb, int>> pixels;
    int stretch = RESIZEF_PRESERVEASPECTRATIO;
};

class RenderPhotos : public testing::TestWithParam<PhotoRow>
{};

TEST_P(RenderPhotos, PhotoIsDecodedAndFittedIntoTheFrame)
{
    const PhotoRow &row = GetParam();
    QTemporaryDir dir;
    const QString path = dir.filePath(QString::fromLatin1(row.file));
    if (path.endsWith(QStringLiteral("cmyk.jpg")) && !testmedia::SaveCmykJpeg(row.image(), path))
        GTEST_SKIP() << "ImageMagick's convert is not available";
    ASSERT_TRUE(QFile::exists(path)
                || (path.endsWith(QStringLiteral("gif")) ? testmedia::SaveGif(row.image(), path)
                    : path.endsWith(QStringLiteral("bmp"))
                        ? testmedia::SaveBmp(row.image(), path)
                        : testmedia::SaveJpeg(row.image(), path, row.jpeg)));
    const Rendered r = RenderShots({{path, 0, 1, nullptr, 0, row.stretch}}, kNoSuchResizer);
    ASSERT_EQ(r.Frames().size(), 30u);
    for (const auto &[x, y, colour, tolerance] : row.pixels) {
        ExpectColour(
            r.At(10, x, y), colour, tolerance, std::to_string(x) + "," + std::to_string(y));
    }
}

// clang-format off
QImage Orange() { return testmedia::SolidImage(320, 240, QColor(255, 128, 0)); }
QImage Green() { return testmedia::SolidImage(320, 240, Qt::green); }
QImage Portrait() { return testmedia::SolidImage(100, 200, Qt::green); }
QImage SplitPortrait() { return testmedia::SplitImage(100, 200, Qt::red, Qt::blue); }
QImage Lying() { return testmedia::SplitImage(200, 100, Qt::red, Qt::blue); }
QImage LargeLying() { return testmedia::SplitImage(4000, 2000, Qt::red, Qt::blue); }
// 20000x14000: 1.1 GB as a full-size picture, far past what the image reader allows.
QImage Giant() { QImage giant(20000, 14000, QImage::Format_Grayscale8); giant.fill(160); return giant; }
constexpr Rgb kOrange{255, 128, 0};
constexpr auto kRotate90 = QImageIOHandler::TransformationRotate90;

INSTANTIATE_TEST_SUITE_P(Kinds, RenderPhotos, testing::Values(
    PhotoRow{"progressive_JPEG", Orange, "p.jpg", {90, true}, {{80, 60, kOrange, 8}}},
    PhotoRow{"CMYK_JPEG", Orange, "cmyk.jpg", {}, {{80, 60, kOrange, 24}}},
    PhotoRow{"GIF", Green, "p.gif", {}, {{80, 60, kGreen, 3}}},
    // A portrait photo in a landscape frame: 60x120 in the middle, bars left and right;
    // by the other stretch modes cropped to the frame in the middle, or filling it.
    PhotoRow{"portrait_letterboxed", Portrait, "p.bmp", {},
             {{49, 60, kBlack, 0}, {51, 0, kGreen, 0}, {108, 119, kGreen, 0}, {111, 60, kBlack, 0}}},
    PhotoRow{"portrait_cropped", Portrait, "p.bmp", {},
             {{29, 60, kBlack, 0}, {30, 0, kGreen, 0}, {129, 119, kGreen, 0}, {130, 60, kBlack, 0}},
             RESIZEF_CROP},
    PhotoRow{"portrait_stretched", Portrait, "p.bmp", {}, {{0, 0, kGreen, 0}, {159, 119, kGreen, 0}},
             RESIZEF_STRETCH},
    PhotoRow{"portrait_covering", SplitPortrait, "p.bmp", {},
             {{0, 0, kRed, 0}, {70, 119, kRed, 4}, {90, 0, kBlue, 4}, {159, 119, kBlue, 0}},
             RESIZEF_PRESERVEASPECTRATIO_NOLETTERBOX},
    // Stored lying on its side (left red, right blue) with EXIF orientation 6: shown
    // upright it is a portrait with red on top, blue below. The large one is read at a
    // reduced scale, which must follow the stored shape, not the upright one.
    PhotoRow{"EXIF_turned_JPEG", Lying, "p.jpg", {95, false, kRotate90},
             {{80, 20, kRed, 24}, {80, 100, kBlue, 24}, {20, 60, kBlack, 4}, {140, 60, kBlack, 4}}},
    PhotoRow{"large_EXIF_turned_JPEG", LargeLying, "p.jpg", {90, false, kRotate90},
             {{80, 20, kRed, 24}, {80, 100, kBlue, 24}, {47, 60, kBlack, 4}, {112, 60, kBlack, 4}}},
    // Read at a reduced scale, not refused. Fitted to 160x112, bars of 4 rows.
    PhotoRow{"giant_JPEG", Giant, "p.jpg", {50}, {{80, 60, Rgb{160, 160, 160}, 3}, {80, 1, kBlack, 0}}}),
    testing_support::RowName());
// clang-format on

TEST(RenderPhotos, UndecodablePhotoShowsBlackAndTheRunGoesOn)
{
    QTemporaryDir dir;
    const QString red = SolidBmp(dir, "red.bmp", Qt::red), bad = dir.filePath("bad.jpg"),
                  blue = SolidBmp(dir, "blue.bmp", Qt::blue);
    ASSERT_TRUE(testmedia::SaveCorruptPhoto(bad));
    // A FIFO is never read: nothing would ever write to it.
    const QString fifo = dir.filePath("pipe.jpg");
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const Rendered r = RenderShots({{red, 0, 2},
                                    {bad, 1, 3},
                                    {blue, 2, 4},
                                    {dir.filePath("missing.jpg"), 3, 5},
                                    {fifo, 4, 6}});
    ASSERT_EQ(r.Frames().size(), 180u);
    ExpectColour(r.At(15, 80, 60), kRed, 0, "before");
    ExpectColour(r.At(45, 80, 60), kBlack, 0, "the damaged photo");
    ExpectColour(r.At(75, 80, 60), kBlue, 0, "after");
    ExpectColour(r.At(135, 80, 60), kBlack, 0, "a missing photo");
    ExpectColour(r.At(165, 80, 60), kBlack, 0, "a FIFO");
}

TEST(RenderPhotos, ZeroSecondsPerPhotoNeitherCrashesNorHangs)
{
    // Every clip and transition is empty, and so is the movie.
    QTemporaryDir dir;
    const QString a = SolidBmp(dir, "a.bmp", Qt::red);
    const Rendered r = RenderShots({{a, 0, 0, &CLSID_DxtJpeg, 0}, {a, 0, 0, &CLSID_CrossFade, 0}});
    EXPECT_TRUE(r.Frames().empty());
    EXPECT_TRUE(r.recorders[0]->endOfStream);
}

TEST(RenderFrontEnd, RefusesWhatItCannotRender)
{
    auto engine = CreateRenderEngine();
    EXPECT_EQ(engine->ConnectFrontEnd(), platform::E_UNEXPECTED); // no timeline yet
    auto timeline = CreateTimeline();
    EXPECT_EQ(engine->SetTimelineObject(timeline.Get()), S_OK);
    EXPECT_EQ(engine->ConnectFrontEnd(), platform::E_INVALIDARG); // no group at all
    ComPtr<IAMTimelineObj> group;
    timeline->CreateEmptyNode(&group, TIMELINE_MAJOR_TYPE_GROUP);
    timeline->AddGroup(group.Get());
    EXPECT_EQ(engine->ConnectFrontEnd(), platform::E_INVALIDARG); // a group without a type
    ComPtr<IPin> none;
    EXPECT_EQ(engine->GetGroupOutputPin(0, &none), platform::E_UNEXPECTED);
}

} // namespace
