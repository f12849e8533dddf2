// "GO": the conductor of a movie run on the main thread. It warns about large photo sets,
// settles the movie's path, renders the slideshow into the temporary AVI and hands over
// to the conversion stage.

#include "app/main_dialog.h"
#include "engine/library_log.h"
#include "platform/file_system.h"
#include "platform/prompter.h"
#include "platform/system_folders.h"
#include "production/conversion_stage.h"
#include "production/path_style.h"

#include <QTimer>

#include <cerrno>
#include <cstring>

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
    m_movieMade = false;
    m_unreadablePhotos.clear();
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
    if (!PrepareOutputPaths() || !MakeTempAvi())
        return;
    // A failed render, or one that a closing window (or a signal) has stopped, leaves
    // nothing behind.
    if (!RenderSlideshowToAvi() || m_stopRequested) {
        DiscardRunFiles();
        return;
    }

    // The converter writes the new movie beside the old one, which it replaces only once
    // it plays (FinishConversion): a failed run leaves the old movie as it was.
    if (!PrepareNewMovie())
        return;
    m_converting = 1;
    m_progressPos = kConversionStartProgress;
    ConversionTimer()->start();
    SetProgress(kConversionStartProgress);
    if (!StartConversionWorker()) {
        // Without a worker the stage would never end: say so and let the next tick
        // return the window to idle.
        m_services.prompter->AppMessageBox(QStringLiteral("Failed to create the movie."));
        m_convertFailed = 1;
        m_converting = 0;
    }
}

namespace {

// The output box and the record's folders, as the path rules take them.
production::OutputPathRequest OutputRequest(const MainDialog &dialog)
{
    production::OutputPathRequest request;
    request.typed = dialog.ControlText(IDC_OUTPUT);
    request.windowsDir = dialog.m_windowsDir;
    request.outputExt = dialog.m_outputExt;
    request.previousWorkDir = dialog.m_workDir;
    platform::SystemFolders *folders = dialog.Services().folders;
    request.askWindowsFolder = [folders] { return folders->WindowsFolder(); };
    return request;
}

} // namespace

QString MainDialog::PlanMoviePath(platform::FileSystem &fs)
{
    return production::PlanOutputPaths(production::kNativePathStyle, OutputRequest(*this), fs)
        .outputPath;
}

bool MainDialog::PrepareOutputPaths()
{
    UpdateData(true);
    const production::OutputPathPlan plan = production::PlanOutputPaths(
        production::kNativePathStyle, OutputRequest(*this), *m_services.fileSystem);
    if (!plan.boxText.isNull())
        SetControlText(IDC_OUTPUT, plan.boxText);
    if (!plan.message.isEmpty()) {
        m_services.prompter->AppMessageBox(plan.message);
        if (plan.focusOutputBox)
            Control(IDC_OUTPUT)->setFocus();
        return false;
    }
    if (const QString input = InputAtPath(plan.outputPath); !input.isEmpty()) {
        m_services.prompter->AppMessageBox(
            QStringLiteral("The movie would replace %1, which the movie is made from. Please "
                           "choose another name for the movie.")
                .arg(input));
        Control(IDC_OUTPUT)->setFocus();
        return false;
    }
    m_outputPath = plan.outputPath;
    m_workDir = plan.workDir;
    m_tempAviPath = plan.tempAviPath;
    return true;
}

QString MainDialog::InputAtPath(const QString &path) const
{
    platform::FileSystem &fs = *m_services.fileSystem;
    const auto target = fs.Status(path);
    if (!target || target->inode == 0)
        return QString();
    QStringList inputs = m_photoPaths;
    inputs.prepend(m_musicFiles.value(0));
    for (const QString &input : inputs) {
        const auto status = fs.Status(input);
        if (status && status->device == target->device && status->inode == target->inode)
            return input;
    }
    return QString();
}

bool MainDialog::MakeTempAvi()
{
    // A file of that name may be the user's, a link, or another run's: the run makes a
    // new file of its own, under a free name when "TempData.avi" is taken.
    m_tempAviMade = false;
    const QString made = production::CreateTempAvi(*m_services.fileSystem, m_workDir);
    if (made.isEmpty()) {
        m_services.prompter->AppMessageBox(
            QStringLiteral("The output file can't be created. Please check the directory "
                           "attributes.\nNo temporary file could be made in %1")
                .arg(m_workDir));
        return false;
    }
    m_tempAviPath = made;
    m_tempAviMade = true;
    return true;
}

bool MainDialog::PrepareNewMovie()
{
    platform::FileSystem &fs = *m_services.fileSystem;
    // What is at the movie's path may have changed since the paths were planned.
    QString problem = production::WhatIsInTheWay(fs, m_outputPath);
    if (problem.isEmpty()) {
        m_newMoviePath = production::CreateNewMovieFile(fs, m_outputPath);
        m_movieStarted = !m_newMoviePath.isEmpty();
        if (m_movieStarted)
            return true;
        problem = QStringLiteral("The output file can't be created. Please check the directory "
                                 "attributes.\nNo file could be made beside %1")
                      .arg(m_outputPath);
    }
    engine::DebugLog(QStringLiteral("run stopped before the conversion: ") + problem);
    SetIdle(true);
    DiscardRunFiles();
    m_services.prompter->AppMessageBox(problem);
    return false;
}

bool MainDialog::PutNewMovieInPlace()
{
    if (m_services.fileSystem->ReplaceFile(m_newMoviePath, m_outputPath)) {
        m_movieStarted = false;
        return true;
    }
    const QString why = QString::fromLocal8Bit(std::strerror(errno));
    engine::DebugLog(
        QStringLiteral("could not rename %1 to %2: %3").arg(m_newMoviePath, m_outputPath, why));
    m_services.prompter->AppMessageBox(
        QStringLiteral("Failed to create the movie.\nThe new movie could not replace %1: %2")
            .arg(m_outputPath, why));
    return false;
}

void MainDialog::DiscardRunFiles()
{
    if (m_movieStarted)
        RemoveRunFile(m_newMoviePath);
    if (m_tempAviMade)
        RemoveRunFile(m_tempAviPath);
    m_movieStarted = false;
    m_tempAviMade = false;
}

void MainDialog::RemoveRunFile(const QString &path)
{
    platform::FileSystem &fs = *m_services.fileSystem;
    const auto status = fs.Status(path);
    if (!status || status->isLink || !status->isRegularFile)
        return;
    if (!fs.DeleteFile(path))
        engine::DebugLog(QStringLiteral("could not delete %1: %2")
                             .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
}
