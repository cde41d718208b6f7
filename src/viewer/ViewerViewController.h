#pragma once

#include "library/FolderModel.h"
#include "library/ImageLoader.h"
#include "settings/Shortcuts.h"
#include "viewer/ViewerRules.h"

#include <QRect>
#include <QSet>
#include <QThreadPool>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class FilmstripView;
class HudBubble;
class QLabel;
class QPushButton;
class QVariantAnimation;
class ZoomableImageView;

// The controller of the main window's content: opens folders, shows the current
// photo (a preview first, the full bitmap when the view asks for detail), moves
// between photos, keeps the neighbours decoded ahead, and routes commands. It
// owns the folder model, the image view, the filmstrip and the message bubble.
//
// All state lives on the main thread. Background work runs on three pools
// (decode 2, prefetch 1, thumbnails 2) plus one for folder-wide work; every
// result carries the generation it was started with and is dropped when stale.
class ViewerViewController : public QWidget
{
    Q_OBJECT
public:
    explicit ViewerViewController(QWidget *parent = nullptr);
    // Tests inject a private loader.
    explicit ViewerViewController(ImageLoader &loader, QWidget *parent = nullptr);
    ~ViewerViewController() override;

    void open(const QString &url);
    // Starts decoding the preview of the photo a launch will open, while the window
    // is still being made; the controller that shows it waits for this decode
    // rather than repeating it. maxPixelSize must be at least the view's need.
    static void decodeAhead(const QString &url, int maxPixelSize);
    void showCurrent(bool keepOpenState);
    void display(const QImage &image, bool forceFit, bool isNewPhoto, double width, double height);
    void navigate(int delta);
    void goTo(int index);
    void requestFull();
    void prefetchNeighbours();
    void warmUp();
    void resort();
    bool beginPeek();
    void endPeek();
    void fitWindowToPhoto();
    void handleEscape();
    void toggleFullScreen();
    // After the current photo went to the trash (started at startedGeneration).
    void currentPhotoTrashed(int startedGeneration);

    // The message bubble.
    void flash(const QString &message, double seconds);
    void hideHudUnlessFlashing();
    bool isFlashing() const;
    QString hudMessage() const;
    bool hudVisible() const;

    // Menu and toolbar commands.
    void zoomIn();
    void zoomOut();
    void zoomFit();
    void zoomActual();
    void navigateForward() { navigate(+1); }
    void navigateBackward() { navigate(-1); }
    void goFirst() { goTo(0); }
    void goLast();
    void rotateCW();
    void rotateCCW();
    void toggleFilmstrip();
    void toggleInfoPanel();
    void openFolderPanel();
    void setSortKey(int tag);
    void toggleSortReversed();
    void toggleEscCloses();
    void toggleFadeTransition();
    void setWheelAction(int tag);
    void toggleWheelZoomInverted();
    void dispatchCommand(ShortcutAction action);
    MenuItemState validateMenuItem(MenuCommand command, int tag) const;

    // The Open panel as a sheet; the window wires in the shared panel. Without
    // it a folder chooser is used.
    std::function<void(const QString &startFolder, std::function<void(const QString &)> onChosen)> showOpenPanel;

    FolderModel &folderModel() { return folder; }
    ImageLoader &imageLoader() { return loader; }
    ZoomableImageView *imageView() const { return m_imageView; }
    FilmstripView *filmstrip() const { return m_filmstrip; }
    QWidget *emptyState() const { return m_emptyState; }
    QString emptyHint() const;
    bool filmstripShown() const { return filmstripHeight > 0; }
    bool infoPanelVisible() const { return false; }
    bool peeking() const { return peekSaved.has_value(); }
    int previewTargetSize() const;

    int generation = 0;
    int folderGeneration = 0;
    int warmupGeneration = 0;
    QSet<QString> prefetchedURLs;
    int lastNavDirection = 0;
    bool fullRequested = false;
    bool showFirstAfterResort = false;

    struct PeekSaved
    {
        QRect frame;
        QSize minimumSize;
        bool filmstripHidden = false;
        bool infoPanelHidden = true;
    };
    std::optional<PeekSaved> peekSaved;

    // Called after every display (tests and the benchmark watch it).
    std::function<void(bool isNewPhoto)> onDisplayed;

    QThreadPool decodeQueue;
    QThreadPool prefetchQueue;
    QThreadPool thumbQueue;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    void build();
    void wireImageView();
    void layoutChildren();
    void setEmptyStateVisible(bool visible, const QString &hint = {});
    void startCaptureDates();
    void maybeShowCleanupHint();
    void settingsDidChange(const QString &what);
    void refreshSelection();
    void reloadFilmstrip();
    void thumbnailArrived(int stripGeneration, int position, const QString &url, const QImage &thumb);
    void animateWindowTo(const QRect &frame);
    // Runs work now, or once the opened photo is on screen while that is pending.
    void whenFirstPhotoShown(std::function<void()> work);
    void releaseHeldWork();

    ImageLoader &loader;
    FolderModel folder;
    ZoomableImageView *m_imageView = nullptr;
    FilmstripView *m_filmstrip = nullptr;
    HudBubble *hud = nullptr;
    QWidget *m_emptyState = nullptr;
    QLabel *emptyHintLabel = nullptr;
    QVariantAnimation *windowAnimation = nullptr;
    int filmstripHeight = 76;

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
    std::vector<std::function<void()>> heldWork;
};
