#pragma once

#include "cleanup/CleanupTypes.h"

// The per-folder store of measured metrics: one binary property list per folder
// in the user's cache directory, keyed by the primary files' names. Digests are
// never stored. Nothing here is reported to the user: a file that cannot be read
// or decoded in full is an empty cache, and a failed save keeps the old file.
namespace MetricsCache {

// The directory that holds every folder's cache file ("Glanto/Cleanup" in the
// user's cache location); empty when there is no cache location.
QString directory();

// The cache file name of a folder: the first 12 bytes of the SHA-256 of its
// standardized path (dots resolved, no trailing slash) in hex, plus ".plist".
QString fileName(const QString &folder);

// The standardized form of a folder path used for the name.
QString standardizedPath(const QString &folder);

// Full path of the folder's cache file; absent without a cache location.
std::optional<QString> fileFor(const QString &folder);

// File name to metrics; empty when the file is missing, too large, or anything in
// it does not decode (a truncated, foreign or hostile file included).
QHash<QString, CleanupMetrics> load(const QString &path);

// Replaces the file atomically with these entries. Writes nothing for an empty
// dictionary. Returns whether the file was replaced.
bool save(const QString &path, const QHash<QString, CleanupMetrics> &byName);

// The encoded and decoded forms, exposed for tests.
QByteArray encode(const QHash<QString, CleanupMetrics> &byName);
std::optional<QHash<QString, CleanupMetrics>> decode(const QByteArray &bytes);

// Whether a cached entry still describes the unit: same total size, same
// modification time to the last bit, the feature-print revision in use and the
// current record version. A record whose faces had no eye measures for want of
// the landmark model is stale once the model is there (landmarkModel).
bool isValidFor(const CleanupMetrics &entry, const CleanupUnit &unit, int printRevision, bool landmarkModel);

// Cache files larger than this are not read at all: a record is well under a
// kilobyte, so this holds the measurements of some hundred thousand photos.
constexpr qint64 maxFileSize = 64 * 1024 * 1024;

} // namespace MetricsCache
