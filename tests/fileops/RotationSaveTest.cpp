// Rotation save on real files: the tag path leaves the pixels as they were and
// the photo turns as the user saw it (mirrored orientations included); formats
// without a tag are re-encoded upright; what cannot be saved safely is refused
// with the file untouched.

#include "fileops/ExivEdit.h"
#include "fileops/RotationSave.h"
#include "fileops/XmpRating.h"
#include "platform/Codec.h"
#include "settings/Texts.h"

#include "FileOpsTestSupport.h"

#include <array>

#include <sys/stat.h>

using RotationSave::Result;
using RotationSave::writeRotation;

namespace {

class RotationFiles : public ::testing::Test
{
protected:
    QTemporaryDir dir;

    // Saves turns and checks the photo now shows what the view showed.
    void expectTurnedAsShown(const QString &photo, int turns, Result::Kind kind)
    {
        const QImage before = shown(photo);
        ASSERT_FALSE(before.isNull());
        const Result result = writeRotation(photo, turns);
        ASSERT_EQ(result.kind, kind) << result.reason.toStdString();
        EXPECT_EQ(shown(photo), turnedClockwise(before, turns)) << photo.toStdString() << " turns " << turns;
    }
};

} // namespace

TEST(OrientationTable, TurnsPlainAndMirroredOrientations)
{
    // A quarter turn clockwise steps each cycle on by one.
    for (const std::array<int, 4> &cycle : {std::array{1, 6, 3, 8}, std::array{2, 7, 4, 5}}) {
        for (size_t i = 0; i < 4; ++i)
            EXPECT_EQ(RotationSave::turned(cycle[i], 1), cycle[(i + 1) % 4]) << cycle[i];
    }
    EXPECT_EQ(RotationSave::turned(6, 3), 1);
    EXPECT_EQ(RotationSave::turned(1, -1), 8);
    EXPECT_EQ(RotationSave::turned(0, 1), 6);
    EXPECT_EQ(RotationSave::turned(42, 4), 1);
}

TEST_F(RotationFiles, JpegTagRoundTripKeepsThePixels)
{
    SKIP_WITHOUT_CORPUS("exif/Canon_40D.jpg");
    const QString photo = copyCorpus(dir, QStringLiteral("exif/Canon_40D.jpg"), QStringLiteral("a.jpg"));
    const QImage upright = shown(photo);
    Result result = writeRotation(photo, 1);
    ASSERT_EQ(result.kind, Result::Kind::lossless) << result.reason.toStdString();
    EXPECT_EQ(RotationSave::fileOrientation(photo), 6);
    EXPECT_EQ(shown(photo), turnedClockwise(upright, 1));
    // Three more clockwise (or one counter-clockwise): 6 → 3 → 8 → 1.
    result = writeRotation(photo, -1);
    ASSERT_EQ(result.kind, Result::Kind::lossless);
    EXPECT_EQ(RotationSave::fileOrientation(photo), 1);
    EXPECT_EQ(shown(photo), upright);
    EXPECT_EQ(folderNames(dir.path()), QStringList{QStringLiteral("a.jpg")});
}

// A camera JPEG's orientation entry is changed in place: the file keeps its
// size and differs in that entry alone, so nothing else of the EXIF block (the
// maker note above all) is rewritten.
TEST_F(RotationFiles, AnOrientationEntryIsChangedInPlace)
{
    const QString photo = dir.filePath(QStringLiteral("s.jpg"));
    ASSERT_TRUE(QFile::copy(TestData::photo(QStringLiteral("orientation/Samsung GT-I9000 (Galaxy S).jpg")), photo));
    ::chmod(QFile::encodeName(photo).constData(), 0644);
    const QByteArray before = bytesOf(photo);
    const QImage shownBefore = shown(photo);
    const Result result = writeRotation(photo, 1);
    ASSERT_EQ(result.kind, Result::Kind::lossless) << result.reason.toStdString();
    EXPECT_EQ(RotationSave::fileOrientation(photo), 3); // 6 turned a quarter clockwise
    EXPECT_EQ(shown(photo), turnedClockwise(shownBefore, 1));
    const QByteArray after = bytesOf(photo);
    ASSERT_EQ(after.size(), before.size());
    int differing = 0;
    for (qsizetype i = 0; i < after.size(); ++i)
        differing += after[i] != before[i] ? 1 : 0;
    EXPECT_GE(differing, 1);
    EXPECT_LE(differing, 2);
}

// A print workflow's CMYK profile can fill a megabyte of segments before the
// image data: the photo's size and orientation are still found, so the turn is
// saved and read back.
TEST_F(RotationFiles, APhotoWhoseProfileFillsAMegabyteTurns)
{
    const QString plain = dir.filePath("plain.jpg");
    ASSERT_TRUE(patternImage(64, 48).save(plain, "JPEG", 95));
    const QByteArray jpeg = bytesOf(plain);
    // After the start and the JFIF segment.
    ASSERT_EQ(jpeg.mid(2, 2), QByteArray("\xFF\xE0"));
    const int head = 4 + ((uchar(jpeg[4]) << 8) | uchar(jpeg[5]));
    QByteArray spliced = jpeg.left(head);
    const int chunks = 17;
    const int chunkData = 65533 - 14;
    // A profile's first four bytes give its length; the rest here is filler.
    QByteArray profile(qsizetype(chunks) * chunkData, 'p');
    for (int b = 0; b < 4; ++b)
        profile[b] = char((profile.size() >> (24 - 8 * b)) & 0xFF);
    for (int i = 1; i <= chunks; ++i) {
        QByteArray body("ICC_PROFILE", 12);
        body += char(i);
        body += char(chunks);
        body += profile.mid(qsizetype(i - 1) * chunkData, chunkData);
        const int length = int(body.size()) + 2;
        spliced += "\xFF\xE2";
        spliced += char(length >> 8);
        spliced += char(length & 0xFF);
        spliced += body;
    }
    spliced += jpeg.mid(head);
    const QString photo = dir.filePath("profiled.jpg");
    ASSERT_TRUE(writeBytes(photo, spliced));
    ASSERT_GT(spliced.size(), 1'100'000);

    const std::optional<ImageHeader> header = Codec::probe(photo);
    ASSERT_TRUE(header.has_value());
    EXPECT_EQ(header->storedSize, QSize(64, 48));
    expectTurnedAsShown(photo, 1, Result::Kind::lossless);
    EXPECT_EQ(RotationSave::fileOrientation(photo), 6);
}

TEST_F(RotationFiles, MirroredOrientationsTurnAsShown)
{
    for (int o : {2, 4, 5, 7}) {
        const QString relative = QStringLiteral("orientation/hopper_orientation_%1.jpg").arg(o);
        if (!corpusHas(relative))
            GTEST_SKIP() << "corpus missing";
        const QString photo = copyCorpus(dir, relative, QStringLiteral("m%1.jpg").arg(o));
        expectTurnedAsShown(photo, 1, Result::Kind::lossless);
        EXPECT_EQ(RotationSave::fileOrientation(photo), RotationSave::turned(o, 1));
        expectTurnedAsShown(photo, 2, Result::Kind::lossless);
    }
}

TEST_F(RotationFiles, PngGetsAnExifOrientation)
{
    const QString made = dir.filePath(QStringLiteral("made.png"));
    ASSERT_TRUE(patternImage(40, 30).save(made, "PNG"));
    expectTurnedAsShown(made, 1, Result::Kind::lossless);
    EXPECT_EQ(RotationSave::fileOrientation(made), 6);
    expectTurnedAsShown(made, 2, Result::Kind::lossless);
    EXPECT_EQ(RotationSave::fileOrientation(made), 8);
    if (corpusHas(QStringLiteral("exif/exif.png"))) {
        const QString photo = copyCorpus(dir, QStringLiteral("exif/exif.png"), QStringLiteral("e.png"));
        ASSERT_FALSE(XmpRating::writeRating(4, photo));
        expectTurnedAsShown(photo, 3, Result::Kind::lossless);
        EXPECT_EQ(XmpRating::readRating(photo), 4);
    }
}

TEST_F(RotationFiles, TiffAndDngTurnThroughTheirTag)
{
    SKIP_WITHOUT_CORPUS("formats/hopper.tif");
    const QString tiff = copyCorpus(dir, QStringLiteral("formats/hopper.tif"), QStringLiteral("t.tif"));
    expectTurnedAsShown(tiff, 1, Result::Kind::lossless);
    if (corpusHas(QStringLiteral("raw/DNG.dng"))) {
        const QString dng = copyCorpus(dir, QStringLiteral("raw/DNG.dng"), QStringLiteral("d.dng"));
        const Result result = writeRotation(dng, 2);
        ASSERT_EQ(result.kind, Result::Kind::lossless) << result.reason.toStdString();
        EXPECT_EQ(RotationSave::fileOrientation(dng), 3);
    }
}

TEST_F(RotationFiles, FormatsWithoutATagAreReencodedUpright)
{
    const QString bmp = dir.filePath(QStringLiteral("b.bmp"));
    ASSERT_TRUE(patternImage(30, 20).save(bmp, "BMP"));
    expectTurnedAsShown(bmp, 1, Result::Kind::reencoded);
    EXPECT_EQ(Codec::probe(bmp)->storedSize, QSize(20, 30));

    // A still GIF: re-encoded (its palette may differ), turned and upright.
    const QString gif = dir.filePath(QStringLiteral("g.gif"));
    if (!Codec::encode(patternImage(30, 20), gif, ImageFormat::gif))
        GTEST_SKIP() << "this libvips cannot write GIF";
    const Result result = writeRotation(gif, 3);
    ASSERT_EQ(result.kind, Result::Kind::reencoded) << result.reason.toStdString();
    EXPECT_EQ(Codec::probe(gif)->storedSize, QSize(20, 30));
    EXPECT_EQ(folderNames(dir.path()), (QStringList{QStringLiteral("b.bmp"), QStringLiteral("g.gif")}));
}

TEST_F(RotationFiles, APngNamedJpgIsRatedWithItsExifKept)
{
    const QString photo = dir.filePath(QStringLiteral("actually-png.jpg"));
    ASSERT_TRUE(patternImage(40, 30).save(photo, "PNG"));
    ASSERT_EQ(writeRotation(photo, 1).kind, Result::Kind::lossless);
    ASSERT_FALSE(XmpRating::writeRating(4, photo));
    EXPECT_EQ(XmpRating::readRating(photo), 4);
    // The orientation chunk survived the rating write.
    EXPECT_EQ(Codec::probe(photo)->orientation, 6);
}

TEST_F(RotationFiles, RefusedFormatsStayByteForByte)
{
    struct Case { const char *relative; const char *name; };
    for (const Case c : {Case{"formats/sample.heic", "h.heic"}, Case{"formats/hopper.avif", "v.avif"},
                         Case{"formats/sample.jxl", "x.jxl"}, Case{"raw/CanonRaw.cr2", "r.cr2"},
                         Case{"raw/Nikon.nef", "n.nef"}, Case{"animated/iss634.gif", "g.gif"},
                         Case{"animated/delay.png", "a.png"}}) {
        if (!corpusHas(QString::fromLatin1(c.relative)))
            continue;
        SCOPED_TRACE(c.relative);
        const QString photo = copyCorpus(dir, QString::fromLatin1(c.relative), QString::fromLatin1(c.name));
        const QByteArray before = bytesOf(photo);
        const Result result = writeRotation(photo, 1);
        EXPECT_EQ(result.kind, Result::Kind::failed);
        EXPECT_FALSE(result.reason.isEmpty());
        EXPECT_EQ(bytesOf(photo), before);
    }
    // Two pages: turning only the first would leave the file half turned.
    QImage page = patternImage(16, 16);
    const QString first = dir.filePath(QStringLiteral("one.tif"));
    ASSERT_TRUE(page.save(first, "TIFF"));
    QByteArray tiff = bytesOf(first);
    // Chain a copy of IFD0 as a second page.
    const bool little = tiff.startsWith("II");
    ASSERT_TRUE(little);
    const quint32 ifd0 = quint32(uint8_t(tiff[4])) | quint32(uint8_t(tiff[5])) << 8 | quint32(uint8_t(tiff[6])) << 16
                         | quint32(uint8_t(tiff[7])) << 24;
    const quint32 count = quint32(uint8_t(tiff[ifd0])) | quint32(uint8_t(tiff[ifd0 + 1])) << 8;
    const qsizetype nextAt = ifd0 + 2 + count * 12;
    const QByteArray copy = tiff.mid(ifd0, 2 + count * 12) + QByteArray(4, '\0');
    const quint32 second = quint32(tiff.size());
    tiff.append(copy);
    for (int i = 0; i < 4; ++i)
        tiff[nextAt + i] = char(second >> (8 * i));
    const QString multi = dir.filePath(QStringLiteral("multi.tif"));
    ASSERT_TRUE(writeBytes(multi, tiff));
    const Result result = writeRotation(multi, 1);
    EXPECT_EQ(result.kind, Result::Kind::failed);
    EXPECT_TRUE(result.reason.contains(Texts::text("msg.fmtMultiPage")));
    EXPECT_EQ(bytesOf(multi), tiff);
}

TEST_F(RotationFiles, APhotoLargerThanAFullDecodeIsRefused)
{
    // 20000 x 2 pixels: the viewer's full decode stops at 16384.
    const QString bmp = dir.filePath(QStringLiteral("wide.bmp"));
    ASSERT_TRUE(patternImage(RotationSave::maxReencodeSide + 3616, 2).save(bmp, "BMP"));
    const QByteArray before = bytesOf(bmp);
    const Result result = writeRotation(bmp, 1);
    EXPECT_EQ(result.kind, Result::Kind::failed);
    EXPECT_EQ(result.reason, Texts::text("msg.rotTooLarge"));
    EXPECT_EQ(bytesOf(bmp), before);
}

TEST_F(RotationFiles, ReadOnlyAndVanishedPhotosFail)
{
    const QString photo = dir.filePath(QStringLiteral("ro.jpg"));
    ASSERT_TRUE(Codec::encode(patternImage(32, 24), photo, ImageFormat::jpeg, 90));
    const QByteArray before = bytesOf(photo);
    QFile::setPermissions(photo, QFileDevice::ReadOwner);
    Result result = writeRotation(photo, 1);
    EXPECT_EQ(result.kind, Result::Kind::failed);
    EXPECT_EQ(bytesOf(photo), before);
    result = writeRotation(dir.filePath(QStringLiteral("gone.jpg")), 1);
    EXPECT_EQ(result.kind, Result::Kind::failed);
    EXPECT_TRUE(result.reason.contains(Texts::text("msg.errFileGone")));
    EXPECT_EQ(folderNames(dir.path()), QStringList{QStringLiteral("ro.jpg")});
}

TEST_F(RotationFiles, ReencodeCarriesMetadataWithOrientationOne)
{
    SKIP_WITHOUT_CORPUS("exif/Canon_40D.jpg");
    // A WebP with the JPEG's EXIF (capture date, GPS added here, orientation 6)
    // and an XMP rating: re-encoded, all of it stays, with orientation 1.
    const QString source = corpusPath(QStringLiteral("exif/Canon_40D.jpg"));
    const QString webp = dir.filePath(QStringLiteral("w.webp"));
    ASSERT_TRUE(Codec::encode(shown(source), webp, ImageFormat::webp, 90));
    Exiv2::ExifData exif;
    {
        auto jpeg = Exiv2::ImageFactory::open(QFile::encodeName(source).toStdString());
        jpeg->readMetadata();
        exif = jpeg->exifData();
    }
    exif["Exif.GPSInfo.GPSLatitudeRef"] = "N";
    exif["Exif.GPSInfo.GPSLatitude"] = "48/1 51/1 30/1";
    exif["Exif.Image.Orientation"] = uint16_t(6);
    QString error;
    const auto tagged = ExivEdit::rewrite(bytesOf(webp), [&](Exiv2::Image &image) {
        image.setExifData(exif);
        image.xmpData()["Xmp.xmp.Rating"] = "4";
    }, &error);
    ASSERT_TRUE(tagged) << error.toStdString();
    ASSERT_TRUE(writeBytes(webp, *tagged));
    const QImage before = shown(webp);

    const Result result = RotationSave::writeRotationReencoded(webp, 1);
    ASSERT_EQ(result.kind, Result::Kind::reencoded) << result.reason.toStdString();
    EXPECT_EQ(RotationSave::fileOrientation(webp), 1);
    EXPECT_EQ(XmpRating::readRating(webp), 4);
    const auto tags = Metadata::readMetadata(webp);
    ASSERT_TRUE(tags);
    EXPECT_EQ(tags->value(QStringLiteral("Exif.Photo.DateTimeOriginal")), QStringLiteral("2008:05:30 15:56:01"));
    EXPECT_EQ(tags->value(QStringLiteral("Exif.GPSInfo.GPSLatitudeRef")), QStringLiteral("N"));
    const QImage after = shown(webp);
    ASSERT_EQ(after.size(), QSize(before.height(), before.width()));
}
