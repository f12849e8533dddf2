#include "platform/registry.h"

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QSaveFile>
#include <QStandardPaths>

#include <map>
#include <vector>

namespace platform {
namespace {

// One root's contents: keys in file order, each with its default value and named values.
// Key paths keep the case they were created with and are found without regard to case.
struct Key
{
    QString path;
    std::optional<QString> defaultValue;
    std::vector<std::pair<QString, QString>> values;

    // An empty name is the default value.
    void Set(const QString &name, const QString &value)
    {
        if (name.isEmpty()) {
            defaultValue = value;
            return;
        }
        for (auto &[n, v] : values) {
            if (n.compare(name, Qt::CaseInsensitive) == 0) {
                v = value;
                return;
            }
        }
        values.emplace_back(name, value);
    }
};

struct Hive
{
    std::vector<Key> keys;

    Key *Find(const QString &path)
    {
        for (Key &k : keys) {
            if (k.path.compare(path, Qt::CaseInsensitive) == 0)
                return &k;
        }
        return nullptr;
    }
    const Key *Find(const QString &path) const { return const_cast<Hive *>(this)->Find(path); }

    Key &Create(const QString &path)
    {
        // Parents first, so that every prefix of a key is a key too.
        const int cut = path.lastIndexOf(u'\\');
        if (cut > 0)
            Create(path.left(cut));
        if (Key *k = Find(path))
            return *k;
        keys.push_back(Key{path, std::nullopt, {}});
        return keys.back();
    }
};

QString Normalise(const QString &key)
{
    QString k = key;
    k.replace(u'/', u'\\');
    while (k.contains(QStringLiteral("\\\\")))
        k.replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
    while (k.startsWith(u'\\'))
        k.remove(0, 1);
    while (k.endsWith(u'\\'))
        k.chop(1);
    return k;
}

// A key path is written as one line of the file; one that holds a line break could not be
// read back, and its values would be read as those of the key before it.
bool CanStore(const QString &path)
{
    return !path.contains(u'\n');
}

QString Quote(const QString &text)
{
    QString out = QStringLiteral("\"");
    for (QChar c : text) {
        switch (c.unicode()) {
        case u'\\':
            out += QStringLiteral("\\\\");
            break;
        case u'"':
            out += QStringLiteral("\\\"");
            break;
        case u'\n':
            out += QStringLiteral("\\n");
            break;
        case u'\r':
            out += QStringLiteral("\\r");
            break;
        case u'\t':
            out += QStringLiteral("\\t");
            break;
        default:
            out += c;
        }
    }
    out += u'"';
    return out;
}

// Reads a quoted text starting at line[*pos] (the opening quote); moves *pos past it.
std::optional<QString> Unquote(const QString &line, int *pos)
{
    if (*pos >= line.size() || line[*pos] != u'"')
        return std::nullopt;
    QString out;
    for (int i = *pos + 1; i < line.size(); ++i) {
        const QChar c = line[i];
        if (c == u'"') {
            *pos = i + 1;
            return out;
        }
        if (c == u'\\' && i + 1 < line.size()) {
            const QChar e = line[++i];
            out += e == u'n'   ? QChar(u'\n')
                   : e == u'r' ? QChar(u'\r')
                   : e == u't' ? QChar(u'\t')
                               : e;
        } else {
            out += c;
        }
    }
    return std::nullopt;
}

// A value line, "name"="value" or @="value" (the default value); nothing when the line is
// not one.
std::optional<std::pair<QString, QString>> ParseValueLine(const QString &line)
{
    int pos = 0;
    QString name;
    if (line.startsWith(u'@')) {
        pos = 1;
    } else {
        auto quoted = Unquote(line, &pos);
        if (!quoted)
            return std::nullopt;
        name = *quoted;
    }
    if (pos >= line.size() || line[pos] != u'=')
        return std::nullopt;
    ++pos;
    auto value = Unquote(line, &pos);
    if (!value)
        return std::nullopt;
    return std::make_pair(name, *value);
}

// Lines that are neither a key, a value of a key nor a comment are passed over, so that
// a damaged line costs only itself.
Hive Parse(const QString &text)
{
    Hive hive;
    Key *current = nullptr;
    const QStringList lines = text.split(u'\n');
    for (const QString &raw : lines) {
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(u';'))
            continue;
        if (line.startsWith(u'[') && line.endsWith(u']')) {
            current = &hive.Create(Normalise(line.mid(1, line.size() - 2)));
            continue;
        }
        const auto value = current ? ParseValueLine(line) : std::nullopt;
        if (value)
            current->Set(value->first, value->second);
    }
    return hive;
}

QString Serialise(const Hive &hive)
{
    QString out;
    for (const Key &k : hive.keys) {
        out += u'[' + k.path + QStringLiteral("]\n");
        if (k.defaultValue)
            out += QStringLiteral("@=") + Quote(*k.defaultValue) + u'\n';
        for (const auto &[n, v] : k.values)
            out += Quote(n) + u'=' + Quote(v) + u'\n';
        out += u'\n';
    }
    return out;
}

class FileRegistry final : public Registry
{
public:
    bool CreateKey(RegistryRoot root, const QString &key) override
    {
        if (!CanStore(key))
            return false;
        return Modify(root, [&](Hive &h) { h.Create(Normalise(key)); });
    }

    bool KeyExists(RegistryRoot root, const QString &key) const override
    {
        return Load(root).Find(Normalise(key)) != nullptr;
    }

    std::optional<QString>
    ReadValue(RegistryRoot root, const QString &key, const QString &name) const override
    {
        const Hive hive = Load(root);
        const Key *k = hive.Find(Normalise(key));
        if (!k)
            return std::nullopt;
        if (name.isEmpty())
            return k->defaultValue;
        for (const auto &[n, v] : k->values) {
            if (n.compare(name, Qt::CaseInsensitive) == 0)
                return v;
        }
        return std::nullopt;
    }

    bool WriteValue(RegistryRoot root,
                    const QString &key,
                    const QString &name,
                    const QString &value) override
    {
        if (!CanStore(key))
            return false;
        return Modify(root, [&](Hive &h) { h.Create(Normalise(key)).Set(name, value); });
    }

    QStringList SubKeys(RegistryRoot root, const QString &key) const override
    {
        const QString parent = Normalise(key);
        const QString prefix = parent.isEmpty() ? QString() : parent + u'\\';
        QStringList names;
        for (const Key &k : Load(root).keys) {
            if (k.path.size() > prefix.size() && k.path.startsWith(prefix, Qt::CaseInsensitive)) {
                const QString rest = k.path.mid(prefix.size());
                if (!rest.contains(u'\\'))
                    names << rest;
            }
        }
        return names;
    }

    QStringList ValueNames(RegistryRoot root, const QString &key) const override
    {
        QStringList names;
        const Hive hive = Load(root);
        if (const Key *k = hive.Find(Normalise(key))) {
            for (const auto &[n, v] : k->values)
                names << n;
        }
        return names;
    }

    bool DeleteKey(RegistryRoot root, const QString &key) override
    {
        const QString path = Normalise(key);
        return Modify(root, [&](Hive &h) {
            std::erase_if(h.keys, [&](const Key &k) {
                return k.path.compare(path, Qt::CaseInsensitive) == 0
                       || k.path.startsWith(path + u'\\', Qt::CaseInsensitive);
            });
        });
    }

private:
    static QString FileOf(RegistryRoot root)
    {
        return RegistryFolder()
               + (root == RegistryRoot::LocalMachine ? QStringLiteral("/HKEY_LOCAL_MACHINE.reg")
                                                     : QStringLiteral("/HKEY_CLASSES_ROOT.reg"));
    }

    static Hive Load(RegistryRoot root)
    {
        QFile f(FileOf(root));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return Parse(QString::fromUtf8(f.readAll()));
    }

    // Read, change and write back one root under the root's lock file, so that two
    // processes writing at once do not lose each other's values.
    template <class Change>
    static bool Modify(RegistryRoot root, Change change)
    {
        if (!QDir().mkpath(RegistryFolder()))
            return false;
        const QString file = FileOf(root);
        QLockFile lock(file + QStringLiteral(".lock"));
        lock.setStaleLockTime(10'000);
        if (!lock.tryLock(10'000))
            return false;
        Hive hive = Load(root);
        change(hive);
        QSaveFile out(file);
        if (!out.open(QIODevice::WriteOnly))
            return false;
        out.write(Serialise(hive).toUtf8());
        return out.commit();
    }
};

} // namespace

Registry &TheRegistry()
{
    static FileRegistry registry;
    return registry;
}

QString RegistryFolder()
{
    QString dir = qEnvironmentVariable("VANTOREL_REGISTRY_DIR");
    if (dir.isEmpty()) {
        QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
        if (config.isEmpty())
            config = QDir::homePath() + QStringLiteral("/.config");
        dir = config + QStringLiteral("/vantorel");
    }
    while (dir.size() > 1 && dir.endsWith(u'/'))
        dir.chop(1);
    return dir;
}

} // namespace platform
