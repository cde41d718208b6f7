#include "fileops/Encoder.h"

#include "fileops/PngChunks.h"
#include "fileops/XmpRating.h"
#include "platform/Codec.h"
#include "platform/Metadata.h"
#include "settings/Texts.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>

#include <exiv2/exiv2.hpp>
#include <vips/vips8>

#include <algorithm>
#include <cstring>
#include <functional>
#include <set>
#include <string>

using vips::VError;
using vips::VImage;

namespace Encoder {

struct Picture::Data
{
    VImage image;
    // Keeps the pixels of an image made from a decoded bitmap alive.
    QImage bitmap;
    // Read from the file as the saver goes: a damaged file is found then.
    bool streams = false;
};

namespace {

const std::array<FormatInfo, 3> formatTable = {{
    {Format::jpeg, "JPEG", "public.jpeg", "jpg"},
    {Format::png, "PNG", "public.png", "png"},
    {Format::heic, "HEIC", "public.heic", "heic"},
}};

void setError(Error *out, Error error)
{
    if (out)
        *out = error;
}

// libvips reads these itself, keeping the ICC profile and the metadata on the
// image; the rest (camera RAW, HEIF and AVIF, which libheif turns for us, BMP
// and the icons) come through the program's own decoders as sRGB bitmaps.
bool vipsReadsDirectly(ImageFormat format)
{
    switch (format) {
    case ImageFormat::jpeg:
    case ImageFormat::png:
    case ImageFormat::webp:
    case ImageFormat::tiff:
    case ImageFormat::gif:
        return true;
    default:
        return false;
    }
}

// The EXIF block of a file exiv2 reads (RAW, HEIF), as libvips keeps it
// ("Exif\0\0" and a TIFF structure); empty when there is none.
QByteArray exifBlockOf(const QString &path)
{
    try {
        const auto parsing = Metadata::lockParsing();
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
        if (!image.get())
            return {};
        image->readMetadata();
        Exiv2::ExifData exif = image->exifData();
        if (exif.empty())
            return {};
        // Only what describes the shot goes with it: a RAW's own layout (strip
        // offsets, sub-images) and a camera's maker notes would be wrong or
        // unreadable in another container.
        static const std::set<std::string> imageTags = {
            "Exif.Image.Make", "Exif.Image.Model", "Exif.Image.DateTime", "Exif.Image.Artist",
            "Exif.Image.Copyright", "Exif.Image.ImageDescription", "Exif.Image.Software",
        };
        for (auto it = exif.begin(); it != exif.end();) {
            const std::string group = it->groupName();
            const bool keep = group == "Image" ? imageTags.count(it->key()) > 0
                              : (group == "Photo" || group == "GPSInfo")
                                  && it->key().find("MakerNote") == std::string::npos;
            it = keep ? std::next(it) : exif.erase(it);
        }
        Exiv2::Blob blob;
        Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, exif);
        if (blob.empty())
            return {};
        QByteArray out("Exif\0\0", 6);
        out.append(reinterpret_cast<const char *>(blob.data()), qsizetype(blob.size()));
        return out;
    } catch (...) {
        return {};
    }
}

std::optional<Picture> fail(Error *out, Error error)
{
    setError(out, error);
    return std::nullopt;
}

VImage turnedBy(const VImage &image, int quarterTurns)
{
    switch (((quarterTurns % 4) + 4) % 4) {
    case 1: return image.rot(VIPS_ANGLE_D90);
    case 2: return image.rot(VIPS_ANGLE_D180);
    case 3: return image.rot(VIPS_ANGLE_D270);
    default: return image;
    }
}

// What the savers below can take: 8-bit sRGB or grey, alpha kept.
VImage toEightBitRgb(VImage image)
{
    if (image.interpretation() == VIPS_INTERPRETATION_CMYK) {
        // Through the embedded profile when there is one; the result carries sRGB's.
        image = image.icc_transform("srgb", VImage::option()->set("embedded", true)->set("input_profile", "cmyk"));
    } else if (image.format() != VIPS_FORMAT_UCHAR) {
        const bool grey = image.interpretation() == VIPS_INTERPRETATION_GREY16
                          || image.interpretation() == VIPS_INTERPRETATION_B_W;
        image = image.colourspace(grey ? VIPS_INTERPRETATION_B_W : VIPS_INTERPRETATION_sRGB);
    }
    if (image.format() != VIPS_FORMAT_UCHAR)
        image = image.cast(VIPS_FORMAT_UCHAR);
    return image;
}

// libvips 8.14's PNG saver writes the eXIf chunk twice, before and after the
// image data; a PNG may hold one, and readers that take both report every tag
// twice. The first one, where readers look for it, is kept.
QByteArray withOneExifChunk(const QByteArray &png)
{
    const auto chunks = PngChunks::parse(png);
    if (!chunks)
        return png;
    QByteArray out;
    out.reserve(png.size());
    out.append(png.left(chunks->isEmpty() ? png.size() : chunks->first().offset));
    bool seen = false;
    for (const PngChunks::Chunk &chunk : *chunks) {
        if (chunk.type == "eXIf") {
            if (seen)
                continue;
            seen = true;
        }
        out.append(png.mid(chunk.offset, chunk.end() - chunk.offset));
    }
    return out;
}

} // namespace

QSize Picture::size() const
{
    return d ? QSize(d->image.width(), d->image.height()) : QSize();
}

const std::array<FormatInfo, 3> &formats()
{
    return formatTable;
}

const FormatInfo &info(Format format)
{
    return formatTable[size_t(format)];
}

std::optional<Format> formatOfIndex(int index)
{
    if (index < 0 || index >= int(formatTable.size()))
        return std::nullopt;
    return formatTable[size_t(index)].format;
}

bool canEncode(Format format)
{
    if (format != Format::heic)
        return true;
    static const bool heic = [] {
        Codec::initialize();
        try {
            VImage probe = VImage::black(64, 64, VImage::option()->set("bands", 3)).cast(VIPS_FORMAT_UCHAR);
            void *buffer = nullptr;
            size_t size = 0;
            probe.write_to_buffer(".heic", &buffer, &size,
                                  VImage::option()->set("compression", VIPS_FOREIGN_HEIF_COMPRESSION_HEVC));
            g_free(buffer);
            return size > 0;
        } catch (const VError &) {
            vips_error_clear();
            return false;
        }
    }();
    return heic;
}

namespace {

bool showsTransparency(const QImage &image)
{
    if (!image.hasAlphaChannel())
        return false;
    const bool argb = image.format() == QImage::Format_ARGB32 || image.format() == QImage::Format_ARGB32_Premultiplied;
    const bool rgba = image.format() == QImage::Format_RGBA8888 || image.format() == QImage::Format_RGBA8888_Premultiplied;
    if (!argb && !rgba)
        return true; // other layouts keep their channel, as before
    for (int y = 0; y < image.height(); ++y) {
        const uchar *row = image.constScanLine(y);
        for (int x = 0; x < image.width(); ++x) {
            const uchar alpha = argb ? uchar(qAlpha(reinterpret_cast<const QRgb *>(row)[x])) : row[4 * x + 3];
            if (alpha != 255)
                return true;
        }
    }
    return false;
}

// Edits the XMP packet the savers will write; edit says whether it changed
// anything. A packet Exiv2 cannot read or write back is left as it came: not
// worth failing the copy over.
void editXmp(VImage &image, const std::function<bool(Exiv2::XmpData &)> &edit)
{
    std::string packet;
    if (image.get_typeof(VIPS_META_XMP_NAME) != 0) {
        size_t length = 0;
        const void *blob = image.get_blob(VIPS_META_XMP_NAME, &length);
        if (blob && length > 0)
            packet.assign(static_cast<const char *>(blob), length);
    }
    const auto parsing = Metadata::lockParsing();
    try {
        Exiv2::XmpData xmp;
        if (!packet.empty() && Exiv2::XmpParser::decode(xmp, packet) != 0)
            return;
        if (!edit(xmp))
            return;
        packet.clear();
        if (Exiv2::XmpParser::encode(packet, xmp, Exiv2::XmpParser::omitPacketWrapper) != 0)
            return;
        vips_image_set_blob_copy(image.get_image(), VIPS_META_XMP_NAME, packet.data(), packet.size());
    } catch (const std::exception &) {
    }
}

// The savers carry the photo's XMP over as it is, and XMP keeps copies of the
// orientation and the size of its own. The copy is written upright: readers
// that prefer the XMP value would otherwise turn it a second time, or take a
// turned copy's size the wrong way round.
void markXmpAsWritten(VImage &image)
{
    if (image.get_typeof(VIPS_META_XMP_NAME) == 0)
        return;
    const std::string width = std::to_string(image.width());
    const std::string height = std::to_string(image.height());
    editXmp(image, [&](Exiv2::XmpData &xmp) {
        bool changed = false;
        const auto set = [&](const char *key, const std::string &value) {
            const auto it = xmp.findKey(Exiv2::XmpKey(key));
            if (it != xmp.end() && it->toString() != value) {
                it->setValue(value);
                changed = true;
            }
        };
        set("Xmp.tiff.Orientation", "1");
        set("Xmp.tiff.ImageWidth", width);
        set("Xmp.tiff.ImageLength", height);
        set("Xmp.exif.PixelXDimension", width);
        set("Xmp.exif.PixelYDimension", height);
        return changed;
    });
}

// A rating kept beside the photo (its sidecar, for a RAW or a HEIF) goes into
// the copy, which has no sidecar: the stars the viewer showed are the copy's.
void carryRating(VImage &image, const QString &photo)
{
    const int rating = XmpRating::readRating(photo);
    if (rating == 0)
        return;
    const std::string value = std::to_string(rating);
    editXmp(image, [&](Exiv2::XmpData &xmp) {
        const auto it = xmp.findKey(Exiv2::XmpKey("Xmp.xmp.Rating"));
        if (it != xmp.end() && it->toString() == value)
            return false;
        xmp["Xmp.xmp.Rating"] = value;
        return true;
    });
}

// The EXIF block's thumbnail shows the photo as it was stored; in a copy whose
// pixels were turned upright it would show sideways in every reader that uses
// it (file managers, cameras). libvips writes the block again as it saves, from
// the fields it read from the file: without the thumbnail's (IFD1) and its
// pixels, the block is written without them; the rest of it stays.
void dropTurnedThumbnail(VImage &image)
{
    gchar **fields = vips_image_get_fields(image.get_image());
    for (gchar **field = fields; field && *field; ++field) {
        if (g_str_has_prefix(*field, "exif-ifd1-") || std::strcmp(*field, "jpeg-thumbnail-data") == 0)
            vips_image_remove(image.get_image(), *field);
    }
    g_strfreev(fields);
}

} // namespace

std::optional<Picture> decode(const QString &path, int quarterTurns, Error *error, bool reusable)
{
    Codec::initialize();
    const auto header = Codec::probe(path);
    if (!header) {
        if (!QFileInfo::exists(path))
            return fail(error, Error::missing);
        const bool tooLarge = Codec::whyRefused(path).refusal == Codec::Refusal::tooLarge;
        return fail(error, tooLarge ? Error::tooLarge : Error::unreadable);
    }
    const QSize shown = header->displayedSize();

    auto data = std::make_shared<Picture::Data>();
    try {
        if (vipsReadsDirectly(header->format)) {
            // A damaged file would otherwise decode partly and be written out
            // with grey where its data ended.
            // An upright photo encoded once streams from the file to the saver
            // in one pass; anything turned, or encoded again and again by the
            // estimate, is read whole into memory once.
            const bool streams = !reusable && quarterTurns % 4 == 0 && header->orientation == 1;
            VImage image = VImage::new_from_file(
                QFile::encodeName(path).constData(),
                VImage::option()
                    ->set("fail_on", VIPS_FAIL_ON_TRUNCATED)
                    ->set("access", streams ? VIPS_ACCESS_SEQUENTIAL : VIPS_ACCESS_RANDOM));
            if (!streams)
                image = image.autorot();
            image = toEightBitRgb(image);
            if (!streams)
                image = image.copy_memory();
            data->image = image;
            data->streams = streams;
        } else {
            // A HEIF keeps its own colours and profile: an iPhone's Display P3
            // would lose its deepest colours in sRGB.
            Codec::OwnColours own = Codec::decodeFullInOwnColours(path);
            QImage bitmap = std::move(own.image);
            if (bitmap.isNull())
                return fail(error, Error::unreadable);
            // A decoder may hand an opaque photo over with an alpha channel (a RAW,
            // a HEIF); its copies would carry a fourth band of 255s for nothing.
            bitmap = bitmap.convertToFormat(showsTransparency(bitmap) ? QImage::Format_RGBA8888
                                                                      : QImage::Format_RGB888);
            const int bands = bitmap.hasAlphaChannel() ? 4 : 3;
            if (bitmap.bytesPerLine() != qsizetype(bitmap.width()) * bands)
                bitmap = bitmap.copy(); // never padded for these widths, but be sure
            VImage image = VImage::new_from_memory(const_cast<uchar *>(bitmap.constBits()),
                                                   size_t(bitmap.sizeInBytes()), bitmap.width(), bitmap.height(),
                                                   bands, VIPS_FORMAT_UCHAR);
            image = image.copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
            if (!own.iccProfile.isEmpty())
                vips_image_set_blob_copy(image.get_image(), VIPS_META_ICC_NAME, own.iccProfile.constData(),
                                         size_t(own.iccProfile.size()));
            const QByteArray exif = exifBlockOf(path);
            // A copy: the image outlives this block, and a blob set without a
            // free function is only pointed at, so the saver would read it
            // after it was freed.
            if (!exif.isEmpty())
                vips_image_set_blob_copy(image.get_image(), VIPS_META_EXIF_NAME, exif.constData(),
                                         size_t(exif.size()));
            data->bitmap = bitmap;
            data->image = image;
        }
    } catch (const VError &) {
        vips_error_clear();
        return fail(error, Error::unreadable);
    }
    // A decode that came back smaller than the photo (a capped RAW, a budget)
    // would be exported as a silently shrunken copy.
    if (data->image.width() != shown.width() || data->image.height() != shown.height())
        return fail(error, Error::notWhole);
    try {
        data->image = turnedBy(data->image, quarterTurns);
        if (quarterTurns % 4 != 0 && reusable)
            data->image = data->image.copy_memory();
        if (quarterTurns % 4 != 0 || header->orientation != 1)
            dropTurnedThumbnail(data->image);
        // The savers write this into the EXIF block they carry over.
        data->image.set(VIPS_META_ORIENTATION, 1);
        markXmpAsWritten(data->image);
        carryRating(data->image, path);
    } catch (const VError &) {
        vips_error_clear();
        return fail(error, Error::unreadable);
    }
    Picture picture;
    picture.d = std::move(data);
    return picture;
}

std::optional<QByteArray> encode(const Picture &picture, Format format, int quality, Error *error)
{
    if (picture.isNull()) {
        setError(error, Error::unreadable);
        return std::nullopt;
    }
    if (!canEncode(format)) {
        setError(error, Error::unsupported);
        return std::nullopt;
    }
    const int q = std::clamp(quality, 1, 100);
    void *buffer = nullptr;
    size_t size = 0;
    try {
        VImage image = picture.d->image;
        switch (format) {
        case Format::jpeg:
            if (image.has_alpha())
                image = image.flatten(VImage::option()->set("background", std::vector<double>{255.0}));
            image.write_to_buffer(".jpg", &buffer, &size, VImage::option()->set("Q", q));
            break;
        case Format::png:
            image.write_to_buffer(".png", &buffer, &size);
            break;
        case Format::heic:
            // HEIC is saved in colour, and a grey picture's own profile cannot
            // describe colour pixels: the picture goes to sRGB through it first.
            if (image.bands() <= 2 && image.get_typeof(VIPS_META_ICC_NAME) != 0)
                image = image.icc_transform("srgb", VImage::option()
                                                        ->set("embedded", true)
                                                        ->set("intent", VIPS_INTENT_RELATIVE));
            image.write_to_buffer(".heic", &buffer, &size,
                                  VImage::option()->set("Q", q)->set("compression", VIPS_FOREIGN_HEIF_COMPRESSION_HEVC));
            break;
        }
    } catch (const VError &failure) {
        vips_error_clear();
        g_free(buffer);
        // A photo streamed into the saver fails there when its own data ends
        // early or is broken; that is the reason to give, not the encoding.
        const bool loading = picture.d->streams && !QByteArray(failure.what()).contains("save");
        setError(error, loading ? Error::unreadable : Error::encodeFailed);
        return std::nullopt;
    }
    if (!buffer || size == 0) {
        g_free(buffer);
        setError(error, Error::encodeFailed);
        return std::nullopt;
    }
    QByteArray bytes(static_cast<const char *>(buffer), qsizetype(size));
    g_free(buffer);
    if (format == Format::png)
        bytes = withOneExifChunk(bytes);
    return bytes;
}

std::optional<QByteArray> encodeFile(const QString &path, int quarterTurns, Format format, int quality, Error *error)
{
    const auto picture = decode(path, quarterTurns, error, false);
    if (!picture)
        return std::nullopt;
    return encode(*picture, format, quality, error);
}

QString describe(Error error)
{
    switch (error) {
    case Error::tooLarge: return Texts::text("msg.exportTooLarge");
    case Error::notWhole: return Texts::text("msg.exportNotWhole");
    case Error::unsupported: return Texts::text("exp.heicUnavailable");
    case Error::unreadable: return Texts::text("msg.exportUnreadable");
    case Error::missing: return Texts::text("msg.exportMissing");
    case Error::encodeFailed: break;
    }
    return Texts::text("msg.exportEncodeFailed");
}

} // namespace Encoder
