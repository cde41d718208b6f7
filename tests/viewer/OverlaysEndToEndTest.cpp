// The program on an X server with its overlays, driven with xdotool: a slideshow
// over bundled photos starts, advances, pauses on a click, resumes on the next
// and stops with Escape (followed through its log); the toolbar with the
// information panel open and the running slideshow are photographed.
#include "ViewerTestSupport.h"
#include "support/GlantoProcess.h"

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using e2e::xdotool;

QString shotPath(const char *variable, const char *fallback)
{
    return qEnvironmentVariable(variable, QDir::temp().filePath(QString::fromLatin1(fallback)));
}

class OverlaysEndToEndTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testApp();
        ASSERT_TRUE(tmp.isValid());
        ASSERT_TRUE(dir.mkpath(QStringLiteral("photos")));
        ASSERT_TRUE(dir.mkpath(QStringLiteral("config/Glanto")));
        // Three bundled photos, one with a camera's EXIF for the panel.
        const std::vector<std::pair<QString, QString>> photos = {
            {"exif/Canon EOS 7D.jpg", "1-canon.jpg"},
            {"formats/hopper.jpg", "2-hopper.jpg"},
            {"orientation/Landscape_1.jpg", "3-landscape.jpg"},
        };
        for (const auto &[from, to] : photos)
            ASSERT_TRUE(QFile::copy(TestData::photo(from), photoDir().filePath(to))) << qPrintable(from);
        // A private preferences file: the shortest interval but one, so that
        // the slideshow moves within the test's patience.
        QFile conf(dir.filePath(QStringLiteral("config/Glanto/Glanto.conf")));
        ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
        conf.write("[General]\nslideshowInterval=2\n");
    }

    QDir photoDir() const { return QDir(dir.filePath(QStringLiteral("photos"))); }

    void launch(const QStringList &arguments)
    {
        QProcessEnvironment env = e2e::GlantoProcess::environment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("QT_LOGGING_RULES"),
                   QStringLiteral("glanto.commands.debug=true\nglanto.slideshow.debug=true"));
        ASSERT_TRUE(glanto.start(arguments, env));
    }

    QString output() { return glanto.readLog(); }
    int count(const QString &pattern)
    {
        return int(output().count(QRegularExpression(pattern)));
    }
    // The photos the slideshow has put on screen since it last started.
    int shown()
    {
        static const QRegularExpression line(QStringLiteral("slideshow shows (\\d+)"));
        int last = 0;
        for (const QRegularExpressionMatch &m : line.globalMatch(output()))
            last = m.captured(1).toInt();
        return last;
    }

    QImage grabScreen() { return QGuiApplication::primaryScreen()->grabWindow(0).toImage(); }

    // The window's frame on the screen.
    QRect frame(const QString &id)
    {
        const QString geometry = xdotool({"getwindowgeometry", "--shell", id});
        static const QRegularExpression shell(
            QStringLiteral("X=(\\d+)\\s+Y=(\\d+)\\s+WIDTH=(\\d+)\\s+HEIGHT=(\\d+)"));
        const QRegularExpressionMatch m = shell.match(geometry);
        if (!m.hasMatch())
            return {};
        return QRect(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt(), m.captured(4).toInt());
    }

    QTemporaryDir tmp;
    QDir dir{tmp.path()};
    e2e::GlantoProcess glanto;
};

TEST_F(OverlaysEndToEndTest, SlideshowStartsAdvancesPausesResumesAndStops)
{
    launch({photoDir().path()});
    const QString id = glanto.window();
    ASSERT_FALSE(id.isEmpty()) << "no window appeared";
    xdotool({"windowactivate", "--sync", id});
    spin(1500);

    xdotool({"key", "--window", id, "s"});
    ASSERT_TRUE(waitFor([&] { return count("slideshow on") == 1; }, 5000)) << qPrintable(output());
    EXPECT_EQ(count("command toggleSlideshow 0"), 1);
    // Two ticks of two seconds, each photo timed from when it is on screen.
    ASSERT_TRUE(waitFor([&] { return shown() >= 2; }, 12000)) << qPrintable(output());
    const QRect window = frame(id);
    ASSERT_FALSE(window.isEmpty());
    // The pointer brings back the controls: the stop symbol and the floating filmstrip.
    const QString cx = QString::number(window.width() / 2);
    const QString cy = QString::number(window.height() / 3);
    xdotool({"mousemove", "--window", id, cx, QString::number(window.height() / 3 + 20)});
    xdotool({"mousemove", "--window", id, cx, cy});
    spin(1200); // the fade between photos finished, the controls faded in
    ASSERT_TRUE(grabScreen().copy(window).save(shotPath("GLANTO_SLIDESHOW_SHOT", "glanto-slideshow.png")));

    // A single click in the middle of the photo pauses: no photo follows.
    xdotool({"click", "1"});
    ASSERT_TRUE(waitFor([&] { return count("slideshow paused") == 1; }, 8000)) << qPrintable(output());
    const int atPause = shown();
    spin(3500); // longer than the interval: a tick would have come
    EXPECT_EQ(shown(), atPause) << "the slideshow moved while paused";

    // The second click resumes and the photos move again.
    xdotool({"click", "1"});
    ASSERT_TRUE(waitFor([&] { return count("slideshow resumed") == 1; }, 8000)) << qPrintable(output());
    EXPECT_TRUE(waitFor([&] { return shown() > atPause; }, 6000)) << qPrintable(output());

    // Escape leaves full screen, and that stops the slideshow.
    xdotool({"key", "--window", id, "Escape"});
    ASSERT_TRUE(waitFor([&] { return count("slideshow off") == 1; }, 5000)) << qPrintable(output());
    const int atStop = shown();
    spin(2500);
    EXPECT_EQ(shown(), atStop);
    EXPECT_EQ(count("slideshow on"), 1);
    EXPECT_EQ(glanto.process.state(), QProcess::Running);
}

TEST_F(OverlaysEndToEndTest, ToolbarAndInformationPanelOverThePhoto)
{
    launch({photoDir().filePath("1-canon.jpg")});
    const QString id = glanto.window();
    ASSERT_FALSE(id.isEmpty()) << "no window appeared";
    xdotool({"windowactivate", "--sync", id});
    spin(1500);
    xdotool({"key", "--window", id, "i"});
    ASSERT_TRUE(waitFor([&] { return count("command toggleInfoPanel 0") == 1; }, 5000));
    // The pointer over the photo brings the toolbar and the arrows back.
    xdotool({"mousemove", "--window", id, "400", "300"});
    xdotool({"mousemove", "--window", id, "420", "310"});
    spin(1200); // the EXIF summary read, the controls faded in
    const QRect window = frame(id);
    ASSERT_FALSE(window.isEmpty());
    const QImage withPanel = grabScreen();
    ASSERT_TRUE(withPanel.copy(window).save(shotPath("GLANTO_TOOLBAR_SHOT", "glanto-toolbar-info.png")));

    // Escape hides the panel (and does nothing else): its corner of the window
    // shows the photo again.
    const QRect corner(window.right() - 300, window.top() + 60, 280, 120);
    xdotool({"key", "--window", id, "Escape"});
    ASSERT_TRUE(waitFor([&] { return count("command escape 0") == 1; }, 5000));
    spin(500);
    const QImage withoutPanel = grabScreen();
    EXPECT_NE(withPanel.copy(corner), withoutPanel.copy(corner)) << "the panel stayed";
    EXPECT_EQ(glanto.process.state(), QProcess::Running);
}

} // namespace
