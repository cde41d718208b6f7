#pragma once

#include "app/LaunchOptions.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class GlobalHotkey;
class ViewerWindowController;

// Extra steps a launch may take: used by the viewer benchmark (bench/), which is
// the program with its measurements added, so the shipped program carries none.
struct LaunchHooks
{
    // The photo the launch will show first (its decode starts while the window maps).
    std::function<std::optional<QString>()> firstPhoto;
    // Runs once the window is shown; returning true ends the ordinary launch there.
    std::function<bool(ViewerWindowController &window)> afterShow;
};

// Starts the program, owns the one window, and decides what it shows first.
class AppDelegate : public QObject
{
    Q_OBJECT
public:
    // arguments: the command line after the program path.
    explicit AppDelegate(const QStringList &arguments, QObject *parent = nullptr);
    ~AppDelegate() override;

    // The process entry: report mode without a display, otherwise the single
    // instance, the window and the event loop. Returns the exit status.
    static int run(int argc, char **argv, const LaunchHooks &hooks = {});

    // The launch sequence, run once the event loop has started.
    void applicationDidFinishLaunching();

    // A request to open locations (a second `glanto PATH`, the desktop's open
    // request). Only the first path counts; before the window exists it is kept
    // in pendingURL for the launch sequence.
    void openURLs(const QStringList &paths);

    // Brings the window forward, if there is one.
    void activate();

    // Lets go of the global shortcut (at quit, before the last files are written).
    void releaseHotkey();

    std::unique_ptr<ViewerWindowController> windowController;
    std::optional<QString> pendingURL;
    std::optional<QString> deferredURL; // waiting for a dialog or the cleanup review to close

private:
    void openWhenNoDialog(const QString &path, bool again = false);
    // The global hotkey, the settings window, the update check.
    void connectDesktop();

    GlobalHotkey *hotkey = nullptr;
    LaunchOptions options;
    LaunchHooks hooks;
};
