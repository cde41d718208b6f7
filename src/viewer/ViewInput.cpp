#include "viewer/ViewInput.h"

#include <cmath>

WheelAction WheelInput::wheel(const WheelSample &event, const WheelSettings &settings, bool freeMode)
{
    if (isPinching)
        return {};
    if (event.momentum && event.time - pinchEndTime < momentumGuardAfterPinch)
        return {};

    enum class Use { zoom, pan, navigate } use;
    if (settings.wheelNavigates)
        use = event.commandHeld ? Use::zoom : freeMode ? Use::pan : Use::navigate;
    else
        use = event.commandHeld ? Use::pan : Use::zoom;

    switch (use) {
    case Use::zoom:
        return zoomAction(event, settings);
    case Use::pan: {
        const double k = event.precise ? 1.0 : linePanFactor;
        WheelAction action;
        action.kind = WheelAction::Kind::pan;
        action.panBy = QPointF(-event.delta.x() * k, -event.delta.y() * k);
        return action;
    }
    case Use::navigate:
        return navigateAction(event);
    }
    return {};
}

WheelAction WheelInput::zoomAction(const WheelSample &event, const WheelSettings &settings)
{
    if (!event.momentum)
        gestureAnchor = event.position;
    const double dy = event.delta.y();
    if (dy == 0)
        return {};
    const double base = event.precise ? preciseZoomBase : lineZoomBase;
    WheelAction action;
    action.kind = WheelAction::Kind::zoom;
    action.factor = std::pow(base, settings.wheelZoomInverted ? dy : -dy);
    action.anchor = gestureAnchor;
    return action;
}

WheelAction WheelInput::navigateAction(const WheelSample &event)
{
    if (event.momentum)
        return {};
    if (event.gestureBegan) {
        wheelAccum = 0;
        wheelFlippedInGesture = false;
    }
    const double dy = event.delta.y();
    if (dy == 0)
        return {};
    const double d = event.inverted ? -dy : dy;

    double amount;
    if (event.precise) {
        if (wheelFlippedInGesture)
            return {};
        wheelAccum += d;
        if (std::abs(wheelAccum) < trackpadThreshold)
            return {};
        wheelFlippedInGesture = true;
        amount = wheelAccum;
    } else {
        if (event.time - lastWheelFlip <= notchDebounce)
            return {};
        amount = d;
    }
    lastWheelFlip = event.time;
    WheelAction action;
    action.kind = WheelAction::Kind::navigate;
    action.step = amount >= 0 ? -1 : +1;
    return action;
}

std::optional<double> WheelInput::pinch(QPointF position, double magnification, bool ended, double time)
{
    if (ended) {
        isPinching = false;
        pinchEndTime = time;
        return std::nullopt;
    }
    if (!isPinching) {
        isPinching = true;
        gestureAnchor = position;
    }
    if (magnification == 0)
        return std::nullopt;
    return 1.0 + magnification;
}

void ClickTracker::press(QPointF position, QPointF origin)
{
    mouseMovedSinceDown = false;
    dragStartOrigin = origin;
    dragStartPoint = position;
}

std::optional<QPointF> ClickTracker::drag(QPointF position)
{
    if (!dragStartOrigin || !dragStartPoint)
        return std::nullopt;
    const QPointF delta = position - *dragStartPoint;
    if (std::hypot(delta.x(), delta.y()) > dragSlop)
        mouseMovedSinceDown = true;
    return *dragStartOrigin + delta;
}

bool ClickTracker::release(int clickCount)
{
    dragStartOrigin.reset();
    dragStartPoint.reset();
    return clickCount == 1 && !mouseMovedSinceDown;
}
