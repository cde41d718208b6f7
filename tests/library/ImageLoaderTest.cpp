// The loader's rules: sizes as shown, the preview tolerance, the full-size cap,
// animation facts, caches with their limits and memory pressure, thread safety.

#include "cleanup/SharpnessMeasures.h"
#include "library/ImageLoader.h"
#include "TestData.h"

#include <exiv2/exiv2.hpp>
#include <gtest/gtest.h>
#include <vips/vips8>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <thread>

using vips::VImage;

namespace {

constexpr uint64_t GiB = uint64_t(1) << 30;
constexpr int64_t MiB = 1 << 20;

QString corpus(const char *relative)
{
    return TestData::photo(QLatin1String(relative));
}

// A JPEG of one colour, optionally with an EXIF thumbnail of another colour.
QString makeJpeg(const QTemporaryDir &dir, const QString &name, int w, int h, QRgb colour,
                 std::optional<std::pair<QSize, QRgb>> thumb = std::nullopt)
{
    const QString path = dir.filePath(name);
    QImage image(w, h, QImage::Format_RGBA8888_Premultiplied);
    image.fill(QColor(colour));
    EXPECT_TRUE(Codec::encode(image, path, ImageFormat::jpeg, 80));
    if (thumb) {
        QImage small(thumb->first, QImage::Format_RGB888);
        small.fill(QColor(thumb->second));
        const QString thumbPath = dir.filePath(name + ".thumb.jpg");
        small.save(thumbPath, "JPEG");
        auto file = Exiv2::ImageFactory::open(path.toStdString());
        file->readMetadata();
        Exiv2::ExifThumb exifThumb(file->exifData());
        exifThumb.setJpegThumbnail(thumbPath.toStdString());
        file->writeMetadata();
    }
    return path;
}

QRgb centre(const QImage &image)
{
    return image.pixel(image.width() / 2, image.height() / 2);
}

bool nearColour(QRgb a, QRgb b)
{
    if (!(std::abs(qRed(a) - qRed(b)) < 24 && std::abs(qGreen(a) - qGreen(b)) < 24 && std::abs(qBlue(a) - qBlue(b)) < 24))
        std::fprintf(stderr, "colour %d %d %d, expected %d %d %d\n", qRed(a), qGreen(a), qBlue(a), qRed(b), qGreen(b), qBlue(b));
    return std::abs(qRed(a) - qRed(b)) < 24 && std::abs(qGreen(a) - qGreen(b)) < 24 && std::abs(qBlue(a) - qBlue(b)) < 24;
}

} // namespace

// Between the 4 GiB floor and the 16 GiB ceiling the caches grow with the memory.
TEST(ImageCacheLimits, ScaleWithPhysicalMemoryWithinBounds)
{
    const auto tiny = ImageCacheLimits::forPhysicalMemory(512 * MiB);
    const auto four = ImageCacheLimits::forPhysicalMemory(4 * GiB);
    const auto eight = ImageCacheLimits::forPhysicalMemory(8 * GiB);
    const auto sixteen = ImageCacheLimits::forPhysicalMemory(16 * GiB);
    const auto huge = ImageCacheLimits::forPhysicalMemory(256 * GiB);
    EXPECT_EQ(tiny.previewCost, four.previewCost);
    EXPECT_EQ(tiny.fullCost, four.fullCost);
    EXPECT_EQ(eight.previewCost, int64_t(8 * GiB / 48));
    EXPECT_EQ(eight.fullCost, int64_t(8 * GiB / 24));
    EXPECT_EQ(huge.previewCost, sixteen.previewCost);
    EXPECT_EQ(huge.fullCost, sixteen.fullCost);
    ImageLoader loader(4 * GiB);
    EXPECT_EQ(loader.limits().previewCost, four.previewCost);
}

TEST(ImageLoader, InfoReportsTheSizeAsShown)
{
    ImageLoader loader(4 * GiB);
    // Stored 640 x 480 with orientation 6.
    const auto samsung = loader.info(corpus("orientation/Samsung GT-I9000 (Galaxy S).jpg"));
    ASSERT_TRUE(samsung.has_value());
    EXPECT_EQ(samsung->pixelSize, QSizeF(480, 640));
    const auto landscape6 = loader.info(corpus("orientation/Landscape_6.jpg"));
    ASSERT_TRUE(landscape6.has_value());
    EXPECT_EQ(landscape6->pixelSize, QSizeF(1800, 1200));
    const QImage preview = loader.preview(corpus("orientation/Landscape_6.jpg"), 600);
    EXPECT_EQ(preview.size(), QSize(600, 400));
    const QImage full = loader.full(corpus("orientation/Landscape_6.jpg"));
    EXPECT_EQ(full.size(), QSize(1800, 1200));
    EXPECT_EQ(full.format(), QImage::Format_RGBA8888_Premultiplied);
}

TEST(ImageLoaderCorpus, ADamagedFileHasNoInfoAndNoPreview)
{
    GLANTO_NEEDS_CORPUS();
    ImageLoader loader(4 * GiB);
    EXPECT_FALSE(loader.info(corpus("bad/issue_2027_poc.jpg")).has_value());
    EXPECT_FALSE(loader.cachedInfo(corpus("bad/issue_2027_poc.jpg")).has_value());
    EXPECT_TRUE(loader.preview(corpus("bad/issue_2027_poc.jpg"), 500).isNull());
}

TEST(ImageLoader, AnimatedMeansMultiFrameGifOrApng)
{
    ImageLoader loader(4 * GiB);
    EXPECT_TRUE(loader.info(corpus("animated/iss634.gif"))->isAnimated);
    EXPECT_TRUE(loader.info(corpus("animated/iss634.apng"))->isAnimated);
    EXPECT_FALSE(loader.info(corpus("formats/hopper.gif"))->isAnimated); // one frame
    EXPECT_FALSE(loader.info(corpus("formats/hopper.png"))->isAnimated);
    EXPECT_FALSE(loader.info(corpus("formats/hopper.webp"))->isAnimated);
    EXPECT_FALSE(loader.info(corpus("orientation/kimono.avif"))->isAnimated);
    const auto frames = loader.frames(corpus("animated/delay.png"));
    ASSERT_TRUE(frames.has_value());
    EXPECT_EQ(frames->frames.size(), frames->delaysMs.size());
}

TEST(ImageLoader, CachedPreviewToleratesOnePixelOrTheWholeImage)
{
    QTemporaryDir dir;
    const QString big = makeJpeg(dir, "big.jpg", 3000, 2000, qRgb(40, 90, 200));
    ImageLoader loader(4 * GiB);
    const QImage p1999 = loader.preview(big, 1999);
    ASSERT_EQ(p1999.width(), 1999);
    EXPECT_FALSE(loader.cachedPreview(big, 2000).isNull());  // one pixel short is good enough
    EXPECT_TRUE(loader.cachedPreview(big, 2001).isNull());   // two are not
    EXPECT_FALSE(loader.cachedPreview(big, 1000).isNull());
    EXPECT_EQ(loader.preview(big, 2500).width(), 2500);      // a larger request decodes again

    const QString small = makeJpeg(dir, "small.jpg", 1200, 800, qRgb(200, 90, 40));
    EXPECT_EQ(loader.preview(small, 4000).width(), 1200);     // never enlarged
    EXPECT_TRUE(loader.cachedPreview(small, 2000).isNull());  // size unknown yet
    ASSERT_TRUE(loader.info(small).has_value());
    EXPECT_FALSE(loader.cachedPreview(small, 2000).isNull()); // holds the whole image

    loader.dropPreview(big);
    EXPECT_TRUE(loader.cachedPreview(big, 100).isNull());
    EXPECT_FALSE(loader.cachedPreview(small, 100).isNull());
}

TEST(ImageLoader, FullIsCappedAt16384Pixels)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("wide.jpg");
    VImage::black(20000, 10000, VImage::option()->set("bands", 3))
        .jpegsave(path.toUtf8().constData(), VImage::option()->set("Q", 50));
    ImageLoader loader(16 * GiB);
    EXPECT_EQ(loader.info(path)->pixelSize, QSizeF(20000, 10000));
    const QImage full = loader.full(path);
    EXPECT_EQ(full.size(), QSize(16384, 8192));
    EXPECT_EQ(loader.decodeFull(path, 1000, false).size(), QSize(1000, 500));
}

// The cleanup measures sharpness on makeThumbnail's 1280-px image, with thresholds
// set on libvips' thumbnail (Lanczos 3); a softer reduction would call sharp photos
// blurry. Camera photos of 10, 12 and 16 MP and a 3 MP phone photo.
static void expectAnalysisImagesMatchLibvips(std::initializer_list<const char *> names)
{
    ImageLoader loader(4 * GiB);
    for (const char *name : names) {
        SCOPED_TRACE(name);
        const QString path = corpus(name);
        const QImage ours = loader.makeThumbnail(path, 1280, false, false);
        VImage thumb = VImage::thumbnail(path.toUtf8().constData(), 1280, VImage::option()->set("height", 1280));
        ASSERT_EQ(ours.size(), QSize(thumb.width(), thumb.height()));
        ASSERT_EQ(thumb.bands(), 3);
        size_t bytes = 0;
        auto *pixels = static_cast<uint8_t *>(thumb.write_to_memory(&bytes));
        QImage reference(ours.size(), QImage::Format_RGBA8888_Premultiplied);
        double squares = 0;
        for (int y = 0; y < ours.height(); ++y) {
            const uint8_t *p = ours.constScanLine(y);
            const uint8_t *q = pixels + size_t(y) * size_t(ours.width()) * 3;
            uint8_t *r = reference.scanLine(y);
            for (int x = 0; x < ours.width(); ++x, p += 4, q += 3, r += 4) {
                for (int c = 0; c < 3; ++c) {
                    squares += (double(p[c]) - q[c]) * (double(p[c]) - q[c]);
                    r[c] = q[c];
                }
                r[3] = 255;
            }
        }
        g_free(pixels);
        EXPECT_LT(std::sqrt(squares / (3.0 * ours.width() * ours.height())), 1.5);
        const double sharpness = gridSharpness(GreyImage::fromImage(ours));
        const double expected = gridSharpness(GreyImage::fromImage(reference));
        EXPECT_NEAR(sharpness / expected, 1.0, 0.06) << sharpness << " vs " << expected;
    }
}

TEST(ImageLoader, AnalysisImageMatchesLibvipsThumbnail)
{
    expectAnalysisImagesMatchLibvips({"sharp/176_HONOR-7X_S.jpg", "orientation/Landscape_1.jpg"});
}

TEST(ImageLoaderCorpus, AnalysisImagesOfCameraPhotosMatchLibvipsThumbnail)
{
    GLANTO_NEEDS_CORPUS();
    expectAnalysisImagesMatchLibvips({"exif/Canon PowerShot G11.jpg", "faces-closed/mixed_eyes.jpg",
                                      "exif/Kodak PIXPRO FZ201.jpg", "blurry/106_NIKON-D3400-35MM_F.JPG"});
}

TEST(ImageLoader, MemoryPressureEmptiesImageCachesButKeepsInfo)
{
    const QString path = corpus("orientation/Landscape_1.jpg");
    ImageLoader loader(4 * GiB);
    ASSERT_TRUE(loader.info(path).has_value());
    ASSERT_FALSE(loader.preview(path, 800).isNull());
    ASSERT_FALSE(loader.full(path).isNull());
    ASSERT_FALSE(loader.thumbnail(path).isNull());
    loader.handleMemoryPressure();
    EXPECT_TRUE(loader.cachedPreview(path, 800).isNull());
    EXPECT_TRUE(loader.cachedFull(path).isNull());
    EXPECT_TRUE(loader.cachedThumbnail(path).isNull());
    EXPECT_TRUE(loader.cachedInfo(path).has_value());
    EXPECT_FALSE(loader.preview(path, 800).isNull()); // decodes again

    loader.invalidate(path);
    EXPECT_FALSE(loader.cachedInfo(path).has_value());
    EXPECT_TRUE(loader.cachedPreview(path, 800).isNull());
}

TEST(ImageLoader, CachesHonourCountAndCostLimits)
{
    QTemporaryDir dir;
    ImageLoader loader(4 * GiB); // previews: 12 entries, 96 MiB
    QStringList paths;
    for (int i = 0; i < 13; ++i)
        paths << makeJpeg(dir, QString("p%1.jpg").arg(i), 300, 200, qRgb(i * 10, 0, 0));
    for (const QString &p : paths)
        loader.preview(p, 300);
    EXPECT_TRUE(loader.cachedPreview(paths[0], 300).isNull()); // the least recently used went
    for (int i = 1; i < 13; ++i)
        EXPECT_FALSE(loader.cachedPreview(paths[i], 300).isNull());

    // 3000 x 2000 previews cost 24 MB each: only four fit under 96 MiB.
    QStringList big;
    for (int i = 0; i < 6; ++i)
        big << makeJpeg(dir, QString("b%1.jpg").arg(i), 3000, 2000, qRgb(0, i * 20, 0));
    for (const QString &p : big)
        loader.preview(p, 3000);
    int cached = 0;
    for (const QString &p : big)
        cached += loader.cachedPreview(p, 3000).isNull() ? 0 : 1;
    EXPECT_EQ(cached, 4);
    EXPECT_FALSE(loader.cachedPreview(big.last(), 3000).isNull());

    // The full-image cache holds two.
    for (int i = 0; i < 3; ++i)
        loader.full(paths[i]);
    EXPECT_TRUE(loader.cachedFull(paths[0]).isNull());
    EXPECT_FALSE(loader.cachedFull(paths[2]).isNull());
}

TEST(ImageLoader, ThumbnailsPreferTheEmbeddedOneWhenItShowsTheWholeFrame)
{
    QTemporaryDir dir;
    // Blue photo with a red EXIF thumbnail of the same shape.
    const QString matching = makeJpeg(dir, "m.jpg", 3000, 2000, qRgb(0, 0, 255), std::pair{QSize(160, 107), qRgb(255, 0, 0)});
    // Blue photo with a 4:3 (letter-boxed) thumbnail: not used.
    const QString padded = makeJpeg(dir, "p.jpg", 3000, 2000, qRgb(0, 0, 255), std::pair{QSize(160, 120), qRgb(255, 0, 0)});
    ImageLoader loader(4 * GiB);
    const QImage thumb = loader.thumbnail(matching);
    EXPECT_EQ(std::max(thumb.width(), thumb.height()), 128);
    EXPECT_TRUE(nearColour(centre(thumb), qRgb(255, 0, 0)));
    EXPECT_TRUE(nearColour(centre(loader.makeThumbnail(matching, 128, false, false)), qRgb(0, 0, 255)));
    EXPECT_TRUE(nearColour(centre(loader.thumbnail(padded)), qRgb(0, 0, 255)));
    // Larger than the embedded thumbnail: decoded from the image.
    EXPECT_TRUE(nearColour(centre(loader.makeThumbnail(matching, 360, true, false)), qRgb(0, 0, 255)));
}

TEST(ImageLoader, RotatedTurnsClockwiseByQuarterTurns)
{
    QImage image(4, 2, QImage::Format_RGBA8888_Premultiplied);
    image.fill(Qt::black);
    image.setPixel(0, 0, qRgb(255, 0, 0)); // top-left marker
    const QImage one = ImageLoader::rotated(image, 1);
    EXPECT_EQ(one.size(), QSize(2, 4));
    EXPECT_EQ(one.pixel(1, 0), qRgb(255, 0, 0)); // clockwise: top-left goes top-right
    const QImage minusOne = ImageLoader::rotated(image, -1);
    EXPECT_EQ(minusOne, ImageLoader::rotated(image, 3));
    EXPECT_EQ(minusOne.pixel(0, 3), qRgb(255, 0, 0));
    EXPECT_EQ(ImageLoader::rotated(image, 4).cacheKey(), image.cacheKey());
    EXPECT_EQ(ImageLoader::rotated(image, 2).pixel(3, 1), qRgb(255, 0, 0));
}

TEST(ImageLoader, ManyThreadsShareOneLoader)
{
    ImageLoader loader(4 * GiB);
    const QStringList files{corpus("orientation/Landscape_1.jpg"), corpus("formats/hopper.png"), corpus("orientation/kimono.avif"),
                            corpus("orientation/Portrait_6.jpg"), corpus("bad/truncated_jpeg.jpg")};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 12; ++i) {
                const QString &f = files[(i + t) % files.size()];
                loader.info(f);
                loader.preview(f, 300 + 50 * (i % 3));
                loader.thumbnail(f);
                if (i % 4 == t)
                    loader.invalidate(f);
                if (i % 5 == 0)
                    loader.handleMemoryPressure();
            }
        });
    }
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(loader.preview(files[0], 300).width(), 300);
}
