// The installation steps of every start, run inside the window's initialisation before
// it is first shown. No step's outcome stops the sequence.

#include "app/main_dialog.h"
#include "app/version.h"

#include "support/support_files.h"

void MainDialog::RunStartupSequence()
{
    const QString resizer = QString::fromUtf16(support::kResizerModule);

    // A stored version stays as it is; only a missing one is filled in.
    m_version = ReadAppSetting(QStringLiteral("Version"));
    if (m_version.isEmpty())
        WriteAppSetting(QStringLiteral("Version"), QStringLiteral(VANTOREL_VERSION));

    const QString startup = ReadAppSetting(QStringLiteral("Startup"));

    RegisterServerInProcess(resizer);

    // Anything but exactly "1" - nothing stored, "0", " 1" - is a first start.
    if (startup != QLatin1String("1")) {
        WriteAppSetting(QStringLiteral("InstallDir"), m_programDir);
        RegisterServerSilently(resizer);
        // The registration tool is not waited for, so this does not depend on it.
        WriteAppSetting(QStringLiteral("Startup"), QStringLiteral("1"));
        CopyConverterFiles();
    } else {
        RestoreConverterFiles();
    }

    LocateConverter();
    ReportMissingConverterFile();

    raise();
    activateWindow();

    CheckVideoCodecAtStartup();
}
