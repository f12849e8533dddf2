#include "engine/render/default_resizer.h"

#include "engine/dshow.h"
#include "engine/timeline/timeline_av.h"

#include <cstring>

namespace engine {
namespace {

class DefaultResizer final : public platform::ComObject<IResizer>
{
public:
    HRESULT FitInto(const RgbImageView &source, const RgbImageTarget &frame) override
    {
        if (!source.data || !frame.data || frame.width <= 0 || frame.height <= 0)
            return E_INVALIDARG;
        FillBlack(frame);
        const FitResult fit = FitRect(source.width, source.height, frame.width, frame.height);
        if (!ScaleRegion(source, WholeOf(source), frame, fit.Rect()))
            return E_INVALIDARG;
        return S_OK;
    }
};

// Copies rows of `bytes` bytes from one picture into another.
void CopyRows(
    const std::uint8_t *src, int srcStride, std::uint8_t *dst, int dstStride, int rows, int bytes)
{
    for (int y = 0; y < rows; ++y)
        std::memcpy(dst + static_cast<std::ptrdiff_t>(y) * dstStride,
                    src + static_cast<std::ptrdiff_t>(y) * srcStride,
                    static_cast<std::size_t>(bytes));
}

// Scales the picture at src, of size `from`, to size `to` at dst.
bool Scale(
    const std::uint8_t *src, int srcStride, QSize from, std::uint8_t *dst, int dstStride, QSize to)
{
    // Area averaging when shrinking keeps fine detail from aliasing; bicubic when growing.
    const bool shrinking = to.width() < from.width() && to.height() < from.height();
    av::SwsContextPtr sws(sws_getContext(from.width(),
                                         from.height(),
                                         AV_PIX_FMT_RGB24,
                                         to.width(),
                                         to.height(),
                                         AV_PIX_FMT_RGB24,
                                         shrinking ? SWS_AREA : SWS_BICUBIC,
                                         nullptr,
                                         nullptr,
                                         nullptr));
    if (!sws)
        return false;
    // swscale wants aligned rows: scale into a buffer of its own, then copy into place.
    const int rowBytes = (to.width() * 3 + 63) & ~63;
    std::unique_ptr<std::uint8_t, decltype(&av_free)> scaled(
        static_cast<std::uint8_t *>(
            av_malloc(static_cast<std::size_t>(rowBytes) * to.height() + 64)),
        &av_free);
    if (!scaled)
        return false;
    const std::uint8_t *srcPlanes[4] = {src, nullptr, nullptr, nullptr};
    const int srcStrides[4] = {srcStride, 0, 0, 0};
    std::uint8_t *dstPlanes[4] = {scaled.get(), nullptr, nullptr, nullptr};
    const int dstStrides[4] = {rowBytes, 0, 0, 0};
    if (sws_scale(sws.get(), srcPlanes, srcStrides, 0, from.height(), dstPlanes, dstStrides)
        != to.height())
        return false;
    CopyRows(scaled.get(), rowBytes, dst, dstStride, to.height(), to.width() * 3);
    return true;
}

} // namespace

bool ScaleRegion(const RgbImageView &source,
                 const QRect &from,
                 const RgbImageTarget &target,
                 const QRect &to)
{
    if (from.isEmpty() || to.isEmpty() || !WholeOf(source).contains(from)
        || !WholeOf(target).contains(to))
        return false;
    const std::uint8_t *src = source.data + static_cast<std::ptrdiff_t>(from.y()) * source.stride
                              + static_cast<std::ptrdiff_t>(from.x()) * 3;
    std::uint8_t *dst = target.data + static_cast<std::ptrdiff_t>(to.y()) * target.stride
                        + static_cast<std::ptrdiff_t>(to.x()) * 3;
    if (from.size() == to.size()) {
        CopyRows(src, source.stride, dst, target.stride, to.height(), to.width() * 3);
        return true;
    }
    return Scale(src, source.stride, from.size(), dst, target.stride, to.size());
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
