#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

// Other programs installed on this desktop, as GIO sees them through their
// desktop entries and mimeapps.list. An application is named by the path of
// its .desktop file; that path is also how the editor preference is stored.
struct Application {
    QString desktopFile;  // absolute path of its desktop entry
    QString id;           // desktop id, "org.gimp.GIMP.desktop"
    QString displayName;  // the entry's Name in the user's language
    QString iconName;     // a themed icon name or an absolute icon path; may be empty

    friend bool operator==(const Application &, const Application &) = default;
};

namespace Applications {

// This program's own desktop id; it never offers itself.
inline constexpr char ownDesktopId[] = "app.glanto.Glanto.desktop";

// The application of a desktop entry file; absent when the file is not a
// launchable entry.
std::optional<Application> fromDesktopFile(const QString &desktopFile);

// Every application that can open the file, this program left out: the
// system's default one first, then the others by display name in the file
// browser's order.
QVector<Application> forFile(const QString &path);

// Starts the application with the files as its arguments. The files are passed
// as an argument list, never as text for a shell, so a name like ";$(rm x).jpg"
// is just a name. Absent on success, else the system's description.
std::optional<QString> launch(const QString &desktopFile, const QStringList &files);

// Opens a location with the desktop's default handler (a folder in the file
// manager). Absent on success, else the system's description.
std::optional<QString> openDefault(const QString &path);

// Shows the file selected in the file manager (org.freedesktop.FileManager1),
// falling back to opening its folder. Absent on success, else the reason.
std::optional<QString> reveal(const QString &path);

} // namespace Applications
