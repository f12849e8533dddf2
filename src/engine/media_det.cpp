#include "engine/media_det.h"

#include "engine/timeline_av.h"

#include <vector>

namespace engine {
namespace {

using platform::E_FAIL;
using platform::E_INVALIDARG;
using platform::E_POINTER;
using platform::E_UNEXPECTED;
using platform::S_OK;

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
