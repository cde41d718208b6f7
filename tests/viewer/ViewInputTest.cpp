#include "viewer/ViewInput.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

WheelSample notch(double dy, double time, QPointF at = {50, 50})
{
    WheelSample s;
    s.delta = {0, dy};
    s.time = time;
    s.position = at;
    return s;
}

WheelSample swipe(double dy, double time, bool began = false)
{
    WheelSample s = notch(dy, time);
    s.precise = true;
    s.gestureBegan = began;
    return s;
}

const WheelSettings navigates{true, false};
const WheelSettings zooms{false, false};

} // namespace

TEST(WheelInput, NotchesNavigateOnePhotoEachAndBurstsCountOnce)
{
    WheelInput input;
    EXPECT_EQ(input.wheel(notch(-1, 1.0), navigates, false).step, +1); // towards the user: next
    EXPECT_EQ(input.wheel(notch(+1, 2.0), navigates, false).step, -1); // away: previous

    // Three notch events in the same instant move one photo, not three.
    int steps = 0;
    for (int i = 0; i < 3; ++i)
        steps += input.wheel(notch(-1, 3.0), navigates, false).kind == WheelAction::Kind::navigate;
    EXPECT_EQ(steps, 1);
    EXPECT_EQ(input.wheel(notch(-1, 3.05), navigates, false).kind, WheelAction::Kind::none);
    EXPECT_EQ(input.wheel(notch(-1, 3.07), navigates, false).kind, WheelAction::Kind::navigate);
}

TEST(WheelInput, WhenNavigatingAZoomedPhotoPansAndCommandZooms)
{
    WheelInput input;
    WheelAction a = input.wheel(notch(-1, 1.0), navigates, true);
    EXPECT_EQ(a.kind, WheelAction::Kind::pan);
    EXPECT_EQ(a.panBy, QPointF(0, 10));

    WheelSample precise = swipe(-4, 1.1);
    a = input.wheel(precise, navigates, true);
    EXPECT_EQ(a.panBy, QPointF(0, 4));

    WheelSample cmd = notch(-1, 1.2, {10, 20});
    cmd.commandHeld = true;
    a = input.wheel(cmd, navigates, false);
    EXPECT_EQ(a.kind, WheelAction::Kind::zoom);
    EXPECT_DOUBLE_EQ(a.factor, 1.25);
    EXPECT_EQ(a.anchor, QPointF(10, 20));
}

TEST(WheelInput, ZoomModeZoomsAboutThePointerAndCommandPans)
{
    WheelInput input;
    WheelAction a = input.wheel(notch(-2, 1.0, {30, 40}), zooms, false);
    EXPECT_EQ(a.kind, WheelAction::Kind::zoom);
    EXPECT_DOUBLE_EQ(a.factor, 1.25 * 1.25);
    EXPECT_EQ(a.anchor, QPointF(30, 40));

    const WheelSettings inverted{false, true};
    a = input.wheel(notch(-2, 1.1), inverted, false);
    EXPECT_DOUBLE_EQ(a.factor, 1.0 / (1.25 * 1.25));

    a = input.wheel(swipe(10, 1.2), zooms, false);
    EXPECT_NEAR(a.factor, std::pow(1.004, -10), 1e-12);

    WheelSample cmd = notch(1, 1.3);
    cmd.commandHeld = true;
    EXPECT_EQ(input.wheel(cmd, zooms, false).kind, WheelAction::Kind::pan);

    // Momentum keeps the anchor of the gesture; a zero delta does nothing.
    WheelSample momentum = swipe(-3, 2.0);
    momentum.momentum = true;
    momentum.position = {500, 500};
    EXPECT_EQ(input.wheel(momentum, zooms, false).anchor, QPointF(50, 50));
    EXPECT_EQ(input.wheel(notch(0, 2.1), zooms, false).kind, WheelAction::Kind::none);
}

TEST(WheelInput, ATrackpadSwipeMovesOnePhotoAndTheNextSwipeTheNextOne)
{
    WheelInput input;
    int steps = 0;
    int last = 0;
    auto feed = [&](const WheelSample &s) {
        const WheelAction a = input.wheel(s, navigates, false);
        if (a.kind == WheelAction::Kind::navigate) {
            ++steps;
            last = a.step;
        }
    };
    feed(swipe(-10, 1.00, true));
    EXPECT_EQ(steps, 0); // below the 30-point threshold
    for (int i = 1; i < 40; ++i)
        feed(swipe(-10, 1.0 + i * 0.01));
    EXPECT_EQ(steps, 1);
    EXPECT_EQ(last, +1);
    // Momentum never navigates.
    WheelSample momentum = swipe(-50, 1.5);
    momentum.momentum = true;
    feed(momentum);
    EXPECT_EQ(steps, 1);

    feed(swipe(-40, 2.0, true));
    EXPECT_EQ(steps, 2);

    // Natural scrolling turns the meaning of the same deltas around.
    WheelSample natural = swipe(-40, 3.0, true);
    natural.inverted = true;
    feed(natural);
    EXPECT_EQ(last, -1);
}

TEST(WheelInput, MomentumRightAfterAPinchIsIgnored)
{
    WheelInput input;
    EXPECT_EQ(input.pinch({100, 100}, 0.5, false, 1.0).value(), 1.5);
    EXPECT_TRUE(input.isPinching);
    // The anchor stays where the pinch began.
    input.pinch({300, 300}, 0.1, false, 1.1);
    EXPECT_EQ(input.gestureAnchor, QPointF(100, 100));
    // While pinching the wheel is ignored entirely.
    EXPECT_EQ(input.wheel(notch(-1, 1.15), zooms, false).kind, WheelAction::Kind::none);
    EXPECT_FALSE(input.pinch({300, 300}, 0, true, 1.2));
    EXPECT_FALSE(input.isPinching);

    WheelSample momentum = swipe(-5, 1.5);
    momentum.momentum = true;
    EXPECT_EQ(input.wheel(momentum, zooms, false).kind, WheelAction::Kind::none);
    momentum.time = 1.56;
    EXPECT_EQ(input.wheel(momentum, zooms, false).kind, WheelAction::Kind::zoom);
}

TEST(ClickTracker, TwoPointsIsAClickFourIsADrag)
{
    ClickTracker clicks;
    clicks.press({10, 10}, {0, 0});
    EXPECT_EQ(clicks.drag({12, 10}), QPointF(2, 0));
    EXPECT_TRUE(clicks.release(1));

    clicks.press({10, 10}, {5, 5});
    EXPECT_EQ(clicks.drag({14, 10}), QPointF(9, 5));
    EXPECT_TRUE(clicks.mouseMovedSinceDown);
    EXPECT_FALSE(clicks.release(1));

    // The release of a double click is never a single click; no press, no drag.
    clicks.press({10, 10}, {0, 0});
    EXPECT_FALSE(clicks.release(2));
    EXPECT_FALSE(clicks.drag({20, 20}));
}
