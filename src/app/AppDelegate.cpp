#include "app/AppDelegate.h"

#include "app/CleanupMode.h"
#include "app/DarkAppearance.h"
#include "app/DesktopSelfCheck.h"
#include "app/QtTranslations.h"
#include "app/SingleInstance.h"
#include "app/ViewerHandOffs.h"
#include "app/ViewerWindowController.h"
#include "app/WindowShot.h"
#include "viewer/ViewerViewController.h"
#include "cleanup/CleanupController.h"
#include "cleanup/CleanupReport.h"
#include "cleanup/review/CleanupPage.h"
#include "library/Spoken.h"
#include "platform/Codec.h"
#include "platform/GlobalHotkey.h"
#include "platform/TerminationSignals.h"
#include "settings/Settings.h"
#include "settings/Shortcuts.h"
#include "settings/Texts.h"
#include "settings/window/SettingsWindow.h"
#include "update/UpdateAlert.h"
#include "update/UpdateBanner.h"
#include "update/UpdateChecker.h"
#include "viewer/ViewerPage.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QMessageBox>
#include <QTimer>

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cstdio>
#include <thread>
#include <utility>

namespace {

void setIdentity()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Glanto"));
    QCoreApplication::setApplicationName(QStringLiteral("Glanto"));
    QCoreApplication::setApplicationVersion(QStringLiteral(GLANTO_VERSION));
}

// fontconfig's configuration and cache load (the first text layout) and libvips'
// start-up with its modules each cost tens of milliseconds of the main thread at
// launch. Begun before the display connection is made they overlap with it; a
// caller that needs either sooner waits for it (libvips) or loads it itself
// (fontconfig), so nothing is ever done twice over a wait.
std::jthread startLibraryWarmUp()
{
    return std::jthread([] {
        FcInit();
        Codec::initialize();
    });
}

QStringList argumentsAfterProgram(const QStringList &all)
{
    return all.isEmpty() ? all : all.mid(1);
}

} // namespace

AppDelegate::AppDelegate(const QStringList &arguments, QObject *parent)
    : QObject(parent)
    , options(parseLaunchArguments(arguments))
{}

AppDelegate::~AppDelegate() = default;

int AppDelegate::run(int argc, char **argv, const LaunchHooks &hooks)
{
    QStringList rawArguments;
    for (int i = 1; i < argc; ++i)
        rawArguments << QString::fromLocal8Bit(argv[i]);

    // The report mode runs before any user interface exists and needs no display.
    if (const LaunchOptions early = parseLaunchArguments(rawArguments); early.cleanupReportFolder) {
        QCoreApplication app(argc, argv);
        setIdentity();
        return runCleanupReport(*early.cleanupReportFolder);
    }

    const std::jthread warmUp = startLibraryWarmUp();
    QApplication app(argc, argv);
    setIdentity();
    QGuiApplication::setDesktopFileName(QStringLiteral("app.glanto.Glanto"));
    applyDarkAppearance();
    installQtTranslations();
    Spoken::install();

    // Qt has taken its own switches (-platform, -style ...) off the line by now.
    const QStringList arguments = argumentsAfterProgram(QCoreApplication::arguments());
    const LaunchOptions options = parseLaunchArguments(arguments);
    // A switch the program does not know is passed over, as launchers add
    // their own; a person who typed it learns so.
    if (options.unknownSwitch && !options.selfCheck)
        std::fputs(unknownSwitchText(*options.unknownSwitch).toLocal8Bit().constData(), stderr);

    AppDelegate delegate(arguments);
    delegate.hooks = hooks;
    SingleInstance instance;
    if (!options.selfCheck) {
        if (instance.claimOrHandOver(options.firstPath.value_or(QString()))
            == SingleInstance::Role::handedOver)
            return 0;
        instance.onOpen = [&delegate](const QString &path) {
            if (path.isEmpty())
                delegate.activate();
            else
                delegate.openURLs({path});
        };
    }

    // A logout or a service manager's SIGTERM quits as Quit does, without
    // asking anything first: there is nobody to answer.
    const TerminationSignals termination([&delegate] {
        if (delegate.windowController)
            delegate.windowController->closeWithoutAsking = true;
        QApplication::closeAllWindows();
        QCoreApplication::quit();
    });

    // Once a run: every later change fails the same way.
    QObject::connect(
        &SettingsNotifier::instance(), &SettingsNotifier::settingsNotSaved, &delegate,
        [warned = false](const QString &path) mutable {
            if (std::exchange(warned, true))
                return;
            auto *box = new QMessageBox(QMessageBox::Warning, Texts::text("set.notSavedTitle"),
                                        Texts::format("set.notSaved", {QDir::toNativeSeparators(path)}),
                                        QMessageBox::Ok, QApplication::activeWindow());
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->open();
        },
        Qt::QueuedConnection);

    QTimer::singleShot(0, &delegate, [&delegate] { delegate.applicationDidFinishLaunching(); });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate, [&delegate] {
        if (delegate.windowController)
            delegate.windowController->saveFrame();
    });
    const int status = QApplication::exec();
    // The window's teardown waits for an export or a conversion still being
    // written; a launch meanwhile opens a window of its own.
    instance.release();
    // So does the global shortcut: that new copy registers it.
    delegate.releaseHotkey();
    // The window goes before the application object it was made with.
    delegate.windowController.reset();
    return status;
}

void AppDelegate::applicationDidFinishLaunching()
{
    if (windowController)
        return;

    windowController = std::make_unique<ViewerWindowController>();
    installViewerHandOffs(windowController.get());
    installCleanupMode(windowController.get());

    // The photo a launch opens decodes while the window maps and paints.
    std::optional<QString> firstPhoto;
    if (hooks.firstPhoto) {
        firstPhoto = hooks.firstPhoto();
    } else if (!options.shotPath) {
        const FirstContent first = chooseFirstContent(options, pendingURL);
        if (first.kind == FirstContent::Kind::open && QFileInfo(first.path).isFile())
            firstPhoto = QFileInfo(first.path).absoluteFilePath();
    }
    if (firstPhoto) {
        // The window's longer side bounds the image view's, so this size serves it.
        const double scale = windowController->devicePixelRatioF();
        const int longer = std::max(windowController->width(), windowController->height());
        ViewerViewController::decodeAhead(*firstPhoto, std::clamp(int(scale * longer), 1024, 8192));
    }
    windowController->showWindow();
    connectDesktop();

    if (hooks.afterShow && hooks.afterShow(*windowController))
        return;
    if (startDesktopSelfCheck(QCoreApplication::arguments(), windowController.get(), hotkey))
        return;

    if (options.shotPath) {
        if (options.shotLocation && QFileInfo::exists(*options.shotLocation))
            windowController->open(QFileInfo(*options.shotLocation).absoluteFilePath());
        scheduleWindowShot(windowController.get(), *options.shotPath);
    }

    const FirstContent first = chooseFirstContent(options, pendingURL);
    pendingURL.reset();
    switch (first.kind) {
    case FirstContent::Kind::open:
        windowController->open(first.path);
        break;
    case FirstContent::Kind::openPanel:
        // A path given that is not there: said, behind the panel and on the
        // error stream, rather than passed over.
        if (options.firstPath && !options.firstPath->isEmpty()) {
            const QString missing = cannotOpenText(*options.firstPath);
            std::fprintf(stderr, "glanto: %s\n", missing.toLocal8Bit().constData());
            windowController->viewerPage()->flash(missing, 6.0);
        }
        windowController->openFolderPanel();
        break;
    case FirstContent::Kind::nothing:
        break;
    }
    if (options.cleanupShotPath)
        scheduleCleanupShot(windowController.get(), *options.cleanupShotPath);
}

void AppDelegate::openURLs(const QStringList &paths)
{
    if (paths.isEmpty())
        return;
    if (!windowController) {
        pendingURL = paths.first();
        return;
    }
    // A dialog open over the window comes forward with it and keeps the keyboard.
    QWidget *modal = QApplication::activeModalWidget();
    windowController->showWindow(modal == nullptr);
    if (modal) {
        modal->raise();
        modal->activateWindow();
    }
    openWhenNoDialog(paths.first());
}

void AppDelegate::openWhenNoDialog(const QString &path, bool again)
{
    // A dialog open over the window acts on what it was opened for (Rename on
    // its photo, Batch Rename on its folder): another photo shown behind it
    // would take its result's message, so the new one waits until it closes.
    // The Open panel asks what to open: the request answers it.
    const auto openLater = [this, &path] {
        deferredURL = path;
        QTimer::singleShot(250, this, [this] {
            if (deferredURL && windowController)
                openWhenNoDialog(*std::exchange(deferredURL, std::nullopt), true);
        });
    };
    if (QWidget *modal = QApplication::activeModalWidget()) {
        if (modal->objectName() != QLatin1String("openPanel")) {
            openLater();
            return;
        }
        modal->close();
    }
    // The cleanup review is about the folder it was entered from, and leaving
    // it puts the viewer back on that folder: the photo handed over opens once
    // the review is left, and the review says so.
    if (CleanupPage *review = shownCleanupPage(windowController.get())) {
        if (!again)
            review->controller().announce(
                Texts::format("cleanup.opensAfter", {QFileInfo(path).fileName()}));
        openLater();
        return;
    }
    windowController->open(path);
}

void AppDelegate::releaseHotkey()
{
    if (hotkey)
        hotkey->registerCombo(std::nullopt);
}

void AppDelegate::activate()
{
    if (windowController)
        windowController->showWindow();
}

void AppDelegate::connectDesktop()
{
    ViewerWindowController *window = windowController.get();

    hotkey = new GlobalHotkey(this);
    hotkey->onToggle = [this] {
        if (windowController)
            GlobalHotkey::toggle(windowController->windowHandle());
    };
    hotkey->followShortcuts();
    // Another copy of the program may change the key bindings: the settings file
    // is replaced whole on each write, so its folder is watched; the window
    // coming to the front looks again too.
    auto *settingsWatch = new QFileSystemWatcher(this);
    const QString settingsFolder = QFileInfo(Settings::storeFilePath()).absolutePath();
    if (QDir().mkpath(settingsFolder))
        settingsWatch->addPath(settingsFolder);
    connect(settingsWatch, &QFileSystemWatcher::directoryChanged, this, [] { Shortcuts::followStored(); });
    connect(qApp, &QGuiApplication::applicationStateChanged, this, [](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive)
            Shortcuts::followStored();
    });

    // The settings window is built on its first showing, so launch does not pay for it.
    window->showSettingsWindow = [this](std::optional<int> tab) {
        auto &settings = SettingsWindowController::shared();
        settings.setHotkey(hotkey);
        if (windowController)
            settings.followViewerWindow(windowController.get());
        settings.showTab(tab);
    };
    window->checkForUpdates = [this] {
        if (windowController)
            UpdateAlert::checkNow(windowController.get());
    };

    // Self-checks run offline and deterministic: no automatic feed request.
    if (options.selfCheck)
        return;
    UpdateChecker::scheduleAutomaticChecks(this, [this](const UpdateChecker::Release &release) {
        if (windowController)
            UpdateBanner::showIn(windowController->centralWidget(), release);
    });
}
