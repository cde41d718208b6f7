#pragma once

#include "cleanup/CleanupTypes.h"
#include "platform/Trash.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSet>

#include <functional>
#include <memory>
#include <optional>

class CleanupScanner;
class QThreadPool;

// The cleanup review: the scan of one folder, the result shown, the ticks, the
// moves to the Trash and their undo. It decides everything the review screen
// shows; the widgets draw it and forward input. Main thread only; the Trash is
// called on a worker of its own so the screen stays responsive.
class CleanupController : public QObject
{
public:
    // units: the folder's units (makeUnits of the viewer's items). The Trash
    // must outlive the controller.
    CleanupController(QString folderURL, QVector<CleanupUnit> units, Trash &trash,
                      std::function<void(bool changed)> onExit, bool useCache = true);
    ~CleanupController() override;

    // Starts the scan (the screen calls it once it is built).
    void start();

    const QString folderURL;
    QVector<CleanupUnit> units;             // still present; shrinks on trash, grows on undo
    std::unique_ptr<CleanupScanner> scanner;
    std::function<void(bool changed)> onExit;
    CleanupResult result;
    CleanupCategory category = CleanupCategory::similar;
    QSet<QString> userChecked;
    QSet<QString> userUnchecked;
    // The recommended keepers on screen when photos went to the Trash. Once
    // the rest of its burst is gone a keeper stands alone, and a blurry or
    // closed-eyed one would be suggested in turn: the best shot of a scene is
    // never proposed after its alternatives were removed.
    QSet<QString> keptThroughTrash;
    QVector<QVector<TrashedFile>> undoStack; // one batch per trash request
    bool changed = false;

    // The view's hooks, all called on the main thread.
    std::function<void()> onResultChanged;   // groups and counts are new: reload the grid
    std::function<void()> onTicksChanged;    // tick states and the status changed
    std::function<void()> onProgressChanged; // the progress text changed
    std::function<void()> onBusyChanged;     // a Trash operation started or ended

    // Ticks: a unit is ticked when suggested or ticked by the user, unless the
    // user unticked it. Ticks belong to the primary, so they hold in every
    // category at once.
    bool isChecked(const CleanupUnit &unit) const;
    bool isChecked(const QString &primary) const;
    void setChecked(const QString &primary, bool checked);
    void toggleCheck(const QString &primary);
    QVector<CleanupUnit> checkedUnits() const;
    qint64 checkedBytes() const;
    // Every unit of the current category; in the duplicate category each set's
    // keeper is left unticked, so one click never sends every copy away.
    void checkAll();
    void checkNone();

    void selectCategory(CleanupCategory newCategory);
    const QVector<CleanupGroup> &currentGroups() const;
    int unitCount(CleanupCategory c) const { return result.unitCount(c); }

    // The selected unit, by primary; kept across rebuilds while it is shown.
    std::optional<QString> selectedPrimary;
    const CleanupUnit *unitFor(const QString &primary) const;

    // Moves every ticked unit to the Trash: its primary first and, only when the
    // primary moved, its companions (never for a copy in the duplicate
    // category alone, whose companions may be the only ones of their kind).
    // A unit leaves the review only when its primary moved.
    void trashCheckedUnits();
    // Brings back the last batch. Nothing is ever replaced.
    void undoLastTrash();
    bool isBusy() const { return busy; }
    // Leaves: cancels the scan (which saves the cache) and calls onExit once.
    void exitCleanup();
    bool hasExited() const { return exited; }

    void rebuild();
    void scanProgressChanged();
    bool scanFinished() const;
    // Whether the result shown is the whole one: the scan has finished and
    // every neighbour distance it needs has been measured.
    bool groupingComplete() const;

    // The texts the screen shows.
    QString progressText() const;
    QString headerTitle() const;
    QString headerDetail() const;
    bool emptyVisible() const;
    QString emptyText() const;
    QString statusText() const;
    // The last trash or undo message while it stands in the status line.
    const std::optional<QString> &statusNotice() const { return notice; }
    // A message of the window's for the status line, standing like a trash or
    // undo message until the ticks change.
    void announce(const QString &message);
    QString trashButtonTitle() const;
    bool trashEnabled() const;
    QString sectionHeaderText(int group) const;
    QString badge(const CleanupUnit &unit) const;
    bool isKeeper(const CleanupGroup &group, const CleanupUnit &unit) const;
    QVector<QRectF> facesShown(const CleanupUnit &unit) const;
    QString previewCaption(const CleanupUnit &unit) const;
    // What a screen reader says of the grid: the selected photo as its
    // caption says it, or the category's title when none is selected.
    QString selectionSpoken() const;

    // The files a unit sends to the Trash.
    QStringList filesToTrash(const CleanupUnit &unit) const;
    // For each burst or duplicate set of the unit, its photos not ticked; a
    // set ticked whole gives none.
    QVector<QVector<CleanupUnit>> unticked(const CleanupUnit &unit) const;

    // While scanning, the result is rebuilt at most this often.
    static constexpr qint64 rebuildIntervalMs = 1000;

    // Replaces the grouping of the scan, for tests that set the result by hand.
    std::function<CleanupResult(const QVector<CleanupUnit> &units)> resultBuilder;

private:
    using PrintPair = QPair<QByteArray, QByteArray>;
    // The caption's parts: name, "Keep", the flags, the tick.
    QStringList captionParts(const CleanupUnit &unit) const;
    CleanupResult buildResult();
    void measureMissingDistances();
    void distancesArrived(const QVector<QPair<PrintPair, float>> &measured);
    // Stores the distances measured this session beside the metrics cache.
    void saveDistances();
    void applyTrash(const QVector<CleanupUnit> &requested, const TrashOutcome &outcome);
    void applyUndo(const QVector<TrashedFile> &batch, const std::vector<RestoreOutcome> &outcomes);
    void setBusy(bool on);
    void ticksChanged();
    void finishExit();

    Trash &trash;
    std::unique_ptr<QThreadPool> worker;
    // Feature-print distances between neighbours, measured once per session on
    // two workers: comparing two prints costs milliseconds, and a result is
    // rebuilt every second while scanning and after every trash and undo.
    std::unique_ptr<QThreadPool> distanceQueue;
    QHash<PrintPair, float> distances;
    QVector<PrintPair> missingPairs; // asked for by the last build, not yet measured
    int pendingDistanceChunks = 0;
    bool distancesSaved = true; // nothing measured yet that the file lacks
    QElapsedTimer lastDistanceBuild;
    QElapsedTimer lastBuild; // invalid until the first rebuild: the distant past
    std::optional<QString> notice; // the last trash or undo message, until the ticks change
    bool busy = false;
    bool exitRequested = false;
    bool exited = false;
};
