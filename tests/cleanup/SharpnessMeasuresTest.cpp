#include "cleanup/SharpnessMeasures.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QTransform>

#include <random>

namespace {

GreyImage makeGrey(int w, int h, const std::function<int(int, int)> &value)
{
    GreyImage grey;
    grey.width = w;
    grey.height = h;
    grey.pixels.resize(size_t(w) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            grey.pixels[size_t(y) * w + x] = uint8_t(value(x, y));
    return grey;
}

GreyImage noise(int w, int h, unsigned seed = 7)
{
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> dist(0, 255);
    return makeGrey(w, h, [&](int, int) { return dist(rng); });
}

} // namespace

TEST(GreyImage, StandardLumaOfPremultipliedColour)
{
    QImage image(3, 1, QImage::Format_RGBA8888_Premultiplied);
    image.setPixelColor(0, 0, QColor(255, 0, 0));
    image.setPixelColor(1, 0, QColor(255, 255, 255));
    image.setPixelColor(2, 0, QColor(0, 0, 0, 0));
    const GreyImage grey = GreyImage::fromImage(image);
    ASSERT_EQ(grey.width, 3);
    ASSERT_EQ(grey.height, 1);
    EXPECT_NEAR(grey.at(0, 0), 76, 1);   // 0.299 x 255
    EXPECT_EQ(grey.at(1, 0), 255);
    EXPECT_EQ(grey.at(2, 0), 0);         // transparent reads as the black canvas

    // Other formats are converted rather than misread.
    QImage rgb32(2, 2, QImage::Format_RGB32);
    rgb32.fill(QColor(0, 0, 255));
    EXPECT_NEAR(GreyImage::fromImage(rgb32).at(1, 1), 29, 1);
    EXPECT_TRUE(GreyImage::fromImage(QImage()).isNull());
}

TEST(DetailEnergy, SinglePointMatchesHandCount)
{
    // One white pixel on black: each of the three pixels on a line through it adds
    // to that direction, (-510)^2 + 2 x 255^2 = 390150; the diagonals count half.
    const GreyImage grey = makeGrey(20, 20, [](int x, int y) { return x == 10 && y == 10 ? 255 : 0; });
    const double n = 18.0 * 18.0;
    EXPECT_FLOAT_EQ(detailEnergy(grey, QRectF(0, 0, 20, 20)), float(0.5 * 390150 / n));
}

TEST(DetailEnergy, RectanglesTooSmallOnceClampedScoreZero)
{
    const GreyImage grey = noise(64, 48);
    EXPECT_EQ(detailEnergy(grey, QRectF(10, 10, 4.9, 30)), 0.0f);   // 4 columns
    EXPECT_EQ(detailEnergy(grey, QRectF(10, 10, 30, 4)), 0.0f);     // 4 rows
    EXPECT_GT(detailEnergy(grey, QRectF(10, 10, 5, 5)), 0.0f);
    // The outermost rows and columns have no neighbours and never count.
    EXPECT_EQ(detailEnergy(grey, QRectF(-20, -20, 25, 100)), 0.0f);
    EXPECT_GT(detailEnergy(grey, QRectF(-20, -20, 26, 100)), 0.0f);
    EXPECT_EQ(detailEnergy(grey, QRectF(59, 0, 100, 48)), 0.0f);
    EXPECT_GT(detailEnergy(grey, QRectF(58, 0, 100, 48)), 0.0f);
    EXPECT_EQ(detailEnergy(grey, QRectF()), 0.0f);
    EXPECT_EQ(detailEnergy(GreyImage(), QRectF(0, 0, 10, 10)), 0.0f);
}

TEST(GridSharpness, UniformAndStripedPicturesScoreZero)
{
    EXPECT_EQ(gridSharpness(makeGrey(120, 90, [](int, int) { return 128; })), 0.0f);
    // Stripes change only from row to row: no horizontal energy, and the weakest
    // direction decides.
    EXPECT_EQ(gridSharpness(makeGrey(120, 90, [](int, int y) { return (y / 2) % 2 ? 255 : 0; })), 0.0f);
    EXPECT_EQ(gridSharpness(makeGrey(120, 90, [](int x, int) { return x % 2 ? 255 : 0; })), 0.0f);
    EXPECT_GT(gridSharpness(noise(120, 90)), 1000.0f);
    EXPECT_EQ(gridSharpness(GreyImage()), 0.0f);
}

TEST(GridSharpness, AveragesTheFourBestCells)
{
    // Detail in one cell of 36 only: the score is a quarter of that cell's energy,
    // far above the blur threshold even though most of the frame is flat.
    const GreyImage sharpCell = noise(120, 90);
    const GreyImage grey = makeGrey(120, 90, [&](int x, int y) {
        return (x >= 20 && x < 40 && y >= 15 && y < 30) ? sharpCell.at(x, y) : 100;
    });
    const float cell = detailEnergy(grey, QRectF(20, 15, 20, 15));
    EXPECT_GT(cell, 0.0f);
    EXPECT_FLOAT_EQ(gridSharpness(grey), cell / 4.0f);
}

// A panorama is a strip a few dozen pixels tall at the analysis scale: it is
// read on one row of cells, sharp as the photo it was cut from, and a blurred
// strip still reads blurred.
TEST(GridSharpness, AThinStripIsReadOnCellsTallEnoughToMeasure)
{
    const QImage photo(QStringLiteral(GLANTO_TEST_DATA_DIR "/photos/sharp/176_HONOR-7X_S.jpg"));
    ASSERT_FALSE(photo.isNull());
    const QImage scaled = photo.scaledToWidth(1280, Qt::SmoothTransformation);
    const QImage strip = scaled.copy(0, scaled.height() / 2, 1280, 21);
    const QImage blurred = strip.scaled(320, 5, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                               .scaled(1280, 21, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    EXPECT_GT(pictureSharpness(GreyImage::fromImage(strip)), 60.0f);
    EXPECT_LT(pictureSharpness(GreyImage::fromImage(blurred)), 20.0f);
    // The same on its side, and noise in a strip 12 px tall.
    QTransform quarter;
    quarter.rotate(90);
    EXPECT_GT(pictureSharpness(GreyImage::fromImage(strip.transformed(quarter))), 60.0f);
    EXPECT_GT(gridSharpness(noise(1280, 12)), 1000.0f);
    // Under 12 px nothing can be read.
    EXPECT_EQ(gridSharpness(noise(1280, 6)), 0.0f);
}

TEST(ContrastGain, RaisesOnlyFlatScenesAndAtMostFourfold)
{
    // A ramp over the whole grey range spans about 90 % of it between its 5th and 95th
    // percentiles; a ramp over a quarter of the range spans a quarter of that.
    const GreyImage full = makeGrey(256, 64, [](int x, int) { return x; });
    const GreyImage quarter = makeGrey(256, 64, [](int x, int) { return 96 + x / 4; });
    const QRectF all(0, 0, 256, 64);
    EXPECT_NEAR(greySpread(full, all), 230, 2);
    EXPECT_NEAR(greySpread(quarter, all), 57, 1);
    EXPECT_EQ(greySpread(full, QRectF(10, 10, 0, 0)), 0);
    EXPECT_EQ(greySpread(GreyImage(), all), 0);

    EXPECT_FLOAT_EQ(contrastGain(full, all, ContrastGain::sceneReference), 1.0f);
    const GreyImage half = makeGrey(256, 64, [](int x, int) { return 64 + x / 2; });
    const float spread = float(greySpread(half, all));
    EXPECT_FLOAT_EQ(contrastGain(half, all, ContrastGain::sceneReference), (128.0f / spread) * (128.0f / spread));
    EXPECT_FLOAT_EQ(contrastGain(quarter, all, ContrastGain::sceneReference), ContrastGain::maxGain);
    EXPECT_FLOAT_EQ(contrastGain(makeGrey(64, 64, [](int, int) { return 50; }), all, 128), ContrastGain::maxGain);
}

TEST(PictureSharpness, GridSharpnessWithTheSceneGain)
{
    // Noise over 32 grey levels: the gain is at its cap, and a uniform or striped
    // picture still scores 0 whatever the gain.
    const GreyImage wide = noise(120, 90);
    const GreyImage narrow = makeGrey(120, 90, [&](int x, int y) { return 100 + wide.at(x, y) / 8; });
    EXPECT_FLOAT_EQ(pictureSharpness(wide), gridSharpness(wide));
    EXPECT_FLOAT_EQ(pictureSharpness(narrow), ContrastGain::maxGain * gridSharpness(narrow));
    EXPECT_EQ(pictureSharpness(makeGrey(120, 90, [](int, int) { return 128; })), 0.0f);
    EXPECT_EQ(pictureSharpness(makeGrey(120, 90, [](int, int y) { return (y / 2) % 2 ? 140 : 120; })), 0.0f);
    EXPECT_EQ(pictureSharpness(GreyImage()), 0.0f);
}
