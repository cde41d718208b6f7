#include "app/SingleInstance.h"

#include "platform/FileNames.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcInstance, "glanto.instance", QtInfoMsg)

namespace {

// Waiting longer than this for the running instance means it is stuck; this
// process then runs on its own rather than leaving the user with nothing.
constexpr int handOverTimeoutMs = 5000;

// The object served on the bus. Its scriptable slots are the bus interface.
class OpenService : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "app.glanto.Glanto")
public:
    explicit OpenService(SingleInstance *owner)
        : QObject(owner)
        , owner(owner)
    {}

public Q_SLOTS:
    Q_SCRIPTABLE void Open(const QString &path)
    {
        qCDebug(lcInstance, "Open %s", qUtf8Printable(path));
        if (owner->onOpen)
            owner->onOpen(path);
    }

    // Open with the activation token the launcher gave the later process: a
    // Wayland compositor lets a window come to the front only with one. Qt's
    // Wayland windows present the token they find in the environment when
    // asked to activate; it is good once, so no program started later
    // inherits it.
    Q_SCRIPTABLE void Present(const QString &path, const QString &activationToken)
    {
        if (!activationToken.isEmpty())
            qputenv("XDG_ACTIVATION_TOKEN", activationToken.toUtf8());
        Open(path);
        qunsetenv("XDG_ACTIVATION_TOKEN");
    }

private:
    SingleInstance *owner;
};

QString absolutePath(const QString &path)
{
    // An address no local path reaches stays as it is, to be named as one.
    if (path.isEmpty() || FileNames::isAddress(path))
        return path;
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

} // namespace

SingleInstance::SingleInstance(QObject *parent)
    : QObject(parent)
{}

SingleInstance::~SingleInstance()
{
    release();
}

void SingleInstance::release()
{
    if (!registered)
        return;
    registered = false;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterObject(QLatin1String(objectPath));
    bus.unregisterService(QLatin1String(serviceName));
}

SingleInstance::Role SingleInstance::claimOrHandOver(const QString &path)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        qCDebug(lcInstance, "no session bus: running alone");
        return Role::standalone;
    }

    // Export the object first so that a request arriving the moment the name
    // is ours finds someone to answer it.
    auto *service = new OpenService(this);
    if (!bus.registerObject(QLatin1String(objectPath), service,
                            QDBusConnection::ExportScriptableSlots)) {
        qCWarning(lcInstance, "cannot export %s: running alone", objectPath);
        return Role::standalone;
    }
    if (bus.registerService(QLatin1String(serviceName))) {
        registered = true;
        qCDebug(lcInstance, "primary instance");
        return Role::primary;
    }
    bus.unregisterObject(QLatin1String(objectPath));
    delete service;

    const auto handOver = [&](const QString &method, const QVariantList &arguments) {
        QDBusMessage call = QDBusMessage::createMethodCall(QLatin1String(serviceName), QLatin1String(objectPath),
                                                           QLatin1String(interfaceName), method);
        call.setArguments(arguments);
        return bus.call(call, QDBus::Block, handOverTimeoutMs);
    };
    const QString absolute = absolutePath(path);
    QDBusMessage reply = handOver(QStringLiteral("Present"),
                                  {absolute, qEnvironmentVariable("XDG_ACTIVATION_TOKEN")});
    // A running copy of an earlier version knows only Open.
    if (reply.type() == QDBusMessage::ErrorMessage
        && reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.UnknownMethod"))
        reply = handOver(QStringLiteral("Open"), {absolute});
    if (reply.type() == QDBusMessage::ReplyMessage) {
        qCDebug(lcInstance, "handed over to the running instance");
        return Role::handedOver;
    }
    qCWarning(lcInstance, "the running instance did not answer (%s): running alone",
              qUtf8Printable(reply.errorMessage()));
    return Role::standalone;
}

#include "SingleInstance.moc"
