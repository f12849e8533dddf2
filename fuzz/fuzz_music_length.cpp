// One music file through the media detector as the timeline asks it for the music's
// length (put_Filename, then each audio stream's get_StreamLength). Input: one byte that
// picks the file's extension, then the file.

#include "fuzz_support.h"

#include "engine/timeline/media_det.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cmath>

namespace {

const char *const kExtensions[] = {".mp3", ".wma", ".wav", ".mpeg"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    static const bool quiet = [] {
        av_log_set_level(AV_LOG_QUIET);
        return true;
    }();
    (void) quiet;
    const QString path = fuzz::WriteScratchFile(
        data + 1, size - 1, QString::fromLatin1(kExtensions[data[0] % std::size(kExtensions)]));
    const auto detector = engine::CreateMediaDet();
    if (platform::Failed(detector->put_Filename(path)))
        return 0;
    long streams = 0;
    fuzz::Check(platform::Succeeded(detector->get_OutputStreams(&streams)) && streams > 0,
                "an opened file has streams");
    for (long k = 0; k < streams; ++k) {
        fuzz::Check(platform::Succeeded(detector->put_CurrentStream(k)), "each stream is chosen");
        double seconds = -1;
        fuzz::Check(platform::Succeeded(detector->get_StreamLength(&seconds)), "a length is told");
        fuzz::Check(std::isfinite(seconds) && seconds >= 0, "a length is a number of seconds");
    }
    return 0;
}
