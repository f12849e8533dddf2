// The audio stream: the group's clips mixed, in chunks of a tenth of a second.

#include "engine/render/render_streams.h"

#include "engine/render/audio_mixer.h"

#include <algorithm>

namespace engine::render {
namespace {

class AudioStream final : public GroupStream
{
public:
    explicit AudioStream(GroupPlan plan)
        : m_plan(std::move(plan))
        , m_frames(AudioFrameAt(m_plan.end))
    {}

    void Start() override
    {
        m_mixer = std::make_unique<AudioMixer>(m_plan.audio);
        m_position = 0;
    }
    void Stop() override { m_mixer.reset(); }
    bool HasNext() const override { return m_position < m_frames; }
    ReferenceTime NextTime() const override { return AudioTimeOf(m_position); }

    MediaSample Next() override
    {
        const int frames = static_cast<int>(std::min<std::int64_t>(kChunk, m_frames - m_position));
        m_buffer.resize(static_cast<std::size_t>(frames) * kAudioChannels);
        m_mixer->Mix(m_position, frames, m_buffer.data());
        MediaSample sample;
        sample.data = reinterpret_cast<const std::uint8_t *>(m_buffer.data());
        sample.size = static_cast<std::size_t>(frames) * kAudioBytesPerFrame;
        sample.start = AudioTimeOf(m_position);
        m_position += frames;
        sample.stop = AudioTimeOf(m_position);
        return sample;
    }

private:
    static constexpr int kChunk = kAudioRate / 10;
    const GroupPlan m_plan;
    const std::int64_t m_frames;
    std::unique_ptr<AudioMixer> m_mixer;
    std::int64_t m_position = 0;
    std::vector<std::int16_t> m_buffer;
};

} // namespace

std::unique_ptr<GroupStream> MakeAudioStream(GroupPlan plan)
{
    return std::make_unique<AudioStream>(std::move(plan));
}

} // namespace engine::render
