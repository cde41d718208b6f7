#include "viewer/HudBubble.h"

#include "library/Spoken.h"
#include "viewer/OverlayStyle.h"
#include "viewer/TextLines.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>

#include <algorithm>

namespace {
constexpr int insetH = 13;
constexpr int insetV = 9;
constexpr int cornerRadius = 12;
// A confirmation fits on one line. A longer text (a tip, an error with the
// system's description, a long file name) wraps rather than losing its middle,
// up to this many lines; beyond them it is shortened in the middle.
constexpr int maximumLines = 3;
} // namespace

HudBubble::HudBubble(QWidget *parent)
    : QWidget(parent)
    , label(new QLabel(this))
    , flashItem(new QTimer(this))
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    Spoken::markMessageArea(this);
    // Messages carry file names and error texts: never guessed as markup.
    label->setTextFormat(Qt::PlainText);
    label->setFont(OverlayStyle::font(13, QFont::DemiBold));
    label->setStyleSheet(QStringLiteral("color: rgba(255, 255, 255, 0.92); background: transparent;"));
    flashItem->setSingleShot(true);
    connect(flashItem, &QTimer::timeout, this, [this] {
        flashing = false;
        hide();
    });
    hide();
}

QString HudBubble::message() const
{
    return fullText;
}

void HudBubble::flash(const QString &message, double seconds)
{
    flashing = true;
    fullText = message;
    fitToText();
    // Said before show(): showing a hidden bubble announces it by itself.
    Spoken::say(this, message);
    show();
    raise();
    flashItem->stop();
    flashItem->start(std::max(0, int(seconds * 1000)));
}

void HudBubble::hideUnlessFlashing()
{
    if (!flashing)
        hide();
}

void HudBubble::fitToText()
{
    const QFontMetrics metrics(label->font());
    const int textRoom = maximumWidth - 2 * insetH;
    const QStringList lines = messageLines(fullText, label->font(), textRoom, maximumLines);
    int textWidth = 0;
    for (const QString &line : lines)
        textWidth = std::max(textWidth, metrics.horizontalAdvance(line) + 2);
    textWidth = std::min(textRoom, textWidth);
    label->setText(lines.join(QLatin1Char('\n')));
    // The laid-out height: a line with Chinese in it is set in a fallback font
    // taller than the label's own, whose metrics alone would cut its descenders.
    const int textHeight = std::max(metrics.height() + (int(lines.size()) - 1) * metrics.lineSpacing(),
                                    label->sizeHint().height());
    label->setGeometry(insetH, insetV, textWidth, textHeight);
    resize(textWidth + 2 * insetH, textHeight + 2 * insetV);
}

void HudBubble::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), cornerRadius, cornerRadius);
    painter.fillPath(path, QColor(38, 38, 40, 220));
    painter.setPen(QColor(255, 255, 255, 30));
    painter.drawPath(path);
}
