#include "viewer/TextLines.h"

#include <QFontMetrics>
#include <QTextLayout>

QVector<LineSpan> lineSpans(const QString &text, const QFont &font, int width)
{
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QVector<LineSpan> spans;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        spans.append({line.textStart(), line.textLength()});
    }
    layout.endLayout();
    return spans;
}

QString twoLineText(const QString &text, const QFont &font, int width)
{
    const QVector<LineSpan> spans = lineSpans(text, font, width);
    if (spans.isEmpty())
        return text;
    const QString first = text.mid(spans[0].start, spans[0].length).trimmed();
    if (spans.size() == 1)
        return first;
    const QString rest = text.mid(spans[1].start).trimmed();
    return first + QLatin1Char('\n') + QFontMetrics(font).elidedText(rest, Qt::ElideRight, width);
}

namespace {

// The text's lines without the spaces they end with; one empty line for no text.
QStringList wrapped(const QString &text, const QFont &font, int width)
{
    QStringList lines;
    for (const LineSpan &span : lineSpans(text, font, width)) {
        QString line = text.mid(span.start, span.length);
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1);
        lines.append(line);
    }
    if (lines.isEmpty())
        lines.append(QString());
    return lines;
}

} // namespace

QStringList messageLines(const QString &message, const QFont &font, int width, int maxLines)
{
    const QFontMetrics metrics(font);
    QString text = message;
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    QString shown = text;
    QStringList lines = wrapped(shown, font, width);
    // Too long even for the lines allowed: shortened in the middle until it fits.
    for (int room = maxLines * width; lines.size() > maxLines && room > width / 2; room -= width / 8) {
        shown = metrics.elidedText(text, Qt::ElideMiddle, room);
        lines = wrapped(shown, font, width);
    }
    // Lines of even length rather than a full one and a word left over.
    if (lines.size() > 1) {
        int low = width / int(lines.size()), high = width;
        while (low + 1 < high) {
            const int middle = (low + high) / 2;
            (wrapped(shown, font, middle).size() > lines.size() ? low : high) = middle;
        }
        lines = wrapped(shown, font, high);
    }
    return lines;
}
