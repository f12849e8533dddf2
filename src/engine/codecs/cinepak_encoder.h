#pragma once
// Cinepak frames in one strip. Each coded frame brings its own two codebooks of up to
// 256 entries (2x2 luma + one chroma pair), built by splitting the frame's vectors along
// their main direction of spread until 256 cells remain; a 4x4 block is coded from the
// "V1" book (one entry, each luma doubled) when that is as good as the "V4" book (four
// entries), and on inter frames blocks that did not change are skipped.

#include "engine/codecs/frame_encoder.h"

#include <array>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace engine {

// A codebook: the entries, and for every coded vector the entry that stands for it.
struct Codebook
{
    static constexpr int kDims = 6;   // Y0 Y1 Y2 Y3 (B-Y) (R-Y)
    static constexpr int kStride = 8; // a vector: the kDims values, then two zeros
    static constexpr int kUnit = 28;  // values are in 1/kUnit levels
    using Vector = std::array<std::int16_t, kStride>;
    std::vector<Vector> entries;
    std::vector<std::uint8_t> index;
};

// A second thread that takes half of a job, kept as long as its owner so that sharing a
// job costs a wake-up rather than a new thread.
class HalfWorker
{
public:
    HalfWorker() = default;
    ~HalfWorker();
    HalfWorker(const HalfWorker &) = delete;
    HalfWorker &operator=(const HalfWorker &) = delete;

    // Runs work(0) on the worker and work(1) on the calling thread and returns when both
    // are done (both on the calling thread when no thread can be had). An exception from
    // either half is thrown here once both are done.
    void Run(const std::function<void(int)> &work);

private:
    void Serve();

    std::mutex m_mutex;
    std::condition_variable m_changed;
    const std::function<void(int)> *m_job = nullptr; // the job being shared, while it runs
    std::exception_ptr m_failure;                    // from the worker's half
    bool m_stop = false;
    bool m_unavailable = false; // no thread could be started
    std::thread m_thread;
};

// Up to `size` entries for the `count` vectors at `vectors` (kStride values each); large
// sets are sorted into the entries by both threads.
void BuildCodebook(
    const std::int16_t *vectors, int count, int size, Codebook *book, HalfWorker &worker);

class CinepakEncoder final : public FrameEncoder
{
public:
    CinepakEncoder(int width, int height);
    // Whether a frame of this size fits the format's 24-bit lengths in one strip.
    static bool CanCode(int width, int height);
    void Encode(const AVFrame &picture,
                bool unchanged,
                bool key,
                std::vector<std::uint8_t> *out) override;

private:
    void FindChangedBlocks(const AVFrame &picture, bool all);
    void MakeVectors(const AVFrame &picture);
    void MakeVectors(const AVFrame &picture, std::size_t first, std::size_t last);
    void ChooseBooks();
    void WriteFrame(bool key, std::vector<std::uint8_t> *out) const;
    void WriteBlocks(bool key, std::vector<std::uint8_t> *out) const;
    void KeepPicture(const AVFrame &picture);

    int m_width;
    int m_height;
    int m_blocksWide;
    int m_blockCount;
    std::vector<std::uint8_t> m_previous; // the picture coded last, RGB24, packed rows
    bool m_havePrevious = false;

    std::vector<int> m_coded;             // blocks coded this frame, in raster order
    std::vector<std::int16_t> m_v4;       // 4 vectors per coded block
    std::vector<std::int16_t> m_v1;       // 1 vector per coded block
    std::vector<std::int64_t> m_v1Error;  // per coded block: its squared error from V1
    std::vector<int> m_v4Slot;            // per coded block: its place among the V4 blocks, or -1
    std::vector<std::int16_t> m_v4Chosen; // the V4 blocks' vectors, in block order
    Codebook m_v1Book;
    Codebook m_v4Book;
    HalfWorker m_worker; // last: its thread stops before the buffers it works on go
};

} // namespace engine
