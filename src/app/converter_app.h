#pragma once
// The application object: prepares the process, runs the main window modally, and shuts
// down after it.

#include "platform/services.h"

class MainDialog;

class ConverterApp
{
public:
    explicit ConverterApp(const platform::Services &services = platform::Services::Real());

    // Runs the whole life of the user interface; returns false so that no message loop
    // of its own follows.
    bool InitInstance();
    // Returns the process exit code.
    int ExitInstance();

    // The application's commands: the help command (F1) opens the help file without an
    // owner window. Other commands do nothing.
    void OnCommand(int id);
    void ShowHelpUnowned();

    // The main window while the modal run lasts, else nullptr.
    MainDialog *MainWindow() const { return m_mainWindow; }

private:
    platform::Services m_services;
    MainDialog *m_mainWindow = nullptr;
};
