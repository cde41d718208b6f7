#pragma once

#include <QByteArray>
#include <QList>

#include <optional>

// A small reader and writer of PNG chunks for the two facts this program
// writes into PNG files: the XMP packet (an uncompressed iTXt chunk with the
// keyword "XML:com.adobe.xmp") and the EXIF orientation (the standard eXIf
// chunk). exiv2 rewrites a PNG's eXIf chunk as an old-style text chunk that
// other readers ignore, so PNG files never go through its writer. Every other
// chunk, including eXIf when only the XMP changes, is copied byte for byte.
namespace PngChunks {

struct Chunk
{
    QByteArray type;      // four ASCII letters
    qsizetype offset = 0; // of the chunk's length field
    qsizetype dataSize = 0;

    qsizetype dataOffset() const { return offset + 8; }
    qsizetype end() const { return offset + 12 + dataSize; }
};

// The chunks of a PNG up to and including IEND; absent when the bytes are not
// a well-formed PNG (bad signature, a chunk running past the end, a CRC
// mismatch, no IHDR first, no IEND).
std::optional<QList<Chunk>> parse(const QByteArray &png);

// The XMP packet stored in the file, empty when there is none.
QByteArray xmpPacket(const QByteArray &png, const QList<Chunk> &chunks);

// The PNG with its XMP packet replaced (in the place of the old one) or added
// right after IHDR. Any further XMP chunks are dropped: a reader takes the first.
QByteArray withXmpPacket(const QByteArray &png, const QList<Chunk> &chunks, const QByteArray &packet);

// The orientation in the eXIf chunk; 1 when there is none or it holds none.
int orientation(const QByteArray &png, const QList<Chunk> &chunks);

// The PNG with the orientation written: the value patched inside an existing
// eXIf chunk, or a new minimal eXIf chunk before the first IDAT. Absent when an
// eXIf chunk exists but cannot be understood (it is never replaced then).
std::optional<QByteArray> withOrientation(const QByteArray &png, const QList<Chunk> &chunks, int orientation);

// The CRC-32 that PNG chunks carry, over type and data.
quint32 crc(const char *data, qsizetype size, quint32 running = 0);

} // namespace PngChunks
