#pragma once

#include "commands/CommandRouter.h"

#include <QMainWindow>
#include <QSize>

#include <functional>
#include <optional>

class MainMenu;
class QStackedWidget;
class ViewerPage;

// What is said for a path handed over that cannot be opened: not there, or
// behind a folder this user may not enter.
QString cannotOpenText(const QString &path);

// The one main window: a stack of pages (the viewer now, the cleanup review on
// top of it while it is shown), the main menu, and the router that runs every
// command of the window on the active page. Dark, black behind the photo,
// remembered size, centred.
//
// Keys: the window looks at every key press meant for it before any widget or
// menu shortcut does, and runs the command bound to it exactly once.
class ViewerWindowController : public QMainWindow
{
    Q_OBJECT
public:
    // The toolkit-level record of the window frame (not a preference).
    static constexpr const char *frameAutosaveName = "SorvaneMainWindow";
    static constexpr QSize initialSize{1280, 860};
    static constexpr QSize minimumContentSize{640, 420};
    // The smallest the window may be made on a screen with this free area: the
    // minimum above, or the free area where a small or strongly scaled screen
    // (1024 x 600 at 200 %) is smaller, so the window can still fit and maximise.
    static QSize minimumSizeWithin(const QRect &available);
    // The size the window opens at on a screen whose free area is available:
    // a remembered size as far as it fits, the default within nine tenths of
    // it (a 1366 x 768 laptop, a scaled screen), never under the minimum within it.
    static QSize openingSize(const std::optional<QSize> &remembered, const QRect &available);
    // The free area of the screen the window opens on, from the free areas of
    // the screens (the primary first): the one that held the centre of the
    // window when it was last closed, else the primary. Where the compositor
    // places windows itself (Wayland), the window may open on any screen and
    // the largest is the bound, so a size kept on it is not cut down.
    static QRect openingArea(const std::optional<QPoint> &lastCentre, const QList<QRect> &screens,
                             bool compositorPlaces);
    // Where a framed window (frame around inner) goes when its frame reaches past
    // the free area: as large as fits with its frame, centred. None when it fits.
    static std::optional<QRect> fittedFrame(const QRect &frame, const QRect &inner, const QRect &available);

    explicit ViewerWindowController(QWidget *parent = nullptr);
    ~ViewerWindowController() override;

    // Shows the window (switching to its virtual desktop), brings it in front
    // of other applications and gives it focus unless activate is false (a
    // dialog over it is to keep the keyboard).
    void showWindow(bool activate = true);

    // Forwarded to the viewer page.
    void open(const QString &path);
    void openFolderPanel();

    ViewerPage *viewerPage() const { return m_viewer; }
    CommandRouter &router() { return m_router; }
    MainMenu *mainMenu() const { return m_menu; }

    // Shows a page over the current one and sends the window's commands to it;
    // the window does not take ownership. popPage removes it again and returns
    // to the page below (the viewer is the bottom page and stays).
    void pushPage(CommandPage *page);
    void popPage(CommandPage *page);

    // The settings window, when one is built: opens it on a tab (clamped to the
    // tabs that exist) or on the last tab shown. Unset: the settings and
    // shortcut-help items are disabled.
    std::function<void(std::optional<int> tab)> showSettingsWindow;
    // The update check, when one is built. Unset: its item is disabled.
    std::function<void()> checkForUpdates;

    // Stores the window's frame under frameAutosaveName.
    void saveFrame() const;

    // Closing asks nothing (a conversion under way is stopped after the photos
    // being written): set when the program is told to end by a signal.
    bool closeWithoutAsking = false;

protected:
    void closeEvent(QCloseEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void restoreFrame();
    // Once the window manager has put its frame around the window opened at a
    // remembered size: a frame reaching past the screen's free area is made to
    // fit inside it, centred.
    void fitFrameOnScreen();
    void registerWindowCommands();
    // The title bar and task bar name what the page shown holds: its own
    // title (the viewer's photo), then the program.
    void updateTitle();

    CommandRouter m_router;
    QStackedWidget *stack = nullptr;
    ViewerPage *m_viewer = nullptr;
    MainMenu *m_menu = nullptr;
    bool m_framedOnce = false;
    bool m_fitFramePending = false;
};
