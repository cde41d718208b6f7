// Qt's own readers for the formats libvips does not read: BMP, ICO and ICNS. Icon
// files hold several pictures; the largest one is the image.

#include "platform/CodecInternal.h"
#include "platform/RegularFile.h"

#include <QFile>
#include <QImageReader>

#include <algorithm>
#include <limits>

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

// Icon files that Qt's reader turns down: the largest of their PNG or JPEG 2000
// entries (newer files) and their classic run-length entries (older ones).
struct IcnsPicture {
    QSize size;
    QByteArray encoded; // PNG or JPEG 2000; empty for a classic entry
    QByteArray file;
};

std::optional<IcnsPicture> largestIcnsPicture(const QString &path)
{
    QFile file;
    if (!RegularFile::open(file, path) || file.size() > (qint64(32) << 20))
        return std::nullopt;
    IcnsPicture best;
    best.file = file.readAll();
    const QByteArray &bytes = best.file;
    auto be32 = [&](qsizetype at) {
        const auto *p = reinterpret_cast<const uint8_t *>(bytes.constData() + at);
        return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3];
    };
    qsizetype at = 8;
    while (at + 8 <= bytes.size()) {
        const quint32 length = be32(at + 4);
        if (length < 8 || length > quint32(bytes.size() - at))
            break;
        const QByteArray payload = bytes.mid(at + 8, length - 8);
        const bool png = payload.startsWith("\x89PNG");
        const bool jp2 = payload.startsWith(QByteArray("\0\0\0\x0CjP  ", 8)) || payload.startsWith("\xFF\x4F\xFF\x51");
        if (png || jp2) {
            const auto size = CodecDetail::vipsBufferSize(payload);
            if (size && int64_t(size->width()) * size->height() > int64_t(best.size.width()) * best.size.height()) {
                best.encoded = payload;
                best.size = *size;
            }
        }
        at += length;
    }
    if (const auto classic = CodecDetail::icnsClassicSize(bytes)) {
        if (classic->width() > best.size.width()) {
            best.encoded.clear();
            best.size = *classic;
        }
    }
    if (best.size.isEmpty())
        return std::nullopt;
    return best;
}

int allocationLimitMiB()
{
    return int(std::clamp<int64_t>(Codec::decodeBudgetBytes() >> 20, 1, std::numeric_limits<int>::max()));
}

} // namespace

namespace CodecDetail {

std::optional<ImageHeader> qtProbe(const QString &path, ImageFormat format)
{
    QImageReader reader(path, qtFormat(format));
    reader.setDecideFormatFromContent(false);
    reader.setAllocationLimit(allocationLimitMiB());
    const auto largest = largestImage(reader);
    if (!largest) {
        if (format != ImageFormat::icns)
            return std::nullopt;
        const auto picture = largestIcnsPicture(path);
        if (!picture)
            return std::nullopt;
        return ImageHeader{format, picture->size, 1, false};
    }
    ImageHeader header;
    header.format = format;
    header.storedSize = largest->second;
    return header;
}

QImage qtDecode(const QString &path, ImageFormat format, int maxPixelSize, Codec::ScaleQuality quality)
{
    QImageReader reader(path, qtFormat(format));
    reader.setDecideFormatFromContent(false);
    reader.setAllocationLimit(allocationLimitMiB());
    const auto largest = largestImage(reader);
    QImage image;
    if (!largest && format == ImageFormat::icns) {
        const auto picture = largestIcnsPicture(path);
        if (!picture)
            return {};
        if (!picture->encoded.isEmpty())
            return vipsDecodeBuffer(picture->encoded, maxPixelSize);
        image = icnsClassicDecode(picture->file);
    } else {
        if (!largest || int64_t(largest->second.width()) * largest->second.height() > Codec::maxPixelCount)
            return {};
        // Qt's own allocation limit stays on, at the decode budget rather than its
        // fixed 256 MiB: the bitmap is held whole before it is reduced.
        QImageReader fresh(path, qtFormat(format));
        fresh.setDecideFormatFromContent(false);
        fresh.setAllocationLimit(allocationLimitMiB());
        if (largest->first > 0 && !fresh.jumpToImage(largest->first))
            return {};
        image = fresh.read();
    }
    if (image.isNull())
        return {};
    return fitResampled(toDisplayFormat(image), maxPixelSize, quality);
}

} // namespace CodecDetail
