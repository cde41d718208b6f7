#include "platform/RegularFile.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace RegularFile {

bool isRegular(const QByteArray &encodedPath)
{
    struct stat info;
    return !encodedPath.isEmpty() && ::stat(encodedPath.constData(), &info) == 0 && S_ISREG(info.st_mode);
}

bool isRegular(const QString &path)
{
    return isRegular(QFile::encodeName(path));
}

bool isOwnFileSlot(const QString &path)
{
    const QByteArray encoded = QFile::encodeName(path);
    struct stat info;
    if (encoded.isEmpty())
        return false;
    if (::lstat(encoded.constData(), &info) != 0)
        return errno == ENOENT;
    return S_ISREG(info.st_mode);
}

int openForReading(const QString &path)
{
    const QByteArray encoded = QFile::encodeName(path);
    // The stat first, so that a device is never opened at all (opening some has
    // side effects); the check on the descriptor closes the gap after it.
    if (!isRegular(encoded))
        return -1;
    int fd;
    do {
        fd = ::open(encoded.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return -1;
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return -1;
    }
    // Reads of a regular file never block anyway; the flag is cleared so that
    // nobody downstream has to think about EAGAIN.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

bool open(QFile &file, const QString &path)
{
    const int fd = openForReading(path);
    if (fd < 0)
        return false;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return false;
    }
    return true;
}

} // namespace RegularFile
