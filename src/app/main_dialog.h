#pragma once
// The main window: the program's one top-level window and the record of the job's whole
// state. Its operations live in the files of the folders that own them (photo collection
// in src/media, settings in src/settings, production in src/production, ...), all as
// members of this one class.

#include "platform/com.h"
#include "platform/processes.h"
#include "platform/services.h"
#include "platform/text.h"
#include "resources/dialog_builder.h"
#include "resources/resource_ids.h"

#include <QIcon>
#include <QStringList>

#include <atomic>
#include <functional>
#include <map>
#include <memory>

class QMenu;
class QProgressBar;
class QTimer;
class QTreeWidget;

namespace engine {
class IBaseFilter;
}
namespace platform {
class FileSystem;
}

// A 32-bit flag, 0 or 1.
using BOOL = int;

using platform::TrimmedRight;

class MainDialog : public resources::TemplateDialog
{
    Q_OBJECT

public:
    explicit MainDialog(const platform::Services &services = platform::Services::Real(),
                        QWidget *parent = nullptr);
    ~MainDialog() override;

    // Initialises the window (once, before it is first shown), then runs it modally.
    int DoModal();
    // Ends every dialog and box open over this window, as by Cancel (a termination signal
    // ends the window, and must not wait for an answer).
    void CloseModalDialogs();

    // ---- The main window state record, in declaration order ------------------------
    QProgressBar *m_progress = nullptr; // bound to 3002, range 0 to 100
    QTreeWidget *m_photoList = nullptr; // bound to 3007, "Selected Files"
    BOOL m_addMotionEffect = 1;         // check box 1007
    QIcon m_hIcon;                      // icon resource 4, big and small
    QStringList m_photoPaths;           // full path of each listed photo, in row order
    QStringList m_musicFiles;           // the first entry is the soundtrack
    QStringList m_columnTitles;
    std::atomic<int> m_stopRequested{0}; // the window is closing; workers stop
    QString m_title;
    int m_secondsPerPhoto = 4;
    double m_frameRate = 29.97;
    // m_bkBrush: the background brush, kept by TemplateDialog (RGB 230, 230, 240).
    int m_secondsIndex = 1;
    int m_sizeIndex = 0;
    int m_videoWidth = 320;
    int m_videoHeight = 240;
    BOOL m_playWholeMusic = 0;
    BOOL m_compressAudio = 1;
    QString m_outputExt = QStringLiteral("mp4");
    QString m_outputPath;
    QString m_workDir;
    QString m_tempAviPath;
    // Where the converter writes the new movie, beside m_outputPath (path_style.h).
    QString m_newMoviePath;
    QString m_converterPath;
    // Sum of the listed photos' sizes. 64-bit: a 32-bit sum wraps negative past 2 GB.
    qint64 m_totalPhotoBytes = 0;
    QString m_windowsDir;
    QString m_systemDir;
    BOOL m_highQuality = 1;
    std::atomic<int> m_busy{0};
    std::atomic<int> m_processRunning{0}; // a child in m_processInfo is running
    platform::ProcessInfo m_processInfo;
    QString m_version;
    std::atomic<int> m_converting{0};    // the conversion stage is running
    std::atomic<int> m_convertOk{0};     // the converter reported success
    std::atomic<int> m_convertFailed{0}; // the worker has reported a failed conversion
    std::atomic<int> m_convertBroken{0}; // the converter failed outright: its movie is not used
    QString m_programDir;                // with a trailing '/'
    int m_progressPos = 0;

    // ---- Shell ------------------------------------------------------------------------
    // Returns true after a complete initialisation, false when it stopped early.
    bool OnInitDialog();
    // Exchanges the bound values: into the record (true) or out to the controls (false).
    void UpdateData(bool saveAndValidate);
    // Idle (true) or busy (false).
    void SetIdle(bool enable);
    // The progress bar's position, 0 to 100.
    void SetProgress(int percent);
    int Progress() const;
    // Stops whatever runs and releases the window's resources; runs on every way out.
    void CleanUpOnExit();
    // The main window's error box: caption "Error", exclamation icon.
    void ShowError(const QString &text);
    // The exit request (Exit button, Escape, close box).
    void OnCancel();
    // Runs the handler of a command identifier (buttons, menu items).
    void OnCommand(int id);
    void OnSysCommand(unsigned id);
    // The About box (src/help/show_help.cpp).
    void OnAbout();
    // The menu's Exit.
    void OnMenuExit();
    // The window is going away.
    void OnDestroy();
    // A termination signal: ends the window as Exit does after OK, without waiting for
    // anyone to answer a box.
    void EndOnSignal();

    // Paints the client area: background, the icon when minimised, then the band.
    void Paint(QPainter &painter, bool minimised);

    // Texts of edit boxes and labels, read and written directly.
    QString ControlText(int id) const;
    void SetControlText(int id, const QString &text);

    QMenu *SystemMenu() const { return m_systemMenu; }
    QTimer *ConversionTimer() const { return m_conversionTimer; }
    const platform::Services &Services() const { return m_services; }

    // ---- Photo collection (src/media/photo_collection.cpp) ----------------------------
    void InitPhotoListColumns();
    // The folder chooser, opened at startFolder: the chosen folder, or an empty text when
    // the user cancelled.
    QString BrowseForFolder(const QString &startFolder);
    // Photos "...": adds a folder's photos to the list.
    void OnAddPhotoFolder();
    // Appends the folder's entries with that extension to the list and to m_photoPaths;
    // returns the list's new row count.
    int ScanFolder(const QString &folder, const QString &extension);
    // "Remove" and the Delete key: removes the selected row.
    void OnRemovePhoto();
    void OnRemoveAllPhotos();
    void OnPhotoUp();
    void OnPhotoDown();
    // Removes entry `row` of m_photoPaths, the entry of the list's row of that index;
    // false when there is no such entry.
    bool RemovePhotoPath(int row);
    // The count label 1054.
    void UpdatePhotoCount();
    // Sets m_totalPhotoBytes to the sizes the listed photos have now; a photo deleted or
    // emptied since it was listed counts for what is left of it.
    void RecountPhotoBytes();
    // The list's Delete key and the music field's loss of focus.
    void ConnectSelectionNotifications();

    // ---- Music and output (src/media/music_output.cpp) --------------------------------
    // Music "...": the file-open dialog; the chosen file becomes the only music entry.
    void OnChooseMusic();
    // The music field 3010 lost the focus: re-checks its text.
    void OnMusicFieldKillFocus();
    // Output "...": proposes "Output." + m_outputExt in the chosen folder.
    void OnChooseOutput();

    // ---- Settings (src/settings/) -----------------------------------------------------
    // The settings store (settings_store.cpp): one text per setting, kept as the default
    // value of a sub-key of the program's key under the machine root. A missing setting
    // reads as empty; nothing is reported on failure.
    QString ReadAppSetting(const QString &name);
    void WriteAppSetting(const QString &name, const QString &text);
    // "Setting": runs the settings dialog and takes its values on OK.
    void OnSetting();
    // Computes the frame rate, seconds per photo and video size from the two indexes.
    void ApplySettings();

    // ---- Production (src/production/) -------------------------------------------------
    // Media engine start-up (engine_startup.cpp). The media libraries' own log lines go to
    // the debug log, never to the user's terminal; the first thing the program does.
    static void InstallMediaLibraryLog();
    // Makes the engine's classes known to the class store, before the first window exists.
    static void RegisterMediaClasses();
    // Codec discovery (codec_discovery.cpp): the first installed compressor whose friendly
    // name is exactly `name` (or "MPEG Layer-3" for audio), bound into `filter`. True when
    // a filter was bound.
    bool FindVideoCompressor(platform::ComPtr<engine::IBaseFilter> &filter, const QString &name);
    bool FindAudioCompressor(platform::ComPtr<engine::IBaseFilter> &filter);
    // True when a video compressor of that friendly name is installed (the filter found
    // is let go at once).
    bool HasVideoCompressor(const QString &name);
    // "GO" and Enter (job_preparation.cpp): the whole movie run. Does nothing while a run
    // is under way.
    void OnGo();
    // Turns the output box into m_outputPath, m_workDir and m_tempAviPath; false after a
    // message, when the run must stop. A movie path that names the music or a listed
    // photo is refused.
    bool PrepareOutputPaths();
    // The movie path "GO" would give the output box's text, worked out over `fs` as
    // PrepareOutputPaths does; nothing in the record changes.
    QString PlanMoviePath(platform::FileSystem &fs);
    // The music or listed photo that is the same file as `path`; empty when none is.
    QString InputAtPath(const QString &path) const;
    // Creates the run's own temporary AVI in m_workDir and sets m_tempAviPath to it;
    // false after a message.
    bool MakeTempAvi();
    // Creates m_newMoviePath beside the movie, for the converter to write into; the old
    // movie at m_outputPath stays until the new one has been checked. False (after a
    // message, with the window idle and the run's files removed) when something other
    // than a regular file is at the movie's path or no file can be made beside it.
    bool PrepareNewMovie();
    // Puts the checked new movie in the place of the old one, in one step; false after
    // a message.
    bool PutNewMovieInPlace();
    // Removes what the current run made and did not finish: its temporary AVI and the
    // new movie's file. Nothing else is touched (an old movie stays); the run no longer
    // counts them as its own.
    void DiscardRunFiles();
    // Removes `path` when it is a regular file (never a link, folder, device or FIFO).
    void RemoveRunFile(const QString &path);
    // The last run ended with a movie that plays.
    bool m_movieMade = false;
    // The listed photos of the last run that could not be decoded (they show as black).
    QStringList m_unreadablePhotos;
    // What the current run has made and so may remove.
    bool m_tempAviMade = false;
    bool m_movieStarted = false; // m_newMoviePath has been made

    // The conversion stage (conversion_stage.cpp). RunConversion runs on the worker
    // thread: 1 when it ended without a failure message, 0 after "Failed to create the
    // movie.".
    int RunConversion();
    // Timer 100: steps the progress bar and finishes the run once the worker is done.
    void OnTimer(int timerId);
    void FinishConversion();
    // Ties timer 100 to OnTimer.
    void ConnectConversionTimer();
    // Starts the conversion worker; false when no thread could be started.
    bool StartConversionWorker();
    // Ends the converter of a running stage, waits for it and joins the worker.
    void StopConversionWorker();
    // The conversion worker of the current or last run (conversion_stage.h). Shared
    // ownership only so that the type may stay incomplete here; the window is its one
    // owner, and its end joins the worker.
    class ConversionWorker;
    std::shared_ptr<ConversionWorker> m_conversionWorker;
    // Each piece of the converter's output as it is read, called on the conversion
    // worker's thread. The window leaves it empty (its bar moves on timer 100); the batch
    // front end reads the converter's own progress from it. Set it before "GO".
    std::function<void(const QString &)> m_converterOutputListener;
    // The production stage (render_slideshow.cpp): builds the slideshow's timeline and
    // renders it into m_tempAviPath. True when the graph ran to its end (also after an
    // error while streaming, or a close request during the wait); false after a reported
    // failure, with the window idle again.
    bool RenderSlideshowToAvi();
    // The "Warning" question offering the preferred codec's installer; true for Yes.
    bool AskToInstallVideoCodec();
    // Codec choice (codec_choice.cpp): the preferred video compressor, else (after
    // offering its installer, when offerInstaller) the first installed fallback. True
    // when `filter` was bound. A run offers the installer once: its second try passes
    // false.
    bool ChooseVideoCompressor(platform::ComPtr<engine::IBaseFilter> &filter,
                               bool offerInstaller = true);
    // 3 for MPEG audio ("mp3", "mpeg", "mpg", "mpega", "mp2", any letter case), else 0.
    // An empty path stands for the first music file.
    int GetAudioFileKind(const QString &path);
    // What the render loop divides the progress by, for the first music file.
    int RenderProgressDivisor() const;
    // Handles the events waiting for this thread and returns; never waits.
    void PumpWaitingMessages();

    // ---- Support components (src/support/) --------------------------------------------
    // The installation steps of every start, run before the window is first shown.
    void RunStartupSequence();
    // Copies the server `name` from the program folder into the system folder and calls
    // its DllRegisterServer from the copy (from the program folder when the copy fails).
    // True when the entry point was found and called.
    bool RegisterServerInProcess(const QString &name);
    // Runs the codec installer and waits for it; false when it cannot be started (the
    // user has been told).
    bool InstallVideoCodec();
    // The same copy, then "regsvr32 /s <path>" started through the shell, not waited for.
    bool RegisterServerSilently(const QString &name);
    // First start: copies the converter and its libraries into the system folder and
    // records in "Admin" whether all of them got there.
    bool CopyConverterFiles();
    // Later starts: when the converter runs from the system folder ("Admin" is "1") but a
    // file the first start copied there is gone, copies the converter files again.
    void RestoreConverterFiles();
    // Sets m_converterPath from "Admin".
    bool LocateConverter();
    // Tells the user which file of the converter is missing beside it, if any.
    void ReportMissingConverterFile();
    // Looks for the preferred video compressor unless it has been seen before, and offers
    // its installer when it is missing.
    bool CheckVideoCodecAtStartup();

    // ---- Help (src/help/) -------------------------------------------------------------
    // "?": the help file, owned by this window.
    void ShowHelp();
    // Help menu, "Context Help": the F1 key's command, the help file without an owner.
    void OnContextHelp();
    // F1 in one of this window's dialogs: the help file at that dialog's page
    // ("settings.html"), without an owner, so that it can be used beside the dialog.
    void ShowHelpTopic(const QString &page);
    // Commands this window does not handle itself go to the application (its help
    // command, F1); without an application they are dropped.
    void SetApplicationCommandRoute(std::function<void(int)> route)
    {
        m_routeToApp = std::move(route);
    }

protected:
    void PaintClient(QPainter &painter) override;
    void ClientContextMenu(const QPoint &globalPos) override;
    void keyPressEvent(QKeyEvent *event) override;
    void reject() override;
    void done(int result) override;

private:
    using Handler = void (MainDialog::*)();
    void BuildDispatchTable();
    void ConnectControls();
    // Deletes a file, retrying while it resists; a file that is already gone counts as
    // deleted.
    void DeleteTempFileWithRetries(const QString &path);
    // While busy: the keyboard focus where Enter cannot end the job.
    void KeepFocusOnGo();

    platform::Services m_services;
    std::map<int, Handler> m_commands;
    std::function<void(int)> m_routeToApp;
    QMenu *m_systemMenu = nullptr;
    QTimer *m_conversionTimer = nullptr;
    bool m_initialised = false;
    bool m_destroyed = false;
};
