#pragma once

#include <QString>
#include <QUrl>

#include <optional>

namespace FileNames {

// The longest file name the file systems here take, in bytes of its encoding.
inline constexpr qsizetype maxBytes = 255;

// stem with whole characters taken off its end (one is always kept) until it
// and restBytes more bytes fit maxBytes: a long name of the person's, with a
// suffix the program adds to it.
QString stemFitting(QString stem, qsizetype restBytes);

// The local path a file:// address names: "file:///a", and the same with this
// machine's name or "localhost" as its host, as file managers and other
// programs write them. Absent for any other address (another host, another
// scheme), which no local path stands for.
std::optional<QString> localPath(const QUrl &url);

} // namespace FileNames
