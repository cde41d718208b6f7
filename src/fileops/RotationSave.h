#pragma once

#include "fileops/SafeFile.h"

#include <QString>

// Writing a pending view rotation into the photo. Where the format keeps an
// orientation tag (JPEG, TIFF, DNG through exiv2 on a copy; PNG through our own
// eXIf writer; WebP through exiv2) only the tag changes and the pixels stay as
// they were. Formats without one (BMP, GIF, and a WebP whose tag does not read
// back) are re-encoded upright with their metadata carried over. HEIF, AVIF,
// JPEG XL, camera RAW other than DNG, animated and multi-page files are refused:
// re-encoding them would recompress and strip them.
namespace RotationSave {

// The orientation after one clockwise quarter turn of the picture as shown:
// 1→6→3→8→1, and for the mirrored ones 2→7→4→5→2. Anything outside 1-8 counts as 1.
int turnedClockwise(int orientation);
// turns taken modulo 4 (negative turns count counter-clockwise).
int turned(int orientation, int quarterTurns);

// The longest side the viewer decodes at full size; a photo larger than this
// would come back smaller from a re-encode and is refused.
inline constexpr int maxReencodeSide = 16384;

struct Result
{
    enum class Kind { lossless, reencoded, failed };
    Kind kind = Kind::failed;
    QString reason; // for failed: what to tell the user
    int orientation = 1; // the orientation written (lossless)

    bool succeeded() const { return kind != Kind::failed; }
};

// The blocking file operation. Holds the photo's path lock meanwhile.
Result writeRotation(const QString &photo, int quarterTurns);

// The re-encode path on its own, for the formats it serves (BMP, GIF, WebP);
// writeRotation takes it only when the tag path is not available.
Result writeRotationReencoded(const QString &photo, int quarterTurns);

// The EXIF orientation the file holds for its first image (1 when none).
int fileOrientation(const QString &photo);

} // namespace RotationSave
