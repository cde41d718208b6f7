#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QRectF>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>

#include <map>
#include <optional>

// rawExtensions() and distantPast() live with the folder model's rules.
#include "library/CaptureDate.h"
#include "platform/SupportedFiles.h"

// Whether the file's lower-cased extension is a RAW one (the name alone decides).
bool isRawFile(const QString &path);

// A photo as the cleanup sees it: one file, or a RAW file and its JPEG counted once.
struct CleanupUnit {
    QString primary;                   // analysed, hashed, shown and named
    QStringList companions;            // trashed and restored with the primary, folder order
    qint64 fileSize = 0;               // primary plus companions, bytes
    std::optional<QDateTime> modified; // the primary's modification date

    friend bool operator==(const CleanupUnit &, const CleanupUnit &) = default;
};

size_t qHash(const CleanupUnit &unit, size_t seed = 0);

// The current record format; entries of any other version are measured again.
// Version 1 records did not say whether the landmark model was missing when
// they were measured, so none of them can be trusted on that point. Version 2
// records hold capture dates read in the time zone of the machine that
// measured them, and without sub-seconds. Version 3 records lack the stored
// pixel count and the exposure bias that choose a burst's keeper.
constexpr int cleanupMetricsVersion = 4;

// The measurements of one unit; also the record of the per-folder cache.
struct CleanupMetrics {
    qint64 fileSize = 0;
    double modified = 0;     // seconds since 1970, 0 when absent
    double captureDate = 0;  // seconds since 1970
    qint64 pixelCount = 0;   // width times height as stored, 0 when unknown
    std::optional<float> exposureBias; // EV, as the camera recorded it
    float sharpness = 0;
    std::optional<float> faceSharpness;
    int faceCount = 0;
    QVector<QRectF> closedFaces; // normalized to the analysis image, origin top-left
    QVector<float> eyeOpenness;
    QVector<float> eyeDarkness;  // parallel to eyeOpenness
    std::optional<QByteArray> featurePrint;
    int printRevision = 0;
    int version = cleanupMetricsVersion;
    // False when the faces were found without the face-landmark model, so that
    // their eyes could not be measured: such a record is measured again once the
    // model is there.
    bool eyesMeasured = true;

    friend bool operator==(const CleanupMetrics &, const CleanupMetrics &) = default;
};


// Seconds since 1970 of a date, 0 when it is absent (the form dates take in metrics).
double secondsSince1970(const std::optional<QDateTime> &date);

enum class CleanupCategory { similar = 0, duplicate = 1, closedEyes = 2, blurry = 3 };

// The four categories in the order screens and reports list them.
const QVector<CleanupCategory> &allCleanupCategories();
// The category step places after category in that order (before it when
// negative), round the list.
CleanupCategory cleanupCategoryAfter(CleanupCategory category, int step);
std::optional<CleanupCategory> cleanupCategoryFromRaw(int raw);
// The case name ("similar", "closedEyes", ...) used by the report.
QString cleanupCategoryName(CleanupCategory category);
QString cleanupCategoryTitle(CleanupCategory category);
QString cleanupCategoryEmptyText(CleanupCategory category);

struct CleanupGroup {
    QVector<CleanupUnit> units;
    std::optional<QString> keeper;   // primary of the unit to keep; absent for closed eyes and blur
    std::optional<QDateTime> date;   // capture date of the earliest unit; similar groups only
};

struct CleanupResult {
    std::map<CleanupCategory, QVector<CleanupGroup>> groups;
    QSet<QString> suggested; // primaries proposed for the Trash
    QSet<QString> keepers;   // primaries marked as the ones to keep

    // Photos shown for a category: the units of all its groups, 0 when it has no entry.
    int unitCount(CleanupCategory category) const;
};
