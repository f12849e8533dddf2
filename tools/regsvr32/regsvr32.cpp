// regsvr32 [/s] module...
//
// Loads each module (a bare name is looked for in the program folder, then the system
// folder) and calls its DllRegisterServer. Reports each outcome on standard output
// (success) or standard error (failure) unless "/s" is given. Exit code 0 when every
// module registered, 3 when one did not load, 4 when one has no DllRegisterServer, 5 when
// its DllRegisterServer failed, 1 for a command line without a module.

#include "platform/class_store.h"
#include "platform/modules.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

namespace {

enum ExitCode { kOk = 0, kUsage = 1, kLoadFailed = 3, kNoEntryPoint = 4, kRegisterFailed = 5 };

bool IsSilentSwitch(const QString &arg)
{
    return arg.compare(QLatin1String("/s"), Qt::CaseInsensitive) == 0
           || arg.compare(QLatin1String("-s"), Qt::CaseInsensitive) == 0;
}

void Report(bool silent, std::FILE *stream, const QString &text)
{
    if (!silent)
        std::fprintf(stream, "%s\n", text.toLocal8Bit().constData());
}

int Register(const QString &module, bool silent)
{
    platform::Modules &modules = platform::TheModules();
    platform::Modules::Handle handle = modules.Load(module);
    if (!handle) {
        Report(silent, stderr, QStringLiteral("The module \"%1\" failed to load.").arg(module));
        return kLoadFailed;
    }
    auto registerServer = reinterpret_cast<platform::RegisterServerFn>(
        modules.Export(handle, platform::kRegisterServerExport));
    if (!registerServer) {
        modules.Unload(handle);
        Report(silent,
               stderr,
               QStringLiteral("The module \"%1\" was loaded but the entry-point DllRegisterServer "
                              "was not found.")
                   .arg(module));
        return kNoEntryPoint;
    }
    const platform::HRESULT hr = registerServer();
    modules.Unload(handle);
    if (platform::Failed(hr)) {
        Report(silent,
               stderr,
               QStringLiteral("DllRegisterServer in %1 failed with error code 0x%2.")
                   .arg(module)
                   .arg(static_cast<std::uint32_t>(hr), 8, 16, QLatin1Char('0')));
        return kRegisterFailed;
    }
    Report(silent, stdout, QStringLiteral("DllRegisterServer in %1 succeeded.").arg(module));
    return kOk;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    bool silent = false;
    QStringList modules;
    for (const QString &arg : QCoreApplication::arguments().mid(1)) {
        if (IsSilentSwitch(arg))
            silent = true;
        else
            modules << arg;
    }
    if (modules.isEmpty()) {
        Report(silent, stderr, QStringLiteral("Usage: regsvr32 [/s] module..."));
        return kUsage;
    }
    int result = kOk;
    for (const QString &module : modules) {
        const int r = Register(module, silent);
        if (result == kOk)
            result = r;
    }
    return result;
}
