#include "cleanup/review/CleanupStyle.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QPainterPath>

namespace CleanupStyle {

QFont font(int pixelSize, QFont::Weight weight)
{
    QFont f = QApplication::font();
    f.setPixelSize(pixelSize);
    f.setWeight(weight);
    return f;
}

QString elidedToLines(const QString &text, const QFont &font, int width, int lines)
{
    const QFontMetrics metrics(font);
    const int room = lines * metrics.lineSpacing();
    const auto fits = [&](const QString &shown) {
        return metrics.boundingRect(QRect(0, 0, width, 1 << 20), Qt::TextWordWrap, shown).height() <= room;
    };
    if (fits(text))
        return text;
    // The longest start that fits with its ellipsis.
    qsizetype kept = 0;
    for (qsizetype low = 0, high = text.size(); low <= high;) {
        const qsizetype middle = (low + high) / 2;
        if (fits(text.left(middle) + QChar(0x2026))) {
            kept = middle;
            low = middle + 1;
        } else {
            high = middle - 1;
        }
    }
    return text.left(kept).trimmed() + QChar(0x2026);
}

void drawCheck(QPainter &painter, const QPointF &centre, bool checked)
{
    // The symbol at point size 17 is a circle about 20 across.
    constexpr qreal radius = 10;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    if (checked) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(accent());
        painter.drawEllipse(centre, radius, radius);
        QPainterPath mark;
        mark.moveTo(centre + QPointF(-4.6, 0.2));
        mark.lineTo(centre + QPointF(-1.4, 3.6));
        mark.lineTo(centre + QPointF(4.8, -3.6));
        painter.setPen(QPen(Qt::white, 2.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(mark);
    } else {
        // A faint shadow keeps the ring visible on a white sky.
        painter.setPen(QPen(QColor(0, 0, 0, 70), 3.0));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(centre, radius - 1, radius - 1);
        painter.setPen(QPen(QColor(255, 255, 255, 217), 1.6));
        painter.drawEllipse(centre, radius - 1, radius - 1);
    }
    painter.restore();
}

} // namespace CleanupStyle
