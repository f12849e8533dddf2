#include "media_makers.h"

#include "engine/av_ptr.h"
#include "engine/codecs/avi_ffmpeg.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <QFile>
#include <QImageWriter>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cmath>
#include <memory>

namespace testmedia {
namespace {

// An output file: its I/O is closed before its context is freed.
struct Output
{
    AVFormatContext *ctx = nullptr;
    ~Output()
    {
        if (!ctx)
            return;
        if (ctx->pb && !(ctx->oformat->flags & AVFMT_NOFILE))
            avio_closep(&ctx->pb);
        avformat_free_context(ctx);
    }
};
using engine::av::CodecContextPtr;
using engine::av::FramePtr;
using engine::av::PacketPtr;
using SwrPtr = engine::av::SwrContextPtr;
using InputPtr = engine::av::FormatContextPtr;

struct Encoding
{
    AVStream *stream = nullptr;
    CodecContextPtr codec;
};

// Sends one frame (null: flush) and writes every packet that comes out.
bool EncodeAndWrite(AVFormatContext *out, Encoding &enc, AVFrame *frame)
{
    if (avcodec_send_frame(enc.codec.get(), frame) < 0)
        return false;
    PacketPtr packet(av_packet_alloc());
    for (;;) {
        const int r = avcodec_receive_packet(enc.codec.get(), packet.get());
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF)
            return true;
        if (r < 0)
            return false;
        av_packet_rescale_ts(packet.get(), enc.codec->time_base, enc.stream->time_base);
        packet->stream_index = enc.stream->index;
        if (av_interleaved_write_frame(out, packet.get()) < 0)
            return false;
    }
}

bool OpenEncoder(AVFormatContext *out,
                 const AVCodec *codec,
                 Encoding *enc,
                 void (*setup)(AVCodecContext *, const void *),
                 const void *arg)
{
    if (!codec)
        return false;
    enc->codec.reset(avcodec_alloc_context3(codec));
    setup(enc->codec.get(), arg);
    if (out->oformat->flags & AVFMT_GLOBALHEADER)
        enc->codec->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    if (avcodec_open2(enc->codec.get(), codec, nullptr) < 0)
        return false;
    enc->stream = avformat_new_stream(out, nullptr);
    if (!enc->stream)
        return false;
    enc->stream->time_base = enc->codec->time_base;
    return avcodec_parameters_from_context(enc->stream->codecpar, enc->codec.get()) >= 0;
}

} // namespace

// ---- Photos -----------------------------------------------------------------------------

QImage SolidImage(int width, int height, QColor color)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

QImage SplitImage(int width, int height, QColor left, QColor right)
{
    QImage image = SolidImage(width, height, right);
    QPainter painter(&image);
    painter.fillRect(0, 0, width / 2, height, left);
    return image;
}

bool SaveJpeg(const QImage &image, const QString &path, const JpegOptions &options)
{
    QImageWriter writer(path, "jpeg");
    writer.setQuality(options.quality);
    writer.setProgressiveScanWrite(options.progressive);
    writer.setTransformation(options.orientation);
    return writer.write(image);
}

bool SaveCmykJpeg(const QImage &image, const QString &path, int quality)
{
    const QString convert = QStandardPaths::findExecutable(QStringLiteral("convert"));
    if (convert.isEmpty())
        return false;
    QTemporaryDir dir;
    const QString png = dir.filePath(QStringLiteral("source.png"));
    if (!image.save(png, "PNG"))
        return false;
    QProcess process;
    process.start(convert,
                  {png,
                   QStringLiteral("-colorspace"),
                   QStringLiteral("CMYK"),
                   QStringLiteral("-quality"),
                   QString::number(quality),
                   path});
    return process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit
           && process.exitCode() == 0 && QFile::exists(path);
}

bool SaveBmp(const QImage &image, const QString &path)
{
    return image.convertToFormat(QImage::Format_RGB888).save(path, "BMP");
}

bool SaveGif(const QImage &image, const QString &path)
{
    Output out;
    const QByteArray name = path.toLocal8Bit();
    if (avformat_alloc_output_context2(&out.ctx, nullptr, "gif", name.constData()) < 0)
        return false;
    Encoding enc;
    struct Size
    {
        int w, h;
    } size{image.width(), image.height()};
    auto setup = [](AVCodecContext *c, const void *arg) {
        const auto *s = static_cast<const Size *>(arg);
        c->width = s->w;
        c->height = s->h;
        c->pix_fmt = AV_PIX_FMT_RGB8;
        c->time_base = {1, 10};
    };
    if (!OpenEncoder(out.ctx, avcodec_find_encoder(AV_CODEC_ID_GIF), &enc, setup, &size))
        return false;
    if (avio_open(&out.ctx->pb, name.constData(), AVIO_FLAG_WRITE) < 0
        || avformat_write_header(out.ctx, nullptr) < 0)
        return false;
    FramePtr frame(av_frame_alloc());
    frame->format = AV_PIX_FMT_RGB8;
    frame->width = size.w;
    frame->height = size.h;
    if (av_frame_get_buffer(frame.get(), 0) < 0)
        return false;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    for (int y = 0; y < size.h; ++y) {
        const uchar *src = rgb.constScanLine(y);
        uint8_t *dst = frame->data[0] + static_cast<std::ptrdiff_t>(y) * frame->linesize[0];
        for (int x = 0; x < size.w; ++x) {
            const int r = src[3 * x], g = src[3 * x + 1], b = src[3 * x + 2];
            dst[x] = static_cast<uint8_t>(((r >> 5) << 5) | ((g >> 5) << 2) | (b >> 6));
        }
    }
    frame->pts = 0;
    return EncodeAndWrite(out.ctx, enc, frame.get()) && EncodeAndWrite(out.ctx, enc, nullptr)
           && av_write_trailer(out.ctx) >= 0;
}

bool SaveCorruptPhoto(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // Starts like a JPEG, then nothing a decoder can use.
    QByteArray bytes("\xFF\xD8\xFF\xE0 this photo was damaged in transit");
    bytes += QByteArray(2000, '\x5A');
    return file.write(bytes) == bytes.size();
}

// ---- Music ------------------------------------------------------------------------------

Pcm Tone(std::int64_t frames, double hz, int rate, int channels, int amplitude)
{
    Pcm pcm;
    pcm.rate = rate;
    pcm.channels = channels;
    pcm.samples.resize(static_cast<std::size_t>(frames * channels));
    for (std::int64_t i = 0; i < frames; ++i) {
        const auto v = static_cast<std::int16_t>(
            std::lround(amplitude * std::sin(2 * M_PI * hz * static_cast<double>(i) / rate)));
        for (int c = 0; c < channels; ++c)
            pcm.samples[static_cast<std::size_t>(i * channels + c)] = v;
    }
    return pcm;
}

Pcm Ramp(std::int64_t frames, int rate)
{
    Pcm pcm;
    pcm.rate = rate;
    pcm.channels = 2;
    pcm.samples.resize(static_cast<std::size_t>(frames * 2));
    for (std::int64_t i = 0; i < frames; ++i) {
        const auto v = static_cast<std::int16_t>(i % 30000 + 1);
        pcm.samples[static_cast<std::size_t>(2 * i)] = v;
        pcm.samples[static_cast<std::size_t>(2 * i + 1)] = static_cast<std::int16_t>(-v);
    }
    return pcm;
}

bool WriteWav(const Pcm &pcm, const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const auto dataBytes = static_cast<std::uint32_t>(pcm.samples.size() * 2);
    QByteArray header;
    auto u32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            header.append(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    auto u16 = [&](std::uint16_t v) {
        header.append(static_cast<char>(v & 0xFF));
        header.append(static_cast<char>(v >> 8));
    };
    header.append("RIFF");
    u32(36 + dataBytes);
    header.append("WAVEfmt ");
    u32(16);
    u16(1);
    u16(static_cast<std::uint16_t>(pcm.channels));
    u32(static_cast<std::uint32_t>(pcm.rate));
    u32(static_cast<std::uint32_t>(pcm.rate * pcm.channels * 2));
    u16(static_cast<std::uint16_t>(pcm.channels * 2));
    u16(16);
    header.append("data");
    u32(dataBytes);
    if (file.write(header) != header.size())
        return false;
    const auto *bytes = reinterpret_cast<const char *>(pcm.samples.data());
    return file.write(bytes, dataBytes) == static_cast<qint64>(dataBytes);
}

bool WriteMusic(const Pcm &pcm, MusicKind kind, const QString &path)
{
    const char *format = kind == MusicKind::Mp3 ? "mp3" : kind == MusicKind::Wma ? "asf" : "mpeg";
    const AVCodec *audioCodec = kind == MusicKind::Mp3 ? avcodec_find_encoder_by_name("libmp3lame")
                                : kind == MusicKind::Wma ? avcodec_find_encoder(AV_CODEC_ID_WMAV2)
                                                         : avcodec_find_encoder(AV_CODEC_ID_MP2);
    Output out;
    const QByteArray name = path.toLocal8Bit();
    if (!audioCodec
        || avformat_alloc_output_context2(&out.ctx, nullptr, format, name.constData()) < 0)
        return false;

    Encoding audio;
    struct AudioArgs
    {
        const AVCodec *codec;
        const Pcm *pcm;
    } audioArgs{audioCodec, &pcm};
    auto audioSetup = [](AVCodecContext *c, const void *arg) {
        const auto *a = static_cast<const AudioArgs *>(arg);
        c->sample_fmt = a->codec->sample_fmts ? a->codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
        c->sample_rate = a->pcm->rate;
        av_channel_layout_default(&c->ch_layout, a->pcm->channels);
        c->bit_rate = 128000;
        c->time_base = {1, a->pcm->rate};
    };
    if (!OpenEncoder(out.ctx, audioCodec, &audio, audioSetup, &audioArgs))
        return false;

    Encoding video;
    const double seconds = static_cast<double>(pcm.Frames()) / pcm.rate;
    if (kind == MusicKind::MpegProgramStream) {
        auto videoSetup = [](AVCodecContext *c, const void *) {
            c->width = 64;
            c->height = 48;
            c->pix_fmt = AV_PIX_FMT_YUV420P;
            c->time_base = {1, 25};
            c->framerate = {25, 1};
            c->gop_size = 12;
            c->max_b_frames = 0;
            c->bit_rate = 200000;
        };
        if (!OpenEncoder(
                out.ctx, avcodec_find_encoder(AV_CODEC_ID_MPEG1VIDEO), &video, videoSetup, nullptr))
            return false;
    }

    if (avio_open(&out.ctx->pb, name.constData(), AVIO_FLAG_WRITE) < 0
        || avformat_write_header(out.ctx, nullptr) < 0)
        return false;

    // Audio in the encoder's frame size, converted from interleaved 16-bit.
    SwrContext *rawSwr = nullptr;
    AVChannelLayout layout{};
    av_channel_layout_default(&layout, pcm.channels);
    swr_alloc_set_opts2(&rawSwr,
                        &layout,
                        audio.codec->sample_fmt,
                        pcm.rate,
                        &layout,
                        AV_SAMPLE_FMT_S16,
                        pcm.rate,
                        0,
                        nullptr);
    SwrPtr swr(rawSwr);
    if (!swr || swr_init(swr.get()) < 0)
        return false;
    const int frameSize = audio.codec->frame_size > 0 ? audio.codec->frame_size : 1152;
    FramePtr frame(av_frame_alloc());
    std::int64_t videoFrames = kind == MusicKind::MpegProgramStream
                                   ? static_cast<std::int64_t>(std::ceil(seconds * 25))
                                   : 0;
    std::int64_t videoNext = 0;
    std::vector<std::int16_t> chunk(static_cast<std::size_t>(frameSize * pcm.channels));
    for (std::int64_t at = 0; at < pcm.Frames(); at += frameSize) {
        // Video frames up to this audio time, so the streams stay side by side.
        while (videoNext < videoFrames && videoNext * pcm.rate <= at * 25) {
            FramePtr picture(av_frame_alloc());
            picture->format = AV_PIX_FMT_YUV420P;
            picture->width = 64;
            picture->height = 48;
            av_frame_get_buffer(picture.get(), 0);
            for (int p = 0; p < 3; ++p)
                memset(picture->data[p],
                       p == 0 ? static_cast<int>(16 + videoNext % 200) : 128,
                       static_cast<std::size_t>(picture->linesize[p]) * (p == 0 ? 48 : 24));
            picture->pts = videoNext++;
            if (!EncodeAndWrite(out.ctx, video, picture.get()))
                return false;
        }
        const std::int64_t n = std::min<std::int64_t>(frameSize, pcm.Frames() - at);
        std::fill(chunk.begin(), chunk.end(), 0); // the last frame is padded with silence
        std::copy_n(pcm.samples.begin() + at * pcm.channels, n * pcm.channels, chunk.begin());
        av_frame_unref(frame.get());
        frame->format = audio.codec->sample_fmt;
        frame->sample_rate = pcm.rate;
        av_channel_layout_copy(&frame->ch_layout, &layout);
        frame->nb_samples = frameSize;
        if (av_frame_get_buffer(frame.get(), 0) < 0)
            return false;
        const auto *in = reinterpret_cast<const std::uint8_t *>(chunk.data());
        if (swr_convert(swr.get(), frame->data, frameSize, &in, frameSize) != frameSize)
            return false;
        frame->pts = at;
        if (!EncodeAndWrite(out.ctx, audio, frame.get()))
            return false;
    }
    while (videoNext < videoFrames) {
        FramePtr picture(av_frame_alloc());
        picture->format = AV_PIX_FMT_YUV420P;
        picture->width = 64;
        picture->height = 48;
        av_frame_get_buffer(picture.get(), 0);
        for (int p = 0; p < 3; ++p)
            memset(picture->data[p],
                   128,
                   static_cast<std::size_t>(picture->linesize[p]) * (p == 0 ? 48 : 24));
        picture->pts = videoNext++;
        if (!EncodeAndWrite(out.ctx, video, picture.get()))
            return false;
    }
    if (!EncodeAndWrite(out.ctx, audio, nullptr))
        return false;
    if (video.codec && !EncodeAndWrite(out.ctx, video, nullptr))
        return false;
    return av_write_trailer(out.ctx) >= 0;
}

Pcm DecodeAudio(const QString &path)
{
    Pcm pcm;
    pcm.samples.clear();
    AVFormatContext *raw = nullptr;
    const QByteArray name = path.toLocal8Bit();
    if (avformat_open_input(&raw, name.constData(), nullptr, nullptr) < 0)
        return pcm;
    InputPtr in(raw);
    if (avformat_find_stream_info(in.get(), nullptr) < 0)
        return pcm;
    const AVCodec *codec = nullptr;
    const int stream = av_find_best_stream(in.get(), AVMEDIA_TYPE_AUDIO, -1, -1, &codec, 0);
    if (stream < 0)
        return pcm;
    CodecContextPtr dec(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(dec.get(), in->streams[stream]->codecpar);
    if (avcodec_open2(dec.get(), codec, nullptr) < 0)
        return pcm;
    pcm.rate = dec->sample_rate;
    pcm.channels = dec->ch_layout.nb_channels;
    SwrPtr swr;
    PacketPtr packet(av_packet_alloc());
    FramePtr frame(av_frame_alloc());
    auto drain = [&]() {
        while (avcodec_receive_frame(dec.get(), frame.get()) == 0) {
            if (!swr) {
                SwrContext *s = nullptr;
                swr_alloc_set_opts2(&s,
                                    &frame->ch_layout,
                                    AV_SAMPLE_FMT_S16,
                                    frame->sample_rate,
                                    &frame->ch_layout,
                                    static_cast<AVSampleFormat>(frame->format),
                                    frame->sample_rate,
                                    0,
                                    nullptr);
                swr.reset(s);
                swr_init(s);
            }
            const std::size_t at = pcm.samples.size();
            pcm.samples.resize(at + static_cast<std::size_t>(frame->nb_samples * pcm.channels));
            auto *outData = reinterpret_cast<std::uint8_t *>(pcm.samples.data() + at);
            const int got = swr_convert(swr.get(),
                                        &outData,
                                        frame->nb_samples,
                                        const_cast<const std::uint8_t **>(frame->extended_data),
                                        frame->nb_samples);
            pcm.samples.resize(at + static_cast<std::size_t>(std::max(got, 0) * pcm.channels));
        }
    };
    while (av_read_frame(in.get(), packet.get()) >= 0) {
        if (packet->stream_index == stream && avcodec_send_packet(dec.get(), packet.get()) >= 0)
            drain();
        av_packet_unref(packet.get());
    }
    avcodec_send_packet(dec.get(), nullptr);
    drain();
    return pcm;
}

namespace {

// The reader leaves the presentation time of some codecs (H.264) unset in AVI; without
// B-frames it is the decoding time.
std::int64_t PacketTime(const AVPacket *pkt)
{
    return pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts;
}

std::uint32_t PixelAt(const AVFrame *rgb, int x, int y)
{
    const std::uint8_t *p = rgb->data[0] + y * rgb->linesize[0] + 3 * x;
    return (static_cast<std::uint32_t>(p[0]) << 16) | (p[1] << 8) | p[2];
}

} // namespace

AviContents ReadAvi(const QString &path)
{
    AviContents result;
    AVFormatContext *ctx = nullptr;
    const QByteArray file = path.toUtf8();
    if (avformat_open_input(&ctx, file.constData(), nullptr, nullptr) < 0)
        return result;
    if (avformat_find_stream_info(ctx, nullptr) < 0) {
        avformat_close_input(&ctx);
        return result;
    }
    result.opened = true;
    result.format = QString::fromLatin1(ctx->iformat->name);
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVStream *st = ctx->streams[i];
        AviContents::Stream s;
        s.audio = st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
        s.codec = QString::fromUtf8(avcodec_get_name(st->codecpar->codec_id));
        s.width = st->codecpar->width;
        s.height = st->codecpar->height;
        s.sampleRate = st->codecpar->sample_rate;
        s.channels = st->codecpar->ch_layout.nb_channels;
        s.frameRateNum = st->avg_frame_rate.num;
        s.frameRateDen = st->avg_frame_rate.den;
        s.headerFrames = st->nb_frames;
        if (st->duration != AV_NOPTS_VALUE)
            s.seconds = static_cast<double>(st->duration) * av_q2d(st->time_base);
        result.streams.push_back(s);
    }
    AVPacket *pkt = av_packet_alloc();
    while (av_read_frame(ctx, pkt) >= 0) {
        result.packets.push_back({pkt->stream_index,
                                  PacketTime(pkt),
                                  pkt->pos,
                                  pkt->size,
                                  (pkt->flags & AV_PKT_FLAG_KEY) != 0});
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    avformat_close_input(&ctx);
    return result;
}

std::vector<FrameColours> DecodeVideoColours(const QString &path)
{
    std::vector<FrameColours> colours;
    AVFormatContext *ctx = nullptr;
    const QByteArray file = path.toUtf8();
    if (avformat_open_input(&ctx, file.constData(), nullptr, nullptr) < 0)
        return colours;
    avformat_find_stream_info(ctx, nullptr);
    const int index = av_find_best_stream(ctx, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0) {
        avformat_close_input(&ctx);
        return colours;
    }
    const AVCodecParameters *par = ctx->streams[index]->codecpar;
    // Packet times count frames in AVI; in MP4 they are in the stream's own time base.
    const AVStream *stream = ctx->streams[index];
    const auto frameOf = [stream](std::int64_t time) {
        if (stream->avg_frame_rate.num <= 0)
            return time;
        return av_rescale_q(time, stream->time_base, av_inv_q(stream->avg_frame_rate));
    };
    const AVCodec *codec = avcodec_find_decoder(par->codec_id);
    engine::av::CodecContextPtr dec(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(dec.get(), par);
    avcodec_open2(dec.get(), codec, nullptr);
    engine::av::FramePtr frame = engine::av::MakeFrame();
    engine::av::FramePtr rgb = engine::av::MakeFrame();
    rgb->format = AV_PIX_FMT_RGB24;
    rgb->width = par->width;
    rgb->height = par->height;
    av_frame_get_buffer(rgb.get(), 0);
    engine::av::SwsContextPtr sws;
    FrameColours last{0, 0};
    auto take = [&] {
        while (avcodec_receive_frame(dec.get(), frame.get()) >= 0) {
            sws.reset(sws_getCachedContext(sws.release(),
                                           frame->width,
                                           frame->height,
                                           static_cast<AVPixelFormat>(frame->format),
                                           par->width,
                                           par->height,
                                           AV_PIX_FMT_RGB24,
                                           SWS_POINT,
                                           nullptr,
                                           nullptr,
                                           nullptr));
            sws_scale(sws.get(),
                      frame->data,
                      frame->linesize,
                      0,
                      frame->height,
                      rgb->data,
                      rgb->linesize);
            last = {PixelAt(rgb.get(), par->width / 2, par->height / 4),
                    PixelAt(rgb.get(), par->width / 2, par->height * 3 / 4)};
            colours.push_back(last);
        }
    };
    AVPacket *pkt = av_packet_alloc();
    while (av_read_frame(ctx, pkt) >= 0) {
        if (pkt->stream_index == index) {
            // Empty chunks are not read: their frames are the gaps in the times.
            while (PacketTime(pkt) != AV_NOPTS_VALUE
                   && static_cast<std::int64_t>(colours.size()) < frameOf(PacketTime(pkt)))
                colours.push_back(last);
            if (pkt->size > 0 && avcodec_send_packet(dec.get(), pkt) >= 0)
                take();
        }
        av_packet_unref(pkt);
    }
    avcodec_send_packet(dec.get(), nullptr);
    take();
    av_packet_free(&pkt);
    avformat_close_input(&ctx);
    return colours;
}

} // namespace testmedia
