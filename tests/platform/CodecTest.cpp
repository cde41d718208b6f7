// The codecs over the shared corpus: every format, orientation, RAW and animated
// file decodes to the size the manifest gives and upright; every damaged file
// gives an absent result or a partial image, never a crash.

#include "platform/Codec.h"
#include "platform/CodecInternal.h"

#include "CorpusManifest.h"
#include "ImageCompare.h"
#include "TestData.h"
#include "support/IccProfiles.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QColorSpace>
#include <QDir>
#include <QtEndian>
#include <QFile>
#include <QImageReader>
#include <QTemporaryDir>

#include <lcms2.h>
#include <vips/vips8>
#include <turbojpeg.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <functional>
#include <thread>
#include <tuple>
#include <vector>

namespace {

QString corpus(const char *relative)
{
    return TestData::photo(QLatin1String(relative));
}

void expectDisplayReady(const QImage &image, const QString &what)
{
    if (image.isNull())
        return;
    EXPECT_EQ(image.format(), QImage::Format_RGBA8888_Premultiplied) << what.toStdString();
    EXPECT_GT(image.width(), 0) << what.toStdString();
}

QByteArray be32(quint32 v)
{
    QByteArray b;
    b.append(char(v >> 24)).append(char(v >> 16)).append(char(v >> 8)).append(char(v));
    return b;
}

quint32 crc32Of(const QByteArray &bytes)
{
    quint32 c = 0xFFFFFFFFu;
    for (char ch : bytes) {
        c ^= uint8_t(ch);
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    return c ^ 0xFFFFFFFFu;
}

QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    return path;
}

} // namespace

TEST(CodecCorpus, FormatsDecodeAtTheManifestSize)
{
    const auto entries = corpusEntries("formats");
    ASSERT_GT(entries.size(), 20);
    for (const CorpusEntry &e : entries) {
        SCOPED_TRACE(e.relative.toStdString());
        const auto header = Codec::probe(e.path);
        ASSERT_TRUE(header.has_value());
        const QImage full = Codec::decodeFull(e.path);
        ASSERT_FALSE(full.isNull());
        expectDisplayReady(full, e.relative);
        EXPECT_EQ(full.size(), header->displayedSize());
        if (header->format == ImageFormat::ico) {
            // Icon files show their largest picture.
            EXPECT_GE(full.width(), e.size().width());
        } else {
            EXPECT_EQ(full.size(), e.displayedSize());
        }
        const QImage small = Codec::decodeScaled(e.path, 64, false);
        ASSERT_FALSE(small.isNull());
        const QSize want = full.size().scaled(std::min(64, std::max(full.width(), full.height())),
                                              std::min(64, std::max(full.width(), full.height())), Qt::KeepAspectRatio);
        EXPECT_EQ(std::max(small.width(), small.height()), std::max(want.width(), want.height()));
        EXPECT_NEAR(small.width(), want.width(), 1);
        EXPECT_NEAR(small.height(), want.height(), 1);
        // The Lanczos reduction: same size, same picture, and still premultiplied (its
        // lobes overshoot, and no channel may end up above alpha).
        const QImage fine = Codec::decodeScaled(e.path, 64, false, Codec::ScaleQuality::fine);
        ASSERT_EQ(fine.size(), small.size());
        EXPECT_LT(meanDifference(small, fine), 12.0);
        for (int y = 0; y < fine.height(); ++y) {
            const uchar *p = fine.constScanLine(y);
            for (int x = 0; x < fine.width(); ++x, p += 4)
                ASSERT_TRUE(p[0] <= p[3] && p[1] <= p[3] && p[2] <= p[3]) << x << "," << y;
        }
    }
}

TEST(CodecCorpus, OrientedPhotosComeOutUpright)
{
    struct Family {
        const char *reference;
        const char *prefix;
    };
    const QImage landscape = Codec::decodeFull(corpus("orientation/Landscape_1.jpg"));
    const QImage portrait = Codec::decodeFull(corpus("orientation/Portrait_1.jpg"));
    const QImage kimono = Codec::decodeFull(corpus("orientation/kimono.avif"));
    const QImage g4 = Codec::decodeFull(corpus("orientation/g4_orientation_1.tif"));
    ASSERT_FALSE(landscape.isNull());
    for (const CorpusEntry &e : corpusEntries("orientation")) {
        SCOPED_TRACE(e.relative.toStdString());
        const QImage image = Codec::decodeFull(e.path);
        ASSERT_FALSE(image.isNull());
        // The HEIF files are stored turned and mirrored in every way by their
        // rotation and mirror boxes, and all show the same upright picture.
        const QSize shown = e.relative.contains("kimono") ? QSize(722, 1024) : e.displayedSize();
        EXPECT_EQ(image.size(), shown);
        const auto header = Codec::probe(e.path);
        ASSERT_TRUE(header.has_value());
        EXPECT_EQ(header->displayedSize(), shown);
        QImage reference;
        if (e.relative.startsWith("orientation/Landscape_"))
            reference = landscape;
        else if (e.relative.startsWith("orientation/Portrait_"))
            reference = portrait;
        else if (e.relative.contains("kimono"))
            reference = kimono;
        else if (e.relative.contains("g4_orientation"))
            reference = g4;
        if (!reference.isNull()) {
            EXPECT_LT(meanDifference(reference, image), 12.0);
        }
        // A preview is upright too.
        const QImage preview = Codec::decodeScaled(e.path, 200, false);
        ASSERT_FALSE(preview.isNull());
        EXPECT_EQ(preview.width() > preview.height(), shown.width() > shown.height());
    }
}

TEST(CodecCorpus, RawFilesDecodeFromTheirPreviewOrLibRaw)
{
    for (const CorpusEntry &e : corpusEntries("raw")) {
        SCOPED_TRACE(e.relative.toStdString());
        const auto header = Codec::probe(e.path);
        const QImage preview = Codec::decodeScaled(e.path, 512, true);
        expectDisplayReady(preview, e.relative);
        if (!preview.isNull()) {
            EXPECT_LE(std::max(preview.width(), preview.height()), 512);
        }
        if (header && !preview.isNull()) {
            const QSize shown = header->displayedSize();
            EXPECT_EQ(preview.width() >= preview.height(), shown.width() >= shown.height());
        }
    }
    // The iPhone DNG is stored landscape with orientation 6.
    const auto iphone = Codec::probe(corpus("raw/IMG_1361.dng"));
    ASSERT_TRUE(iphone.has_value());
    EXPECT_EQ(iphone->displayedSize(), QSize(3024, 4032));
    // LibRaw cannot develop the pruned R6 file; its embedded camera preview still shows.
    const QImage r6 = Codec::decodeScaled(corpus("raw/Canon-R6-pruned.CR3"), 512, false);
    ASSERT_FALSE(r6.isNull());
    EXPECT_EQ(r6.size(), QSize(512, 341));
}

// The cleanup analysis decodes every RAW at 1280 px from its embedded preview. A preview
// that is only a thumbnail (the Panasonic's is 8 x 8 px, the Fujifilm's 160 x 120) sends
// the file to LibRaw's own half-size development; when the sensor data cannot be
// developed either (both files are cut short for a metadata test suite), the camera's
// preview is still shown, however small, rather than nothing.
TEST(CodecCorpus, EveryRawFileGivesAnAnalysisImage)
{
    for (const CorpusEntry &e : corpusEntries("raw")) {
        SCOPED_TRACE(e.relative.toStdString());
        // Its image data and both previews are cut to a few bytes: nothing to show.
        if (e.relative == "raw/CanonRaw.cr2")
            continue;
        const QImage image = Codec::decodeScaled(e.path, 1280, true);
        EXPECT_FALSE(image.isNull());
        if (image.isNull())
            continue;
        EXPECT_EQ(image.format(), QImage::Format_RGBA8888_Premultiplied);
        EXPECT_LE(std::max(image.width(), image.height()), 1280);
    }
    // The Fujifilm's sensor data cannot be developed: its 160 x 120 camera preview stands in.
    const QImage raf = Codec::decodeScaled(corpus("raw/FujiFilm.raf"), 1280, true);
    ASSERT_FALSE(raf.isNull());
    EXPECT_EQ(raf.size(), QSize(160, 120));
}


namespace {

// An RGB profile like eciRGB v2: ICC version 2, D50 white, the ECI primaries and an
// L* tone curve (a table, which no parametric curve matches).
QByteArray lStarRgbProfile()
{
    std::vector<cmsUInt16Number> table(1024);
    for (size_t i = 0; i < table.size(); ++i) {
        const double l = 100.0 * double(i) / double(table.size() - 1);
        const double y = l > 8.0 ? std::pow((l + 16.0) / 116.0, 3.0) : l / 903.3;
        table[i] = cmsUInt16Number(std::lround(std::clamp(y, 0.0, 1.0) * 65535.0));
    }
    cmsToneCurve *curve = cmsBuildTabulatedToneCurve16(nullptr, cmsUInt32Number(table.size()), table.data());
    cmsToneCurve *curves[3] = {curve, curve, curve};
    const cmsCIExyYTRIPLE primaries = {{0.67, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.14, 0.08, 1.0}};
    cmsHPROFILE profile = cmsCreateRGBProfile(cmsD50_xyY(), &primaries, curves);
    cmsFreeToneCurve(curve);
    cmsSetProfileVersion(profile, 2.1);
    cmsMLU *description = cmsMLUalloc(nullptr, 1);
    cmsMLUsetASCII(description, "en", "US", "L-star RGB test (eciRGB v2 alike)");
    cmsWriteTag(profile, cmsSigProfileDescriptionTag, description);
    cmsMLUfree(description);
    return takeProfileBytes(profile);
}

QByteArray box(const char *type, const QByteArray &content)
{
    return be32(quint32(8 + content.size())) + QByteArray(type, 4) + content;
}

// The same JP2 file with its colour specification replaced by an ICC profile (method 2,
// "restricted ICC"). Boxes are walked at the top level and inside the header box.
QByteArray withJp2Profile(const QByteArray &jp2, const QByteArray &icc)
{
    QByteArray out;
    for (qsizetype at = 0; at + 8 <= jp2.size();) {
        const quint32 length = qFromBigEndian<quint32>(jp2.constData() + at);
        const QByteArray type = jp2.mid(at + 4, 4);
        const qsizetype end = length == 0 ? jp2.size() : at + qsizetype(length);
        if (type != "jp2h") {
            out += jp2.mid(at, end - at);
        } else {
            QByteArray header;
            for (qsizetype in = at + 8; in + 8 <= end;) {
                const quint32 inner = qFromBigEndian<quint32>(jp2.constData() + in);
                if (jp2.mid(in + 4, 4) != "colr")
                    header += jp2.mid(in, inner);
                in += inner;
            }
            header += box("colr", QByteArray("\x02\x00\x00", 3) + icc);
            out += box("jp2h", header);
        }
        at = end;
    }
    return out;
}

} // namespace

// libvips 8.14 does not see the ICC profile of a JPEG 2000 (OpenJPEG hands it over only
// with the pixels): the colour box is read here and lcms2 converts, as for a JPEG. A
// grey of 128 in an L*-encoded space (eciRGB v2) is L* 50, which sRGB writes as 119.
TEST(Codec, Jpeg2000WithAnEmbeddedProfileIsConvertedToSrgb)
{
    QTemporaryDir dir;
    Codec::initialize();
    std::vector<uchar> rgb(size_t(96) * 64 * 3);
    for (int y = 0; y < 64; ++y) {
        for (int x = 0; x < 96; ++x) {
            uchar *p = &rgb[(size_t(y) * 96 + x) * 3];
            p[0] = x < 64 ? 128 : 200;
            p[1] = x < 64 ? 128 : 60;
            p[2] = x < 64 ? 128 : 40;
        }
    }
    const QString plain = dir.filePath("plain.jp2");
    vips::VImage::new_from_memory(rgb.data(), rgb.size(), 96, 64, 3, VIPS_FORMAT_UCHAR)
            .jp2ksave(plain.toUtf8().constData(), vips::VImage::option()->set("lossless", true));
    QFile in(plain);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const QByteArray icc = lStarRgbProfile();
    const QString profiled = writeFile(dir, "eciRGB.jp2", withJp2Profile(in.readAll(), icc));

    EXPECT_EQ(Codec::colorProfileName(profiled), QStringLiteral("L-star RGB test (eciRGB v2 alike)"));
    const QImage before = Codec::decodeScaled(plain, 1280, true);
    const QImage after = Codec::decodeScaled(profiled, 1280, true);
    ASSERT_FALSE(before.isNull());
    ASSERT_FALSE(after.isNull());
    ASSERT_EQ(after.size(), QSize(96, 64));
    EXPECT_NEAR(qRed(before.pixel(16, 32)), 128, 2);

    // What lcms2 makes of the two colours, computed here on its own.
    cmsHPROFILE from = cmsOpenProfileFromMem(icc.constData(), cmsUInt32Number(icc.size()));
    cmsHPROFILE to = cmsCreate_sRGBProfile();
    cmsHTRANSFORM transform = cmsCreateTransform(from, TYPE_RGB_8, to, TYPE_RGB_8, INTENT_RELATIVE_COLORIMETRIC, 0);
    const uchar colours[2][3] = {{128, 128, 128}, {200, 60, 40}};
    uchar expected[2][3] = {};
    cmsDoTransform(transform, colours, expected, 2);
    cmsDeleteTransform(transform);
    cmsCloseProfile(from);
    cmsCloseProfile(to);
    EXPECT_NEAR(expected[0][0], 119, 2);
    for (int i = 0; i < 2; ++i) {
        const QColor got = after.pixelColor(i == 0 ? 16 : 80, 32);
        EXPECT_NEAR(got.red(), expected[i][0], 3) << i;
        EXPECT_NEAR(got.green(), expected[i][1], 3) << i;
        EXPECT_NEAR(got.blue(), expected[i][2], 3) << i;
    }
}

namespace {

// A picture of four vertical bands, each a solid colour.
vips::VImage bands(const std::vector<std::vector<double>> &colours, int width, int height)
{
    const int step = width / int(colours.size());
    vips::VImage picture = vips::VImage::black(width, height, vips::VImage::option()->set("bands", int(colours[0].size())));
    for (size_t i = 0; i < colours.size(); ++i) {
        const vips::VImage patch = vips::VImage::black(step, height, vips::VImage::option()->set("bands", int(colours[i].size())))
                                           .linear(std::vector<double>(colours[i].size(), 1.0), colours[i]);
        picture = picture.insert(patch, int(i) * step, 0);
    }
    return picture.cast(VIPS_FORMAT_UCHAR);
}

} // namespace

// A grey JPEG's own profile counts as an RGB one's does: grey 80 in a linear
// grey space is much lighter in sRGB. The preview and the full picture agree.
TEST(Codec, GreyJpegWithAGreyProfileIsConvertedToSrgb)
{
    QTemporaryDir dir;
    Codec::initialize();
    const QByteArray icc = linearGreyProfile();
    const std::vector<double> greys{30, 80, 128, 230};
    vips::VImage grey = bands({{greys[0]}, {greys[1]}, {greys[2]}, {greys[3]}}, 160, 40)
                                .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_B_W));
    grey.set(VIPS_META_ICC_NAME, nullptr, const_cast<char *>(icc.constData()), size_t(icc.size()));
    const QString path = dir.filePath("grey.jpg");
    grey.jpegsave(path.toUtf8().constData(), vips::VImage::option()->set("Q", 98));

    cmsHPROFILE from = cmsOpenProfileFromMem(icc.constData(), cmsUInt32Number(icc.size()));
    cmsHPROFILE to = cmsCreate_sRGBProfile();
    cmsHTRANSFORM transform = cmsCreateTransform(from, TYPE_GRAY_8, to, TYPE_RGB_8, INTENT_RELATIVE_COLORIMETRIC, 0);
    for (const QImage &picture : {Codec::decodeScaled(path, 1280, true), Codec::decodeFull(path)}) {
        ASSERT_FALSE(picture.isNull());
        for (size_t i = 0; i < greys.size(); ++i) {
            const uchar stored = uchar(greys[i]);
            uchar expected[3] = {};
            cmsDoTransform(transform, &stored, expected, 1);
            const QColor shown = picture.pixelColor(int(i) * 40 + 20, 20);
            EXPECT_NEAR(shown.red(), expected[0], 3) << i;
            EXPECT_NEAR(shown.blue(), expected[2], 3) << i;
            EXPECT_EQ(qAlpha(picture.pixel(int(i) * 40 + 20, 20)), 255);
        }
    }
    cmsDeleteTransform(transform);
    cmsCloseProfile(from);
    cmsCloseProfile(to);

    // A colour picture mislabelled with the grey profile keeps its colours.
    vips::VImage colour = bands({{200, 60, 40}, {40, 200, 60}, {60, 40, 200}, {128, 128, 128}}, 160, 40)
                                  .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
    colour.set(VIPS_META_ICC_NAME, nullptr, const_cast<char *>(icc.constData()), size_t(icc.size()));
    const QString mislabelled = dir.filePath("mislabelled.jpg");
    colour.jpegsave(mislabelled.toUtf8().constData(), vips::VImage::option()->set("Q", 98));
    const QImage shown = Codec::decodeScaled(mislabelled, 1280, true);
    ASSERT_FALSE(shown.isNull());
    EXPECT_NEAR(shown.pixelColor(20, 20).red(), 200, 4);
    EXPECT_NEAR(shown.pixelColor(20, 20).green(), 60, 4);
}

// A CMYK JPEG is shown with its own profile, as libvips' icc_transform converts it.
TEST(Codec, CmykJpegIsShownThroughItsOwnProfile)
{
    QTemporaryDir dir;
    Codec::initialize();
    const vips::VImage rgb = bands({{100, 180, 220}, {60, 200, 60}, {128, 128, 128}, {200, 60, 60}}, 160, 40)
                                     .copy(vips::VImage::option()->set("interpretation", VIPS_INTERPRETATION_sRGB));
    const QString path = dir.filePath("cmyk.jpg");
    rgb.icc_transform("cmyk", vips::VImage::option()->set("input_profile", "srgb"))
            .jpegsave(path.toUtf8().constData(), vips::VImage::option()->set("Q", 98));
    const vips::VImage reference = vips::VImage::new_from_file(path.toUtf8().constData())
                                           .icc_transform("srgb", vips::VImage::option()
                                                                          ->set("embedded", true)
                                                                          ->set("intent", VIPS_INTENT_RELATIVE));
    const QImage shown = Codec::decodeScaled(path, 1280, true);
    ASSERT_EQ(shown.size(), QSize(160, 40));
    for (int i = 0; i < 4; ++i) {
        const std::vector<double> expected = reference.getpoint(i * 40 + 20, 20);
        const QColor got = shown.pixelColor(i * 40 + 20, 20);
        EXPECT_NEAR(got.red(), expected[0], 3) << i;
        EXPECT_NEAR(got.green(), expected[1], 3) << i;
        EXPECT_NEAR(got.blue(), expected[2], 3) << i;
    }
}

TEST(CodecCorpus, AnimationsPlayGifThroughLibvipsAndApngThroughOurReader)
{
    const auto gif = Codec::frames(corpus("animated/iss634.gif"));
    ASSERT_TRUE(gif.has_value());
    EXPECT_EQ(gif->frames.size(), 42);
    EXPECT_EQ(gif->delaysMs.size(), 42);
    EXPECT_EQ(gif->frames.first().size(), QSize(245, 245));

    const auto apng = Codec::frames(corpus("animated/iss634.apng"));
    ASSERT_TRUE(apng.has_value());
    EXPECT_EQ(apng->frames.size(), 41);
    // The same animation in both formats: frame 10 looks alike.
    EXPECT_LT(meanDifference(gif->frames[10], apng->frames[10]), 20.0);

    for (const CorpusEntry &e : corpusEntries("animated")) {
        SCOPED_TRACE(e.relative.toStdString());
        const auto frames = Codec::frames(e.path);
        const int expected = e.properties.value("frames", "-1").toInt();
        if (e.relative.contains("syntax_num_frames_zero") || e.relative.contains("chunk_no_fctl")) {
            EXPECT_TRUE(!frames || frames->frames.size() <= 1);
            continue;
        }
        ASSERT_TRUE(frames.has_value());
        if (!e.relative.contains("iss634.gif") && !e.relative.contains("single_frame_default")) {
            EXPECT_EQ(frames->frames.size(), expected);
        }
        for (const QImage &frame : frames->frames) {
            EXPECT_EQ(frame.size(), e.size());
            EXPECT_EQ(frame.format(), QImage::Format_RGBA8888_Premultiplied);
        }
    }
    EXPECT_FALSE(Codec::frames(corpus("formats/hopper.gif")).has_value());
    EXPECT_FALSE(Codec::frames(corpus("formats/hopper.png")).has_value());
}

TEST(CodecCorpus, DamagedFilesGiveNothingOrAPartialImage)
{
    for (const CorpusEntry &e : corpusEntries("bad")) {
        SCOPED_TRACE(e.relative.toStdString());
        const auto header = Codec::probe(e.path);
        for (bool embedded : {false, true})
            expectDisplayReady(Codec::decodeScaled(e.path, 300, embedded), e.relative);
        const QImage full = Codec::decodeFull(e.path);
        expectDisplayReady(full, e.relative);
        if (!full.isNull()) {
            ASSERT_TRUE(header.has_value());
            EXPECT_EQ(full.size(), header->displayedSize());
        }
        Codec::frames(e.path);
        Codec::colorProfileName(e.path);
    }
}

// An icon file made only of classic entries: run-length RGB pictures with 8-bit
// masks. The largest (128 px) is the image, its mask is its alpha, and the smaller
// entries show the same picture.
TEST(Codec, ClassicIconEntriesAreRead)
{
    const QString path = corpus("formats/sample.icns");
    const QImage icon = Codec::decodeFull(path);
    ASSERT_EQ(icon.size(), QSize(128, 128));
    int transparent = 0, opaque = 0;
    for (int y = 0; y < icon.height(); ++y) {
        const uchar *p = icon.constScanLine(y);
        for (int x = 0; x < icon.width(); ++x, p += 4) {
            transparent += p[3] == 0;
            opaque += p[3] == 255;
            ASSERT_TRUE(p[0] <= p[3] && p[1] <= p[3] && p[2] <= p[3]);
        }
    }
    EXPECT_GT(transparent, 500);
    EXPECT_GT(opaque, 500);

    // The same file with only its 32-px entry and mask: the same picture, smaller.
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    QByteArray small("icns\0\0\0\0", 8);
    for (qsizetype at = 8; at + 8 <= bytes.size();) {
        const quint32 length = qFromBigEndian<quint32>(bytes.constData() + at + 4);
        ASSERT_GE(length, 8u);
        const QByteArray type = bytes.mid(at, 4);
        if (type == "il32" || type == "l8mk")
            small += bytes.mid(at, length);
        at += length;
    }
    qToBigEndian<quint32>(quint32(small.size()), small.data() + 4);
    QTemporaryDir dir;
    const QString smallPath = writeFile(dir, "small.icns", small);
    const QImage thirtyTwo = Codec::decodeFull(smallPath);
    ASSERT_EQ(thirtyTwo.size(), QSize(32, 32));
    EXPECT_LT(meanDifference(thirtyTwo, icon), 20.0);

    // Cut short inside the run-length data: nothing, not a crash.
    const QString cut = writeFile(dir, "cut.icns", bytes.left(bytes.size() - 20000));
    const QImage partial = Codec::decodeFull(cut);
    if (!partial.isNull()) {
        EXPECT_EQ(partial.format(), QImage::Format_RGBA8888_Premultiplied);
    }
}

TEST(Codec, ContentDecidesTheFormatNotTheName)
{
    QTemporaryDir dir;
    QFile jpeg(corpus("formats/hopper.jpg"));
    ASSERT_TRUE(jpeg.open(QIODevice::ReadOnly));
    const QString nef = writeFile(dir, "camera.nef", jpeg.readAll());
    EXPECT_EQ(Codec::formatOfFile(nef), ImageFormat::jpeg);
    EXPECT_EQ(Codec::decodeFull(nef).size(), QSize(128, 128));

    QFile png(corpus("formats/hopper.png"));
    ASSERT_TRUE(png.open(QIODevice::ReadOnly));
    const QString misnamed = writeFile(dir, "photo.jpg", png.readAll());
    EXPECT_EQ(Codec::formatOfFile(misnamed), ImageFormat::png);
    EXPECT_EQ(Codec::decodeFull(misnamed).size(), QSize(128, 128));

    const QString text = writeFile(dir, "notes.png", "just some text, not an image");
    EXPECT_FALSE(Codec::probe(text).has_value());
    EXPECT_TRUE(Codec::decodeFull(text).isNull());
    EXPECT_TRUE(Codec::decodeFull(dir.filePath("missing.jpg")).isNull());
}

// When a file gives no picture, what is wrong with it is read off the file, so
// the person is told something they can act on.
TEST(Codec, TheReasonAFileGivesNoPictureIsReadOffTheFile)
{
    QTemporaryDir dir;
    const auto why = [](const QString &path) { return Codec::whyRefused(path).refusal; };
    EXPECT_EQ(why(dir.filePath("missing.jpg")), Codec::Refusal::missing);
    ASSERT_TRUE(QFile::link(dir.filePath("missing.jpg"), dir.filePath("dangling.jpg")));
    EXPECT_EQ(why(dir.filePath("dangling.jpg")), Codec::Refusal::missing);
    // A look-up that fails otherwise (here a link to itself; on a share whose
    // link dropped, ENOTCONN) is no missing file: the error is named.
    ASSERT_TRUE(QFile::link(dir.filePath("loop.jpg"), dir.filePath("loop.jpg")));
    EXPECT_EQ(why(dir.filePath("loop.jpg")), Codec::Refusal::unreadable);
    EXPECT_EQ(Codec::whyRefused(dir.filePath("loop.jpg")).error, ELOOP);
    ASSERT_TRUE(QDir(dir.path()).mkdir("folder.jpg"));
    EXPECT_EQ(why(dir.filePath("folder.jpg")), Codec::Refusal::notAFile);
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir.filePath("fifo.jpg")).constData(), 0600), 0);
    EXPECT_EQ(why(dir.filePath("fifo.jpg")), Codec::Refusal::notAFile);
    EXPECT_EQ(why(writeFile(dir, "empty.jpg", {})), Codec::Refusal::empty);
    EXPECT_EQ(why(writeFile(dir, "notes.jpg", "just some text, not an image")), Codec::Refusal::notAnImage);

    // A real image whose data is cut short: nothing to say beyond "cannot be shown".
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(Qt::darkGreen);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    ASSERT_TRUE(buffer.open(QIODevice::WriteOnly) && picture.save(&buffer, "JPEG"));
    EXPECT_EQ(why(writeFile(dir, "whole.jpg", jpeg)), Codec::Refusal::unknown);
    EXPECT_EQ(why(writeFile(dir, "cut.jpg", jpeg.left(300))), Codec::Refusal::unknown);

    // Root reads anything, so the permission case only shows for other users.
    const QString locked = writeFile(dir, "locked.jpg", jpeg);
    ASSERT_TRUE(QFile::setPermissions(locked, {}));
    EXPECT_EQ(why(locked), ::geteuid() == 0 ? Codec::Refusal::unknown : Codec::Refusal::noPermission);
}

// Headers that claim far more pixels than their file could hold are refused before
// anything is allocated: beyond a gigapixel always, and a hundred megapixels in
// a file of under 200 bytes (below the old gigapixel bound, far beyond what so few bytes
// describe).
TEST(Codec, HeadersClaimingMorePixelsThanTheFileCouldHoldAreRefusedUndecoded)
{
    QTemporaryDir dir;
    const auto pngHeader = [](quint32 side) {
        const QByteArray ihdr = be32(side) + be32(side) + QByteArray("\x08\x06\x00\x00\x00", 5);
        return QByteArray("\x89PNG\r\n\x1a\n", 8) + be32(13) + "IHDR" + ihdr + be32(crc32Of("IHDR" + ihdr));
    };
    // The first rows of zeros and the end, as a real bomb has them.
    const QByteArray zlib = qCompress(QByteArray(100'000, '\0')).mid(4);
    const QByteArray rest = be32(quint32(zlib.size())) + "IDAT" + zlib + be32(crc32Of("IDAT" + zlib)) + be32(0) +
                            "IEND" + be32(crc32Of("IEND"));
    const QString gigapixel = writeFile(dir, "huge.png", pngHeader(40000) + rest);
    EXPECT_FALSE(Codec::probe(gigapixel).has_value());
    EXPECT_TRUE(Codec::decodeScaled(gigapixel, 512, false).isNull());
    const QString bomb = writeFile(dir, "bomb.png", pngHeader(10000) + rest);
    EXPECT_FALSE(Codec::probe(bomb).has_value());
    EXPECT_TRUE(Codec::decodeFull(bomb).isNull());

    // A JPEG whose frame header says 60000 x 60000.
    QByteArray jpeg("\xFF\xD8", 2);
    jpeg += QByteArray("\xFF\xC0\x00\x11\x08\xEA\x60\xEA\x60\x03\x01\x22\x00\x02\x11\x01\x03\x11\x01", 19);
    jpeg += QByteArray("\xFF\xD9", 2);
    const QString jpegPath = writeFile(dir, "huge.jpg", jpeg);
    EXPECT_FALSE(Codec::probe(jpegPath).has_value());
    EXPECT_TRUE(Codec::decodeScaled(jpegPath, 512, false).isNull());
    EXPECT_TRUE(Codec::decodeFull(jpegPath).isNull());

    // The viewer and the export name the reason.
    for (const auto &[file, side] : {std::pair{gigapixel, 40000}, {bomb, 10000}, {jpegPath, 60000}}) {
        const Codec::RefusalReason why = Codec::whyRefused(file);
        EXPECT_EQ(why.refusal, Codec::Refusal::tooLarge) << qPrintable(file);
        EXPECT_EQ(why.claimedSize, QSize(side, side));
    }

    EXPECT_EQ(Codec::pixelLimitForFileSize(0), 0);
    EXPECT_EQ(Codec::pixelLimitForFileSize(200'000), 200'000 * Codec::pixelsPerFileByte);
    EXPECT_EQ(Codec::pixelLimitForFileSize(qint64(1) << 40), Codec::maxPixelCount);
}

// Pictures decoded whole (Qt's readers, animations) stay within the decode budget:
// a bitmap beyond it is refused by Qt's own allocation limit, an animation beyond
// it plays the frames that fit and says how many there are.
TEST(Codec, WholePictureDecodesStayWithinTheDecodeBudget)
{
    const int64_t saved = Codec::decodeBudgetBytes();
    QTemporaryDir dir;
    const QString bmp = dir.filePath("big.bmp");
    QImage picture(800, 800, QImage::Format_RGB888); // 2.4 MiB as the reader holds it
    picture.fill(Qt::darkCyan);
    ASSERT_TRUE(picture.save(bmp, "BMP"));

    Codec::setDecodeBudgetBytes(int64_t(1) << 20);
    EXPECT_TRUE(Codec::probe(bmp).has_value());
    EXPECT_TRUE(Codec::decodeFull(bmp).isNull());
    const std::vector<std::pair<const char *, int>> animations{{"animated/iss634.gif", 42},
                                                               {"animated/iss634.apng", 41}};
    for (const auto &[name, total] : animations) {
        SCOPED_TRACE(name);
        const auto shortened = Codec::frames(corpus(name)); // 245 x 245: four frames to a MiB
        ASSERT_TRUE(shortened.has_value());
        EXPECT_EQ(shortened->frames.size(), 4);
        EXPECT_EQ(shortened->delaysMs.size(), 4);
        EXPECT_EQ(shortened->totalFrames, total);
        EXPECT_TRUE(shortened->isShortened());
    }

    Codec::setDecodeBudgetBytes(int64_t(64) << 20);
    EXPECT_EQ(Codec::decodeFull(bmp).size(), QSize(800, 800));
    for (const auto &[name, total] : animations) {
        SCOPED_TRACE(name);
        const auto whole = Codec::frames(corpus(name));
        ASSERT_TRUE(whole.has_value());
        EXPECT_EQ(whole->frames.size(), total);
        EXPECT_EQ(whole->totalFrames, total);
        EXPECT_FALSE(whole->isShortened());
        EXPECT_EQ(whole->frames.first().size(), QSize(245, 245));
    }
    Codec::setDecodeBudgetBytes(saved);
}

TEST(Codec, TruncatedJpegGivesAPartialImageOrNothing)
{
    QFile source(corpus("orientation/Landscape_1.jpg"));
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    const QByteArray bytes = source.readAll();
    QTemporaryDir dir;
    for (double keep : {0.02, 0.3, 0.7}) {
        const QString path = writeFile(dir, QString("cut-%1.jpg").arg(keep), bytes.left(qsizetype(bytes.size() * keep)));
        const QImage image = Codec::decodeScaled(path, 800, false);
        if (!image.isNull()) {
            EXPECT_EQ(image.format(), QImage::Format_RGBA8888_Premultiplied);
            EXPECT_EQ(std::max(image.width(), image.height()), 800);
        }
    }
}

namespace {

struct JpegCase {
    std::string name;
    QByteArray bytes;
    std::vector<int> sizes;
};

// The reference: TurboJPEG's whole decode at the DCT scale the quality asks for (the fine
// one leaves a factor of two to its Lanczos pass), then the quality's resampler.
void expectRowReductionMatchesWholeDecode(const std::vector<JpegCase> &cases,
                                          Codec::ScaleQuality quality = Codec::ScaleQuality::fast)
{
    const bool fine = quality == Codec::ScaleQuality::fine;
    tjhandle tj = tjInitDecompress();
    ASSERT_NE(tj, nullptr);
    auto wholeThenReduced = [&](const QByteArray &jpeg, int maxPixelSize) {
        const auto *data = reinterpret_cast<const unsigned char *>(jpeg.constData());
        int w = 0, h = 0, subsampling = 0, colorspace = 0;
        if (tjDecompressHeader3(tj, data, (unsigned long)jpeg.size(), &w, &h, &subsampling, &colorspace) != 0)
            return QImage();
        const QSize target = CodecDetail::fitWithin(QSize(w, h), maxPixelSize);
        const int wanted = std::max(target.width(), target.height()) * (fine ? 2 : 1);
        tjscalingfactor factor{1, 1};
        while (factor.denom < 8 && TJSCALED(std::max(w, h), (tjscalingfactor{1, factor.denom * 2})) >= wanted)
            factor.denom *= 2;
        const int sw = TJSCALED(w, factor), sh = TJSCALED(h, factor);
        std::vector<uint8_t> whole(size_t(sw) * size_t(sh) * 4);
        const int flags = factor.denom > 1 && !fine ? TJFLAG_FASTUPSAMPLE : 0;
        if (tjDecompress2(tj, data, (unsigned long)jpeg.size(), whole.data(), sw, 0, sh, TJPF_RGBA, flags) != 0
            && tjGetErrorCode(tj) != TJERR_WARNING)
            return QImage();
        QImage reduced(target, QImage::Format_RGBA8888_Premultiplied);
        CodecDetail::resampleFor(quality, whole.data(), sw, sh, sw * 4, reduced.bits(), reduced.width(),
                                 reduced.height(), reduced.bytesPerLine());
        return reduced;
    };
    for (const JpegCase &c : cases) {
        for (int size : c.sizes) {
            SCOPED_TRACE(c.name + " at " + std::to_string(size));
            const QImage expected = wholeThenReduced(c.bytes, size);
            ASSERT_FALSE(expected.isNull());
            const QImage ours = CodecDetail::jpegDecode(reinterpret_cast<const uint8_t *>(c.bytes.constData()),
                                                        size_t(c.bytes.size()), size, false, quality, 1);
            ASSERT_EQ(ours.size(), expected.size());
            EXPECT_TRUE(ours == expected);
        }
    }
    tjDestroy(tj);
}

// A picture with detail everywhere, JPEG-compressed with the given chroma
// subsampling (and progressive when asked).
QByteArray syntheticJpeg(int width, int height, int subsampling, bool progressive)
{
    std::vector<uint8_t> pixels(size_t(width) * size_t(height) * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t *p = &pixels[(size_t(y) * size_t(width) + size_t(x)) * 4];
            p[0] = uint8_t(128 + 100 * std::sin(x * 0.05) * std::cos(y * 0.03));
            p[1] = uint8_t((x * 7 + y * 3) & 0xFF);
            p[2] = uint8_t(((x / 9) ^ (y / 5)) * 13);
            p[3] = 255;
        }
    }
    tjhandle tj = tjInitCompress();
    unsigned char *out = nullptr;
    unsigned long size = 0;
    const int flags = progressive ? TJFLAG_PROGRESSIVE : 0;
    QByteArray jpeg;
    if (tjCompress2(tj, pixels.data(), width, 0, height, TJPF_RGBA, &out, &size, subsampling, 85, flags) == 0)
        jpeg = QByteArray(reinterpret_cast<const char *>(out), qsizetype(size));
    tjFree(out);
    tjDestroy(tj);
    return jpeg;
}

} // namespace

// A JPEG preview is reduced row by row while it decodes; it must hold exactly the
// pixels of the whole scaled decode reduced afterwards: every sampling layout,
// progressive and grey files, odd sizes (the last rows and columns), a size that
// needs no reduction, and streams cut short.
TEST(Codec, JpegPreviewsReducedWhileDecodingMatchTheWholeDecodeReduced)
{
    const QByteArray wide = syntheticJpeg(3008, 2000, TJSAMP_422, false);
    const QByteArray progressive = syntheticJpeg(2500, 1667, TJSAMP_420, true);
    ASSERT_FALSE(wide.isEmpty());
    ASSERT_FALSE(progressive.isEmpty());
    QFile file(corpus("formats/progressive.jpg"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    expectRowReductionMatchesWholeDecode({
        {"2x1 chroma", wide, {1504, 1503, 999, 377}}, // 1504 is an exact halving
        {"1x2 chroma, portrait", syntheticJpeg(1536, 2048, TJSAMP_440, false), {1023, 255}},
        {"2x2 chroma, progressive", progressive, {1249, 701}},
        {"grey", syntheticJpeg(958, 717, TJSAMP_GRAY, false), {479, 97}},
        {"no subsampling, odd width", file.readAll(), {455, 301, 57}},
        {"2x1 chroma, half the stream", wide.left(wide.size() / 2), {999}},
        {"progressive, 60% of the stream", progressive.left(progressive.size() * 6 / 10), {701}},
    });
    // The Lanczos reduction for analysis runs as the rows come out too: a 12 MP photo
    // reduced to 1280 (a whole decode, 20 source rows per output row), DCT-scaled ones,
    // odd sizes and a cut stream.
    const QByteArray twelve = syntheticJpeg(4000, 3000, TJSAMP_420, false);
    ASSERT_FALSE(twelve.isEmpty());
    expectRowReductionMatchesWholeDecode(
        {
            {"12 MP, 2x2 chroma", twelve, {1280, 1279, 997, 400}},
            {"2x1 chroma", wide, {1504, 1503, 751, 377}},
            {"1x2 chroma, portrait", syntheticJpeg(1536, 2048, TJSAMP_440, false), {1023, 255}},
            {"grey", syntheticJpeg(958, 717, TJSAMP_GRAY, false), {479, 97}},
            {"12 MP, half the stream", twelve.left(twelve.size() / 2), {1280}},
        },
        Codec::ScaleQuality::fine);
}

TEST(CodecCorpus, JpegPreviewsOfCameraFilesReducedWhileDecodingMatchTheWholeDecodeReduced)
{
    GLANTO_NEEDS_CORPUS();
    struct Case {
        const char *file;
        double keep; // the share of the file's bytes given to the decoder
        std::vector<int> sizes;
    };
    const Case cases[] = {
        {"exif/Nikon D70.jpg", 1.0, {1504, 1503, 999, 377}}, // 2x1 chroma; 1504 is an exact halving
        {"duplicates/Epson PhotoPC 3000Z.jpg", 1.0, {1023, 255}}, // 1x2 chroma, portrait
        {"faces-open/img4.jpg", 1.0, {1249, 701}}, // 2x2 chroma, progressive
        {"duplicates/ukbench00120_gray.jpg", 1.0, {479, 97}},
        {"formats/progressive.jpg", 1.0, {455, 301, 57}}, // no subsampling, odd width
        {"exif/Nikon D70.jpg", 0.5, {999}},
        {"faces-open/img4.jpg", 0.6, {701}},
    };
    std::vector<JpegCase> read;
    for (const Case &c : cases) {
        QFile file(corpus(c.file));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << c.file;
        read.push_back({std::string(c.file) + " keep " + std::to_string(c.keep),
                        file.readAll().left(qsizetype(file.size() * c.keep)), c.sizes});
    }
    expectRowReductionMatchesWholeDecode(read);
    // The analysis image's Lanczos reduction of the same files.
    for (JpegCase &c : read)
        c.sizes = {1280, 640};
    expectRowReductionMatchesWholeDecode(read, Codec::ScaleQuality::fine);
}

namespace {

// "37x23 -> 25x13", for the traces of the resampling tests.
std::string resizeName(QSize from, QSize to)
{
    return std::to_string(from.width()) + "x" + std::to_string(from.height()) + " -> " + std::to_string(to.width())
        + "x" + std::to_string(to.height());
}

} // namespace

// The AVX2 passes of both resamplers give exactly the pixels of the plain ones: odd
// widths (a last pixel left to the plain loop), strong and mild reductions, a stretch,
// translucent pixels (no channel may end up above alpha) and rows padded past their end.
TEST(Codec, VectorResamplingGivesThePlainPixels)
{
    const QSize sizes[][2] = {{{4000, 37}, {1280, 12}}, {{2561, 40}, {1279, 20}}, {{997, 31}, {641, 17}},
                              {{640, 19}, {97, 5}},     {{33, 9}, {33, 9}},       {{13, 7}, {29, 11}},
                              {{3, 3}, {1, 1}}};
    uint32_t seed = 2024;
    const auto next = [&seed] { return (seed = seed * 1664525u + 1013904223u) >> 24; };
    for (const auto &pair : sizes) {
        const QSize from = pair[0], to = pair[1];
        SCOPED_TRACE(resizeName(from, to));
        const int sstride = from.width() * 4 + 12;
        std::vector<uint8_t> src(size_t(sstride) * size_t(from.height()));
        for (size_t i = 0; i + 4 <= src.size(); i += 4) {
            // Hard edges (to make the lobes overshoot) and every third pixel translucent.
            const uint8_t alpha = i % 12 == 0 ? uint8_t(next()) : 255;
            for (size_t c = 0; c < 3; ++c)
                src[i + c] = uint8_t(std::min<uint32_t>(next() & 0x80 ? 255 - (next() & 15) : next() & 15, alpha));
            src[i + 3] = alpha;
        }
        for (const bool lanczos : {true, false}) {
            QImage plain(to, QImage::Format_RGBA8888_Premultiplied), vector(plain);
            for (QImage *out : {&plain, &vector}) {
                CodecDetail::setVectorResampling(out == &vector);
                (lanczos ? CodecDetail::lanczosRgba : CodecDetail::resampleRgba)(
                    src.data(), from.width(), from.height(), sstride, out->bits(), to.width(), to.height(),
                    out->bytesPerLine());
            }
            CodecDetail::setVectorResampling(true);
            for (int y = 0; y < to.height(); ++y)
                ASSERT_EQ(std::memcmp(plain.constScanLine(y), vector.constScanLine(y), size_t(to.width()) * 4), 0)
                    << (lanczos ? "Lanczos" : "two-tap") << ", row " << y;
        }
    }
}

// The two-tap reduction against linear interpolation worked out in floating point,
// at sizes whose last row and column fall in different places.
TEST(Codec, MildReductionsInterpolateLinearlyUpToTheEdges)
{
    const QSize sizes[][2] = {{{37, 23}, {25, 13}}, {{1, 5}, {1, 3}}, {{17, 2}, {9, 2}}, {{64, 64}, {63, 33}},
                              {{3, 40}, {2, 21}}};
    uint32_t seed = 12345;
    for (const auto &pair : sizes) {
        const QSize from = pair[0], to = pair[1];
        SCOPED_TRACE(resizeName(from, to));
        // Rows padded beyond the pixels, so that reading past a row's end would show.
        const int sstride = from.width() * 4 + 12;
        std::vector<uint8_t> src(size_t(sstride) * size_t(from.height()));
        for (uint8_t &v : src)
            v = uint8_t((seed = seed * 1664525u + 1013904223u) >> 24);
        QImage out(to, QImage::Format_RGBA8888_Premultiplied);
        CodecDetail::resampleRgba(src.data(), from.width(), from.height(), sstride, out.bits(), to.width(),
                                  to.height(), out.bytesPerLine());
        auto taps = [](int i, int srcSize, int dstSize) {
            const double center = (i + 0.5) * srcSize / dstSize - 0.5;
            const int first = int(std::floor(center));
            return std::tuple(first, std::min(first + 1, srcSize - 1), center - first);
        };
        for (int y = 0; y < to.height(); ++y) {
            const auto [y0, y1, fy] = taps(y, from.height(), to.height());
            for (int x = 0; x < to.width(); ++x) {
                const auto [x0, x1, fx] = taps(x, from.width(), to.width());
                for (int c = 0; c < 4; ++c) {
                    auto at = [&](int sx, int sy) { return double(src[size_t(sy) * sstride + sx * 4 + c]); };
                    const double want = (1 - fy) * ((1 - fx) * at(x0, y0) + fx * at(x1, y0))
                                        + fy * ((1 - fx) * at(x0, y1) + fx * at(x1, y1));
                    ASSERT_NEAR(out.constScanLine(y)[x * 4 + c], want, 1.0) << x << "," << y << " channel " << c;
                }
            }
        }
    }
}

TEST(Codec, EmbeddedProfilesAreConvertedToSrgb)
{
    // An Adobe RGB photo: compare with Qt's own colour-managed reading.
    const QString path = corpus("exif/Canon EOS 7D.jpg");
    QImage reference(path);
    ASSERT_FALSE(reference.isNull());
    ASSERT_TRUE(reference.colorSpace().isValid());
    QImage untransformed = reference;
    reference.convertToColorSpace(QColorSpace(QColorSpace::SRgb));
    const QImage ours = Codec::decodeFull(path);
    ASSERT_FALSE(ours.isNull());
    const double managed = meanDifference(reference, ours);
    const double unmanaged = meanDifference(untransformed, ours);
    EXPECT_LT(managed, 3.0);
    EXPECT_GT(unmanaged, managed);
    EXPECT_EQ(Codec::colorProfileName(path), QStringLiteral("Adobe RGB (1998)"));
    EXPECT_EQ(Codec::colorProfileName(corpus("formats/big-endian.tiff")), QStringLiteral("Generic RGB Profile"));
    EXPECT_TRUE(Codec::colorProfileName(corpus("formats/hopper.jpg")).isEmpty());
}

TEST(Codec, EncodedFilesReadBack)
{
    QImage gradient(300, 200, QImage::Format_RGBA8888_Premultiplied);
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 300; ++x)
            gradient.setPixel(x, y, qRgb(x * 255 / 299, y * 255 / 199, 128));
    QTemporaryDir dir;
    for (ImageFormat format : {ImageFormat::jpeg, ImageFormat::png, ImageFormat::webp, ImageFormat::tiff,
                               ImageFormat::bmp, ImageFormat::heif, ImageFormat::avif}) {
        SCOPED_TRACE(Codec::formatName(format));
        const QString path = dir.filePath(QString("out.") + Codec::formatName(format));
        ASSERT_TRUE(Codec::encode(gradient, path, format, 90));
        EXPECT_EQ(Codec::formatOfFile(path), format);
        const QImage back = Codec::decodeFull(path);
        ASSERT_EQ(back.size(), gradient.size());
        EXPECT_LT(meanDifference(gradient, back), format == ImageFormat::png || format == ImageFormat::tiff || format == ImageFormat::bmp ? 0.01 : 4.0);
    }
}

// Inputs the fuzzing harnesses found, kept in tests/data/fuzz/<reader>/ and each
// named after its fault.
namespace {

QStringList fuzzFound(const QString &reader)
{
    const QDir dir(QStringLiteral(GLANTO_TEST_DATA_DIR "/fuzz/") + reader);
    QStringList paths;
    for (const QString &name : dir.entryList(QDir::Files, QDir::Name))
        paths.append(dir.filePath(name));
    return paths;
}

} // namespace

// Each claims a picture far larger than its data could ever inflate to: refused
// before the canvas or a frame is allocated, not after a gigabyte and a minute.
TEST(CodecFuzzFound, ApngInputsAreRefusedBeforeAllocating)
{
    const QStringList paths = fuzzFound(QStringLiteral("apng"));
    ASSERT_FALSE(paths.isEmpty());
    for (const QString &path : paths) {
        SCOPED_TRACE(path.toStdString());
        CodecDetail::pngHasAnimationControl(path);
        EXPECT_FALSE(CodecDetail::apngFrames(path).has_value());
    }
}

// Each decoding thread reuses one LibRaw object, whose settings outlive the file they
// were made for, and LibRaw reads some of them (half size among them) while opening a
// file. A RAW developed after another must come out as it does on a fresh thread.
TEST(CodecCorpus, ARawDevelopsAlikeWhateverItsThreadDecodedBefore)
{
    GLANTO_NEEDS_CORPUS();
    const auto onFreshThread = [](const std::function<QImage()> &decode) {
        QImage image;
        std::thread([&] { image = decode(); }).join();
        return image;
    };
    // Its camera preview is a few bytes: it is developed by LibRaw, in full at 1280 px.
    const QString nikon = corpus("raw/Nikon.nef");
    const QImage alone = onFreshThread([&] { return Codec::decodeScaled(nikon, 1280, true); });
    ASSERT_FALSE(alone.isNull());
    // A RAW developed at half size first.
    const QImage after = onFreshThread([&] {
        (void)Codec::decodeScaled(corpus("raw/Panasonic.rw2"), 300, true);
        return Codec::decodeScaled(nikon, 1280, true);
    });
    EXPECT_EQ(after.size(), alone.size());
    EXPECT_TRUE(after == alone);

    // A file cut short, whose decoder reads on past its end into a buffer it keeps
    // between files: after a CR3 it failed to develop and showed its 8 px preview, alone
    // it developed from the stale buffer; now what lies past the end reads as zeros.
    const QString cutShort = corpus("raw/Panasonic.rw2");
    const QImage first = onFreshThread([&] { return Codec::decodeScaled(cutShort, 1280, true); });
    EXPECT_EQ(first.width(), 1280);
    for (const char *before : {"raw/CanonRaw.cr3", "raw/Canon-R6-pruned.CR3", "raw/Nikon.nef"}) {
        SCOPED_TRACE(before);
        const QImage later = onFreshThread([&] {
            (void)Codec::decodeScaled(corpus(before), 1280, true);
            return Codec::decodeScaled(cutShort, 1280, true);
        });
        EXPECT_EQ(later.size(), first.size());
        EXPECT_TRUE(later == first);
    }
}
