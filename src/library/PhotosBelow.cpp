#include "library/PhotosBelow.h"

#include "library/NameOrder.h"
#include "platform/SupportedFiles.h"

#include <QFile>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <utility>

namespace {

constexpr int maxDepth = 3;
constexpr int maxFolders = 256;

struct Listing
{
    bool hasPhoto = false;
    QStringList folders; // sub-folder names, not hidden, not links
};

Listing list(const QString &folder)
{
    Listing listing;
    const QByteArray encodedFolder = QFile::encodeName(folder);
    // The folder opened may itself be a link (~/Pictures kept elsewhere); the
    // links below it are passed over by their entries.
    const int fd = ::open(encodedFolder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return listing;
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return listing;
    }
    while (const dirent *entry = ::readdir(dir)) {
        const QString name = QFile::decodeName(entry->d_name);
        if (name.startsWith(u'.'))
            continue;
        // d_type may be unknown on some file systems; lstat answers then.
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat info;
            if (::fstatat(fd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            type = S_ISDIR(info.st_mode) ? DT_DIR : S_ISREG(info.st_mode) ? DT_REG : DT_UNKNOWN;
        }
        if (type == DT_DIR)
            listing.folders << name;
        else if (type == DT_REG && isSupportedImageName(name))
            listing.hasPhoto = true;
    }
    ::closedir(dir);
    const NameOrder &order = NameOrder::forCurrentThread();
    std::sort(listing.folders.begin(), listing.folders.end(),
              [&order](const QString &a, const QString &b) { return order.lessThan(a, b); });
    return listing;
}

} // namespace

std::optional<QString> nearestFolderWithPhotos(const QString &folder)
{
    std::deque<std::pair<QString, int>> waiting{{folder, 0}};
    int listed = 0;
    while (!waiting.empty() && listed < maxFolders) {
        auto [path, depth] = std::move(waiting.front());
        waiting.pop_front();
        const Listing listing = list(path);
        ++listed;
        if (depth > 0 && listing.hasPhoto)
            return path;
        if (depth == maxDepth)
            continue;
        for (const QString &name : listing.folders)
            waiting.emplace_back(path + u'/' + name, depth + 1);
    }
    return std::nullopt;
}
