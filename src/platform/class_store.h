#pragma once
// Creating objects by class identifier. Classes the program builds in (the engine's) are
// registered at start; any other class is looked up under the classes root of the
// registry ("CLSID\{...}\InprocServer32", default value = module path), its module is
// loaded and the module's exported factory is called.

#include "platform/com.h"

#include <functional>

namespace platform {

// Creates a new object of one class and returns it as the interface iid in *out
// (with a reference for the caller).
using ClassFactory = std::function<HRESULT(const Iid &iid, void **out)>;

// The factory a module exports for its classes, under the name kModuleFactoryExport:
//   extern "C" HRESULT DllGetClassObject(const Guid *clsid, const Guid *iid, void **out);
// It creates the object directly (there is no separate class-factory object).
using ModuleFactoryFn = HRESULT (*)(const Guid *clsid, const Guid *iid, void **out);
inline constexpr const char *kModuleFactoryExport = "DllGetClassObject";
// The registration entry point of a module: extern "C" HRESULT DllRegisterServer();
using RegisterServerFn = HRESULT (*)();
inline constexpr const char *kRegisterServerExport = "DllRegisterServer";

// Makes clsid a built-in class; a later registration of the same clsid replaces it.
void RegisterBuiltInClass(const Clsid &clsid, ClassFactory factory);
// Removes a built-in class (tests use it to make a class unavailable).
void UnregisterBuiltInClass(const Clsid &clsid);

// REGDB_E_CLASSNOTREG when the class is neither built in nor registered with a module
// that loads and exports the factory; otherwise the factory's result.
HRESULT CreateInstance(const Clsid &clsid, const Iid &iid, void **out);

template <class I>
ComPtr<I> CreateInstance(const Clsid &clsid, HRESULT *result = nullptr)
{
    ComPtr<I> p;
    const HRESULT hr = CreateInstance(clsid, I::kIid, p.PutVoid());
    if (result)
        *result = hr;
    return p;
}

} // namespace platform
