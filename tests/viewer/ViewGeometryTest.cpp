#include "viewer/ViewGeometry.h"

#include <gtest/gtest.h>

namespace {

ViewGeometry fitted(QSizeF photo, QSizeF view)
{
    ViewGeometry g;
    g.viewSize = view;
    g.logicalSize = photo;
    g.hasImage = true;
    g.zoomToFit();
    return g;
}

// The logical pixel under a view point, for checking that zooms keep it in place.
QPointF pixelUnder(const ViewGeometry &g, QPointF p)
{
    return (p - g.origin) / g.scale;
}

} // namespace

TEST(ViewGeometry, SmallPhotoIsEnlargedAtMostFourTimes)
{
    const ViewGeometry g = fitted({100, 80}, {1000, 800});
    EXPECT_DOUBLE_EQ(g.fitScale(), 10.0);
    EXPECT_DOUBLE_EQ(g.scale, 4.0);
    EXPECT_EQ(g.mode, ViewGeometry::Mode::fit);
    // Centred: 400 x 320 in the middle of 1000 x 800.
    EXPECT_EQ(g.imageFrame(), QRectF(300, 240, 400, 320));
}

TEST(ViewGeometry, FitScaleFallsBackToOneWithoutUsableSizes)
{
    ViewGeometry g = fitted({4000, 3000}, {1, 800});
    EXPECT_DOUBLE_EQ(g.fitScale(), 1.0);
    g = fitted({0, 3000}, {1000, 800});
    EXPECT_DOUBLE_EQ(g.fitScale(), 1.0);
    g.hasImage = false;
    g.logicalSize = {4000, 3000};
    EXPECT_DOUBLE_EQ(g.fitScale(), 1.0);
    EXPECT_FALSE(g.zoom(2.0, {10, 10}, true));
    EXPECT_FALSE(g.toggleZoom({10, 10}));
    EXPECT_EQ(g.displayedLogicalSize(), QSizeF(0, 0));
}

TEST(ViewGeometry, ToggleZoomKeepsThePixelUnderThePointerAndReturnsToFit)
{
    ViewGeometry g = fitted({6000, 4000}, {1200, 800});
    ASSERT_DOUBLE_EQ(g.scale, 0.2);
    const QPointF pointer(300, 500);
    const QPointF before = pixelUnder(g, pointer);
    ASSERT_TRUE(g.toggleZoom(pointer));
    EXPECT_DOUBLE_EQ(g.scale, 1.0);
    EXPECT_EQ(g.mode, ViewGeometry::Mode::free);
    const QPointF after = pixelUnder(g, pointer);
    EXPECT_NEAR(after.x(), before.x(), 1e-9);
    EXPECT_NEAR(after.y(), before.y(), 1e-9);

    ASSERT_TRUE(g.toggleZoom(pointer));
    EXPECT_EQ(g.mode, ViewGeometry::Mode::fit);
    EXPECT_DOUBLE_EQ(g.scale, 0.2);
}

TEST(ViewGeometry, ToggleZoomOnAPhotoThatAlreadyFitsShowsItLarger)
{
    ViewGeometry g = fitted({800, 400}, {1200, 800});
    ASSERT_GE(g.fitScale(), 1.0);
    g.toggleZoom({600, 400});
    EXPECT_DOUBLE_EQ(g.scale, 2.0);

    // A small picture that fit already shows at 200 % or more is shown larger
    // still, never smaller: twice the fit, at most the largest zoom.
    for (const auto &[photo, expected] : {std::pair{QSizeF(600, 400), 4.0}, std::pair{QSizeF(300, 200), 8.0},
                                          std::pair{QSizeF(1, 1), 8.0}}) {
        ViewGeometry small = fitted(photo, {1200, 800});
        const double shown = small.scale;
        small.toggleZoom({600, 400});
        EXPECT_DOUBLE_EQ(small.scale, expected) << photo.width();
        EXPECT_GT(small.scale, shown);
    }
}

TEST(ViewGeometry, ZoomIsClampedBetweenAnEighthOfFitAndTwelve)
{
    ViewGeometry g = fitted({6000, 4000}, {1200, 800});
    for (int i = 0; i < 60; ++i)
        g.zoom(g.scale / ViewGeometry::zoomStep, g.viewCentre(), true);
    EXPECT_DOUBLE_EQ(g.scale, 0.2 / 8);
    for (int i = 0; i < 60; ++i)
        g.zoom(g.scale * ViewGeometry::zoomStep, g.viewCentre(), true);
    EXPECT_DOUBLE_EQ(g.scale, 12.0);

    // A photo smaller than the view: one eighth of 100 %.
    ViewGeometry small = fitted({300, 200}, {1200, 800});
    EXPECT_DOUBLE_EQ(small.minimumScale(), 0.125);

    // An unclamped zoom (a pinch in progress) may overshoot.
    g.zoom(20.0, g.viewCentre(), false);
    EXPECT_DOUBLE_EQ(g.scale, 20.0);
}

TEST(ViewGeometry, RotationSwapsTheTurnedSizeAndRefits)
{
    ViewGeometry g = fitted({4000, 3000}, {1000, 1000});
    EXPECT_DOUBLE_EQ(g.scale, 0.25);
    g.rotate(+1);
    g.zoomToFit();
    EXPECT_EQ(g.turnedSize(), QSizeF(3000, 4000));
    EXPECT_DOUBLE_EQ(g.scale, 0.25);
    EXPECT_EQ(g.imageFrame(), QRectF(125, 0, 750, 1000));
    g.rotate(-2);
    EXPECT_EQ(g.quarterTurns, 3);
    EXPECT_EQ(normalisedTurns(-1), 3);
    EXPECT_EQ(normalisedTurns(9), 1);
}

TEST(ViewGeometry, LayoutKeepsAFittedPhotoFittedAndAZoomedOneInPlace)
{
    ViewGeometry g = fitted({4000, 3000}, {1000, 750});
    g.viewSize = {2000, 1500};
    g.layout();
    EXPECT_DOUBLE_EQ(g.scale, 0.5);

    g.zoom(1.0, {100, 100}, true);
    const QPointF origin = g.origin;
    g.viewSize = {500, 400};
    g.layout();
    EXPECT_DOUBLE_EQ(g.scale, 1.0);
    EXPECT_EQ(g.origin, origin);

    // Moving is unbounded: the photo may leave the view entirely.
    g.moveBy({-100000, 0});
    EXPECT_LT(g.imageFrame().right(), 0);
}

TEST(ViewGeometry, DetailIsNeededOnlyForAReducedPreviewDrawnLargerThanItIs)
{
    // A 1600 px preview of a 6000 px photo shown 1200 points wide.
    const double scale = 1200.0 / 6000.0;
    EXPECT_TRUE(needsDetail(1600, 6000, scale, 2.0));   // 1600 < 2280
    EXPECT_FALSE(needsDetail(1600, 6000, scale, 1.0));  // 1600 >= 1140
    EXPECT_TRUE(needsDetail(1600, 6000, 0.4, 1.0));     // zoomed in
    // A full-size bitmap never needs more, at any zoom.
    EXPECT_FALSE(needsDetail(6000, 6000, 12.0, 2.0));
    EXPECT_FALSE(needsDetail(5999, 6000, 12.0, 2.0));
}

// A picture far thinner than a pixel once fitted is still drawn one device
// pixel wide, about the same centre; wider frames are drawn as they are.
TEST(ViewGeometry, AThinPictureIsDrawnAtLeastOneDevicePixelWide)
{
    const ViewGeometry g = fitted({3, 4000}, {1200, 800});
    ASSERT_LT(g.imageFrame().width(), 1.0);
    const QRectF drawn = drawnFrame(g.imageFrame(), 1.0);
    EXPECT_DOUBLE_EQ(drawn.width(), 1.0);
    EXPECT_DOUBLE_EQ(drawn.center().x(), g.imageFrame().center().x());
    EXPECT_EQ(drawn.height(), g.imageFrame().height());
    EXPECT_DOUBLE_EQ(drawnFrame(QRectF(0, 0, 0.1, 50), 2.0).width(), 0.5);
    EXPECT_EQ(drawnFrame(QRectF(10, 10, 300, 200), 1.0), QRectF(10, 10, 300, 200));
}
