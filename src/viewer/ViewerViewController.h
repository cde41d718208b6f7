#pragma once

#include "library/FolderModel.h"
#include "library/ImageLoader.h"

#include <QImage>
#include <QObject>
#include <QSet>
#include <QSizeF>
#include <QThreadPool>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// The viewer's decisions without any widget: which photo is current, what is
// decoded for it and for its neighbours, and when a result is stale. It opens
// folders, moves between photos, schedules the decodes (a preview first, the
// full bitmap when asked), prefetches the neighbours, warms up thumbnails, reads
// capture dates and re-sorts. The page that shows it (ViewerPage) assigns the
// callbacks below and draws what they report.
//
// All state lives on the main thread. Background work runs on the controller's
// own pools (decode 2, prefetch 1, thumbnails 2, folder-wide work 2); every job
// belongs to the folder it was started for and stops at its next file when
// another folder is opened or the controller is destroyed, and every result
// carries the generation it was started with and is dropped when stale.
class QFileSystemWatcher;

class ViewerViewController : public QObject
{
    Q_OBJECT
public:
    // What the person sees of the current photo.
    enum class PhotoState { none, pending, preview, full, failed };

    explicit ViewerViewController(QObject *parent = nullptr);
    // Tests inject a private loader.
    explicit ViewerViewController(ImageLoader &loader, QObject *parent = nullptr);
    ~ViewerViewController() override;

    // Opens a folder, or the folder of an image with that image current.
    // Returns whether it holds photos.
    bool open(const QString &url);
    // Starts decoding the preview of the photo a launch will open, while the window
    // is still being made; the controller that shows it waits for this decode
    // rather than repeating it. maxPixelSize must be at least the view's need.
    static void decodeAhead(const QString &url, int maxPixelSize);
    // rewritten: the shown photo's own file, written anew by another program;
    // a turn of the view not yet saved stays when its size did not change.
    void showCurrent(bool keepOpenState, bool rewritten = false);
    void navigate(int delta);
    void goTo(int index);
    void goLast();
    void requestFull();
    void prefetchNeighbours();
    void warmUp();
    void resort();
    void setSortKey(int tag);
    void toggleSortReversed();
    // The thumbnail of the photo at position, for the filmstrip cell showing it:
    // from the cache at once (returned), else decoded and reported through
    // onThumbnail once it is still the same file at that position.
    QImage thumbnailFor(int position);
    // After the current photo went to the trash (started at startedGeneration).
    void currentPhotoTrashed(int startedGeneration);
    // After the photo at url went to the trash, asked while folderGeneration was
    // startedFolderGeneration: the photo is found by its path, so paging on
    // before the answer neither leaves it behind nor removes another one.
    void photoTrashed(const QString &url, int startedFolderGeneration);
    // After the photo at url was renamed to newUrl (in its folder), asked while
    // folderGeneration was startedFolderGeneration: its entry takes the new name
    // in place, nothing cached under the old name is shown again, and when it is
    // the current photo it is shown afresh from its new name.
    void photoRenamed(const QString &url, const QString &newUrl, int startedFolderGeneration);
    // Lists the folder again and brings the strip and the shown photo up to
    // date: files added, removed, renamed or rewritten by other programs (an
    // editor saving, a card being copied in). Runs by itself shortly after the
    // folder or the shown file changes, and when the window becomes active again.
    // The listing runs in the background (a network folder may take seconds);
    // one that started before the model was changed here is made again.
    void refreshFolder();
    // Whether a refresh's listing is under way (tests wait for it).
    bool isRefreshing() const { return listing; }
    // The program itself rewrote the file at url (a rating, a rotation): its
    // new attributes are not a change made elsewhere.
    void fileRewritten(const QString &url);
    // The program wrote new pixels or a new orientation into the file at url:
    // its cached decodes and its filmstrip thumbnail are made again.
    void filePixelsReplaced(const QString &url);
    // A preference changed ("sort", "hdr"; others concern other parts).
    void settingsDidChange(const QString &what);

    FolderModel &folderModel() { return folder; }
    const FolderModel &folderModel() const { return folder; }
    ImageLoader &imageLoader() { return loader; }
    PhotoState photoState() const { return state; }
    // The photo the person sees: the current one once it is on screen (or its
    // failure is), absent while it is on its way or when there is none. Commands
    // that act on a file take it from here, with the generation it belongs to.
    std::optional<QString> shownPhotoPath() const;
    // Whether the current photo's file is still the one listed and shown. When
    // another program changed it or put another file under its name, the
    // folder is listed again (which shows what is there now) and the answer
    // is no: a command must not act on a file the person has not seen.
    bool currentFileUnchanged();

    // ---- Reports to the page
    // A bitmap for the image view (pixelSize: the photo's own size).
    std::function<void(const QImage &image, bool forceFit, bool isNewPhoto, QSizeF pixelSize, bool rewritten)> onDisplay;
    // The shown photo is animated: play it from the file.
    std::function<void(const QString &url)> onAnimate;
    // The current photo could not be decoded, for the reason found in the file.
    std::function<void(const QString &url, const Codec::RefusalReason &why)> onDecodeFailed;
    // There is no photo to show; hint is the empty state's text.
    std::function<void(const QString &hint)> onNoPhotos;
    // The folder opened has no photos, but folder, below it, has (a camera
    // card's DCIM/100CANON): reported after onNoPhotos, while it still has none.
    std::function<void(const QString &folder)> onPhotosBelow;
    // Files of the folder changed on disk (reported before the display follows).
    std::function<void(const FolderChanges &changes)> onFilesChanged;
    // A sidecar of the current photo was written, made or removed by another
    // program: what was known of its rating is out of date.
    std::function<void(const QString &url)> onSidecarChanged;
    // The filmstrip must ask for its cells again.
    std::function<void()> onFolderReloaded;
    // The current index changed (or was confirmed): selection, badge, panel.
    std::function<void()> onCurrentChanged;
    // A late thumbnail for the cell at position (already checked against the file there).
    std::function<void(int position, const QImage &thumb)> onThumbnail;
    // The largest pixel dimension a preview needs (the page knows the view's size).
    std::function<int()> previewTargetSize;
    // Called after every display (tests and the benchmark watch it).
    std::function<void(bool isNewPhoto)> onDisplayed;

    int generation = 0;
    int folderGeneration = 0;
    int warmupGeneration = 0;
    QSet<QString> prefetchedURLs;
    int lastNavDirection = 0;
    bool fullRequested = false;
    bool showFirstAfterResort = false;
    // Set by the slideshow while it pages, so that its own fade length stands.
    bool advancingSlideshow = false;

    QThreadPool decodeQueue;
    QThreadPool prefetchQueue;
    QThreadPool thumbQueue;

private:
    // Looks for the nearest folder below the empty one that has photos.
    void lookBelow();
    void display(const QImage &image, bool forceFit, bool isNewPhoto, QSizeF size);
    bool showingRewritten = false; // the next new picture is the shown photo's file rewritten
    void decodeFailed(const QString &url, const Codec::RefusalReason &why);
    void startCaptureDates();
    void reloadFilmstrip();
    int targetSize() const;
    // Runs work now, or once the opened photo is on screen while that is pending.
    void whenFirstPhotoShown(std::function<void()> work);
    void releaseHeldWork();
    void cancelFolderWork();
    void watchFolder();
    // True when it found a sidecar of the photo made or removed, and said so.
    bool watchCurrentFile(bool renew = false);
    // listingError: why the folder could not be listed (0 when it was); the
    // empty state then says so.
    void applyListing(const QList<ImageItem> &listed, int listingError = 0);
    // Every change the program itself makes to the model.
    void modelEdited() { ++localEdits; }

    ImageLoader &loader;
    FolderModel folder;
    PhotoState state = PhotoState::none;

    // Folder-wide background work (warm-up, capture dates); waited for on destruction.
    QThreadPool backgroundQueue;
    // Read by background work to notice it is stale without touching the controller.
    std::shared_ptr<std::atomic<int>> liveGeneration = std::make_shared<std::atomic<int>>(0);
    std::shared_ptr<std::atomic<int>> liveWarmup = std::make_shared<std::atomic<int>>(0);
    std::shared_ptr<std::atomic<int>> liveFolder = std::make_shared<std::atomic<int>>(0);
    // Incremented on every reload of the filmstrip; a late thumbnail must match it.
    int filmstripGeneration = 0;

    // Right after open the photo asked for competes with thumbnails, prefetches and
    // capture dates for two cores; that work waits here until the photo is shown.
    bool holdingForFirstPhoto = false;

    // The folder and the shown file, watched once the first photo is on
    // screen; changes are gathered for a moment and handled at once.
    QFileSystemWatcher *watcher = nullptr;
    QTimer refreshTimer;
    // While the folder is gone (removed, renamed away) nothing watches its
    // place: it is looked for again now and then, and watched when it is back.
    QTimer goneTimer;
    QThreadPool listingQueue;
    bool listing = false;
    int shownListingError = 0; // the listing error the empty state last said
    bool listAgain = false;
    int localEdits = 0;
    std::vector<std::function<void()>> heldWork;
};
