#pragma once
// The folders the program asks the system for. Each can be overridden by an environment
// variable, which the tests use to give every run folders of its own:
//   VANTOREL_PROGRAM_DIR  the program folder (default: folder of /proc/self/exe)
//   VANTOREL_WINDOWS_DIR  the "Windows folder" (default: the home folder)
//   VANTOREL_SYSTEM_DIR   the system folder (default: $XDG_DATA_HOME/vantorel/system)

#include <QString>

#include <optional>

namespace platform {

class SystemFolders
{
public:
    virtual ~SystemFolders() = default;
    // Full path of the program file, as the module file name query gives it.
    virtual QString ModuleFileName() const = 0;
    // The Windows folder with a trailing '/'; nothing when it cannot be obtained.
    virtual std::optional<QString> WindowsFolder() const = 0;
    // The system folder without a trailing '/', created on demand; nothing when it
    // cannot be obtained.
    virtual std::optional<QString> SystemFolder() const = 0;
};

SystemFolders &TheSystemFolders();

// The program folder with a trailing '/': ModuleFileName() cut after its last '/'.
QString ProgramFolder();

} // namespace platform
