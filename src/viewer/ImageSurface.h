#pragma once

#include "viewer/ImagePyramid.h"

#include <QRectF>

#include <functional>

class QWidget;

// One bitmap placed on screen: frame is the rectangle of the turned photo in view
// coordinates; turns are clockwise quarter turns applied when drawing.
struct SceneLayer
{
    RenderBitmapPtr bitmap;
    QRectF frame;
    int turns = 0;
    double opacity = 1.0;

    explicit operator bool() const { return bool(bitmap); }
};

// Everything the renderer draws: the photo, the fading ghost of the previous
// photo above it, and a coarser bitmap of the same photo to draw in the photo's
// place while a large bitmap is still on its way to the GPU.
struct ImageScene
{
    SceneLayer image;
    SceneLayer ghost;
    RenderBitmapPtr standIn;
};

// The drawing half of the image view: an OpenGL widget, or a raster widget when
// no GL context can be had. It is a child filling the view, transparent for the
// mouse; all input goes to the view itself.
class ImageSurface
{
public:
    virtual ~ImageSurface() = default;

    virtual QWidget *widget() = 0;
    virtual void setScene(const ImageScene &scene) = 0;
    virtual bool isOpenGL() const = 0;
    // Id of the bitmap the last presented frame showed in the photo's place (0: none).
    virtual uint64_t presentedBitmap() const = 0;

    // Called after each frame reaches the screen.
    std::function<void()> onFramePresented;
    // Called once when the GL context turns out to be unusable; the view then
    // replaces this surface with a raster one.
    std::function<void()> onFailed;

    // A GL surface when this display has hardware GL, else a raster surface.
    // GLANTO_RENDERER=raster forces the raster one, GLANTO_RENDERER=gl accepts a
    // software GL rasteriser too.
    // Without a GLANTO_RENDERER choice the GL probe (hundreds of milliseconds of
    // driver loading) is not made here: create() returns a raster surface and
    // openGLProbeDeferred() holds until the view asks openGLAvailable() later.
    static std::unique_ptr<ImageSurface> create(QWidget *parent);
    static std::unique_ptr<ImageSurface> createRaster(QWidget *parent);
    static std::unique_ptr<ImageSurface> createOpenGL(QWidget *parent);
    static bool openGLAvailable();
    static bool openGLProbeDeferred();
};
