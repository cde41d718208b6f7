#include "settings/Texts.h"
#include "viewer/ViewerRules.h"

#include <gtest/gtest.h>

TEST(ViewerRules, PeekOfASmallPhotoOnARetinaScreenGrowsToThreeSixty)
{
    // 400 x 300 pixels at backing scale 2 start from 200 x 150 points.
    EXPECT_EQ(peekContentSize({400, 300}, 2.0, {2560, 1600}), QSizeF(480, 360));
    // A large photo shrinks to 90 % of the visible area.
    EXPECT_EQ(peekContentSize({8000, 6000}, 1.0, {2560, 1600}), QSizeF(1920, 1440));
    // A photo that fits at 100 % keeps that size.
    EXPECT_EQ(peekContentSize({1200, 800}, 1.0, {2560, 1600}), QSizeF(1200, 800));
    EXPECT_TRUE(peekContentSize({0, 300}, 2.0, {2560, 1600}).isEmpty());
}

TEST(ViewerRules, PeekFrameIsCentredAndKeptOnScreen)
{
    const QRectF visible(0, 30, 2560, 1570);
    EXPECT_EQ(peekFrame({1000, 500}, visible), QRectF(780, 565, 1000, 500));
    const QRectF huge = peekFrame({3000, 2000}, visible);
    EXPECT_EQ(huge.topLeft(), QPointF(0, 30));
}

TEST(ViewerRules, PrefetchOrderFollowsTheDirectionOfTravel)
{
    EXPECT_EQ(prefetchCandidates(3, 24, +1), (std::vector<int>{4, 2, 5, 1, 6, 7, 8}));
    EXPECT_EQ(prefetchCandidates(2, 24, -1), (std::vector<int>{3, 1, 4, 0, 23, 22, 21}));
    // Direction 0 (nothing moved yet) counts as forward; wrapping at both ends.
    EXPECT_EQ(prefetchCandidates(0, 10, 0), (std::vector<int>{1, 9, 2, 8, 3, 4, 5}));
    // A tiny folder repeats positions rather than inventing any.
    for (int p : prefetchCandidates(0, 2, 1))
        EXPECT_TRUE(p == 0 || p == 1);
    EXPECT_TRUE(prefetchCandidates(0, 0, 1).empty());

    EXPECT_TRUE(withinKeepDistance(22, 3, 24));   // 5 around the end
    EXPECT_TRUE(withinKeepDistance(11, 3, 24));   // exactly 8
    EXPECT_FALSE(withinKeepDistance(12, 3, 24));  // 9
}

TEST(ViewerRules, WarmUpAlternatesWithoutWrappingAndStopsAtAHundred)
{
    EXPECT_EQ(warmupOrder(2, 5), (std::vector<int>{3, 1, 4, 0}));
    EXPECT_EQ(warmupOrder(0, 3), (std::vector<int>{1, 2}));
    EXPECT_TRUE(warmupOrder(0, 1).empty());
    const std::vector<int> big = warmupOrder(500, 5000);
    ASSERT_EQ(big.size(), 100u);
    EXPECT_EQ(big[0], 501);
    EXPECT_EQ(big[1], 499);
    EXPECT_EQ(big[99], 450);
}

TEST(ViewerRules, EscapeRulesInOrder)
{
    EXPECT_EQ(escapeOutcome(true, true, true, true, true), EscapeOutcome::endPeek);
    EXPECT_EQ(escapeOutcome(false, true, true, true, true), EscapeOutcome::hideInfo);
    EXPECT_EQ(escapeOutcome(false, false, true, true, false), EscapeOutcome::closeWindow);
    EXPECT_EQ(escapeOutcome(false, false, true, false, true), EscapeOutcome::zoomToFit);
    EXPECT_EQ(escapeOutcome(false, false, false, true, true), EscapeOutcome::leaveFullScreen);
    EXPECT_EQ(escapeOutcome(false, false, false, true, false), EscapeOutcome::zoomToFit);
}

TEST(ViewerRules, CleanupHintOnceForFiftyPhotosAndNeverWithASwitch)
{
    EXPECT_FALSE(shouldShowCleanupHint(49, false, {}));
    EXPECT_TRUE(shouldShowCleanupHint(50, false, {"/home/me/Pictures"}));
    EXPECT_FALSE(shouldShowCleanupHint(50, true, {}));
    EXPECT_FALSE(shouldShowCleanupHint(500, false, {"--shot", "/tmp/a.png"}));
    // A single dash (a system argument) is not a switch.
    EXPECT_TRUE(shouldShowCleanupHint(50, false, {"-psn_0_1234"}));
}

TEST(ViewerRules, MenuStatesFollowThePreferencesAndTheCurrentPhoto)
{
    MenuContext c;
    c.photoCount = 0;
    EXPECT_FALSE(viewerCommandState(CommandId::toggleCleanup, 0, c).enabled);
    c.photoCount = 3;
    c.hasCurrent = true;
    c.sortKey = SortKey::size;
    c.wheelNavigates = false;
    c.slideshowInterval = 5;
    c.currentRating = 2;
    EXPECT_TRUE(viewerCommandState(CommandId::toggleCleanup, 0, c).enabled);
    EXPECT_FALSE(viewerCommandState(CommandId::toggleCleanup, 0, c).checked);
    EXPECT_TRUE(viewerCommandState(CommandId::setSortKey, 4, c).checked);
    EXPECT_FALSE(viewerCommandState(CommandId::setSortKey, 0, c).checked);
    EXPECT_TRUE(viewerCommandState(CommandId::setWheelAction, 0, c).checked);
    EXPECT_FALSE(viewerCommandState(CommandId::setWheelAction, 1, c).checked);
    EXPECT_TRUE(viewerCommandState(CommandId::setSlideshowInterval, 5, c).checked);
    EXPECT_FALSE(viewerCommandState(CommandId::setSlideshowInterval, 3, c).checked);
    EXPECT_TRUE(viewerCommandState(CommandId::setRatingMenu, 2, c).checked);
    EXPECT_FALSE(viewerCommandState(CommandId::openInEditor, 0, c).checked);
    // The editor item names the chosen editor, or asks to choose one.
    EXPECT_EQ(viewerCommandState(CommandId::openInEditor, 0, c).title, Texts::text("menu.editChoose"));
    c.editorName = QStringLiteral("GIMP");
    EXPECT_EQ(viewerCommandState(CommandId::openInEditor, 0, c).title, Texts::format("menu.editIn", {"GIMP"}));

    c = MenuContext();
    c.hasCurrent = false;
    EXPECT_FALSE(viewerCommandState(CommandId::setRatingMenu, 0, c).enabled);
    EXPECT_FALSE(viewerCommandState(CommandId::setRatingMenu, 0, c).checked);
    EXPECT_FALSE(viewerCommandState(CommandId::openInEditor, 0, c).enabled);
    for (const CommandId id : {CommandId::exportAs, CommandId::saveRotation, CommandId::batchConvert})
        EXPECT_FALSE(viewerCommandState(id, 0, c).enabled) << int(id);
}
