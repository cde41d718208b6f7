// Rename and batch rename as the viewer page runs them, on real files (raster
// renderer, offscreen platform): the alerts, the folder's entries, the caches,
// the information panel and the messages.
#include "ViewerPageFixture.h"

#include "commands/CommandRouter.h"
#include "settings/Settings.h"
#include "settings/Texts.h"
#include "viewer/InfoPanel.h"
#include "viewer/ViewerOverlays.h"
#include "viewer/ViewerPage.h"
#include "viewer/ViewerPageEdits.h"
#include "viewer/ViewerPageRename.h"
#include "viewer/ViewerViewController.h"

#include <QLineEdit>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class ViewerPageRenameTest : public ViewerPageFixture
{
protected:
    void beforePage() override { Texts::setLanguage(QStringLiteral("zh")); }

    void TearDown() override
    {
        ViewerPageFixture::TearDown();
        Texts::setLanguage({});
    }

    QString current() { return viewer->controller()->folderModel().current()->url; }
    QStringList modelNames()
    {
        QStringList names;
        for (const ImageItem &item : viewer->controller()->folderModel().items())
            names << QFileInfo(item.url).fileName();
        return names;
    }
    bool shown(const QString &file)
    {
        return waitFor([&] { return viewer->currentPhotoPath() == path(file); }, 20000);
    }
    // Types into the open alert and presses its default button.
    void answer(const QString &text)
    {
        TextFieldAlert *alert = viewer->renames()->openAlert();
        ASSERT_TRUE(alert);
        alert->field()->setText(text);
        alert->accept();
    }

};

TEST_F(ViewerPageRenameTest, RenameKeepsThePhotoOnScreenUnderItsNewName)
{
    makeJpeg(dir.path(), QStringLiteral("a.jpg"), 320, 200);
    makeJpeg(dir.path(), QStringLiteral("b.jpg"), 200, 320);
    makeJpeg(dir.path(), QStringLiteral("c.jpg"), 320, 200);
    auto *overlays = new ViewerOverlays(viewer, router);
    viewer->open(path(QStringLiteral("b.jpg")));
    ASSERT_TRUE(shown(QStringLiteral("b.jpg")));
    overlays->setInfoPanelShown(true);
    ASSERT_FALSE(loader.cachedPreview(path(QStringLiteral("b.jpg")), 1).isNull());

    ASSERT_TRUE(router.state(CommandId::renameCurrent).enabled);
    router.dispatch(CommandId::renameCurrent);
    TextFieldAlert *alert = viewer->renames()->openAlert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->field()->text(), QStringLiteral("b"));
    EXPECT_EQ(alert->informativeText(), QString::fromUtf8("输入新的名称（保留 .jpg 扩展名）"));
    EXPECT_TRUE(alert->field()->hasSelectedText());
    // A second press while the alert is open asks nothing more.
    router.dispatch(CommandId::renameCurrent);
    EXPECT_EQ(viewer->renames()->openAlert(), alert);

    answer(QStringLiteral(" holiday/1 "));
    ASSERT_TRUE(shown(QStringLiteral("holiday-1.jpg")));
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("b.jpg"))));
    EXPECT_EQ(modelNames(), (QStringList{"a.jpg", "holiday-1.jpg", "c.jpg"}));
    EXPECT_EQ(viewer->controller()->folderModel().index(), 1);
    EXPECT_TRUE(loader.cachedPreview(path(QStringLiteral("b.jpg")), 1).isNull());
    EXPECT_EQ(viewer->hudMessage(), QString::fromUtf8("已重命名为 holiday-1.jpg"));

    // The information panel names the file by its new name.
    InfoPanel *info = overlays->infoPanel();
    EXPECT_TRUE(waitFor([&] {
        info->waitForSummaries();
        for (const ExifEntry &entry : info->entries()) {
            if (entry.value.startsWith(QStringLiteral("holiday-1.jpg")))
                return true;
        }
        return false;
    }));
}

TEST_F(ViewerPageRenameTest, TheTargetIsTheOneOnScreenWhenTheAlertOpened)
{
    makeJpeg(dir.path(), QStringLiteral("a.jpg"), 320, 200);
    makeJpeg(dir.path(), QStringLiteral("b.jpg"), 320, 200);
    viewer->open(path(QStringLiteral("a.jpg")));
    ASSERT_TRUE(shown(QStringLiteral("a.jpg")));

    router.dispatch(CommandId::renameCurrent);
    // A slideshow tick moves on while the alert is open.
    viewer->controller()->navigate(+1);
    ASSERT_TRUE(shown(QStringLiteral("b.jpg")));
    answer(QStringLiteral("first"));

    EXPECT_TRUE(QFile::exists(path(QStringLiteral("first.jpg"))));
    EXPECT_TRUE(QFile::exists(path(QStringLiteral("b.jpg"))));
    EXPECT_EQ(modelNames(), (QStringList{"first.jpg", "b.jpg"}));
    EXPECT_EQ(current(), path(QStringLiteral("b.jpg")));
}

TEST_F(ViewerPageRenameTest, RatingsFollowTheirFilesNotTheirOldNames)
{
    makeJpeg(dir.path(), QStringLiteral("a.jpg"), 320, 200);
    makeJpeg(dir.path(), QStringLiteral("c.jpg"), 320, 200);
    viewer->open(path(QStringLiteral("a.jpg")));
    ASSERT_TRUE(shown(QStringLiteral("a.jpg")));
    PhotoEdits &edits = viewer->edits()->edits;
    edits.setRating(path(QStringLiteral("a.jpg")), 4);
    edits.waitForIdle();

    router.dispatch(CommandId::renameCurrent);
    answer(QStringLiteral("z"));
    ASSERT_TRUE(shown(QStringLiteral("z.jpg")));
    edits.waitForIdle();
    EXPECT_EQ(viewer->currentRating(), 4);

    // Another photo takes the old name: it shows its own rating, not the old one's.
    viewer->controller()->navigate(+1);
    ASSERT_TRUE(shown(QStringLiteral("c.jpg")));
    router.dispatch(CommandId::renameCurrent);
    answer(QStringLiteral("a"));
    ASSERT_TRUE(shown(QStringLiteral("a.jpg")));
    edits.waitForIdle();
    EXPECT_EQ(viewer->currentRating(), 0);
}

TEST_F(ViewerPageRenameTest, RefusalsAndCancelLeaveTheFileAlone)
{
    makeJpeg(dir.path(), QStringLiteral("a.jpg"), 320, 200);
    viewer->open(path(QStringLiteral("a.jpg")));
    ASSERT_TRUE(shown(QStringLiteral("a.jpg")));

    router.dispatch(CommandId::renameCurrent);
    viewer->renames()->openAlert()->field()->setText(QStringLiteral("other"));
    viewer->renames()->openAlert()->reject();
    EXPECT_FALSE(viewer->isFlashing());

    router.dispatch(CommandId::renameCurrent);
    answer(QStringLiteral("   "));
    EXPECT_EQ(viewer->hudMessage(), Texts::text("msg.prefixEmpty"));

    router.dispatch(CommandId::renameCurrent);
    answer(QStringLiteral(".a"));
    EXPECT_EQ(viewer->hudMessage(), Texts::text("msg.renameHidden"));

    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("a.jpg")});
    EXPECT_EQ(current(), path(QStringLiteral("a.jpg")));

    // The photo went away while the alert was open: the system's reason is shown.
    router.dispatch(CommandId::renameCurrent);
    ASSERT_TRUE(QFile::remove(path(QStringLiteral("a.jpg"))));
    answer(QStringLiteral("b"));
    EXPECT_TRUE(viewer->hudMessage().startsWith(QString::fromUtf8("重命名失败： "))) << viewer->hudMessage().toStdString();
    EXPECT_GT(viewer->hudMessage().size(), 7);
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

TEST_F(ViewerPageRenameTest, BatchRenameReloadsTheFolderOnTheSamePhoto)
{
    makeJpeg(dir.path(), QStringLiteral("x.jpg"), 320, 200);
    makeJpeg(dir.path(), QStringLiteral("y.jpg"), 200, 320);
    makeJpeg(dir.path(), QStringLiteral("z.jpg"), 320, 200);
    viewer->open(path(QStringLiteral("y.jpg")));
    ASSERT_TRUE(shown(QStringLiteral("y.jpg")));

    router.dispatch(CommandId::batchRename);
    TextFieldAlert *alert = viewer->renames()->openAlert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->field()->text(), QFileInfo(dir.path()).fileName());
    EXPECT_EQ(alert->field()->placeholderText(), Texts::text("br.field"));
    EXPECT_EQ(alert->informativeText(), Texts::format("br.info", {QStringLiteral("3")}));
    answer(QStringLiteral("trip"));

    ASSERT_TRUE(shown(QStringLiteral("trip-002.jpg")));
    EXPECT_EQ(modelNames(), (QStringList{"trip-001.jpg", "trip-002.jpg", "trip-003.jpg"}));
    EXPECT_EQ(viewer->hudMessage(), QString::fromUtf8("已重命名 3 张图片"));
    EXPECT_TRUE(loader.cachedPreview(path(QStringLiteral("y.jpg")), 1).isNull());
}

// A note opened directly is shown among the photos, but the folder's batch
// commands count and rename photos only.
TEST_F(ViewerPageRenameTest, BatchRenameLeavesAFileThatIsNotAPhotoAlone)
{
    makeJpeg(dir.path(), QStringLiteral("x.jpg"), 320, 200);
    makeJpeg(dir.path(), QStringLiteral("y.jpg"), 200, 320);
    ASSERT_TRUE(writeFile(QStringLiteral("notes.txt"), "shopping list"));
    viewer->open(path(QStringLiteral("notes.txt")));
    ASSERT_TRUE(waitFor([&] { return viewer->controller()->folderModel().count() == 3; }));

    router.dispatch(CommandId::batchRename);
    TextFieldAlert *alert = viewer->renames()->openAlert();
    ASSERT_TRUE(alert);
    EXPECT_EQ(alert->informativeText(), Texts::format("br.info", {QStringLiteral("2")}));
    answer(QStringLiteral("trip"));
    ASSERT_TRUE(waitFor([&] { return QFile::exists(path(QStringLiteral("trip-002.jpg"))); }));
    EXPECT_TRUE(QFile::exists(path(QStringLiteral("notes.txt"))));
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("trip-003.txt"))));
}

TEST_F(ViewerPageRenameTest, CommandsNeedAPhoto)
{
    viewer->open(dir.path());
    EXPECT_FALSE(router.state(CommandId::renameCurrent).enabled);
    EXPECT_FALSE(router.state(CommandId::batchRename).enabled);
    router.dispatch(CommandId::renameCurrent);
    EXPECT_EQ(viewer->renames()->openAlert(), nullptr);
}

} // namespace
