#pragma once

#include "cleanup/CleanupTypes.h"

#include <functional>

class CleanupScanner;

// What the grouping reads of a scan: the measured metrics, the digests, the
// stored feature prints and how far apart two prints are. The scanner supplies
// it; tests build one by hand.
struct CleanupEvidence {
    std::function<const CleanupMetrics *(const QString &primary)> metrics;
    std::function<std::optional<QString>(const QString &primary)> digest;
    // The person's star rating, 0 when none.
    std::function<int(const QString &primary)> rating;
    std::function<std::optional<QByteArray>(const QString &primary)> print;
    // The largest finite float when the distance cannot be computed.
    std::function<float(const QByteArray &, const QByteArray &)> distance;
    // Neighbours in capture order at most this far apart are one burst.
    float burstThreshold = 0;
};

// The evidence of a scanner as it stands (it may still be running).
CleanupEvidence cleanupEvidence(CleanupScanner &scanner);

// Sorts the measured units into the four categories, names the keepers and the
// photos suggested for the Trash. A photo the person rated is always a keeper,
// and the best rated of a set is the one kept. Pure: a fresh result on every call.
CleanupResult buildCleanupResult(const QVector<CleanupUnit> &units, const CleanupEvidence &evidence);
CleanupResult buildCleanupResult(const QVector<CleanupUnit> &units, CleanupScanner &scanner);

// Neighbouring shots more than this many seconds apart never form one burst.
constexpr double burstMaxGap = 30.0;

// A face sharper than this, or without faces a picture sharper than the second,
// is in focus.
constexpr float blurryFaceSharpness = 10.0f;
constexpr float blurrySharpness = 20.0f;

bool isBlurry(const CleanupMetrics &metrics);
bool isClosedEyed(const CleanupMetrics &metrics);

// The keeper of a burst is the shot with the highest score: its sharpest face
// (weighted) or overall sharpness, far outweighed by having no closed eyes.
double keeperScore(const CleanupMetrics &metrics);

// The name order of the file browser, on the last path components.
bool nameLess(const QString &pathA, const QString &pathB);
