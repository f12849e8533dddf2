// The music file and the output file of the main window. The first entry of
// m_musicFiles is the movie's soundtrack; the output field is only a proposal until "GO"
// turns it into the movie's path.

#include "app/main_dialog.h"
#include "media/chooser_folders.h"
#include "platform/file_system.h"
#include "platform/prompter.h"

using namespace ids;

namespace {

// Description and pattern pairs of the music chooser; the first one is selected at first.
const QString kMusicFilters = QStringLiteral(
    "mp3 file|*.mp3|wma file|*.wma|wave file|*.wav|mpg file|*.mpg|All Files|*.*||");

} // namespace

void MainDialog::OnChooseMusic()
{
    const std::optional<QString> file = m_services.prompter->OpenFile(
        this,
        kMusicFilters,
        /*fileMustExist=*/true,
        media::ChooserStartFolder(ControlText(IDC_MUSIC_FILE), QStandardPaths::MusicLocation));
    if (!file)
        return;
    SetControlText(IDC_MUSIC_FILE, *file);
    m_musicFiles.clear();
    m_musicFiles.append(*file);
}

void MainDialog::OnMusicFieldKillFocus()
{
    const QString text = TrimmedRight(ControlText(IDC_MUSIC_FILE));
    if (text.isEmpty()) {
        m_musicFiles.clear();
        return;
    }
    // Appends, without emptying the list first: the first entry stays the soundtrack.
    if (m_services.fileSystem->Exists(text))
        m_musicFiles.append(text);
}

void MainDialog::OnChooseOutput()
{
    const QString folder = BrowseForFolder(
        media::ChooserStartFolder(ControlText(IDC_OUTPUT), QStandardPaths::MoviesLocation));
    if (folder.isEmpty())
        return;
    // The root already ends in the separator.
    const QString name
        = folder.endsWith(u'/') ? QStringLiteral("Output.") : QStringLiteral("/Output.");
    SetControlText(IDC_OUTPUT, folder + name + m_outputExt);
}
