#include "cleanup/CleanupTypes.h"

#include "settings/Texts.h"

#include <QFileInfo>

#include <algorithm>

bool isRawFile(const QString &path)
{
    return isRawImageName(QFileInfo(path).fileName());
}

size_t qHash(const CleanupUnit &unit, size_t seed)
{
    size_t h = qHashMulti(seed, unit.primary, unit.companions, unit.fileSize);
    return unit.modified ? qHashMulti(h, *unit.modified) : h;
}

double secondsSince1970(const std::optional<QDateTime> &date)
{
    if (!date || !date->isValid())
        return 0;
    return double(date->toMSecsSinceEpoch()) / 1000.0;
}

const QVector<CleanupCategory> &allCleanupCategories()
{
    static const QVector<CleanupCategory> all{CleanupCategory::similar, CleanupCategory::duplicate,
                                              CleanupCategory::closedEyes, CleanupCategory::blurry};
    return all;
}

CleanupCategory cleanupCategoryAfter(CleanupCategory category, int step)
{
    const QVector<CleanupCategory> &all = allCleanupCategories();
    const qsizetype count = all.size();
    const qsizetype index = std::max<qsizetype>(0, all.indexOf(category));
    return all[((index + step) % count + count) % count];
}

std::optional<CleanupCategory> cleanupCategoryFromRaw(int raw)
{
    if (raw < 0 || raw > 3)
        return std::nullopt;
    return CleanupCategory(raw);
}

QString cleanupCategoryName(CleanupCategory category)
{
    switch (category) {
    case CleanupCategory::similar: return QStringLiteral("similar");
    case CleanupCategory::duplicate: return QStringLiteral("duplicate");
    case CleanupCategory::closedEyes: return QStringLiteral("closedEyes");
    case CleanupCategory::blurry: return QStringLiteral("blurry");
    }
    return {};
}

QString cleanupCategoryTitle(CleanupCategory category)
{
    switch (category) {
    case CleanupCategory::similar: return Texts::text("cleanup.similar");
    case CleanupCategory::duplicate: return Texts::text("cleanup.duplicate");
    case CleanupCategory::closedEyes: return Texts::text("cleanup.closedEyes");
    case CleanupCategory::blurry: return Texts::text("cleanup.blurry");
    }
    return {};
}

QString cleanupCategoryEmptyText(CleanupCategory category)
{
    switch (category) {
    case CleanupCategory::similar: return Texts::text("cleanup.empty.similar");
    case CleanupCategory::duplicate: return Texts::text("cleanup.empty.duplicate");
    case CleanupCategory::closedEyes: return Texts::text("cleanup.empty.closedEyes");
    case CleanupCategory::blurry: return Texts::text("cleanup.empty.blurry");
    }
    return {};
}

int CleanupResult::unitCount(CleanupCategory category) const
{
    const auto it = groups.find(category);
    if (it == groups.end())
        return 0;
    int count = 0;
    for (const CleanupGroup &group : it->second)
        count += group.units.size();
    return count;
}
