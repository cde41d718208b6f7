#include "platform/Editor.h"

#include "platform/Applications.h"
#include "settings/Settings.h"
#include "settings/Shortcuts.h"
#include "settings/Texts.h"

#include <QFileInfo>

namespace Editor {

QString editTarget(const QString &photo)
{
    const QFileInfo info(photo);
    static const char *const rawInOrder[] = {"arw", "cr2", "cr3", "dng", "nef", "orf", "pef", "raf", "rw2", "srw"};
    const QString extension = info.suffix().toLower();
    for (const char *raw : rawInOrder) {
        if (extension == QLatin1String(raw))
            return photo;
    }
    const QString base = info.path() + QLatin1Char('/') + info.completeBaseName();
    for (const char *raw : rawInOrder) {
        const QString lower = QString::fromLatin1(raw);
        for (const QString &candidate : {base + QLatin1Char('.') + lower, base + QLatin1Char('.') + lower.toUpper()}) {
            if (QFileInfo(candidate).isFile())
                return candidate;
        }
    }
    return photo;
}

QString insertName(const QString &templateText, const QString &name)
{
    bool hasLatin = false;
    for (const QChar c : name)
        hasLatin = hasLatin || (c.unicode() < 128 && c.isLetter());
    const QString inserted = templateText.startsWith(QChar(0x5728)) && hasLatin
                                 ? QLatin1Char(' ') + name + QLatin1Char(' ')
                                 : name;
    QString result = templateText;
    return result.replace(QLatin1String("%@"), inserted);
}

QString menuTitle(const std::optional<QString> &editorName)
{
    if (!editorName)
        return Texts::text("menu.editChoose");
    return insertName(Texts::text("menu.editIn"), *editorName);
}

std::optional<QString> editorName()
{
    const std::optional<QString> path = Settings::editorAppPath();
    if (!path)
        return std::nullopt;
    const std::optional<Application> app = Applications::fromDesktopFile(*path);
    if (!app)
        return std::nullopt;
    return app->displayName;
}

} // namespace Editor

namespace HandOff {

namespace {

QString displayNameOf(const QString &desktopFile)
{
    const std::optional<Application> app = Applications::fromDesktopFile(desktopFile);
    return app ? app->displayName : QFileInfo(desktopFile).completeBaseName();
}

} // namespace

HandOffMessage openWith(const QString &desktopFile, const QString &photo)
{
    const QString target = Editor::editTarget(photo);
    const QString name = displayNameOf(desktopFile);
    if (const std::optional<QString> error = Applications::launch(desktopFile, {target}))
        return {Texts::format("msg.openFailed", {name, *error}), 4.0};
    return {Texts::format("msg.openedIn", {name, QFileInfo(target).fileName()}), 2.0};
}

HandOffMessage editorChosen(const QString &desktopFile)
{
    return {Texts::format("msg.editorSet", {displayNameOf(desktopFile)}), 3.0};
}

HandOffMessage wallpaperAnswer(const QString &photo, const std::optional<QString> &error)
{
    if (error)
        return {Texts::format("msg.wallpaperFailed", {*error}), 2.0};
    return {Texts::format("msg.wallpaperSet", {QFileInfo(photo).fileName()}), 2.0};
}

HandOffMessage trashed(const QString &photo)
{
    // Ctrl+Z gives way to a person's own binding of it: then it is not named.
    const std::optional<quint16> z = Shortcuts::keyCodeForQtKey(Qt::Key_Z);
    const bool undoKeyTaken = z && Shortcuts::actionFor(*z, KeyMods::command).has_value();
    return {Texts::format(undoKeyTaken ? "msg.trashedPlain" : "msg.trashed", {QFileInfo(photo).fileName()}), 2.0};
}

HandOffMessage untrashed(const QString &photo)
{
    return {Texts::format("msg.untrashed", {QFileInfo(photo).fileName()}), 2.0};
}

HandOffMessage untrashFailed(const QString &photo, const QString &reason)
{
    return {Texts::format("msg.untrashFailed", {QFileInfo(photo).fileName(), reason}), 4.0};
}

HandOffMessage trashFailed(const QString &reason)
{
    return {Texts::format("msg.trashFailed", {reason}), 4.0};
}

HandOffMessage revealFailed(const QString &reason)
{
    return {Texts::format("msg.revealFailed", {reason}), 4.0};
}

} // namespace HandOff
