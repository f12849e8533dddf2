#include "engine/codecs/frame_encoder.h"

#include "engine/codecs/cinepak_encoder.h"
#include "engine/codecs/msvideo1_encoder.h"

namespace engine {

std::unique_ptr<FrameEncoder> MakeFrameEncoder(AVCodecID id, int width, int height)
{
    // Both formats code 4x4 blocks; odd sizes are left to libavcodec.
    if (width <= 0 || height <= 0 || width % 4 != 0 || height % 4 != 0)
        return nullptr;
    if (id == AV_CODEC_ID_CINEPAK && CinepakEncoder::CanCode(width, height))
        return std::make_unique<CinepakEncoder>(width, height);
    if (id == AV_CODEC_ID_MSVIDEO1)
        return std::make_unique<MsVideo1Encoder>(width, height);
    return nullptr;
}

} // namespace engine
