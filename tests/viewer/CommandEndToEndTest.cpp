// The program on an X server, driven with xdotool: every bound key press runs
// its command exactly once (counted from the command log), keys of commands
// that are not available run nothing, and the open menu is photographed.
#include "ViewerTestSupport.h"
#include "support/GlantoProcess.h"

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

using e2e::xdotool;

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

    QTemporaryDir tmp;
    QDir dir{tmp.path()};
    e2e::GlantoProcess glanto;
};

TEST_F(CommandEndToEndTest, EachBoundKeyPressRunsItsCommandExactlyOnce)
{
    ASSERT_TRUE(glanto.start({dir.path()}));
    ASSERT_TRUE(glanto.activate()) << "no window appeared"; // the first photo on screen, the window settled

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
        expected << command;
        EXPECT_EQ(glanto.press(key), QStringList{command}) << qPrintable(key);
    }
    EXPECT_EQ(glanto.commandsRun(), expected);

    // The Trash and cleanup keys are covered by the cleanup end-to-end test.
    spin(600);
    EXPECT_EQ(glanto.commandsRun(), expected);
    EXPECT_TRUE(QFile::exists(dir.filePath("1-red.jpg")));
    EXPECT_TRUE(QFile::exists(dir.filePath("2-green.jpg")));
    EXPECT_EQ(glanto.process.state(), QProcess::Running);
}

TEST_F(CommandEndToEndTest, TheViewMenuOpensWithItsItemsAndKeys)
{
    ASSERT_TRUE(glanto.start({dir.filePath("2-green.jpg")}));
    const QString id = glanto.window();
    ASSERT_FALSE(id.isEmpty());
    xdotool({"windowactivate", "--sync", id});
    spin(1500);
    // Open the first menu by clicking its title, then step right to the View menu.
    // A menu popup is a window of its own.
    const auto visibleWindows = [&] {
        return xdotool({"search", "--onlyvisible", "--pid", QString::number(glanto.process.processId())})
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
    EXPECT_TRUE(glanto.commandsRun().isEmpty()) << qPrintable(glanto.commandsRun().join(", "));
}

} // namespace
