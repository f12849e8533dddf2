#include "app/batch_front_end.h"
#include "app/converter_app.h"
#include "engine/library_log.h"
#include "platform/prompter.h"

#include <QApplication>

int main(int argc, char **argv)
{
    // The media libraries log to the debug log, never to the user's terminal.
    engine::InstallLibraryLog();
    // "vantorel --batch ..." makes one movie without a screen; otherwise the window opens.
    if (batch::WantsBatch(argc, argv))
        return batch::RunBatch(argc, argv);
    QApplication app(argc, argv);
    QApplication::setApplicationName(platform::ApplicationTitle());
    ConverterApp theApp;
    theApp.InitInstance();
    return theApp.ExitInstance();
}
