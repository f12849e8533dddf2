#include "app/converter_app.h"
#include "app/main_dialog.h"
#include "help/about_dialog.h"
#include "help/html_help.h"
#include "platform/system_folders.h"

namespace {

// Opens the help file beside the program at its default topic, or at `page` of it; `owner`
// is the window the help window belongs to, or none. What the engine answers is not looked
// at: when it or the file is missing, nothing is shown.
void OpenHelpFile(const platform::SystemFolders &folders,
                  QWidget *owner,
                  const QString &page = QString())
{
    QString file = help::HelpFilePath(folders.ModuleFileName());
    if (!page.isEmpty())
        file += QStringLiteral("::/") + page;
    help::HtmlHelpW(reinterpret_cast<quintptr>(owner), file, help::kHelpDisplayTopic, 0);
}

} // namespace

void MainDialog::ShowHelp()
{
    OpenHelpFile(*m_services.folders, this);
}

void MainDialog::ShowHelpTopic(const QString &page)
{
    OpenHelpFile(*m_services.folders, nullptr, page);
}

void MainDialog::OnContextHelp()
{
    OnCommand(ids::ID_HELP);
}

void ConverterApp::ShowHelpUnowned()
{
    OpenHelpFile(*m_services.folders, nullptr);
}

void MainDialog::OnAbout()
{
    CAboutDlg about(this);
    about.exec();
}
