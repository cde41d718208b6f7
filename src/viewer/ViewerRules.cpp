#include "viewer/ViewerRules.h"

#include "settings/Texts.h"

#include <algorithm>
#include <cstdlib>

QSizeF peekContentSize(QSizeF photoPixels, double backingScale, QSizeF visibleArea)
{
    if (photoPixels.width() <= 0 || photoPixels.height() <= 0 || backingScale <= 0)
        return {};
    const QSizeF photo = photoPixels / backingScale;
    const double k = std::min({1.0, 0.9 * visibleArea.width() / photo.width(),
                               0.9 * visibleArea.height() / photo.height()});
    QSizeF content = photo * k;
    const double shorter = std::min(content.width(), content.height());
    if (shorter < 360 && shorter > 0)
        content *= 360 / shorter;
    return content;
}

QRectF peekFrame(QSizeF frameSize, const QRectF &visibleArea)
{
    QRectF frame(QPointF(0, 0), frameSize);
    frame.moveCenter(visibleArea.center());
    if (frame.right() > visibleArea.right())
        frame.moveRight(visibleArea.right());
    if (frame.bottom() > visibleArea.bottom())
        frame.moveBottom(visibleArea.bottom());
    if (frame.left() < visibleArea.left())
        frame.moveLeft(visibleArea.left());
    if (frame.top() < visibleArea.top())
        frame.moveTop(visibleArea.top());
    return frame;
}

std::vector<int> prefetchCandidates(int current, int count, int direction)
{
    std::vector<int> out;
    if (count <= 0)
        return out;
    const int forward = direction >= 0 ? 5 : 2;
    const int backward = direction >= 0 ? 2 : 5;
    for (int k = 1; k <= 5; ++k) {
        if (k <= forward)
            out.push_back(((current + k) % count + count) % count);
        if (k <= backward)
            out.push_back(((current - k) % count + count) % count);
    }
    return out;
}

bool withinKeepDistance(int position, int current, int count)
{
    const int d = std::abs(position - current);
    return std::min(d, count - d) <= 8;
}

std::vector<int> warmupOrder(int current, int count)
{
    std::vector<int> out;
    for (int k = 1; out.size() < 100; ++k) {
        bool added = false;
        if (current + k < count) {
            out.push_back(current + k);
            added = true;
        }
        if (out.size() < 100 && current - k >= 0) {
            out.push_back(current - k);
            added = true;
        }
        if (!added)
            break;
    }
    return out;
}

EscapeOutcome escapeOutcome(bool peeking, bool infoVisible, bool escCloses, bool fitMode, bool fullScreen)
{
    if (peeking)
        return EscapeOutcome::endPeek;
    if (infoVisible)
        return EscapeOutcome::hideInfo;
    if (escCloses)
        return fitMode ? EscapeOutcome::closeWindow : EscapeOutcome::zoomToFit;
    return fullScreen ? EscapeOutcome::leaveFullScreen : EscapeOutcome::zoomToFit;
}

bool shouldShowCleanupHint(int photoCount, bool hintShown, const QStringList &arguments)
{
    if (photoCount < 50 || hintShown)
        return false;
    return std::none_of(arguments.begin(), arguments.end(),
                        [](const QString &a) { return a.startsWith(QLatin1String("--")); });
}

CommandState viewerCommandState(CommandId command, int tag, const MenuContext &c)
{
    switch (command) {
    case CommandId::toggleCleanup: return {c.photoCount >= 1, false, {}};
    case CommandId::setSortKey: return {true, tag == int(c.sortKey), {}};
    case CommandId::toggleSortReversed: return {true, c.sortReversed, {}};
    case CommandId::toggleEscCloses: return {true, c.escCloses, {}};
    case CommandId::toggleFadeTransition: return {true, c.fadeTransition, {}};
    case CommandId::setSlideshowInterval: return {true, tag == c.slideshowInterval, {}};
    case CommandId::setWheelAction: return {true, (tag == 1) == c.wheelNavigates, {}};
    case CommandId::toggleWheelZoomInverted: return {true, c.wheelZoomInverted, {}};
    case CommandId::renameCurrent:
    case CommandId::batchRename:
    // With no photo shown there is nothing to export or to turn.
    case CommandId::exportAs:
    case CommandId::saveRotation: return {c.hasCurrent, false, {}};
    case CommandId::batchConvert: return {c.photoCount >= 1, false, {}};
    case CommandId::setRatingMenu: return {c.hasCurrent, c.hasCurrent && tag == c.currentRating, {}};
    case CommandId::openInEditor: {
        const QString title = c.editorName.isEmpty() ? Texts::text("menu.editChoose")
                                                     : Texts::format("menu.editIn", {c.editorName});
        return {c.hasCurrent, false, title};
    }
    default: return {true, false, {}};
    }
}
