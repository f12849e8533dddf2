#include "fuzz_support.h"

#include <QFile>
#include <QTemporaryDir>

#include <sanitizer/common_interface_defs.h>

#include <cstdlib>
#include <memory>

namespace fuzz {

void Check(bool condition, const char *what)
{
    if (condition)
        return;
    // Printed where the sanitizers report, which stays open when the fuzzer silences the
    // target's own output.
    const std::string summary = std::string("property failed: ") + what;
    __sanitizer_report_error_summary(summary.c_str());
    std::abort();
}

QByteArray Bytes(const std::uint8_t *data, std::size_t size)
{
    return QByteArray(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
}

QString Text(const std::uint8_t *data, std::size_t size)
{
    return QString::fromUtf8(Bytes(data, size));
}

QStringList Words(const std::uint8_t *data, std::size_t size)
{
    QStringList words;
    for (const QByteArray &word : Bytes(data, size).split('\0'))
        words << QString::fromUtf8(word);
    return words;
}

std::vector<std::string> StdWords(const std::uint8_t *data, std::size_t size)
{
    std::vector<std::string> words(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0)
            words.emplace_back();
        else
            words.back() += static_cast<char>(data[i]);
    }
    return words;
}

QString ScratchFolder()
{
    // Kept for the life of the process: its destructor at exit removes the folder.
    static const std::unique_ptr<QTemporaryDir> folder = [] {
        auto dir = std::make_unique<QTemporaryDir>();
        Check(dir->isValid(), "a scratch folder can be made");
        return dir;
    }();
    return folder->path();
}

QString WriteScratchFile(const std::uint8_t *data, std::size_t size, const QString &suffix)
{
    const QString path = ScratchFolder() + QStringLiteral("/input") + suffix;
    QFile file(path);
    Check(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "the scratch file opens");
    Check(file.write(Bytes(data, size)) == static_cast<qint64>(size),
          "the scratch file is written");
    return path;
}

} // namespace fuzz
