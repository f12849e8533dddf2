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
QString
SolidBmp(const QTemporaryDir &dir, const char *name, const QColor &colour, int w = kW, int h = kH)
{
    const QString path = dir.filePath(QString::fromLatin1(name));
    return testmedia::SaveBmp(testmedia::SolidImage(w, h, colour), path) ? path : QString();
}

void ExpectColour(Rgb got, Rgb want, int tolerance, const char *where)
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

// ---- Transitions ------------------------------------------------------------------------

// Two photos, one second each, with the effect: photo 0 [0, 2] wipes in over black during
// [0, 1]; photo 1 [1, 4] dissolves in over photo 0 during [1, 2]; then photo 1 alone.
// Rendered once for all the tests that look at it.
const Rendered &Transitions()
{
    static const QTemporaryDir dir;
    static const Rendered rendered
        = RenderShots({{SolidBmp(dir, "red.bmp", Qt::red), 0, 2, &CLSID_DxtJpeg, 1},
                       {SolidBmp(dir, "blue.bmp", Qt::blue), 1, 4, &CLSID_CrossFade, 2}});
    return rendered;
}

TEST(RenderTransitions, WipeBringsThePhotoInFromTheLeft)
{
    // Frame 0: the wipe has not begun, all black.
    ExpectColour(Transitions().At(0, 5, 60), kBlack, 0, "frame 0 left");
    ExpectColour(Transitions().At(0, 155, 60), kBlack, 0, "frame 0 right");
    // Frame 15 starts at 0.5005 s: the edge is at column 80.
    ExpectColour(Transitions().At(15, 10, 10), kRed, 0, "left of the edge");
    ExpectColour(Transitions().At(15, 79, 110), kRed, 0, "just left of the edge");
    ExpectColour(Transitions().At(15, 80, 60), kBlack, 0, "just right of the edge");
    ExpectColour(Transitions().At(15, 150, 60), kBlack, 0, "right of the edge");
    // Later in the wipe more of the photo shows: frame 24 (0.8008 s) edge at 128.
    ExpectColour(Transitions().At(24, 127, 60), kRed, 0, "frame 24 inside");
    ExpectColour(Transitions().At(24, 129, 60), kBlack, 0, "frame 24 outside");
}

TEST(RenderTransitions, DissolveBlendsTheEarlierPhotoIntoTheLaterOne)
{
    // Frame 29 (0.9676 s): the wipe is nearly done; frame 30 (1.001 s) begins the dissolve.
    const Rgb start = Transitions().At(30, 80, 60);
    EXPECT_GT(start.r, 240);
    EXPECT_LT(start.b, 15);
    // Frame 45 starts at 1.5015 s: half way.
    const Rgb half = Transitions().At(45, 80, 60);
    EXPECT_NEAR(half.r, 127, 4);
    EXPECT_NEAR(half.b, 128, 4);
    EXPECT_EQ(half.g, 0);
    // The blue grows steadily over the span.
    int lastBlue = -1;
    for (std::int64_t n = 30; n < 60; ++n) {
        const int blue = Transitions().At(n, 80, 60).b;
        EXPECT_GE(blue, lastBlue) << n;
        lastBlue = blue;
    }
}

TEST(RenderTransitions, AfterTheTransitionsThePhotoStandsAloneAndRepeatsToTheEnd)
{
    const auto &frames = Transitions().Frames();
    ASSERT_EQ(frames.size(), 120u); // 4 s at 29.97: frame 119 starts at 3.9706 s
    for (std::size_t n = 0; n < frames.size(); ++n) {
        ASSERT_EQ(frames[n].start, static_cast<ReferenceTime>(n) * kSecond * 1001 / 30000) << n;
        ASSERT_EQ(frames[n].bytes.size(), static_cast<std::size_t>(kW * 3 * kH));
        EXPECT_EQ(frames[n].repeat, n > 60) << n;
    }
    EXPECT_EQ(frames.back().stop, 120 * kSecond * 1001 / 30000);
    EXPECT_TRUE(Transitions().recorders[0]->endOfStream);
    // Frame 60 starts at 2.002 s: photo 1 alone.
    ExpectColour(Transitions().At(60, 80, 60), kBlue, 0, "after");
    ExpectColour(Transitions().At(119, 0, 119), kBlue, 0, "last frame");
}

// ---- Photos -----------------------------------------------------------------------------

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
        const std::string where = std::to_string(x) + "," + std::to_string(y);
        ExpectColour(r.At(10, x, y), colour, tolerance, where.c_str());
    }
}

QImage Orange()
{
    return testmedia::SolidImage(320, 240, QColor(255, 128, 0));
}
constexpr Rgb kOrangeRgb{255, 128, 0};
constexpr auto kRotate90 = QImageIOHandler::TransformationRotate90;

INSTANTIATE_TEST_SUITE_P(
    Kinds,
    RenderPhotos,
    testing::Values(
        PhotoRow{"progressive_JPEG", Orange, "p.jpg", {90, true}, {{80, 60, kOrangeRgb, 8}}},
        PhotoRow{"CMYK_JPEG", Orange, "cmyk.jpg", {}, {{80, 60, kOrangeRgb, 24}}},
        PhotoRow{"GIF",
                 [] { return testmedia::SolidImage(320, 240, Qt::green); },
                 "p.gif",
                 {},
                 {{80, 60, kGreen, 3}}},
        // A portrait photo in a landscape frame: 60x120 in the middle, bars left and right.
        PhotoRow{
            "portrait_letterboxed",
            [] { return testmedia::SolidImage(100, 200, Qt::green); },
            "p.bmp",
            {},
            {{49, 60, kBlack, 0}, {51, 0, kGreen, 0}, {108, 119, kGreen, 0}, {111, 60, kBlack, 0}}},
        // The same photo by the other stretch modes: cropped to the frame in the middle,
        // or filling it.
        PhotoRow{
            "portrait_cropped",
            [] { return testmedia::SolidImage(100, 200, Qt::green); },
            "p.bmp",
            {},
            {{29, 60, kBlack, 0}, {30, 0, kGreen, 0}, {129, 119, kGreen, 0}, {130, 60, kBlack, 0}},
            RESIZEF_CROP},
        PhotoRow{"portrait_stretched",
                 [] { return testmedia::SolidImage(100, 200, Qt::green); },
                 "p.bmp",
                 {},
                 {{0, 0, kGreen, 0}, {159, 119, kGreen, 0}},
                 RESIZEF_STRETCH},
        PhotoRow{"portrait_covering",
                 [] { return testmedia::SplitImage(100, 200, Qt::red, Qt::blue); },
                 "p.bmp",
                 {},
                 {{0, 0, kRed, 0}, {70, 119, kRed, 4}, {90, 0, kBlue, 4}, {159, 119, kBlue, 0}},
                 RESIZEF_PRESERVEASPECTRATIO_NOLETTERBOX},
        // Stored lying on its side (left red, right blue) with EXIF orientation 6: shown
        // upright it is a portrait with red on top, blue below.
        PhotoRow{
            "EXIF_turned_JPEG",
            [] { return testmedia::SplitImage(200, 100, Qt::red, Qt::blue); },
            "p.jpg",
            {95, false, kRotate90},
            {{80, 20, kRed, 24}, {80, 100, kBlue, 24}, {20, 60, kBlack, 4}, {140, 60, kBlack, 4}}},
        // The same, large enough to be read at a reduced scale: the reduction must follow
        // the stored shape, not the upright one.
        PhotoRow{
            "large_EXIF_turned_JPEG",
            [] { return testmedia::SplitImage(4000, 2000, Qt::red, Qt::blue); },
            "p.jpg",
            {90, false, kRotate90},
            {{80, 20, kRed, 24}, {80, 100, kBlue, 24}, {47, 60, kBlack, 4}, {112, 60, kBlack, 4}}},
        // 20000x14000: 1.1 GB as a full-size picture, far past what the image reader
        // allows; read at a reduced scale, not refused. Fitted to 160x112, bars of 4 rows.
        PhotoRow{"giant_JPEG",
                 [] {
                     QImage giant(20000, 14000, QImage::Format_Grayscale8);
                     giant.fill(160);
                     return giant;
                 },
                 "p.jpg",
                 {50},
                 {{80, 60, Rgb{160, 160, 160}, 3}, {80, 1, kBlack, 0}}}),
    testing_support::RowName());

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

// ---- The front end ----------------------------------------------------------------------

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
