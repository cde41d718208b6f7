#pragma once

#include <QByteArray>
#include <QSize>
#include <QString>

#include <array>
#include <memory>
#include <optional>

// The one encoder step behind export, its size estimate and batch convert: a
// photo decoded at full size with its orientation and the viewer's pending
// turns applied, then written by libvips' JPEG, PNG or HEIC saver into memory.
// The capture date and the rest of the EXIF and XMP, and the ICC profile the
// pixels are in, go with it; the orientation written is 1 because the pixels
// are now upright.
namespace Encoder {

enum class Format { jpeg, png, heic };

struct FormatInfo
{
    Format format;
    const char *title;     // shown in the format pop-ups
    const char *typeName;  // the content type, part of the estimate key
    const char *extension; // of the written file, lower case
};

// In the order of the pop-ups.
const std::array<FormatInfo, 3> &formats();
const FormatInfo &info(Format format);
std::optional<Format> formatOfIndex(int index);

// Whether this system's libheif can write HEIC (it needs an HEVC encoder
// plugin); checked once by encoding a small picture.
bool canEncode(Format format);

// The quality slider's range; the value goes to the saver's Q as it is.
inline constexpr int minQuality = 40;
inline constexpr int maxQuality = 100;
inline constexpr int defaultQuality = 85;

enum class Error {
    unreadable,  // not a photo this program decodes, or the file is damaged
    missing,     // no file at the path (removed or renamed meanwhile)
    tooLarge,    // more pixels than a file of its size may decode to
    notWhole,    // the decode came back smaller than the photo (a RAW without its full data)
    unsupported, // the format cannot be written here
    encodeFailed,
};

// A photo decoded for encoding, upright and turned. Immutable and cheap to copy,
// so the estimate can encode one decode at several qualities.
class Picture
{
public:
    QSize size() const;
    bool isNull() const { return !d; }

private:
    friend std::optional<Picture> decode(const QString &, int, Error *, bool);
    friend std::optional<QByteArray> encode(const Picture &, Format, int, Error *);
    struct Data;
    std::shared_ptr<const Data> d;
};

// Decodes path at full size, orientation applied, turned by quarterTurns
// clockwise. Refuses what would decode only partially or smaller than it is.
// A reusable picture is held in memory for several encodes; otherwise an
// upright photo may be read while it is encoded, so it can be encoded once.
std::optional<Picture> decode(const QString &path, int quarterTurns, Error *error = nullptr, bool reusable = true);

// The encoded file's bytes. quality (40-100) is ignored for PNG.
std::optional<QByteArray> encode(const Picture &picture, Format format, int quality, Error *error = nullptr);

// Both steps at once.
std::optional<QByteArray> encodeFile(const QString &path, int quarterTurns, Format format, int quality,
                                     Error *error = nullptr);

// What to tell the user.
QString describe(Error error);

} // namespace Encoder
