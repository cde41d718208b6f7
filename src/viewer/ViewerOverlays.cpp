#include "viewer/ViewerOverlays.h"

#include "commands/CommandRouter.h"
#include "library/FilmstripView.h"
#include "settings/Settings.h"
#include "viewer/ControlsVisibility.h"
#include "viewer/FloatingToolbar.h"
#include "viewer/InfoPanel.h"
#include "viewer/NavigationArrow.h"
#include "viewer/OverlayLayout.h"
#include "viewer/RatingBadge.h"
#include "viewer/ViewerPageEdits.h"
#include "viewer/SlideshowController.h"
#include "viewer/ViewerPage.h"
#include "viewer/ZoomableImageView.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QPointer>
#include <QWindow>
#include <QWindowStateChangeEvent>

#include <algorithm>
#include <cmath>

Q_LOGGING_CATEGORY(lcSlideshow, "glanto.slideshow", QtWarningMsg)

CommandId commandForButton(OverlayButton button)
{
    switch (button) {
    case OverlayButton::zoomIn:
        return CommandId::zoomIn;
    case OverlayButton::zoomOut:
        return CommandId::zoomOut;
    case OverlayButton::fit:
        return CommandId::zoomFit;
    case OverlayButton::actualSize:
        return CommandId::zoomActual;
    case OverlayButton::rotateCCW:
        return CommandId::rotateCCW;
    case OverlayButton::rotateCW:
        return CommandId::rotateCW;
    case OverlayButton::slideshow:
        return CommandId::toggleSlideshow;
    case OverlayButton::info:
        return CommandId::toggleInfoPanel;
    case OverlayButton::filmstrip:
        return CommandId::toggleFilmstrip;
    case OverlayButton::exportAs:
        return CommandId::exportAs;
    case OverlayButton::rename:
        return CommandId::renameCurrent;
    case OverlayButton::trash:
        return CommandId::trashCurrent;
    case OverlayButton::previous:
        return CommandId::navigateBackward;
    case OverlayButton::next:
        return CommandId::navigateForward;
    }
    return CommandId::navigateForward;
}

ViewerOverlays::ViewerOverlays(ViewerPage *page, CommandRouter &router)
    : QObject(page)
    , page(page)
    , router(router)
    , m_toolbar(new FloatingToolbar)
    , previousArrow(new NavigationArrow(false))
    , nextArrow(new NavigationArrow(true))
    , m_info(new InfoPanel)
    , m_badge(new RatingBadge)
    , m_controls(new ControlsVisibility(this))
    , m_slideshow(new SlideshowController(this))
{
    wirePage();
    if (ViewerPageEdits *edits = page->edits())
        connect(edits, &ViewerPageEdits::currentRatingChanged, this, [this] { refreshRating(); });
    wireSlideshow();
    registerCommands();
    refreshTooltips();
    refreshRating();
    refreshButtons();
    m_info->hide();
    m_badge->hide();
    m_controls->setHasPhoto(page->controller()->folderModel().current().has_value());
}

ViewerOverlays::~ViewerOverlays() = default;

int ViewerOverlays::filmstripHeight() const
{
    return page->filmstripHeightNow();
}

void ViewerOverlays::wirePage()
{
    ViewerPage *p = page;
    ViewerViewController *c = p->controller();
    ZoomableImageView *v = p->imageView();

    // The arrows and the toolbar are placed from the whole page: the toolbar keeps
    // its distance to the filmstrip's top edge whether the filmstrip floats or not.
    p->addOverlay(previousArrow, [this](QWidget *, const QRect &) { placeArrows(); });
    p->addOverlay(nextArrow, [this](QWidget *, const QRect &) { placeArrows(); });
    p->addOverlay(m_badge, [this](QWidget *, const QRect &) { placeBadge(); });
    p->addOverlay(m_toolbar, [this](QWidget *, const QRect &) { placeToolbar(); });
    p->addOverlay(m_info, [this](QWidget *, const QRect &) { placeInfoPanel(); });

    m_toolbar->onTrigger = [this](OverlayButton button) {
        m_controls->activity();
        router.dispatch(commandForButton(button));
        page->imageView()->setFocus(Qt::OtherFocusReason);
    };
    previousArrow->onActivate = [this] { router.dispatch(CommandId::navigateBackward); };
    nextArrow->onActivate = [this] { router.dispatch(CommandId::navigateForward); };

    m_info->currentGeneration = [c] { return c->generation; };
    m_info->onRebuilt = [this] { placeInfoPanel(); };
    p->infoPanelShown = [this] { return infoPanelShown(); };
    p->hideInfoPanel = [this] { setInfoPanelShown(false); };

    m_controls->animatedSet = [this] {
        QList<QWidget *> set{m_toolbar, previousArrow, nextArrow};
        if (page->filmstripFloating() && filmstripHeight() > 0)
            set << page->filmstrip();
        return set;
    };
    m_controls->pointerOnControls = [this] {
        const QList<QWidget *> set = m_controls->animatedSet();
        return std::any_of(set.begin(), set.end(), [](QWidget *w) { return w->isVisible() && w->underMouse(); });
    };
    // The badge moves up out of the toolbar's way while the controls show, in
    // step with their fade.
    m_controls->onStep = [this](double) { placeBadge(); };
    m_controls->onVisibilityChanged = [this](bool visible) {
        if (visible)
            refreshButtons();
        placeBadge();
    };

    // Pointer moves over the photo reveal the controls; moves with no button
    // held do nothing else in the image view.
    v->setMouseTracking(true);
    v->installEventFilter(this);
    p->installEventFilter(this);
    auto activity = v->onActivity;
    v->onActivity = [this, activity] {
        if (activity)
            activity();
        m_controls->activity();
    };
    auto singleClick = v->onSingleClick;
    v->onSingleClick = [this, singleClick] {
        if (m_slideshow->singleClick())
            qCDebug(lcSlideshow) << (m_slideshow->isPaused() ? "slideshow paused" : "slideshow resumed");
        else if (singleClick)
            singleClick();
    };

    p->onPhotoShown = [this] { photoShown(); };
    p->onPeekChanged = [this](bool peeking) {
        m_controls->setPeeking(peeking);
        // The panel steps aside during a peek and returns after it.
        if (peeking && infoPanelShown()) {
            infoHiddenForPeek = true;
            m_info->hide();
        } else if (!peeking && infoHiddenForPeek) {
            infoHiddenForPeek = false;
            setInfoPanelShown(true);
        }
        refreshRating();
    };
    auto current = c->onCurrentChanged;
    c->onCurrentChanged = [this, current] {
        if (current)
            current();
        currentChanged();
    };
    auto noPhotos = c->onNoPhotos;
    c->onNoPhotos = [this, noPhotos](const QString &hint) {
        if (noPhotos)
            noPhotos(hint);
        m_slideshow->stop();
        currentChanged();
    };

    // Handlers are added by whatever joins a feature to the viewer, some after the
    // toolbar is built; the buttons follow every change the router hears of.
    connect(&router, &CommandRouter::statesChanged, this, &ViewerOverlays::refreshButtons);
    connect(&SettingsNotifier::instance(), &SettingsNotifier::shortcutsDidChange, this, [this] { refreshTooltips(); });
    connect(&SettingsNotifier::instance(), &SettingsNotifier::settingsDidChange, this, [this](const QString &what) {
        if (what == QLatin1String("slideshow"))
            m_slideshow->settingsChanged();
        else if (what == QLatin1String("rating"))
            refreshRating();
    });
    if (QWidget *w = p->window(); w && w != p) {
        watchedWindow = w;
        w->installEventFilter(this);
    }
}

void ViewerOverlays::wireSlideshow()
{
    SlideshowController *s = m_slideshow;
    QPointer<ViewerPage> p(page);
    s->photoCount = [p] { return p ? p->controller()->folderModel().count() : 0; };
    s->isFullScreen = [p] { return p && p->window()->isFullScreen(); };
    s->enterFullScreen = [p] {
        if (p)
            p->setFullScreen(true);
    };
    s->advance = [p](std::optional<double> fade) {
        if (!p || p->controller()->folderModel().count() == 0)
            return false;
        ViewerViewController *c = p->controller();
        // This change only fades for the slideshow's length; the page keeps it
        // through the navigation because the controller says who is paging.
        p->imageView()->pendingFadeDuration = fade;
        c->advancingSlideshow = true;
        c->navigate(+1);
        c->advancingSlideshow = false;
        return true;
    };
    s->setFloatingLayout = [this](bool floating) {
        // Back in its own place the strip no longer fades with the controls,
        // which may have faded it out meanwhile.
        if (!floating)
            m_controls->fader().release(page->filmstrip());
        page->setFilmstripFloating(floating);
        m_controls->activity();
    };
    s->onStateChanged = [this](bool on) {
        m_toolbar->setSlideshowOn(on);
        slideshowShown = 0;
        qCDebug(lcSlideshow) << (on ? "slideshow on" : "slideshow off");
    };
    s->flash = [p](const QString &message, double seconds) {
        if (p)
            p->flash(message, seconds);
    };
}

void ViewerOverlays::registerCommands()
{
    ViewerPage *p = page;
    const auto pageRule = p->menuRule(CommandId::toggleSlideshow);
    p->commands.on(
        CommandId::toggleSlideshow, [this](int) { m_slideshow->toggle(); },
        [this, pageRule](int tag) {
            CommandState state = pageRule(tag);
            state.checked = m_slideshow->isOn();
            return state;
        });
    p->commands.on(
        CommandId::setSlideshowInterval, [this](int seconds) { m_slideshow->setInterval(seconds); },
        p->menuRule(CommandId::setSlideshowInterval));
    const auto infoRule = p->menuRule(CommandId::toggleInfoPanel);
    p->commands.on(
        CommandId::toggleInfoPanel, [this](int) { setInfoPanelShown(!infoPanelShown()); },
        [this, infoRule](int tag) {
            CommandState state = infoRule(tag);
            state.enabled = state.enabled && page->controller()->folderModel().current().has_value();
            state.checked = infoPanelShown();
            return state;
        });
}

bool ViewerOverlays::infoPanelShown() const
{
    return m_info->isVisibleTo(page);
}

void ViewerOverlays::setInfoPanelShown(bool shown)
{
    infoHiddenForPeek = false;
    if (!shown) {
        m_info->hide();
        return;
    }
    m_info->setRating(page->currentRating ? page->currentRating() : 0);
    if (const std::optional<QString> path = page->currentPhotoPath())
        m_info->refresh(*path, page->controller()->generation);
    m_info->show();
    m_info->raise();
    placeInfoPanel();
}

bool ViewerOverlays::eventFilter(QObject *watched, QEvent *event)
{
    // The page is going (its controller is gone first): nothing to follow.
    if (!page->controller())
        return false;
    switch (event->type()) {
    case QEvent::MouseMove:
    case QEvent::MouseButtonPress:
        // A click is activity too: the controls come back under it.
        if (watched == page->imageView())
            m_controls->activity();
        break;
    case QEvent::Leave:
        if (watched == page)
            m_controls->pointerLeft();
        break;
    case QEvent::Hide:
        // The page gives way to another one (the cleanup review): no slideshow
        // goes on behind it. The whole window hidden hides the page too; that is
        // the window out of sight, below.
        if (watched == page && !event->spontaneous() && page->window()->isVisible())
            m_slideshow->stop();
        // The window went out of sight: minimised (a spontaneous hide), hidden by
        // the global shortcut, or left on another desktop. Slideshow and animation
        // wait for it to be seen again.
        if (watched == watchedWindow)
            setOutOfSight(true);
        break;
    case QEvent::Show:
        if (watched == watchedWindow)
            setOutOfSight(false);
        break;
    case QEvent::Close:
        if (watched == watchedWindow)
            m_slideshow->stop();
        break;
    // A dialog over the viewer holds the slideshow's ticks until it closes, so a
    // tick never changes the photo a rename or an export is about. Qt tells the
    // window when a modal dialog starts and stops blocking it; the focus moves
    // back before a closing dialog has left the modal stack.
    case QEvent::WindowBlocked:
    case QEvent::WindowUnblocked:
        if (watched == watchedWindow)
            m_slideshow->setModalOpen(event->type() == QEvent::WindowBlocked);
        break;
    case QEvent::WindowStateChange:
        if (watched == watchedWindow) {
            const auto *change = static_cast<QWindowStateChangeEvent *>(event);
            const bool wasFull = change->oldState().testFlag(Qt::WindowFullScreen);
            if (wasFull && !page->window()->isFullScreen())
                m_slideshow->stop();
        }
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void ViewerOverlays::setOutOfSight(bool away)
{
    m_slideshow->setOutOfSight(away);
    page->imageView()->setOutOfSight(away);
}

void ViewerOverlays::photoShown()
{
    if (m_slideshow->isOn()) {
        ++slideshowShown;
        qCDebug(lcSlideshow).noquote() << "slideshow shows" << slideshowShown
                                       << page->currentPhotoPath().value_or(QString());
    }
    m_slideshow->photoShown();
    // Some commands wait for the photo itself (a failed decode disables them).
    router.statesMayHaveChanged();
    if (infoPanelShown()) {
        if (const std::optional<QString> path = page->currentPhotoPath())
            m_info->refresh(*path, page->controller()->generation);
    }
}

void ViewerOverlays::currentChanged()
{
    const bool hasPhoto = page->controller()->folderModel().current().has_value();
    m_controls->setHasPhoto(hasPhoto);
    if (hasPhoto && !m_slideshow->isOn())
        m_controls->activity();
    if (!hasPhoto)
        m_info->hide();
    refreshButtons();
    refreshRating();
    router.statesMayHaveChanged();
}

void ViewerOverlays::refreshButtons()
{
    const CommandStateBatch batch;
    const bool hasPhoto = page->controller()->folderModel().current().has_value();
    for (const OverlayButtonInfo &info : toolbarButtons()) {
        if (OverlaySymbolButton *b = m_toolbar->button(info.button))
            b->setEnabled(hasPhoto && router.state(commandForButton(info.button)).enabled);
    }
    previousArrow->setEnabled(hasPhoto);
    nextArrow->setEnabled(hasPhoto);
}

void ViewerOverlays::refreshRating()
{
    const int rating = page->currentRating ? page->currentRating() : 0;
    const RatingDisplay display = ratingDisplay(rating, !Settings::ratingBadgeShown(), page->peeking(), false);
    m_badge->setStars(display.badgeText);
    // The rating badge itself belongs to the page's photo edits; this one stays hidden.
    m_badge->setVisible(false);
    m_toolbar->setStars(display.toolbarStarsText, display.toolbarStarsVisible);
    m_info->setRating(rating);
    placeToolbar();
    placeBadge();
}

void ViewerOverlays::refreshTooltips()
{
    const BindingLookup lookup = shortcutBindingLookup();
    m_toolbar->refreshTooltips(lookup);
    previousArrow->refreshTooltip(lookup);
    nextArrow->refreshTooltip(lookup);
}

void ViewerOverlays::placeToolbar()
{
    m_toolbar->adjustSize();
    m_toolbar->setGeometry(OverlayLayout::toolbarRect(page->size(), m_toolbar->sizeHint(), filmstripHeight()));
    placeInfoPanel();
}

void ViewerOverlays::placeArrows()
{
    const QSize area = page->photoArea().size();
    previousArrow->setGeometry(OverlayLayout::previousArrowRect(area));
    nextArrow->setGeometry(OverlayLayout::nextArrowRect(area));
}

void ViewerOverlays::placeInfoPanel()
{
    const QSize area = page->photoArea().size();
    // Where the toolbar is, faded out or not: the panel does not move as it comes and goes.
    const QRect toolbar = OverlayLayout::toolbarRect(page->size(), m_toolbar->sizeHint(), filmstripHeight());
    m_info->setGeometry(OverlayLayout::infoPanelRect(area, m_info->sizeHint().height(), toolbar));
}

void ViewerOverlays::placeBadge()
{
    // Between the offset with the controls hidden and the one with them shown,
    // as far as their fade has gone.
    const bool floating = page->filmstripFloating();
    const int fitting = m_toolbar->sizeHint().height();
    const int shown = OverlayLayout::ratingBadgeOffset(true, fitting, floating, filmstripHeight());
    const int hidden = OverlayLayout::ratingBadgeOffset(false, fitting, floating, filmstripHeight());
    const double opacity = m_controls->fader().opacity();
    const int offset = int(std::lround(hidden + (shown - hidden) * opacity));
    m_badge->adjustSize();
    m_badge->setGeometry(
        OverlayLayout::ratingBadgeRect(page->size(), m_badge->sizeHint(), filmstripHeight(), offset));
    // The badge on show is the photo edits' own: it moves with the controls too.
    if (ViewerPageEdits *edits = page->edits(); edits && edits->badge()) {
        QWidget *badge = edits->badge();
        badge->adjustSize();
        badge->setGeometry(OverlayLayout::ratingBadgeRect(page->size(), badge->sizeHint(), filmstripHeight(), offset));
    }
}
