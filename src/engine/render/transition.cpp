#include "engine/render/transition.h"

#include "engine/timeline/timeline.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace engine {
namespace {

void BarWipe(const std::uint8_t *from,
             const std::uint8_t *to,
             std::uint8_t *out,
             int width,
             int height,
             int stride,
             double progress)
{
    const int edge = std::clamp(static_cast<int>(std::lround(progress * width)), 0, width);
    const std::size_t left = static_cast<std::size_t>(edge) * 3;
    const std::size_t right = static_cast<std::size_t>(stride) - left;
    for (int y = 0; y < height; ++y) {
        const std::size_t row = static_cast<std::size_t>(y) * stride;
        std::memcpy(out + row, to + row, left);
        std::memcpy(out + row + left, from + row + left, right);
    }
}

// out = from + (to - from) * weight / 128, weight 0..128, on every byte.
void Dissolve(const std::uint8_t *from,
              const std::uint8_t *to,
              std::uint8_t *out,
              std::size_t bytes,
              int weight)
{
    std::size_t i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i w = _mm_set1_epi16(static_cast<short>(weight));
    for (; i + 16 <= bytes; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(from + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(to + i));
        const __m128i aLo = _mm_unpacklo_epi8(a, zero);
        const __m128i aHi = _mm_unpackhi_epi8(a, zero);
        const __m128i dLo = _mm_sub_epi16(_mm_unpacklo_epi8(b, zero), aLo);
        const __m128i dHi = _mm_sub_epi16(_mm_unpackhi_epi8(b, zero), aHi);
        const __m128i lo = _mm_add_epi16(aLo, _mm_srai_epi16(_mm_mullo_epi16(dLo, w), 7));
        const __m128i hi = _mm_add_epi16(aHi, _mm_srai_epi16(_mm_mullo_epi16(dHi, w), 7));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + i), _mm_packus_epi16(lo, hi));
    }
#endif
    for (; i < bytes; ++i) {
        const int d = static_cast<int>(to[i]) - static_cast<int>(from[i]);
        out[i] = static_cast<std::uint8_t>(from[i] + ((d * weight) >> 7));
    }
}

} // namespace

TransitionKind TransitionKindOf(const Guid &clsid)
{
    if (clsid == CLSID_DxtJpeg)
        return TransitionKind::BarWipe;
    if (clsid == CLSID_CrossFade)
        return TransitionKind::Dissolve;
    return TransitionKind::Cut;
}

void DrawTransition(TransitionKind kind,
                    const std::uint8_t *from,
                    const std::uint8_t *to,
                    std::uint8_t *out,
                    int width,
                    int height,
                    int stride,
                    double progress)
{
    progress = std::clamp(progress, 0.0, 1.0);
    const std::size_t bytes = static_cast<std::size_t>(stride) * static_cast<std::size_t>(height);
    switch (kind) {
    case TransitionKind::BarWipe:
        BarWipe(from, to, out, width, height, stride, progress);
        break;
    case TransitionKind::Dissolve:
        Dissolve(from, to, out, bytes, static_cast<int>(std::lround(progress * 128)));
        break;
    case TransitionKind::Cut:
        std::memcpy(out, to, bytes);
        break;
    }
}

} // namespace engine
