#include "engine/codecs/msvideo1_encoder.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace engine {

namespace {

// The stream is a series of little-endian 16-bit words, block by block from the bottom
// block row up, each block's pixels from its bottom row up.
void PutWord(std::vector<std::uint8_t> *out, unsigned word)
{
    out->push_back(static_cast<std::uint8_t>(word & 0xFF));
    out->push_back(static_cast<std::uint8_t>(word >> 8));
}

// A run of skipped blocks: 0x8400 + count, at most 1023 blocks a word.
void PutSkips(std::vector<std::uint8_t> *out, int count)
{
    while (count > 0) {
        const int n = std::min(count, 0x3FF);
        PutWord(out, 0x8400u + static_cast<unsigned>(n));
        count -= n;
    }
}

const std::uint16_t *Row(const AVFrame &picture, int y)
{
    return reinterpret_cast<const std::uint16_t *>(
        picture.data[0] + static_cast<std::ptrdiff_t>(y) * picture.linesize[0]);
}

unsigned Red(unsigned c)
{
    return (c >> 10) & 31;
}
unsigned Green(unsigned c)
{
    return (c >> 5) & 31;
}
unsigned Blue(unsigned c)
{
    return c & 31;
}

// The mean of the pixels whose bit in `mask` equals `which`.
unsigned MeanColour(const std::array<unsigned, 16> &pixels, unsigned mask, unsigned which)
{
    unsigned r = 0, g = 0, b = 0, n = 0;
    for (unsigned i = 0; i < 16; ++i) {
        if (((mask >> i) & 1u) != which)
            continue;
        r += Red(pixels[i]);
        g += Green(pixels[i]);
        b += Blue(pixels[i]);
        ++n;
    }
    if (n == 0)
        return 0;
    return ((r + n / 2) / n) << 10 | ((g + n / 2) / n) << 5 | ((b + n / 2) / n);
}

} // namespace

MsVideo1Encoder::MsVideo1Encoder(int width, int height)
    : m_width(width)
    , m_height(height)
    , m_previous(static_cast<std::size_t>(width) * height)
{}

void MsVideo1Encoder::Encode(const AVFrame &picture,
                             bool unchanged,
                             bool key,
                             std::vector<std::uint8_t> *out)
{
    out->clear();
    const int blocksWide = m_width / 4;
    const int blocksHigh = m_height / 4;
    if (!key && unchanged && m_havePrevious) {
        PutSkips(out, blocksWide * blocksHigh);
        return;
    }
    const bool inter = !key && m_havePrevious;
    int skips = 0;
    for (int by = blocksHigh - 1; by >= 0; --by) {
        for (int bx = 0; bx < blocksWide; ++bx) {
            if (inter && !BlockChanged(picture, bx, by)) {
                ++skips;
                continue;
            }
            PutSkips(out, skips);
            skips = 0;
            CodeBlock(picture, bx, by, out);
        }
    }
    // Trailing skips too: the decoder expects a code for every block.
    PutSkips(out, skips);
    KeepPicture(picture);
}

bool MsVideo1Encoder::BlockChanged(const AVFrame &picture, int bx, int by) const
{
    for (int y = by * 4; y < by * 4 + 4; ++y) {
        const std::uint16_t *now = Row(picture, y) + bx * 4;
        const std::uint16_t *before
            = m_previous.data() + static_cast<std::size_t>(y) * m_width + bx * 4;
        if (std::memcmp(now, before, 4 * sizeof(std::uint16_t)) != 0)
            return true;
    }
    return false;
}

// One colour when the block is nearly flat, else two: the pixels brighter than the
// block's mean and the others, each group its mean colour.
void MsVideo1Encoder::CodeBlock(const AVFrame &picture,
                                int bx,
                                int by,
                                std::vector<std::uint8_t> *out) const
{
    std::array<unsigned, 16> pixels{};
    std::array<unsigned, 16> luma{};
    unsigned lumaSum = 0;
    unsigned low = 0xFFFF, high = 0;
    for (int py = 0; py < 4; ++py) {
        const std::uint16_t *row = Row(picture, by * 4 + 3 - py) + bx * 4;
        for (int px = 0; px < 4; ++px) {
            const unsigned c = row[px] & 0x7FFFu;
            const auto i = static_cast<std::size_t>(py * 4 + px);
            pixels[i] = c;
            luma[i] = 2 * Red(c) + 4 * Green(c) + Blue(c);
            lumaSum += luma[i];
            low = std::min(low, luma[i]);
            high = std::max(high, luma[i]);
        }
    }
    if (high - low <= 2) {
        const unsigned colour = MeanColour(pixels, 0, 0);
        // A fill word whose high byte reads 0x84..0x87 would be taken for a skip (red 1):
        // that colour goes out as a two-colour block of one colour instead.
        if (Red(colour) != 1) {
            PutWord(out, colour | 0x8000u);
            return;
        }
        PutWord(out, 0);
        PutWord(out, colour);
        PutWord(out, colour);
        return;
    }
    unsigned mask = 0;
    for (unsigned i = 0; i < 16; ++i)
        mask |= (luma[i] * 16 > lumaSum ? 1u : 0u) << i;
    // The mask's top bit must be clear (a set one marks a fill word): invert it with the
    // colours swapped where needed. Bit set: first colour.
    if (mask & 0x8000u)
        mask ^= 0xFFFFu;
    PutWord(out, mask);
    PutWord(out, MeanColour(pixels, mask, 1));
    PutWord(out, MeanColour(pixels, mask, 0));
}

void MsVideo1Encoder::KeepPicture(const AVFrame &picture)
{
    for (int y = 0; y < m_height; ++y)
        std::memcpy(m_previous.data() + static_cast<std::size_t>(y) * m_width,
                    Row(picture, y),
                    static_cast<std::size_t>(m_width) * sizeof(std::uint16_t));
    m_havePrevious = true;
}

} // namespace engine
