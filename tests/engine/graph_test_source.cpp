#include "graph_test_source.h"

#include "engine/codecs/avi_ffmpeg.h"
#include "engine/graph/filter_graph_pins.h"

#include <QFile>
#include <QProcess>

#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

namespace graphtest {

using namespace engine;

namespace {

class ScriptedSource final : public platform::ComObject<IBaseFilter, IPushSource>
{
public:
    explicit ScriptedSource(StreamScript script)
        : m_script(std::move(script))
        , m_output(
              this, QStringLiteral("Out"), [this] { return std::vector<MediaType>{m_script.type}; })
    {}

    std::vector<ComPtr<IPin>> EnumPins() override { return {ComPtr<IPin>(&m_output)}; }
    HRESULT JoinFilterGraph(IFilterGraph *, const QString &name) override
    {
        m_name = name;
        return S_OK;
    }
    QString Name() const override { return m_name; }
    HRESULT Run() override
    {
        m_next = 0;
        m_ended = false;
        return S_OK;
    }
    HRESULT Stop() override { return S_OK; }

    ReferenceTime NextSampleTime() const override { return m_next * m_script.sampleDuration; }
    bool AtEnd() const override { return m_ended; }
    HRESULT DeliverNext() override
    {
        if (m_next >= m_script.count) {
            m_ended = true;
            return m_output.DeliverEndOfStream();
        }
        if (m_next == m_script.failAt)
            return E_FAIL;
        if (m_script.delayMs > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(m_script.delayMs));
        MediaSample s;
        s.repeat = false;
        m_script.fill(m_next, m_data, s.repeat);
        s.data = m_data.data();
        s.size = m_data.size();
        s.start = m_next * m_script.sampleDuration;
        s.stop = s.start + m_script.sampleDuration;
        ++m_next;
        return m_output.Deliver(s);
    }
    ReferenceTime Duration() const override
    {
        return m_script.reportedDuration >= 0 ? m_script.reportedDuration
                                              : m_script.count * m_script.sampleDuration;
    }

private:
    StreamScript m_script;
    OutputPin m_output;
    QString m_name;
    int m_next = 0;
    bool m_ended = false;
    std::vector<std::uint8_t> m_data;
};

} // namespace

ComPtr<IBaseFilter> MakeSource(StreamScript script)
{
    return platform::MakeObject<ScriptedSource, IBaseFilter>(std::move(script));
}

MediaType RgbType(int width, int height, ReferenceTime frameTime)
{
    VIDEOINFOHEADER vih{};
    vih.AvgTimePerFrame = frameTime;
    vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih.bmiHeader.biWidth = width;
    vih.bmiHeader.biHeight = height;
    vih.bmiHeader.biPlanes = 1;
    vih.bmiHeader.biBitCount = 24;
    vih.bmiHeader.biCompression = BI_RGB;
    vih.bmiHeader.biSizeImage = static_cast<std::uint32_t>(((width * 3 + 3) & ~3) * height);
    MediaType mt;
    mt.majortype = MEDIATYPE_Video;
    mt.subtype = MEDIASUBTYPE_RGB24;
    mt.formattype = FORMAT_VideoInfo;
    mt.sampleSize = vih.bmiHeader.biSizeImage;
    mt.format.resize(sizeof vih);
    std::memcpy(mt.format.data(), &vih, sizeof vih);
    return mt;
}

MediaType PcmType(int sampleRate, int channels)
{
    WAVEFORMATEX wfx{};
    wfx.wFormatTag = WAVE_FORMAT_PCM;
    wfx.nChannels = static_cast<std::uint16_t>(channels);
    wfx.nSamplesPerSec = static_cast<std::uint32_t>(sampleRate);
    wfx.wBitsPerSample = 16;
    wfx.nBlockAlign = static_cast<std::uint16_t>(channels * 2);
    wfx.nAvgBytesPerSec = wfx.nSamplesPerSec * wfx.nBlockAlign;
    MediaType mt;
    mt.majortype = MEDIATYPE_Audio;
    mt.subtype = MEDIASUBTYPE_PCM;
    mt.formattype = FORMAT_WaveFormatEx;
    mt.sampleSize = wfx.nBlockAlign;
    mt.format.resize(sizeof wfx);
    std::memcpy(mt.format.data(), &wfx, sizeof wfx);
    return mt;
}

StreamScript VideoScript(int width,
                         int height,
                         int frames,
                         std::function<std::uint32_t(int)> colourOf,
                         std::function<bool(int)> repeatOf)
{
    StreamScript s;
    s.type = RgbType(width, height);
    s.count = frames;
    s.sampleDuration = kNtscFrame;
    s.fill = [=](int i, std::vector<std::uint8_t> &data, bool &repeat) {
        const int stride = (width * 3 + 3) & ~3;
        data.assign(static_cast<std::size_t>(stride) * height, 0);
        const std::uint32_t top = colourOf(i);
        const std::uint32_t bottom = ~top & 0xFFFFFF;
        for (int memRow = 0; memRow < height; ++memRow) {
            // Bottom-up: the first row in memory is the picture's last.
            const bool upperHalf = height - 1 - memRow < height / 2;
            const std::uint32_t c = upperHalf ? top : bottom;
            std::uint8_t *p = data.data() + static_cast<std::size_t>(memRow) * stride;
            for (int x = 0; x < width; ++x) {
                p[3 * x] = static_cast<std::uint8_t>(c);           // B
                p[3 * x + 1] = static_cast<std::uint8_t>(c >> 8);  // G
                p[3 * x + 2] = static_cast<std::uint8_t>(c >> 16); // R
            }
        }
        repeat = repeatOf && repeatOf(i);
    };
    return s;
}

StreamScript ToneScript(int sampleRate, int channels, double seconds, int samplesPerChunk)
{
    StreamScript s;
    s.type = PcmType(sampleRate, channels);
    const auto total = static_cast<std::int64_t>(std::llround(seconds * sampleRate));
    s.count = static_cast<int>((total + samplesPerChunk - 1) / samplesPerChunk);
    s.sampleDuration = static_cast<ReferenceTime>(samplesPerChunk) * kUnitsPerSecond / sampleRate;
    s.reportedDuration = total * kUnitsPerSecond / sampleRate;
    s.fill = [=](int i, std::vector<std::uint8_t> &data, bool &) {
        const std::int64_t first = static_cast<std::int64_t>(i) * samplesPerChunk;
        const std::int64_t n = std::min<std::int64_t>(samplesPerChunk, total - first);
        data.resize(static_cast<std::size_t>(n * channels * 2));
        auto *out = reinterpret_cast<std::int16_t *>(data.data());
        for (std::int64_t k = 0; k < n; ++k) {
            const double t = static_cast<double>(first + k) / sampleRate;
            const auto v = static_cast<std::int16_t>(8000 * std::sin(2 * M_PI * 440 * t));
            for (int c = 0; c < channels; ++c)
                out[k * channels + c] = v;
        }
    };
    return s;
}

ComPtr<IPin> PinOf(IBaseFilter *filter, PinDirection direction, int n)
{
    for (ComPtr<IPin> &pin : filter->EnumPins()) {
        if (pin->QueryDirection() == direction && n-- == 0)
            return pin;
    }
    return nullptr;
}

namespace {

// Arguments written as one line.
QStringList Words(const char *line)
{
    return QString::fromLatin1(line).split(u' ');
}

} // namespace

int ConvertedFrameCount(const QString &path)
{
    const QString movie = path + QStringLiteral(".mp4");
    QProcess convert;
    convert.start(QStringLiteral("ffmpeg"),
                  Words("-v error -nostdin -y -i")
                      << path << Words("-vcodec mpeg4 -b:v 1200k -r 30000/1001") << movie);
    if (!convert.waitForFinished(120000) || convert.exitCode() != 0)
        return -1;
    QProcess probe;
    probe.start(QStringLiteral("ffprobe"),
                Words("-v error -count_frames -select_streams v -show_entries "
                      "stream=nb_read_frames -of csv=p=0")
                    << movie);
    if (!probe.waitForFinished(60000))
        return -1;
    bool ok = false;
    const int frames = QString::fromUtf8(probe.readAllStandardOutput()).trimmed().toInt(&ok);
    QFile::remove(movie);
    return ok ? frames : -1;
}

QString ProbeWarnings(const QString &path)
{
    QProcess probe;
    probe.start(QStringLiteral("ffprobe"),
                Words("-v warning -show_streams -count_packets") << path);
    if (!probe.waitForFinished(60000))
        return QStringLiteral("ffprobe did not finish");
    QString errors = QString::fromUtf8(probe.readAllStandardError());
    if (probe.exitCode() != 0)
        errors += QStringLiteral("exit code %1").arg(probe.exitCode());
    return errors.trimmed();
}

bool ColoursClose(std::uint32_t a, std::uint32_t b, int tolerance)
{
    for (int shift = 0; shift < 24; shift += 8) {
        const int ca = static_cast<int>((a >> shift) & 0xFF);
        const int cb = static_cast<int>((b >> shift) & 0xFF);
        if (std::abs(ca - cb) > tolerance)
            return false;
    }
    return true;
}

} // namespace graphtest

#include "engine/engine_classes.h"
#include "engine/graph/sample_grabber.h"

#include "platform/class_store.h"

namespace graphtest {

Rig::Rig()
{
    engine::RegisterGraphClasses();
    graph = platform::CreateInstance<IGraphBuilder>(CLSID_FilterGraph);
    builder = platform::CreateInstance<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2);
    path = dir.filePath(QStringLiteral("TempData.avi"));
    if (graph && builder) {
        builder->SetFiltergraph(graph.Get());
        builder->SetOutputFileName(MEDIASUBTYPE_Avi, path, mux.Put(), nullptr);
    }
}

ComPtr<IBaseFilter> Rig::Add(ComPtr<IBaseFilter> filter, const QString &name)
{
    if (filter && Failed(graph->AddFilter(filter.Get(), name)))
        return nullptr;
    return filter;
}

ComPtr<IBaseFilter> Rig::AddGrabber(const QString &name, const Guid &major, const Guid &subtype)
{
    auto grabber = platform::CreateInstance<IBaseFilter>(CLSID_SampleGrabber);
    AM_MEDIA_TYPE mt{};
    mt.majortype = major;
    mt.subtype = subtype;
    grabber.As<ISampleGrabber>()->SetMediaType(&mt);
    return Add(grabber, name);
}

ComPtr<IBaseFilter>
MakeCompressor(CompressorKind kind, const QString &encoder, const QString &options)
{
    const QString name = kind == CompressorKind::Audio ? QStringLiteral("CompressorAudio")
                                                       : QStringLiteral("Compressor");
    ComPtr<IBaseFilter> filter;
    if (Failed(CreateCompressorFilter({kind, name, encoder, options}, filter.Put())))
        return nullptr;
    return filter;
}

ComPtr<IBaseFilter> Rig::AddCompressor(const QString &name,
                                       CompressorKind kind,
                                       const QString &encoder,
                                       const QString &options)
{
    ComPtr<IBaseFilter> filter;
    if (Failed(CreateCompressorFilter({kind, name, encoder, options}, filter.Put())))
        return nullptr;
    return Add(filter, name);
}

HRESULT Rig::Chain(StreamScript script, ComPtr<IBaseFilter> compressor, int muxInput)
{
    const bool audio = script.type.majortype == MEDIATYPE_Audio;
    auto source = Add(MakeSource(std::move(script)),
                      audio ? QStringLiteral("Audio") : QStringLiteral("Video"));
    auto grabber
        = audio ? AddGrabber(QStringLiteral("AudioGrabber"), MEDIATYPE_Audio)
                : AddGrabber(QStringLiteral("VideoGrabber"), MEDIATYPE_Video, MEDIASUBTYPE_RGB24);
    HRESULT hr = Link(source.Get(), grabber.Get());
    ComPtr<IBaseFilter> last = grabber;
    if (hr == S_OK && compressor) {
        Add(compressor, audio ? QStringLiteral("CompressorAudio") : QStringLiteral("Compressor"));
        hr = Link(grabber.Get(), compressor.Get());
        last = compressor;
    }
    return hr == S_OK ? LinkToMux(last.Get(), muxInput) : hr;
}

HRESULT Rig::Link(IBaseFilter *from, IBaseFilter *to)
{
    auto out = PinOf(from, PinDirection::Output);
    auto in = PinOf(to, PinDirection::Input);
    if (!out || !in)
        return E_UNEXPECTED;
    return graph->Connect(out.Get(), in.Get());
}

HRESULT Rig::LinkToMux(IBaseFilter *from, int muxInput)
{
    auto out = PinOf(from, PinDirection::Output);
    auto in = PinOf(mux.Get(), PinDirection::Input, muxInput);
    if (!out || !in)
        return E_UNEXPECTED;
    return graph->Connect(out.Get(), in.Get());
}

void Rig::InterleaveFully()
{
    auto config = mux.As<IConfigInterleaving>();
    config->put_Mode(INTERLEAVE_FULL);
    const ReferenceTime second = kUnitsPerSecond;
    config->put_Interleaving(&second, &second);
}

long Rig::RunToEnd(long timeoutMs)
{
    auto control = graph.As<IMediaControl>();
    auto events = graph.As<IMediaEvent>();
    if (Failed(control->Run()))
        return -1;
    long code = 0;
    events->WaitForCompletion(timeoutMs, &code);
    control->Stop();
    return code;
}

} // namespace graphtest
