// The overlays and the slideshow joined to the real window: toolbar buttons and
// arrows run their commands, the information panel follows the menu and Escape,
// and the slideshow floats the filmstrip, holds its ticks under a modal dialog
// and stops when full screen ends or another page covers the viewer.
#include "TestData.h"
#include "app/ViewerHandOffs.h"
#include "app/ViewerWindowController.h"
#include "fileops/XmpRating.h"
#include "library/FilmstripView.h"
#include "settings/Settings.h"
#include "settings/Texts.h"
#include "viewer/ControlsFader.h"
#include "viewer/ControlsVisibility.h"
#include "viewer/FloatingToolbar.h"
#include "viewer/InfoPanel.h"
#include "viewer/NavigationArrow.h"
#include "viewer/SlideshowController.h"
#include "viewer/ViewerOverlays.h"
#include "viewer/ViewerPage.h"
#include "viewer/ViewerPageEdits.h"
#include "viewer/ZoomableImageView.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QDialog>
#include <QMouseEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QMenuBar>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>

#include <functional>
#include <memory>
#include <optional>

namespace {

class ApplicationEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "ViewerOverlaysTest";
        static char *argv[] = {name, nullptr};
        app = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { app.reset(); }

private:
    std::unique_ptr<QApplication> app;
};

[[maybe_unused]] ::testing::Environment *const environment
    = ::testing::AddGlobalTestEnvironment(new ApplicationEnvironment);

bool waitFor(const std::function<bool()> &done, int timeoutMs = 10000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

void spin(int ms)
{
    waitFor([] { return false; }, ms);
}

// A page standing in for the cleanup review: something that covers the viewer.
class CoverPage : public CommandPage
{
public:
    QWidget *pageWidget() override { return &widget; }
    QWidget widget;
};

class ViewerOverlaysTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sandbox.isValid());
        for (const char *name : {"a.jpg", "b.jpg", "c.jpg"}) {
            QImage picture(320, 240, QImage::Format_RGB32);
            picture.fill(QColor(40, 90, 160));
            ASSERT_TRUE(picture.save(sandbox.filePath(QString::fromLatin1(name))));
        }
        Settings::setSlideshowInterval(3);
        window = std::make_unique<ViewerWindowController>();
        window->show();
        page = window->viewerPage();
        overlays = page->findChild<ViewerOverlays *>();
        ASSERT_NE(overlays, nullptr);
    }

    void openFolder()
    {
        page->open(sandbox.path());
        ASSERT_TRUE(waitFor([&] { return page->currentPhotoPath().has_value(); }));
    }

    QTemporaryDir sandbox;
    std::unique_ptr<ViewerWindowController> window;
    ViewerPage *page = nullptr;
    ViewerOverlays *overlays = nullptr;
};

} // namespace

TEST_F(ViewerOverlaysTest, WithoutPhotosTheButtonsWaitAndTheSlideshowSaysWhy)
{
    FloatingToolbar *toolbar = overlays->toolbar();
    EXPECT_FALSE(toolbar->button(OverlayButton::info)->isEnabled());
    EXPECT_FALSE(toolbar->button(OverlayButton::zoomIn)->isEnabled());
    EXPECT_FALSE(window->router().state(CommandId::toggleInfoPanel).enabled);
    EXPECT_TRUE(window->router().dispatch(CommandId::toggleSlideshow));
    EXPECT_FALSE(overlays->slideshow()->isOn());
    EXPECT_EQ(page->hudMessage(), Texts::text("ui.noImages"));
    EXPECT_FALSE(window->isFullScreen());
}

TEST_F(ViewerOverlaysTest, ButtonsAndArrowsRunTheirCommandsAndThePanelFollows)
{
    openFolder();
    FloatingToolbar *toolbar = overlays->toolbar();
    ASSERT_TRUE(toolbar->button(OverlayButton::info)->isEnabled());
    // Commands without a handler yet stay disabled on the toolbar too.
    EXPECT_EQ(toolbar->button(OverlayButton::trash)->isEnabled(),
              window->router().state(CommandId::trashCurrent).enabled);

    toolbar->button(OverlayButton::info)->click();
    EXPECT_TRUE(page->infoPanelVisible());
    EXPECT_TRUE(window->router().state(CommandId::toggleInfoPanel).checked);
    InfoPanel *panel = overlays->infoPanel();
    EXPECT_EQ(panel->width(), InfoPanel::panelWidth);
    EXPECT_EQ(panel->geometry().right(), page->width() - 12 - 1);
    ASSERT_TRUE(waitFor([&] { return panel->loaded(); }));

    // The next arrow moves on, and the open panel describes the new photo.
    const QString first = *page->currentPhotoPath();
    NavigationArrow *next = nullptr;
    for (NavigationArrow *arrow : page->findChildren<NavigationArrow *>())
        if (arrow->isForward())
            next = arrow;
    ASSERT_NE(next, nullptr);
    next->click();
    ASSERT_TRUE(waitFor([&] { return page->currentPhotoPath() && *page->currentPhotoPath() != first; }));
    ASSERT_TRUE(waitFor([&] { return panel->loaded(); }));
    EXPECT_TRUE(page->infoPanelVisible());

    // Escape hides the panel before it does anything else.
    page->handleEscape();
    EXPECT_FALSE(page->infoPanelVisible());
    EXPECT_FALSE(window->router().state(CommandId::toggleInfoPanel).checked);

    const bool strip = page->filmstripShown();
    toolbar->button(OverlayButton::filmstrip)->click();
    EXPECT_NE(page->filmstripShown(), strip);
}

// Features join the viewer by adding handlers, some after the toolbar is
// built: its buttons follow without anyone telling the toolbar.
TEST_F(ViewerOverlaysTest, ToolbarButtonsFollowHandlersAddedAndRemovedLater)
{
    openFolder();
    OverlaySymbolButton *exportButton = overlays->toolbar()->button(OverlayButton::exportAs);
    page->commands.remove(CommandId::exportAs);
    ASSERT_TRUE(waitFor([&] { return !exportButton->isEnabled(); }));

    int exported = 0;
    page->commands.on(CommandId::exportAs, [&](int) { ++exported; });
    ASSERT_TRUE(waitFor([&] { return exportButton->isEnabled(); }));
    exportButton->click();
    EXPECT_EQ(exported, 1);

    // A rule that changes with the photo on screen is asked again as it changes.
    const QString first = *page->currentPhotoPath();
    page->commands.on(
        CommandId::exportAs, [&](int) { ++exported; },
        [&](int) { return CommandState{page->currentPhotoPath() == first, false, {}}; });
    ASSERT_TRUE(waitFor([&] { return exportButton->isEnabled(); }));
    window->router().dispatch(CommandId::navigateForward);
    EXPECT_TRUE(waitFor([&] { return !exportButton->isEnabled(); }));
}

TEST_F(ViewerOverlaysTest, SlideshowFloatsTheFilmstripAndStopsWhenFullScreenEnds)
{
    openFolder();
    SlideshowController *slideshow = overlays->slideshow();
    ASSERT_TRUE(window->router().dispatch(CommandId::toggleSlideshow));
    ASSERT_TRUE(slideshow->isPlaying());
    EXPECT_TRUE(window->isFullScreen());
    EXPECT_TRUE(page->filmstripFloating());
    EXPECT_EQ(page->photoArea(), page->rect()) << "the photo takes the whole page under the floating filmstrip";
    EXPECT_TRUE(window->router().state(CommandId::toggleSlideshow).checked);
    // The menu item says it leaves full screen; the menu bar is away meanwhile.
    EXPECT_EQ(window->router().state(CommandId::toggleFullScreen).title, Texts::text("menu.exitFullscreen"));
    EXPECT_FALSE(window->menuBar()->isVisible());

    // Choosing an interval from the menu reaches the running slideshow.
    ASSERT_TRUE(window->router().dispatch(CommandId::setSlideshowInterval, 5));
    EXPECT_EQ(Settings::slideshowInterval(), 5);
    EXPECT_EQ(slideshow->timing().interval(), 5);

    window->showNormal();
    EXPECT_TRUE(window->menuBar()->isVisible());
    EXPECT_FALSE(slideshow->isOn());
    EXPECT_TRUE(window->router().state(CommandId::toggleFullScreen).title.isEmpty());
    EXPECT_FALSE(page->filmstripFloating());
    EXPECT_EQ(page->hudMessage(), Texts::text("msg.slideshowOff"));
}

// The controls do not fade from under a pointer resting on them, and a click
// on the photo brings them back once they have gone.
TEST_F(ViewerOverlaysTest, TheControlsStayUnderThePointerAndComeBackOnAClick)
{
    openFolder();
    ControlsVisibility *controls = overlays->controls();
    FloatingToolbar *toolbar = overlays->toolbar();
    ASSERT_TRUE(waitFor([&] { return toolbar->isVisible(); }));
    QCursor::setPos(toolbar->mapToGlobal(toolbar->rect().center()));
    if (!waitFor([&] { return toolbar->underMouse(); }, 3000))
        GTEST_SKIP() << "this display does not move the pointer";
    controls->activity();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 3600)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_TRUE(controls->visible());

    // Off the controls, they go; a click on the photo shows them again.
    QCursor::setPos(page->imageView()->mapToGlobal(QPoint(10, 10)));
    ASSERT_TRUE(waitFor([&] { return !toolbar->underMouse(); }, 3000));
    controls->pointerLeft();
    ASSERT_TRUE(waitFor([&] { return !controls->visible(); }, 3000));
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(10, 10), page->imageView()->mapToGlobal(QPointF(10, 10)),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(page->imageView(), &press);
    EXPECT_TRUE(controls->visible());
}

// The floating strip fades with the controls; once the slideshow ends it is
// back in its place at full opacity, whether the controls had faded out or
// were fading when it ended.
TEST_F(ViewerOverlaysTest, TheFilmstripComesBackWholeAfterASlideshowWhoseControlsFaded)
{
    openFolder();
    FilmstripView *strip = page->filmstrip();
    ControlsFader &fader = overlays->controls()->fader();
    for (double fadeSeconds : {0.0, 0.3}) {
        ASSERT_TRUE(window->router().dispatch(CommandId::toggleSlideshow));
        ASSERT_TRUE(page->filmstripFloating());
        fader.fade(false, fadeSeconds);
        if (fadeSeconds == 0.0) {
            EXPECT_FALSE(strip->isVisible());
        }
        window->showNormal();
        ASSERT_FALSE(overlays->slideshow()->isOn());
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 500)
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        EXPECT_TRUE(page->filmstripShown());
        EXPECT_TRUE(strip->isVisible()) << fadeSeconds;
        EXPECT_EQ(strip->graphicsEffect(), nullptr) << fadeSeconds;
    }
}

// The Trash command takes the photo out of the strip and says where it went
// (the Trash of the test's own home); Ctrl+Z puts it back and shows it, but
// never over a file that has taken its name since.
// Another program rating the shown photo in a sidecar (written in place,
// renamed over it, made anew or removed) is seen, as a change to the photo is.
TEST_F(ViewerOverlaysTest, ARatingAnotherProgramWritesInASidecarIsShown)
{
    openFolder();
    const QString shown = *page->currentPhotoPath();
    ASSERT_EQ(page->currentRating(), 0);
    const QString sidecar = QFileInfo(shown).dir().filePath(QFileInfo(shown).completeBaseName() + ".xmp");
    const auto write = [](const QString &path, int stars) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(XmpRating::sidecarTemplate(stars)) > 0;
    };
    ASSERT_TRUE(write(sidecar, 3));
    EXPECT_TRUE(waitFor([&] { return page->currentRating() == 3; }, 10000));
    ASSERT_TRUE(write(sidecar, 2));
    EXPECT_TRUE(waitFor([&] { return page->currentRating() == 2; }, 10000));
    ASSERT_TRUE(write(sidecar + ".tmp", 5));
    ASSERT_EQ(std::rename(QFile::encodeName(sidecar + ".tmp").constData(), QFile::encodeName(sidecar).constData()), 0);
    EXPECT_TRUE(waitFor([&] { return page->currentRating() == 5; }, 10000));
    ASSERT_TRUE(QFile::remove(sidecar));
    EXPECT_TRUE(waitFor([&] { return page->currentRating() == 0; }, 10000));
}

TEST_F(ViewerOverlaysTest, TheTrashCommandSaysWhereThePhotoWentAndUndoPutsItBack)
{
    installViewerHandOffs(window.get());
    openFolder();
    const auto bytesOf = [](const QString &path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const QString shown = *page->currentPhotoPath();
    const QByteArray original = bytesOf(shown);
    // Its rating sidecar, with no other file of its name: it goes and comes back
    // with the photo, and would otherwise rate the next photo of that name.
    const QString sidecar = QFileInfo(shown).dir().filePath(QFileInfo(shown).completeBaseName() + ".xmp");
    {
        QFile file(sidecar);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("<x:xmpmeta xmlns:x='adobe:ns:meta/'/>");
    }
    EXPECT_FALSE(window->router().state(CommandId::undoTrash).enabled);
    ASSERT_TRUE(window->router().dispatch(CommandId::trashCurrent));
    EXPECT_TRUE(waitFor([&] { return page->hudMessage() == Texts::format("msg.trashed", {QFileInfo(shown).fileName()}); }))
        << qPrintable(page->hudMessage());
    EXPECT_FALSE(QFileInfo::exists(shown));
    EXPECT_FALSE(QFileInfo::exists(sidecar));
    EXPECT_EQ(page->controller()->folderModel().count(), 2);

    ASSERT_TRUE(window->router().dispatch(CommandId::undoTrash));
    EXPECT_TRUE(waitFor([&] { return page->hudMessage() == Texts::format("msg.untrashed", {QFileInfo(shown).fileName()}); }))
        << qPrintable(page->hudMessage());
    EXPECT_EQ(bytesOf(shown), original);
    EXPECT_EQ(bytesOf(sidecar), "<x:xmpmeta xmlns:x='adobe:ns:meta/'/>");
    ASSERT_TRUE(QFile::remove(sidecar));
    EXPECT_TRUE(waitFor([&] { return page->currentPhotoPath() == shown; }));
    EXPECT_EQ(page->controller()->folderModel().count(), 3);
    EXPECT_FALSE(window->router().dispatch(CommandId::undoTrash)); // nothing more to put back

    // A new file under the old name since: it stays, the photo stays in the Trash.
    ASSERT_TRUE(window->router().dispatch(CommandId::trashCurrent));
    ASSERT_TRUE(waitFor([&] { return page->hudMessage() == Texts::format("msg.trashed", {QFileInfo(shown).fileName()}); }));
    QFile newcomer(shown);
    ASSERT_TRUE(newcomer.open(QIODevice::WriteOnly));
    newcomer.write("not the photo");
    newcomer.close();
    ASSERT_TRUE(window->router().dispatch(CommandId::undoTrash));
    EXPECT_TRUE(waitFor([&] { return page->hudMessage().startsWith(Texts::format("msg.untrashFailed", {QFileInfo(shown).fileName(), QString()})); }))
        << qPrintable(page->hudMessage());
    EXPECT_EQ(bytesOf(shown), QByteArray("not the photo"));

    // Once the place is free again, Ctrl+Z still puts the photo back.
    ASSERT_TRUE(QFile::remove(shown));
    ASSERT_TRUE(window->router().dispatch(CommandId::undoTrash));
    EXPECT_TRUE(waitFor([&] { return page->hudMessage() == Texts::format("msg.untrashed", {QFileInfo(shown).fileName()}); }))
        << qPrintable(page->hudMessage());
    EXPECT_EQ(bytesOf(shown), original);
    EXPECT_FALSE(window->router().dispatch(CommandId::undoTrash));

    // Rated, sent to the Trash, and another photo given its name: the newcomer
    // shows its own rating, not the one that left.
    ASSERT_TRUE(waitFor([&] { return page->currentPhotoPath() == shown; }));
    ASSERT_TRUE(window->router().dispatch(CommandId::setRatingMenu, 4));
    ASSERT_TRUE(waitFor([&] { return page->currentRating() == 4; }));
    page->edits()->edits.waitForIdle();
    ASSERT_TRUE(window->router().dispatch(CommandId::trashCurrent));
    ASSERT_TRUE(waitFor([&] { return page->hudMessage().startsWith(Texts::format("msg.trashed", {QFileInfo(shown).fileName()})); }));
    QImage(40, 30, QImage::Format_RGB32).save(shown, "JPEG");
    ASSERT_TRUE(waitFor([&] { return page->controller()->folderModel().position(shown).has_value(); }, 10000));
    page->controller()->goTo(*page->controller()->folderModel().position(shown));
    ASSERT_TRUE(waitFor([&] { return page->currentPhotoPath() == shown; }));
    page->edits()->edits.waitForIdle();
    QCoreApplication::processEvents();
    EXPECT_EQ(page->currentRating(), 0);
}

// An application entry whose program is missing is refused with a word, and
// the editor stays as it was.
TEST_F(ViewerOverlaysTest, AnEditorThatCannotStartIsRefusedAndSaidSo)
{
    installViewerHandOffs(window.get());
    openFolder();
    const QString entry = sandbox.filePath("gone.desktop");
    QFile file(entry);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Desktop Entry]\nType=Application\nName=Gone\nTryExec=/nonexistent/gone\nExec=/nonexistent/gone %F\n");
    file.close();
    const std::optional<QString> before = Settings::editorAppPath();
    ASSERT_TRUE(window->router().dispatch(CommandId::chooseEditor));
    QFileDialog *dialog = window->findChild<QFileDialog *>();
    ASSERT_NE(dialog, nullptr);
    Q_EMIT dialog->fileSelected(entry);
    EXPECT_EQ(page->hudMessage(), Texts::format("msg.appUnusable", {"gone.desktop"}));
    EXPECT_EQ(Settings::editorAppPath(), before);
    dialog->reject();
}

TEST_F(ViewerOverlaysTest, AnotherPageOverTheViewerStopsTheSlideshow)
{
    openFolder();
    SlideshowController *slideshow = overlays->slideshow();
    ASSERT_TRUE(window->router().dispatch(CommandId::toggleSlideshow));
    ASSERT_TRUE(slideshow->isOn());
    CoverPage cover;
    window->pushPage(&cover);
    EXPECT_FALSE(slideshow->isOn());
    window->popPage(&cover);
}

TEST_F(ViewerOverlaysTest, AModalDialogHoldsTheTicks)
{
    openFolder();
    SlideshowController *slideshow = overlays->slideshow();
    ASSERT_TRUE(window->router().dispatch(CommandId::toggleSlideshow));
    ASSERT_TRUE(slideshow->isOn());
    QDialog dialog(window.get());
    dialog.setModal(true);
    dialog.show();
    dialog.activateWindow();
    ASSERT_TRUE(waitFor([&] { return slideshow->timing().modalOpen(); }, 5000));
    dialog.close();
    window->activateWindow();
    EXPECT_TRUE(waitFor([&] { return !slideshow->timing().modalOpen(); }, 5000));

    // The Open panel, closed with Cancel, lets the ticks go on as well.
    window->openFolderPanel();
    auto *panel = window->findChild<QFileDialog *>(QStringLiteral("openPanel"));
    ASSERT_NE(panel, nullptr);
    ASSERT_TRUE(waitFor([&] { return slideshow->timing().modalOpen(); }, 5000));
    panel->reject();
    EXPECT_TRUE(waitFor([&] { return !slideshow->timing().modalOpen(); }, 5000));
    slideshow->stop();
}

// Minimised, hidden by the global shortcut or left on another desktop, the
// window shows nothing: the slideshow waits and an animation stops drawing
// frames; both go on once the window is seen again.
TEST_F(ViewerOverlaysTest, AWindowOutOfSightHoldsTheSlideshowAndTheAnimation)
{
    ASSERT_TRUE(QFile::copy(TestData::photo(QStringLiteral("animated/iss634.gif")), sandbox.filePath("0.gif")));
    openFolder();
    ZoomableImageView *view = page->imageView();
    ASSERT_TRUE(waitFor([&] { return view->animationActive() && view->hasImage(); }, 5000));
    // The frames are decoded on a worker; the first one is shown whenever they
    // arrive. On a loaded machine that can be after the hide below, so the
    // animation is seen playing first.
    const uint64_t still = view->currentBitmapId();
    ASSERT_TRUE(waitFor([&] { return view->currentBitmapId() > still + 1; }, 10000)) << "the animation did not play";
    SlideshowController *slideshow = overlays->slideshow();
    ASSERT_TRUE(window->router().dispatch(CommandId::toggleSlideshow));
    ASSERT_TRUE(slideshow->isOn());

    window->hide();
    EXPECT_TRUE(slideshow->timing().outOfSight());
    EXPECT_FALSE(slideshow->timing().nextTick());
    spin(150);
    const uint64_t held = view->currentBitmapId();
    spin(500);
    EXPECT_EQ(view->currentBitmapId(), held) << "frames drawn out of sight";

    window->show();
    EXPECT_FALSE(slideshow->timing().outOfSight());
    ASSERT_TRUE(slideshow->timing().nextTick());
    EXPECT_TRUE(waitFor([&] { return view->currentBitmapId() != held; }, 5000)) << "the animation did not go on";
    slideshow->stop();
}

// Another program writes the shown photo's file (a rating, a tag): a turn of
// the view not yet saved stays. A picture of another size starts upright.
TEST_F(ViewerOverlaysTest, AnUnsavedTurnOutlivesAnotherProgramWritingTheFile)
{
    openFolder();
    const QString shown = *page->currentPhotoPath();
    ASSERT_TRUE(window->router().dispatch(CommandId::rotateCW));
    ASSERT_EQ(page->imageView()->quarterTurns(), 1);
    const auto rewrite = [&](QSize size, QColor colour) {
        QImage picture(size, QImage::Format_RGB32);
        picture.fill(colour);
        ASSERT_TRUE(picture.save(shown, "JPEG", 50));
        page->controller()->refreshFolder();
    };
    rewrite(QSize(320, 240), QColor(200, 90, 40));
    ASSERT_TRUE(waitFor([&] { return page->imageView()->baseImage().pixelColor(5, 5).red() > 150; }));
    EXPECT_EQ(page->imageView()->quarterTurns(), 1);

    rewrite(QSize(200, 300), QColor(40, 200, 40));
    ASSERT_TRUE(waitFor([&] { return page->imageView()->baseImage().pixelColor(5, 5).green() > 150; }));
    EXPECT_EQ(page->imageView()->quarterTurns(), 0);
}

// Delete pressed while the next photo is still loading (the last one is still
// on screen) moves nothing, and says so rather than nothing at all.
TEST_F(ViewerOverlaysTest, DeleteWhileThePhotoLoadsSaysItMovedNothing)
{
    installViewerHandOffs(window.get());
    openFolder();
    ViewerViewController *controller = page->controller();
    const auto pageHook = controller->onCurrentChanged;
    std::optional<bool> dispatched;
    controller->onCurrentChanged = [&] {
        if (pageHook)
            pageHook();
        if (!dispatched && !page->currentPhotoPath())
            dispatched = window->router().dispatch(CommandId::trashCurrent);
    };
    ASSERT_TRUE(window->router().dispatch(CommandId::navigateForward));
    controller->onCurrentChanged = pageHook;
    ASSERT_TRUE(dispatched.has_value()) << "the next photo was shown without loading";
    EXPECT_TRUE(*dispatched);
    EXPECT_EQ(page->hudMessage(), Texts::text("msg.trashWhileLoading"));
    EXPECT_EQ(QDir(sandbox.path()).entryList(QDir::Files).size(), 3);
}
