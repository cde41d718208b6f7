#include "cleanup/CleanupScanner.h"

#include "cleanup/DistanceCache.h"
#include "cleanup/FaceEyesDetector.h"
#include "cleanup/FileDigest.h"
#include "cleanup/ImageMeasures.h"
#include "cleanup/MetricsCache.h"
#include "fileops/XmpRating.h"
#include "library/CaptureDate.h"
#include "library/ImageLoader.h"
#include "platform/Codec.h"
#include "platform/HandOff.h"

#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QThreadPool>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <map>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int analysisSize = 1280;
// A larger decode is worth judging small eyes on when it is at least this many times the
// analysis size: an eye of 11 px then reaches the 16 px that eyes are judged from, one
// of 16 px the 24 px whose balance is read. It is made at most twice the analysis size.
constexpr double largerAnalysisShare = 1.5;
constexpr double largestAnalysisShare = 2.0;

// Whether two decodes of one photo show the same framing, so that a box found on one
// lies on the same thing in the other: a RAW's embedded preview and its own processed
// image can be cropped differently.
bool sameFraming(const QSize &a, const QSize &b)
{
    return std::abs(double(a.width()) / a.height() - double(b.width()) / b.height()) < 0.01 * a.width() / a.height();
}

// Analyzers are costly to make (a face detector each) and not thread-safe, so
// every worker borrows one for the length of a measurement. The pool outlives
// any worker thread and is never destroyed: analyzers hold library state whose
// own static destruction order at exit is not ours to rely on.
class AnalyzerPool
{
public:
    static AnalyzerPool &instance()
    {
        static auto *pool = new AnalyzerPool;
        return *pool;
    }

    std::unique_ptr<ImageAnalyzer> acquire()
    {
        {
            QMutexLocker locker(&mutex);
            if (!idle.empty()) {
                std::unique_ptr<ImageAnalyzer> analyzer = std::move(idle.back());
                idle.pop_back();
                return analyzer;
            }
        }
        return std::make_unique<ImageAnalyzer>();
    }

    void release(std::unique_ptr<ImageAnalyzer> analyzer)
    {
        QMutexLocker locker(&mutex);
        idle.push_back(std::move(analyzer));
    }

private:
    QMutex mutex;
    std::vector<std::unique_ptr<ImageAnalyzer>> idle;
};

class BorrowedAnalyzer
{
public:
    BorrowedAnalyzer() : analyzer(AnalyzerPool::instance().acquire()) {}
    ~BorrowedAnalyzer() { AnalyzerPool::instance().release(std::move(analyzer)); }
    ImageAnalyzer &operator*() { return *analyzer; }

private:
    std::unique_ptr<ImageAnalyzer> analyzer;
};

bool outOfDescriptors()
{
    const int probe = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (probe >= 0) {
        ::close(probe);
        return false;
    }
    return errno == EMFILE || errno == ENFILE;
}

std::optional<QString> cacheFileForScan(const QString &folder, bool useCache)
{
    if (!useCache)
        return std::nullopt;
    const std::optional<QString> file = MetricsCache::fileFor(folder);
    if (file)
        QDir().mkpath(MetricsCache::directory()); // a failure only means no cache
    return file;
}

} // namespace

std::optional<CleanupMetrics> computeMetrics(const CleanupUnit &unit)
{
    if (outOfDescriptors())
        return std::nullopt;
    const QString &url = unit.primary;
    const QImage image = ImageLoader::shared().makeThumbnail(url, analysisSize, isRawFile(url), false);
    if (image.isNull())
        return std::nullopt;

    ImageMeasures measures;
    try {
        BorrowedAnalyzer analyzer;
        measures = (*analyzer).measure(image);
        // Main faces whose eyes are too small to judge here, or to judge in full, are judged
        // again on the photo decoded larger, when it holds that much more: the cost of a
        // second decode falls only on such photos. Should that fail, what was measured stands.
        if (!measures.smallEyeFaces.isEmpty() && std::max(image.width(), image.height()) >= analysisSize) {
            try {
                const double share = largerDecodeShare(measures, largerAnalysisShare, largestAnalysisShare);
                const QImage larger = ImageLoader::shared().makeThumbnail(url, int(std::ceil(share * analysisSize)),
                                                                          isRawFile(url), false);
                if (std::max(larger.width(), larger.height()) >= largerAnalysisShare * analysisSize
                    && sameFraming(image.size(), larger.size()))
                    (*analyzer).judgeSmallFaces(larger, measures);
            } catch (...) {
            }
        }
    } catch (...) {
        // A failed analysis (memory ran out) is no measurement: kept in the
        // cache, its zero sharpness and missing faces would stand for the
        // photo in every later scan. Never a dead worker either.
        return std::nullopt;
    }

    CleanupMetrics metrics;
    metrics.fileSize = unit.fileSize;
    metrics.modified = secondsSince1970(unit.modified);
    // When it was taken and how it was exposed, in one read of the metadata.
    static const QString exposureBiasKey = QStringLiteral("Exif.Photo.ExposureBiasValue");
    static const QStringList keys = Metadata::captureDateKeys() + QStringList{exposureBiasKey};
    const std::optional<MetadataTags> tags = Metadata::readMetadata(url, keys);
    metrics.captureDate = secondsSince1970(captureDate(tags, unit.modified));
    if (const std::optional<QString> bias = tags ? tags->value(exposureBiasKey) : std::nullopt) {
        if (const std::optional<double> ev = Metadata::number(*bias); ev && std::abs(*ev) <= 64)
            metrics.exposureBias = float(*ev);
    }
    if (const std::optional<ImageHeader> header = Codec::probe(url))
        metrics.pixelCount = qint64(header->storedSize.width()) * header->storedSize.height();
    metrics.sharpness = measures.sharpness;
    metrics.faceSharpness = measures.faceSharpness;
    metrics.faceCount = measures.faceCount;
    metrics.closedFaces = measures.closedFaces;
    metrics.eyeOpenness = measures.eyeOpenness;
    metrics.eyeDarkness = measures.eyeDarkness;
    if (!measures.featurePrint.isEmpty())
        metrics.featurePrint = measures.featurePrint;
    metrics.printRevision = FeaturePrint::revision();
    metrics.eyesMeasured = FaceEyesDetector::hasLandmarkModel();
    metrics.version = cleanupMetricsVersion;
    // With the process out of file descriptors the libraries fail quietly
    // along the way (the capture date falls back to the file's time, a model
    // stays unread): what was measured then is not kept.
    if (outOfDescriptors())
        return std::nullopt;
    return metrics;
}

struct CleanupScanner::Shared {
    mutable QMutex lock;
    QHash<QString, QString> hashes; // by primary, under lock
    QHash<QString, int> ratings;    // rated primaries only, under lock
    std::atomic<bool> cancelled{false};
    std::atomic<int> pending{0};    // queued operations not yet run; the last one completes the scan
};

CleanupScanner::CleanupScanner(const QString &folder, QVector<CleanupUnit> units, bool useCache,
                               QObject *parent)
    : QObject(parent)
    , units(std::move(units))
    , cacheURL(cacheFileForScan(folder, useCache))
    , queue(std::make_unique<QThreadPool>())
    , shared(std::make_shared<Shared>())
    , measure(&computeMetrics)
{
    queue->setObjectName(QStringLiteral("Glanto.cleanup"));
    queue->setMaxThreadCount(2);
    queue->setThreadPriority(QThread::LowPriority);
}

CleanupScanner::~CleanupScanner()
{
    // Work still queued is dropped; a measurement already running finishes
    // before the scanner goes, and its posted result dies with it.
    const bool interrupted = started && !finished && !shared->cancelled;
    shared->cancelled = true;
    queue->clear();
    queue->waitForDone();
    // The program quitting mid-scan keeps what was measured, as leaving the
    // review does: the next scan of the folder starts from it.
    if (interrupted)
        saveCache();
}

void CleanupScanner::setMeasure(std::function<std::optional<CleanupMetrics>(const CleanupUnit &)> function)
{
    measure = std::move(function);
    measuresFaces = false;
}

void CleanupScanner::start()
{
    if (started)
        return;
    started = true;
    startTime.start();
    lastProgress = 0;

    // The cache file is read on a worker: a big folder's cache takes a while to
    // check and decode, and this is the main thread.
    std::shared_ptr<Shared> state = shared;
    HandOff::start(*queue, [this, state, cacheURL = cacheURL, units = units] {
        if (state->cancelled)
            return;
        QHash<QString, CleanupMetrics> valid;
        QVector<CleanupUnit> todo;
        const QHash<QString, CleanupMetrics> cached = cacheURL ? MetricsCache::load(*cacheURL)
                                                               : QHash<QString, CleanupMetrics>{};
        // Looking for the landmark model loads it (100 MB): only when a record
        // measured without it could be refreshed.
        const bool blindRecords = std::any_of(cached.cbegin(), cached.cend(), [](const CleanupMetrics &m) {
            return !m.eyesMeasured && m.faceCount > 0;
        });
        const bool landmarkModel = blindRecords && FaceEyesDetector::hasLandmarkModel();
        const int revision = FeaturePrint::revision();
        QList<QByteArray> prints;
        for (const CleanupUnit &unit : units) {
            const auto it = cached.constFind(QFileInfo(unit.primary).fileName());
            if (it != cached.cend() && MetricsCache::isValidFor(it.value(), unit, revision, landmarkModel)) {
                valid.insert(unit.primary, it.value());
                if (it->featurePrint && !it->featurePrint->isEmpty())
                    prints.append(*it->featurePrint);
            } else {
                todo.append(unit);
            }
        }
        DistanceCache::Distances distances;
        if (cacheURL && !prints.isEmpty())
            distances = DistanceCache::load(DistanceCache::fileBeside(*cacheURL), prints);
        HandOff::invoke(
            this,
            [this, valid = std::move(valid), todo = std::move(todo), distances = std::move(distances)] {
                cachedDistances = distances;
                cacheLoaded(valid, todo);
            },
            Qt::QueuedConnection);
    });
}

void CleanupScanner::cacheLoaded(const QHash<QString, CleanupMetrics> &valid, const QVector<CleanupUnit> &todo)
{
    if (shared->cancelled)
        return;
    metrics.insert(valid);
    done = int(valid.size());
    reportProgress();
    queueWork(todo);
}

void CleanupScanner::queueWork(const QVector<CleanupUnit> &todo)
{
    // Only a file whose size another unit shares can have a byte-identical twin.
    std::map<qint64, QStringList> bySize;
    for (const CleanupUnit &unit : units) {
        if (unit.fileSize >= 1)
            bySize[unit.fileSize].append(unit.primary);
    }
    QStringList candidates;
    for (const auto &[size, primaries] : bySize) {
        if (primaries.size() >= 2)
            candidates += primaries;
    }

    std::shared_ptr<Shared> state = shared;
    state->pending = int(todo.size()) + 2;

    // Runs on the worker that ran the last operation; the completion itself is
    // posted behind every result that operation and the others posted.
    const auto finishOne = [this, state] {
        if (--state->pending == 0 && !state->cancelled)
            HandOff::invoke(this, [this] { complete(); }, Qt::QueuedConnection);
    };

    // The face detector and the landmark model each take over half a second to read,
    // once per process. Left to the first photos, one worker reads the detector while
    // the other waits for it, and then the model; read here, the two workers read them
    // side by side before the photos.
    if (measuresFaces && !todo.isEmpty()) {
        HandOff::start(*queue, [state] {
            if (!state->cancelled)
                FaceEyesDetector::unpackFaceDetector();
        });
        HandOff::start(*queue, [state] {
            if (!state->cancelled)
                (void)FaceEyesDetector::hasLandmarkModel();
        });
    }

    // The person's ratings, read afresh on every scan, cached or not: a sidecar
    // changes without its photo. A rated photo is one the person keeps.
    QStringList primaries;
    for (const CleanupUnit &unit : units)
        primaries.append(unit.primary);
    HandOff::start(*queue, [state, primaries, finishOne] {
        for (const QString &primary : primaries) {
            if (state->cancelled)
                break;
            if (const int stars = XmpRating::readRating(primary); stars > 0) {
                QMutexLocker locker(&state->lock);
                state->ratings.insert(primary, stars);
            }
        }
        finishOne();
    });

    HandOff::start(*queue, [state, candidates, finishOne] {
        for (const QString &primary : candidates) {
            if (state->cancelled)
                break;
            if (std::optional<QString> digest = fileDigest(primary)) {
                QMutexLocker locker(&state->lock);
                state->hashes.insert(primary, *digest);
            }
        }
        finishOne();
    });

    for (const CleanupUnit &unit : todo) {
        HandOff::start(*queue, [this, state, unit, finishOne, measure = measure] {
            if (!state->cancelled) {
                std::optional<CleanupMetrics> result = measure(unit);
                HandOff::invoke(
                    this, [this, primary = unit.primary, result] { measuredOne(primary, result); },
                    Qt::QueuedConnection);
            }
            finishOne();
        });
    }
}

void CleanupScanner::measuredOne(const QString &primary, std::optional<CleanupMetrics> result)
{
    if (shared->cancelled)
        return;
    if (result)
        metrics.insert(primary, *result);
    ++measured;
    ++done;
    const double now = startTime.nsecsElapsed() / 1e9;
    if (now - lastProgress > progressInterval || done == units.size()) {
        lastProgress = now;
        reportProgress();
    }
    if (now - lastSave > saveInterval && done < units.size()) {
        lastSave = now;
        saveCache();
    }
}

void CleanupScanner::complete()
{
    if (shared->cancelled)
        return;
    finished = true;
    elapsed = startTime.nsecsElapsed() / 1e9;
    saveCache();
    reportProgress();
    if (onFinish)
        onFinish();
}

void CleanupScanner::cancel()
{
    shared->cancelled = true;
    queue->clear();
    saveCache();
}

bool CleanupScanner::isCancelled() const
{
    return shared->cancelled;
}

void CleanupScanner::reportProgress()
{
    if (onProgress)
        onProgress();
}

void CleanupScanner::saveCache() const
{
    // Everything already in the file came from it: a scan that measured
    // nothing new leaves the file as it is.
    if (!cacheURL || metrics.isEmpty() || measured == measuredSaved)
        return;
    measuredSaved = measured;
    QHash<QString, CleanupMetrics> byName;
    for (const CleanupUnit &unit : units) {
        const auto it = metrics.constFind(unit.primary);
        if (it != metrics.cend())
            byName.insert(QFileInfo(unit.primary).fileName(), it.value());
    }
    MetricsCache::save(*cacheURL, byName);
}

int CleanupScanner::ratingFor(const QString &primary) const
{
    QMutexLocker locker(&shared->lock);
    return shared->ratings.value(primary, 0);
}

std::optional<QString> CleanupScanner::digestFor(const QString &primary) const
{
    QMutexLocker locker(&shared->lock);
    const auto it = shared->hashes.constFind(primary);
    if (it == shared->hashes.cend())
        return std::nullopt;
    return it.value();
}

std::optional<QByteArray> CleanupScanner::printFor(const QString &primary)
{
    const auto memo = prints.constFind(primary);
    if (memo != prints.cend())
        return memo.value();
    const auto it = metrics.constFind(primary);
    if (it == metrics.cend() || !it->featurePrint || it->featurePrint->isEmpty())
        return std::nullopt;
    prints.insert(primary, *it->featurePrint);
    return *it->featurePrint;
}
