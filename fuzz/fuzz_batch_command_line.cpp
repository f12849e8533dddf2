// The program's own command line (ReadCommandLine). Input: the arguments, cut at zero bytes.

#include "fuzz_support.h"

#include "app/batch_options.h"

#include <QFileInfo>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QStringList args = fuzz::Words(data, size);
    const batch::Request request = batch::ReadCommandLine(args, size % 2 == 0);
    if (const auto *exit = std::get_if<batch::ExitWith>(&request)) {
        fuzz::Check(exit->status == batch::kExitMade || exit->status == batch::kExitBadArguments,
                    "the exit status is one the manual names");
    } else if (const auto *options = std::get_if<batch::Options>(&request)) {
        fuzz::Check(args.contains(QStringLiteral("--batch")), "a batch run was asked for");
        fuzz::Check(options->secondsIndex >= 0 && options->secondsIndex <= 2, "seconds in range");
        fuzz::Check(options->sizeIndex >= 0 && options->sizeIndex <= 3, "size in range");
        fuzz::Check(!options->photoFolders.isEmpty(), "a batch run has photo folders");
        for (const QString &folder : options->photoFolders)
            fuzz::Check(QFileInfo(folder).isDir(), "every photo folder is a folder");
        fuzz::Check(QFileInfo::exists(options->music), "the music file exists");
    }
    return 0;
}
