#include "platform/ShortcutsPortal.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QLoggingCategory>

namespace {

Q_LOGGING_CATEGORY(lcPortal, "glanto.hotkey.portal", QtInfoMsg)

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString shortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");
const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString sessionInterface = QStringLiteral("org.freedesktop.portal.Session");

// One entry of the portal's shortcut lists, a(sa{sv}): the id and its
// properties (description, preferred_trigger, trigger_description).
struct PortalShortcut
{
    QString id;
    QVariantMap properties;
};

QDBusArgument &operator<<(QDBusArgument &argument, const PortalShortcut &shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, PortalShortcut &shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

using PortalShortcutList = QList<PortalShortcut>;

void registerTypes()
{
    static const bool registered = [] {
        qDBusRegisterMetaType<PortalShortcut>();
        qDBusRegisterMetaType<PortalShortcutList>();
        return true;
    }();
    Q_UNUSED(registered);
}

// An object path that may come as a path or, from some portals, as a string.
QString pathOf(const QVariant &value)
{
    if (value.metaType() == QMetaType::fromType<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    if (value.metaType() == QMetaType::fromType<QDBusVariant>())
        return pathOf(value.value<QDBusVariant>().variant());
    return value.toString();
}

// X keysym names of the printable ASCII keys that are not their own name.
QString keysymName(char32_t c)
{
    static const QHash<char32_t, const char *> names = {
        {U' ', "space"},       {U'!', "exclam"},      {U'"', "quotedbl"},    {U'#', "numbersign"},
        {U'$', "dollar"},      {U'%', "percent"},     {U'&', "ampersand"},   {U'\'', "apostrophe"},
        {U'(', "parenleft"},   {U')', "parenright"},  {U'*', "asterisk"},    {U'+', "plus"},
        {U',', "comma"},       {U'-', "minus"},       {U'.', "period"},      {U'/', "slash"},
        {U':', "colon"},       {U';', "semicolon"},   {U'<', "less"},        {U'=', "equal"},
        {U'>', "greater"},     {U'?', "question"},    {U'@', "at"},          {U'[', "bracketleft"},
        {U'\\', "backslash"},  {U']', "bracketright"}, {U'^', "asciicircum"}, {U'_', "underscore"},
        {U'`', "grave"},       {U'{', "braceleft"},   {U'|', "bar"},         {U'}', "braceright"},
        {U'~', "asciitilde"},
    };
    if ((c >= U'a' && c <= U'z') || (c >= U'0' && c <= U'9'))
        return QString(QChar(char16_t(c)));
    if (c >= U'A' && c <= U'Z')
        return QString(QChar(char16_t(c + 32)));
    const char *name = names.value(c, nullptr);
    return name ? QString::fromLatin1(name) : QString();
}

QString keyName(int qtKey)
{
    if (qtKey >= 0x20 && qtKey <= 0x7e)
        return keysymName(char32_t(qtKey));
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F35)
        return QStringLiteral("F%1").arg(qtKey - Qt::Key_F1 + 1);
    switch (qtKey) {
    case Qt::Key_Return: return QStringLiteral("Return");
    case Qt::Key_Enter: return QStringLiteral("KP_Enter");
    case Qt::Key_Tab: return QStringLiteral("Tab");
    case Qt::Key_Backspace: return QStringLiteral("BackSpace");
    case Qt::Key_Escape: return QStringLiteral("Escape");
    case Qt::Key_Delete: return QStringLiteral("Delete");
    case Qt::Key_Home: return QStringLiteral("Home");
    case Qt::Key_Left: return QStringLiteral("Left");
    case Qt::Key_Up: return QStringLiteral("Up");
    case Qt::Key_Right: return QStringLiteral("Right");
    case Qt::Key_Down: return QStringLiteral("Down");
    case Qt::Key_PageUp: return QStringLiteral("Page_Up");
    case Qt::Key_PageDown: return QStringLiteral("Page_Down");
    case Qt::Key_End: return QStringLiteral("End");
    case Qt::Key_Help: return QStringLiteral("Help");
    case Qt::Key_Clear: return QStringLiteral("Clear");
    default: return {};
    }
}

} // namespace

ShortcutsPortal::ShortcutsPortal(QString shortcutId, QString appId, QObject *parent)
    : QObject(parent)
    , shortcutId(std::move(shortcutId))
    , appId(std::move(appId))
{
    registerTypes();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        qCInfo(lcPortal, "no session bus: no global shortcuts");
        current = State::absent;
        return;
    }
    // The portal may stop (its sessions end with it) and start again.
    watcher = new QDBusServiceWatcher(portalService, bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString &, const QString &oldOwner, const QString &newOwner) {
                portalOwnerChanged(oldOwner, newOwner);
            });
    bus.connect(portalService, portalPath, shortcutsInterface, QStringLiteral("Activated"), this,
                SLOT(activated(QDBusMessage)));
    bus.connect(portalService, portalPath, shortcutsInterface, QStringLiteral("ShortcutsChanged"), this,
                SLOT(shortcutsChanged(QDBusMessage)));
    registerApp();
}

ShortcutsPortal::~ShortcutsPortal()
{
    closeSession();
    stopListening();
}

void ShortcutsPortal::bind(const QString &preferredTrigger, const QString &text)
{
    description = text;
    wanted = preferredTrigger;
    switch (current) {
    case State::checking:
        return;   // bound once the portal has answered
    case State::absent:
        // Perhaps it has started since: ask again (a check is cheap and asynchronous).
        if (watcher) {
            setState(State::checking);
            checkVersion();
        }
        return;
    case State::binding:
        return;   // the answer in flight looks at the newest wish
    case State::bound:
    case State::failed:
        // Every change of any key binding lands here; only a new trigger asks
        // the desktop again (it may show a dialog each time), and a trigger it
        // has refused is not pressed on it until the user records another.
        if (wanted == inSession)
            return;
        break;
    case State::idle:
        break;
    }
    closeSession();
    if (wanted.isEmpty()) {
        inSession.clear();
        setState(State::idle);
        return;
    }
    startSession();
}

QString ShortcutsPortal::triggerFor(const KeyCombo &combo)
{
    const QString key = keyName(Shortcuts::qtKeyForKeyCode(combo.keyCode));
    if (key.isEmpty())
        return {};
    QStringList parts;
    if (combo.mods & KeyMods::command)
        parts << QStringLiteral("CTRL");
    if (combo.mods & KeyMods::option)
        parts << QStringLiteral("ALT");
    if (combo.mods & KeyMods::shift)
        parts << QStringLiteral("SHIFT");
    if (combo.mods & KeyMods::control)
        parts << QStringLiteral("LOGO");
    parts << key;
    return parts.join(QLatin1Char('+'));
}

// ------------------------------------------------------------------ steps

void ShortcutsPortal::registerApp()
{
    if (appId.isEmpty()) {
        checkVersion();
        return;
    }
    // A program outside a sandbox tells the portal its id before any other
    // portal call; an older portal does not know the call, which is fine.
    QDBusMessage message = QDBusMessage::createMethodCall(portalService, portalPath,
                                                          QStringLiteral("org.freedesktop.host.portal.Registry"),
                                                          QStringLiteral("Register"));
    message << appId << QVariantMap();
    const int attempt = serial;
    auto *pending = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(message, callTimeoutMs), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this, attempt](QDBusPendingCallWatcher *done) {
        done->deleteLater();
        if (done->isError())
            qCDebug(lcPortal, "app id not registered: %s", qPrintable(done->error().message()));
        if (attempt == serial && current == State::checking)
            checkVersion();
    });
}

void ShortcutsPortal::checkVersion()
{
    QDBusMessage message = QDBusMessage::createMethodCall(portalService, portalPath,
                                                          QStringLiteral("org.freedesktop.DBus.Properties"),
                                                          QStringLiteral("Get"));
    message << shortcutsInterface << QStringLiteral("version");
    const int attempt = ++serial;
    auto *pending = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(message, callTimeoutMs), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this, attempt](QDBusPendingCallWatcher *done) {
        done->deleteLater();
        if (attempt != serial)
            return;
        const QDBusPendingReply<QDBusVariant> reply = *done;
        const uint version = reply.isError() ? 0 : reply.value().variant().toUInt();
        if (version == 0) {
            // Also what a desktop without the interface answers (an unknown property).
            if (!wanted.isEmpty())
                qCWarning(lcPortal, "no global shortcuts portal: %s", qPrintable(reply.error().message()));
            setState(State::absent);
            return;
        }
        qCDebug(lcPortal, "global shortcuts portal version %u", version);
        if (wanted.isEmpty()) {
            setState(State::idle);
            return;
        }
        startSession();
    });
}

void ShortcutsPortal::startSession()
{
    inSession = wanted;
    trigger.clear();
    setState(State::binding);
    const QString token = nextToken();
    QDBusMessage message =
        QDBusMessage::createMethodCall(portalService, portalPath, shortcutsInterface, QStringLiteral("CreateSession"));
    message << QVariantMap{{QStringLiteral("handle_token"), token},
                           {QStringLiteral("session_handle_token"), token}};
    call(message, Awaiting::session, token);
}

void ShortcutsPortal::bindInSession()
{
    inSession = wanted;
    const QString token = nextToken();
    const PortalShortcutList shortcuts{
        {shortcutId,
         {{QStringLiteral("description"), description}, {QStringLiteral("preferred_trigger"), inSession}}}};
    QDBusMessage message =
        QDBusMessage::createMethodCall(portalService, portalPath, shortcutsInterface, QStringLiteral("BindShortcuts"));
    message << QVariant::fromValue(QDBusObjectPath(session)) << QVariant::fromValue(shortcuts) << QString()
            << QVariantMap{{QStringLiteral("handle_token"), token}};
    call(message, Awaiting::binding, token);
}

void ShortcutsPortal::listShortcuts()
{
    const QString token = nextToken();
    QDBusMessage message =
        QDBusMessage::createMethodCall(portalService, portalPath, shortcutsInterface, QStringLiteral("ListShortcuts"));
    message << QVariant::fromValue(QDBusObjectPath(session)) << QVariantMap{{QStringLiteral("handle_token"), token}};
    call(message, Awaiting::listing, token);
}

void ShortcutsPortal::call(QDBusMessage message, Awaiting what, const QString &token)
{
    // Listen where the request will be before asking, so that a quick answer
    // is not missed.
    awaiting = what;
    listen(requestPath(token));
    const int attempt = serial;
    auto *pending = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(message, callTimeoutMs), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this, attempt, what](QDBusPendingCallWatcher *done) {
        done->deleteLater();
        if (attempt != serial)
            return;
        const QDBusPendingReply<QDBusObjectPath> reply = *done;
        if (reply.isError()) {
            qCWarning(lcPortal, "%s", qPrintable(reply.error().message()));
            if (what == Awaiting::listing) {
                stopListening();   // the binding stands; only its description is unknown
                return;
            }
            fail("the portal refused the call", State::failed);
            return;
        }
        // An older portal chooses its own request path: listen there instead.
        if (reply.value().path() != responsePath)
            listen(reply.value().path());
    });
}

void ShortcutsPortal::response(const QDBusMessage &message)
{
    if (message.path() != responsePath || awaiting == Awaiting::nothing)
        return;
    const Awaiting what = awaiting;
    stopListening();
    // Anything but (response code, results) is a failure, not a silent success.
    const QList<QVariant> arguments = message.arguments();
    const bool wellFormed = message.signature() == QLatin1String("ua{sv}");
    const uint code = wellFormed ? arguments[0].toUInt() : 2;
    const QVariantMap results = wellFormed ? qdbus_cast<QVariantMap>(arguments[1]) : QVariantMap();
    if (what == Awaiting::listing) {
        if (code == 0 && readTrigger(results.value(QStringLiteral("shortcuts"))) && onChange)
            onChange();
        return;
    }
    if (code != 0) {
        // 1: the user cancelled the desktop's dialog; 2: anything else.
        qWarning("HotKey register failed %u", code);
        fail(what == Awaiting::session ? "the portal refused the session" : "the portal refused the shortcut",
             State::failed);
        return;
    }
    if (what == Awaiting::session) {
        session = pathOf(results.value(QStringLiteral("session_handle")));
        if (session.isEmpty()) {
            fail("the portal sent no session", State::failed);
            return;
        }
        QDBusConnection::sessionBus().connect(portalService, session, sessionInterface, QStringLiteral("Closed"), this,
                                              SLOT(sessionClosed(QDBusMessage)));
        if (wanted.isEmpty()) {
            // Cleared while the session was being made.
            closeSession();
            inSession.clear();
            setState(State::idle);
            return;
        }
        bindInSession();
        return;
    }
    // The binding's answer. A newer wish waited for it: a session of its own.
    if (wanted != inSession) {
        closeSession();
        if (wanted.isEmpty()) {
            inSession.clear();
            setState(State::idle);
        } else {
            startSession();
        }
        return;
    }
    const bool described = readTrigger(results.value(QStringLiteral("shortcuts")));
    setState(State::bound);
    if (!described)
        listShortcuts();
}

void ShortcutsPortal::activated(const QDBusMessage &message)
{
    const QList<QVariant> arguments = message.arguments();
    if (current != State::bound || arguments.size() < 2 || session.isEmpty())
        return;
    // Only our own session's shortcut: the portal may serve other sessions of
    // this connection, and a late press of a closed session is not a press.
    if (pathOf(arguments[0]) != session || arguments[1].toString() != shortcutId)
        return;
    const QVariantMap options = arguments.size() > 3 ? qdbus_cast<QVariantMap>(arguments[3]) : QVariantMap();
    if (onActivated)
        onActivated(options.value(QStringLiteral("activation_token")).toString());
}

void ShortcutsPortal::shortcutsChanged(const QDBusMessage &message)
{
    const QList<QVariant> arguments = message.arguments();
    if (arguments.size() < 2 || session.isEmpty() || pathOf(arguments[0]) != session)
        return;
    // The user changed the trigger in the desktop's settings.
    if (readTrigger(arguments[1]) && onChange)
        onChange();
}

void ShortcutsPortal::sessionClosed(const QDBusMessage &message)
{
    if (message.path() != session)
        return;
    QDBusConnection::sessionBus().disconnect(portalService, session, sessionInterface, QStringLiteral("Closed"), this,
                                             SLOT(sessionClosed(QDBusMessage)));
    session.clear();
    fail("the desktop closed the session", State::failed);
}

void ShortcutsPortal::portalOwnerChanged(const QString &oldOwner, const QString &newOwner)
{
    if (!oldOwner.isEmpty()) {
        // The portal went away, and its sessions with it.
        if (!session.isEmpty())
            QDBusConnection::sessionBus().disconnect(portalService, session, sessionInterface,
                                                     QStringLiteral("Closed"), this, SLOT(sessionClosed(QDBusMessage)));
        session.clear();
        stopListening();
        ++serial;   // answers still on their way belong to the old portal
        trigger.clear();
        if (newOwner.isEmpty()) {
            if (!wanted.isEmpty())
                qCWarning(lcPortal, "the portal went away");
            setState(State::absent);
            return;
        }
    }
    if (newOwner.isEmpty() || (current != State::absent && oldOwner.isEmpty()))
        return;
    // A portal (again): introduce the program to it, ask it afresh, and bind
    // what is wanted.
    setState(State::checking);
    registerApp();
}

void ShortcutsPortal::closeSession()
{
    if (session.isEmpty())
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.disconnect(portalService, session, sessionInterface, QStringLiteral("Closed"), this,
                   SLOT(sessionClosed(QDBusMessage)));
    // No need to wait for the answer: the session is ours no longer either way.
    bus.send(QDBusMessage::createMethodCall(portalService, session, sessionInterface, QStringLiteral("Close")));
    session.clear();
    trigger.clear();
}

void ShortcutsPortal::fail(const char *why, State state)
{
    qCWarning(lcPortal, "%s", why);
    stopListening();
    ++serial;
    closeSession();
    setState(state);
}

void ShortcutsPortal::setState(State state)
{
    if (state == current)
        return;
    current = state;
    if (onChange)
        onChange();
}

// ------------------------------------------------------------------ plumbing

void ShortcutsPortal::listen(const QString &path)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!responsePath.isEmpty())
        bus.disconnect(portalService, responsePath, requestInterface, QStringLiteral("Response"), this,
                       SLOT(response(QDBusMessage)));
    responsePath = path;
    bus.connect(portalService, responsePath, requestInterface, QStringLiteral("Response"), this,
                SLOT(response(QDBusMessage)));
}

void ShortcutsPortal::stopListening()
{
    if (!responsePath.isEmpty())
        QDBusConnection::sessionBus().disconnect(portalService, responsePath, requestInterface,
                                                 QStringLiteral("Response"), this, SLOT(response(QDBusMessage)));
    responsePath.clear();
    awaiting = Awaiting::nothing;
}

QString ShortcutsPortal::requestPath(const QString &token) const
{
    // The portal's documented path: the caller's unique name without its
    // colon, dots turned into underscores, then the token.
    QString sender = QDBusConnection::sessionBus().baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return QStringLiteral("%1/request/%2/%3").arg(portalPath, sender, token);
}

QString ShortcutsPortal::nextToken()
{
    ++serial;
    return QStringLiteral("glanto%1_%2").arg(QCoreApplication::applicationPid()).arg(serial);
}

bool ShortcutsPortal::readTrigger(const QVariant &shortcuts)
{
    if (!shortcuts.isValid())
        return false;
    const PortalShortcutList list = qdbus_cast<PortalShortcutList>(shortcuts);
    for (const PortalShortcut &entry : list) {
        if (entry.id != shortcutId)
            continue;
        const QString described = entry.properties.value(QStringLiteral("trigger_description")).toString();
        if (described.isEmpty())
            return false;
        trigger = described;
        return true;
    }
    return false;
}
