// The program on an X server, driven with xdotool: every bound key press runs
// its command exactly once (counted from the command log), keys of commands
// that are not available run nothing, and the open menu is photographed.
#include "ViewerTestSupport.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QString xdotool(const QStringList &arguments, int timeoutMs = 10000)
{
    QProcess p;
    p.start(QStringLiteral("xdotool"), arguments);
    p.waitForFinished(timeoutMs);
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

void writePhoto(const QString &path, QColor colour)
{
    QImage image(1200, 800, QImage::Format_RGB32);
    image.fill(colour);
    QPainter(&image).fillRect(100, 100, 200, 200, Qt::white);
    ASSERT_TRUE(image.save(path, "JPEG", 92));
}

class CommandEndToEndTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testApp();
        ASSERT_TRUE(tmp.isValid());
        writePhoto(dir.filePath("1-red.jpg"), QColor(220, 30, 30));
        writePhoto(dir.filePath("2-green.jpg"), QColor(30, 200, 40));
        writePhoto(dir.filePath("3-blue.jpg"), QColor(30, 40, 220));
    }

    void TearDown() override
    {
        if (glanto.state() != QProcess::NotRunning) {
            glanto.terminate();
            if (!glanto.waitForFinished(5000))
                glanto.kill();
        }
    }

    void launch(const QStringList &arguments)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=/nonexistent"));
        // One line per command run.
        env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("glanto.commands.debug=true"));
        env.insert(QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));
        glanto.setProcessEnvironment(env);
        glanto.start(QStringLiteral(GLANTO_BINARY), arguments);
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

    // The commands run so far, in order ("navigateForward 0").
    QStringList commandsRun()
    {
        log += QString::fromUtf8(glanto.readAllStandardError());
        QStringList commands;
        static const QRegularExpression line(QStringLiteral("command (\\w+ \\d+)"));
        for (const QRegularExpressionMatch &m : line.globalMatch(log))
            commands << m.captured(1);
        return commands;
    }

    QTemporaryDir tmp;
    QDir dir{tmp.path()};
    QProcess glanto;
    QString log;
};

TEST_F(CommandEndToEndTest, EachBoundKeyPressRunsItsCommandExactlyOnce)
{
    launch({dir.path()});
    const QString id = window();
    ASSERT_FALSE(id.isEmpty()) << "no window appeared";
    xdotool({"windowactivate", "--sync", id});
    spin(1500); // the first photo on screen, the window settled

    // Key (xdotool's name) and the command it must run once.
    const std::vector<std::pair<QString, QString>> presses = {
        {"Right", "navigateForward 0"},  {"Left", "navigateBackward 0"}, {"End", "goLast 0"},
        {"Home", "goFirst 0"},           {"shift+Right", "navigateForward 0"},
        {"Up", "zoomIn 0"},              {"Down", "zoomOut 0"},          {"equal", "zoomIn 0"},
        {"minus", "zoomOut 0"},          {"ctrl+equal", "zoomIn 0"},     {"ctrl+minus", "zoomOut 0"},
        {"ctrl+1", "zoomActual 0"},      {"ctrl+0", "zoomFit 0"},        {"r", "rotateCW 0"},
        {"3", "setRatingMenu 3"},
        {"l", "rotateCCW 0"},            {"t", "toggleFilmstrip 0"},     {"t", "toggleFilmstrip 0"},
        {"Escape", "escape 0"},          {"0", "zoomAtPointer 0"},       {"0", "zoomAtPointer 0"},
    };
    QStringList expected;
    for (const auto &[key, command] : presses) {
        const int before = int(commandsRun().size());
        xdotool({"key", "--window", id, key});
        expected << command;
        ASSERT_TRUE(waitFor([&] { return commandsRun().size() > before; }, 5000)) << qPrintable(key) << " ran nothing";
        spin(150); // a second run of the same press would show up here
        EXPECT_EQ(commandsRun().size(), before + 1) << qPrintable(key) << " ran more than once";
    }
    EXPECT_EQ(commandsRun(), expected);

    // The Trash and cleanup keys are covered by the cleanup end-to-end test.
    spin(600);
    EXPECT_EQ(commandsRun(), expected);
    EXPECT_TRUE(QFile::exists(dir.filePath("1-red.jpg")));
    EXPECT_TRUE(QFile::exists(dir.filePath("2-green.jpg")));
    EXPECT_EQ(glanto.state(), QProcess::Running);
}

TEST_F(CommandEndToEndTest, TheViewMenuOpensWithItsItemsAndKeys)
{
    launch({dir.filePath("2-green.jpg")});
    const QString id = window();
    ASSERT_FALSE(id.isEmpty());
    xdotool({"windowactivate", "--sync", id});
    spin(1500);
    // Open the first menu by clicking its title, then step right to the View menu.
    // A menu popup is a window of its own.
    const auto visibleWindows = [&] {
        return xdotool({"search", "--onlyvisible", "--pid", QString::number(glanto.processId())})
            .split('\n', Qt::SkipEmptyParts)
            .size();
    };
    const qsizetype before = visibleWindows();
    xdotool({"mousemove", "--window", id, "20", "10"});
    xdotool({"click", "1"});
    ASSERT_TRUE(waitFor([&] { return visibleWindows() > before; }, 10000)) << "no menu open";
    spin(300);
    xdotool({"key", "Right"});
    spin(500);
    xdotool({"key", "Right"});
    spin(1000);
    const QImage screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    const QString out = qEnvironmentVariable("GLANTO_MENU_SHOT", QDir::temp().filePath("glanto-menu.png"));
    ASSERT_TRUE(screen.save(out));
    EXPECT_GT(visibleWindows(), before) << "the menu closed";
    // Opening and leaving the menus ran no command.
    xdotool({"key", "Escape"});
    spin(300);
    EXPECT_TRUE(commandsRun().isEmpty()) << qPrintable(commandsRun().join(", "));
}

} // namespace
