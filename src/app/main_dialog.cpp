#include "app/main_dialog.h"

#include "platform/file_system.h"
#include "platform/prompter.h"
#include "platform/system_folders.h"
#include "platform/termination_signals.h"

#include <QApplication>
#include <QCheckBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QTreeWidget>

using namespace ids;

namespace {

const QColor kBandColour(251, 251, 230);
constexpr int kBandRightMargin = 36;
constexpr int kBandHeight = 50;
// The system's icon size.
constexpr int kIconSize = 32;

// How long CleanUpOnExit waits between attempts to delete the temporary file, and how
// often it tries again after the first attempt.
constexpr int kDeleteRetryWaitMs = 5000;
constexpr int kDeleteRetries = 10;

} // namespace

MainDialog::MainDialog(const platform::Services &services, QWidget *parent)
    : TemplateDialog(resources::IDD_MAIN, parent)
    , m_hIcon(resources::ProgramIcon())
    , m_title(QStringLiteral("Vantorel Converter   http://www.vantorel.example "))
    , m_services(services)
{
    m_conversionTimer = new QTimer(this);
    m_conversionTimer->setInterval(5000);
    m_systemMenu = new QMenu(this);
    m_systemMenu->setObjectName(QStringLiteral("systemMenu"));
    const struct
    {
        const char *text;
        unsigned id;
    } standardItems[] = {
        {"&Restore", SC_RESTORE},
        {"Mi&nimize", SC_MINIMIZE},
        {"&Close\tAlt+F4", SC_CLOSE},
    };
    for (const auto &item : standardItems) {
        QAction *a = m_systemMenu->addAction(QString::fromLatin1(item.text));
        a->setData(item.id);
    }
    connect(m_systemMenu, &QMenu::triggered, this, [this](QAction *a) {
        OnSysCommand(a->data().toUInt());
    });
    // Alt+Space opens the system menu, as on the desktop the program comes from.
    auto systemMenuKey = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Space), this);
    connect(systemMenuKey, &QShortcut::activated, this, [this] {
        m_systemMenu->popup(mapToGlobal(QPoint(0, 0)));
    });
    // F1 asks for help: the framework's help command, which the application handles.
    auto helpKey = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(helpKey, &QShortcut::activated, this, [this] { OnCommand(ID_HELP); });

    BuildDispatchTable();
    ConnectControls();
}

MainDialog::~MainDialog()
{
    if (!m_destroyed)
        OnDestroy();
}

int MainDialog::DoModal()
{
    if (!m_initialised) {
        // The first tab control ("GO") takes the focus after a complete initialisation.
        if (OnInitDialog()) {
            if (auto go = Control<QPushButton>(IDC_GO))
                go->setFocus();
        }
    }
    // Modal to its own window hierarchy only, which is all there is of it: the dialogs
    // and boxes it owns block it as before, but a window without an owner (the guide
    // opened by F1) stays a normal window that can be used, raised and closed.
    setWindowModality(Qt::WindowModal);
    // Log-out, shut-down and Ctrl+C close the window as its Exit does after OK: the
    // converter is ended and what the run made is removed.
    platform::TerminationSignals endings([this](int) { EndOnSignal(); });
    const int result = exec();
    m_services.prompter->DeclineBoxes(false);
    return result;
}

void MainDialog::EndOnSignal()
{
    m_stopRequested = 1;
    // A box open now (the exit question, the worker's message) is closed as declined,
    // and none is shown any more: nobody may be there to answer it.
    m_services.prompter->DeclineBoxes(true);
    // The window ends from its own event loop, once the loops of the boxes just closed
    // have returned (the conversion worker may be waiting for one of them).
    QTimer::singleShot(0, this, [this] {
        if (m_services.prompter->AnyBoxOpen()) {
            EndOnSignal();
            return;
        }
        CloseModalDialogs();
        done(QDialog::Rejected);
    });
}

void MainDialog::CloseModalDialogs()
{
    // A dialog or box open over the window (Setting, About, a question) runs an event loop
    // of its own; the window's end would wait behind it until the user answered. Each is
    // ended as by Cancel, innermost first.
    while (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
        if (dialog == this)
            break;
        dialog->reject();
    }
}

void MainDialog::BuildDispatchTable()
{
    m_commands = {
        {IDCANCEL, &MainDialog::OnCancel},
        {ID_FILE_EXIT, &MainDialog::OnMenuExit},
        {ID_APP_ABOUT, &MainDialog::OnAbout},
        {IDC_ABOUT_BUTTON, &MainDialog::OnAbout},
        {IDC_HELP_BUTTON, &MainDialog::ShowHelp},
        {ID_CONTEXT_HELP, &MainDialog::OnContextHelp},
        {IDC_ADD_PHOTOS, &MainDialog::OnAddPhotoFolder},
        {IDC_REMOVE, &MainDialog::OnRemovePhoto},
        {IDC_REMOVE_ALL, &MainDialog::OnRemoveAllPhotos},
        {IDC_UP, &MainDialog::OnPhotoUp},
        {IDC_DOWN, &MainDialog::OnPhotoDown},
        {IDC_CHOOSE_MUSIC, &MainDialog::OnChooseMusic},
        {IDC_CHOOSE_OUTPUT, &MainDialog::OnChooseOutput},
        {IDC_SETTING, &MainDialog::OnSetting},
        {IDC_GO, &MainDialog::OnGo},
    };
}

void MainDialog::ConnectControls()
{
    for (QPushButton *b : Client()->findChildren<QPushButton *>()) {
        bool ok = false;
        const int id = b->objectName().toInt(&ok);
        if (ok)
            connect(b, &QPushButton::clicked, this, [this, id] { OnCommand(id); });
    }
    if (MenuBar()) {
        for (QAction *a : MenuBar()->findChildren<QAction *>()) {
            if (a->data().isValid())
                connect(a, &QAction::triggered, this, [this, a] { OnCommand(a->data().toInt()); });
        }
    }
    m_progress = Control<QProgressBar>(IDC_PROGRESS);
    m_photoList = Control<QTreeWidget>(IDC_PHOTO_LIST);
    ConnectSelectionNotifications();
    ConnectConversionTimer();
}

void MainDialog::OnCommand(int id)
{
    const auto it = m_commands.find(id);
    if (it != m_commands.end())
        (this->*(it->second))();
    else if (m_routeToApp)
        m_routeToApp(id);
}

void MainDialog::OnMenuExit()
{
    // The Exit command asks first while a movie is being made; it cleans up only once
    // the user has said OK.
    QMetaObject::invokeMethod(
        this, [this] { OnCommand(IDCANCEL); }, Qt::QueuedConnection);
}

bool MainDialog::OnInitDialog()
{
    m_initialised = true;
    UpdateData(false);
    m_converting = 0;
    m_convertOk = 0;
    m_stopRequested = 0;
    setWindowTitle(m_title);
    raise();
    activateWindow();
    SetBackgroundBrush(QBrush(resources::kDialogBackground));
    m_windowsDir.clear();
    m_processRunning = 0;
    m_busy = 0;
    // Support files are found beside the program: keep its folder with the trailing
    // separator, so that file names can be appended as they are.
    const QString programFile = m_services.folders->ModuleFileName();
    const int cut = programFile.lastIndexOf(u'/');
    if (cut < 0)
        return false;
    m_programDir = programFile.left(cut + 1);
    // The Windows folder is optional; the system folder is where the support components
    // are installed, and the window cannot work without it.
    if (const auto windowsDir = m_services.folders->WindowsFolder())
        m_windowsDir = *windowsDir;
    const auto systemDir = m_services.folders->SystemFolder();
    if (!systemDir)
        return false;
    m_systemDir = TrimmedRight(*systemDir);
    if (m_systemDir.isEmpty())
        return false;
    // A build without the About text has no About item rather than an empty one.
    const QString aboutText = resources::LoadString(resources::IDS_ABOUTBOX);
    if (!aboutText.isEmpty()) {
        m_systemMenu->addSeparator();
        QAction *about = m_systemMenu->addAction(aboutText);
        about->setData(IDM_ABOUTBOX);
    }
    // NTSC until the settings say otherwise.
    m_frameRate = 29.97;
    setWindowIcon(m_hIcon);
    m_progress->setRange(0, 100);
    InitPhotoListColumns();
    RunStartupSequence();
    m_progressPos = 0;
    return true;
}

void MainDialog::UpdateData(bool saveAndValidate)
{
    auto effect = Control<QCheckBox>(IDC_EFFECT);
    if (saveAndValidate)
        m_addMotionEffect = effect->isChecked() ? 1 : 0;
    else
        effect->setChecked(m_addMotionEffect != 0);
}

void MainDialog::SetIdle(bool enable)
{
    auto go = Control<QPushButton>(IDC_GO);
    go->setEnabled(enable);
    m_busy = enable ? 0 : 1;
    go->setEnabled(enable);
    go->setText(enable ? QStringLiteral("GO") : QStringLiteral("Processing"));
    SetControlText(IDC_STATUS, enable ? QString() : QStringLiteral("Please waiting..."));
    for (int id : {IDC_REMOVE,
                   IDC_REMOVE_ALL,
                   IDC_UP,
                   IDC_DOWN,
                   IDC_SETTING,
                   IDC_ADD_PHOTOS,
                   IDC_CHOOSE_MUSIC,
                   IDC_CHOOSE_OUTPUT})
        Control(id)->setEnabled(enable);
    if (enable)
        m_progress->setValue(0);
    else
        KeepFocusOnGo();
    UpdateData(false);
}

void MainDialog::KeepFocusOnGo()
{
    // A disabled button cannot hold the focus: Qt hands it on along the tab chain, to
    // "Exit", where Enter would end the job. The focus stays on the window itself, where
    // Enter means "GO" and does nothing while busy; the window keeps it when it is
    // activated again after a message box.
    setFocus(Qt::OtherFocusReason);
}

void MainDialog::CleanUpOnExit()
{
    m_stopRequested = 1;
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    if (m_bkBrush)
        SetBackgroundBrush(std::nullopt);
    if (m_busy) {
        m_conversionTimer->stop();
        // The converter is ended and waited for before its movie is removed.
        if (m_converting)
            StopConversionWorker();
        if (m_tempAviMade)
            DeleteTempFileWithRetries(m_tempAviPath);
        // The new movie's file goes; an old movie at the movie's path stays.
        if (m_movieStarted)
            RemoveRunFile(m_newMoviePath);
        // The run keeps its record: a render still under way may write its file again,
        // and the run's own end removes it then.
    }
    if (m_processRunning) {
        m_services.processes->Terminate(m_processInfo);
        // While the conversion worker runs it still reads the child's output and closes
        // its handles itself; otherwise they are released here.
        if (!m_converting)
            m_services.processes->Close(m_processInfo);
        m_processRunning = 0;
    }
    QGuiApplication::restoreOverrideCursor();
}

void MainDialog::DeleteTempFileWithRetries(const QString &path)
{
    platform::FileSystem &fs = *m_services.fileSystem;
    for (int attempt = 0; attempt <= kDeleteRetries; ++attempt) {
        if (fs.DeleteFile(path) || !fs.Exists(path))
            return;
        m_services.clock->Sleep(kDeleteRetryWaitMs);
    }
}

void MainDialog::SetProgress(int percent)
{
    m_progress->setValue(percent);
}

int MainDialog::Progress() const
{
    return m_progress->value();
}

void MainDialog::ShowError(const QString &text)
{
    m_services.prompter->MessageBox(this,
                                    text,
                                    QStringLiteral("Error"),
                                    platform::MessageButtons::Ok,
                                    platform::MessageIcon::Exclamation);
}

void MainDialog::OnCancel()
{
    if (m_busy) {
        const auto answer = m_services.prompter->MessageBox(
            this,
            QStringLiteral("Movie creating... Are you sure you want exit it?"),
            QStringLiteral("Warning"),
            platform::MessageButtons::OkCancel,
            platform::MessageIcon::None);
        if (answer != platform::MessageResult::Ok) {
            m_stopRequested = 0;
            return;
        }
    }
    m_stopRequested = 1;
    CleanUpOnExit();
    QDialog::done(QDialog::Rejected);
}

void MainDialog::reject()
{
    // Escape and the close box are the Exit command.
    OnCommand(IDCANCEL);
}

void MainDialog::done(int result)
{
    QDialog::done(result);
    if (!m_destroyed)
        OnDestroy();
}

void MainDialog::OnDestroy()
{
    m_destroyed = true;
    m_stopRequested = 1;
    CleanUpOnExit();
    // The help window is owned by this window or by nobody; an owned one closes with it,
    // so there is no separate help engine to tell to quit.
}

void MainDialog::OnSysCommand(unsigned id)
{
    if ((id & 0xFFF0u) == IDM_ABOUTBOX) {
        OnAbout();
        return;
    }
    switch (id & 0xFFF0u) {
    case SC_CLOSE:
        close();
        break;
    case SC_MINIMIZE:
        showMinimized();
        break;
    case SC_RESTORE:
        showNormal();
        break;
    default:
        break;
    }
}

void MainDialog::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        OnCommand(IDC_GO);
        // The default processing of the key: nothing more happens with it here (the
        // dialog's own default-button handling would press "GO" a second time).
        QWidget::keyPressEvent(event);
        return;
    }
    TemplateDialog::keyPressEvent(event);
}

void MainDialog::PaintClient(QPainter &painter)
{
    Paint(painter, isMinimized());
}

void MainDialog::Paint(QPainter &painter, bool minimised)
{
    const QRect client = Client()->rect();
    painter.fillRect(client, m_bkBrush ? *m_bkBrush : palette().brush(QPalette::Window));
    if (minimised) {
        const int x = (client.width() - kIconSize + 1) / 2;
        const int y = (client.height() - kIconSize + 1) / 2;
        m_hIcon.paint(&painter, QRect(x, y, kIconSize, kIconSize));
    }
    // The band and its two lines, drawn over whatever was painted, in the default font
    // and colours.
    painter.fillRect(
        QRect(QPoint(0, 0), QPoint(client.width() - kBandRightMargin - 1, kBandHeight - 1)),
        kBandColour);
    painter.save();
    painter.setFont(QGuiApplication::font());
    painter.setPen(Qt::black);
    const int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine | Qt::TextDontClip;
    painter.drawText(QRect(10, 5, 0, 0),
                     flags,
                     QStringLiteral("You can select a music and multiple photo directories."));
    painter.drawText(QRect(10, 25, 0, 0),
                     flags,
                     QStringLiteral("All photos in the directories will come to photos movie "
                                    "after you press the 'GO' button."));
    painter.restore();
}

void MainDialog::ClientContextMenu(const QPoint &globalPos)
{
    m_systemMenu->popup(globalPos);
}

QString MainDialog::ControlText(int id) const
{
    QWidget *w = Control(id);
    if (auto edit = qobject_cast<QLineEdit *>(w))
        return edit->text();
    if (auto label = qobject_cast<QLabel *>(w))
        return label->text();
    if (auto button = qobject_cast<QAbstractButton *>(w))
        return button->text();
    return QString();
}

void MainDialog::SetControlText(int id, const QString &text)
{
    QWidget *w = Control(id);
    if (auto edit = qobject_cast<QLineEdit *>(w))
        edit->setText(text);
    else if (auto label = qobject_cast<QLabel *>(w))
        label->setText(text);
    else if (auto button = qobject_cast<QAbstractButton *>(w))
        button->setText(text);
}
