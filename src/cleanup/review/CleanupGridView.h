#pragma once

#include <QAbstractScrollArea>

#include <functional>
#include <optional>

class CleanupController;
class CleanupThumbnails;
class QScrollBar;

// The grid of the current category: one section per group, an optional header
// above each, 164 x 164 items. Only the visible rows are laid out and drawn,
// so a category of thousands of photos scrolls as fast as one of ten. It owns
// the keyboard while the review screen is shown.
class CleanupGridView : public QAbstractScrollArea
{
public:
    struct IndexPath {
        int section = 0;
        int item = 0;
        friend bool operator==(const IndexPath &, const IndexPath &) = default;
    };

    CleanupGridView(CleanupController &controller, CleanupThumbnails &thumbnails, QWidget *parent = nullptr);

    std::function<void(IndexPath)> onToggle;
    std::function<void()> onPreview;
    std::function<void()> onEscape;
    std::function<void()> onUndo;
    std::function<void()> onSelectionChanged;
    // Tab and Shift+Tab, Ctrl+Page Down and Ctrl+Page Up: the next or the
    // previous category (the buttons of the screen take no focus, so these
    // keys are the grid's).
    std::function<void(int step)> onCategoryStep;
    // Ctrl+A ticks every photo of the category, Ctrl+Shift+A none.
    std::function<void(bool checked)> onCheckAll;

    // After the result changed: lays the sections out again and selects the
    // controller's selected unit when the category holds it.
    void reload();
    void refreshCells();
    void scrollToTop();
    std::optional<IndexPath> selected() const { return selection; }
    void select(std::optional<IndexPath> path);
    // Moves the selection like the arrow keys (dx, dy in items and rows).
    void moveSelection(int dx, int dy);

    static constexpr int itemSize = 164;
    static constexpr int spacing = 8;
    static constexpr int insetTop = 4;
    static constexpr int insetLeft = 20;
    static constexpr int insetBottom = 18;
    static constexpr int insetRight = 20;
    static constexpr int headerHeight = 30;
    static constexpr int pictureInset = 4;

    // The cell's picture box in cell coordinates.
    static QRect pictureBox() { return QRect(pictureInset, pictureInset, itemSize - 2 * pictureInset, itemSize - 2 * pictureInset); }

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    bool viewportEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool focusNextPrevChild(bool next) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    void layoutSections();
    int columns() const;
    int header() const;
    QRect itemRect(IndexPath path) const; // content coordinates
    std::optional<IndexPath> hit(QPoint viewportPoint) const;
    void ensureVisible(IndexPath path);
    void paintItem(QPainter &painter, const QRect &rect, IndexPath path);

    CleanupController &controller;
    CleanupThumbnails &thumbnails;
    QVector<int> sectionTop;   // content y of each section
    int contentHeight = 0;
    std::optional<IndexPath> selection;
    std::optional<IndexPath> toggledByPress; // the tile the last press ticked or unticked
    QScrollBar *overlayBar = nullptr;
};
