#include "fileops/RotationSave.h"

#include "fileops/ExivEdit.h"
#include "fileops/JpegSegments.h"
#include "fileops/PngChunks.h"
#include "fileops/XmpRating.h"
#include "platform/Codec.h"
#include "settings/Texts.h"

#include <QFileInfo>
#include <QTransform>

#include <sys/stat.h>

#include <algorithm>

namespace RotationSave {

using SafeFile::Failure;
using SafeFile::Outcome;

namespace {

Result failed(const Failure &failure)
{
    Result r;
    r.reason = Texts::format("msg.rotFailed", {failure.reason});
    return r;
}

// A refusal made before anything was written, with its own complete message.
Result refused(const QString &message)
{
    Result r;
    r.reason = message;
    return r;
}

Result refusedFormat(const QString &formatName)
{
    return refused(Texts::format("msg.rotUnsupported", {formatName}));
}

quint32 tiffValue(const QByteArray &b, qsizetype at, int size, bool little)
{
    quint32 v = 0;
    for (int i = 0; i < size; ++i) {
        const quint32 byte = uint8_t(b[at + i]);
        v |= little ? byte << (8 * i) : byte << (8 * (size - 1 - i));
    }
    return v;
}

// Pages in the main IFD chain of a TIFF (DNG keeps its raw data in sub-IFDs, so
// a DNG counts one); 0 when the structure is damaged.
int tiffPageCount(const QByteArray &tiff)
{
    if (tiff.size() < 8)
        return 0;
    const bool little = tiff.startsWith("II");
    quint32 ifd = tiffValue(tiff, 4, 4, little);
    int pages = 0;
    QList<quint32> seen;
    while (ifd != 0) {
        if (qsizetype(ifd) + 2 > tiff.size() || seen.contains(ifd) || pages > 1000)
            return 0;
        seen.append(ifd);
        ++pages;
        const quint32 count = tiffValue(tiff, ifd, 2, little);
        const qsizetype next = qsizetype(ifd) + 2 + qsizetype(count) * 12;
        if (next + 4 > tiff.size())
            return 0;
        ifd = tiffValue(tiff, next, 4, little);
    }
    return pages;
}

int orientationIn(Exiv2::Image &image)
{
    const Exiv2::ExifData &exif = image.exifData();
    const auto found = exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
    if (found == exif.end() || found->count() == 0)
        return 1;
    const long value = found->toLong();
    return value >= 1 && value <= 8 ? int(value) : 1;
}

void setOrientation(Exiv2::Image &image, int orientation)
{
    Exiv2::ExifData &exif = image.exifData();
    auto found = exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
    if (found != exif.end())
        exif.erase(found);
    exif["Exif.Image.Orientation"] = uint16_t(orientation);
    // Readers that prefer the XMP copy must see the same value.
    Exiv2::XmpData &xmp = image.xmpData();
    auto copy = xmp.findKey(Exiv2::XmpKey("Xmp.tiff.Orientation"));
    if (copy != xmp.end())
        copy->setValue(std::to_string(orientation));
}

// What the viewer itself will read from the written file.
bool readsBackAs(const QString &path, int orientation)
{
    const auto header = Codec::probe(path);
    return header && header->orientation == orientation && RotationSave::fileOrientation(path) == orientation;
}

Result writeAndCommit(SafeFile::Replacement &replacement, const QByteArray &bytes, int orientation)
{
    if (const Outcome written = replacement.writeAndSync(bytes))
        return failed(*written);
    if (!readsBackAs(replacement.temporaryPath(), orientation))
        return failed(Failure::of(Failure::Kind::verify));
    if (!SafeFile::step("verified"))
        return failed(Failure::of(Failure::Kind::aborted));
    if (const Outcome committed = replacement.commit())
        return failed(*committed);
    Result r;
    r.kind = Result::Kind::lossless;
    r.orientation = orientation;
    return r;
}

// The tag path through exiv2: only the metadata segment changes.
std::optional<Result> losslessWithExiv(const QString &target, const SafeFile::ReadFile &read, int turns)
{
    int written = 1;
    QString error;
    const auto bytes = ExivEdit::rewrite(read.bytes, [&](Exiv2::Image &image) {
        written = turned(orientationIn(image), turns);
        setOrientation(image, written);
    }, &error);
    if (!bytes)
        return std::nullopt;
    Failure failure;
    auto replacement = SafeFile::Replacement::begin(target, "rotate", read.stamp, &failure);
    if (!replacement)
        return failed(failure);
    return writeAndCommit(*replacement, *bytes, written);
}

// A JPEG's tag changed in its header alone; the compressed picture is copied.
std::optional<Result> losslessJpegHead(const QString &target, int turns)
{
    int written = 1;
    const auto verify = [&](const QString &temporary) { return readsBackAs(temporary, written); };
    // Where the file has an orientation entry, its two bytes are changed in
    // place (and the XMP copy, if any): every other byte of the EXIF block,
    // the camera's maker note included, stays as it was.
    auto done = ExivEdit::replaceJpegHeadBytes(
        target, "rotate",
        [&](const QByteArray &header, const ExivEdit::JpegScan &scan) -> std::optional<QByteArray> {
            QByteArray head = header.left(scan.start);
            auto segments = JpegSegments::parse(head);
            const auto entry = segments ? JpegSegments::exifOrientation(head, *segments) : std::nullopt;
            if (!entry)
                return std::nullopt;
            written = turned(entry->value >= 1 && entry->value <= 8 ? entry->value : 1, turns);
            head = JpegSegments::withOrientation(head, *entry, written);
            const QByteArray packet = JpegSegments::xmpPacket(head, *segments);
            if (!packet.contains("Orientation"))
                return head;
            const auto updated =
                ExivEdit::packetWith(packet.toStdString(), "Xmp.tiff.Orientation", std::to_string(written), true);
            if (!updated)
                return std::nullopt;
            return JpegSegments::withXmpPacket(head, *segments, QByteArray::fromStdString(*updated));
        },
        verify);
    if (!done)
        done = ExivEdit::replaceJpegHead(
            target, "rotate",
            [&](Exiv2::Image &image) {
                written = turned(orientationIn(image), turns);
                setOrientation(image, written);
            },
            verify);
    if (!done)
        return std::nullopt;
    if (*done)
        return failed(**done);
    Result r;
    r.kind = Result::Kind::lossless;
    r.orientation = written;
    return r;
}

Result losslessPng(const QString &target, const SafeFile::ReadFile &read, int turns)
{
    const auto chunks = PngChunks::parse(read.bytes);
    if (!chunks)
        return failed(Failure::of(Failure::Kind::unrecognised));
    if (std::any_of(chunks->begin(), chunks->end(), [](const PngChunks::Chunk &c) { return c.type == "acTL"; }))
        return refused(Texts::text("msg.rotAnimated"));
    // Turned from what the viewer showed: its decoder reads eXIf only before
    // the image data, where this writer puts it.
    const auto header = Codec::probe(target);
    const int written = turned(header ? header->orientation : 1, turns);
    const auto bytes = PngChunks::withOrientation(read.bytes, *chunks, written);
    if (!bytes)
        return failed(Failure::of(Failure::Kind::unrecognised));
    Failure failure;
    auto replacement = SafeFile::Replacement::begin(target, "rotate", read.stamp, &failure);
    if (!replacement)
        return failed(failure);
    return writeAndCommit(*replacement, *bytes, written);
}

// The source's EXIF and XMP (capture date, GPS, rating and the rest) on the
// re-encoded bytes, with orientation 1 since the pixels are now upright.
// Absent when the source holds metadata the encoded format cannot carry.
std::optional<QByteArray> withMetadataOf(const QByteArray &source, const QByteArray &encoded)
{
    Exiv2::ExifData exif;
    Exiv2::XmpData xmp;
    try {
        const auto parsing = Metadata::lockParsing();
        Exiv2::Image::AutoPtr image =
            Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte *>(source.constData()), long(source.size()));
        if (image.get()) {
            image->readMetadata();
            exif = image->exifData();
            xmp = image->xmpData();
        }
    } catch (...) {
        // A format exiv2 does not read (BMP, GIF) carries nothing it could copy.
    }
    if (exif.empty() && xmp.empty())
        return encoded;
    QString error;
    return ExivEdit::rewrite(encoded, [&](Exiv2::Image &image) {
        image.setExifData(exif);
        image.setXmpData(xmp);
        setOrientation(image, 1);
    }, &error);
}

Result reencode(const QString &target, const SafeFile::ReadFile &read, ImageFormat format, int turns)
{
    const auto header = Codec::probe(target);
    if (!header)
        return failed(Failure::of(Failure::Kind::unrecognised));
    if (header->isAnimated)
        return refused(Texts::text("msg.rotAnimated"));
    const QSize stored = header->storedSize;
    if (std::max(stored.width(), stored.height()) > maxReencodeSide
        || qint64(stored.width()) * stored.height() > Codec::maxPixelCount)
        return refused(Texts::text("msg.rotTooLarge"));
    const QImage upright = Codec::decodeFull(target);
    // A decode that came back smaller than the photo would replace it with a
    // shrunken copy.
    if (upright.isNull() || upright.size() != header->displayedSize())
        return refused(Texts::text("msg.rotTooLarge"));
    const QImage rotated = upright.transformed(QTransform().rotate(90.0 * turns));

    Failure failure;
    auto replacement = SafeFile::Replacement::begin(target, "rotate", read.stamp, &failure);
    if (!replacement)
        return failed(failure);
    if (!Codec::encode(rotated, replacement->temporaryPath(), format, 95))
        return failed(Failure::of(Failure::Kind::unsupported));
    Failure readFailure;
    const auto encoded = SafeFile::readWhole(replacement->temporaryPath(), &readFailure);
    if (!encoded)
        return failed(readFailure);
    const auto carried = withMetadataOf(read.bytes, encoded->bytes);
    if (!carried)
        return refused(Texts::format("msg.rotUnsupported", {QString::fromLatin1(Codec::formatName(format))}));
    if (const Outcome written = replacement->writeAndSync(*carried))
        return failed(*written);
    const auto back = Codec::probe(replacement->temporaryPath());
    if (!back || back->displayedSize() != rotated.size() || back->orientation != 1)
        return failed(Failure::of(Failure::Kind::verify));
    if (!SafeFile::step("verified"))
        return failed(Failure::of(Failure::Kind::aborted));
    if (const Outcome committed = replacement->commit())
        return failed(*committed);
    Result r;
    r.kind = Result::Kind::reencoded;
    r.orientation = 1;
    return r;
}

} // namespace

int turnedClockwise(int orientation)
{
    switch (orientation) {
    case 1: return 6;
    case 6: return 3;
    case 3: return 8;
    case 8: return 1;
    case 2: return 7;
    case 7: return 4;
    case 4: return 5;
    case 5: return 2;
    default: return 6;
    }
}

int turned(int orientation, int quarterTurns)
{
    int o = orientation >= 1 && orientation <= 8 ? orientation : 1;
    const int turns = ((quarterTurns % 4) + 4) % 4;
    for (int i = 0; i < turns; ++i)
        o = turnedClockwise(o);
    return o;
}

int fileOrientation(const QString &photo)
{
    if (Codec::formatOfFile(photo) == ImageFormat::png) {
        Failure failure;
        const auto read = SafeFile::readWhole(photo, &failure, 512 * 1024 * 1024);
        if (!read)
            return 1;
        const auto chunks = PngChunks::parse(read->bytes);
        return chunks ? PngChunks::orientation(read->bytes, *chunks) : 1;
    }
    const auto tags = Metadata::readMetadata(photo, {QStringLiteral("Exif.Image.Orientation")});
    if (!tags)
        return 1;
    bool ok = false;
    const int value = tags->value(QStringLiteral("Exif.Image.Orientation")).value_or(QString()).toInt(&ok);
    return ok && value >= 1 && value <= 8 ? value : 1;
}

Result writeRotation(const QString &photo, int quarterTurns)
{
    const int turns = ((quarterTurns % 4) + 4) % 4;
    if (turns == 0)
        return refused(Texts::text("msg.rotNone"));
    const QString target = SafeFile::writablePath(photo);
    if (target.isEmpty())
        return failed(Failure::of(Failure::Kind::gone));
    const SafeFile::PathLocks::Guard guard = SafeFile::PathLocks::lock({target});

    Failure failure;
    const auto read = SafeFile::readWhole(target, &failure);
    if (!read)
        return failed(failure);
    if (!(read->stamp.mode & S_IWUSR))
        return failed(Failure::of(Failure::Kind::readOnly));

    const QString suffix = QFileInfo(photo).suffix().toLower();
    ImageFormat format = Codec::formatOfContent(read->bytes.left(4096));
    const bool isTiffLike = read->bytes.startsWith("II*") || read->bytes.startsWith(QByteArray("MM\0*", 4));
    const bool isDng = suffix == QLatin1String("dng") && isTiffLike;
    if (format == ImageFormat::tiff && XmpRating::isRawExtension(suffix))
        format = ImageFormat::raw;

    if (isDng || format == ImageFormat::tiff) {
        if (tiffPageCount(read->bytes) != 1)
            return refused(Texts::format("msg.rotUnsupported", {Texts::text("msg.fmtMultiPage")}));
        if (auto done = losslessWithExiv(target, *read, turns))
            return *done;
        return failed(Failure::of(Failure::Kind::unsupported));
    }
    switch (format) {
    case ImageFormat::jpeg:
        if (auto done = losslessJpegHead(target, turns))
            return *done;
        if (auto done = losslessWithExiv(target, *read, turns))
            return *done;
        return failed(Failure::of(Failure::Kind::unsupported));
    case ImageFormat::png:
        return losslessPng(target, *read, turns);
    case ImageFormat::webp: {
        const auto header = Codec::probe(target);
        if (header && header->isAnimated)
            return refused(Texts::text("msg.rotAnimated"));
        if (auto done = losslessWithExiv(target, *read, turns); done && done->succeeded())
            return *done;
        return reencode(target, *read, format, turns);
    }
    case ImageFormat::bmp:
    case ImageFormat::gif:
        return reencode(target, *read, format, turns);
    default:
        return refusedFormat(QString::fromLatin1(Codec::formatName(format)).toUpper());
    }
}

Result writeRotationReencoded(const QString &photo, int quarterTurns)
{
    const int turns = ((quarterTurns % 4) + 4) % 4;
    const QString target = SafeFile::writablePath(photo);
    if (target.isEmpty())
        return failed(Failure::of(Failure::Kind::gone));
    const SafeFile::PathLocks::Guard guard = SafeFile::PathLocks::lock({target});
    Failure failure;
    const auto read = SafeFile::readWhole(target, &failure);
    if (!read)
        return failed(failure);
    const ImageFormat format = Codec::formatOfContent(read->bytes.left(4096));
    if (format != ImageFormat::webp && format != ImageFormat::bmp && format != ImageFormat::gif)
        return refusedFormat(QString::fromLatin1(Codec::formatName(format)).toUpper());
    return reencode(target, *read, format, turns);
}

} // namespace RotationSave
