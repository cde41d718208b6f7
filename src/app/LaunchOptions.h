#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// What the command line asks for. Parsing is a plain function so that the
// launch decisions can be tested without a display.
struct LaunchOptions
{
    // "--cleanup-report DIR": the folder to report on. A switch with nothing
    // after it is ignored and the launch continues normally.
    std::optional<QString> cleanupReportFolder;

    // "--shot PATH [LOCATION]": save a screenshot of the window to PATH,
    // after opening LOCATION when one is given, then quit.
    std::optional<QString> shotPath;
    std::optional<QString> shotLocation;

    // "--cleanup-shot [OUTPUT.png]": open the first path, enter the cleanup
    // review, save a screenshot of it (cleanup-shot.png when no output is
    // named) and quit.
    std::optional<QString> cleanupShotPath;

    // Any of the self-check switches: such a run is a private instance that
    // neither claims nor hands over to the single running instance.
    bool selfCheck = false;

    // The first argument that does not start with "-" and names a file or
    // folder that is there, else the first such argument (named as missing);
    // a file:// address is taken as its local path.
    std::optional<QString> firstPath;

    // The first switch the program does not know (Qt's own are gone by the time
    // the window's launch reads the line).
    std::optional<QString> unknownSwitch;

    // "--version" / "-v" and "--help" / "-h": print and end, before any display is needed.
    bool showVersion = false;
    bool showHelp = false;
};

// arguments: the command line after the program path.
// exists tells which paths are there (injectable for tests; default: the file system).
LaunchOptions parseLaunchArguments(const QStringList &arguments,
                                   const std::function<bool(const QString &)> &exists = {});

// What "--help" or "--version" prints (help wins when both are given); none
// when neither was asked for. version is the program's version string.
std::optional<QString> informationText(const LaunchOptions &options, const QString &version);

// Whether name is one of the self-check switches ("--shot", "--bench", ...).
bool isSelfCheckSwitch(const QString &name);

// What a launch prints about a switch it does not know, before it goes on.
QString unknownSwitchText(const QString &name);

// What the window shows first once it exists.
struct FirstContent
{
    enum class Kind {
        nothing,   // a self-check scenario decides ("--shot")
        open,      // open path in the viewer
        openPanel, // show the Open panel as a sheet on the window
    };
    Kind kind = Kind::nothing;
    QString path;
};

// A location the system asked to open before the window existed wins over the
// command line; a command-line path that does not exist is ignored and the
// Open panel is shown instead. exists is injectable for tests.
FirstContent chooseFirstContent(const LaunchOptions &options,
                                const std::optional<QString> &pendingURL,
                                const std::function<bool(const QString &)> &exists = {});
