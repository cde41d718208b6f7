#pragma once

#include <QPointF>
#include <QRectF>
#include <QSizeF>

// Where the photo sits in the image view: fit or free zoom, scale, origin and the
// display-only quarter turns. A plain value with no widget and no GL, so every
// rule about zooming can be checked directly; the view only asks it for a frame.
struct ViewGeometry
{
    enum class Mode { fit, free };

    static constexpr double maximumScale = 12.0;
    // A fitted photo is never enlarged more than this.
    static constexpr double maximumFitScale = 4.0;
    static constexpr double zoomStep = 1.3;

    QSizeF viewSize;
    // Size of the photo as delivered (upright, before the view's own turns).
    QSizeF logicalSize;
    int quarterTurns = 0;
    bool hasImage = false;
    Mode mode = Mode::fit;
    // Display points per logical pixel.
    double scale = 1.0;
    // Top-left corner of the photo's frame in view coordinates.
    QPointF origin;

    QSizeF turnedSize() const;
    // Turned size when an image is shown, else zero.
    QSizeF displayedLogicalSize() const;
    double fitScale() const;
    double minimumScale() const;
    QRectF imageFrame() const;

    void centre();
    // The layout pass: a fitted photo follows the view, a zoomed one stays put.
    void layout();
    void zoomToFit();
    // The one primitive behind every zoom; returns false when nothing is shown.
    bool zoom(double newScale, QPointF anchor, bool clamped);
    // The first press zooms to toggleTarget() about the point, the second
    // returns to fit. Returns false when nothing is shown.
    bool toggleZoom(QPointF point);
    // The scale the first toggle goes to from fit: 100 %, or 200 % for a photo
    // that already fits at 100 % or more, or twice the fit for one that fit
    // enlarges beyond 200 %, so that the toggle always shows it larger.
    double toggleTarget() const;
    void moveBy(QPointF delta);
    void rotate(int delta);

    QPointF viewCentre() const { return {viewSize.width() * 0.5, viewSize.height() * 0.5}; }
};

// The frame as drawn: at least one device pixel wide and tall about its own
// centre, so that a picture of 3 x 4000 fitted into a window is a line on
// screen rather than nothing.
QRectF drawnFrame(QRectF frame, double backingScale);

// Whether the shown bitmap is coarser than the screen needs: a reduced preview
// (narrower than the photo) drawn at more device pixels than it has.
bool needsDetail(double shownPixelWidth, double turnedWidth, double scale, double backingScale);

// Quarter turns normalised to 0...3 (-1 gives 3).
int normalisedTurns(int turns);
