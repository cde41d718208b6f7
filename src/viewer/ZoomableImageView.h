#pragma once

#include "settings/Shortcuts.h"
#include "viewer/ImageSurface.h"
#include "viewer/ViewGeometry.h"
#include "viewer/ViewInput.h"

#include <QImage>
#include <QPointer>
#include <QThreadPool>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class AnimationPlayer;
class QTimer;
class QVariantAnimation;

// The one view that draws the current photo: fit or free zoom, quarter turns for
// display, the cross-fade between two photos, animated-image playback, and the
// request for a sharper bitmap when the user zooms past what is shown. It knows
// nothing of folders or files; it reports through the callback fields below,
// which only the viewer controller assigns.
class ZoomableImageView : public QWidget
{
    Q_OBJECT
public:
    using Mode = ViewGeometry::Mode;

    static constexpr double layoutAnimationSeconds = 0.22;
    static constexpr double pagingFadeSeconds = 0.25;

    explicit ZoomableImageView(QWidget *parent = nullptr);
    ~ZoomableImageView() override;

    std::function<void(double scale)> onZoomChange;
    std::function<void(int delta)> onNavigate;
    std::function<void()> onFirst;
    std::function<void()> onLast;
    std::function<void()> onToggleInfo;
    std::function<void()> onToggleFilmstrip;
    std::function<void()> onToggleFullscreen;
    std::function<void()> onTrash;
    std::function<void()> onEscape;
    std::function<void()> onSlideshow;
    std::function<void()> onRename;
    std::function<void(ShortcutAction)> onCommand;
    std::function<void()> onActivity;
    std::function<void(double width, double height)> onFirstFrame;
    // An animation plays only its first frames (the rest would not fit the
    // decode budget): shown of total, once per photo, after its first frame.
    std::function<void(int shown, int total)> onAnimationShortened;
    std::function<void()> onNeedsDetail;
    std::function<bool()> onPeekBegin;
    std::function<void()> onPeekEnd;
    std::function<void()> onSingleClick;
    // A right click or the Menu key on the photo; the point is on the screen.
    std::function<void(const QPoint &globalPos)> onContextMenu;

    // A duration for the next photo change only (0 is a fade of zero length).
    std::optional<double> pendingFadeDuration;

    // Shows a bitmap. No image with isNewPhoto clears the view.
    // sameFileRewritten: the photo shown, its file written anew elsewhere; a turn
    // not yet saved is kept when the picture's size is unchanged.
    void setImage(const QImage &image, double width, double height, bool sizeFromImage, bool forceFit,
                  bool isNewPhoto, bool sameFileRewritten = false);
    void zoomToFit(bool animated);
    void zoom(double newScale, QPointF anchor, bool animated, bool clamped);
    void zoomIn();
    void zoomOut();
    void actualSize();
    void toggleZoom(QPointF point, bool useCentre);
    void rotate(int delta);
    void startAnimation(const QString &url);
    // The window is minimised, hidden or on another desktop (true), or seen again:
    // an animation holds its frames meanwhile.
    void setOutOfSight(bool away);
    void endPeek();
    bool isFitMode() const { return geo.mode == Mode::fit; }
    void perform(ShortcutAction action, const QKeyEvent *event);

    double scale() const { return geo.scale; }
    Mode mode() const { return geo.mode; }
    QPointF origin() const { return geo.origin; }
    int quarterTurns() const { return geo.quarterTurns; }
    bool animationActive() const { return m_animationActive; }
    bool spacePeeking() const { return m_spacePeeking; }
    bool detailRequested() const { return m_detailRequested; }
    bool hasImage() const { return geo.hasImage; }
    QSizeF logicalSize() const { return geo.logicalSize; }
    QSizeF displayedLogicalSize() const { return geo.displayedLogicalSize(); }
    const ViewGeometry &geometryState() const { return geo; }
    // The bitmap as delivered, unturned; the turns are applied when drawing.
    const QImage &baseImage() const { return m_baseImage; }
    // Pixel size of the shown bitmap as turned on screen.
    QSize shownPixelSize() const;
    // The window's backing scale factor; 2.0 when the view has no window.
    double backingScale() const;
    bool fadeRunning() const { return bool(m_ghost); }
    // Frame of the photo as currently drawn (mid-animation it lags the geometry).
    QRectF shownFrame() const { return m_shownFrame; }

    ImageSurface *surface() const { return m_surface.get(); }
    // Id of the bitmap in the photo's place (for the benchmark's "on screen" checks).
    uint64_t currentBitmapId() const;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool event(QEvent *event) override;

private:
    void applyLayout(bool animated);
    void updateScene();
    void removeFade();
    void addFadeGhost(const SceneLayer &old, double duration);
    void buildLevels(const RenderBitmapPtr &bitmap);
    void installSurface(std::unique_ptr<ImageSurface> surface);
    void showAnimationFrame(const QImage &frame, bool first);
    void handlePinch(QPointF position, double magnification, bool ended, double time);
    void cancelPendingSingleClick();

    ViewGeometry geo;
    WheelInput wheelInput;
    ClickTracker clicks;
    int lastClickCount = 1;
    QTimer *pendingSingleClick = nullptr;

    std::unique_ptr<ImageSurface> m_surface;
    QImage m_baseImage;
    RenderBitmapPtr m_bitmap;
    RenderBitmapPtr m_standIn;
    bool m_visible = false;
    bool m_detailRequested = false;
    bool m_spacePeeking = false;
    bool m_animationActive = false;
    bool m_animationStopped = true;
    bool m_outOfSight = false;

    QRectF m_shownFrame;
    QRectF m_animFrom;
    QRectF m_animTo;
    QVariantAnimation *layoutAnimation = nullptr;

    SceneLayer m_ghost;
    double m_imageOpacity = 1.0;
    QVariantAnimation *fadeAnimation = nullptr;
    uint64_t fadeToken = 0;

    std::unique_ptr<AnimationPlayer> animation;
    QThreadPool animationQueue;
};
