#include "cleanup/FeaturePrint.h"
#include "TestData.h"

#include <gtest/gtest.h>

#include <QImageReader>
#include <QPainter>
#include <QTransform>

#include <limits>
#include <random>

namespace {

// A corpus photo reduced as the analysis image would be (longest side 1280 at most).
QImage corpusImage(const QString &relative)
{
    QImageReader reader(TestData::photo(relative));
    reader.setAutoTransform(true);
    QSize size = reader.size();
    if (size.isValid() && std::max(size.width(), size.height()) > 1280)
        reader.setScaledSize(size.scaled(1280, 1280, Qt::KeepAspectRatio));
    return reader.read().convertToFormat(QImage::Format_RGBA8888_Premultiplied);
}

float printDistance(const QImage &a, const QImage &b)
{
    const auto pa = FeaturePrint::compute(a);
    const auto pb = FeaturePrint::compute(b);
    if (!pa || !pb)
        return std::numeric_limits<float>::max();
    return FeaturePrint::distance(FeaturePrint::encode(*pa), FeaturePrint::encode(*pb));
}

// The next shot of a burst: the camera moved a little and the exposure changed.
QImage nextShot(const QImage &image, double shift, double degrees, double gain, unsigned seed)
{
    QImage out(image.size(), QImage::Format_RGBA8888_Premultiplied);
    out.fill(Qt::black);
    QPainter p(&out);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.translate(image.width() / 2.0, image.height() / 2.0);
    p.rotate(degrees);
    p.scale(1.04, 1.04);    // a slight zoom keeps black corners out of the frame
    p.translate(-image.width() / 2.0 + shift * image.width(), -image.height() / 2.0);
    p.drawImage(0, 0, image);
    p.end();
    std::mt19937 rng(seed);
    std::normal_distribution<double> noise(0, 6);
    for (int y = 0; y < out.height(); ++y) {
        uchar *line = out.scanLine(y);
        for (int x = 0; x < out.width() * 4; ++x) {
            if (x % 4 == 3)
                continue;
            line[x] = uchar(std::clamp(line[x] * gain + noise(rng), 0.0, 255.0));
        }
    }
    return out;
}

} // namespace

TEST(FeaturePrint, RevisionIsOurOwn)
{
    EXPECT_NE(FeaturePrint::revision(), 1);
    EXPECT_NE(FeaturePrint::revision(), 2);
    EXPECT_GT(FeaturePrint::burstThreshold(), 0.0f);
}

TEST(FeaturePrint, BytesRoundTripAndForeignBytesAreInfinitelyFar)
{
    const QImage photo = corpusImage("sharp/176_HONOR-7X_S.jpg");
    ASSERT_FALSE(photo.isNull());
    const auto print = FeaturePrint::compute(photo);
    ASSERT_TRUE(print);
    const QByteArray bytes = FeaturePrint::encode(*print);
    const auto back = FeaturePrint::decode(bytes);
    ASSERT_TRUE(back);
    for (int i = 0; i < FeaturePrint::dimensions; ++i)
        EXPECT_NEAR(back->values[i], print->values[i], 1e-3);
    EXPECT_EQ(FeaturePrint::distance(bytes, bytes), 0.0f);

    const float far = std::numeric_limits<float>::max();
    EXPECT_EQ(FeaturePrint::distance(bytes, QByteArray()), far);
    EXPECT_EQ(FeaturePrint::distance(bytes, bytes.left(bytes.size() - 1)), far);
    QByteArray otherRevision = bytes;
    otherRevision[3] = char(otherRevision[3] + 1);
    EXPECT_EQ(FeaturePrint::distance(bytes, otherRevision), far);
    QByteArray notAPrint(bytes.size(), '\xff');
    EXPECT_EQ(FeaturePrint::distance(notAPrint, bytes), far);
    // A stored half float of infinity or NaN is refused, not compared.
    QByteArray poisoned = bytes;
    poisoned[6] = char(0x00);
    poisoned[7] = char(0x7c);
    EXPECT_FALSE(FeaturePrint::decode(poisoned));

    EXPECT_FALSE(FeaturePrint::compute(QImage()));
    EXPECT_FALSE(FeaturePrint::compute(QImage(4, 4, QImage::Format_RGBA8888_Premultiplied)));
}

TEST(FeaturePrintCorpus, BurstNeighboursAreCloseAndOtherPicturesFar)
{
    GLANTO_NEEDS_CORPUS();
    const QImage a = corpusImage("sharp/176_HONOR-7X_S.jpg");
    const QImage b = corpusImage("faces-open/happiness.jpg");
    const QImage c = corpusImage("sharp/106_NIKON-D3400-35MM_S.JPG");
    ASSERT_FALSE(a.isNull());
    ASSERT_FALSE(b.isNull());
    ASSERT_FALSE(c.isNull());
    const float threshold = FeaturePrint::burstThreshold();
    for (const QImage *photo : {&a, &b, &c}) {
        EXPECT_LT(printDistance(*photo, nextShot(*photo, 0.02, 1.0, 1.25, 1)), threshold);
        EXPECT_LT(printDistance(*photo, nextShot(*photo, -0.015, -0.5, 0.8, 2)), threshold);
        // The hand moved further: a tenth of the frame, which no cell-by-cell
        // comparison of the layouts survives.
        EXPECT_LT(printDistance(*photo, nextShot(*photo, 0.09, 0.0, 1.0, 3)), threshold);
    }
    // The alignment is searched both ways alike: the order of the two shots is no matter.
    const QImage moved = nextShot(a, 0.05, 0.5, 0.9, 4);
    EXPECT_NEAR(printDistance(a, moved), printDistance(moved, a), 1e-4);
    EXPECT_GT(printDistance(a, b), threshold);
    EXPECT_GT(printDistance(a, c), threshold);
    EXPECT_GT(printDistance(b, c), threshold);
    // The same shot darker (every channel at 60 %): the chromaticity must not move,
    // whatever the picture's own level.
    for (const QImage *photo : {&a, &b, &c}) {
        QImage darker = photo->copy();
        for (int y = 0; y < darker.height(); ++y) {
            uchar *line = darker.scanLine(y);
            for (int x = 0; x < darker.width() * 4; ++x)
                line[x] = x % 4 == 3 ? line[x] : uchar(std::lround(line[x] * 0.6));
        }
        const auto pa = FeaturePrint::compute(*photo);
        const auto pd = FeaturePrint::compute(darker);
        ASSERT_TRUE(pa && pd);
        EXPECT_LT(FeaturePrint::partDistances(*pa, *pd).colour, 0.002f);
    }
    // The same picture at another size is the same picture.
    EXPECT_LT(printDistance(a, a.scaled(a.size() / 3, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)), 0.1f);
}
