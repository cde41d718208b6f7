#include "fileops/PngChunks.h"

#include <exiv2/exiv2.hpp>

#include <zlib.h>

#include <algorithm>

namespace PngChunks {

namespace {

constexpr char signature[] = "\x89PNG\r\n\x1a\n";
constexpr char xmpKeyword[] = "XML:com.adobe.xmp";
constexpr quint16 orientationTag = 0x0112;

quint32 be32(const QByteArray &bytes, qsizetype at)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData() + at);
    return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | quint32(p[3]);
}

void putBe32(QByteArray &out, quint32 v)
{
    out.append(char(v >> 24)).append(char(v >> 16)).append(char(v >> 8)).append(char(v));
}

QByteArray chunk(const QByteArray &type, const QByteArray &data)
{
    QByteArray out;
    out.reserve(data.size() + 12);
    putBe32(out, quint32(data.size()));
    out.append(type).append(data);
    putBe32(out, crc(data.constData(), data.size(), crc(type.constData(), 4)));
    return out;
}

bool isXmpChunk(const QByteArray &png, const Chunk &c)
{
    if (c.type != "iTXt")
        return false;
    const qsizetype keywordSize = sizeof xmpKeyword; // with its terminating zero
    return c.dataSize >= keywordSize && png.mid(c.dataOffset(), keywordSize) == QByteArray(xmpKeyword, keywordSize);
}

// Reads 16 and 32-bit values of a TIFF structure in its own byte order.
struct TiffReader
{
    const QByteArray &data;
    bool little = true;

    bool valid() const
    {
        return data.size() >= 8 && (data.startsWith("II*\0") || data.startsWith(QByteArray("MM\0*", 4)));
    }
    quint32 u16(qsizetype at) const
    {
        const auto *p = reinterpret_cast<const unsigned char *>(data.constData() + at);
        return little ? quint32(p[0] | p[1] << 8) : quint32(p[0] << 8 | p[1]);
    }
    quint32 u32(qsizetype at) const
    {
        const auto *p = reinterpret_cast<const unsigned char *>(data.constData() + at);
        return little ? quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24
                      : quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | quint32(p[3]);
    }
};

// Offset of the orientation entry's value in IFD0 when it is one SHORT, else -1;
// -2 when the structure is damaged.
qsizetype orientationValueOffset(const QByteArray &tiff)
{
    TiffReader r{tiff, tiff.startsWith("II")};
    if (!r.valid())
        return -2;
    const quint32 ifd = r.u32(4);
    if (ifd < 8 || qsizetype(ifd) + 2 > tiff.size())
        return -2;
    const quint32 count = r.u16(ifd);
    if (qsizetype(ifd) + 2 + qsizetype(count) * 12 > tiff.size())
        return -2;
    for (quint32 i = 0; i < count; ++i) {
        const qsizetype entry = ifd + 2 + qsizetype(i) * 12;
        if (r.u16(entry) == orientationTag) {
            if (r.u16(entry + 2) == 3 && r.u32(entry + 4) == 1)
                return entry + 8;
            return -1;
        }
    }
    return -1;
}

QByteArray minimalExif(int orientation)
{
    QByteArray tiff("II*\0\x08\0\0\0", 8);
    tiff.append("\x01\0", 2);                 // one entry
    tiff.append("\x12\x01\x03\0\x01\0\0\0", 8); // Orientation, SHORT, count 1
    tiff.append(char(orientation)).append("\0\0\0", 3);
    tiff.append("\0\0\0\0", 4);               // no next IFD
    return tiff;
}

// eXIf holding an orientation in another shape (a LONG, or no entry at all):
// rebuilt through exiv2's TIFF encoder with the value set; absent when exiv2
// cannot read it.
std::optional<QByteArray> exifRebuiltWith(const QByteArray &tiff, int orientation)
{
    try {
        Exiv2::ExifData exif;
        const Exiv2::ByteOrder order = Exiv2::ExifParser::decode(
            exif, reinterpret_cast<const Exiv2::byte *>(tiff.constData()), uint32_t(tiff.size()));
        if (order == Exiv2::invalidByteOrder)
            return std::nullopt;
        auto found = exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
        if (found != exif.end())
            exif.erase(found);
        exif["Exif.Image.Orientation"] = uint16_t(orientation);
        Exiv2::Blob blob;
        Exiv2::ExifParser::encode(blob, order, exif);
        if (blob.empty())
            return std::nullopt;
        return QByteArray(reinterpret_cast<const char *>(blob.data()), qsizetype(blob.size()));
    } catch (...) {
        return std::nullopt;
    }
}

} // namespace

quint32 crc(const char *data, qsizetype size, quint32 running)
{
    return quint32(::crc32_z(running, reinterpret_cast<const Bytef *>(data), size_t(size)));
}

std::optional<QList<Chunk>> parse(const QByteArray &png)
{
    if (!png.startsWith(QByteArray(signature, 8)))
        return std::nullopt;
    QList<Chunk> chunks;
    qsizetype at = 8;
    while (at + 12 <= png.size()) {
        Chunk c;
        c.offset = at;
        c.dataSize = be32(png, at);
        c.type = png.mid(at + 4, 4);
        if (c.dataSize > 0x7fffffff || c.end() > png.size())
            return std::nullopt;
        for (char ch : c.type) {
            if (!((ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z')))
                return std::nullopt;
        }
        const quint32 stored = be32(png, c.end() - 4);
        if (crc(png.constData() + at + 4, c.dataSize + 4) != stored)
            return std::nullopt;
        if (chunks.isEmpty() && c.type != "IHDR")
            return std::nullopt;
        chunks.append(c);
        at = c.end();
        if (c.type == "IEND")
            return chunks;
    }
    return std::nullopt;
}

QByteArray xmpPacket(const QByteArray &png, const QList<Chunk> &chunks)
{
    for (const Chunk &c : chunks) {
        if (!isXmpChunk(png, c))
            continue;
        // keyword\0 compression-flag compression-method language\0 translated\0 text
        const QByteArray data = png.mid(c.dataOffset(), c.dataSize);
        qsizetype at = sizeof xmpKeyword;
        if (at + 2 > data.size() || data[at] != 0)
            return {};
        at += 2;
        const qsizetype languageEnd = data.indexOf('\0', at);
        if (languageEnd < 0)
            return {};
        const qsizetype translatedEnd = data.indexOf('\0', languageEnd + 1);
        if (translatedEnd < 0)
            return {};
        return data.mid(translatedEnd + 1);
    }
    return {};
}

QByteArray withXmpPacket(const QByteArray &png, const QList<Chunk> &chunks, const QByteArray &packet)
{
    QByteArray data(xmpKeyword, sizeof xmpKeyword);
    data.append("\0\0", 2);  // uncompressed, as XMP readers expect
    data.append("\0\0", 2);  // no language, no translated keyword
    data.append(packet);
    const QByteArray xmp = chunk("iTXt", data);

    QByteArray out;
    out.reserve(png.size() + xmp.size());
    out.append(png.constData(), 8);
    bool placed = false;
    for (const Chunk &c : chunks) {
        if (isXmpChunk(png, c)) {
            if (!placed)
                out.append(xmp);
            placed = true;
            continue;
        }
        out.append(png.constData() + c.offset, c.end() - c.offset);
        if (c.type == "IHDR" && !placed && !std::any_of(chunks.begin(), chunks.end(), [&](const Chunk &k) {
                return isXmpChunk(png, k);
            })) {
            out.append(xmp);
            placed = true;
        }
    }
    return out;
}

int orientation(const QByteArray &png, const QList<Chunk> &chunks)
{
    for (const Chunk &c : chunks) {
        if (c.type != "eXIf")
            continue;
        const QByteArray tiff = png.mid(c.dataOffset(), c.dataSize);
        const qsizetype at = orientationValueOffset(tiff);
        if (at < 0)
            return 1;
        const int value = int(TiffReader{tiff, tiff.startsWith("II")}.u16(at));
        return value >= 1 && value <= 8 ? value : 1;
    }
    return 1;
}

std::optional<QByteArray> withOrientation(const QByteArray &png, const QList<Chunk> &chunks, int orientation)
{
    // The new eXIf: the old one with its value patched (or rebuilt when the
    // value is stored in another shape), else a minimal one.
    QByteArray tiff = minimalExif(orientation);
    for (const Chunk &c : chunks) {
        if (c.type != "eXIf")
            continue;
        tiff = png.mid(c.dataOffset(), c.dataSize);
        const qsizetype at = orientationValueOffset(tiff);
        if (at == -2)
            return std::nullopt;
        if (at >= 0) {
            const bool little = tiff.startsWith("II");
            tiff[at] = char(little ? orientation : 0);
            tiff[at + 1] = char(little ? 0 : orientation);
        } else {
            auto rebuilt = exifRebuiltWith(tiff, orientation);
            if (!rebuilt)
                return std::nullopt;
            tiff = *rebuilt;
        }
        break;
    }

    QByteArray out;
    out.reserve(png.size() + 64);
    out.append(png.constData(), 8);
    bool exifPlaced = false;
    for (const Chunk &c : chunks) {
        // Older writers put eXIf after the image data, where readers that stop
        // at IDAT never see it: the chunk goes before the first IDAT.
        if (c.type == "eXIf")
            continue;
        if (c.type == "IDAT" && !exifPlaced) {
            out.append(chunk("eXIf", tiff));
            exifPlaced = true;
        }
        if (c.type == "orNT" && c.dataSize == 1) {
            // ImageMagick's own orientation chunk is kept in step.
            out.append(chunk("orNT", QByteArray(1, char(orientation))));
            continue;
        }
        out.append(png.constData() + c.offset, c.end() - c.offset);
    }
    if (!exifPlaced)
        return std::nullopt;
    return out;
}

} // namespace PngChunks
