#include "viewer/SlideshowController.h"

#include "settings/Settings.h"
#include "settings/Texts.h"

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

double steadySeconds()
{
    static QElapsedTimer started = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return started.nsecsElapsed() / 1e9;
}

} // namespace

SlideshowController::SlideshowController(QObject *parent)
    : QObject(parent)
    , readInterval([] { return Settings::slideshowInterval(); })
    , storeInterval([](int seconds) { Settings::setSlideshowInterval(seconds); })
    , readFadeOn([] { return Settings::slideshowFadeOn(); })
    , readFadeDuration([] { return Settings::slideshowFadeDuration(); })
    , now(steadySeconds)
    , timer(new QTimer(this))
{
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, [this] { runDueTick(); });
}

bool SlideshowController::isOfferedInterval(int seconds)
{
    return seconds == 1 || seconds == 2 || seconds == 3 || seconds == 5 || seconds == 10;
}

double SlideshowController::currentTime() const
{
    return now ? now() : steadySeconds();
}

void SlideshowController::toggle()
{
    if (clock.isOn())
        stop();
    else
        start();
}

void SlideshowController::start()
{
    if (clock.isOn())
        return;
    const int count = photoCount ? photoCount() : 0;
    if (count < 2) {
        // An empty folder is not a folder of one.
        if (flash)
            flash(Texts::text(count == 1 ? "msg.oneImage" : "ui.noImages"), messageSeconds);
        return;
    }
    if (isFullScreen && enterFullScreen && !isFullScreen())
        enterFullScreen();
    const int seconds = readInterval();
    clock.start(currentTime(), seconds);
    schedule();
    if (onStateChanged)
        onStateChanged(true);
    if (setFloatingLayout)
        setFloatingLayout(true);
    if (flash)
        flash(Texts::format("msg.slideshowOnN", {QString::number(seconds)}), startMessageSeconds);
}

void SlideshowController::stop()
{
    if (!clock.isOn())
        return;
    clock.stop();
    timer->stop();
    if (onStateChanged)
        onStateChanged(false);
    if (setFloatingLayout)
        setFloatingLayout(false);
    if (flash)
        flash(Texts::text("msg.slideshowOff"), messageSeconds);
}

bool SlideshowController::singleClick()
{
    switch (clock.state()) {
    case SlideshowClock::State::stopped:
        return false;
    case SlideshowClock::State::playing:
        clock.pause();
        timer->stop();
        if (flash)
            flash(Texts::text("msg.slidePaused"), pausedMessageSeconds);
        return true;
    case SlideshowClock::State::paused:
        // An interval changed while paused applies from here.
        clock.setInterval(currentTime(), readInterval());
        clock.resume(currentTime());
        schedule();
        if (flash)
            flash(Texts::text("msg.slideResumed"), messageSeconds);
        return true;
    }
    return false;
}

void SlideshowController::setInterval(int seconds)
{
    if (!isOfferedInterval(seconds))
        return;
    storeInterval(seconds);
    if (clock.state() == SlideshowClock::State::playing) {
        clock.setInterval(currentTime(), seconds);
        schedule();
    }
    if (flash)
        flash(Texts::format("msg.slideInterval", {QString::number(seconds)}), messageSeconds);
}

void SlideshowController::settingsChanged()
{
    if (clock.state() != SlideshowClock::State::playing)
        return;
    clock.setInterval(currentTime(), readInterval());
    schedule();
}

void SlideshowController::photoShown()
{
    clock.photoShown(currentTime());
    schedule();
}

void SlideshowController::setModalOpen(bool open)
{
    clock.setModalOpen(open, currentTime());
    schedule();
}

void SlideshowController::setOutOfSight(bool away)
{
    clock.setOutOfSight(away, currentTime());
    schedule();
}

void SlideshowController::runDueTick()
{
    if (!clock.takeTick(currentTime())) {
        schedule();
        return;
    }
    const std::optional<double> fade = slideshowTickFade(clock.interval(), readFadeOn(), readFadeDuration());
    const bool willShow = advance && advance(fade);
    // Nothing will reach the screen (the folder emptied): count from now instead of
    // waiting for a photo that never comes.
    if (!willShow)
        clock.photoShown(currentTime());
    schedule();
}

void SlideshowController::schedule()
{
    const std::optional<double> due = clock.nextTick();
    if (!due) {
        timer->stop();
        return;
    }
    const double wait = std::max(0.0, *due - currentTime());
    timer->start(int(std::ceil(wait * 1000)));
}
