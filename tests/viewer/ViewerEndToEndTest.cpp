// The whole program on an X server: launched on a folder, driven with xdotool
// (keys and the wheel), looked at through screenshots of its window.
#include "ViewerTestSupport.h"
#include "support/GlantoProcess.h"

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

constexpr int filmstripHeight = 76;

using e2e::xdotool;

// A photo in one flat colour with a white square in its top-left quarter, so
// that zooming and panning show up in a screenshot.
void writePhoto(const QString &path, QColor colour)
{
    QImage image(1200, 800, QImage::Format_RGB32);
    image.fill(colour);
    QPainter(&image).fillRect(100, 100, 200, 200, Qt::white);
    ASSERT_TRUE(image.save(path, "JPEG", 92));
}

bool near(QColor a, QColor b)
{
    return std::abs(a.red() - b.red()) < 50 && std::abs(a.green() - b.green()) < 50 && std::abs(a.blue() - b.blue()) < 50;
}

class ViewerEndToEndTest : public ::testing::Test
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

    void launch(const QStringList &arguments)
    {
        glanto.process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        ASSERT_TRUE(glanto.start(arguments));
    }

    QImage shot(const QString &windowId)
    {
        return QGuiApplication::primaryScreen()->grabWindow(windowId.toULongLong()).toImage();
    }

    // The colour in the middle of the photo area (the window minus the filmstrip).
    QColor middle(const QImage &image)
    {
        return image.pixelColor(image.width() / 2, (image.height() - filmstripHeight) / 2);
    }

    // Waits until the middle of the window shows colour.
    bool shows(const QString &windowId, QColor colour, QImage *last = nullptr)
    {
        QImage image;
        const bool ok = waitFor([&] {
            image = shot(windowId);
            return near(middle(image), colour);
        }, 15000);
        if (last)
            *last = image;
        return ok;
    }

    QTemporaryDir tmp;
    QDir dir{tmp.path()};
    e2e::GlantoProcess glanto;
};

TEST_F(ViewerEndToEndTest, KeysAndTheWheelDriveTheViewer)
{
    launch({dir.path()});
    const QString id = glanto.window();
    ASSERT_FALSE(id.isEmpty()) << "no window appeared";
    QImage image;
    ASSERT_TRUE(shows(id, QColor(220, 30, 30), &image)) << "first photo not on screen";
    // Fitted: black margins on both sides of the 3:2 photo, the filmstrip below.
    EXPECT_TRUE(near(image.pixelColor(5, (image.height() - filmstripHeight) / 2), Qt::black));
    image.save(dir.filePath("launch.png"));

    xdotool({"windowactivate", "--sync", id});
    // Which key runs which command is counted in the command test and the wrap
    // around in the controller's; here the photos must reach the screen.
    xdotool({"key", "--window", id, "Right"});
    ASSERT_TRUE(shows(id, QColor(30, 200, 40))) << "Right did not show the next photo";
    xdotool({"key", "--window", id, "Left"});
    ASSERT_TRUE(shows(id, QColor(220, 30, 30))) << "Left did not show the first photo again";

    // The wheel zooms about the pointer by default: two notches towards the user
    // enlarge the photo until it fills the window's sides.
    const int w = image.width();
    const int h = image.height() - filmstripHeight;
    xdotool({"mousemove", "--window", id, QString::number(w / 2), QString::number(h / 2)});
    xdotool({"click", "--repeat", "2", "--delay", "150", "5"});
    ASSERT_TRUE(waitFor([&] {
        image = shot(id);
        return near(image.pixelColor(5, h / 2), QColor(220, 30, 30));
    }, 10000)) << "the wheel did not zoom in";

    // Escape returns to fit (Esc does not close the window by default).
    xdotool({"key", "--window", id, "Escape"});
    ASSERT_TRUE(waitFor([&] {
        image = shot(id);
        return near(image.pixelColor(5, h / 2), Qt::black);
    }, 10000)) << "Escape did not fit the photo again";
    EXPECT_EQ(glanto.process.state(), QProcess::Running);

    // The pointer-zoom key shows 100 % about the pointer: the white square of the
    // photo's top-left quarter grows on screen.
    xdotool({"mousemove", "--window", id, QString::number(w / 2), QString::number(h / 2)});
    xdotool({"key", "--window", id, "0"});
    ASSERT_TRUE(waitFor([&] {
        image = shot(id);
        return near(image.pixelColor(w / 2, h / 2), QColor(220, 30, 30));
    }, 10000));
    image.save(dir.filePath("zoomed.png"));
}

} // namespace
