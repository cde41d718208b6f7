#include "viewer/ViewerViewController.h"

#include "fileops/XmpRating.h"
#include "library/PhotosBelow.h"
#include "platform/FileNames.h"
#include "platform/HandOff.h"
#include "platform/Trash.h"
#include "settings/Settings.h"
#include "settings/SortKey.h"
#include "settings/Texts.h"
#include "viewer/ViewerRules.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QGuiApplication>
#include <QPointer>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <functional>
#include <future>
#include <mutex>
#include <utility>

#include <sys/resource.h>
#include <unistd.h>

namespace {

// The empty state of a folder without photos: the system's reason when it
// cannot be listed, else whether its last photos just went.
QString noPhotosText(const QString &folder, int listingError, bool photosWent = false)
{
    // A folder renamed or removed while shown (a card taken out) is named.
    if (listingError == ENOENT)
        return Texts::format("ui.folderGone", {QFileInfo(folder).fileName()});
    if (listingError)
        return Texts::format("ui.folderUnreadable", {QString::fromLocal8Bit(std::strerror(listingError))});
    return Texts::text(photosWent ? "ui.noMore" : "ui.noImages");
}

void cancelAll(QThreadPool &pool)
{
    pool.clear();
}

// QThread::LowPriority does nothing under Linux's default scheduler, so work that
// must yield to the window and to the shown photo's decode lowers its own thread's
// nice value. The main thread then gets the cores back within a tick on a
// two-core machine, where six decoding threads otherwise starve it.
void yieldToForeground(int niceness)
{
    thread_local int applied = 0;
    if (applied >= niceness)
        return;
    if (setpriority(PRIO_PROCESS, id_t(gettid()), niceness) == 0)
        applied = niceness;
}

struct DecodeAhead {
    std::mutex mutex;
    QString url;
    int maxPixelSize = 0;
    std::shared_future<void> done;
};

DecodeAhead &decodeAheadState()
{
    static DecodeAhead state;
    return state;
}

// Waits for a launch-time decode of this photo at a sufficient size, if one runs.
void waitForDecodeAhead(const QString &url, int maxPixelSize)
{
    DecodeAhead &ahead = decodeAheadState();
    std::shared_future<void> done;
    {
        std::lock_guard lock(ahead.mutex);
        if (ahead.url != url || ahead.maxPixelSize < maxPixelSize || !ahead.done.valid())
            return;
        done = ahead.done;
    }
    done.wait();
}

constexpr int prefetchNiceness = 5;
constexpr int backgroundNiceness = 10;

} // namespace

ViewerViewController::ViewerViewController(QObject *parent)
    : ViewerViewController(ImageLoader::shared(), parent)
{
}

ViewerViewController::ViewerViewController(ImageLoader &imageLoader, QObject *parent)
    : QObject(parent)
    , loader(imageLoader)
{
    decodeQueue.setObjectName(QStringLiteral("glanto.decode"));
    decodeQueue.setMaxThreadCount(2);
    prefetchQueue.setObjectName(QStringLiteral("glanto.prefetch"));
    prefetchQueue.setMaxThreadCount(1);
    prefetchQueue.setThreadPriority(QThread::LowPriority);
    thumbQueue.setObjectName(QStringLiteral("glanto.thumb"));
    thumbQueue.setMaxThreadCount(2);
    thumbQueue.setThreadPriority(QThread::LowPriority);
    backgroundQueue.setMaxThreadCount(2);
    backgroundQueue.setThreadPriority(QThread::LowPriority);
    listingQueue.setMaxThreadCount(1);

    // A copy from a card or an editor's save comes as a burst of events: one
    // listing for each burst, at most a few a second.
    refreshTimer.setSingleShot(true);
    refreshTimer.setInterval(300);
    connect(&refreshTimer, &QTimer::timeout, this, &ViewerViewController::refreshFolder);
    goneTimer.setSingleShot(true);
    goneTimer.setInterval(2000);
    connect(&goneTimer, &QTimer::timeout, this, &ViewerViewController::refreshFolder);
    // Back from another program, which may have written without the watch seeing it
    // (a file rewritten in place, a network folder).
    if (auto *gui = qobject_cast<QGuiApplication *>(QCoreApplication::instance())) {
        connect(gui, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState state) {
            if (state == Qt::ApplicationActive && watcher)
                refreshTimer.start();
        });
    }
}

ViewerViewController::~ViewerViewController()
{
    // Owners cancel and wait: no background work may outlive the loader calls it
    // makes for us. Every folder-wide job checks these tokens between files, so
    // the wait is for at most one file's work per thread.
    liveGeneration->store(-1);
    liveWarmup->store(-1);
    liveFolder->store(-1);
    for (QThreadPool *pool : {&decodeQueue, &prefetchQueue, &thumbQueue, &backgroundQueue, &listingQueue}) {
        pool->clear();
        pool->waitForDone();
    }
}

int ViewerViewController::targetSize() const
{
    return previewTargetSize ? previewTargetSize() : 2048;
}

std::optional<QString> ViewerViewController::shownPhotoPath() const
{
    if (state == PhotoState::none || state == PhotoState::pending)
        return std::nullopt;
    const std::optional<ImageItem> item = folder.current();
    return item ? std::optional<QString>(item->url) : std::nullopt;
}

bool ViewerViewController::currentFileUnchanged()
{
    if (folder.currentMatchesItsFile())
        return true;
    refreshFolder();
    return false;
}

// ---- Opening and showing

void ViewerViewController::cancelFolderWork()
{
    prefetchedURLs.clear();
    heldWork.clear();
    cancelAll(decodeQueue);
    cancelAll(prefetchQueue);
    cancelAll(thumbQueue);
    cancelAll(backgroundQueue);
    ++folderGeneration;
    liveFolder->store(folderGeneration);
    // The old folder's warm-up stops at its next photo, not when the new one starts.
    ++warmupGeneration;
    liveWarmup->store(warmupGeneration);
}

bool ViewerViewController::open(const QString &url)
{
    cancelFolderWork();
    holdingForFirstPhoto = true;
    showFirstAfterResort = QFileInfo(url).isDir();
    const bool hasPhotos = folder.load(url);

    if (hasPhotos) {
        reloadFilmstrip();
        showCurrent(true);
        whenFirstPhotoShown([this] {
            warmUp();
            startCaptureDates();
            watchFolder();
        });
    } else {
        releaseHeldWork();
        watchFolder();
        ++generation;
        liveGeneration->store(generation);
        state = PhotoState::none;
        reloadFilmstrip();
        // A folder that could not be read says so: it may hold many photos.
        const int error = folder.listingError();
        shownListingError = error;
        if (onNoPhotos)
            onNoPhotos(noPhotosText(folder.folderPath(), error));
        if (!error)
            lookBelow();
    }
    return hasPhotos;
}
void ViewerViewController::decodeAhead(const QString &url, int maxPixelSize)
{
    auto promise = std::make_shared<std::promise<void>>();
    {
        DecodeAhead &ahead = decodeAheadState();
        std::lock_guard lock(ahead.mutex);
        ahead.url = url;
        ahead.maxPixelSize = maxPixelSize;
        ahead.done = promise->get_future().share();
    }
    ImageLoader *l = &ImageLoader::shared();
    HandOff::start(*QThreadPool::globalInstance(), [l, url, maxPixelSize, promise] {
        l->info(url);
        l->preview(url, maxPixelSize);
        promise->set_value();
    });
}

void ViewerViewController::showCurrent(bool keepOpenState, bool rewritten)
{
    showingRewritten = rewritten;
    ++generation;
    liveGeneration->store(generation);
    fullRequested = false;
    const std::optional<ImageItem> item = folder.current();
    if (!item)
        return;
    state = PhotoState::pending;
    cancelAll(decodeQueue);
    if (!holdingForFirstPhoto)
        prefetchNeighbours();
    watchCurrentFile();
    if (onCurrentChanged)
        onCurrentChanged();

    const QString url = item->url;
    const int target = targetSize();
    if (const std::optional<ImageInfo> info = loader.cachedInfo(url)) {
        const QImage full = loader.cachedFull(url);
        const QImage preview = loader.cachedPreview(url, target);
        if (!full.isNull() || !preview.isNull()) {
            fullRequested = !full.isNull();
            const QSizeF size = info->pixelSize;
            if (!full.isNull() && !preview.isNull() && !info->isAnimated) {
                // The preview goes to the screen in this frame; the full bitmap
                // replaces it, without moving, once it is on the GPU.
                display(preview, keepOpenState, true, size);
                display(full, false, false, size);
            } else {
                display(full.isNull() ? preview : full, keepOpenState, true, size);
            }
            if (info->isAnimated && onAnimate)
                onAnimate(url);
            return;
        }
    }

    const int started = generation;
    auto live = liveGeneration;
    ImageLoader *l = &loader;
    HandOff::start(decodeQueue, [this, live, started, url, target, l, keepOpenState] {
        // No decoding for a photo already left.
        if (live->load() != started)
            return;
        waitForDecodeAhead(url, target);
        const std::optional<ImageInfo> info = l->info(url);
        const QImage preview = l->preview(url, target);
        const Codec::RefusalReason why = preview.isNull() ? Codec::whyRefused(url) : Codec::RefusalReason{};
        HandOff::invoke(
            this,
            [this, started, url, info, preview, why, keepOpenState] {
                if (generation != started)
                    return;
                if (preview.isNull()) {
                    decodeFailed(url, why);
                    return;
                }
                const QSizeF size = info ? info->pixelSize : QSizeF(preview.size());
                display(preview, keepOpenState, true, size);
                if (info && info->isAnimated && onAnimate)
                    onAnimate(url);
            },
            Qt::QueuedConnection);
    });
}

void ViewerViewController::display(const QImage &image, bool forceFit, bool isNewPhoto, QSizeF size)
{
    folder.setPixelSize(size.width(), size.height());
    if (isNewPhoto || state != PhotoState::full)
        state = isNewPhoto ? PhotoState::preview : PhotoState::full;
    const bool rewritten = isNewPhoto && std::exchange(showingRewritten, false);
    if (onDisplay)
        onDisplay(image, forceFit, isNewPhoto, size, rewritten);
    if (onDisplayed)
        onDisplayed(isNewPhoto);
    if (isNewPhoto)
        releaseHeldWork();
}

void ViewerViewController::decodeFailed(const QString &url, const Codec::RefusalReason &why)
{
    // The previous photo must not stay on screen under the new one's name: the
    // page shows the failure in the photo's place.
    state = PhotoState::failed;
    showingRewritten = false;
    if (onDecodeFailed)
        onDecodeFailed(url, why);
    releaseHeldWork();
}

void ViewerViewController::whenFirstPhotoShown(std::function<void()> work)
{
    if (holdingForFirstPhoto)
        heldWork.push_back(std::move(work));
    else
        work();
}

void ViewerViewController::releaseHeldWork()
{
    if (!holdingForFirstPhoto)
        return;
    holdingForFirstPhoto = false;
    // The neighbours first: the next key press is more likely than a filmstrip glance.
    if (folder.count() > 0)
        prefetchNeighbours();
    std::vector<std::function<void()>> work;
    work.swap(heldWork);
    for (const std::function<void()> &job : work)
        job();
}

void ViewerViewController::requestFull()
{
    if (fullRequested)
        return;
    const std::optional<ImageItem> item = folder.current();
    if (!item)
        return;
    fullRequested = true;
    const int started = generation;
    auto live = liveGeneration;
    ImageLoader *l = &loader;
    const QString url = item->url;
    HandOff::start(decodeQueue, [this, live, started, url, l] {
        if (live->load() != started)
            return;
        const std::optional<ImageInfo> info = l->info(url);
        const QImage full = l->full(url);
        HandOff::invoke(
            this,
            [this, started, info, full] {
                if (generation != started || full.isNull())
                    return;
                const QSizeF size = info ? info->pixelSize : QSizeF(full.size());
                display(full, false, false, size);
            },
            Qt::QueuedConnection);
    });
}

void ViewerViewController::navigate(int delta)
{
    lastNavDirection = delta;
    showFirstAfterResort = false;
    folder.move(delta);
    showCurrent(false);
}

void ViewerViewController::goTo(int index)
{
    lastNavDirection = index < folder.index() ? -1 : +1;
    showFirstAfterResort = false;
    folder.jump(index);
    showCurrent(false);
}

void ViewerViewController::goLast()
{
    goTo(std::max(folder.count() - 1, 0));
}

void ViewerViewController::prefetchNeighbours()
{
    const int count = folder.count();
    const int current = folder.index();
    if (count == 0 || current < 0 || current >= count)
        return;
    const QList<ImageItem> &items = folder.items();

    QSet<QString> keep;
    for (int i = 0; i < count; ++i) {
        if (withinKeepDistance(i, current, count))
            keep.insert(items.at(i).url);
    }
    for (const QString &url : std::as_const(prefetchedURLs)) {
        if (!keep.contains(url))
            loader.dropPreview(url);
    }
    prefetchedURLs.intersect(keep);

    cancelAll(prefetchQueue);
    const QString currentURL = items.at(current).url;
    const int target = targetSize();
    ImageLoader *l = &loader;
    for (int position : prefetchCandidates(current, count, lastNavDirection)) {
        const QString url = items.at(position).url;
        if (url == currentURL)
            continue;
        prefetchedURLs.insert(url);
        if (!loader.cachedPreview(url, target).isNull())
            continue;
        HandOff::start(prefetchQueue, [l, url, target] {
            yieldToForeground(prefetchNiceness);
            l->info(url);
            l->preview(url, target);
        });
    }
}

void ViewerViewController::warmUp()
{
    ++warmupGeneration;
    liveWarmup->store(warmupGeneration);
    QStringList urls;
    for (int position : warmupOrder(folder.index(), folder.count()))
        urls << folder.items().at(position).url;
    auto live = liveWarmup;
    const int started = warmupGeneration;
    ImageLoader *l = &loader;
    HandOff::start(backgroundQueue, [live, started, urls, l] {
        if (live->load() != started)
            return;
        yieldToForeground(backgroundNiceness);
        for (const QString &url : urls) {
            if (live->load() != started)
                return;
            l->thumbnail(url);
            QThread::msleep(30);
        }
    });
}

void ViewerViewController::startCaptureDates()
{
    if (!folder.needsCaptureDates())
        return;
    QList<QPair<QString, std::optional<QDateTime>>> missing;
    for (const ImageItem &item : folder.items()) {
        if (!item.captureDate)
            missing.append({item.url, item.modified});
    }
    const int started = folderGeneration;
    auto live = liveFolder;
    QPointer<ViewerViewController> self(this);
    HandOff::start(backgroundQueue, [self, live, missing, started] {
        yieldToForeground(backgroundNiceness);
        QHash<QString, QDateTime> dates;
        for (const auto &[url, modified] : missing) {
            // Another folder or a closing window ends the scan at the next file.
            if (live->load() != started)
                return;
            dates.insert(url, FolderModel::captureDate(url, modified));
        }
        HandOff::invoke(
            qApp,
            [self, dates, started] {
                // Dropped when another folder was opened meanwhile.
                if (!self || self->folderGeneration != started)
                    return;
                self->folder.applyCaptureDates(dates);
                self->resort();
            },
            Qt::QueuedConnection);
    });
}

void ViewerViewController::resort()
{
    if (folder.count() == 0)
        return;
    if (!showFirstAfterResort) {
        const std::optional<ImageItem> current = folder.current();
        folder.resort(current ? std::optional<QString>(current->url) : std::nullopt);
        reloadFilmstrip();
        prefetchNeighbours();
        if (onCurrentChanged)
            onCurrentChanged();
    } else {
        folder.resort(std::nullopt);
        reloadFilmstrip();
        showCurrent(true);
    }
}

void ViewerViewController::reloadFilmstrip()
{
    ++filmstripGeneration;
    if (onFolderReloaded)
        onFolderReloaded();
}

QImage ViewerViewController::thumbnailFor(int position)
{
    if (position < 0 || position >= folder.count())
        return {};
    const QString url = folder.items().at(position).url;
    const QImage cached = loader.cachedThumbnail(url);
    if (!cached.isNull())
        return cached;
    // The thumbnail is matched to its cell by file and strip generation when it
    // lands: a re-sort or another folder may have given this position to another
    // photo meanwhile.
    QPointer<ViewerViewController> self(this);
    const int started = filmstripGeneration;
    auto live = liveFolder;
    const int folderStarted = folderGeneration;
    ImageLoader *l = &loader;
    auto job = [self, live, folderStarted, started, position, url, l] {
        if (live->load() != folderStarted)
            return;
        yieldToForeground(backgroundNiceness);
        const QImage thumb = l->thumbnail(url);
        HandOff::invoke(
            qApp,
            [self, started, position, url, thumb] {
                if (!self || started != self->filmstripGeneration || position >= self->folder.count()
                    || self->folder.items().at(position).url != url)
                    return;
                if (self->onThumbnail)
                    self->onThumbnail(position, thumb);
            },
            Qt::QueuedConnection);
    };
    whenFirstPhotoShown([this, job] { HandOff::start(thumbQueue, job); });
    return {};
}

void ViewerViewController::settingsDidChange(const QString &what)
{
    if (what == QLatin1String("sort")) {
        resort();
        startCaptureDates();
    } else if (what == QLatin1String("hdr")) {
        loader.handleMemoryPressure();
        showCurrent(false);
    }
    // "slideshow" and "rating" concern the slideshow and the badge.
}

void ViewerViewController::currentPhotoTrashed(int startedGeneration)
{
    if (generation != startedGeneration)
        return;
    modelEdited();
    if (const std::optional<ImageItem> item = folder.current())
        loader.invalidate(item->url);
    if (folder.removeCurrent()) {
        reloadFilmstrip();
        showCurrent(false);
    } else {
        ++generation;
        liveGeneration->store(generation);
        state = PhotoState::none;
        reloadFilmstrip();
        if (onNoPhotos)
            onNoPhotos(Texts::text("ui.noMore"));
    }
}

void ViewerViewController::photoTrashed(const QString &url, int startedFolderGeneration)
{
    if (folderGeneration != startedFolderGeneration)
        return;
    const std::optional<int> at = folder.position(url);
    if (!at)
        return;
    if (*at == folder.index()) {
        currentPhotoTrashed(generation);
        return;
    }
    modelEdited();
    loader.invalidate(url);
    folder.removeAt(*at);
    reloadFilmstrip();
    if (onCurrentChanged)
        onCurrentChanged();
}

void ViewerViewController::watchFolder()
{
    refreshTimer.stop();
    goneTimer.stop();
    if (watcher) {
        watcher->removePaths(watcher->files() + watcher->directories());
    } else {
        watcher = new QFileSystemWatcher(this);
        const auto changed = [this] {
            if (!refreshTimer.isActive())
                refreshTimer.start();
        };
        // A watched folder renamed away tells its own watch nothing (inotify's
        // move-self is not asked for on folders); the folder above sees the
        // rename, and only its change that takes the folder matters here.
        const auto directoryChanged = [this, changed](const QString &path) {
            if (path != folder.folderPath() && QFileInfo(folder.folderPath()).isDir())
                return;
            changed();
        };
        connect(watcher, &QFileSystemWatcher::directoryChanged, this, directoryChanged);
        connect(watcher, &QFileSystemWatcher::fileChanged, this, [this, changed](const QString &path) {
            if (!isSidecar(path)) {
                changed();
                return;
            }
            // Written over by another program (a new file renamed over it ends
            // the watch, which is made again here).
            if (watchCurrentFile(true))
                return;
            if (const std::optional<ImageItem> item = folder.current(); item && onSidecarChanged)
                onSidecarChanged(item->url);
        });
    }
    if (!folder.folderPath().isEmpty() && QFileInfo(folder.folderPath()).isDir()) {
        watcher->addPath(folder.folderPath());
        const QString above = QFileInfo(folder.folderPath()).absolutePath();
        if (above != folder.folderPath())
            watcher->addPath(above);
    }
    watchCurrentFile();
}

bool ViewerViewController::watchCurrentFile(bool renew)
{
    // The folder's own watch sees files come, go and be replaced; a file
    // written over in place is seen only by a watch of its own. A file
    // replaced under its name leaves the watch on the old one: renewed after
    // every change.
    if (!watcher)
        return false;
    const std::optional<ImageItem> item = folder.current();
    // The photo, and the sidecars its rating may be read from.
    QStringList wanted;
    if (item && QFileInfo(item->url).isFile()) {
        wanted << item->url;
        if (const QString shared = XmpRating::sidecarPath(item->url); QFileInfo(shared).isFile())
            wanted << shared;
        if (const std::optional<QString> own = wholeNameSidecar(item->url))
            wanted << *own;
    }
    const QStringList watched = watcher->files();
    const QSet<QString> before(watched.begin(), watched.end());
    const QSet<QString> after(wanted.begin(), wanted.end());
    if (!renew && before == after)
        return false;
    // A sidecar of the same photo made or removed since it was last watched.
    const bool sidecarsChanged = item && before.contains(item->url) && after.contains(item->url) && before != after;
    if (!watched.isEmpty())
        watcher->removePaths(watched);
    if (!wanted.isEmpty())
        watcher->addPaths(wanted);
    if (!sidecarsChanged || !onSidecarChanged)
        return false;
    onSidecarChanged(item->url);
    return true;
}

void ViewerViewController::lookBelow()
{
    const QString path = folder.folderPath();
    if (path.isEmpty() || !onPhotosBelow)
        return;
    const int startedFolder = folderGeneration;
    QPointer<ViewerViewController> self(this);
    HandOff::start(backgroundQueue, [self, path, startedFolder] {
        const std::optional<QString> below = nearestFolderWithPhotos(path);
        if (!below)
            return;
        HandOff::invoke(
            qApp,
            [self, below, startedFolder] {
                // Another folder was opened meanwhile, or photos came to this one.
                if (!self || self->folderGeneration != startedFolder || self->folder.current() || !self->onPhotosBelow)
                    return;
                self->onPhotosBelow(*below);
            },
            Qt::QueuedConnection);
    });
}

void ViewerViewController::refreshFolder()
{
    refreshTimer.stop();
    if (folder.folderPath().isEmpty())
        return;
    if (listing) {
        listAgain = true;
        return;
    }
    listing = true;
    const QString path = folder.folderPath();
    const int startedFolder = folderGeneration;
    const int startedEdits = localEdits;
    QPointer<ViewerViewController> self(this);
    HandOff::start(listingQueue, [self, path, startedFolder, startedEdits] {
        int error = 0;
        const std::optional<QList<ImageItem>> listed = FolderModel::listFolder(path, &error);
        HandOff::invoke(
            qApp,
            [self, path, listed, error, startedFolder, startedEdits] {
                if (!self)
                    return;
                self->listing = false;
                const bool sameFolder = self->folderGeneration == startedFolder;
                // A folder removed or renamed away holds none of the photos
                // shown: they go, and its place is looked at again until a
                // folder is there.
                const bool gone = !listed && FileNames::isAbsence(error);
                if (sameFolder && gone)
                    self->goneTimer.start();
                // A trash or a rename here since the listing began would come
                // back from it as a file that is still there: listed again.
                if (sameFolder && self->localEdits != startedEdits)
                    self->listAgain = true;
                // A folder that cannot be listed for another reason (an
                // unreachable network share) leaves what is shown alone.
                else if (sameFolder && (listed || gone))
                    self->applyListing(listed.value_or(QList<ImageItem>{}), listed ? 0 : error);
                // A folder made again under the same name is another folder
                // to the watch, which ended with the old one; so is the folder
                // above when it went too (a card taken out and put back).
                if (sameFolder && listed && self->watcher) {
                    const QString above = QFileInfo(path).absolutePath();
                    for (const QString &watched : {path, above}) {
                        if (!self->watcher->directories().contains(watched))
                            self->watcher->addPath(watched);
                    }
                }
                if (self->listAgain) {
                    self->listAgain = false;
                    self->refreshFolder();
                }
            },
            Qt::QueuedConnection);
    });
}

void ViewerViewController::applyListing(const QList<ImageItem> &listed, int listingError)
{
    const std::optional<ImageItem> before = folder.current();
    const FolderChanges changes = folder.refresh(listed);
    watchCurrentFile(true);
    const int errorShown = std::exchange(shownListingError, listingError);
    if (!changes.any()) {
        // No photo came or went, but the folder may have: made again empty
        // where it could not be read, it says it holds no photos.
        if (!folder.current() && listingError != errorShown && onNoPhotos)
            onNoPhotos(noPhotosText(folder.folderPath(), listingError));
        return;
    }
    for (const QStringList &urls :
         {changes.gone, changes.changed, QStringList(changes.moved.keys()), QStringList(changes.moved.values())}) {
        for (const QString &url : urls) {
            loader.invalidate(url);
            prefetchedURLs.remove(url);
        }
    }
    if (onFilesChanged)
        onFilesChanged(changes);

    const std::optional<ImageItem> now = folder.current();
    if (!now) {
        ++generation;
        liveGeneration->store(generation);
        state = PhotoState::none;
        reloadFilmstrip();
        if (onNoPhotos)
            onNoPhotos(noPhotosText(folder.folderPath(), listingError, !changes.gone.isEmpty()));
        return;
    }
    reloadFilmstrip();
    const bool samePhoto = before && (before->url == now->url || changes.moved.value(before->url) == now->url);
    if (!samePhoto || changes.changed.contains(now->url)) {
        // Another photo took the place of the shown one, or its file was
        // written anew: shown afresh, as a new photo.
        showCurrent(!before, samePhoto);
    } else {
        prefetchNeighbours();
        if (onCurrentChanged)
            onCurrentChanged();
    }
    startCaptureDates();
}

void ViewerViewController::fileRewritten(const QString &url)
{
    modelEdited();
    folder.restat(url);
}

void ViewerViewController::filePixelsReplaced(const QString &url)
{
    loader.invalidate(url);
    prefetchedURLs.remove(url);
    reloadFilmstrip();
}

void ViewerViewController::photoRenamed(const QString &url, const QString &newUrl, int startedFolderGeneration)
{
    loader.invalidate(url);
    loader.invalidate(newUrl);
    prefetchedURLs.remove(url);
    if (folderGeneration != startedFolderGeneration)
        return;
    const std::optional<int> at = folder.position(url);
    modelEdited();
    if (!at || !folder.renameAt(*at, QFileInfo(newUrl).fileName()))
        return;
    reloadFilmstrip();
    if (*at == folder.index())
        showCurrent(false);
}

// ---- Sorting

void ViewerViewController::setSortKey(int tag)
{
    if (tag < 0 || tag > 4 || sortKeyFromRaw(tag) == Settings::sortKey())
        return;
    Settings::setSortKey(sortKeyFromRaw(tag));
    resort();
    startCaptureDates();
}

void ViewerViewController::toggleSortReversed()
{
    Settings::setSortReversed(!Settings::sortReversed());
    resort();
}
