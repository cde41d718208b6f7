#include "cleanup/review/CleanupPreviewView.h"

#include "cleanup/review/CleanupStyle.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>

CleanupPreviewView::CleanupPreviewView(QWidget *parent)
    : QWidget(parent)
    , captionLabel(new QLabel(this))
{
    captionLabel->setFont(CleanupStyle::font(12));
    QPalette palette = captionLabel->palette();
    palette.setColor(QPalette::WindowText, CleanupStyle::secondaryText());
    captionLabel->setPalette(palette);
    captionLabel->setAlignment(Qt::AlignCenter);
}

QRectF CleanupPreviewView::fittedRect(const QSizeF &imageSize, const QSizeF &viewSize)
{
    const QRectF area(40, 0, std::max(0.0, viewSize.width() - 80), std::max(10.0, viewSize.height() - 90));
    if (imageSize.isEmpty() || area.isEmpty())
        return {};
    const qreal scale = std::min(area.width() / imageSize.width(), area.height() / imageSize.height());
    const QSizeF size = imageSize * scale;
    return QRectF(area.x() + (area.width() - size.width()) / 2, area.y() + (area.height() - size.height()) / 2,
                  size.width(), size.height());
}

void CleanupPreviewView::setImage(const QImage &image)
{
    picture = image;
    update();
}

void CleanupPreviewView::setFaces(const QVector<QRectF> &newFaces)
{
    faces = newFaces;
    update();
}

void CleanupPreviewView::setCaption(const QString &caption)
{
    captionLabel->setText(caption);
    resizeEvent(nullptr);
}

void CleanupPreviewView::resizeEvent(QResizeEvent *)
{
    const QSize hint = captionLabel->sizeHint();
    captionLabel->setGeometry(20, height() - 18 - hint.height(), std::max(0, width() - 40), hint.height());
}

void CleanupPreviewView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), CleanupStyle::grey(0.03));
    if (picture.isNull())
        return;
    const QRectF target = fittedRect(picture.deviceIndependentSize(), size());
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setClipRect(target.adjusted(-2, -2, 2, 2));
    painter.setPen(QPen(CleanupStyle::orange(), 2));
    painter.setBrush(Qt::NoBrush);
    for (const QRectF &face : faces)
        painter.drawRect(QRectF(target.x() + face.x() * target.width(), target.y() + face.y() * target.height(),
                                face.width() * target.width(), face.height() * target.height()));
}

void CleanupPreviewView::mousePressEvent(QMouseEvent *event)
{
    event->accept();
}

void CleanupPreviewView::mouseDoubleClickEvent(QMouseEvent *event)
{
    event->accept();
}
