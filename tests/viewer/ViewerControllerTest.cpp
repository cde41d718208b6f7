// The viewer controller with the real loader on real files (raster renderer,
// offscreen platform).
#include "ViewerTestSupport.h"

#include "library/FilmstripView.h"
#include "platform/Codec.h"
#include "settings/Settings.h"
#include "settings/Texts.h"
#include "commands/CommandRouter.h"
#include "viewer/ViewerPage.h"
#include "viewer/EmptyStateView.h"
#include "viewer/ViewerViewController.h"
#include "viewer/ZoomableImageView.h"

#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QPushButton>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace {

class ViewerControllerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testApp();
        ASSERT_TRUE(dir.isValid());
        Settings::setSortKey(SortKey::name);
        Settings::setSortReversed(false);
        Settings::setEscCloses(false);
        Settings::setFadeTransition(false);
        Settings::setCleanupHintShown(true);
        Settings::setWheelNavigates(false);
        Settings::setWheelZoomInverted(false);
        host = std::make_unique<QWidget>();
        host->resize(1000, 700);
        viewer = new ViewerPage(loader, host.get());
        router.pushPage(viewer);
        viewer->setGeometry(0, 0, 1000, 700);
        host->show();
        viewer->controller()->onDisplayed = [this](bool isNewPhoto) {
            displays.push_back({viewer->controller()->folderModel().current()->url, viewer->imageView()->logicalSize(), isNewPhoto});
        };
    }

    void TearDown() override
    {
        host.reset();
    }

    QString path(const QString &name) const { return QDir(dir.path()).filePath(name); }

    bool idle()
    {
        return viewer->controller()->decodeQueue.activeThreadCount() == 0 && viewer->controller()->prefetchQueue.activeThreadCount() == 0;
    }

    // Waits until the current photo is on screen and the queues are quiet.
    bool settle(int timeoutMs = 30000)
    {
        return waitFor([this] {
            const auto current = viewer->controller()->folderModel().current();
            return idle() && current && !displays.empty() && displays.back().url == current->url;
        }, timeoutMs);
    }

    struct Display
    {
        QString url;
        QSizeF size;
        bool isNewPhoto;
    };

    ImageLoader loader{8ull << 30};
    QTemporaryDir dir;
    std::unique_ptr<QWidget> host;
    ViewerPage *viewer = nullptr;
    CommandRouter router;
    std::vector<Display> displays;
};

TEST_F(ViewerControllerTest, NavigationWrapsAroundAtBothEnds)
{
    copyInto(dir.path(), "formats/hopper.jpg", "a.jpg");                 // 128 x 128
    makeJpeg(dir.path(), "b.jpg", 100, 68);                 // 100 x 68
    makeJpeg(dir.path(), "c.jpg", 100, 75);    // 100 x 75
    viewer->open(dir.path());
    ASSERT_TRUE(settle());
    EXPECT_EQ(viewer->controller()->folderModel().index(), 0);
    EXPECT_EQ(viewer->imageView()->logicalSize(), QSizeF(128, 128));
    EXPECT_FALSE(viewer->emptyState()->isVisible());

    viewer->controller()->navigate(-1);
    ASSERT_TRUE(settle());
    EXPECT_EQ(displays.back().url, path("c.jpg"));
    EXPECT_EQ(viewer->imageView()->logicalSize(), QSizeF(100, 75));

    viewer->controller()->navigate(+1);
    ASSERT_TRUE(settle());
    EXPECT_EQ(displays.back().url, path("a.jpg"));

    // A mouse's back and forward buttons step like the arrows.
    const auto press = [this](Qt::MouseButton button) {
        const QPointF at(10, 10);
        QMouseEvent event(QEvent::MouseButtonPress, at, viewer->imageView()->mapToGlobal(at), button, button,
                          Qt::NoModifier);
        QApplication::sendEvent(viewer->imageView(), &event);
    };
    press(Qt::ForwardButton);
    ASSERT_TRUE(settle());
    EXPECT_EQ(displays.back().url, path("b.jpg"));
    press(Qt::BackButton);
    press(Qt::BackButton);
    ASSERT_TRUE(settle());
    EXPECT_EQ(displays.back().url, path("c.jpg"));

    viewer->controller()->goLast();
    EXPECT_EQ(viewer->controller()->folderModel().index(), 2);
    viewer->controller()->goTo(7); // out of range: stays
    EXPECT_EQ(viewer->controller()->folderModel().index(), 2);
}

TEST_F(ViewerControllerTest, WithOnePhotoBothDirectionsRedisplayIt)
{
    const QString only = copyInto(dir.path(), "formats/hopper.jpg", "only.jpg");
    viewer->open(only);
    ASSERT_TRUE(settle());
    const size_t before = displays.size();
    viewer->controller()->navigate(+1);
    ASSERT_TRUE(waitFor([&] { return displays.size() > before; }));
    viewer->controller()->navigate(-1);
    ASSERT_TRUE(waitFor([&] { return displays.size() > before + 1; }));
    EXPECT_EQ(displays.back().url, only);
    EXPECT_TRUE(displays.back().isNewPhoto);
}

TEST_F(ViewerControllerTest, PrefetchLeansTheWayOfTravelAndDropsWhatIsFarBehind)
{
    QStringList urls;
    for (int i = 0; i < 24; ++i)
        urls << (i % 2 ? makeJpeg(dir.path(), QStringLiteral("p%1.jpg").arg(i, 2, 10, QLatin1Char('0')), 100, 68)
                       : copyInto(dir.path(), "formats/hopper.jpg",
                                  QStringLiteral("p%1.jpg").arg(i, 2, 10, QLatin1Char('0'))));
    viewer->open(dir.path());
    ASSERT_TRUE(settle());
    for (int i = 0; i < 3; ++i) {
        viewer->controller()->navigate(+1);
        ASSERT_TRUE(settle());
    }
    ASSERT_EQ(viewer->controller()->folderModel().index(), 3);
    const QSet<QString> forward{urls[4], urls[5], urls[6], urls[7], urls[8], urls[2], urls[1]};
    EXPECT_TRUE(viewer->controller()->prefetchedURLs.contains(forward));
    const int target = viewer->controller()->previewTargetSize();
    for (const QString &url : forward)
        EXPECT_FALSE(loader.cachedPreview(url, target).isNull()) << qPrintable(url);

    viewer->controller()->navigate(-1);
    ASSERT_TRUE(settle());
    // Current 2: five back (wrapping) and two ahead.
    for (int i : {1, 0, 23, 22, 21, 3, 4})
        EXPECT_TRUE(viewer->controller()->prefetchedURLs.contains(urls[i])) << i;

    // Far away: everything more than 8 steps from 14 is dropped, its preview too.
    viewer->controller()->goTo(14);
    ASSERT_TRUE(settle());
    for (int i : {1, 2, 3, 4, 5})
        EXPECT_FALSE(viewer->controller()->prefetchedURLs.contains(urls[i])) << i;
    EXPECT_TRUE(loader.cachedPreview(urls[4], target).isNull());
    EXPECT_TRUE(viewer->controller()->prefetchedURLs.contains(urls[6])); // exactly 8 away: kept
}

TEST_F(ViewerControllerTest, ADecodeThatFinishesAfterTheUserMovedOnIsNotShown)
{
    copyInto(dir.path(), "formats/hopper.jpg", "a.jpg");      // 128 x 128
    makeJpeg(dir.path(), "b.jpg", 100, 68);      // 100 x 68
    // Nothing is cached: both photos need a decode, and the user moves on before
    // the first one can come back.
    viewer->open(dir.path());
    viewer->controller()->navigate(+1);
    ASSERT_TRUE(settle());
    spin(300);
    ASSERT_FALSE(displays.empty());
    for (const Display &d : displays) {
        EXPECT_EQ(d.url, path("b.jpg"));
        EXPECT_EQ(d.size, QSizeF(100, 68));
    }
}

TEST_F(ViewerControllerTest, AnAnimatedGifPlaysItsFrames)
{
    copyInto(dir.path(), "animated/iss634.gif", "a.gif");
    viewer->open(dir.path());
    ASSERT_TRUE(settle());
    ZoomableImageView *view = viewer->imageView();
    EXPECT_TRUE(view->animationActive());
    ASSERT_TRUE(waitFor([&] { return view->logicalSize() == QSizeF(245, 245); }));
    const uint64_t frame = view->currentBitmapId();
    ASSERT_TRUE(waitFor([&] { return view->currentBitmapId() != frame; }, 5000)) << "no second frame";
    // A new photo stops the playback.
    copyInto(dir.path(), "formats/hopper.jpg", "b.jpg");
    viewer->open(path("b.jpg"));
    ASSERT_TRUE(settle());
    EXPECT_FALSE(view->animationActive());
    const uint64_t still = view->currentBitmapId();
    spin(400);
    EXPECT_EQ(view->currentBitmapId(), still);
}

// An animation whose frames do not all fit the decode budget plays its
// beginning and tells the person so; one that fits says nothing.
TEST_F(ViewerControllerTest, AnAnimationTooLargeToHoldSaysItPlaysOnlyItsBeginning)
{
    struct BudgetRestored
    {
        int64_t saved = Codec::decodeBudgetBytes();
        ~BudgetRestored() { Codec::setDecodeBudgetBytes(saved); }
    } budget;
    copyInto(dir.path(), "animated/iss634.gif", "a.gif");
    copyInto(dir.path(), "animated/iss634.apng", "b.png");
    viewer->open(path("a.gif"));
    ASSERT_TRUE(settle());
    ZoomableImageView *view = viewer->imageView();
    const uint64_t frame = view->currentBitmapId();
    ASSERT_TRUE(waitFor([&] { return view->currentBitmapId() != frame; }, 5000)) << "no second frame";
    EXPECT_FALSE(viewer->hudMessage().contains(QLatin1String("42")));

    // 245 x 245 frames: four fit in a MiB.
    Codec::setDecodeBudgetBytes(int64_t(1) << 20);
    viewer->open(path("b.png"));
    ASSERT_TRUE(settle());
    const QString expected = Texts::format("msg.animationShortened", {QStringLiteral("4"), QStringLiteral("41")});
    EXPECT_TRUE(waitFor([&] { return viewer->hudMessage() == expected; }, 5000)) << viewer->hudMessage().toStdString();
    EXPECT_TRUE(view->animationActive());
}

TEST_F(ViewerControllerTest, EscapeFitsAZoomedPhotoThenClosesWhenEscClosesIsOn)
{
    copyInto(dir.path(), "sharp/176_HONOR-7X_S.jpg", "a.jpg");
    Settings::setEscCloses(true);
    viewer->open(dir.path());
    ASSERT_TRUE(settle());
    ZoomableImageView *view = viewer->imageView();
    view->zoom(1.0, {10, 10}, false, true);
    ASSERT_FALSE(view->isFitMode());
    viewer->handleEscape();
    EXPECT_TRUE(view->isFitMode());
    EXPECT_TRUE(host->isVisible());
    viewer->handleEscape();
    EXPECT_FALSE(host->isVisible());
}

TEST_F(ViewerControllerTest, EscapeLeavesFullScreenWhenEscClosesIsOff)
{
    copyInto(dir.path(), "formats/hopper.jpg", "a.jpg");
    viewer->open(dir.path());
    ASSERT_TRUE(settle());
    host->showFullScreen();
    ASSERT_TRUE(host->isFullScreen());
    viewer->handleEscape();
    EXPECT_FALSE(host->isFullScreen());
    EXPECT_TRUE(host->isVisible());

    // A maximised window is maximised again after full screen, by the key or by Escape.
    host->showMaximized();
    for (bool byEscape : {false, true}) {
        viewer->toggleFullScreen();
        ASSERT_TRUE(host->isFullScreen());
        byEscape ? viewer->handleEscape() : viewer->toggleFullScreen();
        EXPECT_FALSE(host->isFullScreen());
        EXPECT_TRUE(host->isMaximized()) << "left by Escape: " << byEscape;
    }
}

TEST_F(ViewerControllerTest, APeekShapesTheWindowLikeThePhotoAndEscapeRestoresIt)
{
    QImage photo(400, 300, QImage::Format_RGB32);
    photo.fill(Qt::darkCyan);
    ASSERT_TRUE(photo.save(path("small.png")));
    viewer->open(dir.path());
    ASSERT_TRUE(settle());
    const QRect before = host->geometry();
    ZoomableImageView *view = viewer->imageView();
    view->perform(ShortcutAction::peek, nullptr);
    ASSERT_TRUE(view->spacePeeking());
    ASSERT_TRUE(viewer->peeking());
    // 100 % of a 400 x 300 photo at backing scale 1, its shorter side raised to 360.
    ASSERT_TRUE(waitFor([&] { return host->size() == QSize(480, 360); }, 3000)) << host->width() << "x" << host->height();
    EXPECT_FALSE(viewer->filmstripShown());
    EXPECT_TRUE(view->isFitMode());

    viewer->handleEscape();
    EXPECT_FALSE(viewer->peeking());
    EXPECT_FALSE(view->spacePeeking());
    ASSERT_TRUE(waitFor([&] { return host->geometry() == before; }, 3000));
    EXPECT_TRUE(viewer->filmstripShown());
}

TEST_F(ViewerControllerTest, AnEmptyFolderShowsTheEmptyStateAndAnEmptyStrip)
{
    QFile(path("notes.txt")).open(QIODevice::WriteOnly);
    viewer->open(dir.path());
    EXPECT_TRUE(viewer->emptyState()->isVisible());
    EXPECT_EQ(viewer->emptyHint(), Texts::text("ui.noImages"));
    // Centred for the hint it shows now, not the first one's width.
    EXPECT_LE(std::abs(viewer->emptyState()->geometry().center().x() - viewer->rect().center().x()), 1);
    EXPECT_FALSE(viewer->imageView()->hasImage());
    EXPECT_EQ(viewer->filmstrip()->count(), 0);
    viewer->filmstrip()->syncSelection(0);
    EXPECT_EQ(viewer->filmstrip()->selectedIndex(), -1);
    viewer->controller()->navigate(+1); // nothing to move to, nothing breaks
    EXPECT_TRUE(viewer->emptyState()->isVisible());

    // A folder that cannot be listed says why, not that it holds no photos:
    // here the "folder" of the path is a file.
    viewer->open(path("notes.txt") + QStringLiteral("/inside.jpg"));
    EXPECT_TRUE(viewer->emptyState()->isVisible());
    EXPECT_EQ(viewer->emptyHint(),
              Texts::format("ui.folderUnreadable", {QString::fromLocal8Bit(std::strerror(ENOTDIR))}));
    // One the person may not read (the superuser reads every folder).
    if (::geteuid() != 0) {
        const QString locked = path("locked");
        ASSERT_TRUE(QDir().mkdir(locked));
        QFile(locked).setPermissions(QFileDevice::Permissions());
        viewer->open(locked);
        EXPECT_EQ(viewer->emptyHint(),
                  Texts::format("ui.folderUnreadable", {QString::fromLocal8Bit(std::strerror(EACCES))}));
        QFile(locked).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    viewer->open(dir.path());
    EXPECT_EQ(viewer->emptyHint(), Texts::text("ui.noImages"));

    // A camera card's root offers its DCIM folder, and the offer opens it.
    EXPECT_FALSE(viewer->emptyState()->openBelowButton()->isVisible());
    const QString photos = path("DCIM/100CANON");
    ASSERT_TRUE(QDir().mkpath(photos));
    makeJpeg(photos, "IMG_0001.JPG", 64, 48);
    viewer->open(dir.path());
    QPushButton *below = viewer->emptyState()->openBelowButton();
    ASSERT_TRUE(waitFor([&] { return below->isVisible(); }));
    EXPECT_EQ(below->text(), Texts::format("ui.openFolderBelow", {QStringLiteral("DCIM/100CANON")}));
    below->click();
    ASSERT_TRUE(waitFor([&] { return viewer->currentPhotoPath() == photos + "/IMG_0001.JPG"; }));
    EXPECT_FALSE(viewer->emptyState()->isVisible());
}

// A drop opens the first local file among the addresses, this machine named
// as the host included; it is taken as a copy or a link, never as a move
// (which tells the program it came from to delete its own), and a drop of
// nothing local leaves what is shown alone.
TEST_F(ViewerControllerTest, DropsOpenLocalFilesAsCopiesAndLeaveTheRestAlone)
{
    copyInto(dir.path(), "formats/hopper.jpg", "a.jpg");
    QTemporaryDir other;
    copyInto(other.path(), "formats/hopper.jpg", "b.jpg");
    viewer->open(dir.path());
    ASSERT_TRUE(settle());
    const auto drop = [&](const QList<QUrl> &urls, Qt::DropActions offered) {
        QMimeData data;
        data.setUrls(urls);
        // As a drag arrives: entering decides whether the window takes it at all.
        QDragEnterEvent enter(QPoint(10, 10), offered, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(viewer, &enter);
        if (!enter.isAccepted())
            return std::optional<Qt::DropAction>();
        QDropEvent event(QPointF(10, 10), offered, &data, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(viewer, &event);
        return event.isAccepted() ? std::optional<Qt::DropAction>(event.dropAction()) : std::nullopt;
    };
    EXPECT_EQ(drop({QUrl("https://example.org/b.jpg"), QUrl("file://elsewhere.example" + other.filePath("b.jpg"))},
                   Qt::CopyAction),
              std::nullopt);
    EXPECT_EQ(drop({QUrl::fromLocalFile(other.filePath("b.jpg"))}, Qt::MoveAction), std::nullopt);
    EXPECT_EQ(viewer->controller()->folderModel().folderPath(), QDir(dir.path()).absolutePath());

    EXPECT_EQ(drop({QUrl("https://example.org/x.jpg"), QUrl("file://localhost" + other.filePath("b.jpg"))},
                   Qt::MoveAction | Qt::LinkAction),
              Qt::LinkAction);
    ASSERT_TRUE(waitFor([&] { return viewer->currentPhotoPath() == other.filePath("b.jpg"); }));
    EXPECT_EQ(drop({QUrl::fromLocalFile(dir.filePath("a.jpg"))}, Qt::CopyAction | Qt::MoveAction), Qt::CopyAction);
    EXPECT_TRUE(waitFor([&] { return viewer->currentPhotoPath() == dir.filePath("a.jpg"); }));
}

TEST_F(ViewerControllerTest, TrashingTheLastPhotoShowsNoMore)
{
    copyInto(dir.path(), "formats/hopper.jpg", "a.jpg");
    viewer->open(dir.path());
    ASSERT_TRUE(settle());
    viewer->controller()->currentPhotoTrashed(viewer->controller()->generation - 1); // stale: ignored
    EXPECT_EQ(viewer->controller()->folderModel().count(), 1);
    viewer->controller()->currentPhotoTrashed(viewer->controller()->generation);
    EXPECT_EQ(viewer->controller()->folderModel().count(), 0);
    EXPECT_EQ(viewer->emptyHint(), Texts::text("ui.noMore"));
    EXPECT_FALSE(viewer->imageView()->hasImage());
}

TEST_F(ViewerControllerTest, ATrashAnswerRemovesItsPhotoByPathEvenAfterPaging)
{
    for (const char *name : {"a.jpg", "b.jpg", "c.jpg"})
        copyInto(dir.path(), "formats/hopper.jpg", name);
    viewer->open(dir.path());
    ASSERT_TRUE(settle());
    ViewerViewController *c = viewer->controller();
    const QList<ImageItem> items = c->folderModel().items();
    const QString asked = *viewer->currentPhotoPath(); // the first goes to the Trash...
    ASSERT_EQ(asked, items[0].url);
    const int folder = c->folderGeneration;
    c->navigate(+1);                                   // ...while the person pages on
    ASSERT_TRUE(settle());
    c->photoTrashed(asked, folder);
    EXPECT_EQ(c->folderModel().count(), 2);
    EXPECT_FALSE(c->folderModel().position(asked));
    EXPECT_EQ(c->folderModel().current()->url, items[1].url);

    // The answer for the photo on screen shows the next one.
    c->photoTrashed(items[1].url, folder);
    ASSERT_TRUE(settle());
    EXPECT_EQ(*viewer->currentPhotoPath(), items[2].url);

    // An answer from a folder opened before is dropped.
    viewer->open(dir.path());
    ASSERT_TRUE(settle());
    c->photoTrashed(items[2].url, folder);
    EXPECT_EQ(c->folderModel().count(), 3);
}

// Other programs at work in the shown folder: an editor saving over the photo,
// a copy adding files, a file manager renaming and deleting. The folder's watch
// brings each change in by itself.
TEST_F(ViewerControllerTest, ChangesMadeByOtherProgramsReachTheStripAndTheShownPhoto)
{
    makeJpeg(dir.path(), "a.jpg", 100, 68);
    makeJpeg(dir.path(), "b.jpg", 100, 75);
    viewer->open(dir.path());
    ASSERT_TRUE(settle());
    ViewerViewController *c = viewer->controller();
    const auto currentIs = [c](const QString &url) { return c->folderModel().current() && c->folderModel().current()->url == url; };

    // Written over in place: the new pixels, not the cached old ones.
    makeJpeg(dir.path(), "a.jpg", 120, 90);
    ASSERT_TRUE(waitFor([this] { return viewer->imageView()->logicalSize() == QSizeF(120, 90); }));
    EXPECT_EQ(displays.back().url, path("a.jpg"));

    makeJpeg(dir.path(), "c.jpg", 50, 50);
    ASSERT_TRUE(waitFor([&] { return c->folderModel().count() == 3 && viewer->filmstrip()->count() == 3; }));
    EXPECT_TRUE(currentIs(path("a.jpg")));

    // Renamed: the same photo under its new name, in its place, not decoded again.
    ASSERT_TRUE(settle());
    const size_t shown = displays.size();
    ASSERT_TRUE(QFile::rename(path("a.jpg"), path("m.jpg")));
    ASSERT_TRUE(waitFor([&] { return currentIs(path("m.jpg")); }));
    EXPECT_EQ(c->folderModel().index(), 0);
    EXPECT_EQ(viewer->currentPhotoPath(), path("m.jpg"));
    EXPECT_EQ(displays.size(), shown);

    // Deleted: the next photo takes its place; all deleted: the empty state.
    ASSERT_TRUE(QFile::remove(path("m.jpg")));
    ASSERT_TRUE(waitFor([&] { return currentIs(path("b.jpg")) && viewer->currentPhotoPath() == path("b.jpg"); }));
    ASSERT_TRUE(QFile::remove(path("b.jpg")) && QFile::remove(path("c.jpg")));
    ASSERT_TRUE(waitFor([&] { return c->folderModel().count() == 0 && viewer->emptyState()->isVisible(); }));
    EXPECT_EQ(viewer->emptyHint(), Texts::text("ui.noMore"));
    EXPECT_FALSE(viewer->imageView()->hasImage());

    // A photo arriving in the empty folder is shown.
    makeJpeg(dir.path(), "d.jpg", 64, 48);
    ASSERT_TRUE(waitFor([&] { return viewer->currentPhotoPath() == path("d.jpg"); }));
    EXPECT_FALSE(viewer->emptyState()->isVisible());
    EXPECT_EQ(viewer->imageView()->logicalSize(), QSizeF(64, 48));
}

// The open folder removed: its photos go and the empty state says why. A folder
// made again in its place is found, shown and watched like the first.
TEST_F(ViewerControllerTest, AFolderRemovedAndMadeAgainIsFollowed)
{
    const QString folder = path("trip");
    ASSERT_TRUE(QDir().mkpath(folder));
    makeJpeg(folder, "a.jpg", 100, 68);
    makeJpeg(folder, "b.jpg", 100, 75);
    viewer->open(folder);
    ASSERT_TRUE(settle());
    ViewerViewController *c = viewer->controller();

    ASSERT_TRUE(QDir(folder).removeRecursively());
    ASSERT_TRUE(waitFor([&] { return c->folderModel().count() == 0 && viewer->emptyState()->isVisible(); }));
    EXPECT_EQ(viewer->emptyHint(), Texts::format("ui.folderGone", {QFileInfo(folder).fileName()}));
    EXPECT_EQ(viewer->filmstrip()->count(), 0);

    // Made again, empty at first: it is there and holds no photos.
    ASSERT_TRUE(QDir().mkpath(folder));
    EXPECT_TRUE(waitFor([&] { return viewer->emptyHint() == Texts::text("ui.noImages"); }, 10000))
        << qPrintable(viewer->emptyHint());
    // Then another photo under an old name.
    makeJpeg(folder, "a.jpg", 64, 48);
    ASSERT_TRUE(waitFor([&] { return viewer->currentPhotoPath() == folder + "/a.jpg"; }, 10000));
    ASSERT_TRUE(waitFor([&] { return viewer->imageView()->logicalSize() == QSizeF(64, 48); }));
    makeJpeg(folder, "c.jpg", 50, 50);
    EXPECT_TRUE(waitFor([&] { return c->folderModel().count() == 2 && viewer->filmstrip()->count() == 2; }));

    // A card taken out and put back: the folder above goes and comes back too,
    // and the folder renamed away afterwards is still seen to go.
    const QString card = path("card");
    const QString shots = card + "/100CANON";
    ASSERT_TRUE(QDir().mkpath(shots));
    makeJpeg(shots, "a.jpg", 100, 68);
    viewer->open(shots);
    ASSERT_TRUE(settle());
    ASSERT_TRUE(QDir(card).removeRecursively());
    ASSERT_TRUE(waitFor([&] { return c->folderModel().count() == 0; }));
    ASSERT_TRUE(QDir().mkpath(shots));
    makeJpeg(shots, "a.jpg", 100, 68);
    ASSERT_TRUE(waitFor([&] { return viewer->currentPhotoPath() == shots + "/a.jpg"; }, 10000));
    ASSERT_TRUE(QDir().rename(shots, card + "/100CANON_x"));
    EXPECT_TRUE(waitFor([&] { return c->folderModel().count() == 0 && viewer->emptyState()->isVisible(); }, 10000));
}

// Renamed away, the folder tells its own watch nothing; the folder above sees
// it go. Renamed back, it is shown again.
TEST_F(ViewerControllerTest, AFolderRenamedAwayIsSeen)
{
    const QString folder = path("trip");
    ASSERT_TRUE(QDir().mkpath(folder));
    makeJpeg(folder, "a.jpg", 100, 68);
    viewer->open(folder);
    ASSERT_TRUE(settle());
    ViewerViewController *c = viewer->controller();

    ASSERT_TRUE(QDir().rename(folder, path("trip-away")));
    ASSERT_TRUE(waitFor([&] { return c->folderModel().count() == 0 && viewer->emptyState()->isVisible(); }));
    EXPECT_EQ(viewer->emptyHint(), Texts::format("ui.folderGone", {QFileInfo(folder).fileName()}));

    ASSERT_TRUE(QDir().rename(path("trip-away"), folder));
    EXPECT_TRUE(waitFor([&] { return viewer->currentPhotoPath() == folder + "/a.jpg"; }, 10000));
}

// A listing made before a photo went to the Trash here still holds it: it must
// not bring the photo back into the strip.
TEST_F(ViewerControllerTest, AListingOlderThanATrashDoesNotBringThePhotoBack)
{
    for (const char *name : {"a.jpg", "b.jpg", "c.jpg"})
        makeJpeg(dir.path(), name, 40, 30);
    viewer->open(dir.path());
    ASSERT_TRUE(settle());
    ViewerViewController *c = viewer->controller();
    c->refreshFolder();
    // The listing is made meanwhile; its answer waits for the event loop.
    QThread::msleep(500);
    QDir(dir.path()).mkpath("elsewhere");
    ASSERT_TRUE(QFile::rename(path("b.jpg"), path("elsewhere/b.jpg")));
    c->photoTrashed(path("b.jpg"), c->folderGeneration);
    ASSERT_EQ(c->folderModel().count(), 2);
    ASSERT_TRUE(waitFor([c] { return !c->isRefreshing(); }));
    EXPECT_EQ(c->folderModel().count(), 2);
    EXPECT_FALSE(c->folderModel().position(path("b.jpg")));
}

TEST_F(ViewerControllerTest, TheCleanupHintAppearsOnceForABigFolderAndOnlyWhenTheReviewExists)
{
    Settings::setCleanupHintShown(false);
    for (int i = 0; i < 50; ++i)
        copyInto(dir.path(), "formats/hopper.jpg", QStringLiteral("h%1.jpg").arg(i, 2, 10, QLatin1Char('0')));
    // Without the review screen the hint would advertise a key that does nothing.
    viewer->open(dir.path());
    spin(1600);
    EXPECT_FALSE(viewer->isFlashing());
    EXPECT_FALSE(Settings::cleanupHintShown());

    viewer->cleanupAvailable = [] { return true; };
    viewer->open(dir.path());
    EXPECT_TRUE(Settings::cleanupHintShown());
    ASSERT_TRUE(waitFor([&] { return viewer->isFlashing(); }, 3000));
    EXPECT_EQ(viewer->hudMessage(), Texts::text("cleanup.tip"));

    viewer->flash(QStringLiteral("x"), 0.05);
    ASSERT_TRUE(waitFor([&] { return !viewer->isFlashing(); }, 2000));
    viewer->open(dir.path());
    spin(1600);
    EXPECT_FALSE(viewer->isFlashing());
}

TEST_F(ViewerControllerTest, ASecondMessageReplacesTheFirstAndKeepsItsOwnDuration)
{
    viewer->flash(QStringLiteral("first"), 0.6);
    EXPECT_TRUE(viewer->hudVisible());
    spin(400);
    viewer->flash(QStringLiteral("second"), 0.6);
    spin(350); // the first message's time is over, the second's is not
    EXPECT_TRUE(viewer->isFlashing());
    EXPECT_EQ(viewer->hudMessage(), QStringLiteral("second"));
    viewer->hideHudUnlessFlashing();
    EXPECT_TRUE(viewer->hudVisible());
    ASSERT_TRUE(waitFor([&] { return !viewer->isFlashing(); }, 3000));
    EXPECT_FALSE(viewer->hudVisible());
}

TEST_F(ViewerControllerTest, CommandsFlashTheirConfirmations)
{
    router.dispatch(CommandId::toggleEscCloses);
    EXPECT_TRUE(Settings::escCloses());
    EXPECT_EQ(viewer->hudMessage(), Texts::text("msg.escClosesOn"));
    router.dispatch(CommandId::setWheelAction, 1);
    EXPECT_TRUE(Settings::wheelNavigates());
    EXPECT_EQ(viewer->hudMessage(), Texts::text("wheel.navigate.on"));
    router.dispatch(CommandId::setWheelAction, 0);
    EXPECT_EQ(viewer->hudMessage(), Texts::text("wheel.zoom.on"));
    router.dispatch(CommandId::toggleWheelZoomInverted);
    EXPECT_EQ(viewer->hudMessage(), Texts::text("wheel.inverted.on"));
    EXPECT_TRUE(router.state(CommandId::toggleWheelZoomInverted).checked);
    // Commands the page built here has no handler for (the app shell wires them): disabled.
    EXPECT_FALSE(router.state(CommandId::toggleCleanup).enabled);
    EXPECT_FALSE(router.dispatch(CommandId::trashCurrent));
}

TEST_F(ViewerControllerTest, StaleThumbnailsNeverLandInReusedCells)
{
    // 600 photos in two looks: even positions hopper, odd a made-up 100 x 68 JPEG.
    for (int i = 0; i < 600; ++i) {
        const QString name = QStringLiteral("f%1.jpg").arg(i, 3, 10, QLatin1Char('0'));
        if (i % 2)
            makeJpeg(dir.path(), name, 100, 68);
        else
            copyInto(dir.path(), "formats/hopper.jpg", name);
    }
    viewer->open(dir.path());
    FilmstripView *strip = viewer->filmstrip();
    // Scroll fast: each jump repaints and reuses the cells before their thumbnails arrive.
    for (int position : {100, 300, 50, 520, 250}) {
        strip->scrollTo(position);
        strip->viewport()->repaint();
    }
    ASSERT_TRUE(waitFor([&] { return viewer->controller()->thumbQueue.activeThreadCount() == 0 && viewer->controller()->decodeQueue.activeThreadCount() == 0; }));
    spin(200);
    strip->viewport()->repaint();
    spin(200);
    const auto [first, last] = strip->visibleRange();
    ASSERT_LE(first, 250);
    ASSERT_GE(last, 250);
    int checked = 0;
    for (int position = first; position <= last; ++position) {
        FilmstripItem *cell = strip->cellFor(position);
        ASSERT_NE(cell, nullptr);
        if (cell->image().isNull())
            continue;
        const QSize expected = position % 2 ? QSize(100, 68) : QSize(128, 128);
        EXPECT_EQ(cell->image().size(), expected) << position;
        ++checked;
    }
    EXPECT_GT(checked, 0);
    // Only cells that were in view asked for thumbnails.
    const QString far = viewer->controller()->folderModel().items().at(400).url;
    EXPECT_TRUE(loader.cachedThumbnail(far).isNull());

    // scroll-to out of range changes nothing.
    const QRect before = strip->cellRect(0);
    strip->scrollTo(-1);
    strip->scrollTo(600);
    EXPECT_EQ(strip->cellRect(0), before);
}

// Writes a photo of a given size; its thumbnail (at most 128 px) then tells
// which file it came from. Large photos get noise so their decode takes a while.
QString writePhoto(const QString &dir, const QString &name, QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(90, 120, 150));
    if (size.width() > 1000) {
        quint32 seed = 12345;
        for (int y = 0; y < size.height(); ++y) {
            auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
            for (int x = 0; x < size.width(); ++x) {
                seed = seed * 1664525u + 1013904223u;
                row[x] = qRgb(seed >> 24, (seed >> 16) & 0xFF, (seed >> 8) & 0xFF);
            }
        }
    }
    const QString target = QDir(dir).filePath(name);
    image.save(target, "JPEG", 95);
    return target;
}

// Every cell in view shows the thumbnail of the file now at its position.
void expectCellsMatchTheirFiles(ViewerPage *viewer, const QHash<QString, QSize> &sizes)
{
    FilmstripView *strip = viewer->filmstrip();
    strip->viewport()->repaint();
    const auto [first, last] = strip->visibleRange();
    int checked = 0;
    for (int position = first; position <= last; ++position) {
        FilmstripItem *cell = strip->cellFor(position);
        ASSERT_NE(cell, nullptr);
        const QString url = viewer->controller()->folderModel().items().at(position).url;
        ASSERT_TRUE(waitFor([&] { return !cell->image().isNull(); })) << qPrintable(url);
        QSize expected = sizes.value(url);
        if (expected.width() > 128 || expected.height() > 128)
            expected = expected.scaled(128, 128, Qt::KeepAspectRatio);
        EXPECT_EQ(cell->image().size(), expected) << position << " " << qPrintable(url);
        ++checked;
    }
    EXPECT_GT(checked, 5);
}

TEST_F(ViewerControllerTest, LateThumbnailsLandInTheCellOfTheirFileAfterAResortOrAFolderSwitch)
{
    // The first photo by name is slow to thumbnail: its result arrives after the
    // re-sort has given its cell to another photo.
    QHash<QString, QSize> sizes;
    sizes.insert(writePhoto(dir.path(), "a-large.jpg", {3000, 2000}), {3000, 2000});
    for (int i = 0; i < 14; ++i) {
        const QSize size(40 + 3 * i, 30 + i);
        sizes.insert(writePhoto(dir.path(), QStringLiteral("b%1.jpg").arg(i, 2, 10, QLatin1Char('0')), size), size);
    }
    viewer->open(dir.path());
    viewer->controller()->toggleSortReversed();
    ASSERT_TRUE(settle());
    EXPECT_EQ(viewer->controller()->folderModel().items().front().url, path("b13.jpg"));
    expectCellsMatchTheirFiles(viewer, sizes);

    // Another folder opened while the first one's thumbnails are still on their way.
    Settings::setSortReversed(false);
    loader.handleMemoryPressure();
    QTemporaryDir other;
    for (int i = 0; i < 14; ++i) {
        const QSize size(100 - 2 * i, 20 + 2 * i);
        sizes.insert(writePhoto(other.path(), QStringLiteral("c%1.jpg").arg(i, 2, 10, QLatin1Char('0')), size), size);
    }
    viewer->open(dir.path());
    viewer->filmstrip()->viewport()->repaint();
    viewer->open(other.path());
    ASSERT_TRUE(settle());
    expectCellsMatchTheirFiles(viewer, sizes);
}

TEST_F(ViewerControllerTest, OpeningAnotherFolderStopsTheOldFoldersWarmUp)
{
    QStringList urls;
    for (int i = 0; i < 120; ++i)
        urls << copyInto(dir.path(), i % 2 ? "formats/progressive.jpg" : "formats/hopper.jpg",
                         QStringLiteral("w%1.jpg").arg(i, 3, 10, QLatin1Char('0')));
    viewer->open(dir.path());
    ASSERT_TRUE(settle());
    QTemporaryDir empty;
    viewer->open(empty.path());
    const auto warmed = [&] {
        return std::count_if(urls.begin(), urls.end(), [&](const QString &url) {
            return !loader.cachedThumbnail(url).isNull();
        });
    };
    spin(200); // a thumbnail already under way may still finish
    const auto before = warmed();
    spin(800); // the warm-up takes a photo every 30 ms while it runs
    EXPECT_EQ(warmed(), before);
    EXPECT_LT(before, 100);
}

TEST_F(ViewerControllerTest, APhotoThatCannotBeDecodedShowsWhyInItsPlaceNotThePreviousPhoto)
{
    copyInto(dir.path(), "formats/hopper.jpg", "a.jpg");
    QFile broken(path("b.jpg"));
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
    broken.write("not a jpeg at all, only a name that says so");
    broken.close();
    makeJpeg(dir.path(), "c.jpg", 100, 68);
    viewer->open(dir.path());
    ASSERT_TRUE(settle());
    EXPECT_EQ(viewer->currentPhotoPath(), path("a.jpg"));

    viewer->controller()->navigate(+1);
    // Until the decode has answered, no command may act on a photo: the one on
    // screen is not the one the filmstrip names.
    EXPECT_EQ(viewer->currentPhotoPath(), std::nullopt);
    ASSERT_TRUE(waitFor([&] { return !viewer->failureMessage().isEmpty(); }));
    EXPECT_TRUE(viewer->failureMessage().startsWith(Texts::text("ui.cannotShow")));
    // The name, then what is wrong with the file (never the name warning: it is a good name).
    EXPECT_EQ(viewer->failureMessage().split(QLatin1Char('\n')),
              QStringList({Texts::text("ui.cannotShow"), QStringLiteral("b.jpg"), Texts::text("ui.whyNotAnImage")}));
    EXPECT_FALSE(viewer->imageView()->hasImage());
    EXPECT_EQ(viewer->controller()->photoState(), ViewerViewController::PhotoState::failed);
    EXPECT_EQ(viewer->currentPhotoPath(), path("b.jpg"));
    EXPECT_EQ(viewer->filmstrip()->selectedIndex(), 1);

    // The next photo replaces the message.
    viewer->controller()->navigate(+1);
    ASSERT_TRUE(settle());
    EXPECT_TRUE(viewer->failureMessage().isEmpty());
    EXPECT_EQ(viewer->imageView()->logicalSize(), QSizeF(100, 68));
    EXPECT_EQ(viewer->currentPhotoPath(), path("c.jpg"));

    // A name whose bytes are not UTF-8 cannot be opened under the name it is
    // listed with; the message says what the person can do.
    const QByteArray latin1 = QFile::encodeName(dir.path()) + "/caf\xe9.jpg";
    FILE *out = std::fopen(latin1.constData(), "wb");
    ASSERT_TRUE(out);
    std::fclose(out);
    viewer->open(QFile::decodeName(latin1));
    ASSERT_TRUE(waitFor([&] { return !viewer->failureMessage().isEmpty(); }));
    EXPECT_TRUE(viewer->failureMessage().endsWith(Texts::text("ui.unreadableName"))) << qPrintable(viewer->failureMessage());
}

} // namespace
