#pragma once

#include <QProxyStyle>

// A dark appearance whatever the desktop's own theme says: photos are judged
// against dark surroundings. Sets the application's style and palette; call
// once the QApplication exists.
void applyDarkAppearance();

// Fusion with the few things it draws too faintly on a dark palette. Its menu
// separator is a shade of the window colour only a few steps from the menu's
// own background, so on a dark palette it disappears; here it is the text
// colour blended into the background, visible on dark and light palettes alike.
// The box of an unticked check box or menu item, and the circle of an
// unselected round button, have the same fault (a base-coloured shape with an
// outline darker than its background), so a choice that is off showed no box
// or circle at all; they get an outline in a stronger blend of the same colours.
class DarkStyle : public QProxyStyle
{
public:
    DarkStyle();

    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget = nullptr) const override;
    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget = nullptr) const override;

    // The separator line's colour for a palette.
    static QColor separatorColor(const QPalette &palette);
    // The outline of a tick box.
    static QColor menuBoxColor(const QPalette &palette);
};
