#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QPainter;
class QPointF;

// The review screen's colours and fonts. Sizes are in device-independent
// pixels, as the screen's layout figures are.
namespace CleanupStyle {

inline QColor grey(double level, double alpha = 1.0)
{
    return QColor::fromRgbF(float(level), float(level), float(level), float(alpha));
}
inline QColor primaryText() { return QColor(255, 255, 255, 235); }
inline QColor secondaryText() { return QColor(235, 235, 245, 153); }
inline QColor tertiaryText() { return QColor(235, 235, 245, 77); }
inline QColor accent() { return QColor(10, 132, 255); }
inline QColor orange() { return QColor(255, 159, 10); }
inline QColor destructive() { return QColor(255, 69, 58); }

// The system font at a pixel size and weight.
QFont font(int pixelSize, QFont::Weight weight = QFont::Normal);

// text wrapped at width in font, as a label wrapping its words shows it, cut
// to at most lines lines: as much as fits, then an ellipsis.
QString elidedToLines(const QString &text, const QFont &font, int width, int lines);

// The tick of a cell, centred on centre: a filled accent circle with a check
// mark when ticked, a white ring at 85 % opacity when not.
void drawCheck(QPainter &painter, const QPointF &centre, bool checked);

} // namespace CleanupStyle
