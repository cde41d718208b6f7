#pragma once

#include "cleanup/CleanupTypes.h"

#include <QElapsedTimer>
#include <QObject>

#include <functional>
#include <memory>

class QThreadPool;

// Measures one unit: the 1280-px analysis image of its primary (the embedded
// preview for RAW), its sharpness, faces, eyes and feature print, and its
// sizes and dates. Absent when the picture cannot be decoded. Thread-safe; each
// calling thread gets an analyzer of its own.
std::optional<CleanupMetrics> computeMetrics(const CleanupUnit &unit);

// Measures every unit of a folder once on two background workers: first the
// digests of files whose size another unit shares, then one measuring operation
// per unit not found valid in the cache, then the completion; the ratings are
// read beside the digests. Everything but
// the digests is changed on the main thread only, where the owner reads it.
class CleanupScanner : public QObject
{
public:
    // With useCache the folder's cache file is read at start and written on
    // completion and on cancel; the report mode scans without it.
    CleanupScanner(const QString &folder, QVector<CleanupUnit> units, bool useCache,
                   QObject *parent = nullptr);
    ~CleanupScanner() override;

    // Main thread. Reads the cache on a worker, then (back on the main thread)
    // reports progress once and queues the work.
    void start();
    // Main thread. Drops the queued work, keeps the result of nothing still
    // running, and saves what has been measured so far.
    void cancel();
    bool isCancelled() const;

    // The person's star rating of a primary, 0 when none (or not read yet).
    int ratingFor(const QString &primary) const;
    // The digest of a primary, once the hashing worker has produced one.
    std::optional<QString> digestFor(const QString &primary) const;
    // The stored feature print of a measured primary, memoised.
    std::optional<QByteArray> printFor(const QString &primary);

    // Replaces computeMetrics, for tests that must not decode pictures.
    void setMeasure(std::function<std::optional<CleanupMetrics>(const CleanupUnit &)> measure);
    // How many units this scan actually measured (not taken from the cache).
    int measuredCount() const { return measured; }

    // Read by the owner on the main thread.
    const QVector<CleanupUnit> units;
    QHash<QString, CleanupMetrics> metrics; // by primary
    int done = 0;
    bool finished = false;
    double elapsed = 0;
    const std::optional<QString> cacheURL;
    // The neighbour distances stored beside the cache for the prints found
    // valid in it; set just before the first progress report.
    QHash<QPair<QByteArray, QByteArray>, float> cachedDistances;

    // Set before start; called on the main thread.
    std::function<void()> onProgress;
    std::function<void()> onFinish;

    // Progress is reported at most this often, plus once when measuring ends.
    static constexpr double progressInterval = 0.25;
    // A long scan saves what it has measured this often, so that a crash (or
    // the display going away) loses at most this much work.
    static constexpr double saveInterval = 30.0;

private:
    struct Shared;

    void cacheLoaded(const QHash<QString, CleanupMetrics> &valid, const QVector<CleanupUnit> &todo);
    void queueWork(const QVector<CleanupUnit> &todo);
    void measuredOne(const QString &primary, std::optional<CleanupMetrics> result);
    void complete();
    void saveCache() const;
    void reportProgress();

    std::unique_ptr<QThreadPool> queue;
    std::shared_ptr<Shared> shared; // lock, hashes and cancelled, shared with the workers
    QHash<QString, QByteArray> prints;
    std::function<std::optional<CleanupMetrics>(const CleanupUnit &)> measure;
    bool measuresFaces = true; // the program's own measure, which reads the face models
    QElapsedTimer startTime;
    double lastProgress = 0; // seconds since startTime
    double lastSave = 0;     // seconds since startTime
    int measured = 0;
    mutable int measuredSaved = 0; // measured when the cache was last written
    bool started = false;
};
