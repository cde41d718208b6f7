#include "cleanup/CleanupController.h"
#include "cleanup/CleanupUnits.h"
#include "cleanup/review/CleanupGridView.h"
#include "cleanup/review/CleanupPage.h"
#include "cleanup/review/CleanupPreviewView.h"
#include "library/FolderModel.h"
#include "platform/Trash.h"
#include "settings/Texts.h"

#include "TestData.h"
#include "support/SanitizerAllowance.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QToolTip>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <memory>

namespace {

QApplication &app()
{
    static int argc = 1;
    static char name[] = "cleanup_page_test";
    static char *argv[] = {name, nullptr};
    static QApplication instance(argc, argv);
    return instance;
}

bool waitUntil(const std::function<bool()> &done, int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

QByteArray digest(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

// The review of a folder, shown, once its photos are grouped; none when the
// folder cannot be listed or the grouping does not end.
std::unique_ptr<CleanupPage> shownReview(const QString &folder)
{
    const std::optional<QList<ImageItem>> items = FolderModel::listFolder(folder);
    if (!items)
        return nullptr;
    auto page = std::make_unique<CleanupPage>(folder, makeUnits(*items), Trash::system(), [](bool) {});
    page->resize(1000, 700);
    page->show();
    CleanupController &c = page->controller();
    if (!waitUntil([&] { return c.groupingComplete(); }, allowForSanitizers(60000)))
        return nullptr;
    return page;
}

void press(QWidget *target, int key, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    QKeyEvent down(QEvent::KeyPress, key, mods);
    QApplication::sendEvent(target, &down);
}

// The buttons of the screen take no focus, so the grid's keys reach what they
// do: Tab and Shift+Tab (and Ctrl+Page Down / Up) step round the categories,
// Ctrl+A ticks every photo but the keepers, Ctrl+Shift+A none.
TEST(CleanupPage, CategoriesAndTicksFromTheKeyboard)
{
    app();
    QDir().mkpath(QDir::homePath());
    QTemporaryDir dir(QDir::homePath() + QStringLiteral("/cleanup-keys-XXXXXX"));
    ASSERT_TRUE(dir.isValid());
    for (const char *name : {"d700-a.jpg", "d700-b.jpg"})
        ASSERT_TRUE(QFile::copy(TestData::photo(QStringLiteral("duplicates/Sony D700.jpg")), dir.filePath(name)));
    const std::unique_ptr<CleanupPage> review = shownReview(dir.path());
    ASSERT_TRUE(review);
    CleanupPage &page = *review;
    CleanupController &c = page.controller();
    QWidget *grid = &page.grid();

    press(grid, Qt::Key_Tab);
    EXPECT_EQ(c.category, CleanupCategory::duplicate);
    const QString a = dir.filePath("d700-a.jpg"), b = dir.filePath("d700-b.jpg");
    press(grid, Qt::Key_A, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_FALSE(c.isChecked(a) || c.isChecked(b));
    press(grid, Qt::Key_A, Qt::ControlModifier);
    EXPECT_NE(c.isChecked(a), c.isChecked(b)); // the keeper stays unticked

    // The grid draws its photos itself: its name is what a screen reader says
    // of the photo under the cursor, and a tick changes it.
    press(grid, Qt::Key_Right);
    ASSERT_TRUE(c.selectedPrimary);
    const QString said = grid->accessibleName();
    EXPECT_TRUE(said.startsWith(QFileInfo(*c.selectedPrimary).fileName())) << qPrintable(said);
    press(grid, Qt::Key_Return);
    EXPECT_NE(grid->accessibleName(), said);
    press(grid, Qt::Key_Return);
    EXPECT_EQ(grid->accessibleName(), said);

    press(grid, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(c.category, CleanupCategory::similar);
    press(grid, Qt::Key_PageUp, Qt::ControlModifier);
    EXPECT_EQ(c.category, allCleanupCategories().last());
    press(grid, Qt::Key_PageDown, Qt::ControlModifier);
    EXPECT_EQ(c.category, CleanupCategory::similar);

    // A click ticks; a double click opens the preview and leaves the tick as it was.
    press(grid, Qt::Key_Tab);
    ASSERT_EQ(c.category, CleanupCategory::duplicate);
    QWidget *viewport = page.grid().viewport();
    const QPointF first(CleanupGridView::insetLeft + 60, CleanupGridView::headerHeight + CleanupGridView::insetTop + 60);
    const auto mouse = [&](QEvent::Type type) {
        QMouseEvent event(type, first, viewport->mapToGlobal(first), Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &event);
    };
    const bool before = c.isChecked(a);
    mouse(QEvent::MouseButtonPress);
    mouse(QEvent::MouseButtonRelease);
    ASSERT_EQ(c.selectedPrimary, a);
    EXPECT_NE(c.isChecked(a), before);
    mouse(QEvent::MouseButtonDblClick);
    mouse(QEvent::MouseButtonRelease);
    EXPECT_EQ(c.isChecked(a), before);
    EXPECT_TRUE(page.preview().isVisible());
    // The pointer resting on a tile names its file.
    QHelpEvent help(QEvent::ToolTip, first.toPoint(), viewport->mapToGlobal(first.toPoint()));
    QApplication::sendEvent(viewport, &help);
    EXPECT_EQ(QToolTip::text(), QFileInfo(a).fileName());
    QToolTip::hideText();

    // Another category closes the preview of a photo it does not hold.
    press(grid, Qt::Key_Tab);
    EXPECT_FALSE(page.preview().isVisible());
}

// Photos that cannot be checked are named in the progress under the
// categories. Past the three lines it holds, as much as fits is shown, ending
// in an ellipsis, never a line cut through; the tooltip has all of it.
TEST(CleanupPage, ALongProgressEndsInAnEllipsisAfterThreeLines)
{
    app();
    QDir().mkpath(QDir::homePath());
    QTemporaryDir dir(QDir::homePath() + QStringLiteral("/cleanup-progress-XXXXXX"));
    ASSERT_TRUE(dir.isValid());
    for (int i = 0; i < 8; ++i) {
        QFile broken(dir.filePath(QStringLiteral("a photo that cannot be checked %1.jpg").arg(i)));
        ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
        broken.write("not a picture");
    }
    const std::unique_ptr<CleanupPage> review = shownReview(dir.path());
    ASSERT_TRUE(review);
    CleanupPage &page = *review;
    CleanupController &c = page.controller();
    QLabel *progress = nullptr;
    for (QLabel *label : page.findChildren<QLabel *>())
        if (label->toolTip() == c.progressText())
            progress = label;
    ASSERT_NE(progress, nullptr) << qPrintable(c.progressText());
    EXPECT_TRUE(c.progressText().contains(QStringLiteral("cannot be checked 7.jpg")));
    EXPECT_TRUE(progress->text().endsWith(QChar(0x2026))) << qPrintable(progress->text());
    EXPECT_TRUE(c.progressText().startsWith(progress->text().chopped(1)));
    EXPECT_LE(progress->heightForWidth(progress->width()), progress->height());
}

// The review screen on a real X server over a copy of corpus bursts and
// duplicates, with the real Trash in the test's private data folder: tick,
// trash, undo and leave, checking the folder and the Trash at each step.
TEST(CleanupPageCorpus, TrashAndUndoOnACorpusFolder)
{
    GLANTO_NEEDS_CORPUS();
    app();
    Texts::setLanguage(QStringLiteral("zh"));
    QDir().mkpath(QDir::homePath());
    QTemporaryDir dir(QDir::homePath() + QStringLiteral("/cleanup-XXXXXX"));
    ASSERT_TRUE(dir.isValid());
    const QString corpus = TestData::corpusDir();
    for (const QString &name : QDir(corpus + "/duplicates").entryList(QDir::Files))
        ASSERT_TRUE(QFile::copy(corpus + "/duplicates/" + name, dir.filePath(name)));
    for (int i = 0; i < 10; ++i) {
        const QString name = QStringLiteral("pcb_%1.JPG").arg(i, 3, 10, QLatin1Char('0'));
        ASSERT_TRUE(QFile::copy(corpus + "/bursts/" + name, dir.filePath(name)));
    }
    // A RAW beside one burst shot travels with it.
    ASSERT_TRUE(QFile::copy(corpus + "/raw/Nikon.nef", dir.filePath("pcb_003.NEF")));

    QHash<QString, QByteArray> before;
    for (const QString &name : QDir(dir.path()).entryList(QDir::Files))
        before.insert(name, digest(dir.filePath(name)));

    const std::optional<QList<ImageItem>> items = FolderModel::listFolder(dir.path());
    ASSERT_TRUE(items);
    std::vector<bool> exits;
    CleanupPage page(dir.path(), makeUnits(*items), Trash::system(), [&](bool changed) { exits.push_back(changed); });
    page.resize(1280, 800);
    page.show();
    CleanupController &c = page.controller();
    ASSERT_TRUE(waitUntil([&] { return c.groupingComplete(); }, allowForSanitizers(280000)));
    waitUntil([] { return false; }, 1500); // thumbnails
    const QString shot = QDir::current().filePath(QStringLiteral("cleanup-page-shot.png"));
    page.grab().save(shot);

    ASSERT_GE(c.unitCount(CleanupCategory::duplicate), 2);
    ASSERT_GE(c.unitCount(CleanupCategory::similar), 2);

    // Only the copies in the duplicate category and the burst shot with its RAW.
    for (CleanupCategory category : allCleanupCategories()) {
        page.selectCategory(category);
        c.checkNone();
    }
    page.selectCategory(CleanupCategory::duplicate);
    page.commands().value("selectAll")();
    QStringList copies;
    for (const CleanupGroup &group : c.currentGroups()) {
        EXPECT_FALSE(c.isChecked(*group.keeper));
        for (const CleanupUnit &unit : group.units)
            if (unit.primary != *group.keeper)
                copies << QFileInfo(unit.primary).fileName();
    }
    page.selectCategory(CleanupCategory::similar);
    const CleanupGroup &burst = c.currentGroups().first();
    int withRaw = -1;
    for (int i = 0; i < burst.units.size(); ++i)
        if (burst.units[i].primary == dir.filePath("pcb_003.JPG"))
            withRaw = i;
    ASSERT_GE(withRaw, 0) << "pcb_003 is not in the first burst";
    page.grid().select(CleanupGridView::IndexPath{0, withRaw});
    const bool wasTicked = c.isChecked(dir.filePath("pcb_003.JPG"));
    press(&page.grid(), Qt::Key_X);
    ASSERT_NE(c.isChecked(dir.filePath("pcb_003.JPG")), wasTicked);
    if (!c.isChecked(dir.filePath("pcb_003.JPG")))
        press(&page.grid(), Qt::Key_Return);
    ASSERT_TRUE(c.isChecked(dir.filePath("pcb_003.JPG")));
    const QStringList trashed = copies + QStringList{"pcb_003.JPG", "pcb_003.NEF"};

    page.commands().value("trash")();
    ASSERT_TRUE(waitUntil([&] { return !c.isBusy(); }, 30000));
    const QString trashFiles = qEnvironmentVariable("XDG_DATA_HOME") + "/Trash/files/";
    const QString trashInfo = qEnvironmentVariable("XDG_DATA_HOME") + "/Trash/info/";
    for (const QString &name : before.keys()) {
        if (trashed.contains(name)) {
            EXPECT_FALSE(QFile::exists(dir.filePath(name))) << qPrintable(name);
            EXPECT_EQ(digest(trashFiles + name), before[name]) << qPrintable(name);
            EXPECT_TRUE(QFile::exists(trashInfo + name + ".trashinfo")) << qPrintable(name);
        } else {
            EXPECT_EQ(digest(dir.filePath(name)), before[name]) << qPrintable(name);
        }
    }
    EXPECT_EQ(c.statusText(), Texts::format("cleanup.trashed", {QString::number(copies.size() + 1)}));
    EXPECT_EQ(c.unitFor(dir.filePath("pcb_003.JPG")), nullptr);

    // Ctrl+Shift+Z does nothing; Ctrl+Z brings everything back.
    press(&page.grid(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_FALSE(c.isBusy());
    EXPECT_EQ(c.undoStack.size(), 1);
    press(&page.grid(), Qt::Key_Z, Qt::ControlModifier);
    ASSERT_TRUE(waitUntil([&] { return !c.isBusy(); }, 30000));
    for (const QString &name : before.keys())
        EXPECT_EQ(digest(dir.filePath(name)), before[name]) << qPrintable(name);
    for (const QString &name : trashed)
        EXPECT_FALSE(QFile::exists(trashInfo + name + ".trashinfo")) << qPrintable(name);
    EXPECT_EQ(c.statusText(), Texts::format("cleanup.restored", {QString::number(trashed.size())}));
    EXPECT_NE(c.unitFor(dir.filePath("pcb_003.JPG")), nullptr);

    // The trashed photo was selected; it is gone from the selection, so Space
    // opens nothing. With a photo selected Space opens the preview, the first
    // Escape closes it, the second leaves.
    EXPECT_FALSE(page.grid().selected().has_value());
    press(&page.grid(), Qt::Key_Space);
    EXPECT_FALSE(page.preview().isVisible());
    press(&page.grid(), Qt::Key_Right);
    ASSERT_TRUE(page.grid().selected().has_value());
    press(&page.grid(), Qt::Key_Space);
    EXPECT_TRUE(page.preview().isVisible());
    press(&page.grid(), Qt::Key_Escape);
    EXPECT_FALSE(page.preview().isVisible());
    EXPECT_TRUE(exits.empty());
    press(&page.grid(), Qt::Key_Escape);
    EXPECT_EQ(exits, std::vector<bool>{true});
}

} // namespace
