#include "viewer/ControlsFader.h"
#include "viewer/ControlsVisibility.h"
#include "viewer/EmptyStateView.h"
#include "viewer/FloatingToolbar.h"
#include "viewer/HudBubble.h"
#include "viewer/ImageSurface.h"
#include "viewer/InfoPanel.h"
#include "viewer/NavigationArrow.h"

#include "settings/Texts.h"
#include "ViewerTestSupport.h"

#include <QAccessible>
#include <QApplication>
#include <QEnterEvent>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

namespace {

class OverlayWidgets : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        testApp();
        Texts::setLanguage("zh");
    }
};

// Share of pixels whose colour is mostly red among the drawn ones (those that
// differ from the corner's background).
double redShare(const QImage &image)
{
    int drawn = 0;
    int red = 0;
    const QImage rgb = image.convertToFormat(QImage::Format_ARGB32);
    const QColor background = rgb.pixelColor(0, 0);
    for (int y = 0; y < rgb.height(); ++y) {
        for (int x = 0; x < rgb.width(); ++x) {
            const QColor c = rgb.pixelColor(x, y);
            if (c.alpha() < 128 || c == background)
                continue;
            ++drawn;
            if (c.red() > 200 && c.green() < 120 && c.blue() < 120)
                ++red;
        }
    }
    return drawn ? double(red) / drawn : 0.0;
}

} // namespace

TEST_F(OverlayWidgets, ToolbarButtonsTakeNoFocusAndReportTheirClick)
{
    FloatingToolbar toolbar;
    std::vector<OverlayButton> clicked;
    toolbar.onTrigger = [&](OverlayButton b) { clicked.push_back(b); };
    for (const OverlayButtonInfo &info : toolbarButtons()) {
        OverlaySymbolButton *button = toolbar.button(info.button);
        ASSERT_TRUE(button);
        EXPECT_EQ(button->focusPolicy(), Qt::NoFocus);
        EXPECT_FALSE(button->toolTip().isEmpty());
        button->click();
        ASSERT_FALSE(clicked.empty());
        EXPECT_EQ(clicked.back(), info.button);
    }

    // Hover and press shade the button; leaving takes the shade away.
    OverlaySymbolButton *zoom = toolbar.button(OverlayButton::zoomIn);
    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(zoom, &enter);
    const int hovered = zoom->shadePercent();
    EXPECT_GT(hovered, 0);
    zoom->setDown(true);
    EXPECT_GT(zoom->shadePercent(), hovered);
    zoom->setDown(false);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(zoom, &leave);
    EXPECT_EQ(zoom->shadePercent(), 0);

    // The trash symbol is drawn red, the others in the label colour.
    EXPECT_GT(redShare(toolbar.button(OverlayButton::trash)->grab().toImage()), 0.05);
    EXPECT_EQ(redShare(toolbar.button(OverlayButton::rename)->grab().toImage()), 0.0);

    toolbar.setSlideshowOn(true);
    EXPECT_EQ(toolbar.button(OverlayButton::slideshow)->symbol(), OverlaySymbol::stop);
    toolbar.setSlideshowOn(false);
    EXPECT_EQ(toolbar.button(OverlayButton::slideshow)->symbol(), OverlaySymbol::play);
}

// A double-click on the bin moves one photo: the second click would land on the
// photo the first one brought up before anyone saw it. Other buttons take both.
TEST_F(OverlayWidgets, ADoubleClickOnTheBinCountsOnce)
{
    FloatingToolbar toolbar;
    int trashed = 0;
    int turned = 0;
    toolbar.onTrigger = [&](OverlayButton b) {
        trashed += b == OverlayButton::trash;
        turned += b == OverlayButton::rotateCW;
    };
    toolbar.button(OverlayButton::trash)->click();
    toolbar.button(OverlayButton::trash)->click();
    toolbar.button(OverlayButton::rotateCW)->click();
    toolbar.button(OverlayButton::rotateCW)->click();
    EXPECT_EQ(trashed, 1);
    EXPECT_EQ(turned, 2);
    QThread::msleep(QApplication::doubleClickInterval() + 50);
    toolbar.button(OverlayButton::trash)->click();
    EXPECT_EQ(trashed, 2);
}

TEST_F(OverlayWidgets, ToolbarStarsAndArrows)
{
    FloatingToolbar toolbar;
    toolbar.adjustSize();
    const int plainWidth = toolbar.width();
    toolbar.setStars(QStringLiteral("★★★☆☆"), true);
    toolbar.show();
    toolbar.adjustSize();
    EXPECT_GT(toolbar.width(), plainWidth);
    EXPECT_EQ(toolbar.starsLabel()->textFormat(), Qt::PlainText);
    toolbar.setStars({}, false);
    toolbar.adjustSize();
    EXPECT_EQ(toolbar.width(), plainWidth);

    NavigationArrow previous(false);
    NavigationArrow next(true);
    int moved = 0;
    next.onActivate = [&] { moved += 1; };
    previous.onActivate = [&] { moved -= 10; };
    next.click();
    previous.click();
    EXPECT_EQ(moved, -9);
    EXPECT_EQ(next.toolTip(), QStringLiteral("下一张（→）"));
    next.refreshTooltip([](OverlayButton) { return std::nullopt; });
    EXPECT_EQ(next.toolTip(), QStringLiteral("下一张"));
}

TEST_F(OverlayWidgets, InfoPanelShowsOnlyTheNewestSummaryForTheCurrentGeneration)
{
    InfoPanel panel;
    panel.show();
    int generation = 1;
    panel.currentGeneration = [&] { return generation; };
    QSemaphore releaseSlow;
    panel.summarize = [&](const QString &path) {
        if (path == QLatin1String("slow"))
            releaseSlow.acquire();
        return QList<ExifEntry>{{QStringLiteral("文件"), path}};
    };
    // A slow read started first finishes after a newer one: the newer one stays.
    panel.refresh(QStringLiteral("slow"), 1);
    panel.refresh(QStringLiteral("fast"), 1);
    ASSERT_TRUE(waitFor([&] { return panel.loaded(); }));
    EXPECT_EQ(panel.entries().value(0).value, QStringLiteral("fast"));
    releaseSlow.release();
    panel.waitForSummaries();
    spin(50);
    EXPECT_EQ(panel.entries().value(0).value, QStringLiteral("fast"));

    // The viewer moved on (generation 2) before the read came back: dropped.
    panel.refresh(QStringLiteral("old photo"), 1);
    generation = 2;
    panel.waitForSummaries();
    spin(50);
    EXPECT_EQ(panel.entries().value(0).value, QStringLiteral("fast"));

    // A panel hidden meanwhile is not rebuilt.
    panel.refresh(QStringLiteral("hidden"), 2);
    panel.hide();
    panel.waitForSummaries();
    spin(50);
    EXPECT_EQ(panel.entries().value(0).value, QStringLiteral("fast"));
}

TEST_F(OverlayWidgets, InfoPanelRowsArePlainTextAndTwoLinesAtMost)
{
    InfoPanel panel;
    EXPECT_EQ(panel.width(), 300);
    // Markup hidden in a file name is shown as the characters it is.
    const QString markup = QStringLiteral("<b>bold</b><img src=x>.jpg");
    panel.setRating(3);
    panel.showEntries({{QStringLiteral("文件"), markup},
                       {QStringLiteral("镜头"), QString(200, QLatin1Char('W'))}});
    const QList<QLabel *> labels = panel.findChildren<QLabel *>();
    QStringList texts;
    for (QLabel *label : labels) {
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString();
        texts << label->text();
    }
    EXPECT_EQ(texts.value(0), QStringLiteral("照片信息"));
    EXPECT_EQ(texts.value(1), QStringLiteral("评分"));
    EXPECT_EQ(texts.value(2), QStringLiteral("★★★☆☆"));
    EXPECT_TRUE(texts.contains(markup));
    // A 200-letter word wraps inside the word and ends in an ellipsis on line two.
    const QString longValue = texts.value(6);
    EXPECT_EQ(longValue.count(QLatin1Char('\n')), 1);
    EXPECT_TRUE(longValue.endsWith(QChar(0x2026)));
    for (const QString &line : longValue.split(QLatin1Char('\n')))
        EXPECT_LE(QFontMetrics(OverlayStyle::font(12)).horizontalAdvance(line), InfoPanel::valueWidth);

    // In a short window the panel keeps to its room and the rows keep their
    // height and scroll, rather than being squeezed over one another or
    // running off below.
    const int whole = panel.sizeHint().height();
    panel.resize(InfoPanel::panelWidth, whole / 2);
    panel.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(panel.height(), whole / 2) << "it keeps to the room it is given";
    QLabel *previous = nullptr;
    for (QLabel *label : panel.findChildren<QLabel *>()) {
        EXPECT_GE(label->height(), label->sizeHint().height()) << label->text().toStdString();
        if (previous) {
            EXPECT_GE(label->y(), previous->geometry().bottom()) << label->text().toStdString();
        }
        previous = label;
    }
    panel.hide();

    // No entries: the no-EXIF text, and no rating rows when unrated.
    panel.setRating(0);
    panel.showEntries({});
    QStringList after;
    for (QLabel *label : panel.findChildren<QLabel *>())
        after << label->text();
    EXPECT_EQ(after, (QStringList{QStringLiteral("照片信息"), QStringLiteral("此文件没有 EXIF 信息")}));
}

TEST_F(OverlayWidgets, InfoPanelReadsARealFile)
{
    InfoPanel panel;
    panel.show();
    panel.refresh(corpus(QStringLiteral("exif/Canon EOS 7D.jpg")), 0);
    ASSERT_TRUE(waitFor([&] { return panel.loaded(); }));
    ASSERT_FALSE(panel.entries().isEmpty());
    EXPECT_EQ(panel.entries().front().value, QStringLiteral("Canon EOS 7D"));
    EXPECT_TRUE(panel.entries().back().value.startsWith(QStringLiteral("Canon EOS 7D.jpg · ")));
}

// With nothing to list, the panel tells a file without EXIF from one it could
// not read at all.
TEST_F(OverlayWidgets, InfoPanelTellsNoExifFromAFileItCannotRead)
{
    QTemporaryDir dir;
    const QString plain = dir.filePath(QStringLiteral("plain.png"));
    QFile file(plain);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("not a picture");
    file.close();
    const auto shownTexts = [](const InfoPanel &panel) {
        QStringList texts;
        for (const QLabel *label : panel.findChildren<QLabel *>())
            texts << label->text();
        return texts;
    };
    InfoPanel panel;
    panel.show();
    panel.refresh(plain, 0);
    ASSERT_TRUE(waitFor([&] { return panel.loaded(); }));
    EXPECT_TRUE(shownTexts(panel).contains(Texts::text("ui.noExif")));
    panel.refresh(dir.filePath(QStringLiteral("gone.png")), 0);
    ASSERT_TRUE(waitFor([&] { return shownTexts(panel).contains(Texts::text("ui.exifUnreadable")); }));
    EXPECT_FALSE(shownTexts(panel).contains(Texts::text("ui.noExif")));
}

TEST_F(OverlayWidgets, EmptyStateOpensAndShowsPlainText)
{
    EmptyStateView empty;
    int opened = 0;
    empty.onOpen = [&] { ++opened; };
    empty.openButton()->click();
    EXPECT_EQ(opened, 1);
    for (QLabel *label : empty.findChildren<QLabel *>())
        EXPECT_EQ(label->textFormat(), Qt::PlainText);
}

TEST_F(OverlayWidgets, MessageBubbleShowsMarkupInAFileNameAsText)
{
    HudBubble hud;
    const QString message = QStringLiteral("已重命名为 <i>a</i><br>b.jpg");
    hud.flash(message, 2);
    const QList<QLabel *> labels = hud.findChildren<QLabel *>();
    ASSERT_EQ(labels.size(), 1);
    EXPECT_EQ(labels.front()->textFormat(), Qt::PlainText);
    EXPECT_EQ(labels.front()->text(), message);
}

// What a screen reader is given: every symbol button named by its command.
TEST_F(OverlayWidgets, ScreenReadersHearTheButtonsNames)
{
    FloatingToolbar toolbar;
    const QList<QAbstractButton *> buttons = toolbar.findChildren<QAbstractButton *>();
    ASSERT_EQ(buttons.size(), qsizetype(toolbarButtons().size()));
    for (QAbstractButton *button : buttons) {
        const QString name = QAccessible::queryAccessibleInterface(button)->text(QAccessible::Name);
        EXPECT_FALSE(name.isEmpty());
        EXPECT_FALSE(name.contains(QStringLiteral("（"))) << qPrintable(name); // the key stays in the tooltip
    }
    NavigationArrow next(true);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&next)->text(QAccessible::Name), QStringLiteral("下一张"));
}

TEST_F(OverlayWidgets, MessageBubbleWrapsALongMessageWholeAndShortensOnlyWhatThreeLinesCannotHold)
{
    HudBubble hud;
    QLabel *label = hud.findChild<QLabel *>();
    ASSERT_NE(label, nullptr);
    const QFontMetrics metrics(label->font());
    const auto shown = [&](const QString &message) {
        hud.flash(message, 2);
        EXPECT_LE(hud.width(), HudBubble::maximumWidth) << qPrintable(message);
        const QStringList lines = label->text().split(QLatin1Char('\n'));
        for (const QString &line : lines)
            EXPECT_LE(metrics.horizontalAdvance(line), label->width()) << qPrintable(line);
        EXPECT_LE(lines.size(), 3);
        EXPECT_GE(label->height(), lines.size() * metrics.height());
        // Every line's full height, in whatever font draws it.
        EXPECT_GE(label->height(), label->sizeHint().height()) << qPrintable(message);
        EXPECT_LE(label->geometry().bottom(), hud.height());
        return lines;
    };
    const auto withoutBreaks = [](QString text) { return text.remove(QLatin1Char('\n')).remove(QLatin1Char(' ')); };

    const QString brief = QStringLiteral("已旋转并保存");
    EXPECT_EQ(shown(brief), QStringList{brief});
    const int oneLine = hud.height();

    // The tip, an English sentence and a file name with no space in it are shown whole.
    const QString longFileName = QStringLiteral("已重命名为 ") + QString(60, QLatin1Char('x')) + QStringLiteral(".jpg");
    for (const QString &message :
         {Texts::text("cleanup.tip"),
          QStringLiteral("Lots of photos? Press Ctrl+Shift+K for cleanup mode to find duplicates, closed eyes and "
                         "blurry shots"),
          longFileName,
          // Latin and Chinese on one line, two lines.
          QStringLiteral("评分没能写入：hopper.jpg（Permission denied）、hopper.png（Permission denied）")}) {
        const QStringList lines = shown(message);
        EXPECT_EQ(withoutBreaks(label->text()).toStdString(), withoutBreaks(message).toStdString());
        EXPECT_EQ(hud.height() > oneLine, lines.size() > 1);
        EXPECT_EQ(hud.message(), message);
        // Only the tip may fit on one line, depending on the font.
        if (message != Texts::text("cleanup.tip")) {
            EXPECT_GE(lines.size(), 2) << qPrintable(message);
        }
    }
    // Words are kept whole where they fit on a line, and the lines are of even length,
    // not a full one and a word left over.
    const QStringList sentence = shown(QStringLiteral("Lots of photos? Press Ctrl+Shift+K for cleanup mode to find "
                                                      "duplicates, closed eyes and blurry shots"));
    QList<int> widths;
    for (const QString &line : sentence) {
        EXPECT_FALSE(line.startsWith(QLatin1Char(' ')) || line.endsWith(QLatin1Char(' '))) << qPrintable(line);
        widths.append(metrics.horizontalAdvance(line));
    }
    EXPECT_GT(*std::min_element(widths.begin(), widths.end()), *std::max_element(widths.begin(), widths.end()) * 2 / 3);

    // Beyond three lines the middle goes, and both ends stay.
    const QString huge = QStringLiteral("start ") + QString(3000, QLatin1Char('y')) + QStringLiteral(" end");
    const QStringList lines = shown(huge);
    EXPECT_GE(lines.size(), 2);
    EXPECT_TRUE(label->text().contains(QChar(0x2026)));
    EXPECT_TRUE(lines.front().startsWith(QStringLiteral("start")));
    EXPECT_TRUE(lines.back().endsWith(QStringLiteral("end")));
}

TEST_F(OverlayWidgets, FaderHidesWhatBecameTransparentAndShowsFirst)
{
    QWidget host;
    auto *a = new QWidget(&host);
    auto *b = new QWidget(&host);
    host.show();
    ControlsFader fader;
    fader.animatedSet = [&] { return QList<QWidget *>{a, b}; };
    std::vector<double> steps;
    fader.onStep = [&](double o) { steps.push_back(o); };
    fader.fade(false, 0);
    EXPECT_TRUE(a->isHidden());
    EXPECT_TRUE(b->isHidden());
    EXPECT_EQ(fader.opacity(), 0.0);
    fader.fade(true, 0.15);
    EXPECT_FALSE(a->isHidden());
    ASSERT_TRUE(waitFor([&] { return !fader.running(); }, 2000));
    EXPECT_EQ(fader.opacity(), 1.0);
    EXPECT_EQ(a->graphicsEffect(), nullptr);
    EXPECT_GT(steps.size(), 1u);
    EXPECT_EQ(steps.back(), 1.0);
}

TEST_F(OverlayWidgets, ControlsHideOnTheirTimerAndStayHiddenWithoutAPhoto)
{
    QWidget host;
    auto *toolbar = new QWidget(&host);
    host.show();
    ControlsVisibility controls;
    double time = 0;
    controls.now = [&] { return time; };
    controls.animatedSet = [&] { return QList<QWidget *>{toolbar}; };
    std::vector<bool> changes;
    controls.onVisibilityChanged = [&](bool v) { changes.push_back(v); };
    // No photo: hidden at once, activity changes nothing.
    controls.setHasPhoto(false);
    controls.activity();
    EXPECT_FALSE(toolbar->isVisible());
    controls.setHasPhoto(true);
    EXPECT_TRUE(toolbar->isVisible());
    // The clock is already past the 3 s: the timer fires on the next pass and the
    // toolbar fades out over 0.4 s, then is hidden.
    time = 3.0;
    controls.activity();
    time = 6.5;
    controls.pointerLeft(); // due at 7.5: not yet
    spin(50);
    EXPECT_TRUE(controls.visible());
    time = 8.0;
    controls.pointerLeft(); // due at 9.0
    time = 9.0;
    ASSERT_TRUE(waitFor([&] { return !controls.visible(); }, 3000));
    ASSERT_TRUE(waitFor([&] { return toolbar->isHidden(); }, 3000));
    EXPECT_EQ(changes, (std::vector<bool>{true, false}));
}

namespace {

QImage halves(QSize size, QColor left, QColor right)
{
    QImage image(size, QImage::Format_RGBA8888_Premultiplied);
    QPainter painter(&image);
    painter.fillRect(QRect(0, 0, size.width() / 2, size.height()), left);
    painter.fillRect(QRect(size.width() / 2, 0, size.width() - size.width() / 2, size.height()), right);
    return image;
}

bool near(QColor a, QColor b, int tolerance = 12)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
           && std::abs(a.blue() - b.blue()) <= tolerance;
}

} // namespace

// The raster renderer draws a fade from copies reduced to the size on screen,
// made on a worker; until they come it scales quickly. Either way a frame must
// match drawing the photos directly, turned photos included, a new photo must
// never be drawn from the copy of the one before, and the mix of the two
// photos must not darken mid-fade.
TEST_F(OverlayWidgets, RasterFadeFramesMixThePhotosWithoutDarkening)
{
    QWidget host;
    host.resize(400, 300);
    std::unique_ptr<ImageSurface> surface = ImageSurface::createRaster(&host);
    surface->widget()->setGeometry(0, 0, 400, 300);
    host.show();
    ASSERT_TRUE(waitFor([&] { return host.isVisible(); }));
    auto frameOf = [&](const ImageScene &scene) {
        surface->setScene(scene);
        return surface->widget()->grab().toImage();
    };
    auto layer = [](const QImage &image, int turns, double opacity, QRectF frame = QRectF(50, 25, 300, 250)) {
        SceneLayer l;
        l.bitmap = std::make_shared<RenderBitmap>(image);
        l.frame = frame;
        l.turns = turns;
        l.opacity = opacity;
        return l;
    };
    // A photo 500 x 600, left red and right blue, turned a quarter clockwise into a
    // 300 x 250 frame: red on top, blue below.
    const QImage redBlue = halves({500, 600}, Qt::red, Qt::blue);
    ImageScene direct;
    direct.image = layer(redBlue, 1, 1.0);
    const QImage opaque = frameOf(direct);
    ImageScene fading;
    fading.image = layer(redBlue, 1, 1.0);
    fading.ghost = layer(halves({500, 600}, Qt::green, Qt::green), 0, 0.0);
    const QImage quick = frameOf(fading);
    spin(400); // the worker's copies arrive
    const QImage reduced = frameOf(fading);
    for (QPoint p : {QPoint(120, 60), QPoint(280, 60), QPoint(120, 240), QPoint(280, 240)}) {
        const QColor expected = p.y() < 150 ? QColor(Qt::red) : QColor(Qt::blue);
        EXPECT_TRUE(near(opaque.pixelColor(p), expected)) << p.x() << "," << p.y();
        EXPECT_TRUE(near(quick.pixelColor(p), expected)) << p.x() << "," << p.y();
        EXPECT_TRUE(near(reduced.pixelColor(p), expected)) << p.x() << "," << p.y();
    }
    // Outside the frame stays black.
    EXPECT_TRUE(near(reduced.pixelColor(20, 150), Qt::black));

    // Halfway from a light grey photo to a dark grey one of the same frame: the
    // average of the two, not the darker mix of each over black. The new photo
    // is wider: where only it lies, it fades in from black.
    const QColor light(200, 200, 200), dark(100, 100, 100);
    ImageScene mid;
    mid.image = layer(halves({500, 600}, dark, dark), 0, 0.5, QRectF(0, 25, 400, 250));
    mid.ghost = layer(halves({500, 600}, light, light), 0, 0.5);
    for (int pass = 0; pass < 2; ++pass) {
        const QImage frame = frameOf(mid);
        EXPECT_TRUE(near(frame.pixelColor(200, 150), QColor(150, 150, 150), 4)) << frame.pixelColor(200, 150).red();
        EXPECT_TRUE(near(frame.pixelColor(20, 150), QColor(50, 50, 50), 4)) << frame.pixelColor(20, 150).red();
        EXPECT_TRUE(near(frame.pixelColor(200, 10), Qt::black, 0));
        spin(400);
    }
}
