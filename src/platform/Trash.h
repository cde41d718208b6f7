#pragma once

#include <QString>
#include <QStringList>

#include <sys/types.h>

#include <memory>
#include <optional>
#include <vector>

// Where one file went when it was moved to the Trash, with what is needed to
// bring exactly that file back later.
struct TrashedFile {
    QString original;      // absolute path the file had
    QString trashedPath;   // its place in the Trash's files/ folder
    QString infoPath;      // the .trashinfo entry written for it
    QString deletionDate;  // the DeletionDate written into the entry, as written
    dev_t device = 0;      // identity of the moved file, to recognise it again
    ino_t inode = 0;
    // Its size and modification time (ns since the epoch): on a drive mounted
    // again (a memory card taken out and put back) the device number changes,
    // and on FUSE drives the inode numbers too; these then recognise the file.
    qint64 size = -1;
    qint64 modifiedNs = 0;

    friend bool operator==(const TrashedFile &, const TrashedFile &) = default;
};

// A file that could not be moved, and why (in the user's language).
struct TrashFailure {
    QString path;
    QString reason;
};

struct TrashOutcome {
    std::vector<TrashedFile> moved;     // in request order
    std::vector<TrashFailure> failed;   // in request order

    // Adds a later request's outcome after this one's.
    void append(const TrashOutcome &later)
    {
        moved.insert(moved.end(), later.moved.begin(), later.moved.end());
        failed.insert(failed.end(), later.failed.begin(), later.failed.end());
    }
};

struct RestoreOutcome {
    enum class Kind {
        restored,
        occupied,     // a file now lives at the old path; it was left alone
        entryChanged, // the Trash entry no longer describes this file (emptied, reused)
        failed,       // the move itself failed (reason says why)
    };
    Kind kind = Kind::failed;
    QString reason;

    bool ok() const { return kind == Kind::restored; }
    // The file is still in the Trash and a later try may put it back (the
    // place was taken, the folder was away); an entry that changed is gone.
    bool canRetry() const { return kind == Kind::occupied || kind == Kind::failed; }
};

// What putting a batch back came to, from each file's outcome in order.
struct RestoredBatch {
    QStringList back;           // the original paths of the files put back
    QList<TrashedFile> again;   // still in the Trash, for a later try
    int failed = 0;
    QString firstReason;

    // "Restored N files", and when some failed, how many and the first reason.
    QString message() const;
    // The photos put back: back without the sidecars that came with them.
    QStringList photosBack() const;
};
RestoredBatch restoredBatch(const QList<TrashedFile> &batch, const std::vector<RestoreOutcome> &outcomes);

// The user's Trash. Moving to it never deletes anything: a file that cannot be
// moved stays where it was and its failure is reported. Restoring never
// replaces a file that has since appeared at the old path. Calls are
// synchronous and may run on a worker thread (one call at a time).
class Trash
{
public:
    virtual ~Trash() = default;

    virtual TrashOutcome moveToTrash(const QStringList &paths) = 0;
    virtual RestoreOutcome restore(const TrashedFile &file) = 0;

    // Puts the file's present content into the Trash and leaves the file where
    // it is: a second name (a hard link), or where the file system has none, a
    // copy. Done before a new file takes the name, so that what it replaced
    // can still be found. Absent on success, else the reason.
    virtual std::optional<QString> keepInTrash(const QString &path, TrashedFile *result) = 0;
    // Takes out an entry made by keepInTrash that is not needed after all (the
    // replace failed and the file is still in place).
    virtual void discardKept(const TrashedFile &file) = 0;

    // The freedesktop.org Trash of this user, shared by the whole program.
    static Trash &system();
};

// The freedesktop.org Trash specification: the home trash under the data
// folder, and for files on another file system that file system's own
// .Trash/$uid or .Trash-$uid. Files are renamed, never copied.
class FreedesktopTrash : public Trash
{
public:
    // dataHome empty: $XDG_DATA_HOME, else ~/.local/share, read at each call.
    explicit FreedesktopTrash(QString dataHome = {});

    TrashOutcome moveToTrash(const QStringList &paths) override;
    RestoreOutcome restore(const TrashedFile &file) override;
    std::optional<QString> keepInTrash(const QString &path, TrashedFile *result) override;
    void discardKept(const TrashedFile &file) override;

    // The home trash folder (files/ and info/ inside), absent when no absolute
    // data folder can be determined.
    std::optional<QString> homeTrash() const;

    // Moves one file. Absent on success, else the reason.
    std::optional<QString> moveOne(const QString &path, TrashedFile *result);

private:
    enum class Placement { move, keep };
    std::optional<QString> place(const QString &path, Placement how, TrashedFile *result);
    QString dataHome;
};

// The sidecars of a photo that has just left its folder: the rating sidecar
// "<base>.xmp" when no other photo there has that base name (the RAW or the JPEG
// of the same shot keeps it), and "<name>.xmp" (darktable's, digiKam's), which
// belongs to that one file. Left behind, they would give their rating and edits
// to the next photo of that name.
QStringList orphanedSidecars(const QString &photo);
// Whether a path is such a sidecar rather than a photo.
bool isSidecar(const QString &path);
// The sidecar named stem + ".xmp", or stem + ".XMP" (as cameras and some tools
// write it) when only that one is there; stem + ".xmp" when neither is.
QString sidecarOf(const QString &stem);
// "<name>.xmp" beside a photo that has an extension, when it is a plain file:
// the sidecar darktable and digiKam write for that one file.
std::optional<QString> wholeNameSidecar(const QString &photo);
// After photo has left its folder: moves its orphaned sidecars too, if it has
// any, and adds what was moved to outcome (so that Ctrl+Z brings it back with
// the photo). A sidecar that cannot be moved stays and is added to its failures.
void moveOrphanedSidecar(Trash &trash, const QString &photo, TrashOutcome &outcome);

// A rename that never replaces an existing file (see NoReplaceRename).
// Absent on success, else errno.
std::optional<int> renameNoReplace(const QString &from, const QString &to);
