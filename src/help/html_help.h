#pragma once
// Opening the help file. The help engine is not part of the program: it is the module
// "hhctrl.ocx" (registered under the classes root, or found by name in the program folder,
// the system folder or the loader's path), whose export HtmlHelpW shows a compiled help
// file in a window of its own. This loader finds the engine once per process and hands
// every call on to it.

#include <QString>
#include <QtGlobal>

namespace platform {
class Modules;
class Registry;
} // namespace platform

namespace help {

// The engine's display-topic command: opens the help file at its default topic.
constexpr unsigned kHelpDisplayTopic = 0;

// The entry point of the help engine:
//   owner    a QWidget* cast to quintptr, or 0 for a window without an owner
//   file     the help file, a zero-terminated UTF-16 path
//   result   the help window as a QWidget* cast to quintptr, or 0 when nothing is shown
using HtmlHelpEntry
    = quintptr (*)(quintptr owner, const char16_t *file, unsigned command, quintptr data);

// The class id under which the help engine registers, and the key that names its module.
inline constexpr char16_t kHtmlHelpClassKey[]
    = u"CLSID\\{ADB880A6-D8FF-11CF-9377-00AA003B7A11}\\InprocServer32";

// Finds the engine and calls it; the state (module, entry point, failure) lives as long as
// the loader. The first call that cannot find the module or its export sets the failure
// flag, and from then on every call returns 0 without looking again. A loaded module is
// never unloaded: its windows may still be open.
class HtmlHelpLoader
{
public:
    HtmlHelpLoader(platform::Modules &modules, platform::Registry &registry);

    quintptr Call(quintptr owner, const QString &file, unsigned command, quintptr data);

    bool Failed() const { return m_failed; }
    bool Loaded() const { return m_module != nullptr; }

private:
    platform::Modules &m_modules;
    platform::Registry &m_registry;
    void *m_module = nullptr;
    HtmlHelpEntry m_entry = nullptr;
    bool m_failed = false;
};

// The process's help loader over TheModules() and TheRegistry(): finds the engine on the
// first call, then passes the four arguments to it unchanged and returns its result; 0
// when the engine cannot be found. Main thread only (the engine shows a window).
quintptr HtmlHelpW(quintptr owner, const QString &file, unsigned command, quintptr data);

// Forgets the process loader's state so that a test can start from scratch. A module it
// loaded stays loaded (its windows may outlive the reset).
void ResetHtmlHelpLoaderForTests();

// The help file beside the program: the program file's path up to and including its last
// '/', followed by "Vantorel.chm". A path without any '/' gets "Vantorel.chm" appended
// as it stands.
QString HelpFilePath(const QString &programFile);

} // namespace help
