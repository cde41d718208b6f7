#include "viewer/ViewGeometry.h"

#include <algorithm>

int normalisedTurns(int turns)
{
    return ((turns % 4) + 4) % 4;
}

QSizeF ViewGeometry::turnedSize() const
{
    return quarterTurns % 2 ? logicalSize.transposed() : logicalSize;
}

QSizeF ViewGeometry::displayedLogicalSize() const
{
    return hasImage ? turnedSize() : QSizeF(0, 0);
}

double ViewGeometry::fitScale() const
{
    const QSizeF turned = turnedSize();
    if (!hasImage || turned.width() <= 0 || turned.height() <= 0 || viewSize.width() <= 1)
        return 1.0;
    return std::min(viewSize.width() / turned.width(), viewSize.height() / turned.height());
}

double ViewGeometry::minimumScale() const
{
    return 0.125 * std::min(fitScale(), 1.0);
}

QRectF ViewGeometry::imageFrame() const
{
    const QSizeF turned = turnedSize();
    return QRectF(origin, QSizeF(turned.width() * scale, turned.height() * scale));
}

void ViewGeometry::centre()
{
    const QSizeF turned = turnedSize();
    origin = QPointF((viewSize.width() - turned.width() * scale) * 0.5,
                     (viewSize.height() - turned.height() * scale) * 0.5);
}

void ViewGeometry::layout()
{
    if (mode == Mode::fit) {
        scale = std::min(fitScale(), maximumFitScale);
        centre();
    }
}

void ViewGeometry::zoomToFit()
{
    mode = Mode::fit;
    layout();
}

bool ViewGeometry::zoom(double newScale, QPointF anchor, bool clamped)
{
    if (!hasImage || turnedSize().width() <= 0)
        return false;
    if (clamped)
        newScale = std::min(std::max(newScale, minimumScale()), maximumScale);
    // Keep the logical pixel under the anchor where it is.
    origin = anchor - (anchor - origin) / scale * newScale;
    mode = Mode::free;
    scale = newScale;
    return true;
}

bool ViewGeometry::toggleZoom(QPointF point)
{
    if (!hasImage)
        return false;
    if (mode == Mode::free) {
        zoomToFit();
        return true;
    }
    return zoom(toggleTarget(), point, true);
}

double ViewGeometry::toggleTarget() const
{
    const double fit = std::min(fitScale(), maximumFitScale);
    if (fit < 0.999)
        return 1.0;
    return fit >= 2.0 ? std::min(2.0 * fit, maximumScale) : 2.0;
}

void ViewGeometry::moveBy(QPointF delta)
{
    origin += delta;
    mode = Mode::free;
}

void ViewGeometry::rotate(int delta)
{
    quarterTurns = normalisedTurns(quarterTurns + delta);
}

QRectF drawnFrame(QRectF frame, double backingScale)
{
    const double least = 1.0 / std::max(backingScale, 1.0);
    if (frame.width() < least)
        frame.adjust(-(least - frame.width()) / 2, 0, (least - frame.width()) / 2, 0);
    if (frame.height() < least)
        frame.adjust(0, -(least - frame.height()) / 2, 0, (least - frame.height()) / 2);
    return frame;
}

bool needsDetail(double shownPixelWidth, double turnedWidth, double scale, double backingScale)
{
    if (shownPixelWidth >= turnedWidth - 1)
        return false;
    return shownPixelWidth < turnedWidth * scale * backingScale * 0.95;
}
