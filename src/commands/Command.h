#pragma once

#include "settings/Shortcuts.h"

#include <QString>

#include <optional>
#include <span>
#include <vector>

// Every command of the main window, once. The menu, the keys, the toolbar, the
// slideshow and the settings window all name commands by these ids; the table
// below gives each its title, its key and whether a key press may repeat it.
// What a command does, and whether it is enabled or ticked, is decided by the
// page that is active (see CommandRouter), so the same id can mean "trash the
// photo on screen" in the viewer and "trash the ticked photos" in the cleanup
// review.
//
// To add a command: add an id here, a row in commandTable() (Command.cpp), and
// a handler on the page (or the router, for window-wide commands) that runs it.
enum class CommandId : int {
    // Application
    showAbout,
    checkForUpdates,
    showSettings,
    hideWindow,
    quit,
    // File
    openFolderPanel,
    revealInFinder,
    openInEditor,
    chooseEditor,
    openWith,           // the submenu of applications for the current photo
    setRatingMenu,      // tag: stars 0...5
    renameCurrent,
    saveRotation,
    exportAs,
    copyPhoto,          // the photo to the clipboard: the file, its path, the picture
    trashCurrent,
    performClose,
    // View
    zoomIn,
    zoomOut,
    zoomActual,
    zoomFit,
    rotateCW,
    rotateCCW,
    toggleInfoPanel,
    toggleFilmstrip,
    toggleSlideshow,
    setSlideshowInterval, // tag: seconds
    setSortKey,           // tag: SortKey raw value 0...4
    toggleSortReversed,
    toggleFadeTransition,
    toggleEscCloses,
    setWheelAction,       // tag: 1 navigates, anything else zooms
    toggleWheelZoomInverted,
    toggleFullScreen,
    // Go
    navigateBackward,
    navigateForward,
    goFirst,
    goLast,
    // Tools
    batchConvert,
    batchRename,
    toggleCleanup,
    setWallpaper,
    // Window
    performMiniaturize,
    performZoom,
    arrangeInFront,
    // Help
    showShortcuts,
    // Keys of the photo view that have no menu item
    zoomAtPointer,
    peek,
    undoTrash,          // puts back the photo the viewer last moved to the Trash
    escape,
};

inline constexpr int commandCount = int(CommandId::escape) + 1;

// One row of the command table.
struct CommandDef
{
    CommandId id;
    // The action name, as the log and the tests spell it ("navigateForward").
    const char *name;
    // Localization key of the menu title; empty for commands without a menu item.
    const char *titleKey;
    // The rebindable key, through the shortcut model. Absent: the command keeps
    // its fixed keys (or has none).
    std::optional<ShortcutAction> action;
    // Whether the menu item shows the binding (when it has Ctrl, Alt or Meta).
    // Items that do not show their fixed key even when the action is rebound
    // (zoom, full screen).
    bool menuShowsBinding = false;
    // Keys that cannot be rebound. The first is the one the menu shows.
    std::vector<KeyCombo> fixedKeys;
    // Whether a held key repeats the command (the peek toggles once per press,
    // and a held key moves one photo to the Trash, not a run of them).
    bool repeats = true;
    // Whether the plain fixed keys answer only while the action has a binding:
    // a person who cleared the key of a command that moves files means no key.
    bool fixedKeysNeedBinding = false;
    // Whether a binding of the person's takes these fixed keys even with Ctrl,
    // Alt or Meta (a key added after people could bind it themselves).
    bool fixedKeysYield = false;
};

// Enabled state, tick and an optional title that replaces the table's.
struct CommandState
{
    bool enabled = true;
    bool checked = false;
    QString title;
};

namespace Commands {

const std::vector<CommandDef> &table();
const CommandDef &def(CommandId id);
QString name(CommandId id);
std::optional<CommandId> fromName(const QString &name);

// The command behind a bindable action, with its tag (the rating actions all
// set the rating, with the star count as the tag). toggleApp has none: the
// global hotkey performs it.
struct Invocation
{
    CommandId id;
    int tag = 0;
};
std::optional<Invocation> forAction(ShortcutAction action);

// The key press as a command, in this order: the fixed keys that no binding may
// take (Ctrl+Q, Esc ...), then the user's bindings, then the remaining fixed
// keys (a bare = or - zooms unless a binding took the key).
std::optional<Invocation> forKey(quint16 keyCode, quint32 mods);

// The key the menu shows for a command: a binding with Ctrl, Alt or Meta, or the
// first fixed key. Plain-key bindings are performed by the keys but not shown.
std::optional<KeyCombo> menuKey(CommandId id);

// The settings window has three tabs; an index from elsewhere is kept inside them.
inline constexpr int settingsTabCount = 3;
int clampSettingsTab(int tab);

} // namespace Commands
