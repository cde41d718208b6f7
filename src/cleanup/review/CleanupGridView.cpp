#include "cleanup/review/CleanupGridView.h"

#include "cleanup/CleanupController.h"
#include "cleanup/review/CleanupStyle.h"
#include "cleanup/review/CleanupThumbnails.h"
#include "settings/Texts.h"

#include <QFileInfo>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QToolTip>

CleanupGridView::CleanupGridView(CleanupController &controller, CleanupThumbnails &thumbnails, QWidget *parent)
    : QAbstractScrollArea(parent)
    , controller(controller)
    , thumbnails(thumbnails)
{
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The scroller floats over the grid's right margin instead of narrowing it,
    // so the number of columns never changes when it appears.
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    overlayBar = new QScrollBar(Qt::Vertical, this);
    overlayBar->hide();
    QScrollBar *bar = verticalScrollBar();
    connect(bar, &QScrollBar::rangeChanged, overlayBar, [this](int min, int max) {
        overlayBar->setRange(min, max);
        overlayBar->setPageStep(verticalScrollBar()->pageStep());
        overlayBar->setVisible(max > min);
    });
    connect(bar, &QScrollBar::valueChanged, overlayBar, &QScrollBar::setValue);
    connect(overlayBar, &QScrollBar::valueChanged, bar, &QScrollBar::setValue);
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);
    verticalScrollBar()->setSingleStep(itemSize / 4);
    // A thin scroller without arrows or track, drawn over the grid's margin.
    overlayBar->setStyleSheet(QStringLiteral(
        "QScrollBar:vertical { background: transparent; width: 10px; margin: 2px 2px 2px 0; }"
        "QScrollBar::handle:vertical { background: rgba(255,255,255,0.28); border-radius: 3px; min-height: 30px;"
        " margin: 0 1px; }"
        "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
        "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: transparent; }"));
    thumbnails.onReady = [this](const QString &) { viewport()->update(); };
}

int CleanupGridView::header() const
{
    const CleanupCategory c = controller.category;
    return c == CleanupCategory::similar || c == CleanupCategory::duplicate ? headerHeight : 0;
}

int CleanupGridView::columns() const
{
    const int width = viewport()->width() - insetLeft - insetRight;
    return std::max(1, (width + spacing) / (itemSize + spacing));
}

void CleanupGridView::layoutSections()
{
    const QVector<CleanupGroup> &groups = controller.currentGroups();
    sectionTop.resize(groups.size());
    const int cols = columns();
    int y = 0;
    for (int s = 0; s < groups.size(); ++s) {
        sectionTop[s] = y;
        const int rows = (int(groups[s].units.size()) + cols - 1) / cols;
        y += header() + insetTop + rows * itemSize + std::max(0, rows - 1) * spacing + insetBottom;
    }
    contentHeight = y;
    QScrollBar *bar = verticalScrollBar();
    bar->setPageStep(viewport()->height());
    bar->setRange(0, std::max(0, contentHeight - viewport()->height()));
}

QRect CleanupGridView::itemRect(IndexPath path) const
{
    const int cols = columns();
    const int row = path.item / cols;
    const int col = path.item % cols;
    return QRect(insetLeft + col * (itemSize + spacing),
                 sectionTop.value(path.section) + header() + insetTop + row * (itemSize + spacing), itemSize,
                 itemSize);
}

std::optional<CleanupGridView::IndexPath> CleanupGridView::hit(QPoint point) const
{
    const QPoint content = point + QPoint(0, verticalScrollBar()->value());
    const QVector<CleanupGroup> &groups = controller.currentGroups();
    for (int s = int(groups.size()) - 1; s >= 0; --s) {
        if (content.y() < sectionTop[s])
            continue;
        const int cols = columns();
        const int x = content.x() - insetLeft;
        const int y = content.y() - sectionTop[s] - header() - insetTop;
        if (x < 0 || y < 0)
            return std::nullopt;
        const int col = x / (itemSize + spacing);
        const int row = y / (itemSize + spacing);
        if (col >= cols || x % (itemSize + spacing) >= itemSize || y % (itemSize + spacing) >= itemSize)
            return std::nullopt;
        const int item = row * cols + col;
        if (item >= groups[s].units.size())
            return std::nullopt;
        return IndexPath{s, item};
    }
    return std::nullopt;
}

void CleanupGridView::reload()
{
    layoutSections();
    selection.reset();
    if (controller.selectedPrimary) {
        const QVector<CleanupGroup> &groups = controller.currentGroups();
        for (int s = 0; s < groups.size() && !selection; ++s) {
            for (int i = 0; i < groups[s].units.size(); ++i) {
                if (groups[s].units[i].primary == *controller.selectedPrimary) {
                    selection = IndexPath{s, i};
                    break;
                }
            }
        }
        // A photo gone to the Trash, or not in this category, is no longer selected.
        if (!selection)
            controller.selectedPrimary.reset();
    }
    viewport()->update();
}

void CleanupGridView::refreshCells()
{
    viewport()->update();
}

void CleanupGridView::scrollToTop()
{
    verticalScrollBar()->setValue(0);
}

void CleanupGridView::select(std::optional<IndexPath> path)
{
    selection = path;
    const QVector<CleanupGroup> &groups = controller.currentGroups();
    if (path && path->section < groups.size() && path->item < groups[path->section].units.size()) {
        controller.selectedPrimary = groups[path->section].units[path->item].primary;
        ensureVisible(*path);
    } else {
        selection.reset();
        controller.selectedPrimary.reset();
    }
    viewport()->update();
    if (onSelectionChanged)
        onSelectionChanged();
}

void CleanupGridView::moveSelection(int dx, int dy)
{
    const QVector<CleanupGroup> &groups = controller.currentGroups();
    if (groups.isEmpty())
        return;
    if (!selection) {
        select(IndexPath{0, 0});
        return;
    }
    IndexPath path = *selection;
    const int cols = columns();
    if (dx != 0) {
        path.item += dx;
        if (path.item < 0) {
            if (path.section == 0)
                return;
            --path.section;
            path.item = int(groups[path.section].units.size()) - 1;
        } else if (path.item >= groups[path.section].units.size()) {
            if (path.section + 1 >= groups.size())
                return;
            ++path.section;
            path.item = 0;
        }
    } else if (dy > 0) {
        const int count = int(groups[path.section].units.size());
        const int lastRow = (count - 1) / cols;
        if (path.item / cols < lastRow) {
            path.item = std::min(count - 1, path.item + cols);
        } else {
            if (path.section + 1 >= groups.size())
                return;
            const int col = path.item % cols;
            ++path.section;
            path.item = std::min(int(groups[path.section].units.size()) - 1, col);
        }
    } else if (dy < 0) {
        if (path.item >= cols) {
            path.item -= cols;
        } else {
            if (path.section == 0)
                return;
            const int col = path.item % cols;
            --path.section;
            const int count = int(groups[path.section].units.size());
            const int lastRowStart = ((count - 1) / cols) * cols;
            path.item = std::min(count - 1, lastRowStart + col);
        }
    }
    select(path);
}

void CleanupGridView::ensureVisible(IndexPath path)
{
    const QRect rect = itemRect(path);
    QScrollBar *bar = verticalScrollBar();
    const int top = rect.top() - (path.item < columns() ? header() + insetTop : spacing);
    if (top < bar->value())
        bar->setValue(top);
    else if (rect.bottom() + spacing > bar->value() + viewport()->height())
        bar->setValue(rect.bottom() + spacing - viewport()->height());
}

void CleanupGridView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    overlayBar->setGeometry(width() - 10, 0, 10, height());
    layoutSections();
}

void CleanupGridView::scrollContentsBy(int, int)
{
    viewport()->update();
}

void CleanupGridView::paintEvent(QPaintEvent *)
{
    QPainter painter(viewport());
    painter.setRenderHint(QPainter::Antialiasing);
    const int offset = verticalScrollBar()->value();
    const int visibleTop = offset;
    const int visibleBottom = offset + viewport()->height();
    const QVector<CleanupGroup> &groups = controller.currentGroups();
    const int cols = columns();
    QStringList visibleURLs;

    for (int s = 0; s < groups.size(); ++s) {
        const int top = sectionTop[s];
        const int bottom = s + 1 < sectionTop.size() ? sectionTop[s + 1] : contentHeight;
        if (bottom < visibleTop)
            continue;
        if (top > visibleBottom)
            break;
        if (header() > 0) {
            const QRect headerRect(0, top - offset, viewport()->width(), header());
            painter.setFont(CleanupStyle::font(12, QFont::Medium));
            painter.setPen(CleanupStyle::secondaryText());
            const QRect textRect = headerRect.adjusted(20, 0, -20, -6);
            painter.drawText(textRect, Qt::AlignLeft | Qt::AlignBottom, controller.sectionHeaderText(s));
        }
        // Only the rows that meet the viewport.
        const int count = int(groups[s].units.size());
        const int rows = (count + cols - 1) / cols;
        const int rowsTop = top + header() + insetTop;
        const int firstRow = std::max(0, (visibleTop - rowsTop) / (itemSize + spacing));
        const int lastRow = std::min(rows - 1, (visibleBottom - rowsTop) / (itemSize + spacing));
        for (int row = firstRow; row <= lastRow; ++row) {
            for (int col = 0; col < cols; ++col) {
                const int item = row * cols + col;
                if (item >= count)
                    break;
                const IndexPath path{s, item};
                paintItem(painter, itemRect(path).translated(0, -offset), path);
                visibleURLs.append(groups[s].units[item].primary);
            }
        }
    }
    thumbnails.requestVisible(visibleURLs);
}

void CleanupGridView::paintItem(QPainter &painter, const QRect &rect, IndexPath path)
{
    const CleanupGroup &group = controller.currentGroups()[path.section];
    const CleanupUnit &unit = group.units[path.item];
    const bool checked = controller.isChecked(unit);

    QPainterPath cell;
    cell.addRoundedRect(QRectF(rect), 6, 6);
    painter.fillPath(cell, CleanupStyle::grey(0.13));

    const QRect box = pictureBox().translated(rect.topLeft());
    QRectF picture;
    if (const auto entry = thumbnails.cached(unit.primary); entry && !entry->fitted.isNull()) {
        const QSizeF size = entry->fitted.deviceIndependentSize();
        picture = QRectF(box.x() + (box.width() - size.width()) / 2, box.y() + (box.height() - size.height()) / 2,
                         size.width(), size.height());
        painter.setOpacity(checked ? 0.55 : 1.0);
        painter.drawImage(picture, entry->fitted);
        painter.setOpacity(1.0);
    }
    const QVector<QRectF> faces = controller.facesShown(unit);
    if (!faces.isEmpty() && picture.isValid()) {
        painter.save();
        painter.setClipRect(picture.adjusted(-1, -1, 1, 1)); // a face cut by the frame stays on the picture
        painter.setPen(QPen(CleanupStyle::orange(), 1.5));
        painter.setBrush(Qt::NoBrush);
        for (const QRectF &face : faces)
            painter.drawRect(QRectF(picture.x() + face.x() * picture.width(), picture.y() + face.y() * picture.height(),
                                    face.width() * picture.width(), face.height() * picture.height()));
        painter.restore();
    }

    CleanupStyle::drawCheck(painter, QPointF(rect.right() + 1 - 6 - 10, rect.top() + 6 + 10), checked);

    const auto tag = [&](const QString &text, bool left) {
        painter.setFont(CleanupStyle::font(10, QFont::Medium));
        const QFontMetrics metrics(painter.font());
        const int w = metrics.horizontalAdvance(text) + 10;
        const int h = metrics.height() + 2;
        const QRect r(left ? rect.left() + 6 : rect.right() + 1 - 6 - w, rect.bottom() + 1 - 6 - h, w, h);
        QPainterPath pill;
        pill.addRoundedRect(QRectF(r), 4, 4);
        painter.fillPath(pill, QColor(0, 0, 0, 153));
        painter.setPen(Qt::white);
        painter.drawText(r, Qt::AlignCenter, text);
    };
    if (controller.isKeeper(group, unit))
        tag(Texts::text("cleanup.keep"), true);
    if (const QString badge = controller.badge(unit); !badge.isEmpty())
        tag(badge, false);

    if (selection == path) {
        painter.setPen(QPen(Qt::white, 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect).adjusted(1, 1, -1, -1), 6, 6);
    }
}

void CleanupGridView::mousePressEvent(QMouseEvent *event)
{
    setFocus(Qt::MouseFocusReason);
    toggledByPress.reset();
    if (event->button() != Qt::LeftButton)
        return;
    const std::optional<IndexPath> path = hit(event->position().toPoint());
    if (!path)
        return;
    select(path);
    if (onToggle)
        onToggle(*path);
    toggledByPress = path;
}

bool CleanupGridView::viewportEvent(QEvent *event)
{
    // The tiles show no names: the pointer resting on one names its file.
    if (event->type() == QEvent::ToolTip) {
        auto *help = static_cast<QHelpEvent *>(event);
        const std::optional<IndexPath> path = hit(help->pos());
        const QVector<CleanupGroup> &groups = controller.currentGroups();
        if (path && path->section < groups.size() && path->item < groups[path->section].units.size())
            QToolTip::showText(help->globalPos(), QFileInfo(groups[path->section].units[path->item].primary).fileName(),
                               viewport());
        else
            QToolTip::hideText();
        return true;
    }
    return QAbstractScrollArea::viewportEvent(event);
}

void CleanupGridView::mouseDoubleClickEvent(QMouseEvent *event)
{
    // A double click looks at a photo: the second click opens the preview, and
    // the tick the first click turned is turned back, so that looking never
    // changes what goes to the Trash.
    if (event->button() != Qt::LeftButton)
        return;
    const std::optional<IndexPath> path = hit(event->position().toPoint());
    if (!path)
        return;
    if (toggledByPress == path && onToggle)
        onToggle(*path);
    toggledByPress.reset();
    select(path);
    if (onPreview)
        onPreview();
}

void CleanupGridView::keyPressEvent(QKeyEvent *event)
{
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_X:
        if (mods == Qt::NoModifier || mods == Qt::ShiftModifier) {
            if (selection && onToggle)
                onToggle(*selection);
            return;
        }
        break;
    case Qt::Key_Space:
        if (onPreview)
            onPreview();
        return;
    case Qt::Key_Escape:
        if (onEscape)
            onEscape();
        return;
    case Qt::Key_Z:
        // Ctrl+Z alone undoes; Ctrl+Shift+Z does not.
        if (mods == Qt::ControlModifier) {
            if (onUndo)
                onUndo();
            return;
        }
        break;
    case Qt::Key_PageDown:
    case Qt::Key_PageUp:
        if (mods == Qt::ControlModifier && onCategoryStep) {
            onCategoryStep(event->key() == Qt::Key_PageDown ? 1 : -1);
            return;
        }
        break;
    case Qt::Key_A:
        if ((mods == Qt::ControlModifier || mods == (Qt::ControlModifier | Qt::ShiftModifier)) && onCheckAll) {
            onCheckAll(!(mods & Qt::ShiftModifier));
            return;
        }
        break;
    case Qt::Key_Left: moveSelection(-1, 0); return;
    case Qt::Key_Right: moveSelection(1, 0); return;
    case Qt::Key_Up: moveSelection(0, -1); return;
    case Qt::Key_Down: moveSelection(0, 1); return;
    default: break;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

bool CleanupGridView::focusNextPrevChild(bool next)
{
    // Nothing else on the screen takes the focus: Tab steps through the categories.
    if (!onCategoryStep)
        return QAbstractScrollArea::focusNextPrevChild(next);
    onCategoryStep(next ? 1 : -1);
    return true;
}
