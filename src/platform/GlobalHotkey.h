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
// ordinary clients, so there the hotkey is unavailable.
class QWindow;

class GlobalHotkey : public QObject
{
    Q_OBJECT
public:
    enum class Status {
        none,          // no combination registered
        active,        // grabbed: pressing it calls onToggle
        taken,         // another program holds the combination
        unavailable,   // no X11 display (a Wayland session, or none at all)
    };

    explicit GlobalHotkey(QObject *parent = nullptr);
    ~GlobalHotkey() override;

    // Whether this session can have a global hotkey at all.
    bool isAvailable() const;

    // (Re)registers: the previous grab is released first; none only releases
    // it. A combination without Ctrl, Alt or Meta is never grabbed (it would
    // take that key from every other program). A refusal is logged as
    // "HotKey register failed <X error code>".
    Status registerCombo(const std::optional<KeyCombo> &combo);

    // Registers the toggleApp binding now and again after every change of the
    // key bindings.
    void followShortcuts();

    Status status() const { return current; }

    // Called on the main thread, once per press of the registered combination.
    std::function<void()> onToggle;

    // The usual toggle: a window that is in front is minimised (so it can
    // always be found again in the task bar), any other is restored, raised
    // and given the focus.
    static void toggle(QWindow *window);

private:
    struct X11;
    void grab();
    void ungrab();
    void readEvents();
    void registerBinding();

    std::unique_ptr<X11> x;
    std::optional<KeyCombo> wanted;
    Status current = Status::none;
};
