#pragma once

// Private to fileops: exiv2 edits made on a copy of the file held in memory.
// exiv2's writeMetadata rewrites the file it opened in place, so it never sees
// the user's file for writing; it gets the bytes, and the caller writes the
// result through a Replacement.

#include "fileops/SafeFile.h"
#include "platform/Metadata.h"

#include <QByteArray>
#include <QString>

#include <exiv2/exiv2.hpp>

#include <functional>
#include <optional>
#include <string>

namespace ExivEdit {

// The image rewritten with the metadata edit applied; absent (with the reason
// in error) when exiv2 cannot read or write the format.
inline std::optional<QByteArray> rewrite(const QByteArray &bytes, const std::function<void(Exiv2::Image &)> &edit,
                                         QString *error)
{
    const auto parsing = Metadata::lockParsing();
    try {
        Exiv2::Image::AutoPtr image =
            Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte *>(bytes.constData()), long(bytes.size()));
        if (!image.get())
            return std::nullopt;
        image->readMetadata();
        // A packet exiv2 cannot read is an empty model: encoded again it
        // would drop every property. Such a packet is written back as it was;
        // an edit of the XMP itself sees writeXmpFromPacket() and refuses.
        if (!image->xmpPacket().empty()) {
            Exiv2::XmpData probe;
            if (Exiv2::XmpParser::decode(probe, image->xmpPacket()) != 0)
                image->writeXmpFromPacket(true);
        }
        edit(*image);
        image->writeMetadata();
        Exiv2::BasicIo &io = image->io();
        if (io.open() != 0)
            return std::nullopt;
        QByteArray out(qsizetype(io.size()), Qt::Uninitialized);
        io.seek(0, Exiv2::BasicIo::beg);
        const long got = io.read(reinterpret_cast<Exiv2::byte *>(out.data()), long(out.size()));
        io.close();
        if (got != long(out.size()))
            return std::nullopt;
        return out;
    } catch (const std::exception &e) {
        if (error)
            *error = QString::fromLocal8Bit(e.what());
    } catch (...) {
    }
    return std::nullopt;
}

// Where the first scan (SOS marker) of a JPEG starts, and where its header
// ends, walking the marker segments of head; absent when head is not a JPEG
// or ends before the first scan.
struct JpegScan
{
    qsizetype start = 0;     // offset of the FF DA marker
    qsizetype headerEnd = 0; // offset just after the scan header
};
inline std::optional<JpegScan> jpegFirstScan(const QByteArray &head)
{
    const auto byte = [&](qsizetype at) { return uint8_t(head[at]); };
    if (head.size() < 4 || byte(0) != 0xFF || byte(1) != 0xD8)
        return std::nullopt;
    qsizetype at = 2;
    while (at + 1 < head.size()) {
        if (byte(at) != 0xFF)
            return std::nullopt;
        while (at + 1 < head.size() && byte(at + 1) == 0xFF)
            ++at; // fill bytes
        if (at + 1 >= head.size())
            return std::nullopt;
        const uint8_t marker = byte(at + 1);
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2;
            continue;
        }
        if (marker == 0xD9 || at + 4 > head.size())
            return std::nullopt;
        const qsizetype length = qsizetype(byte(at + 2)) << 8 | byte(at + 3);
        if (length < 2)
            return std::nullopt;
        if (marker == 0xDA) {
            if (at + 2 + length > head.size())
                return std::nullopt;
            return JpegScan{at, at + 2 + length};
        }
        at += 2 + length;
    }
    return std::nullopt;
}

// A JPEG's metadata edited without handling its compressed picture: exiv2
// rewrites the segments before the first scan (given that header with an end
// marker), and everything from the first scan on stays as it is in the file.
// Returns the new header, up to the scan; absent when the file is not a JPEG
// this can split.
inline std::optional<QByteArray> jpegHeadEdited(const QByteArray &header, const JpegScan &scan,
                                                const std::function<void(Exiv2::Image &)> &edit, QString *error)
{
    QByteArray shortened = header.left(scan.headerEnd);
    shortened.append("\xFF\xD9", 2);
    const auto rewritten = rewrite(shortened, edit, error);
    if (!rewritten)
        return std::nullopt;
    const auto newScan = jpegFirstScan(*rewritten);
    if (!newScan || rewritten->mid(newScan->start) != shortened.mid(scan.start))
        return std::nullopt;
    return rewritten->left(newScan->start);
}

// Replaces a JPEG whose metadata edit touches only its header: the new header
// is written, the rest is copied from the file by the kernel. verify gets the
// temporary file before the rename. Absent when the file cannot be split this
// way (the caller then rewrites the whole file); otherwise the outcome.
std::optional<SafeFile::Outcome> replaceJpegHead(const QString &target, const char *purpose,
                                                 const std::function<void(Exiv2::Image &)> &edit,
                                                 const std::function<bool(const QString &temporary)> &verify);
// The same with the new header made by the caller: newHead gets the file's
// first bytes, at least up to the end of its first scan header, with where
// that scan starts, and returns what replaces the bytes before the scan, or
// nothing when it cannot make it.
using HeadEdit = std::function<std::optional<QByteArray>(const QByteArray &header, const JpegScan &scan)>;
std::optional<SafeFile::Outcome> replaceJpegHeadBytes(const QString &target, const char *purpose,
                                                      const HeadEdit &newHead,
                                                      const std::function<bool(const QString &temporary)> &verify);

// The XMP packet existing (may be empty) with the property key set to value.
// With onlyWhereSet, a packet without the property is returned as it is.
// Absent when exiv2 cannot parse or write it.
inline std::optional<std::string> packetWith(const std::string &existing, const char *key, const std::string &value,
                                             bool onlyWhereSet = false)
{
    const auto parsing = Metadata::lockParsing();
    try {
        Exiv2::XmpData xmp;
        if (!existing.empty() && Exiv2::XmpParser::decode(xmp, existing) != 0)
            return std::nullopt;
        const Exiv2::XmpKey property(key);
        if (onlyWhereSet && xmp.findKey(property) == xmp.end())
            return existing;
        xmp[key] = value;
        std::string packet;
        if (Exiv2::XmpParser::encode(packet, xmp, Exiv2::XmpParser::useCompactFormat) != 0)
            return std::nullopt;
        return packet;
    } catch (...) {
        return std::nullopt;
    }
}

// The XMP packet with xmp:Rating set to n; existing is the packet the file
// holds (may be empty). Absent when exiv2 cannot parse it.
inline std::optional<std::string> packetWithRating(const std::string &existing, int n)
{
    return packetWith(existing, "Xmp.xmp.Rating", std::to_string(n));
}

// A rating in the form XMP tools write it: an integer, possibly signed,
// possibly written as "5.0". Absent when the text is not a number.
inline std::optional<int> parseRatingValue(const QString &text)
{
    bool ok = false;
    const QString trimmed = text.trimmed();
    const int whole = trimmed.toInt(&ok);
    if (ok)
        return whole;
    const double real = trimmed.toDouble(&ok);
    if (ok && real == double(int(real)))
        return int(real);
    return std::nullopt;
}

} // namespace ExivEdit
