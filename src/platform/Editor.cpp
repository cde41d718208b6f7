#include "platform/Editor.h"

#include "platform/Applications.h"
#include "settings/Settings.h"
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
