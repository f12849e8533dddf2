#pragma once
// FFmpeg helpers of the compressors and the AVI writer: error texts, and the mapping
// between media types and codec parameters (AVI names formats by four-character codes
// and wave format tags, as the media types do).

#include "engine/av_ptr.h"
#include "engine/dshow.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/rational.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <QString>

#include <memory>

namespace engine::av {

FramePtr MakeFrame();
PacketPtr MakePacket();

QString ErrorText(int averror);

// 100 ns units as a rational time base.
inline constexpr AVRational kReferenceTimeBase{1, static_cast<int>(kUnitsPerSecond)};

// The frame duration as a time base: 333666/333667 units (the NTSC rate) give exactly
// 1001/30000; other durations are reduced from units.
AVRational FrameTimeBase(ReferenceTime avgTimePerFrame);

// Codec of a compressed video media type (VIDEOINFOHEADER with a four-character code),
// or AV_CODEC_ID_NONE.
AVCodecID VideoCodecOf(const MediaType &mt);
// Codec of an audio media type (WAVEFORMATEX with a wave format tag), or AV_CODEC_ID_NONE.
AVCodecID AudioCodecOf(const MediaType &mt);

// Stream parameters for a media type that VideoCodecOf/AudioCodecOf recognise; false
// otherwise.
bool ParametersFromMediaType(const MediaType &mt, AVCodecParameters *par);

} // namespace engine::av
