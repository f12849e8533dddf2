// Putting the support files to work: registering in-process servers, copying the
// converter and its libraries into the system folder, deciding where the converter runs
// from, and the preferred video codec with its installer. Failures of copies and
// registrations are not reported: the program then uses the files in its own folder.

#include "app/main_dialog.h"

#include "platform/class_store.h"
#include "platform/file_system.h"
#include "platform/modules.h"
#include "platform/prompter.h"
#include "platform/system_folders.h"
#include "support/support_files.h"

namespace {

QString Str(const char16_t *text)
{
    return QString::fromUtf16(text);
}

// The program file's folder with its trailing '/', or nothing when the path has no '/'.
std::optional<QString> ProgramFolderOf(const QString &programFile)
{
    const int cut = programFile.lastIndexOf(u'/');
    if (cut < 0)
        return std::nullopt;
    return programFile.left(cut + 1);
}

// Copies `name` from the program folder into the system folder (replacing an older copy)
// and returns the path to use: the copy, or the original when the copy failed.
QString PlaceInSystemFolder(platform::FileSystem &fs,
                            const QString &programDir,
                            const QString &systemDir,
                            const QString &name)
{
    const QString source = programDir + name;
    const QString target = systemDir + u'/' + name;
    return fs.CopyFile(source, target, false) ? target : source;
}

} // namespace

bool MainDialog::RegisterServerInProcess(const QString &name)
{
    const QString path
        = PlaceInSystemFolder(*m_services.fileSystem, m_programDir, m_systemDir, name);
    platform::Modules &modules = *m_services.modules;
    platform::Modules::Handle module = modules.Load(path);
    if (!module)
        return false;
    bool called = false;
    if (auto registerServer = reinterpret_cast<platform::RegisterServerFn>(
            modules.Export(module, platform::kRegisterServerExport))) {
        registerServer();
        called = true;
    }
    modules.Unload(module);
    return called;
}

bool MainDialog::RegisterServerSilently(const QString &name)
{
    if (m_programDir.isEmpty()) {
        if (const auto dir = ProgramFolderOf(m_services.folders->ModuleFileName()))
            m_programDir = *dir;
    }
    if (m_systemDir.isEmpty()) {
        if (const auto dir = m_services.folders->SystemFolder())
            m_systemDir = TrimmedRight(*dir);
    }
    const QString path
        = PlaceInSystemFolder(*m_services.fileSystem, m_programDir, m_systemDir, name);
    // The path goes unquoted, as the tool has always been started: a path with a blank
    // reaches it as two arguments and the registration fails, silently, since neither the
    // tool nor the start is checked.
    m_services.processes->ShellOpen(Str(support::kRegistrationTool), QStringLiteral("/s ") + path);
    return true;
}

bool MainDialog::CopyConverterFiles()
{
    const auto programDir = ProgramFolderOf(m_services.folders->ModuleFileName());
    if (!programDir)
        return false;
    bool allCopied = true;
    for (const char16_t *file : support::kConverterFiles) {
        const QString name = Str(file);
        if (!m_services.fileSystem->CopyFile(
                *programDir + name, m_systemDir + u'/' + name, false)) {
            // Files copied before this one stay where they are.
            allCopied = false;
            break;
        }
    }
    QString converter;
    if (allCopied) {
        WriteAppSetting(QStringLiteral("Admin"), QStringLiteral("1"));
        converter = m_systemDir + u'/' + Str(support::kConverterFile);
    } else {
        WriteAppSetting(QStringLiteral("Admin"), QStringLiteral("0"));
        converter = *programDir + Str(support::kConverterFile);
    }
    m_converterPath = converter;
    return true;
}

void MainDialog::RestoreConverterFiles()
{
    if (ReadAppSetting(QStringLiteral("Admin")) != QLatin1String("1"))
        return;
    for (const char16_t *file : support::kConverterFiles) {
        // One file gone from the system folder (a clean-up, another program) and the
        // converter cannot run: the first start's copies are made again.
        if (!m_services.fileSystem->Exists(m_systemDir + u'/' + Str(file))) {
            CopyConverterFiles();
            return;
        }
    }
}

void MainDialog::ReportMissingConverterFile()
{
    const qsizetype cut = m_converterPath.lastIndexOf(u'/');
    const QString folder = m_converterPath.left(cut + 1);
    for (const char16_t *file : support::kConverterFiles) {
        const QString path = folder + Str(file);
        if (!m_services.fileSystem->Exists(path)) {
            // Without it no movie can be made; saying so now beats a silent failure later.
            m_services.prompter->AppMessageBox(
                QStringLiteral("The file %1 is missing. Please install Vantorel Converter again.")
                    .arg(path));
            return;
        }
    }
}

bool MainDialog::LocateConverter()
{
    if (m_programDir.isEmpty()) {
        const QString programFile = m_services.folders->ModuleFileName();
        const int cut = programFile.lastIndexOf(u'/');
        if (cut <= 0)
            return false;
        m_programDir = programFile.left(cut + 1);
    }
    if (ReadAppSetting(QStringLiteral("Admin")) == QLatin1String("1"))
        m_converterPath = m_systemDir + u'/' + Str(support::kConverterFile);
    else
        m_converterPath = m_programDir + Str(support::kConverterFile);
    return true;
}

bool MainDialog::CheckVideoCodecAtStartup()
{
    if (ReadAppSetting(QStringLiteral("EncodeInstalled")) == QLatin1String("1"))
        return true;
    if (HasVideoCompressor(Str(support::kPreferredVideoCompressor))) {
        WriteAppSetting(QStringLiteral("EncodeInstalled"), QStringLiteral("1"));
        return true;
    }
    if (AskToInstallVideoCodec())
        return InstallVideoCodec();
    return true;
}

bool MainDialog::InstallVideoCodec()
{
    m_processInfo = platform::ProcessInfo();
    if (m_programDir.isEmpty()) {
        const auto dir = ProgramFolderOf(m_services.folders->ModuleFileName());
        if (!dir)
            return false;
        m_programDir = *dir;
    }
    // The command line is the installer's path alone, unquoted.
    const QString commandLine = m_programDir + Str(support::kCodecInstaller);
    const std::optional<platform::ProcessInfo> started
        = m_services.processes->Start(commandLine, false);
    if (!started) {
        m_services.prompter->AppMessageBox(
            QStringLiteral(
                "Failed to install the wmv9VCMsetup.exe. Please install it manually from ")
            + m_programDir);
        return false;
    }
    m_processInfo = *started;
    m_processRunning = 1;
    // The main thread waits here without processing events: the window does not react
    // until the installer has ended.
    m_services.processes->Wait(m_processInfo, -1);
    m_services.processes->Close(m_processInfo);
    m_processRunning = 0;
    return true;
}
