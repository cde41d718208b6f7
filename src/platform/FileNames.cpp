#include "platform/FileNames.h"

#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QSysInfo>

namespace FileNames {

QString stemFitting(QString stem, qsizetype restBytes)
{
    while (QFile::encodeName(stem).size() + restBytes > maxBytes && stem.size() > 1)
        stem.chop(stem.size() > 2 && stem.back().isLowSurrogate() ? 2 : 1);
    return stem;
}

bool lostInDecoding(const QString &path)
{
    return path.contains(QChar::ReplacementCharacter) && !QFileInfo::exists(path);
}

bool isThere(const QString &path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    return info.exists() || (lostInDecoding(path) && info.dir().exists());
}

std::optional<QString> localPath(const QUrl &url)
{
    if (url.scheme().compare(QLatin1String("file"), Qt::CaseInsensitive) != 0 || url.path().isEmpty())
        return std::nullopt;
    const QString host = url.host();
    if (!host.isEmpty() && host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0
        && host.compare(QSysInfo::machineHostName(), Qt::CaseInsensitive) != 0)
        return std::nullopt;
    return url.path(QUrl::FullyDecoded);
}

} // namespace FileNames
