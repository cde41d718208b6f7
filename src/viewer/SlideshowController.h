#pragma once

#include "viewer/SlideshowClock.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class QTimer;

// The slideshow: start and stop, the timer, pause and resume by a single click,
// the interval change and the messages. It owns no widget; the viewer wires the
// callbacks below once and reports what happens on screen (photoShown, the
// window leaving full screen or closing, a modal dialog opening or closing).
//
// Main thread only. The timer is single-shot, aimed at the clock's next tick, and
// lives as long as this object, so nothing fires after the viewer is gone.
class SlideshowController : public QObject
{
    Q_OBJECT
public:
    static constexpr double startMessageSeconds = 3.0;
    static constexpr double messageSeconds = 2.0;
    static constexpr double pausedMessageSeconds = 2.5;

    explicit SlideshowController(QObject *parent = nullptr);

    // How many photos the folder holds now.
    std::function<int()> photoCount;
    std::function<bool()> isFullScreen;
    std::function<void()> enterFullScreen;
    // Moves to the next photo (wrapping) as a slideshow step. fade is the duration
    // of this one change (set it as the image view's pendingFadeDuration and keep
    // it through navigate); absent means the paging rule decides. Returns whether
    // a photo will be shown; call photoShown when it is on screen.
    std::function<bool(std::optional<double> fade)> advance;
    // Enters (true) or leaves (false) the layout with the floating filmstrip.
    std::function<void(bool floating)> setFloatingLayout;
    // The slideshow turned on or off (the toolbar's play / stop symbol).
    std::function<void(bool on)> onStateChanged;
    std::function<void(const QString &message, double seconds)> flash;

    // Preferences, read at the moment of use; the defaults read the settings store.
    std::function<int()> readInterval;
    std::function<void(int)> storeInterval;
    std::function<bool()> readFadeOn;
    std::function<double()> readFadeDuration;
    // Seconds on a steady scale; tests set a clock of their own.
    std::function<double()> now;

    bool isOn() const { return clock.isOn(); }
    bool isPaused() const { return clock.isPaused(); }
    bool isPlaying() const { return clock.state() == SlideshowClock::State::playing; }
    const SlideshowClock &timing() const { return clock; }

    // toggleSlideshow: and the slideshow key.
    void toggle();
    void start();
    // Also for the window leaving full screen or closing and for entering cleanup.
    // Nothing (and no message) when no slideshow is on.
    void stop();
    // The image view's single click: pause or resume. Returns whether it was used.
    bool singleClick();
    // setSlideshowInterval: with the item's seconds. An interval the menu does not
    // offer changes nothing.
    void setInterval(int seconds);
    // The preference "slideshow" changed elsewhere (the settings window).
    void settingsChanged();
    // A new photo is on screen (after a tick, or manual paging while playing).
    void photoShown();
    // A modal dialog opened or closed over the viewer: ticks wait meanwhile.
    void setModalOpen(bool open);
    // The window was minimised, hidden or left on another desktop (true), or is
    // seen again: ticks wait meanwhile.
    void setOutOfSight(bool away);

    // Runs a tick when one is due now; the timer calls it, tests call it after
    // moving their clock.
    void runDueTick();

    static bool isOfferedInterval(int seconds);

private:
    void schedule();
    double currentTime() const;

    SlideshowClock clock;
    QTimer *timer;
};
