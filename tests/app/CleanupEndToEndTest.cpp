// The cleanup review in the running program on an X server, driven with
// xdotool: its key opens it over the viewer, the Trash key moves the ticked
// photos into a private Trash, Ctrl+Z brings them back byte for byte, Escape
// returns to the viewer, and there the Trash key moves exactly the photo on
// screen. Every press is counted in the program's command log.
#include "TestData.h"
#include "support/GlantoProcess.h"
#include "support/SanitizerAllowance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QHash>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using e2e::GlantoProcess;
using e2e::spin;
using e2e::waitFor;

QGuiApplication &testApp()
{
    static int argc = 1;
    static char name[] = "cleanup_e2e_test";
    static char *argv[] = {name, nullptr};
    static auto *app = new QGuiApplication(argc, argv);
    return *app;
}

QByteArray digest(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256);
}

QStringList names(const QDir &dir)
{
    return dir.entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

class CleanupEndToEndTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testApp();
        ASSERT_TRUE(tmp.isValid());
        ASSERT_TRUE(QDir(tmp.path()).mkpath("photos"));
        ASSERT_TRUE(QDir(tmp.path()).mkpath("data"));
        // A byte-identical pair, a burst of two shots 2 s apart, and other
        // photos that stay.
        const QString duplicate = TestData::photo("duplicates/Sony D700.jpg");
        ASSERT_TRUE(QFile::copy(duplicate, folder.filePath("d700-a.jpg")));
        ASSERT_TRUE(QFile::copy(duplicate, folder.filePath("d700-b.jpg")));
        for (const char *shot : {"Issue 247-2.nef", "Issue 247-3.nef"})
            ASSERT_TRUE(QFile::copy(TestData::photo(QStringLiteral("bursts/") + shot), folder.filePath(shot)));
        ASSERT_TRUE(QFile::copy(TestData::photo("formats/hopper.jpg"), folder.filePath("hopper.jpg")));
        ASSERT_TRUE(QFile::copy(TestData::photo("orientation/Landscape_1.jpg"), folder.filePath("landscape.jpg")));
        ASSERT_TRUE(QFile::copy(TestData::photo("faces-open/obama.jpg"), folder.filePath("portrait.jpg")));
        for (const QString &name : names(folder))
            originals.insert(name, digest(folder.filePath(name)));
    }

    QProcessEnvironment environment() const
    {
        // The Trash, the settings and the caches of this run are its own.
        QProcessEnvironment env = GlantoProcess::environment();
        env.insert("XDG_DATA_HOME", tmp.filePath("data"));
        env.insert("XDG_CONFIG_HOME", tmp.filePath("config"));
        env.insert("XDG_CACHE_HOME", tmp.filePath("cache"));
        return env;
    }

    // Presses a key and checks that it ran its command exactly once.
    void press(const QString &key, const QString &command)
    {
        EXPECT_EQ(glanto.press(key), QStringList{command}) << qPrintable(key);
    }

    // The original files no longer in the folder, by name.
    QStringList gone() const
    {
        QStringList result;
        const QStringList left = names(folder);
        for (auto it = originals.cbegin(); it != originals.cend(); ++it) {
            if (!left.contains(it.key()))
                result << it.key();
        }
        result.sort();
        return result;
    }

    // The Trash holds exactly these files, unchanged, each with its entry.
    void checkTrashHolds(const QStringList &files)
    {
        EXPECT_EQ(names(trashFiles), files);
        EXPECT_EQ(names(trashInfo).size(), files.size());
        for (const QString &name : files)
            EXPECT_EQ(digest(trashFiles.filePath(name)), originals.value(name)) << qPrintable(name);
    }

    // Ctrl+Z: every file is back byte for byte and the Trash is empty again.
    void undoAndCheck()
    {
        glanto.key("ctrl+z");
        ASSERT_TRUE(waitFor([&] { return names(folder).size() == originals.size(); }, 10000)) << "undo restored nothing";
        for (auto it = originals.cbegin(); it != originals.cend(); ++it)
            EXPECT_EQ(digest(folder.filePath(it.key())), it.value()) << qPrintable(it.key());
        EXPECT_TRUE(names(trashFiles).isEmpty());
        EXPECT_TRUE(names(trashInfo).isEmpty());
    }

    QTemporaryDir tmp;
    QDir folder{tmp.filePath("photos")};
    QDir trashFiles{tmp.filePath("data/Trash/files")};
    QDir trashInfo{tmp.filePath("data/Trash/info")};
    QHash<QString, QByteArray> originals;
    GlantoProcess glanto;
};

TEST_F(CleanupEndToEndTest, TrashUndoAndLeaveWithKeys)
{
    ASSERT_TRUE(glanto.start({folder.path()}, environment()));
    ASSERT_TRUE(glanto.activate()) << "no window appeared";

    press("ctrl+shift+k", "toggleCleanup 0");
    // The scan of seven photos ends when its metrics are saved; the review
    // opens on the bursts, then the duplicate category (its sidebar row) is
    // photographed too.
    const QDir cache(tmp.filePath("cache/Glanto/Cleanup"));
    EXPECT_TRUE(waitFor([&] { return !cache.entryList({"*.plist"}, QDir::Files).isEmpty(); }, allowForSanitizers(90000)));
    spin(2000);
    glanto.screenshot().save(QDir::current().filePath("cleanup-e2e-bursts.png"));
    glanto.click(43, 156);
    spin(1500);
    const QImage shot = glanto.screenshot();
    ASSERT_FALSE(shot.isNull());
    shot.save(QDir::current().filePath("cleanup-e2e-review.png"));

    // The identical copy and the burst's weaker shot are proposed for the
    // Trash; the Trash key moves the ticked photos (pressed again while the
    // scan may still be finishing).
    ASSERT_TRUE(waitFor([&] {
        if (names(folder).size() < originals.size())
            return true;
        glanto.key("ctrl+BackSpace");
        spin(1500);
        return names(folder).size() < originals.size();
    }, 60000)) << "nothing went to the Trash";
    waitFor([&] { return gone().size() >= 2; }, 5000);
    spin(500);
    const QStringList firstGone = gone();
    // Exactly one copy of the pair went, and one shot of the burst; they sit
    // in the Trash unchanged, with their entries.
    ASSERT_EQ(firstGone.size(), 2) << qPrintable(firstGone.join(' '));
    EXPECT_TRUE(firstGone.contains("Issue 247-3.nef")) << qPrintable(firstGone.join(' '));
    const QStringList firstCopy = firstGone.filter("d700-");
    ASSERT_EQ(firstCopy.size(), 1) << qPrintable(firstGone.join(' '));
    checkTrashHolds(firstGone);
    EXPECT_GE(glanto.commandsRun().filter("trashCurrent").size(), 1);

    // Ctrl+Z is the grid's own key (no command): the files come back byte for byte.
    const qsizetype before = glanto.commandsRun().size();
    undoAndCheck();
    EXPECT_EQ(glanto.commandsRun().size(), before);

    // Ticks with keys: Right selects the first copy, x flips it, Right the
    // second, x flips it. The ticks swap, so the other copy goes this time;
    // a press that ran twice would leave them as they were.
    press("Right", "navigateForward 0");
    glanto.key("x");
    spin(300);
    press("Right", "navigateForward 0");
    glanto.key("x");
    spin(300);
    press("ctrl+BackSpace", "trashCurrent 0");
    ASSERT_TRUE(waitFor([&] { return names(folder).size() < originals.size(); }, 10000));
    waitFor([&] { return gone().size() >= 2; }, 5000);
    spin(500);
    const QStringList second = gone();
    const QStringList secondCopy = second.filter("d700-");
    ASSERT_EQ(secondCopy.size(), 1) << qPrintable(second.join(' '));
    EXPECT_NE(secondCopy.first(), firstCopy.first());
    checkTrashHolds(second);
    undoAndCheck();

    // Escape leaves the review; the viewer's Delete key then moves the photo
    // on screen, exactly one file, once.
    press("Escape", "escape 0");
    spin(1500);
    press("Delete", "trashCurrent 0");
    ASSERT_TRUE(waitFor([&] { return names(folder).size() == originals.size() - 1; }, 10000));
    spin(1000);
    EXPECT_EQ(names(folder).size(), originals.size() - 1);
    ASSERT_EQ(names(trashFiles).size(), 1);
    const QString trashed = names(trashFiles).first();
    EXPECT_EQ(digest(trashFiles.filePath(trashed)), originals.value(trashed));
    EXPECT_EQ(glanto.process.state(), QProcess::Running);
}

// The self-check switch: the program opens the folder, enters the review,
// saves its picture and ends.
TEST_F(CleanupEndToEndTest, CleanupShotSavesTheReview)
{
    const QString output = tmp.filePath("review.png");
    QProcessEnvironment env = environment();
    env.remove("QT_LOGGING_RULES");
    ASSERT_TRUE(glanto.start({"--cleanup-shot", output, folder.path()}, env));
    ASSERT_TRUE(glanto.process.waitForFinished(allowForSanitizers(120000)));
    EXPECT_EQ(glanto.process.exitCode(), 0) << glanto.process.readAllStandardError().constData();
    const QImage image(output);
    ASSERT_FALSE(image.isNull());
    EXPECT_GE(image.width(), 640);
    // Nothing was moved by taking the picture.
    EXPECT_EQ(names(folder).size(), originals.size());
}

} // namespace
