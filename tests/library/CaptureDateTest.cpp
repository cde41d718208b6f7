#include "library/CaptureDate.h"
#include "library/FolderModel.h"
#include "platform/Metadata.h"
#include "TestData.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <QTextStream>

#include <exiv2/exiv2.hpp>
#include <gtest/gtest.h>

#include <time.h>

#include <sys/stat.h>

#include <algorithm>
#include <thread>
#include <vector>

// The test runs with TZ=GLT-8 (eight hours east of UTC, no daylight saving):
// a camera's clock reading must come out as it was written all the same, and
// a file time as the local clock showed it.

namespace {


struct ManifestRow {
    QString path;
    QMap<QString, QString> properties;
};

// manifest.tsv: path, purpose, properties (key=value;...), source, notes.
QList<ManifestRow> manifestRows(const QStringList &folders)
{
    QList<ManifestRow> rows;
    QFile file(TestData::corpusDir() + "/manifest.tsv");
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return rows;
    QTextStream in(&file);
    in.readLine();
    while (!in.atEnd()) {
        const QStringList fields = in.readLine().split(u'\t');
        if (fields.size() < 3 || !folders.contains(fields[0].section(u'/', 0, 0)))
            continue;
        ManifestRow row{TestData::corpusDir() + "/" + fields[0], {}};
        for (const QString &property : fields[2].split(u';')) {
            const qsizetype equals = property.indexOf(u'=');
            if (equals > 0)
                row.properties.insert(property.left(equals), property.mid(equals + 1));
        }
        rows.append(row);
    }
    return rows;
}

QDateTime utc(int y, int mo, int d, int h, int mi, int s)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::UTC);
}

// Writes the given EXIF strings into a copy of a plain JPEG.
QDateTime wholeSeconds(const QDateTime &date)
{
    return date.addMSecs(-date.time().msec());
}

QString jpegWithDates(const QTemporaryDir &dir, const QString &name,
                      const std::vector<std::pair<std::string, std::string>> &tags)
{
    const QString path = dir.filePath(name);
    EXPECT_TRUE(QFile::copy(TestData::photo("formats/hopper.jpg"), path));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    Metadata::initialize();
    auto image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
    image->readMetadata();
    Exiv2::ExifData exif;
    Exiv2::XmpData xmp;
    for (const auto &[key, value] : tags) {
        if (key.rfind("Xmp.", 0) == 0)
            xmp[key] = value;
        else
            exif[key] = value;
    }
    image->setExifData(exif);
    image->setXmpData(xmp);
    image->writeMetadata();
    return path;
}

// First in the file, so that exiv2's one-time set-up happens under contention.
TEST(CaptureDateCorpus, ReadsConcurrentlyFromManyThreads)
{
    GLANTO_NEEDS_CORPUS();
    QStringList paths;
    for (const ManifestRow &row : manifestRows({"exif", "raw"}))
        paths << row.path;
    ASSERT_GE(paths.size(), 40);

    constexpr int threadCount = 8;
    std::vector<std::vector<std::optional<QDateTime>>> results(threadCount);
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([&, t] {
            for (qsizetype i = 0; i < paths.size(); ++i)
                results[t].push_back(readCaptureDate(paths[(i + t * 7) % paths.size()]));
        });
    }
    for (std::thread &thread : threads)
        thread.join();

    for (int t = 0; t < threadCount; ++t) {
        for (qsizetype i = 0; i < paths.size(); ++i) {
            const QString &path = paths[(i + t * 7) % paths.size()];
            EXPECT_EQ(results[t][i], readCaptureDate(path)) << qPrintable(path);
        }
    }
}

TEST(CaptureDateCorpus, CameraFilesGiveTheirOriginalCaptureTime)
{
    GLANTO_NEEDS_CORPUS();
    int checked = 0;
    for (const ManifestRow &row : manifestRows({"exif", "raw", "formats"})) {
        const auto truth = row.properties.value("datetime_original");
        if (truth.isEmpty())
            continue;
        const auto expected = parseExifDateTime(truth);
        ASSERT_TRUE(expected) << qPrintable(truth);
        // The manifest gives whole seconds; many cameras add sub-seconds.
        const auto read = readCaptureDate(row.path);
        ASSERT_TRUE(read) << qPrintable(row.path);
        EXPECT_EQ(wholeSeconds(*read), expected) << qPrintable(row.path);
        EXPECT_EQ(wholeSeconds(FolderModel::captureDate(row.path, distantPast())), *expected) << qPrintable(row.path);
        ++checked;
    }
    // JPEGs of twenty-odd cameras, three HEICs, and the RAW formats.
    EXPECT_GE(checked, 45);

    // Spot checks that the clock reading is not moved by the zone (UTC+8).
    EXPECT_EQ(readCaptureDate(TestData::photo("exif/Canon_40D.jpg")), utc(2008, 5, 30, 15, 56, 1));
    // With the sub-seconds the camera wrote: "054" and "92".
    EXPECT_EQ(readCaptureDate(TestData::photo("exif/IMG_5195.HEIC")), utc(2021, 4, 11, 15, 47, 53).addMSecs(54));
    EXPECT_EQ(readCaptureDate(TestData::photo("raw/Canon-R6-pruned.CR3")), utc(2021, 5, 12, 12, 21, 21).addMSecs(920));
    // A Photoshop export that kept only the TIFF DateTime.
    EXPECT_EQ(readCaptureDate(TestData::photo("exif/Canon_40D_photoshop_import.jpg")), utc(2008, 7, 31, 10, 5, 49));
}

TEST(CaptureDateTest, ACameraFileGivesItsOriginalCaptureTimeAsItsClockRead)
{
    EXPECT_EQ(readCaptureDate(TestData::photo("exif/Canon EOS 7D.jpg")), utc(2010, 12, 12, 12, 41, 35));
    EXPECT_EQ(FolderModel::captureDate(TestData::photo("exif/Canon EOS 7D.jpg"), distantPast()),
              utc(2010, 12, 12, 12, 41, 35));
}

TEST(CaptureDateTest, FallsBackFromOriginalToDigitizedToDateTime)
{
    QTemporaryDir dir;
    const QString all = jpegWithDates(dir, "all.jpg",
                                      {{Metadata::dateTimeOriginalKey, "2001:01:01 10:00:00"},
                                       {Metadata::dateTimeDigitizedKey, "2002:02:02 10:00:00"},
                                       {Metadata::dateTimeKey, "2003:03:03 10:00:00"}});
    const QString digitized = jpegWithDates(dir, "digitized.jpg",
                                            {{Metadata::dateTimeDigitizedKey, "2002:02:02 10:00:00"},
                                             {Metadata::dateTimeKey, "2003:03:03 10:00:00"}});
    const QString only = jpegWithDates(dir, "only.jpg", {{Metadata::dateTimeKey, "2003:03:03 10:00:00"}});
    // A camera whose clock was never set writes zeros.
    const QString zeros = jpegWithDates(dir, "zeros.jpg",
                                        {{Metadata::dateTimeOriginalKey, "0000:00:00 00:00:00"},
                                         {Metadata::dateTimeKey, "2003:03:03 10:00:00"}});
    const QString none = jpegWithDates(dir, "none.jpg", {{"Exif.Image.Make", "Nobody"}});

    EXPECT_EQ(readCaptureDate(all), utc(2001, 1, 1, 10, 0, 0));
    EXPECT_EQ(readCaptureDate(digitized), utc(2002, 2, 2, 10, 0, 0));
    EXPECT_EQ(readCaptureDate(only), utc(2003, 3, 3, 10, 0, 0));
    EXPECT_EQ(readCaptureDate(zeros), utc(2003, 3, 3, 10, 0, 0));
    EXPECT_FALSE(readCaptureDate(none));

    const auto strings = Metadata::readCaptureDateStrings(digitized);
    ASSERT_TRUE(strings);
    EXPECT_FALSE(strings->dateTimeOriginal);
    EXPECT_EQ(strings->dateTimeDigitized, "2002:02:02 10:00:00");
    EXPECT_EQ(strings->dateTime, "2003:03:03 10:00:00");
}

TEST(CaptureDateTest, FilesWithoutADateGiveTheFallbackElseTheDistantPast)
{
    // A file time is a moment: it joins the readings as the local clock showed it.
    const QDateTime fallback = utc(2020, 1, 2, 3, 4, 5);
    EXPECT_EQ(clockReading(fallback), utc(2020, 1, 2, 11, 4, 5));
    for (const char *name : {"exif/exif.png", "exif/icc_profile.png", "formats/hopper.gif"}) {
        EXPECT_FALSE(readCaptureDate(TestData::photo(QLatin1String(name)))) << name;
        EXPECT_EQ(captureDate(TestData::photo(QLatin1String(name)), fallback), clockReading(fallback)) << name;
        EXPECT_EQ(captureDate(TestData::photo(QLatin1String(name))), distantPast()) << name;
    }
    EXPECT_LT(distantPast(), QDateTime::fromSecsSinceEpoch(-62'000'000'000LL, Qt::UTC));
}

TEST(CaptureDateCorpus, CameraFilesWithoutADateGiveTheFallback)
{
    GLANTO_NEEDS_CORPUS();
    const QDateTime fallback = utc(2020, 1, 2, 3, 4, 5);
    for (const char *name : {"exif/Reconyx_HC500_Hyperfire.jpg", "raw/CanonRaw.cr3"}) {
        EXPECT_FALSE(readCaptureDate(TestData::photo(QLatin1String(name)))) << name;
        EXPECT_EQ(captureDate(TestData::photo(QLatin1String(name)), fallback), clockReading(fallback)) << name;
    }
}

TEST(CaptureDateCorpus, DamagedFilesGiveNothingOrTheirSurvivingTime)
{
    GLANTO_NEEDS_CORPUS();
    // Every damaged file of the corpus: no crash, and where the manifest
    // records a capture time that survived the damage, that time.
    const auto rows = manifestRows({"bad"});
    ASSERT_FALSE(rows.isEmpty());
    for (const ManifestRow &row : rows) {
        const auto date = readCaptureDate(row.path);
        const QString truth = row.properties.value("datetime_original");
        if (date && !truth.isEmpty()) {
            EXPECT_EQ(wholeSeconds(*date), parseExifDateTime(truth)) << qPrintable(row.path);
        }
        Metadata::readMetadata(row.path);
    }
}

TEST(CaptureDateTest, OddFilesGiveNothingAndNeverHang)
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath("pipe.jpg");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_FALSE(Metadata::readMetadata(fifo));
    EXPECT_EQ(captureDate(fifo, utc(2000, 1, 1, 0, 0, 0)), utc(2000, 1, 1, 8, 0, 0));

    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.png"));
    EXPECT_FALSE(Metadata::readMetadata(dir.filePath("folder.png")));
    EXPECT_FALSE(Metadata::readMetadata(dir.filePath("missing.jpg")));
    EXPECT_FALSE(Metadata::readMetadata(QString()));

    QFile empty(dir.filePath("empty.jpg"));
    ASSERT_TRUE(empty.open(QIODevice::WriteOnly));
    empty.close();
    EXPECT_FALSE(Metadata::readMetadata(empty.fileName()));

    QFile text(dir.filePath("text.jpg"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("this is not a picture\n");
    text.close();
    EXPECT_FALSE(Metadata::readMetadata(text.fileName()));
    EXPECT_FALSE(readCaptureDate(text.fileName()));

    // A path that looks like a web address is only ever a local file name.
    EXPECT_FALSE(Metadata::readMetadata(QStringLiteral("http://127.0.0.1:9/photo.jpg")));
}

TEST(CaptureDateTest, ParsesOnlyTheExifLayout)
{
    EXPECT_EQ(parseExifDateTime("2008:05:30 15:56:01"), utc(2008, 5, 30, 15, 56, 1));
    EXPECT_EQ(parseExifDateTime("  2008:05:30 15:56:01 "), utc(2008, 5, 30, 15, 56, 1));
    EXPECT_EQ(parseExifDateTime(QString("2008:05:30 15:56:01") + QChar(0) + QChar(0)), utc(2008, 5, 30, 15, 56, 1));
    EXPECT_EQ(parseExifDateTime("2000:02:29 00:00:00"), utc(2000, 2, 29, 0, 0, 0));
    for (const char *bad : {"", "0000:00:00 00:00:00", "    :  :     :  :  ", "2008-05-30 15:56:01",
                            "2008:05:30T15:56:01", "2008:13:01 00:00:00", "2001:02:29 00:00:00",
                            "2008:05:30 24:00:00", "2008:05:30 15:56", "2008:05:30 15:56:01.5",
                            "２008:05:30 15:56:01", "-008:05:30 15:56:01", "2008:5:30 15:56:01"})
        EXPECT_FALSE(parseExifDateTime(QString::fromUtf8(bad))) << bad;
}

// Summer time, in either direction, does not move a camera's clock: the hour
// a spring change skips is a reading like any other, between the readings
// around it, and the hour an autumn change repeats keeps the order written.
TEST(CaptureDateTest, ClockChangesAndTheZoneDoNotMoveReadings)
{
    const QByteArray zone = qgetenv("TZ");
    for (const char *rule : {"CET-1CEST,M3.5.0,M10.5.0/3", "EST5EDT,M3.2.0,M11.1.0"}) {
        qputenv("TZ", rule);
        ::tzset();
        for (const char *day : {"2024:03:31", "2024:03:10", "2024:10:27", "2024:11:03"}) {
            QList<QDateTime> readings;
            for (const char *time : {"01:59:59", "02:30:00", "03:00:02"}) {
                const auto reading = parseExifDateTime(QStringLiteral("%1 %2").arg(QLatin1String(day), QLatin1String(time)));
                ASSERT_TRUE(reading) << rule << ' ' << day << ' ' << time;
                readings << *reading;
            }
            EXPECT_TRUE(std::is_sorted(readings.cbegin(), readings.cend())) << rule << ' ' << day;
            EXPECT_EQ(readings[1].time(), QTime(2, 30)) << rule << ' ' << day;
        }
    }
    qputenv("TZ", zone);
    ::tzset();
    EXPECT_EQ(parseExifDateTime("2008:05:30 15:56:01"), utc(2008, 5, 30, 15, 56, 1));
}

// Sub-seconds order the frames of one second; XMP dates count when EXIF has
// none, before the TIFF DateTime (the time of the last change).
TEST(CaptureDateTest, SubSecondsAndXmpDatesAreRead)
{
    QTemporaryDir dir;
    const QString burst = jpegWithDates(dir, "burst.jpg",
                                        {{Metadata::dateTimeOriginalKey, "2024:05:01 10:00:00"},
                                         {"Exif.Photo.SubSecTimeOriginal", "75"},
                                         {"Exif.Photo.SubSecTime", "5"}});
    const QString xmpOnly = jpegWithDates(dir, "xmp.jpg",
                                          {{"Xmp.exif.DateTimeOriginal", "2025-06-15T10:00:00.25+09:00"},
                                           {Metadata::dateTimeKey, "2026:01:01 00:00:00"}});
    const QString created = jpegWithDates(dir, "created.jpg", {{"Xmp.photoshop.DateCreated", "2025-06-14"}});
    EXPECT_EQ(readCaptureDate(burst), utc(2024, 5, 1, 10, 0, 0).addMSecs(750));
    EXPECT_EQ(readCaptureDate(xmpOnly), utc(2025, 6, 15, 10, 0, 0).addMSecs(250));
    EXPECT_EQ(readCaptureDate(created), utc(2025, 6, 14, 0, 0, 0));

    EXPECT_EQ(parseXmpDateTime("2025-06-15T10:00"), utc(2025, 6, 15, 10, 0, 0));
    EXPECT_EQ(parseXmpDateTime("2025-06-15T10:00:07Z"), utc(2025, 6, 15, 10, 0, 7));
    EXPECT_EQ(parseXmpDateTime("2025-06-15T23:59:59-05:00"), utc(2025, 6, 15, 23, 59, 59));
    for (const char *bad : {"", "2025", "2025-06", "2025-02-30", "2025-06-15 10:00", "2025-06-15T25:00",
                            "2025-06-15T10:00:00 junk", "2025:06:15 10:00:00"})
        EXPECT_FALSE(parseXmpDateTime(QString::fromUtf8(bad))) << bad;
}

TEST(MetadataTest, ReadsExifAndXmpTagsAsText)
{
    const auto canon = Metadata::readMetadata(TestData::photo("exif/Canon EOS 7D.jpg"));
    ASSERT_TRUE(canon);
    EXPECT_EQ(canon->value("Exif.Image.Make"), "Canon");
    EXPECT_EQ(canon->value("Exif.Image.Model"), "Canon EOS 7D");
    EXPECT_EQ(canon->value("Xmp.xmp.Rating"), "3");
    EXPECT_EQ(canon->firstOf({"Exif.Photo.NoSuchTag", Metadata::dateTimeOriginalKey}), "2010:12:12 12:41:35");
    // The maker note blob is too large to be text anyone reads.
    for (auto it = canon->values.cbegin(); it != canon->values.cend(); ++it)
        EXPECT_LE(it.value().size(), 4 * 64 * 1024) << qPrintable(it.key());

    // A picture without metadata parses to an empty set, not to nothing.
    const auto plain = Metadata::readMetadata(TestData::photo("formats/hopper.gif"));
    ASSERT_TRUE(plain);
    EXPECT_TRUE(plain->isEmpty());

    // Unknown key names are simply absent.
    const auto odd = Metadata::readMetadata(TestData::photo("exif/Canon EOS 7D.jpg"),
                                            {"Exif.Nowhere.Thing", "Xmp.nobody.Rating", "Iptc.Bad.Key", "Exif.Image.Make"});
    ASSERT_TRUE(odd);
    EXPECT_EQ(odd->values.size(), 1);
}

TEST(MetadataCorpus, EveryCameraFileGivesItsMakeAndModel)
{
    GLANTO_NEEDS_CORPUS();
    // HEIF and CR3 metadata need exiv2's BMFF support switched on.
    const auto iphone = Metadata::readMetadata(TestData::photo("exif/IMG_5195.HEIC"));
    ASSERT_TRUE(iphone);
    EXPECT_EQ(iphone->value("Exif.Image.Model"), "iPhone 11 Pro Max");

    // Make and model of every camera file, as the manifest records them.
    for (const ManifestRow &row : manifestRows({"exif", "raw"})) {
        const QString make = row.properties.value("make");
        if (make.isEmpty() || row.path.endsWith("CanonRaw.cr3"))
            continue;
        const auto tags = Metadata::readMetadata(row.path, {"Exif.Image.Make", "Exif.Image.Model", "Bogus.Key"});
        ASSERT_TRUE(tags) << qPrintable(row.path);
        EXPECT_EQ(tags->value("Exif.Image.Make").value_or(QString()).trimmed(), make) << qPrintable(row.path);
        EXPECT_FALSE(tags->value("Bogus.Key"));
    }
}

} // namespace

// Photos whose XMP uses namespaces the process has not met yet, read on many
// threads at once: every packet is read whole. (exiv2 registers a namespace
// when it first meets it, and two packets parsed at once could come back
// empty, losing what a rotation or a copy carries over.)
TEST(MetadataTest, XmpIsReadWholeOnManyThreadsAtOnce)
{
    QTemporaryDir dir;
    QFile source(TestData::photo("formats/hopper.jpg"));
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    const QByteArray jpeg = source.readAll();
    constexpr int threadCount = 8;
    constexpr int perThread = 12;
    QStringList paths;
    for (int i = 0; i < threadCount * perThread; ++i) {
        const QByteArray packet =
            QStringLiteral("<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
                           "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description "
                           "rdf:about=\"\" xmlns:t%1=\"http://example.org/glanto-test/%1/\" t%1:v=\"%1\" "
                           "xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" xmp:Rating=\"3\"/></rdf:RDF></x:xmpmeta>")
                .arg(i)
                .toUtf8();
        const QByteArray body = QByteArray("http://ns.adobe.com/xap/1.0/", 29) + packet;
        const qsizetype length = body.size() + 2;
        QByteArray bytes = jpeg.left(2) + QByteArray("\xff\xe1", 2) + char(length >> 8) + char(length & 0xff) + body
                           + jpeg.mid(2);
        const QString path = dir.filePath(QStringLiteral("%1.jpg").arg(i));
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(bytes);
        paths << path;
    }
    std::vector<int> whole(threadCount, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([&, t] {
            for (int k = 0; k < perThread; ++k) {
                const int i = k * threadCount + t;
                const auto tags = Metadata::readMetadata(paths[i]);
                if (tags && tags->value(QStringLiteral("Xmp.xmp.Rating")) == QStringLiteral("3"))
                    ++whole[t];
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    for (int t = 0; t < threadCount; ++t)
        EXPECT_EQ(whole[t], perThread) << "thread " << t;
}
