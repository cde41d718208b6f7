#include "viewer/ControlsAutoHide.h"

void ControlsAutoHide::setVisible(bool visible, double fadeSeconds)
{
    if (visible == m_visible)
        return;
    m_visible = visible;
    if (onVisibilityChanged)
        onVisibilityChanged(visible, fadeSeconds);
}

void ControlsAutoHide::activity(double now)
{
    if (m_peeking || !m_hasPhoto)
        return;
    setVisible(true, showFadeSeconds);
    m_hideDue = now + hideAfterActivity;
}

void ControlsAutoHide::pointerLeft(double now)
{
    if (m_peeking || !m_hasPhoto)
        return;
    m_hideDue = now + hideAfterPointerLeft;
}

void ControlsAutoHide::setPeeking(bool peeking, double now)
{
    if (peeking == m_peeking)
        return;
    if (peeking) {
        m_hideDue.reset();
        setVisible(false, hideFadeSeconds);
        m_peeking = true;
        return;
    }
    m_peeking = false;
    activity(now);
}

void ControlsAutoHide::setHasPhoto(bool hasPhoto, double now)
{
    if (hasPhoto == m_hasPhoto)
        return;
    m_hasPhoto = hasPhoto;
    if (!hasPhoto) {
        m_hideDue.reset();
        setVisible(false, 0.0);
        return;
    }
    activity(now);
}

bool ControlsAutoHide::runDueHide(double now)
{
    if (!m_hideDue || now < *m_hideDue)
        return false;
    m_hideDue.reset();
    if (!m_visible)
        return false;
    setVisible(false, hideFadeSeconds);
    return true;
}
