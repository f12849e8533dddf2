// The settings store file as another process (or a person with an editor) may have left
// it, read through the registry layer; then one value written and everything read again.
// Input: the file's bytes, optionally followed by "\0key\0name\0value" for the write.

#include "fuzz_support.h"

#include "platform/registry.h"

#include <QFile>

#include <map>
#include <utility>

namespace {

using platform::RegistryRoot;

constexpr int kMaxKeysWalked = 200;

// (key path, value name) -> value; the default value has an empty name.
using Contents = std::map<std::pair<QString, QString>, QString>;

void Walk(platform::Registry &registry, const QString &key, Contents &contents, int &budget)
{
    if (--budget < 0)
        return;
    if (const auto value = registry.ReadValue(RegistryRoot::LocalMachine, key))
        contents[{key, QString()}] = *value;
    for (const QString &name : registry.ValueNames(RegistryRoot::LocalMachine, key)) {
        const auto value = registry.ReadValue(RegistryRoot::LocalMachine, key, name);
        fuzz::Check(value.has_value(), "a listed value name reads");
        contents[{key, name}] = *value;
    }
    for (const QString &sub : registry.SubKeys(RegistryRoot::LocalMachine, key)) {
        fuzz::Check(!sub.isEmpty() && !sub.contains(u'\\'), "a sub-key is one key name");
        const QString path = key.isEmpty() ? sub : key + u'\\' + sub;
        fuzz::Check(registry.KeyExists(RegistryRoot::LocalMachine, path), "a listed key exists");
        Walk(registry, path, contents, budget);
    }
}

Contents ReadAll(platform::Registry &registry)
{
    Contents contents;
    int budget = kMaxKeysWalked;
    Walk(registry, QString(), contents, budget);
    return contents;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const bool folderSet
        = [] { return qputenv("VANTOREL_REGISTRY_DIR", fuzz::ScratchFolder().toUtf8()); }();
    fuzz::Check(folderSet, "the registry folder is set");

    const QByteArray bytes = fuzz::Bytes(data, size);
    const qsizetype end = bytes.indexOf('\0');
    const QByteArray file = end < 0 ? bytes : bytes.left(end);
    QStringList parts = fuzz::Words(data, size);
    parts.removeFirst();
    {
        QFile out(platform::RegistryFolder() + QStringLiteral("/HKEY_LOCAL_MACHINE.reg"));
        fuzz::Check(out.open(QIODevice::WriteOnly | QIODevice::Truncate), "the store file opens");
        out.write(file);
    }
    platform::Registry &registry = platform::TheRegistry();
    const Contents before = ReadAll(registry);
    if (parts.size() < 3 || before.size() >= kMaxKeysWalked)
        return 0;

    const QString &key = parts[0];
    const QString &name = parts[1];
    const QString &value = parts[2];
    if (!registry.WriteValue(RegistryRoot::LocalMachine, key, name, value)) {
        fuzz::Check(ReadAll(registry) == before, "a refused write changes nothing");
        return 0;
    }
    const auto written = registry.ReadValue(RegistryRoot::LocalMachine, key, name);
    fuzz::Check(written == value, "a written value reads back");
    // Every value that was there reads the same, but for the one just written.
    for (const auto &[where, old] : before) {
        const auto now = registry.ReadValue(RegistryRoot::LocalMachine, where.first, where.second);
        const bool same = registry.KeyExists(RegistryRoot::LocalMachine, where.first)
                          && now.has_value() && (*now == old || *now == value);
        fuzz::Check(same, "the other values survive a write");
    }
    return 0;
}
