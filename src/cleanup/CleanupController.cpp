#include "cleanup/CleanupController.h"

#include "cleanup/CleanupGrouping.h"
#include "cleanup/CleanupScanner.h"
#include "cleanup/CleanupUnits.h"
#include "cleanup/DistanceCache.h"
#include "cleanup/ImageMeasures.h"
#include "library/ImageLoader.h"
#include "platform/HandOff.h"
#include "settings/Texts.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QPointer>
#include <QThreadPool>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

QString number(qint64 n)
{
    return QString::number(n);
}

// A capture date is the camera's clock reading: shown as it is, in no zone,
// and written as the information panel writes it (with the seconds, which
// tell a burst's frames apart) in every language: a system's short date
// would have a two-digit year in one and another script's digits in the next.
QString dateText(const QDateTime &reading)
{
    return reading.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

const QString separator = QStringLiteral("  ·  ");

// The photos of a burst or duplicate set that are not ticked, and what is
// said when none of them is left as checked.
struct KeptSet {
    QVector<CleanupUnit> units;
    QString reason;
};

constexpr int namesShown = 3;

// "a.jpg, b.jpg and 2 more": the first `take` names and how many are left.
QString someNames(const QStringList &names, int take)
{
    QString part = names.mid(0, take).join(Texts::text("list.separator"));
    if (names.size() > take)
        part = Texts::format("cleanup.andMore", {part, number(names.size() - take)});
    return part;
}

// "a.jpg, b.jpg and 2 more (reason); c.jpg (other reason)": the files that
// did not go, a few names at most, gathered by reason.
QString failureList(const QVector<TrashFailure> &failures)
{
    QStringList reasons;
    QHash<QString, QStringList> names;
    for (const TrashFailure &failure : failures) {
        if (!names.contains(failure.reason))
            reasons.append(failure.reason);
        names[failure.reason].append(QFileInfo(failure.path).fileName());
    }
    QStringList parts;
    int shown = 0;
    for (const QString &reason : std::as_const(reasons)) {
        const QStringList &all = names.value(reason);
        const int take = std::max(1, std::min(int(all.size()), namesShown - shown));
        shown += take;
        parts << QStringLiteral("%1 (%2)").arg(someNames(all, take), reason);
    }
    return parts.join(Texts::text("list.groupSeparator"));
}

} // namespace

CleanupController::CleanupController(QString folderURL, QVector<CleanupUnit> units, Trash &trash,
                                     std::function<void(bool)> onExit, bool useCache)
    : folderURL(std::move(folderURL))
    , units(units)
    , scanner(std::make_unique<CleanupScanner>(this->folderURL, std::move(units), useCache))
    , onExit(std::move(onExit))
    , trash(trash)
    , worker(std::make_unique<QThreadPool>())
{
    worker->setMaxThreadCount(1);
    worker->setObjectName(QStringLiteral("glanto.cleanup.trash"));
    distanceQueue = std::make_unique<QThreadPool>();
    distanceQueue->setMaxThreadCount(2);
    distanceQueue->setObjectName(QStringLiteral("glanto.cleanup.distance"));
}

CleanupController::~CleanupController()
{
    // A Trash request under way finishes (a half-moved unit would be worse);
    // its result, posted to a controller that is gone, is dropped.
    distanceQueue->clear();
    distanceQueue->waitForDone();
    worker->waitForDone();
}

void CleanupController::start()
{
    scanner->onProgress = [this] { scanProgressChanged(); };
    scanner->start();
}

// ---- Ticks

bool CleanupController::isChecked(const QString &primary) const
{
    if (userUnchecked.contains(primary))
        return false;
    return result.suggested.contains(primary) || userChecked.contains(primary);
}

bool CleanupController::isChecked(const CleanupUnit &unit) const
{
    return isChecked(unit.primary);
}

void CleanupController::setChecked(const QString &primary, bool checked)
{
    if (checked) {
        userChecked.insert(primary);
        userUnchecked.remove(primary);
    } else {
        userUnchecked.insert(primary);
        userChecked.remove(primary);
    }
}

void CleanupController::toggleCheck(const QString &primary)
{
    setChecked(primary, !isChecked(primary));
    ticksChanged();
}

QVector<CleanupUnit> CleanupController::checkedUnits() const
{
    QVector<CleanupUnit> checked;
    for (const CleanupUnit &unit : units) {
        if (isChecked(unit))
            checked.append(unit);
    }
    return checked;
}

qint64 CleanupController::checkedBytes() const
{
    qint64 bytes = 0;
    for (const CleanupUnit &unit : checkedUnits())
        bytes += unit.fileSize;
    return bytes;
}

void CleanupController::checkAll()
{
    for (const CleanupGroup &group : currentGroups()) {
        for (const CleanupUnit &unit : group.units) {
            const bool keeperOfCopies = category == CleanupCategory::duplicate && group.keeper == unit.primary;
            setChecked(unit.primary, !keeperOfCopies);
        }
    }
    ticksChanged();
}

void CleanupController::checkNone()
{
    for (const CleanupGroup &group : currentGroups()) {
        for (const CleanupUnit &unit : group.units)
            setChecked(unit.primary, false);
    }
    ticksChanged();
}

void CleanupController::announce(const QString &message)
{
    notice = message;
    if (onTicksChanged)
        onTicksChanged();
}

void CleanupController::ticksChanged()
{
    notice.reset();
    if (onTicksChanged)
        onTicksChanged();
}

// ---- Categories and the result

void CleanupController::selectCategory(CleanupCategory newCategory)
{
    category = newCategory;
    if (onResultChanged)
        onResultChanged();
}

const QVector<CleanupGroup> &CleanupController::currentGroups() const
{
    static const QVector<CleanupGroup> none;
    const auto it = result.groups.find(category);
    return it == result.groups.end() ? none : it->second;
}

const CleanupUnit *CleanupController::unitFor(const QString &primary) const
{
    for (const CleanupUnit &unit : units) {
        if (unit.primary == primary)
            return &unit;
    }
    return nullptr;
}

bool CleanupController::scanFinished() const
{
    return scanner->finished;
}

void CleanupController::rebuild()
{
    lastBuild.start();
    result = buildResult();
    for (const QString &kept : std::as_const(keptThroughTrash)) {
        result.suggested.remove(kept);
        result.keepers.insert(kept);
    }
    if (onResultChanged)
        onResultChanged();
}

bool CleanupController::groupingComplete() const
{
    return scanner->finished && pendingDistanceChunks == 0 && missingPairs.isEmpty();
}

CleanupResult CleanupController::buildResult()
{
    if (resultBuilder)
        return resultBuilder(units);
    // Distances not measured yet count as far apart for now: the bursts found
    // so far are shown at once and the rest join as their distances arrive.
    if (!scanner->cachedDistances.isEmpty()) {
        distances.insert(scanner->cachedDistances);
        scanner->cachedDistances.clear();
    }
    CleanupEvidence evidence = cleanupEvidence(*scanner);
    missingPairs.clear();
    evidence.distance = [this](const QByteArray &a, const QByteArray &b) {
        const auto it = distances.constFind(PrintPair(a, b));
        if (it != distances.cend())
            return it.value();
        missingPairs.append(PrintPair(a, b));
        return std::numeric_limits<float>::max();
    };
    CleanupResult built = buildCleanupResult(units, evidence);
    measureMissingDistances();
    return built;
}

void CleanupController::measureMissingDistances()
{
    // One round at a time; the rebuild after the last chunk asks again.
    if (pendingDistanceChunks > 0 || missingPairs.isEmpty())
        return;
    // The pairs come in the order the screen shows them. The first chunks are
    // small so the first bursts appear after a handful of comparisons; later
    // ones are larger so the results cost fewer rebuilds.
    int chunkSize = 4;
    QPointer<CleanupController> self(this);
    for (int start = 0; start < missingPairs.size(); start += chunkSize, chunkSize = std::min(chunkSize * 2, 32)) {
        const QVector<PrintPair> chunk = missingPairs.mid(start, chunkSize);
        ++pendingDistanceChunks;
        HandOff::start(*distanceQueue, [self, chunk] {
            QVector<QPair<PrintPair, float>> measured;
            measured.reserve(chunk.size());
            for (const PrintPair &pair : chunk)
                measured.append({pair, FeaturePrint::distance(pair.first, pair.second)});
            HandOff::invoke(QCoreApplication::instance(), [self, measured] {
                if (self)
                    self->distancesArrived(measured);
            }, Qt::QueuedConnection);
        });
    }
    missingPairs.clear();
}

void CleanupController::distancesArrived(const QVector<QPair<PrintPair, float>> &measured)
{
    for (const auto &[pair, distance] : measured)
        distances.insert(pair, distance);
    distancesSaved = false;
    --pendingDistanceChunks;
    // Rebuilt a few times a second while they arrive, and once at the end.
    if (pendingDistanceChunks == 0 || !lastDistanceBuild.isValid() || lastDistanceBuild.elapsed() > 300) {
        lastDistanceBuild.start();
        rebuild();
    }
    if (groupingComplete())
        saveDistances();
}

void CleanupController::saveDistances()
{
    if (distancesSaved || !scanner->cacheURL || distances.isEmpty())
        return;
    distancesSaved = true;
    // Hashing the prints and writing take some milliseconds: on the worker,
    // behind any Trash request, which the controller waits for when it goes.
    HandOff::start(*worker, [path = DistanceCache::fileBeside(*scanner->cacheURL), copy = distances] {
        DistanceCache::save(path, copy);
    });
}

void CleanupController::scanProgressChanged()
{
    if (onProgressChanged)
        onProgressChanged();
    if (scanner->finished || !lastBuild.isValid() || lastBuild.elapsed() > rebuildIntervalMs)
        rebuild();
}

// ---- Trash and undo

QStringList CleanupController::filesToTrash(const CleanupUnit &unit) const
{
    QStringList files{unit.primary};
    // Digests cover primaries only: a RAW beside a copied JPEG may be the only
    // one of its kind, so a unit that is here only as a copy goes alone.
    bool onlyAsCopy = false;
    for (const auto &[c, groups] : result.groups) {
        for (const CleanupGroup &group : groups) {
            for (const CleanupUnit &member : group.units) {
                if (member.primary != unit.primary)
                    continue;
                if (c != CleanupCategory::duplicate)
                    return files + unit.companions;
                onlyAsCopy = true;
            }
        }
    }
    return onlyAsCopy ? files : files + unit.companions;
}

QVector<QVector<CleanupUnit>> CleanupController::unticked(const CleanupUnit &unit) const
{
    QVector<QVector<CleanupUnit>> sets;
    for (const CleanupCategory category : {CleanupCategory::duplicate, CleanupCategory::similar}) {
        const auto found = result.groups.find(category);
        if (found == result.groups.end())
            continue;
        for (const CleanupGroup &group : found->second) {
            const bool member = std::any_of(group.units.begin(), group.units.end(),
                                            [&](const CleanupUnit &u) { return u.primary == unit.primary; });
            if (!member)
                continue;
            QVector<CleanupUnit> staying;
            for (const CleanupUnit &other : group.units) {
                if (!isChecked(other))
                    staying.append(other);
            }
            // A set ticked whole is the person's own choice.
            if (!staying.isEmpty())
                sets.append(staying);
        }
    }
    return sets;
}

void CleanupController::setBusy(bool on)
{
    busy = on;
    if (onBusyChanged)
        onBusyChanged();
}

void CleanupController::trashCheckedUnits()
{
    if (busy || exited)
        return;
    const QVector<CleanupUnit> requested = checkedUnits();
    if (requested.isEmpty())
        return;
    QVector<QStringList> files;
    QVector<QVector<KeptSet>> stayers;
    for (const CleanupUnit &unit : requested) {
        files.append(filesToTrash(unit));
        QVector<KeptSet> sets;
        for (const QVector<CleanupUnit> &set : unticked(unit))
            sets.append({set, Texts::format("cleanup.keeperGone", {QFileInfo(set.first().primary).fileName()})});
        stayers.append(sets);
    }
    setBusy(true);
    QPointer<CleanupController> self(this);
    Trash *target = &trash;
    const QString changedReason = Texts::text("cleanup.changedSinceCheck");
    HandOff::start(*worker, [self, target, requested, files, stayers, changedReason] {
        TrashOutcome outcome;
        for (qsizetype i = 0; i < files.size(); ++i) {
            const QStringList &unitFiles = files.at(i);
            // What the person reviewed is what goes: a photo replaced or edited
            // since the check stays where it is.
            if (unitChangedOnDisk(requested.at(i))) {
                outcome.failed.push_back(TrashFailure{unitFiles.first(), changedReason});
                continue;
            }
            // A copy or a burst shot goes only while a photo of its set that
            // stays is still there as checked: one removed or replaced by
            // someone else meanwhile would leave none of the set.
            const auto keptAway = std::find_if(stayers.at(i).begin(), stayers.at(i).end(), [](const KeptSet &set) {
                return std::none_of(set.units.begin(), set.units.end(), unitAsChecked);
            });
            if (keptAway != stayers.at(i).end()) {
                outcome.failed.push_back(TrashFailure{unitFiles.first(), keptAway->reason});
                continue;
            }
            // The primary first; its companions only once it is safely away.
            const TrashOutcome primary = target->moveToTrash({unitFiles.first()});
            outcome.append(primary);
            if (primary.moved.empty())
                continue;
            TrashOutcome companions;
            if (unitFiles.size() > 1)
                companions = target->moveToTrash(unitFiles.mid(1));
            outcome.append(companions);
            // The shared sidecar once the last of the shot is away, and the
            // sidecar of each file that went (a RAW's photo.NEF.xmp).
            moveOrphanedSidecar(*target, unitFiles.first(), outcome);
            for (const TrashedFile &companion : companions.moved)
                moveOrphanedSidecar(*target, companion.original, outcome);
        }
        HandOff::invoke(QCoreApplication::instance(), [self, requested, outcome] {
            if (self)
                self->applyTrash(requested, outcome);
        }, Qt::QueuedConnection);
    });
}

void CleanupController::applyTrash(const QVector<CleanupUnit> &requested, const TrashOutcome &outcome)
{
    QSet<QString> moved;
    QVector<TrashedFile> batch;
    for (const TrashedFile &file : outcome.moved) {
        moved.insert(file.original);
        batch.append(file);
        ImageLoader::shared().invalidate(file.original);
    }
    int unitsMoved = 0;
    for (const CleanupUnit &unit : requested)
        unitsMoved += moved.contains(unit.primary) ? 1 : 0;
    // A photo removed by someone else meanwhile leaves the review too.
    QSet<QString> gone;
    for (const TrashFailure &failure : outcome.failed) {
        const QFileInfo info(failure.path);
        if (!info.exists() && !info.isSymLink())
            gone.insert(failure.path);
    }
    units.erase(std::remove_if(units.begin(), units.end(),
                               [&](const CleanupUnit &unit) {
                                   return moved.contains(unit.primary) || gone.contains(unit.primary);
                               }),
                units.end());
    // Nothing moved leaves nothing to undo: Ctrl+Z goes to the batch before.
    if (!batch.isEmpty())
        undoStack.append(batch);
    if (!batch.isEmpty() || !gone.isEmpty())
        changed = true;
    if (!batch.isEmpty())
        keptThroughTrash.unite(result.keepers);
    rebuild();

    QStringList parts;
    if (!batch.isEmpty())
        parts << Texts::format("cleanup.trashed", {number(unitsMoved)});
    // Files someone else removed meanwhile are not failures: they are said apart.
    const auto stillThere = [&](const TrashFailure &failure) { return !gone.contains(failure.path); };
    QVector<TrashFailure> failures;
    std::copy_if(outcome.failed.begin(), outcome.failed.end(), std::back_inserter(failures), stillThere);
    if (!failures.isEmpty())
        parts << Texts::format("cleanup.trashFailed", {number(failures.size()), failureList(failures)});
    if (!gone.isEmpty())
        parts << Texts::format("cleanup.trashGone", {number(gone.size())});
    const QString message = parts.join(separator);
    notice = message;
    setBusy(false);
    if (onTicksChanged)
        onTicksChanged();
    finishExit();
}

void CleanupController::undoLastTrash()
{
    if (busy || exited || undoStack.isEmpty())
        return;
    const QVector<TrashedFile> batch = undoStack.takeLast();
    setBusy(true);
    QPointer<CleanupController> self(this);
    Trash *target = &trash;
    HandOff::start(*worker, [self, target, batch] {
        std::vector<RestoreOutcome> outcomes;
        outcomes.reserve(size_t(batch.size()));
        for (const TrashedFile &file : batch)
            outcomes.push_back(target->restore(file));
        HandOff::invoke(QCoreApplication::instance(), [self, batch, outcomes] {
            if (self)
                self->applyUndo(batch, outcomes);
        }, Qt::QueuedConnection);
    });
}

void CleanupController::applyUndo(const QVector<TrashedFile> &batch, const std::vector<RestoreOutcome> &outcomes)
{
    const RestoredBatch restored = restoredBatch(batch, outcomes);
    const QSet<QString> back(restored.back.cbegin(), restored.back.cend());
    // Files still in the Trash that a later Ctrl+Z may put back (the place was
    // taken, the folder was away) stay on the stack.
    if (!restored.again.isEmpty())
        undoStack.append(restored.again);
    QSet<QString> present;
    for (const CleanupUnit &unit : std::as_const(units))
        present.insert(unit.primary);
    // A unit returns when its primary is back; a companion alone does not make
    // a photo that can be shown.
    for (const CleanupUnit &unit : scanner->units) {
        if (back.contains(unit.primary) && !present.contains(unit.primary))
            present.insert(unit.primary);
    }
    QVector<CleanupUnit> ordered;
    for (const CleanupUnit &unit : scanner->units) {
        if (present.contains(unit.primary))
            ordered.append(unit);
    }
    units = ordered;
    rebuild();

    notice = restored.message();
    setBusy(false);
    if (onTicksChanged)
        onTicksChanged();
    finishExit();
}

// ---- Leaving

void CleanupController::exitCleanup()
{
    if (exited)
        return;
    exitRequested = true;
    scanner->cancel();
    saveDistances();
    // A Trash request under way is finished first, so changed tells the truth.
    if (!busy)
        finishExit();
}

void CleanupController::finishExit()
{
    if (!exitRequested || exited || busy)
        return;
    exited = true;
    if (onExit)
        onExit(changed);
}

// ---- Texts

QString CleanupController::progressText() const
{
    if (!scanner->finished)
        return Texts::format("cleanup.scanning", {number(scanner->done), number(scanner->units.size())});
    // Photos that could not be measured are in no category; the count says the
    // review is not about them. Those moved to the Trash or removed before
    // their turn came are not among them.
    QStringList unchecked;
    for (const CleanupUnit &unit : std::as_const(units))
        if (!scanner->metrics.contains(unit.primary))
            unchecked.append(QFileInfo(unit.primary).fileName());
    QString text = Texts::format("cleanup.scanned", {number(scanner->metrics.size()),
                                                     number(qint64(std::llround(scanner->elapsed)))});
    if (!unchecked.isEmpty())
        text += QStringLiteral(" · ")
              + Texts::format("cleanup.unchecked", {number(unchecked.size()), someNames(unchecked, namesShown)});
    return text;
}

QString CleanupController::headerTitle() const
{
    return cleanupCategoryTitle(category);
}

QString CleanupController::headerDetail() const
{
    const int n = unitCount(category);
    const int g = int(currentGroups().size());
    switch (category) {
    case CleanupCategory::duplicate: return Texts::format("cleanup.detail.copies", {number(g), number(n)});
    case CleanupCategory::similar: return Texts::format("cleanup.detail.groups", {number(g), number(n)});
    default: return Texts::format("cleanup.detail.count", {number(n)});
    }
}

bool CleanupController::emptyVisible() const
{
    return unitCount(category) == 0;
}

QString CleanupController::emptyText() const
{
    return scanner->finished ? cleanupCategoryEmptyText(category) : Texts::text("cleanup.waiting");
}

QString CleanupController::statusText() const
{
    if (notice)
        return *notice;
    const QVector<CleanupUnit> checked = checkedUnits();
    if (checked.isEmpty())
        return Texts::text("cleanup.noneSelected");
    qint64 bytes = 0;
    for (const CleanupUnit &unit : checked)
        bytes += unit.fileSize;
    return Texts::format("cleanup.selected", {number(checked.size()), Texts::byteCount(bytes)});
}

QString CleanupController::trashButtonTitle() const
{
    const int n = int(checkedUnits().size());
    return n > 0 ? Texts::format("cleanup.trashN", {number(n)}) : Texts::text("cleanup.trash");
}

bool CleanupController::trashEnabled() const
{
    return !busy && !checkedUnits().isEmpty();
}

QString CleanupController::sectionHeaderText(int index) const
{
    const QVector<CleanupGroup> &groups = currentGroups();
    if (index < 0 || index >= groups.size())
        return {};
    const CleanupGroup &group = groups[index];
    if (category == CleanupCategory::duplicate) {
        QString text = Texts::format("cleanup.header.copies", {number(group.units.size())});
        const bool allTicked = std::all_of(group.units.cbegin(), group.units.cend(),
                                           [this](const CleanupUnit &unit) { return isChecked(unit); });
        if (allTicked)
            text += separator + Texts::text("cleanup.header.betterInBurst");
        return text;
    }
    if (group.date)
        return Texts::format("cleanup.header.burst", {number(group.units.size()), dateText(*group.date)});
    return {};
}

QString CleanupController::badge(const CleanupUnit &unit) const
{
    QStringList extensions;
    for (const QString &companion : unit.companions)
        extensions << QFileInfo(companion).suffix().toUpper();
    return extensions.join(QLatin1Char('+'));
}

bool CleanupController::isKeeper(const CleanupGroup &group, const CleanupUnit &unit) const
{
    return group.keeper == unit.primary && result.keepers.contains(unit.primary);
}

QVector<QRectF> CleanupController::facesShown(const CleanupUnit &unit) const
{
    if (category != CleanupCategory::closedEyes)
        return {};
    const auto it = scanner->metrics.constFind(unit.primary);
    return it == scanner->metrics.cend() ? QVector<QRectF>{} : it->closedFaces;
}

QString CleanupController::previewCaption(const CleanupUnit &unit) const
{
    return captionParts(unit).join(separator);
}

QString CleanupController::selectionSpoken() const
{
    const CleanupUnit *unit = selectedPrimary ? unitFor(*selectedPrimary) : nullptr;
    return unit ? captionParts(*unit).join(QStringLiteral(", ")) : headerTitle();
}

QStringList CleanupController::captionParts(const CleanupUnit &unit) const
{
    QStringList parts{QFileInfo(unit.primary).fileName()};
    if (result.keepers.contains(unit.primary))
        parts << Texts::text("cleanup.keep");
    const auto it = scanner->metrics.constFind(unit.primary);
    if (it != scanner->metrics.cend()) {
        if (isClosedEyed(*it))
            parts << Texts::text("cleanup.closedEyes");
        if (isBlurry(*it))
            parts << Texts::text("cleanup.blurry");
    }
    parts << Texts::text(isChecked(unit) ? "cleanup.state.checked" : "cleanup.state.unchecked");
    return parts;
}
