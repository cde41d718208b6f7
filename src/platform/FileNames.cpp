#include "platform/FileNames.h"

#include "settings/Texts.h"

#include <QFile>
#include <QDir>
#include <QFileInfo>
#include <QSysInfo>

#include <sys/stat.h>
#include <unistd.h>

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

std::optional<QString> folderRefusesChange(const QString &folder)
{
    if (::access(QFile::encodeName(folder).constData(), W_OK | X_OK) != 0)
        return Texts::format("msg.errFolderNotWritable", {QFileInfo(folder).fileName()});
    return std::nullopt;
}

std::optional<QString> folderRefusesMove(const QString &path)
{
    const QString folder = QFileInfo(path).absolutePath();
    if (std::optional<QString> refusal = folderRefusesChange(folder))
        return refusal;
    const QByteArray encodedFolder = QFile::encodeName(folder);
    struct stat folderInfo {};
    struct stat fileInfo {};
    if (::stat(encodedFolder.constData(), &folderInfo) == 0 && (folderInfo.st_mode & S_ISVTX) != 0
        && ::lstat(QFile::encodeName(path).constData(), &fileInfo) == 0 && fileInfo.st_uid != ::geteuid()
        && folderInfo.st_uid != ::geteuid())
        return Texts::text("msg.errStickyFolder");
    return std::nullopt;
}

} // namespace FileNames
