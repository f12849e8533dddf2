#include "app/converter_app.h"
#include "platform/prompter.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(platform::ApplicationTitle());
    ConverterApp theApp;
    theApp.InitInstance();
    return theApp.ExitInstance();
}
