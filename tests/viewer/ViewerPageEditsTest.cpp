// Ratings and the rotation save as the viewer page runs them, on real files
// (raster renderer, offscreen platform).
#include "ViewerPageFixture.h"

#include "commands/CommandRouter.h"
#include "fileops/XmpRating.h"
#include "library/FilmstripView.h"
#include "settings/Settings.h"
#include "settings/Texts.h"
#include "viewer/RatingBadge.h"
#include "viewer/ViewerPage.h"
#include "viewer/ViewerPageEdits.h"
#include "viewer/ViewerViewController.h"
#include "viewer/ZoomableImageView.h"

#include <QImageReader>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>

namespace {

QString orientation(const QString &file)
{
    QProcess p;
    p.start(QStringLiteral("exiv2"), {"-q", "-Pv", "-g", "Exif.Image.Orientation", file});
    p.waitForFinished(10000);
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

class ViewerPageEditsTest : public ViewerPageFixture
{
protected:
    void beforePage() override { Settings::setRatingBadgeShown(true); }


    PhotoEdits &edits() { return viewer->edits()->edits; }
    const CommandHandler *handler(CommandId id) { return viewer->commands.find(id); }
    QString current() { return viewer->controller()->folderModel().current()->url; }

    bool shown()
    {
        return waitFor([this] { return viewer->currentPhotoPath().has_value(); }, 20000);
    }

};

TEST_F(ViewerPageEditsTest, RatingReachesTheFilesTheBadgeAndTheMenuTicks)
{
    // a.jpg and a.png are one photo in two files; b.jpg stands alone.
    makeJpeg(dir.path(), QStringLiteral("a.jpg"), 320, 200);
    QImage(40, 30, QImage::Format_RGB32).save(path(QStringLiteral("a.png")));
    makeJpeg(dir.path(), QStringLiteral("b.jpg"), 320, 200);
    viewer->open(path(QStringLiteral("a.jpg")));
    ASSERT_TRUE(shown());

    const CommandHandler *rating = handler(CommandId::setRatingMenu);
    ASSERT_TRUE(rating && rating->run && rating->state);
    EXPECT_TRUE(rating->state(0).checked) << "an unrated photo ticks \"no rating\"";
    EXPECT_FALSE(viewer->edits()->badge()->isVisible());

    rating->run(4);
    // The cache goes first: the badge and the ticks change before the write ends.
    EXPECT_EQ(viewer->currentRating(), 4);
    EXPECT_TRUE(viewer->edits()->badge()->isVisible());
    EXPECT_EQ(viewer->edits()->badge()->stars(), QString(4, QChar(0x2605)));
    EXPECT_TRUE(rating->state(4).checked);
    EXPECT_FALSE(rating->state(3).checked);
    EXPECT_TRUE(rating->state(4).enabled);
    edits().waitForIdle();
    EXPECT_EQ(XmpRating::readRating(path(QStringLiteral("a.jpg"))), 4);
    EXPECT_EQ(XmpRating::readRating(path(QStringLiteral("a.png"))), 4) << "the pair is rated together";
    EXPECT_EQ(XmpRating::readRating(path(QStringLiteral("b.jpg"))), 0);
    // The rewrite is our own: the folder's watch does not show the photo again.
    int displays = 0;
    viewer->controller()->onDisplayed = [&displays](bool) { ++displays; };
    viewer->controller()->refreshFolder();
    ASSERT_TRUE(waitFor([this] { return !viewer->controller()->isRefreshing(); }));
    EXPECT_NE(viewer->controller()->photoState(), ViewerViewController::PhotoState::pending);
    EXPECT_EQ(displays, 0);
    EXPECT_EQ(viewer->currentRating(), 4);
    viewer->controller()->onDisplayed = nullptr;

    // Another photo: its own (absent) rating; back again: the cached one.
    viewer->controller()->goTo(*viewer->controller()->folderModel().position(path(QStringLiteral("b.jpg"))));
    ASSERT_TRUE(shown());
    edits().waitForIdle();
    EXPECT_EQ(viewer->currentRating(), 0);
    EXPECT_FALSE(viewer->edits()->badge()->isVisible());
    viewer->controller()->goTo(0);
    ASSERT_TRUE(shown());
    EXPECT_EQ(viewer->currentRating(), 4);

    // The badge preference switched off hides it; clearing the rating empties the file's.
    Settings::setRatingBadgeShown(false);
    SettingsNotifier::instance().postSettingsDidChange(QStringLiteral("rating"));
    EXPECT_FALSE(viewer->edits()->badge()->isVisible());
    Settings::setRatingBadgeShown(true);
    SettingsNotifier::instance().postSettingsDidChange(QStringLiteral("rating"));
    EXPECT_TRUE(viewer->edits()->badge()->isVisible());
    rating->run(0);
    edits().waitForIdle();
    EXPECT_EQ(XmpRating::readRating(path(QStringLiteral("a.jpg"))), 0);
    EXPECT_TRUE(rating->state(0).checked);
}

// A video opened directly beside the photo of its name (a Live Photo's
// IMG.MOV beside IMG.HEIC): neither shows nor changes the photo's rating.
TEST_F(ViewerPageEditsTest, OnlyPhotosThatCanBeReachedByNameAreRated)
{
    makeJpeg(dir.path(), QStringLiteral("IMG.jpg"), 320, 200);
    ASSERT_TRUE(writeFile(QStringLiteral("IMG.MOV"), QByteArray(4096, '\0')));
    ASSERT_FALSE(XmpRating::writeRating(4, path(QStringLiteral("IMG.jpg"))));
    viewer->open(path(QStringLiteral("IMG.MOV")));
    ASSERT_TRUE(waitFor([&] { return viewer->controller()->folderModel().count() == 2; }));
    edits().waitForIdle();
    EXPECT_EQ(viewer->currentRating(), 0);
    handler(CommandId::setRatingMenu)->run(1);
    edits().waitForIdle();
    EXPECT_EQ(viewer->hudMessage(), Texts::format("msg.notAPhoto", {QStringLiteral("IMG.MOV")}));
    EXPECT_EQ(XmpRating::readRating(path(QStringLiteral("IMG.jpg"))), 4);
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("IMG.MOV.xmp"))));

    // A name that is not valid text here cannot be reached under its name:
    // the message says so, not that the file is gone or was changed.
    const QByteArray raw = QFile::encodeName(dir.path()) + "/caf\xe9.jpg";
    ASSERT_TRUE(QFile::copy(path(QStringLiteral("IMG.jpg")), path(QStringLiteral("cafe.jpg"))));
    ASSERT_EQ(::rename(QFile::encodeName(path(QStringLiteral("cafe.jpg"))).constData(), raw.constData()), 0);
    viewer->open(dir.path());
    const std::optional<int> at = viewer->controller()->folderModel().position(path(QStringLiteral("caf\uFFFD.jpg")));
    ASSERT_TRUE(at);
    viewer->controller()->goTo(*at);
    handler(CommandId::setRatingMenu)->run(2);
    EXPECT_EQ(viewer->hudMessage(), Texts::format("msg.nameNotText", {QStringLiteral("caf\uFFFD.jpg")}));
}

// Another program puts another photo under the shown name (a folder swapped,
// an editor saving) and a key arrives before the watch reports it: nothing is
// done to a file the person has not seen, and the new one is shown.
TEST_F(ViewerPageEditsTest, AFileReplacedBehindTheViewIsNotActedOn)
{
    makeJpeg(dir.path(), QStringLiteral("a.jpg"), 320, 200);
    viewer->open(path(QStringLiteral("a.jpg")));
    ASSERT_TRUE(shown());
    QTemporaryDir elsewhere;
    makeJpeg(elsewhere.path(), QStringLiteral("a.jpg"), 64, 48);
    ASSERT_EQ(::rename(QFile::encodeName(elsewhere.filePath(QStringLiteral("a.jpg"))).constData(),
                       QFile::encodeName(path(QStringLiteral("a.jpg"))).constData()),
              0);

    handler(CommandId::setRatingMenu)->run(5);
    EXPECT_EQ(viewer->hudMessage(), Texts::format("msg.changedOnDisk", {QStringLiteral("a.jpg")}));
    edits().waitForIdle();
    EXPECT_EQ(XmpRating::readRating(path(QStringLiteral("a.jpg"))), 0);
    ASSERT_TRUE(waitFor([&] { return viewer->imageView()->logicalSize() == QSizeF(64, 48); }));

    // Once shown, it is the one acted on.
    handler(CommandId::setRatingMenu)->run(5);
    edits().waitForIdle();
    EXPECT_EQ(XmpRating::readRating(path(QStringLiteral("a.jpg"))), 5);
    // Our own rewrite is no change made elsewhere: a second key at once is taken.
    handler(CommandId::setRatingMenu)->run(3);
    handler(CommandId::setRatingMenu)->run(2);
    edits().waitForIdle();
    EXPECT_EQ(XmpRating::readRating(path(QStringLiteral("a.jpg"))), 2);
}

TEST_F(ViewerPageEditsTest, ARatingReadFromTheFileShowsWhenThePhotoIsShown)
{
    makeJpeg(dir.path(), QStringLiteral("rated.jpg"), 320, 200);
    makeJpeg(dir.path(), QStringLiteral("other.jpg"), 320, 200);
    ASSERT_FALSE(XmpRating::writeRating(2, path(QStringLiteral("rated.jpg"))).has_value());
    viewer->open(path(QStringLiteral("rated.jpg")));
    ASSERT_TRUE(shown());
    // The photo area holds the keyboard; a screen reader says its name.
    EXPECT_EQ(viewer->imageView()->accessibleName(),
              Texts::format("a11y.photo", {QStringLiteral("rated.jpg"), QStringLiteral("2"), QStringLiteral("2")}));
    ASSERT_TRUE(waitFor([this] { return viewer->currentRating() == 2; }, 10000));
    EXPECT_TRUE(viewer->edits()->badge()->isVisible());
    EXPECT_TRUE(handler(CommandId::setRatingMenu)->state(2).checked);
}

TEST_F(ViewerPageEditsTest, SavedTurnGoesIntoTheFileAndThePhotoIsShownAfresh)
{
    const QString photo = makeJpeg(dir.path(), QStringLiteral("turn.jpg"), 320, 200);
    QImageReader before(photo);
    before.setAutoTransform(false);
    const QImage pixels = before.read();
    viewer->open(photo);
    ASSERT_TRUE(shown());
    const auto stripImage = [this]() -> QImage {
        const FilmstripItem *cell = viewer->filmstrip()->cellFor(0);
        return cell ? cell->image() : QImage();
    };
    ASSERT_TRUE(waitFor([&] { return !stripImage().isNull(); }, 10000));
    const QImage stripBefore = stripImage();

    const CommandHandler *save = handler(CommandId::saveRotation);
    ASSERT_TRUE(save && save->run);
    EXPECT_TRUE(save->state(0).enabled);
    handler(CommandId::rotateCW)->run(0);
    ASSERT_TRUE(waitFor([this] { return !viewer->imageView()->animationActive(); }, 5000));
    EXPECT_EQ(viewer->imageView()->quarterTurns(), 1);
    save->run(0);
    EXPECT_TRUE(edits().isProcessing());
    edits().waitForIdle();
    EXPECT_FALSE(edits().isProcessing());
    EXPECT_EQ(orientation(photo), QStringLiteral("6"));
    // Reloaded from disk: the turn now comes from the file, none is pending.
    ASSERT_TRUE(waitFor([this] { return viewer->imageView()->quarterTurns() == 0 && viewer->currentPhotoPath(); }, 10000));
    QImageReader after(photo);
    after.setAutoTransform(false);
    EXPECT_TRUE(after.read() == pixels);
    // The strip shows the photo turned too.
    EXPECT_TRUE(waitFor([&] { return !stripImage().isNull() && stripImage() != stripBefore; }, 10000));

    // Nothing pending any more: a second save says so and changes nothing.
    save->run(0);
    edits().waitForIdle();
    EXPECT_EQ(orientation(photo), QStringLiteral("6"));
}

TEST_F(ViewerPageEditsTest, OpeningAFolderRemovesOnlyOurLeftoverTemporaries)
{
    makeJpeg(dir.path(), QStringLiteral("photo.jpg"), 320, 200);
    const QString leftover = path(QStringLiteral(".glanto-rating-0123abcd-4567-89ab-cdef-0123456789ab.jpg"));
    const QString foreign = path(QStringLiteral(".glanto-notes.txt"));
    // A conversion cut short leaves its half-written file in Converted-png.
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("Converted-png")));
    const QString converting = path(QStringLiteral("Converted-png/.glanto-convert-0123abcd-4567-89ab-cdef-0123456789ab.png"));
    for (const QString &name : {leftover, foreign, converting})
        ASSERT_TRUE(writeFile(name, "x"));
    const int generation = edits().generation;
    viewer->open(dir.path());
    EXPECT_EQ(edits().generation, generation + 1);
    EXPECT_FALSE(QFile::exists(leftover));
    EXPECT_FALSE(QFile::exists(converting));
    EXPECT_TRUE(QFile::exists(foreign));
    ASSERT_TRUE(shown());
}

TEST_F(ViewerPageEditsTest, WithoutAPhotoTheCommandsDoNothing)
{
    viewer->open(dir.path()); // empty folder
    handler(CommandId::setRatingMenu)->run(5);
    handler(CommandId::saveRotation)->run(0);
    edits().waitForIdle();
    EXPECT_FALSE(handler(CommandId::setRatingMenu)->state(5).enabled);
    EXPECT_FALSE(handler(CommandId::setRatingMenu)->state(5).checked);
    EXPECT_FALSE(viewer->edits()->badge()->isVisible());
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

} // namespace
