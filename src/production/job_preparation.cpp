// "GO": the conductor of a movie run on the main thread. It warns about large photo sets,
// settles the movie's path, renders the slideshow into the temporary AVI and hands over
// to the conversion stage.

#include "app/main_dialog.h"
#include "platform/file_system.h"
#include "platform/prompter.h"
#include "platform/system_folders.h"
#include "production/path_style.h"

using namespace ids;

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

    const production::OutputPathPlan plan =
        production::PlanOutputPaths(production::kNativePathStyle, request, *m_services.fileSystem);
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
