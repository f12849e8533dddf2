#pragma once
// The resizer: scales a decoded photo into the frame. The render engine creates the class
// named by SetResizerGUID through the class store and falls back to its own default
// resizer when that class is not available; both place the picture by FitRect, so they
// give the same geometry.

#include "platform/com.h"

#include <QRect>

#include <algorithm>
#include <cstdint>

namespace engine {

struct FitResult
{
    int x = 0, y = 0, width = 0, height = 0;

    QRect Rect() const { return {x, y, width, height}; }
};

// The largest rectangle of the source's shape that fits into the frame, centred: the
// photo keeps its aspect ratio, with black bars where the shapes differ. Width and height
// are at least 1 for any non-empty source and frame.
constexpr FitResult FitRect(int srcWidth, int srcHeight, int frameWidth, int frameHeight)
{
    if (srcWidth <= 0 || srcHeight <= 0 || frameWidth <= 0 || frameHeight <= 0)
        return {};
    FitResult r;
    // Compare srcW/srcH with frameW/frameH without rounding.
    if (static_cast<std::int64_t>(srcWidth) * frameHeight
        >= static_cast<std::int64_t>(srcHeight) * frameWidth) {
        r.width = frameWidth;
        r.height = static_cast<int>(
            (static_cast<std::int64_t>(srcHeight) * frameWidth + srcWidth / 2) / srcWidth);
    } else {
        r.height = frameHeight;
        r.width = static_cast<int>(
            (static_cast<std::int64_t>(srcWidth) * frameHeight + srcHeight / 2) / srcHeight);
    }
    r.width = std::clamp(r.width, 1, frameWidth);
    r.height = std::clamp(r.height, 1, frameHeight);
    r.x = (frameWidth - r.width) / 2;
    r.y = (frameHeight - r.height) / 2;
    return r;
}

// An RGB24 picture: rows top to bottom, 3 bytes per pixel in R, G, B order.
struct RgbImageView
{
    const std::uint8_t *data = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0; // bytes from one row to the next
};
struct RgbImageTarget
{
    std::uint8_t *data = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;
};

// The whole of a picture, as a rectangle.
inline QRect WholeOf(const RgbImageView &image)
{
    return {0, 0, image.width, image.height};
}
inline QRect WholeOf(const RgbImageTarget &image)
{
    return {0, 0, image.width, image.height};
}

class IResizer : public platform::IUnknown
{
public:
    static constexpr platform::Iid kIid
        = platform::MakeGuid("{3C1E5F2A-8B47-4D90-A6E1-52F0C7D8B934}");

    // Fills the whole frame: the source fitted by FitRect, black around it.
    // May be called from several threads at once with different targets.
    virtual platform::HRESULT FitInto(const RgbImageView &source, const RgbImageTarget &frame) = 0;
};

} // namespace engine
