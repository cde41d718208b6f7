#include "viewer/ControlsAutoHide.h"
#include "viewer/OverlayLayout.h"
#include "viewer/OverlayTooltips.h"

#include "settings/Settings.h"
#include "settings/Texts.h"
#include "TestApplication.h"

#include <gtest/gtest.h>

#include <vector>

using namespace OverlayLayout;

// The placements that depend on something: a panel taller than the window, the
// toolbar and badge following the filmstrip, the image area when it floats.
TEST(OverlayLayout, PlacementsFollowTheFilmstripAndTheWindow)
{
    const QSize content(1280, 800);
    EXPECT_EQ(infoPanelRect({1280, 300}, 900).height(), 276); // 12 stay free at the bottom
    // A window too narrow for the two side by side: the panel ends 12 above the
    // toolbar rather than over its buttons; a wide one leaves it the full height.
    const QRect narrowBar = toolbarRect({700, 440}, {533, 46}, 76);
    EXPECT_EQ(infoPanelRect({700, 440}, 900, narrowBar).bottom() + 1, narrowBar.top() - 12);
    EXPECT_EQ(infoPanelRect({700, 440}, 100, narrowBar).height(), 100);
    EXPECT_EQ(infoPanelRect({1280, 440}, 900, toolbarRect({1280, 440}, {533, 46}, 76)).height(), 416);
    const QSize toolbar(533, 46);
    EXPECT_EQ(toolbarRect(content, toolbar, 76), QRect(373, 800 - 76 - 8 - 46, 533, 46));
    EXPECT_EQ(toolbarRect(content, toolbar, 0).bottom() + 1, 792);
    EXPECT_EQ(filmstripRect(content, 0).height(), 0);
    EXPECT_EQ(imageArea(content, 76, false), QRect(0, 0, 1280, 724));
    EXPECT_EQ(imageArea(content, 76, true), QRect(0, 0, 1280, 800));
    EXPECT_EQ(imageArea(content, 0, false), QRect(0, 0, 1280, 800));

    // Controls shown: above the toolbar with 8 to spare, the toolbar counted at 44 at least.
    EXPECT_EQ(ratingBadgeOffset(true, 46, false, 76), -(46 + 8 + 8));
    EXPECT_EQ(ratingBadgeOffset(true, 30, false, 76), -(44 + 8 + 8));
    // Controls hidden: 14 above the filmstrip, or 14 above the bottom while it floats.
    EXPECT_EQ(ratingBadgeOffset(false, 46, false, 76), -14);
    EXPECT_EQ(ratingBadgeOffset(false, 46, true, 76), 62);
    EXPECT_EQ(ratingBadgeOffset(false, 46, true, 0), -14);
    EXPECT_EQ(ratingBadgeRect(content, {80, 30}, 76, 62), QRect(600, 800 - 14 - 30, 80, 30));
}

TEST(OverlayRating, BadgeAndToolbarStars)
{
    // Rated 3: three stars in the badge; with the badge off, the toolbar's five.
    RatingDisplay shown = ratingDisplay(3, false, false, false);
    EXPECT_TRUE(shown.badgeVisible);
    EXPECT_EQ(shown.badgeText, QStringLiteral("★★★"));
    EXPECT_FALSE(shown.toolbarStarsVisible);
    RatingDisplay off = ratingDisplay(3, true, false, false);
    EXPECT_FALSE(off.badgeVisible);
    EXPECT_TRUE(off.toolbarStarsVisible);
    EXPECT_EQ(off.toolbarStarsText, QStringLiteral("★★★☆☆"));
    // Unrated: neither.
    for (bool hidden : {false, true}) {
        const RatingDisplay none = ratingDisplay(0, hidden, false, false);
        EXPECT_FALSE(none.badgeVisible);
        EXPECT_FALSE(none.toolbarStarsVisible);
    }
    // A peek or the cleanup screen hides the badge; out-of-range ratings are clamped.
    EXPECT_FALSE(ratingDisplay(5, false, true, false).badgeVisible);
    EXPECT_FALSE(ratingDisplay(5, false, false, true).badgeVisible);
    EXPECT_EQ(ratingDisplay(9, false, false, false).badgeText, QStringLiteral("★★★★★"));
    EXPECT_EQ(fiveStarText(-2), QStringLiteral("☆☆☆☆☆"));
}

namespace {

struct AutoHideLog
{
    ControlsAutoHide rule;
    std::vector<std::pair<bool, double>> changes;
    AutoHideLog()
    {
        rule.onVisibilityChanged = [this](bool v, double s) { changes.emplace_back(v, s); };
    }
};

} // namespace

TEST(ControlsAutoHide, FadeOutThreeSecondsAfterActivityOneAfterThePointerLeaves)
{
    AutoHideLog log;
    log.rule.setHasPhoto(true, 0.0);
    ASSERT_EQ(log.changes.size(), 1u);
    EXPECT_EQ(log.changes.back(), std::make_pair(true, 0.15));
    log.rule.activity(2.0);
    EXPECT_FALSE(log.rule.runDueHide(4.9));
    EXPECT_TRUE(log.rule.visible());
    EXPECT_TRUE(log.rule.runDueHide(5.0));
    EXPECT_EQ(log.changes.back(), std::make_pair(false, 0.4));
    // Activity brings them back; the pointer leaving shortens the wait to 1 s.
    log.rule.activity(10.0);
    EXPECT_EQ(log.changes.back(), std::make_pair(true, 0.15));
    log.rule.pointerLeft(10.5);
    EXPECT_FALSE(log.rule.runDueHide(11.4));
    EXPECT_TRUE(log.rule.runDueHide(11.5));
    // Each activity restarts the count.
    log.rule.activity(20.0);
    log.rule.activity(22.0);
    EXPECT_FALSE(log.rule.runDueHide(24.5));
    EXPECT_TRUE(log.rule.runDueHide(25.0));
}

TEST(ControlsAutoHide, PeekAndEmptyFolderAreNotManaged)
{
    AutoHideLog log;
    // No photo: activity does nothing and nothing is scheduled.
    log.rule.activity(0.0);
    EXPECT_FALSE(log.rule.visible());
    EXPECT_FALSE(log.rule.hideDue());
    log.rule.setHasPhoto(true, 1.0);
    log.rule.setPeeking(true, 2.0);
    EXPECT_FALSE(log.rule.visible());
    EXPECT_FALSE(log.rule.hideDue());
    const size_t count = log.changes.size();
    log.rule.activity(3.0);
    log.rule.pointerLeft(3.5);
    EXPECT_EQ(log.changes.size(), count);
    EXPECT_FALSE(log.rule.runDueHide(100.0));
    // The end of the peek shows them and starts the 3 s count.
    log.rule.setPeeking(false, 10.0);
    EXPECT_TRUE(log.rule.visible());
    EXPECT_EQ(log.rule.hideDue(), 13.0);
    // A folder without photos hides them at once and cancels the count.
    log.rule.setHasPhoto(false, 11.0);
    EXPECT_EQ(log.changes.back(), std::make_pair(false, 0.0));
    EXPECT_FALSE(log.rule.hideDue());
}

class OverlayTooltips : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        testApplication();
        Texts::setLanguage("zh");
    }
    void SetUp() override
    {
        ASSERT_FALSE(qEnvironmentVariable("XDG_CONFIG_HOME").isEmpty());
        Settings::setCustomShortcuts({});
        Shortcuts::followStored();
    }
    void TearDown() override { Shortcuts::resetAll(); }
};

TEST_F(OverlayTooltips, TrailingKeyIsStrippedInEitherBracketStyle)
{
    EXPECT_EQ(stripTrailingKey(QStringLiteral("向右旋转 90°（R）")), QStringLiteral("向右旋转 90°"));
    EXPECT_EQ(stripTrailingKey(QStringLiteral("Rotate Right 90° (R)  ")), QStringLiteral("Rotate Right 90°"));
    EXPECT_EQ(stripTrailingKey(QStringLiteral("适应窗口（0 / 双击）")), QStringLiteral("适应窗口"));
    // Only a final bracket goes; nested or inner brackets stay.
    EXPECT_EQ(stripTrailingKey(QStringLiteral("A (b) c")), QStringLiteral("A (b) c"));
    EXPECT_EQ(stripTrailingKey(QStringLiteral("无括号")), QStringLiteral("无括号"));
}

TEST_F(OverlayTooltips, BuiltFromTheCurrentBinding)
{
    const QString format = QStringLiteral("%1$@（%2$@）");
    EXPECT_EQ(tooltipText(QStringLiteral("向右旋转 90°（R）"), QStringLiteral("K"), format),
              QStringLiteral("向右旋转 90°（K）"));
    EXPECT_EQ(tooltipText(QStringLiteral("向右旋转 90°（R）"), std::nullopt, format), QStringLiteral("向右旋转 90°"));

    const BindingLookup live = shortcutBindingLookup();
    EXPECT_EQ(buttonTooltip(OverlayButton::rotateCW, live), QStringLiteral("向右旋转 90°（R）"));
    EXPECT_EQ(buttonTooltip(OverlayButton::trash, live),
              QStringLiteral("移到回收站（%1）").arg(*live(OverlayButton::trash)));
    // Rebinding rotate-right to K replaces the bracketed R; unbinding drops the brackets.
    Shortcuts::setCombo(Shortcuts::comboForKey(Qt::Key_K, {}), ShortcutAction::rotateCW);
    EXPECT_EQ(buttonTooltip(OverlayButton::rotateCW, live), QStringLiteral("向右旋转 90°（K）"));
    Shortcuts::setCombo(std::nullopt, ShortcutAction::rotateCW);
    EXPECT_EQ(buttonTooltip(OverlayButton::rotateCW, live), QStringLiteral("向右旋转 90°"));
    // Fit has no bindable action: its text stays as written.
    EXPECT_EQ(buttonTooltip(OverlayButton::fit, live), QStringLiteral("适应窗口（Ctrl+0 / 双击）"));
    // The arrows name their keys too.
    EXPECT_EQ(buttonTooltip(OverlayButton::next, {}), QStringLiteral("下一张"));
}

TEST_F(OverlayTooltips, EnglishUsesItsOwnFormat)
{
    Texts::setLanguage("en");
    EXPECT_EQ(buttonTooltip(OverlayButton::rotateCW, [](OverlayButton) { return QStringLiteral("Ctrl+K"); }),
              QStringLiteral("Rotate Right 90° (Ctrl+K)"));
    Texts::setLanguage("zh");
}

TEST(OverlayButtons, EveryButtonHasATipAndTheArrowsTheirActions)
{
    for (const OverlayButtonInfo &info : toolbarButtons())
        EXPECT_TRUE(Texts::hasKey(info.tipKey)) << info.tipKey;
    EXPECT_EQ(buttonInfo(OverlayButton::previous).action, ShortcutAction::prev);
    EXPECT_EQ(buttonInfo(OverlayButton::next).action, ShortcutAction::next);
}
