// The dark appearance draws what a person needs to see: a menu's separators
// stand out from the menu's background.
#include "app/DarkAppearance.h"

#include <QApplication>
#include <QImage>
#include <QMenu>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

int luminance(QRgb pixel)
{
    return qGray(pixel);
}

} // namespace

TEST(DarkAppearanceTest, MenuSeparatorsStandOutFromTheMenu)
{
    static int argc = 1;
    static char name[] = "DarkAppearanceTest";
    static char *argv[] = {name, nullptr};
    QApplication app(argc, argv);
    applyDarkAppearance();

    QMenu menu;
    menu.addAction(QStringLiteral("Open"));
    QAction *separator = menu.addSeparator();
    menu.addAction(QStringLiteral("Close"));
    menu.adjustSize();
    const QImage shot = menu.grab().toImage();
    ASSERT_FALSE(shot.isNull());

    // Near the right end, where no text is: the separator's brightest row is
    // its line; the menu just above it is the background.
    const QRect place = menu.actionGeometry(separator);
    ASSERT_FALSE(place.isEmpty());
    const int x = place.right() - 8;
    int line = 0;
    for (int y = place.top(); y <= place.bottom(); ++y)
        line = std::max(line, luminance(shot.pixel(x, y)));
    const int background = luminance(shot.pixel(x, place.top() - 2));
    EXPECT_GE(line - background, 24) << "line " << line << ", background " << background;
    // Still a quiet line, not text-bright.
    EXPECT_LE(line, 140);
}
