#include "fileops/JpegSegments.h"

namespace JpegSegments {

namespace {

constexpr uint8_t app0 = 0xE0;
constexpr uint8_t app1 = 0xE1;
constexpr char xmpSignature[] = "http://ns.adobe.com/xap/1.0/"; // followed by a NUL
constexpr qsizetype xmpSignatureSize = sizeof(xmpSignature);   // with the NUL
constexpr qsizetype largestPayload = 0xFFFF - 2;

uint8_t byteAt(const QByteArray &bytes, qsizetype at)
{
    return uint8_t(bytes[at]);
}

bool isXmp(const QByteArray &head, const Segment &segment)
{
    return segment.marker == app1 && segment.payloadSize() >= xmpSignatureSize
           && head.mid(segment.payloadStart(), xmpSignatureSize) == QByteArray(xmpSignature, xmpSignatureSize);
}

bool isExif(const QByteArray &head, const Segment &segment)
{
    return segment.marker == app1 && segment.payloadSize() >= 6
           && head.mid(segment.payloadStart(), 6) == QByteArray("Exif\0\0", 6);
}

} // namespace

namespace {

// The marker segments from the start of bytes up to its first scan, and where
// that scan starts (bytes.size() when bytes ends before one).
struct Walk
{
    QVector<Segment> segments;
    qsizetype scan = 0;
};
std::optional<Walk> walk(const QByteArray &bytes)
{
    if (bytes.size() < 2 || byteAt(bytes, 0) != 0xFF || byteAt(bytes, 1) != 0xD8)
        return std::nullopt;
    Walk w;
    qsizetype at = 2;
    while (at < bytes.size()) {
        if (byteAt(bytes, at) != 0xFF)
            return std::nullopt;
        while (at + 1 < bytes.size() && byteAt(bytes, at + 1) == 0xFF)
            ++at; // fill bytes
        if (at + 1 >= bytes.size())
            return std::nullopt;
        const uint8_t marker = byteAt(bytes, at + 1);
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2;
            continue;
        }
        if (marker == 0xDA) {
            w.scan = at;
            return w;
        }
        if (marker == 0xD9 || at + 4 > bytes.size())
            return std::nullopt;
        const qsizetype length = qsizetype(byteAt(bytes, at + 2)) << 8 | byteAt(bytes, at + 3);
        if (length < 2 || at + 2 + length > bytes.size())
            return std::nullopt;
        w.segments.append(Segment{marker, at, 2 + length});
        at += 2 + length;
    }
    w.scan = bytes.size();
    return w;
}

} // namespace

std::optional<QVector<Segment>> parse(const QByteArray &head)
{
    const auto w = walk(head);
    if (!w || w->scan != head.size())
        return std::nullopt;
    return w->segments;
}

std::optional<qsizetype> firstScanStart(const QByteArray &bytes)
{
    const auto w = walk(bytes);
    if (!w || w->scan == bytes.size())
        return std::nullopt;
    return w->scan;
}

QByteArray xmpPacket(const QByteArray &head, const QVector<Segment> &segments)
{
    for (const Segment &segment : segments) {
        if (isXmp(head, segment))
            return head.mid(segment.payloadStart() + xmpSignatureSize, segment.payloadSize() - xmpSignatureSize);
    }
    return {};
}

std::optional<QByteArray> withXmpPacket(const QByteArray &head, const QVector<Segment> &segments,
                                        const QByteArray &packet)
{
    const qsizetype payload = xmpSignatureSize + packet.size();
    if (payload > largestPayload)
        return std::nullopt;
    QByteArray segment;
    segment.reserve(4 + payload);
    segment.append(char(0xFF)).append(char(app1));
    segment.append(char((payload + 2) >> 8)).append(char((payload + 2) & 0xFF));
    segment.append(xmpSignature, xmpSignatureSize).append(packet);

    for (const Segment &existing : segments) {
        if (isXmp(head, existing))
            return head.left(existing.start) + segment + head.mid(existing.start + existing.size);
    }
    // A new packet goes after the EXIF segment, else after JFIF's, else first.
    qsizetype insertAt = 2;
    for (const Segment &existing : segments) {
        if (isExif(head, existing)) {
            insertAt = existing.start + existing.size;
            break;
        }
        if (existing.marker == app0 && insertAt == 2)
            insertAt = existing.start + existing.size;
    }
    return head.left(insertAt) + segment + head.mid(insertAt);
}

std::optional<Orientation> exifOrientation(const QByteArray &head, const QVector<Segment> &segments)
{
    for (const Segment &segment : segments) {
        if (!isExif(head, segment))
            continue;
        const qsizetype tiff = segment.payloadStart() + 6;
        const qsizetype end = segment.start + segment.size;
        if (tiff + 8 > end)
            return std::nullopt;
        const bool big = head.mid(tiff, 4) == QByteArray("MM\0*", 4);
        if (!big && head.mid(tiff, 4) != QByteArray("II*\0", 4))
            return std::nullopt;
        const auto read = [&](qsizetype at, int bytes) {
            quint32 value = 0;
            for (int i = 0; i < bytes; ++i) {
                const quint32 b = byteAt(head, at + i);
                value |= big ? b << (8 * (bytes - 1 - i)) : b << (8 * i);
            }
            return value;
        };
        const qsizetype ifd = tiff + qsizetype(read(tiff + 4, 4));
        if (ifd < tiff + 8 || ifd + 2 > end)
            return std::nullopt;
        const int count = int(read(ifd, 2));
        for (int i = 0; i < count; ++i) {
            const qsizetype entry = ifd + 2 + 12 * qsizetype(i);
            if (entry + 12 > end)
                return std::nullopt;
            if (read(entry, 2) != 0x0112)
                continue;
            // A SHORT (type 3), one of it, stored in the entry itself.
            if (read(entry + 2, 2) != 3 || read(entry + 4, 4) != 1)
                return std::nullopt;
            return Orientation{entry + 8, big, int(read(entry + 8, 2))};
        }
        return std::nullopt;
    }
    return std::nullopt;
}

QByteArray withOrientation(QByteArray head, const Orientation &where, int value)
{
    const char high = char((value >> 8) & 0xFF);
    const char low = char(value & 0xFF);
    head[where.valueOffset] = where.bigEndian ? high : low;
    head[where.valueOffset + 1] = where.bigEndian ? low : high;
    return head;
}

} // namespace JpegSegments
