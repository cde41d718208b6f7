#pragma once

// Private to fileops: exiv2 edits made on a copy of the file held in memory.
// exiv2's writeMetadata rewrites the file it opened in place, so it never sees
// the user's file for writing; it gets the bytes, and the caller writes the
// result through a Replacement.

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
    Metadata::initialize();
    try {
        Exiv2::Image::AutoPtr image =
            Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte *>(bytes.constData()), long(bytes.size()));
        if (!image.get())
            return std::nullopt;
        image->readMetadata();
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

// The XMP packet with xmp:Rating set to n; existing is the packet the file
// holds (may be empty). Absent when exiv2 cannot parse it.
inline std::optional<std::string> packetWithRating(const std::string &existing, int n)
{
    Metadata::initialize();
    try {
        Exiv2::XmpData xmp;
        if (!existing.empty() && Exiv2::XmpParser::decode(xmp, existing) != 0)
            return std::nullopt;
        xmp["Xmp.xmp.Rating"] = std::to_string(n);
        std::string packet;
        if (Exiv2::XmpParser::encode(packet, xmp, Exiv2::XmpParser::useCompactFormat) != 0)
            return std::nullopt;
        return packet;
    } catch (...) {
        return std::nullopt;
    }
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
