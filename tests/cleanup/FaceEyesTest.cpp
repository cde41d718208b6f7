#include "cleanup/FaceEyes.h"
#include "cleanup/ImageMeasures.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

GreyImage flat(int w, int h, uint8_t value)
{
    GreyImage grey;
    grey.width = w;
    grey.height = h;
    grey.pixels.assign(size_t(w) * h, value);
    return grey;
}

void paint(GreyImage &grey, const QRect &r, uint8_t value)
{
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            grey.pixels[size_t(y) * grey.width + x] = value;
}

// Six points like the detector's eye outline: corners, two on the upper lid, two on
// the lower lid, in pixels with y growing downwards.
QVector<QPointF> eye(double cx, double cy, double width, double height)
{
    const double hw = width / 2, hh = height / 2;
    return {{cx - hw, cy}, {cx - hw / 3, cy - hh}, {cx + hw / 3, cy - hh},
            {cx + hw, cy}, {cx + hw / 3, cy + hh}, {cx - hw / 3, cy + hh}};
}

// Eyes a fifth of the face wide, as on a real face, unless eyeWidth says otherwise.
DetectedFace face(const QRectF &box, double openness, std::optional<double> yaw = 0.0, double eyeWidth = 0)
{
    DetectedFace f;
    f.box = box;
    f.yaw = yaw;
    const double w = eyeWidth > 0 ? eyeWidth : box.width() * 0.2;
    f.leftEye = eye(box.left() + box.width() * 0.3, box.top() + box.height() * 0.35, w, w * openness);
    f.rightEye = eye(box.left() + box.width() * 0.7, box.top() + box.height() * 0.35, w, w * openness);
    return f;
}

// Paints pixels inside an ellipse around (cx, cy).
void paintEllipse(GreyImage &grey, double cx, double cy, double rx, double ry, uint8_t value)
{
    for (int y = std::max(0, int(cy - ry)); y <= std::min(grey.height - 1, int(cy + ry) + 1); ++y)
        for (int x = std::max(0, int(cx - rx)); x <= std::min(grey.width - 1, int(cx + rx) + 1); ++x) {
            const double u = (x + 0.5 - cx) / rx, v = (y + 0.5 - cy) / ry;
            if (u * u + v * v <= 1)
                grey.pixels[size_t(y) * grey.width + x] = value;
        }
}

// An open eye on skin: white, a light iris and the pupil, which alone is darker
// than half the skin's grey.
void paintOpenEye(GreyImage &grey, double cx, double cy, double w)
{
    paintEllipse(grey, cx, cy, w / 2, 0.2 * w, 225);
    paintEllipse(grey, cx, cy, 0.2 * w, 0.2 * w, 110);
    paintEllipse(grey, cx, cy, 0.08 * w, 0.08 * w, 40);
}

// A shut eye: lid skin above a dark, curved line of lashes.
void paintShutEye(GreyImage &grey, double cx, double cy, double w)
{
    for (int x = int(cx - 0.42 * w); x <= int(cx + 0.42 * w); ++x) {
        const double u = (x + 0.5 - cx) / (0.5 * w);
        const double y = cy + 0.08 * w * (1 - u * u);
        for (int yy = int(y - 0.04 * w); yy <= int(y + 0.04 * w); ++yy)
            grey.pixels[size_t(yy) * grey.width + x] = 35;
    }
}

} // namespace

TEST(EyeEdgeBalance, OpenEyesChangeAlongTheRowShutOnesAcrossAtAnySize)
{
    for (const double w : {26.0, 60.0, 140.0}) {
        GreyImage grey = flat(int(4 * w), int(2 * w), 170);
        paintOpenEye(grey, w, w, w);
        paintShutEye(grey, 3 * w, w, w);
        const float open = eyeEdgeBalance(grey, eye(w, w, w, 0.3 * w));
        const float shut = eyeEdgeBalance(grey, eye(3 * w, w, w, 0.3 * w));
        EXPECT_GT(open, 0.5f) << w;
        EXPECT_LT(shut, FaceRules::shutEdgeBalance) << w;
    }
    EXPECT_FLOAT_EQ(eyeEdgeBalance(flat(50, 50, 90), eye(25, 25, 30, 9)), 1.0f);
    EXPECT_FLOAT_EQ(eyeEdgeBalance(flat(50, 50, 90), {{10, 10}, {20, 10}, {15, 12}}), 1.0f);
    // An outline reaching past the picture's edge reads the edge pixels, nothing beyond.
    GreyImage edge = flat(40, 40, 170);
    paintShutEye(edge, 20, 20, 30);
    EXPECT_LT(eyeEdgeBalance(edge, eye(20, 20, 60, 18)), 1.0f);
}

TEST(JudgeFaces, EyesLargeEnoughAreToldByTheirEdgesNotTheirDarkness)
{
    // Outlines of openness 0.24: the shut pair's lashes are dark enough to pass for an
    // iris, the open pair's light irises are not. Only the edges tell which is shut.
    // Eyes under 24 px are not read so.
    GreyImage grey = flat(600, 200, 170);
    DetectedFace open = face(QRectF(0, 0, 200, 200), 0.24);
    DetectedFace shut = face(QRectF(200, 0, 200, 200), 0.24);
    DetectedFace small = face(QRectF(420, 0, 100, 100), 0.30);
    for (const QPointF &c : {QPointF(60, 70), QPointF(140, 70)})
        paintOpenEye(grey, c.x(), c.y(), 40);
    for (const QPointF &c : {QPointF(260, 70), QPointF(340, 70), QPointF(450, 35), QPointF(490, 35)})
        paintShutEye(grey, c.x(), c.y(), c.x() > 400 ? 20 : 40);
    ImageMeasures m;
    judgeFaces(grey, {open, shut}, m);
    ASSERT_EQ(m.eyeDarkness.size(), 2);
    EXPECT_LT(m.eyeDarkness[0], 0.14f);
    EXPECT_GT(m.eyeDarkness[1], 0.14f);
    ASSERT_EQ(m.closedFaces.size(), 1);
    EXPECT_NEAR(m.closedFaces[0].x(), 200.0 / 600, 1e-9);
    EXPECT_FALSE(faceEdgeBalance(grey, small));
}

TEST(EyeOpenRatio, HeightOverWidthWithFallbacks)
{
    EXPECT_FLOAT_EQ(eyeOpenRatio(eye(50, 50, 20, 6)), 0.3f);
    EXPECT_FLOAT_EQ(eyeOpenRatio({{0, 0}, {10, 5}, {5, 9}}), 1.0f);          // 3 points
    EXPECT_FLOAT_EQ(eyeOpenRatio({{4, 0}, {4, 5}, {4, 9}, {4, 2}}), 1.0f);   // no width
    EXPECT_FLOAT_EQ(eyeOpenRatio({}), 1.0f);
}

TEST(EyeBox, BoundingBoxWithTopLeftOrigin)
{
    EXPECT_EQ(eyeBox(eye(50, 40, 20, 6)), QRectF(40, 37, 20, 6));
    EXPECT_TRUE(eyeBox({}).isNull());
}

TEST(EyeDarkFraction, CountsPixelsBelowHalfTheFaceMedian)
{
    GreyImage grey = flat(200, 200, 180);
    const QRectF faceBox(50, 50, 100, 100);
    // Eye box 40..60 x 37..43, grown by 30 % of its height: rows 35.2..44.8 -> 35..44.
    paint(grey, QRect(40, 35, 10, 9), 30);    // left half dark
    const float dark = eyeDarkFraction(grey, eye(50, 40, 20, 6), QRectF(0, 0, 200, 200));
    EXPECT_FLOAT_EQ(dark, 90.0f / 180.0f);
    // A median of 180 makes 89 the last dark level; 90 is not below 180 / 2.
    paint(grey, QRect(40, 35, 10, 9), 90);
    EXPECT_FLOAT_EQ(eyeDarkFraction(grey, eye(50, 40, 20, 6), faceBox), 0.0f);
    paint(grey, QRect(40, 35, 10, 9), 89);
    EXPECT_FLOAT_EQ(eyeDarkFraction(grey, eye(50, 40, 20, 6), faceBox), 0.5f);
}

TEST(EyeDarkFraction, DegenerateBoundsGiveOne)
{
    const GreyImage grey = flat(100, 100, 100);
    EXPECT_FLOAT_EQ(eyeDarkFraction(grey, {}, QRectF(10, 10, 50, 50)), 1.0f);
    EXPECT_FLOAT_EQ(eyeDarkFraction(grey, eye(30, 30, 10, 4), QRectF(200, 200, 50, 50)), 1.0f);
    EXPECT_FLOAT_EQ(eyeDarkFraction(grey, eye(300, 30, 10, 4), QRectF(10, 10, 50, 50)), 1.0f);
    EXPECT_FLOAT_EQ(eyeDarkFraction(GreyImage(), eye(30, 30, 10, 4), QRectF(10, 10, 50, 50)), 1.0f);
}

TEST(JudgeFaces, FortyPixelsIsTheSmallestFaceCounted)
{
    const GreyImage grey = flat(400, 300, 120);
    ImageMeasures m;
    judgeFaces(grey, {face(QRectF(10, 10, 39, 39.9), 0.1, 0.0, 16)}, m);
    EXPECT_EQ(m.faceCount, 0);
    EXPECT_FALSE(m.faceSharpness);
    EXPECT_TRUE(m.eyeOpenness.isEmpty());
    EXPECT_TRUE(m.closedFaces.isEmpty());

    // Eye outlines as wide as the smallest judged eye, so that the face size alone decides.
    judgeFaces(grey, {face(QRectF(10, 10, 40, 40), 0.1, 0.0, 16)}, m);
    EXPECT_EQ(m.faceCount, 1);
    ASSERT_TRUE(m.faceSharpness);
    EXPECT_EQ(*m.faceSharpness, 0.0f);    // a flat face has no detail
    ASSERT_EQ(m.eyeOpenness.size(), 1);
    EXPECT_NEAR(m.eyeOpenness[0], 0.1f, 1e-5);
    ASSERT_EQ(m.closedFaces.size(), 1);
    EXPECT_EQ(m.closedFaces[0], QRectF(10.0 / 400, 10.0 / 300, 40.0 / 400, 40.0 / 300));
}

TEST(JudgeFaces, EyesTooSmallForTheirEdgesAreShutOnlyWhenFlat)
{
    // A light face with eyes whose surroundings are dark (iris, lashes) or not; eyes of
    // 20 px, too small for the edge balance. A squint is left open, dark or not: a laugh
    // narrows open eyes as much, and nothing else tells them apart at this size.
    GreyImage grey = flat(600, 200, 200);
    const QRectF openBox(0, 0, 100, 100), squintDark(150, 0, 100, 100), squintLight(300, 0, 100, 100),
            flatBox(450, 0, 100, 100);
    for (const QRectF &b : {squintDark, flatBox})
        paint(grey, QRect(int(b.left()), 25, 100, 20), 10);
    ImageMeasures m;
    judgeFaces(grey, {face(openBox, 0.40), face(squintDark, 0.30), face(squintLight, 0.20), face(flatBox, 0.12)}, m);
    EXPECT_EQ(m.faceCount, 4);
    ASSERT_EQ(m.eyeOpenness.size(), 4);
    ASSERT_EQ(m.eyeDarkness.size(), 4);
    EXPECT_GT(m.eyeDarkness[1], 0.14f);
    EXPECT_LT(m.eyeDarkness[2], 0.14f);
    ASSERT_EQ(m.closedFaces.size(), 1);
    EXPECT_NEAR(m.closedFaces[0].x(), 450.0 / 600, 1e-9);   // flat, dark or not
}

TEST(JudgeFaces, TurnedHeadsAndMissingEyesAreCountedButNotJudged)
{
    const GreyImage grey = flat(500, 300, 120);
    DetectedFace noEyes = face(QRectF(200, 10, 80, 80), 0.1);
    noEyes.rightEye.clear();
    DetectedFace fewPoints = face(QRectF(300, 10, 80, 80), 0.1);
    fewPoints.leftEye = {{310, 40}, {330, 40}, {320, 38}};
    fewPoints.rightEye = {{350, 40}, {370, 40}, {360, 38}};
    ImageMeasures m;
    judgeFaces(grey, {face(QRectF(10, 10, 80, 80), 0.1, 1.01), face(QRectF(100, 10, 80, 80), 0.1, -1.0),
                      noEyes, fewPoints, face(QRectF(10, 150, 80, 80), 0.1, std::nullopt)}, m);
    EXPECT_EQ(m.faceCount, 5);
    // Yaw 1.01 skipped; yaw -1.0 is not beyond the limit; no right eye skipped; three
    // points per eye read as wide open; no yaw at all is examined.
    ASSERT_EQ(m.eyeOpenness.size(), 3);
    EXPECT_FLOAT_EQ(m.eyeOpenness[1], 1.0f);
    EXPECT_EQ(m.closedFaces.size(), 2);
}

TEST(JudgeFaces, EyesTooSmallToMeasureAreNotJudged)
{
    const GreyImage grey = flat(600, 200, 120);
    DetectedFace oneSmallEye = face(QRectF(300, 10, 120, 120), 0.1, 0.0, 20);
    oneSmallEye.rightEye = eye(390, 50, 15.5, 1.5);
    ImageMeasures m;
    judgeFaces(grey, {face(QRectF(10, 10, 120, 120), 0.1, 0.0, 15.9), face(QRectF(150, 10, 120, 120), 0.1, 0.0, 16),
                      oneSmallEye}, m);
    // All three are counted; only the face whose narrower eye is 16 px is judged.
    EXPECT_EQ(m.faceCount, 3);
    ASSERT_EQ(m.eyeOpenness.size(), 1);
    ASSERT_EQ(m.closedFaces.size(), 1);
    EXPECT_NEAR(m.closedFaces[0].x(), 150.0 / 600, 1e-9);
}

TEST(JudgeFaces, OnlyTheMainFacesHaveTheirEyesJudged)
{
    const GreyImage grey = flat(800, 400, 120);
    ImageMeasures m;
    // A 200 px subject with open eyes, a shut-eyed face just under half its height in the
    // background, and one just over half.
    judgeFaces(grey, {face(QRectF(10, 10, 200, 200), 0.40, 0.0, 40), face(QRectF(300, 10, 99, 99), 0.1, 0.0, 20),
                      face(QRectF(500, 10, 100, 100), 0.1, 0.0, 20)}, m);
    EXPECT_EQ(m.faceCount, 3);
    ASSERT_EQ(m.eyeOpenness.size(), 2);
    ASSERT_EQ(m.closedFaces.size(), 1);
    EXPECT_NEAR(m.closedFaces[0].x(), 500.0 / 800, 1e-9);
}

TEST(JudgeFaces, SharpnessOfTheSharpestMainFace)
{
    GreyImage grey = flat(400, 100, 100);
    // Texture of full contrast inside the second face only, away from its 12 % border.
    for (int y = 20; y < 70; ++y)
        for (int x = 120; x < 170; ++x)
            grey.pixels[size_t(y) * 400 + x] = uint8_t(((x + y) % 3) * 120);
    const float textured = detailEnergy(grey, QRectF(110 + 8.4, 10 + 8.4, 70 - 16.8, 70 - 16.8));
    ASSERT_GT(textured, 100.0f);
    ImageMeasures m;
    // The taller face is flat, the textured one is over half its height: the textured
    // one is where the focus lies.
    judgeFaces(grey, {face(QRectF(200, 0, 100, 100), 0.5), face(QRectF(110, 10, 70, 70), 0.5)}, m);
    ASSERT_TRUE(m.faceSharpness);
    EXPECT_FLOAT_EQ(*m.faceSharpness, textured);
    // Under half the tallest face's height it is background and does not decide.
    judgeFaces(grey, {face(QRectF(250, 0, 145, 145), 0.5), face(QRectF(110, 10, 70, 70), 0.5)}, m);
    ASSERT_TRUE(m.faceSharpness);
    EXPECT_EQ(*m.faceSharpness, 0.0f);
    // No counted face, no face sharpness.
    judgeFaces(grey, {face(QRectF(110, 10, 39, 39), 0.5)}, m);
    EXPECT_FALSE(m.faceSharpness);
}

namespace {

// A colour picture of skin (RGBA8888, premultiplied, opaque).
QImage skinImage(int w, int h, QColor skin = QColor(205, 150, 120))
{
    QImage image(w, h, QImage::Format_RGBA8888_Premultiplied);
    image.fill(skin);
    return image;
}

void fillEllipse(QImage &image, double cx, double cy, double rx, double ry, QColor colour)
{
    for (int y = std::max(0, int(cy - ry)); y <= std::min(image.height() - 1, int(cy + ry) + 1); ++y)
        for (int x = std::max(0, int(cx - rx)); x <= std::min(image.width() - 1, int(cx + rx) + 1); ++x) {
            const double u = (x + 0.5 - cx) / rx, v = (y + 0.5 - cy) / ry;
            if (u * u + v * v <= 1)
                image.setPixelColor(x, y, colour);
        }
}

} // namespace

TEST(EyeSkinTone, WhiteAndIrisReadUnlikeTheCheekLidSkinAlike)
{
    constexpr double w = 40;
    QImage image = skinImage(300, 100);
    // Open eyes: white with a blue or a dark brown iris and a pupil. A shut one: a
    // reddish lid (a little darker than the cheek, as in shade) over dark lashes.
    for (const auto &[cx, iris] : {std::pair(50, QColor(90, 120, 150)), std::pair(250, QColor(60, 40, 30))}) {
        fillEllipse(image, cx, 40, w / 2, 0.2 * w, QColor(225, 222, 218));
        fillEllipse(image, cx, 40, 0.2 * w, 0.2 * w, iris);
        fillEllipse(image, cx, 40, 0.08 * w, 0.08 * w, QColor(20, 20, 22));
    }
    fillEllipse(image, 150, 40, w / 2, 0.2 * w, QColor(170, 122, 100));
    fillEllipse(image, 150, 43, 0.42 * w, 0.04 * w, QColor(40, 30, 28));
    const std::optional<float> open = eyeSkinTone(image, eye(50, 40, w, 0.3 * w));
    const std::optional<float> brown = eyeSkinTone(image, eye(250, 40, w, 0.3 * w));
    const std::optional<float> shut = eyeSkinTone(image, eye(150, 40, w, 0.15 * w));
    ASSERT_TRUE(open && brown && shut);
    EXPECT_LT(*open, 0.2f);
    EXPECT_GT(*brown, 0.1f);
    EXPECT_LT(*brown, 0.5f);
    EXPECT_GT(*shut, 0.8f);
    EXPECT_LT(*shut, 1.2f);

    DetectedFace both;
    both.leftEye = eye(50, 40, w, 0.3 * w);
    both.rightEye = eye(150, 40, w, 0.15 * w);
    EXPECT_EQ(faceSkinTone(image, both), open) << "the eye less like skin counts for the face";

    // Shade and flat light scale the eye and the cheek alike.
    QImage dim = image;
    for (int y = 0; y < dim.height(); ++y) {
        uchar *p = dim.scanLine(y);
        for (int x = 0; x < 4 * dim.width(); ++x)
            if (x % 4 != 3)
                p[x] = uchar(p[x] / 4);
    }
    EXPECT_NEAR(*eyeSkinTone(dim, eye(150, 40, w, 0.15 * w)), *shut, 0.05f);
    EXPECT_LT(*eyeSkinTone(dim, eye(50, 40, w, 0.3 * w)), 0.2f);
}

TEST(EyeSkinTone, NothingToCompareWithIsNoAnswer)
{
    constexpr double w = 40;
    // A grey picture (or a colourless cheek) and a black one have no skin colour.
    EXPECT_FALSE(eyeSkinTone(skinImage(100, 100, QColor(128, 128, 128)), eye(50, 40, w, 12)));
    EXPECT_FALSE(eyeSkinTone(skinImage(100, 100, QColor(0, 0, 0)), eye(50, 40, w, 12)));
    // A cheek below the picture's bottom, an eye beyond its edge, no outline.
    EXPECT_FALSE(eyeSkinTone(skinImage(100, 60), eye(50, 40, w, 12)));
    EXPECT_FALSE(eyeSkinTone(skinImage(100, 100), eye(-10, 40, w, 12)));
    EXPECT_FALSE(eyeSkinTone(skinImage(100, 100), {}));
    EXPECT_FALSE(eyeSkinTone(skinImage(100, 100), eye(50, std::nan(""), w, 12)));
    EXPECT_FALSE(eyeSkinTone(skinImage(100, 100), eye(50, 40, 1e300, 12)));
    EXPECT_FALSE(eyeSkinTone(QImage(), eye(50, 40, w, 12)));
    // Only 8-bit RGBA is read; other layouts give no answer rather than a wrong one.
    EXPECT_FALSE(eyeSkinTone(skinImage(100, 100).convertToFormat(QImage::Format_RGB32), eye(50, 40, w, 12)));
    EXPECT_TRUE(eyeSkinTone(skinImage(100, 100), eye(50, 40, w, 12)));
    DetectedFace none;
    EXPECT_FALSE(faceSkinTone(skinImage(100, 100), none));
}
