// Our Microsoft Video 1 encoder against libavcodec's decoder.

#include "engine/av_ptr.h"
#include "engine/codecs/msvideo1_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using namespace engine;

// A one-colour block whose red is 1 cannot be a fill: its fill word reads as "skip". It must
// still decode to its colour, and so must the blocks after it.
TEST(MsVideo1, OneColourBlocksWithRedOneDecodeToTheirColour)
{
    constexpr int kWidth = 8, kHeight = 4;
    constexpr std::uint16_t kColour = (1 << 10) | (10 << 5) | 20;
    av::FramePtr picture(av_frame_alloc());
    picture->format = AV_PIX_FMT_RGB555LE;
    picture->width = kWidth;
    picture->height = kHeight;
    ASSERT_EQ(av_frame_get_buffer(picture.get(), 0), 0);
    for (int y = 0; y < kHeight; ++y)
        std::fill_n(reinterpret_cast<std::uint16_t *>(picture->data[0] + y * picture->linesize[0]),
                    kWidth,
                    kColour);
    std::vector<std::uint8_t> coded;
    MsVideo1Encoder(kWidth, kHeight).Encode(*picture, false, true, &coded);

    const AVCodec *codec = avcodec_find_decoder(AV_CODEC_ID_MSVIDEO1);
    av::CodecContextPtr decoder(avcodec_alloc_context3(codec));
    decoder->width = kWidth;
    decoder->height = kHeight;
    decoder->bits_per_coded_sample = 16;
    ASSERT_EQ(avcodec_open2(decoder.get(), codec, nullptr), 0);
    av::PacketPtr packet(av_packet_alloc());
    ASSERT_EQ(av_new_packet(packet.get(), static_cast<int>(coded.size())), 0);
    std::memcpy(packet->data, coded.data(), coded.size());
    ASSERT_EQ(avcodec_send_packet(decoder.get(), packet.get()), 0);
    av::FramePtr decoded(av_frame_alloc());
    ASSERT_EQ(avcodec_receive_frame(decoder.get(), decoded.get()), 0);
    for (int y = 0; y < kHeight; ++y) {
        const auto *row
            = reinterpret_cast<const std::uint16_t *>(decoded->data[0] + y * decoded->linesize[0]);
        for (int x = 0; x < kWidth; ++x)
            EXPECT_EQ(row[x] & 0x7FFF, kColour) << "at " << x << "," << y;
    }
}
