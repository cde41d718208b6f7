#include "app/LaunchOptions.h"

#include "platform/FileNames.h"

#include <QFileInfo>

#include <algorithm>
#include <array>

namespace {

// Switches that start a scripted self-check run instead of a normal session.
constexpr std::array<const char *, 23> selfCheckSwitches = {
    "--xhs-shots", "--shot", "--shot-browse", "--cleanup-shot", "--ratingshot",
    "--selftest", "--pausetest", "--hdrtest", "--slidestriptest", "--slidetest",
    "--slidefadetest", "--fadesettest", "--updatetest", "--ratingtest", "--defaulttest",
    "--hotkeytest", "--settingstest", "--esctest", "--hudtest", "--zoomtest",
    "--wheeltest", "--peektest", "--bench",
};

bool isSwitchLike(const QString &argument)
{
    return argument.startsWith(QLatin1Char('-'));
}

// A file:// address (as some launchers hand over), or a network address the
// desktop has mounted, as a local path; anything else as it is (an address no
// local path reaches is said to be one when it cannot be opened).
QString localPathOf(const QString &argument)
{
    if (argument.startsWith(QLatin1String("file:"), Qt::CaseInsensitive) || FileNames::isAddress(argument)) {
        if (const std::optional<QString> path = FileNames::reachablePath(argument))
            return *path;
    }
    return argument;
}

bool isKnownSwitch(const QString &argument)
{
    for (const char *known : {"--cleanup-report", "--version", "-v", "--help", "-h"}) {
        if (argument == QLatin1String(known))
            return true;
    }
    return isSelfCheckSwitch(argument);
}

} // namespace

bool isSelfCheckSwitch(const QString &name)
{
    for (const char *s : selfCheckSwitches) {
        if (name == QLatin1String(s))
            return true;
    }
    return false;
}

LaunchOptions parseLaunchArguments(const QStringList &arguments, const std::function<bool(const QString &)> &exists)
{
    LaunchOptions options;
    QStringList paths; // every path given, in order (a file manager passes all it has selected)
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        const bool hasNext = i + 1 < arguments.size();

        if (argument == QLatin1String("--cleanup-report")) {
            // Whatever follows is the folder, even if it looks like a switch:
            // the report mode gives the clear message about a bad folder.
            if (hasNext && !options.cleanupReportFolder)
                options.cleanupReportFolder = arguments.at(i + 1);
            if (hasNext)
                ++i;
            continue;
        }
        if (argument == QLatin1String("--")) {
            // The usual end of the switches: what follows is a path, even one
            // that starts with "-".
            for (qsizetype j = i + 1; j < arguments.size(); ++j)
                paths << localPathOf(arguments.at(j));
            break;
        }
        if (argument == QLatin1String("--version") || argument == QLatin1String("-v"))
            options.showVersion = true;
        if (argument == QLatin1String("--help") || argument == QLatin1String("-h"))
            options.showHelp = true;
        if (isSelfCheckSwitch(argument))
            options.selfCheck = true;
        if (argument == QLatin1String("--shot") && hasNext && !options.shotPath) {
            options.shotPath = arguments.at(i + 1);
            if (i + 2 < arguments.size() && !isSwitchLike(arguments.at(i + 2)))
                options.shotLocation = arguments.at(i + 2);
        }
        if (argument == QLatin1String("--cleanup-shot") && !options.cleanupShotPath) {
            options.cleanupShotPath = QStringLiteral("cleanup-shot.png");
            if (hasNext && arguments.at(i + 1).endsWith(QLatin1String(".png"), Qt::CaseInsensitive)) {
                options.cleanupShotPath = arguments.at(++i);
                continue;
            }
        }
        if (!isSwitchLike(argument))
            paths << localPathOf(argument);
        if (isSwitchLike(argument) && !isKnownSwitch(argument) && !options.unknownSwitch)
            options.unknownSwitch = argument;
    }
    // The first path that is there; when none is, the first, to be named as missing.
    const auto there = std::find_if(paths.cbegin(), paths.cend(), [&exists](const QString &path) {
        return exists ? exists(path) : FileNames::isThere(path);
    });
    if (there != paths.cend())
        options.firstPath = *there;
    else if (!paths.isEmpty())
        options.firstPath = paths.first();
    return options;
}

QString unknownSwitchText(const QString &name)
{
    return QStringLiteral("glanto: unknown option %1 passed over (\"glanto --help\" lists the options)\n").arg(name);
}

FirstContent chooseFirstContent(const LaunchOptions &options,
                                const std::optional<QString> &pendingURL,
                                const std::function<bool(const QString &)> &exists)
{
    if (options.shotPath)
        return {};
    if (pendingURL)
        return {FirstContent::Kind::open, *pendingURL};

    const auto pathExists = exists ? exists : [](const QString &path) { return FileNames::isThere(path); };
    if (options.firstPath && pathExists(*options.firstPath))
        return {FirstContent::Kind::open, QFileInfo(*options.firstPath).absoluteFilePath()};
    return {FirstContent::Kind::openPanel, {}};
}

std::optional<QString> informationText(const LaunchOptions &options, const QString &version)
{
    if (options.showHelp) {
        return QStringLiteral(
            "Usage: glanto [--] [PATH...]\n"
            "       glanto --cleanup-report FOLDER\n"
            "\n"
            "A fast photo viewer. PATH is a photo or a folder; of several, the first that\n"
            "is there opens. Without one the Open panel is shown. A second `glanto PATH`\n"
            "hands PATH to the window already open.\n"
            "\n"
            "  --cleanup-report FOLDER  print the cleanup measurements of FOLDER, no window\n"
            "  -h, --help               show this help and end\n"
            "  -v, --version            show the version and end\n"
            "\n"
            "Environment: GLANTO_UPDATE_FEED replaces the update feed address (http or https).\n"
            "Preferences: ~/.config/Glanto/Glanto.conf\n");
    }
    if (options.showVersion)
        return QStringLiteral("Glanto %1\n").arg(version);
    return std::nullopt;
}
