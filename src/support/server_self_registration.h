#pragma once
// What a shipped in-process server does in its DllRegisterServer: it records its own
// file, found from an address inside it, as the module of its class under the classes
// root ("CLSID\{...}\InprocServer32", default value), where the class store finds it.
// Header-only: each server module compiles it into itself.

#include "platform/com.h"
#include "platform/registry.h"

#include <QFileInfo>
#include <QString>

#include <dlfcn.h>

namespace support {

// The classes-root key naming the module of a class.
inline QString InprocServerKey(const platform::Clsid &clsid)
{
    return QStringLiteral("CLSID\\%1\\InprocServer32").arg(clsid.ToString());
}

// The absolute path of the loaded module holding `addressInModule`; empty when unknown.
inline QString ModulePathOf(const void *addressInModule)
{
    Dl_info info{};
    if (!dladdr(addressInModule, &info) || !info.dli_fname || !*info.dli_fname)
        return QString();
    return QFileInfo(QString::fromLocal8Bit(info.dli_fname)).absoluteFilePath();
}

// Registers clsid as implemented by the module holding `addressInModule`.
inline platform::HRESULT RegisterServerModule(const platform::Clsid &clsid,
                                              const void *addressInModule)
{
    // The failure code of a server that could not register its class.
    constexpr platform::HRESULT kSelfRegClassError = static_cast<platform::HRESULT>(0x80040201u);
    const QString path = ModulePathOf(addressInModule);
    if (path.isEmpty())
        return kSelfRegClassError;
    const bool written = platform::TheRegistry().WriteValue(
        platform::RegistryRoot::ClassesRoot, InprocServerKey(clsid), QString(), path);
    return written ? platform::S_OK : kSelfRegClassError;
}

} // namespace support
