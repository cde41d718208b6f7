// The information panel's summary lines: formatting rules on synthetic values and
// the whole function over camera files from the corpus.

#include "viewer/ExifSummary.h"

#include "settings/Texts.h"
#include "TestData.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

namespace {

QString corpus(const char *relative)
{
    return TestData::photo(QLatin1String(relative));
}

QString valueOf(const QList<ExifEntry> &lines, const char *key)
{
    for (const ExifEntry &e : lines) {
        if (e.label == Texts::text(key))
            return e.value;
    }
    return {};
}

QList<ExifEntry> summaryOf(ExifSummaryInput in)
{
    return exifSummary(in);
}

} // namespace

TEST(ExifSummary, CameraLineJoinsMakeAndModelUnlessTheModelSaysIt)
{
    auto camera = [](const char *make, const char *model) {
        ExifSummaryInput in;
        in.make = make;
        in.model = model;
        return valueOf(summaryOf(in), "exif.camera");
    };
    EXPECT_EQ(camera("NIKON CORPORATION", "NIKON Z 6"), "NIKON CORPORATION NIKON Z 6");
    EXPECT_EQ(camera("Apple", "iPhone 15 Pro"), "Apple iPhone 15 Pro");
    EXPECT_EQ(camera("Canon", "Canon EOS R5"), "Canon EOS R5");
    EXPECT_EQ(camera("", "X100V"), "X100V");
    EXPECT_EQ(camera("Canon", ""), "");
}

TEST(ExifSummary, ShootingParametersAndBias)
{
    auto params = [](const char *t, const char *f, const char *iso, const char *mm) {
        ExifSummaryInput in;
        in.exposureTime = t;
        in.fNumber = f;
        in.isoSpeedRatings = iso;
        in.focalLength = mm;
        return valueOf(summaryOf(in), "exif.params");
    };
    EXPECT_EQ(params("1/250", "28/10", "400", "35/1"), QString::fromUtf8("1/250 s · ƒ/2.8 · ISO 400 · 35 mm"));
    EXPECT_EQ(params("333/1000", "", "", ""), "1/3 s");
    EXPECT_EQ(params("13/10", "", "", ""), "1.3 s");
    // Slow times that no fraction 1/n names read as decimals.
    EXPECT_EQ(params("8/10", "", "", ""), "0.8 s");
    EXPECT_EQ(params("6/10", "", "", ""), "0.6 s");
    EXPECT_EQ(params("4/10", "", "", ""), "0.4 s");
    EXPECT_EQ(params("3/10", "", "", ""), "0.3 s");
    EXPECT_EQ(params("1/2", "", "", ""), "1/2 s");
    EXPECT_EQ(params("96/100", "", "", ""), "1.0 s");
    EXPECT_EQ(params("33333/1000000", "", "", ""), "1/30 s");
    EXPECT_EQ(params("2", "", "", ""), "2.0 s");
    EXPECT_EQ(params("0/1", "", "", ""), "");
    EXPECT_EQ(params("", "", "100", ""), "ISO 100");
    EXPECT_EQ(params("", "", "n/a", ""), "");
    EXPECT_EQ(params("1/0", "0/0", "", "0/1"), "");

    auto bias = [](const char *b) {
        ExifSummaryInput in;
        in.exposureBias = b;
        return valueOf(summaryOf(in), "exif.bias");
    };
    EXPECT_EQ(bias("0/1"), "");
    EXPECT_EQ(bias("-33/100"), "-0.3 EV");
    EXPECT_EQ(bias("67/100"), "+0.7 EV");
    EXPECT_EQ(bias("-1/1"), "-1.0 EV");
}

TEST(ExifSummary, DatesSizesAndFileLine)
{
    ExifSummaryInput in;
    in.dateTimeOriginal = "2024:05:01 18:30:59";
    in.pixelSize = QSize(6000, 4000);
    in.profileName = "Display P3";
    in.fileName = "IMG_0001.JPG";
    in.fileSize = 4'200'000;
    const auto lines = summaryOf(in);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines[0], (ExifEntry{Texts::text("exif.date"), "2024-05-01 18:30"}));
    EXPECT_EQ(lines[1].value, QString::fromUtf8("6000 × 4000"));
    EXPECT_EQ(lines[2].value, "Display P3");
    EXPECT_EQ(lines[3].value, QString::fromUtf8("IMG_0001.JPG · 4.2\u00a0MB"));

    in.dateTimeOriginal = "2024-05-01";
    EXPECT_EQ(valueOf(summaryOf(in), "exif.date"), "2024-05-01");
    // A camera without a clock writes zeros: no date rather than the zeros.
    in.dateTimeOriginal = "0000:00:00 00:00:00";
    EXPECT_EQ(valueOf(summaryOf(in), "exif.date"), QString());
    // The date the photos are sorted by is the one shown, as the camera's
    // clock read it, whatever the time zone (here in the hour a spring change skips).
    in.captureDate = QDateTime(QDate(2026, 3, 8), QTime(2, 30, 0), Qt::UTC);
    EXPECT_EQ(valueOf(summaryOf(in), "exif.date"), "2026-03-08 02:30");
    in.captureDate.reset();
    in.dateTimeOriginal = "2024:05:01 18:30:59";
    in.fileSize.reset(); // attributes unreadable: stop before the file line
    EXPECT_EQ(summaryOf(in).size(), 3);

    // The one word is in the language of the program's texts.
    const QString language = Texts::language();
    Texts::setLanguage(QStringLiteral("en"));
    EXPECT_EQ(Texts::byteCount(512), QString::fromUtf8("512\u00a0bytes"));
    Texts::setLanguage(QStringLiteral("zh"));
    EXPECT_EQ(Texts::byteCount(512), QString::fromUtf8("512\u00a0字节"));
    Texts::setLanguage(language);
    EXPECT_EQ(Texts::byteCount(1'234), QString::fromUtf8("1.2\u00a0KB"));
    EXPECT_EQ(Texts::byteCount(4'000'000), QString::fromUtf8("4\u00a0MB"));
    EXPECT_EQ(Texts::byteCount(999'960), QString::fromUtf8("1\u00a0MB"));
    EXPECT_EQ(Texts::byteCount(2'500'000'000), QString::fromUtf8("2.5\u00a0GB"));
}

TEST(ExifSummary, ACameraFile)
{
    const auto canon = exifSummary(corpus("exif/Canon EOS 7D.jpg"));
    EXPECT_EQ(valueOf(canon, "exif.camera"), "Canon EOS 7D");
    EXPECT_EQ(valueOf(canon, "exif.size"), QString::fromUtf8("600 × 900"));
    EXPECT_EQ(valueOf(canon, "exif.profile"), "Adobe RGB (1998)");
    EXPECT_EQ(valueOf(canon, "exif.date"), "2010-12-12 12:41");
    EXPECT_TRUE(valueOf(canon, "exif.file").startsWith(QString::fromUtf8("Canon EOS 7D.jpg · ")));
    ASSERT_FALSE(canon.isEmpty());
    EXPECT_EQ(canon.first().label, Texts::text("exif.camera"));
    EXPECT_EQ(canon.last().label, Texts::text("exif.file"));
}

TEST(ExifSummaryCorpus, CameraFilesFromTheCorpus)
{
    GLANTO_NEEDS_CORPUS();
    const auto nikon = exifSummary(corpus("exif/Nikon D70.jpg"));
    EXPECT_EQ(valueOf(nikon, "exif.camera"), "NIKON CORPORATION NIKON D70");
    EXPECT_FALSE(valueOf(nikon, "exif.params").isEmpty());

    const auto iphone = exifSummary(corpus("exif/Issue 177.jpg"));
    EXPECT_EQ(valueOf(iphone, "exif.camera"), "Apple iPhone 5s");
    EXPECT_EQ(valueOf(iphone, "exif.lens"), "iPhone 5s back camera 4.15mm f/2.2");

    const auto heic = exifSummary(corpus("exif/IMG_5195.HEIC"));
    EXPECT_EQ(valueOf(heic, "exif.camera"), "Apple iPhone 11 Pro Max");

    const auto jxl = exifSummary(corpus("formats/Reagan.jxl"));
    EXPECT_EQ(valueOf(jxl, "exif.size"), QString::fromUtf8("200 × 130"));
}

TEST(ExifSummary, FilesWithoutExifStillShowWhatTheyHave)
{
    const auto png = exifSummary(corpus("formats/hopper.png"));
    ASSERT_EQ(png.size(), 2);
    EXPECT_EQ(png[0].value, QString::fromUtf8("128 × 128"));
    EXPECT_TRUE(png[1].value.startsWith(QString::fromUtf8("hopper.png · ")));

    const auto tagged = exifSummary(corpus("formats/big-endian.tiff"));
    EXPECT_EQ(valueOf(tagged, "exif.profile"), "Generic RGB Profile");

    QTemporaryDir dir;
    const QString text = dir.filePath("notes.jpg");
    QFile f(text);
    f.open(QIODevice::WriteOnly);
    f.write("not an image");
    f.close();
    EXPECT_TRUE(exifSummary(text).isEmpty());
    EXPECT_TRUE(exifSummary(dir.filePath("gone.jpg")).isEmpty());
}
