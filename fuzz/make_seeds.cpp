// Writes the seeds of the photo and music targets with the tests' own makers:
//   fuzz_make_seeds FOLDER   (FOLDER/photo and FOLDER/music_length are filled)
// Each seed is the target's choice byte followed by the file.

#include "media_makers.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>

namespace {

bool WriteSeed(const QString &folder,
               const QString &name,
               char choice,
               const std::function<bool(const QString &)> &make)
{
    QTemporaryDir scratch;
    const QString made = scratch.filePath(name);
    QFile in(made);
    if (!make(made) || !in.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot make %s\n", qPrintable(name));
        return false;
    }
    QDir().mkpath(folder);
    QFile out(folder + u'/' + name);
    return out.open(QIODevice::WriteOnly) && out.write(QByteArray(1, choice) + in.readAll()) > 0;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2)
        return 2;
    const QString photos = QString::fromLocal8Bit(argv[1]) + QStringLiteral("/photo");
    const QString music = QString::fromLocal8Bit(argv[1]) + QStringLiteral("/music_length");
    const QImage split = testmedia::SplitImage(24, 16, Qt::red, Qt::blue);
    testmedia::JpegOptions turned;
    turned.orientation = QImageIOHandler::TransformationRotate90;
    turned.progressive = true;
    const testmedia::Pcm tone = testmedia::Tone(2400, 440, 8000, 1);
    using testmedia::MusicKind;
    bool ok = true;
    // Choice byte: stretch mode in bits 0-1, frame size in bits 2-4.
    ok &= WriteSeed(photos, QStringLiteral("plain.jpg"), 0x02, [&](const QString &p) {
        return testmedia::SaveJpeg(split, p);
    });
    ok &= WriteSeed(photos, QStringLiteral("turned.jpg"), 0x13, [&](const QString &p) {
        return testmedia::SaveJpeg(split, p, turned);
    });
    ok &= WriteSeed(photos, QStringLiteral("cmyk.jpg"), 0x01, [&](const QString &p) {
        return testmedia::SaveCmykJpeg(split, p);
    });
    ok &= WriteSeed(photos, QStringLiteral("photo.bmp"), 0x00, [&](const QString &p) {
        return testmedia::SaveBmp(split, p);
    });
    ok &= WriteSeed(photos, QStringLiteral("photo.gif"), 0x0b, [&](const QString &p) {
        return testmedia::SaveGif(split, p);
    });
    // Choice byte: the extension, 0 .mp3, 1 .wma, 2 .wav, 3 .mpeg.
    ok &= WriteSeed(music, QStringLiteral("tone.mp3"), 0, [&](const QString &p) {
        return testmedia::WriteMusic(tone, MusicKind::Mp3, p);
    });
    ok &= WriteSeed(music, QStringLiteral("tone.wma"), 1, [&](const QString &p) {
        return testmedia::WriteMusic(tone, MusicKind::Wma, p);
    });
    ok &= WriteSeed(music, QStringLiteral("tone.wav"), 2, [&](const QString &p) {
        return testmedia::WriteWav(tone, p);
    });
    ok &= WriteSeed(music, QStringLiteral("tone.mpeg"), 3, [&](const QString &p) {
        return testmedia::WriteMusic(tone, MusicKind::MpegProgramStream, p);
    });
    return ok ? 0 : 1;
}
