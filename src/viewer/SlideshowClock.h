#pragma once

#include <optional>

// When the slideshow's next photo is due. A plain value driven by the caller's
// clock (seconds on any steady scale), so every timing rule can be checked
// without a timer or a window; SlideshowController runs it on a real timer.
//
// Each photo gets a full interval on screen: after a tick the clock waits until
// the next photo is reported on screen and only then starts counting again, so a
// decode slower than the interval never skips a photo the person has not seen.
// Ticks are held while a modal dialog is open and while the window is out of
// sight (minimised, hidden by the global shortcut, on another desktop); the photo
// under the dialog or in the hidden window gets a fresh interval once it is seen.
class SlideshowClock
{
public:
    enum class State { stopped, playing, paused };

    State state() const { return m_state; }
    // On: playing or paused.
    bool isOn() const { return m_state != State::stopped; }
    bool isPaused() const { return m_state == State::paused; }
    int interval() const { return m_interval; }
    // A tick was taken and its photo is not on screen yet.
    bool awaitingPhoto() const { return m_awaitingPhoto; }
    bool modalOpen() const { return (m_holds & modalHold) != 0; }
    bool outOfSight() const { return (m_holds & sightHold) != 0; }

    // The photo on screen now gets a full interval.
    void start(double now, int intervalSeconds);
    void stop();
    // Playing to paused; anything else unchanged.
    void pause();
    // Paused to playing with a full interval from now.
    void resume(double now);
    // While playing the count restarts with the new interval (after a pending photo
    // arrives when one is awaited); while paused it applies at resume.
    void setInterval(double now, int intervalSeconds);
    // A new photo reached the screen (after a tick, or after manual paging while
    // playing): the next tick is a full interval from now.
    void photoShown(double now);
    void setModalOpen(bool open, double now);
    void setOutOfSight(bool away, double now);

    // When the next tick is due; absent while stopped, paused, held (a modal dialog,
    // the window out of sight) or waiting for the previous tick's photo.
    std::optional<double> nextTick() const;
    // Whether a tick is due at now; when it is, the clock waits for the next photo.
    bool takeTick(double now);

private:
    static constexpr unsigned modalHold = 1;
    static constexpr unsigned sightHold = 2;
    void setHold(unsigned hold, bool on, double now);

    State m_state = State::stopped;
    int m_interval = 3;
    double m_due = 0;
    bool m_awaitingPhoto = false;
    unsigned m_holds = 0;
};

// The fade of a slideshow tick: min(interval x 0.8, the fade setting) while the
// slideshow fade is on; absent when it is off, so the paging rule applies.
std::optional<double> slideshowTickFade(int intervalSeconds, bool slideshowFadeOn, double fadeSeconds);
