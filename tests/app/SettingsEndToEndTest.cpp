// The settings window of the running program, driven with xdotool: choosing
// what the wheel does and recording a new key for "next" take effect in the
// viewer at once (the wheel pages instead of zooming; the new key runs the
// command and the old one no longer does).
//
// xdotool cannot name a widget, so the test builds the same settings window
// in its own process, with the same appearance on the same X server, and
// clicks the program's window where its own copy has the control.
#include "app/DarkAppearance.h"
#include "settings/window/SettingsWindow.h"
#include "settings/window/ShortcutRecorder.h"
#include "support/GlantoProcess.h"

#include <QApplication>
#include <QImage>
#include <QRadioButton>
#include <QScreen>
#include <QTemporaryDir>
#include <QToolButton>

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace {

using e2e::spin;
using e2e::waitFor;
using e2e::xdotool;

void click(const QPoint &at, int button = 1)
{
    xdotool({"mousemove", "--sync", QString::number(at.x()), QString::number(at.y())});
    xdotool({"click", QString::number(button)});
}

// The share of the area's pixels in each primary colour (of the bundled test
// photos: plain red, green and blue).
struct Colours
{
    double red = 0, green = 0, blue = 0;
};

Colours coloursIn(const QRect &area)
{
    const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height()).toImage();
    Colours c;
    int samples = 0;
    for (int y = 0; y < shot.height(); y += 8) {
        for (int x = 0; x < shot.width(); x += 8) {
            const QColor p = shot.pixelColor(x, y);
            ++samples;
            c.red += p.red() > 150 && p.green() < 90 && p.blue() < 90;
            c.green += p.green() > 150 && p.red() < 90 && p.blue() < 90;
            c.blue += p.blue() > 150 && p.red() < 90 && p.green() < 90;
        }
    }
    if (samples > 0) {
        c.red /= samples;
        c.green /= samples;
        c.blue /= samples;
    }
    return c;
}

// Which photo fills the area: 0 red, 1 green, 2 blue, -1 none of them.
int photoIn(const QRect &area)
{
    const Colours c = coloursIn(area);
    if (c.red > 0.5)
        return 0;
    if (c.green > 0.5)
        return 1;
    return c.blue > 0.5 ? 2 : -1;
}

void writePhoto(const QString &path, QColor colour)
{
    QImage image(1200, 800, QImage::Format_RGB32);
    image.fill(colour);
    ASSERT_TRUE(image.save(path, "JPEG", 92));
}

class SettingsEndToEndTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        // Both this process's copy of the window and the program read settings
        // from here, fresh: the wheel zooms, "next" is the right arrow.
        config = new QTemporaryDir;
        qputenv("XDG_CONFIG_HOME", config->path().toLocal8Bit());
        static int argc = 1;
        static char name[] = "settings_e2e_test";
        static char *argv[] = {name, nullptr};
        app = new QApplication(argc, argv);
        applyDarkAppearance();
    }

    void SetUp() override
    {
        ASSERT_TRUE(photos.isValid());
        writePhoto(photos.filePath(QStringLiteral("1-red.jpg")), QColor(220, 30, 30));
        writePhoto(photos.filePath(QStringLiteral("2-green.jpg")), QColor(30, 200, 40));
        writePhoto(photos.filePath(QStringLiteral("3-blue.jpg")), QColor(30, 40, 220));
    }

    // Where the controls lie inside the settings window, from this process's copy.
    struct Places
    {
        QPoint mouseTab, wheelNavigates, shortcutsTab, nextRecorder;
    };
    Places placesInSettings()
    {
        SettingsWindowController &copy = SettingsWindowController::shared();
        copy.showTab(SettingsWindowController::mouse);
        spin(300);
        Places places;
        const auto centre = [&](QWidget *w) { return w->mapTo(&copy, w->rect().center()); };
        places.mouseTab = centre(copy.tabButton(SettingsWindowController::mouse));
        places.shortcutsTab = centre(copy.tabButton(SettingsWindowController::shortcuts));
        // A radio button answers clicks on its circle and text only.
        QRadioButton *radio = copy.mousePane()->wheelNavigates;
        places.wheelNavigates = radio->mapTo(&copy, QPoint(8, radio->height() / 2));
        copy.showTab(SettingsWindowController::shortcuts);
        spin(300);
        ShortcutRecorder *next = copy.shortcutPane()->recorder(ShortcutAction::next);
        EXPECT_TRUE(next->isVisible());
        places.nextRecorder = centre(next);
        copy.hide();
        spin(200);
        return places;
    }

    void launch() { ASSERT_TRUE(glanto.start({photos.filePath(QStringLiteral("1-red.jpg"))})); }

    // The program's visible window of the given size, or the viewer (any other
    // wide one) when size is empty.
    QString windowOf(QSize size = {})
    {
        return glanto.windowWhere([size](const QRect &frame) {
            if (frame.width() < 300)
                return false;
            return size.isEmpty() ? frame.size() != SettingsWindowController::windowSize : frame.size() == size;
        });
    }

    QStringList commandsRun() { return glanto.commandsRun(); }

    static inline QTemporaryDir *config = nullptr;
    static inline QApplication *app = nullptr;
    QTemporaryDir photos;
    e2e::GlantoProcess glanto;
};

} // namespace

TEST_F(SettingsEndToEndTest, WheelModeAndANewKeyTakeEffectInTheViewer)
{
    const Places places = placesInSettings();
    launch();
    const QString viewer = windowOf();
    ASSERT_FALSE(viewer.isEmpty()) << "no viewer window";
    spin(1500); // the photo on screen
    const QRect viewerFrame = e2e::GlantoProcess::frameOf(viewer);
    // The middle of the photo area, clear of the menu bar, toolbar and filmstrip.
    const QRect middle(viewerFrame.center() - QPoint(150, 150), QSize(300, 200));
    const Colours before = coloursIn(viewerFrame);
    ASSERT_GT(before.red, 0.2);

    // Out of the box the wheel zooms: the photo changes size, and it is still the same photo.
    xdotool({"mousemove", "--sync", QString::number(middle.center().x()), QString::number(middle.center().y())});
    for (int i = 0; i < 4; ++i)
        xdotool({"click", "4"});
    spin(1000);
    const Colours zoomed = coloursIn(viewerFrame);
    EXPECT_GT(std::abs(zoomed.red - before.red), 0.05);
    EXPECT_LT(zoomed.green + zoomed.blue, 0.01);

    // The next photo, fitted (the wheel pans a zoomed photo rather than paging).
    xdotool({"key", "--window", viewer, "Right"});
    ASSERT_TRUE(waitFor([&] { return photoIn(middle) == 1; }, 5000));

    // The settings window (Ctrl+,), moved to the screen's corner, clear of the viewer.
    const int commandsBefore = int(commandsRun().size());
    xdotool({"key", "--window", viewer, "ctrl+comma"});
    const QString settings = windowOf(SettingsWindowController::windowSize);
    ASSERT_FALSE(settings.isEmpty()) << "no settings window";
    // Exactly one run of the command for the one key press (other commands, such as
    // a late-logged page turn, may sit beside it in the log).
    EXPECT_TRUE(waitFor([&] { return commandsRun().mid(commandsBefore).count(QStringLiteral("showSettings 0")) == 1; }, 10000))
        << commandsRun().mid(commandsBefore).join(QStringLiteral(", ")).toStdString();
    xdotool({"windowmove", "--sync", settings, "0", "0"});
    spin(300);
    QRect settingsFrame = e2e::GlantoProcess::frameOf(settings);
    ASSERT_FALSE(settingsFrame.intersects(middle)) << "the settings window covers the photo";

    // Mouse tab: the wheel moves between photos.
    click(settingsFrame.topLeft() + places.mouseTab);
    spin(300);
    click(settingsFrame.topLeft() + places.wheelNavigates);
    spin(300);

    xdotool({"mousemove", "--sync", QString::number(middle.center().x()), QString::number(middle.center().y())});
    xdotool({"click", "5"});
    int shown = 1;
    ASSERT_TRUE(waitFor([&] { return (shown = photoIn(middle)) != 1 && shown >= 0; }, 5000))
        << "the wheel did not move to another photo";
    EXPECT_LT(coloursIn(viewerFrame).green, 0.01);

    // Shortcuts tab, reached from the keyboard (Ctrl+Tab, the next page):
    // "next" recorded as N. Without a window manager the keyboard follows the
    // pointer, so the pointer rests on the settings window first.
    const QPoint overTabs = settingsFrame.topLeft() + places.mouseTab;
    xdotool({"mousemove", "--sync", QString::number(overTabs.x()), QString::number(overTabs.y())});
    spin(200);
    xdotool({"key", "ctrl+Tab"});
    spin(300);
    click(settingsFrame.topLeft() + places.nextRecorder);
    spin(300);
    // Typed, not sent: with no window manager the keyboard follows the pointer,
    // which rests on the recorder just clicked.
    xdotool({"key", "n"});
    spin(500);
    // Esc while a recorder listens cancels the recording and nothing else;
    // Esc then closes the window.
    click(settingsFrame.topLeft() + places.nextRecorder);
    spin(300);
    xdotool({"key", "Escape"});
    spin(500);
    EXPECT_TRUE(glanto.windows().contains(settings)) << "Esc while recording closed the window";
    xdotool({"key", "Escape"});
    EXPECT_TRUE(waitFor([&] { return !glanto.windows().contains(settings); }, 5000)) << "Esc left the window open";
    // The settings window took the keyboard when it opened; give it back.
    const QPoint overPhoto = middle.center();
    xdotool({"mousemove", "--sync", QString::number(overPhoto.x()), QString::number(overPhoto.y())});
    xdotool({"windowfocus", "--sync", viewer});
    spin(300);

    // In the viewer N runs "next" once, and the right arrow runs nothing.
    const int beforeKeys = int(commandsRun().size());
    xdotool({"key", "n"});
    ASSERT_TRUE(waitFor([&] { return commandsRun().size() > beforeKeys; }, 5000)) << "N ran nothing";
    spin(300);
    EXPECT_EQ(commandsRun().mid(beforeKeys), QStringList{QStringLiteral("navigateForward 0")});
    const int following = (shown + 1) % 3;
    EXPECT_TRUE(waitFor([&] { return photoIn(middle) == following; }, 5000));
    xdotool({"key", "Right"});
    spin(800);
    EXPECT_EQ(commandsRun().mid(beforeKeys), QStringList{QStringLiteral("navigateForward 0")});
    EXPECT_EQ(photoIn(middle), following);
    EXPECT_EQ(glanto.process.state(), QProcess::Running);
}
