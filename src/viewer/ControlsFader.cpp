#include "viewer/ControlsFader.h"

#include <QGraphicsOpacityEffect>
#include <QVariantAnimation>

void setWidgetOpacity(QWidget *widget, double opacity)
{
    if (!widget)
        return;
    if (opacity >= 1.0) {
        widget->setGraphicsEffect(nullptr);
        return;
    }
    auto *effect = qobject_cast<QGraphicsOpacityEffect *>(widget->graphicsEffect());
    if (!effect) {
        effect = new QGraphicsOpacityEffect(widget);
        widget->setGraphicsEffect(effect);
    }
    effect->setOpacity(opacity);
}

ControlsFader::ControlsFader(QObject *parent)
    : QObject(parent)
    , animation(new QVariantAnimation(this))
{
    animation->setEasingCurve(QEasingCurve::InOutQuad);
    connect(animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        apply(value.toDouble());
    });
    connect(animation, &QVariantAnimation::finished, this, [this] { finish(); });
}

bool ControlsFader::running() const
{
    return animation->state() == QAbstractAnimation::Running;
}

void ControlsFader::fade(bool visible, double seconds)
{
    animation->stop();
    target = visible;
    current.clear();
    if (animatedSet) {
        for (QWidget *widget : animatedSet())
            current << QPointer<QWidget>(widget);
    }
    if (visible) {
        for (const QPointer<QWidget> &widget : current) {
            if (widget && widget->isHidden()) {
                setWidgetOpacity(widget, m_opacity);
                widget->show();
            }
        }
    }
    const double end = visible ? 1.0 : 0.0;
    if (seconds <= 0 || qFuzzyCompare(m_opacity + 1.0, end + 1.0)) {
        apply(end);
        finish();
        return;
    }
    animation->setStartValue(m_opacity);
    animation->setEndValue(end);
    animation->setDuration(int(seconds * 1000));
    animation->start();
}

void ControlsFader::release(QWidget *widget)
{
    current.removeAll(QPointer<QWidget>(widget));
    setWidgetOpacity(widget, 1.0);
}

void ControlsFader::apply(double opacity)
{
    m_opacity = opacity;
    for (const QPointer<QWidget> &widget : current)
        setWidgetOpacity(widget, opacity);
    if (onStep)
        onStep(opacity);
}

void ControlsFader::finish()
{
    m_opacity = target ? 1.0 : 0.0;
    for (const QPointer<QWidget> &widget : current) {
        if (!widget)
            continue;
        setWidgetOpacity(widget, m_opacity);
        if (m_opacity < 0.01)
            widget->hide();
    }
}
