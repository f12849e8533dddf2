// The converter launcher: the frame size read from the head of the temporary AVI
// (AviFrameSize) and the old option spellings turned into today's (TranslateArguments).
// Input: the AVI's first 72 bytes, then the arguments cut at zero bytes.

#include "fuzz_support.h"

#include "converter/option_translation.h"

#include <algorithm>
#include <cstdlib>

namespace {

constexpr std::size_t kAviHead = 72;

// The old options that take the next argument as their value.
bool TakesValue(const std::string &option)
{
    for (const char *name : {"-ab", "-b", "-flags", "-aic", "-s", "-r", "-vcodec"}) {
        if (option == name)
            return true;
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::size_t head = std::min(size, kAviHead);
    const QString avi = fuzz::WriteScratchFile(data, head, QStringLiteral(".avi"));
    const converter::FrameSize inputSize = converter::AviFrameSize(avi.toStdString());

    const std::vector<std::string> arguments = fuzz::StdWords(data + head, size - head);
    const std::vector<std::string> out = converter::TranslateArguments(arguments, inputSize);
    // The output file stays last unless an option took it as its value.
    const std::size_t n = arguments.size();
    fuzz::Check(out.empty() || out.back() == arguments.back()
                    || (n >= 2 && TakesValue(arguments[n - 2])),
                "the output file stays last");
    // A level the translation adds (none was given) is a Simple Profile level.
    if (std::find(arguments.begin(), arguments.end(), "-level:v") != arguments.end())
        return 0;
    const auto level = std::find(out.begin(), out.end(), "-level:v");
    if (level != out.end()) {
        fuzz::Check(level + 1 != out.end(), "the level has a value");
        const long number = std::strtol(level[1].c_str(), nullptr, 10);
        fuzz::Check(number >= 1 && number <= 9, "a Simple Profile level is named");
    }
    return 0;
}
