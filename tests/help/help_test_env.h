#pragma once
// Scratch folders and environment for the help tests: a registry, a program folder and a
// system folder of the test's own, restored when the test ends.

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <map>
#include <memory>

namespace helptest {

class ScopedEnvironment
{
public:
    ScopedEnvironment() = default;
    ScopedEnvironment(const ScopedEnvironment &) = delete;
    ScopedEnvironment &operator=(const ScopedEnvironment &) = delete;
    ~ScopedEnvironment()
    {
        for (const auto &[name, value] : m_saved) {
            if (value.isNull())
                qunsetenv(name.constData());
            else
                qputenv(name.constData(), value);
        }
    }

    void Set(const char *name, const QString &value)
    {
        const QByteArray key(name);
        if (m_saved.find(key) == m_saved.end())
            m_saved[key] = qEnvironmentVariableIsSet(name) ? qgetenv(name) : QByteArray();
        qputenv(name, value.toLocal8Bit());
    }

private:
    std::map<QByteArray, QByteArray> m_saved;
};

// The folders the module search and the registry look at, all empty at first.
struct HelpFolders
{
    QTemporaryDir root;
    QString registry;
    QString program;
    QString system;
    QString other;
    QString log;
    ScopedEnvironment environment;

    HelpFolders();
};

// Copies a file, replacing any earlier copy; false when it cannot.
bool CopyFile(const QString &from, const QString &to);

} // namespace helptest
