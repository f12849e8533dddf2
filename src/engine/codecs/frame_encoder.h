#pragma once
// Encoders of our own for the two fallback formats, Cinepak ('cvid') and Microsoft Video 1
// ('CRAM'), far faster than libavcodec's: they stand behind the same compressor entries
// and write the same formats, so the files decode anywhere those formats do.

#include "engine/av_ptr.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace engine {

class FrameEncoder
{
public:
    virtual ~FrameEncoder() = default;
    // Codes one picture, in the pixel format the libavcodec encoder of the same format
    // takes (RGB24 for Cinepak, RGB555 for Video 1), top row first. `unchanged` says the
    // picture is the one coded last; an inter frame of it costs next to nothing. `key`
    // asks for a frame that decodes on its own. The coded frame replaces *out.
    virtual void
    Encode(const AVFrame &picture, bool unchanged, bool key, std::vector<std::uint8_t> *out)
        = 0;
};

// Our encoder for libavcodec's encoder `id` at this size; nothing when the format is not
// one of ours or the size is one it cannot code (libavcodec's encoder is used then).
std::unique_ptr<FrameEncoder> MakeFrameEncoder(AVCodecID id, int width, int height);

} // namespace engine
