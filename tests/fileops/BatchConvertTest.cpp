// Batch convert in sandbox folders: names never collide or overwrite, the
// counts match the files on disk, cancelling and closing stop after the
// current file, and the work runs on two workers off the main thread.
#include "FileOpsTestSupport.h"
#include "TestApplication.h"

#include "fileops/BatchConvert.h"
#include "fileops/SafeFile.h"
#include "settings/Texts.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <optional>

#include <unistd.h>

using Encoder::Format;

namespace {

QString exivTag(const QString &path, const QString &key)
{
    QProcess p;
    p.start(QStringLiteral("exiv2"), {QStringLiteral("-q"), QStringLiteral("-K"), key, QStringLiteral("-Pv"), path});
    p.waitForFinished(10000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

class BatchConvertTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testApplication();
        ASSERT_TRUE(dir.isValid());
    }
    void TearDown() override { SafeFile::setStepHook(nullptr); }

    // Runs a conversion to its end and returns its summary.
    BatchConvert::Summary run(BatchConvert &converter, const QStringList &photos, Format format,
                              const QString &folder = {})
    {
        std::optional<BatchConvert::Summary> done;
        converter.onFinished = [&](const BatchConvert::Summary &s) { done = s; };
        converter.onProgress = [&](int handled, int) { progress << handled; };
        EXPECT_TRUE(converter.start(photos, folder.isEmpty() ? dir.path() : folder, format, 85));
        QElapsedTimer timer;
        timer.start();
        while (!done && timer.elapsed() < 60000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        EXPECT_TRUE(done.has_value());
        return done.value_or(BatchConvert::Summary());
    }

    QString output(Format format) const { return BatchConvert::outputFolder(dir.path(), format); }

    QTemporaryDir dir;
    QList<int> progress;
};

} // namespace

TEST_F(BatchConvertTest, NothingIsOverwrittenAndTheCountsMatchTheDisk)
{
    const QStringList photos = {
        copyCorpus(dir, QStringLiteral("formats/hopper.png"), QStringLiteral("IMG.png")),
        copyCorpus(dir, QStringLiteral("formats/big-endian.tiff"), QStringLiteral("IMG.tiff")),
        copyCorpus(dir, QStringLiteral("formats/hopper.webp"), QStringLiteral("a.jpeg")),
        copyCorpus(dir, QStringLiteral("formats/hopper.jpg"), QStringLiteral("b.jpg")),
        copyCorpus(dir, QStringLiteral("bad/truncated_jpeg.jpg"), QStringLiteral("c.jpeg")),
    };
    // An earlier run left a.jpg.
    ASSERT_TRUE(QDir().mkpath(output(Format::jpeg)));
    const QString earlier = QDir(output(Format::jpeg)).filePath(QStringLiteral("a.jpg"));
    ASSERT_TRUE(writeBytes(earlier, "an earlier output"));
    QHash<QString, QByteArray> sources;
    for (const QString &p : photos)
        sources.insert(p, bytesOf(p));

    BatchConvert converter;
    const BatchConvert::Summary s = run(converter, photos, Format::jpeg);
    // b.jpg is already a JPEG and c.jpeg is damaged: both fail.
    EXPECT_EQ(s.succeeded, 3);
    EXPECT_EQ(s.failed, 2);
    EXPECT_EQ(s.total, 5);
    EXPECT_FALSE(s.cancelled);
    EXPECT_EQ(progress.size(), 5);
    EXPECT_EQ(progress.last(), 5);
    EXPECT_EQ(bytesOf(earlier), QByteArray("an earlier output"));
    QStringList names = folderNames(output(Format::jpeg));
    EXPECT_EQ(names, (QStringList{"IMG 2.jpg", "IMG.jpg", "a 2.jpg", "a.jpg"}));
    EXPECT_EQ(s.written.size(), names.size() - 1);
    // The two numbered names are told, beside the counts.
    EXPECT_EQ(s.renamed, 2);
    EXPECT_TRUE(s.message().contains(Texts::format("msg.convertRenamed", {QStringLiteral("2")}))) << s.message().toStdString();
    for (const QString &written : s.written)
        EXPECT_EQ(Codec::formatOfFile(written), ImageFormat::jpeg) << written.toStdString();
    for (const QString &p : photos)
        EXPECT_EQ(bytesOf(p), sources.value(p)) << p.toStdString();

    // A second run keeps the first run's files and adds numbered ones.
    BatchConvert again;
    const BatchConvert::Summary s2 = run(again, photos.mid(0, 2), Format::jpeg);
    EXPECT_EQ(s2.succeeded, 2);
    EXPECT_EQ(s2.renamed, 2);
    names = folderNames(output(Format::jpeg));
    EXPECT_EQ(names, (QStringList{"IMG 2.jpg", "IMG 3.jpg", "IMG 4.jpg", "IMG.jpg", "a 2.jpg", "a.jpg"}));

    if (Encoder::canEncode(Format::heic)) {
        BatchConvert heic;
        EXPECT_EQ(run(heic, photos.mid(0, 2), Format::heic).succeeded, 2);
        EXPECT_EQ(folderNames(output(Format::heic)), (QStringList{"IMG 2.heic", "IMG.heic"}));
    }
}

// A run that converts nothing says why and leaves no empty folder of its own
// behind; a folder that was there before stays.
TEST_F(BatchConvertTest, ARunThatConvertsNothingSaysWhyAndLeavesNoFolder)
{
    QStringList photos;
    for (const char *name : {"a.jpg", "b.JPG"}) {
        QImage image(40, 30, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        ASSERT_TRUE(image.save(dir.filePath(QLatin1String(name)), "JPEG"));
        photos << dir.filePath(QLatin1String(name));
    }
    BatchConvert converter;
    const BatchConvert::Summary s = run(converter, photos, Format::jpeg);
    EXPECT_EQ(s.succeeded, 0);
    EXPECT_EQ(s.failed, 2);
    EXPECT_TRUE(s.firstFailure == "a.jpg: " + Texts::text("msg.convertSameFormat")
                || s.firstFailure == "b.JPG: " + Texts::text("msg.convertSameFormat"))
        << qPrintable(s.firstFailure);
    EXPECT_EQ(s.message(), Texts::format("msg.convertNothing", {"2", s.firstFailure}));
    EXPECT_FALSE(QFileInfo::exists(output(Format::jpeg)));

    ASSERT_TRUE(QDir().mkpath(output(Format::jpeg)));
    BatchConvert again;
    EXPECT_EQ(run(again, photos, Format::jpeg).succeeded, 0);
    EXPECT_TRUE(QFileInfo(output(Format::jpeg)).isDir());
}

// A photo left out for its format does not hide one that really failed.
TEST_F(BatchConvertTest, ARealFailureIsToldBeforeAPhotoLeftOutForItsFormat)
{
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    ASSERT_TRUE(image.save(dir.filePath("a.png"), "PNG"));
    ASSERT_TRUE(image.save(dir.filePath("c.jpg"), "JPEG"));
    ASSERT_TRUE(writeBytes(dir.filePath("b.jpg"), "not a photo at all"));
    BatchConvert converter;
    const BatchConvert::Summary s = run(converter, {dir.filePath("a.png"), dir.filePath("b.jpg"), dir.filePath("c.jpg")},
                                        Format::png);
    EXPECT_EQ(s.succeeded, 1);
    EXPECT_EQ(s.failed, 2);
    EXPECT_EQ(s.firstFailure, "b.jpg: " + Encoder::describe(Encoder::Error::unreadable));
}

// The folder moved away under the run: it stops, and says so, rather than
// failing every photo left with a reason that is not the cause.
TEST_F(BatchConvertTest, AFolderMovedAwayStopsTheRun)
{
    QStringList photos;
    QImage image(400, 300, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    for (int i = 0; i < 12; ++i) {
        photos << dir.filePath(QStringLiteral("m%1.jpg").arg(i, 2, 10, QChar('0')));
        ASSERT_TRUE(image.save(photos.last(), "JPEG"));
    }
    const QString away = dir.path() + QStringLiteral("-away");
    std::atomic<bool> moved{false};
    SafeFile::setStepHook([&](std::string_view step) {
        if (step == "moved" && !moved.exchange(true)) {
            EXPECT_TRUE(QDir().rename(dir.path(), away));
        }
        return true;
    });
    BatchConvert converter;
    const BatchConvert::Summary s = run(converter, photos, Format::png);
    SafeFile::setStepHook(nullptr);
    ASSERT_TRUE(QDir().rename(away, dir.path()));
    EXPECT_TRUE(s.folderGone);
    EXPECT_GE(s.succeeded, 1);
    EXPECT_LE(s.succeeded, 3) << "only the files the workers held when it went";
    EXPECT_LT(s.succeeded + s.failed, 12);
    EXPECT_EQ(s.message(), Texts::format("msg.convertFolderGone", {QString::number(s.succeeded),
                                                                   QString::number(12 - s.succeeded)}));
}

TEST_F(BatchConvertTest, ConvertedCopiesAreUprightAndKeepTheirCaptureDate)
{
    const QString photo = copyCorpus(dir, QStringLiteral("orientation/Samsung GT-I9000 (Galaxy S).jpg"),
                                     QStringLiteral("s.jpg"));
    BatchConvert converter;
    const BatchConvert::Summary s = run(converter, {photo}, Format::png);
    ASSERT_EQ(s.succeeded, 1);
    const QString out = QDir(output(Format::png)).filePath(QStringLiteral("s.png"));
    ASSERT_EQ(s.written, QStringList{out});
    EXPECT_EQ(Codec::probe(out)->storedSize, QSize(480, 640));
    EXPECT_EQ(Codec::probe(out)->orientation, 1);
    EXPECT_EQ(exivTag(out, QStringLiteral("Exif.Photo.DateTimeOriginal")), QStringLiteral("2011:04:02 18:30:10"));
}

TEST_F(BatchConvertTest, AnOutputFolderThatIsNotAFolderEndsTheRunBeforeAnyEncoding)
{
    QTemporaryDir elsewhere;
    ASSERT_EQ(::symlink(elsewhere.path().toUtf8().constData(), output(Format::png).toUtf8().constData()), 0);
    const QStringList photos = {copyCorpus(dir, QStringLiteral("formats/hopper.jpg"), QStringLiteral("x.jpg"))};
    BatchConvert converter;
    const BatchConvert::Summary s = run(converter, photos, Format::png);
    EXPECT_EQ(s.succeeded, 0);
    EXPECT_EQ(s.message(), Texts::format("msg.convertNoFolder", {QStringLiteral("Converted-png"),
                                                                  Texts::text("msg.errNotFolder")}));
    EXPECT_TRUE(progress.isEmpty()) << "nothing was encoded for a folder that cannot be used";
    EXPECT_TRUE(folderNames(elsewhere.path()).isEmpty());

    // A plain file in its place, likewise.
    ASSERT_TRUE(QFile::remove(output(Format::png)));
    ASSERT_TRUE(writeBytes(output(Format::png), "x"));
    BatchConvert again;
    EXPECT_EQ(run(again, photos, Format::png).folderFailure, Texts::text("msg.errNotFolder"));
}

TEST_F(BatchConvertTest, AnOutputFolderThatCannotBeMadeEndsTheRunWithItsReason)
{
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    ASSERT_TRUE(image.save(dir.filePath("a.jpg"), "JPEG"));
    BatchConvert converter;
    // No folder to make the output folder in.
    const BatchConvert::Summary s = run(converter, {dir.filePath("a.jpg")}, Format::png, dir.filePath("gone"));
    EXPECT_EQ(s.succeeded, 0);
    EXPECT_EQ(s.folderName, QStringLiteral("Converted-png"));
    EXPECT_EQ(s.folderFailure, SafeFile::Failure::of(SafeFile::Failure::Kind::gone).reason);
    EXPECT_EQ(s.message(), Texts::format("msg.convertNoFolder", {s.folderName, s.folderFailure}));
    EXPECT_TRUE(progress.isEmpty()) << "no photo was tried";
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("gone")));
}

TEST_F(BatchConvertTest, TwoWorkersOffTheMainThreadAndCancelStopsAfterTheCurrentFiles)
{
    QStringList photos;
    for (int i = 0; i < 12; ++i)
        photos << copyCorpus(dir, QStringLiteral("faces-open/obama.jpg"), QStringLiteral("p%1.jpeg").arg(i, 2, 10, QChar('0')));

    std::mutex lock;
    QSet<QThread *> threads;
    int moved = 0;
    BatchConvert converter;
    // The cancel comes from the worker that finishes the third file, as it lands:
    // from the main thread it would come only once that thread had caught up with
    // the progress, and a loaded machine lets the workers finish more meanwhile.
    SafeFile::setStepHook([&](std::string_view step) {
        if (step == "moved") {
            std::lock_guard<std::mutex> guard(lock);
            threads.insert(QThread::currentThread());
            if (++moved == 3)
                converter.cancel();
        }
        return true;
    });
    const BatchConvert::Summary s = run(converter, photos, Format::png);
    SafeFile::setStepHook(nullptr);
    EXPECT_TRUE(s.cancelled);
    // At most the file each worker held when the cancel came is finished after it.
    EXPECT_GE(s.succeeded, 3);
    EXPECT_LE(s.succeeded, 5);
    EXPECT_EQ(s.failed, 0);
    EXPECT_EQ(folderNames(output(Format::png)).size(), s.succeeded);
    EXPECT_EQ(threads.size(), 2);
    EXPECT_FALSE(threads.contains(QThread::currentThread()));
}

TEST_F(BatchConvertTest, ClosingTheOwnerStopsAfterTheCurrentFiles)
{
    QStringList photos;
    for (int i = 0; i < 12; ++i)
        photos << copyCorpus(dir, QStringLiteral("faces-open/obama.jpg"), QStringLiteral("q%1.jpeg").arg(i));
    auto converter = std::make_unique<BatchConvert>();
    bool finished = false;
    converter->onFinished = [&](const BatchConvert::Summary &) { finished = true; };
    ASSERT_TRUE(converter->start(photos, dir.path(), Format::png, 85));
    QElapsedTimer timer;
    timer.start();
    while (folderNames(output(Format::png)).isEmpty() && timer.elapsed() < 30000)
        QThread::msleep(5);
    converter.reset(); // the window closed
    QCoreApplication::processEvents();
    EXPECT_FALSE(finished);
    const QStringList names = folderNames(output(Format::png));
    EXPECT_GE(names.size(), 1);
    EXPECT_LE(names.size(), 4);
    for (const QString &name : names)
        EXPECT_FALSE(SafeFile::isOwnTemporaryName(name)) << name.toStdString();
}

class BatchConvertCorpus : public BatchConvertTest
{
};

// A RAW and the JPEG the camera made of the same shot.
TEST_F(BatchConvertCorpus, RawAndJpegOfOneShotBothGetAName)
{
    GLANTO_NEEDS_CORPUS();
    // JPEG rather than HEIC: the names are given the same way, and encoding 12 MP
    // to HEIC takes a minute here.
    const Format format = Format::jpeg;
    const QString raw = copyCorpus(dir, QStringLiteral("raw/IMG_1361.dng"), QStringLiteral("IMG.dng"));
    const QString jpeg = copyCorpus(dir, QStringLiteral("exif/Canon_40D.jpg"), QStringLiteral("IMG.jpeg"));
    BatchConvert converter;
    const BatchConvert::Summary s = run(converter, {raw, jpeg}, format);
    EXPECT_EQ(s.succeeded, 2);
    const QString ext = QLatin1String(Encoder::info(format).extension);
    EXPECT_EQ(folderNames(output(format)), (QStringList{"IMG 2." + ext, "IMG." + ext}));
    QStringList dates;
    for (const QString &written : s.written) {
        dates << exivTag(written, QStringLiteral("Exif.Photo.DateTimeOriginal"));
        // The RAW is stored on its side; its copy is upright.
        if (dates.last().startsWith(QLatin1String("2020"))) {
            EXPECT_EQ(Codec::probe(written)->storedSize, QSize(3024, 4032));
            EXPECT_EQ(Codec::probe(written)->orientation, 1);
        }
    }
    dates.sort();
    EXPECT_EQ(dates, (QStringList{"2008:05:30 15:56:01", "2020:12:29 14:24:45"}));
}
