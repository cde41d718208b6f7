#include "viewer/ViewerPageEdits.h"

#include "fileops/BatchConvert.h"
#include "fileops/SafeFile.h"
#include "settings/Settings.h"
#include "settings/Texts.h"
#include "viewer/OverlayLayout.h"
#include "viewer/RatingBadge.h"
#include "viewer/ViewerPage.h"
#include "viewer/ZoomableImageView.h"

#include <QFileInfo>

namespace {

// Centred above the filmstrip, its size following its text.
void placeBadge(const ViewerPage *page, QWidget *badge, const QRect &photoArea)
{
    const int filmstrip = page->height() - photoArea.height();
    const int offset = OverlayLayout::ratingBadgeOffset(false, 0, false, filmstrip);
    badge->setGeometry(OverlayLayout::ratingBadgeRect(page->size(), badge->sizeHint(), filmstrip, offset));
}

} // namespace

ViewerPageEdits::ViewerPageEdits(ViewerPage *page)
    : QObject(page)
    , page(page)
{
    ViewerViewController *c = page->controller();
    QPointer<ViewerPage> guard(page);

    edits.onFlash = [guard](const QString &message, double seconds) {
        if (guard)
            guard->flash(message, seconds);
    };
    edits.isCurrent = [guard](const QString &url) {
        return guard && guard->controller()->folderModel().current().has_value()
               && guard->controller()->folderModel().current()->url == url;
    };
    edits.onRatingChanged = [this](const QString &url) {
        if (edits.isCurrent(url))
            refreshBadge();
    };
    // The file on disk is new: no cached decode of the old one may be shown
    // again, in the view or in the strip.
    edits.onFileReplaced = [c](const QString &url) { c->filePixelsReplaced(url); };
    // Our own writes are not news to the folder's watch.
    edits.onFileWritten = [c](const QString &url) { c->fileRewritten(url); };
    // Shown again as a new photo, so the view drops its pending turns and the
    // orientation comes from the file.
    edits.reloadCurrent = [c] { c->showCurrent(false); };

    // Another program rated it in a sidecar: read again.
    c->onSidecarChanged = [this](const QString &url) {
        edits.forget({url});
        if (edits.isCurrent(url))
            photoShown();
    };

    page->currentRating = [this] {
        const std::optional<ImageItem> current = this->page->controller()->folderModel().current();
        return current ? edits.badgeRating(current->url) : 0;
    };

    // Every change of the current photo also loads its rating; the page's own
    // handling runs first.
    std::function<void()> previous = c->onCurrentChanged;
    c->onCurrentChanged = [this, previous] {
        if (previous)
            previous();
        photoShown();
    };
    std::function<void(const FolderChanges &)> previousChanges = c->onFilesChanged;
    c->onFilesChanged = [this, previousChanges](const FolderChanges &changes) {
        if (previousChanges)
            previousChanges(changes);
        edits.filesMoved(changes.moved);
        edits.forget(changes.gone + changes.changed);
    };
    std::function<void(const QString &)> previousEmpty = c->onNoPhotos;
    c->onNoPhotos = [this, previousEmpty](const QString &hint) {
        if (previousEmpty)
            previousEmpty(hint);
        refreshBadge();
    };

    page->commands.on(CommandId::setRatingMenu, [this](int stars) { rate(stars); },
                      page->menuRule(CommandId::setRatingMenu));
    page->commands.on(CommandId::saveRotation, [this](int) { saveRotation(); },
                      page->menuRule(CommandId::saveRotation));

    ratingBadge = new RatingBadge;
    ratingBadge->hide();
    page->addOverlay(ratingBadge, [guard](QWidget *w, const QRect &photoArea) {
        if (guard)
            placeBadge(guard, w, photoArea);
    });
    refreshBadge();
    connect(&SettingsNotifier::instance(), &SettingsNotifier::settingsDidChange, this, [this](const QString &what) {
        if (what == QLatin1String("rating"))
            refreshBadge();
    });
}

void ViewerPageEdits::folderWillOpen(const QString &location)
{
    ++edits.generation;
    const QFileInfo info(location);
    const QString folder = info.isDir() ? info.absoluteFilePath() : info.absolutePath();
    SafeFile::removeLeftoverTemporaries(folder);
    // A conversion cut short (the machine went down) leaves its half-written
    // file in the folder it wrote to, which nobody opens in the viewer.
    for (const Encoder::FormatInfo &format : Encoder::formats())
        SafeFile::removeLeftoverTemporaries(BatchConvert::outputFolder(folder, format.format));
}

void ViewerPageEdits::rate(int stars)
{
    if (cleanupActive && cleanupActive())
        return;
    const std::optional<ImageItem> current = page->controller()->folderModel().current();
    if (!current || !page->currentFileIsShownOne())
        return;
    QStringList order;
    for (const ImageItem &item : page->controller()->folderModel().items())
        order << item.url;
    const QStringList targets = PhotoEdits::ratingTargets(current->url, order);
    if (targets.isEmpty()) {
        page->flash(Texts::format("msg.notAPhoto", {current->fileName()}), 3);
        return;
    }
    edits.setRating(targets, stars);
}

void ViewerPageEdits::saveRotation()
{
    const std::optional<ImageItem> current = page->controller()->folderModel().current();
    if (!current || !page->currentFileIsShownOne())
        return;
    const ZoomableImageView *view = page->imageView();
    edits.saveRotation(current->url, view->quarterTurns(), view->animationActive());
}

void ViewerPageEdits::photoShown()
{
    if (const std::optional<ImageItem> current = page->controller()->folderModel().current())
        edits.loadRating(current->url);
    refreshBadge();
}

void ViewerPageEdits::refreshBadge()
{
    const int stars = page->currentRating();
    const bool cleanup = cleanupActive && cleanupActive();
    const RatingDisplay display = ratingDisplay(stars, !Settings::ratingBadgeShown(), page->peeking(), cleanup);
    if (ratingBadge) {
        ratingBadge->setStars(display.badgeText);
        ratingBadge->setVisible(display.badgeVisible);
        placeBadge(page, ratingBadge, page->photoArea());
        ratingBadge->raise();
    }
    Q_EMIT currentRatingChanged(stars);
}
