#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>
#include <vector>

// Sets the desktop wallpaper. The answer comes later, on the main thread:
// absent on success, else the reason (a cancel by the user is a failure too).
class WallpaperService
{
public:
    using Done = std::function<void(std::optional<QString> error)>;

    virtual ~WallpaperService() = default;
    virtual void setWallpaper(const QString &photo, Done done) = 0;

    // The desktop's own service (the portal, then the desktop's settings).
    static WallpaperService &system();
};

// The file a desktop can show for a photo: the photo itself, or for RAW,
// JPEG XL and HEIF files (which most desktops cannot read) an upright JPEG
// made under the program's data folder. Absent with the reason on failure.
std::optional<QString> wallpaperFileFor(const QString &photo, QString *error);

// The folder holding those JPEGs.
QString wallpaperFolder();

// Removes the JPEGs of that folder other than shown, once the desktop shows it.
void removeOtherWallpapers(const QString &shown);

// One way of setting the wallpaper to a file the desktop can read: an
// external command (run without a shell) or a D-Bus call.
struct WallpaperCommand {
    QString program;
    QStringList arguments;
    friend bool operator==(const WallpaperCommand &, const WallpaperCommand &) = default;
};

// The commands that set a file as wallpaper on the given desktop
// ($XDG_CURRENT_DESKTOP, colon-separated): gsettings for GNOME, Cinnamon and
// MATE, xfconf-query for Xfce. Empty for desktops without such a command.
std::vector<WallpaperCommand> desktopWallpaperCommands(const QString &desktop, const QString &file);

// Plasma's script that sets a wallpaper; the path is a JSON string literal in it.
QString plasmaWallpaperScript(const QString &file);

// The XDG desktop portal (org.freedesktop.portal.Wallpaper), waiting for its
// Response; where no portal answers, the desktop's own setting.
class DesktopWallpaper : public WallpaperService
{
public:
    void setWallpaper(const QString &photo, Done done) override;
};

// For tests: records the files handed over and answers as told.
class FakeWallpaper : public WallpaperService
{
public:
    void setWallpaper(const QString &photo, Done done) override;

    std::optional<QString> nextError; // the answer to give
    QStringList requests;             // photos asked for, in order
};
