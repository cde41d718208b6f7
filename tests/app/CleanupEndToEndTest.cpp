// The cleanup review in the running program on an X server, driven with
// xdotool: its key opens it over the viewer, the Trash key moves the ticked
// photos into a private Trash, Ctrl+Z brings them back byte for byte, Escape
// returns to the viewer, and there the Trash key moves exactly the photo on
// screen. Every press is counted in the program's command log.
#include "TestData.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QHash>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

namespace {

QGuiApplication &testApp()
{
    static int argc = 1;
    static char name[] = "cleanup_e2e_test";
    static char *argv[] = {name, nullptr};
    static auto *app = new QGuiApplication(argc, argv);
    return *app;
}

bool waitFor(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(20);
    }
    return true;
}

void spin(int ms)
{
    waitFor([] { return false; }, ms);
}

QString xdotool(const QStringList &arguments, int timeoutMs = 10000)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), arguments);
    p.waitForFinished(timeoutMs);
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
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
        // A byte-identical pair, and other photos that stay.
        const QString duplicate = TestData::photo("duplicates/Sony D700.jpg");
        ASSERT_TRUE(QFile::copy(duplicate, folder.filePath("d700-a.jpg")));
        ASSERT_TRUE(QFile::copy(duplicate, folder.filePath("d700-b.jpg")));
        ASSERT_TRUE(QFile::copy(TestData::photo("formats/hopper.jpg"), folder.filePath("hopper.jpg")));
        ASSERT_TRUE(QFile::copy(TestData::photo("orientation/Landscape_1.jpg"), folder.filePath("landscape.jpg")));
        ASSERT_TRUE(QFile::copy(TestData::photo("faces-open/obama.jpg"), folder.filePath("portrait.jpg")));
        for (const QString &name : names(folder))
            originals.insert(name, digest(folder.filePath(name)));
    }

    void TearDown() override
    {
        if (glanto.state() != QProcess::NotRunning) {
            glanto.terminate();
            if (!glanto.waitForFinished(5000))
                glanto.kill();
        }
    }

    void launch()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
        // The Trash, the settings and the caches of this run are its own.
        env.insert("XDG_DATA_HOME", tmp.filePath("data"));
        env.insert("XDG_CONFIG_HOME", tmp.filePath("config"));
        env.insert("XDG_CACHE_HOME", tmp.filePath("cache"));
        env.insert("QT_LOGGING_RULES", "glanto.commands.debug=true");
        env.insert("QT_FORCE_STDERR_LOGGING", "1");
        glanto.setProcessEnvironment(env);
        glanto.start(QStringLiteral(GLANTO_BINARY), {folder.path()});
        ASSERT_TRUE(glanto.waitForStarted());
    }

    QString window()
    {
        QString id;
        waitFor([&] {
            id = xdotool({"search", "--onlyvisible", "--pid", QString::number(glanto.processId())}, 2000)
                     .split('\n').value(0);
            return !id.isEmpty();
        }, 20000);
        return id;
    }

    QStringList commandsRun()
    {
        log += QString::fromUtf8(glanto.readAllStandardError());
        QStringList commands;
        static const QRegularExpression line(QStringLiteral("command (\\w+ \\d+)"));
        for (const QRegularExpressionMatch &m : line.globalMatch(log))
            commands << m.captured(1);
        return commands;
    }

    // Presses a key and checks that it ran its command exactly once.
    void press(const QString &id, const QString &key, const QString &command)
    {
        const qsizetype before = commandsRun().size();
        xdotool({"key", "--window", id, key});
        ASSERT_TRUE(waitFor([&] { return commandsRun().size() > before; }, 5000)) << qPrintable(key) << " ran nothing";
        spin(200);
        ASSERT_EQ(commandsRun().size(), before + 1) << qPrintable(key) << " ran more than once";
        EXPECT_EQ(commandsRun().last(), command);
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
    void undoAndCheck(const QString &id)
    {
        xdotool({"key", "--window", id, "ctrl+z"});
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
    QProcess glanto;
    QString log;
};

TEST_F(CleanupEndToEndTest, TrashUndoAndLeaveWithKeys)
{
    launch();
    const QString id = window();
    ASSERT_FALSE(id.isEmpty()) << "no window appeared";
    xdotool({"windowactivate", "--sync", id});
    spin(1500);

    press(id, "ctrl+shift+k", "toggleCleanup 0");
    // The scan of five photos; then the duplicate category (its sidebar row)
    // is photographed for a look.
    spin(8000);
    xdotool({"mousemove", "--window", id, "43", "156"});
    xdotool({"click", "1"});
    spin(1500);
    const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(id.toULongLong());
    ASSERT_FALSE(shot.isNull());
    shot.save(QDir::current().filePath("cleanup-e2e-review.png"));

    // The identical copy is proposed for the Trash; the Trash key moves the
    // ticked photos (pressed again while the scan may still be finishing).
    ASSERT_TRUE(waitFor([&] {
        if (names(folder).size() < originals.size())
            return true;
        xdotool({"key", "--window", id, "ctrl+BackSpace"});
        spin(1500);
        return names(folder).size() < originals.size();
    }, 60000)) << "nothing went to the Trash";
    spin(500);
    const QStringList firstGone = gone();
    // Exactly one copy of the pair went; it sits in the Trash unchanged, with its entry.
    ASSERT_EQ(firstGone.size(), 1) << qPrintable(firstGone.join(' '));
    ASSERT_TRUE(firstGone.first().startsWith("d700-"));
    checkTrashHolds(firstGone);
    EXPECT_GE(commandsRun().filter("trashCurrent").size(), 1);

    // Ctrl+Z is the grid's own key (no command): the file comes back byte for byte.
    const qsizetype before = commandsRun().size();
    undoAndCheck(id);
    EXPECT_EQ(commandsRun().size(), before);

    // Ticks with keys: Right selects the first copy, x flips it, Right the
    // second, x flips it. The ticks swap, so the other copy goes this time;
    // a press that ran twice would leave them as they were.
    press(id, "Right", "navigateForward 0");
    xdotool({"key", "--window", id, "x"});
    spin(300);
    press(id, "Right", "navigateForward 0");
    xdotool({"key", "--window", id, "x"});
    spin(300);
    press(id, "ctrl+BackSpace", "trashCurrent 0");
    ASSERT_TRUE(waitFor([&] { return names(folder).size() < originals.size(); }, 10000));
    spin(500);
    const QStringList second = gone();
    ASSERT_EQ(second.size(), 1) << qPrintable(second.join(' '));
    EXPECT_TRUE(second.first().startsWith("d700-"));
    EXPECT_NE(second.first(), firstGone.first());
    checkTrashHolds(second);
    undoAndCheck(id);

    // Escape leaves the review; the viewer's Trash key then moves the photo on
    // screen, exactly one file, once.
    press(id, "Escape", "escape 0");
    spin(1500);
    press(id, "ctrl+BackSpace", "trashCurrent 0");
    ASSERT_TRUE(waitFor([&] { return names(folder).size() == originals.size() - 1; }, 10000));
    spin(1000);
    EXPECT_EQ(names(folder).size(), originals.size() - 1);
    ASSERT_EQ(names(trashFiles).size(), 1);
    const QString trashed = names(trashFiles).first();
    EXPECT_EQ(digest(trashFiles.filePath(trashed)), originals.value(trashed));
    EXPECT_EQ(glanto.state(), QProcess::Running);
}

// The self-check switch: the program opens the folder, enters the review,
// saves its picture and ends.
TEST_F(CleanupEndToEndTest, CleanupShotSavesTheReview)
{
    const QString output = tmp.filePath("review.png");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
    env.insert("XDG_DATA_HOME", tmp.filePath("data"));
    env.insert("XDG_CONFIG_HOME", tmp.filePath("config"));
    env.insert("XDG_CACHE_HOME", tmp.filePath("cache"));
    glanto.setProcessEnvironment(env);
    glanto.start(QStringLiteral(GLANTO_BINARY), {"--cleanup-shot", output, folder.path()});
    ASSERT_TRUE(glanto.waitForFinished(120000));
    EXPECT_EQ(glanto.exitCode(), 0) << glanto.readAllStandardError().constData();
    const QImage image(output);
    ASSERT_FALSE(image.isNull());
    EXPECT_GE(image.width(), 640);
    // Nothing was moved by taking the picture.
    EXPECT_EQ(names(folder).size(), originals.size());
}

} // namespace
