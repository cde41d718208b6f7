#pragma once

#include <QString>

class CleanupPage;
class ViewerWindowController;

// The cleanup review as a page of the window. The viewer's cleanup command
// builds the review for the folder on screen and puts it over the viewer; while
// it is shown the window's commands reach it alone, and when it is left the
// viewer comes back (with the folder read again when files were moved).
void installCleanupMode(ViewerWindowController *window);

// Enters the review now, as the command does; the page shown, or none when the
// viewer has no folder open.
CleanupPage *enterCleanup(ViewerWindowController *window);

// The review shown in the window, if any.
CleanupPage *shownCleanupPage(ViewerWindowController *window);

// The "--cleanup-shot" self-check: once the folder is open, enters the review,
// waits for its scan and thumbnails, saves the window as PNG at path and ends
// the process (status 0 when the file was written).
void scheduleCleanupShot(ViewerWindowController *window, const QString &path);
