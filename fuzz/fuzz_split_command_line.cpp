// The Windows-style splitting of a command line (SplitCommandLine) and its inverse,
// QuoteArgument. Input: a command line; the same bytes cut at zero bytes are also taken
// as a list of words to join and split again.

#include "fuzz_support.h"

#include "platform/processes.h"

namespace {

// The program name is quoted whole: inside quotes its backslashes stay as they are, and
// it cannot hold a quote of its own.
QString JoinCommandLine(const QStringList &words)
{
    QString line = u'"' + words.first() + u'"';
    for (qsizetype i = 1; i < words.size(); ++i)
        line += u' ' + platform::QuoteArgument(words[i]);
    return line;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // Whatever a line holds, its words joined again split into the same words.
    const QStringList split = platform::SplitCommandLine(fuzz::Text(data, size));
    if (!split.isEmpty() && !split.first().contains(u'"'))
        fuzz::Check(platform::SplitCommandLine(JoinCommandLine(split)) == split,
                    "split words joined and split again stay the same");

    // Any words, quoted one by one, come back unchanged.
    QStringList words = fuzz::Words(data, size);
    words.first().remove(u'"');
    fuzz::Check(platform::SplitCommandLine(JoinCommandLine(words)) == words,
                "quoted words split back into themselves");
    return 0;
}
