#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QRectF>
#include <QString>

class QPainter;
class QWidget;

// The look shared by the panels over the photo. The viewer is dark whatever the
// desktop's theme, so the colours are fixed light-on-dark ones. Sizes given in
// points by the design are logical pixels here, as they are on the platform the
// design was drawn for.
namespace OverlayStyle {

QColor labelColor();       // primary text and symbols
QColor secondaryColor();   // captions
QColor tertiaryColor();    // the empty state's title
QColor separatorColor();
QColor badgeColor();       // the rating stars: red 1.0, green 0.8, blue 0.25
QColor destructiveColor(); // the trash symbol

// A font of the application's family at a pixel size and weight.
QFont font(double pixelSize, QFont::Weight weight = QFont::Normal);

// The frosted, rounded background of a panel.
void paintPanel(QPainter &painter, const QRectF &rect, double radius);

} // namespace OverlayStyle

// The symbols of the toolbar and the arrows. Each is taken from the desktop's icon
// theme by its freedesktop name when the theme has it, tinted like a template
// image; otherwise a drawing of our own stands in.
enum class OverlaySymbol {
    zoomIn,
    zoomOut,
    fit,
    actualSize,
    rotateLeft,
    rotateRight,
    play,
    stop,
    info,
    filmstrip,
    exportCopy,
    rename,
    trash,
    chevronLeft,
    chevronRight,
};

namespace OverlaySymbols {

// Theme names to try, most specific first ("-symbolic" variants are tried first).
QStringList themeNames(OverlaySymbol symbol);
// The theme's icon, or a null icon when the theme has none of the names.
QIcon themeIcon(OverlaySymbol symbol);
// Our own drawing of the symbol inside rect (a square), in color.
void paintFallback(QPainter &painter, OverlaySymbol symbol, const QRectF &rect, const QColor &color);
// The symbol for a type size of size logical pixels (drawn in a box a third
// larger), tinted with color; from the theme
// when it has the symbol, else our drawing. With useTheme false always ours.
QPixmap pixmap(OverlaySymbol symbol, int size, const QColor &color, double devicePixelRatio, bool useTheme = true);

} // namespace OverlaySymbols
