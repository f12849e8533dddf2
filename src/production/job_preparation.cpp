// "GO": the conductor of a movie run on the main thread. It warns about large photo sets,
// settles the movie's path, renders the slideshow into the temporary AVI and hands over
// to the conversion stage.

#include "app/main_dialog.h"
#include "platform/file_system.h"
#include "platform/prompter.h"
#include "platform/system_folders.h"
#include "production/conversion_stage.h"
#include "production/path_style.h"

#include <QProgressBar>
#include <QTimer>

using namespace ids;

namespace {

// Photo sets above this many bytes may exhaust the render; the user is asked first.
constexpr qint64 kPhotoVolumeWarningBytes = 60000000;
constexpr int kConversionStartProgress = 81;

} // namespace

void MainDialog::OnGo()
{
    // Enter reaches here even while a run is under way; a second run would work over the
    // first one's files.
    if (m_busy)
        return;
    // Photos may have been deleted or replaced since they were listed: warn about the
    // ones there are now.
    RecountPhotoBytes();
    if (m_totalPhotoBytes > kPhotoVolumeWarningBytes) {
        const auto answer = m_services.prompter->MessageBox(
            this,
            QStringLiteral("Please do not increase more than 60 megabytes of photos, otherwise may "
                           "fail. Do you want to continue?"),
            QStringLiteral("Warning"),
            platform::MessageButtons::OkCancel,
            platform::MessageIcon::None);
        if (answer != platform::MessageResult::Ok)
            return;
    }
    UpdateData(true);
    // Music typed into the box counts when none was chosen; a name that does not exist
    // is left for the render to report as missing music.
    if (m_musicFiles.isEmpty()) {
        const QString typed = ControlText(IDC_MUSIC_FILE);
        if (!typed.isEmpty() && m_services.fileSystem->Exists(typed))
            m_musicFiles.append(typed);
    }
    if (!PrepareOutputPaths())
        return;
    if (!RenderSlideshowToAvi())
        return;

    // The converter writes a new movie; an old one at the path would only mislead the
    // finishing step.
    m_services.fileSystem->DeleteFile(m_outputPath);
    m_converting = 1;
    m_progressPos = kConversionStartProgress;
    ConversionTimer()->start();
    m_progress->setValue(kConversionStartProgress);
    if (!StartConversionWorker()) {
        // Without a worker the stage would never end: say so and let the next tick
        // return the window to idle.
        m_services.prompter->AppMessageBox(QStringLiteral("Failed to create the movie."));
        m_converting = 0;
    }
}

bool MainDialog::PrepareOutputPaths()
{
    UpdateData(true);
    production::OutputPathRequest request;
    request.typed = ControlText(IDC_OUTPUT);
    request.windowsDir = m_windowsDir;
    request.outputExt = m_outputExt;
    request.previousWorkDir = m_workDir;
    platform::SystemFolders *folders = m_services.folders;
    request.askWindowsFolder = [folders] { return folders->WindowsFolder(); };

    const production::OutputPathPlan plan = production::PlanOutputPaths(
        production::kNativePathStyle, request, *m_services.fileSystem);
    if (!plan.boxText.isNull())
        SetControlText(IDC_OUTPUT, plan.boxText);
    if (!plan.message.isEmpty()) {
        m_services.prompter->AppMessageBox(plan.message);
        if (plan.focusOutputBox)
            Control(IDC_OUTPUT)->setFocus();
        return false;
    }
    m_outputPath = plan.outputPath;
    m_workDir = plan.workDir;
    m_tempAviPath = plan.tempAviPath;
    return true;
}
