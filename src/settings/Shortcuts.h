#pragma once

#include <QKeySequence>
#include <QList>
#include <QString>
#include <QtGlobal>

#include <array>
#include <optional>
#include <vector>

class QKeyEvent;

// Every keyboard command the user can rebind. The declaration order decides
// which action wins when two share a key and is the order of the settings list.
// The raw value stored in the settings is the case name (see rawName()).
enum class ShortcutAction : int {
    toggleApp,
    prev,
    next,
    first,
    last,
    zoomIn,
    zoomOut,
    zoomAtPointer,
    actualSize,
    peek,
    fullscreen,
    info,
    filmstrip,
    slideshow,
    rotateCW,
    rotateCCW,
    rename,
    trash,
    edit,
    reveal,
    exportAs,
    saveRotation,
    cleanup,
    batchConvert,
    batchRename,
    wallpaper,
    rate1,
    rate2,
    rate3,
    rate4,
    rate5,
    rate0,
};

inline constexpr int shortcutActionCount = 32;

// The sections of the settings list, in display order.
enum class ShortcutGroup : int { global, browse, rating, view, file, tools };

inline constexpr std::array<ShortcutGroup, 6> allShortcutGroups{ShortcutGroup::global, ShortcutGroup::browse,
                                                                ShortcutGroup::rating, ShortcutGroup::view,
                                                                ShortcutGroup::file,   ShortcutGroup::tools};

// Modifier bits of a stored key binding. Command is Ctrl, Option is Alt,
// Control is Meta (the Super key), Shift is Shift.
namespace KeyMods {
inline constexpr quint32 shift = 0x20000;
inline constexpr quint32 control = 0x40000;
inline constexpr quint32 option = 0x80000;
inline constexpr quint32 command = 0x100000;
inline constexpr quint32 mask = shift | control | option | command;     // 0x1E0000
inline constexpr quint32 nonShift = control | option | command;         // 0x1C0000
} // namespace KeyMods

// A key binding in its stored form: the hardware-position key code (0 is A,
// 49 Space, 53 Esc, 123...126 the arrows), the modifier bits above, and the
// character the key types without modifiers, lower-cased (display and menus
// only, never matching). Compared field by field.
struct KeyCombo
{
    quint16 keyCode = 0;
    quint32 mods = 0;
    QString chars;

    bool operator==(const KeyCombo &other) const = default;

    // Stored only in the override store: the user removed the action's default.
    static KeyCombo clearedMarker() { return KeyCombo{0xFFFF, 0, {}}; }
    bool isClearedMarker() const { return keyCode == 0xFFFF; }

    bool sameKey(const KeyCombo &other) const { return keyCode == other.keyCode && mods == other.mods; }
    bool hasNonShiftModifier() const { return (mods & KeyMods::nonShift) != 0; }
};

// Outcome of recording a key for an action in the settings window. The window
// beeps when refused and shows status (empty = clear the status line).
struct ShortcutAssignResult
{
    bool accepted = false;
    QString status;
    std::optional<ShortcutAction> clearedOwner;   // the action that lost the key
};

// The action table, the user's overrides (stored as JSON under customShortcuts,
// read once on first use and written through on every change), key matching and
// display. Main thread only.
namespace Shortcuts {

const std::array<ShortcutAction, shortcutActionCount> &allActions();

ShortcutGroup group(ShortcutAction action);
QList<ShortcutAction> actionsInGroup(ShortcutGroup group);

QString rawName(ShortcutAction action);
std::optional<ShortcutAction> actionFromRawName(const QString &name);

// Shown titles; texts of the list, with "…" removed where the menu has it.
QString title(ShortcutAction action);
QString title(ShortcutGroup group);

// The built-in binding, or none.
std::optional<KeyCombo> defaultCombo(ShortcutAction action);
// The effective binding: the override if there is one (the cleared marker gives
// none), else the default.
std::optional<KeyCombo> combo(ShortcutAction action);
// Whether the user overrode the action (a cleared default counts).
bool isCustomized(ShortcutAction action);
// Sets the binding (none = clear). Going back to exactly the default removes the
// override. Always saves and announces the change.
void setCombo(const std::optional<KeyCombo> &newCombo, ShortcutAction action);
// Forgets every override, removes the stored key and announces the change.
void resetAll();

// The settings window's assignment, with the global-hotkey rule, the fixed keys
// and the conflict rule (the first other owner of the key loses it).
ShortcutAssignResult assign(const std::optional<KeyCombo> &newCombo, ShortcutAction action);

// The action bound to a key press, or none. Caps Lock, keypad and layout group
// flags play no part, nor do the typed characters; with Shift alone a plain-key
// binding still matches.
std::optional<ShortcutAction> actionFor(quint16 keyCode, quint32 mods);
std::optional<ShortcutAction> actionForKey(int qtKey, Qt::KeyboardModifiers modifiers, quint32 scanCode = 0);
// Key presses only; any other event gives none.
std::optional<ShortcutAction> actionForEvent(const QKeyEvent *event);

// One way to read a key press: a stored key code with its modifiers.
struct KeyReading
{
    quint16 keyCode;
    quint32 mods;
};
// The ways a key press can be read, best first (the symbol typed, then the
// key's place on a US keyboard, a keypad digit as a digit); a binding or a
// command takes the first reading that matches one. scanCode as below.
std::vector<KeyReading> readingsForKey(int qtKey, Qt::KeyboardModifiers modifiers, quint32 scanCode = 0);

// Translation between Qt's keys and the stored form.
// scanCode, when not 0, is the physical key (physicalKey() of the event): a
// symbol is taken for a digit key only when typed on that key. The first
// reading's code.
std::optional<quint16> keyCodeForQtKey(int qtKey, Qt::KeyboardModifiers modifiers = {}, quint32 scanCode = 0);
quint32 modsForQtModifiers(Qt::KeyboardModifiers modifiers);
Qt::KeyboardModifiers qtModifiersForMods(quint32 mods);
// Qt::Key for a stored key code (0 when there is none).
int qtKeyForKeyCode(quint16 keyCode);
// A recorded key press as a binding; none for bare modifier keys and keys that
// have no stored code.
std::optional<KeyCombo> comboForKey(int qtKey, Qt::KeyboardModifiers modifiers, quint32 scanCode = 0);
// The physical key of a key event for the functions above: its scan code, or
// 1 while AltGr is held. Qt reports AltGr+2 (a superscript two on a German
// layout) as a plain 2; such a key matches no binding and is not recorded.
quint32 physicalKey(const QKeyEvent &event);
std::optional<KeyCombo> comboForEvent(const QKeyEvent *event);

// The text of a binding for lists and tooltips, in this platform's notation
// ("Ctrl+Shift+K"); Space is spelled in the user's language.
QString displayString(const KeyCombo &combo);
// The binding as a menu / QAction shortcut; empty when the key has no Qt name.
QKeySequence keyEquivalent(const KeyCombo &combo);

// Reads the stored bindings again; when another copy of the program changed
// them, takes them and announces the change. True when they changed.
bool followStored();

} // namespace Shortcuts
