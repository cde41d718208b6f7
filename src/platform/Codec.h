#pragma once

#include <QImage>
#include <QList>
#include <QSize>
#include <QString>

#include <cstdint>
#include <optional>

// The one narrow interface between the program and the image libraries: probe a
// file's header, decode it at an ideal size or at full size, hand out animation
// frames and encode. libvips, libjpeg-turbo, LibRaw, Qt's readers and a small
// APNG reader sit behind it; callers never see which one did the work.
//
// Every bitmap leaving here is upright (EXIF orientation and HEIF transforms
// applied), 8-bit sRGB (an embedded ICC profile honoured) and
// QImage::Format_RGBA8888_Premultiplied. Failures are absent results (a null
// QImage, an empty optional); no exception escapes.

// Decided by the file's content, never by its name.
enum class ImageFormat {
    unknown,
    jpeg,
    png,
    gif,
    webp,
    tiff,
    heif,
    avif,
    jxl,
    jp2,
    bmp,
    ico,
    icns,
    raw,
};

// What the header says, read without decoding pixels.
struct ImageHeader {
    ImageFormat format = ImageFormat::unknown;
    QSize storedSize;     // pixels as stored in the file
    int orientation = 1;  // EXIF orientation 1-8 still to be applied
    bool isAnimated = false;

    // The size as shown: width and height swapped for orientations 5-8.
    QSize displayedSize() const;
};

// An animation ready to play: one full-canvas bitmap per frame.
struct AnimatedFrames {
    QList<QImage> frames;
    QList<int> delaysMs;  // one per frame
    int loopCount = 0;    // 0 = forever
    // The frames the file holds. More than frames.size() when the whole animation
    // would not fit the decode budget and only its beginning is played.
    int totalFrames = 0;

    bool isShortened() const { return totalFrames > frames.size(); }
};

namespace Codec {

// Anything claiming more pixels than this is refused before decoding, however
// large its file: 2 GiB as RGBA, beyond any photograph's stitched panorama.
constexpr int64_t maxPixelCount = 512'000'000;

// A file claiming many more pixels than its bytes can plausibly describe is a
// decompression bomb (a few hundred bytes announcing a gigapixel): above a
// floor that any small file may claim, a file may hold at most this many pixels
// per byte. Real photographs hold well under ten, a flat graphic in PNG a few
// hundred.
constexpr int64_t pixelsPerFileByte = 1024;
constexpr int64_t pixelsAnyFileMayClaim = 64'000'000;

// The most pixels a file of this size is believed to hold (maxPixelCount at most).
int64_t pixelLimitForFileSize(qint64 fileBytes);

// The memory, in bytes, one decode may take for pictures it must hold whole:
// Qt's readers (BMP, ICO, ICNS) and all the frames of an animation. The image
// loader sets it from the memory its own caches are allowed; 512 MiB until then.
int64_t decodeBudgetBytes();
void setDecodeBudgetBytes(int64_t bytes);

ImageFormat formatOfContent(const QByteArray &head);
ImageFormat formatOfFile(const QString &path);
const char *formatName(ImageFormat format);

// The header facts; absent when the file cannot be read, is not an image we know,
// claims a zero or more than maxPixelCount pixel size.
std::optional<ImageHeader> probe(const QString &path);

// Why a file gives no picture, for telling the person; looked up in the file
// again after a decode failed.
enum class Refusal {
    unknown,      // nothing wrong found: the picture data itself did not decode
    missing,      // no file (or a link to nothing) under the name
    noPermission, // the file may not be read
    notAFile,     // a folder, a FIFO, a device
    empty,        // zero bytes
    notAnImage,   // content of no image format known here
    tooLarge,     // more pixels than decoding it would be safe for (claimedSize)
    unreadable,   // the drive answered with an error (error): a network share
                  // out of reach, a failing card
};
struct RefusalReason {
    Refusal refusal = Refusal::unknown;
    QSize claimedSize; // the stored size claimed by the header, for tooLarge
    int error = 0;     // errno, for unreadable
};
RefusalReason whyRefused(const QString &path);

// How a reduced bitmap is made.
enum class ScaleQuality {
    // For pictures the GPU filters again on the way to the screen (the viewer's
    // previews): the nearest larger halving DCT scale of a JPEG, reduced by linear
    // interpolation as it decodes; a tent resample where the reduction is larger.
    fast,
    // For pictures used as they are: thumbnails, and the cleanup's analysis image
    // whose sharpness measures were calibrated on libvips' Lanczos 3 thumbnails. A
    // DCT-scaled decode to at least twice the size, then a Lanczos 3 reduction.
    fine,
};

// Upright, longer side at most maxPixelSize (never enlarged). With preferEmbedded an
// embedded thumbnail or camera preview is used when it is at least as large as asked
// and has the image's shape.
QImage decodeScaled(const QString &path, int maxPixelSize, bool preferEmbedded,
                    ScaleQuality quality = ScaleQuality::fast);

// Upright at full size, or with the longer side at most cap.
QImage decodeFull(const QString &path, std::optional<int> cap = std::nullopt,
                  ScaleQuality quality = ScaleQuality::fine);

// Upright at full size for a copy: a HEIF or AVIF picture in its own colours,
// with the ICC profile they are in (empty when it has none), so that a wide-gamut
// photo keeps its gamut; any other format as decodeFull, in sRGB.
struct OwnColours {
    QImage image;
    QByteArray iccProfile;
};
OwnColours decodeFullInOwnColours(const QString &path);

// Frames of an animated GIF or APNG; absent for anything else or a single frame.
// All frames are held decoded, within the decode budget: an animation larger than
// that gives the frames that fit (totalFrames says how many there are), or none
// when not even two fit.
std::optional<AnimatedFrames> frames(const QString &path);

// The description of the embedded ICC profile ("sRGB IEC61966-2.1", "Adobe RGB
// (1998)"); empty when the file embeds none.
QString colorProfileName(const QString &path);

// Writes the bitmap to path in the given format (jpeg, png, webp, tiff, heif,
// avif, jxl, gif, bmp); quality 1-100 where the format has one. Writes straight
// to path: callers that replace a user's file write to a temporary file first.
bool encode(const QImage &image, const QString &path, ImageFormat format, int quality = 90);

// Makes sure the libraries are initialised (done lazily by every call above).
void initialize();

} // namespace Codec
