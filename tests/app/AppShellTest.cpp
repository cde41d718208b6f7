// The window and the launch sequence in process, on Qt's offscreen platform.
#include "app/AppDelegate.h"
#include "app/ViewerWindowController.h"
#include "settings/Texts.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

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

    // The photo the window's viewer shows; empty when it shows none.
    static QString shown(ViewerWindowController *window)
    {
        const std::optional<ImageItem> item = window->contentController()->folderModel().current();
        return item ? item->url : QString();
    }

    QTemporaryDir sandbox;
};

} // namespace

TEST_F(AppShell, WindowOpensAtItsDefaultsWithTheEmptyState)
{
    ViewerWindowController window;
    EXPECT_EQ(window.size(), QSize(1280, 860));
    EXPECT_EQ(window.minimumSize(), QSize(640, 420));
    window.resize(100, 100);
    EXPECT_EQ(window.size(), QSize(640, 420)) << "it can never be made smaller";
    EXPECT_EQ(window.palette().color(QPalette::Window), QColor(Qt::black));
    EXPECT_EQ(window.windowTitle(), "Glanto");

    ASSERT_NE(window.contentController(), nullptr);
    window.show();
    EXPECT_EQ(window.contentController()->emptyHint(), Texts::text("ui.emptyHint"));
    QPushButton *button = nullptr;
    for (QPushButton *candidate : window.contentController()->emptyState()->findChildren<QPushButton *>()) {
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
    EXPECT_EQ(window.size(), QSize(1280, 860));
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

TEST_F(AppShell, CommandLinePathIsOpenedSkippingSwitches)
{
    AppDelegate delegate({"-psn_0_1", photo(), folder()});
    delegate.applicationDidFinishLaunching();
    EXPECT_EQ(shown(delegate.windowController.get()), photo());
    EXPECT_EQ(openPanelOf(delegate.windowController.get()), nullptr);
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
