#pragma once

#include <QString>

class CleanupScanner;

// The report mode: scans a folder without any window and without the metrics
// cache, and prints every photo's measurements, the distances between
// neighbours in capture order, the resulting groups and the timing, as
// tab-separated text on standard output in one write. Needs a
// QCoreApplication; runs an event loop of its own until the scan has finished.
// Returns the process exit status: 0 once the whole report is written (a folder
// that cannot be listed is reported as one without photos, and why goes to
// the error stream), 1 when writing it failed.
int runCleanupReport(const QString &folder);

// The report text of a folder, without the final line feed (blocking);
// listingError: why the folder could not be listed, 0 when it was.
QString cleanupReport(const QString &folder, int *listingError = nullptr);

// The report text of a finished scanner.
QString formatCleanupReport(CleanupScanner &scanner);
