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

// Whether path names a file whose name is not valid text in the system's
// encoding (an old archive, a copy from another system): it reaches the
// program with its bad bytes replaced, so no file is found under it, and only
// renaming it in a file manager makes it usable.
bool lostInDecoding(const QString &path);

// Whether path names a file or folder that is there, one whose name was
// lost in decoding included when its folder is there: the folder's listing
// holds it under the same decoded name, and shows why it cannot be opened.
// A folder whose name was lost is not there: nothing in it can be reached.
bool isThere(const QString &path);

// The local path a file:// address names: "file:///a", and the same with this
// machine's name or "localhost" as its host, as file managers and other
// programs write them. Absent for any other address (another host, another
// scheme), which no local path stands for.
std::optional<QString> localPath(const QUrl &url);

// Whether a failed look-up's errno says nothing is there (ENOENT, ENOTDIR).
// Any other error (a network share whose link dropped answers ENOTCONN or EIO,
// a failing card EIO) says nothing of the file, which may well still be there.
bool isAbsence(int error);

// Whether text is an address ("sftp://host/a.jpg", "file://other/a.jpg")
// rather than a path.
bool isAddress(const QString &text);

// The local path an address stands for: a file:// address of this machine, or
// a network location (sftp://, smb://) the desktop has mounted where programs
// can reach it (GVfs's folder under the runtime folder). Absent when no local
// path reaches it.
std::optional<QString> reachablePath(const QString &address);

// "you may not change the folder “x”" when this user may not add to or remove
// from the folder; absent when they may.
std::optional<QString> folderRefusesChange(const QString &folder);

// Why the file at path may not be moved or renamed by this user, when its
// folder is the reason: the folder is not theirs to change, or it is a shared
// folder (sticky) where only a file's owner may move it. Absent otherwise.
std::optional<QString> folderRefusesMove(const QString &path);

} // namespace FileNames
