#include "app/DarkAppearance.h"

#include <QApplication>
#include <QPainter>
#include <QPalette>
#include <QStyleFactory>
#include <QStyleOptionMenuItem>

DarkStyle::DarkStyle()
    : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion")))
{}

namespace {

// The text colour blended into the menu's background by `share`.
QColor menuBlend(const QPalette &palette, double share)
{
    // Fusion fills menus with the window colour, a little lighter.
    const QColor back = palette.color(QPalette::Window).lighter(108);
    const QColor text = palette.color(QPalette::Active, QPalette::Text);
    return QColor::fromRgbF(float(back.redF() + (text.redF() - back.redF()) * share),
                            float(back.greenF() + (text.greenF() - back.greenF()) * share),
                            float(back.blueF() + (text.blueF() - back.blueF()) * share));
}

} // namespace

QColor DarkStyle::separatorColor(const QPalette &palette)
{
    return menuBlend(palette, 0.22);
}

QColor DarkStyle::menuBoxColor(const QPalette &palette)
{
    return menuBlend(palette, 0.5);
}

void DarkStyle::drawPrimitive(PrimitiveElement element, const QStyleOption *option,
                              QPainter *painter, const QWidget *widget) const
{
    QProxyStyle::drawPrimitive(element, option, painter, widget);
    if (element != PE_IndicatorCheckBox && element != PE_IndicatorRadioButton)
        return;
    // Over Fusion's own outline (darker than a dark window), where it draws it.
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, true);
    painter->setBrush(Qt::NoBrush);
    painter->setPen(QPen(menuBoxColor(option->palette), 1));
    if (element == PE_IndicatorCheckBox) {
        // Inside the box by half a pixel.
        painter->drawRoundedRect(QRectF(option->rect).adjusted(0.5, 0.5, -0.5, -0.5), 2, 2);
    } else {
        // Fusion's circle: centred a pixel right of and below the middle.
        const QRect box = option->rect;
        const qreal radius = (box.width() + (box.width() + 1) % 2) / 2.0 - 1;
        painter->drawEllipse(QPointF(box.center() + QPoint(1, 1)), radius, radius);
    }
    painter->restore();
}

void DarkStyle::drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                            const QWidget *widget) const
{
    const auto *item = qstyleoption_cast<const QStyleOptionMenuItem *>(option);
    if (element != CE_MenuItem || !item || item->menuItemType != QStyleOptionMenuItem::Separator
        || !item->text.isEmpty()) {
        QProxyStyle::drawControl(element, option, painter, widget);
        return;
    }
    // The same place Fusion draws its line: the middle of the item, inset from
    // both sides.
    const int margin = 5;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing, false);
    painter->setPen(QPen(separatorColor(item->palette), 1));
    const int y = item->rect.center().y();
    painter->drawLine(item->rect.left() + margin, y, item->rect.right() - margin, y);
    painter->restore();
}

void applyDarkAppearance()
{
    QApplication::setStyle(new DarkStyle);
    QPalette dark;
    const QColor window(30, 30, 32);
    const QColor base(22, 22, 24);
    const QColor text(235, 235, 240);
    const QColor disabledText(120, 120, 126);
    const QColor accent(10, 132, 255);
    dark.setColor(QPalette::Window, window);
    dark.setColor(QPalette::WindowText, text);
    dark.setColor(QPalette::Base, base);
    dark.setColor(QPalette::AlternateBase, window);
    dark.setColor(QPalette::ToolTipBase, QColor(50, 50, 54));
    dark.setColor(QPalette::ToolTipText, text);
    dark.setColor(QPalette::PlaceholderText, disabledText);
    dark.setColor(QPalette::Text, text);
    dark.setColor(QPalette::Button, QColor(48, 48, 52));
    dark.setColor(QPalette::ButtonText, text);
    dark.setColor(QPalette::BrightText, Qt::white);
    dark.setColor(QPalette::Light, QColor(70, 70, 74));
    dark.setColor(QPalette::Midlight, QColor(58, 58, 62));
    dark.setColor(QPalette::Mid, QColor(40, 40, 44));
    dark.setColor(QPalette::Dark, QColor(16, 16, 18));
    dark.setColor(QPalette::Shadow, Qt::black);
    dark.setColor(QPalette::Highlight, accent);
    dark.setColor(QPalette::HighlightedText, Qt::white);
    dark.setColor(QPalette::Link, accent);
    dark.setColor(QPalette::LinkVisited, accent.lighter(130));
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        dark.setColor(QPalette::Disabled, role, disabledText);
    // A greyed-out slider's fill and a disabled selection lose the accent.
    dark.setColor(QPalette::Disabled, QPalette::Highlight, QColor(78, 78, 84));
    QApplication::setPalette(dark);
}
