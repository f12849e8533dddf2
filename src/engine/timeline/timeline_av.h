#pragma once
// Opening media files for the timeline's media code (the media detector, the music
// reader, the default resizer).

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include "engine/av_ptr.h"

#include <QFile>
#include <QString>

#include <memory>

namespace engine::av {

// A path as FFmpeg takes it: in the file system's encoding, as every other file call of
// the program names it (a name Qt decoded from invalid UTF-8 comes back as it was).
inline QByteArray FileNameForLibrary(const QString &path)
{
    return QFile::encodeName(path);
}

// Opens a media file for reading and reads its stream information; null when the file
// cannot be opened or is not media.
inline FormatContextPtr OpenInput(const QString &path)
{
    AVFormatContext *raw = nullptr;
    const QByteArray name = FileNameForLibrary(path);
    if (avformat_open_input(&raw, name.constData(), nullptr, nullptr) < 0)
        return nullptr;
    FormatContextPtr ctx(raw);
    if (avformat_find_stream_info(ctx.get(), nullptr) < 0)
        return nullptr;
    return ctx;
}

// The streams that count as the file's media: audio and video, leaving out pictures that
// ride along as attachments (an MP3's cover art).
// A stream whose parameters could not be learned (a damaged file that a probe mistook for
// something) does not count either.
inline bool IsMediaStream(const AVStream *stream)
{
    const AVCodecParameters *par = stream->codecpar;
    if (par->codec_type == AVMEDIA_TYPE_AUDIO)
        return par->sample_rate > 0 && par->ch_layout.nb_channels > 0;
    return par->codec_type == AVMEDIA_TYPE_VIDEO
           && !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC) && par->width > 0
           && par->height > 0;
}

} // namespace engine::av
