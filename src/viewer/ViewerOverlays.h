#pragma once

#include "commands/Command.h"
#include "viewer/OverlayTooltips.h"

#include <QObject>

class CommandRouter;
class ControlsVisibility;
class FloatingToolbar;
class InfoPanel;
class NavigationArrow;
class RatingBadge;
class SlideshowController;
class ViewerPage;

// The controls over the photo and the slideshow, joined to a viewer page: the
// floating toolbar, the two arrows, the information panel, the rating badge,
// their auto-hide, and the slideshow with its full screen and floating filmstrip.
// The toolbar runs its buttons through the window's router, so a click does
// exactly what the menu item and the key do. Lives as long as the page (its
// child); main thread only.
class ViewerOverlays : public QObject
{
    Q_OBJECT
public:
    ViewerOverlays(ViewerPage *page, CommandRouter &router);
    ~ViewerOverlays() override;

    FloatingToolbar *toolbar() const { return m_toolbar; }
    InfoPanel *infoPanel() const { return m_info; }
    RatingBadge *ratingBadge() const { return m_badge; }
    SlideshowController *slideshow() const { return m_slideshow; }
    ControlsVisibility *controls() const { return m_controls; }

    bool infoPanelShown() const;
    void setInfoPanelShown(bool shown);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void wirePage();
    void wireSlideshow();
    void registerCommands();
    // A new photo (or the message that it cannot be shown) is on screen.
    void photoShown();
    void setOutOfSight(bool away);
    // The current photo changed, or the folder: what depends on it follows.
    void currentChanged();
    void refreshButtons();
    void refreshRating();
    void refreshTooltips();
    void placeToolbar();
    void placeInfoPanel();
    void placeBadge();
    void placeArrows();
    int filmstripHeight() const;

    ViewerPage *page;
    CommandRouter &router;
    FloatingToolbar *m_toolbar;
    NavigationArrow *previousArrow;
    NavigationArrow *nextArrow;
    InfoPanel *m_info;
    RatingBadge *m_badge;
    ControlsVisibility *m_controls;
    SlideshowController *m_slideshow;
    QObject *watchedWindow = nullptr;
    // The photos the slideshow has put on screen since it started (logged).
    int slideshowShown = 0;
    bool infoHiddenForPeek = false;
};

// The command a toolbar or arrow button runs (with tag 0).
CommandId commandForButton(OverlayButton button);
