#include "viewer/ViewerPage.h"

#include "library/FilmstripView.h"
#include "platform/FileNames.h"
#include "settings/Settings.h"
#include "settings/Texts.h"
#include "viewer/EmptyStateView.h"
#include "viewer/HudBubble.h"
#include "viewer/ViewerPageEdits.h"
#include "viewer/ViewerPageRename.h"
#include "viewer/ViewerPageExport.h"
#include "viewer/ViewerRules.h"
#include "viewer/ZoomableImageView.h"

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QLocale>
#include <QMimeData>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QVariantAnimation>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr int shownFilmstripHeight = FilmstripView::shownHeight;

} // namespace

ViewerPage::ViewerPage(QWidget *parent)
    : ViewerPage(ImageLoader::shared(), parent)
{
}

ViewerPage::ViewerPage(ImageLoader &loader, QWidget *parent)
    : QWidget(parent)
    , m_controller(new ViewerViewController(loader, this))
{
    build();
}

// The controller is a child object: it cancels and waits for its work when the
// page goes, before the views it reports to.
ViewerPage::~ViewerPage()
{
    delete m_controller;
    m_controller = nullptr;
    // The overlays are children, destroyed by QWidget's destructor after this
    // page's members are gone: their "destroyed" notices must not reach the
    // list any more.
    for (const Overlay &overlay : overlays)
        disconnect(overlay.widget, &QObject::destroyed, this, nullptr);
    overlays.clear();
    // Helper objects that watch this page's events (the overlays' controller)
    // go now, newest first, while this is still a ViewerPage: QWidget's
    // destructor deletes the child widgets one by one, and every removal is an
    // event on this page that a filter would take for one on a live viewer page.
    const QList<QObject *> helpers = findChildren<QObject *>(Qt::FindDirectChildrenOnly);
    for (auto it = helpers.crbegin(); it != helpers.crend(); ++it) {
        if (!(*it)->isWidgetType())
            delete *it;
    }
    m_exports = nullptr;
    m_rename = nullptr;
    m_edits = nullptr;
    windowAnimation = nullptr;
}

void ViewerPage::build()
{
    setAcceptDrops(true);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);

    m_imageView = new ZoomableImageView(this);
    m_filmstrip = new FilmstripView(this);
    m_filmstrip->numberOfItems = [this] { return m_controller->folderModel().count(); };
    m_filmstrip->configureItem = [this](FilmstripItem &cell, int position) {
        cell.setImage(m_controller->thumbnailFor(position));
    };
    m_filmstrip->onSelect = [this](int position) {
        m_controller->goTo(position);
        m_imageView->setFocus(Qt::OtherFocusReason);
    };

    failureLabel = new QLabel(this);
    failureLabel->setTextFormat(Qt::PlainText);
    failureLabel->setAlignment(Qt::AlignCenter);
    failureLabel->setWordWrap(true);
    failureLabel->setStyleSheet(QStringLiteral("color: rgba(255,255,255,0.7); font-size: 15px;"));
    failureLabel->setAttribute(Qt::WA_TransparentForMouseEvents);
    failureLabel->hide();

    hud = new HudBubble(this);

    m_emptyState = new EmptyStateView(this);
    m_emptyState->onOpen = [this] { openFolderPanel(); };
    m_emptyState->onOpenBelow = [this](const QString &folder) { open(folder); };

    windowAnimation = new QVariantAnimation(this);
    windowAnimation->setDuration(220);
    windowAnimation->setEasingCurve(QEasingCurve::InOutCubic);
    connect(windowAnimation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        if (QWidget *w = window())
            w->setGeometry(value.toRect());
    });

    wireImageView();
    wireController();
    registerCommands();
    m_edits = new ViewerPageEdits(this);
    m_rename = new ViewerPageRename(this);
    m_exports = new ViewerPageExport(this);
    connect(&SettingsNotifier::instance(), &SettingsNotifier::settingsDidChange, this,
            [this](const QString &what) { m_controller->settingsDidChange(what); });
    setEmptyStateVisible(true);
    layoutChildren();
}

void ViewerPage::wireController()
{
    ViewerViewController *c = m_controller;
    c->previewTargetSize = [this] { return previewTargetSize(); };
    c->onDisplay = [this](const QImage &image, bool forceFit, bool isNewPhoto, QSizeF size, bool rewritten) {
        failureLabel->hide();
        // A photo may come to a folder that had none.
        if (m_emptyState->isVisible())
            setEmptyStateVisible(false);
        m_imageView->setImage(image, size.width(), size.height(), false, forceFit, isNewPhoto, rewritten);
        if (isNewPhoto && peekSaved)
            fitWindowToPhoto();
        hideHudUnlessFlashing();
        if (isNewPhoto && onPhotoShown)
            onPhotoShown();
    };
    c->onAnimate = [this](const QString &url) { m_imageView->startAnimation(url); };
    c->onDecodeFailed = [this](const QString &url, const Codec::RefusalReason &why) { showFailure(url, why); };
    c->onNoPhotos = [this](const QString &hint) {
        failureLabel->hide();
        m_imageView->setImage(QImage(), 0, 0, true, true, true);
        setEmptyStateVisible(true, hint);
        hideHudUnlessFlashing();
        setWindowTitle(QString());
        m_imageView->setAccessibleName(hint);
    };
    c->onPhotosBelow = [this](const QString &folder) {
        if (!m_emptyState->isVisible())
            return;
        m_emptyState->setFolderBelow(folder, m_controller->folderModel().folderPath());
        m_emptyState->adjustSize();
        placeEmptyState();
    };
    c->onFolderReloaded = [this] {
        m_filmstrip->reloadData();
        m_filmstrip->scrollTo(m_controller->folderModel().index());
    };
    c->onCurrentChanged = [this] {
        // A fade length set for this change only comes from the slideshow's own paging.
        if (!m_controller->advancingSlideshow)
            m_imageView->pendingFadeDuration.reset();
        hideHudUnlessFlashing();
        m_filmstrip->syncSelection(m_controller->folderModel().index());
        // The window's title names the photo (this page is no window itself).
        const FolderModel &folder = m_controller->folderModel();
        const std::optional<ImageItem> item = folder.current();
        setWindowTitle(item ? QFileInfo(item->url).fileName() : QString());
        // The photo area holds the keyboard: a screen reader speaks its name
        // when it changes, the photo and where it stands in the folder.
        m_imageView->setAccessibleName(item ? Texts::format("a11y.photo", {QFileInfo(item->url).fileName(),
                                                                            QString::number(folder.index() + 1),
                                                                            QString::number(folder.count())})
                                            : QString());
    };
    c->onThumbnail = [this](int position, const QImage &thumb) {
        if (FilmstripItem *cell = m_filmstrip->cellFor(position); cell && cell->itemIndex == position)
            cell->setImage(thumb);
    };
}

void ViewerPage::wireImageView()
{
    ZoomableImageView *v = m_imageView;
    // Every callback holds the page weakly: the view never outlives it, but a
    // queued call may.
    QPointer<ViewerPage> self(this);
    v->onZoomChange = [self](double) {
        if (self)
            self->hideHudUnlessFlashing();
    };
    v->onNeedsDetail = [self] {
        if (self)
            self->m_controller->requestFull();
    };
    // The wheel pages through the folder directly; keys go through the commands.
    v->onNavigate = [self](int delta) {
        if (self)
            self->m_controller->navigate(delta);
    };
    v->onToggleFullscreen = [self] {
        if (self)
            self->toggleFullScreen();
    };
    v->onFirstFrame = [self](double width, double height) {
        if (!self)
            return;
        self->m_controller->folderModel().setPixelSize(width, height);
        self->hideHudUnlessFlashing();
    };
    v->onAnimationShortened = [self](int shown, int total) {
        if (self)
            self->flash(Texts::format("msg.animationShortened", {QString::number(shown), QString::number(total)}), 3);
    };
    v->onPeekBegin = [self] { return self ? self->beginPeek() : false; };
    v->onPeekEnd = [self] {
        if (self)
            self->endPeek();
    };
    v->onEscape = [self] {
        if (self)
            self->handleEscape();
    };
}

void ViewerPage::registerCommands()
{
    ViewerViewController *c = m_controller;
    ZoomableImageView *v = m_imageView;
    const auto rule = [this](CommandId id) { return menuRule(id); };

    commands.on(CommandId::openFolderPanel, [this](int) { openFolderPanel(); });
    commands.on(CommandId::zoomIn, [v](int) { v->zoomIn(); });
    commands.on(CommandId::zoomOut, [v](int) { v->zoomOut(); });
    commands.on(CommandId::zoomFit, [v](int) { v->zoomToFit(true); });
    commands.on(CommandId::zoomActual, [v](int) { v->actualSize(); });
    commands.on(CommandId::zoomAtPointer, [v](int) { v->perform(ShortcutAction::zoomAtPointer, nullptr); });
    commands.on(CommandId::peek, [v](int) { v->perform(ShortcutAction::peek, nullptr); });
    commands.on(CommandId::escape, [this](int) { handleEscape(); });
    commands.on(CommandId::rotateCW, [this](int) { rotate(+1); });
    commands.on(CommandId::rotateCCW, [this](int) { rotate(-1); });
    commands.on(CommandId::toggleFilmstrip, [this](int) { toggleFilmstrip(); });
    // The menu item says what it does now: leave full screen while in it.
    commands.on(CommandId::toggleFullScreen, [this](int) { toggleFullScreen(); }, [this](int) {
        const bool full = window() && window()->isFullScreen();
        return CommandState{true, false, full ? Texts::text("menu.exitFullscreen") : QString()};
    });
    commands.on(CommandId::navigateForward, [c](int) { c->navigate(+1); });
    commands.on(CommandId::navigateBackward, [c](int) { c->navigate(-1); });
    commands.on(CommandId::goFirst, [c](int) { c->goTo(0); });
    commands.on(CommandId::goLast, [c](int) { c->goLast(); });
    commands.on(CommandId::setSortKey, [c](int tag) { c->setSortKey(tag); }, rule(CommandId::setSortKey));
    commands.on(CommandId::toggleSortReversed, [c](int) { c->toggleSortReversed(); },
                rule(CommandId::toggleSortReversed));
    commands.on(
        CommandId::toggleEscCloses,
        [this](int) {
            const bool on = !Settings::escCloses();
            Settings::setEscCloses(on);
            flash(Texts::text(on ? "msg.escClosesOn" : "msg.escClosesOff"), 2);
        },
        rule(CommandId::toggleEscCloses));
    commands.on(CommandId::toggleFadeTransition, [](int) { Settings::setFadeTransition(!Settings::fadeTransition()); },
                rule(CommandId::toggleFadeTransition));
    commands.on(
        CommandId::setWheelAction,
        [this](int tag) {
            const bool navigates = tag == 1;
            Settings::setWheelNavigates(navigates);
            flash(Texts::text(navigates ? "wheel.navigate.on" : "wheel.zoom.on"), 2);
        },
        rule(CommandId::setWheelAction));
    commands.on(
        CommandId::toggleWheelZoomInverted,
        [this](int) {
            const bool on = !Settings::wheelZoomInverted();
            Settings::setWheelZoomInverted(on);
            flash(Texts::text(on ? "wheel.inverted.on" : "wheel.inverted.off"), 2);
        },
        rule(CommandId::toggleWheelZoomInverted));
    // The interval is a stored preference that the slideshow reads when it
    // schedules its timer.
    commands.on(
        CommandId::setSlideshowInterval,
        [this](int seconds) {
            Settings::setSlideshowInterval(seconds);
            flash(Texts::format("msg.slideInterval", {QString::number(Settings::slideshowInterval())}), 2);
        },
        rule(CommandId::setSlideshowInterval));
}

std::function<CommandState(int)> ViewerPage::menuRule(CommandId id) const
{
    QPointer<const ViewerPage> self(this);
    return [self, id](int tag) {
        if (!self)
            return CommandState{false, false, {}};
        return viewerCommandState(id, tag, self->ruleContext());
    };
}

const MenuContext &ViewerPage::ruleContext() const
{
    // Each setting is read from its file: a menu of forty items asking for all
    // of them per item took milliseconds of its opening. Within a batch nothing
    // changes, so the answers are kept for it; outside one they are fresh.
    const quint64 batch = CommandStateBatch::current();
    if (ruleContextCache && batch != 0 && batch == ruleContextBatch)
        return *ruleContextCache;
    auto context = std::make_shared<MenuContext>();
    const ViewerViewController *c = m_controller;
    context->photoCount = c->folderModel().count();
    context->hasCurrent = c->folderModel().current().has_value();
    context->sortKey = Settings::sortKey();
    context->sortReversed = Settings::sortReversed();
    context->escCloses = Settings::escCloses();
    context->fadeTransition = Settings::fadeTransition();
    context->slideshowInterval = Settings::slideshowInterval();
    context->wheelNavigates = Settings::wheelNavigates();
    context->wheelZoomInverted = Settings::wheelZoomInverted();
    context->currentRating = currentRating ? currentRating() : 0;
    context->editorName = editorName ? editorName() : QString();
    ruleContextCache = std::move(context);
    ruleContextBatch = batch;
    return *ruleContextCache;
}

void ViewerPage::pageActivated()
{
    m_imageView->setFocus(Qt::OtherFocusReason);
}

void ViewerPage::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutChildren();
}

QRect ViewerPage::photoArea() const
{
    if (m_filmstripFloating)
        return rect();
    return QRect(0, 0, width(), std::max(0, height() - filmstripHeight));
}

void ViewerPage::setFilmstripFloating(bool floating)
{
    m_filmstripFloating = floating;
    layoutChildren();
}

void ViewerPage::layoutChildren()
{
    const int stripHeight = filmstripHeight;
    const QRect area = photoArea();
    m_imageView->setGeometry(area);
    m_filmstrip->setGeometry(0, height() - stripHeight, width(), stripHeight);
    m_filmstrip->setVisible(stripHeight > 0);
    failureLabel->setGeometry(area.adjusted(40, 0, -40, 0));
    hud->move(12, 44);
    placeEmptyState();
    for (const Overlay &overlay : overlays) {
        if (overlay.place)
            overlay.place(overlay.widget, area);
        overlay.widget->raise();
    }
    // Floating, the filmstrip lies over the photo and fades with the controls.
    if (m_filmstripFloating)
        m_filmstrip->raise();
    hud->raise();
}

void ViewerPage::addOverlay(QWidget *overlay, std::function<void(QWidget *, const QRect &)> place)
{
    if (!overlay)
        return;
    overlay->setParent(this);
    overlays.push_back({overlay, std::move(place)});
    connect(overlay, &QObject::destroyed, this, [this, overlay] {
        std::erase_if(overlays, [overlay](const Overlay &o) { return o.widget == overlay; });
    });
    overlay->show();
    layoutChildren();
}

void ViewerPage::placeEmptyState()
{
    const QSize emptySize = m_emptyState->sizeHint().expandedTo(QSize(420, 0));
    m_emptyState->setGeometry((width() - emptySize.width()) / 2, height() / 2 - 30 - emptySize.height() / 2,
                              emptySize.width(), emptySize.height());
}

void ViewerPage::setEmptyStateVisible(bool visible, const QString &hint)
{
    if (!hint.isEmpty()) {
        m_emptyState->setHint(hint);
        // Centred again for the new hint's width.
        placeEmptyState();
    }
    m_emptyState->setVisible(visible);
    if (visible)
        m_emptyState->raise();
    hud->raise();
}

QString ViewerPage::emptyHint() const
{
    return m_emptyState->isVisible() ? m_emptyState->hint() : QString();
}

QString ViewerPage::failureMessage() const
{
    return failureLabel->isVisible() ? failureLabel->text() : QString();
}

namespace {

QString refusalText(const Codec::RefusalReason &why)
{
    switch (why.refusal) {
    case Codec::Refusal::missing: return Texts::text("ui.whyMissing");
    case Codec::Refusal::noPermission: return Texts::text("ui.whyNoPermission");
    case Codec::Refusal::notAFile: return Texts::text("ui.whyNotAFile");
    case Codec::Refusal::empty: return Texts::text("ui.whyEmpty");
    case Codec::Refusal::notAnImage: return Texts::text("ui.whyNotAnImage");
    case Codec::Refusal::tooLarge:
        return Texts::format("ui.whyTooLarge", {QLocale().toString(why.claimedSize.width()),
                                                QLocale().toString(why.claimedSize.height())});
    case Codec::Refusal::unreadable:
        return Texts::format("ui.whyUnreadable", {QString::fromLocal8Bit(std::strerror(why.error))});
    case Codec::Refusal::unknown: break;
    }
    return {};
}

} // namespace

void ViewerPage::showFailure(const QString &url, const Codec::RefusalReason &why)
{
    // The previous photo leaves the screen: what is shown is always the photo
    // the index and the filmstrip name, or the reason it cannot be.
    m_imageView->setImage(QImage(), 0, 0, true, true, true);
    if (m_emptyState->isVisible())
        setEmptyStateVisible(false);
    QString text = Texts::text("ui.cannotShow") + QLatin1Char('\n') + QFileInfo(url).fileName();
    // A name in another encoding than the system's (an old archive, a copy
    // from another system) reaches us with its bad bytes replaced, so the
    // file cannot be opened under it; the person can only rename it.
    if (FileNames::lostInDecoding(url))
        text += QLatin1Char('\n') + Texts::text("ui.unreadableName");
    else if (const QString reason = refusalText(why); !reason.isEmpty())
        text += QLatin1Char('\n') + reason;
    failureLabel->setText(text);
    failureLabel->show();
    failureLabel->raise();
    hud->raise();
    if (onPhotoShown)
        onPhotoShown();
}

bool ViewerPage::currentFileIsShownOne()
{
    const std::optional<ImageItem> item = m_controller->folderModel().current();
    if (!item)
        return false;
    if (FileNames::lostInDecoding(item->url)) {
        flash(Texts::format("msg.nameNotText", {item->fileName()}), 4);
        return false;
    }
    if (m_edits->edits.isWriting(item->url) || m_controller->currentFileUnchanged())
        return true;
    flash(Texts::format("msg.changedOnDisk", {item->fileName()}), 3);
    return false;
}

int ViewerPage::previewTargetSize() const
{
    const double longer = std::max(m_imageView->width(), m_imageView->height());
    return std::clamp(int(m_imageView->backingScale() * longer), 1024, 8192);
}

void ViewerPage::open(const QString &url)
{
    m_edits->folderWillOpen(url);
    if (m_controller->open(url)) {
        setEmptyStateVisible(false);
        m_imageView->setFocus(Qt::OtherFocusReason);
        maybeShowCleanupHint();
    }
}

void ViewerPage::maybeShowCleanupHint()
{
    // The hint names the key of the cleanup review: while that screen does not
    // exist it is neither shown nor recorded as shown.
    if (!cleanupAvailable || !cleanupAvailable())
        return;
    if (!shouldShowCleanupHint(m_controller->folderModel().count(), Settings::cleanupHintShown(),
                               QCoreApplication::arguments().mid(1)))
        return;
    Settings::setCleanupHintShown(true);
    QPointer<ViewerPage> self(this);
    QTimer::singleShot(1200, this, [self] {
        if (self)
            self->flash(Texts::text("cleanup.tip"), 6);
    });
}

void ViewerPage::rotate(int quarterTurns)
{
    // The key and the menu item do the same: turn the view and say how to keep it.
    m_imageView->rotate(quarterTurns);
    flash(Texts::text("msg.rotHint"), 2);
}

void ViewerPage::toggleFilmstrip()
{
    filmstripHeight = filmstripHeight > 0 ? 0 : shownFilmstripHeight;
    layoutChildren();
    if (filmstripHeight > 0)
        m_filmstrip->scrollTo(m_controller->folderModel().index());
}

void ViewerPage::openFolderPanel()
{
    QString start;
    if (const std::optional<ImageItem> item = m_controller->folderModel().current())
        start = QFileInfo(item->url).absolutePath();
    QPointer<ViewerPage> self(this);
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

// ---- Escape, full screen and peek

void ViewerPage::handleEscape()
{
    QWidget *w = window();
    switch (escapeOutcome(peekSaved.has_value(), infoPanelVisible(), Settings::escCloses(), m_imageView->isFitMode(),
                          w && w->isFullScreen())) {
    case EscapeOutcome::endPeek:
        endAnyPeek();
        break;
    case EscapeOutcome::hideInfo:
        if (hideInfoPanel)
            hideInfoPanel();
        break;
    case EscapeOutcome::closeWindow:
        if (w)
            w->close();
        break;
    case EscapeOutcome::zoomToFit:
        m_imageView->zoomToFit(true);
        break;
    case EscapeOutcome::leaveFullScreen:
        setFullScreen(false);
        break;
    }
}

void ViewerPage::toggleFullScreen()
{
    endAnyPeek();
    if (QWidget *w = window())
        setFullScreen(!w->isFullScreen());
}

void ViewerPage::setFullScreen(bool on)
{
    QWidget *w = window();
    if (!w || w->isFullScreen() == on)
        return;
    // showFullScreen() and showNormal() would drop the maximised state.
    const Qt::WindowStates state = w->windowState() & ~Qt::WindowMinimized;
    w->setWindowState(on ? state | Qt::WindowFullScreen : state & ~Qt::WindowFullScreen);
    w->show();
}

bool ViewerPage::beginPeek()
{
    QWidget *w = window();
    if (!w ||  peekSaved || !m_controller->folderModel().current() || w->isFullScreen())
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
    if (onPeekChanged)
        onPeekChanged(true);
    return true;
}

void ViewerPage::fitWindowToPhoto()
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
    // The window's own bars above and beside the photo (the menu bar) are not
    // the photo: the photo takes the shape, and they are added to it.
    const QPoint inset = m_imageView->mapTo(w, QPoint(0, 0));
    const QSize chrome(std::max(0, inset.x()), std::max(0, inset.y()));
    const QSizeF content = peekContentSize(photo, m_imageView->backingScale(), visible.size() - chrome);
    // Window decorations stay outside the content: centre the whole frame.
    const QMargins decoration(w->geometry().left() - w->frameGeometry().left(),
                              w->geometry().top() - w->frameGeometry().top(),
                              w->frameGeometry().right() - w->geometry().right(),
                              w->frameGeometry().bottom() - w->geometry().bottom());
    const QSize inner(int(std::round(content.width())) + chrome.width(), int(std::round(content.height())) + chrome.height());
    const QSizeF frameSize(inner.width() + decoration.left() + decoration.right(),
                           inner.height() + decoration.top() + decoration.bottom());
    const QRectF frame = peekFrame(frameSize, visible);
    animateWindowTo(QRect(QPoint(int(frame.x()) + decoration.left(), int(frame.y()) + decoration.top()), inner));
}

void ViewerPage::animateWindowTo(const QRect &frame)
{
    QWidget *w = window();
    if (!w)
        return;
    windowAnimation->stop();
    windowAnimation->setStartValue(w->geometry());
    windowAnimation->setEndValue(frame);
    windowAnimation->start();
}

void ViewerPage::endPeek()
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
    if (onPeekChanged)
        onPeekChanged(false);
}

void ViewerPage::endAnyPeek()
{
    m_imageView->endPeek();
    if (peekSaved)
        endPeek();
}

// ---- The message bubble

void ViewerPage::flash(const QString &message, double seconds)
{
    hud->flash(message, seconds);
}

void ViewerPage::hideHudUnlessFlashing()
{
    hud->hideUnlessFlashing();
}

bool ViewerPage::isFlashing() const
{
    return hud->isFlashing();
}

QString ViewerPage::hudMessage() const
{
    return hud->message();
}

bool ViewerPage::hudVisible() const
{
    return hud->isVisible();
}

QRect ViewerPage::hudGeometry() const
{
    return hud->geometry();
}

// ---- Drops

namespace {

// A drop is taken as a copy, or else as a link: never as a move, which tells
// the program the file came from that it may delete its own.
std::optional<Qt::DropAction> dropActionFor(const QDropEvent *event)
{
    for (const Qt::DropAction action : {Qt::CopyAction, Qt::LinkAction}) {
        if (event->possibleActions() & action)
            return action;
    }
    return std::nullopt;
}

// The first local file or folder among what was dropped.
std::optional<QString> droppedPath(const QDropEvent *event)
{
    for (const QUrl &url : event->mimeData()->urls()) {
        if (std::optional<QString> path = FileNames::localPath(url))
            return path;
    }
    return std::nullopt;
}

} // namespace

void ViewerPage::dragEnterEvent(QDragEnterEvent *event)
{
    const std::optional<Qt::DropAction> action = dropActionFor(event);
    if (action && droppedPath(event)) {
        event->setDropAction(*action);
        event->accept();
    }
}

void ViewerPage::dropEvent(QDropEvent *event)
{
    const std::optional<Qt::DropAction> action = dropActionFor(event);
    const std::optional<QString> path = droppedPath(event);
    if (!action || !path)
        return;
    event->setDropAction(*action);
    event->accept();
    open(*path);
}
