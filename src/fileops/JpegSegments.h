#pragma once

// Edits of a JPEG header made segment by segment, leaving every byte that is
// not part of the edit as it was. A library's rewrite of the whole EXIF block
// loses what it cannot parse again (cameras' maker notes, unusual layouts),
// so a rating or an orientation is written here in place where it can be.

#include <QByteArray>
#include <QVector>

#include <cstdint>
#include <optional>

namespace JpegSegments {

// A marker segment before the first scan, from its FF marker to its end.
struct Segment
{
    uint8_t marker = 0;
    qsizetype start = 0;
    qsizetype size = 0; // marker, length field and payload

    qsizetype payloadStart() const { return start + 4; }
    qsizetype payloadSize() const { return size - 4; }
};

// The segments of head, a JPEG's bytes from its start up to its first scan
// (the FF DA marker excluded). Absent when head is not such a header.
std::optional<QVector<Segment>> parse(const QByteArray &head);

// Where the first scan of bytes, a whole JPEG or its start, begins (the
// offset of its FF DA marker); absent when there is none.
std::optional<qsizetype> firstScanStart(const QByteArray &bytes);

// The main XMP packet of the header; empty when it has none.
QByteArray xmpPacket(const QByteArray &head, const QVector<Segment> &segments);

// The header with its main XMP packet replaced by packet, or when it has none
// inserted after the EXIF (else JFIF) segment. Absent when the packet does not
// fit in one segment.
std::optional<QByteArray> withXmpPacket(const QByteArray &head, const QVector<Segment> &segments,
                                        const QByteArray &packet);

// Where the EXIF orientation of the header is stored: one SHORT in the first
// directory, its two bytes at valueOffset of head. Absent when the header has
// no such entry.
struct Orientation
{
    qsizetype valueOffset = 0;
    bool bigEndian = false;
    int value = 0;
};
std::optional<Orientation> exifOrientation(const QByteArray &head, const QVector<Segment> &segments);

// head with the orientation entry found above set to value.
QByteArray withOrientation(QByteArray head, const Orientation &where, int value);

} // namespace JpegSegments
