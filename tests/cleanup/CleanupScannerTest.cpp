#include "cleanup/CleanupScanner.h"

#include "cleanup/CleanupGrouping.h"
#include "cleanup/CleanupUnits.h"
#include "cleanup/FaceEyesDetector.h"
#include "cleanup/FileDigest.h"
#include "cleanup/ImageMeasures.h"
#include "cleanup/MetricsCache.h"
#include "library/FolderModel.h"

#include "TestApplication.h"
#include "TestData.h"
#include "support/SanitizerAllowance.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <stdexcept>

namespace {

// One file's stored record, to be altered: a missing record fails the test
// instead of being made up empty.
CleanupMetrics &record(QHash<QString, CleanupMetrics> &stored, const QString &name)
{
    const auto it = stored.find(name);
    if (it == stored.end())
        throw std::runtime_error("no stored record for " + name.toStdString());
    return it.value();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// A folder of small files and a stand-in measurement that needs no pictures:
// it counts its calls and fails for names containing "broken".
class ScannerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testApplication();
        ASSERT_TRUE(dir.isValid());
        QDir(MetricsCache::directory()).removeRecursively();
    }

    QString path(const QString &name) const { return dir.filePath(name); }

    QVector<CleanupUnit> units() const
    {
        return makeUnits(FolderModel::listFolder(dir.path()).value_or(QList<ImageItem>{}));
    }

    std::unique_ptr<CleanupScanner> scanner(bool useCache)
    {
        auto s = std::make_unique<CleanupScanner>(dir.path(), units(), useCache);
        s->setMeasure([this](const CleanupUnit &unit) -> std::optional<CleanupMetrics> {
            ++measureCalls;
            if (unit.primary.contains("broken"))
                return std::nullopt;
            CleanupMetrics m;
            m.fileSize = unit.fileSize;
            m.modified = secondsSince1970(unit.modified);
            m.captureDate = m.modified;
            m.sharpness = 50;
            m.featurePrint = QByteArray("print");
            m.printRevision = FeaturePrint::revision();
            return m;
        });
        return s;
    }

    // A scan of 40 photos measured at 20 ms each, caught once 4 are done; each
    // measure started counts in started.
    std::unique_ptr<CleanupScanner> scanCaughtEarly(std::atomic<int> &started)
    {
        for (int i = 0; i < 40; ++i)
            writeFile(path(QString("p%1.jpg").arg(i, 2, 10, QChar('0'))), QByteArray::number(i));
        auto s = std::make_unique<CleanupScanner>(dir.path(), units(), true);
        s->setMeasure([&started](const CleanupUnit &unit) -> std::optional<CleanupMetrics> {
            ++started;
            QThread::msleep(20);
            CleanupMetrics m;
            m.fileSize = unit.fileSize;
            m.modified = secondsSince1970(unit.modified);
            m.printRevision = FeaturePrint::revision();
            return m;
        });
        QEventLoop loop;
        CleanupScanner *scan = s.get();
        s->onProgress = [&loop, scan] {
            if (scan->done >= 4)
                loop.quit();
        };
        s->start();
        loop.exec();
        s->onProgress = nullptr;
        return s;
    }

    // Runs a scan to its end; returns the done count seen at the first progress report.
    int run(CleanupScanner &s)
    {
        int firstDone = -1;
        s.onProgress = [&] {
            if (firstDone < 0)
                firstDone = s.done;
            ++progressCalls;
        };
        QEventLoop loop;
        s.onFinish = [&] { loop.quit(); };
        QTimer::singleShot(allowForSanitizers(20'000), &loop, &QEventLoop::quit);
        s.start();
        if (!s.finished)
            loop.exec();
        EXPECT_TRUE(s.finished);
        return firstDone;
    }

    QTemporaryDir dir;
    std::atomic<int> measureCalls{0};
    int progressCalls = 0;
};

// The sweep over the corpus's duplicates; the other scanner tests run anywhere.
class ScannerCorpus : public ScannerTest
{
};

} // namespace

TEST_F(ScannerTest, ASecondScanFindsEveryUnitInTheCache)
{
    for (int i = 0; i < 5; ++i)
        writeFile(path(QString("IMG_%1.jpg").arg(i)), QByteArray(100 + i, 'x'));
    auto first = scanner(true);
    EXPECT_EQ(run(*first), 0);
    EXPECT_EQ(first->done, 5);
    EXPECT_EQ(first->metrics.size(), 5);
    EXPECT_GE(first->elapsed, 0.0);
    ASSERT_TRUE(first->cacheURL.has_value());
    EXPECT_EQ(MetricsCache::load(*first->cacheURL).size(), 5);

    measureCalls = 0;
    // The file is replaced whole when written: a new inode says it was.
    const auto inodeOf = [](const QString &file) {
        struct stat st {};
        return ::stat(QFile::encodeName(file).constData(), &st) == 0 ? qint64(st.st_ino) : qint64(-1);
    };
    const qint64 inode = inodeOf(*first->cacheURL);
    ASSERT_NE(inode, -1);
    auto second = scanner(true);
    EXPECT_EQ(run(*second), 5); // all done at the very first report
    EXPECT_EQ(measureCalls, 0);
    EXPECT_EQ(second->metrics, first->metrics);
    // Nothing new was measured: the cache file is not written again.
    second.reset();
    EXPECT_EQ(inodeOf(*first->cacheURL), inode);
}

// A sidecar changes without its photo: the ratings are read on every scan,
// the photos measured or not.
TEST_F(ScannerTest, RatingsAreReadOnEveryScanCachedOrNot)
{
    writeFile(path("a.jpg"), QByteArray(100, 'a'));
    writeFile(path("b.jpg"), QByteArray(100, 'b'));
    auto first = scanner(true);
    run(*first);
    EXPECT_EQ(first->ratingFor(path("a.jpg")), 0);

    writeFile(path("a.xmp"), "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
                             "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description "
                             "rdf:about=\"\" xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" xmp:Rating=\"4\"/>"
                             "</rdf:RDF></x:xmpmeta>\n");
    measureCalls = 0;
    auto second = scanner(true);
    run(*second);
    EXPECT_EQ(measureCalls, 0);
    EXPECT_EQ(second->ratingFor(path("a.jpg")), 4);
    EXPECT_EQ(second->ratingFor(path("b.jpg")), 0);
}

TEST_F(ScannerTest, OnlyChangedAndRenamedPhotosAreMeasuredAgain)
{
    for (const char *name : {"a.jpg", "b.jpg", "c.jpg"})
        writeFile(path(name), QByteArray(100, 'x') + name);
    run(*scanner(true));

    writeFile(path("b.jpg"), QByteArray(200, 'y')); // re-saved: new size and time
    QFile::rename(path("c.jpg"), path("d.jpg"));
    measureCalls = 0;
    auto again = scanner(true);
    run(*again);
    EXPECT_EQ(measureCalls, 2);
    const QHash<QString, CleanupMetrics> stored = MetricsCache::load(*again->cacheURL);
    QStringList names = stored.keys();
    names.sort();
    EXPECT_EQ(names, (QStringList{"a.jpg", "b.jpg", "d.jpg"})); // the old name is gone
    EXPECT_EQ(stored.value("b.jpg").fileSize, 200);
}

TEST_F(ScannerTest, EntriesOfAnotherRevisionOrVersionAreMeasuredAgain)
{
    for (const char *name : {"a.jpg", "b.jpg", "c.jpg"})
        writeFile(path(name), name);
    auto first = scanner(true);
    run(*first);
    QHash<QString, CleanupMetrics> stored = MetricsCache::load(*first->cacheURL);
    record(stored, "a.jpg").printRevision = 1; // the other system's embedding
    record(stored, "b.jpg").version = 0;
    ASSERT_TRUE(MetricsCache::save(*first->cacheURL, stored));

    measureCalls = 0;
    run(*scanner(true));
    EXPECT_EQ(measureCalls, 2);
}

TEST_F(ScannerTest, FacesMeasuredWithoutTheLandmarkModelAreMeasuredAgainOnceItIsThere)
{
    if (!FaceEyesDetector::hasLandmarkModel())
        GTEST_SKIP() << "no face-landmark model at " << qPrintable(FaceEyesDetector::landmarkModelPath());
    for (const char *name : {"a.jpg", "b.jpg", "c.jpg"})
        writeFile(path(name), name);
    auto first = scanner(true);
    run(*first);
    QHash<QString, CleanupMetrics> stored = MetricsCache::load(*first->cacheURL);
    record(stored, "a.jpg").faceCount = 2;
    record(stored, "a.jpg").eyesMeasured = false; // faces found, eyes not measured: the model was missing
    record(stored, "b.jpg").eyesMeasured = false; // no faces: nothing the model would change
    ASSERT_TRUE(MetricsCache::save(*first->cacheURL, stored));

    measureCalls = 0;
    auto again = scanner(true);
    run(*again);
    EXPECT_EQ(measureCalls, 1);
    EXPECT_TRUE(MetricsCache::load(*again->cacheURL).value("a.jpg").eyesMeasured);
}

TEST_F(ScannerTest, AHostileCacheFileMeansMeasuringEverythingAndReplacingIt)
{
    for (const char *name : {"a.jpg", "b.jpg"})
        writeFile(path(name), name);
    const QString cacheFile = *MetricsCache::fileFor(dir.path());
    QDir().mkpath(MetricsCache::directory());
    writeFile(cacheFile, QByteArray("bplist00") + QByteArray(4000, '\xff'));
    auto s = scanner(true);
    run(*s);
    EXPECT_EQ(measureCalls, 2);
    EXPECT_EQ(MetricsCache::load(cacheFile).size(), 2);
}

TEST_F(ScannerTest, UndecodablePhotosCountAsDoneButWriteNoCache)
{
    for (const char *name : {"broken1.jpg", "broken2.png"})
        writeFile(path(name), name);
    auto s = scanner(true);
    run(*s);
    EXPECT_EQ(s->done, 2);
    EXPECT_TRUE(s->metrics.isEmpty());
    EXPECT_FALSE(QFile::exists(*s->cacheURL));
}

TEST_F(ScannerTest, WithoutCacheNothingIsReadOrWritten)
{
    writeFile(path("a.jpg"), "a");
    auto cached = scanner(true);
    run(*cached);
    const QString cacheFile = *cached->cacheURL;
    QFile::remove(cacheFile);
    measureCalls = 0;
    auto uncached = scanner(false);
    EXPECT_FALSE(uncached->cacheURL.has_value());
    run(*uncached);
    EXPECT_EQ(measureCalls, 1);
    EXPECT_FALSE(QFile::exists(cacheFile));
}

TEST_F(ScannerTest, CancelKeepsWhatWasMeasuredAndStopsTheRest)
{
    std::atomic<int> started{0};
    auto s = scanCaughtEarly(started);
    bool finishedCalled = false;
    s->onFinish = [&] { finishedCalled = true; };
    s->cancel();
    const int kept = int(s->metrics.size());
    EXPECT_GE(kept, 4);
    EXPECT_LT(kept, 40);
    EXPECT_EQ(MetricsCache::load(*s->cacheURL).size(), kept);

    // Results still in flight are dropped; nothing completes after a cancel.
    QEventLoop loop;
    QTimer::singleShot(300, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ(int(s->metrics.size()), kept);
    EXPECT_FALSE(s->finished);
    EXPECT_FALSE(finishedCalled);
    EXPECT_LT(started.load(), 40);
}

// The program quitting mid-scan releases the scanner without a cancel: what was
// measured is kept for the next scan all the same.
TEST_F(ScannerTest, ReleasingAScannerMidScanKeepsWhatWasMeasured)
{
    std::atomic<int> started{0};
    auto s = scanCaughtEarly(started);
    const int kept = int(s->metrics.size());
    const QString cache = *s->cacheURL;
    ASSERT_GE(kept, 4);
    ASSERT_LT(kept, 40);
    s.reset();
    EXPECT_EQ(MetricsCache::load(cache).size(), kept);
}

TEST_F(ScannerTest, ProgressIsThrottledButAlwaysReportsTheEnd)
{
    for (int i = 0; i < 30; ++i)
        writeFile(path(QString("p%1.jpg").arg(i)), QByteArray::number(i));
    auto s = scanner(false);
    run(*s);
    // One report at start, one at the end of measuring, one on completion;
    // thirty instant measurements take about one throttling interval, so
    // only a few more (a loaded machine may stretch them) but far from thirty.
    EXPECT_GE(progressCalls, 3);
    EXPECT_LE(progressCalls, 10);
}

TEST_F(ScannerTest, OnlyFilesWhoseSizeIsSharedAreHashed)
{
    writeFile(path("a.jpg"), "same bytes");
    writeFile(path("b.jpg"), "same bytes");
    writeFile(path("c.jpg"), "diff bytes");        // same size, other content
    writeFile(path("d.jpg"), "a size of its own");
    writeFile(path("e.jpg"), "");                  // 0 bytes
    writeFile(path("f.jpg"), "");
    writeFile(path("g.jpg"), "1234567");           // 7 bytes, plus its RAW companion...
    writeFile(path("g.cr2"), "123");               // ...make a unit of 10 bytes
    writeFile(path("h.jpg"), "0123456789");
    auto s = scanner(false);
    run(*s);
    const QString same = QCryptographicHash::hash("same bytes", QCryptographicHash::Sha256).toHex();
    EXPECT_EQ(s->digestFor(path("a.jpg")), same);
    EXPECT_EQ(s->digestFor(path("b.jpg")), same);
    EXPECT_TRUE(s->digestFor(path("c.jpg")).has_value());
    EXPECT_FALSE(s->digestFor(path("d.jpg")).has_value());
    EXPECT_FALSE(s->digestFor(path("e.jpg")).has_value());
    EXPECT_FALSE(s->digestFor(path("f.jpg")).has_value());
    EXPECT_TRUE(s->digestFor(path("g.jpg")).has_value()); // the unit's size is shared with h
    EXPECT_FALSE(s->digestFor(path("g.cr2")).has_value()); // companions never
    const CleanupResult result = buildCleanupResult(s->units, *s);
    ASSERT_EQ(result.groups.at(CleanupCategory::duplicate).size(), 1);
    EXPECT_EQ(result.groups.at(CleanupCategory::duplicate)[0].keeper, path("a.jpg"));
}

TEST_F(ScannerTest, SubFoldersNamedLikePhotosAreNeverDuplicates)
{
    QDir(dir.path()).mkdir("x.png");
    QDir(dir.path()).mkdir("y.png");
    // The folder listing leaves them out.
    EXPECT_TRUE(scanner(false)->units.isEmpty());
    // Handed to a scanner all the same, two folders of one size are not copies.
    CleanupScanner s(dir.path(), makeUnits(QVector<UnitFile>{{path("x.png"), 4096, {}}, {path("y.png"), 4096, {}}}),
                     false);
    run(s);
    EXPECT_FALSE(s.digestFor(path("x.png")).has_value());
    EXPECT_TRUE(buildCleanupResult(s.units, s).groups.at(CleanupCategory::duplicate).isEmpty());
}

TEST_F(ScannerTest, PrintsAreServedFromTheMetrics)
{
    writeFile(path("a.jpg"), "a");
    writeFile(path("broken.jpg"), "b");
    auto s = scanner(false);
    run(*s);
    EXPECT_EQ(s->printFor(path("a.jpg")), QByteArray("print"));
    EXPECT_EQ(s->printFor(path("a.jpg")), QByteArray("print"));
    EXPECT_FALSE(s->printFor(path("broken.jpg")).has_value());
    EXPECT_FALSE(s->printFor(path("nothing.jpg")).has_value());
}

TEST_F(ScannerTest, AnEmptyFolderFinishesAtOnce)
{
    auto s = scanner(true);
    run(*s);
    EXPECT_EQ(s->done, 0);
    EXPECT_TRUE(s->metrics.isEmpty());
}

TEST_F(ScannerTest, ReleasingARunningScannerWaitsForItsWorkers)
{
    for (int i = 0; i < 20; ++i)
        writeFile(path(QString("p%1.jpg").arg(i)), QByteArray::number(i));
    auto s = scanner(true);
    s->start();
    QThread::msleep(5);
    s.reset(); // must neither crash nor call back into the dead scanner
    QEventLoop loop;
    QTimer::singleShot(100, &loop, &QEventLoop::quit);
    loop.exec();
    SUCCEED();
}

// Every byte-identical pair the corpus manifest names is found, in whichever
// folder it sits, and nothing else: edited copies (flipped, resized,
// greyscale) are not exact duplicates.
TEST_F(ScannerCorpus, DuplicatesAreExactlyTheByteIdenticalPairs)
{
    GLANTO_NEEDS_CORPUS();
    QFile manifest(TestData::corpusDir() + "/manifest.tsv");
    ASSERT_TRUE(manifest.open(QIODevice::ReadOnly));
    QSet<QString> expected; // "folder/keeper|loser" sorted pair
    const auto pairKey = [](const QString &folder, QString a, QString b) {
        if (b < a)
            std::swap(a, b);
        return folder + "/" + a + "|" + b;
    };
    for (const QByteArray &line : manifest.readAll().split('\n')) {
        const QStringList fields = QString::fromUtf8(line).split('\t');
        if (fields.size() < 3)
            continue;
        const QStringList properties = fields[2].split(';');
        for (const QString &property : properties) {
            if (property.startsWith("duplicate-of=") && !fields[2].contains("edit=") && property != "duplicate-of=none") {
                const QString folder = fields[0].section('/', 0, 0);
                expected.insert(pairKey(folder, fields[0].section('/', 1), property.section('=', 1)));
            }
        }
    }
    ASSERT_EQ(expected.size(), 4);

    QSet<QString> found;
    const QDir corpus(TestData::corpusDir());
    for (const QString &folder : corpus.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString path = corpus.filePath(folder);
        CleanupScanner s(path, makeUnits(FolderModel::listFolder(path).value_or(QList<ImageItem>{})), false);
        s.setMeasure([](const CleanupUnit &) { return std::optional<CleanupMetrics>(); });
        QEventLoop loop;
        s.onFinish = [&] { loop.quit(); };
        s.start();
        loop.exec();
        const CleanupResult result = buildCleanupResult(s.units, s);
        for (const CleanupGroup &group : result.groups.at(CleanupCategory::duplicate)) {
            for (const CleanupUnit &unit : group.units) {
                if (unit.primary != *group.keeper)
                    found.insert(pairKey(folder, QFileInfo(*group.keeper).fileName(), QFileInfo(unit.primary).fileName()));
            }
        }
    }
    EXPECT_EQ(found, expected);
}

namespace {

// A photo of `side` x 3/4 `side` pixels, plain grey, with `face` pasted in at its own
// size, written as a JPEG into `dir`; the unit that measures it.
CleanupUnit photoWithFace(const QTemporaryDir &dir, const QString &face, int side)
{
    QImage photo(side, side * 3 / 4, QImage::Format_RGB32);
    photo.fill(QColor(90, 90, 90));
    QPainter painter(&photo);
    painter.drawImage(QPointF(side * 0.4, side * 0.25), QImage(face));
    painter.end();
    const QString path = dir.filePath(QFileInfo(face).completeBaseName() + QString::number(side) + ".jpg");
    EXPECT_TRUE(photo.save(path, "JPEG", 92));
    return CleanupUnit{path, {}, QFileInfo(path).size(), QFileInfo(path).lastModified()};
}

} // namespace

// A face with eyes of about 35 px in a photo of 3600 px: at the analysis scale its eyes
// are too small to judge, on the photo decoded at twice that they are judged. The
// same face in a photo that holds no more than the analysis scale stays unjudged.
TEST(ComputeMetrics, JudgesSmallFacesOnALargerDecode)
{
    testApplication();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const char *name : {"faces/050.jpg", "portraits/079.jpg"}) {
        SCOPED_TRACE(name);
        const QString face = QStringLiteral(GLANTO_SOURCE_DIR "/tests/data/") + QLatin1String(name);
        const std::optional<CleanupMetrics> large = computeMetrics(photoWithFace(dir, face, 3600));
        ASSERT_TRUE(large);
        EXPECT_EQ(large->faceCount, 1);
        EXPECT_EQ(large->eyeOpenness.size(), 1);
        EXPECT_TRUE(large->closedFaces.isEmpty());

        const QImage reduced = QImage(face).scaled(QImage(face).size() * 0.35, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        const QString small = dir.filePath(QFileInfo(face).completeBaseName() + "-small.png");
        ASSERT_TRUE(reduced.save(small));
        const std::optional<CleanupMetrics> scaleOnly = computeMetrics(photoWithFace(dir, small, 1280));
        ASSERT_TRUE(scaleOnly);
        EXPECT_EQ(scaleOnly->faceCount, 1);
        EXPECT_TRUE(scaleOnly->eyeOpenness.isEmpty());
    }
}

// Shut faces at their own size in a photo of 3600 px are flagged: their eyes are judged
// on the larger decode.
// What chooses a burst's keeper besides the picture: the frame's stored size
// and the exposure bias the camera recorded (this one is a bracket's -0.7 EV).
TEST(ComputeMetricsCorpus, ReadsTheStoredSizeAndTheExposureBias)
{
    GLANTO_NEEDS_CORPUS();
    testApplication();
    const QString bracket = TestData::corpusDir() + QStringLiteral("/bursts/DSC08195.JPG");
    const std::optional<CleanupMetrics> m = computeMetrics(makeUnits(QVector<UnitFile>{{bracket, 0, std::nullopt}}).first());
    ASSERT_TRUE(m);
    EXPECT_EQ(m->pixelCount, 200 * 113);
    ASSERT_TRUE(m->exposureBias);
    EXPECT_FLOAT_EQ(*m->exposureBias, -0.7f);
    EXPECT_EQ(QDateTime::fromSecsSinceEpoch(qint64(m->captureDate), Qt::UTC).toString("yyyy-MM-dd HH:mm:ss"),
              "2019-02-09 00:31:42");
}

TEST(ComputeMetricsCorpus, FlagsSmallShutFacesOnALargerDecode)
{
    GLANTO_NEEDS_CORPUS();
    testApplication();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const char *name : {"faces-closed/closed_eye_1044.jpg_face_1.jpg", "faces-closed/closed_eye_2259.jpg_face_1.jpg"}) {
        SCOPED_TRACE(name);
        const std::optional<CleanupMetrics> m = computeMetrics(photoWithFace(dir, TestData::corpusDir() + u'/' + QLatin1String(name), 3600));
        ASSERT_TRUE(m);
        EXPECT_EQ(m->eyeOpenness.size(), 1);
        EXPECT_EQ(m->closedFaces.size(), 1);
    }
}

// A shut face whose eyes are about 20 px at the analysis scale is judged there without
// the edges' balance and left open; the photo decoded half as large again shows eyes of
// 30 px, judged in full, and flags it. The same face in a photo no larger than the
// analysis scale keeps the analysis scale's verdict.
TEST(ComputeMetricsCorpus, JudgesNarrowEyesInFullOnALargerDecode)
{
    GLANTO_NEEDS_CORPUS();
    testApplication();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString face = TestData::corpusDir() + QStringLiteral("/faces-closed/closed_eye_0032.jpg_face_1.jpg");
    constexpr int side = 4300;
    const std::optional<CleanupMetrics> large = computeMetrics(photoWithFace(dir, face, side));
    ASSERT_TRUE(large);
    EXPECT_EQ(large->faceCount, 1);
    EXPECT_EQ(large->eyeOpenness.size(), 1);
    EXPECT_EQ(large->closedFaces.size(), 1);

    const QImage reduced = QImage(face).scaled(QImage(face).size() * (1280.0 / side), Qt::KeepAspectRatio,
                                               Qt::SmoothTransformation);
    const QString small = dir.filePath("0032-small.png");
    ASSERT_TRUE(reduced.save(small));
    const std::optional<CleanupMetrics> scaleOnly = computeMetrics(photoWithFace(dir, small, 1280));
    ASSERT_TRUE(scaleOnly);
    EXPECT_EQ(scaleOnly->eyeOpenness.size(), 1);
    EXPECT_TRUE(scaleOnly->closedFaces.isEmpty());
}

TEST(FileDigest, MatchesSha256AcrossChunkBoundaries)
{
    QTemporaryDir dir;
    const QString small = dir.filePath("abc");
    writeFile(small, "abc");
    EXPECT_EQ(fileDigest(small), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

    QByteArray big(3 * 1024 * 1024 + 5, '\0');
    for (qsizetype i = 0; i < big.size(); ++i)
        big[i] = char((i * 2654435761u) >> 13);
    const QString large = dir.filePath("large");
    writeFile(large, big);
    EXPECT_EQ(fileDigest(large), QString(QCryptographicHash::hash(big, QCryptographicHash::Sha256).toHex()));

    const QString empty = dir.filePath("empty");
    writeFile(empty, "");
    EXPECT_EQ(fileDigest(empty), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_FALSE(fileDigest(dir.filePath("missing")).has_value());
    // A folder named like a photo opens, but has no digest: two of them must not
    // pass for identical files.
    EXPECT_FALSE(fileDigest(dir.path()).has_value());
}
