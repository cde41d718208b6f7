#include "cleanup/CleanupReport.h"

#include "cleanup/CleanupScanner.h"
#include "cleanup/CleanupUnits.h"
#include "cleanup/ImageMeasures.h"

#include "TestApplication.h"
#include "TestData.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimeZone>

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

// The report's golden files live in tests/data/cleanup. Their numbers come from
// the real decoder and analysis, so a deliberate change there refreshes them
// with tests/cleanup/update-report-goldens.sh (GLANTO_UPDATE_GOLDENS=1), and
// the diff is reviewed like code.

namespace {

// Copies corpus files into the folder under new names, each with a fixed
// modification time (one minute apart from 2024-05-01 12:00 UTC), so that
// photos without EXIF dates sort and space the same on every run.
void populate(const QString &folder, const QVector<std::pair<QString, QString>> &files)
{
    const QDateTime base(QDate(2024, 5, 1), QTime(12, 0), QTimeZone::utc());
    int minute = 0;
    for (const auto &[source, name] : files) {
        const QString target = folder + "/" + name;
        ASSERT_TRUE(QFile::copy(TestData::photo(source), target)) << qPrintable(source);
        QFile file(target);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        ASSERT_TRUE(file.setFileTime(base.addSecs(60 * minute++), QFileDevice::FileModificationTime));
    }
}

// The timing line is the one part that differs between runs.
QString normalized(QString report)
{
    static const QRegularExpression timing(
        QStringLiteral("^# (\\d+) units, [0-9.]+s, [0-9]+ ms/unit \\(2 workers\\)$"),
        QRegularExpression::MultilineOption);
    return report.replace(timing, QStringLiteral("# \\1 units, <time>s, <time> ms/unit (2 workers)"));
}

void compareWithGolden(const QString &report, const QString &goldenName)
{
    const QString path = QStringLiteral(GLANTO_TEST_DATA_DIR "/cleanup/") + goldenName;
    const QString actual = normalized(report) + "\n";
    if (qEnvironmentVariableIsSet("GLANTO_UPDATE_GOLDENS")) {
        QDir().mkpath(QFileInfo(path).path());
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(actual.toUtf8());
        return;
    }
    QFile golden(path);
    ASSERT_TRUE(golden.open(QIODevice::ReadOnly)) << "missing golden " << qPrintable(path);
    const QString expected = QString::fromUtf8(golden.readAll());
    const QStringList expectedLines = expected.split('\n');
    const QStringList actualLines = actual.split('\n');
    for (qsizetype i = 0; i < std::max(expectedLines.size(), actualLines.size()); ++i) {
        const QString e = expectedLines.value(i, "<none>");
        const QString a = actualLines.value(i, "<none>");
        EXPECT_EQ(a.toStdString(), e.toStdString())
            << "line " << i + 1 << " of " << qPrintable(goldenName)
            << " (after a deliberate change of the measures: tests/cleanup/update-report-goldens.sh)";
        if (a != e)
            break;
    }
}

class ReportTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testApplication();
        ASSERT_TRUE(dir.isValid());
    }
    QTemporaryDir dir;
};

} // namespace

// The sweeps need the corpus; the other report tests run anywhere.
class ReportCorpus : public ReportTest
{
};

TEST_F(ReportCorpus, MixedFolderMatchesItsGolden)
{
    GLANTO_NEEDS_CORPUS();
    populate(dir.path(), {
        {"bursts/Issue 247-1.nef", "Issue 247-1.nef"},
        {"bursts/Issue 247-2.nef", "Issue 247-2.nef"},
        {"bursts/Issue 247-3.nef", "Issue 247-3.nef"},
        {"bursts/Issue 247-4.nef", "Issue 247-4.nef"},
        {"duplicates/Sony D700.jpg", "IMG_1.JPG"},
        {"duplicates/sony-d700.jpg", "IMG_1 copy.JPG"},
        {"sharp/106_NIKON-D3400-35MM_S.JPG", "street.JPG"},
        {"blurry/106_NIKON-D3400-35MM_M.JPG", "street motion.JPG"},
        {"faces-closed/closed_eye_0424.jpg_face_1.jpg", "closed.jpg"},
        {"faces-open/2_men.jpg", "two men.jpg"},
        {"raw/IMG_1361.dng", "pair.dng"},
        {"sharp/176_HONOR-7X_S.jpg", "pair.jpg"},
        {"bad/corrupted.jpg", "corrupted.jpg"},
    });
    const QString first = cleanupReport(dir.path());
    compareWithGolden(first, "report-mixed.txt");
    EXPECT_EQ(normalized(cleanupReport(dir.path())), normalized(first)); // identical on every run
}

TEST_F(ReportCorpus, OnePhotoHasNoNeighbours)
{
    GLANTO_NEEDS_CORPUS();
    populate(dir.path(), {{"blurry/176_HONOR-7X_F.jpg", "only.jpg"}});
    compareWithGolden(cleanupReport(dir.path()), "report-single.txt");
}

TEST_F(ReportTest, AFolderThatCannotBeListedGivesHeadersOnly)
{
    // The folder the missing one would be in holds a photo: it is not measured.
    QFile photo(dir.filePath("a.jpg"));
    ASSERT_TRUE(photo.open(QIODevice::WriteOnly));
    photo.write("not really a photo");
    photo.close();
    int error = -1;
    const QString report = normalized(cleanupReport(dir.filePath("missing"), &error));
    EXPECT_EQ(error, ENOENT); // said on the error stream by the report mode
    cleanupReport(dir.path(), &error);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(report, "file\tsharp\tfaceSharp\tfaces\topen\tclosed\tblurry\n"
                      "\n# adjacent distances\n"
                      "\n# categories\n"
                      "\n# 0 units, <time>s, <time> ms/unit (2 workers)");
}

TEST_F(ReportTest, FieldsAreFormattedAsDocumented)
{
    // Stand-in measurements exercise every field form without decoding.
    // A line feed and a tab in a name are escaped: each photo keeps one line and one field.
    const QString folder = dir.path();
    for (const char *name : {"a.jpg", "b.jpg", "c\n\t.jpg", "d.jpg"}) {
        QFile file(folder + "/" + name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(name[0] == 'd' ? "a.jpg" : name); // d.jpg is a copy of a.jpg
    }
    QVector<UnitFile> files;
    for (const char *name : {"a.jpg", "b.jpg", "c\n\t.jpg", "d.jpg"})
        files.append(UnitFile{folder + "/" + name, 5, {}});
    CleanupScanner scanner(folder, makeUnits(files), false);
    scanner.setMeasure([](const CleanupUnit &unit) -> std::optional<CleanupMetrics> {
        CleanupMetrics m;
        m.printRevision = FeaturePrint::revision();
        if (unit.primary.endsWith("a.jpg")) {
            m.captureDate = 100;
            m.sharpness = 19.96f;
            m.featurePrint = QByteArray("not a print");
        } else if (unit.primary.endsWith("b.jpg")) {
            m.captureDate = 112.4;
            m.sharpness = 250.04f;
            m.faceSharpness = 9.95f;
            m.faceCount = 3;
            m.eyeOpenness = {0.123f, 0.5f, 0.3f};
            m.eyeDarkness = {0.011f, 0.2f};
            m.closedFaces = {QRectF(0.1, 0.1, 0.1, 0.1)};
        } else if (unit.primary.endsWith("\t.jpg")) {
            return std::nullopt;
        } else {
            m.captureDate = 100;
            m.sharpness = 400;
        }
        return m;
    });
    QEventLoop loop;
    scanner.onFinish = [&] { loop.quit(); };
    scanner.start();
    loop.exec();
    EXPECT_EQ(normalized(formatCleanupReport(scanner)).toStdString(),
              "file\tsharp\tfaceSharp\tfaces\topen\tclosed\tblurry\n"
              "a.jpg\t20.0\t-\t0\t\t0\tY\n"
              "b.jpg\t250.0\t9.9\t3\t0.12/0.01,0.50/0.20\t1\tY\n"
              "c\\n\\t.jpg\tFAILED\n"
              "d.jpg\t400.0\t-\t0\t\t0\t\n"
              "\n# adjacent distances\n"
              "a.jpg -> d.jpg\t-1.000\tdt=0\n"
              "d.jpg -> b.jpg\t-1.000\tdt=12\n"
              "\n# categories\n"
              "duplicate\t[ ]*a.jpg [x]d.jpg\n"
              "closedEyes\t[x]b.jpg\n"
              "blurry\t[ ]a.jpg [x]b.jpg\n" // a.jpg keeps its copy's place: never suggested
              "\n# 4 units, <time>s, <time> ms/unit (2 workers)");
}

TEST_F(ReportTest, RunWritesTheReportAndALineFeedToStandardOutput)
{
    const QString captured = dir.filePath("stdout.txt");
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    const int fd = ::open(QFile::encodeName(captured).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    ::dup2(fd, STDOUT_FILENO);
    ::close(fd);
    const int status = runCleanupReport(dir.filePath("nothing here"));
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);

    EXPECT_EQ(status, 0);
    QFile file(captured);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    EXPECT_TRUE(text.startsWith("file\tsharp\t"));
    EXPECT_TRUE(text.endsWith(" ms/unit (2 workers)\n"));
    EXPECT_EQ(text.count('\n'), 7);
}

TEST_F(ReportTest, RunFailsWhenTheReportCannotBeWritten)
{
    // /dev/full takes nothing: every write fails with "no space left".
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    const int fd = ::open("/dev/full", O_WRONLY);
    ASSERT_GE(fd, 0);
    ::dup2(fd, STDOUT_FILENO);
    ::close(fd);
    const int status = runCleanupReport(dir.filePath("nothing here"));
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    EXPECT_NE(status, 0);
}
