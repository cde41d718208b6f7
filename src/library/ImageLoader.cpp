#include "library/ImageLoader.h"

#include "library/ImageCache.h"
#include "platform/HandOff.h"
#include "platform/MemoryMonitor.h"
#include "platform/SupportedFiles.h"
#include "settings/Settings.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSet>
#include <QThread>
#include <QTransform>

#include <unistd.h>

namespace {

constexpr int64_t MiB = 1024 * 1024;
constexpr int fullSizeCap = 16384;
constexpr int thumbnailSize = 128;

int64_t clampedLimit(uint64_t bytes, uint64_t divisor, int64_t low, int64_t high)
{
    const auto share = int64_t(bytes / divisor);
    if (share <= low)
        return low;
    return std::min(share, high);
}

uint64_t physicalMemory()
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0)
        return uint64_t(4) << 30;
    return uint64_t(pages) * uint64_t(pageSize);
}

// A cached bitmap with the longer side it was made for.
struct Box {
    QImage image;
    double px = 0;
};

int64_t costOf(const QImage &image)
{
    return int64_t(image.bytesPerLine()) * image.height();
}

double longSide(const QImage &image)
{
    return std::max(image.width(), image.height());
}

// Decodes for the screen (preview, or full when maxPixelSize is absent). The GPU
// filters these again, so the fast reduction serves; makeThumbnail's Lanczos pass
// is for pictures that are measured or shown as they are.
QImage decodeForScreen(const QString &url, std::optional<int> maxPixelSize, bool hdr)
{
    // There is no HDR output on this platform, so hdr never changes the decode.
    Q_UNUSED(hdr);
    if (maxPixelSize)
        return Codec::decodeScaled(url, *maxPixelSize, false, Codec::ScaleQuality::fast);
    return Codec::decodeFull(url, fullSizeCap, Codec::ScaleQuality::fast);
}

} // namespace

ImageCacheLimits ImageCacheLimits::forPhysicalMemory(uint64_t bytes)
{
    ImageCacheLimits limits;
    limits.previewCost = clampedLimit(bytes, 48, 96 * MiB, 320 * MiB);
    limits.fullCost = clampedLimit(bytes, 24, 192 * MiB, 640 * MiB);
    limits.decodeBudget = 2 * limits.fullCost;
    return limits;
}

struct ImageLoader::Private {
    explicit Private(const ImageCacheLimits &l)
        : limits(l)
        , previewCache(l.previewCount, l.previewCost)
        , fullCache(l.fullCount, l.fullCost)
        , thumbCache(l.thumbCount, 0)
        , infoCache(l.infoCount, 0)
    {}

    const ImageCacheLimits limits;
    ImageCache<Box> previewCache;
    ImageCache<Box> fullCache;
    ImageCache<Box> thumbCache;
    ImageCache<ImageInfo> infoCache;
    std::unique_ptr<MemoryMonitor> pressureSource;
};

ImageLoader &ImageLoader::shared()
{
    static ImageLoader *instance = [] {
        auto *loader = new ImageLoader(physicalMemory()); // lives for the process
        // A picture that must be decoded whole may take twice what the full-size
        // cache holds: more could never be kept, and untrusted files get no more.
        Codec::setDecodeBudgetBytes(loader->limits().decodeBudget);
        // The memory monitor belongs to the main thread's event loop.
        if (QCoreApplication *app = QCoreApplication::instance()) {
            auto attach = [loader] {
                loader->d->pressureSource = std::make_unique<MemoryMonitor>(
                    [loader] { loader->handleMemoryPressure(); });
            };
            if (QThread::currentThread() == app->thread())
                attach();
            else
                HandOff::invoke(app, attach, Qt::QueuedConnection);
        }
        return loader;
    }();
    return *instance;
}

ImageLoader::ImageLoader(uint64_t physicalMemoryBytes)
    : d(std::make_unique<Private>(ImageCacheLimits::forPhysicalMemory(physicalMemoryBytes)))
{
    Codec::initialize();
}

ImageLoader::~ImageLoader() = default;

bool ImageLoader::isSupported(const QString &fileName)
{
    return isSupportedImageName(fileName);
}

std::optional<ImageInfo> ImageLoader::info(const QString &url)
{
    if (auto cached = d->infoCache.value(url))
        return cached;
    const auto header = Codec::probe(url);
    if (!header)
        return std::nullopt;
    ImageInfo info;
    info.pixelSize = QSizeF(header->displayedSize());
    info.isAnimated = header->isAnimated;
    d->infoCache.insert(url, info);
    return info;
}

std::optional<ImageInfo> ImageLoader::cachedInfo(const QString &url)
{
    return d->infoCache.value(url);
}

QImage ImageLoader::preview(const QString &url, int maxPixelSize)
{
    QImage cached = cachedPreview(url, maxPixelSize);
    if (!cached.isNull())
        return cached;
    const bool hdr = Settings::hdrEnabled() && hdrOutputAvailable();
    QImage image = decodeForScreen(url, maxPixelSize, hdr);
    if (image.isNull())
        return {};
    d->previewCache.insert(url, Box{image, longSide(image)}, costOf(image));
    return image;
}

QImage ImageLoader::cachedPreview(const QString &url, int minPixelSize)
{
    const auto box = d->previewCache.value(url);
    if (!box)
        return {};
    if (box->px >= minPixelSize - 1)
        return box->image;
    // A preview that already holds the whole image is good for any size.
    if (const auto known = cachedInfo(url)) {
        const double whole = std::max(known->pixelSize.width(), known->pixelSize.height());
        if (box->px >= whole - 1)
            return box->image;
    }
    return {};
}

QImage ImageLoader::full(const QString &url)
{
    if (auto box = d->fullCache.value(url))
        return box->image;
    const bool hdr = Settings::hdrEnabled() && hdrOutputAvailable();
    QImage image = decodeForScreen(url, std::nullopt, hdr);
    if (image.isNull())
        return {};
    d->fullCache.insert(url, Box{image, longSide(image)}, costOf(image));
    return image;
}

QImage ImageLoader::cachedFull(const QString &url)
{
    if (auto box = d->fullCache.value(url))
        return box->image;
    return {};
}

QImage ImageLoader::thumbnail(const QString &url)
{
    if (auto box = d->thumbCache.value(url))
        return box->image;
    QImage image = makeThumbnail(url, thumbnailSize, true, false);
    if (image.isNull())
        return {};
    d->thumbCache.insert(url, Box{image, double(thumbnailSize)}, costOf(image));
    return image;
}

QImage ImageLoader::cachedThumbnail(const QString &url)
{
    if (auto box = d->thumbCache.value(url))
        return box->image;
    return {};
}

std::optional<AnimatedFrames> ImageLoader::frames(const QString &url)
{
    return Codec::frames(url);
}

void ImageLoader::invalidate(const QString &url)
{
    d->previewCache.remove(url);
    d->fullCache.remove(url);
    d->thumbCache.remove(url);
    d->infoCache.remove(url);
}

void ImageLoader::dropPreview(const QString &url)
{
    d->previewCache.remove(url);
}

QImage ImageLoader::makeThumbnail(const QString &url, int maxPixelSize, bool preferEmbedded, bool hdr)
{
    // There is no HDR output on this platform, so hdr never changes the decode; the
    // decision is still made by the callers so that it stays in one place.
    Q_UNUSED(hdr);
    return Codec::decodeScaled(url, maxPixelSize, preferEmbedded, Codec::ScaleQuality::fine);
}

QImage ImageLoader::decodeFull(const QString &url, std::optional<int> cap, bool hdr)
{
    Q_UNUSED(hdr);
    return Codec::decodeFull(url, cap, Codec::ScaleQuality::fine);
}

QImage ImageLoader::rotated(const QImage &image, int quarterTurns)
{
    const int turns = ((quarterTurns % 4) + 4) % 4;
    if (turns == 0 || image.isNull())
        return image;
    QImage out = image.transformed(QTransform().rotate(90.0 * turns));
    if (out.isNull())
        return image;
    if (out.format() != QImage::Format_RGBA8888_Premultiplied)
        out = out.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
    return out;
}

bool ImageLoader::isHDR(const QImage &image)
{
    // At least 9 bits per component in an extended-range encoding: only the
    // floating-point formats qualify, and the loader never makes those.
    switch (image.format()) {
    case QImage::Format_RGBX16FPx4:
    case QImage::Format_RGBA16FPx4:
    case QImage::Format_RGBA16FPx4_Premultiplied:
    case QImage::Format_RGBX32FPx4:
    case QImage::Format_RGBA32FPx4:
    case QImage::Format_RGBA32FPx4_Premultiplied:
        return true;
    default:
        return false;
    }
}

bool ImageLoader::hdrOutputAvailable() const
{
    return false;
}

void ImageLoader::handleMemoryPressure()
{
    d->previewCache.clear();
    d->fullCache.clear();
    d->thumbCache.clear();
}

const ImageCacheLimits &ImageLoader::limits() const
{
    return d->limits;
}
