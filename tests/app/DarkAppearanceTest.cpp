// The dark appearance draws what a person needs to see: a menu's separators,
// and the tick box or round button of a choice that is off, stand out from
// what is behind.
#include "app/DarkAppearance.h"

#include <QApplication>
#include <QCheckBox>
#include <QImage>
#include <QMenu>
#include <QRadioButton>
#include <QSlider>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

int luminance(QRgb pixel)
{
    return qGray(pixel);
}

// The brightest grey of a button's box or circle (the square at its left end,
// before the text), and of the window beside it.
struct Indicator
{
    int brightest = 0;
    int background = 0;
};

Indicator indicatorOf(QAbstractButton &button)
{
    button.adjustSize();
    const QImage shot = button.grab().toImage();
    Indicator seen;
    if (shot.isNull())
        return seen;
    seen.background = luminance(shot.pixel(shot.width() - 1, 0));
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < std::min(shot.width(), shot.height()); ++x)
            seen.brightest = std::max(seen.brightest, luminance(shot.pixel(x, y)));
    return seen;
}

} // namespace

class DarkAppearanceTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        static int argc = 1;
        static char name[] = "DarkAppearanceTest";
        static char *argv[] = {name, nullptr};
        app = new QApplication(argc, argv);
        applyDarkAppearance();
    }
    static inline QApplication *app = nullptr;
};

TEST_F(DarkAppearanceTest, MenuSeparatorsStandOutFromTheMenu)
{
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

TEST_F(DarkAppearanceTest, AnUntickedMenuBoxIsVisible)
{
    QMenu menu;
    QAction *off = menu.addAction(QStringLiteral("Fade Between Photos"));
    off->setCheckable(true);
    off->setChecked(false);
    menu.adjustSize();
    const QImage shot = menu.grab().toImage();
    ASSERT_FALSE(shot.isNull());

    // The box sits left of the text; its outline is the brightest thing there.
    const QRect place = menu.actionGeometry(off);
    ASSERT_FALSE(place.isEmpty());
    const int background = luminance(shot.pixel(place.left() + 1, place.top() + 1));
    int brightest = 0;
    for (int y = place.top(); y <= place.bottom(); ++y)
        for (int x = place.left(); x < place.left() + place.height(); ++x)
            brightest = std::max(brightest, luminance(shot.pixel(x, y)));
    EXPECT_GE(brightest - background, 60) << "box " << brightest << ", menu " << background;
}

TEST_F(DarkAppearanceTest, AnUntickedCheckBoxIsVisible)
{
    QCheckBox box(QStringLiteral("Descending"));
    const Indicator shown = indicatorOf(box);
    EXPECT_GE(shown.brightest - shown.background, 60) << "box " << shown.brightest << ", window " << shown.background;
}

TEST_F(DarkAppearanceTest, AnUnselectedRadioButtonIsVisible)
{
    QRadioButton button(QStringLiteral("Previous / next photo"));
    button.setChecked(false);
    const Indicator shown = indicatorOf(button);
    EXPECT_GE(shown.brightest - shown.background, 60) << "circle " << shown.brightest << ", window " << shown.background;
}

// PNG has no quality: its slider is greyed out, and must look it.
TEST_F(DarkAppearanceTest, ADisabledSliderLosesItsAccent)
{
    const auto bluestFill = [](QSlider &slider) {
        slider.resize(200, 24);
        const QImage shot = slider.grab().toImage();
        int bluest = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width() / 4; ++x)
                bluest = std::max(bluest, qBlue(shot.pixel(x, y)) - qRed(shot.pixel(x, y)));
        return bluest;
    };
    QSlider slider(Qt::Horizontal);
    slider.setRange(1, 100);
    slider.setValue(85);
    const int enabled = bluestFill(slider);
    slider.setEnabled(false);
    const int disabled = bluestFill(slider);
    EXPECT_GE(enabled, 100) << "the accent fills an enabled slider";
    EXPECT_LT(disabled, 30) << "a disabled slider is drawn grey";
}
