#include "viewer/HudBubble.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>

namespace {
constexpr int insetH = 13;
constexpr int insetV = 9;
constexpr int cornerRadius = 12;
} // namespace

HudBubble::HudBubble(QWidget *parent)
    : QWidget(parent)
    , label(new QLabel(this))
    , flashItem(new QTimer(this))
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    // Messages carry file names and error texts: never guessed as markup.
    label->setTextFormat(Qt::PlainText);
    QFont font = label->font();
    font.setPointSizeF(13);
    font.setWeight(QFont::DemiBold);
    label->setFont(font);
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
    // One line, shortened in the middle when too long.
    const QString shown = metrics.elidedText(fullText, Qt::ElideMiddle, textRoom);
    label->setText(shown);
    const int textWidth = std::min(textRoom, metrics.horizontalAdvance(shown) + 2);
    label->setGeometry(insetH, insetV, textWidth, metrics.height());
    resize(textWidth + 2 * insetH, metrics.height() + 2 * insetV);
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
