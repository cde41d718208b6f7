#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPair>
#include <QString>

#include <optional>

// Feature-print distances between neighbouring photos, kept beside a folder's
// metrics cache. Measuring one pair costs milliseconds, and a folder of a few
// thousand photos has thousands of neighbour pairs: without this file every
// return to the review screen would wait seconds for its bursts again.
//
// Each record names its two prints by the first eight bytes of their SHA-256,
// so an entry can only ever apply to the very prints it was measured on; a
// changed photo simply finds nothing. Like the metrics cache, nothing here is
// reported: a missing, foreign or damaged file reads as empty.
namespace DistanceCache {

using PrintPair = QPair<QByteArray, QByteArray>;
using Distances = QHash<PrintPair, float>;
using KeyPair = QPair<quint64, quint64>;

// The distances file that belongs to a metrics cache file.
QString fileBeside(const QString &metricsFile);

// The key a print is stored under.
quint64 printKey(const QByteArray &print);

// The file's form: "GLDIST1\n", a little-endian 32-bit count, then per pair two
// 64-bit keys and a 32-bit float. Exposed for tests and fuzzing.
QByteArray encode(const QHash<KeyPair, float> &byKey);
std::optional<QHash<KeyPair, float>> decode(const QByteArray &bytes);

// The stored distances among these prints; pairs naming any other print are
// left out.
Distances load(const QString &path, const QList<QByteArray> &prints);
// Replaces the file atomically. Returns whether it was replaced.
bool save(const QString &path, const Distances &distances);

// Files larger than this are not read: enough for a folder of 100,000 photos.
constexpr int maxRecords = 500'000;

} // namespace DistanceCache
