#include "platform/class_store.h"

#include "platform/modules.h"
#include "platform/registry.h"

#include <map>
#include <mutex>

namespace platform {
namespace {

struct GuidLess
{
    bool operator()(const Guid &a, const Guid &b) const
    {
        return std::tie(a.data1, a.data2, a.data3, a.data4)
               < std::tie(b.data1, b.data2, b.data3, b.data4);
    }
};

struct BuiltIns
{
    std::mutex mutex;
    std::map<Guid, ClassFactory, GuidLess> factories;
};

BuiltIns &TheBuiltIns()
{
    static BuiltIns builtIns;
    return builtIns;
}

} // namespace

void RegisterBuiltInClass(const Clsid &clsid, ClassFactory factory)
{
    BuiltIns &b = TheBuiltIns();
    std::lock_guard lock(b.mutex);
    b.factories[clsid] = std::move(factory);
}

void UnregisterBuiltInClass(const Clsid &clsid)
{
    BuiltIns &b = TheBuiltIns();
    std::lock_guard lock(b.mutex);
    b.factories.erase(clsid);
}

HRESULT CreateInstance(const Clsid &clsid, const Iid &iid, void **out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    ClassFactory factory;
    {
        BuiltIns &b = TheBuiltIns();
        std::lock_guard lock(b.mutex);
        if (auto it = b.factories.find(clsid); it != b.factories.end())
            factory = it->second;
    }
    if (factory)
        return factory(iid, out);

    const auto path = TheRegistry().ReadValue(
        RegistryRoot::ClassesRoot,
        QStringLiteral("CLSID\\%1\\InprocServer32").arg(clsid.ToString()));
    if (!path || path->isEmpty())
        return REGDB_E_CLASSNOTREG;
    // The module stays loaded for the life of the process: its objects run its code.
    Modules::Handle module = TheModules().Load(*path);
    if (!module)
        return REGDB_E_CLASSNOTREG;
    auto create
        = reinterpret_cast<ModuleFactoryFn>(TheModules().Export(module, kModuleFactoryExport));
    if (!create)
        return REGDB_E_CLASSNOTREG;
    return create(&clsid, &iid, out);
}

} // namespace platform
