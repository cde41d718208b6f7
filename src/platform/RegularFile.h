#pragma once

#include <QByteArray>
#include <QString>

class QFile;

// The one way the program opens a photo, a sidecar or a cache file for reading.
//
// Only regular files, or symbolic links to one, are ever opened. A FIFO named
// pipe.jpg would block the opening thread until a writer appears (forever, in
// practice), a character device would stream without end, and a folder named
// like a photo is not a photo. Every decoder, digest, metadata reader and folder
// scan asks here first, so none of them can hang on such a name.
namespace RegularFile {

// True when path names a regular file or a link to one. No file is opened.
bool isRegular(const QString &path);
bool isRegular(const QByteArray &encodedPath);

// A blocking, close-on-exec descriptor for reading path, or -1 when it is not a
// regular file (or cannot be opened). The file is opened without blocking and
// checked through the descriptor itself, so a name replaced by a FIFO between a
// check and the open cannot block either.
int openForReading(const QString &path);

// The same into a QFile, which owns the descriptor from then on.
bool open(QFile &file, const QString &path);

// True when a file of the program's own (a cache) may be written at path:
// nothing is there, or a regular file that is not a link. A save follows a
// link to its target, so a link planted under a cache's name would have the
// cache written over whatever it points to.
bool isOwnFileSlot(const QString &path);

} // namespace RegularFile
