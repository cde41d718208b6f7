#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

// When a photo was taken, from its EXIF: DateTimeOriginal, else
// DateTimeDigitized, else the TIFF DateTime. EXIF stores wall-clock time
// without a zone ("2008:05:30 15:56:01"); it is read in the local time zone.
// Sorting and the cleanup scan use it. Safe from any thread.

// The earliest moment the program uses: what a missing date sorts as.
QDateTime distantPast();

// "yyyy:MM:dd HH:mm:ss" as local time, returned in UTC. Surrounding blanks
// and NULs are ignored; anything else that does not fit (the all-zero
// placeholder of cameras without a clock, another layout) gives nothing.
std::optional<QDateTime> parseExifDateTime(const QString &text);

// The capture time of the file, absent when it stores none that parses.
std::optional<QDateTime> readCaptureDate(const QString &path);

// The capture time, else the fallback, else distantPast().
QDateTime captureDate(const QString &path, const std::optional<QDateTime> &fallback = std::nullopt);
