#pragma once
// Photos as frames of the video group.
//
// Frame layout (what the video group's output pin delivers, and every picture here):
// RGB24 as in a Windows DIB, rows bottom-up (the first row in memory is the bottom row of
// the picture), bytes B, G, R per pixel, each row 3 * width bytes rounded up to a multiple
// of 4 (the padding bytes are 0).

#include "engine/render/resizer.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

namespace engine {

struct Frame
{
    int width = 0;
    int height = 0;
    int stride = 0;
    std::vector<std::uint8_t> bytes;

    Frame() = default;
    Frame(int w, int h); // black
    static int StrideFor(int width) { return (width * 3 + 3) & ~3; }
    // Pixel at (x, y), y counted from the top, as B, G, R.
    const std::uint8_t *PixelAt(int x, int y) const
    {
        return bytes.data() + static_cast<std::size_t>(height - 1 - y) * stride
               + static_cast<std::size_t>(x) * 3;
    }
};

// Decodes a photo (JPEG, BMP, GIF; progressive and CMYK JPEG; EXIF orientation applied, so
// the picture stands upright) and puts it into a black frame of width x height by the
// stretch mode (RESIZEF_*). RESIZEF_PRESERVEASPECTRATIO goes through `resizer`. A photo
// much larger than the frame is decoded at a reduced scale. A photo that cannot be
// decoded gives a black frame; *decoded (when given) tells which happened.
std::shared_ptr<const Frame> MakePhotoFrame(const QString &path,
                                            int stretchMode,
                                            int width,
                                            int height,
                                            IResizer *resizer,
                                            bool *decoded = nullptr);

} // namespace engine
