// The viewer's front to ratings and rotation saves: the messages and their
// durations, the cache shown before the write, failures that drop the cache
// entry, a rename that overtakes a queued rating, a rating racing a rotation,
// and the reload that only touches the photo still on screen.

#include "fileops/PhotoEdits.h"
#include "fileops/RotationSave.h"
#include "fileops/SafeFile.h"
#include "fileops/XmpRating.h"
#include "settings/Texts.h"

#include "FileOpsTestSupport.h"
#include "TestApplication.h"

#include <QFile>
#include <QSemaphore>

#include <thread>
#include <utility>
#include <vector>

namespace {

class PhotoEditsTest : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    std::vector<std::pair<QString, double>> flashes;
    QStringList replaced;
    QStringList ratingChanges;
    int reloads = 0;
    QString current;

    void SetUp() override { testApplication(); }
    void TearDown() override { SafeFile::setStepHook({}); }

    void wire(PhotoEdits &edits)
    {
        edits.onFlash = [this](const QString &text, double seconds) { flashes.emplace_back(text, seconds); };
        edits.onFileReplaced = [this](const QString &url) { replaced.append(url); };
        edits.onRatingChanged = [this](const QString &url) { ratingChanges.append(url); };
        edits.isCurrent = [this](const QString &url) { return url == current; };
        edits.reloadCurrent = [this] { ++reloads; };
    }

    QString jpeg(const QString &name)
    {
        const QString path = dir.filePath(name);
        EXPECT_TRUE(Codec::encode(patternImage(64, 48), path, ImageFormat::jpeg, 90));
        return path;
    }

    // Holds the serial rating queue until release() so that later work waits.
    struct QueueBlock
    {
        QSemaphore started, release;
        explicit QueueBlock(QThreadPool &queue)
        {
            queue.start([this] {
                started.release();
                release.acquire();
            });
            started.acquire();
        }
    };
};

} // namespace

TEST_F(PhotoEditsTest, RatingShowsAtOnceThenWritesTheFile)
{
    PhotoEdits edits;
    wire(edits);
    const QString photo = jpeg(QStringLiteral("a.jpg"));
    edits.setRating(photo, 3);
    EXPECT_EQ(edits.badgeRating(photo), 3);
    ASSERT_EQ(flashes.size(), 1u);
    EXPECT_EQ(flashes[0], std::make_pair(QStringLiteral("★★★☆☆"), 1.2));
    edits.waitForIdle();
    EXPECT_EQ(XmpRating::readRating(photo), 3);
    EXPECT_EQ(flashes.size(), 1u);
    edits.setRating(photo, 0);
    EXPECT_EQ(flashes.back(), std::make_pair(Texts::text("rating.cleared"), 1.2));
    edits.waitForIdle();
    EXPECT_EQ(XmpRating::readRating(photo), 0);
}

TEST_F(PhotoEditsTest, TargetsAreTheSameNameInTheSameFolder)
{
    const QStringList folder{QStringLiteral("/p/IMG_1.CR2"), QStringLiteral("/p/IMG_1.jpg"), QStringLiteral("/p/IMG_10.jpg"),
                             QStringLiteral("/p/img_1.jpg"), QStringLiteral("/q/IMG_1.jpg")};
    EXPECT_EQ(PhotoEdits::ratingTargets(QStringLiteral("/p/IMG_1.jpg"), folder),
              (QStringList{QStringLiteral("/p/IMG_1.jpg"), QStringLiteral("/p/IMG_1.CR2")}));
    // A video or note opened directly is no target, nor does it take a photo's
    // rating: both would write the sidecar of the photo of its name.
    const QStringList live{QStringLiteral("/p/IMG_2.HEIC"), QStringLiteral("/p/IMG_2.MOV"), QStringLiteral("/p/IMG_2.xmp")};
    EXPECT_EQ(PhotoEdits::ratingTargets(QStringLiteral("/p/IMG_2.HEIC"), live), QStringList{QStringLiteral("/p/IMG_2.HEIC")});
    EXPECT_TRUE(PhotoEdits::ratingTargets(QStringLiteral("/p/IMG_2.MOV"), live).isEmpty());
    EXPECT_TRUE(PhotoEdits::ratingTargets(QStringLiteral("/p/IMG_2.xmp"), live).isEmpty());
}

TEST_F(PhotoEditsTest, ARenameBeforeTheQueuedRatingMakesItFailVisibly)
{
    PhotoEdits edits;
    wire(edits);
    const QString photo = jpeg(QStringLiteral("old.jpg"));
    const QString renamed = dir.filePath(QStringLiteral("new.jpg"));
    const QByteArray original = bytesOf(photo);
    {
        QueueBlock block(edits.ratingQueue);
        edits.setRating(photo, 4);
        ASSERT_FALSE(SafeFile::moveNoReplace(photo, renamed));
        block.release.release();
        edits.waitForIdle();
    }
    EXPECT_EQ(bytesOf(renamed), original);
    EXPECT_EQ(folderNames(dir.path()), QStringList{QStringLiteral("new.jpg")}); // no orphan old.xmp
    ASSERT_EQ(flashes.size(), 2u);
    EXPECT_EQ(flashes[1].second, 4.0);
    EXPECT_TRUE(flashes[1].first.startsWith(Texts::format("rating.failed", {QStringLiteral("old.jpg")})))
        << flashes[1].first.toStdString();
    EXPECT_TRUE(flashes[1].first.contains(Texts::text("msg.errFileGone")));
    EXPECT_FALSE(edits.cachedRating(photo));
}

// The message names each file that kept its old rating with the reason, in
// the punctuation of the person's language.
TEST_F(PhotoEditsTest, FilesThatFailedAreListedInThePersonsLanguage)
{
    for (const QString &language : {QStringLiteral("en"), QStringLiteral("zh")}) {
        Texts::setLanguage(language);
        PhotoEdits edits;
        wire(edits);
        flashes.clear();
        const QString jpg = jpeg(QStringLiteral("pair.jpg"));
        const QString png = dir.filePath(QStringLiteral("pair.png"));
        ASSERT_TRUE(Codec::encode(patternImage(64, 48), png, ImageFormat::png, 90));
        {
            QueueBlock block(edits.ratingQueue);
            edits.setRating(QStringList{jpg, png}, 3);
            ASSERT_TRUE(QFile::remove(jpg));
            ASSERT_TRUE(QFile::remove(png));
            block.release.release();
            edits.waitForIdle();
        }
        ASSERT_EQ(flashes.size(), 2u);
        const QString gone = Texts::text("msg.errFileGone");
        const QString expected = language == QLatin1String("en")
            ? QStringLiteral("Could not save the rating: pair.jpg (%1), pair.png (%1)").arg(gone)
            : QStringLiteral("评分没能写入：pair.jpg（%1）、pair.png（%1）").arg(gone);
        EXPECT_EQ(flashes[1].first, expected);
        EXPECT_FALSE(edits.cachedRating(jpg));
        EXPECT_FALSE(edits.cachedRating(png));
    }
    Texts::setLanguage({});
}

TEST_F(PhotoEditsTest, AReadStartedBeforeARatingDoesNotOverwriteIt)
{
    PhotoEdits edits;
    wire(edits);
    const QString photo = jpeg(QStringLiteral("r.jpg"));
    ASSERT_FALSE(XmpRating::writeRating(2, photo));
    {
        QueueBlock block(edits.ratingQueue);
        edits.loadRating(photo);
        edits.setRating(photo, 5);
        block.release.release();
        edits.waitForIdle();
    }
    EXPECT_EQ(edits.cachedRating(photo), 5);
    EXPECT_EQ(XmpRating::readRating(photo), 5);
    edits.loadRating(dir.filePath(QStringLiteral("r.jpg")));
    EXPECT_EQ(edits.cachedRating(photo), 5);
}

TEST_F(PhotoEditsTest, ARotationAndARatingRacingOnOneFileBothLand)
{
    // The writers pause a little inside every write so that the two overlap.
    SafeFile::setStepHook([](std::string_view) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return true;
    });
    for (int round = 0; round < 4; ++round) {
        PhotoEdits edits;
        wire(edits);
        const QString photo = jpeg(QStringLiteral("race%1.jpg").arg(round));
        const QImage before = shown(photo);
        current = photo;
        edits.saveRotation(photo, 1);
        edits.setRating(photo, 5);
        edits.waitForIdle();
        edits.waitForIdle();
        EXPECT_EQ(XmpRating::readRating(photo), 5);
        EXPECT_EQ(RotationSave::fileOrientation(photo), 6);
        EXPECT_EQ(shown(photo), turnedClockwise(before, 1));
        EXPECT_FALSE(edits.isProcessing());
    }
}

TEST_F(PhotoEditsTest, RotationSaveMessagesAndReload)
{
    PhotoEdits edits;
    wire(edits);
    const QString photo = jpeg(QStringLiteral("rot.jpg"));
    current = photo;

    edits.saveRotation(photo, 4);
    EXPECT_EQ(flashes.back(), std::make_pair(Texts::text("msg.rotNone"), 2.0));
    edits.saveRotation(photo, 1, true);
    EXPECT_EQ(flashes.back(), std::make_pair(Texts::text("msg.rotAnimated"), 2.0));

    // Pressed twice: one save.
    flashes.clear();
    edits.saveRotation(photo, 1);
    EXPECT_TRUE(edits.isProcessing());
    edits.saveRotation(photo, 1);
    ASSERT_EQ(flashes.size(), 1u);
    EXPECT_EQ(flashes[0], std::make_pair(Texts::text("msg.rotSaving"), 3600.0));
    edits.waitForIdle();
    EXPECT_FALSE(edits.isProcessing());
    ASSERT_EQ(flashes.size(), 2u);
    EXPECT_EQ(flashes[1], std::make_pair(Texts::text("msg.rotSaved"), 3.0));
    EXPECT_EQ(RotationSave::fileOrientation(photo), 6);
    EXPECT_EQ(replaced, QStringList{photo});
    EXPECT_EQ(reloads, 1);

    // Finished after the user moved on: the message, no reload.
    current = QStringLiteral("/elsewhere.jpg");
    edits.saveRotation(photo, 1);
    edits.waitForIdle();
    EXPECT_EQ(flashes.back(), std::make_pair(Texts::text("msg.rotSaved"), 3.0));
    EXPECT_EQ(reloads, 1);

    // A failure keeps the turns (no reload) and says why.
    current = dir.filePath(QStringLiteral("missing.jpg"));
    edits.saveRotation(current, 1);
    edits.waitForIdle();
    EXPECT_EQ(flashes.back().second, 3.0);
    EXPECT_EQ(flashes.back().first, Texts::format("msg.rotFailed", {Texts::text("msg.errFileGone")}));
    EXPECT_EQ(reloads, 1);

    // Formats that would be recompressed are refused with their own message.
    if (corpusHas(QStringLiteral("formats/sample.heic"))) {
        const QString heic = copyCorpus(dir, QStringLiteral("formats/sample.heic"), QStringLiteral("h.heic"));
        edits.saveRotation(heic, 1);
        edits.waitForIdle();
        EXPECT_EQ(flashes.back().first, Texts::format("msg.rotUnsupported", {QStringLiteral("HEIF")}));
    }
}

TEST_F(PhotoEditsTest, AFolderSwitchDuringASaveSkipsTheReload)
{
    PhotoEdits edits;
    wire(edits);
    const QString photo = jpeg(QStringLiteral("g.jpg"));
    current = photo;
    edits.saveRotation(photo, 2);
    ++edits.generation;
    edits.waitForIdle();
    EXPECT_EQ(reloads, 0);
    EXPECT_EQ(flashes.back().first, Texts::text("msg.rotSaved"));
}
