#include "engine/codecs/cinepak_encoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace engine {

namespace {

constexpr int kDims = Codebook::kDims;
using Vector = std::array<float, kDims>;

// The codebooks are shaped on at most this many of a frame's vectors; all of them are
// then sorted into the cells, which is what makes a frame cost a few milliseconds.
constexpr int kSampleVectors = 4096;
// A block whose V1 error (squared, summed over its 16 luma and 4 chroma pairs) is at most
// this is coded from the V1 book, leaving the V4 book to the blocks with detail.
constexpr float kV1Good = 64.0f;

// A cell of the codebook's tree: a leaf is an entry, an inner cell splits its vectors by
// the side of a plane they fall on.
struct Cell
{
    int begin = 0; // its sample vectors, order[begin, end)
    int end = 0;
    double spread = 0; // summed squared distance from the mean
    Vector mean{};
    Vector axis{};
    float threshold = 0;
    int low = -1; // children, when split
    int high = -1;
    int entry = -1; // leaves: the codebook entry
};

float Dot(const float *a, const Vector &b)
{
    float s = 0;
    for (int d = 0; d < kDims; ++d)
        s += a[d] * b[static_cast<std::size_t>(d)];
    return s;
}

void Measure(const float *vectors, const std::vector<int> &order, Cell *cell)
{
    std::array<double, kDims> sum{};
    for (int i = cell->begin; i < cell->end; ++i) {
        const float *v = vectors + static_cast<std::ptrdiff_t>(order[i]) * kDims;
        for (int d = 0; d < kDims; ++d)
            sum[static_cast<std::size_t>(d)] += v[d];
    }
    const double n = std::max(1, cell->end - cell->begin);
    for (std::size_t d = 0; d < kDims; ++d)
        cell->mean[d] = static_cast<float>(sum[d] / n);
    double spread = 0;
    for (int i = cell->begin; i < cell->end; ++i) {
        const float *v = vectors + static_cast<std::ptrdiff_t>(order[i]) * kDims;
        for (int d = 0; d < kDims; ++d) {
            const double e = v[d] - cell->mean[static_cast<std::size_t>(d)];
            spread += e * e;
        }
    }
    cell->spread = spread;
}

// The direction in which the cell's vectors spread most: a few power iterations on
// their covariance, started from the axis of largest variance.
Vector MainAxis(const float *vectors, const std::vector<int> &order, const Cell &cell)
{
    double cov[kDims][kDims] = {};
    for (int i = cell.begin; i < cell.end; ++i) {
        const float *v = vectors + static_cast<std::ptrdiff_t>(order[i]) * kDims;
        double e[kDims];
        for (int d = 0; d < kDims; ++d)
            e[d] = v[d] - cell.mean[static_cast<std::size_t>(d)];
        for (int a = 0; a < kDims; ++a)
            for (int b = a; b < kDims; ++b)
                cov[a][b] += e[a] * e[b];
    }
    int widest = 0;
    for (int a = 0; a < kDims; ++a) {
        for (int b = 0; b < a; ++b)
            cov[a][b] = cov[b][a];
        if (cov[a][a] > cov[widest][widest])
            widest = a;
    }
    double axis[kDims] = {};
    axis[widest] = 1;
    for (int round = 0; round < 6; ++round) {
        double next[kDims] = {};
        double norm = 0;
        for (int a = 0; a < kDims; ++a) {
            for (int b = 0; b < kDims; ++b)
                next[a] += cov[a][b] * axis[b];
            norm += next[a] * next[a];
        }
        if (norm <= 0)
            break;
        norm = std::sqrt(norm);
        for (int a = 0; a < kDims; ++a)
            axis[a] = next[a] / norm;
    }
    Vector out{};
    for (std::size_t d = 0; d < kDims; ++d)
        out[d] = static_cast<float>(axis[d]);
    return out;
}

// Splits cell c at its mean along its main axis; false when all its vectors fall on one
// side.
bool Split(const float *vectors, std::vector<int> &order, std::vector<Cell> &cells, int c)
{
    Cell &cell = cells[static_cast<std::size_t>(c)];
    cell.axis = MainAxis(vectors, order, cell);
    cell.threshold = Dot(cell.mean.data(), cell.axis);
    const auto first = order.begin() + cell.begin;
    const auto middle = std::partition(first, order.begin() + cell.end, [&](int i) {
        return Dot(vectors + static_cast<std::ptrdiff_t>(i) * kDims, cell.axis) < cell.threshold;
    });
    const int mid = cell.begin + static_cast<int>(middle - first);
    if (mid == cell.begin || mid == cell.end)
        return false;
    Cell low, high;
    low.begin = cell.begin;
    low.end = high.begin = mid;
    high.end = cell.end;
    Measure(vectors, order, &low);
    Measure(vectors, order, &high);
    cell.low = static_cast<int>(cells.size());
    cell.high = cell.low + 1;
    cells.push_back(low); // `cell` is not used after this
    cells.push_back(high);
    return true;
}

int Classify(const std::vector<Cell> &cells, const float *v)
{
    std::size_t c = 0;
    while (cells[c].low >= 0)
        c = static_cast<std::size_t>(Dot(v, cells[c].axis) < cells[c].threshold ? cells[c].low
                                                                                : cells[c].high);
    return cells[c].entry;
}

// The tree's cells: the one with the largest spread is split until there are `size`
// leaves or nothing left worth splitting. Returns the leaves.
std::vector<int>
GrowTree(const float *vectors, std::vector<int> &order, std::vector<Cell> &cells, int size)
{
    cells.assign(1, Cell{});
    cells[0].end = static_cast<int>(order.size());
    Measure(vectors, order, &cells[0]);
    std::vector<int> leaves{0};
    while (static_cast<int>(leaves.size()) < size) {
        auto widest = std::max_element(leaves.begin(), leaves.end(), [&](int a, int b) {
            return cells[static_cast<std::size_t>(a)].spread
                   < cells[static_cast<std::size_t>(b)].spread;
        });
        const int c = *widest;
        if (cells[static_cast<std::size_t>(c)].spread < 1.0)
            break;
        if (!Split(vectors, order, cells, c)) {
            cells[static_cast<std::size_t>(c)].spread = 0;
            continue;
        }
        *widest = cells[static_cast<std::size_t>(c)].low;
        leaves.push_back(cells[static_cast<std::size_t>(c)].high);
    }
    return leaves;
}

std::uint8_t ClampByte(float v, float low, float high, float offset)
{
    return static_cast<std::uint8_t>(static_cast<int>(std::lround(std::clamp(v, low, high)))
                                     + static_cast<int>(offset));
}

void PutBe(std::vector<std::uint8_t> *out, std::size_t at, unsigned value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        (*out)[at + static_cast<std::size_t>(i)]
            = static_cast<std::uint8_t>(value >> (8 * (bytes - 1 - i)));
}

// Flag bits, 32 to a big-endian word, each word placed in the stream where the decoder
// reads it: just before the data of the block whose flag opens it.
class FlagWriter
{
public:
    explicit FlagWriter(std::vector<std::uint8_t> *out)
        : m_out(out)
    {}
    void Put(bool bit)
    {
        if (m_left == 0) {
            m_word = m_out->size();
            m_out->insert(m_out->end(), 4, 0);
            m_left = 32;
        }
        --m_left;
        if (bit)
            (*m_out)[m_word + 3 - static_cast<std::size_t>(m_left / 8)]
                |= static_cast<std::uint8_t>(1u << (m_left % 8));
    }

private:
    std::vector<std::uint8_t> *m_out;
    std::size_t m_word = 0;
    int m_left = 0;
};

// A codebook chunk: 0x20 for V4, 0x22 for V1, six bytes an entry (four luma, then the
// chroma pair as signed bytes, which the decoder turns into R = Y + 2V, G = Y - U/2 - V,
// B = Y + 2U).
void WriteBook(std::uint8_t id, const Codebook &book, std::vector<std::uint8_t> *out)
{
    const std::size_t start = out->size();
    out->insert(out->end(), 4, 0);
    for (const Vector &e : book.entries) {
        for (std::size_t d = 0; d < 4; ++d)
            out->push_back(ClampByte(e[d], 0, 255, 0));
        out->push_back(ClampByte(e[4] / 2, -128, 127, 0));
        out->push_back(ClampByte(e[5] / 2, -128, 127, 0));
    }
    (*out)[start] = id;
    PutBe(out, start + 1, static_cast<unsigned>(out->size() - start), 3);
}

} // namespace

void BuildCodebook(const float *vectors, int count, int size, Codebook *book)
{
    book->entries.clear();
    book->index.assign(static_cast<std::size_t>(std::max(count, 0)), 0);
    if (count <= 0)
        return;
    std::vector<int> order;
    const int step = std::max(1, count / kSampleVectors);
    for (int i = step / 2; i < count; i += step)
        order.push_back(i);
    std::vector<Cell> cells;
    const std::vector<int> leaves = GrowTree(vectors, order, cells, size);
    for (int c : leaves) {
        cells[static_cast<std::size_t>(c)].entry = static_cast<int>(book->entries.size());
        book->entries.push_back(cells[static_cast<std::size_t>(c)].mean);
    }
    // Every vector goes to its cell; each entry becomes the mean of the vectors it stands
    // for (the sample's mean stays for an entry no vector chose).
    std::vector<std::array<double, kDims + 1>> sums(leaves.size());
    for (int i = 0; i < count; ++i) {
        const float *v = vectors + static_cast<std::ptrdiff_t>(i) * kDims;
        const int e = Classify(cells, v);
        book->index[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(e);
        auto &sum = sums[static_cast<std::size_t>(e)];
        for (int d = 0; d < kDims; ++d)
            sum[static_cast<std::size_t>(d)] += v[d];
        sum[kDims] += 1;
    }
    for (std::size_t e = 0; e < sums.size(); ++e) {
        if (sums[e][kDims] > 0)
            for (std::size_t d = 0; d < kDims; ++d)
                book->entries[e][d] = static_cast<float>(sums[e][d] / sums[e][kDims]);
    }
}

CinepakEncoder::CinepakEncoder(int width, int height)
    : m_width(width)
    , m_height(height)
    , m_blocksWide(width / 4)
    , m_blockCount(width / 4 * (height / 4))
    , m_previous(static_cast<std::size_t>(width) * height * 3)
{}

bool CinepakEncoder::CanCode(int width, int height)
{
    if (width <= 0 || height <= 0 || width > 0xFFFF || height > 0xFFFF)
        return false;
    // The largest frame: headers, two full books, four index bytes and two flag bits a block.
    const double blocks = static_cast<double>(width / 4) * (height / 4);
    return 22 + 2 * (4 + 256 * 6) + 4 + blocks * 4.25 + 4 < 0xFFFFFF;
}

void CinepakEncoder::Encode(const AVFrame &picture,
                            bool unchanged,
                            bool key,
                            std::vector<std::uint8_t> *out)
{
    key = key || !m_havePrevious;
    if (!key && unchanged) {
        m_coded.clear();
        WriteFrame(false, out);
        return;
    }
    FindChangedBlocks(picture, key);
    MakeVectors(picture);
    ChooseBooks();
    WriteFrame(key, out);
    KeepPicture(picture);
}

void CinepakEncoder::FindChangedBlocks(const AVFrame &picture, bool all)
{
    m_coded.clear();
    for (int b = 0; b < m_blockCount; ++b) {
        const int x = b % m_blocksWide * 4;
        const int y = b / m_blocksWide * 4;
        bool changed = all;
        for (int row = y; row < y + 4 && !changed; ++row) {
            const std::uint8_t *now
                = picture.data[0] + static_cast<std::ptrdiff_t>(row) * picture.linesize[0] + x * 3;
            const std::uint8_t *before
                = m_previous.data() + (static_cast<std::size_t>(row) * m_width + x) * 3;
            changed = std::memcmp(now, before, 12) != 0;
        }
        if (changed)
            m_coded.push_back(b);
    }
}

// For each coded block its four V4 vectors (2x2 luma, then B-Y and R-Y of the 2x2 mean)
// and its V1 vector (the four 2x2 luma means and the mean chroma). Luma is (2R+4G+B)/7,
// the one whose chroma the decoder's formulas invert.
void CinepakEncoder::MakeVectors(const AVFrame &picture)
{
    const std::size_t n = m_coded.size();
    m_v4.resize(n * 4 * kDims);
    m_v1.resize(n * kDims);
    for (std::size_t k = 0; k < n; ++k) {
        const int x0 = m_coded[k] % m_blocksWide * 4;
        const int y0 = m_coded[k] / m_blocksWide * 4;
        float *v1 = &m_v1[k * kDims];
        std::fill(v1, v1 + kDims, 0.0f);
        for (int q = 0; q < 4; ++q) {
            float *v = &m_v4[(k * 4 + static_cast<std::size_t>(q)) * kDims];
            float r = 0, g = 0, b = 0;
            for (int i = 0; i < 4; ++i) {
                const int x = x0 + (q & 1) * 2 + (i & 1);
                const int y = y0 + (q >> 1) * 2 + (i >> 1);
                const std::uint8_t *p = picture.data[0]
                                        + static_cast<std::ptrdiff_t>(y) * picture.linesize[0]
                                        + x * 3;
                v[i] = (2.0f * p[0] + 4.0f * p[1] + p[2]) / 7.0f;
                r += p[0];
                g += p[1];
                b += p[2];
            }
            const float luma = (2 * r + 4 * g + b) / 28.0f;
            v[4] = b / 4 - luma;
            v[5] = r / 4 - luma;
            v1[q] = luma;
            v1[4] += v[4] / 4;
            v1[5] += v[5] / 4;
        }
    }
}

// Blocks whose V1 entry is good enough take it; the V4 book is built for the rest, and a
// block whose V4 entries come out no better than its V1 entry goes back to V1.
void CinepakEncoder::ChooseBooks()
{
    const int n = static_cast<int>(m_coded.size());
    BuildCodebook(m_v1.data(), n, 256, &m_v1Book);
    std::vector<float> v1Error(static_cast<std::size_t>(n));
    m_v4Slot.assign(static_cast<std::size_t>(n), -1);
    m_v4Chosen.clear();
    int slots = 0;
    for (std::size_t k = 0; k < v1Error.size(); ++k) {
        const Vector &e = m_v1Book.entries[m_v1Book.index[k]];
        float error = 0;
        for (std::size_t q = 0; q < 4; ++q) {
            const float *v = &m_v4[(k * 4 + q) * kDims];
            for (int i = 0; i < 4; ++i)
                error += (v[i] - e[q]) * (v[i] - e[q]);
            error += (v[4] - e[4]) * (v[4] - e[4]) + (v[5] - e[5]) * (v[5] - e[5]);
        }
        v1Error[k] = error;
        if (error > kV1Good) {
            m_v4Slot[k] = slots++;
            m_v4Chosen.insert(m_v4Chosen.end(), &m_v4[k * 4 * kDims], &m_v4[(k + 1) * 4 * kDims]);
        }
    }
    BuildCodebook(m_v4Chosen.data(), slots * 4, 256, &m_v4Book);
    for (std::size_t k = 0; k < v1Error.size(); ++k) {
        const int slot = m_v4Slot[k];
        if (slot < 0)
            continue;
        float error = 0;
        for (int q = 0; q < 4; ++q) {
            const std::size_t i = static_cast<std::size_t>(slot * 4 + q);
            const float *v = &m_v4Chosen[i * kDims];
            const Vector &e = m_v4Book.entries[m_v4Book.index[i]];
            for (std::size_t d = 0; d < kDims; ++d)
                error += (v[d] - e[d]) * (v[d] - e[d]);
        }
        if (error >= v1Error[k])
            m_v4Slot[k] = -1;
    }
}

// One strip over the whole picture: frame header (flags, length, size, strip count), strip
// header (id, length, top, left, bottom, right), the books, then the blocks.
void CinepakEncoder::WriteFrame(bool key, std::vector<std::uint8_t> *out) const
{
    out->assign(22, 0);
    if (!m_coded.empty()) {
        // The decoder keeps the last books it was given; a frame that skips every block
        // needs none.
        WriteBook(0x20, m_v4Book, out);
        WriteBook(0x22, m_v1Book, out);
    }
    WriteBlocks(key, out);
    (*out)[0] = key ? 0 : 1;
    PutBe(out, 1, static_cast<unsigned>(out->size()), 3);
    PutBe(out, 4, static_cast<unsigned>(m_width), 2);
    PutBe(out, 6, static_cast<unsigned>(m_height), 2);
    PutBe(out, 8, 1, 2);
    (*out)[10] = key ? 0x10 : 0x11;
    PutBe(out, 11, static_cast<unsigned>(out->size() - 10), 3);
    PutBe(out, 18, static_cast<unsigned>(m_height), 2);
    PutBe(out, 20, static_cast<unsigned>(m_width), 2);
}

// Key frames (chunk 0x30): a flag a block, set for V4. Inter frames (0x31): a flag a block,
// set when it is coded, then for a coded block the V4 flag. A V4 block has four indices
// (top left, top right, bottom left, bottom right 2x2), a V1 block one.
void CinepakEncoder::WriteBlocks(bool key, std::vector<std::uint8_t> *out) const
{
    const std::size_t start = out->size();
    out->insert(out->end(), 4, 0);
    FlagWriter flags(out);
    std::size_t k = 0;
    for (int b = 0; b < m_blockCount; ++b) {
        const bool coded = k < m_coded.size() && m_coded[k] == b;
        if (!key)
            flags.Put(coded);
        if (!coded)
            continue;
        const int slot = m_v4Slot[k];
        flags.Put(slot >= 0);
        if (slot >= 0) {
            for (int q = 0; q < 4; ++q)
                out->push_back(m_v4Book.index[static_cast<std::size_t>(slot * 4 + q)]);
        } else {
            out->push_back(m_v1Book.index[k]);
        }
        ++k;
    }
    (*out)[start] = key ? 0x30 : 0x31;
    PutBe(out, start + 1, static_cast<unsigned>(out->size() - start), 3);
}

void CinepakEncoder::KeepPicture(const AVFrame &picture)
{
    const std::size_t row = static_cast<std::size_t>(m_width) * 3;
    for (int y = 0; y < m_height; ++y)
        std::memcpy(m_previous.data() + row * static_cast<std::size_t>(y),
                    picture.data[0] + static_cast<std::ptrdiff_t>(y) * picture.linesize[0],
                    row);
    m_havePrevious = true;
}

} // namespace engine
