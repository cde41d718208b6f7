#include "viewer/ViewerViewController.h"

#include "library/FilmstripView.h"
#include "settings/Settings.h"
#include "settings/Texts.h"
#include "viewer/HudBubble.h"
#include "viewer/ZoomableImageView.h"

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMimeData>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <QVariantAnimation>
#include <QWindow>

#include <algorithm>
#include <cmath>
#include <functional>
#include <future>
#include <mutex>

#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int shownFilmstripHeight = FilmstripView::shownHeight;

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

ViewerViewController::ViewerViewController(QWidget *parent)
    : ViewerViewController(ImageLoader::shared(), parent)
{
}

ViewerViewController::ViewerViewController(ImageLoader &imageLoader, QWidget *parent)
    : QWidget(parent)
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
    build();
}

ViewerViewController::~ViewerViewController()
{
    // Owners cancel and wait: no background work may outlive the loader calls it makes for us.
    liveGeneration->store(-1);
    liveWarmup->store(-1);
    liveFolder->store(-1);
    for (QThreadPool *pool : {&decodeQueue, &prefetchQueue, &thumbQueue, &backgroundQueue}) {
        pool->clear();
        pool->waitForDone();
    }
}

void ViewerViewController::build()
{
    setAcceptDrops(true);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);

    m_imageView = new ZoomableImageView(this);
    m_filmstrip = new FilmstripView(this);
    m_filmstrip->numberOfItems = [this] { return folder.count(); };
    m_filmstrip->configureItem = [this](FilmstripItem &cell, int position) {
        if (position >= folder.count())
            return;
        const QString url = folder.items().at(position).url;
        const QImage cached = loader.cachedThumbnail(url);
        cell.setImage(cached);
        if (!cached.isNull())
            return;
        // The thumbnail is matched to a cell by file and strip generation when
        // it lands: a re-sort or another folder may have given this position to
        // another photo meanwhile, and the cell object may be gone.
        QPointer<ViewerViewController> self(this);
        const int started = filmstripGeneration;
        auto liveFolder = this->liveFolder;
        const int folderStarted = folderGeneration;
        ImageLoader *l = &loader;
        auto job = [self, liveFolder, folderStarted, started, position, url, l] {
            if (liveFolder->load() != folderStarted)
                return;
            yieldToForeground(backgroundNiceness);
            const QImage thumb = l->thumbnail(url);
            QMetaObject::invokeMethod(
                qApp,
                [self, started, position, url, thumb] {
                    if (self)
                        self->thumbnailArrived(started, position, url, thumb);
                },
                Qt::QueuedConnection);
        };
        whenFirstPhotoShown([this, job] { thumbQueue.start(job); });
    };
    m_filmstrip->onSelect = [this](int position) {
        folder.jump(position);
        showCurrent(false);
        m_imageView->setFocus(Qt::OtherFocusReason);
    };

    hud = new HudBubble(this);

    m_emptyState = new QWidget(this);
    auto *emptyLayout = new QVBoxLayout(m_emptyState);
    emptyLayout->setSpacing(12);
    auto *title = new QLabel(QStringLiteral("Glanto"), m_emptyState);
    QFont titleFont = title->font();
    titleFont.setPointSizeF(30);
    title->setFont(titleFont);
    title->setStyleSheet(QStringLiteral("color: rgba(255,255,255,0.3);"));
    title->setAlignment(Qt::AlignCenter);
    emptyHintLabel = new QLabel(Texts::text("ui.emptyHint"), m_emptyState);
    QFont hintFont = emptyHintLabel->font();
    hintFont.setPointSizeF(13);
    emptyHintLabel->setFont(hintFont);
    emptyHintLabel->setStyleSheet(QStringLiteral("color: rgba(255,255,255,0.55);"));
    emptyHintLabel->setAlignment(Qt::AlignCenter);
    auto *openButton = new QPushButton(Texts::text("ui.openButton"), m_emptyState);
    openButton->setMinimumSize(140, 36);
    connect(openButton, &QPushButton::clicked, this, [this] { openFolderPanel(); });
    emptyLayout->addWidget(title);
    emptyLayout->addWidget(emptyHintLabel);
    emptyLayout->addWidget(openButton, 0, Qt::AlignHCenter);

    windowAnimation = new QVariantAnimation(this);
    windowAnimation->setDuration(220);
    windowAnimation->setEasingCurve(QEasingCurve::InOutCubic);
    connect(windowAnimation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        if (QWidget *w = window())
            w->setGeometry(value.toRect());
    });

    wireImageView();
    connect(&SettingsNotifier::instance(), &SettingsNotifier::settingsDidChange, this,
            [this](const QString &what) { settingsDidChange(what); });
    setEmptyStateVisible(true);
    layoutChildren();
}

void ViewerViewController::wireImageView()
{
    ZoomableImageView *v = m_imageView;
    // Every callback holds the controller weakly: the view never outlives it, but
    // a queued call may.
    QPointer<ViewerViewController> self(this);
    // A callback that runs a method of the controller while it lives, whatever the
    // arguments the view passes.
    const auto call = [self](auto method) {
        return [self, method](auto &&...args) {
            if (self)
                std::invoke(method, self.data(), std::forward<decltype(args)>(args)...);
        };
    };
    v->onZoomChange = [self](double) {
        if (self)
            self->hideHudUnlessFlashing();
    };
    v->onNeedsDetail = call(&ViewerViewController::requestFull);
    v->onNavigate = call(&ViewerViewController::navigate);
    v->onFirst = [self] {
        if (self)
            self->goTo(0);
    };
    v->onLast = [self] {
        if (self)
            self->goTo(std::max(self->folder.count(), 1) - 1);
    };
    v->onToggleInfo = call(&ViewerViewController::toggleInfoPanel);
    v->onToggleFilmstrip = call(&ViewerViewController::toggleFilmstrip);
    v->onToggleFullscreen = call(&ViewerViewController::toggleFullScreen);
    v->onCommand = call(&ViewerViewController::dispatchCommand);
    v->onFirstFrame = [self](double width, double height) {
        if (!self)
            return;
        self->folder.setPixelSize(width, height);
        self->hideHudUnlessFlashing();
    };
    v->onPeekBegin = [self] { return self ? self->beginPeek() : false; };
    v->onPeekEnd = call(&ViewerViewController::endPeek);
    v->onEscape = call(&ViewerViewController::handleEscape);
    // Trash, rename, slideshow, single click and the controls belong to later
    // parts of the viewer: their keys do nothing until then.
}

void ViewerViewController::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutChildren();
}

void ViewerViewController::layoutChildren()
{
    const int stripHeight = filmstripHeight;
    m_imageView->setGeometry(0, 0, width(), std::max(0, height() - stripHeight));
    m_filmstrip->setGeometry(0, height() - stripHeight, width(), stripHeight);
    m_filmstrip->setVisible(stripHeight > 0);
    hud->move(12, 44);
    const QSize emptySize = m_emptyState->sizeHint().expandedTo(QSize(420, 0));
    m_emptyState->setGeometry((width() - emptySize.width()) / 2, height() / 2 - 30 - emptySize.height() / 2,
                              emptySize.width(), emptySize.height());
    hud->raise();
}

void ViewerViewController::setEmptyStateVisible(bool visible, const QString &hint)
{
    if (!hint.isEmpty())
        emptyHintLabel->setText(hint);
    m_emptyState->setVisible(visible);
    if (visible)
        m_emptyState->raise();
    hud->raise();
}

QString ViewerViewController::emptyHint() const
{
    return m_emptyState->isVisible() ? emptyHintLabel->text() : QString();
}

int ViewerViewController::previewTargetSize() const
{
    const double longer = std::max(m_imageView->width(), m_imageView->height());
    return std::clamp(int(m_imageView->backingScale() * longer), 1024, 8192);
}

// ---- Opening and showing

void ViewerViewController::open(const QString &url)
{
    prefetchedURLs.clear();
    heldWork.clear();
    holdingForFirstPhoto = true;
    cancelAll(decodeQueue);
    cancelAll(prefetchQueue);
    cancelAll(thumbQueue);
    cancelAll(backgroundQueue);
    ++folderGeneration;
    liveFolder->store(folderGeneration);
    // The old folder's warm-up stops at its next photo, not when the new one starts.
    ++warmupGeneration;
    liveWarmup->store(warmupGeneration);
    showFirstAfterResort = QFileInfo(url).isDir();
    const bool hasPhotos = folder.load(url);

    if (hasPhotos) {
        setEmptyStateVisible(false);
        reloadFilmstrip();
        m_filmstrip->scrollTo(folder.index());
        m_imageView->setFocus(Qt::OtherFocusReason);
        showCurrent(true);
        whenFirstPhotoShown([this] {
            warmUp();
            startCaptureDates();
        });
        maybeShowCleanupHint();
    } else {
        releaseHeldWork();
        m_imageView->setImage(QImage(), 0, 0, true, true, true);
        setEmptyStateVisible(true, Texts::text("ui.noImages"));
        reloadFilmstrip();
        hideHudUnlessFlashing();
    }
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
    QThreadPool::globalInstance()->start([l, url, maxPixelSize, promise] {
        l->info(url);
        l->preview(url, maxPixelSize);
        promise->set_value();
    });
}

void ViewerViewController::showCurrent(bool keepOpenState)
{
    ++generation;
    liveGeneration->store(generation);
    fullRequested = false;
    const std::optional<ImageItem> item = folder.current();
    if (!item)
        return;
    cancelAll(decodeQueue);
    if (!holdingForFirstPhoto)
        prefetchNeighbours();
    hideHudUnlessFlashing();
    refreshSelection();

    const QString url = item->url;
    const int target = previewTargetSize();
    if (const std::optional<ImageInfo> info = loader.cachedInfo(url)) {
        const QImage full = loader.cachedFull(url);
        const QImage preview = loader.cachedPreview(url, target);
        if (!full.isNull() || !preview.isNull()) {
            fullRequested = !full.isNull();
            const double w = info->pixelSize.width(), h = info->pixelSize.height();
            if (!full.isNull() && !preview.isNull() && !info->isAnimated) {
                // The preview goes to the screen in this frame; the full bitmap
                // replaces it, without moving, once it is on the GPU.
                display(preview, keepOpenState, true, w, h);
                display(full, false, false, w, h);
            } else {
                display(full.isNull() ? preview : full, keepOpenState, true, w, h);
            }
            if (info->isAnimated)
                m_imageView->startAnimation(url);
            return;
        }
    }

    const int started = generation;
    auto live = liveGeneration;
    ImageLoader *l = &loader;
    decodeQueue.start([this, live, started, url, target, l, keepOpenState] {
        // No decoding for a photo already left.
        if (live->load() != started)
            return;
        waitForDecodeAhead(url, target);
        const std::optional<ImageInfo> info = l->info(url);
        const QImage preview = l->preview(url, target);
        QMetaObject::invokeMethod(
            this,
            [this, started, url, info, preview, keepOpenState] {
                if (generation != started)
                    return;
                if (preview.isNull()) {
                    releaseHeldWork();
                    return;
                }
                const QSizeF size = info ? info->pixelSize : QSizeF(preview.size());
                display(preview, keepOpenState, true, size.width(), size.height());
                if (info && info->isAnimated)
                    m_imageView->startAnimation(url);
            },
            Qt::QueuedConnection);
    });
}

void ViewerViewController::display(const QImage &image, bool forceFit, bool isNewPhoto, double width, double height)
{
    folder.setPixelSize(width, height);
    m_imageView->setImage(image, width, height, false, forceFit, isNewPhoto);
    if (isNewPhoto && peekSaved)
        fitWindowToPhoto();
    hideHudUnlessFlashing();
    if (onDisplayed)
        onDisplayed(isNewPhoto);
    if (isNewPhoto)
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
    decodeQueue.start([this, live, started, url, l] {
        if (live->load() != started)
            return;
        const std::optional<ImageInfo> info = l->info(url);
        const QImage full = l->full(url);
        QMetaObject::invokeMethod(
            this,
            [this, started, info, full] {
                if (generation != started || full.isNull())
                    return;
                const QSizeF size = info ? info->pixelSize : QSizeF(full.size());
                display(full, false, false, size.width(), size.height());
            },
            Qt::QueuedConnection);
    });
}

void ViewerViewController::navigate(int delta)
{
    m_imageView->pendingFadeDuration.reset();
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
    const int target = previewTargetSize();
    ImageLoader *l = &loader;
    for (int position : prefetchCandidates(current, count, lastNavDirection)) {
        const QString url = items.at(position).url;
        if (url == currentURL)
            continue;
        prefetchedURLs.insert(url);
        if (!loader.cachedPreview(url, target).isNull())
            continue;
        prefetchQueue.start([l, url, target] {
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
    backgroundQueue.start([live, started, urls, l] {
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
    backgroundQueue.start([self, live, missing, started] {
        yieldToForeground(backgroundNiceness);
        QHash<QString, QDateTime> dates;
        for (const auto &[url, modified] : missing) {
            // Another folder or a closing window ends the scan at the next file.
            if (live->load() != started)
                return;
            dates.insert(url, FolderModel::captureDate(url, modified));
        }
        QMetaObject::invokeMethod(
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
        hideHudUnlessFlashing();
        prefetchNeighbours();
        refreshSelection();
    } else {
        folder.resort(std::nullopt);
        reloadFilmstrip();
        showCurrent(true);
    }
    m_filmstrip->scrollTo(folder.index());
}

void ViewerViewController::reloadFilmstrip()
{
    ++filmstripGeneration;
    m_filmstrip->reloadData();
}

void ViewerViewController::thumbnailArrived(int stripGeneration, int position, const QString &url, const QImage &thumb)
{
    if (stripGeneration != filmstripGeneration || position >= folder.count()
        || folder.items().at(position).url != url)
        return;
    if (FilmstripItem *cell = m_filmstrip->cellFor(position); cell && cell->itemIndex == position)
        cell->setImage(thumb);
}

void ViewerViewController::refreshSelection()
{
    m_filmstrip->syncSelection(folder.index());
}

void ViewerViewController::maybeShowCleanupHint()
{
    if (!shouldShowCleanupHint(folder.count(), Settings::cleanupHintShown(), QCoreApplication::arguments().mid(1)))
        return;
    Settings::setCleanupHintShown(true);
    QPointer<ViewerViewController> self(this);
    QTimer::singleShot(1200, this, [self] {
        if (self)
            self->flash(Texts::text("cleanup.tip"), 6);
    });
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
    if (const std::optional<ImageItem> item = folder.current())
        loader.invalidate(item->url);
    if (folder.removeCurrent()) {
        reloadFilmstrip();
        showCurrent(false);
    } else {
        m_imageView->setImage(QImage(), 0, 0, true, true, true);
        setEmptyStateVisible(true, Texts::text("ui.noMore"));
        reloadFilmstrip();
        hideHudUnlessFlashing();
    }
}

// ---- Escape, full screen and peek

void ViewerViewController::handleEscape()
{
    QWidget *w = window();
    switch (escapeOutcome(peekSaved.has_value(), infoPanelVisible(), Settings::escCloses(), m_imageView->isFitMode(),
                          w && w->isFullScreen())) {
    case EscapeOutcome::endPeek:
        m_imageView->endPeek();
        if (peekSaved)
            endPeek();
        break;
    case EscapeOutcome::hideInfo:
        break;
    case EscapeOutcome::closeWindow:
        if (w)
            w->close();
        break;
    case EscapeOutcome::zoomToFit:
        m_imageView->zoomToFit(true);
        break;
    case EscapeOutcome::leaveFullScreen:
        if (w)
            w->showNormal();
        break;
    }
}

void ViewerViewController::toggleFullScreen()
{
    m_imageView->endPeek();
    if (peekSaved)
        endPeek();
    QWidget *w = window();
    if (!w)
        return;
    if (w->isFullScreen())
        w->showNormal();
    else
        w->showFullScreen();
}

bool ViewerViewController::beginPeek()
{
    QWidget *w = window();
    if (!w || w == this || peekSaved || !folder.current() || w->isFullScreen())
        return false;
    PeekSaved saved;
    saved.frame = w->geometry();
    saved.minimumSize = w->minimumSize();
    saved.filmstripHidden = filmstripHeight == 0;
    saved.infoPanelHidden = true;
    peekSaved = saved;
    hud->hide();
    filmstripHeight = 0;
    layoutChildren();
    w->setMinimumSize(160, 120);
    m_imageView->zoomToFit(false);
    fitWindowToPhoto();
    return true;
}

void ViewerViewController::fitWindowToPhoto()
{
    if (!peekSaved)
        return;
    QWidget *w = window();
    if (!w)
        return;
    QScreen *screen = w->screen() ? w->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QSizeF photo = m_imageView->displayedLogicalSize();
    if (photo.width() <= 0 || photo.height() <= 0)
        return;
    const QRect visible = screen->availableGeometry();
    const QSizeF content = peekContentSize(photo, m_imageView->backingScale(), visible.size());
    // Window decorations stay outside the content: centre the whole frame.
    const QMargins decoration(w->geometry().left() - w->frameGeometry().left(),
                              w->geometry().top() - w->frameGeometry().top(),
                              w->frameGeometry().right() - w->geometry().right(),
                              w->frameGeometry().bottom() - w->geometry().bottom());
    const QSizeF frameSize(content.width() + decoration.left() + decoration.right(),
                           content.height() + decoration.top() + decoration.bottom());
    const QRectF frame = peekFrame(frameSize, visible);
    animateWindowTo(QRect(int(frame.x()) + decoration.left(), int(frame.y()) + decoration.top(),
                          int(std::round(content.width())), int(std::round(content.height()))));
}

void ViewerViewController::animateWindowTo(const QRect &frame)
{
    QWidget *w = window();
    if (!w)
        return;
    windowAnimation->stop();
    windowAnimation->setStartValue(w->geometry());
    windowAnimation->setEndValue(frame);
    windowAnimation->start();
}

void ViewerViewController::endPeek()
{
    if (!peekSaved)
        return;
    const PeekSaved saved = *peekSaved;
    peekSaved.reset();
    QWidget *w = window();
    if (w) {
        w->setMinimumSize(saved.minimumSize);
        animateWindowTo(saved.frame);
    }
    filmstripHeight = saved.filmstripHidden ? 0 : shownFilmstripHeight;
    layoutChildren();
    hideHudUnlessFlashing();
    m_imageView->zoomToFit(false);
}

// ---- The message bubble

void ViewerViewController::flash(const QString &message, double seconds)
{
    hud->flash(message, seconds);
}

void ViewerViewController::hideHudUnlessFlashing()
{
    hud->hideUnlessFlashing();
}

bool ViewerViewController::isFlashing() const
{
    return hud->isFlashing();
}

QString ViewerViewController::hudMessage() const
{
    return hud->message();
}

bool ViewerViewController::hudVisible() const
{
    return hud->isVisible();
}

// ---- Commands

void ViewerViewController::zoomIn() { m_imageView->zoomIn(); }
void ViewerViewController::zoomOut() { m_imageView->zoomOut(); }
void ViewerViewController::zoomFit() { m_imageView->zoomToFit(true); }
void ViewerViewController::zoomActual() { m_imageView->actualSize(); }

void ViewerViewController::rotateCW()
{
    m_imageView->rotate(+1);
    flash(Texts::text("msg.rotHint"), 2);
}

void ViewerViewController::rotateCCW()
{
    m_imageView->rotate(-1);
    flash(Texts::text("msg.rotHint"), 2);
}

void ViewerViewController::toggleFilmstrip()
{
    filmstripHeight = filmstripHeight > 0 ? 0 : shownFilmstripHeight;
    layoutChildren();
    if (filmstripHeight > 0)
        m_filmstrip->scrollTo(folder.index());
}

void ViewerViewController::toggleInfoPanel()
{
    // The information panel arrives with the overlays.
}

void ViewerViewController::openFolderPanel()
{
    QString start;
    if (const std::optional<ImageItem> item = folder.current())
        start = QFileInfo(item->url).absolutePath();
    QPointer<ViewerViewController> self(this);
    auto chosen = [self](const QString &path) {
        if (!self)
            return;
        if (path.isEmpty())
            self->m_imageView->setFocus(Qt::OtherFocusReason);
        else
            self->open(path);
    };
    if (showOpenPanel) {
        showOpenPanel(start, chosen);
        return;
    }
    auto *dialog = new QFileDialog(window(), QString(), start);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setWindowModality(Qt::WindowModal);
    connect(dialog, &QFileDialog::fileSelected, this, [chosen](const QString &path) { chosen(path); });
    connect(dialog, &QFileDialog::rejected, this, [chosen] { chosen(QString()); });
    dialog->open();
}

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

void ViewerViewController::toggleEscCloses()
{
    const bool on = !Settings::escCloses();
    Settings::setEscCloses(on);
    flash(Texts::text(on ? "msg.escClosesOn" : "msg.escClosesOff"), 2);
}

void ViewerViewController::toggleFadeTransition()
{
    Settings::setFadeTransition(!Settings::fadeTransition());
}

void ViewerViewController::setWheelAction(int tag)
{
    const bool navigates = tag == 1;
    Settings::setWheelNavigates(navigates);
    flash(Texts::text(navigates ? "wheel.navigate.on" : "wheel.zoom.on"), 2);
}

void ViewerViewController::toggleWheelZoomInverted()
{
    const bool on = !Settings::wheelZoomInverted();
    Settings::setWheelZoomInverted(on);
    flash(Texts::text(on ? "wheel.inverted.on" : "wheel.inverted.off"), 2);
}

void ViewerViewController::dispatchCommand(ShortcutAction action)
{
    // File operations, ratings, cleanup and the tools arrive with their own
    // parts; until then their keys do nothing here.
    Q_UNUSED(action);
}

MenuItemState ViewerViewController::validateMenuItem(MenuCommand command, int tag) const
{
    MenuContext context;
    context.cleanupShown = false;
    context.photoCount = folder.count();
    context.hasCurrent = folder.current().has_value();
    context.sortKey = Settings::sortKey();
    context.sortReversed = Settings::sortReversed();
    context.escCloses = Settings::escCloses();
    context.fadeTransition = Settings::fadeTransition();
    context.slideshowInterval = Settings::slideshowInterval();
    context.wheelNavigates = Settings::wheelNavigates();
    context.wheelZoomInverted = Settings::wheelZoomInverted();
    return ::validateMenuItem(command, tag, context);
}

// ---- Drops

void ViewerViewController::dragEnterEvent(QDragEnterEvent *event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    if (!urls.isEmpty() && urls.first().isLocalFile()) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    }
}

void ViewerViewController::dropEvent(QDropEvent *event)
{
    for (const QUrl &url : event->mimeData()->urls()) {
        if (url.isLocalFile()) {
            event->setDropAction(Qt::CopyAction);
            event->accept();
            open(url.toLocalFile());
            return;
        }
    }
}
