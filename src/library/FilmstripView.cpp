#include "library/FilmstripView.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>

void FilmstripItem::setImage(const QImage &image)
{
    holder = image;
    if (view)
        view->viewport()->update();
}

FilmstripView::FilmstripView(QWidget *parent)
    : QAbstractScrollArea(parent)
{
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFocusPolicy(Qt::NoFocus);
    viewport()->setAutoFillBackground(false);
    setAttribute(Qt::WA_TranslucentBackground);
    viewport()->setAttribute(Qt::WA_TranslucentBackground);
    setStyleSheet(QStringLiteral("background: transparent;"));
    horizontalScrollBar()->setSingleStep(FilmstripItem::size + spacing);
}

FilmstripView::~FilmstripView() = default;

int FilmstripView::count() const
{
    return numberOfItems ? std::max(0, numberOfItems()) : 0;
}

QRect FilmstripView::cellRect(int position) const
{
    const int x = insetLeft + position * (FilmstripItem::size + spacing) - horizontalScrollBar()->value();
    return QRect(x, insetTop, FilmstripItem::size, FilmstripItem::size);
}

std::pair<int, int> FilmstripView::visibleRange() const
{
    const int n = count();
    if (n == 0)
        return {0, -1};
    const int pitch = FilmstripItem::size + spacing;
    const int left = horizontalScrollBar()->value() - insetLeft;
    const int first = std::clamp(left / pitch, 0, n - 1);
    const int last = std::clamp((left + viewport()->width()) / pitch, 0, n - 1);
    return {first, last};
}

int FilmstripView::positionAt(QPoint point) const
{
    const auto [first, last] = visibleRange();
    for (int i = first; i <= last; ++i) {
        if (cellRect(i).contains(point))
            return i;
    }
    return -1;
}

FilmstripItem *FilmstripView::cellFor(int position)
{
    for (auto &cell : cells) {
        if (cell->itemIndex == position)
            return cell.get();
    }
    return nullptr;
}

void FilmstripView::updateScrollRange()
{
    const int n = count();
    const int content = n == 0 ? 0 : insetLeft + n * FilmstripItem::size + (n - 1) * spacing + insetRight;
    horizontalScrollBar()->setPageStep(viewport()->width());
    horizontalScrollBar()->setRange(0, std::max(0, content - viewport()->width()));
}

void FilmstripView::assignCells()
{
    // Cells leaving the view become free; positions entering it take a free cell
    // and are configured anew (a reused cell never keeps another file's picture).
    const auto [first, last] = visibleRange();
    std::vector<FilmstripItem *> free;
    for (auto &cell : cells) {
        if (cell->itemIndex < first || cell->itemIndex > last)
            free.push_back(cell.get());
    }
    for (int position = first; position <= last; ++position) {
        if (cellFor(position))
            continue;
        FilmstripItem *cell;
        if (!free.empty()) {
            cell = free.back();
            free.pop_back();
        } else {
            cells.push_back(std::make_unique<FilmstripItem>());
            cell = cells.back().get();
            cell->view = this;
        }
        cell->itemIndex = position;
        cell->holder = QImage();
        if (configureItem)
            configureItem(*cell, position);
    }
}

void FilmstripView::reloadData()
{
    for (auto &cell : cells) {
        cell->itemIndex = -1;
        cell->holder = QImage();
    }
    const int n = count();
    if (selected >= n)
        selected = -1;
    updateScrollRange();
    viewport()->update();
}

void FilmstripView::scrollTo(int position)
{
    if (position < 0 || position >= count())
        return;
    updateScrollRange();
    const int centre = insetLeft + position * (FilmstripItem::size + spacing) + FilmstripItem::size / 2;
    horizontalScrollBar()->setValue(centre - viewport()->width() / 2);
    viewport()->update();
}

void FilmstripView::syncSelection(int current)
{
    const int n = count();
    if (n == 0 || current < 0 || current >= n)
        return;
    if (selected == current)
        return;
    selected = current;
    scrollTo(current);
}

void FilmstripView::paintEvent(QPaintEvent *)
{
    assignCells();
    QPainter painter(viewport());
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const auto [first, last] = visibleRange();
    for (int position = first; position <= last; ++position) {
        const QRectF r = cellRect(position);
        FilmstripItem *cell = cellFor(position);
        const bool isSelected = position == selected;
        painter.setOpacity(isSelected ? 1.0 : 0.75);
        QPainterPath clip;
        clip.addRoundedRect(r, FilmstripItem::cornerRadius, FilmstripItem::cornerRadius);
        painter.fillPath(clip, QColor::fromRgbF(0.16, 0.16, 0.16));
        if (cell && !cell->holder.isNull()) {
            // Aspect fill: the largest centred square of the thumbnail.
            const QImage &img = cell->holder;
            const int side = std::min(img.width(), img.height());
            const QRect source((img.width() - side) / 2, (img.height() - side) / 2, side, side);
            painter.save();
            painter.setClipPath(clip);
            painter.drawImage(r, img, source);
            painter.restore();
        }
        if (isSelected) {
            painter.setPen(QPen(Qt::white, 2));
            painter.setBrush(Qt::NoBrush);
            painter.drawRoundedRect(r.adjusted(1, 1, -1, -1), FilmstripItem::cornerRadius - 1,
                                    FilmstripItem::cornerRadius - 1);
        }
    }
}

void FilmstripView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    updateScrollRange();
}

void FilmstripView::scrollContentsBy(int, int)
{
    viewport()->update();
}

void FilmstripView::mousePressEvent(QMouseEvent *event)
{
    const int position = positionAt(event->position().toPoint());
    if (position < 0)
        return;
    selected = position;
    viewport()->update();
    if (onSelect)
        onSelect(position);
}

void FilmstripView::wheelEvent(QWheelEvent *event)
{
    // Both wheel axes scroll the row.
    const QPoint pixels = event->pixelDelta();
    const QPoint angle = event->angleDelta();
    int delta = 0;
    if (!pixels.isNull())
        delta = std::abs(pixels.x()) > std::abs(pixels.y()) ? pixels.x() : pixels.y();
    else
        delta = (std::abs(angle.x()) > std::abs(angle.y()) ? angle.x() : angle.y()) * (FilmstripItem::size + spacing) / 120;
    horizontalScrollBar()->setValue(horizontalScrollBar()->value() - delta);
    event->accept();
}
