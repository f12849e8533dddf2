#include "engine/render/photo_frame.h"

#include "engine/render/default_resizer.h"
#include "engine/timeline/timeline.h"

#include <QFile>
#include <QImage>
#include <QImageReader>

#include <algorithm>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace engine {
namespace {

// The smallest picture size (shown orientation) that the stretch mode needs for a photo of
// shownWidth x shownHeight in a frame of width x height; {0, 0} when it needs the photo at
// full size.
QSize NeededSize(int shownWidth, int shownHeight, int stretchMode, int width, int height)
{
    switch (stretchMode) {
    case RESIZEF_PRESERVEASPECTRATIO: {
        const FitResult fit = FitRect(shownWidth, shownHeight, width, height);
        return {fit.width, fit.height};
    }
    case RESIZEF_PRESERVEASPECTRATIO_NOLETTERBOX: {
        // Covering the frame: the photo's shorter side (relative to the frame) fills it.
        const double scale = std::max(static_cast<double>(width) / shownWidth,
                                      static_cast<double>(height) / shownHeight);
        return {static_cast<int>(shownWidth * scale + 1),
                static_cast<int>(shownHeight * scale + 1)};
    }
    case RESIZEF_STRETCH:
        return {width, height};
    default:
        return {};
    }
}

// Opens a photo for reading, refusing anything but a regular file: the check is made on
// the opened file itself, so a FIFO or a device put in a photo's place after it was
// listed is never read (reading a FIFO would wait for a writer for ever). Opening does
// not block, whatever the path names.
bool OpenRegularFile(const QString &path, QFile &file)
{
    const int fd
        = open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat info = {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return false;
    }
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        close(fd);
        return false;
    }
    return true;
}

QImage DecodePhoto(const QString &path, int stretchMode, int width, int height)
{
    QFile file;
    if (!OpenRegularFile(path, file))
        return {};
    QImageReader reader(&file);
    reader.setAutoTransform(true);
    const QSize stored = reader.size();
    if (stored.isValid() && reader.format() == "jpeg") {
        // JPEG decodes at 1/2, 1/4 or 1/8 of its size for little more than the cost of
        // reading the file; a photo far larger than the frame is read that way (and a
        // giant one is shrunk further right after), never at full size.
        const bool turned = reader.transformation() & QImageIOHandler::TransformationRotate90;
        const int shownWidth = turned ? stored.height() : stored.width();
        const int shownHeight = turned ? stored.width() : stored.height();
        const QSize needed = NeededSize(shownWidth, shownHeight, stretchMode, width, height);
        int factor = 1;
        while (!needed.isEmpty() && shownWidth / (factor * 2) >= needed.width()
               && shownHeight / (factor * 2) >= needed.height())
            factor *= 2;
        if (factor > 1) {
            // Rounded up, as the decoder rounds its reduced sizes.
            reader.setScaledSize(QSize((stored.width() + factor - 1) / factor,
                                       (stored.height() + factor - 1) / factor));
        }
    }
    QImage image = reader.read();
    if (image.isNull())
        return {};
    return image.convertToFormat(QImage::Format_BGR888);
}

// Puts the picture into the top-down target by a stretch mode other than fitting.
bool PlaceByMode(const RgbImageView &src, const RgbImageTarget &dst, int stretchMode)
{
    FillBlack(dst);
    switch (stretchMode) {
    case RESIZEF_CROP: {
        // The centre of the photo at its own size, in the centre of the frame.
        const QSize size(std::min(src.width, dst.width), std::min(src.height, dst.height));
        const QRect from(QPoint((src.width - size.width()) / 2, (src.height - size.height()) / 2),
                         size);
        const QRect to(QPoint((dst.width - size.width()) / 2, (dst.height - size.height()) / 2),
                       size);
        return ScaleRegion(src, from, dst, to);
    }
    case RESIZEF_PRESERVEASPECTRATIO_NOLETTERBOX: {
        // The centre part of the photo that has the frame's shape.
        const FitResult part = FitRect(dst.width, dst.height, src.width, src.height);
        return ScaleRegion(src, part.Rect(), dst, WholeOf(dst));
    }
    default:
        return ScaleRegion(src, WholeOf(src), dst, WholeOf(dst));
    }
}

} // namespace

Frame::Frame(int w, int h)
    : width(w)
    , height(h)
    , stride(StrideFor(w))
    , bytes(static_cast<std::size_t>(stride) * static_cast<std::size_t>(h), 0)
{}

std::shared_ptr<const Frame> MakePhotoFrame(
    const QString &path, int stretchMode, int width, int height, IResizer *resizer, bool *decoded)
{
    auto frame = std::make_shared<Frame>(width, height);
    if (decoded)
        *decoded = false;
    const QImage image = DecodePhoto(path, stretchMode, width, height);
    if (image.isNull())
        return frame;

    // Placed top-down first (as resizers work), then turned into the bottom-up frame.
    std::vector<std::uint8_t> topDown(frame->bytes.size(), 0);
    const RgbImageView source{
        image.constBits(), image.width(), image.height(), static_cast<int>(image.bytesPerLine())};
    const RgbImageTarget target{topDown.data(), width, height, frame->stride};
    bool placed = false;
    if (stretchMode == RESIZEF_PRESERVEASPECTRATIO && resizer)
        placed = platform::Succeeded(resizer->FitInto(source, target));
    else
        placed = PlaceByMode(source, target, stretchMode);
    if (!placed)
        return frame;
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;
    for (int y = 0; y < height; ++y)
        std::memcpy(frame->bytes.data() + static_cast<std::size_t>(height - 1 - y) * frame->stride,
                    topDown.data() + static_cast<std::size_t>(y) * frame->stride,
                    rowBytes);
    if (decoded)
        *decoded = true;
    return frame;
}

} // namespace engine
