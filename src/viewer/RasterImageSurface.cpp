#include "viewer/ImageSurface.h"

#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QPainter>
#include <QWidget>

#include "viewer/GlImageSurface.h"

namespace {

// The same scene drawn with QPainter, for displays without a usable GL context.
// It draws from the smallest halving that still has at least the pixels the
// screen needs, so a reduced 24 MP photo costs about what a screen-sized one does.
class RasterImageSurface : public QWidget, public ImageSurface
{
public:
    explicit RasterImageSurface(QWidget *parent)
        : QWidget(parent)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_OpaquePaintEvent);
        setFocusPolicy(Qt::NoFocus);
    }

    QWidget *widget() override { return this; }
    bool isOpenGL() const override { return false; }
    uint64_t presentedBitmap() const override { return m_presented; }

    void setScene(const ImageScene &scene) override
    {
        m_scene = scene;
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::black);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        if (m_scene.image) {
            SceneLayer photo = m_scene.image;
            // Reducing a large bitmap without its halvings costs more than a frame:
            // until they exist, the coarser bitmap of the same photo stands in.
            const RenderBitmap &bitmap = *photo.bitmap;
            const double turnedW = photo.turns % 2 ? bitmap.size().height() : bitmap.size().width();
            if (m_scene.standIn && !bitmap.hasLevels() && turnedW > 0
                && photo.frame.width() * devicePixelRatioF() / turnedW < 0.75)
                photo.bitmap = m_scene.standIn;
            drawLayer(painter, photo, m_scene.ghost ? m_scene.ghost.bitmap->id() : 0);
        }
        if (m_scene.ghost)
            drawLayer(painter, m_scene.ghost, m_scene.image ? m_scene.image.bitmap->id() : 0);
        m_presented = m_scene.image ? m_scene.image.bitmap->id() : 0;
        painter.end();
        if (onFramePresented)
            onFramePresented();
    }

private:
    // A bitmap reduced to its size on screen, kept while a cross-fade draws it
    // again at the same size every frame.
    struct Reduced
    {
        uint64_t id = 0;
        int turns = 0;
        QImage image;
    };

    void drawLayer(QPainter &painter, const SceneLayer &layer, uint64_t otherLayer)
    {
        // During a fade both photos stay put while their opacity changes: reducing
        // each once and blending it unscaled afterwards keeps a frame of a large
        // window within the time of one frame.
        // A fade's first frame shows only the old photo: the new one is reduced on
        // the next frame, so the two reductions do not fall on one frame.
        if (layer.opacity <= 0.0)
            return;
        if (layer.opacity < 1.0 && drawReduced(painter, layer, otherLayer))
            return;
        drawScaled(painter, layer, layer.frame.width() * devicePixelRatioF());
    }

    // The layer's bitmap (or the halving nearest above deviceWidth) scaled into its
    // frame, turned and with its opacity.
    void drawScaled(QPainter &painter, const SceneLayer &layer, double deviceWidth)
    {
        const RenderBitmap &bitmap = *layer.bitmap;
        const QSize size = bitmap.size();
        const double turnedW = layer.turns % 2 ? size.height() : size.width();
        if (turnedW <= 0)
            return;
        QImage source = bitmap.image();
        if (bitmap.hasLevels()) {
            for (const QImage &level : bitmap.levels()) {
                const double levelW = layer.turns % 2 ? level.height() : level.width();
                if (levelW < deviceWidth)
                    break;
                source = level;
            }
        }
        painter.save();
        painter.setOpacity(layer.opacity);
        painter.translate(layer.frame.topLeft());
        const double k = layer.frame.width() / turnedW;
        painter.scale(k, k);
        switch (layer.turns) {
        case 1: painter.translate(size.height(), 0); painter.rotate(90); break;
        case 2: painter.translate(size.width(), size.height()); painter.rotate(180); break;
        case 3: painter.translate(0, size.width()); painter.rotate(270); break;
        default: break;
        }
        painter.drawImage(QRectF(0, 0, size.width(), size.height()), source);
        painter.restore();
    }

    // Draws layer from a copy reduced to its size on screen; false when the layer
    // does not allow it (empty or enormous on screen).
    bool drawReduced(QPainter &painter, const SceneLayer &layer, uint64_t otherLayer)
    {
        const double dpr = devicePixelRatioF();
        const QPoint topLeft(qRound(layer.frame.x() * dpr), qRound(layer.frame.y() * dpr));
        const QSize size(qRound(layer.frame.width() * dpr), qRound(layer.frame.height() * dpr));
        if (size.isEmpty() || int64_t(size.width()) * size.height() > 64'000'000)
            return false;
        const uint64_t id = layer.bitmap->id();
        Reduced *entry = nullptr;
        for (Reduced &candidate : m_reduced) {
            if (candidate.id == id && candidate.turns == layer.turns && candidate.image.size() == size)
                entry = &candidate;
        }
        if (!entry) {
            // Replace the copy that the other layer of this frame does not use.
            entry = m_reduced[0].id == otherLayer && otherLayer != 0 ? &m_reduced[1] : &m_reduced[0];
            // Reusing the buffer saves touching fresh memory, which costs more here
            // than the reduction itself.
            if (entry->image.size() != size)
                entry->image = QImage(size, QImage::Format_ARGB32_Premultiplied);
            entry->id = id;
            entry->turns = layer.turns;
            entry->image.setDevicePixelRatio(1.0);
            // Nothing of the previous photo may show through a transparent or
            // partly covered edge.
            entry->image.fill(Qt::transparent);
            QPainter reducer(&entry->image);
            reducer.setCompositionMode(QPainter::CompositionMode_Source);
            reducer.setRenderHint(QPainter::SmoothPixmapTransform);
            SceneLayer opaque = layer;
            opaque.opacity = 1.0;
            opaque.frame = QRectF(QPointF(0, 0), QSizeF(size));
            drawScaled(reducer, opaque, size.width());
        }
        entry->image.setDevicePixelRatio(dpr);
        painter.save();
        painter.setOpacity(layer.opacity);
        painter.drawImage(QPointF(topLeft.x() / dpr, topLeft.y() / dpr), entry->image);
        painter.restore();
        return true;
    }

    ImageScene m_scene;
    uint64_t m_presented = 0;
    Reduced m_reduced[2];
};

} // namespace

namespace {

bool openGLProbed = false;

} // namespace

bool ImageSurface::openGLProbeDeferred()
{
    if (openGLProbed)
        return false;
    const QString choice = qEnvironmentVariable("GLANTO_RENDERER");
    if (choice == QLatin1String("gl") || choice == QLatin1String("raster"))
        return false;
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

bool ImageSurface::openGLAvailable()
{
    openGLProbed = true;
    static const bool available = [] {
        const QString choice = qEnvironmentVariable("GLANTO_RENDERER");
        if (choice == QLatin1String("raster"))
            return false;
        const QString platform = QGuiApplication::platformName();
        if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal"))
            return false;
        QOpenGLContext context;
        if (!context.create())
            return false;
        QOffscreenSurface surface;
        surface.setFormat(context.format());
        surface.create();
        if (!surface.isValid() || !context.makeCurrent(&surface))
            return false;
        // Without a GPU, GL is rasterised on the CPU and every frame waits for it:
        // measured on a 2-core machine the raster renderer showed the next photo in
        // 23 ms where software GL took 360 ms. GLANTO_RENDERER=gl insists on GL.
        const auto *renderer = reinterpret_cast<const char *>(context.functions()->glGetString(GL_RENDERER));
        const QString name = QString::fromLatin1(renderer ? renderer : "").toLower();
        const bool software = name.contains(QLatin1String("llvmpipe")) || name.contains(QLatin1String("softpipe"))
                              || name.contains(QLatin1String("software")) || name.contains(QLatin1String("swrast"));
        context.doneCurrent();
        return !software || choice == QLatin1String("gl");
    }();
    return available;
}

std::unique_ptr<ImageSurface> ImageSurface::create(QWidget *parent)
{
    if (!openGLProbeDeferred() && openGLAvailable())
        return std::make_unique<GlImageSurface>(parent);
    return createRaster(parent);
}

std::unique_ptr<ImageSurface> ImageSurface::createOpenGL(QWidget *parent)
{
    return std::make_unique<GlImageSurface>(parent);
}

std::unique_ptr<ImageSurface> ImageSurface::createRaster(QWidget *parent)
{
    return std::make_unique<RasterImageSurface>(parent);
}
