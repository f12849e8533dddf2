#include "platform/modules.h"

#include "platform/system_folders.h"

#include <QFileInfo>

#include <dlfcn.h>

namespace platform {
namespace {

class LinuxModules final : public Modules
{
public:
    Handle Load(const QString &pathOrName) override
    {
        if (pathOrName.isEmpty())
            return nullptr;
        if (pathOrName.contains(u'/'))
            return Open(pathOrName);
        const QString inProgram = ProgramFolder() + pathOrName;
        if (QFileInfo::exists(inProgram))
            return Open(inProgram);
        if (const auto system = TheSystemFolders().SystemFolder()) {
            const QString inSystem = *system + u'/' + pathOrName;
            if (QFileInfo::exists(inSystem))
                return Open(inSystem);
        }
        return Open(pathOrName);
    }

    void *Export(Handle module, const char *name) override
    {
        return module ? dlsym(module, name) : nullptr;
    }

    void Unload(Handle module) override
    {
        if (module)
            dlclose(module);
    }

private:
    static Handle Open(const QString &path)
    {
        return dlopen(path.toLocal8Bit().constData(), RTLD_NOW | RTLD_LOCAL);
    }
};

} // namespace

Modules &TheModules()
{
    static LinuxModules modules;
    return modules;
}

} // namespace platform
