// Batch convert in the program itself on an X server, driven with xdotool: the
// key opens the dialog, Return starts it, and the copies on disk are checked
// with exiv2's own tool (count, orientation, capture dates).
#include "ViewerTestSupport.h"
#include "support/GlantoProcess.h"

#include <QDirIterator>
#include <QImageReader>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QString exivTag(const QString &path, const QString &key)
{
    QProcess p;
    p.start(QStringLiteral("exiv2"), {QStringLiteral("-q"), QStringLiteral("-K"), key, QStringLiteral("-Pv"), path});
    p.waitForFinished(10000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// Width x height as stored, before any orientation.
QSize storedSize(const QString &path)
{
    QImageReader reader(path);
    reader.setAutoTransform(false);
    return reader.size();
}

class ConvertEndToEndTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testApp();
        ASSERT_TRUE(tmp.isValid());
    }

    int visibleWindows()
    {
        return int(e2e::xdotool({"search", "--onlyvisible", "--pid", QString::number(glanto.process.processId())}, 2000)
                       .split('\n', Qt::SkipEmptyParts)
                       .size());
    }

    // Opens the folder, runs batch convert with the dialog's defaults (JPEG,
    // quality 85) and waits until expected copies are in Converted-jpg.
    QStringList convertWithTheKeys(int expected)
    {
        EXPECT_TRUE(glanto.start({dir.path()}));
        EXPECT_TRUE(glanto.activate()) << "no window appeared";
        const int before = visibleWindows();
        // A key sent to the window before it has taken the focus (a loaded
        // machine, no window manager) is lost: pressed again until the dialog
        // shows. A press that reaches the open dialog does nothing there.
        bool opened = false;
        for (int attempt = 0; attempt < 3 && !opened; ++attempt) {
            glanto.key(QStringLiteral("ctrl+shift+c"));
            opened = waitFor([&] { return visibleWindows() > before; }, 5000);
        }
        EXPECT_TRUE(opened) << "no dialog opened";
        spin(500);
        e2e::xdotool({"key", "Return"});
        const QDir output(dir.filePath(QStringLiteral("Converted-jpg")));
        waitFor([&] { return int(output.entryList(QDir::Files).size()) >= expected; }, 60000);
        spin(500); // nothing more arrives
        QStringList files;
        for (const QString &name : output.entryList(QDir::Files | QDir::Hidden))
            files << output.filePath(name);
        return files;
    }

    QTemporaryDir tmp;
    QDir dir{tmp.path()};
    e2e::GlantoProcess glanto;
};

class ConvertEndToEndCorpus : public ConvertEndToEndTest
{
};

} // namespace

TEST_F(ConvertEndToEndTest, TheKeysConvertTheFolderUprightWithCaptureDates)
{
    // Two photos stored on their side, one with an Adobe RGB profile, a PNG,
    // and a JPEG named .jpg, which is already in the target format.
    QFile::copy(corpus(QStringLiteral("orientation/Samsung GT-I9000 (Galaxy S).jpg")), dir.filePath("s.jpeg"));
    QFile::copy(corpus(QStringLiteral("orientation/Landscape_6.jpg")), dir.filePath("l.jpeg"));
    QFile::copy(corpus(QStringLiteral("exif/Canon EOS 7D.jpg")), dir.filePath("c.jpeg"));
    QFile::copy(corpus(QStringLiteral("formats/hopper.png")), dir.filePath("h.png"));
    QFile::copy(corpus(QStringLiteral("formats/hopper.jpg")), dir.filePath("skip.jpg"));

    const QStringList files = convertWithTheKeys(4);
    QStringList names;
    for (const QString &f : files)
        names << QFileInfo(f).fileName();
    EXPECT_EQ(names, (QStringList{"c.jpg", "h.jpg", "l.jpg", "s.jpg"}));
    const QDir out(dir.filePath(QStringLiteral("Converted-jpg")));
    EXPECT_EQ(storedSize(out.filePath("s.jpg")), QSize(480, 640));
    EXPECT_EQ(storedSize(out.filePath("l.jpg")), QSize(1800, 1200));
    for (const QString &f : files) {
        const QString orientation = exivTag(f, QStringLiteral("Exif.Image.Orientation"));
        EXPECT_TRUE(orientation.isEmpty() || orientation == QLatin1String("1")) << f.toStdString();
    }
    EXPECT_EQ(exivTag(out.filePath("s.jpg"), QStringLiteral("Exif.Photo.DateTimeOriginal")),
              QStringLiteral("2011:04:02 18:30:10"));
    EXPECT_EQ(exivTag(out.filePath("c.jpg"), QStringLiteral("Exif.Photo.DateTimeOriginal")),
              QStringLiteral("2010:12:12 12:41:35"));
    EXPECT_EQ(glanto.process.state(), QProcess::Running);
}

// Every camera JPEG of the corpus's EXIF folder: one copy each, with the
// capture date exiv2 reads from the original.
TEST_F(ConvertEndToEndCorpus, CameraPhotosKeepTheirCaptureDates)
{
    GLANTO_NEEDS_CORPUS();
    QStringList sources;
    QDirIterator it(TestData::corpusDir() + QStringLiteral("/exif"), {QStringLiteral("*.jpg")}, QDir::Files);
    while (it.hasNext()) {
        const QString source = it.next();
        const QString copy = dir.filePath(QFileInfo(source).completeBaseName() + QStringLiteral(".jpeg"));
        if (QFile::copy(source, copy))
            sources << copy;
    }
    ASSERT_GE(sources.size(), 10);
    const QStringList files = convertWithTheKeys(int(sources.size()));
    ASSERT_EQ(files.size(), sources.size());
    const QDir out(dir.filePath(QStringLiteral("Converted-jpg")));
    for (const QString &source : sources) {
        const QString copy = out.filePath(QFileInfo(source).completeBaseName() + QStringLiteral(".jpg"));
        ASSERT_TRUE(QFileInfo::exists(copy)) << copy.toStdString();
        EXPECT_EQ(exivTag(copy, QStringLiteral("Exif.Photo.DateTimeOriginal")),
                  exivTag(source, QStringLiteral("Exif.Photo.DateTimeOriginal")))
            << source.toStdString();
        const QString orientation = exivTag(copy, QStringLiteral("Exif.Image.Orientation"));
        EXPECT_TRUE(orientation.isEmpty() || orientation == QLatin1String("1")) << copy.toStdString();
    }
}
