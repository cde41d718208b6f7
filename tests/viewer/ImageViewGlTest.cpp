// The image view on a real X server: what reaches the screen through the GL
// renderer (tiles, strip uploads, turns) and through the raster fallback.
#include "ViewerTestSupport.h"

#include "settings/Settings.h"
#include "viewer/GlImageSurface.h"
#include "viewer/ImagePyramid.h"
#include "viewer/ZoomableImageView.h"

#include <QOpenGLWidget>
#include <QPainter>
#include <QPointer>

#include <gtest/gtest.h>

namespace {

// A bitmap in four coloured quadrants: red, green / blue, white.
QImage quadrants(int w, int h)
{
    QImage image(w, h, QImage::Format_RGBA8888_Premultiplied);
    QPainter p(&image);
    p.fillRect(0, 0, w / 2, h / 2, Qt::red);
    p.fillRect(w / 2, 0, w - w / 2, h / 2, Qt::green);
    p.fillRect(0, h / 2, w / 2, h - h / 2, Qt::blue);
    p.fillRect(w / 2, h / 2, w - w / 2, h - h / 2, Qt::white);
    return image;
}

bool near(QColor a, QColor b)
{
    return std::abs(a.red() - b.red()) < 40 && std::abs(a.green() - b.green()) < 40 && std::abs(a.blue() - b.blue()) < 40;
}

QImage screenOf(ZoomableImageView &view)
{
    if (auto *gl = dynamic_cast<QOpenGLWidget *>(view.surface()->widget()))
        return gl->grabFramebuffer();
    return view.grab().toImage();
}

// The colour at a point of the photo given as a fraction of its frame.
QColor at(ZoomableImageView &view, const QImage &screen, double fx, double fy)
{
    const QRectF f = view.shownFrame();
    const double dpr = screen.width() / double(view.width());
    return screen.pixelColor(int((f.x() + f.width() * fx) * dpr), int((f.y() + f.height() * fy) * dpr));
}

bool presented(ZoomableImageView &view)
{
    return view.currentBitmapId() && view.surface()->presentedBitmap() == view.currentBitmapId();
}

class ImageViewGlTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testApp();
        Settings::setFadeTransition(false);
        view = std::make_unique<ZoomableImageView>();
        view->resize(800, 600);
        view->show();
        waitFor([&] { return view->isVisible(); });
    }
    void TearDown() override
    {
        GlImageSurface::maxTileOverride = 0;
        GlImageSurface::failForTests = false;
    }

    void expectQuadrants(int turns)
    {
        ASSERT_TRUE(waitFor([&] { return presented(*view); }));
        spin(50);
        const QImage screen = screenOf(*view);
        // Clockwise turns move the red corner from top left to top right and so on.
        const QColor corners[4] = {Qt::red, Qt::green, Qt::white, Qt::blue};
        const QPointF spots[4] = {{0.25, 0.25}, {0.75, 0.25}, {0.75, 0.75}, {0.25, 0.75}};
        for (int k = 0; k < 4; ++k) {
            const QColor expected = corners[(k - turns + 4) % 4];
            const QColor got = at(*view, screen, spots[k].x(), spots[k].y());
            EXPECT_TRUE(near(got, expected)) << "turns " << turns << " spot " << k << " got " << qPrintable(got.name());
        }
    }

    std::unique_ptr<ZoomableImageView> view;
};

TEST_F(ImageViewGlTest, ThePhotoReachesTheScreenFittedAndTurned)
{
    ASSERT_TRUE(view->surface()->isOpenGL()) << "no GL on this X server";
    view->setImage(quadrants(1600, 900), 1600, 900, false, false, true);
    EXPECT_TRUE(view->isFitMode());
    EXPECT_DOUBLE_EQ(view->scale(), 0.5);
    expectQuadrants(0);
    view->rotate(+1);
    spin(400); // the 0.22 s refit
    EXPECT_EQ(view->geometryState().turnedSize(), QSizeF(900, 1600));
    expectQuadrants(1);
    view->rotate(+2);
    spin(400);
    expectQuadrants(3);
}

TEST_F(ImageViewGlTest, APhotoBeyondTheTextureLimitIsDrawnFromTiles)
{
    ASSERT_TRUE(view->surface()->isOpenGL());
    GlImageSurface::maxTileOverride = 512;
    view = std::make_unique<ZoomableImageView>();
    view->resize(800, 600);
    view->show();
    view->setImage(quadrants(2500, 1300), 2500, 1300, false, false, true);
    expectQuadrants(0);
    auto *gl = static_cast<GlImageSurface *>(view->surface());
    EXPECT_EQ(gl->tileCount(view->currentBitmapId()), 5 * 3);
    // Zoomed into the middle, where four tiles meet.
    view->zoom(4.0, {400, 300}, false, true);
    ASSERT_TRUE(waitFor([&] { return presented(*view); }));
    spin(50);
    const QImage screen = screenOf(*view);
    EXPECT_TRUE(near(screen.pixelColor(390, 290), Qt::red));
    EXPECT_TRUE(near(screen.pixelColor(410, 310), Qt::white));
}

TEST_F(ImageViewGlTest, ALargeBitmapReplacesItsPreviewWithoutMovingIt)
{
    ASSERT_TRUE(view->surface()->isOpenGL());
    // A coarse preview of a 7200 x 3600 photo, then the full bitmap (100 MB, uploaded
    // in strips between frames).
    view->setImage(quadrants(720, 360), 7200, 3600, false, false, true);
    ASSERT_TRUE(waitFor([&] { return presented(*view); }));
    view->zoom(0.5, {400, 300}, false, true);
    const QRectF frame = view->shownFrame();
    int framesShowingPreview = 0;
    const uint64_t preview = view->currentBitmapId();
    view->surface()->onFramePresented = [&] {
        if (view->surface()->presentedBitmap() == preview)
            ++framesShowingPreview;
    };
    view->setImage(quadrants(7200, 3600), 7200, 3600, false, false, false);
    EXPECT_EQ(view->shownFrame(), frame);
    EXPECT_FALSE(view->isFitMode());
    ASSERT_TRUE(waitFor([&] { return presented(*view); }, 20000));
    view->surface()->onFramePresented = nullptr;
    // The preview stayed on screen while the full bitmap went to the GPU.
    EXPECT_GE(framesShowingPreview, 1);
    EXPECT_EQ(view->shownPixelSize(), QSize(7200, 3600));
    const QImage screen = screenOf(*view);
    EXPECT_TRUE(near(at(*view, screen, 0.45, 0.45), Qt::red));
}

// The failing GL surface reports from inside itself; the view must not destroy
// it there (under AddressSanitizer that was a use after free) but swap in the
// raster renderer from the event loop and keep drawing the same photo.
TEST_F(ImageViewGlTest, AFailedGlContextFallsBackToRasterWithoutLosingThePhoto)
{
    ASSERT_TRUE(view->surface()->isOpenGL());
    GlImageSurface::failForTests = true;
    view = std::make_unique<ZoomableImageView>();
    view->resize(800, 600);
    view->show();
    ASSERT_TRUE(view->surface()->isOpenGL());
    QPointer<QWidget> glWidget = view->surface()->widget();
    view->setImage(quadrants(1600, 900), 1600, 900, false, false, true);
    ASSERT_TRUE(waitFor([&] { return !view->surface()->isOpenGL(); }));
    // The old surface is gone once the event loop has run its deferred deletes.
    ASSERT_TRUE(waitFor([&] { return glWidget.isNull(); }));
    expectQuadrants(0);
    view->setImage(quadrants(800, 800), 800, 800, false, false, true);
    ASSERT_TRUE(waitFor([&] { return presented(*view); }));
    EXPECT_FALSE(view->surface()->isOpenGL());
}

TEST_F(ImageViewGlTest, TheRasterFallbackDrawsTheSameScene)
{
    qputenv("GLANTO_RENDERER", "raster");
    // The choice is made once per process; a raster surface is made directly here.
    auto raster = ImageSurface::createRaster(nullptr);
    raster->widget()->resize(400, 300);
    ImageScene scene;
    scene.image.bitmap = std::make_shared<RenderBitmap>(quadrants(800, 600));
    scene.image.frame = QRectF(0, 0, 400, 300);
    scene.image.turns = 2;
    raster->setScene(scene);
    const QImage shot = raster->widget()->grab().toImage();
    EXPECT_TRUE(near(shot.pixelColor(100, 75), Qt::white));
    EXPECT_TRUE(near(shot.pixelColor(300, 225), Qt::red));
    EXPECT_TRUE(near(shot.pixelColor(300, 75), Qt::blue));
    qunsetenv("GLANTO_RENDERER");
}

// A strip reduced below one pixel's width: its halvings stay 1 pixel wide while
// their length halves, and the one drawn must still be as long as the frame.
TEST_F(ImageViewGlTest, AStripNarrowerThanAPixelKeepsItsLength)
{
    auto raster = ImageSurface::createRaster(nullptr);
    raster->widget()->resize(40, 1000);
    QImage strip(4, 4000, QImage::Format_RGBA8888_Premultiplied);
    QPainter(&strip).fillRect(0, 0, 4, 2000, Qt::red);
    QPainter(&strip).fillRect(0, 2000, 4, 2000, Qt::blue);
    auto bitmap = std::make_shared<RenderBitmap>(strip);
    bitmap->setLevels(buildMipLevels(strip));
    ImageScene scene;
    scene.image.bitmap = bitmap;
    scene.image.frame = QRectF(10, 0, 1, 1000);
    for (const int turns : {0, 2}) {
        scene.image.turns = turns;
        raster->setScene(scene);
        const QImage shot = raster->widget()->grab().toImage();
        const QColor top = turns ? Qt::blue : Qt::red, bottom = turns ? Qt::red : Qt::blue;
        EXPECT_TRUE(near(shot.pixelColor(10, 250), top)) << turns << " " << qPrintable(shot.pixelColor(10, 250).name());
        EXPECT_TRUE(near(shot.pixelColor(10, 750), bottom)) << turns << " " << qPrintable(shot.pixelColor(10, 750).name());
    }
}

TEST(ImagePyramid, HalvingAveragesBlocksAndEndsAtOnePixel)
{
    QImage image(5, 3, QImage::Format_RGBA8888_Premultiplied);
    image.fill(QColor(0, 0, 0, 255));
    image.setPixelColor(0, 0, QColor(200, 100, 40, 255));
    const QImage half = halvedImage(image);
    ASSERT_EQ(half.size(), QSize(2, 1));
    EXPECT_EQ(half.pixelColor(0, 0), QColor(50, 25, 10, 255));
    const std::vector<QImage> levels = buildMipLevels(QImage(6000, 4000, QImage::Format_RGBA8888_Premultiplied));
    ASSERT_FALSE(levels.empty());
    EXPECT_EQ(levels.front().size(), QSize(3000, 2000));
    EXPECT_EQ(levels.back().size(), QSize(1, 1));
    EXPECT_EQ(levels.size(), 12u); // 6000 needs twelve halvings to reach 1
}

} // namespace
