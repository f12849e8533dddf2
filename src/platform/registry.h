#pragma once
// The registry layer: two roots of keys, each key holding sub-keys, one default value and
// named values, all texts. On Linux each root is one file under the registry folder
// ($XDG_CONFIG_HOME/vantorel/, or $VANTOREL_REGISTRY_DIR): HKEY_LOCAL_MACHINE.reg and
// HKEY_CLASSES_ROOT.reg, UTF-8 text in a format of this program's own, close to a .reg
// export but not Windows' own format:
//   [SOFTWARE\Clients\Tarvix2]    a key, its full path (no root name) in brackets
//   @="text"                     the key's default value
//   "name"="text"                a named value
// Texts are in double quotes with \\, \", \n, \r and \t escaped; a line starting with
// ';' and lines that do not parse are skipped. Other processes (the
// registration tool, the codec installer) write the same files, so every call reads the
// file as it is now; writes are atomic and locked.
//
// Key paths are written as on Windows, with backslashes: "SOFTWARE\Clients\Tarvix2".
// Key names compare without regard to case, as on Windows.

#include <QString>
#include <QStringList>

#include <optional>

namespace platform {

enum class RegistryRoot {
    LocalMachine, // HKEY_LOCAL_MACHINE
    ClassesRoot,  // HKEY_CLASSES_ROOT
};

class Registry
{
public:
    virtual ~Registry() = default;

    // Creates the key and any missing parent; true when it exists afterwards.
    virtual bool CreateKey(RegistryRoot root, const QString &key) = 0;
    virtual bool KeyExists(RegistryRoot root, const QString &key) const = 0;
    // A value of the key; an empty name means the key's default value. Nothing when the
    // key or the value does not exist.
    virtual std::optional<QString>
    ReadValue(RegistryRoot root, const QString &key, const QString &name = QString()) const = 0;
    // Writes a value, creating the key when needed; false when the store cannot be written.
    virtual bool
    WriteValue(RegistryRoot root, const QString &key, const QString &name, const QString &value)
        = 0;
    // The names of the key's direct sub-keys, in the order they were first created
    // (a key written by a later process comes after the ones already there).
    virtual QStringList SubKeys(RegistryRoot root, const QString &key) const = 0;
    // The names of the key's named values (the default value is not among them).
    virtual QStringList ValueNames(RegistryRoot root, const QString &key) const = 0;
    // Removes the key with everything below it; true when it is gone afterwards.
    virtual bool DeleteKey(RegistryRoot root, const QString &key) = 0;
};

// The process's registry over the files of the registry folder.
Registry &TheRegistry();

// The folder holding the registry files, with no trailing '/'.
QString RegistryFolder();

} // namespace platform
