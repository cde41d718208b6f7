#include "cleanup/HogExtractor.h"
#include "cleanup/SharpnessMeasures.h"

#include <gtest/gtest.h>

#include <dlib/image_transforms/fhog.h>
#include <dlib/image_transforms/image_pyramid.h>

#include <QImage>
#include <QString>

#include <random>

namespace {

using Planes = dlib::array<dlib::array2d<float>>;

dlib::array2d<unsigned char> toDlib(const GreyImage &grey)
{
    dlib::array2d<unsigned char> image(grey.height, grey.width);
    for (int y = 0; y < grey.height; ++y)
        std::copy(grey.row(y), grey.row(y) + grey.width, &image[y][0]);
    return image;
}

// Counts the values that differ from dlib's in any bit.
long differences(const dlib::array2d<unsigned char> &image, int cellSize, int rowsPadding, int colsPadding)
{
    Planes want;
    dlib::extract_fhog_features(image, want, cellSize, rowsPadding, colsPadding);
    Planes got;
    HogFeatures::Scratch scratch;
    VectorHogExtractor{&scratch}(image, got, cellSize, rowsPadding, colsPadding);
    EXPECT_EQ(got.size(), want.size());
    long differing = 0;
    for (size_t p = 0; p < std::min(got.size(), want.size()); ++p) {
        EXPECT_EQ(got[p].nr(), want[p].nr());
        EXPECT_EQ(got[p].nc(), want[p].nc());
        if (got[p].nr() != want[p].nr() || got[p].nc() != want[p].nc())
            return -1;
        for (long y = 0; y < got[p].nr(); ++y)
            for (long x = 0; x < got[p].nc(); ++x)
                differing += std::memcmp(&got[p][y][x], &want[p][y][x], sizeof(float)) != 0;
    }
    return differing;
}

GreyImage photo(const char *name, int longest)
{
    const QImage image(QStringLiteral(GLANTO_SOURCE_DIR "/tests/data/") + QLatin1String(name));
    EXPECT_FALSE(image.isNull()) << name;
    return GreyImage::fromImage(image.scaled(longest, longest, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

} // namespace

// The face search's features are dlib's bit for bit on photos at the analysis scale and
// at every level of the detector's pyramid (each 5/6 of the last, down to a few cells),
// so that the boxes found never depend on which of the two computed them.
TEST(HogFeatures, EqualDlibsOnEveryPyramidLevelOfPhotos)
{
    if (!HogFeatures::available())
        GTEST_SKIP() << "this CPU has no AVX2: the face search uses dlib's own features";
    for (const char *name : {"faces/036.jpg", "portraits/079.jpg", "faces/105.jpg"}) {
        SCOPED_TRACE(name);
        dlib::array2d<unsigned char> level = toDlib(photo(name, 1280));
        dlib::pyramid_down<6> pyramid;
        int levels = 0;
        while (HogFeatures::cellCount(level.nr(), 8) >= 3 && HogFeatures::cellCount(level.nc(), 8) >= 3) {
            SCOPED_TRACE(level.nc());
            EXPECT_EQ(differences(level, 8, 10, 10), 0);
            dlib::array2d<unsigned char> next;
            pyramid(level, next);
            dlib::swap(level, next);
            ++levels;
        }
        EXPECT_GE(levels, 10);
    }
}

// Sizes that are not whole cells, the smallest picture with a block of cells, other cell
// sizes and paddings, noise (every orientation, ties at zero gradient) and flat grey
// (no gradient at all): still dlib's features.
TEST(HogFeatures, EqualDlibsOnOddSizesNoiseAndFlatPictures)
{
    if (!HogFeatures::available())
        GTEST_SKIP() << "this CPU has no AVX2: the face search uses dlib's own features";
    const GreyImage face = photo("faces/050.jpg", 700);
    std::mt19937 random(7);
    struct Case {
        int width, height, cellSize, rowsPadding, colsPadding;
    };
    for (const Case &c : {Case{701, 467, 8, 10, 10}, Case{20, 20, 8, 1, 1}, Case{21, 37, 8, 10, 10},
                          Case{99, 45, 4, 3, 7}, Case{333, 250, 6, 1, 1}, Case{17, 250, 3, 2, 2}}) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height << ", cells of " << c.cellSize);
        dlib::array2d<unsigned char> crop(c.height, c.width), noise(c.height, c.width), flat(c.height, c.width);
        for (long y = 0; y < c.height; ++y) {
            for (long x = 0; x < c.width; ++x) {
                crop[y][x] = face.at(int(x % face.width), int(y % face.height));
                noise[y][x] = (random() & 1) ? 255 : uint8_t(random() % 256);
                flat[y][x] = 128;
            }
        }
        EXPECT_EQ(differences(crop, c.cellSize, c.rowsPadding, c.colsPadding), 0);
        EXPECT_EQ(differences(noise, c.cellSize, c.rowsPadding, c.colsPadding), 0);
        EXPECT_EQ(differences(flat, c.cellSize, c.rowsPadding, c.colsPadding), 0);
    }
}
