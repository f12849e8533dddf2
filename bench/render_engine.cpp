// The render engine alone: a slideshow of large JPEG photos (3000x2000, quality 90) at
// 4 s each with the transition effect, rendered at 640x480 into a sink that only counts.
// Prints frames per second and the peak resident memory, for 60 photos and for 600.
//
//   bench_render_engine              makes the photos in a temporary folder, then runs
//                                    itself once per photo count (a fresh process each, so
//                                    each peak is its own)
//   bench_render_engine RUN DIR N    one measurement over N photos of DIR

#include "engine/render/render_engine.h"
#include "engine/timeline/timeline.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace {

using namespace engine;

constexpr int kPhotoWidth = 3000;
constexpr int kPhotoHeight = 2000;
constexpr int kDistinctPhotos = 60;
constexpr int kSecondsPerPhoto = 4;

// A photo-like picture: smooth colour fields with fine texture (so JPEG has real work).
QImage MakePhoto(int seed)
{
    QImage image(kPhotoWidth, kPhotoHeight, QImage::Format_RGB32);
    std::uint32_t noise = 0x9E3779B9u * static_cast<std::uint32_t>(seed + 1);
    for (int y = 0; y < kPhotoHeight; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < kPhotoWidth; ++x) {
            noise = noise * 1664525u + 1013904223u;
            const int grain = static_cast<int>(noise >> 28) - 8;
            const int r = (x * 255 / kPhotoWidth + seed * 37 + grain) & 255;
            const int g = (y * 255 / kPhotoHeight + seed * 91 + grain) & 255;
            const int b = ((x + y) * 128 / kPhotoWidth + seed * 13 + grain) & 255;
            line[x] = qRgb(r, g, b);
        }
    }
    return image;
}

class CountingPin final : public platform::ComObject<IPin>
{
public:
    PinDirection QueryDirection() const override { return PinDirection::Input; }
    IBaseFilter *Owner() const override { return nullptr; }
    QString Name() const override { return QStringLiteral("Counter"); }
    std::vector<MediaType> MediaTypes() override { return {}; }
    HRESULT QueryAccept(const MediaType &) override { return platform::S_OK; }
    HRESULT Connect(IPin *, const MediaType &) override { return platform::E_UNEXPECTED; }
    HRESULT ReceiveConnection(IPin *, const MediaType &) override { return platform::S_OK; }
    HRESULT Disconnect() override { return platform::S_OK; }
    ComPtr<IPin> ConnectedTo() const override { return nullptr; }
    HRESULT ConnectionMediaType(MediaType *) const override { return platform::E_NOTIMPL; }
    HRESULT Receive(const MediaSample &sample) override
    {
        ++frames;
        repeats += sample.repeat ? 1 : 0;
        checksum += sample.data[sample.size / 2];
        return platform::S_OK;
    }
    HRESULT EndOfStream() override { return platform::S_OK; }

    long frames = 0;
    long repeats = 0;
    unsigned long checksum = 0;
};

class NullGraph final : public platform::ComObject<IGraphBuilder>
{
public:
    HRESULT AddFilter(IBaseFilter *filter, const QString &) override
    {
        filters.emplace_back(filter);
        return platform::S_OK;
    }
    HRESULT RemoveFilter(IBaseFilter *) override { return platform::S_OK; }
    std::vector<ComPtr<IBaseFilter>> EnumFilters() override { return filters; }
    HRESULT Connect(IPin *, IPin *) override { return platform::E_NOTIMPL; }
    std::vector<ComPtr<IBaseFilter>> filters;
};

double ThreadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double ProcessCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](timeval v) {
        return static_cast<double>(v.tv_sec) + static_cast<double>(v.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

long PeakRssMb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024;
}

int RunOnce(const QString &dir, int count)
{
    const long rssBefore = PeakRssMb();
    auto timeline = CreateTimeline();
    timeline->SetDefaultFPS(29.97);
    ComPtr<IAMTimelineObj> group;
    timeline->CreateEmptyNode(&group, TIMELINE_MAJOR_TYPE_GROUP);
    AM_MEDIA_TYPE mt;
    mt.majortype = MEDIATYPE_Video;
    mt.subtype = MEDIASUBTYPE_RGB24;
    mt.formattype = FORMAT_VideoInfo;
    VIDEOINFOHEADER vih{};
    vih.bmiHeader.biSize = 40;
    vih.bmiHeader.biWidth = 640;
    vih.bmiHeader.biHeight = 480;
    vih.bmiHeader.biPlanes = 1;
    vih.bmiHeader.biBitCount = 24;
    vih.bmiHeader.biSizeImage = 640 * 3 * 480;
    mt.cbFormat = sizeof vih;
    mt.pbFormat = reinterpret_cast<std::uint8_t *>(&vih);
    group.As<IAMTimelineGroup>()->SetMediaType(&mt);
    group.As<IAMTimelineGroup>()->SetOutputFPS(29.97);
    timeline->AddGroup(group.Get());

    const ReferenceTime s = kSecondsPerPhoto * kUnitsPerSecond;
    const ReferenceTime movie = (count + 1) * s; // the music part when the music is short
    for (int i = 0; i < count; ++i) {
        ComPtr<IAMTimelineObj> track, source, transition;
        timeline->CreateEmptyNode(&track, TIMELINE_MAJOR_TYPE_TRACK);
        group.As<IAMTimelineComp>()->VTrackInsBefore(track.Get(), -1);
        timeline->CreateEmptyNode(&source, TIMELINE_MAJOR_TYPE_SOURCE);
        const ReferenceTime start = i * s;
        const ReferenceTime stop = i == count - 1 ? movie + s : start + 2 * s;
        source->SetStartStop(start, stop);
        source.As<IAMTimelineSrc>()->SetMediaTimes(0, stop - start);
        source.As<IAMTimelineSrc>()->SetMediaName(
            QDir(dir).filePath(QStringLiteral("photo%1.jpg").arg(i, 4, 10, QLatin1Char('0'))));
        source.As<IAMTimelineSrc>()->SetStretchMode(RESIZEF_PRESERVEASPECTRATIO);
        track.As<IAMTimelineTrack>()->SrcAdd(source.Get());
        timeline->CreateEmptyNode(&transition, TIMELINE_MAJOR_TYPE_TRANSITION);
        transition->SetSubObjectGUID(i % 2 ? CLSID_CrossFade : CLSID_DxtJpeg);
        transition->SetStartStop(start, start + s);
        track.As<IAMTimelineTransable>()->TransAdd(transition.Get());
    }

    auto renderEngine = CreateRenderEngine();
    ComPtr<NullGraph> graph(new NullGraph);
    renderEngine->SetFilterGraph(graph.Get());
    renderEngine->SetTimelineObject(timeline.Get());
    if (platform::Failed(renderEngine->ConnectFrontEnd())) {
        std::fprintf(stderr, "ConnectFrontEnd failed\n");
        return 1;
    }
    ComPtr<IPin> pin;
    renderEngine->GetGroupOutputPin(0, &pin);
    ComPtr<CountingPin> sink(new CountingPin);
    pin->Connect(sink.Get(), pin->MediaTypes().front());
    auto source = ComPtr<IBaseFilter>(pin->Owner()).As<IPushSource>();

    QElapsedTimer timer;
    timer.start();
    const double threadCpuBefore = ThreadCpuSeconds();
    const double processCpuBefore = ProcessCpuSeconds();
    pin->Owner()->Run();
    while (!source->AtEnd()) {
        if (platform::Failed(source->DeliverNext())) {
            std::fprintf(stderr, "DeliverNext failed\n");
            return 1;
        }
    }
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    // CPU time of the streaming thread (composing) and of the whole process (composing
    // plus decoding on the worker): on a busy machine these tell what a quiet one does.
    const double streamingCpu = ThreadCpuSeconds() - threadCpuBefore;
    const double processCpu = ProcessCpuSeconds() - processCpuBefore;
    const double workerCpu = std::max(0.0, processCpu - streamingCpu);
    pin->Owner()->Stop();
    std::printf("%4d photos: %ld frames (%ld repeats) in %.2f s = %.0f frames/s; "
                "peak RSS %ld MB (%ld MB before rendering) [checksum %lu]\n"
                "             CPU: streaming thread %.2f s, photo worker %.2f s; "
                "with a core each: %.0f frames/s\n",
                count,
                sink->frames,
                sink->repeats,
                seconds,
                sink->frames / seconds,
                PeakRssMb(),
                rssBefore,
                sink->checksum,
                streamingCpu,
                workerCpu,
                sink->frames / std::max(streamingCpu, workerCpu));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 4 && std::strcmp(argv[1], "RUN") == 0) {
        QCoreApplication app(argc, argv);
        return RunOnce(QString::fromLocal8Bit(argv[2]), std::atoi(argv[3]));
    }
    QGuiApplication app(argc, argv);
    QTemporaryDir dir;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < kDistinctPhotos; ++i) {
        if (!MakePhoto(i).save(
                dir.filePath(QStringLiteral("photo%1.jpg").arg(i, 4, 10, QLatin1Char('0'))),
                "JPEG",
                90)) {
            std::fprintf(stderr, "could not write the photos\n");
            return 1;
        }
    }
    // The 600-photo show repeats the 60 photos as files of their own.
    for (int i = kDistinctPhotos; i < 600; ++i)
        QFile::copy(
            dir.filePath(
                QStringLiteral("photo%1.jpg").arg(i % kDistinctPhotos, 4, 10, QLatin1Char('0'))),
            dir.filePath(QStringLiteral("photo%1.jpg").arg(i, 4, 10, QLatin1Char('0'))));
    std::printf("made the photos (%dx%d, JPEG quality 90) in %.1f s\n",
                kPhotoWidth,
                kPhotoHeight,
                static_cast<double>(timer.elapsed()) / 1000);
    std::fflush(stdout);
    int status = 0;
    for (const int count : {60, 600}) {
        QProcess run;
        run.setProcessChannelMode(QProcess::ForwardedChannels);
        run.start(QCoreApplication::applicationFilePath(),
                  {QStringLiteral("RUN"), dir.path(), QString::number(count)});
        run.waitForFinished(-1);
        status |= run.exitCode();
    }
    return status;
}
