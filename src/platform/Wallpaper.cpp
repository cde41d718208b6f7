#include "platform/Wallpaper.h"

#include "platform/Codec.h"
#include "platform/HandOff.h"
#include "settings/Texts.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusObjectPath>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QProcess>
#include <QRandomGenerator>
#include <QThreadPool>
#include <QTimer>
#include <QUrl>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

void answer(const WallpaperService::Done &done, std::optional<QString> error)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return;
    HandOff::invoke(app, [done, error] { if (done) done(error); }, Qt::QueuedConnection);
}

QString fileUri(const QString &file)
{
    return QString::fromUtf8(QUrl::fromLocalFile(file).toEncoded());
}

bool needsConversion(const QString &photo)
{
    switch (Codec::formatOfFile(photo)) {
    case ImageFormat::raw:
    case ImageFormat::jxl:
    case ImageFormat::heif:
        return true;
    default:
        return false;
    }
}

// The list of Xfce's backdrop properties holding an image.
QStringList xfceImageProperties(const QByteArray &listing)
{
    QStringList properties;
    for (const QByteArray &line : listing.split('\n')) {
        const QString property = QString::fromUtf8(line.trimmed());
        if (property.startsWith(QLatin1String("/backdrop/")) && property.endsWith(QLatin1String("/last-image")))
            properties.append(property);
    }
    return properties;
}

// Walks the ways of setting a wallpaper, one after the other, and answers
// once. It deletes itself when done.
class WallpaperRequest : public QObject
{
    Q_OBJECT
public:
    WallpaperRequest(QString file, WallpaperService::Done done)
        : file(std::move(file)), done(std::move(done))
    {}

    void start() { askPortal(); }

public Q_SLOTS:
    void portalResponse(uint response, const QVariantMap &results)
    {
        Q_UNUSED(results);
        stopListening();
        if (response == 0)
            finish(std::nullopt);
        else if (response == 1)
            finish(Texts::text("msg.wallpaperCancelled")); // the user said no: not a success, no fallback
        else
            useDesktopSetting();
    }

private:
    void askPortal()
    {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected()) {
            useDesktopSetting();
            return;
        }
        // Listen on the request's predictable path before calling, so a quick
        // answer cannot be missed.
        const QString token = QStringLiteral("glanto%1").arg(QRandomGenerator::global()->generate());
        QString sender = bus.baseService().mid(1);
        sender.replace(QLatin1Char('.'), QLatin1Char('_'));
        requestPath = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
        listening = bus.connect(QStringLiteral("org.freedesktop.portal.Desktop"), requestPath,
                                QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"), this,
                                SLOT(portalResponse(uint, QVariantMap)));

        QDBusMessage call = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.portal.Desktop"), QStringLiteral("/org/freedesktop/portal/desktop"),
            QStringLiteral("org.freedesktop.portal.Wallpaper"), QStringLiteral("SetWallpaperURI"));
        const QVariantMap options{{QStringLiteral("handle_token"), token},
                                  {QStringLiteral("show-preview"), false},
                                  {QStringLiteral("set-on"), QStringLiteral("background")}};
        call << QString() << fileUri(file) << options;
        auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 10000), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
            w->deleteLater();
            const QDBusPendingReply<QDBusObjectPath> reply = *w;
            if (reply.isError()) {
                // No portal, or one without a wallpaper backend.
                stopListening();
                useDesktopSetting();
                return;
            }
            if (reply.value().path() != requestPath && listening) {
                // An older portal chose its own path: listen there instead.
                stopListening();
                requestPath = reply.value().path();
                listening = QDBusConnection::sessionBus().connect(
                    QStringLiteral("org.freedesktop.portal.Desktop"), requestPath,
                    QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"), this,
                    SLOT(portalResponse(uint, QVariantMap)));
            }
            // The portal may show a preview and wait for the user.
            QTimer::singleShot(5 * 60 * 1000, this, [this] {
                if (!answered) {
                    stopListening();
                    finish(Texts::text("msg.wallpaperNoAnswer"));
                }
            });
        });
    }

    void stopListening()
    {
        if (!listening)
            return;
        QDBusConnection::sessionBus().disconnect(QStringLiteral("org.freedesktop.portal.Desktop"), requestPath,
                                                 QStringLiteral("org.freedesktop.portal.Request"),
                                                 QStringLiteral("Response"), this,
                                                 SLOT(portalResponse(uint, QVariantMap)));
        listening = false;
    }

    void useDesktopSetting()
    {
        if (answered)
            return;
        const QString desktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
        if (desktop.split(QLatin1Char(':')).contains(QLatin1String("KDE"), Qt::CaseInsensitive)) {
            QDBusMessage call = QDBusMessage::createMethodCall(
                QStringLiteral("org.kde.plasmashell"), QStringLiteral("/PlasmaShell"),
                QStringLiteral("org.kde.PlasmaShell"), QStringLiteral("evaluateScript"));
            call << plasmaWallpaperScript(file);
            auto *watcher = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call, 10000), this);
            connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher *w) {
                w->deleteLater();
                const QDBusPendingReply<> reply = *w;
                finish(reply.isError() ? std::optional<QString>(reply.error().message()) : std::nullopt);
            });
            return;
        }
        if (desktop.split(QLatin1Char(':')).contains(QLatin1String("XFCE"), Qt::CaseInsensitive)) {
            runXfce();
            return;
        }
        commands = desktopWallpaperCommands(desktop, file);
        if (commands.empty()) {
            finish(Texts::text("msg.wallpaperUnsupported"));
            return;
        }
        runNext();
    }

    void runXfce()
    {
        auto *list = new QProcess(this);
        connect(list, &QProcess::finished, this, [this, list](int code, QProcess::ExitStatus status) {
            list->deleteLater();
            const QStringList properties = xfceImageProperties(list->readAllStandardOutput());
            if (status != QProcess::NormalExit || code != 0 || properties.isEmpty()) {
                finish(Texts::text("msg.wallpaperUnsupported"));
                return;
            }
            for (const QString &property : properties)
                commands.push_back({QStringLiteral("xfconf-query"),
                                    {QStringLiteral("-c"), QStringLiteral("xfce4-desktop"), QStringLiteral("-p"),
                                     property, QStringLiteral("-s"), file}});
            runNext();
        });
        connect(list, &QProcess::errorOccurred, this, [this, list](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart) {
                list->deleteLater();
                finish(Texts::text("msg.wallpaperUnsupported"));
            }
        });
        list->start(QStringLiteral("xfconf-query"), {QStringLiteral("-c"), QStringLiteral("xfce4-desktop"),
                                                    QStringLiteral("-l")});
    }

    // Runs the commands in order (as argument lists, never through a shell).
    void runNext()
    {
        if (commands.empty()) {
            finish(std::nullopt);
            return;
        }
        const WallpaperCommand command = commands.front();
        commands.erase(commands.begin());
        auto *process = new QProcess(this);
        process->setProcessChannelMode(QProcess::MergedChannels);
        connect(process, &QProcess::finished, this, [this, process, command](int code, QProcess::ExitStatus status) {
            process->deleteLater();
            if (status == QProcess::NormalExit && code == 0) {
                ++succeeded;
                runNext();
            } else {
                const QString output = QString::fromLocal8Bit(process->readAll()).trimmed();
                failures.append(output.isEmpty() ? command.program : output);
                // GNOME's dark-style key is missing on older versions: one success is enough.
                if (succeeded == 0 && commands.empty())
                    finish(failures.join(QLatin1String("; ")));
                else
                    runNext();
            }
        });
        connect(process, &QProcess::errorOccurred, this, [this, process, command](QProcess::ProcessError error) {
            if (error != QProcess::FailedToStart)
                return;
            process->deleteLater();
            failures.append(command.program + QLatin1String(": ") + process->errorString());
            if (succeeded == 0 && commands.empty())
                finish(failures.join(QLatin1String("; ")));
            else
                runNext();
        });
        process->start(command.program, command.arguments);
    }

    void finish(std::optional<QString> error)
    {
        if (answered)
            return;
        answered = true;
        if (done)
            done(error);
        deleteLater();
    }

    QString file;
    WallpaperService::Done done;
    QString requestPath;
    bool listening = false;
    bool answered = false;
    std::vector<WallpaperCommand> commands;
    QStringList failures;
    int succeeded = 0;
};

} // namespace

QString wallpaperFolder()
{
    QString data = qEnvironmentVariable("XDG_DATA_HOME");
    if (data.isEmpty() || QDir::isRelativePath(data))
        data = QDir::homePath() + QStringLiteral("/.local/share");
    return QDir::cleanPath(data) + QStringLiteral("/Glanto/Wallpaper");
}

std::optional<QString> wallpaperFileFor(const QString &photo, QString *error)
{
    const QFileInfo info(photo);
    if (!info.isFile()) {
        *error = QString::fromLocal8Bit(std::strerror(ENOENT));
        return std::nullopt;
    }
    if (!needsConversion(photo))
        return info.absoluteFilePath();

    const QString folder = wallpaperFolder();
    if (QDir::isRelativePath(folder) || !QDir().mkpath(folder)) {
        *error = Texts::text("msg.wallpaperNoFolder");
        return std::nullopt;
    }
    // One file per photo and version of it, so a desktop that caches by name
    // notices a new picture.
    const QByteArray key = info.absoluteFilePath().toUtf8() + '\n'
                           + QByteArray::number(info.lastModified().toMSecsSinceEpoch()) + '\n'
                           + QByteArray::number(info.size());
    const QString name = QStringLiteral("wallpaper-")
                         + QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(24))
                         + QStringLiteral(".jpg");
    const QString target = folder + QLatin1Char('/') + name;
    if (!QFileInfo(target).isFile()) {
        const QImage image = Codec::decodeFull(photo, 8192);
        if (image.isNull()) {
            *error = Texts::text("msg.wallpaperUnreadable");
            return std::nullopt;
        }
        const QString temporary = target + QStringLiteral(".part");
        if (!Codec::encode(image, temporary, ImageFormat::jpeg, 92)
            || std::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(target).constData()) != 0) {
            QFile::remove(temporary);
            *error = Texts::text("msg.wallpaperNoFolder");
            return std::nullopt;
        }
    }
    return target;
}

void removeOtherWallpapers(const QString &shown)
{
    const QString folder = wallpaperFolder();
    if (QDir::isRelativePath(folder))
        return;
    for (const QFileInfo &old : QDir(folder).entryInfoList({QStringLiteral("wallpaper-*.jpg")}, QDir::Files)) {
        if (old.absoluteFilePath() != QFileInfo(shown).absoluteFilePath())
            QFile::remove(old.absoluteFilePath());
    }
}

std::vector<WallpaperCommand> desktopWallpaperCommands(const QString &desktop, const QString &file)
{
    const QStringList names = desktop.toUpper().split(QLatin1Char(':'), Qt::SkipEmptyParts);
    const QString uri = fileUri(file);
    const QString gsettings = QStringLiteral("gsettings");
    const QString set = QStringLiteral("set");
    if (names.contains(QLatin1String("MATE")))
        return {{gsettings, {set, QStringLiteral("org.mate.background"), QStringLiteral("picture-filename"), file}}};
    if (names.contains(QLatin1String("X-CINNAMON")) || names.contains(QLatin1String("CINNAMON")))
        return {{gsettings, {set, QStringLiteral("org.cinnamon.desktop.background"), QStringLiteral("picture-uri"), uri}}};
    if (names.contains(QLatin1String("GNOME")) || names.contains(QLatin1String("UNITY"))
        || names.contains(QLatin1String("BUDGIE")) || names.contains(QLatin1String("POP")))
        return {{gsettings, {set, QStringLiteral("org.gnome.desktop.background"), QStringLiteral("picture-uri"), uri}},
                {gsettings,
                 {set, QStringLiteral("org.gnome.desktop.background"), QStringLiteral("picture-uri-dark"), uri}}};
    return {};
}

QString plasmaWallpaperScript(const QString &file)
{
    // The path travels as a JSON string literal, which is also a valid
    // JavaScript one: quotes and backslashes in a name cannot end it early.
    QByteArray literal = QJsonDocument(QJsonArray{fileUri(file)}).toJson(QJsonDocument::Compact);
    literal = literal.mid(1, literal.size() - 2);
    return QStringLiteral("var all = desktops();"
                          "for (var i = 0; i < all.length; i++) {"
                          " var d = all[i]; d.wallpaperPlugin = 'org.kde.image';"
                          " d.currentConfigGroup = ['Wallpaper', 'org.kde.image', 'General'];"
                          " d.writeConfig('Image', %1); }")
        .arg(QString::fromUtf8(literal));
}

WallpaperService &WallpaperService::system()
{
    static DesktopWallpaper service;
    return service;
}

void DesktopWallpaper::setWallpaper(const QString &photo, Done done)
{
    // The latest request wins: a RAW asked for first may finish converting
    // after a JPEG asked for next, and is then dropped unanswered.
    static int latest = 0;
    const int request = ++latest;
    // Converting a RAW file takes a moment: off the main thread.
    HandOff::start(*QThreadPool::globalInstance(), [photo, done, request] {
        QString error;
        const std::optional<QString> file = wallpaperFileFor(photo, &error);
        QCoreApplication *app = QCoreApplication::instance();
        if (!app)
            return;
        HandOff::invoke(app, [file, error, done, request] {
            if (request != latest)
                return;
            if (!file) {
                if (done)
                    done(error);
                return;
            }
            // Earlier conversions go once the desktop took the new file: until
            // then one of them may be what it shows.
            const QString shown = *file;
            auto *request = new WallpaperRequest(shown, [shown, done](std::optional<QString> failure) {
                if (!failure)
                    removeOtherWallpapers(shown);
                if (done)
                    done(failure);
            });
            request->start();
        }, Qt::QueuedConnection);
    });
}

void FakeWallpaper::setWallpaper(const QString &photo, Done done)
{
    requests.append(photo);
    answer(done, nextError);
}

#include "Wallpaper.moc"
