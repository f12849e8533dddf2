#pragma once
// Loading shared objects and finding their exports. The shipped modules keep their
// Windows file names ("qcap.dll", "hhctrl.ocx") but are ELF shared objects.

#include <QString>

namespace platform {

class Modules
{
public:
    using Handle = void *;

    virtual ~Modules() = default;
    // A path with a '/' is loaded as it stands. A bare file name is looked for as the
    // system looks for a library: in the program folder, then the system folder, then
    // the dynamic loader's own search path. Null when it does not load.
    virtual Handle Load(const QString &pathOrName) = 0;
    // The address of an exported symbol, or null.
    virtual void *Export(Handle module, const char *name) = 0;
    virtual void Unload(Handle module) = 0;
};

Modules &TheModules();

} // namespace platform
