#pragma once

#include <QPointF>

#include <limits>
#include <optional>

// The input rules of the image view as plain code: the scroll wheel (one notch or
// one trackpad flick moves exactly one photo), the pinch and the click/drag
// distinction. The view translates Qt events into these samples and applies the
// answers to its geometry; nothing here touches a widget.

struct WheelSample
{
    QPointF position;          // in view coordinates
    // Precise deltas are in points (trackpad); line deltas in notches (120 angle units).
    // Positive y means the wheel turned away from the user.
    QPointF delta;
    bool precise = false;
    bool momentum = false;     // part of a momentum (inertial) scroll
    bool gestureBegan = false; // first event of a trackpad gesture
    bool inverted = false;     // natural scrolling
    bool commandHeld = false;
    double time = 0;           // seconds on a monotonic clock
};

struct WheelAction
{
    enum class Kind { none, zoom, pan, navigate };
    Kind kind = Kind::none;
    double factor = 1.0;       // zoom: multiply the scale by this
    QPointF anchor;            // zoom: about this point
    QPointF panBy;             // pan: add to the origin
    int step = 0;              // navigate: -1 previous, +1 next
};

struct WheelSettings
{
    bool wheelNavigates = false;
    bool wheelZoomInverted = false;
};

class WheelInput
{
public:
    static constexpr double momentumGuardAfterPinch = 0.35;
    static constexpr double preciseZoomBase = 1.004;
    static constexpr double lineZoomBase = 1.25;
    static constexpr double trackpadThreshold = 30.0;
    static constexpr double notchDebounce = 0.06;
    static constexpr double linePanFactor = 10.0;
    static constexpr double distantPast = -std::numeric_limits<double>::infinity();

    // freeMode: the photo is zoomed or moved (wheel navigation then pans).
    WheelAction wheel(const WheelSample &event, const WheelSettings &settings, bool freeMode);

    // A pinch step. Returns the factor to zoom by (unclamped) about gestureAnchor,
    // or nothing (first step with no magnification, or the end of the pinch).
    std::optional<double> pinch(QPointF position, double magnification, bool ended, double time);

    QPointF gestureAnchor;
    bool isPinching = false;
    double pinchEndTime = distantPast;
    double wheelAccum = 0;
    bool wheelFlippedInGesture = false;
    double lastWheelFlip = distantPast;

private:
    WheelAction zoomAction(const WheelSample &event, const WheelSettings &settings);
    WheelAction navigateAction(const WheelSample &event);
};

// Press, drag and release: a drag moves the photo; a release without moving more
// than the slop is a click.
class ClickTracker
{
public:
    static constexpr double dragSlop = 3.0;

    void press(QPointF position, QPointF origin);
    // The new origin of the photo, or nothing outside a press.
    std::optional<QPointF> drag(QPointF position);
    // Whether this release is a single click (to be confirmed after the
    // double-click interval).
    bool release(int clickCount);

    std::optional<QPointF> dragStartOrigin;
    std::optional<QPointF> dragStartPoint;
    bool mouseMovedSinceDown = false;
};
