#pragma once

#include "settings/Shortcuts.h"

#include <QDBusMessage>
#include <QObject>
#include <QString>

#include <functional>

class QDBusServiceWatcher;

// One global shortcut through the desktop portal's GlobalShortcuts interface,
// the way a Wayland desktop (GNOME, Plasma, Hyprland...) offers them to
// ordinary programs. The program only proposes a trigger: the desktop may
// show its own dialog, let the user pick another one or refuse, and says which
// trigger it settled on.
//
// Every call is asynchronous. A portal answers a request in two steps: the
// method returns the path of a Request object at once, and the outcome comes
// later as that object's Response signal (after the user has answered a
// dialog, perhaps). Each binding gets a session of its own, because a desktop
// may accept BindShortcuts only once per session.
class ShortcutsPortal : public QObject
{
    Q_OBJECT
public:
    enum class State {
        checking,   // asking whether the portal offers the interface
        absent,     // no portal, or one without global shortcuts, or it went away
        idle,       // available; nothing bound
        binding,    // a session or a binding is on its way
        bound,      // the desktop accepted the shortcut
        failed,     // the desktop (or the user in its dialog) said no, or the session ended
    };

    // shortcutId names the shortcut to the desktop (it remembers the user's
    // choice under the program's id and this one). appId, when not empty, is
    // registered with the portal first, which a program that is not sandboxed
    // needs for the desktop to know who asks.
    ShortcutsPortal(QString shortcutId, QString appId, QObject *parent = nullptr);
    ~ShortcutsPortal() override;

    // Binds the shortcut with this preferred trigger (XDG shortcut syntax,
    // "CTRL+ALT+v") in a new session, the previous one closed; an empty trigger
    // only closes it. While a binding is in flight the newest wish waits for
    // its answer (desktops show one dialog at a time).
    void bind(const QString &preferredTrigger, const QString &description);

    State state() const { return current; }
    // What the desktop says triggers the shortcut ("Ctrl+Alt+V"), in its own
    // words; empty until it says.
    QString triggerDescription() const { return trigger; }
    // The trigger last proposed.
    QString preferredTrigger() const { return wanted; }

    // Called on the main thread for each press of the bound shortcut, with
    // the activation token the desktop sent along (empty when none): a
    // Wayland window may come to the front only with one.
    std::function<void(const QString &activationToken)> onActivated;
    // Called whenever the state or the trigger description changes.
    std::function<void()> onChange;

    // The XDG shortcut syntax for a stored combination: modifiers CTRL, ALT,
    // SHIFT and LOGO, then the key's keysym name ("CTRL+ALT+v", "LOGO+F5");
    // empty for a key with no name.
    static QString triggerFor(const KeyCombo &combo);

    // How long a method call may take to return its request handle.
    static constexpr int callTimeoutMs = 10000;

private Q_SLOTS:
    void response(const QDBusMessage &message);
    void activated(const QDBusMessage &message);
    void shortcutsChanged(const QDBusMessage &message);
    void sessionClosed(const QDBusMessage &message);

private:
    // The request whose Response is awaited (one at a time).
    enum class Awaiting { nothing, session, binding, listing };

    void registerApp();
    void checkVersion();
    void startSession();
    void bindInSession();
    void listShortcuts();
    void closeSession();
    void portalOwnerChanged(const QString &oldOwner, const QString &newOwner);
    void fail(const char *why, State state);
    void setState(State state);
    void call(QDBusMessage message, Awaiting what, const QString &token);
    void listen(const QString &path);
    void stopListening();
    QString requestPath(const QString &token) const;
    QString nextToken();
    bool readTrigger(const QVariant &shortcuts);

    QString shortcutId;
    QString appId;
    QString description;
    QString wanted;             // the trigger the user wants now
    QString inSession;          // the trigger the current session was bound with
    QString trigger;            // the desktop's description of the bound trigger
    QString session;            // the session's object path, once created
    QString responsePath;       // the request whose Response is awaited
    Awaiting awaiting = Awaiting::nothing;
    State current = State::checking;
    int serial = 0;             // makes tokens unique and drops late replies
    QDBusServiceWatcher *watcher = nullptr;
};
