#include "cleanup/CleanupUnits.h"

#include "library/FolderModel.h"

#include <QFileInfo>

namespace {

// The path without its extension, lower-cased: files of one shot share it.
QString shotKey(const QString &url)
{
    const QString extension = imageNameExtension(QFileInfo(url).fileName());
    const QString stem = extension.isEmpty() ? url : url.left(url.size() - extension.size() - 1);
    return stem.toLower();
}

CleanupUnit singleUnit(const UnitFile &file)
{
    return CleanupUnit{file.url, {}, file.fileSize, file.modified};
}

} // namespace

QVector<CleanupUnit> makeUnits(const QVector<UnitFile> &files)
{
    QVector<QString> keys;
    QHash<QString, QVector<const UnitFile *>> byKey;
    for (const UnitFile &file : files) {
        const QString key = shotKey(file.url);
        auto it = byKey.find(key);
        if (it == byKey.end()) {
            keys.append(key);
            it = byKey.insert(key, {});
        }
        it->append(&file);
    }

    QVector<CleanupUnit> units;
    units.reserve(files.size());
    for (const QString &key : std::as_const(keys)) {
        const QVector<const UnitFile *> &group = byKey[key];
        const UnitFile *primary = group.first();
        int nonRawCount = 0;
        for (const UnitFile *file : group) {
            if (isRawFile(file->url))
                continue;
            if (nonRawCount++ == 0)
                primary = file;
        }

        // Two developed files of one name (IMG_1.JPG and IMG_1.HEIC) are two
        // photos; which one a RAW file belongs to is then unknowable, so it
        // stands alone too.
        if (nonRawCount >= 2) {
            for (const UnitFile *file : group)
                units.append(singleUnit(*file));
            continue;
        }

        CleanupUnit unit = singleUnit(*primary);
        for (const UnitFile *file : group) {
            if (file == primary)
                continue;
            unit.companions.append(file->url);
            unit.fileSize += file->fileSize;
        }
        units.append(unit);
    }
    return units;
}

QVector<CleanupUnit> makeUnits(const QList<ImageItem> &items)
{
    QVector<UnitFile> files;
    files.reserve(items.size());
    for (const ImageItem &item : items)
        files.append(UnitFile{item.url, item.fileSize, item.modified});
    return makeUnits(files);
}

namespace {

// The unit's size and primary modification time as the disk has them now.
CleanupUnit restamped(CleanupUnit unit)
{
    const ImageItem primary = FolderModel::itemForFile(unit.primary);
    unit.fileSize = primary.fileSize;
    unit.modified = primary.modified;
    for (const QString &companion : std::as_const(unit.companions))
        unit.fileSize += FolderModel::itemForFile(companion).fileSize;
    return unit;
}

} // namespace

QVector<CleanupUnit> restampedUnits(QVector<CleanupUnit> units)
{
    for (CleanupUnit &unit : units)
        unit = restamped(unit);
    return units;
}

bool unitChangedOnDisk(const CleanupUnit &unit)
{
    const QFileInfo primary(unit.primary);
    if (!primary.exists() && !primary.isSymLink())
        return false;
    const CleanupUnit now = restamped(unit);
    return now.fileSize != unit.fileSize || (unit.modified && now.modified != unit.modified);
}

bool unitAsChecked(const CleanupUnit &unit)
{
    return QFileInfo::exists(unit.primary) && !unitChangedOnDisk(unit);
}
