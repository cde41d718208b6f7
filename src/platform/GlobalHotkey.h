#pragma once

#include "settings/Shortcuts.h"

#include <QList>
#include <QObject>

#include <functional>
#include <memory>
#include <optional>

// One key combination that reaches this program while any other has the
// focus. On X11 it is a passive key grab on the root window, made through a
// connection of our own (so it works whatever Qt's own platform is), with the
// Num Lock and Caps Lock variants. A Wayland session offers no such grab to
// ordinary clients; there the desktop portal's global shortcuts serve where
// the desktop offers them, and the hotkey is unavailable where it does not.
class QTimer;
class QWindow;
class ShortcutsPortal;

class GlobalHotkey : public QObject
{
    Q_OBJECT
public:
    enum class Status {
        none,          // no combination registered
        active,        // grabbed: pressing it calls onToggle
        taken,         // another program holds the combination
        unavailable,   // no way to have one here, or the desktop refused it
        pending,       // the desktop portal has not answered yet
    };

    // Where the key comes from.
    enum class Backend {
        none,     // neither an X11 display nor a Wayland session
        x11,      // a key grab on the X server
        portal,   // the desktop portal's global shortcuts (Wayland)
    };

    // The backend for Qt's platform plugin ("xcb", "wayland", ...) in this
    // session. A program on XWayland in a Wayland session uses the portal too:
    // an X grab there sees keys only while an X window has the focus.
    static Backend backendFor(const QString &platformName, bool waylandSession, bool xDisplay);

    // Picks the backend from the running application and the environment.
    explicit GlobalHotkey(QObject *parent = nullptr);
    explicit GlobalHotkey(Backend backend, QObject *parent = nullptr);
    ~GlobalHotkey() override;

    Backend backend() const { return chosen; }

    // Whether this session can have a global hotkey at all (for the portal:
    // as far as known; it answers asynchronously, see statusChanged).
    bool isAvailable() const;

    // (Re)registers: the previous grab is released first; none only releases
    // it. A combination without Ctrl, Alt or Meta is never grabbed (it would
    // take that key from every other program). A refusal is logged as
    // "HotKey register failed <X error code>" (on the portal, the code of its
    // answer). The portal answers later: pending now, statusChanged then.
    Status registerCombo(const std::optional<KeyCombo> &combo);

    // Registers the toggleApp binding now and again after every change of the
    // key bindings.
    void followShortcuts();

    Status status() const;

    // What the desktop says triggers the hotkey, where it chooses (the
    // portal's own description, "Ctrl+Alt+V"); empty elsewhere.
    QString triggerDescription() const;

    // Called on the main thread, once per press of the registered combination.
    std::function<void()> onToggle;

    // The usual toggle: a window that is in front is minimised (so it can
    // always be found again in the task bar), any other is restored, raised
    // and given the focus.
    static void toggle(QWindow *window);

    // A window on another virtual desktop would be made active there, out of
    // sight: its desktop is shown first, as a pager would (X11 window
    // managers that have desktops; nothing elsewhere).
    static void showDesktopOf(QWindow *window);

Q_SIGNALS:
    // The status or the trigger description changed after registerCombo returned.
    void statusChanged();

private:
    struct X11;
    void grab();
    void ungrab();
    void readEvents();
    void registerBinding();
    void openX11();

    Backend chosen = Backend::none;
    std::unique_ptr<X11> x;
    ShortcutsPortal *portal = nullptr;
    std::optional<KeyCombo> wanted;
    Status current = Status::none;
    // While another program holds the combination (often a copy of this one
    // still finishing its last export), it is asked for again now and then.
    QTimer *retry = nullptr;
};
