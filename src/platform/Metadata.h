#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <initializer_list>
#include <mutex>
#include <optional>

// The program's one door to exiv2 for reading metadata. exiv2 needs global
// set-up before its first use from several threads and throws on every damaged
// file; both are handled here, so callers get plain Qt values and an absent
// result instead of an exception. Readers with a narrower purpose (orientation,
// the information panel's EXIF lines, ratings) belong in this file beside
// readMetadata, built on the same opening and error handling.
//
// Every function is safe to call from any thread.

// Tag values of one file as text, keyed by exiv2's dotted key names
// ("Exif.Photo.DateTimeOriginal", "Exif.Image.Orientation", "Xmp.xmp.Rating").
// Values are exiv2's plain string form of the stored value (toString), not the
// interpreted display text.
struct MetadataTags {
    QHash<QString, QString> values;

    std::optional<QString> value(const QString &key) const;
    // The first of the keys whose value is present and not blank.
    std::optional<QString> firstOf(std::initializer_list<const char *> keys) const;
    bool isEmpty() const { return values.isEmpty(); }
};

namespace Metadata {

inline constexpr char dateTimeOriginalKey[] = "Exif.Photo.DateTimeOriginal";
inline constexpr char dateTimeDigitizedKey[] = "Exif.Photo.DateTimeDigitized";
inline constexpr char dateTimeKey[] = "Exif.Image.DateTime";

// Sets up exiv2 once per process: the XMP toolkit with a lock (its own
// initialisation is not thread-safe), metadata of HEIF/AVIF/CR3 files (off by
// default in exiv2 0.27), and exiv2's diagnostics routed to the logging
// category "glanto.metadata" instead of stderr. Every reader calls it; calling
// it early on the main thread only moves the cost.
void initialize();

// exiv2 0.27's XMP parsing is not safe on two threads at once, even with the
// toolkit's lock: now and then a packet parsed beside another comes back
// empty, which would lose a photo's XMP when it is copied over. Whatever
// parses or encodes XMP through exiv2 (reading a file's metadata included)
// holds this lock meanwhile; it also sets exiv2 up (initialize). Recursive,
// and the toolkit's own lock is the same mutex.
[[nodiscard]] std::unique_lock<std::recursive_mutex> lockParsing();

// Every EXIF and XMP tag of the file. Values whose stored form is larger than
// 64 KiB (maker-note blobs, embedded previews) are left out. Absent when the
// path is not a readable regular file or exiv2 cannot parse it; a file that
// parses but carries no metadata gives an empty set.
std::optional<MetadataTags> readMetadata(const QString &path);

// Only the listed keys (those present); cheaper when a caller needs a few.
std::optional<MetadataTags> readMetadata(const QString &path, const QStringList &keys);

// An EXIF number in exiv2's text form: a rational "28/10", a plain number, or the
// first of several values. Anything else (text, a zero denominator) is absent.
std::optional<double> number(const QString &text);

// The three date strings a capture time is taken from, each as stored.
// What a file stores about when it was taken. EXIF times come with their
// sub-seconds in separate tags; XMP's are ISO 8601 text, written by editors
// and by photos exported without EXIF.
struct CaptureDateStrings {
    std::optional<QString> dateTimeOriginal;
    std::optional<QString> dateTimeDigitized;
    std::optional<QString> dateTime;
    std::optional<QString> subSecTimeOriginal;
    std::optional<QString> subSecTimeDigitized;
    std::optional<QString> subSecTime;
    std::optional<QString> xmpDateTimeOriginal;
    std::optional<QString> xmpDateCreated;
};

// The tags CaptureDateStrings is read from, for a reader that wants them
// among others in one pass over the file.
const QStringList &captureDateKeys();
CaptureDateStrings captureDateStrings(const MetadataTags &tags);

// Absent when the file cannot be read; the strings are absent when not stored.
std::optional<CaptureDateStrings> readCaptureDateStrings(const QString &path);

} // namespace Metadata
