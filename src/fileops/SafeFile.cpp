#include "fileops/SafeFile.h"

#include "platform/FileNames.h"
#include "platform/NoReplaceRename.h"
#include "settings/Texts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QUuid>

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <vector>

Q_LOGGING_CATEGORY(lcSafeFile, "glanto.fileops", QtWarningMsg)

namespace SafeFile {

namespace {

// Pieces of a replacement's content; each is a point where a test may stop the
// writer, and small enough that a partly written temporary file is a real case.
constexpr qsizetype writePiece = 64 * 1024;

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

QString systemMessage(int error)
{
    char buffer[256];
    // The GNU variant returns the message, which may or may not be the buffer.
    const char *message = strerror_r(error, buffer, sizeof buffer);
    return QString::fromLocal8Bit(message);
}

FileStamp stampFrom(const struct stat &info)
{
    FileStamp stamp;
    stamp.device = info.st_dev;
    stamp.inode = info.st_ino;
    stamp.size = info.st_size;
    stamp.mtimeSeconds = info.st_mtim.tv_sec;
    stamp.mtimeNanoseconds = info.st_mtim.tv_nsec;
    stamp.mode = info.st_mode;
    stamp.owner = info.st_uid;
    stamp.group = info.st_gid;
    stamp.links = info.st_nlink;
    return stamp;
}

// A file whose owner has taken away its own read or write permission says so
// even to a process that could ignore it (root): the program honours the mark.
bool ownerMayRead(mode_t mode) { return (mode & S_IRUSR) != 0; }
bool ownerMayWrite(mode_t mode) { return (mode & S_IWUSR) != 0; }

// Copies the extended attributes of the file at path (user notes, access
// lists, capabilities) onto fd. Security labels are the system's to give and
// are left to it; any other attribute that cannot be copied fails the copy.
bool copyAttributes(const QByteArray &path, int fd)
{
    ssize_t size = ::listxattr(path.constData(), nullptr, 0);
    if (size < 0)
        return errno == ENOTSUP;
    if (size == 0)
        return true;
    std::vector<char> names(size_t(size) + 1, '\0');
    size = ::listxattr(path.constData(), names.data(), names.size() - 1);
    if (size < 0)
        return false;
    for (const char *name = names.data(); name < names.data() + size; name += std::strlen(name) + 1) {
        if (std::strncmp(name, "security.", 9) == 0)
            continue;
        const ssize_t length = ::getxattr(path.constData(), name, nullptr, 0);
        if (length < 0)
            return false;
        std::vector<char> value(static_cast<size_t>(length));
        const ssize_t got = ::getxattr(path.constData(), name, value.data(), value.size());
        if (got < 0 || ::fsetxattr(fd, name, value.data(), size_t(got), 0) != 0)
            return false;
    }
    return true;
}

std::mutex &hookMutex()
{
    static std::mutex mutex;
    return mutex;
}
StepHook &hookSlot()
{
    static StepHook hook;
    return hook;
}
std::atomic<bool> hookSet{false};

const QRegularExpression &ownTemporaryPattern()
{
    static const QRegularExpression pattern(QStringLiteral(
        "^\\.glanto-[a-z]{2,12}-[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}(\\.[A-Za-z0-9]{1,16})?$"));
    return pattern;
}

void syncFolderOf(const QByteArray &encodedPath)
{
    const QByteArray folder = encoded(QFileInfo(QFile::decodeName(encodedPath)).absolutePath());
    const int dirFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return;
    if (::fsync(dirFd) != 0)
        qCWarning(lcSafeFile, "fsync of folder %s failed: %s", folder.constData(), strerror(errno));
    ::close(dirFd);
}

// Says which folder refused a move and why: the system's "Permission denied"
// names neither the folder nor what would allow it.
Failure moveRefusal(int error, const QString &from, const QString &to)
{
    if (const std::optional<QString> reason = FileNames::folderRefusesMove(from))
        return Failure::withReason(Failure::Kind::readOnly, *reason);
    // The folder it goes to: only whether it may be changed.
    if (const std::optional<QString> reason = FileNames::folderRefusesChange(QFileInfo(to).absolutePath()))
        return Failure::withReason(Failure::Kind::readOnly, *reason);
    return Failure::fromErrno(error);
}

} // namespace

Failure Failure::of(Kind kind)
{
    const char *key = "msg.errSystem";
    switch (kind) {
    case Kind::gone: key = "msg.errFileGone"; break;
    case Kind::notRegular: key = "msg.errNotRegular"; break;
    case Kind::changed: key = "msg.errFileChanged"; break;
    case Kind::readOnly: key = "msg.errReadOnly"; break;
    case Kind::hardLinked: key = "msg.errHardLinked"; break;
    case Kind::notKept: key = "msg.errNotKept"; break;
    case Kind::unreadable: key = "msg.errUnreadable"; break;
    case Kind::unrecognised: key = "msg.errUnrecognised"; break;
    case Kind::unsupported: key = "msg.errUnsupported"; break;
    case Kind::verify: key = "msg.errVerify"; break;
    case Kind::system: key = "msg.errSystem"; break;
    case Kind::aborted: key = "msg.errSystem"; break;
    }
    return Failure{kind, Texts::text(key), {}};
}

Failure Failure::fromErrno(int error)
{
    switch (error) {
    case ENOENT: return of(Kind::gone);
    case EACCES:
    case EPERM: return withReason(Kind::unreadable, systemMessage(error));
    case EROFS: return withReason(Kind::readOnly, systemMessage(error));
    default: return withReason(Kind::system, systemMessage(error));
    }
}

Failure Failure::withReason(Kind kind, const QString &reason)
{
    return Failure{kind, reason, {}};
}

bool FileStamp::sameFileContent(const FileStamp &other) const
{
    return device == other.device && inode == other.inode && size == other.size
           && mtimeSeconds == other.mtimeSeconds && mtimeNanoseconds == other.mtimeNanoseconds;
}

std::optional<FileStamp> stampOf(const QString &path, Failure *failure)
{
    struct stat info;
    if (::stat(encoded(path).constData(), &info) != 0) {
        if (failure)
            *failure = Failure::fromErrno(errno);
        return std::nullopt;
    }
    if (!S_ISREG(info.st_mode)) {
        if (failure)
            *failure = Failure::of(Failure::Kind::notRegular);
        return std::nullopt;
    }
    return stampFrom(info);
}

QString writablePath(const QString &path)
{
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical;
}

Outcome checkUnchanged(const QString &path, const FileStamp &expected)
{
    Failure failure;
    const auto now = stampOf(path, &failure);
    if (!now)
        return failure;
    if (!now->sameFileContent(expected))
        return Failure::of(Failure::Kind::changed);
    return std::nullopt;
}

std::optional<ReadFile> readWhole(const QString &path, Failure *failure, qint64 maxBytes)
{
    // Non-blocking, so that a FIFO named like a photo cannot hang the reader
    // before fstat tells what it is.
    const int fd = ::open(encoded(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        *failure = Failure::fromErrno(errno);
        return std::nullopt;
    }
    struct stat info;
    if (::fstat(fd, &info) != 0) {
        *failure = Failure::fromErrno(errno);
        ::close(fd);
        return std::nullopt;
    }
    if (!S_ISREG(info.st_mode)) {
        *failure = Failure::of(Failure::Kind::notRegular);
        ::close(fd);
        return std::nullopt;
    }
    if (!ownerMayRead(info.st_mode) || info.st_size > maxBytes) {
        *failure = Failure::of(Failure::Kind::unreadable);
        ::close(fd);
        return std::nullopt;
    }
    ReadFile result;
    result.stamp = stampFrom(info);
    result.bytes.resize(qsizetype(info.st_size));
    qsizetype done = 0;
    while (done < result.bytes.size()) {
        const ssize_t got = ::read(fd, result.bytes.data() + done, size_t(result.bytes.size() - done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            *failure = Failure::fromErrno(errno);
            ::close(fd);
            return std::nullopt;
        }
        if (got == 0)
            break;
        done += got;
    }
    // A file that grew or shrank while it was read is not the file stamped.
    struct stat after;
    const bool same = ::fstat(fd, &after) == 0 && done == result.bytes.size()
                      && stampFrom(after).sameFileContent(result.stamp);
    ::close(fd);
    if (!same) {
        *failure = Failure::of(Failure::Kind::changed);
        return std::nullopt;
    }
    return result;
}

std::unique_ptr<OpenFile> OpenFile::open(const QString &path, Failure *failure)
{
    std::unique_ptr<OpenFile> file(new OpenFile);
    file->fd = ::open(encoded(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (file->fd < 0) {
        *failure = Failure::fromErrno(errno);
        return nullptr;
    }
    struct stat info;
    if (::fstat(file->fd, &info) != 0) {
        *failure = Failure::fromErrno(errno);
        return nullptr;
    }
    if (!S_ISREG(info.st_mode)) {
        *failure = Failure::of(Failure::Kind::notRegular);
        return nullptr;
    }
    if (!ownerMayRead(info.st_mode)) {
        *failure = Failure::of(Failure::Kind::unreadable);
        return nullptr;
    }
    file->fileStamp = stampFrom(info);
    return file;
}

OpenFile::~OpenFile()
{
    if (fd >= 0)
        ::close(fd);
}

std::optional<QByteArray> OpenFile::read(qint64 offset, qint64 size) const
{
    size = std::max<qint64>(0, std::min<qint64>(size, fileStamp.size - offset));
    QByteArray bytes(qsizetype(size), Qt::Uninitialized);
    qint64 done = 0;
    while (done < size) {
        const ssize_t got = ::pread(fd, bytes.data() + done, size_t(size - done), off_t(offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return std::nullopt;
        done += got;
    }
    return bytes;
}

bool OpenFile::unchanged() const
{
    struct stat info;
    return ::fstat(fd, &info) == 0 && stampFrom(info).sameFileContent(fileStamp);
}

mode_t newFileModeFor(const QString &source)
{
    struct stat info {};
    if (::stat(encoded(source).constData(), &info) != 0)
        return 0666;
    // The owner keeps reading and writing what it makes.
    return (info.st_mode & 0666) | 0600;
}

std::unique_ptr<Replacement> Replacement::begin(const QString &target, const char *purpose,
                                                const std::optional<FileStamp> &expected, Failure *failure,
                                                mode_t newFileMode)
{
    std::unique_ptr<Replacement> r(new Replacement);
    r->target = target;
    r->encodedTarget = encoded(target);
    r->expected = expected;

    if (expected) {
        if (const Outcome changed = checkUnchanged(target, *expected)) {
            *failure = *changed;
            return nullptr;
        }
        // Replacing goes through the folder: a file this user may not write
        // itself would otherwise be taken over.
        if (!ownerMayWrite(expected->mode) || ::faccessat(AT_FDCWD, r->encodedTarget.constData(), W_OK, AT_EACCESS) != 0) {
            *failure = Failure::of(Failure::Kind::readOnly);
            return nullptr;
        }
        if (expected->links > 1) {
            *failure = Failure::of(Failure::Kind::hardLinked);
            return nullptr;
        }
    }

    const QFileInfo info(target);
    const QString folder = info.absolutePath();
    r->dirFd = ::open(encoded(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (r->dirFd < 0) {
        const int error = errno;
        *failure = error == ENOENT ? Failure::withReason(Failure::Kind::gone,
                                                         Texts::format("msg.errFolderGone", {info.absoluteDir().dirName()}))
                                   : Failure::fromErrno(error);
        return nullptr;
    }
    const QString suffix = info.suffix();
    static const QRegularExpression plainSuffix(QStringLiteral("^[A-Za-z0-9]{1,16}$"));
    QString name = QStringLiteral(".glanto-%1-%2").arg(QLatin1String(purpose), QUuid::createUuid().toString(QUuid::WithoutBraces));
    if (plainSuffix.match(suffix).hasMatch())
        name += u'.' + suffix;
    r->tempPath = folder + u'/' + name;
    r->encodedTemp = encoded(r->tempPath);

    // A new file is created with the mode asked for, less the umask; a
    // replacement starts private and takes the original's owner and mode below.
    const mode_t createMode = expected ? 0600 : (newFileMode & 0666);
    r->fd = ::open(r->encodedTemp.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, createMode);
    if (r->fd < 0) {
        const int error = errno;
        if (error == EACCES || error == EPERM)
            *failure = Failure::withReason(Failure::Kind::readOnly,
                                           Texts::format("msg.errFolderNotWritable", {info.absoluteDir().dirName()}));
        else
            *failure = error == EROFS ? Failure::withReason(Failure::Kind::readOnly, systemMessage(error))
                                      : Failure::fromErrno(error);
        return nullptr;
    }
    // Held until the descriptor closes (or the process dies): a folder cleanup
    // running meanwhile leaves a temporary file that is being written alone.
    ::flock(r->fd, LOCK_EX | LOCK_NB);
    if (expected) {
        // The owner can be kept when it is this user (or by root); the group
        // when this user belongs to it. Otherwise the photo would change hands,
        // or open to other people, by being rated.
        if (::fchown(r->fd, expected->owner, expected->group) != 0) {
            // Whether the group alone could be kept is read back below, from the file.
            [[maybe_unused]] const int groupKept = ::fchown(r->fd, uid_t(-1), expected->group);
        }
        struct stat made {};
        if (::fstat(r->fd, &made) != 0 || made.st_uid != expected->owner || made.st_gid != expected->group) {
            *failure = Failure::of(Failure::Kind::notKept);
            return nullptr;
        }
        // A file system with one mode for every file (a memory card's FAT) may
        // refuse the change (ENOSYS); the copy already having the mode is enough.
        if (::fchmod(r->fd, expected->mode & 07777) != 0 && (made.st_mode & 07777) != (expected->mode & 07777)) {
            *failure = Failure::fromErrno(errno);
            return nullptr;
        }
        // After the mode: an access list sets the group bits from its mask.
        if (!copyAttributes(r->encodedTarget, r->fd)) {
            *failure = Failure::of(Failure::Kind::notKept);
            return nullptr;
        }
    }
    if (!step("temp-created")) {
        *failure = Failure::of(Failure::Kind::aborted);
        return nullptr;
    }
    return r;
}

Replacement::~Replacement()
{
    if (fd >= 0 && !committed) {
        // Remove the temporary file only while the name still is ours.
        struct stat mine, named;
        if (::fstat(fd, &mine) == 0 && ::lstat(encodedTemp.constData(), &named) == 0 && mine.st_ino == named.st_ino
            && mine.st_dev == named.st_dev)
            ::unlink(encodedTemp.constData());
    }
    if (fd >= 0)
        ::close(fd);
    if (dirFd >= 0)
        ::close(dirFd);
}

Outcome Replacement::writeAndSync(const QByteArray &bytes)
{
    if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0)
        return Failure::fromErrno(errno);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const qsizetype piece = std::min(writePiece, bytes.size() - done);
        const ssize_t wrote = ::write(fd, bytes.constData() + done, size_t(piece));
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote < 0)
            return Failure::fromErrno(errno);
        done += wrote;
        if (!step("chunk-written"))
            return Failure::of(Failure::Kind::aborted);
    }
    return syncWrittenByPath();
}

Outcome Replacement::writeAndSync(const QByteArray &head, const OpenFile &source, qint64 from)
{
    if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0)
        return Failure::fromErrno(errno);
    qsizetype done = 0;
    while (done < head.size()) {
        const ssize_t wrote = ::write(fd, head.constData() + done, size_t(head.size() - done));
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote < 0)
            return Failure::fromErrno(errno);
        done += wrote;
    }
    if (!step("chunk-written"))
        return Failure::of(Failure::Kind::aborted);
    // The rest is copied by the kernel, piece by piece; no copy of a large
    // photo passes through this process's memory.
    constexpr qint64 copyPiece = 256 * 1024;
    off64_t in = from;
    const qint64 end = source.stamp().size;
    bool kernelCopy = true;
    while (in < end) {
        const size_t want = size_t(std::min(copyPiece, end - in));
        ssize_t copied = -1;
        if (kernelCopy) {
            copied = ::copy_file_range(source.descriptor(), &in, fd, nullptr, want, 0);
            if (copied < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
                kernelCopy = false;
                continue;
            }
            if (copied < 0 && errno == EINTR)
                continue;
            if (copied < 0)
                return Failure::fromErrno(errno);
        } else {
            const auto piece = source.read(in, qint64(want));
            if (!piece)
                return Failure::of(Failure::Kind::changed);
            qsizetype written = 0;
            while (written < piece->size()) {
                const ssize_t w = ::write(fd, piece->constData() + written, size_t(piece->size() - written));
                if (w < 0 && errno == EINTR)
                    continue;
                if (w < 0)
                    return Failure::fromErrno(errno);
                written += w;
            }
            copied = ssize_t(piece->size());
            in += copied;
        }
        if (copied == 0)
            return Failure::of(Failure::Kind::changed); // the source shrank
        if (!step("chunk-written"))
            return Failure::of(Failure::Kind::aborted);
    }
    if (!source.unchanged())
        return Failure::of(Failure::Kind::changed);
    return syncWrittenByPath();
}

Outcome Replacement::syncWrittenByPath()
{
    // An encoder that wrote by path truncated and filled this same inode; a
    // flush through our descriptor covers its data too.
    struct stat mine, named;
    if (::fstat(fd, &mine) != 0 || ::lstat(encodedTemp.constData(), &named) != 0 || mine.st_ino != named.st_ino)
        return Failure::of(Failure::Kind::system);
    if (::fsync(fd) != 0)
        return Failure::fromErrno(errno);
    if (!step("temp-synced"))
        return Failure::of(Failure::Kind::aborted);
    return std::nullopt;
}

Outcome Replacement::commit()
{
    if (!step("before-rename"))
        return Failure::of(Failure::Kind::aborted);
    // Our temporary file must still be the one under its name.
    struct stat mine, named;
    if (::fstat(fd, &mine) != 0 || mine.st_nlink == 0 || ::lstat(encodedTemp.constData(), &named) != 0
        || mine.st_ino != named.st_ino)
        return Failure::of(Failure::Kind::system);

    if (expected) {
        if (const Outcome changed = checkUnchanged(target, *expected))
            return changed;
        if (::renameat(dirFd, encodedTemp.constData(), dirFd, encodedTarget.constData()) != 0)
            return Failure::fromErrno(errno);
    } else {
        // A new file never replaces one that appeared meanwhile.
        if (const int error = NoReplaceRename::renameAt(dirFd, encodedTemp.constData(), dirFd, encodedTarget.constData());
            error != 0) {
            return error == EEXIST ? Failure::of(Failure::Kind::changed) : Failure::fromErrno(error);
        }
    }
    committed = true;
    step("renamed");
    // The rename is done; a failed folder flush only weakens durability, the
    // file itself is complete either way.
    if (::fsync(dirFd) != 0)
        qCWarning(lcSafeFile, "fsync of the folder of %s failed: %s", encodedTarget.constData(), strerror(errno));
    step("folder-synced");
    return std::nullopt;
}

Outcome moveNoReplace(const QString &from, const QString &to)
{
    const QByteArray source = encoded(from);
    const QByteArray destination = encoded(to);
    if (!step("before-move"))
        return Failure::of(Failure::Kind::aborted);
    if (const int error = NoReplaceRename::renameAt(AT_FDCWD, source.constData(), AT_FDCWD, destination.constData());
        error != 0) {
        if (error == EEXIST)
            return Failure::withReason(Failure::Kind::changed, Texts::text("msg.errNameTaken"));
        // What cannot be moved even by claiming the name first (see
        // NoReplaceRename) gets a clear refusal: an ordinary rename could
        // overwrite a file that appears at the last moment.
        if (error == EINVAL || error == ENOSYS)
            return Failure::withReason(Failure::Kind::unsupported, Texts::text("msg.errNoSafeMove"));
        if (error == EACCES || error == EPERM)
            return moveRefusal(error, from, to);
        return Failure::fromErrno(error);
    }
    step("moved");
    syncFolderOf(destination);
    if (QFileInfo(from).absolutePath() != QFileInfo(to).absolutePath())
        syncFolderOf(source);
    return std::nullopt;
}

bool isOwnTemporaryName(const QString &fileName)
{
    return ownTemporaryPattern().match(fileName).hasMatch();
}

int removeLeftoverTemporaries(const QString &folder)
{
    const QByteArray encodedFolder = encoded(folder);
    const int dirFd = ::open(encodedFolder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return 0;
    DIR *dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return 0;
    }
    std::vector<QByteArray> candidates;
    while (const dirent *entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.')
            continue;
        if (isOwnTemporaryName(QFile::decodeName(entry->d_name)))
            candidates.emplace_back(entry->d_name);
    }
    int removed = 0;
    for (const QByteArray &name : candidates) {
        const int fd = ::openat(dirFd, name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
        if (fd < 0)
            continue;
        struct stat held, named;
        const bool ours = ::fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && held.st_uid == ::geteuid();
        // A write in progress holds the lock; a crashed one released it.
        if (ours && ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstatat(dirFd, name.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0
            && named.st_ino == held.st_ino && named.st_dev == held.st_dev) {
            if (::unlinkat(dirFd, name.constData(), 0) == 0)
                ++removed;
        }
        ::close(fd);
    }
    if (removed > 0)
        ::fsync(dirFd);
    ::closedir(dir);
    return removed;
}

PathLocks::Guard::~Guard()
{
    for (auto it = held.rbegin(); it != held.rend(); ++it)
        (*it)->unlock();
}

QString PathLocks::keyOf(const QString &path)
{
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    if (!canonical.isEmpty())
        return canonical;
    // A file that does not exist yet (a new sidecar): its folder resolved.
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    if (!folder.isEmpty())
        return folder + u'/' + info.fileName();
    return QDir::cleanPath(info.absoluteFilePath());
}

PathLocks::Guard PathLocks::lock(const QStringList &paths)
{
    static std::mutex registryMutex;
    static std::map<QString, std::weak_ptr<std::mutex>> registry;

    QStringList keys;
    for (const QString &path : paths)
        keys.append(keyOf(path));
    keys.sort();
    keys.removeDuplicates();

    std::vector<std::shared_ptr<std::mutex>> mutexes;
    {
        std::lock_guard<std::mutex> registryLock(registryMutex);
        if (registry.size() > 256) {
            for (auto it = registry.begin(); it != registry.end();)
                it = it->second.expired() ? registry.erase(it) : std::next(it);
        }
        for (const QString &key : keys) {
            std::shared_ptr<std::mutex> mutex = registry[key].lock();
            if (!mutex) {
                mutex = std::make_shared<std::mutex>();
                registry[key] = mutex;
            }
            mutexes.push_back(std::move(mutex));
        }
    }
    Guard guard;
    for (auto &mutex : mutexes) {
        mutex->lock();
        guard.held.push_back(std::move(mutex));
    }
    return guard;
}

void setStepHook(StepHook hook)
{
    std::lock_guard<std::mutex> lock(hookMutex());
    hookSlot() = std::move(hook);
    hookSet = bool(hookSlot());
}

bool step(std::string_view name)
{
    if (!hookSet.load(std::memory_order_relaxed))
        return true;
    StepHook hook;
    {
        std::lock_guard<std::mutex> lock(hookMutex());
        hook = hookSlot();
    }
    return !hook || hook(name);
}

} // namespace SafeFile
