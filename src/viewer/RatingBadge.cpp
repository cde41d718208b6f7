#include "viewer/RatingBadge.h"

#include "viewer/OverlayStyle.h"

#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

RatingBadge::RatingBadge(QWidget *parent)
    : QWidget(parent)
    , label(new QLabel(this))
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(insetH, insetV, insetH, insetV);
    layout->addWidget(label);
    label->setTextFormat(Qt::PlainText);
    label->setFont(OverlayStyle::font(fontSize, QFont::Medium));
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, OverlayStyle::badgeColor());
    label->setPalette(pal);
}

void RatingBadge::setStars(const QString &stars)
{
    label->setText(stars);
    adjustSize();
}

QString RatingBadge::stars() const
{
    return label->text();
}

QSize RatingBadge::sizeHint() const
{
    return label->sizeHint() + QSize(2 * insetH, 2 * insetV);
}

void RatingBadge::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    OverlayStyle::paintPanel(painter, rect(), cornerRadius);
}
