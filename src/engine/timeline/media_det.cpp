#include "engine/timeline/media_det.h"

#include "engine/render/audio_mixer.h"
#include "engine/timeline/timeline_av.h"

extern "C" {
#include <libavutil/intreadwrite.h>
}

#include <vector>

namespace engine {
namespace {

// MPEG audio (layers 1 to 3): every packet is one frame of a fixed number of samples, and
// the demuxer marks the encoder's delay and padding (an MP3's LAME header) as samples for
// the decoder to skip. Counting packets gives what the decoder delivers without decoding.
// -1 when a packet does not tell its length.
double CountMpegAudio(AVFormatContext *file, const AVStream *stream)
{
    const AVCodecParameters *par = stream->codecpar;
    std::int64_t samples = 0;
    av::PacketPtr packet(av_packet_alloc());
    while (av_read_frame(file, packet.get()) >= 0) {
        if (packet->stream_index == stream->index) {
            std::int64_t n = par->frame_size;
            if (n <= 0 && packet->duration > 0)
                n = av_rescale_q(packet->duration, stream->time_base, {1, par->sample_rate});
            if (n <= 0)
                return -1;
            std::size_t size = 0;
            const std::uint8_t *skip
                = av_packet_get_side_data(packet.get(), AV_PKT_DATA_SKIP_SAMPLES, &size);
            if (skip && size >= 8)
                n -= std::min<std::int64_t>(n, AV_RL32(skip) + std::int64_t{AV_RL32(skip + 4)});
            samples += n;
        }
        av_packet_unref(packet.get());
    }
    return static_cast<double>(samples) / par->sample_rate;
}

// The length of an audio stream as the music reader delivers it, the encoder's delay and
// padding taken off, in seconds; -1 where the header's own length is exact (PCM) or the
// file cannot be read. The container's length counts the delay and padding as music,
// and plays laid end to end by it would leave a gap at every seam.
double DecodedAudioLength(const QString &name, const AVStream *stream)
{
    const AVCodecID id = stream->codecpar->codec_id;
    if (av_get_exact_bits_per_sample(id) > 0 && stream->duration > 0)
        return -1;
    if (id == AV_CODEC_ID_MP1 || id == AV_CODEC_ID_MP2 || id == AV_CODEC_ID_MP3) {
        av::FormatContextPtr file = av::OpenInput(name);
        if (!file)
            return -1;
        for (unsigned i = 0; i < file->nb_streams; ++i) {
            if (static_cast<int>(i) != stream->index)
                file->streams[i]->discard = AVDISCARD_ALL;
        }
        return CountMpegAudio(file.get(), file->streams[stream->index]);
    }
    // Other codecs (WMA) do not tell: decoded to the end, as the mixer will.
    MusicReader reader;
    if (!reader.Open(name))
        return -1;
    std::vector<std::int16_t> buffer(std::size_t{8192} * kAudioChannels);
    std::int64_t frames = 0;
    for (int got = 1; got > 0; frames += got)
        got = reader.Read(buffer.data(), 8192);
    return static_cast<double>(frames) / kAudioRate;
}

class MediaDet final : public platform::ComObject<IMediaDet>
{
public:
    HRESULT put_Filename(const QString &name) override
    {
        m_file.reset();
        m_streams.clear();
        m_current = 0;
        m_name.clear();
        av::FormatContextPtr file = av::OpenInput(name);
        if (!file)
            return E_FAIL;
        std::vector<const AVStream *> streams;
        for (unsigned i = 0; i < file->nb_streams; ++i) {
            if (av::IsMediaStream(file->streams[i]))
                streams.push_back(file->streams[i]);
        }
        if (streams.empty())
            return E_FAIL;
        m_lengths.assign(streams.size(), -1.0);
        if (file->duration_estimation_method != AVFMT_DURATION_FROM_STREAM)
            MeasureByReading(file.get(), streams);
        for (std::size_t k = 0; k < streams.size(); ++k) {
            if (streams[k]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
                const double exact = DecodedAudioLength(name, streams[k]);
                if (exact >= 0)
                    m_lengths[k] = exact;
            }
        }
        m_file = std::move(file);
        m_streams = std::move(streams);
        m_name = name;
        return S_OK;
    }
    HRESULT get_Filename(QString *name) override
    {
        if (!name)
            return E_POINTER;
        *name = m_name;
        return S_OK;
    }
    HRESULT get_OutputStreams(long *count) override
    {
        if (!count)
            return E_POINTER;
        if (!m_file)
            return E_UNEXPECTED;
        *count = static_cast<long>(m_streams.size());
        return S_OK;
    }
    HRESULT put_CurrentStream(long index) override
    {
        if (!m_file)
            return E_UNEXPECTED;
        if (index < 0 || index >= static_cast<long>(m_streams.size()))
            return E_INVALIDARG;
        m_current = static_cast<std::size_t>(index);
        return S_OK;
    }
    HRESULT get_CurrentStream(long *index) override
    {
        if (!index)
            return E_POINTER;
        *index = static_cast<long>(m_current);
        return S_OK;
    }
    HRESULT get_StreamType(Guid *majorType) override
    {
        if (!majorType)
            return E_POINTER;
        if (!m_file)
            return E_UNEXPECTED;
        *majorType = m_streams[m_current]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO
                         ? MEDIATYPE_Audio
                         : MEDIATYPE_Video;
        return S_OK;
    }
    HRESULT get_StreamLength(double *seconds) override
    {
        if (!seconds)
            return E_POINTER;
        if (!m_file)
            return E_UNEXPECTED;
        const AVStream *stream = m_streams[m_current];
        if (m_lengths[m_current] >= 0)
            *seconds = m_lengths[m_current];
        else if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
            *seconds = static_cast<double>(stream->duration) * av_q2d(stream->time_base);
        else if (m_file->duration != AV_NOPTS_VALUE && m_file->duration > 0)
            *seconds = static_cast<double>(m_file->duration) / AV_TIME_BASE;
        else
            *seconds = 0;
        return S_OK;
    }
    HRESULT get_FrameRate(double *fps) override
    {
        if (!fps)
            return E_POINTER;
        if (!m_file)
            return E_UNEXPECTED;
        const AVStream *stream = m_streams[m_current];
        *fps = stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && stream->avg_frame_rate.den
                   ? av_q2d(stream->avg_frame_rate)
                   : 0.0;
        return S_OK;
    }

private:
    // The file's header gave no lengths of its own (they were guessed from the bit rate or
    // from a few time stamps, as for MPEG program streams): reads every packet and takes
    // each stream's length from its first start to its last end.
    void MeasureByReading(AVFormatContext *file, const std::vector<const AVStream *> &streams)
    {
        std::vector<std::int64_t> first(file->nb_streams, AV_NOPTS_VALUE);
        std::vector<std::int64_t> last(file->nb_streams, AV_NOPTS_VALUE);
        av::PacketPtr packet(av_packet_alloc());
        while (av_read_frame(file, packet.get()) >= 0) {
            const auto index = static_cast<std::size_t>(packet->stream_index);
            const std::int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
            if (index < first.size() && pts != AV_NOPTS_VALUE) {
                if (first[index] == AV_NOPTS_VALUE || pts < first[index])
                    first[index] = pts;
                const std::int64_t end = pts + std::max<std::int64_t>(packet->duration, 0);
                if (last[index] == AV_NOPTS_VALUE || end > last[index])
                    last[index] = end;
            }
            av_packet_unref(packet.get());
        }
        for (std::size_t k = 0; k < streams.size(); ++k) {
            const auto index = static_cast<std::size_t>(streams[k]->index);
            if (first[index] != AV_NOPTS_VALUE && last[index] > first[index])
                m_lengths[k] = static_cast<double>(last[index] - first[index])
                               * av_q2d(streams[k]->time_base);
        }
    }

    QString m_name;
    std::vector<double> m_lengths; // measured by reading; -1 where the header is trusted
    av::FormatContextPtr m_file;
    std::vector<const AVStream *> m_streams; // owned by m_file
    std::size_t m_current = 0;
};

} // namespace

ComPtr<IMediaDet> CreateMediaDet()
{
    return platform::MakeObject<MediaDet, IMediaDet>();
}

} // namespace engine
