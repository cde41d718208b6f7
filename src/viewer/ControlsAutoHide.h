#pragma once

#include <functional>
#include <optional>

// When the toolbar, the arrows and (in a slideshow) the floating filmstrip show and
// hide. A plain value driven by the caller's clock (seconds on a steady scale):
// activity shows them and hides them 3 s later, the pointer leaving the window
// hides them 1 s later; during a peek they are not managed at all, and without a
// photo they stay hidden and no hide is scheduled.
class ControlsAutoHide
{
public:
    static constexpr double hideAfterActivity = 3.0;
    static constexpr double hideAfterPointerLeft = 1.0;
    static constexpr double showFadeSeconds = 0.15;
    static constexpr double hideFadeSeconds = 0.4;

    // Called when visibility changes, with the fade duration to use.
    std::function<void(bool visible, double fadeSeconds)> onVisibilityChanged;

    bool visible() const { return m_visible; }
    bool peeking() const { return m_peeking; }
    bool hasPhoto() const { return m_hasPhoto; }
    std::optional<double> hideDue() const { return m_hideDue; }

    // Key, wheel or mouse activity, the pointer moving over the window, the end of
    // a peek, the slideshow layout change, a folder with photos opening.
    void activity(double now);
    void pointerLeft(double now);
    // A peek hides the controls and stops the hide timer; its end shows them again.
    void setPeeking(bool peeking, double now);
    // Without a photo the controls are hidden outright (no fade) and stay so.
    void setHasPhoto(bool hasPhoto, double now);
    // Hides the controls when their time is up; true when it did.
    bool runDueHide(double now);

private:
    void setVisible(bool visible, double fadeSeconds);

    bool m_visible = false;
    bool m_peeking = false;
    bool m_hasPhoto = false;
    std::optional<double> m_hideDue;
};
