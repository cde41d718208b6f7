// Qt's own readers for the formats libvips does not read: BMP, ICO and ICNS. Icon
// files hold several pictures; the largest one is the image.

#include "platform/CodecInternal.h"

#include <QImageReader>

namespace {

const char *qtFormat(ImageFormat format)
{
    switch (format) {
    case ImageFormat::bmp: return "bmp";
    case ImageFormat::ico: return "ico";
    case ImageFormat::icns: return "icns";
    default: return nullptr;
    }
}

// Index and size of the largest picture in the file.
std::optional<std::pair<int, QSize>> largestImage(QImageReader &reader)
{
    int best = -1;
    QSize bestSize;
    const int count = std::max(1, reader.imageCount());
    for (int i = 0; i < count && i < 256; ++i) {
        if (i > 0 && !reader.jumpToImage(i))
            break;
        const QSize size = reader.size();
        if (size.isValid() && int64_t(size.width()) * size.height() > int64_t(bestSize.width()) * bestSize.height()) {
            best = i;
            bestSize = size;
        }
    }
    if (best < 0)
        return std::nullopt;
    return std::make_pair(best, bestSize);
}

} // namespace

namespace CodecDetail {

std::optional<ImageHeader> qtProbe(const QString &path, ImageFormat format)
{
    QImageReader reader(path, qtFormat(format));
    reader.setDecideFormatFromContent(false);
    const auto largest = largestImage(reader);
    if (!largest)
        return std::nullopt;
    ImageHeader header;
    header.format = format;
    header.storedSize = largest->second;
    return header;
}

QImage qtDecode(const QString &path, ImageFormat format, int maxPixelSize)
{
    QImageReader reader(path, qtFormat(format));
    reader.setDecideFormatFromContent(false);
    const auto largest = largestImage(reader);
    if (!largest || int64_t(largest->second.width()) * largest->second.height() > Codec::maxPixelCount)
        return {};
    // Our own pixel bound has been checked; Qt's default 256 MB limit would refuse
    // large but legitimate bitmaps.
    reader.setAllocationLimit(0);
    QImageReader fresh(path, qtFormat(format));
    fresh.setDecideFormatFromContent(false);
    fresh.setAllocationLimit(0);
    if (largest->first > 0 && !fresh.jumpToImage(largest->first))
        return {};
    QImage image = fresh.read();
    if (image.isNull())
        return {};
    image = toDisplayFormat(image);
    const QSize target = fitWithin(image.size(), maxPixelSize);
    if (target != image.size()) {
        QImage out = pooledImage(target.width(), target.height());
        if (out.isNull())
            return {};
        resampleRgba(image.constBits(), image.width(), image.height(), image.bytesPerLine(), out.bits(),
                     out.width(), out.height(), out.bytesPerLine());
        return out;
    }
    return image;
}

} // namespace CodecDetail
