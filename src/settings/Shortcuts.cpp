#include "settings/Shortcuts.h"
#include "settings/ShortcutsInternal.h"

#include "settings/Settings.h"
#include "settings/Texts.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QKeyEvent>
#include <QMap>

#include <cmath>

namespace {

// Stored key codes follow the hardware-position numbering of the Mac's virtual
// key codes, so a stored binding names a physical key whatever the layout.
namespace Code {
constexpr quint16 a = 0, s = 1, d = 2, f = 3, h = 4, g = 5, z = 6, x = 7, c = 8, v = 9;
constexpr quint16 b = 11, q = 12, w = 13, e = 14, r = 15, y = 16, t = 17;
constexpr quint16 n1 = 18, n2 = 19, n3 = 20, n4 = 21, n6 = 22, n5 = 23, equal = 24, n9 = 25, n7 = 26;
constexpr quint16 minus = 27, n8 = 28, n0 = 29, rightBracket = 30, o = 31, u = 32, leftBracket = 33;
constexpr quint16 i = 34, p = 35, returnKey = 36, l = 37, j = 38, quote = 39, k = 40, semicolon = 41;
constexpr quint16 backslash = 42, comma = 43, slash = 44, n = 45, m = 46, period = 47, tab = 48;
constexpr quint16 space = 49, grave = 50, backspace = 51, escape = 53;
constexpr quint16 keypadDecimal = 65, keypadMultiply = 67, keypadPlus = 69, keypadClear = 71;
constexpr quint16 keypadDivide = 75, keypadEnter = 76, keypadMinus = 78, keypadEquals = 81;
constexpr quint16 keypad0 = 82, keypad1 = 83, keypad2 = 84, keypad3 = 85, keypad4 = 86, keypad5 = 87;
constexpr quint16 keypad6 = 88, keypad7 = 89, keypad8 = 91, keypad9 = 92;
constexpr quint16 f5 = 96, f6 = 97, f7 = 98, f3 = 99, f8 = 100, f9 = 101, f11 = 103, f13 = 105, f16 = 106;
constexpr quint16 f14 = 107, f10 = 109, f12 = 111, f15 = 113, help = 114, home = 115, pageUp = 116;
constexpr quint16 forwardDelete = 117, f4 = 118, end = 119, f2 = 120, pageDown = 121, f1 = 122;
constexpr quint16 left = 123, right = 124, down = 125, up = 126;
constexpr quint16 f17 = 64, f18 = 79, f19 = 80, f20 = 90;
constexpr quint16 cleared = 0xFFFF;
} // namespace Code

struct KeyEntry
{
    int qtKey;
    quint16 keyCode;
    const char *chars;   // what the key types unmodified, lower-cased
};

// Qt's keys and the stored codes. For keys that appear twice the first row is
// the one a stored code turns back into; the later rows are the symbols Qt
// reports while Shift is held on a US layout, so Shift+1 still means key 1.
constexpr KeyEntry keyTable[] = {
    {Qt::Key_A, Code::a, "a"}, {Qt::Key_B, Code::b, "b"}, {Qt::Key_C, Code::c, "c"},
    {Qt::Key_D, Code::d, "d"}, {Qt::Key_E, Code::e, "e"}, {Qt::Key_F, Code::f, "f"},
    {Qt::Key_G, Code::g, "g"}, {Qt::Key_H, Code::h, "h"}, {Qt::Key_I, Code::i, "i"},
    {Qt::Key_J, Code::j, "j"}, {Qt::Key_K, Code::k, "k"}, {Qt::Key_L, Code::l, "l"},
    {Qt::Key_M, Code::m, "m"}, {Qt::Key_N, Code::n, "n"}, {Qt::Key_O, Code::o, "o"},
    {Qt::Key_P, Code::p, "p"}, {Qt::Key_Q, Code::q, "q"}, {Qt::Key_R, Code::r, "r"},
    {Qt::Key_S, Code::s, "s"}, {Qt::Key_T, Code::t, "t"}, {Qt::Key_U, Code::u, "u"},
    {Qt::Key_V, Code::v, "v"}, {Qt::Key_W, Code::w, "w"}, {Qt::Key_X, Code::x, "x"},
    {Qt::Key_Y, Code::y, "y"}, {Qt::Key_Z, Code::z, "z"},
    {Qt::Key_0, Code::n0, "0"}, {Qt::Key_1, Code::n1, "1"}, {Qt::Key_2, Code::n2, "2"},
    {Qt::Key_3, Code::n3, "3"}, {Qt::Key_4, Code::n4, "4"}, {Qt::Key_5, Code::n5, "5"},
    {Qt::Key_6, Code::n6, "6"}, {Qt::Key_7, Code::n7, "7"}, {Qt::Key_8, Code::n8, "8"},
    {Qt::Key_9, Code::n9, "9"},
    {Qt::Key_Equal, Code::equal, "="}, {Qt::Key_Minus, Code::minus, "-"},
    {Qt::Key_BracketRight, Code::rightBracket, "]"}, {Qt::Key_BracketLeft, Code::leftBracket, "["},
    {Qt::Key_Apostrophe, Code::quote, "'"}, {Qt::Key_Semicolon, Code::semicolon, ";"},
    {Qt::Key_Backslash, Code::backslash, "\\"}, {Qt::Key_Comma, Code::comma, ","},
    {Qt::Key_Slash, Code::slash, "/"}, {Qt::Key_Period, Code::period, "."},
    {Qt::Key_QuoteLeft, Code::grave, "`"},
    {Qt::Key_Return, Code::returnKey, "\r"}, {Qt::Key_Tab, Code::tab, "\t"},
    {Qt::Key_Space, Code::space, " "}, {Qt::Key_Backspace, Code::backspace, "\x7f"},
    {Qt::Key_Escape, Code::escape, "\x1b"}, {Qt::Key_Enter, Code::keypadEnter, "\r"},
    {Qt::Key_Clear, Code::keypadClear, ""}, {Qt::Key_Help, Code::help, ""},
    {Qt::Key_Home, Code::home, ""}, {Qt::Key_End, Code::end, ""},
    {Qt::Key_PageUp, Code::pageUp, ""}, {Qt::Key_PageDown, Code::pageDown, ""},
    {Qt::Key_Delete, Code::forwardDelete, ""},
    {Qt::Key_Left, Code::left, ""}, {Qt::Key_Right, Code::right, ""},
    {Qt::Key_Down, Code::down, ""}, {Qt::Key_Up, Code::up, ""},
    {Qt::Key_F1, Code::f1, ""}, {Qt::Key_F2, Code::f2, ""}, {Qt::Key_F3, Code::f3, ""},
    {Qt::Key_F4, Code::f4, ""}, {Qt::Key_F5, Code::f5, ""}, {Qt::Key_F6, Code::f6, ""},
    {Qt::Key_F7, Code::f7, ""}, {Qt::Key_F8, Code::f8, ""}, {Qt::Key_F9, Code::f9, ""},
    {Qt::Key_F10, Code::f10, ""}, {Qt::Key_F11, Code::f11, ""}, {Qt::Key_F12, Code::f12, ""},
    {Qt::Key_F13, Code::f13, ""}, {Qt::Key_F14, Code::f14, ""}, {Qt::Key_F15, Code::f15, ""},
    {Qt::Key_F16, Code::f16, ""}, {Qt::Key_F17, Code::f17, ""}, {Qt::Key_F18, Code::f18, ""},
    {Qt::Key_F19, Code::f19, ""}, {Qt::Key_F20, Code::f20, ""},
    // Shifted symbols of a US layout.
    {Qt::Key_Exclam, Code::n1, "1"}, {Qt::Key_At, Code::n2, "2"}, {Qt::Key_NumberSign, Code::n3, "3"},
    {Qt::Key_Dollar, Code::n4, "4"}, {Qt::Key_Percent, Code::n5, "5"}, {Qt::Key_AsciiCircum, Code::n6, "6"},
    {Qt::Key_Ampersand, Code::n7, "7"}, {Qt::Key_Asterisk, Code::n8, "8"}, {Qt::Key_ParenLeft, Code::n9, "9"},
    {Qt::Key_ParenRight, Code::n0, "0"}, {Qt::Key_Plus, Code::equal, "="}, {Qt::Key_Underscore, Code::minus, "-"},
    {Qt::Key_BraceRight, Code::rightBracket, "]"}, {Qt::Key_BraceLeft, Code::leftBracket, "["},
    {Qt::Key_QuoteDbl, Code::quote, "'"}, {Qt::Key_Colon, Code::semicolon, ";"},
    {Qt::Key_Bar, Code::backslash, "\\"}, {Qt::Key_Less, Code::comma, ","},
    {Qt::Key_Question, Code::slash, "/"}, {Qt::Key_Greater, Code::period, "."},
    {Qt::Key_AsciiTilde, Code::grave, "`"}, {Qt::Key_Backtab, Code::tab, "\t"},
};

// Keys of the numeric keypad (reported with Qt::KeypadModifier) that have codes
// of their own; the keypad's navigation keys (Num Lock off) count as the main ones.
constexpr KeyEntry keypadTable[] = {
    {Qt::Key_0, Code::keypad0, "0"}, {Qt::Key_1, Code::keypad1, "1"}, {Qt::Key_2, Code::keypad2, "2"},
    {Qt::Key_3, Code::keypad3, "3"}, {Qt::Key_4, Code::keypad4, "4"}, {Qt::Key_5, Code::keypad5, "5"},
    {Qt::Key_6, Code::keypad6, "6"}, {Qt::Key_7, Code::keypad7, "7"}, {Qt::Key_8, Code::keypad8, "8"},
    {Qt::Key_9, Code::keypad9, "9"}, {Qt::Key_Period, Code::keypadDecimal, "."},
    {Qt::Key_Comma, Code::keypadDecimal, "."}, {Qt::Key_Asterisk, Code::keypadMultiply, "*"},
    {Qt::Key_Plus, Code::keypadPlus, "+"}, {Qt::Key_Minus, Code::keypadMinus, "-"},
    {Qt::Key_Slash, Code::keypadDivide, "/"}, {Qt::Key_Equal, Code::keypadEquals, "="},
};

const KeyEntry *entryForCode(quint16 keyCode)
{
    for (const KeyEntry &entry : keypadTable) {
        if (entry.keyCode == keyCode)
            return &entry;
    }
    for (const KeyEntry &entry : keyTable) {
        if (entry.keyCode == keyCode)
            return &entry;
    }
    return nullptr;
}

bool isKeypadCode(quint16 keyCode)
{
    for (const KeyEntry &entry : keypadTable) {
        if (entry.keyCode == keyCode)
            return true;
    }
    return false;
}

// What physicalKey() says of a key typed with AltGr.
constexpr quint32 altGrKey = 1;

// A symbol of the table that a US layout types with Shift on a digit key.
bool isShiftedDigit(const KeyEntry &entry)
{
    if (entry.qtKey >= Qt::Key_0 && entry.qtKey <= Qt::Key_9)
        return false;
    for (const quint16 digit : {Code::n1, Code::n2, Code::n3, Code::n4, Code::n5, Code::n6, Code::n7, Code::n8,
                                Code::n9, Code::n0}) {
        if (entry.keyCode == digit)
            return true;
    }
    return false;
}

// A stored code from a key's place on a US keyboard: X's key number (the evdev
// code + 8, under X11 and Wayland alike) of the digit row and the letters.
std::optional<quint16> codeAtPlace(quint32 scanCode)
{
    if (scanCode >= 10 && scanCode <= 19)
        return scanCode == 19 ? Code::n0 : std::array{Code::n1, Code::n2, Code::n3, Code::n4, Code::n5, Code::n6,
                                                      Code::n7, Code::n8, Code::n9}[scanCode - 10];
    static constexpr std::array<quint16, 10> upper{Code::q, Code::w, Code::e, Code::r, Code::t,
                                                   Code::y, Code::u, Code::i, Code::o, Code::p};
    static constexpr std::array<quint16, 9> middle{Code::a, Code::s, Code::d, Code::f, Code::g,
                                                   Code::h, Code::j, Code::k, Code::l};
    static constexpr std::array<quint16, 7> lower{Code::z, Code::x, Code::c, Code::v, Code::b, Code::n, Code::m};
    if (scanCode >= 24 && scanCode < 24 + upper.size())
        return upper[scanCode - 24];
    if (scanCode >= 38 && scanCode < 38 + middle.size())
        return middle[scanCode - 38];
    if (scanCode >= 52 && scanCode < 52 + lower.size())
        return lower[scanCode - 52];
    return std::nullopt;
}

bool isDigitCode(quint16 keyCode)
{
    const KeyEntry *entry = entryForCode(keyCode);
    return entry && entry->qtKey >= Qt::Key_0 && entry->qtKey <= Qt::Key_9 && !isKeypadCode(keyCode);
}

bool isLetterCode(quint16 keyCode)
{
    const KeyEntry *entry = entryForCode(keyCode);
    return entry && entry->qtKey >= Qt::Key_A && entry->qtKey <= Qt::Key_Z;
}

} // namespace

namespace Shortcuts {

// scanCode, when known (not 0), is the physical key pressed. Each layout types
// its own symbols, and a key is read for what it types first:
// - a symbol the table knows as itself counts as that symbol, wherever it sits:
//   "+" is Shift+1 on a Swiss layout and must zoom, not rate; "-" is on the
//   French 6 key; "=" is Shift+0 on a German one. Typed with Shift and another
//   modifier, a symbol also counts without the Shift its layout needed for it
//   (Ctrl+/ is Ctrl+Shift+7 on a German layout);
// - then the digit row's keys are their digits whatever they type: the French
//   1 key types "&" unshifted, the German Shift+2 types a quote. A symbol that a
//   US layout types with Shift on a digit is a digit only there: "@" is AltGr+Q
//   on a German layout, and taken as 2 it would run the rating bound to it;
// - a letter of another script (a Russian layout) counts as the Latin letter
//   of its key's place, so that Ctrl+Z undoes whatever the layout;
// - a keypad digit counts as the keypad's key, then as the main row's digit.
std::vector<KeyReading> readingsForKey(int qtKey, Qt::KeyboardModifiers modifiers, quint32 scanCode)
{
    std::vector<KeyReading> readings;
    // A key typed with AltGr: Qt reports the key's first level without a
    // modifier (AltGr+2 as 2), and no binding is made with AltGr.
    if (scanCode == altGrKey)
        return readings;
    const quint32 mods = modsForQtModifiers(modifiers);
    const auto add = [&readings](quint16 keyCode, quint32 m) {
        for (const KeyReading &r : readings) {
            if (r.keyCode == keyCode && r.mods == m)
                return;
        }
        readings.push_back({keyCode, m});
    };
    if (modifiers & Qt::KeypadModifier) {
        for (const KeyEntry &entry : keypadTable) {
            if (entry.qtKey != qtKey)
                continue;
            add(entry.keyCode, mods);
            if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)
                add(*keyCodeForQtKey(qtKey), mods);
            return readings;
        }
    }
    const KeyEntry *typed = nullptr;
    for (const KeyEntry &entry : keyTable) {
        if (entry.qtKey == qtKey) {
            typed = &entry;
            break;
        }
    }
    const std::optional<quint16> place = codeAtPlace(scanCode);
    const quint16 placeCode = place.value_or(Code::cleared);
    const bool onDigitRow = place.has_value() && isDigitCode(placeCode);
    if (typed && (scanCode == 0 || !isShiftedDigit(*typed))) {
        add(typed->keyCode, mods);
        const bool symbol = !isLetterCode(typed->keyCode) && !isDigitCode(typed->keyCode) && *typed->chars != 0
                            && typed->chars[0] > ' ' && typed->chars[0] < 0x7f;
        if (symbol && (mods & KeyMods::shift) && mods != KeyMods::shift)
            add(typed->keyCode, mods & ~KeyMods::shift);
    }
    if (onDigitRow || (!typed && place.has_value()))
        add(placeCode, mods);
    return readings;
}

} // namespace Shortcuts

namespace {

struct ActionInfo
{
    ShortcutAction action;
    const char *rawName;
    ShortcutGroup group;
    const char *titleKey;   // null for the star ratings, whose titles are drawn
    std::optional<KeyCombo> defaultCombo;
};

KeyCombo key(quint16 code, const char *chars, quint32 mods = 0)
{
    return KeyCombo{code, mods, QString::fromUtf8(chars)};
}

// The one table of bindable commands and their default keys. Menus, the image
// view, toolbar tooltips and the global hotkey all read from here.
const std::array<ActionInfo, shortcutActionCount> &actionTable()
{
    using A = ShortcutAction;
    using G = ShortcutGroup;
    using namespace KeyMods;
    static const std::array<ActionInfo, shortcutActionCount> table{{
        {A::toggleApp, "toggleApp", G::global, "sc.a.toggleApp", std::nullopt},
        {A::prev, "prev", G::browse, "menu.prev", key(Code::left, "")},
        {A::next, "next", G::browse, "menu.next", key(Code::right, "")},
        {A::first, "first", G::browse, "menu.first", key(Code::home, "")},
        {A::last, "last", G::browse, "menu.last", key(Code::end, "")},
        {A::zoomIn, "zoomIn", G::browse, "menu.zoomIn", key(Code::up, "")},
        {A::zoomOut, "zoomOut", G::browse, "menu.zoomOut", key(Code::down, "")},
        {A::zoomAtPointer, "zoomAtPointer", G::browse, "sc.a.zoomAtPointer", key(Code::n0, "0")},
        {A::actualSize, "actualSize", G::browse, "menu.actualSize", std::nullopt},
        {A::peek, "peek", G::browse, "sc.a.peek", key(Code::space, " ")},
        {A::fullscreen, "fullscreen", G::view, "sc.a.fullscreen", key(Code::f, "f")},
        {A::info, "info", G::view, "menu.info", key(Code::i, "i")},
        {A::filmstrip, "filmstrip", G::view, "menu.filmstrip", key(Code::t, "t")},
        {A::slideshow, "slideshow", G::view, "menu.slideshow", key(Code::s, "s")},
        {A::rotateCW, "rotateCW", G::view, "menu.rotateCW", key(Code::r, "r")},
        {A::rotateCCW, "rotateCCW", G::view, "menu.rotateCCW", key(Code::l, "l")},
        {A::rename, "rename", G::file, "menu.rename", key(Code::returnKey, "\r")},
        {A::trash, "trash", G::file, "menu.trash", key(Code::backspace, "\x7f", command)},
        {A::edit, "edit", G::file, "menu.editChoose", key(Code::e, "e", command)},
        {A::reveal, "reveal", G::file, "menu.reveal", key(Code::r, "r", command)},
        {A::exportAs, "exportAs", G::file, "menu.exportAs", key(Code::s, "s", command)},
        {A::saveRotation, "saveRotation", G::file, "menu.saveRotation", key(Code::s, "s", option | command)},
        {A::cleanup, "cleanup", G::tools, "menu.cleanup", key(Code::k, "k", shift | command)},
        {A::batchConvert, "batchConvert", G::tools, "menu.batchConvert", key(Code::c, "c", shift | command)},
        {A::batchRename, "batchRename", G::tools, "menu.batchRename", key(Code::b, "b", shift | command)},
        {A::wallpaper, "wallpaper", G::tools, "menu.wallpaper", key(Code::d, "d", shift | command)},
        {A::rate1, "rate1", G::rating, nullptr, key(Code::n1, "1")},
        {A::rate2, "rate2", G::rating, nullptr, key(Code::n2, "2")},
        {A::rate3, "rate3", G::rating, nullptr, key(Code::n3, "3")},
        {A::rate4, "rate4", G::rating, nullptr, key(Code::n4, "4")},
        {A::rate5, "rate5", G::rating, nullptr, key(Code::n5, "5")},
        {A::rate0, "rate0", G::rating, "rating.none", std::nullopt},
    }};
    return table;
}

const ActionInfo &info(ShortcutAction action)
{
    return actionTable()[static_cast<size_t>(action)];
}

// The stored form is untrusted input (hand-edited, or written by another
// version): anything larger than this cannot be a set of 32 bindings.
constexpr qsizetype maxStoredSize = 64 * 1024;

std::optional<quint64> jsonUnsigned(const QJsonValue &value, quint64 max)
{
    if (!value.isDouble())
        return std::nullopt;
    const double number = value.toDouble();
    if (!(number >= 0) || number > double(max) || std::floor(number) != number)
        return std::nullopt;
    return quint64(number);
}

} // namespace

namespace ShortcutsDetail {

std::optional<OverrideMap> decode(const QByteArray &data)
{
    if (data.size() > maxStoredSize)
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    OverrideMap map;
    const QJsonObject root = document.object();
    for (auto it = root.begin(); it != root.end(); ++it) {
        if (!it.value().isObject())
            return std::nullopt;
        const QJsonObject entry = it.value().toObject();
        const std::optional<quint64> keyCode = jsonUnsigned(entry.value("keyCode"), 0xFFFF);
        const std::optional<quint64> mods = jsonUnsigned(entry.value("mods"), 0xFFFFFFFFu);
        const QJsonValue chars = entry.value("chars");
        if (!keyCode || !mods || !chars.isString())
            return std::nullopt;
        map.insert(it.key(), KeyCombo{quint16(*keyCode), quint32(*mods) & KeyMods::mask, chars.toString()});
    }
    return map;
}

QByteArray encode(const OverrideMap &map)
{
    QJsonObject root;
    for (auto it = map.begin(); it != map.end(); ++it) {
        root.insert(it.key(), QJsonObject{{"keyCode", int(it->keyCode)},
                                          {"mods", qint64(it->mods)},
                                          {"chars", it->chars}});
    }
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

} // namespace ShortcutsDetail

namespace {

using ShortcutsDetail::OverrideMap;
using ShortcutsDetail::decode;
using ShortcutsDetail::encode;

struct OverrideStore {
    std::optional<OverrideMap> map;
    QByteArray stored;   // the bytes the map was read from or last written as
};

OverrideStore &overrideStore()
{
    static OverrideStore store;
    return store;
}

// Damaged stored data counts as no overrides and is left where it is until the
// next save replaces it.
void readStored(OverrideStore &store)
{
    store.stored = Settings::customShortcuts();
    std::optional<OverrideMap> decoded = store.stored.isEmpty() ? OverrideMap{} : decode(store.stored);
    if (!decoded) {
        qWarning("Shortcuts: ignoring damaged customShortcuts (%lld bytes)", static_cast<long long>(store.stored.size()));
        decoded = OverrideMap{};
    }
    store.map = std::move(decoded);
}

// Read once on first use.
OverrideMap &overrides()
{
    OverrideStore &store = overrideStore();
    if (!store.map)
        readStored(store);
    return *store.map;
}

// A change starts from what is stored now: another copy of the program may have
// saved a binding since this one read them, and saving a stale map would drop it.
OverrideMap &overridesForChange()
{
    readStored(overrideStore());
    return *overrideStore().map;
}

void save()
{
    OverrideStore &store = overrideStore();
    const OverrideMap &map = overrides();
    store.stored = map.isEmpty() ? QByteArray() : encode(map);
    Settings::setCustomShortcuts(store.stored);
    SettingsNotifier::instance().postShortcutsDidChange();
}

void putCombo(OverrideMap &map, const std::optional<KeyCombo> &newCombo, ShortcutAction action)
{
    const QString name = Shortcuts::rawName(action);
    const std::optional<KeyCombo> fallback = Shortcuts::defaultCombo(action);
    const bool clearing = !newCombo || newCombo->isClearedMarker();
    if (!clearing) {
        if (fallback && fallback->sameKey(*newCombo))
            map.remove(name);
        else
            map.insert(name, KeyCombo{newCombo->keyCode, newCombo->mods & KeyMods::mask, newCombo->chars});
    } else if (fallback) {
        map.insert(name, KeyCombo::clearedMarker());
    } else {
        map.remove(name);
    }
}

// Keys that keep their meaning whatever the user records: Esc, and the
// window's standard commands (quit, close, open, hide, minimise, settings,
// help, zoom, full screen, hide others).
bool isFixedKey(const KeyCombo &combo)
{
    using namespace KeyMods;
    if (combo.keyCode == Code::escape)
        return true;
    if (combo.mods == command) {
        switch (combo.keyCode) {
        case Code::q: case Code::w: case Code::o: case Code::h: case Code::m: case Code::comma:
        case Code::slash: case Code::equal: case Code::minus: case Code::n0: case Code::n1:
            return true;
        default:
            return false;
        }
    }
    if (combo.mods == (command | control))
        return combo.keyCode == Code::f;
    if (combo.mods == (command | option))
        return combo.keyCode == Code::h;
    return false;
}

// "Ctrl+Shift+" in this platform's notation, from Qt's own key names.
QString modifierPrefix(quint32 mods)
{
    const Qt::KeyboardModifiers modifiers = Shortcuts::qtModifiersForMods(mods);
    if (!modifiers)
        return {};
    const QString probeKey = QKeySequence(Qt::Key_A).toString(QKeySequence::NativeText);
    const QString full = QKeySequence(QKeyCombination(modifiers, Qt::Key_A)).toString(QKeySequence::NativeText);
    return full.endsWith(probeKey) ? full.chopped(probeKey.size()) : full;
}

QString keyName(const KeyCombo &combo)
{
    switch (combo.keyCode) {
    case Code::space: return Texts::text("key.space");
    // Arrows read the same in every language; Qt would spell them in English.
    case Code::left: return QStringLiteral("←");
    case Code::right: return QStringLiteral("→");
    case Code::down: return QStringLiteral("↓");
    case Code::up: return QStringLiteral("↑");
    default: break;
    }
    const int qtKey = Shortcuts::qtKeyForKeyCode(combo.keyCode);
    if (qtKey == 0)
        return combo.chars.toUpper();
    const Qt::KeyboardModifiers keypad = isKeypadCode(combo.keyCode) ? Qt::KeypadModifier : Qt::NoModifier;
    return QKeySequence(QKeyCombination(keypad, Qt::Key(qtKey))).toString(QKeySequence::NativeText);
}

} // namespace

namespace Shortcuts {

const std::array<ShortcutAction, shortcutActionCount> &allActions()
{
    static const std::array<ShortcutAction, shortcutActionCount> actions = [] {
        std::array<ShortcutAction, shortcutActionCount> list{};
        for (int index = 0; index < shortcutActionCount; ++index)
            list[size_t(index)] = static_cast<ShortcutAction>(index);
        return list;
    }();
    return actions;
}

ShortcutGroup group(ShortcutAction action)
{
    return info(action).group;
}

QList<ShortcutAction> actionsInGroup(ShortcutGroup group)
{
    QList<ShortcutAction> actions;
    for (const ActionInfo &entry : actionTable()) {
        if (entry.group == group)
            actions.append(entry.action);
    }
    return actions;
}

QString rawName(ShortcutAction action)
{
    return QString::fromLatin1(info(action).rawName);
}

std::optional<ShortcutAction> actionFromRawName(const QString &name)
{
    for (const ActionInfo &entry : actionTable()) {
        if (name == QLatin1String(entry.rawName))
            return entry.action;
    }
    return std::nullopt;
}

QString title(ShortcutAction action)
{
    switch (action) {
    case ShortcutAction::rate1:
    case ShortcutAction::rate2:
    case ShortcutAction::rate3:
    case ShortcutAction::rate4:
    case ShortcutAction::rate5: {
        const int stars = int(action) - int(ShortcutAction::rate1) + 1;
        return QString(stars, QChar(0x2605)) + QString(5 - stars, QChar(0x2606));
    }
    case ShortcutAction::rename:
    case ShortcutAction::edit:
    case ShortcutAction::exportAs:
    case ShortcutAction::batchConvert:
    case ShortcutAction::batchRename: {
        // The menu's "…" promises a dialog; the shortcut list names the command.
        QString text = Texts::text(info(action).titleKey);
        text.remove(QChar(0x2026));
        text.remove(QStringLiteral("..."));
        return text.trimmed();
    }
    default:
        return Texts::text(info(action).titleKey);
    }
}

QString title(ShortcutGroup group)
{
    switch (group) {
    case ShortcutGroup::global: return Texts::text("sc.group.global");
    case ShortcutGroup::browse: return Texts::text("sc.group.browse");
    case ShortcutGroup::rating: return Texts::text("sc.group.rating");
    case ShortcutGroup::view: return Texts::text("sc.group.view");
    case ShortcutGroup::file: return Texts::text("sc.group.file");
    case ShortcutGroup::tools: return Texts::text("sc.group.tools");
    }
    return {};
}

std::optional<KeyCombo> defaultCombo(ShortcutAction action)
{
    return info(action).defaultCombo;
}

std::optional<KeyCombo> combo(ShortcutAction action)
{
    const OverrideMap &map = overrides();
    const auto it = map.constFind(rawName(action));
    if (it == map.constEnd())
        return defaultCombo(action);
    if (it->isClearedMarker())
        return std::nullopt;
    return *it;
}

bool isCustomized(ShortcutAction action)
{
    return overrides().contains(rawName(action));
}

void setCombo(const std::optional<KeyCombo> &newCombo, ShortcutAction action)
{
    putCombo(overridesForChange(), newCombo, action);
    save();
}

void resetAll()
{
    overridesForChange().clear();
    save();
}

ShortcutAssignResult assign(const std::optional<KeyCombo> &newCombo, ShortcutAction action)
{
    ShortcutAssignResult result;
    if (!newCombo || newCombo->isClearedMarker()) {
        setCombo(std::nullopt, action);
        result.accepted = true;
        return result;
    }
    // A single key as a system-wide hotkey would swallow that key in every
    // other application.
    if (action == ShortcutAction::toggleApp && !newCombo->hasNonShiftModifier()) {
        result.status = Texts::text("sc.needsModifier");
        return result;
    }
    if (isFixedKey(*newCombo)) {
        result.status = Texts::format("sc.reserved", {displayString(*newCombo)});
        return result;
    }
    OverrideMap &map = overridesForChange();
    for (ShortcutAction other : allActions()) {
        if (other == action)
            continue;
        const std::optional<KeyCombo> owned = combo(other);
        if (owned && owned->sameKey(*newCombo)) {
            // Written together with the new binding below, so that listeners see
            // one change and never a moment where the key belongs to nobody.
            if (defaultCombo(other))
                map.insert(rawName(other), KeyCombo::clearedMarker());
            else
                map.remove(rawName(other));
            result.clearedOwner = other;
            break;
        }
    }
    putCombo(map, newCombo, action);
    save();
    result.accepted = true;
    if (result.clearedOwner)
        result.status = Texts::format("sc.moved", {displayString(*newCombo), title(*result.clearedOwner)});
    return result;
}

std::optional<ShortcutAction> actionFor(quint16 keyCode, quint32 mods)
{
    const quint32 masked = mods & KeyMods::mask;
    for (ShortcutAction action : allActions()) {
        const std::optional<KeyCombo> bound = combo(action);
        if (bound && bound->keyCode == keyCode && bound->mods == masked)
            return action;
    }
    // Shift with a plain-key binding still triggers it (Shift+Right steps on),
    // but Shift never strips other modifiers: Shift+Ctrl+K is not K.
    if (masked == KeyMods::shift) {
        for (ShortcutAction action : allActions()) {
            const std::optional<KeyCombo> bound = combo(action);
            if (bound && bound->keyCode == keyCode && bound->mods == 0)
                return action;
        }
    }
    return std::nullopt;
}

std::optional<ShortcutAction> actionForKey(int qtKey, Qt::KeyboardModifiers modifiers, quint32 scanCode)
{
    for (const KeyReading &reading : readingsForKey(qtKey, modifiers, scanCode)) {
        if (std::optional<ShortcutAction> action = actionFor(reading.keyCode, reading.mods))
            return action;
    }
    return std::nullopt;
}

std::optional<ShortcutAction> actionForEvent(const QKeyEvent *event)
{
    if (!event || event->type() != QEvent::KeyPress)
        return std::nullopt;
    return actionForKey(event->key(), event->modifiers(), physicalKey(*event));
}

std::optional<quint16> keyCodeForQtKey(int qtKey, Qt::KeyboardModifiers modifiers, quint32 scanCode)
{
    const std::vector<KeyReading> readings = readingsForKey(qtKey, modifiers, scanCode);
    if (readings.empty())
        return std::nullopt;
    return readings.front().keyCode;
}

quint32 modsForQtModifiers(Qt::KeyboardModifiers modifiers)
{
    quint32 mods = 0;
    if (modifiers & Qt::ShiftModifier)
        mods |= KeyMods::shift;
    if (modifiers & Qt::MetaModifier)
        mods |= KeyMods::control;
    if (modifiers & Qt::AltModifier)
        mods |= KeyMods::option;
    if (modifiers & Qt::ControlModifier)
        mods |= KeyMods::command;
    return mods;
}

Qt::KeyboardModifiers qtModifiersForMods(quint32 mods)
{
    Qt::KeyboardModifiers modifiers;
    if (mods & KeyMods::shift)
        modifiers |= Qt::ShiftModifier;
    if (mods & KeyMods::control)
        modifiers |= Qt::MetaModifier;
    if (mods & KeyMods::option)
        modifiers |= Qt::AltModifier;
    if (mods & KeyMods::command)
        modifiers |= Qt::ControlModifier;
    return modifiers;
}

int qtKeyForKeyCode(quint16 keyCode)
{
    const KeyEntry *entry = entryForCode(keyCode);
    return entry ? entry->qtKey : 0;
}

std::optional<KeyCombo> comboForKey(int qtKey, Qt::KeyboardModifiers modifiers, quint32 scanCode)
{
    // Recorded as it is read first; a symbol its layout types with Shift is
    // recorded without that Shift when another modifier is held too, so that
    // the German Ctrl+Shift+0 is Ctrl+= (a fixed key) and not a new binding.
    const std::vector<KeyReading> readings = readingsForKey(qtKey, modifiers, scanCode);
    if (readings.empty())
        return std::nullopt;
    KeyReading chosen = readings.front();
    if (readings.size() > 1 && readings[1].keyCode == chosen.keyCode)
        chosen = readings[1];
    const KeyEntry *entry = entryForCode(chosen.keyCode);
    return KeyCombo{chosen.keyCode, chosen.mods, QString::fromLatin1(entry ? entry->chars : "")};
}

quint32 physicalKey(const QKeyEvent &event)
{
    // AltGr is the third level, Mod5 in the X and xkb modifier masks alike.
    constexpr quint32 mod5 = 0x80;
    if (event.nativeScanCode() != 0 && (event.nativeModifiers() & mod5) != 0)
        return altGrKey;
    return event.nativeScanCode();
}

std::optional<KeyCombo> comboForEvent(const QKeyEvent *event)
{
    if (!event || event->type() != QEvent::KeyPress)
        return std::nullopt;
    return comboForKey(event->key(), event->modifiers(), physicalKey(*event));
}

QString displayString(const KeyCombo &combo)
{
    return modifierPrefix(combo.mods) + keyName(combo);
}

QKeySequence keyEquivalent(const KeyCombo &combo)
{
    Qt::KeyboardModifiers modifiers = qtModifiersForMods(combo.mods);
    int qtKey = qtKeyForKeyCode(combo.keyCode);
    if (qtKey != 0 && isKeypadCode(combo.keyCode))
        modifiers |= Qt::KeypadModifier;
    // A key we have no name for still works in a menu when it types a
    // printable character; Qt's key numbers for those are the upper-case
    // code points.
    if (qtKey == 0 && combo.chars.size() == 1) {
        const QChar ch = combo.chars.at(0).toUpper();
        if (ch.isPrint())
            qtKey = ch.unicode();
    }
    if (qtKey == 0 || combo.isClearedMarker())
        return {};
    return QKeySequence(QKeyCombination(modifiers, Qt::Key(qtKey)));
}

bool followStored()
{
    OverrideStore &store = overrideStore();
    if (store.map && Settings::customShortcuts() == store.stored)
        return false;
    readStored(store);
    SettingsNotifier::instance().postShortcutsDidChange();
    return true;
}

} // namespace Shortcuts
