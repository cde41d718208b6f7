#pragma once

#include <QString>

namespace FileNames {

// The longest file name the file systems here take, in bytes of its encoding.
inline constexpr qsizetype maxBytes = 255;

// stem with whole characters taken off its end (one is always kept) until it
// and restBytes more bytes fit maxBytes: a long name of the person's, with a
// suffix the program adds to it.
QString stemFitting(QString stem, qsizetype restBytes);

} // namespace FileNames
