#include "viewer/SlideshowClock.h"

#include <algorithm>

void SlideshowClock::start(double now, int intervalSeconds)
{
    m_state = State::playing;
    m_interval = intervalSeconds;
    m_awaitingPhoto = false;
    m_due = now + m_interval;
}

void SlideshowClock::stop()
{
    m_state = State::stopped;
    m_awaitingPhoto = false;
}

void SlideshowClock::pause()
{
    if (m_state != State::playing)
        return;
    m_state = State::paused;
    m_awaitingPhoto = false;
}

void SlideshowClock::resume(double now)
{
    if (m_state != State::paused)
        return;
    m_state = State::playing;
    m_due = now + m_interval;
}

void SlideshowClock::setInterval(double now, int intervalSeconds)
{
    m_interval = intervalSeconds;
    if (m_state == State::playing && !m_awaitingPhoto)
        m_due = now + m_interval;
}

void SlideshowClock::photoShown(double now)
{
    if (m_state != State::playing)
        return;
    m_awaitingPhoto = false;
    m_due = now + m_interval;
}

void SlideshowClock::setModalOpen(bool open, double now)
{
    setHold(modalHold, open, now);
}

void SlideshowClock::setOutOfSight(bool away, double now)
{
    setHold(sightHold, away, now);
}

void SlideshowClock::setHold(unsigned hold, bool on, double now)
{
    const unsigned before = m_holds;
    m_holds = on ? (m_holds | hold) : (m_holds & ~hold);
    // The photo sat under a dialog or out of sight: once nothing holds it any more
    // it gets its full interval again.
    if (before != 0 && m_holds == 0 && m_state == State::playing && !m_awaitingPhoto)
        m_due = std::max(m_due, now + m_interval);
}

std::optional<double> SlideshowClock::nextTick() const
{
    if (m_state != State::playing || m_awaitingPhoto || m_holds != 0)
        return std::nullopt;
    return m_due;
}

bool SlideshowClock::takeTick(double now)
{
    const std::optional<double> due = nextTick();
    if (!due || now < *due)
        return false;
    m_awaitingPhoto = true;
    return true;
}

std::optional<double> slideshowTickFade(int intervalSeconds, bool slideshowFadeOn, double fadeSeconds)
{
    if (!slideshowFadeOn)
        return std::nullopt;
    return std::min(intervalSeconds * 0.8, fadeSeconds);
}
