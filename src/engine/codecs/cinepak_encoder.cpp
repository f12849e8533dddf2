#include "engine/codecs/cinepak_encoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <system_error>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace engine {

namespace {

constexpr int kDims = Codebook::kDims;
constexpr int kStride = Codebook::kStride;
constexpr int kUnit = Codebook::kUnit;
using Vector = Codebook::Vector;

// The codebooks are shaped on at most this many of a frame's vectors; all of them are
// then sorted into the cells, which is what makes a frame cost a few milliseconds.
constexpr int kSampleVectors = 2048;
// A block whose V1 error (squared, summed over its 16 luma and 4 chroma pairs, in
// levels) is at most this is coded from the V1 book, leaving the V4 book to the blocks
// with detail.
constexpr std::int64_t kV1Good = 64 * kUnit * kUnit;
// A split axis is a unit vector in 1/kAxisScale steps: a vector's dot product with it
// stays within 32 bits (|v| < 2^15, so |v . axis| < 2^29).
constexpr float kAxisScale = 1 << 14;
// The main axis of a cell is found from at most about this many of its vectors.
constexpr int kAxisVectors = 256;
// Vectors to sort (or blocks to make vectors of, a quarter as many) below which a second
// thread costs more than it saves.
constexpr int kWorthSharing = 4096;

// Runs work(half, begin, end) on both halves of [0, count), the first on the worker when
// there are at least `worthSharing` items, so that both cores take part.
template <class Work>
void InTwoHalves(HalfWorker &worker, int count, int worthSharing, const Work &work)
{
    const int middle = count / 2;
    if (count < worthSharing) {
        work(0, 0, middle);
        work(1, middle, count);
        return;
    }
    worker.Run([&](int half) {
        if (half == 0)
            work(0, 0, middle);
        else
            work(1, middle, count);
    });
}

// Four floats, kept in one SIMD register where the processor has them (an extension of
// GCC and Clang; the same arithmetic on any processor).
using Float4 = float __attribute__((vector_size(4 * sizeof(float))));

// A cell of the codebook's tree while it grows: its sample vectors, sample[begin, end).
struct Cell
{
    int begin = 0;
    int end = 0;
    int depth = 0;
    std::array<std::int64_t, kDims> sum{}; // of the vectors, exact
    std::int64_t squares = 0;              // of their lengths, exact
    double spread = 0;                     // summed squared distance from the mean
    std::array<float, kDims> mean{};

    void Finish();
};

// The mean and spread from the sums.
void Cell::Finish()
{
    const double n = std::max(1, end - begin);
    double centre = 0;
    for (std::size_t d = 0; d < kDims; ++d) {
        mean[d] = static_cast<float>(static_cast<double>(sum[d]) / n);
        centre += static_cast<double>(sum[d]) * static_cast<double>(sum[d]) / n;
    }
    spread = std::max(0.0, static_cast<double>(squares) - centre);
}

// The grown tree as the vectors are sorted through it. An inner node sends a vector to
// child[1] when its dot product with the node's axis is at least the threshold. A leaf's
// axis and threshold are zero and both its children are the leaf itself, so every vector
// takes `depth` steps and no step depends on a branch.
struct Tree
{
    struct alignas(32) Node
    {
        Vector axis{};
        std::int32_t threshold = 0;
        std::array<int, 2> child{};
    };
    std::vector<Node> nodes;
    std::vector<int> entry; // per node; leaves: the codebook entry
    int depth = 0;

    int Add();
};

// A new leaf.
int Tree::Add()
{
    const int self = static_cast<int>(nodes.size());
    nodes.push_back({{}, 0, {self, self}});
    entry.push_back(-1);
    return self;
}

// Sixteen-bit products summed in 32 bits, and the squared distance of two vectors (their
// values differ by less than 2^15, so the sum of squares fits in 32 bits as well). Where
// the processor has SSE2, one multiply-add of all eight pairs and two additions across.
#if defined(__SSE2__)
__m128i Lanes(const Vector &v)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(v.data()));
}

std::int32_t SumOfProducts(__m128i a, __m128i b)
{
    __m128i s = _mm_madd_epi16(a, b);
    s = _mm_add_epi32(s, _mm_shuffle_epi32(s, _MM_SHUFFLE(1, 0, 3, 2)));
    s = _mm_add_epi32(s, _mm_shuffle_epi32(s, _MM_SHUFFLE(2, 3, 0, 1)));
    return _mm_cvtsi128_si32(s);
}

std::int32_t Dot(const Vector &a, const Vector &b)
{
    return SumOfProducts(Lanes(a), Lanes(b));
}

std::int32_t Distance(const Vector &a, const Vector &b)
{
    const __m128i d = _mm_sub_epi16(Lanes(a), Lanes(b));
    return SumOfProducts(d, d);
}
#else
std::int32_t Dot(const Vector &a, const Vector &b)
{
    std::int32_t s = 0;
    for (std::size_t d = 0; d < kStride; ++d)
        s += a[d] * b[d];
    return s;
}

std::int32_t Distance(const Vector &a, const Vector &b)
{
    std::int32_t s = 0;
    for (std::size_t d = 0; d < kStride; ++d)
        s += (a[d] - b[d]) * (a[d] - b[d]);
    return s;
}
#endif

const Vector *At(const std::int16_t *vectors, std::ptrdiff_t i)
{
    return reinterpret_cast<const Vector *>(vectors + i * kStride);
}

// The cell's sums, mean and spread, in one pass.
void Measure(const Vector *sample, Cell *cell)
{
    // |v| < 2^15 and at most kSampleVectors < 2^13 vectors: the sums fit in 32 bits.
    std::array<std::int32_t, kStride> sum{};
    cell->squares = 0;
    for (int i = cell->begin; i < cell->end; ++i) {
        for (std::size_t d = 0; d < kStride; ++d)
            sum[d] += sample[i][d];
        cell->squares += Dot(sample[i], sample[i]);
    }
    std::copy_n(sum.begin(), kDims, cell->sum.begin());
    cell->Finish();
}

// The direction in which the cell's vectors spread most: a few power iterations on
// their covariance, started from the axis of largest variance.
std::array<double, kDims> MainAxis(const Vector *sample, const Cell &cell)
{
    // Each row of the covariance in two groups of four, kept in SIMD registers.
    const Float4 meanLow{cell.mean[0], cell.mean[1], cell.mean[2], cell.mean[3]};
    const Float4 meanHigh{cell.mean[4], cell.mean[5], 0, 0};
    Float4 rows[kDims][2] = {};
    // A few hundred of the cell's vectors show the direction well enough.
    const int step = std::max(1, (cell.end - cell.begin) / kAxisVectors);
    for (int i = cell.begin; i < cell.end; i += step) {
        const Vector &v = sample[i];
        const Float4 low = Float4{v[0] * 1.0f, v[1] * 1.0f, v[2] * 1.0f, v[3] * 1.0f} - meanLow;
        const Float4 high = Float4{v[4] * 1.0f, v[5] * 1.0f, 0, 0} - meanHigh;
        for (int a = 0; a < kDims; ++a) {
            const float e = a < 4 ? low[a] : high[a - 4];
            rows[a][0] += e * low;
            rows[a][1] += e * high;
        }
    }
    float cov[kDims][kDims];
    for (int a = 0; a < kDims; ++a)
        for (int b = 0; b < kDims; ++b)
            cov[a][b] = b < 4 ? rows[a][0][b] : rows[a][1][b - 4];
    int widest = 0;
    for (int a = 0; a < kDims; ++a) {
        if (cov[a][a] > cov[widest][widest])
            widest = a;
    }
    std::array<double, kDims> axis{};
    axis[static_cast<std::size_t>(widest)] = 1;
    for (int round = 0; round < 6; ++round) {
        std::array<double, kDims> next{};
        double norm = 0;
        for (std::size_t a = 0; a < kDims; ++a) {
            for (std::size_t b = 0; b < kDims; ++b)
                next[a] += static_cast<double>(cov[a][b]) * axis[b];
            norm += next[a] * next[a];
        }
        if (norm <= 0)
            break;
        norm = std::sqrt(norm);
        for (std::size_t a = 0; a < kDims; ++a)
            axis[a] = next[a] / norm;
    }
    return axis;
}

// Splits cell c at its mean along its main axis; false when all its vectors fall on one
// side.
bool Split(std::vector<Vector> &sample, std::vector<Cell> &cells, Tree &tree, int c)
{
    const Cell cell = cells[static_cast<std::size_t>(c)];
    const std::array<double, kDims> axis = MainAxis(sample.data(), cell);
    Tree::Node node;
    double threshold = 0;
    for (std::size_t d = 0; d < kDims; ++d) {
        node.axis[d] = static_cast<std::int16_t>(std::lround(axis[d] * kAxisScale));
        threshold += node.axis[d] * static_cast<double>(cell.mean[d]);
    }
    node.threshold = static_cast<std::int32_t>(std::lround(threshold));
    const auto first = sample.begin() + cell.begin;
    const auto middle = std::partition(first, sample.begin() + cell.end, [&](const Vector &v) {
        return Dot(v, node.axis) < node.threshold;
    });
    const int mid = cell.begin + static_cast<int>(middle - first);
    if (mid == cell.begin || mid == cell.end)
        return false;
    // The smaller side is measured; the other's sums are what remains of the cell's.
    Cell low, high;
    low.begin = cell.begin;
    low.end = high.begin = mid;
    high.end = cell.end;
    low.depth = high.depth = cell.depth + 1;
    Cell &measured = mid - cell.begin < cell.end - mid ? low : high;
    Cell &rest = &measured == &low ? high : low;
    Measure(sample.data(), &measured);
    for (std::size_t d = 0; d < kDims; ++d)
        rest.sum[d] = cell.sum[d] - measured.sum[d];
    rest.squares = cell.squares - measured.squares;
    rest.Finish();
    cells.push_back(low);
    cells.push_back(high);
    node.child = {tree.Add(), tree.Add()};
    tree.nodes[static_cast<std::size_t>(c)] = node;
    return true;
}

// The tree's cells: the one with the largest spread is split until there are `size`
// leaves or nothing left worth splitting. Returns the leaves.
std::vector<int> GrowTree(std::vector<Vector> &sample, int size, Tree &tree)
{
    std::vector<Cell> cells(1);
    cells[0].end = static_cast<int>(sample.size());
    Measure(sample.data(), &cells[0]);
    tree.Add();
    std::vector<int> leaves{0};
    while (static_cast<int>(leaves.size()) < size) {
        auto widest = std::max_element(leaves.begin(), leaves.end(), [&](int a, int b) {
            return cells[static_cast<std::size_t>(a)].spread
                   < cells[static_cast<std::size_t>(b)].spread;
        });
        const int c = *widest;
        if (cells[static_cast<std::size_t>(c)].spread < kUnit * kUnit) // one level squared
            break;
        if (!Split(sample, cells, tree, c)) {
            cells[static_cast<std::size_t>(c)].spread = 0;
            continue;
        }
        *widest = tree.nodes[static_cast<std::size_t>(c)].child[0];
        leaves.push_back(tree.nodes[static_cast<std::size_t>(c)].child[1]);
    }
    for (int c : leaves)
        tree.depth = std::max(tree.depth, cells[static_cast<std::size_t>(c)].depth);
    return leaves;
}

// Sorts every vector into its leaf, eight vectors in step so that their independent
// walks overlap in the processor.
void Classify(const Tree &tree, const std::int16_t *vectors, int count, std::uint8_t *index)
{
    constexpr int kLanes = 8;
    for (int i = 0; i < count; i += kLanes) {
        const Vector *v[kLanes];
        int c[kLanes] = {};
        for (int j = 0; j < kLanes; ++j)
            v[j] = At(vectors, std::min(i + j, count - 1));
        for (int step = 0; step < tree.depth; ++step) {
            for (int j = 0; j < kLanes; ++j) {
                const Tree::Node &node = tree.nodes[static_cast<std::size_t>(c[j])];
                c[j] = node.child[Dot(*v[j], node.axis) >= node.threshold ? 1 : 0];
            }
        }
        for (int j = 0; j < kLanes && i + j < count; ++j)
            index[i + j] = static_cast<std::uint8_t>(tree.entry[static_cast<std::size_t>(c[j])]);
    }
}

// An entry's value as a byte of the stream: in levels (luma) or half levels (chroma),
// rounded and clamped.
std::uint8_t StreamByte(int value, int unit, int low, int high)
{
    const int rounded = (value >= 0 ? value + unit / 2 : value - unit / 2) / unit;
    return static_cast<std::uint8_t>(std::clamp(rounded, low, high));
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
            out->push_back(StreamByte(e[d], kUnit, 0, 255));
        out->push_back(StreamByte(e[4], 2 * kUnit, -128, 127));
        out->push_back(StreamByte(e[5], 2 * kUnit, -128, 127));
    }
    (*out)[start] = id;
    PutBe(out, start + 1, static_cast<unsigned>(out->size() - start), 3);
}

// Sorts vectors [begin, end) into the tree's leaves and adds each to the sums (kDims
// values and a count) of its entry. A run at a time, so that the run is still in the
// cache when it is added up, in 32 bits (which cannot overflow: 2^12 vectors of values
// below 2^15), then in 64.
void SortAndAddUp(const Tree &tree,
                  const std::int16_t *vectors,
                  int begin,
                  int end,
                  std::uint8_t *index,
                  std::vector<std::array<std::int64_t, kDims + 1>> *sums)
{
    constexpr int kRun = 1 << 12;
    std::vector<std::array<std::int32_t, kStride>> run(sums->size());
    for (int first = begin; first < end; first += kRun) {
        const int last = std::min(end, first + kRun);
        Classify(tree, At(vectors, first)->data(), last - first, index + first);
        std::fill(run.begin(), run.end(), std::array<std::int32_t, kStride>{});
        for (int i = first; i < last; ++i) {
            const Vector &v = *At(vectors, i);
            auto &sum = run[index[i]];
            for (std::size_t d = 0; d < kStride; ++d)
                sum[d] += v[d];
            ++sum[kDims]; // the zero padding makes room for the count
        }
        for (std::size_t e = 0; e < run.size(); ++e)
            for (std::size_t d = 0; d <= kDims; ++d)
                (*sums)[e][d] += run[e][d];
    }
}

// A 2x2 part of a block, from its two rows of two RGB pixels: its V4 vector (each luma,
// then the part's B-Y and R-Y, in 1/kUnit levels), and its sums of red, blue and 7 x luma.
struct QuadSums
{
    int r, b, luma;
};

QuadSums MakeQuad(const std::uint8_t *top, const std::uint8_t *bottom, std::int16_t *out)
{
    const int l0 = 2 * top[0] + 4 * top[1] + top[2];
    const int l1 = 2 * top[3] + 4 * top[4] + top[5];
    const int l2 = 2 * bottom[0] + 4 * bottom[1] + bottom[2];
    const int l3 = 2 * bottom[3] + 4 * bottom[4] + bottom[5];
    const QuadSums sums{top[0] + top[3] + bottom[0] + bottom[3],
                        top[2] + top[5] + bottom[2] + bottom[5],
                        l0 + l1 + l2 + l3};
    constexpr int kLuma = kUnit / 7;
    out[0] = static_cast<std::int16_t>(l0 * kLuma);
    out[1] = static_cast<std::int16_t>(l1 * kLuma);
    out[2] = static_cast<std::int16_t>(l2 * kLuma);
    out[3] = static_cast<std::int16_t>(l3 * kLuma);
    out[4] = static_cast<std::int16_t>(7 * sums.b - sums.luma);
    out[5] = static_cast<std::int16_t>(7 * sums.r - sums.luma);
    out[6] = out[7] = 0;
    return sums;
}

// A V1 entry as the decoder spreads it over the four 2x2 parts of a block.
using Spread = std::array<Vector, 4>;

std::vector<Spread> SpreadEntries(const Codebook &v1Book)
{
    std::vector<Spread> spread(v1Book.entries.size());
    for (std::size_t i = 0; i < spread.size(); ++i) {
        const Vector &e = v1Book.entries[i];
        for (std::size_t q = 0; q < 4; ++q)
            spread[i][q] = {e[q], e[q], e[q], e[q], e[4], e[5], 0, 0};
    }
    return spread;
}

// The squared error of a block's four V4 vectors from its V1 entry, spread over the block.
std::int64_t V1Error(const Vector *v4, const Spread &entry)
{
    std::int64_t error = 0;
    for (std::size_t q = 0; q < 4; ++q)
        error += Distance(v4[q], entry[q]);
    return error;
}

// The squared error of a block's four V4 vectors from the V4 entries chosen for them.
std::int64_t V4Error(const Vector *v4, const std::uint8_t *index, const Codebook &book)
{
    std::int64_t error = 0;
    for (std::size_t q = 0; q < 4; ++q)
        error += Distance(v4[q], book.entries[index[q]]);
    return error;
}

} // namespace

HalfWorker::~HalfWorker()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void HalfWorker::Run(const std::function<void(int)> &work)
{
    if (!m_thread.joinable() && !m_unavailable) {
        try {
            m_thread = std::thread(&HalfWorker::Serve, this);
        } catch (const std::system_error &) {
            m_unavailable = true;
        }
    }
    if (m_unavailable) {
        work(0);
        work(1);
        return;
    }
    {
        const std::lock_guard lock(m_mutex);
        m_job = &work;
        m_failure = nullptr;
    }
    m_changed.notify_all();
    std::exception_ptr failure;
    try {
        work(1);
    } catch (...) {
        failure = std::current_exception();
    }
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_job == nullptr; });
    if (!failure)
        failure = m_failure;
    if (failure)
        std::rethrow_exception(failure);
}

void HalfWorker::Serve()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_job != nullptr || m_stop; });
        if (m_stop)
            return;
        const std::function<void(int)> *job = m_job;
        lock.unlock();
        try {
            (*job)(0);
        } catch (...) {
            m_failure = std::current_exception(); // read by Run only after m_job is cleared
        }
        lock.lock();
        m_job = nullptr;
        m_changed.notify_all();
    }
}

void BuildCodebook(
    const std::int16_t *vectors, int count, int size, Codebook *book, HalfWorker &worker)
{
    book->entries.clear();
    book->index.assign(static_cast<std::size_t>(std::max(count, 0)), 0);
    if (count <= 0)
        return;
    std::vector<Vector> sample;
    const int step = std::max(1, count / kSampleVectors);
    for (int i = step / 2; i < count; i += step)
        sample.push_back(*At(vectors, i));
    Tree tree;
    const std::vector<int> leaves = GrowTree(sample, size, tree);
    for (std::size_t e = 0; e < leaves.size(); ++e)
        tree.entry[static_cast<std::size_t>(leaves[e])] = static_cast<int>(e);
    // Each entry becomes the mean of the vectors it stands for (an entry no vector chose
    // is never used, whatever it holds).
    using Sums = std::vector<std::array<std::int64_t, kDims + 1>>;
    Sums sums[2] = {Sums(leaves.size()), Sums(leaves.size())};
    InTwoHalves(worker, count, kWorthSharing, [&](int half, int begin, int end) {
        SortAndAddUp(tree, vectors, begin, end, book->index.data(), &sums[half]);
    });
    book->entries.resize(leaves.size());
    for (std::size_t e = 0; e < leaves.size(); ++e) {
        const std::int64_t n = std::max<std::int64_t>(1, sums[0][e][kDims] + sums[1][e][kDims]);
        for (std::size_t d = 0; d < kDims; ++d)
            book->entries[e][d] = static_cast<std::int16_t>(std::lround(
                static_cast<double>(sums[0][e][d] + sums[1][e][d]) / static_cast<double>(n)));
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
// and its V1 vector (the four 2x2 luma means and the mean chroma), in 1/kUnit levels. Luma
// is (2R+4G+B)/7, the one whose chroma the decoder's formulas invert; in those units all
// but the V1 chroma are whole numbers.
void CinepakEncoder::MakeVectors(const AVFrame &picture)
{
    const std::size_t n = m_coded.size();
    m_v4.resize(n * 4 * kStride);
    m_v1.resize(n * kStride);
    InTwoHalves(m_worker, static_cast<int>(n), kWorthSharing / 4, [&](int, int begin, int end) {
        MakeVectors(picture, static_cast<std::size_t>(begin), static_cast<std::size_t>(end));
    });
}

void CinepakEncoder::MakeVectors(const AVFrame &picture, std::size_t first, std::size_t last)
{
    const std::ptrdiff_t stride = picture.linesize[0];
    for (std::size_t k = first; k < last; ++k) {
        const int x0 = m_coded[k] % m_blocksWide * 4;
        const int y0 = m_coded[k] / m_blocksWide * 4;
        const std::uint8_t *block = picture.data[0] + y0 * stride + x0 * 3;
        QuadSums sums[4];
        for (int q = 0; q < 4; ++q) {
            const std::uint8_t *top = block + (q >> 1) * 2 * stride + (q & 1) * 6;
            sums[q] = MakeQuad(
                top, top + stride, &m_v4[(k * 4 + static_cast<std::size_t>(q)) * kStride]);
        }
        int r = 0, b = 0, luma = 0;
        std::int16_t *v1 = &m_v1[k * kStride];
        for (std::size_t q = 0; q < 4; ++q) {
            v1[q] = static_cast<std::int16_t>(sums[q].luma);
            r += sums[q].r;
            b += sums[q].b;
            luma += sums[q].luma;
        }
        v1[4] = static_cast<std::int16_t>((7 * b - luma + 2) >> 2);
        v1[5] = static_cast<std::int16_t>((7 * r - luma + 2) >> 2);
        v1[6] = v1[7] = 0;
    }
}

// Blocks whose V1 entry is good enough take it; the V4 book is built for the rest, and a
// block whose V4 entries come out no better than its V1 entry goes back to V1.
void CinepakEncoder::ChooseBooks()
{
    const int n = static_cast<int>(m_coded.size());
    BuildCodebook(m_v1.data(), n, 256, &m_v1Book, m_worker);
    m_v1Error.resize(static_cast<std::size_t>(n));
    const std::vector<Spread> spread = SpreadEntries(m_v1Book);
    InTwoHalves(m_worker, n, kWorthSharing / 4, [&](int, int begin, int end) {
        for (int k = begin; k < end; ++k) {
            const auto i = static_cast<std::size_t>(k);
            m_v1Error[i] = V1Error(At(m_v4.data(), k * 4), spread[m_v1Book.index[i]]);
        }
    });
    m_v4Slot.assign(static_cast<std::size_t>(n), -1);
    int slots = 0;
    for (std::size_t k = 0; k < m_v1Error.size(); ++k) {
        if (m_v1Error[k] > kV1Good)
            m_v4Slot[k] = slots++;
    }
    m_v4Chosen.resize(static_cast<std::size_t>(slots) * 4 * kStride);
    InTwoHalves(m_worker, n, kWorthSharing / 4, [&](int, int begin, int end) {
        for (int k = begin; k < end; ++k) {
            const int slot = m_v4Slot[static_cast<std::size_t>(k)];
            if (slot >= 0)
                std::copy_n(At(m_v4.data(), k * 4)->data(),
                            4 * kStride,
                            &m_v4Chosen[static_cast<std::size_t>(slot) * 4 * kStride]);
        }
    });
    BuildCodebook(m_v4Chosen.data(), slots * 4, 256, &m_v4Book, m_worker);
    InTwoHalves(m_worker, n, kWorthSharing / 4, [&](int, int begin, int end) {
        for (int k = begin; k < end; ++k) {
            int &slot = m_v4Slot[static_cast<std::size_t>(k)];
            if (slot >= 0
                && V4Error(At(m_v4Chosen.data(), slot * 4),
                           &m_v4Book.index[static_cast<std::size_t>(slot) * 4],
                           m_v4Book)
                       >= m_v1Error[static_cast<std::size_t>(k)])
                slot = -1;
        }
    });
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
