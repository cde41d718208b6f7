#pragma once

#include <QByteArray>
#include <QLoggingCategory>
#include <QString>
#include <QStringList>

#include <sys/types.h>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

// The one way this program changes a file the user owns. A replacement is
// written to a private temporary file in the same folder (created exclusively,
// with the original's owner, group, mode and extended attributes, ACLs among
// them; a file whose owner or group cannot be kept, or that has other names
// (hard links) the rename would leave behind, is not replaced), flushed
// to disk together with the folder, and moved over the original by a single
// rename(2): at every instant the photo is either the old file or the complete
// new one, and the original is never removed first. Moves that must not
// overwrite use renameat2(RENAME_NOREPLACE) (or, on drives that refuse it, claim
// the name first: NoReplaceRename) and fail when the name is taken.
//
// Every check here runs again right before the rename: the target is a regular
// file, it still exists, and it is the very file that was read (same device,
// inode, size and modification time). Anything else fails with a message in
// the user's language and leaves the original alone.
//
// Callers that write or move a photo or its sidecar hold the per-path lock of
// every file they touch (PathLocks) for the whole read-modify-replace, so two
// commands of this process never interleave on one file.

// The log of the file-safety layer and the commands built on it ("glanto.fileops").
Q_DECLARE_LOGGING_CATEGORY(lcSafeFile)

namespace SafeFile {

// Why an operation failed, in the words shown to the user.
struct Failure
{
    enum class Kind {
        gone,        // the file no longer exists (renamed, moved, deleted)
        notRegular,  // a folder, FIFO, device or socket under the photo's name
        changed,     // another program changed the file since it was read
        readOnly,    // the file itself is marked read-only, or this user may not write it
        hardLinked,  // the file has other names, which a replacement would leave on the old content
        notKept,     // the replacement could not take the original's owner, group or attributes
        unreadable,  // cannot be read (permissions, I/O error, wrong encoding)
        unrecognised,// content the program does not understand and will not replace
        unsupported, // the format cannot hold the change
        verify,      // the value read back from the written file is not the one written
        system,      // a system call failed; the reason carries its description
        aborted,     // a test hook stopped the operation between two steps
    };
    Kind kind = Kind::system;
    QString reason;
    // The file the failure is about, when it is not the one the operation was
    // asked for (a photo's sidecar); empty otherwise.
    QString path;

    static Failure of(Kind kind);
    static Failure fromErrno(int error);
    static Failure withReason(Kind kind, const QString &reason);
};

// Success is an empty optional.
using Outcome = std::optional<Failure>;

// The identity of a file as it was read.
struct FileStamp
{
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    long long mtimeSeconds = 0;
    long mtimeNanoseconds = 0;
    mode_t mode = 0;
    uid_t owner = 0;
    gid_t group = 0;
    nlink_t links = 1;

    bool sameFileContent(const FileStamp &other) const;
};

// The stamp of the regular file at path (links followed), or why there is none.
std::optional<FileStamp> stampOf(const QString &path, Failure *failure = nullptr);

// The path a write goes to: symbolic links resolved, so that a link to a photo
// changes the photo and keeps the link. Empty when the path does not exist.
QString writablePath(const QString &path);

// Checks that path is still a regular file with the given stamp.
Outcome checkUnchanged(const QString &path, const FileStamp &expected);

// The whole content of a regular file, read through one descriptor whose stamp
// is returned with it (so the stamp describes exactly the bytes read). maxBytes
// bounds what is read; a larger file fails as unreadable.
struct ReadFile
{
    QByteArray bytes;
    FileStamp stamp;
};
std::optional<ReadFile> readWhole(const QString &path, Failure *failure, qint64 maxBytes = qint64(2) << 30);

// A regular file held open for reading, with the stamp taken through the same
// descriptor: what is read or copied from it is the file that was checked.
class OpenFile
{
public:
    static std::unique_ptr<OpenFile> open(const QString &path, Failure *failure);
    ~OpenFile();
    OpenFile(const OpenFile &) = delete;
    OpenFile &operator=(const OpenFile &) = delete;

    const FileStamp &stamp() const { return fileStamp; }
    int descriptor() const { return fd; }
    // Up to size bytes from offset (fewer at the end of the file).
    std::optional<QByteArray> read(qint64 offset, qint64 size) const;
    // Whether the file still has the size and time it had when opened.
    bool unchanged() const;

private:
    OpenFile() = default;
    int fd = -1;
    FileStamp fileStamp;
};

// A replacement in progress. Created next to the target; the destructor removes
// the temporary file unless commit() moved it into place.
class Replacement
{
public:
    // purpose names the command in the temporary file's name ("rating",
    // "rotate", "xmp"). The target need not exist when expected is absent (a
    // new sidecar); then the new file gets newFileMode less the umask, and the
    // commit refuses to replace a file that appeared meanwhile.
    static std::unique_ptr<Replacement> begin(const QString &target, const char *purpose,
                                              const std::optional<FileStamp> &expected, Failure *failure,
                                              mode_t newFileMode = 0666);
    ~Replacement();
    Replacement(const Replacement &) = delete;
    Replacement &operator=(const Replacement &) = delete;

    const QString &temporaryPath() const { return tempPath; }
    const QString &targetPath() const { return target; }

    // Writes the bytes in pieces (a step for the test hook after each) and
    // flushes them to disk.
    Outcome writeAndSync(const QByteArray &bytes);
    // Writes head, then the source's bytes from offset `from` to its end, copied
    // inside the kernel; fails as changed when the source changed meanwhile.
    Outcome writeAndSync(const QByteArray &head, const OpenFile &source, qint64 from);
    // For writers that fill the temporary file by its path (an encoder): flush
    // what they wrote.
    Outcome syncWrittenByPath();
    // Checks the target once more, renames the temporary file over it and
    // flushes the folder.
    Outcome commit();

private:
    Replacement() = default;
    QString target;
    QString tempPath;
    QByteArray encodedTemp;
    QByteArray encodedTarget;
    int fd = -1;
    int dirFd = -1;
    std::optional<FileStamp> expected;
    bool committed = false;
};

// The mode for a new file made from source (an exported or converted copy, a
// sidecar): the source's read and write bits, as cp gives them, so that the
// copy of a private photo is private too; 0666 when source cannot be looked at.
// The umask applies on top.
mode_t newFileModeFor(const QString &source);

// Renames from to to without ever replacing an existing file.
Outcome moveNoReplace(const QString &from, const QString &to);

// Removes this program's temporary files left in folder by a crash: regular
// files whose names have our own prefix, an operation name and a UUID, owned
// by this user, and not held by a running write (each write holds a lock on its
// temporary file). Nothing else is ever deleted. Returns how many were removed.
int removeLeftoverTemporaries(const QString &folder);

// Whether a file name is one of ours (the shape removeLeftoverTemporaries accepts).
bool isOwnTemporaryName(const QString &fileName);

// The per-path locks shared by every command that writes or moves a photo or
// its sidecar. Locks are keyed by the absolute path with links resolved; lock
// several at once through one Guard, which takes them in a fixed order.
class PathLocks
{
public:
    class Guard
    {
    public:
        Guard() = default;
        Guard(Guard &&) = default;
        Guard &operator=(Guard &&) = default;
        ~Guard();

    private:
        friend class PathLocks;
        std::vector<std::shared_ptr<std::mutex>> held;
    };
    static Guard lock(const QStringList &paths);
    static QString keyOf(const QString &path);
};

// The test-only hook: called between the steps of every write ("temp-created",
// "chunk-written", "temp-synced", "verified", "renamed", "folder-synced", ...).
// Returning false aborts the operation there, as a failing disk would. Process-
// wide; null (the default) in the program.
using StepHook = std::function<bool(std::string_view step)>;
void setStepHook(StepHook hook);
// Called by the writers at each step; false when the hook asked to stop.
bool step(std::string_view name);

} // namespace SafeFile
