#include "viewer/ImageSurface.h"

#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QPainter>
#include <QPointer>
#include <QThreadPool>
#include <QTimer>
#include <QWidget>

#include <optional>
#include <vector>

#include "platform/HandOff.h"
#include "viewer/GlImageSurface.h"

namespace {

// The layer's bitmap (or the smallest halving still as large as the drawn frame)
// scaled into its frame, turned and with its opacity. Used on the main thread and
// on workers.
void drawScaled(QPainter &painter, const SceneLayer &layer, double deviceWidth)
{
    const RenderBitmap &bitmap = *layer.bitmap;
    const QSize size = bitmap.size();
    const double turnedW = layer.turns % 2 ? size.height() : size.width();
    const double turnedH = layer.turns % 2 ? size.width() : size.height();
    if (turnedW <= 0 || turnedH <= 0)
        return;
    // Both sides count: a level of a strip a few pixels wide stays 1 pixel wide while
    // its length keeps halving, so its width alone would pick the 1 x 1 level.
    const double deviceHeight = deviceWidth * turnedH / turnedW;
    QImage source = bitmap.image();
    if (bitmap.hasLevels()) {
        for (const QImage &level : bitmap.levels()) {
            const double levelW = layer.turns % 2 ? level.height() : level.width();
            const double levelH = layer.turns % 2 ? level.width() : level.height();
            if (levelW < deviceWidth || levelH < deviceHeight)
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

// The layer drawn opaque into a copy of its size on screen (device pixels).
QImage reducedCopy(const RenderBitmapPtr &bitmap, int turns, QSize size)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    // Nothing may show through a transparent or partly covered edge.
    image.fill(Qt::transparent);
    QPainter reducer(&image);
    reducer.setCompositionMode(QPainter::CompositionMode_Source);
    reducer.setRenderHint(QPainter::SmoothPixmapTransform);
    SceneLayer opaque;
    opaque.bitmap = bitmap;
    opaque.turns = turns;
    opaque.frame = QRectF(QPointF(0, 0), QSizeF(size));
    drawScaled(reducer, opaque, size.width());
    return image;
}

// The same scene drawn with QPainter, for displays without a usable GL context.
// It draws from the smallest halving that still has at least the pixels the
// screen needs, so a reduced 24 MP photo costs about what a screen-sized one does.
//
// A cross-fade is the old photo and the new one each over black, mixed:
// (1 - t) x old + t x new. The new photo is drawn at opacity t over black, the
// old one added at 1 - t, so where the two overlap nothing darkens mid-fade,
// and where only one of them lies it fades to or from black.
//
// Scaling a photo into its frame costs more than a frame's time on a large
// window, so a fade blends copies already reduced to the size on screen. They
// are made on a worker: the shown photo's once it has stayed a moment (it will
// be the old photo of the next fade), the new photo's as its fade begins. A
// frame that comes before its copy draws that layer with a quick, unsmoothed
// scaling instead; at the opacity of a fade's first frames it does not show.
class RasterImageSurface : public QWidget, public ImageSurface
{
public:
    explicit RasterImageSurface(QWidget *parent)
        : QWidget(parent)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_OpaquePaintEvent);
        setFocusPolicy(Qt::NoFocus);
        settleTimer.setSingleShot(true);
        settleTimer.setInterval(150);
        QObject::connect(&settleTimer, &QTimer::timeout, this, [this] {
            if (m_scene.image && !m_scene.ghost)
                requestReduced(m_scene.image);
        });
    }

    QWidget *widget() override { return this; }
    bool isOpenGL() const override { return false; }
    uint64_t presentedBitmap() const override { return m_presented; }

    void setScene(const ImageScene &scene) override
    {
        const bool fadeBegins = scene.ghost && (!m_scene.ghost || m_scene.ghost.bitmap != scene.ghost.bitmap);
        m_scene = scene;
        if (fadeBegins) {
            requestReduced(scene.ghost);
            requestReduced(scene.image);
        }
        if (scene.image && !scene.ghost)
            settleTimer.start();
        else
            settleTimer.stop();
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
            drawLayer(painter, photo);
        }
        if (m_scene.ghost) {
            painter.setCompositionMode(QPainter::CompositionMode_Plus);
            drawLayer(painter, m_scene.ghost);
        }
        m_presented = m_scene.image ? m_scene.image.bitmap->id() : 0;
        painter.end();
        if (onFramePresented)
            onFramePresented();
    }

private:
    struct Reduced
    {
        uint64_t id = 0;
        int turns = 0;
        QSize size;
        QImage image; // null while a worker makes it
    };

    // The layer's frame in device pixels, when a reduced copy of it is worth
    // having: it lies within the view (a zoomed photo larger than the view is
    // drawn scaled, as it was on screen before the fade).
    std::optional<QRect> deviceFrame(const SceneLayer &layer) const
    {
        const double dpr = devicePixelRatioF();
        const QRect frame(qRound(layer.frame.x() * dpr), qRound(layer.frame.y() * dpr),
                          qRound(layer.frame.width() * dpr), qRound(layer.frame.height() * dpr));
        const QRect view(QPoint(0, 0), size() * dpr);
        if (frame.isEmpty() || !view.adjusted(-1, -1, 1, 1).contains(frame))
            return std::nullopt;
        return frame;
    }

    Reduced *findReduced(const SceneLayer &layer, QSize size)
    {
        for (Reduced &entry : m_reduced) {
            if (entry.id == layer.bitmap->id() && entry.turns == layer.turns && entry.size == size)
                return &entry;
        }
        return nullptr;
    }

    void requestReduced(const SceneLayer &layer)
    {
        if (!layer)
            return;
        const std::optional<QRect> frame = deviceFrame(layer);
        if (!frame || findReduced(layer, frame->size()))
            return;
        // Keep only what the scene still shows: a copy of another photo, or of
        // this one at another zoom or turn, is stale.
        const auto shows = [this](const Reduced &entry, const SceneLayer &shown) {
            if (!shown || entry.id != shown.bitmap->id() || entry.turns != shown.turns)
                return false;
            const std::optional<QRect> place = deviceFrame(shown);
            return place && place->size() == entry.size;
        };
        std::erase_if(m_reduced, [&](const Reduced &entry) {
            return !shows(entry, m_scene.image) && !shows(entry, m_scene.ghost);
        });
        m_reduced.push_back(Reduced{layer.bitmap->id(), layer.turns, frame->size(), {}});
        const QPointer<RasterImageSurface> guard(this);
        HandOff::start(*QThreadPool::globalInstance(), [guard, bitmap = layer.bitmap, turns = layer.turns, size = frame->size()] {
            QImage image = reducedCopy(bitmap, turns, size);
            HandOff::invoke(qApp, [guard, id = bitmap->id(), turns, size, image = std::move(image)] {
                if (guard)
                    guard->reducedArrived(id, turns, size, image);
            });
        });
    }

    void reducedArrived(uint64_t id, int turns, QSize size, const QImage &image)
    {
        for (Reduced &entry : m_reduced) {
            if (entry.id == id && entry.turns == turns && entry.size == size && entry.image.isNull()) {
                entry.image = image;
                if (m_scene.ghost)
                    update();
                return;
            }
        }
    }

    void drawLayer(QPainter &painter, const SceneLayer &layer)
    {
        if (layer.opacity <= 0.0)
            return;
        if (!m_scene.ghost) {
            drawScaled(painter, layer, layer.frame.width() * devicePixelRatioF());
            return;
        }
        // A fade frame: the reduced copy when it is there, else a quick scaling.
        if (const std::optional<QRect> frame = deviceFrame(layer)) {
            const Reduced *entry = findReduced(layer, frame->size());
            if (entry && !entry->image.isNull()) {
                const double dpr = devicePixelRatioF();
                QImage image = entry->image;
                image.setDevicePixelRatio(dpr);
                painter.save();
                painter.setOpacity(layer.opacity);
                painter.drawImage(QPointF(frame->x() / dpr, frame->y() / dpr), image);
                painter.restore();
                return;
            }
            painter.save();
            painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
            drawScaled(painter, layer, layer.frame.width() * devicePixelRatioF());
            painter.restore();
            return;
        }
        drawScaled(painter, layer, layer.frame.width() * devicePixelRatioF());
    }

    ImageScene m_scene;
    uint64_t m_presented = 0;
    std::vector<Reduced> m_reduced;
    QTimer settleTimer;
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
