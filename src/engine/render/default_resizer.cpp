#include "engine/render/default_resizer.h"

#include "engine/timeline/timeline_av.h"

#include <cstring>

namespace engine {
namespace {

using platform::E_INVALIDARG;
using platform::HRESULT;
using platform::S_OK;

class DefaultResizer final : public platform::ComObject<IResizer>
{
public:
    HRESULT FitInto(const RgbImageView &source, const RgbImageTarget &frame) override
    {
        if (!source.data || !frame.data || frame.width <= 0 || frame.height <= 0)
            return E_INVALIDARG;
        FillBlack(frame);
        const FitResult fit = FitRect(source.width, source.height, frame.width, frame.height);
        if (!ScaleRegion(source,
                         0,
                         0,
                         source.width,
                         source.height,
                         frame,
                         fit.x,
                         fit.y,
                         fit.width,
                         fit.height))
            return E_INVALIDARG;
        return S_OK;
    }
};

} // namespace

bool ScaleRegion(const RgbImageView &source,
                 int sx,
                 int sy,
                 int sw,
                 int sh,
                 const RgbImageTarget &target,
                 int dx,
                 int dy,
                 int dw,
                 int dh)
{
    if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0 || sx < 0 || sy < 0 || dx < 0 || dy < 0
        || sx + sw > source.width || sy + sh > source.height || dx + dw > target.width
        || dy + dh > target.height)
        return false;
    const std::uint8_t *src = source.data + static_cast<std::ptrdiff_t>(sy) * source.stride
                              + static_cast<std::ptrdiff_t>(sx) * 3;
    std::uint8_t *dst = target.data + static_cast<std::ptrdiff_t>(dy) * target.stride
                        + static_cast<std::ptrdiff_t>(dx) * 3;
    if (sw == dw && sh == dh) {
        for (int y = 0; y < sh; ++y)
            std::memcpy(dst + static_cast<std::ptrdiff_t>(y) * target.stride,
                        src + static_cast<std::ptrdiff_t>(y) * source.stride,
                        static_cast<std::size_t>(sw) * 3);
        return true;
    }
    // Area averaging when shrinking keeps fine detail from aliasing; bicubic when growing.
    const int flags = (dw < sw && dh < sh) ? SWS_AREA : SWS_BICUBIC;
    av::SwsContextPtr sws(sws_getContext(
        sw, sh, AV_PIX_FMT_RGB24, dw, dh, AV_PIX_FMT_RGB24, flags, nullptr, nullptr, nullptr));
    if (!sws)
        return false;
    // swscale wants aligned rows: scale into a buffer of its own, then copy into place.
    const int rowBytes = (dw * 3 + 63) & ~63;
    std::unique_ptr<std::uint8_t, decltype(&av_free)> scaled(
        static_cast<std::uint8_t *>(av_malloc(static_cast<std::size_t>(rowBytes) * dh + 64)),
        &av_free);
    if (!scaled)
        return false;
    const std::uint8_t *srcPlanes[4] = {src, nullptr, nullptr, nullptr};
    const int srcStrides[4] = {source.stride, 0, 0, 0};
    std::uint8_t *dstPlanes[4] = {scaled.get(), nullptr, nullptr, nullptr};
    const int dstStrides[4] = {rowBytes, 0, 0, 0};
    if (sws_scale(sws.get(), srcPlanes, srcStrides, 0, sh, dstPlanes, dstStrides) != dh)
        return false;
    for (int y = 0; y < dh; ++y)
        std::memcpy(dst + static_cast<std::ptrdiff_t>(y) * target.stride,
                    scaled.get() + static_cast<std::ptrdiff_t>(y) * rowBytes,
                    static_cast<std::size_t>(dw) * 3);
    return true;
}

void FillBlack(const RgbImageTarget &target)
{
    for (int y = 0; y < target.height; ++y)
        std::memset(target.data + static_cast<std::ptrdiff_t>(y) * target.stride,
                    0,
                    static_cast<std::size_t>(target.width) * 3);
}

platform::ComPtr<IResizer> CreateDefaultResizer()
{
    return platform::MakeObject<DefaultResizer, IResizer>();
}

} // namespace engine
