// HEIF (HEIC) and AVIF through libheif itself rather than libvips. libvips 8.14 takes
// the size of a HEIF image before its rotation box is applied, and then refuses the
// turned pixels libheif hands it ("bad image dimensions on decode"): every photo
// whose rotation box turns it a quarter, which is how phones store portrait shots,
// would come out absent. libheif applies the rotation, mirror and crop boxes itself;
// the size as shown is read from the same boxes without decoding.

#include "platform/CodecInternal.h"
#include "platform/RegularFile.h"

#include <libheif/heif.h>

#include <QFile>

#include <cstring>
#include <memory>
#include <vector>

namespace {

struct ContextDeleter {
    void operator()(heif_context *c) const { heif_context_free(c); }
};
struct HandleDeleter {
    void operator()(heif_image_handle *h) const { heif_image_handle_release(h); }
};
struct ImageDeleter {
    void operator()(heif_image *i) const { heif_image_release(i); }
};
using Context = std::unique_ptr<heif_context, ContextDeleter>;
using Handle = std::unique_ptr<heif_image_handle, HandleDeleter>;
using HeifImage = std::unique_ptr<heif_image, ImageDeleter>;

// The boxes of an ISO base media file, read with every length checked against what
// is there. Only what the size as shown needs: the primary item and whether one of
// its properties turns it a quarter.
namespace Boxes {

struct Box {
    QByteArrayView type;
    QByteArrayView body;
};

uint64_t be(QByteArrayView bytes, qsizetype at, int n)
{
    uint64_t v = 0;
    for (int i = 0; i < n; ++i)
        v = v << 8 | uint8_t(bytes[at + i]);
    return v;
}

// The boxes that follow one another in bytes.
QList<Box> children(QByteArrayView bytes)
{
    QList<Box> boxes;
    qsizetype at = 0;
    while (at + 8 <= bytes.size() && boxes.size() < 4096) {
        uint64_t size = be(bytes, at, 4);
        qsizetype header = 8;
        if (size == 1) {
            if (at + 16 > bytes.size())
                break;
            size = be(bytes, at + 8, 8);
            header = 16;
        } else if (size == 0) {
            size = uint64_t(bytes.size() - at);
        }
        if (size < uint64_t(header) || size > uint64_t(bytes.size() - at))
            break;
        boxes.append({bytes.sliced(at + 4, 4), bytes.sliced(at + header, qsizetype(size) - header)});
        at += qsizetype(size);
    }
    return boxes;
}

} // namespace Boxes

// Whether the primary item's rotation box turns it by an odd number of quarters.
bool primaryTurnsAQuarter(QByteArrayView meta)
{
    if (meta.size() < 4)
        return false;
    const auto boxes = Boxes::children(meta.sliced(4)); // after the full box header
    uint32_t primary = 0;
    QList<Boxes::Box> properties;
    QByteArrayView associations;
    for (const auto &box : boxes) {
        if (box.type == "pitm" && box.body.size() >= 6) {
            primary = uint32_t(box.body[0] == 0 ? Boxes::be(box.body, 4, 2) : Boxes::be(box.body, 4, 4));
        } else if (box.type == "iprp") {
            for (const auto &child : Boxes::children(box.body)) {
                if (child.type == "ipco")
                    properties = Boxes::children(child.body);
                else if (child.type == "ipma")
                    associations = child.body;
            }
        }
    }
    if (associations.size() < 8)
        return false;
    const int version = uint8_t(associations[0]);
    const bool wideIndex = (uint8_t(associations[3]) & 1) != 0;
    const uint64_t entries = Boxes::be(associations, 4, 4);
    qsizetype at = 8;
    for (uint64_t e = 0; e < entries; ++e) {
        const int idBytes = version < 1 ? 2 : 4;
        if (at + idBytes + 1 > associations.size())
            return false;
        const uint64_t item = Boxes::be(associations, at, idBytes);
        const int count = uint8_t(associations[at + idBytes]);
        at += idBytes + 1;
        const int indexBytes = wideIndex ? 2 : 1;
        if (at + qsizetype(count) * indexBytes > associations.size())
            return false;
        for (int i = 0; i < count; ++i, at += indexBytes) {
            if (item != primary)
                continue;
            const uint64_t raw = Boxes::be(associations, at, indexBytes);
            const qsizetype index = qsizetype(raw & (wideIndex ? 0x7FFF : 0x7F));
            if (index < 1 || index > properties.size())
                continue;
            const auto &property = properties[index - 1];
            if (property.type == "irot" && !property.body.isEmpty())
                return (uint8_t(property.body[0]) & 1) != 0;
        }
    }
    return false;
}

// The meta box of the file, read without the media data after it.
QByteArray metaBox(const QString &path)
{
    QFile file;
    if (!RegularFile::open(file, path))
        return {};
    qint64 at = 0;
    for (int i = 0; i < 64 && at + 8 <= file.size(); ++i) {
        file.seek(at);
        const QByteArray header = file.read(16);
        if (header.size() < 8)
            return {};
        uint64_t size = Boxes::be(header, 0, 4);
        qint64 headerSize = 8;
        if (size == 1 && header.size() == 16) {
            size = Boxes::be(header, 8, 8);
            headerSize = 16;
        } else if (size == 0) {
            size = uint64_t(file.size() - at);
        }
        if (size < uint64_t(headerSize) || size > uint64_t(file.size() - at))
            return {};
        if (header.sliced(4, 4) == "meta") {
            if (size > (uint64_t(16) << 20)) // far beyond any real one
                return {};
            file.seek(at + headerSize);
            return file.read(qint64(size) - headerSize);
        }
        at += qint64(size);
    }
    return {};
}

Context openContext(const QString &path)
{
    Context context(heif_context_alloc());
    if (!context)
        return nullptr;
    const heif_error error = heif_context_read_from_file(context.get(), QFile::encodeName(path).constData(), nullptr);
    if (error.code != heif_error_Ok)
        return nullptr;
    return context;
}

Handle primaryHandle(heif_context *context)
{
    heif_image_handle *handle = nullptr;
    if (heif_context_get_primary_image_handle(context, &handle).code != heif_error_Ok)
        return nullptr;
    return Handle(handle);
}

QByteArray iccOf(heif_image_handle *handle)
{
    const size_t size = heif_image_handle_get_raw_color_profile_size(handle);
    if (size == 0 || size > (size_t(16) << 20))
        return {};
    QByteArray icc(qsizetype(size), Qt::Uninitialized);
    if (heif_image_handle_get_raw_color_profile(handle, icc.data()).code != heif_error_Ok)
        return {};
    return icc;
}

// The camera's thumbnail when it is at least as large as wanted.
Handle thumbnailOf(heif_image_handle *primary, int wanted)
{
    const int count = heif_image_handle_get_number_of_thumbnails(primary);
    if (count <= 0 || count > 16)
        return nullptr;
    heif_item_id ids[16];
    heif_image_handle_get_list_of_thumbnail_IDs(primary, ids, count);
    for (int i = 0; i < count; ++i) {
        heif_image_handle *thumb = nullptr;
        if (heif_image_handle_get_thumbnail(primary, ids[i], &thumb).code != heif_error_Ok)
            continue;
        Handle handle(thumb);
        if (std::max(heif_image_handle_get_width(thumb), heif_image_handle_get_height(thumb)) >= wanted)
            return handle;
    }
    return nullptr;
}

} // namespace

namespace CodecDetail {

std::optional<ImageHeader> heifProbe(const QString &path, ImageFormat format)
{
    Context context = openContext(path);
    if (!context)
        return std::nullopt;
    Handle handle = primaryHandle(context.get());
    if (!handle)
        return std::nullopt;
    QSize size(heif_image_handle_get_width(handle.get()), heif_image_handle_get_height(handle.get()));
    if (primaryTurnsAQuarter(metaBox(path)))
        size.transpose();
    // The rotation and mirror boxes are applied by the decoder; any EXIF orientation
    // in the file describes the picture before them and is not applied again.
    return ImageHeader{format, size, 1, false};
}

QImage heifDecode(const QString &path, ImageFormat format, int maxPixelSize, bool preferEmbedded,
                  Codec::ScaleQuality quality, QByteArray *ownProfile)
{
    const auto header = heifProbe(path, format);
    if (!header || header->storedSize.isEmpty()
        || int64_t(header->storedSize.width()) * header->storedSize.height() > Codec::maxPixelCount)
        return {};
    Context context = openContext(path);
    Handle handle = context ? primaryHandle(context.get()) : nullptr;
    if (!handle)
        return {};
    const int wanted = std::min(maxPixelSize, std::max(header->storedSize.width(), header->storedSize.height()));
    Handle source = preferEmbedded ? thumbnailOf(handle.get(), wanted) : nullptr;
    heif_image_handle *chosen = source ? source.get() : handle.get();
    const bool alpha = heif_image_handle_has_alpha_channel(chosen);

    heif_image *decoded = nullptr;
    if (heif_decode_image(chosen, &decoded, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, nullptr).code
        != heif_error_Ok)
        return {};
    HeifImage pixels(decoded);
    const int width = heif_image_get_width(decoded, heif_channel_interleaved);
    const int height = heif_image_get_height(decoded, heif_channel_interleaved);
    int stride = 0;
    const uint8_t *data = heif_image_get_plane_readonly(decoded, heif_channel_interleaved, &stride);
    if (!data || width <= 0 || height <= 0 || stride < width * 4
        || int64_t(width) * height > Codec::maxPixelCount)
        return {};

    QImage image = pooledImage(width, height);
    if (image.isNull())
        return {};
    for (int y = 0; y < height; ++y)
        std::memcpy(image.scanLine(y), data + qsizetype(y) * stride, size_t(width) * 4);
    pixels.reset();
    // The profile applies to straight colour; premultiply afterwards.
    QImage straight(image.bits(), width, height, image.bytesPerLine(), QImage::Format_RGBA8888);
    const QByteArray icc = iccOf(handle.get());
    if (ownProfile)
        *ownProfile = icc;
    else if (!icc.isEmpty())
        iccToSrgbInPlace(image, icc);
    if (alpha)
        image = straight.convertToFormat(QImage::Format_RGBA8888_Premultiplied);

    return fitResampled(image, maxPixelSize, quality);
}

QByteArray heifIccProfile(const QString &path)
{
    Context context = openContext(path);
    Handle handle = context ? primaryHandle(context.get()) : nullptr;
    return handle ? iccOf(handle.get()) : QByteArray();
}

HeifMetadata heifMetadata(const QString &path)
{
    HeifMetadata found;
    Context context = openContext(path);
    Handle handle = context ? primaryHandle(context.get()) : nullptr;
    if (!handle)
        return found;
    const int count = heif_image_handle_get_number_of_metadata_blocks(handle.get(), nullptr);
    if (count <= 0 || count > 64)
        return found;
    std::vector<heif_item_id> ids(static_cast<size_t>(count));
    heif_image_handle_get_list_of_metadata_block_IDs(handle.get(), nullptr, ids.data(), count);
    for (const heif_item_id id : ids) {
        const QByteArray type = heif_image_handle_get_metadata_type(handle.get(), id);
        const QByteArray contentType = heif_image_handle_get_metadata_content_type(handle.get(), id);
        QByteArray *target = nullptr;
        if (type == "Exif" && found.exif.isEmpty())
            target = &found.exif;
        else if (type == "mime" && contentType == "application/rdf+xml" && found.xmp.isEmpty())
            target = &found.xmp;
        const size_t size = heif_image_handle_get_metadata_size(handle.get(), id);
        if (!target || size == 0 || size > (size_t(16) << 20))
            continue;
        QByteArray bytes(qsizetype(size), Qt::Uninitialized);
        if (heif_image_handle_get_metadata(handle.get(), id, bytes.data()).code == heif_error_Ok)
            *target = bytes;
    }
    // The Exif item opens with the offset of its TIFF header.
    if (found.exif.size() >= 4) {
        const uint32_t offset = uint32_t(Boxes::be(found.exif, 0, 4));
        found.exif = offset < uint32_t(found.exif.size() - 4) ? found.exif.mid(4 + offset) : QByteArray();
    }
    return found;
}

} // namespace CodecDetail
