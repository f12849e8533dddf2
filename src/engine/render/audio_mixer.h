#pragma once
// The audio side of the render engine: music files decoded to the engine's one audio
// format (44.1 kHz, 16-bit, stereo, interleaved) and mixed along the timeline.
//
// Decoding streams: a file is open only while a clip that plays it is being mixed, and only
// a few thousand samples of it are held at a time.

#include "engine/dshow.h"
#include "engine/timeline/timeline_av.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

namespace engine {

inline constexpr int kAudioRate = 44100;
inline constexpr int kAudioChannels = 2;
inline constexpr int kAudioBytesPerFrame = kAudioChannels * 2;

// Sample frame index of a reference time, to the nearest frame (so that clips laid end to
// end at times cut to whole 100 ns units still meet exactly).
std::int64_t AudioFrameAt(ReferenceTime time);
// Start time of a sample frame, cut toward zero.
ReferenceTime AudioTimeOf(std::int64_t frame);

// Decodes one music file front to back.
class MusicReader
{
public:
    // False when the file cannot be opened or has no audio stream it can decode.
    bool Open(const QString &path);
    // Writes up to `frames` stereo frames to out; fewer only at the end of the file.
    int Read(std::int16_t *out, int frames);
    // Drops frames from the front; false when the file ends first.
    bool Skip(std::int64_t frames);

private:
    bool Refill();
    // The resampler to 44.1 kHz stereo, built from the first decoded frame; false when
    // it cannot be made (the music ends there).
    bool MakeResampler();
    // The decoded frame, resampled, becomes the pending samples.
    void ResampleFrame();
    // The resampler's last few samples become the pending ones; false when none are left.
    bool DrainResampler();

    av::FormatContextPtr m_file;
    av::CodecContextPtr m_decoder;
    av::SwrContextPtr m_resampler;
    av::PacketPtr m_packet;
    av::FramePtr m_frame;
    int m_stream = -1;
    bool m_inputDone = false;            // every packet was sent to the decoder
    bool m_decoderDone = false;          // the decoder has given its last frame
    bool m_flushed = false;              // the resampler has given its last samples
    std::vector<std::int16_t> m_pending; // decoded, not yet read
    std::size_t m_pendingAt = 0;         // first unread sample in m_pending
};

// One music clip in sample frames: timeline [start, stop) plays the file from mediaStart
// on, one frame per frame, until mediaStop or the file ends (silence after).
struct AudioClip
{
    std::int64_t start = 0;
    std::int64_t stop = 0;
    std::int64_t mediaStart = 0;
    std::int64_t mediaStop = 0;
    QString path;
};

class AudioMixer
{
public:
    explicit AudioMixer(std::vector<AudioClip> clips);
    ~AudioMixer();

    // Fills out with `frames` frames from timeline frame `from` on: the sum of every clip
    // playing there, clipped to 16 bits, silence where none plays. Successive calls must
    // not go back in time.
    void Mix(std::int64_t from, int frames, std::int16_t *out);

private:
    struct Playing;
    std::vector<AudioClip> m_clips; // by start
    std::vector<std::unique_ptr<Playing>> m_playing;
    std::size_t m_nextClip = 0;
    std::vector<std::int32_t> m_sum;
    std::vector<std::int16_t> m_scratch;
};

} // namespace engine
