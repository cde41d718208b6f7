#pragma once

#include <QAbstractScrollArea>
#include <QImage>

#include <functional>
#include <memory>
#include <vector>

class FilmstripView;

// One cell of the strip. Cells are reused as the strip scrolls: itemIndex is the
// folder position the cell was last configured for, so a thumbnail that arrives
// late is only shown when the cell still stands for the position it was asked for.
class FilmstripItem
{
public:
    static constexpr int size = 64;
    static constexpr double cornerRadius = 6;

    int itemIndex = -1;

    // Shows the bitmap (cropped to a centred square), or nothing.
    void setImage(const QImage &image);
    const QImage &image() const { return holder; }

private:
    friend class FilmstripView;
    FilmstripView *view = nullptr;
    QImage holder;
};

// A single horizontal row of square thumbnails of every photo of the folder.
// Only the cells in view exist; scrolling reuses them, so a folder of thousands
// of photos asks for the thumbnails of the visible cells only.
class FilmstripView : public QAbstractScrollArea
{
    Q_OBJECT
public:
    static constexpr int spacing = 8;
    static constexpr int insetTop = 6;
    static constexpr int insetLeft = 10;
    static constexpr int insetBottom = 6;
    static constexpr int insetRight = 10;
    static constexpr int shownHeight = FilmstripItem::size + insetTop + insetBottom; // 76

    explicit FilmstripView(QWidget *parent = nullptr);
    ~FilmstripView() override;

    // Data source: the number of items, and the configuration of a cell for a
    // position (set its image from the cache, or ask for it and check itemIndex).
    std::function<int()> numberOfItems;
    std::function<void(FilmstripItem &cell, int position)> configureItem;
    // A click selected this position.
    std::function<void(int position)> onSelect;

    // Forgets every cell's content and asks the data source again.
    void reloadData();
    // Centres the position horizontally; out-of-range positions are ignored.
    // The selection stays as it is.
    void scrollTo(int position);
    // Selects the current position and centres it, unless it is already the
    // selection. Nothing happens for an empty folder.
    void syncSelection(int current);
    int selectedIndex() const { return selected; }
    int count() const;

    // The cell showing a position, when it is in view.
    FilmstripItem *cellFor(int position);
    // Positions whose cells are in view (first, last), or (0, -1).
    std::pair<int, int> visibleRange() const;
    QRect cellRect(int position) const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    friend class FilmstripItem;
    void updateScrollRange();
    void assignCells();
    int positionAt(QPoint point) const;

    std::vector<std::unique_ptr<FilmstripItem>> cells;
    int selected = -1;
};
