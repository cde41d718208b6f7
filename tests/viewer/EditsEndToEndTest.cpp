// The program on an X server, driven with xdotool: a star rating and a saved
// turn reach the photo file itself (read back with the exiv2 tool), the pixels
// stay as they were, and the badge shows the stars.
#include "ViewerTestSupport.h"
#include "support/GlantoProcess.h"
#include "support/SanitizerAllowance.h"

#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QPixmap>
#include <QProcess>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QString run(const QString &program, const QStringList &arguments, int timeoutMs = 10000)
{
    QProcess p;
    p.start(program, arguments);
    p.waitForFinished(timeoutMs);
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

QString exivValue(const QString &key, const QString &file)
{
    return run(QStringLiteral("exiv2"), {"-q", "-Pv", "-g", key, file});
}

// The stored pixels, without the orientation applied.
QImage storedPixels(const QString &file)
{
    QImageReader reader(file);
    reader.setAutoTransform(false);
    return reader.read().convertToFormat(QImage::Format_RGB32);
}

// Pixels of exactly the badge's star colour on the screen (antialiased edges
// left out): the photo in this test has next to none of them.
int badgeColouredPixels(const QImage &screen)
{
    const QImage image = screen.convertToFormat(QImage::Format_RGB32);
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            count += qAbs(qRed(line[x]) - 255) <= 3 && qAbs(qGreen(line[x]) - 204) <= 3 && qAbs(qBlue(line[x]) - 64) <= 3;
    }
    return count;
}

class EditsEndToEndTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testApp();
        ASSERT_TRUE(tmp.isValid());
    }

    void launch(const QStringList &arguments)
    {
        // A private settings home: the rating badge preference is at its default (shown).
        QProcessEnvironment env = e2e::GlantoProcess::environment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), tmp.filePath(QStringLiteral("config")));
        ASSERT_TRUE(glanto.start(arguments, env));
    }

    QTemporaryDir tmp;
    e2e::GlantoProcess glanto;
};

TEST_F(EditsEndToEndTest, RatingAndSavedTurnReachTheFileWithThePixelsUnchanged)
{
    const QString source = TestData::photo(QStringLiteral("exif/Canon EOS 7D.jpg"));
    ASSERT_TRUE(QFileInfo(source).isFile()) << qPrintable(source);
    ASSERT_TRUE(QDir(tmp.path()).mkpath(QStringLiteral("photos")));
    const QString photo = tmp.filePath(QStringLiteral("photos/camera.jpg"));
    ASSERT_TRUE(QFile::copy(source, photo));
    QFile(photo).setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    // The test needs a photo that is upright as stored.
    const QString before = exivValue(QStringLiteral("Exif.Image.Orientation"), photo);
    ASSERT_TRUE(before.isEmpty() || before == QLatin1String("1")) << qPrintable(before);
    // The bundled photo comes rated 3 by its camera owner: start it unrated, so
    // that the 3 read back at the end is this program's write.
    run(QStringLiteral("exiv2"), {"-q", "-M", "del Xmp.xmp.Rating", photo});
    ASSERT_TRUE(exivValue(QStringLiteral("Xmp.xmp.Rating"), photo).isEmpty());
    const QImage original = storedPixels(photo);
    ASSERT_FALSE(original.isNull());

    launch({photo});
    const QString id = glanto.window();
    ASSERT_FALSE(id.isEmpty()) << "no window appeared";
    e2e::xdotool({"windowactivate", "--sync", id});
    spin(1500);
    const QImage unrated = QGuiApplication::primaryScreen()->grabWindow(0).toImage();

    glanto.key("3");
    ASSERT_TRUE(waitFor([&] { return glanto.commandsRun().contains(QStringLiteral("setRatingMenu 3")); }, 5000));
    ASSERT_TRUE(waitFor([&] { return exivValue(QStringLiteral("Xmp.xmp.Rating"), photo) == QLatin1String("3"); },
                        15000))
        << "rating read back: " << qPrintable(exivValue(QStringLiteral("Xmp.xmp.Rating"), photo));
    spin(2000); // the stars' message has gone; the badge stays
    const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    const QString out = qEnvironmentVariable("GLANTO_RATING_SHOT", QDir::temp().filePath("glanto-rating.png"));
    EXPECT_TRUE(shot.save(out));
    EXPECT_GT(badgeColouredPixels(shot), badgeColouredPixels(unrated) + 40) << "no rating badge on screen";

    glanto.key("r");
    ASSERT_TRUE(waitFor([&] { return glanto.commandsRun().contains(QStringLiteral("rotateCW 0")); }, 5000));
    spin(600); // the turn's animation ends; a save during it is refused
    glanto.key("ctrl+alt+s");
    ASSERT_TRUE(waitFor([&] { return glanto.commandsRun().contains(QStringLiteral("saveRotation 0")); }, 5000))
        << qPrintable(glanto.commandsRun().join(", "));
    EXPECT_TRUE(waitFor([&] { return exivValue(QStringLiteral("Exif.Image.Orientation"), photo) == QLatin1String("6"); },
                        15000))
        << "orientation read back: " << qPrintable(exivValue(QStringLiteral("Exif.Image.Orientation"), photo));

    EXPECT_EQ(exivValue(QStringLiteral("Xmp.xmp.Rating"), photo), QStringLiteral("3"));
    EXPECT_TRUE(storedPixels(photo) == original) << "the pixels changed";
    // Nothing of ours is left beside the photo.
    EXPECT_EQ(QDir(tmp.filePath(QStringLiteral("photos"))).entryList(QDir::Files | QDir::Hidden),
              QStringList{QStringLiteral("camera.jpg")});
    EXPECT_EQ(glanto.process.state(), QProcess::Running);
}

} // namespace

// A logout's SIGTERM while photos are converted: the program asks nothing (no
// one is there to answer), finishes the photos under way and ends by itself.
TEST_F(EditsEndToEndTest, ASignalDuringAConversionEndsTheProgramWithoutAsking)
{
    ASSERT_TRUE(QDir(tmp.path()).mkpath(QStringLiteral("photos")));
    const QString folder = tmp.filePath(QStringLiteral("photos"));
    QImage noise(1800, 1200, QImage::Format_RGB32);
    quint32 seed = 7;
    for (int y = 0; y < noise.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(noise.scanLine(y));
        for (int x = 0; x < noise.width(); ++x)
            line[x] = (seed = seed * 1664525u + 1013904223u) | 0xFF000000u;
    }
    const QString first = folder + QStringLiteral("/p00.png");
    ASSERT_TRUE(noise.save(first));
    const int count = 40;
    for (int i = 1; i < count; ++i)
        ASSERT_TRUE(QFile::copy(first, folder + QStringLiteral("/p%1.png").arg(i, 2, 10, QLatin1Char('0'))));

    launch({first});
    const QString id = glanto.window();
    ASSERT_FALSE(id.isEmpty()) << "no window appeared";
    e2e::xdotool({"windowactivate", "--sync", id});
    spin(1000);
    glanto.key(QStringLiteral("ctrl+shift+c"));
    spin(1000);
    glanto.key(QStringLiteral("Return"));   // the dialog's default: Convert, to JPEG
    const QString output = folder + QStringLiteral("/Converted-jpg");
    ASSERT_TRUE(waitFor([&] { return QFileInfo::exists(output); }, 10000)) << "no conversion started";
    const qsizetype writtenBefore = QDir(output).entryList(QDir::Files).size();
    if (writtenBefore >= count)
        GTEST_SKIP() << "the conversion ended before the signal";

    glanto.process.terminate();
    ASSERT_TRUE(glanto.process.waitForFinished(allowForSanitizers(30000))) << "the program did not end";
    EXPECT_EQ(glanto.process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(glanto.process.exitCode(), 0);
    // No copy is left half-written: every file there is a whole JPEG.
    for (const QString &name : QDir(output).entryList(QDir::Files)) {
        QImageReader reader(output + QLatin1Char('/') + name);
        EXPECT_EQ(reader.read().size(), QSize(1800, 1200)) << qPrintable(name);
    }
}
