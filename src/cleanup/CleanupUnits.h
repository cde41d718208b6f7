#pragma once

#include "cleanup/CleanupTypes.h"
#include "library/ImageItem.h"

#include <QList>

// The facts of one listed file that decide the units.
struct UnitFile {
    QString url;
    qint64 fileSize = 0;
    std::optional<QDateTime> modified;
};

// Turns a folder's files (in the folder model's order) into cleanup units: files
// that differ only in extension are one photo when at most one of them is not
// RAW; the non-RAW file then stands for it and the others travel with it.
QVector<CleanupUnit> makeUnits(const QVector<UnitFile> &files);

// The same over the folder model's items.
QVector<CleanupUnit> makeUnits(const QList<ImageItem> &items);

// The units again with each file's size and modification time read from the
// disk now: what a review made now is of.
QVector<CleanupUnit> restampedUnits(QVector<CleanupUnit> units);

// Whether a unit's files on disk differ from its record: another total size, or
// the primary modified at another time (when the record has one). A primary
// that is gone is no change (moving it fails on its own).
bool unitChangedOnDisk(const CleanupUnit &unit);

// Whether the unit's primary is still there, unchanged since its record.
bool unitAsChecked(const CleanupUnit &unit);
