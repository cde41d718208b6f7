// The window and the launch sequence in process, on Qt's offscreen platform.
#include "app/AppDelegate.h"
#include "app/CleanupMode.h"
#include "cleanup/CleanupController.h"
#include "cleanup/review/CleanupGridView.h"
#include "cleanup/review/CleanupPage.h"
#include "app/MainMenu.h"
#include "app/OpenPanel.h"
#include "app/ViewerHandOffs.h"
#include "app/QtTranslations.h"
#include "app/SingleInstance.h"
#include "app/ViewerWindowController.h"
#include "platform/PhotoClipboard.h"
#include "settings/Settings.h"
#include "settings/Shortcuts.h"
#include "viewer/ViewerPage.h"
#include "viewer/ZoomableImageView.h"
#include "settings/Texts.h"
#include "support/AsOtherUser.h"
#include "TestData.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QMenu>
#include <QMenuBar>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QKeyEvent>
#include <QMimeData>
#include <QUrl>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QStackedWidget>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <unistd.h>

#include <memory>

namespace {

// The application object lives exactly as long as the tests: destroyed by the
// test environment, never by the static destructors after main.
class ApplicationEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "AppShellTest";
        static char *argv[] = {name, nullptr};
        app = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { app.reset(); }

private:
    std::unique_ptr<QApplication> app;
};

[[maybe_unused]] ::testing::Environment *const environment
    = ::testing::AddGlobalTestEnvironment(new ApplicationEnvironment);

QSettings store()
{
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, "Glanto", "Glanto");
}

// Delivers queued work, including the deletion of a closed panel.
void settle()
{
    QApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

bool settleUntil(const std::function<bool()> &done, int timeoutMs = 30000)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

QFileDialog *openPanelOf(QWidget *window)
{
    return window->findChild<QFileDialog *>(QStringLiteral("openPanel"));
}

class AppShell : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sandbox.isValid());
        QDir(sandbox.path()).mkpath("Holiday");
        QImage picture(64, 48, QImage::Format_RGB32);
        picture.fill(Qt::darkCyan);
        ASSERT_TRUE(picture.save(sandbox.filePath("Holiday/a-sunrise.jpg")));
        ASSERT_TRUE(picture.save(sandbox.filePath("Holiday/beach.jpg")));
        store().remove(ViewerWindowController::frameAutosaveName);
    }

    QString folder() const { return sandbox.filePath("Holiday"); }
    QString photo() const { return sandbox.filePath("Holiday/beach.jpg"); }
    QString firstInFolder() const { return sandbox.filePath("Holiday/a-sunrise.jpg"); }

    // Shows the window on path and waits for the photo; the window's viewer.
    static ViewerPage *showOn(ViewerWindowController &window, const QString &path)
    {
        window.show();
        window.open(path);
        ViewerPage *viewer = window.viewerPage();
        EXPECT_TRUE(settleUntil([&] { return viewer->currentPhotoPath() == path; }));
        return viewer;
    }

    // Enters the review, waits for its groups and leaves only the folder's
    // first photo ticked; null when the review did not open.
    CleanupController *reviewTickingFirst(ViewerWindowController &window) const
    {
        CleanupPage *page = enterCleanup(&window);
        if (!page)
            return nullptr;
        CleanupController &review = page->controller();
        EXPECT_TRUE(settleUntil([&] { return review.groupingComplete(); }));
        review.checkNone();
        review.setChecked(firstInFolder(), true);
        return &review;
    }

    // The photo the window's viewer shows; empty when it shows none.
    static QString shown(ViewerWindowController *window)
    {
        const std::optional<ImageItem> item = window->viewerPage()->controller()->folderModel().current();
        return item ? item->url : QString();
    }

    QTemporaryDir sandbox;
};

} // namespace

TEST_F(AppShell, WindowOpensWithTheEmptyStateWhoseButtonOpensThePanel)
{
    ViewerWindowController window;
    window.resize(100, 100);
    EXPECT_EQ(window.size(), window.minimumSize()) << "it can never be made smaller";

    ASSERT_NE(window.viewerPage(), nullptr);
    window.show();
    EXPECT_EQ(window.viewerPage()->emptyHint(), Texts::text("ui.emptyHint"));
    QPushButton *button = nullptr;
    for (QPushButton *candidate : window.viewerPage()->emptyState()->findChildren<QPushButton *>()) {
        if (candidate->text() == Texts::text("ui.openButton"))
            button = candidate;
    }
    ASSERT_NE(button, nullptr);

    // The button brings up the Open panel as a sheet on this window.
    button->click();
    QFileDialog *panel = openPanelOf(&window);
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(panel->windowModality(), Qt::WindowModal);
    panel->reject();

    // Without a mouse: Tab reaches the button, and Space or Return presses it,
    // though both keys run commands elsewhere in the window.
    const auto press = [](QWidget *to, Qt::Key key, const QString &text = {}) {
        QKeyEvent down(QEvent::KeyPress, key, Qt::NoModifier, text);
        QKeyEvent up(QEvent::KeyRelease, key, Qt::NoModifier, text);
        QApplication::sendEvent(to, &down);
        QApplication::sendEvent(to, &up);
    };
    window.activateWindow();
    ASSERT_TRUE(settleUntil([&] { return window.isActiveWindow(); }));
    for (int i = 0; i < 4 && !button->hasFocus(); ++i)
        press(QApplication::focusWidget() ? QApplication::focusWidget() : &window, Qt::Key_Tab);
    ASSERT_TRUE(button->hasFocus());
    for (const Qt::Key key : {Qt::Key_Space, Qt::Key_Return}) {
        press(button, key, key == Qt::Key_Space ? QStringLiteral(" ") : QStringLiteral("\r"));
        panel = openPanelOf(&window);
        ASSERT_NE(panel, nullptr) << key;
        EXPECT_TRUE(panel->isVisible()) << key;
        panel->reject();
        QCoreApplication::processEvents();
    }
}

TEST_F(AppShell, TheOpenPanelListsFoldersAndPhotosAndOnAskEverything)
{
    QImage picture(8, 8, QImage::Format_RGB32);
    picture.fill(Qt::red);
    ASSERT_TRUE(picture.save(sandbox.filePath("Holiday/SHOUT.JPG"), "JPEG"));
    QDir(folder()).mkpath("Day 2");
    QFile notes(sandbox.filePath("Holiday/notes.txt"));
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.close();

    ViewerWindowController window;
    window.show();
    showOpenPanel(&window, folder(), nullptr);
    QFileDialog *panel = openPanelOf(&window);
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(panel->nameFilters().size(), 2);
    EXPECT_EQ(panel->selectedNameFilter(), panel->nameFilters().first());

    // The names the panel lists, once its model has read the folder.
    const auto listed = [panel](int expected) {
        QAbstractItemView *list = panel->findChild<QAbstractItemView *>(QStringLiteral("listView"));
        QStringList names;
        for (int round = 0; list && round < 200; ++round) {
            QApplication::processEvents(QEventLoop::AllEvents, 20);
            names.clear();
            QAbstractItemModel *model = list->model();
            for (int row = 0; row < model->rowCount(list->rootIndex()); ++row)
                names << model->index(row, 0, list->rootIndex()).data().toString();
            if (names.size() >= expected)
                break;
        }
        names.sort();
        return names.join(QStringLiteral(", ")).toStdString();
    };
    EXPECT_EQ(listed(4), "Day 2, SHOUT.JPG, a-sunrise.jpg, beach.jpg");
    panel->selectNameFilter(panel->nameFilters().last());
    EXPECT_EQ(listed(5), "Day 2, SHOUT.JPG, a-sunrise.jpg, beach.jpg, notes.txt");
    panel->reject();
}

TEST_F(AppShell, FrameIsRememberedAndTheWindowOpensCentred)
{
    {
        ViewerWindowController first;
        first.show();
        first.resize(720, 520);
        first.close();
    }
    EXPECT_TRUE(store().contains(ViewerWindowController::frameAutosaveName));

    ViewerWindowController second;
    EXPECT_EQ(second.size(), QSize(720, 520));
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    const QPoint centre = QRect(second.pos(), second.size()).center();
    EXPECT_LE((centre - available.center()).manhattanLength(), 2);
}

TEST_F(AppShell, DamagedFrameRecordFallsBackToTheDefaultSize)
{
    store().setValue(ViewerWindowController::frameAutosaveName, QByteArray("not a frame"));
    ViewerWindowController window;
    // The default, within the screen (Qt's offscreen screen is 800 x 800).
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(window.size(), QSize(1280, 860).boundedTo(available.size() * 0.9));
}

TEST_F(AppShell, TheWindowOpensWithinTheScreen)
{
    const auto opening = ViewerWindowController::openingSize;
    // The default on a large screen, on a 1366 x 768 laptop (its free area
    // under a panel), and on a 1280 x 800 screen scaled by 1.5.
    EXPECT_EQ(opening(std::nullopt, QRect(0, 0, 2560, 1600)), QSize(1280, 860));
    EXPECT_EQ(opening(std::nullopt, QRect(0, 27, 1366, 741)), QSize(1229, 667));
    EXPECT_EQ(opening(std::nullopt, QRect(0, 0, 853, 533)), QSize(768, 480));
    // A remembered size that fits is kept; one from a larger screen is made to
    // fit with room for the frame, as the default is; nothing goes under the
    // minimum, but on a screen smaller than the minimum the screen is the bound.
    EXPECT_EQ(opening(QSize(1500, 900), QRect(0, 27, 1366, 741)), QSize(1229, 667));
    EXPECT_EQ(opening(QSize(1000, 900), QRect(0, 27, 1366, 741)), QSize(1000, 667));
    EXPECT_EQ(opening(QSize(1366, 741), QRect(0, 27, 1366, 741)), QSize(1366, 741));
    EXPECT_EQ(opening(QSize(1000, 700), QRect(0, 27, 1366, 741)), QSize(1000, 700));
    EXPECT_EQ(opening(QSize(500, 300), QRect(0, 27, 1366, 741)), QSize(640, 420));
    EXPECT_EQ(opening(QSize(1000, 700), QRect(0, 0, 600, 400)), QSize(600, 400));
    // 1024 x 600 at 200 %: the window can be made as small as the screen.
    EXPECT_EQ(ViewerWindowController::minimumSizeWithin(QRect(0, 0, 512, 300)), QSize(512, 300));
    EXPECT_EQ(ViewerWindowController::minimumSizeWithin(QRect(0, 0, 1366, 741)), QSize(640, 420));
    EXPECT_EQ(opening(std::nullopt, QRect()), QSize(1280, 860));

    // With two monitors the window opens on the one it was closed on while it is
    // there, else on the primary; on Wayland, where the compositor chooses, the
    // larger one bounds the size.
    const auto area = ViewerWindowController::openingArea;
    const QList<QRect> two{QRect(0, 27, 1600, 973), QRect(1600, 0, 1920, 1080)};
    EXPECT_EQ(area(QPoint(2400, 500), two, false), two[1]);
    EXPECT_EQ(area(QPoint(800, 500), two, false), two[0]);
    EXPECT_EQ(area(std::nullopt, two, false), two[0]);
    EXPECT_EQ(area(QPoint(5000, 500), two, false), two[0]);
    EXPECT_EQ(area(QPoint(800, 500), two, true), two[1]);
    EXPECT_EQ(opening(QSize(1700, 950), area(QPoint(800, 500), two, true)), QSize(1700, 950));
    EXPECT_EQ(area(std::nullopt, {}, true), QRect());

    // Once framed (a 20-point title bar, 1-point sides, a 5-point bottom): a window
    // as tall as the free area is made shorter by its frame and centred; one
    // that fits stays where it is.
    const auto fitted = ViewerWindowController::fittedFrame;
    const QRect screen(0, 0, 1600, 1000);
    EXPECT_EQ(fitted(QRect(99, 0, 1402, 1015), QRect(100, 20, 1400, 990), screen), QRect(99, 0, 1402, 1000));
    EXPECT_EQ(fitted(QRect(0, 27, 1368, 766), QRect(1, 47, 1366, 741), QRect(0, 27, 1366, 741)),
              QRect(0, 27, 1366, 741));
    EXPECT_FALSE(fitted(QRect(159, 45, 1282, 885), QRect(160, 65, 1280, 860), screen));
    // On a screen smaller than the minimum, the frame fills the screen.
    EXPECT_EQ(fitted(QRect(0, 0, 642, 445), QRect(1, 20, 640, 420), QRect(0, 0, 600, 400)), QRect(0, 0, 600, 400));
    EXPECT_EQ(fitted(QRect(0, 0, 642, 445), QRect(1, 20, 640, 420), QRect(0, 0, 800, 600)), std::nullopt);
}

TEST_F(AppShell, RequestBeforeTheWindowGoesToPendingAndWinsAtLaunch)
{
    AppDelegate delegate({"-psn_0_4242", folder()});
    delegate.openURLs({});
    EXPECT_FALSE(delegate.pendingURL);
    delegate.openURLs({photo(), folder()});
    EXPECT_EQ(delegate.pendingURL, photo()) << "only the first of a request counts";
    delegate.openURLs({folder()});
    EXPECT_EQ(delegate.pendingURL, folder()) << "the last request wins";
    EXPECT_FALSE(delegate.windowController);

    delegate.applicationDidFinishLaunching();
    ASSERT_TRUE(delegate.windowController);
    EXPECT_TRUE(delegate.windowController->isVisible());
    EXPECT_EQ(shown(delegate.windowController.get()), firstInFolder());
    EXPECT_FALSE(delegate.pendingURL) << "consumed once";
    EXPECT_EQ(openPanelOf(delegate.windowController.get()), nullptr);

    // Once running, requests go straight to the window's content.
    delegate.openURLs({photo(), folder()});
    EXPECT_EQ(shown(delegate.windowController.get()), photo());
    EXPECT_FALSE(delegate.pendingURL);
}

TEST_F(AppShell, NothingToOpenShowsThePanelWhoseChoiceIsOpened)
{
    AppDelegate delegate({sandbox.filePath("no-such-folder"), "--cleanup-report"});
    delegate.applicationDidFinishLaunching();
    ViewerWindowController *window = delegate.windowController.get();
    QFileDialog *panel = openPanelOf(window);
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(panel->windowModality(), Qt::WindowModal);
    EXPECT_TRUE(shown(window).isEmpty());
    // The path given is named, not passed over.
    EXPECT_EQ(window->viewerPage()->hudMessage(), Texts::format("msg.openMissing", {sandbox.filePath("no-such-folder")}));
    // A folder named in another encoding (its bad bytes replaced on the way in)
    // is said to be so, not missing.
    const QString notText = sandbox.filePath(QStringLiteral("Vacances \uFFFDt\uFFFD/DSC08191.JPG"));
    EXPECT_EQ(cannotOpenText(notText), Texts::format("msg.openNotText", {notText}));
    // Another machine's file, which no mounted folder reaches, is said to be elsewhere.
    const QString remote = QStringLiteral("sftp://nas.invalid/photos/a.jpg");
    EXPECT_EQ(cannotOpenText(remote), Texts::format("msg.openNotLocal", {remote}));
    // A path behind a folder this user may not enter is there; it is not called missing.
    if (::geteuid() == 0) {
        const QString behind = sandbox.filePath("a.jpg"); // the sandbox is closed to others
        EXPECT_EQ(exitStatusAsNobody([&] { return cannotOpenText(behind) == Texts::format("msg.openDenied", {behind}) ? 0 : 1; }),
                  0);
    }

    // A folder chosen in the panel is taken as it is, not stepped into.
    panel->setDirectory(sandbox.path());
    panel->selectFile(folder());
    static_cast<QDialog *>(panel)->accept();
    settle();
    EXPECT_EQ(shown(window), firstInFolder());

    // Next time the panel starts in that folder, and a photo can be chosen too.
    window->openFolderPanel();
    panel = openPanelOf(window);
    ASSERT_NE(panel, nullptr);
    EXPECT_EQ(QDir(panel->directory()).canonicalPath(), QDir(folder()).canonicalPath());
    panel->selectFile(photo());
    static_cast<QDialog *>(panel)->accept();
    settle();
    EXPECT_EQ(shown(window), photo());

    // Cancelling opens nothing.
    window->openFolderPanel();
    ASSERT_NE(openPanelOf(window), nullptr);
    openPanelOf(window)->reject();
    settle();
    EXPECT_EQ(shown(window), photo());
}

TEST(QtWords, QtsOwnDialogsSpeakTheLanguageOfTheProgramsTexts)
{
    Texts::setLanguage(QStringLiteral("zh"));
    EXPECT_TRUE(installQtTranslations());
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel").toStdString(), "取消");
    EXPECT_EQ(QCoreApplication::translate("QFileDialog", "Look in:").toStdString(), "查找范围：");
    // Back to English: the Chinese catalogue goes again.
    Texts::setLanguage(QStringLiteral("en"));
    EXPECT_TRUE(installQtTranslations());
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel").toStdString(), "Cancel");
    Texts::setLanguage({});
    installQtTranslations();
}

TEST_F(AppShell, TheTitleNamesThePhotoShown)
{
    ViewerWindowController window;
    window.show();
    EXPECT_EQ(window.windowTitle(), "Glanto");
    // The icon comes with the program when the icon theme lacks it (a build tree).
    EXPECT_FALSE(window.windowIcon().pixmap(64).isNull());
    const QString dash = QStringLiteral(" \u2014 Glanto");
    window.open(folder());
    settle();
    EXPECT_EQ(window.windowTitle(), "a-sunrise.jpg" + dash);
    window.open(photo());
    settle();
    EXPECT_EQ(window.windowTitle(), "beach.jpg" + dash);
    // A line break in a name stays off the title bar.
    const QString broken = sandbox.filePath("new\nline.jpg");
    ASSERT_TRUE(QFile::copy(photo(), broken));
    window.open(broken);
    settle();
    EXPECT_EQ(window.windowTitle(), "new line.jpg" + dash);
    // A folder without photos names none.
    QDir(sandbox.path()).mkpath("Empty");
    window.open(sandbox.filePath("Empty"));
    settle();
    EXPECT_EQ(window.windowTitle(), "Glanto");
}

// The photo shown goes to the Trash from the review, the viewer behind it
// moves on, an undo brings the photo back: leaving, the viewer shows it again.
TEST_F(AppShell, LeavingTheReviewShowsThePhotoShownBeforeWhenItIsBack)
{
    ViewerWindowController window;
    ViewerPage *viewer = showOn(window, firstInFolder());
    ASSERT_EQ(viewer->currentPhotoPath(), firstInFolder());

    CleanupController *review = reviewTickingFirst(window);
    ASSERT_NE(review, nullptr);
    review->trashCheckedUnits();
    ASSERT_TRUE(settleUntil([&] { return !review->isBusy() && !QFile::exists(firstInFolder()); }));
    ASSERT_TRUE(settleUntil([&] { return shown(&window) == photo(); })) << "the viewer follows its folder";
    review->undoLastTrash();
    ASSERT_TRUE(settleUntil([&] { return !review->isBusy() && QFile::exists(firstInFolder()); }));

    review->exitCleanup();
    ASSERT_TRUE(settleUntil([&] { return viewer->currentPhotoPath() == firstInFolder(); }, 10000));
    EXPECT_EQ(viewer->controller()->folderModel().count(), 2);
}

// What the review moved to the Trash is put back by Ctrl+Z in the viewer once
// the review is left, as its message promised.
TEST_F(AppShell, WhatTheReviewMovedIsPutBackFromTheViewer)
{
    ViewerWindowController window;
    installViewerHandOffs(&window);
    ViewerPage *viewer = showOn(window, firstInFolder());
    // The photo's rating sidecar goes and comes back with it.
    const QString sidecar = sandbox.filePath("Holiday/a-sunrise.xmp");
    {
        QFile file(sidecar);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("<x:xmpmeta xmlns:x='adobe:ns:meta/'/>");
    }
    CleanupController *review = reviewTickingFirst(window);
    ASSERT_NE(review, nullptr);
    review->trashCheckedUnits();
    ASSERT_TRUE(settleUntil([&] { return !review->isBusy() && !QFile::exists(firstInFolder()); }));
    EXPECT_FALSE(QFile::exists(sidecar));
    review->exitCleanup();
    ASSERT_TRUE(settleUntil([&] { return shownCleanupPage(&window) == nullptr; }));

    ASSERT_TRUE(window.router().dispatch(CommandId::undoTrash));
    EXPECT_TRUE(settleUntil([&] { return QFile::exists(firstInFolder()) && viewer->currentPhotoPath() == firstInFolder(); }));
    EXPECT_TRUE(QFile::exists(sidecar));
    EXPECT_FALSE(window.router().dispatch(CommandId::undoTrash));
}

// The folder renamed away under the review, whose Trash request then fails:
// back in the viewer, the folder is followed and its photos return with it.
TEST_F(AppShell, AFolderGoneUnderTheReviewIsFollowedOnceItIsLeft)
{
    ViewerWindowController window;
    ViewerPage *viewer = showOn(window, firstInFolder());
    CleanupController *review = reviewTickingFirst(window);
    ASSERT_NE(review, nullptr);
    const QString away = sandbox.filePath("Holiday-away");
    ASSERT_TRUE(QDir().rename(folder(), away));
    review->trashCheckedUnits();
    ASSERT_TRUE(settleUntil([&] { return !review->isBusy(); }));
    review->exitCleanup();
    ASSERT_TRUE(settleUntil([&] { return shownCleanupPage(&window) == nullptr; }));
    EXPECT_TRUE(settleUntil([&] { return viewer->controller()->folderModel().count() == 0; }));

    ASSERT_TRUE(QDir().rename(away, folder()));
    EXPECT_TRUE(settleUntil([&] { return viewer->controller()->folderModel().count() == 2; }, 10000));
    EXPECT_TRUE(QFile::exists(firstInFolder()));
}

// A photo double-clicked in the file manager while the review is shown opens
// once the review is left, also when leaving puts the viewer back on the photo
// it showed before; the review says what will open.
TEST_F(AppShell, APhotoHandedOverDuringTheReviewOpensOnceItIsLeft)
{
    QDir(sandbox.path()).mkpath("Other");
    const QString other = sandbox.filePath("Other/c.jpg");
    ASSERT_TRUE(QFile::copy(photo(), other));
    AppDelegate delegate({firstInFolder()});
    delegate.applicationDidFinishLaunching();
    ViewerWindowController *window = delegate.windowController.get();
    ASSERT_TRUE(settleUntil([&] { return shown(window) == firstInFolder(); }));
    CleanupController *review = reviewTickingFirst(*window);
    ASSERT_NE(review, nullptr);
    review->trashCheckedUnits();
    ASSERT_TRUE(settleUntil([&] { return !review->isBusy() && !QFile::exists(firstInFolder()); }));

    delegate.openURLs({other});
    EXPECT_EQ(review->statusText(), Texts::format("cleanup.opensAfter", {QStringLiteral("c.jpg")}));
    review->undoLastTrash();
    ASSERT_TRUE(settleUntil([&] { return !review->isBusy() && QFile::exists(firstInFolder()); }));
    EXPECT_NE(shown(window), other) << "opened behind the review";
    review->exitCleanup();
    EXPECT_TRUE(settleUntil([&] { return shown(window) == other; }, 10000)) << qPrintable(shown(window));
    settleUntil([] { return false; }, 600);
    EXPECT_EQ(shown(window), other);
}

// A path handed over that is not there keeps the photo shown and says so.
TEST_F(AppShell, AMissingPathHandedOverKeepsThePhotoShown)
{
    ViewerWindowController window;
    ViewerPage *viewer = showOn(window, photo());
    ASSERT_EQ(viewer->currentPhotoPath(), photo());
    const QString missing = sandbox.filePath("nowhere/x.jpg");
    window.open(missing);
    settle();
    EXPECT_EQ(viewer->currentPhotoPath(), photo());
    EXPECT_FALSE(viewer->emptyState()->isVisible());
    EXPECT_EQ(viewer->hudMessage(), Texts::format("msg.openMissing", {missing}));
}

// A peek shapes the window like the photo; the review comes in the window as
// it was, and the viewer is no longer peeking when it comes back.
TEST_F(AppShell, TheReviewEndsAPeek)
{
    ViewerWindowController window;
    ViewerPage *viewer = showOn(window, firstInFolder());
    ASSERT_EQ(viewer->currentPhotoPath(), firstInFolder());
    const QRect before = window.geometry();
    viewer->imageView()->perform(ShortcutAction::peek, nullptr);
    ASSERT_TRUE(viewer->peeking());
    ASSERT_TRUE(settleUntil([&] { return window.geometry() != before; }));
    // The photo takes the shape, the menu bar above it aside: no bars beside it.
    QRect last;
    ASSERT_TRUE(settleUntil([&] {
        const bool still = window.geometry() == last;
        last = window.geometry();
        for (QDeadlineTimer pause(60); !pause.hasExpired();)
            QApplication::processEvents(QEventLoop::AllEvents, 20);
        return still;
    }));
    const QSizeF photo = viewer->imageView()->displayedLogicalSize();
    const QSize view = viewer->imageView()->size();
    EXPECT_NEAR(view.width() / double(view.height()), photo.width() / photo.height(), 0.02)
        << view.width() << "x" << view.height() << " for " << photo.width() << "x" << photo.height();

    CleanupPage *page = enterCleanup(&window);
    ASSERT_NE(page, nullptr);
    EXPECT_FALSE(viewer->peeking());
    EXPECT_FALSE(viewer->imageView()->spacePeeking());
    EXPECT_TRUE(settleUntil([&] { return window.geometry() == before; }));
    page->controller().exitCleanup();
    ASSERT_TRUE(settleUntil([&] { return shownCleanupPage(&window) == nullptr; }));
    EXPECT_TRUE(viewer->filmstripShown());
}

// F10 opens the menu bar. A menu opened over the review and closed with
// Escape gives the keyboard back to the review's grid, whose keys (Tab,
// Ctrl+Z) would otherwise go to the menu bar until a second Escape.
TEST_F(AppShell, F10OpensTheMenusAndEscapeGivesTheKeyboardBack)
{
    ViewerWindowController window;
    showOn(window, firstInFolder());
    window.activateWindow();
    // F10 opens the menu bar's first menu, as on other desktop programs.
    QMenuBar *bar = window.menuBar();
    QKeyEvent f10(QEvent::KeyPress, Qt::Key_F10, Qt::NoModifier);
    QApplication::sendEvent(window.viewerPage()->imageView(), &f10);
    QMenu *first = bar->actions().first()->menu();
    ASSERT_TRUE(settleUntil([&] { return first->isVisible(); }, 5000));
    first->close();
    ASSERT_TRUE(settleUntil([&] { return !first->isVisible(); }));

    CleanupPage *page = enterCleanup(&window);
    ASSERT_NE(page, nullptr);
    // The window's own focus: other tests' windows on the same display may
    // take the activation meanwhile.
    page->grid().setFocus(Qt::OtherFocusReason);
    ASSERT_EQ(window.focusWidget(), &page->grid());

    QMenu *file = bar->actions().at(1)->menu();
    ASSERT_NE(file, nullptr);
    bar->setActiveAction(file->menuAction());
    ASSERT_TRUE(settleUntil([&] { return file->isVisible(); }));
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(file, &escape);
    ASSERT_TRUE(settleUntil([&] { return !file->isVisible(); }));
    EXPECT_TRUE(settleUntil([&] { return window.focusWidget() == &page->grid(); }, 2000))
        << (window.focusWidget() ? window.focusWidget()->metaObject()->className() : "nothing");
    EXPECT_EQ(shownCleanupPage(&window), page) << "the Escape closed only the menu";
    page->controller().exitCleanup();
    ASSERT_TRUE(settleUntil([&] { return shownCleanupPage(&window) == nullptr; }));
}

TEST_F(AppShell, ARightClickOnThePhotoOpensItsMenuWithTheBarsItems)
{
    ViewerWindowController window;
    showOn(window, firstInFolder());
    ZoomableImageView *view = window.viewerPage()->imageView();
    const QPoint inside(view->width() / 2, view->height() / 2);
    QContextMenuEvent click(QContextMenuEvent::Mouse, inside, view->mapToGlobal(inside));
    QApplication::sendEvent(view, &click);
    QMenu *menu = window.mainMenu()->photoMenu();
    ASSERT_TRUE(settleUntil([&] { return menu->isVisible(); }, 5000));
    // The bar's own items, validated for the photo shown as the menu opens.
    EXPECT_TRUE(menu->actions().contains(window.mainMenu()->action(CommandId::trashCurrent)));
    EXPECT_TRUE(window.mainMenu()->action(CommandId::renameCurrent)->isEnabled());
    EXPECT_TRUE(window.mainMenu()->action(CommandId::rotateCW)->isEnabled());
    auto *stars = qobject_cast<QMenu *>(window.mainMenu()->action(CommandId::setRatingMenu, 5)->parent());
    ASSERT_NE(stars, nullptr);
    EXPECT_TRUE(menu->actions().contains(stars->menuAction()));
    EXPECT_FALSE(menu->actions().contains(window.mainMenu()->action(CommandId::quit)));
    // Choosing an item performs its command on the photo shown.
    const int turns = view->quarterTurns();
    window.mainMenu()->action(CommandId::rotateCW)->trigger();
    menu->close();
    EXPECT_EQ(view->quarterTurns(), (turns + 1) % 4);
    ASSERT_TRUE(settleUntil([&] { return !menu->isVisible(); }));

    // Shift+F10, the Menu key's other spelling, opens it too.
    QKeyEvent shiftF10(QEvent::KeyPress, Qt::Key_F10, Qt::ShiftModifier);
    QApplication::sendEvent(view, &shiftF10);
    EXPECT_TRUE(settleUntil([&] { return menu->isVisible(); }, 5000));
    EXPECT_FALSE(window.menuBar()->activeAction()) << "the bar's menus stay closed";
    menu->close();
}

// Copy (Ctrl+C) offers the file to file managers and other programs, the path
// as text, and the picture upright, read only when a program asks for it.
TEST_F(AppShell, CopyOffersTheFileItsPathAndTheUprightPicture)
{
    const QString photo = sandbox.filePath(QStringLiteral("Holiday/a photo, caf\u00e9 #1.jpg"));
    ASSERT_TRUE(QFile::copy(TestData::photo("orientation/Landscape_6.jpg"), photo));
    ViewerWindowController window;
    installViewerHandOffs(&window);
    showOn(window, photo);
    QKeyEvent copy(QEvent::KeyPress, Qt::Key_C, Qt::ControlModifier, QStringLiteral("c"));
    QApplication::sendEvent(window.viewerPage()->imageView(), &copy);

    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(data->urls(), QList<QUrl>{QUrl::fromLocalFile(photo)});
    EXPECT_EQ(data->text(), photo);
    // Spaces, "#" and accents percent-encoded, as GNOME's file managers read them.
    const QByteArray copied = data->data(QStringLiteral("x-special/gnome-copied-files"));
    EXPECT_TRUE(copied.startsWith("copy\nfile:///")) << copied.constData();
    EXPECT_TRUE(copied.endsWith("/a%20photo,%20caf%C3%A9%20%231.jpg")) << copied.constData();
    // The JPEG's own bytes, and a PNG stored upright: 1200 x 1800 turned a
    // quarter by its EXIF orientation.
    QFile original(photo);
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    EXPECT_EQ(data->data(QStringLiteral("image/jpeg")), original.readAll());
    EXPECT_EQ(QImage::fromData(data->data(QStringLiteral("image/png")), "png").size(), QSize(1800, 1200));

    // A PNG is offered once, as itself.
    PhotoMimeData png(TestData::photo("formats/hopper.png"));
    EXPECT_EQ(png.formats().count(QStringLiteral("image/png")), 1);
    EXPECT_FALSE(png.hasFormat(QStringLiteral("image/jpeg")));

    // A photo gone before the paste offers no picture, and nothing breaks.
    PhotoMimeData gone(sandbox.filePath(QStringLiteral("Holiday/gone.jpg")));
    EXPECT_TRUE(gone.data(QStringLiteral("image/png")).isEmpty());
    EXPECT_TRUE(gone.data(QStringLiteral("image/jpeg")).isEmpty());
    EXPECT_EQ(gone.urls().size(), 1);
}

namespace {

// The menu item of a command as the menu bar holds it.
QAction *menuItem(ViewerWindowController &window, CommandId id, int tag = 0)
{
    return window.mainMenu()->action(id, tag);
}

// Alt with a letter opens a menu of the bar: the letter is marked in the
// title, or added after a title without it.
TEST(AppMenu, MenusOfTheBarHaveAltLetters)
{
    EXPECT_EQ(MainMenu::withMnemonic("File", "menu.file"), "&File");
    EXPECT_EQ(MainMenu::withMnemonic("Go", "menu.go"), "&Go");
    EXPECT_EQ(MainMenu::withMnemonic(QStringLiteral("文件"), "menu.file"), QStringLiteral("文件(&F)"));
    EXPECT_EQ(MainMenu::withMnemonic("Glanto", nullptr), "Glanto");
    EXPECT_EQ(MainMenu::withMnemonic("Tools & More", "menu.tools"), "&Tools && More");

    ViewerWindowController window;
    QStringList titles;
    for (QMenu *menu : window.mainMenu()->menus())
        titles << menu->title();
    EXPECT_EQ(titles.filter("&").size(), 6) << titles.join(' ').toStdString();
}

TEST(AppMenu, ABindingChangeReachesTheMenuAtOnce)
{
    Shortcuts::resetAll();
    ViewerWindowController window;
    QAction *next = menuItem(window, CommandId::navigateForward);
    ASSERT_NE(next, nullptr);
    // A plain arrow is not shown in the menu; the keys perform it.
    EXPECT_TRUE(next->shortcut().isEmpty());
    Shortcuts::setCombo(KeyCombo{124, KeyMods::option | KeyMods::command, ""}, ShortcutAction::next);
    EXPECT_EQ(next->shortcut(), QKeySequence(Qt::ControlModifier | Qt::AltModifier | Qt::Key_Right));

    Shortcuts::resetAll();
    EXPECT_TRUE(next->shortcut().isEmpty());
    // Shown, never matched: only the window's router performs keys.
    EXPECT_EQ(menuItem(window, CommandId::trashCurrent)->shortcutContext(), Qt::WidgetShortcut);
}

TEST(AppMenu, ValidationOnOpeningFollowsThePageAndThePreferences)
{
    Settings::setSortKey(SortKey::name);
    Settings::setEscCloses(false);
    ViewerWindowController window;
    QMenu *view = window.mainMenu()->menus().at(2);
    Q_EMIT view->aboutToShow();
    EXPECT_TRUE(menuItem(window, CommandId::zoomIn)->isEnabled());
    // A submenu validates its own items as it opens.
    auto *sort = qobject_cast<QMenu *>(menuItem(window, CommandId::setSortKey, 0)->parent());
    ASSERT_NE(sort, nullptr);
    Q_EMIT sort->aboutToShow();
    EXPECT_TRUE(menuItem(window, CommandId::setSortKey, 0)->isChecked());
    EXPECT_FALSE(menuItem(window, CommandId::setSortKey, 3)->isChecked());
    EXPECT_FALSE(menuItem(window, CommandId::toggleEscCloses)->isChecked());
    // The slideshow can always be asked for (with too few photos it says so);
    // the information panel needs a photo to describe.
    EXPECT_TRUE(menuItem(window, CommandId::toggleSlideshow)->isEnabled());
    EXPECT_FALSE(menuItem(window, CommandId::toggleSlideshow)->isChecked());
    EXPECT_FALSE(menuItem(window, CommandId::toggleInfoPanel)->isEnabled());

    menuItem(window, CommandId::toggleEscCloses)->trigger();
    EXPECT_TRUE(Settings::escCloses());
    Q_EMIT view->aboutToShow();
    EXPECT_TRUE(menuItem(window, CommandId::toggleEscCloses)->isChecked());
    Settings::setEscCloses(false);

    QMenu *file = window.mainMenu()->menus().at(1);
    Q_EMIT file->aboutToShow();
    EXPECT_FALSE(menuItem(window, CommandId::trashCurrent)->isEnabled());
    EXPECT_FALSE(menuItem(window, CommandId::openInEditor)->isEnabled());
    EXPECT_TRUE(menuItem(window, CommandId::openFolderPanel)->isEnabled());

    // Settings and the shortcut help wait for the settings window.
    QMenu *help = window.mainMenu()->menus().at(6);
    Q_EMIT help->aboutToShow();
    EXPECT_FALSE(menuItem(window, CommandId::showShortcuts)->isEnabled());
    std::optional<int> shownTab = -1;
    window.showSettingsWindow = [&](std::optional<int> tab) { shownTab = tab; };
    Q_EMIT help->aboutToShow();
    EXPECT_TRUE(menuItem(window, CommandId::showShortcuts)->isEnabled());
    menuItem(window, CommandId::showShortcuts)->trigger();
    EXPECT_EQ(shownTab, 2);
}

// A page pushed over the viewer takes the commands; popping gives them back.
class StubPage : public QWidget, public CommandPage
{
public:
    QWidget *pageWidget() override { return this; }
    int trashed = 0;
};

TEST(AppMenu, APushedPageTakesTheCommandsUntilItIsPopped)
{
    ViewerWindowController window;
    StubPage review;
    review.commands.on(CommandId::trashCurrent, [&](int) { ++review.trashed; });
    window.pushPage(&review);
    auto *stack = qobject_cast<QStackedWidget *>(window.centralWidget());
    ASSERT_NE(stack, nullptr);
    EXPECT_EQ(stack->currentWidget(), &review);
    menuItem(window, CommandId::trashCurrent)->trigger();
    EXPECT_EQ(review.trashed, 1);
    EXPECT_FALSE(window.router().state(CommandId::navigateForward).enabled);
    window.popPage(&review);
    EXPECT_EQ(window.router().activePage(), window.viewerPage());
    EXPECT_EQ(stack->currentWidget(), window.viewerPage());
    EXPECT_TRUE(window.router().state(CommandId::navigateForward).enabled);
    EXPECT_FALSE(window.router().state(CommandId::trashCurrent).enabled);
    review.setParent(nullptr);
}

} // namespace

// A quitting process may still be writing an export for a while; it gives the
// bus name up first, so the next launch does not hand its path to it.
TEST_F(AppShell, AQuittingInstanceGivesItsNameUp)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        GTEST_SKIP() << "no session bus";
    const auto owned = [&bus] { return bus.interface()->isServiceRegistered(SingleInstance::serviceName).value(); };
    SingleInstance instance;
    ASSERT_EQ(instance.claimOrHandOver({}), SingleInstance::Role::primary);
    EXPECT_TRUE(owned());
    instance.release();
    EXPECT_FALSE(owned());
    instance.release();
}

// A later launch on Wayland carries the token its launcher gave it: the window
// may come to the front only with it. The token lasts for that request alone.
TEST_F(AppShell, AHandedOverPathComesWithItsLaunchersActivationToken)
{
    if (!QDBusConnection::sessionBus().isConnected())
        GTEST_SKIP() << "no session bus";
    SingleInstance instance;
    ASSERT_EQ(instance.claimOrHandOver({}), SingleInstance::Role::primary);
    QStringList heard; // path and the token in force while it was opened
    instance.onOpen = [&heard](const QString &path) {
        heard << path << qEnvironmentVariable("XDG_ACTIVATION_TOKEN");
    };
    QDBusConnection launcher = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("launcher"));
    const auto request = [&launcher](const QString &method, const QVariantList &arguments) {
        QDBusMessage call = QDBusMessage::createMethodCall(SingleInstance::serviceName, SingleInstance::objectPath,
                                                           SingleInstance::interfaceName, method);
        call.setArguments(arguments);
        launcher.asyncCall(call);
    };
    request(QStringLiteral("Present"), {QStringLiteral("/photos/a.jpg"), QStringLiteral("token-1")});
    ASSERT_TRUE(settleUntil([&heard] { return heard.size() == 2; }));
    EXPECT_EQ(heard, (QStringList{QStringLiteral("/photos/a.jpg"), QStringLiteral("token-1")}));
    EXPECT_FALSE(qEnvironmentVariableIsSet("XDG_ACTIVATION_TOKEN"));
    // Launched without a token, or by an earlier version: opened all the same.
    request(QStringLiteral("Present"), {QStringLiteral("/photos/b.jpg"), QString()});
    request(QStringLiteral("Open"), {QStringLiteral("/photos/c.jpg")});
    ASSERT_TRUE(settleUntil([&heard] { return heard.size() == 6; }));
    EXPECT_EQ(heard.mid(2), (QStringList{QStringLiteral("/photos/b.jpg"), QString(), QStringLiteral("/photos/c.jpg"),
                                         QString()}));
    QDBusConnection::disconnectFromBus(QStringLiteral("launcher"));
    instance.release();
}
