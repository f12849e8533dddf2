#include "common/media_makers.h"
#include "engine/render/render_engine.h"
#include "engine/render/resizer.h"
#include "platform/class_store.h"
#include "render_slideshow.h"
#include "render_test_graph.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <atomic>
#include <cstdlib>

#include <sys/stat.h>

namespace {

using namespace engine;
using namespace rendertest;
using platform::S_OK;

constexpr int kW = 160;
constexpr int kH = 120;

// A scene of kW x kH, rendered.
Rendered RenderShots(const std::vector<Shot> &shots, const Guid &resizer = Guid{})
{
    auto timeline = CreateTimeline();
    auto video = AddVideoGroup(timeline.Get(), kW, kH);
    AddShots(timeline.Get(), video.Get(), shots);
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

// ---- Transitions ------------------------------------------------------------------------

// Two photos, one second each, with the effect: photo 0 [0, 2] wipes in over black during
// [0, 1]; photo 1 [1, 4] dissolves in over photo 0 during [1, 2]; then photo 1 alone.
class RenderTransitions : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        dir = new QTemporaryDir;
        const QString red = SolidBmp(*dir, "red.bmp", Qt::red);
        const QString blue = SolidBmp(*dir, "blue.bmp", Qt::blue);
        ASSERT_FALSE(red.isEmpty() || blue.isEmpty());
        rendered = new Rendered(
            RenderShots({{red, 0, 2, &CLSID_DxtJpeg, 1}, {blue, 1, 4, &CLSID_CrossFade, 2}}));
    }
    static void TearDownTestSuite()
    {
        delete rendered;
        delete dir;
    }
    static QTemporaryDir *dir;
    static Rendered *rendered;
};
QTemporaryDir *RenderTransitions::dir = nullptr;
Rendered *RenderTransitions::rendered = nullptr;

TEST_F(RenderTransitions, FramesRunAtNtscRateToTheEnd)
{
    const auto &frames = rendered->Frames();
    ASSERT_EQ(frames.size(), 120u); // 4 s at 29.97: frame 119 starts at 3.9706 s
    for (std::size_t n = 0; n < frames.size(); ++n) {
        ASSERT_EQ(frames[n].start, FrameStart(static_cast<std::int64_t>(n))) << n;
        ASSERT_EQ(frames[n].stop, FrameStart(static_cast<std::int64_t>(n) + 1)) << n;
        ASSERT_EQ(frames[n].bytes.size(), static_cast<std::size_t>(kW * 3 * kH));
    }
    EXPECT_TRUE(rendered->outputs[0].pin->endOfStream);
}

TEST_F(RenderTransitions, WipeBringsThePhotoInFromTheLeft)
{
    // Frame 0: the wipe has not begun, all black.
    ExpectColour(rendered->At(0, 5, 60), kBlack, 0, "frame 0 left");
    ExpectColour(rendered->At(0, 155, 60), kBlack, 0, "frame 0 right");
    // Frame 15 starts at 0.5005 s: the edge is at column 80.
    ExpectColour(rendered->At(15, 10, 10), kRed, 0, "left of the edge");
    ExpectColour(rendered->At(15, 79, 110), kRed, 0, "just left of the edge");
    ExpectColour(rendered->At(15, 80, 60), kBlack, 0, "just right of the edge");
    ExpectColour(rendered->At(15, 150, 60), kBlack, 0, "right of the edge");
    // Later in the wipe more of the photo shows: frame 24 (0.8008 s) edge at 128.
    ExpectColour(rendered->At(24, 127, 60), kRed, 0, "frame 24 inside");
    ExpectColour(rendered->At(24, 129, 60), kBlack, 0, "frame 24 outside");
    for (std::int64_t n = 0; n < 30; ++n)
        EXPECT_FALSE(rendered->Frames()[static_cast<std::size_t>(n)].repeat) << n;
}

TEST_F(RenderTransitions, DissolveBlendsTheEarlierPhotoIntoTheLaterOne)
{
    // Frame 29 (0.9676 s): the wipe is nearly done; frame 30 (1.001 s) begins the dissolve.
    const Rgb start = rendered->At(30, 80, 60);
    EXPECT_GT(start.r, 240);
    EXPECT_LT(start.b, 15);
    // Frame 45 starts at 1.5015 s: half way.
    const Rgb half = rendered->At(45, 80, 60);
    EXPECT_NEAR(half.r, 127, 4);
    EXPECT_NEAR(half.b, 128, 4);
    EXPECT_EQ(half.g, 0);
    // Every pixel of a dissolve frame is the same blend.
    const Rgb corner = rendered->At(45, 0, 0);
    EXPECT_EQ(corner.r, half.r);
    EXPECT_EQ(corner.b, half.b);
    // The blue grows steadily over the span.
    int lastBlue = -1;
    for (std::int64_t n = 30; n < 60; ++n) {
        const int blue = rendered->At(n, 80, 60).b;
        EXPECT_GE(blue, lastBlue) << n;
        lastBlue = blue;
    }
}

TEST_F(RenderTransitions, AfterTheTransitionsThePhotoStandsAloneAndRepeats)
{
    // Frame 60 starts at 2.002 s: photo 1 alone.
    ExpectColour(rendered->At(60, 80, 60), kBlue, 0, "after");
    ExpectColour(rendered->At(119, 0, 119), kBlue, 0, "last frame");
    EXPECT_FALSE(rendered->Frames()[60].repeat);
    for (std::size_t n = 61; n < 120; ++n)
        EXPECT_TRUE(rendered->Frames()[n].repeat) << n;
}

// ---- Photos -----------------------------------------------------------------------------

struct PhotoRow
{
    const char *name;
    QImage image;
    QString file;
    std::function<bool(const QImage &, const QString &)> save;
    // Expected pixels (x, y, colour, tolerance).
    std::vector<std::tuple<int, int, Rgb, int>> pixels;
};

class RenderPhotos : public testing::TestWithParam<int>
{};

std::vector<PhotoRow> PhotoRows()
{
    using testmedia::JpegOptions;
    const auto jpeg = [](JpegOptions o) {
        return [o](const QImage &i, const QString &p) { return testmedia::SaveJpeg(i, p, o); };
    };
    const auto bmp = [](const QImage &i, const QString &p) { return testmedia::SaveBmp(i, p); };
    const QColor orange(255, 128, 0);
    const Rgb kOrange{255, 128, 0};
    std::vector<PhotoRow> rows;
    rows.push_back({"baseline JPEG",
                    testmedia::SolidImage(320, 240, orange),
                    "p.jpg",
                    jpeg({}),
                    {{80, 60, kOrange, 8}, {0, 0, kOrange, 8}}});
    rows.push_back({"progressive JPEG",
                    testmedia::SolidImage(320, 240, orange),
                    "p.jpg",
                    jpeg({90, true, QImageIOHandler::TransformationNone}),
                    {{80, 60, kOrange, 8}}});
    rows.push_back({"CMYK JPEG",
                    testmedia::SolidImage(320, 240, orange),
                    "p.jpg",
                    [](const QImage &i, const QString &p) { return testmedia::SaveCmykJpeg(i, p); },
                    {{80, 60, kOrange, 24}}});
    rows.push_back(
        {"BMP", testmedia::SolidImage(320, 240, orange), "p.bmp", bmp, {{80, 60, kOrange, 0}}});
    rows.push_back({"GIF",
                    testmedia::SolidImage(320, 240, Qt::green),
                    "p.gif",
                    [](const QImage &i, const QString &p) { return testmedia::SaveGif(i, p); },
                    {{80, 60, kGreen, 3}}});
    // A portrait photo in a landscape frame: 60x120 in the middle, bars left and right.
    rows.push_back({"portrait letterboxed",
                    testmedia::SolidImage(100, 200, Qt::green),
                    "p.bmp",
                    bmp,
                    {{25, 60, kBlack, 0},
                     {49, 60, kBlack, 0},
                     {51, 0, kGreen, 0},
                     {108, 119, kGreen, 0},
                     {111, 60, kBlack, 0},
                     {135, 60, kBlack, 0}}});
    // A wide photo: 160x40 across the middle, bars above and below.
    rows.push_back({"panorama letterboxed",
                    testmedia::SolidImage(400, 100, Qt::blue),
                    "p.bmp",
                    bmp,
                    {{80, 20, kBlack, 0},
                     {80, 39, kBlack, 0},
                     {0, 41, kBlue, 0},
                     {159, 78, kBlue, 0},
                     {80, 81, kBlack, 0}}});
    // Stored lying on its side (left red, right blue) with EXIF orientation 6: shown
    // upright it is a portrait with red on top, blue below.
    rows.push_back(
        {"EXIF turned JPEG",
         testmedia::SplitImage(200, 100, Qt::red, Qt::blue),
         "p.jpg",
         jpeg({95, false, QImageIOHandler::TransformationRotate90}),
         {{80, 20, kRed, 24}, {80, 100, kBlue, 24}, {20, 60, kBlack, 4}, {140, 60, kBlack, 4}}});
    // The same, large enough to be read at a reduced scale: the reduction must follow the
    // stored shape, not the upright one.
    rows.push_back({"large EXIF turned JPEG",
                    testmedia::SplitImage(4000, 2000, Qt::red, Qt::blue),
                    "p.jpg",
                    jpeg({90, false, QImageIOHandler::TransformationRotate90}),
                    {{80, 20, kRed, 24},
                     {80, 100, kBlue, 24},
                     {47, 60, kBlack, 4},
                     {52, 30, kRed, 24},
                     {107, 100, kBlue, 24},
                     {112, 60, kBlack, 4}}});
    // A photo far larger than the frame is read at a reduced scale.
    rows.push_back({"large JPEG",
                    testmedia::SplitImage(4000, 3000, Qt::red, Qt::blue),
                    "p.jpg",
                    jpeg({}),
                    {{40, 60, kRed, 10}, {120, 60, kBlue, 10}}});
    return rows;
}

TEST_P(RenderPhotos, PhotoIsDecodedAndFittedIntoTheFrame)
{
    const PhotoRow row = PhotoRows().at(static_cast<std::size_t>(GetParam()));
    SCOPED_TRACE(row.name);
    QTemporaryDir dir;
    const QString path = dir.filePath(row.file);
    if (!row.save(row.image, path)) {
        if (QString(row.name).contains("CMYK"))
            GTEST_SKIP() << "ImageMagick's convert is not available";
        FAIL() << "could not write the photo";
    }
    const Rendered r = RenderShots({{path, 0, 1}});
    ASSERT_EQ(r.Frames().size(), 30u);
    for (const auto &[x, y, colour, tolerance] : row.pixels) {
        const std::string where = std::to_string(x) + "," + std::to_string(y);
        ExpectColour(r.At(10, x, y), colour, tolerance, where.c_str());
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, RenderPhotos, testing::Range(0, 10));

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
    ASSERT_EQ(r.Frames().size(), static_cast<std::size_t>(FrameAt(6.0)));
    ExpectColour(r.At(FrameAt(0.5), 80, 60), kRed, 0, "before");
    ExpectColour(r.At(FrameAt(1.5), 80, 60), kBlack, 0, "the damaged photo");
    ExpectColour(r.At(FrameAt(2.5), 80, 60), kBlue, 0, "after");
    ExpectColour(r.At(FrameAt(4.5), 80, 60), kBlack, 0, "a missing photo");
    ExpectColour(r.At(FrameAt(5.5), 80, 60), kBlack, 0, "a FIFO");
}

TEST(RenderPhotos, GiantJpegIsReadAtAReducedScaleNotRefused)
{
    // 20000x14000: 1.1 GB as a full-size picture, far past what the image reader allows.
    QTemporaryDir dir;
    const QString path = dir.filePath("giant.jpg");
    {
        QImage giant(20000, 14000, QImage::Format_Grayscale8);
        giant.fill(160);
        ASSERT_TRUE(
            testmedia::SaveJpeg(giant, path, {50, false, QImageIOHandler::TransformationNone}));
    }
    const Rendered r = RenderShots({{path, 0, 1}});
    ASSERT_EQ(r.Frames().size(), 30u);
    // Fitted to 160x112, bars of 4 rows above and below.
    ExpectColour(r.At(0, 80, 60), Rgb{160, 160, 160}, 3, "inside");
    ExpectColour(r.At(0, 80, 1), kBlack, 0, "bar");
}

TEST(RenderPhotos, ZeroSecondsPerPhotoNeitherCrashesNorHangs)
{
    QTemporaryDir dir;
    const QString a = SolidBmp(dir, "a.bmp", Qt::red), b = SolidBmp(dir, "b.bmp", Qt::blue);
    {
        // Every clip and transition is empty, and so is the movie.
        const Rendered r = RenderShots({{a, 0, 0, &CLSID_DxtJpeg, 0},
                                        {b, 0, 0, &CLSID_CrossFade, 0},
                                        {a, 0, 0, &CLSID_DxtJpeg, 0}});
        ASSERT_EQ(r.outputs.size(), 1u);
        EXPECT_TRUE(r.Frames().empty());
        EXPECT_TRUE(r.outputs[0].pin->endOfStream);
    }
    {
        // Only the last photo has length.
        const Rendered r = RenderShots({{a, 0, 0, &CLSID_DxtJpeg, 0},
                                        {a, 0, 0, &CLSID_CrossFade, 0},
                                        {b, 0, 1, &CLSID_DxtJpeg, 0}});
        ASSERT_EQ(r.Frames().size(), 30u);
        ExpectColour(r.At(0, 80, 60), kBlue, 0, "first");
        ExpectColour(r.At(29, 80, 60), kBlue, 0, "last");
    }
}

// ---- The resizer ------------------------------------------------------------------------

constexpr Guid kTestResizer = MakeGuid("{0F3C5B8E-6A1D-4C2E-9B7F-1D2E3F405162}");
std::atomic<int> g_resizerCalls{0};

// Paints the fitted rectangle magenta whatever the photo: shows that the engine used it.
class MagentaResizer final : public platform::ComObject<IResizer>
{
public:
    HRESULT FitInto(const RgbImageView &source, const RgbImageTarget &frame) override
    {
        ++g_resizerCalls;
        const FitResult fit = FitRect(source.width, source.height, frame.width, frame.height);
        for (int y = 0; y < frame.height; ++y) {
            for (int x = 0; x < frame.width; ++x) {
                const bool inside
                    = x >= fit.x && x < fit.x + fit.width && y >= fit.y && y < fit.y + fit.height;
                std::uint8_t *p = frame.data + y * frame.stride + x * 3;
                p[0] = p[2] = inside ? 255 : 0;
                p[1] = 0;
            }
        }
        return S_OK;
    }
};

TEST(RenderResizer, EngineFitsPhotosWithTheResizerClassItIsGiven)
{
    QTemporaryDir dir;
    const QString photo = SolidBmp(dir, "portrait.bmp", Qt::green, 100, 200);
    platform::RegisterBuiltInClass(kTestResizer, [](const platform::Iid &iid, void **out) {
        return platform::MakeObject<MagentaResizer, IResizer>()->QueryInterface(iid, out);
    });
    g_resizerCalls = 0;
    ComPtr<IAMTimeline> timeline;
    {
        const Rendered r = RenderShots({{photo, 0, 1}}, kTestResizer);
        timeline = r.timeline;
        EXPECT_EQ(g_resizerCalls, 1); // once per photo, not per frame
        ExpectColour(r.At(5, 80, 60), Rgb{255, 0, 255}, 0, "inside");
        ExpectColour(r.At(5, 20, 60), kBlack, 0, "bar");
    }
    platform::UnregisterBuiltInClass(kTestResizer);
    {
        // Not registered any more: the engine's own resizer, with the same geometry.
        const Rendered r = Render(timeline.Get(), kTestResizer);
        ExpectColour(r.At(5, 80, 60), kGreen, 0, "inside");
        ExpectColour(r.At(5, 51, 60), kGreen, 0, "inside edge");
        ExpectColour(r.At(5, 48, 60), kBlack, 0, "bar");
    }
}

// ---- The front end ----------------------------------------------------------------------

TEST(RenderFrontEnd, OutputPinsOfferTheGroupsFormats)
{
    auto timeline = CreateTimeline();
    auto video = AddVideoGroup(timeline.Get(), 640, 480);
    AddAudioGroup(timeline.Get());
    auto engine = CreateRenderEngine();
    ComPtr<IPin> pin;
    EXPECT_EQ(engine->ConnectFrontEnd(), platform::E_UNEXPECTED); // no timeline yet
    EXPECT_EQ(engine->GetGroupOutputPin(0, &pin), platform::E_UNEXPECTED);
    ComPtr<KeepingGraph> graph(new KeepingGraph);
    engine->SetFilterGraph(graph.Get());
    engine->SetTimelineObject(timeline.Get());
    ASSERT_EQ(engine->ConnectFrontEnd(), S_OK);
    EXPECT_EQ(graph->filters.size(), 2u);
    ComPtr<IGraphBuilder> got;
    EXPECT_EQ(engine->GetFilterGraph(&got), S_OK);
    EXPECT_EQ(got.Get(), static_cast<IGraphBuilder *>(graph.Get()));

    ASSERT_EQ(engine->GetGroupOutputPin(0, &pin), S_OK);
    EXPECT_EQ(pin->QueryDirection(), PinDirection::Output);
    const MediaType v = pin->MediaTypes().at(0);
    EXPECT_EQ(v.majortype, MEDIATYPE_Video);
    EXPECT_EQ(v.subtype, MEDIASUBTYPE_RGB24);
    const VIDEOINFOHEADER *vih = v.FormatAs<VIDEOINFOHEADER>();
    ASSERT_NE(vih, nullptr);
    EXPECT_EQ(vih->bmiHeader.biWidth, 640);
    EXPECT_EQ(vih->bmiHeader.biHeight, 480);
    EXPECT_EQ(vih->bmiHeader.biBitCount, 24);
    EXPECT_EQ(vih->AvgTimePerFrame, 333667);

    ASSERT_EQ(engine->GetGroupOutputPin(1, &pin), S_OK);
    const MediaType a = pin->MediaTypes().at(0);
    EXPECT_EQ(a.majortype, MEDIATYPE_Audio);
    EXPECT_EQ(a.subtype, MEDIASUBTYPE_PCM);
    const WAVEFORMATEX *wfx = a.FormatAs<WAVEFORMATEX>();
    ASSERT_NE(wfx, nullptr);
    EXPECT_EQ(wfx->nSamplesPerSec, 44100u);
    EXPECT_EQ(wfx->nChannels, 2);
    EXPECT_EQ(wfx->wBitsPerSample, 16);
    EXPECT_EQ(wfx->nBlockAlign, 4);
    ComPtr<IPin> none;
    EXPECT_EQ(engine->GetGroupOutputPin(2, &none), platform::E_INVALIDARG);
    EXPECT_FALSE(none);

    // A wrong type is refused by the pin itself.
    ComPtr<RecordingPin> recorder(new RecordingPin);
    EXPECT_EQ(pin->Connect(recorder.Get(), v), VFW_E_TYPE_NOT_ACCEPTED);
    EXPECT_EQ(pin->Connect(recorder.Get(), a), S_OK);
    EXPECT_EQ(pin->Connect(recorder.Get(), a), VFW_E_ALREADY_CONNECTED);

    // Connecting again replaces the outputs and says so.
    EXPECT_EQ(engine->ConnectFrontEnd(), S_WARN_OUTPUTRESET);
    EXPECT_EQ(graph->filters.size(), 2u);
}

TEST(RenderFrontEnd, GroupWithoutMediaTypeIsRefused)
{
    auto timeline = CreateTimeline();
    ComPtr<IAMTimelineObj> group;
    timeline->CreateEmptyNode(&group, TIMELINE_MAJOR_TYPE_GROUP);
    timeline->AddGroup(group.Get());
    auto engine = CreateRenderEngine();
    ComPtr<KeepingGraph> graph(new KeepingGraph);
    engine->SetFilterGraph(graph.Get());
    engine->SetTimelineObject(timeline.Get());
    EXPECT_EQ(engine->ConnectFrontEnd(), platform::E_INVALIDARG);
    EXPECT_TRUE(graph->filters.empty());
    EXPECT_EQ(engine->SetTimelineObject(CreateTimeline().Get()), S_OK);
    EXPECT_EQ(engine->ConnectFrontEnd(), platform::E_INVALIDARG); // no group at all
}

TEST(RenderFrontEnd, GraphComesFromTheClassStore)
{
    platform::UnregisterBuiltInClass(CLSID_FilterGraph);
    auto timeline = CreateTimeline();
    AddVideoGroup(timeline.Get(), 64, 48);
    auto engine = CreateRenderEngine();
    engine->SetTimelineObject(timeline.Get());
    if (platform::CreateInstance<IGraphBuilder>(CLSID_FilterGraph))
        GTEST_SKIP() << "a filter graph module is registered on this machine";
    EXPECT_EQ(engine->ConnectFrontEnd(), platform::REGDB_E_CLASSNOTREG);
    platform::RegisterBuiltInClass(CLSID_FilterGraph, [](const platform::Iid &iid, void **out) {
        return platform::MakeObject<KeepingGraph, IGraphBuilder>()->QueryInterface(iid, out);
    });
    EXPECT_EQ(engine->ConnectFrontEnd(), S_OK);
    ComPtr<IGraphBuilder> graph;
    EXPECT_EQ(engine->GetFilterGraph(&graph), S_OK);
    ASSERT_TRUE(graph);
    EXPECT_EQ(graph->EnumFilters().size(), 1u);
    engine->ScrapIt();
    EXPECT_TRUE(graph->EnumFilters().empty());
    platform::UnregisterBuiltInClass(CLSID_FilterGraph);
}

TEST(RenderFrontEnd, FailingDownstreamStopsTheStream)
{
    QTemporaryDir dir;
    const QString photo = SolidBmp(dir, "a.bmp", Qt::red);
    auto timeline = CreateTimeline();
    auto video = AddVideoGroup(timeline.Get(), kW, kH);
    AddShots(timeline.Get(), video.Get(), {{photo, 0, 1}});
    auto engine = CreateRenderEngine();
    ComPtr<KeepingGraph> graph(new KeepingGraph);
    engine->SetFilterGraph(graph.Get());
    engine->SetTimelineObject(timeline.Get());
    ASSERT_EQ(engine->ConnectFrontEnd(), S_OK);
    ComPtr<IPin> pin;
    engine->GetGroupOutputPin(0, &pin);
    auto source = ComPtr<IBaseFilter>(pin->Owner()).As<IPushSource>();
    EXPECT_EQ(source->DeliverNext(), VFW_E_NOT_CONNECTED);
    ComPtr<RecordingPin> recorder(new RecordingPin);
    recorder->failReceive = platform::E_FAIL;
    ASSERT_EQ(graph->Connect(pin.Get(), recorder.Get()), S_OK);
    EXPECT_EQ(source->Duration(), kSecond);
    EXPECT_EQ(source->DeliverNext(), platform::E_FAIL);
}

} // namespace
