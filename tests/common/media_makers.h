#pragma once
// Photos and music that tests make for themselves: JPEG (baseline, progressive, CMYK,
// turned by an EXIF orientation), BMP and GIF photos; tones written as WAV, MP3, WMA
// (wmav2 in ASF) and MPEG program streams (MPEG audio next to an MPEG video stream).

#include <QColor>
#include <QImage>
#include <QImageIOHandler>
#include <QString>

#include <cstdint>
#include <vector>

namespace testmedia {

QImage SolidImage(int width, int height, QColor color);
// Left half `left`, right half `right`.
QImage SplitImage(int width, int height, QColor left, QColor right);

struct JpegOptions
{
    int quality = 90;
    bool progressive = false;
    // Written as the EXIF orientation: how the stored picture must be turned to stand
    // upright (QImageIOHandler::TransformationRotate90 is EXIF orientation 6).
    QImageIOHandler::Transformations orientation = QImageIOHandler::TransformationNone;
};
bool SaveJpeg(const QImage &image, const QString &path, const JpegOptions &options = {});
// A CMYK JPEG (as print workflows make them), written with ImageMagick's convert.
// False when convert is not installed or fails.
bool SaveCmykJpeg(const QImage &image, const QString &path);
bool SaveBmp(const QImage &image, const QString &path);
// A one-frame GIF (libavcodec's GIF encoder). Colours are stored with 3 bits of red and
// green and 2 of blue: a full channel comes back as 252 (red, green) or 255 (blue).
bool SaveGif(const QImage &image, const QString &path);
// A file named like a photo that no decoder can read.
bool SaveCorruptPhoto(const QString &path);

// Interleaved 16-bit PCM.
struct Pcm
{
    int rate = 44100;
    int channels = 2;
    std::vector<std::int16_t> samples;
    std::int64_t Frames() const { return static_cast<std::int64_t>(samples.size()) / channels; }
};

// A sine tone of `frames` frames at `hz`, the same on every channel.
Pcm Tone(std::int64_t frames, double hz, int rate = 44100, int channels = 2);
// A ramp that makes every frame recognisable: frame i holds (i % 30000) + 1 on the left
// channel and its negation on the right (never 0, so silence is told apart).
Pcm Ramp(std::int64_t frames);

bool WriteWav(const Pcm &pcm, const QString &path);

enum class MusicKind { Mp3, Wma, MpegProgramStream };
// Encodes the PCM with libavcodec/libavformat: MP3 (libmp3lame), WMA (wmav2 in ASF), or an
// MPEG program stream holding MPEG-1 audio layer 2 next to a small MPEG-1 video stream
// that lasts as long.
bool WriteMusic(const Pcm &pcm, MusicKind kind, const QString &path);

// Decodes the audio of any file to 16-bit stereo PCM at 44.1 kHz (for checks).
Pcm DecodeAudio(const QString &path);

// What libavformat reads in a movie file (AVI or MP4): its format, streams and packets.
struct PacketInfo
{
    int stream = 0;
    std::int64_t pts = 0;
    int size = 0;
};
struct AviContents
{
    bool opened = false;
    QString format;
    struct Stream
    {
        bool audio = false;
        QString codec;
        int width = 0, height = 0;
        int frameRateNum = 0, frameRateDen = 0;
        std::int64_t headerFrames = 0; // nb_frames from the header
        double seconds = 0;            // duration from the header
    };
    std::vector<Stream> streams;
    std::vector<PacketInfo> packets; // in reading order
};
AviContents ReadAvi(const QString &path);

// Decodes the video stream; a frame of an empty chunk repeats the previous picture. Returns the
// colour (0xRRGGBB, from the centre of the top and bottom halves) of every frame.
struct FrameColours
{
    std::uint32_t top;
    std::uint32_t bottom;
};
std::vector<FrameColours> DecodeVideoColours(const QString &path);

} // namespace testmedia
