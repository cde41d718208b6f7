// Camera RAW through LibRaw. Previews and thumbnails come from the JPEG the camera
// embeds when it is large enough (most embed a full-size one); otherwise, and for
// the full image, LibRaw develops the sensor data. A LibRaw object is large
// (three quarters of a megabyte) and not shareable, so each call makes its own on
// the heap.

#include "platform/CodecInternal.h"

#include "platform/Metadata.h"
#include "platform/RegularFile.h"

#include <exiv2/exiv2.hpp>
#include <libraw/libraw.h>

#include <QFile>

#include <cstring>
#include <memory>
#include <utility>

namespace {

int orientationOfFlip(int flip)
{
    switch (flip) {
    case 3: return 3;
    case 5: return 8;
    case 6: return 6;
    default: return 1;
    }
}

// One LibRaw object per thread, reused from file to file: it is three quarters of a
// megabyte, and on these machines fresh pages cost more than opening the file.
// Recycled when the caller is done with it.
class RawHandle
{
public:
    RawHandle() = default;
    explicit RawHandle(LibRaw *raw)
        : m_raw(raw)
    {}
    RawHandle(RawHandle &&other) noexcept
        : m_raw(std::exchange(other.m_raw, nullptr))
    {}
    RawHandle &operator=(RawHandle &&other) noexcept
    {
        reset();
        m_raw = std::exchange(other.m_raw, nullptr);
        return *this;
    }
    ~RawHandle() { reset(); }
    LibRaw *operator->() const { return m_raw; }
    LibRaw &operator*() const { return *m_raw; }
    explicit operator bool() const { return m_raw != nullptr; }
    void reset()
    {
        if (m_raw)
            m_raw->recycle();
        m_raw = nullptr;
    }

private:
    LibRaw *m_raw = nullptr;
};

// LibRaw's file stream, except that what a read would find past the end of the file
// reads as zeros. Some of LibRaw's decoders ignore a short read and decode what their
// buffer held before it, which on this thread's reused object is the last file's data:
// a cut-short file developed one way after one file and failed after another.
class ZeroPaddedFileStream : public LibRaw_file_datastream
{
public:
    using LibRaw_file_datastream::LibRaw_file_datastream;
    int read(void *ptr, size_t size, size_t nmemb) override
    {
        const int items = LibRaw_file_datastream::read(ptr, size, nmemb);
        const size_t done = items > 0 ? size_t(items) * size : 0;
        const size_t asked = size * nmemb;
        if (ptr && done < asked)
            std::memset(static_cast<char *>(ptr) + done, 0, asked - done);
        return items;
    }
};

// Opens `path` for developing at half size or in full. The settings are made before
// every open: recycle() keeps them from the thread's last file, and LibRaw reads some
// of them (half size among them) while it opens a file, so a file opened after another
// developed differently from the same file opened first.
RawHandle openRaw(const QString &path, bool halfSize = false)
{
    // The stream of the file perThread has open; LibRaw does not own it, and it outlives
    // perThread (declared first, destroyed last).
    thread_local std::unique_ptr<ZeroPaddedFileStream> stream;
    thread_local std::unique_ptr<LibRaw> perThread;
    if (!perThread) {
        perThread = std::make_unique<LibRaw>(LIBRAW_OPTIONS_NONE);
        perThread->set_dataerror_handler(nullptr, nullptr); // no complaints about short files on stderr
    }
    if (!RegularFile::isRegular(path))
        return {};
    RawHandle raw(perThread.get());
    raw->recycle();
    stream = std::make_unique<ZeroPaddedFileStream>(QFile::encodeName(path).constData());
    if (!stream->valid())
        return {};
    auto &params = raw->imgdata.params;
    params.output_bps = 8;
    params.output_color = 1; // sRGB
    params.use_camera_wb = 1;
    params.half_size = halfSize ? 1 : 0;
    try {
        if (raw->open_datastream(stream.get()) != LIBRAW_SUCCESS)
            return {};
    } catch (...) {
        return {};
    }
    const auto &s = raw->imgdata.sizes;
    if (s.width == 0 || s.height == 0 || int64_t(s.raw_width) * s.raw_height > Codec::maxPixelCount)
        return {};
    return raw;
}

// The embedded JPEG read straight from the file into the thread's reused buffer:
// LibRaw's unpack_thumb would copy several megabytes into fresh memory first.
QImage embeddedJpegInPlace(LibRaw &raw, const QString &path, int maxPixelSize, Codec::ScaleQuality quality)
{
    const int64_t offset = raw.get_internal_data_pointer()->internal_data.toffset;
    const int64_t length = raw.imgdata.thumbnail.tlength;
    if (offset <= 0 || length <= 4)
        return {};
    const auto file = CodecDetail::readFileRange(path, offset, length);
    if (!file || file->size != uint64_t(length))
        return {};
    const uint8_t *data = file->data;
    if (data[0] != 0xFF || data[1] != 0xD8)
        return {};
    const auto facts = CodecDetail::jpegFacts(data, size_t(length));
    if (!facts)
        return {};
    const auto &s = raw.imgdata.sizes;
    const int wanted = std::min(maxPixelSize, std::max<int>(s.width, s.height));
    if (std::max(facts->size.width(), facts->size.height()) < wanted)
        return {};
    return CodecDetail::jpegDecode(data, size_t(length), maxPixelSize, false, quality, orientationOfFlip(s.flip));
}

// The camera's JPEG preview when it is at least as large as asked for (or as the
// image, when that is smaller); with anySize, whatever its size.
QImage embeddedPreview(LibRaw &raw, const QString &path, int maxPixelSize, Codec::ScaleQuality quality,
                       bool anySize = false)
{
    if (!anySize) {
        QImage inPlace = embeddedJpegInPlace(raw, path, maxPixelSize, quality);
        if (!inPlace.isNull())
            return inPlace;
    }
    try {
        if (raw.unpack_thumb() != LIBRAW_SUCCESS)
            return {};
    } catch (...) {
        return {};
    }
    const auto &thumb = raw.imgdata.thumbnail;
    if (thumb.tformat != LIBRAW_THUMBNAIL_JPEG || !thumb.thumb || thumb.tlength == 0)
        return {};
    const auto *data = reinterpret_cast<const uint8_t *>(thumb.thumb);
    const auto facts = CodecDetail::jpegFacts(data, thumb.tlength);
    if (!facts)
        return {};
    const auto &s = raw.imgdata.sizes;
    const int imageSide = std::max<int>(s.width, s.height);
    const int wanted = std::min(maxPixelSize, imageSide);
    if (!anySize && std::max(facts->size.width(), facts->size.height()) < wanted)
        return {};
    return CodecDetail::jpegDecode(data, thumb.tlength, maxPixelSize, false, quality, orientationOfFlip(s.flip));
}

// Half size skips demosaicing and is plenty when the result is scaled down anyway.
bool developsAtHalfSize(const LibRaw &raw, int maxPixelSize)
{
    const auto &s = raw.imgdata.sizes;
    return std::max<int>(s.width, s.height) / 2 >= maxPixelSize;
}

// Develops a file openRaw() opened, at the size it was opened for.
QImage develop(LibRaw &raw, int maxPixelSize, Codec::ScaleQuality quality)
{
    libraw_processed_image_t *mem = nullptr;
    try {
        if (raw.unpack() != LIBRAW_SUCCESS || raw.dcraw_process() != LIBRAW_SUCCESS)
            return {};
        int error = 0;
        mem = raw.dcraw_make_mem_image(&error);
    } catch (...) {
        return {};
    }
    if (!mem)
        return {};
    std::unique_ptr<libraw_processed_image_t, void (*)(libraw_processed_image_t *)> guard(
        mem, [](libraw_processed_image_t *m) { LibRaw::dcraw_clear_mem(m); });
    if (mem->type != LIBRAW_IMAGE_BITMAP || mem->bits != 8 || (mem->colors != 3 && mem->colors != 1)
        || mem->width == 0 || mem->height == 0)
        return {};
    QImage rgba = CodecDetail::pooledImage(mem->width, mem->height);
    if (rgba.isNull())
        return {};
    const uint8_t *src = mem->data;
    for (int y = 0; y < mem->height; ++y) {
        uint8_t *out = rgba.scanLine(y);
        for (int x = 0; x < mem->width; ++x) {
            if (mem->colors == 3) {
                out[0] = src[0];
                out[1] = src[1];
                out[2] = src[2];
                src += 3;
            } else {
                out[0] = out[1] = out[2] = src[0];
                src += 1;
            }
            out[3] = 255;
            out += 4;
        }
    }
    return CodecDetail::fitResampled(rgba, maxPixelSize, quality);
}

// Files LibRaw cannot develop (a camera newer than our LibRaw, a pruned file) may
// still carry the camera's preview JPEG, which exiv2 finds in every RAW layout.
std::unique_ptr<Exiv2::Image> openExiv2(const QString &path)
{
    const auto parsing = Metadata::lockParsing();
    if (!RegularFile::isRegular(path))
        return nullptr;
    try {
        auto image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
        if (!image.get())
            return nullptr;
        image->readMetadata();
        return std::unique_ptr<Exiv2::Image>(image.release());
    } catch (...) {
        return nullptr;
    }
}

int exiv2Orientation(Exiv2::Image &image)
{
    try {
        const auto it = image.exifData().findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
        if (it != image.exifData().end() && it->count() > 0)
            return int(it->toLong());
    } catch (...) {
    }
    return 1;
}

std::optional<ImageHeader> exiv2PreviewProbe(const QString &path)
{
    auto image = openExiv2(path);
    if (!image || image->pixelWidth() <= 0 || image->pixelHeight() <= 0)
        return std::nullopt;
    ImageHeader header;
    header.format = ImageFormat::raw;
    header.storedSize = QSize(image->pixelWidth(), image->pixelHeight());
    header.orientation = exiv2Orientation(*image);
    return header;
}

QImage exiv2Preview(const QString &path, int maxPixelSize, Codec::ScaleQuality quality)
{
    auto image = openExiv2(path);
    if (!image)
        return {};
    try {
        Exiv2::PreviewManager previews(*image);
        const Exiv2::PreviewPropertiesList list = previews.getPreviewProperties();
        const Exiv2::PreviewProperties *largest = nullptr;
        for (const auto &p : list) {
            if (p.mimeType_ == "image/jpeg" && (!largest || p.width_ * p.height_ > largest->width_ * largest->height_))
                largest = &p;
        }
        if (!largest)
            return {};
        const Exiv2::PreviewImage preview = previews.getPreviewImage(*largest);
        return CodecDetail::jpegDecode(preview.pData(), preview.size(), maxPixelSize, false, quality,
                                       exiv2Orientation(*image));
    } catch (...) {
        return {};
    }
}

} // namespace

namespace CodecDetail {

std::optional<ImageHeader> rawProbe(const QString &path)
{
    auto raw = openRaw(path);
    if (!raw)
        return exiv2PreviewProbe(path);
    const auto &s = raw->imgdata.sizes;
    ImageHeader header;
    header.format = ImageFormat::raw;
    header.storedSize = QSize(s.width, s.height);
    header.orientation = orientationOfFlip(s.flip);
    return header;
}

QImage rawDecode(const QString &path, int maxPixelSize, bool full, Codec::ScaleQuality quality)
{
    auto raw = openRaw(path);
    if (!raw)
        return exiv2Preview(path, maxPixelSize, quality);
    if (!full) {
        QImage preview = embeddedPreview(*raw, path, maxPixelSize, quality);
        if (!preview.isNull())
            return preview;
    }
    // LibRaw takes unpack() only on a freshly opened file, and the size to develop at
    // must be known before it opens. (The thread's one object: release it first.)
    const bool halfSize = developsAtHalfSize(*raw, maxPixelSize);
    if (!full || halfSize) {
        raw.reset();
        raw = openRaw(path, halfSize);
        if (!raw)
            return {};
    }
    QImage developed = develop(*raw, maxPixelSize, quality);
    if (!developed.isNull())
        return developed;
    // The sensor data does not develop (cut short, or a layout this LibRaw does not
    // know): the camera's preview is shown however small, rather than nothing.
    raw.reset();
    raw = openRaw(path);
    QImage small = raw ? embeddedPreview(*raw, path, maxPixelSize, quality, true) : QImage();
    raw.reset();
    if (small.isNull())
        small = exiv2Preview(path, maxPixelSize, quality);
    return small;
}

} // namespace CodecDetail
