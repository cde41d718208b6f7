#include "platform/Applications.h"

#include <QCollator>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QFileInfo>
#include <QUrl>

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include <algorithm>

namespace {

// GLib objects released when the holder goes out of scope.
template<typename T>
struct Owned {
    T *p = nullptr;
    explicit Owned(T *p) : p(p) {}
    ~Owned() { if (p) g_object_unref(p); }
    Owned(const Owned &) = delete;
    Owned &operator=(const Owned &) = delete;
};

QString fromUtf8(const char *text)
{
    return text ? QString::fromUtf8(text) : QString();
}

QString takeError(GError *error)
{
    const QString message = error ? fromUtf8(error->message) : QString();
    if (error)
        g_error_free(error);
    return message;
}

std::optional<Application> describe(GAppInfo *info)
{
    if (!info || !G_IS_DESKTOP_APP_INFO(info))
        return std::nullopt;
    Application app;
    app.desktopFile = fromUtf8(g_desktop_app_info_get_filename(G_DESKTOP_APP_INFO(info)));
    app.id = fromUtf8(g_app_info_get_id(info));
    app.displayName = fromUtf8(g_app_info_get_display_name(info));
    if (GIcon *icon = g_app_info_get_icon(info)) {
        char *text = g_icon_to_string(icon);
        app.iconName = fromUtf8(text);
        g_free(text);
    }
    if (app.desktopFile.isEmpty())
        return std::nullopt;
    if (app.id.isEmpty())
        app.id = QFileInfo(app.desktopFile).fileName();
    return app;
}

QString contentTypeOf(const QString &path)
{
    Owned<GFile> file(g_file_new_for_path(QFile::encodeName(path).constData()));
    Owned<GFileInfo> info(g_file_query_info(file.p, G_FILE_ATTRIBUTE_STANDARD_CONTENT_TYPE,
                                            G_FILE_QUERY_INFO_NONE, nullptr, nullptr));
    if (info.p) {
        if (const char *type = g_file_info_get_content_type(info.p))
            return fromUtf8(type);
    }
    // Unreadable files still get a type from their name.
    gboolean uncertain = false;
    char *guessed = g_content_type_guess(QFile::encodeName(path).constData(), nullptr, 0, &uncertain);
    const QString type = fromUtf8(guessed);
    g_free(guessed);
    return type;
}

} // namespace

namespace Applications {

std::optional<Application> fromDesktopFile(const QString &desktopFile)
{
    if (!QFileInfo(desktopFile).isFile())
        return std::nullopt;
    Owned<GDesktopAppInfo> info(g_desktop_app_info_new_from_filename(QFile::encodeName(desktopFile).constData()));
    if (!info.p)
        return std::nullopt;
    std::optional<Application> app = describe(G_APP_INFO(info.p));
    if (app)
        app->desktopFile = QFileInfo(desktopFile).absoluteFilePath();
    return app;
}

QVector<Application> forFile(const QString &path)
{
    const QByteArray type = contentTypeOf(path).toUtf8();
    QVector<Application> result;
    std::optional<Application> fallbackDefault;
    if (!type.isEmpty()) {
        Owned<GAppInfo> preferred(g_app_info_get_default_for_type(type.constData(), false));
        fallbackDefault = describe(preferred.p);
    }
    QVector<Application> others;
    GList *all = type.isEmpty() ? nullptr : g_app_info_get_all_for_type(type.constData());
    for (GList *node = all; node; node = node->next) {
        if (std::optional<Application> app = describe(G_APP_INFO(node->data)))
            others.append(*app);
    }
    g_list_free_full(all, g_object_unref);

    const auto isOwn = [](const Application &app) { return app.id == QLatin1String(ownDesktopId); };
    if (fallbackDefault && !isOwn(*fallbackDefault))
        result.append(*fallbackDefault);
    QCollator collator;
    collator.setNumericMode(true);
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    std::stable_sort(others.begin(), others.end(), [&](const Application &a, const Application &b) {
        return collator.compare(a.displayName, b.displayName) < 0;
    });
    for (const Application &app : std::as_const(others)) {
        if (isOwn(app) || std::any_of(result.cbegin(), result.cend(),
                                      [&](const Application &seen) { return seen.id == app.id; }))
            continue;
        result.append(app);
    }
    return result;
}

std::optional<QString> launch(const QString &desktopFile, const QStringList &files)
{
    Owned<GDesktopAppInfo> info(g_desktop_app_info_new_from_filename(QFile::encodeName(desktopFile).constData()));
    if (!info.p)
        return QStringLiteral("%1: %2").arg(QFileInfo(desktopFile).fileName(), QStringLiteral("not an application"));
    GList *list = nullptr;
    for (const QString &file : files)
        list = g_list_append(list, g_file_new_for_path(QFile::encodeName(file).constData()));
    GError *error = nullptr;
    // GIO expands %f/%F/%u/%U into separate arguments and spawns the program
    // directly; no shell ever sees the file names.
    const bool ok = g_app_info_launch(G_APP_INFO(info.p), list, nullptr, &error);
    g_list_free_full(list, g_object_unref);
    if (ok)
        return std::nullopt;
    return takeError(error);
}

std::optional<QString> openDefault(const QString &path)
{
    const QByteArray uri = QUrl::fromLocalFile(path).toEncoded();
    GError *error = nullptr;
    if (g_app_info_launch_default_for_uri(uri.constData(), nullptr, &error))
        return std::nullopt;
    return takeError(error);
}

std::optional<QString> reveal(const QString &path)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{QString::fromUtf8(QUrl::fromLocalFile(path).toEncoded())} << QString();
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 5000);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return std::nullopt;
    return openDefault(QFileInfo(path).absolutePath());
}

} // namespace Applications
