// Our two fallback encoders, Cinepak and Microsoft Video 1, against libavcodec's decoders.

#include "common/table_rows.h"
#include "engine/av_ptr.h"
#include "engine/codecs/avi_ffmpeg.h"
#include "engine/codecs/frame_encoder.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>
#include <random>

using namespace engine;

namespace {

using testing_support::operator<<;

constexpr int kWidth = 160;
constexpr int kHeight = 120;
constexpr int kFrames = 10;
constexpr int kPanFrames = 5; // then only the ball moves

// Soft light, hard edges and fine grain: what a photo has.
QImage Landscape()
{
    QImage image(kWidth + 4 * kPanFrames, kHeight, QImage::Format_RGB888);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, 0, kHeight);
    sky.setColorAt(0, QColor(40, 90, 200));
    sky.setColorAt(0.6, QColor(230, 200, 150));
    sky.setColorAt(1, QColor(60, 110, 40));
    painter.fillRect(image.rect(), sky);
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < 6; ++i) {
        painter.setBrush(QColor(30 + 35 * i, 140 - 15 * i, 60 + 20 * i));
        painter.drawEllipse(QPoint(15 + 32 * i, 95 - 7 * i), 22, 12 + 3 * i);
    }
    painter.end();
    std::mt19937 random(7);
    std::uniform_int_distribution<int> grain(-12, 12);
    for (int y = kHeight / 2; y < kHeight; ++y) {
        std::uint8_t *row = image.scanLine(y);
        for (int x = 0; x < image.width() * 3; ++x)
            row[x] = static_cast<std::uint8_t>(std::clamp(row[x] + grain(random), 0, 255));
    }
    return image;
}

// Frame `i`: the landscape panned 4 pixels a frame, then still, with a ball crossing it.
QImage SourceFrame(const QImage &landscape, int i)
{
    QImage frame = landscape.copy(4 * std::min(i, kPanFrames), 0, kWidth, kHeight);
    QPainter painter(&frame);
    const QPointF centre(20 + 12 * i, 40);
    QRadialGradient ball(centre, 14);
    ball.setColorAt(0, Qt::white);
    ball.setColorAt(1, QColor(200, 30, 30));
    painter.setPen(Qt::NoPen);
    painter.setBrush(ball);
    painter.drawEllipse(centre, 14, 14);
    return frame;
}

// Over all three channels of two RGB888 pictures of the same size.
double Psnr(const QImage &a, const QImage &b)
{
    double sum = 0;
    for (int y = 0; y < a.height(); ++y) {
        const std::uint8_t *pa = a.constScanLine(y);
        const std::uint8_t *pb = b.constScanLine(y);
        for (int x = 0; x < a.width() * 3; ++x)
            sum += (pa[x] - pb[x]) * (pa[x] - pb[x]);
    }
    const double mse = sum / (a.width() * a.height() * 3);
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

// libavcodec's decoder of a format and the pictures it makes of our coded frames.
class Decoder
{
public:
    Decoder(AVCodecID id, int width, int height, int bitsPerSample)
    {
        const AVCodec *codec = avcodec_find_decoder(id);
        m_ctx.reset(avcodec_alloc_context3(codec));
        m_ctx->width = width;
        m_ctx->height = height;
        m_ctx->bits_per_coded_sample = bitsPerSample;
        EXPECT_EQ(avcodec_open2(m_ctx.get(), codec, nullptr), 0);
    }
    // The decoded picture in `format`, null when the frame does not decode.
    QImage Decode(std::vector<std::uint8_t> coded, QImage::Format format)
    {
        // Lent to the decoder, which copies it; decoders may read past the end.
        m_packet->size = static_cast<int>(coded.size());
        coded.resize(coded.size() + AV_INPUT_BUFFER_PADDING_SIZE);
        m_packet->data = coded.data();
        if (avcodec_send_packet(m_ctx.get(), m_packet.get()) < 0
            || avcodec_receive_frame(m_ctx.get(), m_frame.get()) < 0)
            return {};
        return QImage(
                   m_frame->data[0], m_frame->width, m_frame->height, m_frame->linesize[0], format)
            .copy();
    }

private:
    av::CodecContextPtr m_ctx;
    av::PacketPtr m_packet = av::MakePacket();
    av::FramePtr m_frame = av::MakeFrame();
};

// Wraps a picture as the encoders take it (top row first).
AVFrame FrameOf(const QImage &image, AVPixelFormat format)
{
    AVFrame frame{};
    frame.format = format;
    frame.width = image.width();
    frame.height = image.height();
    frame.data[0] = const_cast<std::uint8_t *>(image.constBits());
    frame.linesize[0] = static_cast<int>(image.bytesPerLine());
    return frame;
}

struct FallbackRow
{
    const char *name;
    AVCodecID codec;
    QImage::Format format; // of the pictures the encoder takes and the decoder makes
    AVPixelFormat pixels;  // the same, as libavcodec names it
    int bitsPerSample;     // what the decoder is told
    double minimumPsnr;    // dB, every frame (they code 31.5 to 32.5 dB here)
};

class FallbackEncoder : public ::testing::TestWithParam<FallbackRow>
{};

// The bound lies above the likeness of each frame to the one before, so an encoder whose
// inter frames leave changed blocks as they were cannot reach it, whether the whole
// picture moves or only a part of it.
TEST_P(FallbackEncoder, EveryInterFrameFollowsTheMovingPicture)
{
    const FallbackRow &row = GetParam();
    const auto encoder = MakeFrameEncoder(row.codec, kWidth, kHeight);
    ASSERT_NE(encoder, nullptr);
    Decoder decoder(row.codec, kWidth, kHeight, row.bitsPerSample);
    const QImage landscape = Landscape();
    QImage before;
    std::vector<std::uint8_t> coded;
    for (int i = 0; i < kFrames; ++i) {
        const QImage source = SourceFrame(landscape, i);
        if (i > 0) {
            ASSERT_LT(Psnr(source, before), row.minimumPsnr) << "frame " << i << " too still";
        }
        const QImage input = source.convertToFormat(row.format);
        encoder->Encode(FrameOf(input, row.pixels), false, i == 0, &coded);
        const QImage decoded = decoder.Decode(coded, row.format);
        ASSERT_FALSE(decoded.isNull()) << "frame " << i;
        EXPECT_GE(Psnr(decoded.convertToFormat(QImage::Format_RGB888), source), row.minimumPsnr)
            << "frame " << i;
        before = source;
    }
}

// Qt's RGB555 is libavcodec's RGB555LE on the little-endian machines this runs on.
INSTANTIATE_TEST_SUITE_P(
    Formats,
    FallbackEncoder,
    ::testing::Values(
        FallbackRow{
            "Cinepak", AV_CODEC_ID_CINEPAK, QImage::Format_RGB888, AV_PIX_FMT_RGB24, 24, 30},
        FallbackRow{
            "Video1", AV_CODEC_ID_MSVIDEO1, QImage::Format_RGB555, AV_PIX_FMT_RGB555LE, 16, 30}),
    testing_support::RowName());

// A one-colour block whose red is 1 cannot be a fill: its fill word reads as "skip". It must
// still decode to its colour, and so must the blocks after it.
TEST(MsVideo1, OneColourBlocksWithRedOneDecodeToTheirColour)
{
    constexpr int kBlocksWidth = 8, kBlocksHeight = 4;
    const QColor colour(1 << 3, 10 << 3, 20 << 3); // 5 bits a channel: red 1, green 10, blue 20
    QImage picture(kBlocksWidth, kBlocksHeight, QImage::Format_RGB555);
    picture.fill(colour);
    std::vector<std::uint8_t> coded;
    MakeFrameEncoder(AV_CODEC_ID_MSVIDEO1, kBlocksWidth, kBlocksHeight)
        ->Encode(FrameOf(picture, AV_PIX_FMT_RGB555LE), false, true, &coded);
    const QImage decoded = Decoder(AV_CODEC_ID_MSVIDEO1, kBlocksWidth, kBlocksHeight, 16)
                               .Decode(coded, QImage::Format_RGB555);
    ASSERT_FALSE(decoded.isNull());
    for (int y = 0; y < kBlocksHeight; ++y) {
        for (int x = 0; x < kBlocksWidth; ++x)
            EXPECT_EQ(decoded.pixel(x, y), picture.pixel(x, y)) << "at " << x << "," << y;
    }
}

} // namespace
