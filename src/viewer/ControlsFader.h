#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QWidget>

#include <functional>

class QVariantAnimation;

// Fades a set of overlay widgets in and out together (the toolbar, the arrows and
// the floating filmstrip), and hides those that end up transparent so that they
// take no clicks. The set is asked for at each fade, since the floating
// filmstrip belongs to it only during a slideshow.
class ControlsFader : public QObject
{
    Q_OBJECT
public:
    explicit ControlsFader(QObject *parent = nullptr);

    // The widgets to fade now.
    std::function<QList<QWidget *>()> animatedSet;
    // Each animation step with the opacity reached (0 to 1), for what moves
    // along (the rating badge's offset).
    std::function<void(double opacity)> onStep;

    // Fades to fully shown or hidden over seconds (0: at once). Showing unhides the
    // widgets first.
    void fade(bool visible, double seconds);
    double opacity() const { return m_opacity; }
    // Takes a widget out of the fade under way and shows it at full opacity
    // (the filmstrip back in its own place when a slideshow ends); whether it
    // is shown at all is then its owner's to say.
    void release(QWidget *widget);
    bool running() const;

private:
    void apply(double opacity);
    void finish();

    QVariantAnimation *animation;
    QList<QPointer<QWidget>> current;
    double m_opacity = 1.0;
    bool target = true;
};

// Sets a widget's opacity through an opacity effect, removing the effect at 1 so
// that an opaque widget is drawn directly.
void setWidgetOpacity(QWidget *widget, double opacity);
