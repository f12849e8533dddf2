#pragma once
// Microsoft Video 1 (16-bit) frames: each 4x4 block is skipped (inter frames, where the
// picture did not change), filled with one colour, or split by brightness around its mean
// into two colours with a 16-bit mask.

#include "engine/codecs/frame_encoder.h"

namespace engine {

class MsVideo1Encoder final : public FrameEncoder
{
public:
    MsVideo1Encoder(int width, int height);
    void Encode(const AVFrame &picture,
                bool unchanged,
                bool key,
                std::vector<std::uint8_t> *out) override;

private:
    bool BlockChanged(const AVFrame &picture, int bx, int by) const;
    void CodeBlock(const AVFrame &picture, int bx, int by, std::vector<std::uint8_t> *out) const;
    void KeepPicture(const AVFrame &picture);

    int m_width;
    int m_height;
    std::vector<std::uint16_t> m_previous; // the picture coded last, RGB555, packed rows
    bool m_havePrevious = false;
};

} // namespace engine
