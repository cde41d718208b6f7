#pragma once

// The desktop portal's GlobalShortcuts interface as a Wayland desktop runs
// it, for tests: registered on a private session bus through a connection of
// its own, answering each call with a request handle at once and the outcome
// later as the request's Response signal, sent to the caller only. It holds to
// the rule of some desktops that a session is bound once, and records what it
// was asked.
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QStringList>
#include <QVariantMap>

namespace desktop {

inline const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
inline const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
inline const QString shortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

struct PortalShortcut
{
    QString id;
    QVariantMap properties;
};

inline QDBusArgument &operator<<(QDBusArgument &argument, const PortalShortcut &shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

inline const QDBusArgument &operator>>(const QDBusArgument &argument, PortalShortcut &shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

// The portal, as the desktop runs it, on a connection of its own.
class PortalStandIn : public QDBusVirtualObject
{
public:
    explicit PortalStandIn(const QString &busAddress)
        : name(QStringLiteral("portal-stand-in-%1").arg(++made))
        , bus(QDBusConnection::connectToBus(busAddress, name))
    {
        qDBusRegisterMetaType<PortalShortcut>();
        qDBusRegisterMetaType<QList<PortalShortcut>>();
    }
    ~PortalStandIn() override
    {
        stop();
        QDBusConnection::disconnectFromBus(name);
    }

    bool start()
    {
        return bus.registerVirtualObject(portalPath, this, QDBusConnection::SubPath)
               && bus.registerService(portalService);
    }
    // The portal goes away (it crashed, or the session ends).
    void stop()
    {
        bus.unregisterService(portalService);
        bus.unregisterObject(portalPath, QDBusConnection::UnregisterTree);
    }

    // How it behaves.
    uint version = 1;          // 0: a portal without global shortcuts
    uint createAnswer = 0;     // the Response code of CreateSession
    uint bindAnswer = 0;       // the Response code of BindShortcuts
    bool answerBind = true;    // false: its dialog stays open until answerPendingBind()
    bool describeInBind = true;
    QString assigned;          // the trigger the desktop chooses; empty: the preferred one, as it names it

    // What it was asked.
    QStringList calls;
    QString registeredApp;
    PortalShortcut lastBound;
    QString boundSession;      // the session of the last accepted binding
    QStringList closedSessions;

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &) override
    {
        const QList<QVariant> arguments = message.arguments();
        const QString member = message.member();
        if (message.interface() == QLatin1String("org.freedesktop.DBus.Properties") && member == QLatin1String("Get")) {
            if (arguments.value(0).toString() != shortcutsInterface || version == 0)
                bus.send(message.createErrorReply(QDBusError::InvalidArgs, QStringLiteral("No such interface")));
            else
                bus.send(message.createReply(QVariant::fromValue(QDBusVariant(version))));
            return true;
        }
        if (member == QLatin1String("Register")) {
            registeredApp = arguments.value(0).toString();
            bus.send(message.createReply());
            return true;
        }
        if (message.interface() == QLatin1String("org.freedesktop.portal.Session") && member == QLatin1String("Close")) {
            closedSessions << message.path();
            bus.send(message.createReply());
            return true;
        }
        if (message.interface() != shortcutsInterface)
            return false;
        calls << member;
        client = message.service();
        if (member == QLatin1String("CreateSession")) {
            const QVariantMap options = qdbus_cast<QVariantMap>(arguments.value(0));
            const QString handle = path(QStringLiteral("request"), options.value(QStringLiteral("handle_token")).toString());
            const QString session = path(QStringLiteral("session"), options.value(QStringLiteral("session_handle_token")).toString());
            bus.send(message.createReply(QVariant::fromValue(QDBusObjectPath(handle))));
            // The session handle comes as a string, as the interface documents it.
            respond(handle, createAnswer, createAnswer == 0 ? QVariantMap{{QStringLiteral("session_handle"), session}} : QVariantMap());
            return true;
        }
        if (member == QLatin1String("BindShortcuts")) {
            const QString session = qvariant_cast<QDBusObjectPath>(arguments.value(0)).path();
            const auto shortcuts = qdbus_cast<QList<PortalShortcut>>(arguments.value(1));
            const QVariantMap options = qdbus_cast<QVariantMap>(arguments.value(3));
            const QString handle = path(QStringLiteral("request"), options.value(QStringLiteral("handle_token")).toString());
            bus.send(message.createReply(QVariant::fromValue(QDBusObjectPath(handle))));
            lastBound = shortcuts.value(0);
            pendingHandle = handle;
            pendingSession = session;
            // A session is bound once; a second binding in it fails.
            if (boundSessions.contains(session)) {
                respond(handle, 2, {});
                return true;
            }
            if (answerBind)
                answerPendingBind(bindAnswer);
            return true;
        }
        if (member == QLatin1String("ListShortcuts")) {
            const QVariantMap options = qdbus_cast<QVariantMap>(arguments.value(1));
            const QString handle = path(QStringLiteral("request"), options.value(QStringLiteral("handle_token")).toString());
            bus.send(message.createReply(QVariant::fromValue(QDBusObjectPath(handle))));
            respond(handle, 0, {{QStringLiteral("shortcuts"), QVariant::fromValue(described())}});
            return true;
        }
        return false;
    }

    QString introspect(const QString &) const override { return {}; }

    // The user answers the desktop's dialog.
    void answerPendingBind(uint code)
    {
        if (code == 0) {
            boundSessions << pendingSession;
            boundSession = pendingSession;
        }
        QVariantMap results;
        if (code == 0 && describeInBind)
            results.insert(QStringLiteral("shortcuts"), QVariant::fromValue(described()));
        respond(pendingHandle, code, results);
    }

    // The user presses the shortcut.
    void activate(const QString &session, const QString &id, const QString &activationToken = {})
    {
        QDBusMessage signal = QDBusMessage::createSignal(portalPath, shortcutsInterface, QStringLiteral("Activated"));
        QVariantMap options;
        if (!activationToken.isEmpty())
            options.insert(QStringLiteral("activation_token"), activationToken);
        signal << QVariant::fromValue(QDBusObjectPath(session)) << id << qulonglong(1234) << options;
        sendTo(signal);
    }

    // The user picks another trigger in the desktop's settings.
    void changeTrigger(const QString &trigger)
    {
        assigned = trigger;
        QDBusMessage signal = QDBusMessage::createSignal(portalPath, shortcutsInterface, QStringLiteral("ShortcutsChanged"));
        signal << QVariant::fromValue(QDBusObjectPath(boundSession)) << QVariant::fromValue(described());
        sendTo(signal);
    }

    // The desktop ends the session.
    void closeSession()
    {
        QDBusMessage signal = QDBusMessage::createSignal(boundSession, QStringLiteral("org.freedesktop.portal.Session"),
                                                         QStringLiteral("Closed"));
        signal << QVariantMap();
        sendTo(signal);
    }

    static inline int made = 0;
    const QString name;
    QDBusConnection bus;

private:
    QString path(const QString &kind, const QString &token) const
    {
        QString sender = client.mid(1);
        sender.replace(QLatin1Char('.'), QLatin1Char('_'));
        return QStringLiteral("%1/%2/%3/%4").arg(portalPath, kind, sender, token);
    }

    QList<PortalShortcut> described() const
    {
        PortalShortcut shortcut = lastBound;
        shortcut.properties.remove(QStringLiteral("preferred_trigger"));
        shortcut.properties.insert(QStringLiteral("trigger_description"),
                                   assigned.isEmpty() ? QStringLiteral("Press ") + lastBound.properties.value(QStringLiteral("preferred_trigger")).toString()
                                                      : assigned);
        return {shortcut};
    }

    void respond(const QString &handle, uint code, const QVariantMap &results)
    {
        QDBusMessage response = QDBusMessage::createSignal(handle, QStringLiteral("org.freedesktop.portal.Request"),
                                                           QStringLiteral("Response"));
        response << code << results;
        sendTo(response);
    }

    // The real portal sends its signals to the session's owner only.
    void sendTo(QDBusMessage signal)
    {
        QDBusMessage targeted = QDBusMessage::createTargetedSignal(client, signal.path(), signal.interface(), signal.member());
        targeted.setArguments(signal.arguments());
        bus.send(targeted);
    }

    QString client;
    QString pendingHandle, pendingSession;
    QStringList boundSessions;
};

} // namespace desktop
