#pragma once
// What the fuzz targets share: turning the fuzzer's bytes into the inputs the readers take
// (texts, word lists, files) and a check that stops the run when a property fails.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzz {

// Stops the process with the message when the condition does not hold; libFuzzer keeps the
// input that did it.
void Check(bool condition, const char *what);

QByteArray Bytes(const std::uint8_t *data, std::size_t size);
// The bytes as UTF-8 (invalid sequences become U+FFFD, as for text read from a file).
QString Text(const std::uint8_t *data, std::size_t size);
// The bytes cut at every zero byte: the words of a command line.
QStringList Words(const std::uint8_t *data, std::size_t size);
std::vector<std::string> StdWords(const std::uint8_t *data, std::size_t size);

// A folder of this process for the files a reader opens, made on first use and emptied
// at exit.
QString ScratchFolder();
// Writes the bytes to one file of the scratch folder (replacing the last one) and returns
// its path.
QString WriteScratchFile(const std::uint8_t *data, std::size_t size, const QString &suffix);

} // namespace fuzz
