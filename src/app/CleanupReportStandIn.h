#pragma once

#include <QString>

// FIXME: stand-in until the cleanup report mode exists. When
// cleanup/CleanupReport.h provides runCleanupReport, include that header in
// AppDelegate.cpp instead of this one and delete this file.
inline int runCleanupReport(const QString &folder)
{
    Q_UNUSED(folder);
    return 0;
}
