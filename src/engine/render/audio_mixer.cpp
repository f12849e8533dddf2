#include "engine/render/audio_mixer.h"

#include <algorithm>
#include <cstring>

namespace engine {

std::int64_t AudioFrameAt(ReferenceTime time)
{
    // Exact in 64 bits for any time below about 600 years.
    return (time * kAudioRate + kUnitsPerSecond / 2) / kUnitsPerSecond;
}

ReferenceTime AudioTimeOf(std::int64_t frame)
{
    return frame * kUnitsPerSecond / kAudioRate;
}

bool MusicReader::Open(const QString &path)
{
    m_file = av::OpenInput(path);
    if (!m_file)
        return false;
    const AVCodec *codec = nullptr;
    m_stream = av_find_best_stream(m_file.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (m_stream < 0 || !codec)
        return false;
    m_decoder.reset(avcodec_alloc_context3(codec));
    if (avcodec_parameters_to_context(m_decoder.get(), m_file->streams[m_stream]->codecpar) < 0)
        return false;
    m_decoder->pkt_timebase = m_file->streams[m_stream]->time_base;
    if (avcodec_open2(m_decoder.get(), codec, nullptr) < 0)
        return false;
    // Every other stream (cover art, the video of an MPEG file) is skipped by the demuxer.
    for (unsigned i = 0; i < m_file->nb_streams; ++i) {
        if (static_cast<int>(i) != m_stream)
            m_file->streams[i]->discard = AVDISCARD_ALL;
    }
    m_packet.reset(av_packet_alloc());
    m_frame.reset(av_frame_alloc());
    return true;
}

int MusicReader::Read(std::int16_t *out, int frames)
{
    int done = 0;
    while (done < frames) {
        if (m_pendingAt >= m_pending.size()) {
            m_pending.clear();
            m_pendingAt = 0;
            if (!Refill())
                break;
            continue;
        }
        const std::size_t available = (m_pending.size() - m_pendingAt) / kAudioChannels;
        const int take = static_cast<int>(std::min<std::size_t>(available, frames - done));
        std::memcpy(out + static_cast<std::size_t>(done) * kAudioChannels,
                    m_pending.data() + m_pendingAt,
                    static_cast<std::size_t>(take) * kAudioBytesPerFrame);
        m_pendingAt += static_cast<std::size_t>(take) * kAudioChannels;
        done += take;
    }
    return done;
}

bool MusicReader::Skip(std::int64_t frames)
{
    std::int16_t scratch[4096 * kAudioChannels];
    while (frames > 0) {
        const int want = static_cast<int>(std::min<std::int64_t>(frames, 4096));
        const int got = Read(scratch, want);
        frames -= got;
        if (got < want)
            return false;
    }
    return true;
}

bool MusicReader::MakeResampler()
{
    // Music is sampled at 8 to 384 kHz. A damaged file may claim millions of samples a
    // second (a resampler for that takes many seconds to set up) or one a second (then a
    // few kilobytes of it are hours of music): such music is not read.
    constexpr int kLowestMusicRate = 1000;
    constexpr int kHighestMusicRate = 768000;
    if (m_frame->sample_rate < kLowestMusicRate || m_frame->sample_rate > kHighestMusicRate)
        return false;
    // Some decoders only know their layout and rate once they have decoded.
    SwrContext *swr = nullptr;
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    AVChannelLayout inLayout{};
    if (m_frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || m_frame->ch_layout.nb_channels <= 0)
        av_channel_layout_default(&inLayout, std::max(1, m_frame->ch_layout.nb_channels));
    else
        av_channel_layout_copy(&inLayout, &m_frame->ch_layout);
    const int made = swr_alloc_set_opts2(&swr,
                                         &stereo,
                                         AV_SAMPLE_FMT_S16,
                                         kAudioRate,
                                         &inLayout,
                                         static_cast<AVSampleFormat>(m_frame->format),
                                         m_frame->sample_rate,
                                         0,
                                         nullptr);
    av_channel_layout_uninit(&inLayout);
    m_resampler.reset(swr);
    return made >= 0 && swr_init(swr) >= 0;
}

void MusicReader::ResampleFrame()
{
    const int room = swr_get_out_samples(m_resampler.get(), m_frame->nb_samples);
    m_pending.resize(static_cast<std::size_t>(std::max(room, 0)) * kAudioChannels);
    auto *outData = reinterpret_cast<std::uint8_t *>(m_pending.data());
    const int converted = swr_convert(m_resampler.get(),
                                      &outData,
                                      room,
                                      const_cast<const std::uint8_t **>(m_frame->extended_data),
                                      m_frame->nb_samples);
    m_pending.resize(static_cast<std::size_t>(std::max(converted, 0)) * kAudioChannels);
    av_frame_unref(m_frame.get());
}

bool MusicReader::DrainResampler()
{
    if (!m_resampler)
        return false;
    const int room = swr_get_out_samples(m_resampler.get(), 0);
    if (room <= 0)
        return false;
    m_pending.resize(static_cast<std::size_t>(room) * kAudioChannels);
    auto *outData = reinterpret_cast<std::uint8_t *>(m_pending.data());
    const int converted = swr_convert(m_resampler.get(), &outData, room, nullptr, 0);
    m_pending.resize(static_cast<std::size_t>(std::max(converted, 0)) * kAudioChannels);
    return !m_pending.empty();
}

// Decodes until some samples are pending or the file is done; false at the end.
bool MusicReader::Refill()
{
    if (!m_decoder || m_flushed)
        return false;
    while (m_pending.empty()) {
        const int received = avcodec_receive_frame(m_decoder.get(), m_frame.get());
        if (received == 0) {
            if (!m_resampler && !MakeResampler()) {
                m_flushed = true;
                return false;
            }
            ResampleFrame();
            continue;
        }
        // The end, or a broken stream: what came so far is the whole file.
        if (received != AVERROR(EAGAIN)) {
            m_decoderDone = true;
            m_flushed = true;
            return DrainResampler();
        }
        // The decoder wants input.
        if (m_inputDone) {
            avcodec_send_packet(m_decoder.get(), nullptr);
            continue;
        }
        const int read = av_read_frame(m_file.get(), m_packet.get());
        if (read < 0) {
            m_inputDone = true;
            avcodec_send_packet(m_decoder.get(), nullptr);
            continue;
        }
        if (m_packet->stream_index == m_stream) {
            // A packet the decoder refuses (damaged data) is dropped; decoding goes on.
            avcodec_send_packet(m_decoder.get(), m_packet.get());
        }
        av_packet_unref(m_packet.get());
    }
    return true;
}

struct AudioMixer::Playing
{
    const AudioClip *clip = nullptr;
    MusicReader reader;
    bool ok = false;
    std::int64_t position = 0; // timeline frame of the reader's next frame
};

AudioMixer::AudioMixer(std::vector<AudioClip> clips)
    : m_clips(std::move(clips))
{
    std::stable_sort(m_clips.begin(), m_clips.end(), [](const AudioClip &a, const AudioClip &b) {
        return a.start < b.start;
    });
}

AudioMixer::~AudioMixer() = default;

void AudioMixer::Mix(std::int64_t from, int frames, std::int16_t *out)
{
    const std::int64_t to = from + frames;
    const std::size_t samples = static_cast<std::size_t>(frames) * kAudioChannels;
    m_sum.assign(samples, 0);
    m_scratch.resize(samples);

    // Clips that begin before the end of this stretch start playing.
    while (m_nextClip < m_clips.size() && m_clips[m_nextClip].start < to) {
        const AudioClip &clip = m_clips[m_nextClip++];
        if (clip.stop <= from || clip.stop <= clip.start)
            continue; // over already, or empty
        auto playing = std::make_unique<Playing>();
        playing->clip = &clip;
        playing->position = clip.start;
        playing->ok = playing->reader.Open(clip.path) && playing->reader.Skip(clip.mediaStart);
        m_playing.push_back(std::move(playing));
    }

    for (auto &playing : m_playing) {
        const AudioClip &clip = *playing->clip;
        const std::int64_t begin = std::max(from, clip.start);
        // The clip's media ends at mediaStop or at the end of its own span.
        const std::int64_t mediaEnd = clip.start + (clip.mediaStop - clip.mediaStart);
        const std::int64_t end = std::min({to, clip.stop, mediaEnd});
        if (!playing->ok || begin >= end)
            continue;
        if (playing->position < begin) {
            playing->ok = playing->reader.Skip(begin - playing->position);
            playing->position = begin;
            if (!playing->ok)
                continue;
        }
        const int want = static_cast<int>(end - begin);
        const int got = playing->reader.Read(m_scratch.data(), want);
        playing->position += got;
        if (got < want)
            playing->ok = false; // the file has ended: silence from here on
        std::int32_t *sum = m_sum.data() + static_cast<std::size_t>(begin - from) * kAudioChannels;
        for (std::size_t i = 0; i < static_cast<std::size_t>(got) * kAudioChannels; ++i)
            sum[i] += m_scratch[i];
    }
    // Clips that are over close their files.
    std::erase_if(m_playing,
                  [&](const std::unique_ptr<Playing> &p) { return p->clip->stop <= to || !p->ok; });

    for (std::size_t i = 0; i < samples; ++i)
        out[i] = static_cast<std::int16_t>(std::clamp(m_sum[i], -32768, 32767));
}

} // namespace engine
