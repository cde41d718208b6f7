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
    vectorHogPlanes(&image[0][0], image.nr(), image.nc(), image.width_step(), got, cellSize, rowsPadding, colsPadding,
                    scratch);
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

namespace {

// Counts the pixels of the next pyramid level that differ from dlib's pyramid_down<6>.
long reduceDifferences(const dlib::array2d<unsigned char> &image)
{
    dlib::array2d<unsigned char> want;
    dlib::pyramid_down<6>()(image, want);
    EXPECT_EQ(want.nr(), HogFeatures::reducedSide(image.nr()));
    EXPECT_EQ(want.nc(), HogFeatures::reducedSide(image.nc()));
    if (want.size() == 0)
        return 0;
    std::vector<uint8_t> got(want.size() + 1, 0xA5);
    HogFeatures::Scratch scratch;
    HogFeatures::reduce(&image[0][0], image.nr(), image.nc(), image.width_step(), got.data(), want.nc(), scratch);
    EXPECT_EQ(got.back(), 0xA5) << "written past the level";
    long differing = 0;
    for (long y = 0; y < want.nr(); ++y)
        for (long x = 0; x < want.nc(); ++x)
            differing += got[size_t(y * want.nc() + x)] != want[y][x];
    return differing;
}

} // namespace

// The pyramid's pictures are dlib's bit for bit: every level of photos at the analysis
// scale, odd and tiny sizes, noise, and pictures of white (where a rounding upwards
// would overflow) and of black. dlib rounds most columns to nearest and the last few
// down; a reduction that rounds all alike differs on nearly every picture.
TEST(HogFeatures, ReducesAsDlibsPyramidDoes)
{
    if (!HogFeatures::available())
        GTEST_SKIP() << "this CPU has no AVX2: the face search uses dlib's own pyramid";
    for (const char *name : {"faces/036.jpg", "portraits/079.jpg"}) {
        SCOPED_TRACE(name);
        dlib::array2d<unsigned char> level = toDlib(photo(name, 1280));
        int levels = 0;
        while (level.nr() > 1 && level.nc() > 1) {
            SCOPED_TRACE(level.nc());
            EXPECT_EQ(reduceDifferences(level), 0);
            dlib::array2d<unsigned char> next;
            dlib::pyramid_down<6>()(level, next);
            dlib::swap(level, next);
            ++levels;
        }
        EXPECT_GE(levels, 20);
    }
    const GreyImage face = photo("faces/050.jpg", 700);
    std::mt19937 random(11);
    for (const auto &[width, height] : {std::pair{701, 467}, std::pair{2, 2}, std::pair{7, 3}, std::pair{13, 29},
                                        std::pair{37, 1}, std::pair{100, 80}, std::pair{333, 250}, std::pair{1279, 9}}) {
        SCOPED_TRACE(testing::Message() << width << " x " << height);
        dlib::array2d<unsigned char> crop(height, width), noise(height, width), white(height, width), black(height, width);
        for (long y = 0; y < height; ++y) {
            for (long x = 0; x < width; ++x) {
                crop[y][x] = face.at(int(x % face.width), int(y % face.height));
                noise[y][x] = uint8_t(random() % 256);
                white[y][x] = 255;
                black[y][x] = 0;
            }
        }
        EXPECT_EQ(reduceDifferences(crop), 0);
        EXPECT_EQ(reduceDifferences(noise), 0);
        EXPECT_EQ(reduceDifferences(white), 0);
        EXPECT_EQ(reduceDifferences(black), 0);
    }
}

// The whole pyramid of features the face search scans: as many levels as dlib's, and
// every plane of every level equal to dlib's create_fhog_pyramid with its own extractor.
TEST(HogFeatures, PyramidEqualsDlibs)
{
    if (!HogFeatures::available())
        GTEST_SKIP() << "this CPU has no AVX2: the face search uses dlib's own pyramid";
    for (const auto &[name, longest] : {std::pair{"faces/105.jpg", 1280}, std::pair{"faces/036.jpg", 283}}) {
        SCOPED_TRACE(name);
        const dlib::array2d<unsigned char> image = toDlib(photo(name, longest));
        dlib::array<Planes> want, got;
        dlib::impl::create_fhog_pyramid<dlib::pyramid_down<6>>(image, dlib::default_fhog_feature_extractor(), want, 8,
                                                               10, 10, 10, 10, 1000);
        HogFeatures::Scratch scratch;
        vectorHogPyramid(image, got, 8, 10, 10, 10, 10, 1000, scratch);
        ASSERT_EQ(got.size(), want.size());
        EXPECT_GE(got.size(), 8u);
        long differing = 0;
        for (size_t level = 0; level < got.size(); ++level) {
            ASSERT_EQ(got[level].size(), want[level].size()) << "level " << level;
            for (size_t p = 0; p < got[level].size(); ++p) {
                ASSERT_EQ(got[level][p].nr(), want[level][p].nr());
                ASSERT_EQ(got[level][p].nc(), want[level][p].nc());
                for (long y = 0; y < got[level][p].nr(); ++y)
                    for (long x = 0; x < got[level][p].nc(); ++x)
                        differing += std::memcmp(&got[level][p][y][x], &want[level][p][y][x], sizeof(float)) != 0;
            }
        }
        EXPECT_EQ(differing, 0);
    }
}
