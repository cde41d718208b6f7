#include "commands/Command.h"

#include <algorithm>

namespace {

using A = ShortcutAction;
namespace M = KeyMods;

// Stored key codes of the fixed keys (the hardware positions of the shortcut model).
namespace Key {
constexpr quint16 c = 8, h = 4, f = 3, q = 12, w = 13, o = 31, m = 46, z = 6, comma = 43, slash = 44;
constexpr quint16 equal = 24, minus = 27, n1 = 18, n0 = 29, keypadPlus = 69, keypadMinus = 78;
constexpr quint16 escape = 53, f11 = 103, forwardDelete = 117, f2 = 120;
} // namespace Key

KeyCombo key(quint16 code, quint32 mods, const char *chars)
{
    return KeyCombo{code, mods, QString::fromLatin1(chars)};
}

std::vector<CommandDef> buildTable()
{
    const quint32 cmd = M::command;
    std::vector<CommandDef> t = {
        {CommandId::showAbout, "showAbout", "menu.about", {}, false, {}, true},
        {CommandId::checkForUpdates, "checkForUpdates", "menu.checkUpdates", {}, false, {}, true},
        {CommandId::showSettings, "showSettings", "menu.settings", {}, false, {key(Key::comma, cmd, ",")}, true},
        {CommandId::hideWindow, "hideWindow", "menu.hide", {}, false, {key(Key::h, cmd, "h")}, true},
        {CommandId::quit, "quit", "menu.quit", {}, false, {key(Key::q, cmd, "q")}, true},

        {CommandId::openFolderPanel, "openFolderPanel", "menu.open", {}, false, {key(Key::o, cmd, "o")}, true},
        {CommandId::revealInFinder, "revealInFinder", "menu.reveal", A::reveal, true, {}, true},
        {CommandId::openInEditor, "openInEditor", "menu.editChoose", A::edit, true, {}, true},
        {CommandId::chooseEditor, "chooseEditor", "menu.chooseEditor", {}, false, {}, true},
        {CommandId::openWith, "openWith", "menu.openWith", {}, false, {}, true},
        {CommandId::setRatingMenu, "setRatingMenu", "menu.rating", {}, false, {}, true},
        // F2 renames on the Linux desktops, beside the bindable key, unless a
        // binding takes it or the person cleared the key.
        {CommandId::renameCurrent, "renameCurrent", "menu.rename", A::rename, true, {key(Key::f2, 0, "")}, true, true},
        {CommandId::saveRotation, "saveRotation", "menu.saveRotation", A::saveRotation, true, {}, true},
        {CommandId::exportAs, "exportAs", "menu.exportAs", A::exportAs, true, {}, true},
        // Ctrl+C came after people could bind keys: a binding of theirs keeps it.
        {CommandId::copyPhoto, "copyPhoto", "menu.copy", {}, false, {key(Key::c, cmd, "c")}, true, false, true},
        // Delete moves a photo to the Trash on the Linux desktops, beside the
        // bindable key, unless a binding takes it or the person cleared the key.
        {CommandId::trashCurrent, "trashCurrent", "menu.trash", A::trash, true,
         {key(Key::forwardDelete, 0, "")}, false, true},
        {CommandId::performClose, "performClose", "menu.close", {}, false, {key(Key::w, cmd, "w")}, true},

        {CommandId::zoomIn, "zoomIn", "menu.zoomIn", A::zoomIn, false,
         {key(Key::equal, cmd, "="), key(Key::equal, 0, "="), key(Key::equal, M::shift, "="),
          key(Key::equal, cmd | M::shift, "="), key(Key::keypadPlus, 0, "+"), key(Key::keypadPlus, cmd, "+")},
         true},
        {CommandId::zoomOut, "zoomOut", "menu.zoomOut", A::zoomOut, false,
         {key(Key::minus, cmd, "-"), key(Key::minus, 0, "-"), key(Key::minus, M::shift, "-"),
          key(Key::minus, cmd | M::shift, "-"), key(Key::keypadMinus, 0, "-"), key(Key::keypadMinus, cmd, "-")},
         true},
        {CommandId::zoomActual, "zoomActual", "menu.actualSize", A::actualSize, false, {key(Key::n1, cmd, "1")}, true},
        {CommandId::zoomFit, "zoomFit", "menu.fit", {}, false, {key(Key::n0, cmd, "0")}, true},
        {CommandId::rotateCW, "rotateCW", "menu.rotateCW", A::rotateCW, true, {}, true},
        {CommandId::rotateCCW, "rotateCCW", "menu.rotateCCW", A::rotateCCW, true, {}, true},
        {CommandId::toggleInfoPanel, "toggleInfoPanel", "menu.info", A::info, true, {}, true},
        {CommandId::toggleFilmstrip, "toggleFilmstrip", "menu.filmstrip", A::filmstrip, true, {}, true},
        {CommandId::toggleSlideshow, "toggleSlideshow", "menu.slideshow", A::slideshow, true, {}, false},
        {CommandId::setSlideshowInterval, "setSlideshowInterval", "menu.slideInterval", {}, false, {}, true},
        {CommandId::setSortKey, "setSortKey", "menu.sort", {}, false, {}, true},
        {CommandId::toggleSortReversed, "toggleSortReversed", "sort.descending", {}, false, {}, true},
        {CommandId::toggleFadeTransition, "toggleFadeTransition", "menu.fadeTransition", {}, false, {}, true},
        {CommandId::toggleEscCloses, "toggleEscCloses", "menu.escCloses", {}, false, {}, true},
        {CommandId::setWheelAction, "setWheelAction", "menu.wheel", {}, false, {}, true},
        {CommandId::toggleWheelZoomInverted, "toggleWheelZoomInverted", "wheel.invert", {}, false, {}, true},
        {CommandId::toggleFullScreen, "toggleFullScreen", "menu.fullscreen", A::fullscreen, false,
         // F11 is full screen on the Linux desktops; a binding of the person's may take it.
         {key(Key::f, M::control | cmd, "f"), key(Key::f11, 0, "")}, false},

        {CommandId::navigateBackward, "navigateBackward", "menu.prev", A::prev, true, {}, true},
        {CommandId::navigateForward, "navigateForward", "menu.next", A::next, true, {}, true},
        {CommandId::goFirst, "goFirst", "menu.first", A::first, true, {}, true},
        {CommandId::goLast, "goLast", "menu.last", A::last, true, {}, true},

        {CommandId::batchConvert, "batchConvert", "menu.batchConvert", A::batchConvert, true, {}, true},
        {CommandId::batchRename, "batchRename", "menu.batchRename", A::batchRename, true, {}, true},
        {CommandId::toggleCleanup, "toggleCleanup", "menu.cleanup", A::cleanup, true, {}, false},
        {CommandId::setWallpaper, "setWallpaper", "menu.wallpaper", A::wallpaper, true, {}, true},

        {CommandId::performMiniaturize, "performMiniaturize", "menu.miniaturize", {}, false, {key(Key::m, cmd, "m")}, true},
        {CommandId::performZoom, "performZoom", "menu.windowZoom", {}, false, {}, true},
        {CommandId::arrangeInFront, "arrangeInFront", "menu.front", {}, false, {}, true},

        {CommandId::showShortcuts, "showShortcuts", "menu.shortcuts", {}, false, {key(Key::slash, cmd, "/")}, true},

        {CommandId::zoomAtPointer, "zoomAtPointer", "", A::zoomAtPointer, false, {}, true},
        {CommandId::peek, "peek", "", A::peek, false, {}, false},
        // Ctrl+Z after a slip of the Trash key; the cleanup review keeps its own.
        // A binding of the person's to Ctrl+Z keeps working.
        {CommandId::undoTrash, "undoTrash", "", {}, false, {key(Key::z, cmd, "z")}, false, false, true},
        {CommandId::escape, "escape", "", {}, false, {key(Key::escape, 0, "")}, true},
    };
    // Looked up by id: the rows are in id order.
    std::sort(t.begin(), t.end(), [](const CommandDef &a, const CommandDef &b) { return a.id < b.id; });
    return t;
}

// Keys no binding may take: anything with Ctrl, Alt or Meta among the fixed
// keys, and Esc with any modifiers.
bool isReserved(const KeyCombo &fixed)
{
    return fixed.hasNonShiftModifier() || fixed.keyCode == Key::escape;
}

std::optional<Commands::Invocation> matchFixed(quint16 keyCode, quint32 mods, bool reserved)
{
    for (const CommandDef &def : Commands::table()) {
        if (!reserved && def.fixedKeysNeedBinding && def.action && !Shortcuts::combo(*def.action))
            continue;
        for (const KeyCombo &fixed : def.fixedKeys) {
            if ((isReserved(fixed) && !def.fixedKeysYield) != reserved || fixed.keyCode != keyCode)
                continue;
            if (fixed.mods == mods || fixed.keyCode == Key::escape)
                return Commands::Invocation{def.id, 0};
        }
    }
    return std::nullopt;
}

} // namespace

namespace Commands {

const std::vector<CommandDef> &table()
{
    static const std::vector<CommandDef> rows = buildTable();
    return rows;
}

const CommandDef &def(CommandId id)
{
    return table().at(size_t(id));
}

QString name(CommandId id)
{
    return QString::fromLatin1(def(id).name);
}

std::optional<CommandId> fromName(const QString &name)
{
    for (const CommandDef &row : table()) {
        if (name == QLatin1String(row.name))
            return row.id;
    }
    return std::nullopt;
}

std::optional<Invocation> forAction(ShortcutAction action)
{
    switch (action) {
    case A::toggleApp:
        return std::nullopt;
    case A::rate1: return Invocation{CommandId::setRatingMenu, 1};
    case A::rate2: return Invocation{CommandId::setRatingMenu, 2};
    case A::rate3: return Invocation{CommandId::setRatingMenu, 3};
    case A::rate4: return Invocation{CommandId::setRatingMenu, 4};
    case A::rate5: return Invocation{CommandId::setRatingMenu, 5};
    case A::rate0: return Invocation{CommandId::setRatingMenu, 0};
    default:
        break;
    }
    for (const CommandDef &row : table()) {
        if (row.action == action)
            return Invocation{row.id, 0};
    }
    return std::nullopt;
}

std::optional<Invocation> forKey(quint16 keyCode, quint32 mods)
{
    mods &= KeyMods::mask;
    if (std::optional<Invocation> fixed = matchFixed(keyCode, mods, true))
        return fixed;
    if (const std::optional<ShortcutAction> action = Shortcuts::actionFor(keyCode, mods)) {
        if (std::optional<Invocation> bound = forAction(*action))
            return bound;
        // toggleApp belongs to the global hotkey; inside the window its key does nothing.
        return std::nullopt;
    }
    return matchFixed(keyCode, mods, false);
}

std::optional<KeyCombo> menuKey(CommandId id)
{
    const CommandDef &row = def(id);
    if (row.action && row.menuShowsBinding) {
        const std::optional<KeyCombo> bound = Shortcuts::combo(*row.action);
        if (bound && bound->hasNonShiftModifier())
            return bound;
        return std::nullopt;
    }
    if (!row.fixedKeys.empty() && row.fixedKeys.front().hasNonShiftModifier())
        return row.fixedKeys.front();
    return std::nullopt;
}

int clampSettingsTab(int tab)
{
    return std::clamp(tab, 0, settingsTabCount - 1);
}

} // namespace Commands
