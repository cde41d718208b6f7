#include "cleanup/CleanupUnits.h"

#include <gtest/gtest.h>

#include <QTimeZone>

namespace {

QDateTime at(int second)
{
    return QDateTime(QDate(2024, 5, 1), QTime(12, 0, second), QTimeZone::utc());
}

UnitFile file(const QString &name, qint64 size, int second)
{
    return UnitFile{QStringLiteral("/photos/") + name, size, at(second)};
}

} // namespace

TEST(CleanupUnits, RawAndJpegOfOneShotAreOneUnitLedByTheJpeg)
{
    const QVector<CleanupUnit> units = makeUnits({file("IMG_1.CR2", 20'000'000, 1), file("IMG_1.JPG", 4'000'000, 2)});
    ASSERT_EQ(units.size(), 1);
    EXPECT_EQ(units[0].primary, "/photos/IMG_1.JPG");
    EXPECT_EQ(units[0].companions, QStringList{"/photos/IMG_1.CR2"});
    EXPECT_EQ(units[0].fileSize, 24'000'000);
    EXPECT_EQ(units[0].modified, at(2));
}

TEST(CleanupUnits, TwoRawFilesOnlyAreLedByTheFirstInFolderOrder)
{
    const QVector<CleanupUnit> units = makeUnits({file("IMG_2.NEF", 10, 1), file("IMG_2.DNG", 20, 2)});
    ASSERT_EQ(units.size(), 1);
    EXPECT_EQ(units[0].primary, "/photos/IMG_2.NEF");
    EXPECT_EQ(units[0].companions, QStringList{"/photos/IMG_2.DNG"});
    EXPECT_EQ(units[0].fileSize, 30);
    EXPECT_EQ(units[0].modified, at(1));
}

TEST(CleanupUnits, TwoDevelopedFilesOfOneNameSplitTheWholeGroup)
{
    const QVector<CleanupUnit> units = makeUnits(
        {file("IMG_3.JPG", 1, 1), file("IMG_3.HEIC", 2, 2), file("IMG_3.CR2", 3, 3)});
    ASSERT_EQ(units.size(), 3);
    EXPECT_EQ(units[0].primary, "/photos/IMG_3.JPG");
    EXPECT_EQ(units[1].primary, "/photos/IMG_3.HEIC");
    EXPECT_EQ(units[2].primary, "/photos/IMG_3.CR2");
    for (const CleanupUnit &unit : units)
        EXPECT_TRUE(unit.companions.isEmpty());
    EXPECT_EQ(units[2].fileSize, 3);
    EXPECT_EQ(units[2].modified, at(3));
}

TEST(CleanupUnits, NamesDifferingInCaseShareAKeyButStaySeparate)
{
    const QVector<CleanupUnit> units = makeUnits({file("a.jpg", 1, 1), file("A.JPG", 2, 2)});
    ASSERT_EQ(units.size(), 2);
    EXPECT_EQ(units[0].primary, "/photos/a.jpg");
    EXPECT_EQ(units[1].primary, "/photos/A.JPG");
}

TEST(CleanupUnits, KeysKeepTheOrderOfTheirFirstFile)
{
    // The RAW file of shot b comes first, its JPEG last: the unit takes b's
    // first position, the JPEG leads it, and the companion list keeps folder order.
    const QVector<CleanupUnit> units = makeUnits({file("b.arw", 5, 1), file("c.png", 1, 2), file("b.dng", 6, 3),
                                                  file("b.jpg", 7, 4), file("d", 8, 5)});
    ASSERT_EQ(units.size(), 3);
    EXPECT_EQ(units[0].primary, "/photos/b.jpg");
    EXPECT_EQ(units[0].companions, (QStringList{"/photos/b.arw", "/photos/b.dng"}));
    EXPECT_EQ(units[0].fileSize, 18);
    EXPECT_EQ(units[1].primary, "/photos/c.png");
    EXPECT_EQ(units[2].primary, "/photos/d");
}

TEST(CleanupUnits, OnlyTheFileNameHasAnExtension)
{
    const QVector<CleanupUnit> units = makeUnits({UnitFile{"/2024.cr2/IMG.cr2", 1, {}},
                                                  UnitFile{"/2024.cr2/IMG.jpg", 2, {}},
                                                  UnitFile{"/2024.cr2/IMG", 4, {}}});
    // The folder's ".cr2" makes nothing RAW; the file without an extension has
    // the shot's key too and is a second developed file, so all three split.
    ASSERT_EQ(units.size(), 3);
    EXPECT_EQ(units[0].primary, "/2024.cr2/IMG.cr2");
    EXPECT_FALSE(units[0].modified.has_value());

    const QVector<CleanupUnit> pair = makeUnits({UnitFile{"/2024.jpg/IMG.cr2", 1, {}},
                                                 UnitFile{"/2024.jpg/IMG.jpg", 2, {}}});
    ASSERT_EQ(pair.size(), 1);
    EXPECT_EQ(pair[0].primary, "/2024.jpg/IMG.jpg");
}

TEST(CleanupUnits, UnitsAreEquatableAndHashableOverAllFields)
{
    const CleanupUnit a{"/p/a.jpg", {"/p/a.cr2"}, 10, at(1)};
    CleanupUnit b = a;
    EXPECT_EQ(a, b);
    EXPECT_EQ(qHash(a), qHash(b));
    b.modified = at(2);
    EXPECT_NE(a, b);
    QSet<CleanupUnit> set{a, b, a};
    EXPECT_EQ(set.size(), 2);
}
