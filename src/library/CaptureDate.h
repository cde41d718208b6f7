#pragma once

#include "platform/Metadata.h"

#include <QDateTime>
#include <QString>

#include <optional>

// When a photo was taken, from its metadata: EXIF DateTimeOriginal, else
// DateTimeDigitized, else XMP's exif:DateTimeOriginal or photoshop:DateCreated,
// else the TIFF DateTime; EXIF times with their sub-seconds.
//
// Times are clock readings. EXIF stores the camera's clock without a zone
// ("2008:05:30 15:56:01"), and a camera is rarely set to the zone this program
// runs in, nor moved for summer time; so a reading is kept as it is, in a
// QDateTime of UTC's frame that no time zone moves: 15:56:01 shows as 15:56
// anywhere, the hour a spring change skips is a reading like any other, and
// readings order as the camera's clock ran. A file time, which is a moment,
// joins them as the local clock showed it (clockReading). Sorting, the
// information panel and the cleanup scan use these. Safe from any thread.

// The earliest moment the program uses: what a missing date sorts as.
QDateTime distantPast();

// "yyyy:MM:dd HH:mm:ss" as a clock reading. Surrounding blanks and NULs are
// ignored; anything else that does not fit (the all-zero placeholder of
// cameras without a clock, another layout, 25:61) gives nothing.
std::optional<QDateTime> parseExifDateTime(const QString &text);

// XMP's ISO 8601 date ("2025-06-15T10:00:00.5+09:00", "2025-06-15T10:00",
// "2025-06-15") as the clock reading it writes; the zone, when given, says
// where that clock was and does not move the reading.
std::optional<QDateTime> parseXmpDateTime(const QString &text);

// The local clock's reading at a moment (a file's modification time).
QDateTime clockReading(const QDateTime &moment);

// The capture time the strings give, absent when none parses.
std::optional<QDateTime> captureDateFrom(const Metadata::CaptureDateStrings &strings);

// The capture time of the file, absent when it stores none that parses.
std::optional<QDateTime> readCaptureDate(const QString &path);

// The capture time, else the fallback's clock reading, else distantPast().
QDateTime captureDate(const QString &path, const std::optional<QDateTime> &fallback = std::nullopt);
// The same from tags already read (absent: the file could not be read), for a
// reader that wants other tags in the same pass.
QDateTime captureDate(const std::optional<MetadataTags> &tags, const std::optional<QDateTime> &fallback);
