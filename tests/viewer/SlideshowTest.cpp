#include "viewer/SlideshowClock.h"
#include "viewer/SlideshowController.h"

#include "settings/Texts.h"
#include "TestApplication.h"

#include <gtest/gtest.h>

#include <vector>

// The clock on its own: when ticks fall due.

TEST(SlideshowClock, EachPhotoGetsAFullIntervalCountedFromWhenItIsOnScreen)
{
    SlideshowClock clock;
    clock.start(100.0, 3);
    EXPECT_EQ(clock.nextTick(), 103.0);
    EXPECT_FALSE(clock.takeTick(102.9));
    EXPECT_TRUE(clock.takeTick(103.0));
    // The decode takes 5 s, longer than the interval: no second tick meanwhile.
    EXPECT_FALSE(clock.nextTick());
    EXPECT_FALSE(clock.takeTick(106.5));
    EXPECT_FALSE(clock.takeTick(150.0));
    clock.photoShown(108.0);
    EXPECT_EQ(clock.nextTick(), 111.0);
    EXPECT_TRUE(clock.takeTick(111.2));
}

TEST(SlideshowClock, PauseHoldsAndResumeGivesAFullInterval)
{
    SlideshowClock clock;
    clock.start(0.0, 3);
    clock.pause();
    EXPECT_TRUE(clock.isOn());
    EXPECT_TRUE(clock.isPaused());
    EXPECT_FALSE(clock.takeTick(10.0));
    // The photo of a tick taken before the pause arrives while paused: still held.
    clock.photoShown(11.0);
    EXPECT_FALSE(clock.nextTick());
    clock.resume(20.0);
    EXPECT_EQ(clock.nextTick(), 23.0);
    // Resume from playing, pause from paused and photoShown when stopped change nothing.
    clock.resume(21.0);
    EXPECT_EQ(clock.nextTick(), 23.0);
    clock.stop();
    clock.photoShown(22.0);
    clock.pause();
    EXPECT_EQ(clock.state(), SlideshowClock::State::stopped);
    EXPECT_FALSE(clock.nextTick());
}

TEST(SlideshowClock, IntervalChangeRestartsWhilePlayingAndWaitsWhilePausedOrAwaiting)
{
    SlideshowClock clock;
    clock.start(0.0, 3);
    clock.setInterval(2.0, 10);
    EXPECT_EQ(clock.nextTick(), 12.0);

    clock.pause();
    clock.setInterval(5.0, 1);
    EXPECT_FALSE(clock.nextTick());
    clock.resume(6.0);
    EXPECT_EQ(clock.nextTick(), 7.0);

    // Changed while the tick's photo is on its way: it counts from the photo.
    ASSERT_TRUE(clock.takeTick(7.0));
    clock.setInterval(7.5, 5);
    EXPECT_FALSE(clock.nextTick());
    clock.photoShown(8.0);
    EXPECT_EQ(clock.nextTick(), 13.0);
}

TEST(SlideshowClock, AModalDialogOrAHiddenWindowHoldsTicksAndThePhotoGetsAFreshInterval)
{
    SlideshowClock clock;
    clock.start(0.0, 3);
    clock.setModalOpen(true, 1.0);
    EXPECT_FALSE(clock.takeTick(3.0));
    EXPECT_FALSE(clock.takeTick(60.0));
    clock.setModalOpen(false, 61.0);
    EXPECT_EQ(clock.nextTick(), 64.0);
    // A photo that arrives under the dialog also waits for it.
    ASSERT_TRUE(clock.takeTick(64.0));
    clock.setModalOpen(true, 64.5);
    clock.photoShown(65.0);
    EXPECT_FALSE(clock.takeTick(70.0));
    clock.setModalOpen(false, 70.0);
    EXPECT_EQ(clock.nextTick(), 73.0);

    // The window out of sight holds the ticks the same way, and both holds must
    // end before the count goes on.
    clock.setOutOfSight(true, 71.0);
    clock.setModalOpen(true, 72.0);
    EXPECT_FALSE(clock.takeTick(90.0));
    clock.setOutOfSight(false, 91.0);
    EXPECT_FALSE(clock.nextTick());
    clock.setModalOpen(false, 100.0);
    EXPECT_EQ(clock.nextTick(), 103.0);
}

TEST(SlideshowClock, TickFadeFollowsIntervalAndSetting)
{
    // Default interval 3 s: the fade setting decides (1.0 unset, 1.5 when chosen).
    EXPECT_EQ(slideshowTickFade(3, true, 1.0), 1.0);
    EXPECT_EQ(slideshowTickFade(3, true, 1.5), 1.5);
    // 1 s interval: 0.8 s whatever the setting.
    EXPECT_DOUBLE_EQ(*slideshowTickFade(1, true, 3.0), 0.8);
    EXPECT_DOUBLE_EQ(*slideshowTickFade(1, true, 0.5), 0.5);
    EXPECT_DOUBLE_EQ(*slideshowTickFade(2, true, 3.0), 1.6);
    // Slideshow fade off: no duration of its own, the paging rule applies.
    EXPECT_FALSE(slideshowTickFade(3, false, 1.5));
}

// The controller with a clock the test moves by hand.

namespace {

struct Harness
{
    SlideshowController controller;
    double time = 1000.0;
    int photos = 5;
    int index = 0;
    bool fullScreen = false;
    int fullScreenRequests = 0;
    bool floating = false;
    bool on = false;
    // A photo change waits for the test to "decode" it unless instant.
    bool instantPhotos = true;
    bool photoPending = false;
    std::vector<std::optional<double>> fades;
    std::vector<std::pair<QString, double>> messages;
    int storedInterval = 3;
    bool fadeOn = true;
    double fadeDuration = 1.0;

    Harness()
    {
        testApplication();
        Texts::setLanguage("zh");
        controller.now = [this] { return time; };
        controller.photoCount = [this] { return photos; };
        controller.isFullScreen = [this] { return fullScreen; };
        controller.enterFullScreen = [this] {
            ++fullScreenRequests;
            fullScreen = true;
        };
        controller.advance = [this](std::optional<double> fade) {
            if (photos == 0)
                return false;
            fades.push_back(fade);
            index = (index + 1) % photos;
            if (instantPhotos)
                controller.photoShown();
            else
                photoPending = true;
            return true;
        };
        controller.setFloatingLayout = [this](bool f) { floating = f; };
        controller.onStateChanged = [this](bool o) { on = o; };
        controller.flash = [this](const QString &m, double s) { messages.emplace_back(m, s); };
        controller.readInterval = [this] { return storedInterval; };
        controller.storeInterval = [this](int s) { storedInterval = s; };
        controller.readFadeOn = [this] { return fadeOn; };
        controller.readFadeDuration = [this] { return fadeDuration; };
    }

    void advanceTo(double t)
    {
        time = t;
        controller.runDueTick();
    }
    void decodeDone()
    {
        photoPending = false;
        controller.photoShown();
    }
    QString lastMessage() const { return messages.empty() ? QString() : messages.back().first; }
};

} // namespace

TEST(SlideshowController, StartWithOnePhotoOnlyShowsTheMessage)
{
    Harness h;
    h.photos = 1;
    h.controller.start();
    EXPECT_FALSE(h.controller.isOn());
    EXPECT_EQ(h.lastMessage(), Texts::text("msg.oneImage"));
    EXPECT_EQ(h.fullScreenRequests, 0);
    EXPECT_FALSE(h.floating);
    // The toggle says the same; a single click without a slideshow is not used.
    h.controller.toggle();
    EXPECT_FALSE(h.controller.isOn());
    EXPECT_FALSE(h.controller.singleClick());
    h.photos = 0;
    h.controller.start();
    EXPECT_FALSE(h.controller.isOn());
    EXPECT_EQ(h.lastMessage(), Texts::text("ui.noImages"));
}

TEST(SlideshowController, StartGoesFullScreenFloatsTheFilmstripAndTicksThroughTheFolder)
{
    Harness h;
    h.storedInterval = 5;
    h.controller.toggle();
    EXPECT_TRUE(h.controller.isPlaying());
    EXPECT_EQ(h.fullScreenRequests, 1);
    EXPECT_TRUE(h.floating);
    EXPECT_TRUE(h.on);
    EXPECT_TRUE(h.lastMessage().contains(QLatin1String("5"))) << h.lastMessage().toStdString();

    h.advanceTo(1004.9);
    EXPECT_EQ(h.index, 0);
    h.advanceTo(1005.0);
    EXPECT_EQ(h.index, 1);
    ASSERT_EQ(h.fades.size(), 1u);
    EXPECT_EQ(h.fades[0], 1.0);
    // The last photo is followed by the first.
    for (double t = 1010.0; t <= 1025.0; t += 5.0)
        h.advanceTo(t);
    EXPECT_EQ(h.index, 0);
    EXPECT_EQ(h.fades.size(), 5u);

    // Already in full screen: not asked again.
    Harness g;
    g.fullScreen = true;
    g.controller.start();
    EXPECT_EQ(g.fullScreenRequests, 0);
}

TEST(SlideshowController, FadeOfEachTickIsReadWhenItHappens)
{
    Harness h;
    h.storedInterval = 1;
    h.fadeDuration = 3.0;
    h.controller.start();
    h.advanceTo(1001.0);
    ASSERT_EQ(h.fades.size(), 1u);
    EXPECT_DOUBLE_EQ(*h.fades[0], 0.8);
    h.fadeOn = false;
    h.advanceTo(1002.0);
    ASSERT_EQ(h.fades.size(), 2u);
    EXPECT_FALSE(h.fades[1]);
}

TEST(SlideshowController, SingleClickPausesAndResumesWithItsMessages)
{
    Harness h;
    h.controller.start();
    h.advanceTo(1001.0);
    EXPECT_TRUE(h.controller.singleClick());
    EXPECT_TRUE(h.controller.isPaused());
    const QString paused = h.lastMessage();
    // Paused: three seconds later the photo has not changed.
    h.advanceTo(1004.0);
    h.advanceTo(1010.0);
    EXPECT_EQ(h.index, 0);
    EXPECT_TRUE(h.controller.singleClick());
    EXPECT_NE(h.lastMessage(), paused);
    // The next photo comes one full interval after the resume.
    h.advanceTo(1012.9);
    EXPECT_EQ(h.index, 0);
    h.advanceTo(1013.0);
    EXPECT_EQ(h.index, 1);
}

TEST(SlideshowController, StopLeavesTheLayoutOnceAndSaysSo)
{
    Harness h;
    h.controller.start();
    h.controller.singleClick(); // paused still counts as on
    h.controller.stop();
    EXPECT_FALSE(h.controller.isOn());
    EXPECT_FALSE(h.floating);
    EXPECT_FALSE(h.on);
    EXPECT_EQ(h.lastMessage(), Texts::text("msg.slideshowOff"));
    // Stopping does not leave full screen; stopping again says nothing.
    EXPECT_TRUE(h.fullScreen);
    const size_t count = h.messages.size();
    h.controller.stop();
    EXPECT_EQ(h.messages.size(), count);
    // No tick after the stop.
    h.advanceTo(1100.0);
    EXPECT_EQ(h.index, 0);
}

TEST(SlideshowController, IntervalChangeStoresRestartsAndRefusesStepsNotOffered)
{
    Harness h;
    h.controller.start();
    h.time = 1002.0;
    h.controller.setInterval(10);
    EXPECT_EQ(h.storedInterval, 10);
    EXPECT_TRUE(h.lastMessage().contains(QLatin1String("10"))) << h.lastMessage().toStdString();
    h.advanceTo(1011.9);
    EXPECT_EQ(h.index, 0);
    h.advanceTo(1012.0);
    EXPECT_EQ(h.index, 1);

    // 4 s is not offered: nothing stored, nothing said.
    const size_t count = h.messages.size();
    h.controller.setInterval(4);
    EXPECT_EQ(h.storedInterval, 10);
    EXPECT_EQ(h.messages.size(), count);

    // While paused the new interval applies at resume.
    h.controller.singleClick();
    h.time = 1013.0;
    h.controller.setInterval(2);
    h.time = 1020.0;
    h.controller.singleClick();
    h.advanceTo(1022.0);
    EXPECT_EQ(h.index, 2);

    // The settings window's change restarts a running timer.
    h.storedInterval = 5;
    h.time = 1023.0;
    h.controller.settingsChanged();
    h.advanceTo(1027.9);
    EXPECT_EQ(h.index, 2);
    h.advanceTo(1028.0);
    EXPECT_EQ(h.index, 3);
}

TEST(SlideshowController, AFolderThatEmptiedDoesNotStallTheClock)
{
    Harness h;
    h.controller.start();
    h.photos = 0;
    h.advanceTo(1003.0);
    EXPECT_EQ(h.controller.timing().nextTick(), 1006.0);
    EXPECT_TRUE(h.fades.empty());
}

TEST(SlideshowController, RealTimerFiresTheTick)
{
    // The timer is aimed at the clock's due time; with a clock already past it
    // the tick runs on the next pass of the event loop.
    Harness h;
    h.controller.start();
    h.time = 1003.5;
    h.controller.photoShown(); // reschedules against the moved clock: due 1006.5
    h.time = 1007.0;
    h.controller.setModalOpen(false); // no change, but reschedules: wait 0
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(h.index, 1);
}
