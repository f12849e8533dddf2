#pragma once
// FFmpeg helpers of the compressors and the AVI writer: owners of FFmpeg objects, error
// texts, and the mapping between media types and codec parameters (AVI names formats by
// four-character codes and wave format tags, as the media types do).

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

struct CodecContextDeleter
{
    void operator()(AVCodecContext *c) const { avcodec_free_context(&c); }
};
struct FrameDeleter
{
    void operator()(AVFrame *f) const { av_frame_free(&f); }
};
struct PacketDeleter
{
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};
struct SwsContextDeleter
{
    void operator()(SwsContext *s) const { sws_freeContext(s); }
};
struct SwrContextDeleter
{
    void operator()(SwrContext *s) const { swr_free(&s); }
};
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using SwsContextPtr = std::unique_ptr<SwsContext, SwsContextDeleter>;
using SwrContextPtr = std::unique_ptr<SwrContext, SwrContextDeleter>;

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
