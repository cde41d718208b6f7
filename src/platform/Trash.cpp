#include "platform/Trash.h"

#include "platform/FileNames.h"
#include "platform/NoReplaceRename.h"
#include "platform/SupportedFiles.h"
#include "settings/Texts.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Why the file at path has no Trash to go to. A read-only drive (a card locked
// by its switch, a mount for reading) can keep none, and says so: it is the
// reason a person can act on.
QString noTrashReason(const QString &path)
{
    struct statvfs drive;
    if (::statvfs(encoded(path).constData(), &drive) == 0) {
        if (drive.f_flag & ST_RDONLY)
            return errorText(EROFS);
        // A full card has no room to make its Trash folders in.
        if (drive.f_bavail == 0)
            return Texts::text("msg.trashDriveFull");
    }
    return Texts::text("msg.trashNoTrashOnDrive");
}

std::optional<struct stat> lstatOf(const QString &path)
{
    struct stat st {};
    if (::lstat(encoded(path).constData(), &st) != 0)
        return std::nullopt;
    return st;
}

// A folder that is ours alone: created with mode 0700 when missing, and
// accepted only when it is a real folder (not a link) owned by this user.
bool ensurePrivateFolder(const QString &path)
{
    if (::mkdir(encoded(path).constData(), 0700) != 0 && errno != EEXIST)
        return false;
    const auto st = lstatOf(path);
    return st && S_ISDIR(st->st_mode) && st->st_uid == ::getuid();
}

bool ensureTrashFolders(const QString &trash)
{
    return ensurePrivateFolder(trash) && ensurePrivateFolder(trash + QStringLiteral("/files"))
        && ensurePrivateFolder(trash + QStringLiteral("/info"));
}

// The mount point holding path: the highest ancestor on the same device.
QString topDirectoryOf(const QString &path, dev_t device)
{
    // Walked up from where the folder really is: a card reached through a link
    // in the home would otherwise stop at the link, below the card's top.
    const QString folder = QFileInfo(path).absolutePath();
    QString top = QFileInfo(folder).canonicalFilePath();
    if (top.isEmpty())
        top = folder;
    while (top != QLatin1String("/")) {
        const QString parent = QFileInfo(top).absolutePath();
        const auto st = lstatOf(parent);
        if (!st || st->st_dev != device)
            break;
        top = parent;
    }
    return top;
}

// The trash of another file system, as the freedesktop.org specification
// describes it: $topdir/.Trash/$uid when the administrator made a shared,
// sticky .Trash (and it is not a link), else $topdir/.Trash-$uid.
std::optional<QString> topDirectoryTrash(const QString &top)
{
    const QString uid = QString::number(::getuid());
    const QString base = top == QLatin1String("/") ? QString() : top;
    const QString shared = base + QStringLiteral("/.Trash");
    if (const auto st = lstatOf(shared); st && S_ISDIR(st->st_mode) && (st->st_mode & S_ISVTX)) {
        const QString mine = shared + QLatin1Char('/') + uid;
        if (ensureTrashFolders(mine))
            return mine;
    }
    const QString own = base + QStringLiteral("/.Trash-") + uid;
    if (ensureTrashFolders(own))
        return own;
    return std::nullopt;
}

struct InfoEntry {
    QString path;
    QString deletionDate;
};

// The entry, absent when it cannot be read (error, when given, then holds why:
// 0 for an entry that is there but no trash entry) or holds no path.
std::optional<InfoEntry> readInfo(const QString &infoPath, int *error = nullptr)
{
    const int fd = ::open(encoded(infoPath).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (error)
            *error = errno;
        return std::nullopt;
    }
    QByteArray content;
    char chunk[4096];
    int readError = 0;
    bool tooLarge = false; // no entry this program wrote
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            readError = errno;
        tooLarge = n > 0 && content.size() + n > 64 * 1024;
        if (n <= 0 || tooLarge)
            break;
        content.append(chunk, n);
    }
    ::close(fd);
    if (error)
        *error = readError;
    if (readError != 0 || tooLarge)
        return std::nullopt;
    const QList<QByteArray> lines = content.split('\n');
    bool inSection = false;
    InfoEntry entry;
    for (const QByteArray &raw : lines) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith('[')) {
            inSection = line == "[Trash Info]";
            continue;
        }
        if (!inSection)
            continue;
        if (line.startsWith("Path="))
            entry.path = QUrl::fromPercentEncoding(line.mid(5));
        else if (line.startsWith("DeletionDate="))
            entry.deletionDate = QString::fromUtf8(line.mid(13));
    }
    if (entry.path.isEmpty())
        return std::nullopt;
    return entry;
}

// The name in the Trash: the file's own with the attempt's number after it,
// its stem shortened where the info file's name would pass the file system's
// 255 bytes (a name near the limit is the person's to keep, and restoring goes
// by the path the entry holds).
QString trashName(const QString &fileName, int attempt)
{
    const QString number = attempt == 0 ? QString() : QLatin1Char('.') + QString::number(attempt + 1);
    const qsizetype dot = fileName.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot > 0 ? fileName.left(dot) : fileName;
    const QString extension = dot > 0 ? fileName.mid(dot) : QString();
    const qsizetype rest = encoded(extension + number + QStringLiteral(".trashinfo")).size();
    return FileNames::stemFitting(stem, rest) + extension + number;
}

// Creates the info file for the first free name at or after name; returns
// the chosen name, writing the entry into it. Absent with errno set on failure.
std::optional<QString> createInfoFile(const QString &trash, const QString &fileName, const QByteArray &content,
                                      int attempt)
{
    const QString name = trashName(fileName, attempt);
    const QString infoPath = trash + QStringLiteral("/info/") + name + QStringLiteral(".trashinfo");
    const int fd = ::open(encoded(infoPath).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return std::nullopt;
    qint64 written = 0;
    while (written < content.size()) {
        const ssize_t n = ::write(fd, content.constData() + written, size_t(content.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = errno;
            ::close(fd);
            ::unlink(encoded(infoPath).constData());
            errno = error ? error : EIO;
            return std::nullopt;
        }
        written += n;
    }
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(encoded(infoPath).constData());
        errno = error;
        return std::nullopt;
    }
    return name;
}

// A second name for the file at to, or where the file system cannot link
// (FAT, some network shares) or will not (another user's file under
// protected_hardlinks), a copy flushed to disk. Never replaces what is at to.
// Absent on success, else errno.
std::optional<int> keepAs(const QString &from, const QString &to)
{
    if (::link(encoded(from).constData(), encoded(to).constData()) == 0)
        return std::nullopt;
    if (errno != EPERM && errno != EMLINK && errno != EOPNOTSUPP && errno != ENOSYS)
        return errno;
    const int in = ::open(encoded(from).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (in < 0)
        return errno;
    const int out = ::open(encoded(to).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (out < 0) {
        const int error = errno;
        ::close(in);
        return error;
    }
    int error = 0;
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = ::read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            error = errno;
            break;
        }
        if (n == 0)
            break;
        for (ssize_t done = 0; done < n && error == 0;) {
            const ssize_t w = ::write(out, buffer + done, size_t(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0)
                error = w < 0 ? errno : EIO;
            else
                done += w;
        }
        if (error != 0)
            break;
    }
    if (error == 0 && ::fsync(out) != 0)
        error = errno;
    if (::close(out) != 0 && error == 0)
        error = errno;
    ::close(in);
    if (error != 0) {
        ::unlink(encoded(to).constData());
        return error;
    }
    return std::nullopt;
}

} // namespace

namespace {

qint64 modifiedNs(const struct stat &st)
{
    return qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

// Whether st is the file that was moved: the very file on the same device; on
// a drive mounted again since (another device number), a file of the same
// size and modification time, under the entry written for it.
bool isTheMovedFile(const struct stat &st, const TrashedFile &file)
{
    if (st.st_dev == file.device)
        return st.st_ino == file.inode;
    return file.size >= 0 && st.st_size == file.size && modifiedNs(st) == file.modifiedNs;
}

} // namespace

std::optional<int> renameNoReplace(const QString &from, const QString &to)
{
    const int error = NoReplaceRename::renameAt(AT_FDCWD, encoded(from).constData(), AT_FDCWD, encoded(to).constData());
    if (error == 0)
        return std::nullopt;
    return error;
}

Trash &Trash::system()
{
    static FreedesktopTrash trash;
    return trash;
}

FreedesktopTrash::FreedesktopTrash(QString dataHome)
    : dataHome(std::move(dataHome))
{}

std::optional<QString> FreedesktopTrash::homeTrash() const
{
    QString data = dataHome;
    if (data.isEmpty())
        data = qEnvironmentVariable("XDG_DATA_HOME");
    if (data.isEmpty() || QDir::isRelativePath(data)) {
        const QString home = qEnvironmentVariable("HOME");
        // Without an absolute home there is no Trash; never fall back to the
        // current folder, which would put the "trash" next to the photos.
        if (home.isEmpty() || QDir::isRelativePath(home))
            return std::nullopt;
        data = home + QStringLiteral("/.local/share");
    }
    return QDir::cleanPath(data) + QStringLiteral("/Trash");
}

std::optional<QString> FreedesktopTrash::moveOne(const QString &path, TrashedFile *result)
{
    return place(path, Placement::move, result);
}

std::optional<QString> FreedesktopTrash::keepInTrash(const QString &path, TrashedFile *result)
{
    return place(path, Placement::keep, result);
}

void FreedesktopTrash::discardKept(const TrashedFile &file)
{
    // Only the very entry that was made: a file that took its slot since stays.
    const auto st = lstatOf(file.trashedPath);
    if (!st || st->st_ino != file.inode || st->st_dev != file.device)
        return;
    ::unlink(encoded(file.trashedPath).constData());
    ::unlink(encoded(file.infoPath).constData());
}

std::optional<QString> FreedesktopTrash::place(const QString &given, Placement how, TrashedFile *result)
{
    const QString path = QDir::cleanPath(QFileInfo(given).absoluteFilePath());
    const auto st = lstatOf(path);
    if (!st)
        return errorText(errno);
    if (S_ISDIR(st->st_mode))
        return errorText(EISDIR);
    if (how == Placement::keep && !S_ISREG(st->st_mode))
        return errorText(EINVAL);

    const std::optional<QString> home = homeTrash();
    if (!home)
        return Texts::text("msg.trashUnavailable");
    // The data folder is created first: a Trash is never made in a relative place.
    if (!QDir().mkpath(QFileInfo(*home).absolutePath()) || !ensureTrashFolders(*home))
        return Texts::text("msg.trashUnavailable");

    QString trash = *home;
    const auto homeStat = lstatOf(*home);
    if (!homeStat || homeStat->st_dev != st->st_dev) {
        // Another file system: its own Trash, or none. Copying across devices
        // and deleting the original is never done.
        const std::optional<QString> other = topDirectoryTrash(topDirectoryOf(path, st->st_dev));
        if (!other)
            return noTrashReason(path);
        trash = *other;
    }

    const QString deletionDate = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"));
    const QByteArray content = "[Trash Info]\nPath=" + QUrl::toPercentEncoding(path, "/") + "\nDeletionDate="
                               + deletionDate.toUtf8() + "\n";
    const QString fileName = QFileInfo(path).fileName();
    for (int attempt = 0; attempt < 10000; ++attempt) {
        const std::optional<QString> name = createInfoFile(trash, fileName, content, attempt);
        if (!name) {
            if (errno == EEXIST)
                continue;
            return errorText(errno);
        }
        const QString infoPath = trash + QStringLiteral("/info/") + *name + QStringLiteral(".trashinfo");
        const QString target = trash + QStringLiteral("/files/") + *name;
        const std::optional<int> error = how == Placement::move ? renameNoReplace(path, target) : keepAs(path, target);
        if (error) {
            // The entry was ours a moment ago and describes nothing now.
            ::unlink(encoded(infoPath).constData());
            if (*error == EEXIST)
                continue;
            if (*error == EXDEV)
                return noTrashReason(path);
            if (*error == EACCES || *error == EPERM) {
                if (const std::optional<QString> reason = FileNames::folderRefusesMove(path))
                    return *reason;
            }
            return errorText(*error);
        }
        const auto placed = how == Placement::move ? st : lstatOf(target);
        if (!placed)
            return errorText(errno);
        *result = TrashedFile{path,          target,        infoPath, deletionDate, placed->st_dev, placed->st_ino,
                              placed->st_size, modifiedNs(*placed)};
        return std::nullopt;
    }
    return errorText(EEXIST);
}

TrashOutcome FreedesktopTrash::moveToTrash(const QStringList &paths)
{
    TrashOutcome outcome;
    for (const QString &path : paths) {
        TrashedFile moved;
        if (const std::optional<QString> failure = moveOne(path, &moved))
            outcome.failed.push_back({path, *failure});
        else
            outcome.moved.push_back(std::move(moved));
    }
    return outcome;
}

namespace {

QString baseOf(const QString &name)
{
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot > 0 ? name.left(dot) : name;
}

// A regular file, not a link to one.
bool isPlainFile(const QString &path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

QStringList orphanedSidecars(const QString &photo)
{
    const QFileInfo info(photo);
    if (isSidecar(photo))
        return {};
    QStringList sidecars;
    const QString base = baseOf(info.fileName());
    const QString sidecar = sidecarOf(info.dir().filePath(base));
    const QString sidecarName = QFileInfo(sidecar).fileName();
    if (isPlainFile(sidecar)) {
        const QStringList entries = info.dir().entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        // Only a photo keeps it: a note, another editor's settings file or a
        // video of that name has no use for a rating.
        const bool kept = std::any_of(entries.cbegin(), entries.cend(), [&](const QString &entry) {
            return entry != sidecarName && baseOf(entry) == base && isSupportedImageName(entry);
        });
        if (!kept)
            sidecars << sidecar;
    }
    if (const std::optional<QString> own = wholeNameSidecar(photo))
        sidecars << *own;
    return sidecars;
}

std::optional<QString> wholeNameSidecar(const QString &photo)
{
    const QString name = QFileInfo(photo).fileName();
    if (isSidecar(photo) || baseOf(name) == name)
        return std::nullopt;
    const QString sidecar = sidecarOf(photo);
    return isPlainFile(sidecar) ? std::optional<QString>(sidecar) : std::nullopt;
}

QString sidecarOf(const QString &stem)
{
    const QString lower = stem + QStringLiteral(".xmp");
    const QString upper = stem + QStringLiteral(".XMP");
    struct stat st {};
    if (::lstat(QFile::encodeName(lower).constData(), &st) != 0 && ::lstat(QFile::encodeName(upper).constData(), &st) == 0)
        return upper;
    return lower;
}

bool isSidecar(const QString &path)
{
    return path.endsWith(QStringLiteral(".xmp"), Qt::CaseInsensitive);
}

void moveOrphanedSidecar(Trash &trash, const QString &photo, TrashOutcome &outcome)
{
    const QStringList sidecars = orphanedSidecars(photo);
    if (sidecars.isEmpty())
        return;
    outcome.append(trash.moveToTrash(sidecars));
}

RestoredBatch restoredBatch(const QList<TrashedFile> &batch, const std::vector<RestoreOutcome> &outcomes)
{
    RestoredBatch result;
    for (qsizetype i = 0; i < batch.size() && size_t(i) < outcomes.size(); ++i) {
        const RestoreOutcome &outcome = outcomes[size_t(i)];
        if (outcome.ok()) {
            result.back.append(batch[i].original);
            continue;
        }
        if (result.failed++ == 0)
            result.firstReason = outcome.reason;
        if (outcome.canRetry())
            result.again.append(batch[i]);
    }
    return result;
}

QStringList RestoredBatch::photosBack() const
{
    QStringList photos;
    for (const QString &path : back) {
        if (!isSidecar(path))
            photos << path;
    }
    return photos;
}

QString RestoredBatch::message() const
{
    QString text = Texts::format("cleanup.restored", {QString::number(back.size())});
    if (failed > 0)
        text += QStringLiteral("  ·  ")
                + Texts::format("cleanup.restoreFailed", {QString::number(failed), firstReason});
    return text;
}

RestoreOutcome FreedesktopTrash::restore(const TrashedFile &file)
{
    // The entry must still be the one written for this very file: after the
    // Trash was emptied the same slot may hold another file of the same name.
    // An entry or file no longer there was taken out of the Trash (emptied,
    // restored by a file manager).
    // A drive that cannot be reached now (a network share whose link dropped,
    // a read error) says nothing of the entry: it stays, for a later try.
    const auto unreachable = [](int error) {
        return RestoreOutcome{RestoreOutcome::Kind::failed, Texts::format("msg.restoreUnreachable", {errorText(error)})};
    };
    int infoError = 0;
    const std::optional<InfoEntry> entry = readInfo(file.infoPath, &infoError);
    if (infoError != 0 && !FileNames::isAbsence(infoError))
        return unreachable(infoError);
    const auto st = lstatOf(file.trashedPath);
    if (!st && !FileNames::isAbsence(errno))
        return unreachable(errno);
    if (!st || FileNames::isAbsence(infoError))
        return {RestoreOutcome::Kind::entryChanged, Texts::text("msg.restoreGone")};
    if (!entry || entry->path != file.original || entry->deletionDate != file.deletionDate)
        return {RestoreOutcome::Kind::entryChanged, Texts::text("msg.restoreEntryChanged")};
    if (file.inode != 0 && !isTheMovedFile(*st, file))
        return {RestoreOutcome::Kind::entryChanged, Texts::text("msg.restoreEntryChanged")};

    if (const std::optional<int> error = renameNoReplace(file.trashedPath, file.original)) {
        if (*error == EEXIST)
            return {RestoreOutcome::Kind::occupied, Texts::text("msg.restoreOccupied")};
        // The file is there (above), so what is missing is the folder it goes to.
        if (FileNames::isAbsence(*error))
            return {RestoreOutcome::Kind::failed, Texts::text("msg.restoreFolderGone")};
        return {RestoreOutcome::Kind::failed, errorText(*error)};
    }
    // Only now that the file is back does its entry go.
    ::unlink(encoded(file.infoPath).constData());
    return {RestoreOutcome::Kind::restored, {}};
}
