// Which video compressor a movie run uses, what kind of audio the music file holds, and
// the message pump that keeps the window alive while the graph renders.

#include "app/main_dialog.h"

#include "platform/prompter.h"
#include "production/render_stage.h"

#include <QCoreApplication>

namespace {

const QString kPreferredVideoCompressor = QStringLiteral("Microsoft Windows Media Video 9");
// Older compressors, tried in this order when the preferred one is missing.
const QString kFallbackVideoCompressors[] = {
    QStringLiteral("Cinepak Codec by Radius"),
    QStringLiteral("Microsoft Video 1"),
    QStringLiteral("Intel Indeo(R) Video R3.2"),
};

// Extensions of MPEG audio, which goes into the AVI as it is.
const QString kMpegAudioExtensions[] = {
    QStringLiteral("mp3"),
    QStringLiteral("mpeg"),
    QStringLiteral("mpg"),
    QStringLiteral("mpega"),
    QStringLiteral("mp2"),
};

} // namespace

namespace production {

QString ExtensionOf(const QString &path)
{
    const qsizetype dot = path.lastIndexOf(u'.');
    return dot > 0 ? path.mid(dot + 1) : QString();
}

int ProgressDivisor(const QString &musicPath)
{
    const QString extension = ExtensionOf(musicPath);
    if (extension.isEmpty() || extension.compare(QLatin1String("mp3"), Qt::CaseInsensitive) == 0
        || extension.compare(QLatin1String("wav"), Qt::CaseInsensitive) == 0)
        return 4;
    return 6;
}

} // namespace production

int MainDialog::RenderProgressDivisor() const
{
    return production::ProgressDivisor(m_musicFiles.value(0));
}

bool MainDialog::AskToInstallVideoCodec()
{
    const auto answer = m_services.prompter->MessageBox(
        this,
        QStringLiteral("Vantorel will use microsoft windows video codec. Please install the "
                       "wmv9VCMsetup.exe in order to get the high-quality product. To install it "
                       "now?"),
        QStringLiteral("Warning"),
        platform::MessageButtons::YesNo,
        platform::MessageIcon::None);
    return answer == platform::MessageResult::Yes;
}

bool MainDialog::ChooseVideoCompressor(platform::ComPtr<engine::IBaseFilter> &filter,
                                       bool offerInstaller)
{
    if (FindVideoCompressor(filter, kPreferredVideoCompressor))
        return true;

    // Built afresh on every call: the preferred compressor comes first again only when
    // its installer has just run.
    QStringList candidates;
    if (offerInstaller && AskToInstallVideoCodec() && InstallVideoCodec())
        candidates.append(kPreferredVideoCompressor);
    for (const QString &name : kFallbackVideoCompressors)
        candidates.append(name);

    for (const QString &name : std::as_const(candidates)) {
        if (FindVideoCompressor(filter, name))
            return true;
    }
    return false;
}

int MainDialog::GetAudioFileKind(const QString &path)
{
    QString music = path;
    if (music.isEmpty() && !m_musicFiles.isEmpty())
        music = m_musicFiles.first();
    if (music.isEmpty())
        return 0;
    const QString extension = production::ExtensionOf(music);
    for (const QString &mpeg : kMpegAudioExtensions) {
        if (extension.compare(mpeg, Qt::CaseInsensitive) == 0)
            return 3;
    }
    return 0;
}

void MainDialog::PumpWaitingMessages()
{
    // Handles what is waiting and returns; never blocks for new events.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}
