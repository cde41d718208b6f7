#pragma once

#include "fileops/SafeFile.h"

#include <QByteArray>
#include <QString>

#include <optional>

// Star ratings 0-5 stored as the XMP property xmp:Rating, inside the photo for
// the formats whose metadata can be rewritten without touching the pixels
// (JPEG, TIFF and DNG through exiv2 on a copy, PNG through our own chunk
// writer) and otherwise in a sidecar "<name>.xmp" beside the photo. HEIF, HEIC
// and AVIF keep theirs in the sidecar (exiv2 cannot write them) and are read
// sidecar-first.
//
// Both entry points block; the viewer calls them on its serial rating queue.
namespace XmpRating {

int clampRating(int n);

// "★★★☆☆" for 3: n filled stars, then empty ones up to five.
QString starText(int n);
// The badge shows the filled stars alone.
QString badgeText(int n);

// The photo's sidecar: its path with the extension replaced by "xmp".
QString sidecarPath(const QString &photo);

// Lower-cased extension tests.
bool isRawExtension(const QString &extension);
bool isInFileExtension(const QString &extension);  // jpg jpeg heic heif png tif tiff dng
bool isWrittenInFile(const QString &extension);    // the in-file formats we can rewrite: no HEIF
bool isSidecarFirst(const QString &extension);

// A sidecar belongs to a RAW file when the sidecar's name with a RAW extension
// (lower or upper case) in place of "xmp" names an existing file other than photo.
bool sidecarBelongsToRaw(const QString &sidecar, const QString &photo);

// The packet of a new sidecar.
QByteArray sidecarTemplate(int n);

// What a sidecar file holds.
struct SidecarRead
{
    enum class State { absent, unreadable, text };
    State state = State::absent;
    QString text;        // the content without a UTF-8 byte-order mark
    bool hasBom = false;
    SafeFile::FileStamp stamp;
    SafeFile::Failure failure; // why it is unreadable
};
SidecarRead readSidecar(const QString &path);

// The rating written in sidecar text: the usual one-digit xmp:Rating first
// (attribute or element, in the markup: never from a comment or from text
// around the packet), then whatever exiv2's XMP parser finds (other prefixes,
// "5.0"). Clamped.
std::optional<int> ratingInSidecarText(const QString &text);

// The sidecar text with the rating set to n, everything else kept byte for
// byte: every rating in the markup under a prefix bound to the XMP basic
// namespace has its value changed in place; without one the property is added
// to the first rdf:Description. The result is parsed back with exiv2 and must give n with
// every other property unchanged. Text the patcher does not recognise is
// refused (absent, with failure set).
std::optional<QString> patchSidecarText(const QString &text, int n, SafeFile::Failure *failure);

// The rating stored inside the image file (its XMP rating, else its EXIF one),
// absent when there is none.
std::optional<int> embeddedRating(const QString &path);

// readRating: 0 when nothing is stored or nothing can be read.
int readRating(const QString &photo);

// writeRating: stores n (clamped) for the photo and confirms it by reading the
// rating back. Holds the path locks of the photo and its sidecar meanwhile.
SafeFile::Outcome writeRating(int n, const QString &photo);

} // namespace XmpRating
