#include "fileops/Rename.h"

#include "fileops/SafeFile.h"
#include "platform/FileNames.h"
#include "platform/SupportedFiles.h"
#include "platform/Trash.h"
#include "settings/Texts.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace Rename {

namespace {

using Move = std::pair<QString, QString>;

// However crowded a folder is, the search for a free name ends somewhere.
constexpr int maxAttempts = 100000;

QString inFolder(const QString &folder, const QString &name)
{
    return folder.endsWith(u'/') ? folder + name : folder + u'/' + name;
}

// Whether anything at all has this name, a dangling link included: the no-
// replace rename would refuse it too.
bool nameTaken(const QString &path)
{
    struct stat st{};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

// Whether the name is taken by something other than these files. Where case
// is ignored (a memory card's FAT or exFAT), "img_0001.jpg" leads to
// IMG_0001.JPG itself: a name that leads somewhere though the folder lists no
// entry spelled so, and matches one of these in all but case, is theirs.
bool takenByOther(const QString &path, const QStringList &own, const QStringList &entries)
{
    if (!nameTaken(path))
        return false;
    const QString name = QFileInfo(path).fileName();
    if (entries.contains(name))
        return !own.contains(path);
    for (const QString &mine : own) {
        if (QFileInfo(mine).fileName().compare(name, Qt::CaseInsensitive) == 0)
            return false;
    }
    return true;
}

bool isRegularFile(const QString &path)
{
    struct stat st{};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

// The name of base's sidecar in folder, as it is written there (".xmp" or ".XMP").
QString sidecarName(const QString &folder, const QString &base)
{
    return QFileInfo(sidecarOf(inFolder(folder, base))).fileName();
}

// The name a sidecar takes when its photo becomes stem: its own extension, as written.
QString movedSidecar(const QString &stem, const QString &sidecar)
{
    return stem + u'.' + QFileInfo(sidecar).suffix();
}

// A sidecar under the new name in either spelling of its extension, even one
// left over from a photo long gone, would give the photo its rating.
bool sidecarNameTaken(const QString &stem)
{
    return nameTaken(sidecarOf(stem));
}

// Every name in the folder, hidden ones included.
QStringList folderEntries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

// The sidecar of base moves along only when every photo of the folder that has
// this base name moves too; otherwise it stays with the photo that keeps the name.
bool sidecarMoves(const QString &folder, const QString &base, const QStringList &movingNames,
                  const QStringList &entries)
{
    const QString sidecar = sidecarName(folder, base);
    if (movingNames.contains(sidecar) || !isRegularFile(inFolder(folder, sidecar)))
        return false;
    for (const QString &entry : entries) {
        if (entry == sidecar || movingNames.contains(entry))
            continue;
        if (splitName(entry).base == base && isSupportedImageName(entry))
            return false;
    }
    return true;
}

enum class MoveOutcome { moved, clash, failed };

struct GroupMove
{
    MoveOutcome outcome = MoveOutcome::moved;
    SafeFile::Failure failure;
    size_t failedMove = 0;
};

// Moves the files together or not at all: when one move fails, those already
// made go back, so the files of one shot never end up under two names. A
// failure because a target name appeared meanwhile is a clash: the caller takes
// the next name.
GroupMove moveTogether(const std::vector<Move> &moves)
{
    QStringList paths;
    for (const Move &move : moves)
        paths << move.first << move.second;
    const SafeFile::PathLocks::Guard guard = SafeFile::PathLocks::lock(paths);

    for (size_t i = 0; i < moves.size(); ++i) {
        const SafeFile::Outcome failed = SafeFile::moveNoReplace(moves[i].first, moves[i].second);
        if (!failed)
            continue;
        for (size_t j = i; j-- > 0;)
            SafeFile::moveNoReplace(moves[j].second, moves[j].first);
        const bool clash = failed->kind == SafeFile::Failure::Kind::changed || nameTaken(moves[i].second);
        return {clash ? MoveOutcome::clash : MoveOutcome::failed, *failed, i};
    }
    return {};
}

// Why a group did not move; when a photo could have moved but its sidecar
// could not, the reason names the sidecar, or it reads as the photo's own.
QString failureReason(const GroupMove &moved, const std::vector<Move> &moves, const QStringList &photoNames)
{
    const QString held = QFileInfo(moves[moved.failedMove].first).fileName();
    if (photoNames.contains(held))
        return moved.failure.reason;
    return Texts::format("msg.errSidecarNotMoved", {held, moved.failure.reason});
}

} // namespace

NameParts splitName(const QString &fileName)
{
    const qsizetype dot = fileName.lastIndexOf(u'.');
    if (dot <= 0)
        return {fileName, {}};
    return {fileName.left(dot), fileName.mid(dot + 1)};
}

QString cleanedBase(const QString &entered)
{
    QString base = entered.trimmed();
    base.replace(u'/', u'-');
    base.replace(u':', u'-');
    // A NUL would cut the name short on its way to the system.
    base.replace(QChar(0), u'-');
    return base;
}

QString joinName(const QString &base, const QString &extension)
{
    return extension.isEmpty() ? base : base + u'.' + extension;
}

QString numberedName(const QString &base, int n, const QString &extension)
{
    if (n <= 1)
        return joinName(base, extension);
    // The number must fit where the typed name did: a name that just fits,
    // when taken, gives way to a shorter one with its number, not to a name
    // the file system refuses.
    const QString tail = QStringLiteral(" %1").arg(n) + (extension.isEmpty() ? QString() : u'.' + extension);
    return FileNames::stemFitting(base, QFile::encodeName(tail).size()) + tail;
}

QString batchName(const QString &prefix, int counter, const QString &extension)
{
    return joinName(prefix + u'-' + QStringLiteral("%1").arg(counter, 3, 10, QLatin1Char('0')), extension);
}

Result renamePhoto(const QString &path, const QString &entered)
{
    Result result;
    const QFileInfo info(path);
    const QString folder = info.absolutePath();
    const QString ownName = info.fileName();
    const NameParts own = splitName(ownName);

    const QString trimmed = entered.trimmed();
    if (trimmed.isEmpty()) {
        result.status = Result::Status::empty;
        return result;
    }
    QString base = cleanedBase(entered);
    // The extension typed along with the name is the one kept: "garden.jpg"
    // names garden.jpg, not garden.jpg.jpg.
    const QString typedExtension = QLatin1Char('.') + own.extension;
    if (!own.extension.isEmpty() && base.size() > typedExtension.size()
        && base.endsWith(typedExtension, Qt::CaseInsensitive))
        base.chop(typedExtension.size());
    if (trimmed == own.base || joinName(base, own.extension) == ownName)
        return result;
    if (base.startsWith(u'.')) {
        result.status = Result::Status::hidden;
        return result;
    }

    const QStringList entries = folderEntries(folder);
    const bool withSidecar = sidecarMoves(folder, own.base, {ownName}, entries);
    // photo.NEF.xmp belongs to that one file and always moves with it.
    const std::optional<QString> ownFileSidecar = wholeNameSidecar(inFolder(folder, ownName));

    QStringList ownFiles{path};
    if (withSidecar)
        ownFiles << inFolder(folder, sidecarName(folder, own.base));
    if (ownFileSidecar)
        ownFiles << *ownFileSidecar;
    for (int n = 1; n <= maxAttempts; ++n) {
        const QString candidate = numberedName(base, n, own.extension);
        // The photo already carries the name the search arrives at.
        if (candidate == ownName)
            return result;
        const QString target = inFolder(folder, candidate);
        const QString stem = inFolder(folder, splitName(candidate).base);
        if (takenByOther(target, ownFiles, entries) || takenByOther(sidecarOf(stem), ownFiles, entries)
            || takenByOther(sidecarOf(target), ownFiles, entries))
            continue;

        std::vector<Move> moves{{path, target}};
        if (withSidecar) {
            const QString sidecar = inFolder(folder, sidecarName(folder, own.base));
            moves.emplace_back(sidecar, movedSidecar(stem, sidecar));
        }
        if (ownFileSidecar)
            moves.emplace_back(*ownFileSidecar, movedSidecar(target, *ownFileSidecar));
        const GroupMove moved = moveTogether(moves);
        if (moved.outcome == MoveOutcome::clash)
            continue;
        if (moved.outcome == MoveOutcome::failed) {
            result.status = Result::Status::failed;
            result.reason = failureReason(moved, moves, {ownName});
            return result;
        }
        result.status = Result::Status::renamed;
        result.newPath = target;
        for (const Move &move : moves)
            result.moved.insert(move.first, move.second);
        return result;
    }
    result.status = Result::Status::failed;
    result.reason = Texts::text("msg.errNameTaken");
    return result;
}

BatchResult batchRename(const QStringList &photos, const QString &enteredPrefix)
{
    BatchResult result;
    if (enteredPrefix.trimmed().isEmpty()) {
        result.status = BatchResult::Status::empty;
        return result;
    }
    const QString prefix = cleanedBase(enteredPrefix);
    if (prefix.startsWith(u'.')) {
        result.status = BatchResult::Status::hidden;
        return result;
    }

    // The files of one shot, in the order of the first of them.
    struct Shot
    {
        QString folder;
        QString base;
        QStringList names;
    };
    std::vector<Shot> shots;
    QHash<QString, size_t> shotOf;
    for (const QString &photo : photos) {
        const QFileInfo info(photo);
        const QString folder = info.absolutePath();
        const QString name = info.fileName();
        const QString base = splitName(name).base;
        const QString key = inFolder(folder, base);
        const auto found = shotOf.constFind(key);
        if (found == shotOf.cend()) {
            shotOf.insert(key, shots.size());
            shots.push_back({folder, base, {name}});
        } else if (!shots[*found].names.contains(name)) {
            shots[*found].names << name;
        }
    }

    QHash<QString, QStringList> entriesOf;
    int counter = 1;
    for (const Shot &shot : shots) {
        // A name that is not text here finds no file under it; it takes no number.
        if (std::any_of(shot.names.cbegin(), shot.names.cend(),
                        [&shot](const QString &name) { return FileNames::lostInDecoding(inFolder(shot.folder, name)); })) {
            result.notRenamed(int(shot.names.size()), Texts::text("msg.errNameNotText"));
            continue;
        }
        if (!entriesOf.contains(shot.folder))
            entriesOf.insert(shot.folder, folderEntries(shot.folder));
        const bool withSidecar = sidecarMoves(shot.folder, shot.base, shot.names, entriesOf.value(shot.folder));

        bool settled = false;
        for (int attempt = 0; attempt < maxAttempts; ++attempt, ++counter) {
            // The files of a shot share their base name, so either all of them
            // already carry this turn's name or none does.
            const QString first = shot.names.first();
            if (batchName(prefix, counter, splitName(first).extension) == first) {
                settled = true;
                break;
            }
            std::vector<Move> moves;
            bool taken = false;
            for (const QString &name : shot.names) {
                const QString target = inFolder(shot.folder, batchName(prefix, counter, splitName(name).extension));
                // As in a single rename, a sidecar under the new name takes it.
                taken = taken || nameTaken(target) || sidecarNameTaken(target);
                moves.emplace_back(inFolder(shot.folder, name), target);
                if (const std::optional<QString> sidecar = wholeNameSidecar(inFolder(shot.folder, name)))
                    moves.emplace_back(*sidecar, movedSidecar(target, *sidecar));
            }
            const QString stem = inFolder(shot.folder, splitName(batchName(prefix, counter, QStringLiteral("xmp"))).base);
            taken = taken || sidecarNameTaken(stem);
            if (withSidecar) {
                const QString sidecar = inFolder(shot.folder, sidecarName(shot.folder, shot.base));
                moves.emplace_back(sidecar, movedSidecar(stem, sidecar));
            }
            if (taken)
                continue;
            const GroupMove moved = moveTogether(moves);
            if (moved.outcome == MoveOutcome::clash)
                continue;
            settled = true;
            if (moved.outcome == MoveOutcome::moved) {
                result.renamed += int(shot.names.size());
                for (const Move &move : moves)
                    result.moved.insert(move.first, move.second);
            } else {
                result.notRenamed(int(shot.names.size()), failureReason(moved, moves, shot.names));
            }
            break;
        }
        if (!settled)
            result.notRenamed(int(shot.names.size()), Texts::text("msg.errNameTaken"));
        ++counter;
    }
    return result;
}

} // namespace Rename
