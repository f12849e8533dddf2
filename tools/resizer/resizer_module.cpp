// The resizer server: fits a photo into the video frame with a Lanczos filter, keeping
// its shape (FitRect) and filling the rest of the frame with black.
//
// Scaling works on planar RGB, so that no colour conversion (and no chroma averaging)
// happens on the way: each of the three planes is filtered on its own.

#include "engine/av_ptr.h"
#include "engine/dshow.h"
#include "engine/render/resizer.h"
#include "support/server_self_registration.h"

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include <cstring>
#include <memory>
#include <vector>

using platform::E_INVALIDARG;
using platform::HRESULT;
using platform::S_OK;

namespace {

using engine::av::SwsContextPtr;

// Three planes of one picture, G, B and R as libswscale's GBRP format orders them.
// libswscale reads and writes whole vector registers: rows are 64-byte aligned in length
// and every plane has slack behind its last row.
struct PlanarPicture
{
    static constexpr int kAlign = 64;
    int width = 0;
    int height = 0;
    int stride = 0;
    std::vector<std::uint8_t> planes[3];

    PlanarPicture(int w, int h)
        : width(w)
        , height(h)
        , stride((w + kAlign - 1) / kAlign * kAlign)
    {
        for (auto &p : planes)
            p.resize(static_cast<std::size_t>(stride) * (h + 1) + kAlign);
    }
};

// The byte of a packed R, G, B pixel that goes into each GBRP plane.
constexpr int kPlaneChannel[3] = {1, 2, 0};

PlanarPicture Split(const engine::RgbImageView &source)
{
    PlanarPicture out(source.width, source.height);
    for (int y = 0; y < source.height; ++y) {
        const std::uint8_t *row = source.data + static_cast<std::ptrdiff_t>(y) * source.stride;
        const std::size_t base = static_cast<std::size_t>(y) * out.stride;
        for (int x = 0; x < source.width; ++x) {
            for (int p = 0; p < 3; ++p)
                out.planes[p][base + x] = row[x * 3 + kPlaneChannel[p]];
        }
    }
    return out;
}

void MergeInto(const PlanarPicture &picture,
               const engine::RgbImageTarget &frame,
               const engine::FitResult &fit)
{
    for (int y = 0; y < picture.height; ++y) {
        std::uint8_t *row = frame.data + static_cast<std::ptrdiff_t>(fit.y + y) * frame.stride
                            + static_cast<std::ptrdiff_t>(fit.x) * 3;
        const std::size_t base = static_cast<std::size_t>(y) * picture.stride;
        for (int x = 0; x < picture.width; ++x) {
            for (int p = 0; p < 3; ++p)
                row[x * 3 + kPlaneChannel[p]] = picture.planes[p][base + x];
        }
    }
}

// Lanczos scaling of the whole source into the fitted rectangle; false when libswscale
// refuses the sizes.
bool ScaleLanczos(const engine::RgbImageView &source,
                  const engine::RgbImageTarget &frame,
                  const engine::FitResult &fit)
{
    SwsContextPtr sws(sws_getContext(source.width,
                                     source.height,
                                     AV_PIX_FMT_GBRP,
                                     fit.width,
                                     fit.height,
                                     AV_PIX_FMT_GBRP,
                                     SWS_LANCZOS | SWS_ACCURATE_RND,
                                     nullptr,
                                     nullptr,
                                     nullptr));
    if (!sws)
        return false;
    PlanarPicture in = Split(source);
    PlanarPicture out(fit.width, fit.height);
    const std::uint8_t *srcPlanes[4]
        = {in.planes[0].data(), in.planes[1].data(), in.planes[2].data(), nullptr};
    const int srcStrides[4] = {in.stride, in.stride, in.stride, 0};
    std::uint8_t *dstPlanes[4]
        = {out.planes[0].data(), out.planes[1].data(), out.planes[2].data(), nullptr};
    const int dstStrides[4] = {out.stride, out.stride, out.stride, 0};
    if (sws_scale(sws.get(), srcPlanes, srcStrides, 0, in.height, dstPlanes, dstStrides)
        != fit.height)
        return false;
    MergeInto(out, frame, fit);
    return true;
}

// For sizes libswscale does not take (a picture one pixel wide, say): nearest pixel.
void ScaleNearest(const engine::RgbImageView &source,
                  const engine::RgbImageTarget &frame,
                  const engine::FitResult &fit)
{
    for (int y = 0; y < fit.height; ++y) {
        const int sy = static_cast<int>(static_cast<std::int64_t>(y) * source.height / fit.height);
        const std::uint8_t *srcRow = source.data + static_cast<std::ptrdiff_t>(sy) * source.stride;
        std::uint8_t *dstRow = frame.data + static_cast<std::ptrdiff_t>(fit.y + y) * frame.stride
                               + static_cast<std::ptrdiff_t>(fit.x) * 3;
        for (int x = 0; x < fit.width; ++x) {
            const int sx
                = static_cast<int>(static_cast<std::int64_t>(x) * source.width / fit.width);
            std::memcpy(dstRow + x * 3, srcRow + sx * 3, 3);
        }
    }
}

class LanczosResizer final : public platform::ComObject<engine::IResizer>
{
public:
    HRESULT FitInto(const engine::RgbImageView &source,
                    const engine::RgbImageTarget &frame) override
    {
        if (!frame.data || frame.width <= 0 || frame.height <= 0 || frame.stride < frame.width * 3)
            return E_INVALIDARG;
        for (int y = 0; y < frame.height; ++y)
            std::memset(frame.data + static_cast<std::ptrdiff_t>(y) * frame.stride,
                        0,
                        static_cast<std::size_t>(frame.width) * 3);
        if (!source.data || source.width <= 0 || source.height <= 0
            || source.stride < source.width * 3)
            return E_INVALIDARG;
        const engine::FitResult fit
            = engine::FitRect(source.width, source.height, frame.width, frame.height);
        if (fit.width == source.width && fit.height == source.height) {
            for (int y = 0; y < fit.height; ++y)
                std::memcpy(frame.data + static_cast<std::ptrdiff_t>(fit.y + y) * frame.stride
                                + static_cast<std::ptrdiff_t>(fit.x) * 3,
                            source.data + static_cast<std::ptrdiff_t>(y) * source.stride,
                            static_cast<std::size_t>(fit.width) * 3);
            return S_OK;
        }
        if (!ScaleLanczos(source, frame, fit))
            ScaleNearest(source, frame, fit);
        return S_OK;
    }
};

} // namespace

extern "C" __attribute__((visibility("default"))) HRESULT DllRegisterServer()
{
    return support::RegisterServerModule(engine::CLSID_VantorelResizer,
                                         reinterpret_cast<const void *>(&DllRegisterServer));
}

extern "C" __attribute__((visibility("default"))) HRESULT
DllGetClassObject(const platform::Guid *clsid, const platform::Guid *iid, void **out)
{
    if (!clsid || !iid || !out)
        return platform::E_POINTER;
    *out = nullptr;
    if (*clsid != engine::CLSID_VantorelResizer)
        return platform::CLASS_E_CLASSNOTAVAILABLE;
    return platform::MakeObject<LanczosResizer, engine::IResizer>()->QueryInterface(*iid, out);
}
