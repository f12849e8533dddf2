// Compress-and-write speed: synthetic 640x480 RGB24 frames (half of them repeats, in
// holds as a slideshow has them) pushed through a sample grabber, a compressor and the AVI
// multiplexer. The preferred compressor ("Microsoft Windows Media Video 9") and the two
// fallbacks run one after the other and print frames per second side by side.
//
//   bench_graph_compress [frames [fallback frames]]

#include "engine/codecs/compressor_list.h"
#include "engine/engine_classes.h"
#include "engine/graph/capture_graph.h"
#include "engine/graph/device_enum.h"
#include "engine/graph/filter_graph_pins.h"
#include "engine/graph/media_control.h"
#include "engine/graph/sample_grabber.h"

#include "platform/class_store.h"
#include "platform/registry.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>

using namespace engine;

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr ReferenceTime kFrame = 333667;

// Frames of a slideshow: 30 changing frames (a transition), then 30 repeats (a hold).
class SlideSource final : public platform::ComObject<IBaseFilter, IPushSource>
{
public:
    SlideSource(int frames, bool withRepeats)
        : m_frames(frames)
        , m_withRepeats(withRepeats)
        , m_output(this, QStringLiteral("Out"), [this] { return std::vector<MediaType>{Type()}; })
    {
        const int stride = kWidth * 3;
        for (int k = 0; k < 30; ++k) {
            std::vector<std::uint8_t> picture(static_cast<std::size_t>(stride) * kHeight);
            for (int y = 0; y < kHeight; ++y) {
                for (int x = 0; x < kWidth; ++x) {
                    std::uint8_t *p = picture.data() + y * stride + 3 * x;
                    // A photo-like picture: smooth shading, hard edges and a little grain,
                    // sliding sideways during the transition frames.
                    const int u = x + 6 * k;
                    const double shade = std::sin(u * 0.02) * std::cos(y * 0.015) * 60;
                    const bool box = (u / 80 + y / 60) % 3 == 0;
                    const auto grain = static_cast<int>(
                        ((static_cast<unsigned>(u) * 1103515245u + y * 12345u) >> 7) & 3u);
                    auto level = [](double v) {
                        return static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0));
                    };
                    p[0] = level(120 + shade + (box ? 50 : 0) + grain);
                    p[1] = level(110 + shade * 0.6 + (box ? -40 : 0) + grain);
                    p[2] = level(100 - shade * 0.4 + (y * 60.0) / kHeight + grain);
                }
            }
            m_pictures.push_back(std::move(picture));
        }
    }

    static MediaType Type()
    {
        VIDEOINFOHEADER vih{};
        vih.AvgTimePerFrame = kFrame;
        vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        vih.bmiHeader.biWidth = kWidth;
        vih.bmiHeader.biHeight = kHeight;
        vih.bmiHeader.biPlanes = 1;
        vih.bmiHeader.biBitCount = 24;
        vih.bmiHeader.biSizeImage = kWidth * kHeight * 3;
        MediaType mt;
        mt.majortype = MEDIATYPE_Video;
        mt.subtype = MEDIASUBTYPE_RGB24;
        mt.formattype = FORMAT_VideoInfo;
        mt.format.resize(sizeof vih);
        std::memcpy(mt.format.data(), &vih, sizeof vih);
        return mt;
    }

    std::vector<ComPtr<IPin>> EnumPins() override { return {ComPtr<IPin>(&m_output)}; }
    HRESULT JoinFilterGraph(IFilterGraph *, const QString &) override { return S_OK; }
    QString Name() const override { return QStringLiteral("Slides"); }
    HRESULT Run() override
    {
        m_next = 0;
        m_ended = false;
        return S_OK;
    }
    HRESULT Stop() override { return S_OK; }
    ReferenceTime NextSampleTime() const override { return m_next * kFrame; }
    bool AtEnd() const override { return m_ended; }
    ReferenceTime Duration() const override { return m_frames * kFrame; }
    HRESULT DeliverNext() override
    {
        if (m_next >= m_frames) {
            m_ended = true;
            return m_output.DeliverEndOfStream();
        }
        const int phase = m_next % 60;
        const bool hold = m_withRepeats && phase >= 30;
        const auto &picture = m_pictures[static_cast<std::size_t>(hold ? 29 : phase % 30)];
        MediaSample s;
        s.data = picture.data();
        s.size = picture.size();
        s.start = m_next * kFrame;
        s.stop = s.start + kFrame;
        s.repeat = hold;
        ++m_next;
        return m_output.Deliver(s);
    }

private:
    int m_frames;
    bool m_withRepeats;
    OutputPin m_output;
    std::vector<std::vector<std::uint8_t>> m_pictures;
    int m_next = 0;
    bool m_ended = false;
};

ComPtr<IPin> Pin(IBaseFilter *f, PinDirection d, int n = 0)
{
    for (auto &p : f->EnumPins()) {
        if (p->QueryDirection() == d && n-- == 0)
            return p;
    }
    return nullptr;
}

ComPtr<IBaseFilter> BindCompressor(const QString &friendlyName)
{
    auto devices = platform::CreateInstance<ICreateDevEnum>(CLSID_SystemDeviceEnum);
    ComPtr<IEnumMoniker> monikers;
    devices->CreateClassEnumerator(CLSID_VideoCompressorCategory, monikers.Put(), 0);
    ComPtr<IMoniker> moniker;
    while (monikers && monikers->Next(1, moniker.Put(), nullptr) == S_OK) {
        ComPtr<IPropertyBag> bag;
        moniker->BindToStorage(IPropertyBag::kIid, bag.PutVoid());
        VARIANT name;
        if (bag && bag->Read(QStringLiteral("FriendlyName"), &name, nullptr) == S_OK
            && name.bstrVal == friendlyName) {
            ComPtr<IBaseFilter> filter;
            moniker->BindToObject(IBaseFilter::kIid, filter.PutVoid());
            return filter;
        }
    }
    return nullptr;
}

bool RunOnce(const QString &path, const QString &friendlyName, int frames, bool withRepeats)
{
    auto graph = platform::CreateInstance<IGraphBuilder>(CLSID_FilterGraph);
    auto builder = platform::CreateInstance<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2);
    builder->SetFiltergraph(graph.Get());
    ComPtr<IBaseFilter> mux;
    if (Failed(builder->SetOutputFileName(MEDIASUBTYPE_Avi, path, mux.Put(), nullptr)))
        return false;
    auto source = platform::MakeObject<SlideSource, IBaseFilter>(frames, withRepeats);
    auto grabber = platform::CreateInstance<IBaseFilter>(CLSID_SampleGrabber);
    AM_MEDIA_TYPE mt{};
    mt.majortype = MEDIATYPE_Video;
    mt.subtype = MEDIASUBTYPE_RGB24;
    grabber.As<ISampleGrabber>()->SetMediaType(&mt);
    auto compressor = BindCompressor(friendlyName);
    if (!compressor)
        return false;
    graph->AddFilter(source.Get(), QStringLiteral("Video"));
    graph->AddFilter(grabber.Get(), QStringLiteral("VideoGrabber"));
    graph->AddFilter(compressor.Get(), QStringLiteral("Compressor"));
    if (graph->Connect(Pin(source.Get(), PinDirection::Output).Get(),
                       Pin(grabber.Get(), PinDirection::Input).Get())
            != S_OK
        || graph->Connect(Pin(grabber.Get(), PinDirection::Output).Get(),
                          Pin(compressor.Get(), PinDirection::Input).Get())
               != S_OK
        || graph->Connect(Pin(compressor.Get(), PinDirection::Output).Get(),
                          Pin(mux.Get(), PinDirection::Input).Get())
               != S_OK)
        return false;
    auto interleave = mux.As<IConfigInterleaving>();
    interleave->put_Mode(INTERLEAVE_FULL);
    const ReferenceTime second = kUnitsPerSecond;
    interleave->put_Interleaving(&second, &second);

    auto control = graph.As<IMediaControl>();
    auto events = graph.As<IMediaEvent>();
    QElapsedTimer timer;
    timer.start();
    const std::clock_t cpuStart = std::clock();
    if (Failed(control->Run()))
        return false;
    long code = 0;
    while (events->WaitForCompletion(100, &code) == platform::E_ABORT) {
    }
    std::intptr_t failure = 0, unused = 0;
    long event = 0;
    if (code == EC_ERRORABORT && events->GetEvent(&event, &failure, &unused, 0) == S_OK)
        std::printf("streaming failed: 0x%08lx\n", static_cast<unsigned long>(failure));
    control->Stop();
    const double seconds = static_cast<double>(timer.nsecsElapsed()) / 1e9;
    // CPU time as well: on a busy machine the wall time says more about the neighbours.
    const double cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    std::printf("%-32s %-22s %5d frames in %7.3f s: %7.1f frames per second (%7.1f per CPU "
                "second), %8.1f KiB (event %ld)\n",
                friendlyName.toUtf8().constData(),
                withRepeats ? "half repeats (holds):" : "no repeats:",
                frames,
                seconds,
                frames / seconds,
                frames / cpu,
                static_cast<double>(QFileInfo(path).size()) / 1024.0,
                code);
    return code == EC_COMPLETE;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int frames = argc > 1 ? std::atoi(argv[1]) : 1800;
    QTemporaryDir scratch;
    qputenv("VANTOREL_REGISTRY_DIR", scratch.filePath(QStringLiteral("registry")).toUtf8());
    const QString entry = kCompressorListKeyVideo + QStringLiteral("\\wmv9");
    auto &reg = platform::TheRegistry();
    const auto root = platform::RegistryRoot::LocalMachine;
    reg.WriteValue(root, entry, QString(), QStringLiteral("Microsoft Windows Media Video 9"));
    reg.WriteValue(root, entry, kCompressorEncoderValue, QStringLiteral("mpeg4"));
    reg.WriteValue(root, entry, kCompressorOptionsValue, QStringLiteral("q=2"));
    RegisterGraphClasses();

    // The fallbacks are far slower: fewer frames give the same rate in reasonable time.
    const int fallbackFrames = argc > 2 ? std::atoi(argv[2]) : 120;
    std::printf("grabber -> compressor -> AVI, %dx%d; preferred: mpeg4 q=2\n", kWidth, kHeight);
    const QString path = scratch.filePath(QStringLiteral("bench.avi"));
    bool ok = true;
    for (const char *name :
         {"Microsoft Windows Media Video 9", "Cinepak Codec by Radius", "Microsoft Video 1"}) {
        const bool preferred = std::strcmp(name, "Microsoft Windows Media Video 9") == 0;
        const int count = preferred ? frames : fallbackFrames;
        ok = RunOnce(path, QString::fromLatin1(name), count, true) && ok;
        ok = RunOnce(path, QString::fromLatin1(name), count, false) && ok;
    }
    return ok ? 0 : 1;
}
