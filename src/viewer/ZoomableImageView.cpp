#include "viewer/ZoomableImageView.h"

#include "library/ImageLoader.h"
#include "platform/HandOff.h"
#include "settings/Settings.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QCursor>
#include <QEasingCurve>
#include <QKeyEvent>
#include <QNativeGestureEvent>
#include <QPointer>
#include <QStyleHints>
#include <QThreadPool>
#include <QTimer>
#include <QVariantAnimation>
#include <QWheelEvent>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <utility>

namespace {

// The ease-in-ease-out timing curve (control points 0.42, 0 and 0.58, 1).
QEasingCurve easeInEaseOut()
{
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0.42, 0.0), QPointF(0.58, 1.0), QPointF(1.0, 1.0));
    return curve;
}

QRectF interpolate(const QRectF &a, const QRectF &b, double t)
{
    return QRectF(a.x() + (b.x() - a.x()) * t, a.y() + (b.y() - a.y()) * t,
                  a.width() + (b.width() - a.width()) * t, a.height() + (b.height() - a.height()) * t);
}

// Builds the halvings of each new bitmap, one at a time, off the main thread.
QThreadPool &levelPool()
{
    static QThreadPool *pool = [] {
        auto *p = new QThreadPool;
        p->setMaxThreadCount(1);
        p->setObjectName(QStringLiteral("glanto.levels"));
        return p;
    }();
    return *pool;
}

double eventSeconds(const QInputEvent *event)
{
    return event->timestamp() / 1000.0;
}

} // namespace

// Plays the frames of an animated file: decoded off the main thread, then shown
// one by one with their own delays until stopped or the loop count runs out.
class AnimationPlayer
{
public:
    AnimationPlayer(ZoomableImageView *view, QThreadPool &pool, const QString &url,
                    std::function<void(const QImage &, bool)> onFrame, std::function<void()> onFailed,
                    std::function<void(int, int)> onShortened)
        : state(std::make_shared<State>())
    {
        state->onFrame = std::move(onFrame);
        state->onFailed = std::move(onFailed);
        state->onShortened = std::move(onShortened);
        state->timer = new QTimer(view);
        state->timer->setSingleShot(true);
        std::weak_ptr<State> weak = state;
        QObject::connect(state->timer, &QTimer::timeout, view, [weak] {
            if (auto s = weak.lock())
                s->next();
        });
        QPointer<ZoomableImageView> guard(view);
        HandOff::start(pool, [weak, guard, url] {
            if (weak.expired())
                return;
            std::optional<AnimatedFrames> frames = ImageLoader::shared().frames(url);
            HandOff::invoke(
                qApp,
                [weak, guard, frames = std::move(frames)]() mutable {
                    auto s = weak.lock();
                    if (!s || !guard)
                        return;
                    if (!frames || frames->frames.isEmpty()) {
                        s->onFailed();
                        return;
                    }
                    s->frames = std::move(*frames);
                    s->next();
                    if (s->frames.isShortened() && s->onShortened)
                        s->onShortened(int(s->frames.frames.size()), s->frames.totalFrames);
                },
                Qt::QueuedConnection);
        });
    }

    ~AnimationPlayer()
    {
        state->timer->stop();
        state->timer->deleteLater();
    }

    // Out of sight the frames stop: no timer wakes the machine for a picture nobody
    // sees. Seen again, the next frame follows at once.
    void setHeld(bool held)
    {
        if (held == state->held)
            return;
        state->held = held;
        if (held) {
            state->frameOwed = state->timer->isActive();
            state->timer->stop();
        } else if (std::exchange(state->frameOwed, false)) {
            state->next();
        }
    }

private:
    struct State
    {
        AnimatedFrames frames;
        int index = 0;
        int loopsDone = 0;
        bool first = true;
        bool held = false;
        // Held with a frame due: it is shown when the hold ends.
        bool frameOwed = false;
        QTimer *timer = nullptr;
        std::function<void(const QImage &, bool)> onFrame;
        std::function<void()> onFailed;
        std::function<void(int shown, int total)> onShortened;

        void next()
        {
            if (held && !first) {
                frameOwed = true;
                return;
            }
            if (index >= frames.frames.size()) {
                ++loopsDone;
                if (frames.loopCount > 0 && loopsDone >= frames.loopCount)
                    return;
                index = 0;
            }
            const QImage frame = frames.frames.at(index);
            // Browsers treat delays under 20 ms as 100 ms; so do we.
            int delay = index < frames.delaysMs.size() ? frames.delaysMs.at(index) : 100;
            if (delay < 20)
                delay = 100;
            ++index;
            const bool wasFirst = first;
            first = false;
            timer->start(delay);
            onFrame(frame, wasFirst);
        }
    };
    std::shared_ptr<State> state;
};

ZoomableImageView::ZoomableImageView(QWidget *parent)
    : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_AcceptTouchEvents, false);
    animationQueue.setObjectName(QStringLiteral("glanto.animation"));
    animationQueue.setMaxThreadCount(1);
    setMouseTracking(false);
    setAutoFillBackground(false);

    layoutAnimation = new QVariantAnimation(this);
    layoutAnimation->setStartValue(0.0);
    layoutAnimation->setEndValue(1.0);
    layoutAnimation->setDuration(int(layoutAnimationSeconds * 1000));
    layoutAnimation->setEasingCurve(easeInEaseOut());
    connect(layoutAnimation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_shownFrame = interpolate(m_animFrom, m_animTo, value.toDouble());
        updateScene();
    });

    fadeAnimation = new QVariantAnimation(this);
    fadeAnimation->setStartValue(0.0);
    fadeAnimation->setEndValue(1.0);
    fadeAnimation->setEasingCurve(easeInEaseOut());
    connect(fadeAnimation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        const double t = value.toDouble();
        m_imageOpacity = t;
        if (m_ghost)
            m_ghost.opacity = 1.0 - t;
        updateScene();
    });

    installSurface(ImageSurface::create(this));
}

ZoomableImageView::~ZoomableImageView()
{
    // A frame decode still queued is dropped; one that runs is waited for, so no
    // decode outlives the view that asked for it.
    animationQueue.clear();
    animationQueue.waitForDone();
}

void ZoomableImageView::installSurface(std::unique_ptr<ImageSurface> surface)
{
    if (m_surface) {
        // The old surface may still be on the call stack (a paint, a frame
        // callback, a pending timer of its own): it is hidden now and deleted
        // once control is back in the event loop.
        QWidget *old = m_surface.release()->widget();
        old->hide();
        old->deleteLater();
    }
    m_surface = std::move(surface);
    ImageSurface *current = m_surface.get();
    QWidget *w = current->widget();
    w->setGeometry(rect());
    w->lower();
    w->show();
    m_surface->onFailed = [this, current] {
        // No usable GL after all: draw the same scene with the raster renderer.
        // The swap waits for the event loop, because this callback runs inside
        // the failing surface, which the swap destroys.
        HandOff::invoke(
            this,
            [this, current] {
                if (m_surface.get() != current)
                    return;
                installSurface(ImageSurface::createRaster(this));
                updateScene();
            },
            Qt::QueuedConnection);
    };
    if (!m_surface->isOpenGL() && ImageSurface::openGLProbeDeferred()) {
        // The first photo goes out through the raster renderer; GL is probed once
        // it is on screen, and takes over when this display has hardware GL.
        auto scheduled = std::make_shared<bool>(false);
        m_surface->onFramePresented = [this, current, scheduled] {
            if (*scheduled || m_surface.get() != current || current->presentedBitmap() == 0)
                return;
            *scheduled = true;
            QTimer::singleShot(0, this, [this, current] {
                if (m_surface.get() != current)
                    return;
                if (ImageSurface::openGLAvailable()) {
                    installSurface(ImageSurface::createOpenGL(this));
                    updateScene();
                }
            });
        };
    }
}

uint64_t ZoomableImageView::currentBitmapId() const
{
    return m_bitmap ? m_bitmap->id() : 0;
}

QSize ZoomableImageView::shownPixelSize() const
{
    if (!m_bitmap)
        return {};
    const QSize s = m_bitmap->size();
    return geo.quarterTurns % 2 ? s.transposed() : s;
}

double ZoomableImageView::backingScale() const
{
    return window() && window()->windowHandle() ? window()->devicePixelRatioF() : 2.0;
}

void ZoomableImageView::setImage(const QImage &image, double width, double height, bool sizeFromImage,
                                 bool forceFit, bool isNewPhoto, bool sameFileRewritten)
{
    m_animationStopped = true;
    m_animationActive = false;
    animation.reset();
    // The frames of a photo already left are not worth decoding.
    animationQueue.clear();

    if (isNewPhoto) {
        const QSizeF size = sizeFromImage ? QSizeF(image.size()) : QSizeF(width, height);
        if (!sameFileRewritten || size != geo.logicalSize)
            geo.quarterTurns = 0;
        m_detailRequested = false;
    }

    RenderBitmapPtr previous = m_bitmap;
    RenderBitmapPtr bitmap;
    if (!image.isNull()) {
        const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888_Premultiplied);
        bitmap = std::make_shared<RenderBitmap>(rgba);
        geo.logicalSize = sizeFromImage ? QSizeF(image.size()) : QSizeF(width, height);
        m_baseImage = rgba;
    } else if (isNewPhoto) {
        m_baseImage = QImage();
    }

    std::optional<double> fade;
    if (isNewPhoto) {
        if (pendingFadeDuration)
            fade = pendingFadeDuration;
        else if (Settings::fadeTransition())
            fade = pagingFadeSeconds;
        pendingFadeDuration.reset();
    }

    removeFade();
    SceneLayer old;
    if (previous && m_visible) {
        old.bitmap = previous;
        old.frame = m_shownFrame;
        old.turns = geo.quarterTurns;
    }

    if (bitmap || isNewPhoto) {
        // A sharper bitmap of the same photo: the coarser one stands in until it is drawable.
        m_standIn = !isNewPhoto && bitmap ? previous : nullptr;
        m_bitmap = bitmap;
    }
    if (bitmap)
        buildLevels(bitmap);

    m_visible = bool(m_bitmap);
    geo.hasImage = bool(m_bitmap);

    if (!forceFit && !isNewPhoto && geo.mode == Mode::free && bitmap) {
        applyLayout(false);
    } else {
        zoomToFit(false);
    }

    if (fade && old && m_visible)
        addFadeGhost(old, *fade);
    updateScene();
}

void ZoomableImageView::buildLevels(const RenderBitmapPtr &bitmap)
{
    if (bitmap->size().width() <= 1 && bitmap->size().height() <= 1)
        return;
    std::weak_ptr<RenderBitmap> weak = bitmap;
    QPointer<ZoomableImageView> guard(this);
    HandOff::start(levelPool(), [weak, guard] {
        auto bitmap = weak.lock();
        if (!bitmap)
            return;
        bitmap->setLevels(buildMipLevels(bitmap->image()));
        const uint64_t id = bitmap->id();
        bitmap.reset();
        HandOff::invoke(
            qApp,
            [guard, id] {
                if (guard && (guard->currentBitmapId() == id || (guard->m_standIn && guard->m_standIn->id() == id)))
                    guard->updateScene();
            },
            Qt::QueuedConnection);
    });
}

void ZoomableImageView::removeFade()
{
    ++fadeToken;
    fadeAnimation->stop();
    m_ghost = SceneLayer();
    m_imageOpacity = 1.0;
}

void ZoomableImageView::addFadeGhost(const SceneLayer &old, double duration)
{
    m_ghost = old;
    m_ghost.opacity = 1.0;
    m_imageOpacity = 0.0;
    const uint64_t token = ++fadeToken;
    fadeAnimation->setDuration(std::max(0, int(duration * 1000)));
    fadeAnimation->start();
    QPointer<ZoomableImageView> guard(this);
    QTimer::singleShot(int(duration * 1000), this, [guard, token] {
        // A newer fade replaced this one: leave it alone.
        if (guard && guard->fadeToken == token) {
            guard->removeFade();
            guard->updateScene();
        }
    });
}

void ZoomableImageView::updateScene()
{
    if (!m_surface)
        return;
    ImageScene scene;
    if (m_bitmap && m_visible) {
        scene.image.bitmap = m_bitmap;
        scene.image.frame = drawnFrame(m_shownFrame, devicePixelRatioF());
        scene.image.turns = geo.quarterTurns;
        scene.image.opacity = m_imageOpacity;
        scene.standIn = m_standIn;
    }
    scene.ghost = m_ghost;
    m_surface->setScene(scene);
}

void ZoomableImageView::applyLayout(bool animated)
{
    const QSizeF turned = geo.turnedSize();
    if (!m_bitmap || turned.width() <= 0)
        return;
    const QRectF target = geo.imageFrame();
    if (animated && m_shownFrame.isValid()) {
        m_animFrom = m_shownFrame;
        m_animTo = target;
        layoutAnimation->stop();
        layoutAnimation->start();
    } else {
        layoutAnimation->stop();
        m_shownFrame = target;
    }
    if (onZoomChange)
        onZoomChange(geo.scale);

    if (!m_detailRequested && !m_animationActive) {
        const double shownWidth = shownPixelSize().width();
        if (needsDetail(shownWidth, turned.width(), geo.scale, backingScale())) {
            m_detailRequested = true;
            if (onNeedsDetail)
                onNeedsDetail();
        }
    }
    updateScene();
}

void ZoomableImageView::zoomToFit(bool animated)
{
    geo.viewSize = size();
    geo.zoomToFit();
    applyLayout(animated);
}

void ZoomableImageView::zoom(double newScale, QPointF anchor, bool animated, bool clamped)
{
    if (geo.zoom(newScale, anchor, clamped))
        applyLayout(animated);
}

void ZoomableImageView::zoomIn()
{
    if (m_bitmap)
        zoom(geo.scale * ViewGeometry::zoomStep, geo.viewCentre(), true, true);
}

void ZoomableImageView::zoomOut()
{
    if (m_bitmap)
        zoom(geo.scale / ViewGeometry::zoomStep, geo.viewCentre(), true, true);
}

void ZoomableImageView::actualSize()
{
    if (m_bitmap)
        zoom(1.0, geo.viewCentre(), true, true);
}

void ZoomableImageView::toggleZoom(QPointF point, bool useCentre)
{
    if (!m_bitmap)
        return;
    if (geo.mode == Mode::free) {
        zoomToFit(true);
        return;
    }
    zoom(geo.toggleTarget(), useCentre ? geo.viewCentre() : point, true, true);
}

void ZoomableImageView::rotate(int delta)
{
    if (m_animationActive) {
        geo.rotate(delta);
        return;
    }
    if (m_baseImage.isNull())
        return;
    geo.rotate(delta);
    // The turn is applied when drawing, so the frame must follow at once; the
    // animation then eases it into the fitted place.
    const QSizeF turned = geo.turnedSize();
    const QPointF centre = m_shownFrame.center();
    const double k = m_shownFrame.width() > 0 && turned.height() > 0 ? m_shownFrame.height() / turned.height() : geo.scale;
    m_shownFrame = QRectF(0, 0, turned.width() * k, turned.height() * k);
    m_shownFrame.moveCenter(centre);
    zoomToFit(true);
}

void ZoomableImageView::startAnimation(const QString &url)
{
    m_animationActive = true;
    m_animationStopped = false;
    QPointer<ZoomableImageView> guard(this);
    animation = std::make_unique<AnimationPlayer>(
        this, animationQueue, url,
        [guard](const QImage &frame, bool first) {
            if (guard && guard->m_animationActive && !guard->m_animationStopped)
                guard->showAnimationFrame(frame, first);
        },
        [guard] {
            if (guard && guard->m_animationActive)
                guard->m_animationActive = false;
        },
        [guard](int shown, int total) {
            if (guard && guard->m_animationActive && !guard->m_animationStopped && guard->onAnimationShortened)
                guard->onAnimationShortened(shown, total);
        });
    animation->setHeld(m_outOfSight);
}

void ZoomableImageView::setOutOfSight(bool away)
{
    m_outOfSight = away;
    if (animation)
        animation->setHeld(away);
}

void ZoomableImageView::showAnimationFrame(const QImage &frame, bool first)
{
    // Frames replace the bitmap in place: no fade, no new levels for every frame.
    m_bitmap = std::make_shared<RenderBitmap>(frame);
    m_standIn.reset();
    m_baseImage = frame;
    m_visible = true;
    geo.hasImage = true;
    if (first) {
        geo.logicalSize = QSizeF(frame.size());
        if (geo.mode == Mode::free)
            applyLayout(false);
        else
            zoomToFit(false);
        if (onFirstFrame)
            onFirstFrame(frame.width(), frame.height());
    } else {
        applyLayout(false);
    }
}

void ZoomableImageView::endPeek()
{
    if (!m_spacePeeking)
        return;
    m_spacePeeking = false;
    if (onPeekEnd)
        onPeekEnd();
}

void ZoomableImageView::perform(ShortcutAction action, const QKeyEvent *event)
{
    auto call = [](const std::function<void()> &f) {
        if (f)
            f();
    };
    switch (action) {
    case ShortcutAction::prev:
    case ShortcutAction::next:
        if (onNavigate)
            onNavigate(action == ShortcutAction::prev ? -1 : +1);
        return;
    case ShortcutAction::first: call(onFirst); return;
    case ShortcutAction::last: call(onLast); return;
    case ShortcutAction::zoomIn: zoomIn(); return;
    case ShortcutAction::zoomOut: zoomOut(); return;
    case ShortcutAction::zoomAtPointer: {
        const QPoint pointer = mapFromGlobal(QCursor::pos());
        if (window() && window()->windowHandle() && rect().contains(pointer))
            toggleZoom(pointer, false);
        else
            toggleZoom(geo.viewCentre(), true);
        return;
    }
    case ShortcutAction::actualSize: actualSize(); return;
    case ShortcutAction::peek:
        if (event && event->isAutoRepeat())
            return;
        if (m_spacePeeking)
            endPeek();
        else
            m_spacePeeking = onPeekBegin ? onPeekBegin() : false;
        return;
    case ShortcutAction::fullscreen: call(onToggleFullscreen); return;
    case ShortcutAction::info: call(onToggleInfo); return;
    case ShortcutAction::filmstrip: call(onToggleFilmstrip); return;
    case ShortcutAction::slideshow: call(onSlideshow); return;
    case ShortcutAction::rotateCW: rotate(+1); return;
    case ShortcutAction::rotateCCW: rotate(-1); return;
    case ShortcutAction::rename: call(onRename); return;
    case ShortcutAction::trash: call(onTrash); return;
    default:
        if (onCommand)
            onCommand(action);
        return;
    }
}

void ZoomableImageView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (m_surface)
        m_surface->widget()->setGeometry(rect());
    geo.viewSize = size();
    geo.layout();
    if (m_bitmap)
        applyLayout(false);
}

void ZoomableImageView::wheelEvent(QWheelEvent *event)
{
    if (onActivity)
        onActivity();
    event->accept();
    WheelSample sample;
    sample.position = event->position();
    sample.precise = !event->pixelDelta().isNull();
    sample.delta = sample.precise ? QPointF(event->pixelDelta()) : QPointF(event->angleDelta()) / 120.0;
    sample.momentum = event->phase() == Qt::ScrollMomentum;
    sample.gestureBegan = event->phase() == Qt::ScrollBegin;
    sample.inverted = event->inverted();
    sample.commandHeld = event->modifiers().testFlag(Qt::ControlModifier);
    sample.time = eventSeconds(event);

    WheelSettings settings;
    settings.wheelNavigates = Settings::wheelNavigates();
    settings.wheelZoomInverted = Settings::wheelZoomInverted();
    const WheelAction action = wheelInput.wheel(sample, settings, geo.mode == Mode::free);
    switch (action.kind) {
    case WheelAction::Kind::none:
        break;
    case WheelAction::Kind::zoom:
        zoom(geo.scale * action.factor, action.anchor, false, true);
        break;
    case WheelAction::Kind::pan:
        geo.moveBy(action.panBy);
        applyLayout(false);
        break;
    case WheelAction::Kind::navigate:
        if (onNavigate)
            onNavigate(action.step);
        break;
    }
}

void ZoomableImageView::handlePinch(QPointF position, double magnification, bool ended, double time)
{
    const std::optional<double> factor = wheelInput.pinch(position, magnification, ended, time);
    if (ended) {
        // Snap back into range after an overshoot while the fingers were down.
        if (geo.scale < geo.minimumScale())
            zoom(geo.minimumScale(), wheelInput.gestureAnchor, true, true);
        else if (geo.scale > ViewGeometry::maximumScale)
            zoom(ViewGeometry::maximumScale, wheelInput.gestureAnchor, true, true);
        return;
    }
    if (factor)
        zoom(geo.scale * *factor, wheelInput.gestureAnchor, false, false);
}

bool ZoomableImageView::event(QEvent *event)
{
    if (event->type() == QEvent::NativeGesture) {
        auto *gesture = static_cast<QNativeGestureEvent *>(event);
        const double time = eventSeconds(gesture);
        switch (gesture->gestureType()) {
        case Qt::ZoomNativeGesture:
            handlePinch(gesture->position(), gesture->value(), false, time);
            return true;
        case Qt::EndNativeGesture:
            if (wheelInput.isPinching)
                handlePinch(gesture->position(), 0, true, time);
            return true;
        case Qt::SmartZoomNativeGesture:
            toggleZoom(gesture->position(), false);
            return true;
        default:
            break;
        }
    }
    return QWidget::event(event);
}

void ZoomableImageView::cancelPendingSingleClick()
{
    if (pendingSingleClick) {
        pendingSingleClick->stop();
        pendingSingleClick->deleteLater();
        pendingSingleClick = nullptr;
    }
}

void ZoomableImageView::mousePressEvent(QMouseEvent *event)
{
    // A mouse's thumb buttons step like the arrows: back to the previous photo,
    // forward to the next.
    if (event->button() == Qt::BackButton || event->button() == Qt::ForwardButton) {
        if (onActivity)
            onActivity();
        if (onNavigate)
            onNavigate(event->button() == Qt::BackButton ? -1 : +1);
        event->accept();
        return;
    }
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    setFocus(Qt::MouseFocusReason);
    lastClickCount = 1;
    clicks.press(event->position(), geo.origin);
}

void ZoomableImageView::contextMenuEvent(QContextMenuEvent *event)
{
    if (!onContextMenu) {
        QWidget::contextMenuEvent(event);
        return;
    }
    // A right click must not count as half of a double click or start a drag.
    cancelPendingSingleClick();
    onContextMenu(event->globalPos());
    event->accept();
}

void ZoomableImageView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseDoubleClickEvent(event);
        return;
    }
    // The second press of a double click: no single-click action, and a zoom toggle
    // at the pointer.
    lastClickCount = 2;
    cancelPendingSingleClick();
    clicks.press(event->position(), geo.origin);
    toggleZoom(event->position(), false);
}

void ZoomableImageView::mouseMoveEvent(QMouseEvent *event)
{
    if (!(event->buttons() & Qt::LeftButton))
        return;
    const std::optional<QPointF> origin = clicks.drag(event->position());
    if (!origin)
        return;
    geo.origin = *origin;
    geo.mode = Mode::free;
    if (onActivity)
        onActivity();
    applyLayout(false);
}

void ZoomableImageView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    cancelPendingSingleClick();
    const bool single = clicks.release(lastClickCount);
    if (single && onSingleClick) {
        pendingSingleClick = new QTimer(this);
        pendingSingleClick->setSingleShot(true);
        QTimer *timer = pendingSingleClick;
        connect(timer, &QTimer::timeout, this, [this, timer] {
            if (pendingSingleClick == timer) {
                pendingSingleClick = nullptr;
                timer->deleteLater();
                if (onSingleClick)
                    onSingleClick();
            }
        });
        timer->start(QGuiApplication::styleHints()->mouseDoubleClickInterval());
    }
}

void ZoomableImageView::keyPressEvent(QKeyEvent *event)
{
    // Keys are commands: the window's router runs them, once each, before they
    // would reach this view. What arrives here is no command's key.
    if (onActivity)
        onActivity();
    QWidget::keyPressEvent(event);
}
