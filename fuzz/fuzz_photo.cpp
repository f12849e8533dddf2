// One photo through the engine's decoding and scaling into a frame (MakePhotoFrame):
// JPEG, BMP, GIF or any bytes. Input: one byte of choices (bits 0-1: the stretch mode;
// bits 2-4: the frame size), then the photo file.

#include "fuzz_support.h"

#include "engine/render/default_resizer.h"
#include "engine/render/photo_frame.h"

#include <algorithm>

namespace {

struct Size
{
    int width, height;
};
// The movie sizes the program offers, and two odd ones.
constexpr Size kSizes[] = {{320, 240}, {640, 480}, {480, 320}, {320, 480}, {7, 5}, {2, 1}};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const int mode = data[0] & 3;
    const Size frameSize = kSizes[((data[0] >> 2) & 7) % std::size(kSizes)];
    const QString path = fuzz::WriteScratchFile(data + 1, size - 1, QStringLiteral(".jpg"));
    static const platform::ComPtr<engine::IResizer> resizer = engine::CreateDefaultResizer();

    bool decoded = false;
    const auto frame = engine::MakePhotoFrame(
        path, mode, frameSize.width, frameSize.height, resizer.Get(), &decoded);
    fuzz::Check(frame && frame->width == frameSize.width && frame->height == frameSize.height,
                "the frame has the movie's size");
    fuzz::Check(frame->bytes.size()
                    == static_cast<std::size_t>(frame->stride)
                           * static_cast<std::size_t>(frame->height),
                "the frame holds its rows");
    if (!decoded)
        fuzz::Check(
            std::all_of(frame->bytes.begin(), frame->bytes.end(), [](auto b) { return b == 0; }),
            "a photo that does not decode gives a black frame");
    return 0;
}
