#include "viewer/ControlsVisibility.h"

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

ControlsVisibility::ControlsVisibility(QObject *parent)
    : QObject(parent)
    , m_fader(this)
    , timer(new QTimer(this))
{
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, [this] {
        if (rule.visible() && pointerOnControls && pointerOnControls()) {
            activity();
            return;
        }
        rule.runDueHide(currentTime());
        schedule();
    });
    m_fader.animatedSet = [this] { return animatedSet ? animatedSet() : QList<QWidget *>(); };
    m_fader.onStep = [this](double opacity) {
        if (onStep)
            onStep(opacity);
    };
    rule.onVisibilityChanged = [this](bool visible, double seconds) {
        m_fader.fade(visible, seconds);
        if (onVisibilityChanged)
            onVisibilityChanged(visible);
    };
}

double ControlsVisibility::currentTime() const
{
    return now ? now() : steadySeconds();
}

void ControlsVisibility::activity()
{
    rule.activity(currentTime());
    schedule();
}

void ControlsVisibility::pointerLeft()
{
    rule.pointerLeft(currentTime());
    schedule();
}

void ControlsVisibility::setPeeking(bool peeking)
{
    rule.setPeeking(peeking, currentTime());
    schedule();
}

void ControlsVisibility::setHasPhoto(bool hasPhoto)
{
    rule.setHasPhoto(hasPhoto, currentTime());
    // Hidden outright even when the rule already counted them hidden: the widgets
    // start out shown, before the first folder is known.
    if (!hasPhoto)
        m_fader.fade(false, 0);
    schedule();
}

void ControlsVisibility::schedule()
{
    const std::optional<double> due = rule.hideDue();
    if (!due) {
        timer->stop();
        return;
    }
    timer->start(int(std::ceil(std::max(0.0, *due - currentTime()) * 1000)));
}
