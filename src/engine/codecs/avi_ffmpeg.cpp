#include "engine/codecs/avi_ffmpeg.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

#include <cstdlib>
#include <cstring>

namespace engine::av {

FramePtr MakeFrame()
{
    FramePtr f(av_frame_alloc());
    if (!f)
        std::abort();
    return f;
}

PacketPtr MakePacket()
{
    PacketPtr p(av_packet_alloc());
    if (!p)
        std::abort();
    return p;
}

QString ErrorText(int averror)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(averror, text, sizeof text);
    return QString::fromUtf8(text);
}

AVRational FrameTimeBase(ReferenceTime avgTimePerFrame)
{
    if (avgTimePerFrame == 333666 || avgTimePerFrame == 333667)
        return {1001, 30000};
    if (avgTimePerFrame <= 0)
        return {1001, 30000};
    int num = 0;
    int den = 0;
    av_reduce(&num, &den, avgTimePerFrame, kUnitsPerSecond, 1 << 30);
    return {num, den};
}

AVCodecID VideoCodecOf(const MediaType &mt)
{
    if (mt.majortype != MEDIATYPE_Video || mt.formattype != FORMAT_VideoInfo)
        return AV_CODEC_ID_NONE;
    const auto *vih = mt.FormatAs<VIDEOINFOHEADER>();
    if (!vih || vih->bmiHeader.biCompression == BI_RGB || vih->bmiHeader.biWidth <= 0
        || vih->bmiHeader.biHeight == 0)
        return AV_CODEC_ID_NONE;
    const AVCodecTag *const tags[] = {avformat_get_riff_video_tags(), nullptr};
    return av_codec_get_id(tags, vih->bmiHeader.biCompression);
}

AVCodecID AudioCodecOf(const MediaType &mt)
{
    if (mt.majortype != MEDIATYPE_Audio || mt.formattype != FORMAT_WaveFormatEx)
        return AV_CODEC_ID_NONE;
    const auto *wfx = mt.FormatAs<WAVEFORMATEX>();
    if (!wfx || wfx->nChannels == 0 || wfx->nSamplesPerSec == 0)
        return AV_CODEC_ID_NONE;
    if (wfx->wFormatTag == WAVE_FORMAT_PCM) {
        switch (wfx->wBitsPerSample) {
        case 8:
            return AV_CODEC_ID_PCM_U8;
        case 16:
            return AV_CODEC_ID_PCM_S16LE;
        case 24:
            return AV_CODEC_ID_PCM_S24LE;
        case 32:
            return AV_CODEC_ID_PCM_S32LE;
        default:
            return AV_CODEC_ID_NONE;
        }
    }
    const AVCodecTag *const tags[] = {avformat_get_riff_audio_tags(), nullptr};
    return av_codec_get_id(tags, wfx->wFormatTag);
}

namespace {

void SetExtradata(AVCodecParameters *par, const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return;
    par->extradata = static_cast<std::uint8_t *>(av_mallocz(size + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!par->extradata)
        std::abort();
    std::memcpy(par->extradata, data, size);
    par->extradata_size = static_cast<int>(size);
}

} // namespace

bool ParametersFromMediaType(const MediaType &mt, AVCodecParameters *par)
{
    if (const AVCodecID video = VideoCodecOf(mt); video != AV_CODEC_ID_NONE) {
        const auto *vih = mt.FormatAs<VIDEOINFOHEADER>();
        const BITMAPINFOHEADER &bih = vih->bmiHeader;
        par->codec_type = AVMEDIA_TYPE_VIDEO;
        par->codec_id = video;
        par->codec_tag = bih.biCompression;
        par->width = bih.biWidth;
        par->height = std::abs(bih.biHeight);
        par->bits_per_coded_sample = bih.biBitCount;
        par->bit_rate = vih->dwBitRate;
        // Codec set-up data follows the bitmap header (biSize counts it).
        const std::size_t headerEnd = offsetof(VIDEOINFOHEADER, bmiHeader) + bih.biSize;
        if (bih.biSize > sizeof(BITMAPINFOHEADER) && mt.format.size() >= headerEnd) {
            const std::size_t start = sizeof(VIDEOINFOHEADER);
            SetExtradata(par, mt.format.data() + start, headerEnd - start);
        }
        return true;
    }
    if (const AVCodecID audio = AudioCodecOf(mt); audio != AV_CODEC_ID_NONE) {
        const auto *wfx = mt.FormatAs<WAVEFORMATEX>();
        par->codec_type = AVMEDIA_TYPE_AUDIO;
        par->codec_id = audio;
        par->codec_tag = wfx->wFormatTag;
        par->sample_rate = static_cast<int>(wfx->nSamplesPerSec);
        av_channel_layout_default(&par->ch_layout, wfx->nChannels);
        par->bit_rate = static_cast<std::int64_t>(wfx->nAvgBytesPerSec) * 8;
        par->bits_per_coded_sample = wfx->wBitsPerSample;
        if (audio == AV_CODEC_ID_MP3 || audio == AV_CODEC_ID_MP2) {
            // One chunk per MPEG audio frame: the stream's scale is the frame's length.
            par->frame_size = par->sample_rate >= 32000 ? 1152 : 576;
            par->block_align = 0;
        } else {
            par->block_align = wfx->nBlockAlign;
            const std::size_t extra = wfx->cbSize;
            if (extra && mt.format.size() >= sizeof(WAVEFORMATEX) + extra)
                SetExtradata(par, mt.format.data() + sizeof(WAVEFORMATEX), extra);
        }
        return true;
    }
    return false;
}

} // namespace engine::av
