#include "cleanup/CleanupController.h"

#include "cleanup/CleanupScanner.h"
#include "cleanup/CleanupUnits.h"
#include "cleanup/DistanceCache.h"
#include "cleanup/MetricsCache.h"
#include "library/FolderModel.h"
#include "platform/FakeTrash.h"
#include "settings/Texts.h"

#include "TestApplication.h"
#include "support/SanitizerAllowance.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QTemporaryDir>

namespace {

// A folder of seven photos with a result set by hand:
//   similar    A* B C        (C has a RAW companion)
//   duplicate  D* E          (D and E each have a RAW beside them; E's is its own picture)
//   closedEyes F
//   blurry     B
// suggested: B C E F; keepers: A D. G is in no category.
class ControllerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testApplication();
        Texts::setLanguage(QStringLiteral("zh"));
        ASSERT_TRUE(dir.isValid());
        // Each file exists with its share of the unit's size: 10 bytes for
        // a companion, the rest for the primary.
        const auto unit = [this](const QString &name, QStringList companions, qint64 size) {
            for (QString &c : companions) {
                c = dir.filePath(c);
                writeBytes(c, 10);
            }
            writeBytes(dir.filePath(name), size - 10 * companions.size());
            return CleanupUnit{dir.filePath(name), companions, size, std::nullopt};
        };
        A = unit("A.jpg", {}, 1000);
        B = unit("B.jpg", {}, 2000);
        C = unit("C.jpg", {"C.CR2"}, 30000);
        D = unit("D.jpg", {"D.CR2"}, 4000);
        E = unit("E.jpg", {"E.CR2"}, 5000);
        F = unit("F.jpg", {}, 600);
        G = unit("G.jpg", {}, 70);
        all = {A, B, C, D, E, F, G};
        controller = std::make_unique<CleanupController>(dir.path(), all, trash,
                                                         [this](bool changed) { exits.push_back(changed); }, false);
        controller->resultBuilder = [this](const QVector<CleanupUnit> &present) { return resultFor(present); };
        controller->rebuild();
    }

    CleanupResult resultFor(const QVector<CleanupUnit> &present) const
    {
        const auto has = [&](const CleanupUnit &u) { return present.contains(u); };
        const auto only = [&](QVector<CleanupUnit> list) {
            list.erase(std::remove_if(list.begin(), list.end(), [&](const CleanupUnit &u) { return !has(u); }),
                       list.end());
            return list;
        };
        CleanupResult r;
        for (CleanupCategory c : allCleanupCategories())
            r.groups[c] = {};
        if (only({A, B, C}).size() >= 2)
            r.groups[CleanupCategory::similar] = {CleanupGroup{only({A, B, C}), A.primary, QDateTime(QDate(2024, 5, 1), QTime(18, 30, 59), Qt::UTC)}};
        if (only({D, E}).size() >= 2)
            r.groups[CleanupCategory::duplicate] = {CleanupGroup{only({D, E}), D.primary, std::nullopt}};
        if (has(F))
            r.groups[CleanupCategory::closedEyes] = {CleanupGroup{{F}, std::nullopt, std::nullopt}};
        if (has(B))
            r.groups[CleanupCategory::blurry] = {CleanupGroup{{B}, std::nullopt, std::nullopt}};
        for (const CleanupUnit &u : {B, C, E, F})
            if (has(u))
                r.suggested.insert(u.primary);
        r.keepers = {A.primary, D.primary};
        return r;
    }

    static void writeBytes(const QString &path, qint64 size)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(size, 'x'));
    }

    void settle()
    {
        while (controller->isBusy())
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    }

    QStringList primaries(const QVector<CleanupUnit> &list) const
    {
        QStringList names;
        for (const CleanupUnit &u : list)
            names << QFileInfo(u.primary).fileName();
        return names;
    }

    QTemporaryDir dir;
    FakeTrash trash;
    CleanupUnit A, B, C, D, E, F, G;
    QVector<CleanupUnit> all;
    std::vector<bool> exits;
    std::unique_ptr<CleanupController> controller;
};

TEST_F(ControllerTest, TicksBelongToThePhotoInEveryCategory)
{
    CleanupController &c = *controller;
    EXPECT_EQ(primaries(c.checkedUnits()), (QStringList{"B.jpg", "C.jpg", "E.jpg", "F.jpg"}));
    EXPECT_EQ(c.checkedBytes(), 2000 + 30000 + 5000 + 600);
    EXPECT_EQ(c.trashButtonTitle(), u"移到回收站 (4)");

    // Unticking the blurry B unticks it in the burst too.
    c.selectCategory(CleanupCategory::blurry);
    c.toggleCheck(B.primary);
    EXPECT_FALSE(c.isChecked(B));
    c.selectCategory(CleanupCategory::similar);
    EXPECT_FALSE(c.isChecked(B));

    // Select none in the bursts touches only burst members.
    c.checkNone();
    EXPECT_EQ(primaries(c.checkedUnits()), (QStringList{"E.jpg", "F.jpg"}));
    // Select all in closed eyes ticks only F; the button still counts every category.
    c.checkNone();
    c.selectCategory(CleanupCategory::closedEyes);
    c.checkNone();
    c.checkAll();
    EXPECT_EQ(primaries(c.checkedUnits()), (QStringList{"E.jpg", "F.jpg"}));
    c.selectCategory(CleanupCategory::similar);
    c.checkAll();
    EXPECT_EQ(primaries(c.checkedUnits()), (QStringList{"A.jpg", "B.jpg", "C.jpg", "E.jpg", "F.jpg"}));
    EXPECT_EQ(c.statusText(), QStringLiteral("已选 5 张 · 38.6\u00a0KB"));

    // Ticks survive a rebuild.
    c.rebuild();
    EXPECT_EQ(c.checkedUnits().size(), 5);
}

TEST_F(ControllerTest, SelectAllAmongCopiesLeavesEachKeeperUnticked)
{
    CleanupController &c = *controller;
    c.selectCategory(CleanupCategory::duplicate);
    c.setChecked(D.primary, true); // even a keeper ticked by hand
    c.checkAll();
    EXPECT_FALSE(c.isChecked(D));
    EXPECT_TRUE(c.isChecked(E));
    EXPECT_EQ(c.sectionHeaderText(0), u"2 份相同");
    c.selectCategory(CleanupCategory::similar);
    // The burst's camera clock, as the information panel writes it, in any zone or language.
    EXPECT_EQ(c.sectionHeaderText(0), u"3 张 · 2024-05-01 18:30:59");
    c.selectCategory(CleanupCategory::duplicate);
    c.setChecked(D.primary, true);
    EXPECT_EQ(c.sectionHeaderText(0), u"2 份相同  ·  同一组连拍里有更好的一张");
    EXPECT_EQ(c.headerDetail(), u"1 份内容相同 · 2 张");
    EXPECT_EQ(c.badge(D), u"CR2");
    EXPECT_TRUE(c.isKeeper(c.currentGroups()[0], D));
    EXPECT_FALSE(c.isKeeper(c.currentGroups()[0], E));
}

TEST_F(ControllerTest, TrashSendsCompanionsButNeverThoseOfACopy)
{
    CleanupController &c = *controller;
    c.checkNone(); // similar: untick B and C
    c.setChecked(C.primary, true);
    c.selectCategory(CleanupCategory::closedEyes);
    c.checkNone();
    ASSERT_EQ(primaries(c.checkedUnits()), (QStringList{"C.jpg", "E.jpg"}));

    // darktable's sidecar of the RAW goes with the RAW.
    const QString rawSidecar = C.companions.first() + QStringLiteral(".xmp");
    writeBytes(rawSidecar, 10);

    c.trashCheckedUnits();
    settle();
    const std::vector<QStringList> calls = trash.moveCalls();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0], QStringList{C.primary});
    EXPECT_EQ(calls[1], C.companions);            // only after its primary moved
    EXPECT_EQ(calls[2], QStringList{rawSidecar});
    EXPECT_EQ(calls[3], QStringList{E.primary});  // E.CR2 stays: it is not a copy of anything
    EXPECT_FALSE(trash.inTrash().contains(E.companions.first()));

    EXPECT_EQ(primaries(c.units), (QStringList{"A.jpg", "B.jpg", "D.jpg", "F.jpg", "G.jpg"}));
    ASSERT_EQ(c.undoStack.size(), 1);
    EXPECT_EQ(c.undoStack[0].size(), 4);
    EXPECT_TRUE(c.changed);
    EXPECT_EQ(c.statusText(), u"已移到回收站 2 张 · Ctrl+Z 撤销");
    // The copies are gone from the result: the keeper has no copy left.
    EXPECT_EQ(c.unitCount(CleanupCategory::duplicate), 0);
}

// The best of a burst is kept even when it is blurry by itself: once its
// alternatives went to the Trash it stands alone, and it must not be proposed
// next (a second press would take the whole scene).
TEST_F(ControllerTest, AKeeperLeftAloneByATrashIsNotProposedNext)
{
    CleanupController &c = *controller;
    c.resultBuilder = [this](const QVector<CleanupUnit> &present) {
        CleanupResult r;
        for (CleanupCategory category : allCleanupCategories())
            r.groups[category] = {};
        r.groups[CleanupCategory::blurry] = {CleanupGroup{{A}, std::nullopt, std::nullopt}};
        if (present.contains(B)) {
            r.groups[CleanupCategory::similar] = {CleanupGroup{{A, B}, A.primary, QDateTime()}};
            r.keepers = {A.primary};
            r.suggested = {B.primary};
        } else {
            r.suggested = {A.primary}; // alone and blurry
        }
        if (present.contains(F))
            r.suggested.insert(F.primary);
        return r;
    };
    c.rebuild();
    c.setChecked(F.primary, false);
    ASSERT_EQ(primaries(c.checkedUnits()), QStringList{"B.jpg"});
    c.trashCheckedUnits();
    settle();
    ASSERT_FALSE(c.units.contains(B));
    EXPECT_FALSE(c.isChecked(A));
    EXPECT_TRUE(c.result.keepers.contains(A.primary));
    EXPECT_EQ(c.trashButtonTitle(), Texts::text("cleanup.trash"));
    // A photo that was never anyone's keeper keeps its own suggestion and tick state.
    EXPECT_TRUE(c.result.suggested.contains(F.primary));
    // Undo brings the burst back as it was.
    c.undoLastTrash();
    settle();
    EXPECT_TRUE(c.isChecked(B));
    EXPECT_FALSE(c.isChecked(A));
}

TEST_F(ControllerTest, AFailedMoveKeepsTheUnitAndIsCountedAndShown)
{
    CleanupController &c = *controller;
    trash.failMove(C.primary);
    trash.failMove(B.primary);
    c.trashCheckedUnits(); // B C E F
    settle();
    // C's primary failed, so its companion was never asked for.
    for (const QStringList &call : trash.moveCalls())
        EXPECT_FALSE(call.contains(C.companions.first()));
    EXPECT_EQ(primaries(c.units), (QStringList{"A.jpg", "B.jpg", "C.jpg", "D.jpg", "G.jpg"}));
    EXPECT_EQ(c.statusText(), u"已移到回收站 2 张 · Ctrl+Z 撤销  ·  2 个文件未能移到回收站：B.jpg、C.jpg (refused by the test)");
    // A companion that fails does not hold its moved primary back.
    FakeTrash other;
    CleanupController second(dir.path(), all, other, nullptr, false);
    second.resultBuilder = controller->resultBuilder;
    second.rebuild();
    second.checkNone();
    second.setChecked(C.primary, true);
    second.selectCategory(CleanupCategory::duplicate);
    second.setChecked(E.primary, false);
    second.selectCategory(CleanupCategory::closedEyes);
    second.setChecked(F.primary, false);
    other.failMove(C.companions.first());
    second.trashCheckedUnits();
    while (second.isBusy())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    EXPECT_EQ(second.unitFor(C.primary), nullptr);
    EXPECT_TRUE(second.statusText().contains(u"1 个文件未能移到回收站"));
}

// A copy or a burst shot goes only while the photo kept from its set is still
// there as checked; a set the person ticked whole goes. The files that stayed
// are named, a few at most, by reason.
TEST_F(ControllerTest, APhotoStaysWhenWhatWasKeptOfItsSetIsGone)
{
    CleanupController &c = *controller;
    QFile::remove(A.primary);
    writeBytes(D.primary, 3000); // D's copy E is a copy no longer
    c.trashCheckedUnits();       // B C E F
    settle();
    EXPECT_EQ(primaries(c.units), (QStringList{"A.jpg", "B.jpg", "C.jpg", "D.jpg", "E.jpg", "G.jpg"}));
    EXPECT_EQ(c.statusText().toStdString(), "已移到回收站 1 张 · Ctrl+Z 撤销  ·  3 个文件未能移到回收站："
                              "B.jpg、C.jpg (同组留下的“A.jpg”在检查之后被移走或改动了)；"
                              "E.jpg (同组留下的“D.jpg”在检查之后被移走或改动了)");

    // Ticked whole, the burst goes though its kept shot is gone.
    c.selectCategory(CleanupCategory::duplicate);
    c.setChecked(E.primary, false);
    c.selectCategory(CleanupCategory::similar);
    c.checkAll();
    for (const CleanupUnit &u : {A, B, C})
        trash.failMove(u.primary);
    c.trashCheckedUnits();
    settle();
    EXPECT_EQ(c.statusText().toStdString(), "2 个文件未能移到回收站：B.jpg、C.jpg (refused by the test)  ·  1 个文件已不在文件夹里");

    // More than three files that stayed: three names and the rest counted.
    Texts::setLanguage(QStringLiteral("en"));
    writeBytes(D.primary, 3990);
    for (const CleanupUnit &u : {D, E, G})
        trash.failMove(u.primary);
    c.checkNone();
    for (const CleanupUnit &u : {B, C, D, E, G})
        c.setChecked(u.primary, true);
    c.trashCheckedUnits();
    settle();
    EXPECT_EQ(c.statusText().toStdString(), "5 files could not be moved to the Trash: B.jpg, C.jpg, D.jpg and 2 more (refused by the test)");
}

// The review was made of what the disk held then: a photo written again since
// is not asked for, and one removed meanwhile leaves the review.
TEST_F(ControllerTest, APhotoChangedOrGoneSinceTheCheckIsNotMoved)
{
    CleanupController &c = *controller;
    writeBytes(B.primary, 2001);
    QFile::remove(F.primary);
    trash.failMove(F.primary);
    c.trashCheckedUnits(); // B C E F
    settle();
    for (const QStringList &call : trash.moveCalls())
        EXPECT_FALSE(call.contains(B.primary));
    EXPECT_EQ(primaries(c.units), (QStringList{"A.jpg", "B.jpg", "D.jpg", "G.jpg"}));
    EXPECT_EQ(c.statusText(), u"已移到回收站 2 张 · Ctrl+Z 撤销  ·  1 个文件未能移到回收站：B.jpg (检查之后文件有了改动)  ·  1 个文件已不在文件夹里");
    EXPECT_TRUE(c.changed);

    // A record with a modification time is held to it too.
    CleanupUnit stamped = restampedUnits({G}).first();
    EXPECT_EQ(stamped.fileSize, 70);
    ASSERT_TRUE(stamped.modified.has_value());
    EXPECT_FALSE(unitChangedOnDisk(stamped));
    QFile touched(G.primary);
    ASSERT_TRUE(touched.open(QIODevice::ReadWrite));
    ASSERT_TRUE(touched.setFileTime(stamped.modified->addSecs(-60), QFileDevice::FileModificationTime));
    EXPECT_TRUE(unitChangedOnDisk(stamped));
}

TEST_F(ControllerTest, UndoRestoresTheLastBatchFirstAndUnitsReturnInOrder)
{
    CleanupController &c = *controller;
    c.checkNone();
    c.selectCategory(CleanupCategory::closedEyes);
    c.checkNone();
    c.selectCategory(CleanupCategory::duplicate);
    c.checkNone();
    c.selectCategory(CleanupCategory::similar);
    c.setChecked(C.primary, true);
    c.trashCheckedUnits();
    settle();
    c.setChecked(A.primary, true);
    c.trashCheckedUnits();
    settle();
    ASSERT_EQ(primaries(c.units), (QStringList{"B.jpg", "D.jpg", "E.jpg", "F.jpg", "G.jpg"}));

    c.undoLastTrash();
    settle();
    EXPECT_EQ(trash.restoreCalls(), QStringList{A.primary});
    EXPECT_EQ(c.statusText(), u"已恢复 1 个文件");
    c.undoLastTrash();
    settle();
    EXPECT_EQ(trash.restoreCalls(), (QStringList{A.primary, C.primary, C.companions.first()}));
    EXPECT_EQ(c.statusText(), u"已恢复 2 个文件");
    EXPECT_EQ(primaries(c.units), primaries(all)); // back in the folder's order
    EXPECT_TRUE(c.changed);                        // files were changed, even if all came back

    c.undoLastTrash(); // nothing left: nothing happens
    settle();
    EXPECT_EQ(trash.restoreCalls().size(), 3);

    c.exitCleanup();
    c.exitCleanup();
    EXPECT_EQ(exits, std::vector<bool>{true});
}

// A file whose place was taken stays in the Trash and on the stack: Ctrl+Z
// tries it again. One whose Trash entry is gone is dropped.
TEST_F(ControllerTest, ARestoreThatFailsIsReportedAndCanBeTriedAgain)
{
    CleanupController &c = *controller;
    c.trashCheckedUnits(); // B C E F
    settle();
    trash.failRestore(C.primary);
    trash.failRestore(E.primary, RestoreOutcome::Kind::entryChanged);
    c.undoLastTrash();
    settle();
    EXPECT_EQ(c.unitFor(C.primary), nullptr);
    EXPECT_NE(c.unitFor(B.primary), nullptr);
    EXPECT_EQ(c.statusText(), u"已恢复 3 个文件  ·  2 个文件未能恢复：refused by the test");
    ASSERT_EQ(c.undoStack.size(), 1);
    EXPECT_EQ(c.undoStack[0].size(), 1);

    trash.allowRestore(C.primary);
    c.undoLastTrash();
    settle();
    EXPECT_NE(c.unitFor(C.primary), nullptr);
    EXPECT_EQ(c.statusText(), u"已恢复 1 个文件");
    EXPECT_TRUE(c.undoStack.isEmpty());
}

// A request that moved nothing leaves nothing to undo and promises nothing.
TEST_F(ControllerTest, NothingMovedPushesNoBatchAndLeavingReportsNoChange)
{
    CleanupController &c = *controller;
    for (const CleanupUnit &u : all)
        trash.failMove(u.primary);
    c.trashCheckedUnits();
    settle();
    EXPECT_TRUE(c.undoStack.isEmpty());
    EXPECT_EQ(c.units.size(), all.size());
    EXPECT_EQ(c.statusText().toStdString(), "4 个文件未能移到回收站：B.jpg、C.jpg、E.jpg 等另外 1 个 (refused by the test)");
    c.exitCleanup();
    EXPECT_EQ(exits, std::vector<bool>{false});
    // After leaving nothing more is done.
    c.trashCheckedUnits();
    EXPECT_FALSE(c.isBusy());
}

TEST_F(ControllerTest, LeavingDuringATrashWaitsForItSoChangedIsTrue)
{
    CleanupController &c = *controller;
    c.trashCheckedUnits();
    c.exitCleanup();
    EXPECT_TRUE(exits.empty());
    settle();
    EXPECT_EQ(exits, std::vector<bool>{true});
}

TEST_F(ControllerTest, TextsOfTheScreen)
{
    CleanupController &c = *controller;
    EXPECT_EQ(c.headerTitle(), u"相似连拍");
    EXPECT_EQ(c.headerDetail(), u"1 组 · 3 张");
    EXPECT_EQ(c.progressText(), u"正在检查 0 / 7");
    EXPECT_EQ(c.emptyText(), u"正在检查…");
    c.selectCategory(CleanupCategory::blurry);
    EXPECT_EQ(c.headerDetail(), u"1 张");
    EXPECT_TRUE(c.facesShown(F).isEmpty());
    c.checkNone();
    c.selectCategory(CleanupCategory::similar);
    c.checkNone();
    c.selectCategory(CleanupCategory::duplicate);
    c.checkNone();
    c.selectCategory(CleanupCategory::closedEyes);
    c.checkNone();
    EXPECT_EQ(c.statusText(), u"没有勾选照片");
    EXPECT_EQ(c.trashButtonTitle(), u"移到回收站");
    EXPECT_FALSE(c.trashEnabled());
    EXPECT_EQ(c.previewCaption(A), u"A.jpg  ·  推荐保留  ·  未勾选，回车勾选");

    // A photo that could not be measured is in no category: the finished scan
    // names it apart instead of counting it as checked.
    c.scanner->setMeasure([this](const CleanupUnit &unit) -> std::optional<CleanupMetrics> {
        if (unit.primary == G.primary)
            return std::nullopt;
        return CleanupMetrics{};
    });
    c.start();
    QElapsedTimer waited;
    waited.start();
    while (!c.scanner->finished && waited.elapsed() < 30'000)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    ASSERT_TRUE(c.scanner->finished);
    const QString done = c.progressText();
    EXPECT_TRUE(done.startsWith(u"已检查 6 张，用时 ")) << qPrintable(done);
    EXPECT_TRUE(done.endsWith(u" 秒 · 1 张无法检查：G.jpg")) << qPrintable(done);
}

// A burst of two near-identical pictures and one unrelated picture, measured
// for real. The first visit measures the neighbour distances; a return to the
// folder reads them back, so its very first build already shows the burst.
TEST(ControllerCache, AReturnShowsTheBurstsAtItsFirstBuild)
{
    testApplication();
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    qputenv("XDG_CACHE_HOME", QFile::encodeName(root.filePath(QStringLiteral("cache"))));
    const QString folder = root.filePath(QStringLiteral("photos"));
    QDir().mkpath(folder);
    const auto picture = [](int seed, int shift) {
        QImage image(320, 240, QImage::Format_RGB32);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const int v = ((x + shift) / (24 + seed * 9) + y / (20 + seed * 7)) % 2 ? 200 : 40;
                image.setPixel(x, y, qRgb(v, (v + 60 * seed) % 256, 255 - v));
            }
        return image;
    };
    ASSERT_TRUE(picture(0, 0).save(folder + "/a.jpg", "JPEG", 90));
    ASSERT_TRUE(picture(0, 2).save(folder + "/b.jpg", "JPEG", 90));
    ASSERT_TRUE(picture(3, 0).save(folder + "/c.jpg", "JPEG", 90));
    const std::optional<QList<ImageItem>> items = FolderModel::listFolder(folder);
    ASSERT_TRUE(items);
    const QVector<CleanupUnit> units = makeUnits(*items);
    ASSERT_EQ(units.size(), 3);

    FakeTrash trash;
    const auto visit = [&](int &similarAtFirstBuild) {
        CleanupController c(folder, units, trash, [](bool) {});
        int builds = 0;
        c.onResultChanged = [&] {
            if (builds++ == 0)
                similarAtFirstBuild = c.unitCount(CleanupCategory::similar);
        };
        c.start();
        QElapsedTimer waited;
        waited.start();
        // Unoptimised sanitized builds measure the pictures many times slower.
        const qint64 limit = allowForSanitizers(60000, 15);
        while (!c.groupingComplete() && waited.elapsed() < limit)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
        EXPECT_TRUE(c.groupingComplete());
        EXPECT_EQ(c.unitCount(CleanupCategory::similar), 2);
        c.exitCleanup();
    };
    int first = -1, second = -1;
    visit(first);
    EXPECT_EQ(first, 0);
    const std::optional<QString> metrics = MetricsCache::fileFor(folder);
    ASSERT_TRUE(metrics);
    EXPECT_TRUE(QFileInfo::exists(DistanceCache::fileBeside(*metrics)));
    visit(second);
    EXPECT_EQ(second, 2);
    qunsetenv("XDG_CACHE_HOME");
}

} // namespace
