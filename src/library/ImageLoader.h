#pragma once

#include "platform/Codec.h"

#include <QImage>
#include <QSizeF>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

// Cheap facts about an image file, read from its header without decoding pixels.
struct ImageInfo {
    // Size as displayed: for EXIF orientations 5-8 (a quarter turn) width and height are swapped.
    QSizeF pixelSize;
    bool isAnimated = false;

    friend bool operator==(const ImageInfo &, const ImageInfo &) = default;
};

// Count and cost limits of the loader's caches (cost = bytes per row x height).
struct ImageCacheLimits {
    int previewCount = 12;
    int64_t previewCost = 0;
    int fullCount = 2;
    int64_t fullCost = 0;
    int thumbCount = 800;
    int infoCount = 4000;
    // What one decode may hold of a picture it must decode whole (Codec's decode budget).
    int64_t decodeBudget = 0;

    // The limits for a machine with the given physical memory in bytes.
    static ImageCacheLimits forPhysicalMemory(uint64_t bytes);
};

// Turns image files into bitmaps at three sizes (preview, full, 128-px thumbnail)
// and reads cheap facts. All operations are synchronous, thread-safe and return
// an absent result (a null QImage, an empty optional) when the file cannot be read.
//
// Every bitmap handed out is upright (EXIF orientation applied), 8-bit sRGB and
// QImage::Format_RGBA8888_Premultiplied, ready for texture upload as it is.
// Paths are absolute local file paths (the "URL" of a file throughout the program).
class ImageLoader
{
public:
    // The process-wide instance, created on first use with the machine's physical memory.
    static ImageLoader &shared();

    // A private instance, for tests that inject the memory size.
    explicit ImageLoader(uint64_t physicalMemoryBytes);
    ~ImageLoader();
    ImageLoader(const ImageLoader &) = delete;
    ImageLoader &operator=(const ImageLoader &) = delete;

    // The supported-file test on a file name only (26 extensions, case-insensitive).
    static bool isSupported(const QString &fileName);

    std::optional<ImageInfo> info(const QString &url);
    std::optional<ImageInfo> cachedInfo(const QString &url);

    QImage preview(const QString &url, int maxPixelSize);
    QImage cachedPreview(const QString &url, int minPixelSize);

    // Full size, capped at 16384 pixels on the longer side.
    QImage full(const QString &url);
    QImage cachedFull(const QString &url);

    QImage thumbnail(const QString &url);
    QImage cachedThumbnail(const QString &url);

    // The frames of an animated image (info's isAnimated), uncached: the view that
    // plays them holds them. Absent for stills and unreadable files.
    std::optional<AnimatedFrames> frames(const QString &url);

    void invalidate(const QString &url);
    void dropPreview(const QString &url);

    // Uncached decodes. makeThumbnail is also the cleanup analysis image (1280 px).
    QImage makeThumbnail(const QString &url, int maxPixelSize, bool preferEmbedded, bool hdr);
    QImage decodeFull(const QString &url, std::optional<int> cap, bool hdr);

    // The bitmap turned clockwise by quarterTurns x 90 degrees (any integer).
    static QImage rotated(const QImage &image, int quarterTurns);

    // HDR content test; with 8-bit bitmaps it is always false here.
    static bool isHDR(const QImage &image);
    // Whether any screen can show extended dynamic range. Linux reports none.
    bool hdrOutputAvailable() const;

    // Empties the preview, full and thumbnail caches; the info cache survives.
    void handleMemoryPressure();

    const ImageCacheLimits &limits() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};
