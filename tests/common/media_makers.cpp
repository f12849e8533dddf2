#include "media_makers.h"

#include "engine/codecs/avi_ffmpeg.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <QDataStream>
#include <QFile>
#include <QImageWriter>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cmath>
#include <cstring>

namespace testmedia {
namespace {

// Runs a program to its end; true when it exits with status 0.
bool Run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit
           && process.exitCode() == 0;
}

// Arguments written as one line.
QStringList Words(const char *line)
{
    return QString::fromLatin1(line).split(u' ');
}

bool Ffmpeg(const QStringList &arguments)
{
    return Run(QStringLiteral("ffmpeg"), Words("-v error -nostdin -y") + arguments);
}

} // namespace

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

bool SaveCmykJpeg(const QImage &image, const QString &path)
{
    const QString convert = QStandardPaths::findExecutable(QStringLiteral("convert"));
    QTemporaryDir dir;
    const QString png = dir.filePath(QStringLiteral("source.png"));
    return !convert.isEmpty() && image.save(png, "PNG")
           && Run(convert, QStringList{png} << Words("-colorspace CMYK -quality 90") << path);
}

bool SaveBmp(const QImage &image, const QString &path)
{
    return image.convertToFormat(QImage::Format_RGB888).save(path, "BMP");
}

bool SaveGif(const QImage &image, const QString &path)
{
    QTemporaryDir dir;
    const QString png = dir.filePath(QStringLiteral("source.png"));
    return image.save(png, "PNG") && Ffmpeg(Words("-i") << png << Words("-pix_fmt rgb8") << path);
}

bool SaveCorruptPhoto(const QString &path)
{
    // Starts like a JPEG, then nothing a decoder can use.
    const QByteArray bytes
        = QByteArray("\xFF\xD8\xFF\xE0 this photo was damaged in transit") + QByteArray(2000, 'Z');
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

Pcm Tone(std::int64_t frames, double hz, int rate, int channels)
{
    Pcm pcm;
    pcm.rate = rate;
    pcm.channels = channels;
    pcm.samples.resize(static_cast<std::size_t>(frames * channels));
    for (std::int64_t i = 0; i < frames; ++i) {
        const auto v = static_cast<std::int16_t>(
            std::lround(8000 * std::sin(2 * M_PI * hz * static_cast<double>(i) / rate)));
        for (int c = 0; c < channels; ++c)
            pcm.samples[static_cast<std::size_t>(i * channels + c)] = v;
    }
    return pcm;
}

Pcm Ramp(std::int64_t frames)
{
    Pcm pcm;
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
    const auto dataBytes = static_cast<quint32>(pcm.samples.size() * 2);
    const auto channels = static_cast<quint16>(pcm.channels);
    const auto rate = static_cast<quint32>(pcm.rate);
    QDataStream out(&file);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("RIFF", 4);
    out << quint32(36 + dataBytes);
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << channels << rate << quint32(rate * channels * 2)
        << quint16(channels * 2) << quint16(16);
    out.writeRawData("data", 4);
    out << dataBytes;
    out.writeRawData(reinterpret_cast<const char *>(pcm.samples.data()),
                     static_cast<int>(dataBytes));
    return out.status() == QDataStream::Ok && file.flush();
}

bool WriteMusic(const Pcm &pcm, MusicKind kind, const QString &path)
{
    QTemporaryDir dir;
    const QString wav = dir.filePath(QStringLiteral("source.wav"));
    if (!WriteWav(pcm, wav))
        return false;
    const QString seconds = QString::number(static_cast<double>(pcm.Frames()) / pcm.rate);
    QStringList arguments = Words("-i") << wav;
    if (kind == MusicKind::MpegProgramStream) {
        // A small MPEG-1 video stream beside the audio, as long as it.
        arguments << Words("-f lavfi -i")
                  << QStringLiteral("color=c=gray:s=64x48:r=25:d=") + seconds
                  << Words("-map 0:a -map 1:v -c:v mpeg1video -bf 0 -c:a mp2 -f mpeg");
    } else {
        arguments << Words(kind == MusicKind::Wma ? "-c:a wmav2 -f asf" : "-c:a libmp3lame -f mp3");
    }
    return Ffmpeg(arguments << Words("-b:a 128k") << path);
}

Pcm DecodeAudio(const QString &path)
{
    Pcm pcm;
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("decoded.pcm")));
    if (Ffmpeg(Words("-i") << path << Words("-map 0:a:0 -ac 2 -ar 44100 -f s16le")
                           << file.fileName())
        && file.open(QIODevice::ReadOnly)) {
        const QByteArray bytes = file.readAll();
        pcm.samples.resize(static_cast<std::size_t>(bytes.size() / 2));
        std::memcpy(pcm.samples.data(), bytes.constData(), pcm.samples.size() * 2);
    }
    return pcm;
}

AviContents ReadAvi(const QString &path)
{
    AviContents result;
    AVFormatContext *opened = nullptr;
    if (avformat_open_input(&opened, path.toUtf8().constData(), nullptr, nullptr) < 0)
        return result;
    const engine::av::FormatContextPtr ctx(opened);
    result.opened = avformat_find_stream_info(ctx.get(), nullptr) >= 0;
    result.format = QString::fromLatin1(ctx->iformat->name);
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVStream *st = ctx->streams[i];
        AviContents::Stream s;
        s.audio = st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO;
        s.codec = QString::fromUtf8(avcodec_get_name(st->codecpar->codec_id));
        s.width = st->codecpar->width;
        s.height = st->codecpar->height;
        s.frameRateNum = st->avg_frame_rate.num;
        s.frameRateDen = st->avg_frame_rate.den;
        s.headerFrames = st->nb_frames;
        if (st->duration != AV_NOPTS_VALUE)
            s.seconds = static_cast<double>(st->duration) * av_q2d(st->time_base);
        result.streams.push_back(s);
    }
    const engine::av::PacketPtr pkt = engine::av::MakePacket();
    while (av_read_frame(ctx.get(), pkt.get()) >= 0) {
        // The reader leaves the presentation time of some codecs (H.264) unset in AVI;
        // without B-frames it is the decoding time.
        result.packets.push_back(
            {pkt->stream_index, pkt->pts != AV_NOPTS_VALUE ? pkt->pts : pkt->dts, pkt->size});
        av_packet_unref(pkt.get());
    }
    return result;
}

std::vector<FrameColours> DecodeVideoColours(const QString &path)
{
    // Two pixels of every frame at the stream's own rate: a frame whose chunk is empty
    // (a gap in the times) is filled with the one before it.
    std::vector<FrameColours> colours;
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("pixels.rgb")));
    if (!Ffmpeg(
            Words("-i") << path
                        << Words("-filter_complex [0:v:0]format=rgb24,split[a][b];"
                                 "[a]crop=1:1:iw/2:ih/4[t];[b]crop=1:1:iw/2:ih*3/4[u];[t][u]vstack"
                                 " -fps_mode cfr -f rawvideo")
                        << file.fileName())
        || !file.open(QIODevice::ReadOnly))
        return colours;
    const QByteArray bytes = file.readAll();
    const auto *p = reinterpret_cast<const std::uint8_t *>(bytes.constData());
    for (qsizetype at = 0; at + 6 <= bytes.size(); at += 6, p += 6)
        colours.push_back({(std::uint32_t{p[0]} << 16) | (p[1] << 8) | p[2],
                           (std::uint32_t{p[3]} << 16) | (p[4] << 8) | p[5]});
    return colours;
}

} // namespace testmedia
