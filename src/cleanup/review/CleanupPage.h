#pragma once

#include "cleanup/CleanupTypes.h"
#include "platform/RepeatClick.h"

#include <QHash>
#include <QWidget>

#include <functional>
#include <map>
#include <memory>

class CleanupController;
class CleanupGridView;
class CleanupPreviewView;
class CleanupThumbnails;
class CategoryRow;
class QLabel;
class QPushButton;
class Trash;

// The cleanup review screen as a page of the window: the sidebar with the four
// categories, the grid, the bottom bar and the large preview. It builds its
// views, wires them to the controller in one place and starts the scan.
class CleanupPage : public QWidget
{
public:
    // units: makeUnits of the viewer's items. onExit is called exactly once,
    // with whether any file was moved.
    CleanupPage(const QString &folder, QVector<CleanupUnit> units, Trash &trash,
                std::function<void(bool changed)> onExit, QWidget *parent = nullptr);
    ~CleanupPage() override;

    CleanupController &controller() { return *control; }
    CleanupGridView &grid() { return *gridView; }
    CleanupPreviewView &preview() { return *previewView; }

    // This page's commands, for the window's router while the page is shown:
    // "trash", "undo", "selectAll", "selectNone", "exit", "toggle", "preview",
    // "escape", "left", "right", "up", "down".
    QHash<QString, std::function<void()>> commands();

    // The Escape rule: close the preview when it is open, else leave.
    void escape();
    void togglePreview();
    void toggleSelected();
    // Shows a category's groups, scrolled to the top.
    void selectCategory(CleanupCategory category);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void build();
    void layoutViews();
    void showProgress();
    void resultChanged();
    void ticksChanged();
    void updateStatus();
    void describeSelection();
    void refreshPreview();

    std::unique_ptr<CleanupController> control;
    std::unique_ptr<CleanupThumbnails> thumbnails;
    QWidget *sidebar = nullptr;
    QLabel *titleLabel = nullptr;
    QLabel *betaLabel = nullptr;
    std::map<CleanupCategory, CategoryRow *> rows;
    QLabel *progressLabel = nullptr;
    QLabel *headerTitle = nullptr;
    QLabel *headerDetail = nullptr;
    QPushButton *selectAllButton = nullptr;
    QPushButton *selectNoneButton = nullptr;
    QPushButton *doneButton = nullptr;
    CleanupGridView *gridView = nullptr;
    QLabel *emptyLabel = nullptr;
    QWidget *bottomBar = nullptr;
    QLabel *statusLabel = nullptr;
    QLabel *hintLabel = nullptr;
    QPushButton *trashButton = nullptr;
    RepeatClick trashClick;
    CleanupPreviewView *previewView = nullptr;
    int previewGeneration = 0;
    QString spokenNotice; // the status message a screen reader was last given
};
