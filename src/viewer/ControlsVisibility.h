#pragma once

#include "viewer/ControlsAutoHide.h"
#include "viewer/ControlsFader.h"

#include <QObject>

#include <functional>

class QTimer;

// The controls' auto-hide rule on a real timer, with the fade: the viewer reports
// activity, the pointer leaving, peeks and whether a photo is shown; this shows
// and hides the widgets of animatedSet with the rule's fade durations.
class ControlsVisibility : public QObject
{
    Q_OBJECT
public:
    explicit ControlsVisibility(QObject *parent = nullptr);

    // The widgets to fade now: toolbar, both arrows, and the filmstrip while it
    // floats in a slideshow with a height above 0.
    std::function<QList<QWidget *>()> animatedSet;
    // Each fade step with the opacity reached; and the end of a visibility change
    // (for the rating badge's offset, which follows the controls).
    std::function<void(double opacity)> onStep;
    std::function<void(bool visible)> onVisibilityChanged;
    // Seconds on a steady scale; tests may set their own.
    std::function<double()> now;
    // Whether the pointer rests on one of the controls: they do not fade from
    // under it, and go 3 s after it moved off them.
    std::function<bool()> pointerOnControls;

    // Reveal and restart: key, wheel or mouse activity, the pointer moving over the
    // window, the end of a peek, the slideshow layout change, a folder opening.
    void activity();
    void pointerLeft();
    void setPeeking(bool peeking);
    void setHasPhoto(bool hasPhoto);

    bool visible() const { return rule.visible(); }
    const ControlsAutoHide &state() const { return rule; }
    ControlsFader &fader() { return m_fader; }

private:
    void schedule();
    double currentTime() const;

    ControlsAutoHide rule;
    ControlsFader m_fader;
    QTimer *timer;
};
