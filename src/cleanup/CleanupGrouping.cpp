#include "cleanup/CleanupGrouping.h"

#include "cleanup/CleanupScanner.h"
#include "cleanup/ImageMeasures.h"
#include "library/NameOrder.h"

#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <tuple>

namespace {

struct Candidate {
    const CleanupUnit *unit;
    const CleanupMetrics *metrics;
};

QString nameOf(const QString &path)
{
    return QFileInfo(path).fileName();
}

// Capture dates are clock readings kept in UTC's frame (see CaptureDate.h).
QDateTime dateOf(double secondsSince1970)
{
    return QDateTime::fromMSecsSinceEpoch(qint64(std::llround(secondsSince1970 * 1000.0)), Qt::UTC);
}

int ratingOf(const CleanupEvidence &evidence, const QString &primary)
{
    return evidence.rating ? evidence.rating(primary) : 0;
}

// The shot kept from a burst: the best rated; then one of full size (a copy
// saved smaller is not the original); then one without shut eyes; then, of an
// exposure bracket, the frame nearest the metered exposure (the sharpness of an
// underexposed frame is mostly its noise); then the best keeper score.
CleanupGroup similarGroup(const QVector<Candidate> &run, const CleanupEvidence &evidence)
{
    CleanupGroup group;
    group.date = dateOf(run.first().metrics->captureDate);
    int best = 0;
    qint64 largest = 0;
    for (const Candidate &c : run)
        largest = std::max(largest, c.metrics->pixelCount);
    const auto rank = [&](const Candidate &c) {
        const bool fullSize = c.metrics->pixelCount == 0 || c.metrics->pixelCount >= largest * 9 / 10;
        const double offMetered = c.metrics->exposureBias ? std::abs(double(*c.metrics->exposureBias)) : 0.0;
        return std::tuple(ratingOf(evidence, c.unit->primary), fullSize, c.metrics->closedFaces.isEmpty(),
                          -std::round(offMetered * 10), keeperScore(*c.metrics));
    };
    auto bestRank = rank(run.first());
    for (int i = 0; i < run.size(); ++i) {
        group.units.append(*run[i].unit);
        const auto r = rank(run[i]);
        // On a tie (the same picture) the shot that carries its RAW is kept:
        // the other choice would send the RAW to the Trash with its JPEG.
        const bool tieWithRaw = r == bestRank && run[i].unit->companions.size() > run[best].unit->companions.size();
        if (r > bestRank || tieWithRaw) {
            best = i;
            bestRank = r;
        }
    }
    group.keeper = run[best].unit->primary;
    return group;
}

} // namespace

bool nameLess(const QString &pathA, const QString &pathB)
{
    return NameOrder::forCurrentThread().lessThan(nameOf(pathA), nameOf(pathB));
}

bool isBlurry(const CleanupMetrics &metrics)
{
    if (metrics.faceSharpness)
        return *metrics.faceSharpness < blurryFaceSharpness;
    return metrics.sharpness < blurrySharpness;
}

bool isClosedEyed(const CleanupMetrics &metrics)
{
    return !metrics.closedFaces.isEmpty();
}

double keeperScore(const CleanupMetrics &metrics)
{
    const double detail = metrics.faceSharpness ? 4.0 * double(*metrics.faceSharpness)
                                                : double(metrics.sharpness);
    return detail + (metrics.closedFaces.isEmpty() ? 1'000'000.0 : 0.0);
}

CleanupResult buildCleanupResult(const QVector<CleanupUnit> &units, const CleanupEvidence &evidence)
{
    CleanupResult result;
    for (CleanupCategory category : allCleanupCategories())
        result.groups[category] = {};

    // 1. Exact duplicates, bucketed by digest in unit order.
    QVector<QString> digests;
    QHash<QString, QVector<const CleanupUnit *>> buckets;
    for (const CleanupUnit &unit : units) {
        const std::optional<QString> digest = evidence.digest ? evidence.digest(unit.primary) : std::nullopt;
        if (!digest)
            continue;
        auto it = buckets.find(*digest);
        if (it == buckets.end()) {
            digests.append(*digest);
            it = buckets.insert(*digest, {});
        }
        it->append(&unit);
    }
    QSet<QString> duplicateKeepers;
    QSet<QString> duplicateLosers;
    QVector<CleanupGroup> duplicates;
    for (const QString &digest : std::as_const(digests)) {
        QVector<const CleanupUnit *> bucket = buckets.value(digest);
        if (bucket.size() < 2)
            continue;
        // The best rated copy is kept; else the shortest name is the original,
        // and "IMG_1 copy.JPG" and "IMG_1 2.JPG" are the copies.
        std::stable_sort(bucket.begin(), bucket.end(), [&](const CleanupUnit *a, const CleanupUnit *b) {
            const int ratingA = ratingOf(evidence, a->primary);
            const int ratingB = ratingOf(evidence, b->primary);
            if (ratingA != ratingB)
                return ratingA > ratingB;
            const int lengthA = nameOf(a->primary).size();
            const int lengthB = nameOf(b->primary).size();
            if (lengthA != lengthB)
                return lengthA < lengthB;
            return nameLess(a->primary, b->primary);
        });
        CleanupGroup group;
        for (const CleanupUnit *unit : std::as_const(bucket))
            group.units.append(*unit);
        group.keeper = bucket.first()->primary;
        duplicateKeepers.insert(bucket.first()->primary);
        for (int i = 1; i < bucket.size(); ++i) {
            result.suggested.insert(bucket[i]->primary);
            duplicateLosers.insert(bucket[i]->primary);
        }
        duplicates.append(group);
    }
    std::stable_sort(duplicates.begin(), duplicates.end(), [](const CleanupGroup &a, const CleanupGroup &b) {
        return nameLess(*a.keeper, *b.keeper);
    });
    result.groups[CleanupCategory::duplicate] = duplicates;

    // 2. The measured units that are not duplicate copies, in capture order.
    QVector<Candidate> candidates;
    for (const CleanupUnit &unit : units) {
        if (duplicateLosers.contains(unit.primary))
            continue;
        const CleanupMetrics *metrics = evidence.metrics ? evidence.metrics(unit.primary) : nullptr;
        if (metrics)
            candidates.append({&unit, metrics});
    }
    std::stable_sort(candidates.begin(), candidates.end(), [](const Candidate &a, const Candidate &b) {
        if (a.metrics->captureDate != b.metrics->captureDate)
            return a.metrics->captureDate < b.metrics->captureDate;
        return nameLess(a.unit->primary, b.unit->primary);
    });

    // 3. and 4. Bursts: runs of neighbours close in time and alike in content.
    QSet<QString> similarLosers;
    QVector<Candidate> run;
    const auto closeRun = [&] {
        if (run.size() >= 2) {
            const CleanupGroup group = similarGroup(run, evidence);
            result.keepers.insert(*group.keeper);
            for (const CleanupUnit &unit : group.units) {
                if (unit.primary == *group.keeper)
                    continue;
                result.suggested.insert(unit.primary);
                similarLosers.insert(unit.primary);
            }
            result.groups[CleanupCategory::similar].append(group);
        }
        run.clear();
    };
    const auto joins = [&](const Candidate &last, const Candidate &next) {
        if (next.metrics->captureDate - last.metrics->captureDate > burstMaxGap)
            return false;
        if (!evidence.print || !evidence.distance)
            return false;
        const std::optional<QByteArray> a = evidence.print(last.unit->primary);
        const std::optional<QByteArray> b = evidence.print(next.unit->primary);
        if (!a || !b)
            return false;
        return evidence.distance(*a, *b) <= evidence.burstThreshold;
    };
    for (const Candidate &candidate : std::as_const(candidates)) {
        if (!run.isEmpty() && !joins(run.last(), candidate))
            closeRun();
        run.append(candidate);
    }
    closeRun();

    // 5. A duplicate's original stays a keeper unless it lost in a burst.
    for (const QString &keeper : std::as_const(duplicateKeepers)) {
        if (!similarLosers.contains(keeper))
            result.keepers.insert(keeper);
    }

    // 6. Closed eyes and blur, over every candidate, similar losers included.
    CleanupGroup closedEyes;
    CleanupGroup blurry;
    for (const Candidate &candidate : std::as_const(candidates)) {
        if (isClosedEyed(*candidate.metrics)) {
            closedEyes.units.append(*candidate.unit);
            result.suggested.insert(candidate.unit->primary);
        }
        if (isBlurry(*candidate.metrics)) {
            blurry.units.append(*candidate.unit);
            result.suggested.insert(candidate.unit->primary);
        }
    }
    if (!closedEyes.units.isEmpty())
        result.groups[CleanupCategory::closedEyes].append(closedEyes);
    if (!blurry.units.isEmpty())
        result.groups[CleanupCategory::blurry].append(blurry);

    // 7. A photo the person rated is kept, wherever it shows.
    if (evidence.rating) {
        for (const CleanupUnit &unit : units) {
            if (evidence.rating(unit.primary) > 0)
                result.keepers.insert(unit.primary);
        }
    }

    // 8. A keeper is never suggested.
    for (const QString &keeper : std::as_const(result.keepers))
        result.suggested.remove(keeper);
    return result;
}

CleanupEvidence cleanupEvidence(CleanupScanner &scanner)
{
    CleanupEvidence evidence;
    evidence.metrics = [&scanner](const QString &primary) -> const CleanupMetrics * {
        const auto it = scanner.metrics.constFind(primary);
        return it == scanner.metrics.cend() ? nullptr : &it.value();
    };
    evidence.digest = [&scanner](const QString &primary) { return scanner.digestFor(primary); };
    evidence.rating = [&scanner](const QString &primary) { return scanner.ratingFor(primary); };
    evidence.print = [&scanner](const QString &primary) { return scanner.printFor(primary); };
    evidence.distance = &FeaturePrint::distance;
    evidence.burstThreshold = FeaturePrint::burstThreshold();
    return evidence;
}

CleanupResult buildCleanupResult(const QVector<CleanupUnit> &units, CleanupScanner &scanner)
{
    return buildCleanupResult(units, cleanupEvidence(scanner));
}
