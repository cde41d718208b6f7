#pragma once

#include <QDateTime>
#include <QSizeF>
#include <QString>

#include <optional>

// One image file of a folder. Dates are absolute moments held in UTC; show
// them with toLocalTime().
struct ImageItem {
    // Absolute local path: the folder with the file name appended, or for a
    // file opened directly that the listing left out, its own cleaned path.
    QString url;
    // Pixel size once the viewer has decoded the image.
    std::optional<QSizeF> pixelSize;
    // Content modification and creation time from the file system.
    std::optional<QDateTime> modified;
    std::optional<QDateTime> created;
    // Bytes; 0 when the file system gives none.
    qint64 fileSize = 0;
    // EXIF capture time, once read in the background.
    std::optional<QDateTime> captureDate;

    // The last path component.
    QString fileName() const;

    friend bool operator==(const ImageItem &, const ImageItem &) = default;
};

// Lists of ten thousand items grow by moving memory, not by moving each item.
Q_DECLARE_TYPEINFO(ImageItem, Q_RELOCATABLE_TYPE);
