#include "platform/DefaultViewer.h"

#include "settings/Texts.h"

#include <QMimeDatabase>
#include <QStandardPaths>

#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>

#include <array>
#include <memory>

namespace {

// The photo types, in the order the settings note lists them: the common
// formats first, then camera RAW in general and the makers' own types.
constexpr std::array<const char *, 21> photoTypes = {
    "image/jpeg",        "image/png",        "image/heic",        "image/heif",       "image/tiff",
    "image/gif",         "image/webp",       "image/bmp",         "image/avif",       "image/jxl",
    "image/jp2",         "image/x-dcraw",    "image/x-adobe-dng", "image/x-sony-arw", "image/x-canon-cr2",
    "image/x-canon-cr3", "image/x-nikon-nef", "image/x-fuji-raf", "image/x-panasonic-rw2",
    "image/x-olympus-orf", "image/x-pentax-pef",
};

struct GObjectDeleter
{
    void operator()(gpointer object) const { if (object) g_object_unref(object); }
};
using AppInfoPtr = std::unique_ptr<GAppInfo, GObjectDeleter>;

AppInfoPtr ourEntry()
{
    // g_desktop_app_info_new returns nothing for an entry that is missing,
    // hidden, or whose TryExec program is not on the PATH.
    return AppInfoPtr(G_APP_INFO(g_desktop_app_info_new(DefaultViewer::desktopEntryId)));
}

AppInfoPtr defaultFor(const QString &mimeType)
{
    const QByteArray type = mimeType.toUtf8();
    return AppInfoPtr(g_app_info_get_default_for_type(type.constData(), FALSE));
}

} // namespace

namespace DefaultViewer {

const QStringList &contentTypes()
{
    static const QStringList types = [] {
        QMimeDatabase database;
        QStringList known;
        for (const char *type : photoTypes) {
            if (database.mimeTypeForName(QLatin1String(type)).isValid())
                known.append(QLatin1String(type));
        }
        return known;
    }();
    return types;
}

bool isInstalled()
{
    return ourEntry() != nullptr;
}

bool isDefault(const QString &mimeType)
{
    if (!isInstalled())
        return false;
    const AppInfoPtr app = defaultFor(mimeType);
    const char *id = app ? g_app_info_get_id(app.get()) : nullptr;
    return id && qstrcmp(id, desktopEntryId) == 0;
}

std::optional<QString> defaultApplicationName(const QString &mimeType)
{
    const AppInfoPtr app = defaultFor(mimeType);
    if (!app)
        return std::nullopt;
    const char *name = g_app_info_get_display_name(app.get());
    if (!name || !*name)
        name = g_app_info_get_name(app.get());
    if (!name || !*name)
        return std::nullopt;
    return QString::fromUtf8(name);
}

std::optional<QString> applicationNameAt(const QString &desktopFilePath)
{
    const QByteArray path = desktopFilePath.toLocal8Bit();
    const AppInfoPtr app(G_APP_INFO(g_desktop_app_info_new_from_filename(path.constData())));
    const char *name = app ? g_app_info_get_display_name(app.get()) : nullptr;
    if (!name || !*name)
        return std::nullopt;
    return QString::fromUtf8(name);
}

Status status()
{
    Status result;
    const QString jpeg = QStringLiteral("image/jpeg");
    if (isDefault(jpeg)) {
        result.isDefault = true;
        result.text = Texts::text("set.isDefault");
        result.showButton = false;
        return result;
    }
    result.text = Texts::format("set.currentDefault", {defaultApplicationName(jpeg).value_or(QStringLiteral("-"))});
    result.secondary = true;
    return result;
}

Outcome makeDefault()
{
    Outcome outcome;
    const AppInfoPtr app = ourEntry();
    if (!app) {
        outcome.failedTypes = contentTypes();
        // An entry that is there but that the desktop will not use names a
        // program it cannot find (its TryExec), or is hidden.
        const QString entry = QStandardPaths::locate(QStandardPaths::ApplicationsLocation,
                                                     QLatin1String(desktopEntryId));
        outcome.message = entry.isEmpty() ? Texts::text("set.defaultNotInstalled")
                                          : Texts::format("set.defaultNotUsable", {entry});
        qWarning("DefaultViewer %s: %s", desktopEntryId, "no installed desktop entry");
        return outcome;
    }
    QString firstReason;
    for (const QString &type : contentTypes()) {
        const QByteArray name = type.toUtf8();
        GError *error = nullptr;
        if (g_app_info_set_as_default_for_type(app.get(), name.constData(), &error)) {
            ++outcome.registered;
            continue;
        }
        const QString reason = error ? QString::fromUtf8(error->message) : QStringLiteral("-");
        g_clear_error(&error);
        qWarning("DefaultViewer %s: %s", name.constData(), qUtf8Printable(reason));
        outcome.failedTypes.append(type);
        if (firstReason.isEmpty())
            firstReason = reason;
    }
    if (!outcome.failedTypes.isEmpty())
        outcome.message = Texts::format("set.defaultFailed", {QString::number(outcome.failedTypes.size()), firstReason});
    return outcome;
}

} // namespace DefaultViewer
