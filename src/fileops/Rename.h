#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

// Renaming photos in their own folder: one photo to a name the user typed, or
// every photo of the folder to a prefix and a running number. No widgets; the
// viewer asks for the text and reports the result.
//
// Nothing is ever replaced. A free name is looked for first, and every move is
// a rename that refuses an existing target (RENAME_NOREPLACE); a file that
// appears between the look and the move makes the move take the next number
// instead. A photo's sidecar "<base>.xmp" travels with it when no other file of
// the folder keeps that base name, and the files of one shot (a RAW and its
// JPEG, which share a base name) take one batch number together.
namespace Rename {

// A file name split at its last dot: "IMG 1.JPG" -> "IMG 1" and "JPG". A name
// without a dot, or whose only dot starts it, has no extension.
struct NameParts
{
    QString base;
    QString extension;
};
NameParts splitName(const QString &fileName);

// The typed text as a base name: surrounding white space trimmed and every "/"
// and ":" replaced by "-" (neither can stand in a name here: "/" would move the
// photo into another folder, ":" confuses other systems' tools).
QString cleanedBase(const QString &entered);

// base + "." + extension, without the dot when there is no extension.
QString joinName(const QString &base, const QString &extension);
// The n-th candidate for a single rename: the name itself for n <= 1, then
// "base 2.ext", "base 3.ext", ...
QString numberedName(const QString &base, int n, const QString &extension);
// The batch name: prefix-001.ext ... prefix-999.ext, prefix-1000.ext.
QString batchName(const QString &prefix, int counter, const QString &extension);

// What a single rename did.
struct Result
{
    enum class Status {
        renamed,   // newPath holds the photo's new path
        unchanged, // the name typed is the photo's own: nothing to do, nothing to say
        empty,     // nothing but white space was typed
        hidden,    // the name would start with "." and hide the photo
        failed,    // the move failed; reason says why
    };
    Status status = Status::unchanged;
    QString newPath;
    QString reason;
    // Every file moved, old path -> new path (the photo, and its sidecar when it went along).
    QHash<QString, QString> moved;
};

// Renames the photo at path to the typed base name, keeping its extension.
Result renamePhoto(const QString &path, const QString &entered);

// What a batch did.
struct BatchResult
{
    enum class Status { done, empty, hidden };
    Status status = Status::done;
    // How many of the photos given were moved (sidecars are not counted).
    int renamed = 0;
    // Every file moved, old path -> new path.
    QHash<QString, QString> moved;
    // How many photos were left as they were because their move failed or no
    // free name was found, and the reason of the first.
    int failed = 0;
    QString firstReason;

    void notRenamed(int photos, const QString &reason)
    {
        if (failed == 0)
            firstReason = reason;
        failed += photos;
    }
};

// Renames the photos (paths in display order, all in one folder) to
// prefix-NNN.ext with one counter over the folder starting at 1. A number
// whose name is taken by another file is skipped; a photo already named as its
// turn says keeps its name; a photo whose move fails is left as it was.
BatchResult batchRename(const QStringList &photos, const QString &enteredPrefix);

} // namespace Rename
