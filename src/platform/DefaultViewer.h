#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Making Glanto the desktop's default application for common photo types,
// through GIO (desktop entries and mimeapps.list), and the one-line status the
// settings window shows next to its button.
namespace DefaultViewer {

// The desktop entry this program is known by.
inline constexpr char desktopEntryId[] = "app.glanto.Glanto.desktop";

// The photo MIME types, in order; those the shared MIME database does not
// know are left out. Built once.
const QStringList &contentTypes();

// Whether the desktop can see an installed, valid desktop entry for this
// program. A run from the build tree has none.
bool isInstalled();

// Whether this program opens mimeType by default. Never true without an
// installed desktop entry, whatever mimeapps.list says.
bool isDefault(const QString &mimeType);

// The name of the application that opens mimeType by default, or none.
std::optional<QString> defaultApplicationName(const QString &mimeType);

// The name an application's desktop entry file gives it ("GIMP"), or none.
std::optional<QString> applicationNameAt(const QString &desktopFilePath);

// The settings window's row, decided by the JPEG type alone.
struct Status
{
    bool isDefault = false;
    QString text;            // "Glanto 已是默认看图软件" or "现在双击照片用「…」打开"
    bool secondary = false;  // shown in the secondary text colour
    bool showButton = true;  // the "make default" button
};
Status status();

// Registers this program for every type. Failures do not stop the others;
// each is logged ("DefaultViewer <type>: <reason>") and counted in the result,
// whose message is meant for the person (empty when everything succeeded).
struct Outcome
{
    int registered = 0;
    QStringList failedTypes;
    QString message;
};
Outcome makeDefault();

} // namespace DefaultViewer
