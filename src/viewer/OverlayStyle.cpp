#include "viewer/OverlayStyle.h"

#include <QApplication>
#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace OverlayStyle {

QColor labelColor() { return QColor(255, 255, 255, 235); }
QColor secondaryColor() { return QColor(255, 255, 255, 140); }
QColor tertiaryColor() { return QColor(255, 255, 255, 77); }
QColor separatorColor() { return QColor(255, 255, 255, 40); }
QColor badgeColor() { return QColor::fromRgbF(1.0f, 0.8f, 0.25f); }
QColor destructiveColor() { return QColor(255, 69, 58); }

QFont font(double pixelSize, QFont::Weight weight)
{
    QFont f = QApplication::font();
    f.setPixelSize(std::max(1, int(std::lround(pixelSize))));
    f.setWeight(weight);
    return f;
}

void paintPanel(QPainter &painter, const QRectF &rect, double radius)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(rect.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    // No blur of what lies behind is available to a child widget, so the
    // frosted material is a dark, mostly opaque fill with a faint light rim.
    painter.fillPath(path, QColor(36, 36, 38, 214));
    painter.setPen(QPen(QColor(255, 255, 255, 34), 1.0));
    painter.drawPath(path);
    painter.restore();
}

} // namespace OverlayStyle

namespace OverlaySymbols {

QStringList themeNames(OverlaySymbol symbol)
{
    switch (symbol) {
    case OverlaySymbol::zoomIn: return {QStringLiteral("zoom-in")};
    case OverlaySymbol::zoomOut: return {QStringLiteral("zoom-out")};
    case OverlaySymbol::fit: return {QStringLiteral("zoom-fit-best")};
    case OverlaySymbol::actualSize: return {QStringLiteral("zoom-original")};
    case OverlaySymbol::rotateLeft: return {QStringLiteral("object-rotate-left")};
    case OverlaySymbol::rotateRight: return {QStringLiteral("object-rotate-right")};
    case OverlaySymbol::play: return {QStringLiteral("media-playback-start")};
    case OverlaySymbol::stop: return {QStringLiteral("media-playback-stop")};
    case OverlaySymbol::info: return {QStringLiteral("dialog-information")};
    case OverlaySymbol::filmstrip: return {QStringLiteral("view-filmstrip")};
    case OverlaySymbol::exportCopy: return {QStringLiteral("document-save")};
    case OverlaySymbol::rename: return {QStringLiteral("document-edit"), QStringLiteral("edit-rename")};
    case OverlaySymbol::trash: return {QStringLiteral("user-trash"), QStringLiteral("edit-delete")};
    case OverlaySymbol::chevronLeft: return {QStringLiteral("go-previous")};
    case OverlaySymbol::chevronRight: return {QStringLiteral("go-next")};
    }
    return {};
}

QIcon themeIcon(OverlaySymbol symbol)
{
    // A monochrome "-symbolic" drawing tints cleanly; a full-colour one is tinted
    // into its silhouette, which is what a template symbol is.
    for (const QString &name : themeNames(symbol)) {
        for (const QString &candidate : {name + QStringLiteral("-symbolic"), name}) {
            if (QIcon::hasThemeIcon(candidate))
                return QIcon::fromTheme(candidate);
        }
    }
    return {};
}

namespace {

// Strokes on a 24 x 24 grid, scaled into the target square.
void magnifier(QPainterPath &path)
{
    path.addEllipse(QPointF(10, 10), 6.5, 6.5);
    path.moveTo(14.8, 14.8);
    path.lineTo(20.5, 20.5);
}

void arrowHead(QPainterPath &path, QPointF tip, QPointF from, double length)
{
    const QPointF d = tip - from;
    const double n = std::hypot(d.x(), d.y());
    if (n <= 0)
        return;
    const QPointF u = d / n;
    const QPointF left(-u.y(), u.x());
    path.moveTo(tip - u * length + left * length * 0.8);
    path.lineTo(tip);
    path.lineTo(tip - u * length - left * length * 0.8);
}

void rotateArrow(QPainterPath &path, bool clockwise)
{
    // Most of a circle, open towards the side it turns to, with the arrow head at
    // the upper end pointing along the turn.
    const QPointF centre(12, 12.5);
    const double radius = 7.5;
    const QRectF circle(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    auto at = [&](double degrees) {
        const double a = degrees * M_PI / 180.0;
        return centre + QPointF(radius * std::cos(a), -radius * std::sin(a));
    };
    if (clockwise) {
        path.arcMoveTo(circle, -30);
        path.arcTo(circle, -30, -300);
        arrowHead(path, at(30), at(55), 3.6);
    } else {
        path.arcMoveTo(circle, 210);
        path.arcTo(circle, 210, 300);
        arrowHead(path, at(150), at(125), 3.6);
    }
}

} // namespace

void paintFallback(QPainter &painter, OverlaySymbol symbol, const QRectF &rect, const QColor &color)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(rect.topLeft());
    painter.scale(rect.width() / 24.0, rect.height() / 24.0);
    QPen pen(color, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    QPainterPath path;
    QPainterPath filled;
    switch (symbol) {
    case OverlaySymbol::zoomIn:
        magnifier(path);
        path.moveTo(7, 10);
        path.lineTo(13, 10);
        path.moveTo(10, 7);
        path.lineTo(10, 13);
        break;
    case OverlaySymbol::zoomOut:
        magnifier(path);
        path.moveTo(7, 10);
        path.lineTo(13, 10);
        break;
    case OverlaySymbol::actualSize:
        magnifier(path);
        path.moveTo(8.6, 8.2);
        path.lineTo(10.4, 6.8);
        path.lineTo(10.4, 13.2);
        break;
    case OverlaySymbol::fit:
        // Two arrows meeting in the middle: the photo drawn in to the window.
        path.moveTo(3.5, 3.5);
        path.lineTo(10, 10);
        arrowHead(path, {10, 10}, {3.5, 3.5}, 4);
        path.moveTo(20.5, 20.5);
        path.lineTo(14, 14);
        arrowHead(path, {14, 14}, {20.5, 20.5}, 4);
        break;
    case OverlaySymbol::rotateLeft:
        rotateArrow(path, false);
        break;
    case OverlaySymbol::rotateRight:
        rotateArrow(path, true);
        break;
    case OverlaySymbol::play:
        filled.moveTo(7, 4.5);
        filled.lineTo(19.5, 12);
        filled.lineTo(7, 19.5);
        filled.closeSubpath();
        break;
    case OverlaySymbol::stop:
        filled.addRoundedRect(QRectF(6, 6, 12, 12), 2, 2);
        break;
    case OverlaySymbol::info:
        path.addEllipse(QPointF(12, 12), 9, 9);
        path.moveTo(12, 11);
        path.lineTo(12, 16.5);
        filled.addEllipse(QPointF(12, 7.6), 1.3, 1.3);
        break;
    case OverlaySymbol::filmstrip:
        // A photo in front of a second one.
        path.moveTo(6, 5);
        path.lineTo(20, 5);
        path.lineTo(20, 15);
        path.addRoundedRect(QRectF(3, 8, 14, 11), 1.5, 1.5);
        path.moveTo(4, 18);
        path.lineTo(8.5, 13);
        path.lineTo(11.5, 16);
        path.lineTo(13, 14.5);
        path.lineTo(16, 18);
        break;
    case OverlaySymbol::exportCopy:
        path.moveTo(8, 9);
        path.lineTo(5, 9);
        path.lineTo(5, 20);
        path.lineTo(19, 20);
        path.lineTo(19, 9);
        path.lineTo(16, 9);
        path.moveTo(12, 3);
        path.lineTo(12, 15);
        arrowHead(path, {12, 15}, {12, 3}, 3.5);
        break;
    case OverlaySymbol::rename:
        // A pencil leaning to the right.
        path.moveTo(15.5, 4.5);
        path.lineTo(19.5, 8.5);
        path.lineTo(9, 19);
        path.lineTo(4.5, 19.5);
        path.lineTo(5, 15);
        path.closeSubpath();
        path.moveTo(13, 7);
        path.lineTo(17, 11);
        break;
    case OverlaySymbol::trash:
        path.moveTo(4, 6.5);
        path.lineTo(20, 6.5);
        path.moveTo(9.5, 6.5);
        path.lineTo(9.5, 4);
        path.lineTo(14.5, 4);
        path.lineTo(14.5, 6.5);
        path.moveTo(6, 6.5);
        path.lineTo(7, 20);
        path.lineTo(17, 20);
        path.lineTo(18, 6.5);
        path.moveTo(10, 10);
        path.lineTo(10.3, 16.5);
        path.moveTo(14, 10);
        path.lineTo(13.7, 16.5);
        break;
    case OverlaySymbol::chevronLeft:
        path.moveTo(15, 4);
        path.lineTo(7, 12);
        path.lineTo(15, 20);
        break;
    case OverlaySymbol::chevronRight:
        path.moveTo(9, 4);
        path.lineTo(17, 12);
        path.lineTo(9, 20);
        break;
    }
    painter.drawPath(path);
    painter.fillPath(filled, color);
    painter.restore();
}

QPixmap pixmap(OverlaySymbol symbol, int size, const QColor &color, double devicePixelRatio, bool useTheme)
{
    // A symbol's size names its type size; the drawing's box is a third larger,
    // as a glyph's box is larger than its point size.
    const int box = int(std::lround(size * 4.0 / 3.0));
    const int device = std::max(1, int(std::ceil(box * devicePixelRatio)));
    QImage image(device, device, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    const QIcon icon = useTheme ? themeIcon(symbol) : QIcon();
    if (!icon.isNull()) {
        painter.drawPixmap(QRect(0, 0, device, device), icon.pixmap(QSize(device, device), 1.0));
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), color);
    } else {
        paintFallback(painter, symbol, QRectF(0, 0, device, device), color);
    }
    painter.end();
    QPixmap result = QPixmap::fromImage(std::move(image));
    result.setDevicePixelRatio(devicePixelRatio);
    return result;
}

} // namespace OverlaySymbols
