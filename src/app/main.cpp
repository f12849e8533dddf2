#include "app/batch_front_end.h"
#include "app/converter_app.h"
#include "app/main_dialog.h"
#include "platform/prompter.h"

#include <QApplication>

int main(int argc, char **argv)
{
    // The media libraries log to the debug log, never to the user's terminal.
    MainDialog::InstallMediaLibraryLog();
    // Help, version, a usage error or "vantorel --batch ..." end here, before any window
    // or display is needed; without arguments the window opens.
    if (const std::optional<int> status = batch::HandleCommandLine(argc, argv))
        return *status;
    QApplication app(argc, argv);
    QApplication::setApplicationName(platform::ApplicationTitle());
    ConverterApp theApp;
    theApp.InitInstance();
    return theApp.ExitInstance();
}
