#include "platform/GlobalHotkey.h"

#include "platform/ShortcutsPortal.h"
#include "settings/Settings.h"
#include "settings/Texts.h"

#include <QGuiApplication>
#include <QSocketNotifier>
#include <QWindow>
#include <QTimer>
#include <QtGlobal>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <cstdlib>
#include <cstring>

namespace {

// How often a combination another program holds is asked for again.
constexpr int retryInterval = 5000;

// X keysyms used here (from X11/keysymdef.h).
namespace Sym {
constexpr xcb_keysym_t numLock = 0xff7f;
constexpr xcb_keysym_t altL = 0xffe9;
constexpr xcb_keysym_t superL = 0xffeb;
} // namespace Sym

// The X keysym of a stored key, through its Qt key: Latin-1 keys are their own
// (lower-case) code points, the rest come from this table.
xcb_keysym_t keysymForKeyCode(quint16 keyCode)
{
    const int qtKey = Shortcuts::qtKeyForKeyCode(keyCode);
    if (qtKey >= 0x20 && qtKey <= 0x7e)
        return xcb_keysym_t((qtKey >= 'A' && qtKey <= 'Z') ? qtKey + 32 : qtKey);
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F35)
        return xcb_keysym_t(0xffbe + (qtKey - Qt::Key_F1));
    switch (qtKey) {
    case Qt::Key_Return: return 0xff0d;
    case Qt::Key_Enter: return 0xff8d;
    case Qt::Key_Tab: return 0xff09;
    case Qt::Key_Backspace: return 0xff08;
    case Qt::Key_Escape: return 0xff1b;
    case Qt::Key_Delete: return 0xffff;
    case Qt::Key_Home: return 0xff50;
    case Qt::Key_Left: return 0xff51;
    case Qt::Key_Up: return 0xff52;
    case Qt::Key_Right: return 0xff53;
    case Qt::Key_Down: return 0xff54;
    case Qt::Key_PageUp: return 0xff55;
    case Qt::Key_PageDown: return 0xff56;
    case Qt::Key_End: return 0xff57;
    case Qt::Key_Help: return 0xff6a;
    case Qt::Key_Clear: return 0xff0b;
    default: return 0;
    }
}

bool isWaylandSession()
{
    return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
           || qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland");
}

} // namespace

struct GlobalHotkey::X11
{
    xcb_connection_t *connection = nullptr;
    xcb_window_t root = 0;
    xcb_key_symbols_t *symbols = nullptr;
    std::unique_ptr<QSocketNotifier> notifier;

    // The modifier masks of this keyboard map (Num Lock, Alt and Super move
    // between Mod1...Mod5 from one map to another).
    uint16_t numLock = XCB_MOD_MASK_2;
    uint16_t alt = XCB_MOD_MASK_1;
    uint16_t super = XCB_MOD_MASK_4;

    // What is grabbed now.
    QList<xcb_keycode_t> keycodes;
    uint16_t modifiers = 0;

    ~X11()
    {
        notifier.reset();
        if (symbols)
            xcb_key_symbols_free(symbols);
        if (connection)
            xcb_disconnect(connection);
    }

    uint16_t maskOf(xcb_keysym_t keysym, uint16_t fallback) const
    {
        xcb_keycode_t *codes = xcb_key_symbols_get_keycode(symbols, keysym);
        if (!codes)
            return fallback;
        uint16_t mask = 0;
        xcb_get_modifier_mapping_reply_t *reply =
            xcb_get_modifier_mapping_reply(connection, xcb_get_modifier_mapping(connection), nullptr);
        if (reply) {
            const xcb_keycode_t *map = xcb_get_modifier_mapping_keycodes(reply);
            const int perModifier = reply->keycodes_per_modifier;
            for (int modifier = 0; modifier < 8 && !mask; ++modifier) {
                for (int i = 0; i < perModifier && !mask; ++i) {
                    const xcb_keycode_t code = map[modifier * perModifier + i];
                    for (const xcb_keycode_t *c = codes; code && *c != XCB_NO_SYMBOL; ++c) {
                        if (*c == code)
                            mask = uint16_t(1u << modifier);
                    }
                }
            }
            std::free(reply);
        }
        std::free(codes);
        return mask ? mask : fallback;
    }

    void readModifierMap()
    {
        numLock = maskOf(Sym::numLock, XCB_MOD_MASK_2);
        alt = maskOf(Sym::altL, XCB_MOD_MASK_1);
        super = maskOf(Sym::superL, XCB_MOD_MASK_4);
    }

    uint16_t xModifiers(quint32 mods) const
    {
        uint16_t mask = 0;
        if (mods & KeyMods::shift)
            mask |= XCB_MOD_MASK_SHIFT;
        if (mods & KeyMods::command)
            mask |= XCB_MOD_MASK_CONTROL;
        if (mods & KeyMods::option)
            mask |= alt;
        if (mods & KeyMods::control)
            mask |= super;
        return mask;
    }

    // The bits that decide a match: everything but the lock keys.
    uint16_t relevant() const
    {
        return XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | alt | super;
    }
};

GlobalHotkey::Backend GlobalHotkey::backendFor(const QString &platformName, bool waylandSession, bool xDisplay)
{
    if (platformName.startsWith(QLatin1String("wayland")) || waylandSession)
        return Backend::portal;
    return xDisplay ? Backend::x11 : Backend::none;
}

GlobalHotkey::GlobalHotkey(QObject *parent)
    : GlobalHotkey(backendFor(QGuiApplication::platformName(), isWaylandSession(),
                              !qEnvironmentVariableIsEmpty("DISPLAY")),
                   parent)
{
}

GlobalHotkey::GlobalHotkey(Backend backend, QObject *parent)
    : QObject(parent)
    , chosen(backend)
{
    if (chosen == Backend::x11) {
        openX11();
        retry = new QTimer(this);
        retry->setSingleShot(true);
        retry->setInterval(retryInterval);
        connect(retry, &QTimer::timeout, this, [this] {
            if (!x || !wanted || current != Status::taken)
                return;
            grab();
            if (current == Status::active)
                Q_EMIT statusChanged();
        });
        return;
    }
    if (chosen != Backend::portal)
        return;
    // The desktop knows the shortcut by this id and shows the action's title in
    // its own settings and dialogs.
    portal = new ShortcutsPortal(QStringLiteral("toggleApp"), QGuiApplication::desktopFileName(), this);
    portal->onActivated = [this](const QString &activationToken) {
        // Not from inside the signal's delivery: the toggle may re-register.
        QTimer::singleShot(0, this, [this, activationToken] {
            if (!onToggle)
                return;
            // Qt's Wayland windows present this token when asked to come to the
            // front; it is good once, so no program started later inherits it.
            if (!activationToken.isEmpty())
                qputenv("XDG_ACTIVATION_TOKEN", activationToken.toUtf8());
            onToggle();
            qunsetenv("XDG_ACTIVATION_TOKEN");
        });
    };
    portal->onChange = [this] { Q_EMIT statusChanged(); };
}

void GlobalHotkey::openX11()
{
    auto x11 = std::make_unique<X11>();
    int screenNumber = 0;
    x11->connection = xcb_connect(nullptr, &screenNumber);
    if (!x11->connection || xcb_connection_has_error(x11->connection))
        return;
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(x11->connection));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    if (!screens.rem)
        return;
    x11->root = screens.data->root;
    x11->symbols = xcb_key_symbols_alloc(x11->connection);
    if (!x11->symbols)
        return;
    x11->readModifierMap();
    x11->notifier = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(x11->connection), QSocketNotifier::Read);
    connect(x11->notifier.get(), &QSocketNotifier::activated, this, [this] { readEvents(); });
    x = std::move(x11);
}

GlobalHotkey::~GlobalHotkey()
{
    if (x)
        ungrab();
}

bool GlobalHotkey::isAvailable() const
{
    if (portal)
        return portal->state() != ShortcutsPortal::State::absent;
    return x != nullptr;
}

GlobalHotkey::Status GlobalHotkey::status() const
{
    if (!portal)
        return current;
    using State = ShortcutsPortal::State;
    const State state = portal->state();
    if (!wanted)
        return state == State::absent ? Status::unavailable : Status::none;
    if (current == Status::taken)
        return current;   // a key the desktop's trigger syntax cannot name
    switch (state) {
    case State::checking:
    case State::binding:
        return Status::pending;
    case State::bound:
        return Status::active;
    case State::idle:
        return Status::none;
    case State::absent:
    case State::failed:
        break;
    }
    return Status::unavailable;
}

QString GlobalHotkey::triggerDescription() const
{
    return portal && portal->state() == ShortcutsPortal::State::bound ? portal->triggerDescription() : QString();
}

GlobalHotkey::Status GlobalHotkey::registerCombo(const std::optional<KeyCombo> &combo)
{
    if (x)
        ungrab();
    if (retry)
        retry->stop();
    wanted.reset();
    // Only a combination with Ctrl, Alt or Meta; a plain key would be taken
    // from every other program.
    if (combo && !combo->isClearedMarker() && combo->hasNonShiftModifier())
        wanted = combo;
    if (portal) {
        current = Status::none;
        QString trigger = wanted ? ShortcutsPortal::triggerFor(*wanted) : QString();
        if (wanted && trigger.isEmpty()) {
            // Like a key missing from the X keyboard map: nothing can press it.
            qWarning("HotKey register failed %d", 0);
            current = Status::taken;
        }
        portal->bind(trigger, Texts::text("sc.a.toggleApp"));
        return status();
    }
    if (!x) {
        current = Status::unavailable;
        return current;
    }
    if (!wanted) {
        current = Status::none;
        return current;
    }
    grab();
    return current;
}

void GlobalHotkey::followShortcuts()
{
    registerBinding();
    // Unique: following twice still registers once per change.
    connect(&SettingsNotifier::instance(), &SettingsNotifier::shortcutsDidChange, this,
            &GlobalHotkey::registerBinding, Qt::UniqueConnection);
}

void GlobalHotkey::registerBinding()
{
    registerCombo(Shortcuts::combo(ShortcutAction::toggleApp));
}

void GlobalHotkey::grab()
{
    current = Status::none;
    if (!wanted)
        return;
    const xcb_keysym_t keysym = keysymForKeyCode(wanted->keyCode);
    xcb_keycode_t *codes = keysym ? xcb_key_symbols_get_keycode(x->symbols, keysym) : nullptr;
    if (!codes) {
        // The key does not exist on this keyboard map; nothing can press it.
        qWarning("HotKey register failed %d", 0);
        current = Status::taken;
        return;
    }
    const uint16_t base = x->xModifiers(wanted->mods);
    const uint16_t variants[] = {0, x->numLock, XCB_MOD_MASK_LOCK, uint16_t(x->numLock | XCB_MOD_MASK_LOCK)};
    int failure = 0;
    for (const xcb_keycode_t *code = codes; *code != XCB_NO_SYMBOL && !failure; ++code) {
        for (uint16_t variant : variants) {
            const xcb_void_cookie_t cookie = xcb_grab_key_checked(x->connection, 1, x->root, uint16_t(base | variant),
                                                                  *code, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
            if (xcb_generic_error_t *error = xcb_request_check(x->connection, cookie)) {
                failure = error->error_code;
                std::free(error);
                break;
            }
        }
        if (!x->keycodes.contains(*code))
            x->keycodes.append(*code);
    }
    std::free(codes);
    x->modifiers = base;
    if (failure) {
        // Typically another program (or the desktop) holds the combination.
        qWarning("HotKey register failed %d", failure);
        ungrab();
        current = Status::taken;
        if (retry)
            retry->start();
        return;
    }
    current = Status::active;
}

void GlobalHotkey::ungrab()
{
    if (x->keycodes.isEmpty())
        return;
    const uint16_t variants[] = {0, x->numLock, XCB_MOD_MASK_LOCK, uint16_t(x->numLock | XCB_MOD_MASK_LOCK)};
    for (xcb_keycode_t code : std::as_const(x->keycodes)) {
        for (uint16_t variant : variants)
            xcb_ungrab_key(x->connection, code, x->root, uint16_t(x->modifiers | variant));
    }
    xcb_flush(x->connection);
    x->keycodes.clear();
    x->modifiers = 0;
}

void GlobalHotkey::readEvents()
{
    bool mappingChanged = false;
    bool pressed = false;
    while (xcb_generic_event_t *event = xcb_poll_for_event(x->connection)) {
        switch (event->response_type & 0x7f) {
        case XCB_KEY_PRESS: {
            // Only the registered key with exactly its modifiers (lock keys
            // aside); anything else that reaches us is not a toggle.
            const auto *key = reinterpret_cast<const xcb_key_press_event_t *>(event);
            if (current == Status::active && x->keycodes.contains(key->detail)
                && (key->state & x->relevant()) == x->modifiers)
                pressed = true;
            break;
        }
        case XCB_MAPPING_NOTIFY: {
            auto *mapping = reinterpret_cast<xcb_mapping_notify_event_t *>(event);
            xcb_refresh_keyboard_mapping(x->symbols, mapping);
            if (mapping->request == XCB_MAPPING_KEYBOARD || mapping->request == XCB_MAPPING_MODIFIER)
                mappingChanged = true;
            break;
        }
        default:
            break;
        }
        std::free(event);
    }
    if (mappingChanged) {
        // The key may now sit on another keycode, or Num Lock on another
        // modifier: grab again from the new map.
        ungrab();
        x->readModifierMap();
        grab();
    }
    if (pressed && onToggle) {
        // Not from inside the event read: the toggle may re-register.
        QTimer::singleShot(0, this, [this] {
            if (onToggle)
                onToggle();
        });
    }
}

void GlobalHotkey::toggle(QWindow *window)
{
    if (!window)
        return;
    // The states are added to and taken from, never replaced: showMinimized()
    // and show() would drop full screen (and a maximised frame) on the way.
    const bool minimised = window->windowStates() & Qt::WindowMinimized;
    if (window->isVisible() && !minimised && window->isActive()) {
        window->setWindowStates(window->windowStates() | Qt::WindowMinimized);
        return;
    }
    if (minimised)
        window->setWindowStates(window->windowStates() & ~Qt::WindowMinimized);
    window->setVisible(true);
    showDesktopOf(window);
    window->raise();
    window->requestActivate();
}

void GlobalHotkey::showDesktopOf(QWindow *window)
{
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!window || !x11 || !x11->connection() || !window->handle())
        return;
    xcb_connection_t *c = x11->connection();
    const auto atom = [c](const char *name) {
        xcb_intern_atom_reply_t *reply =
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, uint16_t(std::strlen(name)), name), nullptr);
        const xcb_atom_t a = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return a;
    };
    const auto cardinal = [c](xcb_window_t w, xcb_atom_t property) -> std::optional<quint32> {
        xcb_get_property_reply_t *reply =
            xcb_get_property_reply(c, xcb_get_property(c, 0, w, property, XCB_ATOM_CARDINAL, 0, 1), nullptr);
        std::optional<quint32> value;
        if (reply && reply->format == 32 && xcb_get_property_value_length(reply) >= 4)
            value = *static_cast<const quint32 *>(xcb_get_property_value(reply));
        std::free(reply);
        return value;
    };
    const xcb_atom_t wmDesktop = atom("_NET_WM_DESKTOP");
    const xcb_atom_t currentDesktop = atom("_NET_CURRENT_DESKTOP");
    if (wmDesktop == XCB_ATOM_NONE || currentDesktop == XCB_ATOM_NONE)
        return;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const std::optional<quint32> desktop = cardinal(xcb_window_t(window->winId()), wmDesktop);
    const std::optional<quint32> current = cardinal(root, currentDesktop);
    // No desktop (no window manager that has them), on every desktop, or here.
    if (!desktop || !current || *desktop == 0xFFFFFFFFu || *desktop == *current)
        return;
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = root;
    event.type = currentDesktop;
    event.data.data32[0] = *desktop;
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(c, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char *>(&event));
    xcb_flush(c);
}
