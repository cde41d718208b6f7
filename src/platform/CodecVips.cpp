// libvips for the formats it reads well: PNG, WebP, TIFF, GIF, HEIF/HEIC, AVIF,
// JPEG XL, JPEG 2000, and the JPEGs the fast path declines. Its thumbnail
// operation shrinks on load, applies the EXIF orientation and converts an embedded
// profile to sRGB; everything it makes is read out exactly once.

#include "platform/CodecInternal.h"

#include <vips/vips8>

#include <QDebug>
#include <QFile>

#include <mutex>

using vips::VError;
using vips::VImage;

namespace {

void clearError()
{
    vips_error_clear();
}

// libvips reads a lazily evaluated image once into our own bitmap; straight alpha
// is premultiplied on the way out.
QImage toQImage(VImage image)
{
    if (image.interpretation() != VIPS_INTERPRETATION_sRGB || image.format() != VIPS_FORMAT_UCHAR)
        image = image.colourspace(VIPS_INTERPRETATION_sRGB);
    if (image.format() != VIPS_FORMAT_UCHAR)
        image = image.cast(VIPS_FORMAT_UCHAR);
    bool hasAlpha = image.bands() == 2 || image.bands() >= 4;
    if (image.bands() < 3)
        image = image.colourspace(VIPS_INTERPRETATION_sRGB);
    if (image.bands() > 4)
        image = image.extract_band(0, VImage::option()->set("n", 4));
    if (image.bands() == 3) {
        image = image.bandjoin_const({255});
        hasAlpha = false;
    }
    if (image.bands() != 4 || image.format() != VIPS_FORMAT_UCHAR)
        return {};
    const int width = image.width();
    const int height = image.height();
    if (width <= 0 || height <= 0 || int64_t(width) * height > Codec::maxPixelCount)
        return {};
    QImage out = CodecDetail::pooledImage(width, height);
    if (out.isNull())
        return {};
    // Wrap our buffer as the destination so the pixels land once, where they stay.
    VImage target = VImage::new_from_memory(out.bits(), size_t(out.sizeInBytes()), width, height, 4,
                                            VIPS_FORMAT_UCHAR);
    image.write(target);
    if (hasAlpha) {
        // Reinterpret as straight alpha, then let Qt premultiply.
        QImage straight(out.constBits(), width, height, out.bytesPerLine(), QImage::Format_RGBA8888);
        QImage premultiplied = straight.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
        return premultiplied;
    }
    return out;
}


// The ICC profile of a JP2 file's colour specification box. libvips 8.14 reads the
// header through OpenJPEG, which hands the profile over only with the decoded pixels,
// so the image libvips gives us carries none: an eciRGB or Adobe RGB JPEG 2000 would
// be shown as if it were sRGB. The boxes are walked here instead: the header box
// ('jp2h') holds 'colr' boxes, and those with method 2 (restricted ICC) or 3 (any
// ICC) carry a profile after three bytes of method, precedence and approximation.
QByteArray jp2ColourProfile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // Reads the box header at `at`; false at the end or on a malformed box.
    const auto boxAt = [&file](qint64 at, qint64 end, qint64 &contentStart, qint64 &boxEnd, QByteArray &type) {
        if (at + 8 > end || !file.seek(at))
            return false;
        const QByteArray head = file.read(8);
        if (head.size() != 8)
            return false;
        const auto u32 = [](const QByteArray &b, int i) {
            return quint64(uchar(b[i])) << 24 | quint64(uchar(b[i + 1])) << 16 | quint64(uchar(b[i + 2])) << 8 | quint64(uchar(b[i + 3]));
        };
        quint64 length = u32(head, 0);
        type = head.mid(4, 4);
        contentStart = at + 8;
        if (length == 1) {
            const QByteArray large = file.read(8);
            if (large.size() != 8)
                return false;
            length = u32(large, 0) << 32 | u32(large, 4);
            contentStart = at + 16;
        } else if (length == 0) {
            length = quint64(end - at);
        }
        if (length < quint64(contentStart - at) || length > quint64(end - at))
            return false;
        boxEnd = at + qint64(length);
        return true;
    };
    const qint64 size = file.size();
    qint64 at = 0, content = 0, boxEnd = 0;
    QByteArray type;
    // Only a JP2 file (its signature box first) is walked, and only its first boxes.
    if (!boxAt(0, size, content, boxEnd, type) || type != "jP  ")
        return {};
    for (int boxes = 0; boxes < 64 && boxAt(at, size, content, boxEnd, type); ++boxes) {
        if (type == "jp2c")
            break;    // the codestream: the header box comes before it
        if (type == "jp2h") {
            qint64 inner = content, innerContent = 0, innerEnd = 0;
            QByteArray innerType;
            for (int boxes = 0; boxes < 64 && boxAt(inner, boxEnd, innerContent, innerEnd, innerType); ++boxes) {
                // A profile is a few kilobytes; a megabyte bounds a hostile length.
                if (innerType == "colr" && innerEnd - innerContent > 3 && innerEnd - innerContent < (1 << 20)
                    && file.seek(innerContent)) {
                    const QByteArray body = file.read(innerEnd - innerContent);
                    const int method = body.size() > 3 ? uchar(body[0]) : 0;
                    if ((method == 2 || method == 3) && body.size() > 3 + 128)
                        return body.mid(3);
                }
                inner = innerEnd;
            }
            return {};
        }
        at = boxEnd;
    }
    return {};
}
} // namespace

namespace CodecDetail {

void initVips()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (vips_init("glanto") != 0) {
            qWarning("libvips failed to initialise: %s", vips_error_buffer());
            clearError();
            return;
        }
        // The operation cache would serve a file changed on disk from memory.
        vips_cache_set_max(0);
        vips_cache_set_max_mem(0);
        vips_cache_set_max_files(0);
    });
}

bool vipsReadsPngOrientation()
{
    static const bool reads = [] {
        initVips();
        // 1x1 grey PNG whose eXIf says orientation 6.
        static const unsigned char png[] = {
            0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D, 0x49, 0x48, 0x44, 0x52,
            0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x08, 0x00, 0x00, 0x00, 0x00, 0x3A, 0x7E, 0x9B,
            0x55, 0x00, 0x00, 0x00, 0x1A, 0x65, 0x58, 0x49, 0x66, 0x49, 0x49, 0x2A, 0x00, 0x08, 0x00, 0x00,
            0x00, 0x01, 0x00, 0x12, 0x01, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x06, 0x00, 0x00, 0x00, 0x00,
            0x00, 0x00, 0x00, 0xB7, 0x48, 0x11, 0x29, 0x00, 0x00, 0x00, 0x0A, 0x49, 0x44, 0x41, 0x54, 0x78,
            0x9C, 0x63, 0x68, 0x00, 0x00, 0x00, 0x82, 0x00, 0x81, 0x77, 0xCD, 0x72, 0xB6, 0x00, 0x00, 0x00,
            0x00, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82};
        try {
            VImage image = VImage::new_from_buffer(png, sizeof png, "");
            return image.get_typeof("orientation") != 0 && image.get_int("orientation") == 6;
        } catch (const VError &) {
            clearError();
            return false;
        }
    }();
    return reads;
}

std::optional<ImageHeader> vipsProbe(const QString &path, ImageFormat format)
{
    initVips();
    try {
        VImage image = VImage::new_from_file(path.toUtf8().constData(),
                                             VImage::option()->set("access", VIPS_ACCESS_SEQUENTIAL));
        ImageHeader header;
        header.format = format;
        header.storedSize = QSize(image.width(), image.height());
        if (image.get_typeof("orientation") != 0)
            header.orientation = image.get_int("orientation");
        if (format == ImageFormat::gif && image.get_typeof("n-pages") != 0)
            header.isAnimated = image.get_int("n-pages") > 1;
        // libheif has applied the HEIF rotation and mirror boxes already.
        if (format == ImageFormat::heif || format == ImageFormat::avif)
            header.orientation = 1;
        return header;
    } catch (const VError &) {
        clearError();
        return std::nullopt;
    }
}

namespace {

// Whether libvips sees an embedded profile, and whether the pixels are CMYK:
// one read of the header.
struct EmbeddedColour
{
    bool profiled = false;
    bool cmyk = false;
};

EmbeddedColour embeddedColourOf(const QString &path)
{
    try {
        const VImage image = VImage::new_from_file(path.toUtf8().constData(),
                                                   VImage::option()->set("access", VIPS_ACCESS_SEQUENTIAL));
        return {image.get_typeof(VIPS_META_ICC_NAME) != 0, image.interpretation() == VIPS_INTERPRETATION_CMYK};
    } catch (const VError &) {
        clearError();
        return {};
    }
}

} // namespace

QImage vipsDecode(const QString &path, ImageFormat format, int maxPixelSize)
{
    const auto header = vipsProbe(path, format);
    if (!header || header->storedSize.isEmpty()
        || int64_t(header->storedSize.width()) * header->storedSize.height() > Codec::maxPixelCount)
        return {};
    const int longSide = std::max(header->storedSize.width(), header->storedSize.height());
    const int target = std::min(maxPixelSize, longSide);
    try {
        // Only an embedded profile is converted, colorimetrically: an sRGB-to-sRGB
        // pass with the perceptual intent of vips' v4 profile lifts black to 16. A JPEG
        // 2000's profile is one libvips does not see; lcms2 converts it afterwards, as
        // it does a JPEG's.
        const QByteArray jp2Profile = format == ImageFormat::jp2 ? jp2ColourProfile(path) : QByteArray();
        const EmbeddedColour embedded = jp2Profile.isEmpty() ? embeddedColourOf(path) : EmbeddedColour();
        const bool profiled = embedded.profiled;
        if (profiled && embedded.cmyk) {
            // libvips 8.14's thumbnail refuses a CMYK file's own profile ("profile
            // incompatible with image") and falls back to a generic one, which is
            // 15-30 levels off; the whole picture is converted with its profile first.
            VImage converted = VImage::new_from_file(path.toUtf8().constData())
                                       .icc_transform("srgb", VImage::option()
                                                                  ->set("embedded", true)
                                                                  ->set("intent", VIPS_INTENT_RELATIVE));
            return toQImage(converted.thumbnail_image(target, VImage::option()->set("height", target)->set("size", VIPS_SIZE_DOWN)));
        }
        // Made just before the call that takes it: an option set never handed
        // to libvips is never freed.
        auto options = VImage::option()
                           ->set("height", target)
                           // JPEG 2000 picks the wrong resolution level with size=down
                           // in 8.14; target never exceeds the image, so both is safe.
                           ->set("size", format == ImageFormat::jp2 ? VIPS_SIZE_BOTH : VIPS_SIZE_DOWN);
        if (profiled)
            options = options->set("export_profile", "srgb")->set("intent", VIPS_INTENT_RELATIVE);
        VImage thumb = VImage::thumbnail(path.toUtf8().constData(), target, options);
        // lcms2 converts opaque pixels only (as for JPEG); a JPEG 2000 with alpha keeps its colours.
        const bool opaque = thumb.bands() == 1 || thumb.bands() == 3;
        QImage image = toQImage(thumb);
        if (!jp2Profile.isEmpty() && opaque && !image.isNull())
            iccToSrgbInPlace(image, jp2Profile);
        return image;
    } catch (const VError &) {
        clearError();
        return {};
    }
}

std::optional<QSize> vipsBufferSize(const QByteArray &bytes)
{
    initVips();
    try {
        VImage image = VImage::new_from_buffer(bytes.constData(), size_t(bytes.size()), "");
        return QSize(image.width(), image.height());
    } catch (const VError &) {
        clearError();
        return std::nullopt;
    }
}

QImage vipsDecodeBuffer(const QByteArray &bytes, int maxPixelSize)
{
    initVips();
    try {
        // Opening reads the header only; the pixels are decoded by the thumbnail.
        VImage image = VImage::new_from_buffer(bytes.constData(), size_t(bytes.size()), "");
        const int width = image.width(), height = image.height();
        if (width <= 0 || height <= 0 || int64_t(width) * height > Codec::maxPixelCount)
            return {};
        const int target = std::min(maxPixelSize, std::max(width, height));
        VImage thumb = image.thumbnail_image(target, VImage::option()->set("height", target)->set("size", VIPS_SIZE_BOTH));
        return toQImage(thumb);
    } catch (const VError &) {
        clearError();
        return {};
    }
}

QByteArray vipsIccProfile(const QString &path)
{
    initVips();
    try {
        VImage image = VImage::new_from_file(path.toUtf8().constData(),
                                             VImage::option()->set("access", VIPS_ACCESS_SEQUENTIAL));
        if (image.get_typeof(VIPS_META_ICC_NAME) == 0)
            return jp2ColourProfile(path);
        size_t length = 0;
        const void *data = image.get_blob(VIPS_META_ICC_NAME, &length);
        return QByteArray(static_cast<const char *>(data), qsizetype(length));
    } catch (const VError &) {
        clearError();
        return {};
    }
}

std::optional<AnimatedFrames> vipsGifFrames(const QString &path)
{
    initVips();
    try {
        VImage all = VImage::new_from_file(path.toUtf8().constData(),
                                           VImage::option()->set("n", -1)->set("access", VIPS_ACCESS_SEQUENTIAL));
        const int pageHeight = all.get_typeof("page-height") ? all.get_int("page-height") : all.height();
        if (pageHeight <= 0 || all.height() % pageHeight != 0)
            return std::nullopt;
        const int count = all.height() / pageHeight;
        if (count < 2 || int64_t(all.width()) * pageHeight > Codec::maxPixelCount)
            return std::nullopt;
        // Every frame is held decoded: as many as the decode budget allows are
        // played (at least two, or the file is shown as a still).
        const int64_t frameBytes = int64_t(all.width()) * pageHeight * 4;
        const int playable = int(std::min<int64_t>(count, Codec::decodeBudgetBytes() / frameBytes));
        if (playable < 2)
            return std::nullopt;
        if (playable < count)
            all = VImage::new_from_file(path.toUtf8().constData(),
                                        VImage::option()->set("n", playable)->set("access", VIPS_ACCESS_SEQUENTIAL));
        AnimatedFrames result;
        result.totalFrames = count;
        if (all.get_typeof("delay") != 0) {
            const std::vector<int> delays = all.get_array_int("delay");
            for (int d : delays)
                result.delaysMs.append(d);
        }
        if (all.get_typeof("loop") != 0)
            result.loopCount = all.get_int("loop");
        const QImage strip = toQImage(all);
        if (strip.isNull() || strip.height() != playable * pageHeight)
            return std::nullopt;
        // The frames are views into the one strip, which lives as long as any of
        // them: no second copy of the whole animation.
        for (int i = 0; i < playable; ++i) {
            auto *owner = new QImage(strip);
            result.frames.append(QImage(
                strip.constScanLine(i * pageHeight), strip.width(), pageHeight, strip.bytesPerLine(), strip.format(),
                [](void *image) { delete static_cast<QImage *>(image); }, owner));
        }
        while (result.delaysMs.size() < playable)
            result.delaysMs.append(100);
        result.delaysMs.resize(playable);
        return result;
    } catch (const VError &) {
        clearError();
        return std::nullopt;
    }
}

bool vipsEncode(const QImage &image, const QString &path, ImageFormat format, int quality)
{
    initVips();
    const QImage straight = image.convertToFormat(QImage::Format_RGBA8888);
    bool opaque = true;
    for (int y = 0; y < straight.height() && opaque; ++y) {
        const uchar *row = straight.constScanLine(y);
        for (int x = 0; x < straight.width(); ++x) {
            if (row[x * 4 + 3] != 255) {
                opaque = false;
                break;
            }
        }
    }
    try {
        // new_from_memory does not copy; straight outlives every use of it here.
        VImage in = VImage::new_from_memory(const_cast<uchar *>(straight.constBits()), size_t(straight.sizeInBytes()),
                                            straight.width(), straight.height(), 4, VIPS_FORMAT_UCHAR);
        if (straight.bytesPerLine() != qsizetype(straight.width()) * 4)
            return false;
        in = in.copy(VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
        if (opaque || format == ImageFormat::jpeg)
            in = in.extract_band(0, VImage::option()->set("n", 3));
        const QByteArray file = path.toUtf8();
        const int q = std::clamp(quality, 1, 100);
        switch (format) {
        case ImageFormat::jpeg:
            in.jpegsave(file.constData(), VImage::option()->set("Q", q));
            break;
        case ImageFormat::png:
            in.pngsave(file.constData());
            break;
        case ImageFormat::webp:
            in.webpsave(file.constData(), VImage::option()->set("Q", q));
            break;
        case ImageFormat::tiff:
            in.tiffsave(file.constData(), VImage::option()->set("compression", VIPS_FOREIGN_TIFF_COMPRESSION_DEFLATE));
            break;
        case ImageFormat::heif:
            in.heifsave(file.constData(), VImage::option()->set("Q", q)->set("compression", VIPS_FOREIGN_HEIF_COMPRESSION_HEVC));
            break;
        case ImageFormat::avif:
            in.heifsave(file.constData(), VImage::option()->set("Q", q)->set("compression", VIPS_FOREIGN_HEIF_COMPRESSION_AV1));
            break;
        case ImageFormat::jxl:
            in.jxlsave(file.constData(), VImage::option()->set("Q", q));
            break;
        case ImageFormat::gif:
            in.gifsave(file.constData());
            break;
        default:
            return false;
        }
        return true;
    } catch (const VError &) {
        clearError();
        return false;
    }
}

} // namespace CodecDetail
