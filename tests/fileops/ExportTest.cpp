// The encoder step and export: qualities reach the saver, orientation and
// metadata go with the copy, the file safety of the write, and the size
// estimate's cache, wait and generation counter.
#include "FileOpsTestSupport.h"
#include "TestApplication.h"
#include "support/IccProfiles.h"

#include "fileops/Encoder.h"
#include "fileops/Export.h"
#include "fileops/SafeFile.h"
#include "fileops/XmpRating.h"
#include "platform/Codec.h"
#include "platform/Metadata.h"
#include "platform/Trash.h"
#include "settings/Texts.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>

#include <vips/vips8>

#include <lcms2.h>

#include <gtest/gtest.h>

#include <unistd.h>

using Encoder::Format;

namespace {

// What exiv2's own command-line tool reads from a file ("" when the tag is absent).
QString exivTag(const QString &path, const QString &key)
{
    QProcess p;
    p.start(QStringLiteral("exiv2"), {QStringLiteral("-q"), QStringLiteral("-K"), key, QStringLiteral("-Pv"), path});
    p.waitForFinished(10000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// Width x height as libvips reads the file (stored, orientation not applied).
QSize storedSize(const QString &path)
{
    const auto header = Codec::probe(path);
    return header ? header->storedSize : QSize();
}

QString writeTo(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    return writeBytes(path, bytes) ? path : QString();
}

class ExportTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testApplication();
        ASSERT_TRUE(dir.isValid());
    }
    void TearDown() override { SafeFile::setStepHook(nullptr); }

    QTemporaryDir dir;
};

} // namespace

TEST_F(ExportTest, EveryQualityReachesTheSaver)
{
    // Small, because HEIC encoding is slow.
    const QString photo = copyCorpus(dir, QStringLiteral("formats/hopper.png"), QStringLiteral("a.png"));
    const auto picture = Encoder::decode(photo, 0);
    ASSERT_TRUE(picture);
    std::vector<Format> lossy = {Format::jpeg};
    if (Encoder::canEncode(Format::heic))
        lossy.push_back(Format::heic);
    for (const Format format : lossy) {
        const auto low = Encoder::encode(*picture, format, 40);
        const auto mid = Encoder::encode(*picture, format, 85);
        const auto high = Encoder::encode(*picture, format, 100);
        ASSERT_TRUE(low && mid && high) << Encoder::info(format).title;
        // A 0-1 scale would clamp all three to the same setting.
        EXPECT_LT(low->size(), mid->size()) << Encoder::info(format).title;
        EXPECT_LT(mid->size(), high->size()) << Encoder::info(format).title;
    }
    // PNG has no quality: the same bytes whatever the slider says.
    EXPECT_EQ(Encoder::encode(*picture, Format::png, 40), Encoder::encode(*picture, Format::png, 100));
}

TEST_F(ExportTest, HeicIsRefusedClearlyWhereItCannotBeEncoded)
{
    const QString photo = copyCorpus(dir, QStringLiteral("formats/hopper.jpg"), QStringLiteral("a.jpg"));
    Encoder::Error error = Encoder::Error::unreadable;
    const auto bytes = Encoder::encodeFile(photo, 0, Format::heic, 85, &error);
    if (Encoder::canEncode(Format::heic)) {
        ASSERT_TRUE(bytes);
        EXPECT_EQ(Codec::formatOfContent(bytes->left(64)), ImageFormat::heif);
    } else {
        EXPECT_FALSE(bytes);
        EXPECT_EQ(error, Encoder::Error::unsupported);
        EXPECT_FALSE(Encoder::describe(error).isEmpty());
    }
}

// The pixels are turned upright (and by the pending turns), the capture date
// and the colour profile go with them, and the orientation says so.
TEST_F(ExportTest, CopiesAreUprightWithTheirCaptureDateAndProfile)
{
    const QString turned = copyCorpus(dir, QStringLiteral("orientation/Samsung GT-I9000 (Galaxy S).jpg"),
                                      QStringLiteral("turned.jpg"));
    ASSERT_EQ(storedSize(turned), QSize(640, 480));
    // Its XMP holds a copy of the orientation, as photos from many programs do.
    ASSERT_EQ(QProcess::execute(QStringLiteral("exiv2"), {QStringLiteral("-M"), QStringLiteral("set Xmp.tiff.Orientation 6"),
                                                          QStringLiteral("-M"), QStringLiteral("set Xmp.exif.PixelXDimension 640"), turned}), 0);
    ASSERT_EQ(exivTag(turned, QStringLiteral("Xmp.tiff.Orientation")), QStringLiteral("6"));
    // Its EXIF thumbnail is stored on its side, as the photo is.
    ASSERT_FALSE(exivTag(turned, QStringLiteral("Exif.Thumbnail.JPEGInterchangeFormat")).isEmpty());
    std::vector<Format> formats = {Format::jpeg, Format::png};
    if (Encoder::canEncode(Format::heic))
        formats.push_back(Format::heic);
    for (const Format format : formats) {
        const QString ext = QLatin1String(Encoder::info(format).extension);
        for (const int turns : {0, 1}) {
            const auto bytes = Encoder::encodeFile(turned, turns, format, 85);
            ASSERT_TRUE(bytes) << ext.toStdString();
            const QString out = writeTo(dir, QStringLiteral("out%1.%2").arg(turns).arg(ext), *bytes);
            const QSize expected = turns == 0 ? QSize(480, 640) : QSize(640, 480);
            EXPECT_EQ(storedSize(out), expected) << ext.toStdString() << " turns " << turns;
            const QString orientation = exivTag(out, QStringLiteral("Exif.Image.Orientation"));
            EXPECT_TRUE(orientation.isEmpty() || orientation == QLatin1String("1"))
                << ext.toStdString() << ": " << orientation.toStdString();
            const QString xmpOrientation = exivTag(out, QStringLiteral("Xmp.tiff.Orientation"));
            EXPECT_TRUE(xmpOrientation.isEmpty() || xmpOrientation == QLatin1String("1"))
                << ext.toStdString() << ": XMP " << xmpOrientation.toStdString();
            EXPECT_EQ(exivTag(out, QStringLiteral("Exif.Photo.DateTimeOriginal")), QStringLiteral("2011:04:02 18:30:10"))
                << ext.toStdString();
            // Nothing in it describes the photo as stored: the sideways thumbnail
            // is left out, the XMP size is the copy's.
            EXPECT_TRUE(exivTag(out, QStringLiteral("Exif.Thumbnail.JPEGInterchangeFormat")).isEmpty()) << ext.toStdString();
            const QString xmpWidth = exivTag(out, QStringLiteral("Xmp.exif.PixelXDimension"));
            EXPECT_TRUE(xmpWidth.isEmpty() || xmpWidth == QString::number(expected.width())) << ext.toStdString();
            // What the viewer shows of the copy is upright too.
            EXPECT_EQ(shown(out).size(), expected) << ext.toStdString();
        }
    }

    const QString adobe = copyCorpus(dir, QStringLiteral("exif/Canon EOS 7D.jpg"), QStringLiteral("adobe.jpg"));
    for (const Format format : {Format::jpeg, Format::png}) {
        const auto bytes = Encoder::encodeFile(adobe, 0, format, 90);
        ASSERT_TRUE(bytes);
        const QString out = writeTo(dir, QStringLiteral("adobe-out.") + QLatin1String(Encoder::info(format).extension), *bytes);
        EXPECT_EQ(Codec::colorProfileName(out), QStringLiteral("Adobe RGB (1998)")) << Encoder::info(format).title;
        EXPECT_EQ(exivTag(out, QStringLiteral("Exif.Photo.DateTimeOriginal")), QStringLiteral("2010:12:12 12:41:35"));
    }
}

// libheif stores a picture of odd width or height with item locations that
// exiv2 misreads, so it finds no metadata in such a copy; the viewer reads its
// camera, date and rating all the same.
TEST_F(ExportTest, HeicCopiesOfOddSizesShowTheirMetadata)
{
    if (!Encoder::canEncode(Format::heic))
        GTEST_SKIP() << "no HEIC encoder here";
    const QString source = copyCorpus(dir, QStringLiteral("exif/Canon EOS 7D.jpg"), QStringLiteral("source.jpg"));
    const QString odd = dir.filePath(QStringLiteral("odd.jpg"));
    vips::VImage::new_from_file(source.toUtf8().constData())
        .crop(0, 0, 301, 201)
        .jpegsave(odd.toUtf8().constData(), vips::VImage::option()->set("Q", 90));
    ASSERT_EQ(QProcess::execute(QStringLiteral("exiv2"), {QStringLiteral("-M"), QStringLiteral("set Xmp.xmp.Rating 4"), odd}), 0);
    const auto bytes = Encoder::encodeFile(odd, 0, Format::heic, 80);
    ASSERT_TRUE(bytes);
    const QString out = writeTo(dir, QStringLiteral("odd.heic"), *bytes);
    const std::optional<MetadataTags> tags = Metadata::readMetadata(out);
    ASSERT_TRUE(tags);
    EXPECT_EQ(tags->value(QStringLiteral("Exif.Photo.DateTimeOriginal")), QStringLiteral("2010:12:12 12:41:35"));
    EXPECT_EQ(tags->value(QStringLiteral("Exif.Image.Model")), QStringLiteral("Canon EOS 7D"));
    EXPECT_EQ(tags->value(QStringLiteral("Xmp.xmp.Rating")), QStringLiteral("4"));
}

// A rating kept in the photo's sidecar goes into every copy, which has none.
TEST_F(ExportTest, ASidecarRatingGoesIntoTheCopy)
{
    const QString photo = copyCorpus(dir, QStringLiteral("exif/Canon EOS 7D.jpg"), QStringLiteral("rated.jpg"));
    // Its own rating (3 in its XMP) is taken out: the sidecar's is the one shown.
    ASSERT_EQ(QProcess::execute(QStringLiteral("exiv2"), {QStringLiteral("-M"), QStringLiteral("del Xmp.xmp.Rating"), photo}), 0);
    QFile sidecar(XmpRating::sidecarPath(photo));
    ASSERT_TRUE(sidecar.open(QIODevice::WriteOnly));
    sidecar.write(XmpRating::sidecarTemplate(4));
    sidecar.close();
    ASSERT_EQ(XmpRating::readRating(photo), 4);
    std::vector<Format> formats = {Format::jpeg, Format::png};
    if (Encoder::canEncode(Format::heic))
        formats.push_back(Format::heic);
    for (const Format format : formats) {
        const auto bytes = Encoder::encodeFile(photo, 0, format, 80);
        ASSERT_TRUE(bytes);
        const QString out = writeTo(dir, QStringLiteral("copy.") + QLatin1String(Encoder::info(format).extension), *bytes);
        EXPECT_EQ(XmpRating::readRating(out), 4) << Encoder::info(format).title;
    }
}

// A HEIF in a wide-gamut space (Display P3 on every iPhone) keeps its colours
// and its profile in its copies, rather than losing its deepest colours in sRGB.
TEST_F(ExportTest, WideGamutHeifCopiesKeepTheirProfile)
{
    if (!Encoder::canEncode(Format::heic))
        GTEST_SKIP() << "no HEIC encoder here";
    // Display P3: the DCI-P3 primaries, a D65 white and sRGB's tone curve.
    const cmsCIExyY white{0.3127, 0.3290, 1.0};
    const cmsCIExyYTRIPLE primaries{{0.680, 0.320, 1.0}, {0.265, 0.690, 1.0}, {0.150, 0.060, 1.0}};
    const cmsFloat64Number srgbCurve[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
    cmsToneCurve *curve = cmsBuildParametricToneCurve(nullptr, 4, srgbCurve);
    cmsToneCurve *curves[3] = {curve, curve, curve};
    cmsHPROFILE p3 = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(curve);
    cmsMLU *description = cmsMLUalloc(nullptr, 1);
    cmsMLUsetASCII(description, "en", "US", "Test P3");
    cmsWriteTag(p3, cmsSigProfileDescriptionTag, description);
    cmsMLUfree(description);
    const QByteArray icc = takeProfileBytes(p3);

    const QString photo = dir.filePath(QStringLiteral("p3.heic"));
    vips::VImage flat = (vips::VImage::black(64, 48) + std::vector<double>{100, 180, 60}).cast(VIPS_FORMAT_UCHAR);
    flat = flat.copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
    vips_image_set_blob_copy(flat.get_image(), VIPS_META_ICC_NAME, icc.constData(), size_t(icc.size()));
    flat.heifsave(photo.toUtf8().constData(), vips::VImage::option()->set("Q", 95)->set("compression", VIPS_FOREIGN_HEIF_COMPRESSION_HEVC));
    ASSERT_EQ(Codec::colorProfileName(photo), QStringLiteral("Test P3"));

    for (const Format format : {Format::jpeg, Format::png, Format::heic}) {
        const auto bytes = Encoder::encodeFile(photo, 0, format, 95);
        ASSERT_TRUE(bytes) << Encoder::info(format).title;
        const QString out = writeTo(dir, QStringLiteral("p3-copy.") + QLatin1String(Encoder::info(format).extension), *bytes);
        EXPECT_EQ(Codec::colorProfileName(out), QStringLiteral("Test P3")) << Encoder::info(format).title;
        // The stored values are still P3's, not converted to sRGB.
        const vips::VImage stored = vips::VImage::new_from_file(out.toUtf8().constData());
        const std::vector<double> made{100, 180, 60};
        for (int band = 0; band < 3; ++band)
            EXPECT_NEAR(stored.extract_band(band).avg(), made[size_t(band)], 4.0)
                << Encoder::info(format).title << " band " << band;
    }
}

// A RAW and a HEIF come from their decoders with an alpha channel though no
// pixel is transparent: their copies have three bands, not a fourth of 255s.
TEST_F(ExportTest, OpaquePhotosGiveCopiesWithoutAnAlphaChannel)
{
    for (const char *source : {"orientation/kimono.avif", "raw/IMG_1361.dng", "formats/hopper.heif"}) {
        if (!corpusHas(QLatin1String(source)))
            continue; // the last two are in the corpus only
        const QString name = QFileInfo(QLatin1String(source)).fileName();
        const QString photo = copyCorpus(dir, QLatin1String(source), name);
        const auto bytes = Encoder::encodeFile(photo, 0, Format::png, 85);
        ASSERT_TRUE(bytes) << source;
        const QString out = writeTo(dir, name + QStringLiteral(".png"), *bytes);
        EXPECT_EQ(vips::VImage::new_from_file(out.toUtf8().constData()).bands(), 3) << source;
    }
}

// A grey photo with its own grey profile: every copy shows the tones the
// viewer shows, and none carries a grey profile over colour pixels.
TEST_F(ExportTest, GreyPhotosWithAGreyProfileKeepTheirTones)
{
    QByteArray icc = linearGreyProfile();
    vips::VImage grey = vips::VImage::black(64, 48).linear(1.0, 80.0).cast(VIPS_FORMAT_UCHAR)
                                .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_B_W));
    grey.set(VIPS_META_ICC_NAME, nullptr, icc.data(), size_t(icc.size()));
    const QString photo = dir.filePath(QStringLiteral("grey.jpg"));
    grey.jpegsave(photo.toUtf8().constData(), vips::VImage::option()->set("Q", 98));
    const int seen = qRed(shown(photo).pixel(32, 24));
    ASSERT_GT(seen, 140) << "linear grey 80 is light in sRGB";

    std::vector<Format> formats = {Format::jpeg, Format::png};
    if (Encoder::canEncode(Format::heic))
        formats.push_back(Format::heic);
    for (const Format format : formats) {
        const auto bytes = Encoder::encodeFile(photo, 0, format, 95);
        ASSERT_TRUE(bytes) << Encoder::info(format).title;
        const QString out = writeTo(dir, QStringLiteral("grey-out.") + QLatin1String(Encoder::info(format).extension), *bytes);
        const vips::VImage copy = vips::VImage::new_from_file(out.toUtf8().constData());
        if (copy.bands() >= 3 && copy.get_typeof(VIPS_META_ICC_NAME) != 0) {
            size_t length = 0;
            const void *data = copy.get_blob(VIPS_META_ICC_NAME, &length);
            cmsHPROFILE profile = cmsOpenProfileFromMem(data, cmsUInt32Number(length));
            ASSERT_TRUE(profile);
            EXPECT_NE(cmsGetColorSpace(profile), cmsSigGrayData) << Encoder::info(format).title;
            cmsCloseProfile(profile);
        }
        EXPECT_NEAR(qRed(shown(out).pixel(32, 24)), seen, 4) << Encoder::info(format).title;
    }
}

TEST_F(ExportTest, DamagedAndOversizedPhotosAreRefused)
{
    Encoder::Error error = Encoder::Error::encodeFailed;
    const QString truncated = copyCorpus(dir, QStringLiteral("bad/truncated_jpeg.jpg"), QStringLiteral("t.jpg"));
    EXPECT_FALSE(Encoder::encodeFile(truncated, 0, Format::jpeg, 85, &error));
    // Found while streaming it into the saver, and told as the photo's fault.
    EXPECT_EQ(error, Encoder::Error::unreadable);
    EXPECT_FALSE(Encoder::decode(truncated, 0, &error));
    EXPECT_EQ(error, Encoder::Error::unreadable);

    // A photo removed before its turn is said to be gone, not damaged.
    EXPECT_FALSE(Encoder::encodeFile(dir.filePath(QStringLiteral("gone.jpg")), 0, Format::jpeg, 85, &error));
    EXPECT_EQ(error, Encoder::Error::missing);

    const QString text = writeTo(dir, QStringLiteral("notes.jpg"), QByteArray("not a photo at all"));
    EXPECT_FALSE(Encoder::encodeFile(text, 0, Format::jpeg, 85, &error));
    EXPECT_EQ(error, Encoder::Error::unreadable);

    // A flat grey picture of 81 million pixels in a few hundred kilobytes: more
    // than its bytes can honestly hold, so it is not decoded at all.
    Codec::initialize();
    const QString huge = dir.filePath(QStringLiteral("huge.png"));
    vips::VImage::black(9000, 9000).cast(VIPS_FORMAT_UCHAR).pngsave(huge.toUtf8().constData(),
                                                                      vips::VImage::option()->set("compression", 9));
    ASSERT_GT(9000 * 9000, Codec::pixelLimitForFileSize(QFileInfo(huge).size()));
    EXPECT_FALSE(Encoder::encodeFile(huge, 0, Format::jpeg, 85, &error));
    EXPECT_EQ(error, Encoder::Error::tooLarge) << "said to be unreadable, which it is not";

    // A RAW cut down to its previews has no full-size picture to give; it is not
    // called too large. In the corpus only.
    if (corpusHas(QStringLiteral("raw/Canon-R6-pruned.CR3"))) {
        const QString pruned = copyCorpus(dir, QStringLiteral("raw/Canon-R6-pruned.CR3"), QStringLiteral("r6.cr3"));
        EXPECT_FALSE(Encoder::encodeFile(pruned, 0, Format::jpeg, 85, &error));
        EXPECT_EQ(error, Encoder::Error::notWhole);
    }
}

TEST_F(ExportTest, ProposedNamesFollowTheFormat)
{
    EXPECT_EQ(Export::proposedName(QStringLiteral("/p/IMG_1.HEIC"), Format::jpeg), QStringLiteral("IMG_1-compressed.jpg"));
    EXPECT_EQ(Export::withExtension(QStringLiteral("IMG_1-compressed.jpg"), Format::png),
              QStringLiteral("IMG_1-compressed.png"));
    EXPECT_EQ(Export::proposedName(QStringLiteral("/p/a.b.jpeg"), Format::heic), QStringLiteral("a.b-compressed.heic"));
    EXPECT_EQ(Export::withExtension(QStringLiteral("plain"), Format::png), QStringLiteral("plain.png"));
    // A typed name is saved as typed only when its extension names the format.
    EXPECT_EQ(Export::savedPath(QStringLiteral("/p/H.png"), Format::jpeg), QStringLiteral("/p/H.png.jpg"));
    EXPECT_EQ(Export::savedPath(QStringLiteral("/p/H"), Format::heic), QStringLiteral("/p/H.heic"));
    EXPECT_EQ(Export::savedPath(QStringLiteral("/p/trip.v2"), Format::png), QStringLiteral("/p/trip.v2.png"));
    for (const char *kept : {"/p/H.JPG", "/p/H.jpeg", "/p/H.jpe"})
        EXPECT_EQ(Export::savedPath(QLatin1String(kept), Format::jpeg), QLatin1String(kept));
    EXPECT_EQ(Export::savedPath(QStringLiteral("/p/H.HEIF"), Format::heic), QStringLiteral("/p/H.HEIF"));
    EXPECT_EQ(Export::savedPath(QStringLiteral("/p/H.png"), Format::png), QStringLiteral("/p/H.png"));
    EXPECT_EQ(Export::withExtension(QStringLiteral(".hidden"), Format::jpeg), QStringLiteral(".hidden.jpg"));
    // A name near the file system's limit is shortened so that every format's fits.
    const QString longName = QString(120, QChar(0x00E9)) + QStringLiteral("xy.jpg"); // 248 bytes
    const QString proposed = Export::proposedName("/p/" + longName, Format::jpeg);
    EXPECT_TRUE(proposed.startsWith(QString(100, QChar(0x00E9))));
    EXPECT_TRUE(proposed.endsWith("-compressed.jpg"));
    EXPECT_LE(QFile::encodeName(Export::withExtension(proposed, Format::heic)).size(), 255);
    EXPECT_GE(QFile::encodeName(Export::withExtension(proposed, Format::heic)).size(), 253);
}

TEST_F(ExportTest, ExportWritesAndReplacesSafely)
{
    const QString photo = copyCorpus(dir, QStringLiteral("orientation/Portrait_6.jpg"), QStringLiteral("p.jpg"));
    const QByteArray original = bytesOf(photo);
    const QString out = dir.filePath(QStringLiteral("p-compressed.jpg"));

    const Export::Result first = Export::write(photo, 1, Format::jpeg, 70, out);
    ASSERT_TRUE(first.succeeded) << first.reason.toStdString();
    EXPECT_EQ(first.sourceBytes, original.size());
    EXPECT_EQ(first.writtenBytes, QFileInfo(out).size());
    EXPECT_EQ(storedSize(out), QSize(1800, 1200)); // upright 1200x1800, then a quarter turn
    EXPECT_EQ(bytesOf(photo), original);

    // Onto the photo itself, by its name, through a link or a second hard link: refused, untouched.
    ASSERT_EQ(::symlink(photo.toUtf8().constData(), dir.filePath(QStringLiteral("link.jpg")).toUtf8().constData()), 0);
    ASSERT_EQ(::link(photo.toUtf8().constData(), dir.filePath(QStringLiteral("hard.jpg")).toUtf8().constData()), 0);
    for (const QString &target : {photo, dir.filePath(QStringLiteral("link.jpg")), dir.filePath(QStringLiteral("hard.jpg")),
                                  dir.filePath(QStringLiteral("./p.jpg"))}) {
        const Export::Result onto = Export::write(photo, 0, Format::jpeg, 50, target);
        EXPECT_FALSE(onto.succeeded) << target.toStdString();
        EXPECT_EQ(onto.reason, Texts::text("msg.exportOntoSource"));
    }
    EXPECT_EQ(bytesOf(photo), original);

    // A failed decode and a write stopped half-way both leave the earlier export as it was.
    const QByteArray earlier = bytesOf(out);
    const QString truncated = copyCorpus(dir, QStringLiteral("bad/truncated_jpeg.jpg"), QStringLiteral("t.jpg"));
    EXPECT_FALSE(Export::write(truncated, 0, Format::jpeg, 85, out).succeeded);
    EXPECT_EQ(bytesOf(out), earlier);
    SafeFile::setStepHook([](std::string_view step) { return step != "chunk-written"; });
    EXPECT_FALSE(Export::write(photo, 0, Format::png, 85, out).succeeded);
    SafeFile::setStepHook(nullptr);
    EXPECT_EQ(bytesOf(out), earlier);
    for (const QString &name : folderNames(dir.path()))
        EXPECT_FALSE(SafeFile::isOwnTemporaryName(name)) << name.toStdString();

    // A successful export over it replaces it whole, and what it replaced is
    // in the Trash, under an entry that names its place. A replace stopped
    // just before its rename leaves the file and no entry for it.
    QTemporaryDir data;
    FreedesktopTrash trash(data.path());
    const QString trashFiles = data.filePath(QStringLiteral("Trash/files"));
    SafeFile::setStepHook([](std::string_view step) { return step != "before-rename"; });
    EXPECT_FALSE(Export::write(photo, 0, Format::jpeg, 40, out, &trash).succeeded);
    SafeFile::setStepHook(nullptr);
    EXPECT_EQ(bytesOf(out), earlier);
    EXPECT_TRUE(folderNames(trashFiles).isEmpty());

    const Export::Result replaced = Export::write(photo, 0, Format::jpeg, 40, out, &trash);
    ASSERT_TRUE(replaced.succeeded) << replaced.reason.toStdString();
    EXPECT_TRUE(replaced.replaced && replaced.replacedKept);
    EXPECT_NE(bytesOf(out), earlier);
    EXPECT_EQ(storedSize(out), QSize(1200, 1800));
    ASSERT_EQ(folderNames(trashFiles), QStringList{QStringLiteral("p-compressed.jpg")});
    EXPECT_EQ(bytesOf(trashFiles + QStringLiteral("/p-compressed.jpg")), earlier);
    QFile info(data.filePath(QStringLiteral("Trash/info/p-compressed.jpg.trashinfo")));
    ASSERT_TRUE(info.open(QIODevice::ReadOnly));
    EXPECT_TRUE(info.readAll().contains("Path=" + QUrl::toPercentEncoding(out, "/")));

    // A new name replaces nothing and keeps nothing; the copy of a private
    // photo is private.
    ::chmod(QFile::encodeName(photo).constData(), 0600);
    const Export::Result fresh = Export::write(photo, 0, Format::png, 0, dir.filePath(QStringLiteral("new.png")), &trash);
    ASSERT_TRUE(fresh.succeeded);
    EXPECT_EQ(QFileInfo(dir.filePath(QStringLiteral("new.png"))).permissions() & (QFile::ReadOther | QFile::ReadGroup),
              QFile::Permissions());
    EXPECT_FALSE(fresh.replaced || fresh.replacedKept);
    EXPECT_EQ(folderNames(trashFiles).size(), 1);

    // Where there is no Trash the replace goes on, as asked, and says the old
    // file is gone.
    FreedesktopTrash none(QStringLiteral("/dev/null/data"));
    const Export::Result lost = Export::write(photo, 0, Format::jpeg, 60, out, &none);
    ASSERT_TRUE(lost.succeeded);
    EXPECT_TRUE(lost.replaced && !lost.replacedKept);
    EXPECT_FALSE(lost.replacedLostReason.isEmpty());
    EXPECT_TRUE(replaced.replacedLostReason.isEmpty() && fresh.replacedLostReason.isEmpty());

    // A folder removed while the save sheet was open is named, not the file.
    const Export::Result nowhere = Export::write(photo, 0, Format::jpeg, 60, dir.filePath(QStringLiteral("gone/p.jpg")));
    EXPECT_FALSE(nowhere.succeeded);
    EXPECT_TRUE(nowhere.reason.contains(Texts::format("msg.errFolderGone", {QStringLiteral("gone")})))
        << nowhere.reason.toStdString();
}

TEST_F(ExportTest, EstimatesAreCachedByContentAndDebounced)
{
    const QString photo = copyCorpus(dir, QStringLiteral("sharp/176_HONOR-7X_S.jpg"), QStringLiteral("e.jpg"));
    ExportEstimator estimator;
    estimator.debounceMs = 50;
    std::vector<std::pair<ExportEstimator::State, qint64>> shownStates;
    estimator.onEstimate = [&](ExportEstimator::State state, qint64 bytes) { shownStates.emplace_back(state, bytes); };
    const auto waitForResult = [&] {
        QElapsedTimer timer;
        timer.start();
        while ((shownStates.empty() || shownStates.back().first == ExportEstimator::State::estimating)
               && timer.elapsed() < 30000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            estimator.waitForIdle();
        }
    };

    estimator.request({photo, 0, Format::jpeg, 85});
    ASSERT_EQ(shownStates.back().first, ExportEstimator::State::estimating);
    waitForResult();
    ASSERT_EQ(shownStates.back().first, ExportEstimator::State::known);
    const qint64 at85 = shownStates.back().second;
    const auto real = Encoder::encodeFile(photo, 0, Format::jpeg, 85);
    ASSERT_TRUE(real);
    EXPECT_EQ(at85, real->size());
    EXPECT_EQ(estimator.encodesRun, 1);

    // A quick drag from 85 to 60 encodes once, for 60; going back to 85 is instant.
    for (int q = 84; q >= 60; --q)
        estimator.request({photo, 0, Format::jpeg, q});
    waitForResult();
    EXPECT_EQ(estimator.encodesRun, 2);
    EXPECT_LT(shownStates.back().second, at85);
    shownStates.clear();
    estimator.request({photo, 0, Format::jpeg, 85});
    ASSERT_EQ(shownStates.size(), 1u);
    EXPECT_EQ(shownStates.back(), std::make_pair(ExportEstimator::State::known, at85));

    // The file changed on disk (a rotation save, say): the old size is not trusted.
    ASSERT_TRUE(writeBytes(photo, bytesOf(corpusPath(QStringLiteral("formats/hopper.jpg")))));
    shownStates.clear();
    estimator.request({photo, 0, Format::jpeg, 85});
    EXPECT_EQ(shownStates.back().first, ExportEstimator::State::estimating);
    waitForResult();
    EXPECT_EQ(shownStates.back().second, Encoder::encodeFile(photo, 0, Format::jpeg, 85)->size());

    // Nothing was ever written for an estimate: not next to the photo, not in the temporary folder.
    EXPECT_EQ(folderNames(dir.path()), QStringList{QStringLiteral("e.jpg")});
    QDirIterator temporary(QDir::tempPath(), QDir::Files | QDir::Hidden);
    while (temporary.hasNext())
        EXPECT_FALSE(temporary.next().contains(QLatin1String("glanto-estimate")));
}

TEST_F(ExportTest, AnEstimateOfAnOlderRequestIsDropped)
{
    const QString photo = copyCorpus(dir, QStringLiteral("sharp/176_HONOR-7X_S.jpg"), QStringLiteral("g.jpg"));
    ExportEstimator estimator;
    estimator.debounceMs = 0;
    std::vector<std::pair<ExportEstimator::State, qint64>> shownStates;
    estimator.onEstimate = [&](ExportEstimator::State state, qint64 bytes) { shownStates.emplace_back(state, bytes); };

    // The JPEG estimate is running when the format changes to PNG.
    estimator.request({photo, 0, Format::jpeg, 85});
    QElapsedTimer timer;
    timer.start();
    while (estimator.encodesRun == 0 && timer.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    ASSERT_EQ(estimator.encodesRun, 1);
    estimator.request({photo, 0, Format::png, 85});
    while (estimator.encodesRun < 2 && timer.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    estimator.waitForIdle();

    const qint64 png = Encoder::encodeFile(photo, 0, Format::png, 85)->size();
    std::vector<qint64> known;
    for (const auto &[state, bytes] : shownStates) {
        if (state == ExportEstimator::State::known)
            known.push_back(bytes);
    }
    EXPECT_EQ(known, std::vector<qint64>{png});
    EXPECT_EQ(estimator.exportEstimateCache.size(), 1);

    // A closed sheet reports nothing more.
    shownStates.clear();
    estimator.debounceMs = 10;
    estimator.request({photo, 1, Format::jpeg, 50});
    estimator.cancel();
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 200)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    estimator.waitForIdle();
    ASSERT_EQ(shownStates.size(), 1u);
    EXPECT_EQ(shownStates.front().first, ExportEstimator::State::estimating);
}
