#pragma once

#include <QString>

#include <optional>

// The external editor hand-off: which file the editor receives and what the
// menu item is called.
namespace Editor {

// The file an editor or the open-with menu receives for a photo: the photo
// itself when it is a RAW file; otherwise the first existing RAW file of the
// same base name, the RAW extensions in alphabetical order, each tried in lower
// case and then in upper case; otherwise the photo itself.
QString editTarget(const QString &photo);

// The editor menu item: "menu.editIn" filled with the editor's name, or
// "menu.editChoose" without an editor.
QString menuTitle(const std::optional<QString> &editorName);

// Fills the single %@ of a template with a name. When the template begins with
// "在" and the name contains an ASCII letter the name gets a space on each side,
// so Chinese text around a Latin name reads as it should.
QString insertName(const QString &templateText, const QString &name);

// The configured editor's display name, absent when no editor is set or its
// desktop entry is gone.
std::optional<QString> editorName();

} // namespace Editor

// The hand-offs of the current photo as the viewer runs them, each answering
// with the message for the HUD bubble and how long it stays.
struct HandOffMessage {
    QString text;
    double seconds = 2.0;
};

namespace HandOff {

// Opens the photo's edit target with the application of a desktop entry:
// "msg.openedIn" for 2 s, or "msg.openFailed" with the reason for 4 s.
HandOffMessage openWith(const QString &desktopFile, const QString &photo);

// After the user chose an editor (remembered by the caller): "msg.editorSet", 3 s.
HandOffMessage editorChosen(const QString &desktopFile);

// "msg.wallpaperSet" with the file name, or "msg.wallpaperFailed" with the
// reason, each for 2 s.
HandOffMessage wallpaperAnswer(const QString &photo, const std::optional<QString> &error);

// "msg.trashed" with the file name, 2 s: the photo is gone from the strip,
// and the message says where to find it.
HandOffMessage trashed(const QString &photo);

// After Ctrl+Z: "msg.untrashed" with the file name, 2 s, or
// "msg.untrashFailed" with the name and the reason, 4 s.
HandOffMessage untrashed(const QString &photo);
HandOffMessage untrashFailed(const QString &photo, const QString &reason);

// "msg.trashFailed" with the reason, 4 s.
HandOffMessage trashFailed(const QString &reason);

// "msg.revealFailed" with the reason, 4 s: the system's own reason alone does
// not say what was being done ("No application is registered as handling this
// file" names neither the file manager nor the folder).
HandOffMessage revealFailed(const QString &reason);

} // namespace HandOff
