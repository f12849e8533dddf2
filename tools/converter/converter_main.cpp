// KelvoraCfg.dll - the movie converter run by the conversion stage.
//
//   KelvoraCfg.dll -i TempData.avi [-s WxH] -ab 128kb -vcodec mpeg4 ... Output.mp4
//
// It checks that its three libraries stand beside it, translates the old option spellings
// (option_translation.h) and replaces itself by `ffmpeg -y ...` from PATH, so ffmpeg's
// output reaches the program unchanged: "Press [q] to stop, [?] for help" before the
// result and "muxing overhead" once the movie is written. Standard input is /dev/null,
// so ffmpeg never waits for a key or an answer; -y answers the overwrite question.
//
// When ffmpeg cannot be run, one line that begins with "[" says why and the exit status
// is not zero: the program reads the text after the first "[" and reports the failure.

#include "option_translation.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifdef VANTOREL_COVERAGE
// libgcov's: writes this process's line counters, which would otherwise be lost to _exit or
// to the exec that replaces the process.
extern "C" void __gcov_dump(void);
#endif

namespace {

void WriteCoverageCounters()
{
#ifdef VANTOREL_COVERAGE
    __gcov_dump();
#endif
}

constexpr const char *kLibraries[] = {"avcodec.dll", "avformat.dll", "avutil.dll"};

[[noreturn]] void Fail(int status, const std::string &why)
{
    const std::string line = "[KelvoraCfg] " + why + "\n";
    // Standard error, where ffmpeg's own messages go; the program reads it mixed with
    // standard output.
    if (write(STDERR_FILENO, line.data(), line.size()) < 0) {
        // Nothing else can be told.
    }
    WriteCoverageCounters();
    _exit(status);
}

// This program's folder with a trailing '/'.
std::string OwnFolder()
{
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return std::string();
    std::string text(path, static_cast<size_t>(n));
    return text.substr(0, text.rfind('/') + 1);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        Fail(2, "usage: KelvoraCfg.dll -i INPUT [options] OUTPUT");

    const std::string folder = OwnFolder();
    for (const char *library : kLibraries) {
        struct stat st;
        // stat follows links: a link whose target is gone counts as missing.
        if (folder.empty() || stat((folder + library).c_str(), &st) != 0)
            Fail(3,
                 std::string("cannot convert: ") + library + " is missing in "
                     + (folder.empty() ? std::string("the program folder") : folder));
    }

    std::vector<std::string> arguments{"ffmpeg", "-y"};
    const std::vector<std::string> given(argv + 1, argv + argc);
    converter::FrameSize inputSize;
    for (size_t i = 0; i + 1 < given.size(); ++i) {
        if (given[i] == "-i")
            inputSize = converter::AviFrameSize(given[i + 1]);
    }
    const auto translated = converter::TranslateArguments(given, inputSize);
    arguments.insert(arguments.end(), translated.begin(), translated.end());
    std::vector<char *> pointers;
    for (std::string &a : arguments)
        pointers.push_back(a.data());
    pointers.push_back(nullptr);

    // No input: ffmpeg's key polling sees the end of /dev/null and goes on.
    const int devNull = open("/dev/null", O_RDONLY);
    if (devNull >= 0 && devNull != STDIN_FILENO) {
        dup2(devNull, STDIN_FILENO);
        close(devNull);
    }
    // The program may stop reading (it is closing) while the movie is still being
    // written; ffmpeg must then finish the file rather than die on its next message.
    // An ignored signal stays ignored in the program exec'd next.
    signal(SIGPIPE, SIG_IGN);

    WriteCoverageCounters();
    execvp("ffmpeg", pointers.data());
    const int error = errno;
    Fail(error == ENOENT ? 127 : 126,
         std::string("cannot run ffmpeg: ")
             + (error == ENOENT ? "not found on PATH" : std::strerror(error)));
}
