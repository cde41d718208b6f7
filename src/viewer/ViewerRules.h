#pragma once

#include "commands/Command.h"
#include "settings/SortKey.h"

#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QStringList>

#include <vector>

// Decisions of the viewer controller that need no window: the peek's window size,
// the prefetch order, the warm-up order, the escape rule, the cleanup hint and
// the state of menu items.

// Content size of the peek window for a photo of photoPixels at the given backing
// scale: 100 % in points, shrunk to 90 % of the visible area, and enlarged so
// that the shorter side is at least 360 points.
QSizeF peekContentSize(QSizeF photoPixels, double backingScale, QSizeF visibleArea);
// The window rectangle for a frame of frameSize centred on the visible area and
// kept inside it.
QRectF peekFrame(QSizeF frameSize, const QRectF &visibleArea);

// Positions to prefetch around current, nearest first: five ahead and two behind
// in the direction of travel (direction >= 0 counts as forward), wrapping.
std::vector<int> prefetchCandidates(int current, int count, int direction);
// Whether position is within 8 steps of current, counted around the ends.
bool withinKeepDistance(int position, int current, int count);

// Positions for the thumbnail warm-up: alternating +1, -1, +2, -2 ... without
// wrapping, at most 100.
std::vector<int> warmupOrder(int current, int count);

enum class EscapeOutcome { endPeek, hideInfo, closeWindow, zoomToFit, leaveFullScreen };
EscapeOutcome escapeOutcome(bool peeking, bool infoVisible, bool escCloses, bool fitMode, bool fullScreen);

// Whether opening a folder of photoCount photos shows the cleanup hint.
bool shouldShowCleanupHint(int photoCount, bool hintShown, const QStringList &arguments);

// What the viewer's menu state depends on, read at the moment a menu opens.
struct MenuContext
{
    int photoCount = 0;
    bool hasCurrent = false;
    SortKey sortKey = SortKey::name;
    bool sortReversed = false;
    bool escCloses = false;
    bool fadeTransition = false;
    int slideshowInterval = 3;
    bool wheelNavigates = false;
    bool wheelZoomInverted = false;
    int currentRating = 0;
    // The display name of the chosen editor; empty when none is chosen.
    QString editorName;
};

// The enabled state, tick and title of a viewer command's menu item. Commands
// not listed are enabled and unticked.
CommandState viewerCommandState(CommandId command, int tag, const MenuContext &context);

// The slideshow intervals offered, in seconds; any other stored value reads as 3.
inline constexpr int slideshowIntervals[] = {1, 2, 3, 5, 10};
