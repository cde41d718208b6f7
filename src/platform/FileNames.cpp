#include "platform/FileNames.h"

#include "settings/Texts.h"

#include <QFile>
#include <QDir>
#include <QRegularExpression>
#include <QFileInfo>
#include <QSysInfo>

#include <gio/gio.h>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
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
    if (info.exists())
        return true;
    if (!lostInDecoding(path) || !info.dir().exists())
        return false;
    // A file of that name is shown with the reason it cannot be opened; a
    // folder of that name cannot be opened at all (its photos are out of reach).
    // Only the raw listing knows which it is: the decoded name leads nowhere.
    const QByteArray parent = QFile::encodeName(info.absolutePath());
    DIR *dir = ::opendir(parent.constData());
    if (!dir)
        return true;
    bool folder = false;
    while (const dirent *entry = ::readdir(dir)) {
        if (QFile::decodeName(entry->d_name) != info.fileName())
            continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir), entry->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode)) {
            folder = true;
            break;
        }
    }
    ::closedir(dir);
    return !folder;
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

bool isAbsence(int error)
{
    return error == ENOENT || error == ENOTDIR;
}

bool isAddress(const QString &text)
{
    static const QRegularExpression scheme(QStringLiteral("^[A-Za-z][A-Za-z0-9+.-]*://"));
    return scheme.match(text).hasMatch();
}

std::optional<QString> reachablePath(const QString &address)
{
    const QUrl url(address);
    if (const std::optional<QString> path = localPath(url))
        return path;
    if (!url.isValid() || url.scheme().compare(QLatin1String("file"), Qt::CaseInsensitive) == 0)
        return std::nullopt;
    GFile *file = g_file_new_for_uri(address.toUtf8().constData());
    char *path = g_file_get_path(file);
    g_object_unref(file);
    if (!path)
        return std::nullopt;
    QString result = QFile::decodeName(path);
    g_free(path);
    return result;
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
