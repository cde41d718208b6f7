#pragma once

#include <QDateTime>
#include <QList>
#include <QSize>
#include <QString>

#include <optional>

struct MetadataTags;

// One line of the information panel: a localized label and its formatted value.
struct ExifEntry {
    QString label;
    QString value;

    friend bool operator==(const ExifEntry &, const ExifEntry &) = default;
};

// The metadata summary of a photo, in panel order: camera, lens, shooting
// parameters, exposure compensation, capture time, pixel size, colour profile,
// file name with size. Lines whose data is missing are left out; an empty list
// means there is nothing to show (an unreadable or unrecognised file). A pure
// function of the file, safe on any thread.
QList<ExifEntry> exifSummary(const QString &path);

// What the summary is computed from, for the formatting rules on their own.
struct ExifSummaryInput {
    // Values in exiv2's plain string form ("1/250", "28/10", "400").
    QString make;
    QString model;
    QString lensModel;
    QString exposureTime;
    QString fNumber;
    QString isoSpeedRatings;
    QString focalLength;
    QString exposureBias;
    QString dateTimeOriginal;
    // The capture time the program sorts by (CaptureDate.h), when one parses;
    // shown in place of dateTimeOriginal.
    std::optional<QDateTime> captureDate;
    std::optional<QSize> pixelSize;
    QString profileName;
    QString fileName;
    std::optional<qint64> fileSize; // absent: the file's attributes could not be read
};
QList<ExifEntry> exifSummary(const ExifSummaryInput &input);
