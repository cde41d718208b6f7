#pragma once

#include <QRect>
#include <QSize>
#include <QString>

// Where the overlays sit over the photo, as plain functions of the content view's
// size, so every placement figure is checked without a window. The filmstrip top
// is the y of the filmstrip's upper edge: content height minus its height (76
// shown, 0 hidden), whether it floats over the photo or not.
namespace OverlayLayout {

inline constexpr int filmstripShownHeight = 76;

inline constexpr int hudLeft = 12;
inline constexpr int hudTop = 44;

inline constexpr int infoPanelMargin = 12;
inline constexpr int infoPanelWidth = 300;

inline constexpr int toolbarGapAboveFilmstrip = 8;

inline constexpr int arrowMargin = 12;
inline constexpr QSize arrowSize{44, 56};

inline constexpr int emptyStateLift = 30;

// The filmstrip: full width at the bottom.
QRect filmstripRect(QSize content, int filmstripHeight);
// The photo's area: above the filmstrip, or the whole height while it floats.
QRect imageArea(QSize content, int filmstripHeight, bool filmstripFloating);

QRect hudRect(QSize hudSize);
// 300 wide, 12 from the top and the right edge; its height is what it needs, at
// most the room down to 12 above the bottom, or to 12 above the toolbar where
// a narrow window puts the two side by side (so that no button is covered).
QRect infoPanelRect(QSize content, int wantedHeight, const QRect &toolbar = QRect());
// Centred, its bottom 8 above the filmstrip top.
QRect toolbarRect(QSize content, QSize toolbarSize, int filmstripHeight);
// 12 from the left / right edge, centred vertically.
QRect previousArrowRect(QSize content);
QRect nextArrowRect(QSize content);

// Distance of the rating badge's bottom from the filmstrip top (negative: above).
int ratingBadgeOffset(bool controlsVisible, int toolbarFittingHeight, bool filmstripFloating, int filmstripHeight);
// Centred, its bottom at the filmstrip top plus the offset.
QRect ratingBadgeRect(QSize content, QSize badgeSize, int filmstripHeight, int offset);

// Centred, 30 above the middle.
QRect emptyStateRect(QSize content, QSize emptyStateSize);

} // namespace OverlayLayout

// What the rating shows: the badge over the photo, and the stars in the toolbar
// when the badge is switched off.
struct RatingDisplay
{
    bool badgeVisible = false;
    QString badgeText;           // "★" x rating
    bool toolbarStarsVisible = false;
    QString toolbarStarsText;    // "★" x rating, then "☆" to five
};

RatingDisplay ratingDisplay(int rating, bool badgeHiddenSetting, bool peeking, bool cleanupShown);
// "★" x rating then "☆" up to five; rating is clamped to 0...5.
QString fiveStarText(int rating);
