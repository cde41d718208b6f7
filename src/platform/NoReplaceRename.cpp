#include "platform/NoReplaceRename.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <utility>

namespace NoReplaceRename {

namespace {

bool sameFile(const struct stat &a, const struct stat &b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// The folder part and the name part of a path as given ("." for a bare name).
std::pair<std::string, std::string> splitPath(const char *path)
{
    const std::string whole(path);
    const size_t slash = whole.rfind('/');
    if (slash == std::string::npos)
        return {".", whole};
    return {slash == 0 ? "/" : whole.substr(0, slash), whole.substr(slash + 1)};
}

// Whether the folder dirFd + folder lists an entry spelled exactly name.
bool listsExactly(int dirFd, const std::string &folder, const std::string &name)
{
    const int fd = ::openat(dirFd, folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return true; // cannot tell: count the name as another file's
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return true;
    }
    bool found = false;
    while (const dirent *entry = ::readdir(dir)) {
        if (name == entry->d_name) {
            found = true;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

// Whether the name to already leads to the file at from: the same file under
// a spelling that differs only in case, on a file system that ignores case.
// Either it is the very same file (a FUSE drive may give each spelling its own
// inode number, so that alone does not tell), or the two names differ only in
// case within one folder, to leads somewhere, and the folder lists no entry
// spelled as to.
bool leadsToItself(int fromDir, const char *from, int toDir, const char *to)
{
    struct stat source {};
    struct stat existing {};
    if (::fstatat(fromDir, from, &source, AT_SYMLINK_NOFOLLOW) != 0
        || ::fstatat(toDir, to, &existing, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    // A file with a second hard link is not taken for itself: a rename between
    // two links of one file does nothing.
    if (sameFile(source, existing) && source.st_nlink == 1)
        return true;
    if (fromDir != toDir)
        return false;
    const auto [fromFolder, fromName] = splitPath(from);
    const auto [toFolder, toName] = splitPath(to);
    return fromFolder == toFolder && fromName != toName && ::strcasecmp(fromName.c_str(), toName.c_str()) == 0
           && !listsExactly(toDir, toFolder, toName);
}

} // namespace

int renameAt(int fromDir, const char *from, int toDir, const char *to)
{
    if (::renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE) == 0)
        return 0;
    const int error = errno;
    if (error == EEXIST && leadsToItself(fromDir, from, toDir, to))
        return ::renameat(fromDir, from, toDir, to) == 0 ? 0 : errno;
    if (error != EINVAL && error != ENOSYS && error != EOPNOTSUPP)
        return error;
    // A folder's EINVAL (moved into itself) is the real answer: only files and
    // links are moved by claiming the name.
    struct stat source {};
    if (::fstatat(fromDir, from, &source, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(source.st_mode)
        && !S_ISLNK(source.st_mode))
        return error;
    return renameByClaim(fromDir, from, toDir, to);
}

int renameByClaim(int fromDir, const char *from, int toDir, const char *to)
{
    struct stat source {};
    if (::fstatat(fromDir, from, &source, AT_SYMLINK_NOFOLLOW) != 0)
        return errno;
    if (leadsToItself(fromDir, from, toDir, to))
        return ::renameat(fromDir, from, toDir, to) == 0 ? 0 : errno;
    const int claim = ::openat(toDir, to, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (claim < 0)
        return errno;
    struct stat placeholder {};
    const bool known = ::fstat(claim, &placeholder) == 0;
    ::close(claim);
    if (::renameat(fromDir, from, toDir, to) == 0)
        return 0;
    const int failed = errno;
    // The placeholder goes again, if it is still ours.
    struct stat now {};
    if (known && ::fstatat(toDir, to, &now, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(now, placeholder) && now.st_size == 0)
        ::unlinkat(toDir, to, 0);
    return failed;
}

} // namespace NoReplaceRename
