#include "library/FolderModel.h"

#include "library/CaptureDate.h"
#include "library/NameOrder.h"
#include "platform/SupportedFiles.h"
#include "settings/Settings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <map>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

namespace {

QString joined(const QString &folder, const QString &name)
{
    return folder.endsWith(u'/') ? folder + name : folder + u'/' + name;
}

QString parentOf(const QString &cleanPath)
{
    const qsizetype slash = cleanPath.lastIndexOf(u'/');
    if (slash <= 0)
        return QStringLiteral("/");
    return cleanPath.left(slash);
}

QDateTime dateFrom(qint64 seconds, qint64 nanoseconds)
{
    return QDateTime::fromMSecsSinceEpoch(seconds * 1000 + nanoseconds / 1000000, Qt::UTC);
}

// The three attributes of one entry, following symbolic links so that a
// linked photo shows the photo's own dates and size. statx is asked for
// exactly these three and the type, and nothing else; the birth time exists
// only where the file system records it. False when the entry is known not
// to be a regular file (or a link to one): a FIFO, socket, device or folder
// named like a photo is no photo, and opening a FIFO would block its reader.
// An entry whose attributes cannot be read at all (a dangling link) stays an
// item; nothing will decode it, and nothing opens it but a regular file.
bool readAttributes(int directory, const char *name, ImageItem &item)
{
    struct statx info;
    if (::statx(directory, name, AT_STATX_SYNC_AS_STAT, STATX_TYPE | STATX_MTIME | STATX_BTIME | STATX_SIZE,
                &info) == 0) {
        if (!(info.stx_mask & STATX_TYPE) || !S_ISREG(info.stx_mode))
            return false;
        if (info.stx_mask & STATX_MTIME)
            item.modified = dateFrom(info.stx_mtime.tv_sec, info.stx_mtime.tv_nsec);
        if (info.stx_mask & STATX_BTIME)
            item.created = dateFrom(info.stx_btime.tv_sec, info.stx_btime.tv_nsec);
        if (info.stx_mask & STATX_SIZE)
            item.fileSize = qint64(info.stx_size);
        return true;
    }
    if (errno != ENOSYS)
        return true;
    // Kernels or sandboxes without statx: plain stat, which has no birth time.
    struct stat plain;
    if (::fstatat(directory, name, &plain, 0) != 0)
        return true;
    if (!S_ISREG(plain.st_mode))
        return false;
    item.modified = dateFrom(plain.st_mtim.tv_sec, plain.st_mtim.tv_nsec);
    item.fileSize = qint64(plain.st_size);
    return true;
}

class Directory
{
public:
    // Opened by descriptor rather than opendir(): ThreadSanitizer then sees the
    // descriptor begin, and does not take a number Qt closed on another thread
    // (out of its sight) for one still in use there.
    explicit Directory(const QByteArray &path)
    {
        const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            return;
        handle = ::fdopendir(fd);
        if (!handle) {
            const int reason = errno;
            ::close(fd);
            errno = reason;
        }
    }
    ~Directory()
    {
        if (handle)
            ::closedir(handle);
    }
    Directory(const Directory &) = delete;
    Directory &operator=(const Directory &) = delete;

    DIR *handle = nullptr;
};

// The file attributes of a fresh reading, taken into an item.
// Whether now, read from the file, shows the file the item was made from:
// another size or modification time means it was changed or replaced.
bool sameFile(const ImageItem &item, const ImageItem &now)
{
    return item.fileSize == now.fileSize && item.modified == now.modified;
}

void takeAttributes(ImageItem &item, const ImageItem &now)
{
    item.modified = now.modified;
    item.created = now.created;
    item.fileSize = now.fileSize;
}

bool isPlainName(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
        && !name.contains(u'/') && !name.contains(QChar(0));
}

} // namespace

bool FolderModel::load(const QString &location)
{
    itemList.clear();
    currentIndex = 0;
    listedFolder.clear();
    listingErrno = 0;
    if (location.isEmpty())
        return false;

    const QString path = QDir::cleanPath(QFileInfo(location).absoluteFilePath());
    struct stat info;
    const bool exists = ::stat(QFile::encodeName(path).constData(), &info) == 0;
    const bool isFolder = exists && S_ISDIR(info.st_mode);
    const bool isFile = exists && S_ISREG(info.st_mode);
    const QString folder = isFolder ? path : parentOf(path);
    listedFolder = folder;

    QList<ImageItem> items = listFolder(folder, &listingErrno).value_or(QList<ImageItem>{});
    // A file opened directly is shown even when the listing left it out (a
    // name the rule does not know, a hidden file). One that does not exist
    // cannot be shown, so it is not added.
    std::optional<QString> selected;
    if (!isFolder) {
        selected = path;
        const bool listed = std::any_of(items.cbegin(), items.cend(),
                                        [&path](const ImageItem &item) { return item.url == path; });
        if (!listed && isFile)
            items.append(itemForFile(path));
    }

    itemList = std::move(items);
    currentIndex = 0;
    resort(selected);
    return !itemList.isEmpty();
}

std::optional<ImageItem> FolderModel::current() const
{
    if (itemList.isEmpty())
        return std::nullopt;
    return itemList.at(currentIndex);
}

void FolderModel::move(qint64 delta)
{
    const qint64 n = itemList.size();
    if (n == 0)
        return;
    // Reduced first, so that neither a large step nor a negative one can leave
    // the range.
    currentIndex = int((currentIndex + delta % n + n) % n);
}

void FolderModel::jump(qint64 position)
{
    if (position >= 0 && position < itemList.size())
        currentIndex = int(position);
}

std::optional<int> FolderModel::position(const QString &url) const
{
    for (qsizetype i = 0; i < itemList.size(); ++i) {
        if (itemList.at(i).url == url)
            return int(i);
    }
    return std::nullopt;
}

void FolderModel::resort(const std::optional<QString> &keeping)
{
    sortedKey = sortKeyFromRaw(static_cast<int>(Settings::sortKey()));
    sortedReversed = Settings::sortReversed();
    sortItems(itemList, sortedKey, sortedReversed);
    currentIndex = keeping ? position(*keeping).value_or(0) : 0;
}

void FolderModel::setPixelSize(double width, double height)
{
    if (itemList.isEmpty())
        return;
    itemList[currentIndex].pixelSize = QSizeF(width, height);
}

bool FolderModel::removeCurrent()
{
    if (itemList.isEmpty())
        return false;
    itemList.removeAt(currentIndex);
    currentIndex = std::min(currentIndex, std::max(count() - 1, 0));
    return !itemList.isEmpty();
}

bool FolderModel::removeAt(int position)
{
    if (position < 0 || position >= count())
        return !itemList.isEmpty();
    itemList.removeAt(position);
    if (position < currentIndex)
        --currentIndex;
    currentIndex = std::min(currentIndex, std::max(count() - 1, 0));
    return !itemList.isEmpty();
}

bool FolderModel::renameCurrent(const QString &newName)
{
    return renameAt(currentIndex, newName);
}

bool FolderModel::renameAt(int position, const QString &newName)
{
    if (position < 0 || position >= itemList.size() || !isPlainName(newName))
        return false;
    ImageItem &item = itemList[position];
    item.url = joined(parentOf(item.url), newName);
    return true;
}

FolderChanges FolderModel::refresh(const QList<ImageItem> &listed)
{
    FolderChanges changes;
    // Takes the attributes of the file as it is now, and notes a change.
    const auto update = [&changes](ImageItem &item, const ImageItem &now) {
        if (sameFile(item, now))
            return;
        takeAttributes(item, now);
        item.pixelSize.reset();
        item.captureDate.reset();
        changes.changed << item.url;
    };

    QHash<QString, qsizetype> listedAt;
    listedAt.reserve(listed.size());
    for (qsizetype i = 0; i < listed.size(); ++i)
        listedAt.insert(listed.at(i).url, i);
    std::vector<char> known(size_t(listed.size()), 0);
    std::vector<qsizetype> goneAt;
    for (qsizetype i = 0; i < itemList.size(); ++i) {
        ImageItem &item = itemList[i];
        const auto found = listedAt.constFind(item.url);
        if (found != listedAt.cend()) {
            known[size_t(*found)] = 1;
            update(item, listed.at(*found));
        } else if (QFileInfo(item.url).isFile()) {
            // Left out by the listing but still there: the file opened directly.
            update(item, itemForFile(item.url));
        } else {
            goneAt.push_back(i);
        }
    }

    // A rename keeps the size and the modification time: a gone file and a
    // new one that share both, with no other gone or new file sharing them,
    // are one file.
    using Stamp = std::pair<qint64, qint64>;
    const auto stampOf = [](const ImageItem &item) -> std::optional<Stamp> {
        if (item.fileSize <= 0 || !item.modified)
            return std::nullopt;
        return Stamp{item.fileSize, item.modified->toMSecsSinceEpoch()};
    };
    QList<ImageItem> added;
    std::map<Stamp, std::vector<qsizetype>> addedByStamp;
    for (qsizetype i = 0; i < listed.size(); ++i) {
        if (known[size_t(i)])
            continue;
        if (const std::optional<Stamp> stamp = stampOf(listed.at(i)))
            addedByStamp[*stamp].push_back(added.size());
        added.append(listed.at(i));
    }
    std::map<Stamp, int> goneByStamp;
    for (qsizetype at : goneAt) {
        if (const std::optional<Stamp> stamp = stampOf(itemList.at(at)))
            ++goneByStamp[*stamp];
    }
    std::vector<char> taken(size_t(added.size()), 0);
    std::vector<qsizetype> removed;
    for (qsizetype at : goneAt) {
        ImageItem &item = itemList[at];
        const std::optional<Stamp> stamp = stampOf(item);
        const auto candidates = stamp ? addedByStamp.find(*stamp) : addedByStamp.end();
        if (candidates != addedByStamp.end() && candidates->second.size() == 1 && goneByStamp[*stamp] == 1) {
            const qsizetype match = candidates->second.front();
            changes.moved.insert(item.url, added.at(match).url);
            item.url = added.at(match).url;
            taken[size_t(match)] = 1;
        } else {
            changes.gone << item.url;
            removed.push_back(at);
        }
    }
    for (auto it = removed.crbegin(); it != removed.crend(); ++it)
        removeAt(int(*it));

    QList<ImageItem> fresh;
    for (qsizetype i = 0; i < added.size(); ++i) {
        if (!taken[size_t(i)])
            fresh.append(std::move(added[i]));
    }
    const SortKey key = sortKeyFromRaw(static_cast<int>(Settings::sortKey()));
    const bool reversed = Settings::sortReversed();
    // Another copy of the program changed the order: this one follows it, rather
    // than placing new files by an order the list is not in.
    changes.resorted = key != sortedKey || reversed != sortedReversed;
    if (fresh.isEmpty() && !changes.resorted)
        return changes;

    changes.added = int(fresh.size());
    const std::optional<QString> keeping = current() ? std::optional<QString>(current()->url) : std::nullopt;
    if (changes.resorted || (fresh.size() > 64 && fresh.size() * 20 > itemList.size())) {
        // Many at once (a folder's worth moved in): one sort of the whole list
        // costs less than placing each (on 10,000 files, 10 ms against 70 ms
        // for 4,900 new ones; placing wins below about 500), at the price of
        // putting a photo renamed here back in its sorted place.
        itemList.append(std::move(fresh));
        sortItems(itemList, key, reversed);
        sortedKey = key;
        sortedReversed = reversed;
    } else {
        placeSorted(fresh, key, reversed);
    }
    currentIndex = keeping ? position(*keeping).value_or(0) : 0;
    return changes;
}

void FolderModel::placeSorted(QList<ImageItem> &fresh, SortKey key, bool reversed)
{
    sortItems(fresh, key, reversed);
    // Each new file goes before the first item that sorts after it, found by
    // halving; the items already there keep their order, so a renamed one
    // stays where it was.
    const auto sortsBefore = [&](const ImageItem &a, const ImageItem &b) {
        QList<ImageItem> pair{b, a};
        sortItems(pair, key, reversed);
        return pair.first().url == a.url;
    };
    qsizetype from = 0;
    for (ImageItem &item : fresh) {
        qsizetype low = from;
        qsizetype high = itemList.size();
        while (low < high) {
            const qsizetype middle = low + (high - low) / 2;
            if (sortsBefore(item, itemList.at(middle)))
                high = middle;
            else
                low = middle + 1;
        }
        itemList.insert(low, std::move(item));
        from = low + 1;
    }
}

void FolderModel::restat(const QString &url)
{
    const std::optional<int> at = position(url);
    if (!at)
        return;
    takeAttributes(itemList[*at], itemForFile(url));
}

bool FolderModel::needsCaptureDates() const
{
    if (sortKeyFromRaw(static_cast<int>(Settings::sortKey())) != SortKey::captureDate)
        return false;
    return std::any_of(itemList.cbegin(), itemList.cend(),
                       [](const ImageItem &item) { return !item.captureDate.has_value(); });
}

void FolderModel::applyCaptureDates(const QHash<QString, QDateTime> &dates)
{
    if (dates.isEmpty())
        return;
    for (ImageItem &item : itemList) {
        const auto found = dates.constFind(item.url);
        if (found != dates.constEnd())
            item.captureDate = *found;
    }
}

bool FolderModel::currentMatchesItsFile() const
{
    const std::optional<ImageItem> item = current();
    if (!item)
        return false;
    return sameFile(*item, itemForFile(item->url));
}

QList<ImageItem> FolderModel::photoItems() const
{
    QList<ImageItem> photos;
    for (const ImageItem &item : itemList) {
        if (isSupportedImageName(item.fileName()))
            photos << item;
    }
    return photos;
}

QDateTime FolderModel::captureDate(const QString &url, const std::optional<QDateTime> &fallback)
{
    return ::captureDate(url, fallback);
}

std::optional<QList<ImageItem>> FolderModel::listFolder(const QString &folder, int *error)
{
    Directory directory(QFile::encodeName(folder));
    if (!directory.handle) {
        if (error)
            *error = errno ? errno : EIO;
        return std::nullopt;
    }
    const int fd = ::dirfd(directory.handle);

    // Names first: the name test comes before any stat, so the other files
    // of a big folder cost nothing but their name.
    struct Entry {
        std::string bytes;   // as the file system spells it, for the stat
        QString name;
    };
    std::vector<Entry> names;
    while (const dirent *entry = ::readdir(directory.handle)) {
        // Hidden files, "." and "..".
        if (entry->d_name[0] == '.')
            continue;
        // The type the folder records rules out the plainly special entries
        // without a stat; links and unknown types are settled by the stat.
        if (entry->d_type != DT_REG && entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN)
            continue;
        QString name = QFile::decodeName(entry->d_name);
        if (isSupportedImageName(name))
            names.push_back({entry->d_name, std::move(name)});
    }
    // A name in another encoding than the system's reaches us with its bad
    // bytes replaced: the item stands for a path that does not exist (its
    // photo says so). When that path is another entry's, or another such
    // name's, the item would stand for the other file, and a Trash or a rename
    // of it would reach that file: such an entry is left out.
    const auto lossy = [](const Entry &entry) { return QFile::encodeName(entry.name).toStdString() != entry.bytes; };
    if (std::any_of(names.cbegin(), names.cend(), lossy)) {
        QSet<QString> taken;
        for (const Entry &entry : names) {
            if (!lossy(entry))
                taken.insert(entry.name);
        }
        std::erase_if(names, [&](const Entry &entry) {
            if (!lossy(entry))
                return false;
            if (taken.contains(entry.name))
                return true;
            taken.insert(entry.name);
            return false;
        });
    }

    QList<ImageItem> items(qsizetype(names.size()));
    ImageItem *const out = items.data();
    std::vector<char> regular(names.size(), 0);
    const auto fill = [&](size_t from, size_t to) {
        for (size_t i = from; i < to; ++i) {
            out[i].url = joined(folder, names[i].name);
            regular[i] = readAttributes(fd, names[i].bytes.c_str(), out[i]);
        }
    };
    // One stat per file is nearly all of the cost, and almost all of it is
    // spent in the kernel: a big folder is shared among a few threads.
    const size_t cores = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
    const size_t threads = std::clamp<size_t>(names.size() / 2048, 1, cores);
    if (threads == 1) {
        fill(0, names.size());
    } else {
        std::vector<std::thread> workers;
        const size_t share = (names.size() + threads - 1) / threads;
        for (size_t t = 1; t < threads; ++t)
            workers.emplace_back(fill, std::min(names.size(), t * share), std::min(names.size(), (t + 1) * share));
        fill(0, std::min(names.size(), share));
        for (std::thread &worker : workers)
            worker.join();
    }
    if (std::find(regular.cbegin(), regular.cend(), 0) != regular.cend()) {
        QList<ImageItem> files;
        files.reserve(items.size());
        for (size_t i = 0; i < names.size(); ++i) {
            if (regular[i])
                files.append(std::move(out[i]));
        }
        return files;
    }
    return items;
}

ImageItem FolderModel::itemForFile(const QString &path)
{
    ImageItem item;
    item.url = path;
    readAttributes(AT_FDCWD, QFile::encodeName(path).constData(), item);
    return item;
}

void FolderModel::sortItems(QList<ImageItem> &items, SortKey key, bool reversed)
{
    const qsizetype n = items.size();
    if (n < 2)
        return;
    const bool flip = (key != SortKey::name) != reversed;

    // Name keys are made once per item: all of them up front for the name
    // order, only for tied items in the others.
    const NameOrder &order = NameOrder::forCurrentThread();
    std::vector<std::optional<NameOrder::Key>> nameKeys(static_cast<size_t>(n));
    const auto nameKey = [&](qsizetype i) -> const NameOrder::Key & {
        auto &slot = nameKeys[size_t(i)];
        if (!slot) {
            // The name as a view into the URL: no copy for each of the items.
            // The URL's text outlives the key, which ends with this function.
            const QString &url = items.at(i).url;
            const qsizetype start = url.lastIndexOf(u'/') + 1;
            slot = order.key(QString::fromRawData(url.constData() + start, url.size() - start));
        }
        return *slot;
    };
    if (key == SortKey::name) {
        for (qsizetype i = 0; i < n; ++i)
            nameKey(i);
    }

    const qint64 past = distantPast().toMSecsSinceEpoch();
    const auto msecs = [past](const std::optional<QDateTime> &date) {
        return date ? date->toMSecsSinceEpoch() : past;
    };
    std::vector<qint64> values(static_cast<size_t>(n), 0);
    for (qsizetype i = 0; i < n; ++i) {
        const ImageItem &item = items.at(i);
        switch (key) {
        case SortKey::name: break;
        case SortKey::captureDate:
            // Until its capture date is read, a file sorts by the clock reading
            // of its modification time, which is what that read falls back to.
            values[size_t(i)] = msecs(item.captureDate ? item.captureDate
                                      : item.modified ? std::optional<QDateTime>(clockReading(*item.modified))
                                                      : std::nullopt);
            break;
        case SortKey::modified: values[size_t(i)] = msecs(item.modified); break;
        case SortKey::created: values[size_t(i)] = msecs(item.created); break;
        case SortKey::size: values[size_t(i)] = item.fileSize; break;
        }
    }

    const auto less = [&](qsizetype a, qsizetype b) {
        if (key != SortKey::name && values[size_t(a)] != values[size_t(b)])
            return values[size_t(a)] < values[size_t(b)];
        return order.compare(nameKey(a), nameKey(b)) < 0;
    };
    std::vector<qsizetype> positions(static_cast<size_t>(n));
    std::iota(positions.begin(), positions.end(), qsizetype(0));
    std::stable_sort(positions.begin(), positions.end(),
                     [&](qsizetype a, qsizetype b) { return flip ? less(b, a) : less(a, b); });

    // Put the items in place by following the permutation's cycles, rather
    // than building a second list of ten thousand items.
    ImageItem *const data = items.data();
    std::vector<bool> placed(static_cast<size_t>(n), false);
    for (qsizetype start = 0; start < n; ++start) {
        if (placed[size_t(start)])
            continue;
        ImageItem moving = std::move(data[start]);
        qsizetype at = start;
        while (positions[size_t(at)] != start) {
            const qsizetype from = positions[size_t(at)];
            data[at] = std::move(data[from]);
            placed[size_t(at)] = true;
            at = from;
        }
        data[at] = std::move(moving);
        placed[size_t(at)] = true;
    }
}
