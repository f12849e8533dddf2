// Our two fallback encoders on a picture like a photo, moving: every frame after the first
// is coded as an inter frame, decoded by libavcodec and compared with its source.

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
#include <cstring>
#include <ostream>
#include <random>

using namespace engine;

namespace {

constexpr int kWidth = 160;
constexpr int kHeight = 120;
constexpr int kFrames = 10;
constexpr int kPanFrames = 5; // then only the ball moves

// Soft light, hard edges, fine grain and a ball: what a photo shown with motion has.
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
    QRadialGradient ball(QPointF(20 + 12 * i, 40), 14);
    ball.setColorAt(0, Qt::white);
    ball.setColorAt(1, QColor(200, 30, 30));
    painter.setPen(Qt::NoPen);
    painter.setBrush(ball);
    painter.drawEllipse(QPointF(20 + 12 * i, 40), 14, 14);
    return frame;
}

// Over all three channels.
double Psnr(const QImage &a, const QImage &b)
{
    double sum = 0;
    for (int y = 0; y < kHeight; ++y) {
        const std::uint8_t *pa = a.constScanLine(y);
        const std::uint8_t *pb = b.constScanLine(y);
        for (int x = 0; x < kWidth * 3; ++x)
            sum += (pa[x] - pb[x]) * (pa[x] - pb[x]);
    }
    const double mse = sum / (kWidth * kHeight * 3);
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

av::FramePtr Convert(const std::uint8_t *data, int stride, AVPixelFormat from, AVPixelFormat to)
{
    av::FramePtr frame = av::MakeFrame();
    frame->format = to;
    frame->width = kWidth;
    frame->height = kHeight;
    EXPECT_EQ(av_frame_get_buffer(frame.get(), 0), 0);
    av::SwsContextPtr sws(sws_getContext(
        kWidth, kHeight, from, kWidth, kHeight, to, SWS_POINT, nullptr, nullptr, nullptr));
    sws_scale(sws.get(), &data, &stride, 0, kHeight, frame->data, frame->linesize);
    return frame;
}

QImage ToImage(const AVFrame &frame)
{
    const av::FramePtr rgb = Convert(frame.data[0],
                                     frame.linesize[0],
                                     static_cast<AVPixelFormat>(frame.format),
                                     AV_PIX_FMT_RGB24);
    QImage image(kWidth, kHeight, QImage::Format_RGB888);
    for (int y = 0; y < kHeight; ++y)
        std::memcpy(image.scanLine(y), rgb->data[0] + y * rgb->linesize[0], kWidth * 3);
    return image;
}

struct FallbackRow
{
    const char *name;
    AVCodecID codec;
    AVPixelFormat input; // what the encoder takes
    int bitsPerSample;   // what the decoder is told
    double minimumPsnr;  // dB, every frame (they code 31.5 to 32.5 dB here)
};

using testing_support::operator<<;

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
    const AVCodec *codec = avcodec_find_decoder(row.codec);
    av::CodecContextPtr decoder(avcodec_alloc_context3(codec));
    decoder->width = kWidth;
    decoder->height = kHeight;
    decoder->bits_per_coded_sample = row.bitsPerSample;
    ASSERT_EQ(avcodec_open2(decoder.get(), codec, nullptr), 0);

    const QImage landscape = Landscape();
    QImage before;
    av::PacketPtr packet = av::MakePacket();
    av::FramePtr decoded = av::MakeFrame();
    std::vector<std::uint8_t> coded;
    for (int i = 0; i < kFrames; ++i) {
        const QImage source = SourceFrame(landscape, i);
        if (i > 0) {
            ASSERT_LT(Psnr(source, before), row.minimumPsnr)
                << "frame " << i << " moves too little";
        }
        const av::FramePtr input = Convert(source.constBits(),
                                           static_cast<int>(source.bytesPerLine()),
                                           AV_PIX_FMT_RGB24,
                                           row.input);
        encoder->Encode(*input, false, i == 0, &coded);
        ASSERT_EQ(av_new_packet(packet.get(), static_cast<int>(coded.size())), 0);
        std::memcpy(packet->data, coded.data(), coded.size());
        ASSERT_EQ(avcodec_send_packet(decoder.get(), packet.get()), 0);
        av_packet_unref(packet.get());
        ASSERT_EQ(avcodec_receive_frame(decoder.get(), decoded.get()), 0);
        EXPECT_GE(Psnr(ToImage(*decoded), source), row.minimumPsnr) << "frame " << i;
        before = source;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats,
    FallbackEncoder,
    ::testing::Values(FallbackRow{"Cinepak", AV_CODEC_ID_CINEPAK, AV_PIX_FMT_RGB24, 24, 30},
                      FallbackRow{"Video1", AV_CODEC_ID_MSVIDEO1, AV_PIX_FMT_RGB555LE, 16, 30}),
    testing_support::RowName());

} // namespace
