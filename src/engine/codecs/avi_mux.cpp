#include "engine/codecs/avi_mux.h"

#include "engine/av_ptr.h"
#include "engine/codecs/avi_ffmpeg.h"
#include "engine/graph/filter_graph_pins.h"

#include <QFile>

#include <deque>
#include <limits>
#include <memory>

namespace engine {

namespace {

using FormatContextPtr = av::OutputFormatContextPtr;

constexpr int kMaxInputs = 16;
constexpr ReferenceTime kForever = std::numeric_limits<ReferenceTime>::max() / 2;

class AviMux final : public platform::ComObject<IBaseFilter, IConfigInterleaving>
{
public:
    AviMux()
        : m_output(this, QStringLiteral("AVI Out"), [] {
            MediaType mt;
            mt.majortype = MEDIATYPE_Stream;
            mt.subtype = MEDIASUBTYPE_Avi;
            return std::vector<MediaType>{mt};
        })
    {
        AddInput();
    }
    ~AviMux() override { Stop(); }

    std::vector<ComPtr<IPin>> EnumPins() override
    {
        std::vector<ComPtr<IPin>> pins{ComPtr<IPin>(&m_output)};
        for (const auto &track : m_tracks)
            pins.emplace_back(track->pin.get());
        return pins;
    }
    HRESULT JoinFilterGraph(IFilterGraph *, const QString &name) override
    {
        m_name = name;
        return S_OK;
    }
    QString Name() const override { return m_name; }

    HRESULT Run() override;
    HRESULT Stop() override;

    HRESULT put_Mode(InterleavingMode mode) override
    {
        if (mode < INTERLEAVE_NONE || mode > INTERLEAVE_NONE_BUFFERED)
            return E_INVALIDARG;
        if (m_file)
            return VFW_E_WRONG_STATE;
        m_mode = mode;
        return S_OK;
    }
    HRESULT get_Mode(InterleavingMode *mode) override
    {
        if (!mode)
            return E_POINTER;
        *mode = m_mode;
        return S_OK;
    }
    HRESULT put_Interleaving(const ReferenceTime *interleave, const ReferenceTime *preroll) override
    {
        if (!interleave || !preroll)
            return E_POINTER;
        if (*interleave <= 0 || *preroll < 0)
            return E_INVALIDARG;
        if (m_file)
            return VFW_E_WRONG_STATE;
        m_period = *interleave;
        m_preroll = *preroll;
        return S_OK;
    }
    HRESULT get_Interleaving(ReferenceTime *interleave, ReferenceTime *preroll) override
    {
        if (!interleave || !preroll)
            return E_POINTER;
        *interleave = m_period;
        *preroll = m_preroll;
        return S_OK;
    }

private:
    struct Chunk
    {
        ReferenceTime start;
        bool key;
        std::vector<std::uint8_t> data; // empty: a repeated video frame
    };
    struct Track
    {
        std::unique_ptr<InputPin> pin;
        // While running:
        AVStream *stream = nullptr;
        bool audio = false;
        int pcmFrameBytes = 0; // bytes per sample frame of a PCM stream, else 0
        int sampleRate = 0;
        bool ended = false;
        ReferenceTime reached = -kForever; // everything before this time has arrived
        std::deque<Chunk> chunks;
        // PCM: samples not yet written, and the index of the first of them.
        std::vector<std::uint8_t> pcm;
        std::int64_t pcmFirst = 0;
        bool pcmStarted = false;
        std::int64_t lastDts = std::numeric_limits<std::int64_t>::min();
    };

    void AddInput()
    {
        const int index = static_cast<int>(m_tracks.size());
        auto track = std::make_unique<Track>();
        InputPin::Handlers handlers;
        handlers.accept = [](const MediaType &mt) {
            return av::VideoCodecOf(mt) != AV_CODEC_ID_NONE
                           || av::AudioCodecOf(mt) != AV_CODEC_ID_NONE
                       ? S_OK
                       : S_FALSE;
        };
        handlers.connected = [this, index](const MediaType &) {
            if (m_file)
                return VFW_E_WRONG_STATE;
            // Offer the next input once this (the last) one is taken.
            if (index + 1 == static_cast<int>(m_tracks.size()) && index + 1 < kMaxInputs)
                AddInput();
            return S_OK;
        };
        handlers.receive = [this, index](const MediaSample &s) { return Receive(index, s); };
        handlers.endOfStream = [this, index] { return EndOfStream(index); };
        track->pin = std::make_unique<InputPin>(
            this, QStringLiteral("Input %1").arg(index + 1, 2, 10, QLatin1Char('0')), handlers);
        m_tracks.push_back(std::move(track));
    }

    ReferenceTime Lead(const Track &t) const { return t.audio ? m_preroll : 0; }
    QString OutputPath() const;
    bool AddStream(AVFormatContext *ctx, Track *t);
    HRESULT Receive(int index, const MediaSample &sample);
    HRESULT EndOfStream(int index);
    // Writes what can be written: whole interleave blocks, or everything in the
    // arrival-order modes.
    HRESULT WriteReady();
    HRESULT WriteTrackUpTo(Track &t, ReferenceTime until);
    HRESULT
    WritePacket(Track &t, std::int64_t pts, const std::uint8_t *data, std::size_t size, bool key);
    HRESULT Finish();

    OutputPin m_output;
    std::vector<std::unique_ptr<Track>> m_tracks;
    QString m_name;
    InterleavingMode m_mode = INTERLEAVE_CAPTURE;
    ReferenceTime m_period = kUnitsPerSecond;
    ReferenceTime m_preroll = 0;

    FormatContextPtr m_file;
    std::vector<Track *> m_active; // the connected tracks of the run, in pin order
    ReferenceTime m_boundary = 0;  // the next interleave block ends here (video time)
    bool m_finished = false;
    av::PacketPtr m_packet = av::MakePacket();
};

// The file the writer after this filter writes to; empty when there is none.
QString AviMux::OutputPath() const
{
    const ComPtr<IPin> writerPin = m_output.ConnectedTo();
    if (!writerPin)
        return QString();
    const ComPtr<IFileSinkFilter> sink
        = ComPtr<IBaseFilter>(writerPin->Owner()).As<IFileSinkFilter>();
    QString path;
    if (!sink || Failed(sink->GetCurFile(&path, nullptr)))
        return QString();
    return path;
}

// Adds the track's stream to the file and clears what the track kept from a run before.
bool AviMux::AddStream(AVFormatContext *ctx, Track *t)
{
    const MediaType mt = t->pin->ConnectionType();
    AVStream *st = avformat_new_stream(ctx, nullptr);
    if (!st || !av::ParametersFromMediaType(mt, st->codecpar))
        return false;
    std::unique_ptr<InputPin> pin = std::move(t->pin);
    *t = Track();
    t->pin = std::move(pin);
    t->stream = st;
    t->audio = st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
    t->sampleRate = st->codecpar->sample_rate;
    if (t->audio) {
        const auto *wfx = mt.FormatAs<WAVEFORMATEX>();
        t->pcmFrameBytes = wfx && wfx->wFormatTag == WAVE_FORMAT_PCM ? wfx->nBlockAlign : 0;
        st->time_base = {1, t->sampleRate};
    } else {
        st->time_base = av::FrameTimeBase(mt.FormatAs<VIDEOINFOHEADER>()->AvgTimePerFrame);
        st->avg_frame_rate = av_inv_q(st->time_base);
    }
    return true;
}

HRESULT AviMux::Run()
{
    if (m_file)
        return S_OK;
    const QString path = OutputPath();
    if (path.isEmpty())
        return VFW_E_NOT_CONNECTED;
    m_active.clear();
    for (const auto &t : m_tracks) {
        if (t->pin->IsConnected())
            m_active.push_back(t.get());
    }
    if (m_active.empty())
        return VFW_E_NOT_CONNECTED;

    const QByteArray file = QFile::encodeName(path);
    AVFormatContext *raw = nullptr;
    if (avformat_alloc_output_context2(&raw, nullptr, "avi", file.constData()) < 0 || !raw)
        return E_FAIL;
    FormatContextPtr ctx(raw);
    for (Track *t : m_active) {
        if (!AddStream(ctx.get(), t))
            return E_FAIL;
    }
    if (avio_open(&ctx->pb, file.constData(), AVIO_FLAG_WRITE) < 0
        || avformat_write_header(ctx.get(), nullptr) < 0)
        return E_FAIL;
    m_file = std::move(ctx);
    m_boundary = 0;
    m_finished = false;
    return S_OK;
}

HRESULT AviMux::Stop()
{
    // A run that ends early still leaves a readable file with what it got.
    HRESULT hr = S_OK;
    if (m_file && !m_finished)
        hr = Finish();
    m_file.reset();
    for (Track *t : m_active) {
        t->stream = nullptr;
        t->chunks.clear();
        t->pcm.clear();
    }
    m_active.clear();
    return hr;
}

HRESULT AviMux::Receive(int index, const MediaSample &sample)
{
    if (!m_file || m_finished)
        return VFW_E_WRONG_STATE;
    Track &t = *m_tracks[static_cast<std::size_t>(index)];
    if (t.pcmFrameBytes > 0) {
        if (sample.size % static_cast<std::size_t>(t.pcmFrameBytes) != 0)
            return E_INVALIDARG;
        if (!t.pcmStarted) {
            t.pcmStarted = true;
            t.pcmFirst
                = av_rescale_q(sample.start, av::kReferenceTimeBase, AVRational{1, t.sampleRate});
        }
        if (sample.size)
            t.pcm.insert(t.pcm.end(), sample.data, sample.data + sample.size);
        const std::int64_t end
            = t.pcmFirst + static_cast<std::int64_t>(t.pcm.size()) / t.pcmFrameBytes;
        t.reached = av_rescale_q(end, AVRational{1, t.sampleRate}, av::kReferenceTimeBase);
    } else {
        Chunk c{sample.start, sample.syncPoint, {}};
        if (sample.data && sample.size)
            c.data.assign(sample.data, sample.data + sample.size);
        t.chunks.push_back(std::move(c));
        t.reached = sample.start;
    }
    return WriteReady();
}

HRESULT AviMux::EndOfStream(int index)
{
    if (!m_file)
        return VFW_E_WRONG_STATE;
    Track &t = *m_tracks[static_cast<std::size_t>(index)];
    t.ended = true;
    for (Track *a : m_active) {
        if (!a->ended)
            return WriteReady();
    }
    if (m_finished)
        return S_OK;
    const HRESULT hr = Finish();
    m_output.DeliverEndOfStream();
    return hr;
}

HRESULT AviMux::WriteReady()
{
    if (m_mode != INTERLEAVE_FULL) {
        for (Track *t : m_active) {
            const HRESULT hr = WriteTrackUpTo(*t, kForever);
            if (Failed(hr))
                return hr;
        }
        return S_OK;
    }
    // Block by block: a block is written once every stream still running has delivered
    // past the block's end, so nothing of it can come later.
    for (;;) {
        for (const Track *t : m_active) {
            if (!t->ended && t->reached < m_boundary + Lead(*t))
                return S_OK;
        }
        bool left = false;
        for (Track *t : m_active) {
            const HRESULT hr = WriteTrackUpTo(*t, m_boundary + Lead(*t));
            if (Failed(hr))
                return hr;
            left = left || !t->chunks.empty() || !t->pcm.empty();
        }
        m_boundary += m_period;
        if (!left && std::all_of(m_active.begin(), m_active.end(), [](const Track *t) {
                return t->ended;
            }))
            return S_OK;
    }
}

HRESULT AviMux::WriteTrackUpTo(Track &t, ReferenceTime until)
{
    if (t.pcmFrameBytes > 0) {
        // PCM goes out as one chunk per block.
        const std::int64_t available = static_cast<std::int64_t>(t.pcm.size()) / t.pcmFrameBytes;
        std::int64_t count = available;
        if (until < kForever) {
            const std::int64_t last
                = av_rescale_q(until, av::kReferenceTimeBase, AVRational{1, t.sampleRate});
            count = std::clamp<std::int64_t>(last - t.pcmFirst, 0, available);
        }
        if (count == 0)
            return S_OK;
        const std::size_t bytes = static_cast<std::size_t>(count * t.pcmFrameBytes);
        const HRESULT hr = WritePacket(t, t.pcmFirst, t.pcm.data(), bytes, true);
        t.pcm.erase(t.pcm.begin(), t.pcm.begin() + static_cast<std::ptrdiff_t>(bytes));
        t.pcmFirst += count;
        return hr;
    }
    while (!t.chunks.empty() && t.chunks.front().start < until) {
        const Chunk &c = t.chunks.front();
        const AVRational base = t.audio ? AVRational{1, t.sampleRate} : t.stream->time_base;
        const std::int64_t pts
            = av_rescale_q_rnd(c.start, av::kReferenceTimeBase, base, AV_ROUND_NEAR_INF);
        const HRESULT hr
            = WritePacket(t, pts, c.data.empty() ? nullptr : c.data.data(), c.data.size(), c.key);
        t.chunks.pop_front();
        if (Failed(hr))
            return hr;
    }
    return S_OK;
}

// pts in the units of the track (sample index for audio, the stream's time base for
// video), rescaled to the time base the writer chose for the stream.
HRESULT AviMux::WritePacket(
    Track &t, std::int64_t pts, const std::uint8_t *data, std::size_t size, bool key)
{
    AVPacket *pkt = m_packet.get();
    av_packet_unref(pkt);
    pkt->data = const_cast<std::uint8_t *>(data);
    pkt->size = static_cast<int>(size);
    pkt->stream_index = t.stream->index;
    std::int64_t ts = t.audio ? av_rescale_q_rnd(
                          pts, AVRational{1, t.sampleRate}, t.stream->time_base, AV_ROUND_NEAR_INF)
                              : pts;
    if (ts <= t.lastDts)
        ts = t.lastDts + 1;
    t.lastDts = ts;
    pkt->pts = pkt->dts = ts;
    pkt->flags = key ? AV_PKT_FLAG_KEY : 0;
    const int err = av_write_frame(m_file.get(), pkt);
    pkt->data = nullptr;
    pkt->size = 0;
    if (err == AVERROR(ENOSPC))
        return E_DISK_FULL;
    return err < 0 ? E_FAIL : S_OK;
}

HRESULT AviMux::Finish()
{
    // The streams that are still running end here; the last blocks keep their order.
    for (Track *t : m_active)
        t->ended = true;
    HRESULT hr = WriteReady();
    const int trailer = av_write_trailer(m_file.get());
    if (trailer < 0 && Succeeded(hr))
        hr = trailer == AVERROR(ENOSPC) ? E_DISK_FULL : E_FAIL;
    if (m_file->pb && avio_closep(&m_file->pb) < 0 && Succeeded(hr))
        hr = E_FAIL;
    m_finished = true;
    return hr;
}

class FileWriter final : public platform::ComObject<IBaseFilter, IFileSinkFilter>
{
public:
    FileWriter()
        : m_input(
            this,
            QStringLiteral("in"),
            {[](const MediaType &mt) { return mt.majortype == MEDIATYPE_Stream ? S_OK : S_FALSE; },
             nullptr,
             nullptr,
             nullptr,
             nullptr})
    {}

    std::vector<ComPtr<IPin>> EnumPins() override { return {ComPtr<IPin>(&m_input)}; }
    HRESULT JoinFilterGraph(IFilterGraph *, const QString &name) override
    {
        m_name = name;
        return S_OK;
    }
    QString Name() const override { return m_name; }
    HRESULT Run() override { return m_fileName.isEmpty() ? E_UNEXPECTED : S_OK; }
    HRESULT Stop() override { return S_OK; }

    HRESULT SetFileName(const QString &fileName, const AM_MEDIA_TYPE *) override
    {
        if (fileName.isEmpty())
            return E_INVALIDARG;
        m_fileName = fileName;
        return S_OK;
    }
    HRESULT GetCurFile(QString *fileName, AM_MEDIA_TYPE *type) override
    {
        if (!fileName)
            return E_POINTER;
        *fileName = m_fileName;
        if (type) {
            MediaType mt;
            mt.majortype = MEDIATYPE_Stream;
            mt.subtype = MEDIASUBTYPE_Avi;
            CopyToAmMediaType(mt, type);
        }
        return m_fileName.isEmpty() ? E_FAIL : S_OK;
    }

private:
    InputPin m_input;
    QString m_name;
    QString m_fileName;
};

} // namespace

ComPtr<IBaseFilter> CreateAviMux()
{
    return platform::MakeObject<AviMux, IBaseFilter>();
}

ComPtr<IBaseFilter> CreateFileWriter()
{
    return platform::MakeObject<FileWriter, IBaseFilter>();
}

} // namespace engine
