#include "engine/codecs/compressor.h"

#include "engine/codecs/avi_ffmpeg.h"
#include "engine/codecs/frame_encoder.h"
#include "engine/graph/filter_graph_pins.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <cstring>
#include <deque>
#include <map>

namespace engine {

namespace {

// Reads "key=value:key=value" into *dict for avcodec_open2, taking out the key "q" (a
// constant quantiser, set on the context here). False when the text is malformed or an
// option is not known to the encoder.
bool ApplyOptions(AVCodecContext *ctx, const QString &options, AVDictionary **dict)
{
    if (av_dict_parse_string(dict, options.toUtf8().constData(), "=", ":", 0) < 0)
        return false;
    if (const AVDictionaryEntry *entry = av_dict_get(*dict, "q", nullptr, AV_DICT_MATCH_CASE)) {
        bool ok = false;
        const double q = QString::fromUtf8(entry->value).toDouble(&ok);
        if (!ok || q <= 0)
            return false;
        ctx->flags |= AV_CODEC_FLAG_QSCALE;
        ctx->global_quality = static_cast<int>(q * FF_QP2LAMBDA + 0.5);
        av_dict_set(dict, "q", nullptr, AV_DICT_MATCH_CASE);
    }
    const AVDictionaryEntry *entry = nullptr;
    while ((entry = av_dict_get(*dict, "", entry, AV_DICT_IGNORE_SUFFIX))) {
        if (!av_opt_find(ctx, entry->key, nullptr, 0, AV_OPT_SEARCH_CHILDREN))
            return false;
    }
    return true;
}

// Opens the encoder; the context's stream parameters must be set already.
HRESULT OpenEncoder(AVCodecContext *ctx, const AVCodec *codec, const QString &options)
{
    AVDictionary *dict = nullptr;
    if (!ApplyOptions(ctx, options, &dict)) {
        av_dict_free(&dict);
        return E_INVALIDARG;
    }
    const int err = avcodec_open2(ctx, codec, &dict);
    const bool leftOver = av_dict_count(dict) > 0;
    av_dict_free(&dict);
    if (err < 0)
        return E_FAIL;
    return leftOver ? E_INVALIDARG : S_OK;
}

class CompressorBase : public platform::ComObject<IBaseFilter>
{
public:
    CompressorBase(CompressorDescription description, const AVCodec *codec)
        : m_description(std::move(description))
        , m_codec(codec)
        , m_input(this,
                  QStringLiteral("Input"),
                  {[this](const MediaType &mt) { return Accepts(mt) ? S_OK : S_FALSE; },
                   [this](const MediaType &mt) { return InputConnected(mt); },
                   [this] {
                       if (ComPtr<IPin> peer = m_output.ConnectedTo())
                           peer->Disconnect();
                       m_output.Disconnect();
                       m_outputTypes.clear();
                   },
                   [this](const MediaSample &s) { return ReceiveSample(s); },
                   [this] { return EndOfInput(); }})
        , m_output(this, QStringLiteral("Output"), [this] { return m_outputTypes; })
    {}

    std::vector<ComPtr<IPin>> EnumPins() override
    {
        return {ComPtr<IPin>(&m_input), ComPtr<IPin>(&m_output)};
    }
    HRESULT JoinFilterGraph(IFilterGraph *, const QString &name) override
    {
        m_name = name;
        return S_OK;
    }
    QString Name() const override { return m_name; }

protected:
    virtual bool Accepts(const MediaType &mt) = 0;
    // Works out the output type for an accepted input type.
    virtual HRESULT InputConnected(const MediaType &mt) = 0;
    virtual HRESULT ReceiveSample(const MediaSample &sample) = 0;
    virtual HRESULT EndOfInput() = 0;

    av::CodecContextPtr NewContext() const
    {
        av::CodecContextPtr ctx(avcodec_alloc_context3(m_codec));
        if (!ctx)
            std::abort();
        return ctx;
    }
    // Sends a frame (null: drain) and hands every packet that comes out to onPacket.
    template <class F>
    HRESULT Encode(AVFrame *frame, F onPacket)
    {
        int err = avcodec_send_frame(m_ctx.get(), frame);
        if (err < 0)
            return E_FAIL;
        for (;;) {
            err = avcodec_receive_packet(m_ctx.get(), m_packet.get());
            if (err == AVERROR(EAGAIN) || err == AVERROR_EOF)
                return S_OK;
            if (err < 0)
                return E_FAIL;
            const HRESULT hr = onPacket(m_packet.get());
            av_packet_unref(m_packet.get());
            if (Failed(hr))
                return hr;
        }
    }

    CompressorDescription m_description;
    const AVCodec *m_codec;
    InputPin m_input;
    OutputPin m_output;
    std::vector<MediaType> m_outputTypes;
    QString m_name;

    av::CodecContextPtr m_ctx; // the open encoder, while running
    av::PacketPtr m_packet = av::MakePacket();
};

class VideoCompressor final : public CompressorBase
{
public:
    using CompressorBase::CompressorBase;

    HRESULT Run() override
    {
        if (!m_input.IsConnected())
            return S_OK;
        m_ctx = NewContext();
        const HRESULT hr = Configure(m_ctx.get(), m_width, m_height, m_frameTime);
        if (Failed(hr)) {
            m_ctx.reset();
            return hr;
        }
        m_sws.reset(sws_getContext(m_width,
                                   m_height,
                                   AV_PIX_FMT_BGR24,
                                   m_width,
                                   m_height,
                                   m_ctx->pix_fmt,
                                   SWS_BILINEAR,
                                   nullptr,
                                   nullptr,
                                   nullptr));
        m_frame = av::MakeFrame();
        m_frame->format = m_ctx->pix_fmt;
        m_frame->width = m_width;
        m_frame->height = m_height;
        if (!m_sws || av_frame_get_buffer(m_frame.get(), 0) < 0) {
            Stop();
            return E_FAIL;
        }
        m_own = MakeFrameEncoder(m_codec->id, m_width, m_height);
        m_codedFrames = 0;
        m_havePicture = false;
        m_undecided.clear();
        m_queue.clear();
        return S_OK;
    }
    HRESULT Stop() override
    {
        m_ctx.reset();
        m_own.reset();
        m_sws.reset();
        m_frame.reset();
        m_queue.clear();
        return S_OK;
    }

private:
    struct Outgoing
    {
        ReferenceTime start = 0;
        ReferenceTime stop = 0;
        bool coded = false; // false: an empty sample standing for a repeated frame
        bool ready = false;
        bool key = false;
        std::vector<std::uint8_t> data;
    };

    // Sets up a context for frames of this size and opens it. B-frames are ruled out:
    // the AVI stores frames in coding order with one time per chunk, so reordered
    // frames would lose their times.
    HRESULT Configure(AVCodecContext *ctx, int width, int height, ReferenceTime frameTime) const
    {
        ctx->width = width;
        ctx->height = height;
        ctx->pix_fmt = PixelFormat();
        ctx->time_base = av::FrameTimeBase(frameTime);
        ctx->framerate = av_inv_q(ctx->time_base);
        ctx->max_b_frames = 0;
        // Encoders that can split a frame into slices use every core for it (an
        // "threads" option overrides this).
        if (m_codec->capabilities & AV_CODEC_CAP_SLICE_THREADS) {
            ctx->thread_count = 0;
            ctx->thread_type = FF_THREAD_SLICE;
        }
        const HRESULT hr = OpenEncoder(ctx, m_codec, m_description.options);
        if (Failed(hr))
            return hr;
        return ctx->max_b_frames > 0 || ctx->has_b_frames > 0 ? E_INVALIDARG : S_OK;
    }
    AVPixelFormat PixelFormat() const
    {
        if (!m_codec->pix_fmts)
            return AV_PIX_FMT_YUV420P;
        return avcodec_find_best_pix_fmt_of_list(m_codec->pix_fmts, AV_PIX_FMT_BGR24, 0, nullptr);
    }

    bool Accepts(const MediaType &mt) override
    {
        if (mt.majortype != MEDIATYPE_Video || mt.subtype != MEDIASUBTYPE_RGB24
            || mt.formattype != FORMAT_VideoInfo)
            return false;
        const auto *vih = mt.FormatAs<VIDEOINFOHEADER>();
        if (!vih || vih->bmiHeader.biBitCount != 24 || vih->bmiHeader.biCompression != BI_RGB)
            return false;
        const int width = vih->bmiHeader.biWidth;
        const int height = std::abs(vih->bmiHeader.biHeight);
        if (width <= 0 || height <= 0 || width > 16384 || height > 16384)
            return false;
        // The encoder itself decides whether it can code frames of this size.
        const auto key = std::make_tuple(width, height, vih->AvgTimePerFrame);
        if (auto it = m_canEncode.find(key); it != m_canEncode.end())
            return it->second;
        const auto ctx = NewContext();
        const bool ok = Succeeded(Configure(ctx.get(), width, height, vih->AvgTimePerFrame));
        m_canEncode[key] = ok;
        return ok;
    }

    HRESULT InputConnected(const MediaType &mt) override
    {
        const auto *vih = mt.FormatAs<VIDEOINFOHEADER>();
        m_width = vih->bmiHeader.biWidth;
        m_height = std::abs(vih->bmiHeader.biHeight);
        m_bottomUp = vih->bmiHeader.biHeight > 0;
        m_frameTime = vih->AvgTimePerFrame;
        const auto ctx = NewContext();
        const HRESULT hr = Configure(ctx.get(), m_width, m_height, m_frameTime);
        if (Failed(hr))
            return hr;

        const AVCodecTag *const tags[] = {avformat_get_riff_video_tags(), nullptr};
        const std::uint32_t fourcc = av_codec_get_tag(tags, m_codec->id);
        const std::size_t extra
            = ctx->extradata ? static_cast<std::size_t>(ctx->extradata_size) : 0;
        MediaType out;
        out.majortype = MEDIATYPE_Video;
        out.subtype = fourcc ? SubtypeFromFourcc(fourcc) : Guid{};
        out.formattype = FORMAT_VideoInfo;
        out.fixedSizeSamples = false;
        out.temporalCompression = true;
        out.format.resize(sizeof(VIDEOINFOHEADER) + extra);
        VIDEOINFOHEADER info{};
        info.AvgTimePerFrame = m_frameTime;
        info.bmiHeader.biSize = static_cast<std::uint32_t>(sizeof(BITMAPINFOHEADER) + extra);
        info.bmiHeader.biWidth = m_width;
        info.bmiHeader.biHeight = m_height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = static_cast<std::uint16_t>(
            ctx->bits_per_coded_sample > 0 ? ctx->bits_per_coded_sample : 24);
        info.bmiHeader.biCompression = fourcc;
        info.bmiHeader.biSizeImage = static_cast<std::uint32_t>(m_width * m_height * 3);
        std::memcpy(out.format.data(), &info, sizeof info);
        if (extra)
            std::memcpy(out.format.data() + sizeof info, ctx->extradata, extra);
        m_outputTypes = {std::move(out)};
        return S_OK;
    }

    HRESULT ReceiveSample(const MediaSample &sample) override
    {
        if (!m_ctx)
            return VFW_E_WRONG_STATE;
        HRESULT hr = S_OK;
        if (sample.repeat && m_havePicture) {
            // Whether a repeat is coded is known only when its hold ends; until then the
            // last few wait here, and older ones become empty samples.
            m_undecided.push_back({sample.start, sample.stop});
            if (m_undecided.size() > kCodedAtEnd) {
                QueueRepeat(m_undecided.front().first, m_undecided.front().second);
                m_undecided.pop_front();
            }
            return SendReady();
        }
        hr = EndHold(1);
        if (Failed(hr))
            return hr;
        const int stride = (m_width * 3 + 3) & ~3;
        if (!sample.data || sample.size < static_cast<std::size_t>(stride) * m_height)
            return E_INVALIDARG;
        if (av_frame_make_writable(m_frame.get()) < 0)
            return E_FAIL;
        const std::uint8_t *src = sample.data;
        int srcStride = stride;
        if (m_bottomUp) {
            src += static_cast<std::size_t>(stride) * (m_height - 1);
            srcStride = -stride;
        }
        sws_scale(m_sws.get(), &src, &srcStride, 0, m_height, m_frame->data, m_frame->linesize);
        m_havePicture = true;
        hr = CodePicture(sample.start, sample.stop, false);
        if (Failed(hr))
            return hr;
        return SendReady();
    }

    HRESULT EndOfInput() override
    {
        if (!m_ctx)
            return VFW_E_WRONG_STATE;
        {
            const HRESULT hr = EndHold(kCodedAtEnd);
            if (Failed(hr))
                return hr;
        }
        const HRESULT hr = Encode(nullptr, [this](AVPacket *p) { return TakePacket(p); });
        if (Failed(hr))
            return hr;
        // A frame the encoder dropped still takes its place in the stream.
        for (Outgoing &o : m_queue)
            o.ready = true;
        const HRESULT sent = SendReady();
        if (Failed(sent))
            return sent;
        return m_output.DeliverEndOfStream();
    }

    // A hold ends: of its undecided repeats the last `coded` are coded, the others go out
    // empty. Within the stream one coded frame per hold is enough; at the stream's end
    // the last frames are all coded, because a reader that meets the end guesses the
    // last frame's length from the gaps between the frames before it.
    HRESULT EndHold(std::size_t coded)
    {
        while (!m_undecided.empty()) {
            const auto [start, stop] = m_undecided.front();
            m_undecided.pop_front();
            if (m_undecided.size() >= coded) {
                QueueRepeat(start, stop);
                continue;
            }
            const HRESULT hr = CodePicture(start, stop, true);
            if (Failed(hr))
                return hr;
        }
        return S_OK;
    }

    // Queues an empty sample: the picture before it stands for these times too.
    void QueueRepeat(ReferenceTime start, ReferenceTime stop)
    {
        m_queue.push_back({start, stop, false, true, false, {}});
    }

    // Codes the picture held in m_frame for the given times; `unchanged` when it is the
    // picture coded last.
    HRESULT CodePicture(ReferenceTime start, ReferenceTime stop, bool unchanged)
    {
        if (m_own) {
            // Our own encoders code at once, with a key frame as often as libavcodec's
            // encoders of these formats put one (keyint_min).
            const int interval = std::max(m_ctx->keyint_min, 1);
            Outgoing o{start, stop, true, true, m_codedFrames % interval == 0, {}};
            m_own->Encode(*m_frame, unchanged, o.key, &o.data);
            ++m_codedFrames;
            m_queue.push_back(std::move(o));
            return S_OK;
        }
        m_frame->pts = av_rescale_q(start, av::kReferenceTimeBase, m_ctx->time_base);
        m_queue.push_back({start, stop, true, false, false, {}});
        return Encode(m_frame.get(), [this](AVPacket *p) { return TakePacket(p); });
    }

    HRESULT TakePacket(const AVPacket *packet)
    {
        for (Outgoing &o : m_queue) {
            if (o.coded && !o.ready) {
                o.data.assign(packet->data, packet->data + packet->size);
                o.key = (packet->flags & AV_PKT_FLAG_KEY) != 0;
                o.ready = true;
                return S_OK;
            }
        }
        return E_UNEXPECTED; // more packets than frames: not a codec this filter can use
    }

    // Passes on, in order, every queued sample whose data is known.
    HRESULT SendReady()
    {
        while (!m_queue.empty() && m_queue.front().ready) {
            const Outgoing &o = m_queue.front();
            MediaSample s;
            s.data = o.data.empty() ? nullptr : o.data.data();
            s.size = o.data.size();
            s.start = o.start;
            s.stop = o.stop;
            s.syncPoint = o.coded && o.key;
            s.repeat = !o.coded;
            const HRESULT hr = m_output.Deliver(s);
            m_queue.pop_front();
            if (Failed(hr))
                return hr;
        }
        return S_OK;
    }

    int m_width = 0;
    int m_height = 0;
    bool m_bottomUp = true;
    ReferenceTime m_frameTime = 0;
    std::map<std::tuple<int, int, ReferenceTime>, bool> m_canEncode;

    av::SwsContextPtr m_sws;
    av::FramePtr m_frame;                // the last picture, as the encoder takes it
    std::unique_ptr<FrameEncoder> m_own; // our own encoder of the format, where there is one
    std::int64_t m_codedFrames = 0;      // by m_own
    bool m_havePicture = false;
    static constexpr std::size_t kCodedAtEnd = 3;
    std::deque<std::pair<ReferenceTime, ReferenceTime>> m_undecided; // repeats, start and stop
    std::deque<Outgoing> m_queue;
};

// MPEGLAYER3WAVEFORMAT's fields after WAVEFORMATEX.
#pragma pack(push, 1)
struct MpegLayer3Extra
{
    std::uint16_t wID;
    std::uint32_t fdwFlags;
    std::uint16_t nBlockSize;
    std::uint16_t nFramesPerBlock;
    std::uint16_t nCodecDelay;
};
#pragma pack(pop)
static_assert(sizeof(MpegLayer3Extra) == 12);

class AudioCompressor final : public CompressorBase
{
public:
    using CompressorBase::CompressorBase;

    HRESULT Run() override
    {
        if (!m_input.IsConnected())
            return S_OK;
        m_ctx = NewContext();
        const HRESULT hr = Configure(m_ctx.get(), m_sampleRate, m_channels);
        if (Failed(hr)) {
            m_ctx.reset();
            return hr;
        }
        SwrContext *swr = nullptr;
        AVChannelLayout layout{};
        av_channel_layout_default(&layout, m_channels);
        if (swr_alloc_set_opts2(&swr,
                                &layout,
                                m_ctx->sample_fmt,
                                m_sampleRate,
                                &layout,
                                AV_SAMPLE_FMT_S16,
                                m_sampleRate,
                                0,
                                nullptr)
                < 0
            || swr_init(swr) < 0) {
            m_swr.reset(swr); // the owner frees it (Stop below)
            Stop();
            return E_FAIL;
        }
        m_swr.reset(swr);
        m_frameSamples = m_ctx->frame_size > 0 ? m_ctx->frame_size : 1024;
        m_pending.clear();
        m_nextPts = 0;
        m_packetsOut = 0;
        m_started = false;
        SkipPriming();
        return S_OK;
    }
    HRESULT Stop() override
    {
        m_ctx.reset();
        m_swr.reset();
        m_pending.clear();
        return S_OK;
    }

private:
    // An encoder with a start-up delay (an MP3 encoder's priming, about 25 ms) would have
    // the music start that much after the picture: the AVI cannot say that the first
    // samples are to be skipped. So silence goes in first, enough to fill the delay up to
    // whole packets, and those packets are left out: the first packet written starts with
    // the music's first sample.
    void SkipPriming()
    {
        m_dropPackets = 0;
        const auto delay = static_cast<std::size_t>(std::max(m_ctx->initial_padding, 0));
        if (delay == 0 || m_ctx->frame_size <= 0)
            return;
        m_dropPackets = (delay + m_frameSamples - 1) / m_frameSamples;
        const std::size_t lead = m_dropPackets * m_frameSamples - delay;
        m_pending.assign(lead * static_cast<std::size_t>(m_channels) * 2, 0);
    }

    HRESULT Configure(AVCodecContext *ctx, int sampleRate, int channels) const
    {
        // Without the bit reservoir every MP3 frame decodes on its own, so the priming
        // frames can be left out (SkipPriming).
        if (ctx->priv_data && m_codec->id == AV_CODEC_ID_MP3)
            av_opt_set(ctx->priv_data, "reservoir", "0", 0);
        ctx->sample_rate = sampleRate;
        av_channel_layout_default(&ctx->ch_layout, channels);
        ctx->sample_fmt = m_codec->sample_fmts ? m_codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
        ctx->time_base = {1, sampleRate};
        ctx->bit_rate = 128000;
        return OpenEncoder(ctx, m_codec, m_description.options);
    }

    bool Accepts(const MediaType &mt) override
    {
        if (mt.majortype != MEDIATYPE_Audio || mt.subtype != MEDIASUBTYPE_PCM
            || mt.formattype != FORMAT_WaveFormatEx)
            return false;
        const auto *wfx = mt.FormatAs<WAVEFORMATEX>();
        if (!wfx || wfx->wFormatTag != WAVE_FORMAT_PCM || wfx->wBitsPerSample != 16
            || wfx->nChannels < 1 || wfx->nChannels > 8 || wfx->nBlockAlign != wfx->nChannels * 2
            || wfx->nSamplesPerSec < 1000 || wfx->nSamplesPerSec > 384000)
            return false;
        const auto key = std::make_pair(static_cast<int>(wfx->nSamplesPerSec),
                                        static_cast<int>(wfx->nChannels));
        if (auto it = m_canEncode.find(key); it != m_canEncode.end())
            return it->second;
        const auto ctx = NewContext();
        const bool ok = Succeeded(Configure(ctx.get(), key.first, key.second));
        m_canEncode[key] = ok;
        return ok;
    }

    HRESULT InputConnected(const MediaType &mt) override
    {
        const auto *wfx = mt.FormatAs<WAVEFORMATEX>();
        m_sampleRate = static_cast<int>(wfx->nSamplesPerSec);
        m_channels = wfx->nChannels;
        const auto ctx = NewContext();
        const HRESULT hr = Configure(ctx.get(), m_sampleRate, m_channels);
        if (Failed(hr))
            return hr;
        const AVCodecTag *const tags[] = {avformat_get_riff_audio_tags(), nullptr};
        const std::uint32_t tag = av_codec_get_tag(tags, m_codec->id);
        std::vector<std::uint8_t> extra;
        if (m_codec->id == AV_CODEC_ID_MP3) {
            const int frame = ctx->frame_size > 0 ? ctx->frame_size : 1152;
            MpegLayer3Extra mp3{};
            mp3.wID = 1;      // MPEGLAYER3_ID_MPEG
            mp3.fdwFlags = 2; // MPEGLAYER3_FLAG_PADDING_OFF
            mp3.nBlockSize
                = static_cast<std::uint16_t>(144 * ctx->bit_rate / m_sampleRate * frame / 1152);
            mp3.nFramesPerBlock = 1;
            mp3.nCodecDelay = 0; // the priming is left out (SkipPriming)
            extra.resize(sizeof mp3);
            std::memcpy(extra.data(), &mp3, sizeof mp3);
        } else if (ctx->extradata_size > 0) {
            extra.assign(ctx->extradata, ctx->extradata + ctx->extradata_size);
        }
        WAVEFORMATEX wfxOut{};
        wfxOut.wFormatTag = static_cast<std::uint16_t>(tag);
        wfxOut.nChannels = static_cast<std::uint16_t>(m_channels);
        wfxOut.nSamplesPerSec = static_cast<std::uint32_t>(m_sampleRate);
        wfxOut.nAvgBytesPerSec = static_cast<std::uint32_t>(ctx->bit_rate / 8);
        wfxOut.nBlockAlign
            = static_cast<std::uint16_t>(ctx->block_align > 0 ? ctx->block_align : 1);
        wfxOut.wBitsPerSample = 0;
        wfxOut.cbSize = static_cast<std::uint16_t>(extra.size());
        MediaType out;
        out.majortype = MEDIATYPE_Audio;
        out.subtype = tag ? SubtypeFromFourcc(tag) : Guid{};
        out.formattype = FORMAT_WaveFormatEx;
        out.fixedSizeSamples = false;
        out.format.resize(sizeof wfxOut + extra.size());
        std::memcpy(out.format.data(), &wfxOut, sizeof wfxOut);
        if (!extra.empty())
            std::memcpy(out.format.data() + sizeof wfxOut, extra.data(), extra.size());
        m_outputTypes = {std::move(out)};
        return S_OK;
    }

    HRESULT ReceiveSample(const MediaSample &sample) override
    {
        if (!m_ctx)
            return VFW_E_WRONG_STATE;
        if (!m_started) {
            m_started = true;
            m_baseTime = sample.start;
        }
        const std::size_t frameBytes = static_cast<std::size_t>(m_channels) * 2;
        if (sample.size % frameBytes != 0)
            return E_INVALIDARG;
        if (sample.size)
            m_pending.insert(m_pending.end(), sample.data, sample.data + sample.size);
        while (m_pending.size() >= m_frameSamples * frameBytes) {
            const HRESULT hr = EncodePending(m_frameSamples);
            if (Failed(hr))
                return hr;
        }
        return S_OK;
    }

    HRESULT EndOfInput() override
    {
        if (!m_ctx)
            return VFW_E_WRONG_STATE;
        const std::size_t left = m_pending.size() / (static_cast<std::size_t>(m_channels) * 2);
        if (left > 0) {
            // The last frame may be short where the encoder allows it; else it is padded.
            const bool small = (m_codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME) != 0;
            const HRESULT hr = EncodePending(small ? left : m_frameSamples);
            if (Failed(hr))
                return hr;
        }
        const HRESULT hr = Encode(nullptr, [this](AVPacket *p) { return SendPacket(p); });
        if (Failed(hr))
            return hr;
        return m_output.DeliverEndOfStream();
    }

    // Codes `samples` samples from the front of m_pending (silence where it is short).
    HRESULT EncodePending(std::size_t samples)
    {
        const std::size_t frameBytes = static_cast<std::size_t>(m_channels) * 2;
        m_pending.resize(std::max(m_pending.size(), samples * frameBytes), 0);
        av::FramePtr frame = av::MakeFrame();
        frame->format = m_ctx->sample_fmt;
        frame->nb_samples = static_cast<int>(samples);
        frame->sample_rate = m_sampleRate;
        av_channel_layout_copy(&frame->ch_layout, &m_ctx->ch_layout);
        if (av_frame_get_buffer(frame.get(), 0) < 0)
            return E_FAIL;
        const std::uint8_t *in = m_pending.data();
        if (swr_convert(m_swr.get(), frame->data, frame->nb_samples, &in, frame->nb_samples) < 0)
            return E_FAIL;
        m_pending.erase(m_pending.begin(),
                        m_pending.begin() + static_cast<std::ptrdiff_t>(samples * frameBytes));
        frame->pts = m_nextPts;
        m_nextPts += frame->nb_samples;
        return Encode(frame.get(), [this](AVPacket *p) { return SendPacket(p); });
    }

    // Packets follow each other without gaps from the first sample's time.
    HRESULT SendPacket(const AVPacket *packet)
    {
        if (m_dropPackets > 0) {
            --m_dropPackets; // priming (SkipPriming)
            return S_OK;
        }
        const std::int64_t duration = packet->duration > 0 ? packet->duration : m_frameSamples;
        const AVRational sampleBase{1, m_sampleRate};
        MediaSample s;
        s.data = packet->data;
        s.size = static_cast<std::size_t>(packet->size);
        s.start = m_baseTime + av_rescale_q(m_packetsOut, sampleBase, av::kReferenceTimeBase);
        m_packetsOut += duration;
        s.stop = m_baseTime + av_rescale_q(m_packetsOut, sampleBase, av::kReferenceTimeBase);
        s.syncPoint = true;
        return m_output.Deliver(s);
    }

    int m_sampleRate = 0;
    int m_channels = 0;
    std::map<std::pair<int, int>, bool> m_canEncode;

    av::SwrContextPtr m_swr;
    std::size_t m_frameSamples = 1024;
    std::vector<std::uint8_t> m_pending; // interleaved 16-bit samples not yet coded
    std::int64_t m_nextPts = 0;
    std::int64_t m_packetsOut = 0; // samples covered by the packets sent so far
    bool m_started = false;
    ReferenceTime m_baseTime = 0;
    std::size_t m_dropPackets = 0; // priming packets still to leave out
};

} // namespace

HRESULT CreateCompressorFilter(const CompressorDescription &description, IBaseFilter **out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    const QByteArray name = description.encoder.toUtf8();
    const AVCodec *codec = avcodec_find_encoder_by_name(name.constData());
    const AVMediaType wanted
        = description.kind == CompressorKind::Video ? AVMEDIA_TYPE_VIDEO : AVMEDIA_TYPE_AUDIO;
    if (!codec || codec->type != wanted)
        return platform::REGDB_E_CLASSNOTREG;
    // Options are checked now, so that a broken entry fails when it is chosen.
    av::CodecContextPtr probe(avcodec_alloc_context3(codec));
    AVDictionary *dict = nullptr;
    const bool valid = probe && ApplyOptions(probe.get(), description.options, &dict);
    av_dict_free(&dict);
    if (!valid)
        return E_INVALIDARG;
    ComPtr<IBaseFilter> filter;
    if (description.kind == CompressorKind::Video)
        filter = platform::MakeObject<VideoCompressor, IBaseFilter>(description, codec);
    else
        filter = platform::MakeObject<AudioCompressor, IBaseFilter>(description, codec);
    *out = filter.Detach();
    return S_OK;
}

} // namespace engine
