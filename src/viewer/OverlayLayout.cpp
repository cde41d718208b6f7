#include "viewer/OverlayLayout.h"

#include <algorithm>

namespace OverlayLayout {

QRect filmstripRect(QSize content, int filmstripHeight)
{
    return QRect(0, content.height() - filmstripHeight, content.width(), filmstripHeight);
}

QRect imageArea(QSize content, int filmstripHeight, bool filmstripFloating)
{
    const int height = filmstripFloating ? content.height() : content.height() - filmstripHeight;
    return QRect(0, 0, content.width(), std::max(0, height));
}

QRect hudRect(QSize hudSize)
{
    return QRect(QPoint(hudLeft, hudTop), hudSize);
}

QRect infoPanelRect(QSize content, int wantedHeight, const QRect &toolbar)
{
    const int left = content.width() - infoPanelMargin - infoPanelWidth;
    const bool besideToolbar = toolbar.isValid() && toolbar.right() + infoPanelMargin >= left;
    const int bottom = besideToolbar ? toolbar.top() : content.height();
    const int room = std::max(0, bottom - 2 * infoPanelMargin);
    return QRect(content.width() - infoPanelMargin - infoPanelWidth, infoPanelMargin, infoPanelWidth,
                 std::min(wantedHeight, room));
}

QRect toolbarRect(QSize content, QSize toolbarSize, int filmstripHeight)
{
    const int bottom = content.height() - filmstripHeight - toolbarGapAboveFilmstrip;
    return QRect((content.width() - toolbarSize.width()) / 2, bottom - toolbarSize.height(), toolbarSize.width(),
                 toolbarSize.height());
}

QRect previousArrowRect(QSize content)
{
    return QRect(arrowMargin, (content.height() - arrowSize.height()) / 2, arrowSize.width(), arrowSize.height());
}

QRect nextArrowRect(QSize content)
{
    return QRect(content.width() - arrowMargin - arrowSize.width(), (content.height() - arrowSize.height()) / 2,
                 arrowSize.width(), arrowSize.height());
}

int ratingBadgeOffset(bool controlsVisible, int toolbarFittingHeight, bool filmstripFloating, int filmstripHeight)
{
    if (controlsVisible)
        return -(std::max(toolbarFittingHeight, 44) + toolbarGapAboveFilmstrip + 8);
    // A floating filmstrip fades with the controls, so the badge may sit low.
    return filmstripFloating ? filmstripHeight - 14 : -14;
}

QRect ratingBadgeRect(QSize content, QSize badgeSize, int filmstripHeight, int offset)
{
    const int bottom = content.height() - filmstripHeight + offset;
    return QRect((content.width() - badgeSize.width()) / 2, bottom - badgeSize.height(), badgeSize.width(),
                 badgeSize.height());
}

QRect emptyStateRect(QSize content, QSize emptyStateSize)
{
    return QRect((content.width() - emptyStateSize.width()) / 2,
                 (content.height() - emptyStateSize.height()) / 2 - emptyStateLift, emptyStateSize.width(),
                 emptyStateSize.height());
}

} // namespace OverlayLayout

QString fiveStarText(int rating)
{
    const int filled = std::clamp(rating, 0, 5);
    return QString(filled, QChar(0x2605)) + QString(5 - filled, QChar(0x2606));
}

RatingDisplay ratingDisplay(int rating, bool badgeHiddenSetting, bool peeking, bool cleanupShown)
{
    RatingDisplay display;
    const int stars = std::clamp(rating, 0, 5);
    display.badgeText = QString(stars, QChar(0x2605));
    display.badgeVisible = stars > 0 && !badgeHiddenSetting && !peeking && !cleanupShown;
    display.toolbarStarsVisible = stars > 0 && badgeHiddenSetting;
    display.toolbarStarsText = fiveStarText(stars);
    return display;
}
