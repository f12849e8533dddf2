#include "help/about_dialog.h"

#include "platform/system_folders.h"
#include "resources/resource_ids.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>

namespace {

// The installed copyright file: share/doc/vantorel beside lib/vantorel, the program folder.
// A program run from its build folder names the packaged place instead.
QString NoticesPath()
{
    const QString installed = QDir::cleanPath(
        platform::ProgramFolder() + QStringLiteral("../../share/doc/vantorel/copyright"));
    if (QFileInfo::exists(installed))
        return installed;
    return QStringLiteral("/usr/share/doc/vantorel/copyright");
}

} // namespace

CAboutDlg::CAboutDlg(QWidget *parent)
    : TemplateDialog(resources::IDD_ABOUTBOX, parent)
{
    // The brush lives as long as the dialog; without it the default colours show.
    SetBackgroundBrush(QBrush(resources::kDialogBackground));
    if (auto *notices = Control<QLabel>(ids::IDC_NOTICES))
        notices->setText(QStringLiteral("Notices: ") + NoticesPath());
    connect(Control<QWidget>(1), SIGNAL(clicked()), this, SLOT(accept()));
}
