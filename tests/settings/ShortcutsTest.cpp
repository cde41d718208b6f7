#include "settings/Settings.h"
#include "settings/Shortcuts.h"
#include "settings/Texts.h"

#include <QFile>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QRegularExpression>
#include <QSettings>

#include <gtest/gtest.h>

#include <set>

using A = ShortcutAction;

namespace {

constexpr quint32 shift = KeyMods::shift;
constexpr quint32 control = KeyMods::control;
constexpr quint32 option = KeyMods::option;
constexpr quint32 command = KeyMods::command;

QVariant rawStored()
{
    QSettings raw(QSettings::NativeFormat, QSettings::UserScope, "Glanto", "Glanto");
    return raw.value("customShortcuts");
}

QJsonObject storedOverrides()
{
    return QJsonDocument::fromJson(Settings::customShortcuts()).object();
}

// Counts GlantoShortcutsDidChange while alive.
class ChangeCounter
{
public:
    ChangeCounter()
        : connection(QObject::connect(&SettingsNotifier::instance(), &SettingsNotifier::shortcutsDidChange,
                                      [this] { ++count; }))
    {}
    ~ChangeCounter() { QObject::disconnect(connection); }
    int count = 0;

private:
    QMetaObject::Connection connection;
};

class ShortcutsTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        // QKeyEvent wants a keyboard device, which needs the GUI application.
        if (!QCoreApplication::instance()) {
            static int argc = 1;
            static char name[] = "glanto_shortcuts_test";
            static char *argv[] = {name, nullptr};
            new QGuiApplication(argc, argv);
        }
        Texts::setLanguage("zh");
    }

    void SetUp() override
    {
        ASSERT_FALSE(qEnvironmentVariable("XDG_CONFIG_HOME").isEmpty()) << "tests must not touch the real config";
        Settings::setCustomShortcuts({});
        Shortcuts::followStored();
    }

    // A hand-edited or foreign store, read as on the next launch.
    static void storeAndReload(const QByteArray &data)
    {
        Settings::setCustomShortcuts(data);
        Shortcuts::followStored();
    }

    static std::optional<ShortcutAction> press(int key, Qt::KeyboardModifiers modifiers = {}, const QString &text = {})
    {
        QKeyEvent event(QEvent::KeyPress, key, modifiers, text);
        return Shortcuts::actionForEvent(&event);
    }
};

// The raw names are what the stored overrides are keyed by; every action sits in
// exactly one group of the list.
TEST_F(ShortcutsTest, EveryActionHasItsOwnStoredNameAndOneGroup)
{
    std::set<QString> names;
    for (ShortcutAction action : Shortcuts::allActions()) {
        const QString name = Shortcuts::rawName(action);
        EXPECT_TRUE(names.insert(name).second) << name.toStdString();
        EXPECT_EQ(Shortcuts::actionFromRawName(name), action);
    }
    EXPECT_FALSE(Shortcuts::actionFromRawName("Next").has_value());

    qsizetype grouped = 0;
    for (ShortcutGroup group : allShortcutGroups) {
        const QList<ShortcutAction> members = Shortcuts::actionsInGroup(group);
        EXPECT_TRUE(std::is_sorted(members.begin(), members.end()));
        for (ShortcutAction action : members)
            EXPECT_EQ(Shortcuts::group(action), group);
        grouped += members.size();
    }
    EXPECT_EQ(size_t(grouped), Shortcuts::allActions().size());
}

TEST_F(ShortcutsTest, DefaultsAreDistinctAndSurviveTheTripThroughQtKeys)
{
    for (ShortcutAction unbound : {A::toggleApp, A::actualSize, A::rate0})
        EXPECT_FALSE(Shortcuts::defaultCombo(unbound).has_value());

    std::set<std::pair<int, quint32>> keys;
    for (ShortcutAction action : Shortcuts::allActions()) {
        const std::optional<KeyCombo> combo = Shortcuts::defaultCombo(action);
        EXPECT_EQ(Shortcuts::combo(action), combo);
        EXPECT_FALSE(Shortcuts::isCustomized(action));
        if (!combo)
            continue;
        SCOPED_TRACE(Shortcuts::rawName(action).toStdString());
        EXPECT_TRUE(keys.insert({combo->keyCode, combo->mods}).second) << "two defaults share a key";
        // Pressing the key as Qt reports it records exactly the default, chars included.
        const int qtKey = Shortcuts::qtKeyForKeyCode(combo->keyCode);
        ASSERT_NE(qtKey, 0);
        EXPECT_EQ(Shortcuts::comboForKey(qtKey, Shortcuts::qtModifiersForMods(combo->mods)), combo);
        EXPECT_EQ(Shortcuts::actionForKey(qtKey, Shortcuts::qtModifiersForMods(combo->mods)), action);
    }
}

TEST_F(ShortcutsTest, ModifiersFollowQtsCrossPlatformConvention)
{
    EXPECT_EQ(Shortcuts::modsForQtModifiers(Qt::ControlModifier), command);
    EXPECT_EQ(Shortcuts::modsForQtModifiers(Qt::AltModifier), option);
    EXPECT_EQ(Shortcuts::modsForQtModifiers(Qt::MetaModifier), control);
    EXPECT_EQ(Shortcuts::modsForQtModifiers(Qt::ShiftModifier | Qt::KeypadModifier | Qt::GroupSwitchModifier), shift);
    for (quint32 mods = 0; mods <= KeyMods::mask; mods += shift)
        EXPECT_EQ(Shortcuts::modsForQtModifiers(Shortcuts::qtModifiersForMods(mods)), mods);
}

TEST_F(ShortcutsTest, ShiftFallsBackToPlainKeysButNeverStripsOtherModifiers)
{
    EXPECT_EQ(press(Qt::Key_Right), A::next);
    EXPECT_EQ(press(Qt::Key_Right, Qt::ShiftModifier), A::next);
    EXPECT_FALSE(press(Qt::Key_Right, Qt::ControlModifier).has_value());
    EXPECT_FALSE(press(Qt::Key_Right, Qt::ShiftModifier | Qt::AltModifier).has_value());
    // Qt reports Shift+1 as "!" on a US layout; it is still the 1 key.
    EXPECT_EQ(press(Qt::Key_Exclam, Qt::ShiftModifier, "!"), A::rate1);

    EXPECT_EQ(press(Qt::Key_K, Qt::ShiftModifier | Qt::ControlModifier), A::cleanup);
    // With plain K bound and the cleanup key cleared, Shift+Ctrl+K must not
    // fall through to K.
    Shortcuts::setCombo(KeyCombo{40, 0, "k"}, A::filmstrip);
    Shortcuts::setCombo(std::nullopt, A::cleanup);
    EXPECT_FALSE(press(Qt::Key_K, Qt::ShiftModifier | Qt::ControlModifier).has_value());
    EXPECT_EQ(press(Qt::Key_K), A::filmstrip);
    EXPECT_EQ(press(Qt::Key_K, Qt::ShiftModifier, "K"), A::filmstrip);
}

TEST_F(ShortcutsTest, OnlyKeyPressesMatchAndTypedTextPlaysNoPart)
{
    // Caps Lock changes the text, not the key.
    EXPECT_EQ(press(Qt::Key_F, Qt::NoModifier, "F"), A::fullscreen);
    EXPECT_EQ(press(Qt::Key_F, Qt::NoModifier, "f"), A::fullscreen);
    // Keypad arrows with Num Lock off are the arrows.
    EXPECT_EQ(press(Qt::Key_Left, Qt::KeypadModifier), A::prev);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_Right, Qt::NoModifier);
    EXPECT_FALSE(Shortcuts::actionForEvent(&release).has_value());
    EXPECT_FALSE(Shortcuts::actionForEvent(nullptr).has_value());
    EXPECT_FALSE(press(Qt::Key_Shift, Qt::ShiftModifier).has_value());
    EXPECT_FALSE(press(Qt::Key_unknown).has_value());
    EXPECT_FALSE(Shortcuts::comboForKey(Qt::Key_Control, Qt::ControlModifier).has_value());
}

// The digit row's keys are their digits whatever the layout types there, and
// a symbol typed elsewhere is no digit: "@" from AltGr+Q (German) is not 2,
// "&" on the French 1 key is 1 and "(" on its 5 key is 5.
TEST_F(ShortcutsTest, KeysAreReadForTheirSymbolThenTheirPlace)
{
    constexpr quint32 keyQ = 24, key1 = 10, key2 = 11, key5 = 14;
    const auto at = [](Qt::KeyboardModifiers modifiers, quint32 scanCode) {
        QKeyEvent event(QEvent::KeyPress, Qt::Key_At, modifiers, scanCode, 0, 0, "@");
        return Shortcuts::actionForEvent(&event);
    };
    EXPECT_EQ(at(Qt::ShiftModifier, key2), A::rate2);
    EXPECT_FALSE(at(Qt::NoModifier, keyQ).has_value());
    EXPECT_FALSE(Shortcuts::comboForKey(Qt::Key_At, Qt::NoModifier, keyQ).has_value());
    EXPECT_EQ(Shortcuts::comboForKey(Qt::Key_Ampersand, Qt::NoModifier, key1)->keyCode,
              Shortcuts::keyCodeForQtKey(Qt::Key_1));
    EXPECT_EQ(Shortcuts::keyCodeForQtKey(Qt::Key_ParenLeft, Qt::NoModifier, key5), Shortcuts::keyCodeForQtKey(Qt::Key_5));
    // German Shift+2 types a double quote: read as that first, then as 2.
    QKeyEvent quote(QEvent::KeyPress, Qt::Key_QuoteDbl, Qt::ShiftModifier, key2, 0, 0, "\"");
    EXPECT_EQ(Shortcuts::actionForEvent(&quote), A::rate2);
    // Without a physical key (a synthetic event) the table stands as it is.
    EXPECT_EQ(Shortcuts::comboForKey(Qt::Key_At, Qt::ShiftModifier)->keyCode, Shortcuts::keyCodeForQtKey(Qt::Key_2));
    // A key typed with AltGr is none of the bindings: German AltGr+2 is a
    // superscript two, which Qt reports as a plain 2.
    QKeyEvent altGr(QEvent::KeyPress, Qt::Key_2, Qt::NoModifier, key2, 0x32, 0x80, QString::fromUtf8("²"));
    EXPECT_FALSE(Shortcuts::actionForEvent(&altGr).has_value());
    QKeyEvent altGrAt(QEvent::KeyPress, Qt::Key_At, Qt::NoModifier, keyQ, 0, 0x80, "@");
    EXPECT_FALSE(Shortcuts::actionForEvent(&altGrAt).has_value());
    // Keys that are no symbol of the digit row are taken as before.
    EXPECT_TRUE(Shortcuts::comboForKey(Qt::Key_Q, Qt::NoModifier, keyQ).has_value());

    // Recorded as read first: the French 6 key's "-" is "-", a Cyrillic letter
    // its key's Latin letter, and the German Ctrl+Shift+0 is Ctrl+= (a fixed
    // zoom key, which the settings window then refuses to give away).
    constexpr quint32 key6 = 15, key0 = 19, keyZ = 52;
    EXPECT_EQ(Shortcuts::comboForKey(Qt::Key_Minus, Qt::NoModifier, key6)->keyCode, Shortcuts::keyCodeForQtKey(Qt::Key_Minus));
    const std::optional<KeyCombo> ya = Shortcuts::comboForKey(0x42F, Qt::NoModifier, keyZ);
    ASSERT_TRUE(ya);
    EXPECT_EQ(ya->keyCode, Shortcuts::keyCodeForQtKey(Qt::Key_Z));
    EXPECT_EQ(ya->chars, "z");
    const std::optional<KeyCombo> zoom = Shortcuts::comboForKey(Qt::Key_Equal, Qt::ControlModifier | Qt::ShiftModifier, key0);
    ASSERT_TRUE(zoom);
    EXPECT_EQ(zoom->keyCode, Shortcuts::keyCodeForQtKey(Qt::Key_Equal));
    EXPECT_EQ(zoom->mods, KeyMods::command);
    // A letter of another script on a key with no Latin letter (Russian Kha, on
    // the US "[") is no binding.
    EXPECT_FALSE(Shortcuts::comboForKey(0x425, Qt::NoModifier, 34).has_value());
}

TEST_F(ShortcutsTest, SettingTheDefaultAgainRemovesTheOverride)
{
    Shortcuts::setCombo(KeyCombo{45, 0, "n"}, A::next);
    EXPECT_TRUE(Shortcuts::isCustomized(A::next));
    EXPECT_EQ(press(Qt::Key_N), A::next);
    EXPECT_FALSE(press(Qt::Key_Right).has_value());

    // Same key and modifiers, whatever the recorded characters.
    Shortcuts::setCombo(KeyCombo{124, 0, "x"}, A::next);
    EXPECT_FALSE(Shortcuts::isCustomized(A::next));
    EXPECT_EQ(Shortcuts::combo(A::next), Shortcuts::defaultCombo(A::next));
    EXPECT_FALSE(rawStored().isValid());
}

TEST_F(ShortcutsTest, ClearingADefaultStoresTheClearedMarker)
{
    Shortcuts::setCombo(std::nullopt, A::rotateCW);
    EXPECT_FALSE(Shortcuts::combo(A::rotateCW).has_value());
    EXPECT_TRUE(Shortcuts::isCustomized(A::rotateCW));
    EXPECT_FALSE(press(Qt::Key_R).has_value());
    const QJsonObject marker = storedOverrides().value("rotateCW").toObject();
    EXPECT_EQ(marker.value("keyCode").toInt(), 65535);
    EXPECT_EQ(marker.value("mods").toInt(-1), 0);
    EXPECT_EQ(marker.value("chars").toString("absent"), "");

    // The marker survives the next launch.
    Shortcuts::followStored();
    EXPECT_FALSE(Shortcuts::combo(A::rotateCW).has_value());

    // An action without a default just loses its entry.
    Shortcuts::setCombo(KeyCombo{5, control | option, "g"}, A::toggleApp);
    EXPECT_EQ(Shortcuts::combo(A::toggleApp), (KeyCombo{5, control | option, "g"}));
    Shortcuts::setCombo(std::nullopt, A::toggleApp);
    EXPECT_FALSE(Shortcuts::isCustomized(A::toggleApp));
    EXPECT_FALSE(storedOverrides().contains("toggleApp"));
}

TEST_F(ShortcutsTest, OverridesPersistAsJsonAndEveryChangeIsAnnounced)
{
    ChangeCounter changes;
    Shortcuts::setCombo(KeyCombo{5, control | option, "g"}, A::toggleApp);
    Shortcuts::setCombo(KeyCombo{45, shift, "n"}, A::info);
    EXPECT_EQ(changes.count, 2);
    const QJsonObject stored = storedOverrides();
    EXPECT_EQ(stored.keys(), (QStringList{"info", "toggleApp"}));
    EXPECT_EQ(stored.value("toggleApp").toObject(),
              (QJsonObject{{"keyCode", 5}, {"mods", int(control | option)}, {"chars", "g"}}));

    Shortcuts::followStored();
    EXPECT_EQ(Shortcuts::combo(A::toggleApp), (KeyCombo{5, control | option, "g"}));
    EXPECT_EQ(Shortcuts::combo(A::info), (KeyCombo{45, shift, "n"}));
}

// Two copies of the program share one settings file: a binding saved by one
// survives the other's next change, and the other takes it when it looks again.
TEST_F(ShortcutsTest, AnotherCopysSavedBindingIsKeptAndFollowed)
{
    EXPECT_FALSE(Shortcuts::isCustomized(A::first));   // read before the other copy saved
    Settings::setCustomShortcuts(R"({"first": {"keyCode": 38, "mods": 0, "chars": "j"}})");
    Shortcuts::setCombo(KeyCombo{40, 0, "k"}, A::last);
    EXPECT_EQ(storedOverrides().keys(), (QStringList{"first", "last"}));
    EXPECT_EQ(press(Qt::Key_J), A::first);

    Settings::setCustomShortcuts(R"({"first": {"keyCode": 38, "mods": 0, "chars": "j"}})");
    EXPECT_EQ(Shortcuts::assign(KeyCombo{45, 0, "n"}, A::info).accepted, true);
    EXPECT_EQ(storedOverrides().keys(), (QStringList{"first", "info"}));

    ChangeCounter changes;
    EXPECT_FALSE(Shortcuts::followStored());
    Settings::setCustomShortcuts(R"({"prev": {"keyCode": 38, "mods": 0, "chars": "j"}})");
    EXPECT_TRUE(Shortcuts::followStored());
    EXPECT_EQ(changes.count, 1);
    EXPECT_EQ(press(Qt::Key_J), A::prev);
    EXPECT_FALSE(Shortcuts::isCustomized(A::info));
    EXPECT_FALSE(Shortcuts::followStored());
    EXPECT_EQ(changes.count, 1);
}

TEST_F(ShortcutsTest, ResetAllOnAnEmptyStoreStillRemovesTheKeyAndAnnounces)
{
    storeAndReload("{broken");
    ChangeCounter changes;
    Shortcuts::resetAll();
    EXPECT_EQ(changes.count, 1);
    EXPECT_FALSE(rawStored().isValid());
}

TEST_F(ShortcutsTest, DamagedStoredValueIsIgnoredNotRemoved)
{
    const QByteArray damaged[] = {
        "not json at all",
        "[1, 2, 3]",
        R"({"next": {"keyCode": "45", "mods": 0, "chars": "n"}})",
        R"({"next": {"keyCode": 70000, "mods": 0, "chars": "n"}})",
        R"({"next": {"keyCode": 45, "mods": -1, "chars": "n"}})",
        R"({"next": {"keyCode": 45.5, "mods": 0, "chars": "n"}})",
        R"({"next": {"keyCode": 45, "mods": 0}})",
        R"({"next": 45})",
        // Valid JSON, but far larger than any real set of bindings.
        "{\"next\":{\"keyCode\":45,\"mods\":0,\"chars\":\"" + QByteArray(100000, 'n') + "\"}}",
    };
    for (const QByteArray &data : damaged) {
        SCOPED_TRACE(data.left(80).toStdString());
        storeAndReload(data);
        EXPECT_FALSE(Shortcuts::isCustomized(A::next));
        EXPECT_EQ(press(Qt::Key_Right), A::next);
        EXPECT_EQ(Settings::customShortcuts(), data);
    }
    // The next real change replaces it.
    Shortcuts::setCombo(KeyCombo{45, 0, "n"}, A::next);
    EXPECT_EQ(storedOverrides().keys(), QStringList{"next"});
}

TEST_F(ShortcutsTest, EntriesForUnknownActionsAreKeptAcrossSaves)
{
    storeAndReload(R"({"makeCoffee": {"keyCode": 8, "mods": 1048576, "chars": "c"},)"
                   R"( "prev": {"keyCode": 45, "mods": 0, "chars": "n"}})");
    EXPECT_EQ(press(Qt::Key_N), A::prev);
    Shortcuts::setCombo(std::nullopt, A::info);
    const QJsonObject stored = storedOverrides();
    EXPECT_EQ(stored.keys(), (QStringList{"info", "makeCoffee", "prev"}));
    EXPECT_EQ(stored.value("makeCoffee").toObject().value("keyCode").toInt(), 8);
}

TEST_F(ShortcutsTest, HandEditedDuplicateGoesToTheEarlierAction)
{
    storeAndReload(R"({"filmstrip": {"keyCode": 15, "mods": 0, "chars": "r"}})");
    // rotateCW keeps its default R, but filmstrip is declared before it.
    EXPECT_EQ(press(Qt::Key_R), A::filmstrip);
}

TEST_F(ShortcutsTest, FixedKeysAreRefusedForEveryAction)
{
    ChangeCounter changes;
    for (ShortcutAction action : {A::next, A::rename, A::toggleApp}) {
        const ShortcutAssignResult closeWindow = Shortcuts::assign(KeyCombo{13, command, "w"}, action);
        EXPECT_FALSE(closeWindow.accepted);
        EXPECT_EQ(closeWindow.status, "Ctrl+W 是固定按键，不能改给别的操作");
        EXPECT_FALSE(Shortcuts::isCustomized(action));
    }
    const KeyCombo refused[] = {{53, 0, "\x1b"},         {53, shift | option, "\x1b"}, {12, command, "q"},
                                {43, command, ","},      {18, command, "1"},           {3, command | control, "f"},
                                {4, command | option, "h"}};
    for (const KeyCombo &combo : refused)
        EXPECT_FALSE(Shortcuts::assign(combo, A::info).accepted) << Shortcuts::displayString(combo).toStdString();
    EXPECT_EQ(changes.count, 0);
    EXPECT_FALSE(rawStored().isValid());

    const ShortcutAssignResult accepted = Shortcuts::assign(KeyCombo{13, option | command, "w"}, A::info);
    EXPECT_TRUE(accepted.accepted);
    EXPECT_TRUE(accepted.status.isEmpty());
    EXPECT_EQ(press(Qt::Key_W, Qt::AltModifier | Qt::ControlModifier), A::info);
    EXPECT_TRUE(Shortcuts::assign(KeyCombo{18, shift | command, "1"}, A::actualSize).accepted);
}

TEST_F(ShortcutsTest, GlobalHotkeyNeedsAModifierOtherThanShift)
{
    const ShortcutAssignResult shiftOnly = Shortcuts::assign(KeyCombo{3, shift, "f"}, A::toggleApp);
    EXPECT_FALSE(shiftOnly.accepted);
    EXPECT_EQ(shiftOnly.status, Texts::text("sc.needsModifier"));
    EXPECT_FALSE(Shortcuts::assign(KeyCombo{3, 0, "f"}, A::toggleApp).accepted);
    EXPECT_FALSE(Shortcuts::combo(A::toggleApp).has_value());

    EXPECT_TRUE(Shortcuts::assign(KeyCombo{3, control | option, "f"}, A::toggleApp).accepted);
    EXPECT_EQ(Shortcuts::combo(A::toggleApp), (KeyCombo{3, control | option, "f"}));
    // The rule is the hotkey's alone.
    EXPECT_TRUE(Shortcuts::assign(KeyCombo{3, shift, "f"}, A::info).accepted);
}

TEST_F(ShortcutsTest, TakingAKeyClearsItsOwnerAndResetRestoresBoth)
{
    ChangeCounter changes;
    const ShortcutAssignResult result = Shortcuts::assign(KeyCombo{15, 0, "r"}, A::rename);
    EXPECT_TRUE(result.accepted);
    EXPECT_EQ(result.clearedOwner, A::rotateCW);
    EXPECT_EQ(changes.count, 1);   // one change, never a moment with R unbound
    EXPECT_FALSE(Shortcuts::combo(A::rotateCW).has_value());
    EXPECT_TRUE(Shortcuts::isCustomized(A::rotateCW));
    EXPECT_EQ(press(Qt::Key_R), A::rename);
    EXPECT_FALSE(press(Qt::Key_Return).has_value());
    EXPECT_EQ(result.status, "R 原来用于「向右旋转 90°」，那一项已清空");

    Shortcuts::resetAll();
    EXPECT_EQ(press(Qt::Key_R), A::rotateCW);
    EXPECT_EQ(press(Qt::Key_Return), A::rename);
    EXPECT_FALSE(rawStored().isValid());
}

TEST_F(ShortcutsTest, ConflictClearsOnlyTheFirstOwner)
{
    storeAndReload(R"({"next": {"keyCode": 45, "mods": 0, "chars": "n"},)"
                   R"( "filmstrip": {"keyCode": 45, "mods": 0, "chars": "n"}})");
    const ShortcutAssignResult result = Shortcuts::assign(KeyCombo{45, 0, "n"}, A::info);
    EXPECT_EQ(result.clearedOwner, A::next);
    EXPECT_FALSE(Shortcuts::combo(A::next).has_value());
    EXPECT_EQ(Shortcuts::combo(A::filmstrip), (KeyCombo{45, 0, "n"}));
    EXPECT_EQ(press(Qt::Key_N), A::info);   // info is declared before filmstrip

    // An owner without a default loses its entry rather than getting a marker.
    Shortcuts::setCombo(KeyCombo{5, control | option, "g"}, A::toggleApp);
    EXPECT_EQ(Shortcuts::assign(KeyCombo{5, control | option, "g"}, A::actualSize).clearedOwner, A::toggleApp);
    EXPECT_FALSE(Shortcuts::isCustomized(A::toggleApp));
    EXPECT_EQ(press(Qt::Key_G, Qt::MetaModifier | Qt::AltModifier), A::actualSize);

    // Recording an action's own key again is no conflict.
    const ShortcutAssignResult same = Shortcuts::assign(KeyCombo{17, 0, "t"}, A::filmstrip);
    EXPECT_FALSE(same.clearedOwner.has_value());
    EXPECT_TRUE(same.status.isEmpty());
}

TEST_F(ShortcutsTest, DisplayAndMenuTextUseThisPlatformsNotation)
{
    EXPECT_EQ(Shortcuts::displayString(*Shortcuts::defaultCombo(A::cleanup)), "Ctrl+Shift+K");
    EXPECT_EQ(Shortcuts::displayString(*Shortcuts::defaultCombo(A::trash)), "Ctrl+Backspace");
    EXPECT_EQ(Shortcuts::displayString(*Shortcuts::defaultCombo(A::next)), "→");
    EXPECT_EQ(Shortcuts::displayString(KeyCombo{122, shift, ""}), "Shift+F1");
    EXPECT_EQ(Shortcuts::displayString(KeyCombo{3, control | option, "f"}), "Meta+Alt+F");
    // A key we have no name for shows what it types.
    EXPECT_EQ(Shortcuts::displayString(KeyCombo{10, command, "§"}), "Ctrl+§");

    EXPECT_EQ(Shortcuts::keyEquivalent(*Shortcuts::defaultCombo(A::cleanup)),
              QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_K));
    EXPECT_EQ(Shortcuts::keyEquivalent(KeyCombo{126, option, ""}), QKeySequence(Qt::ALT | Qt::Key_Up));
    EXPECT_EQ(Shortcuts::keyEquivalent(KeyCombo{83, command, "1"}), QKeySequence(QKeyCombination(Qt::ControlModifier | Qt::KeypadModifier, Qt::Key_1)));
    EXPECT_TRUE(Shortcuts::keyEquivalent(KeyCombo::clearedMarker()).isEmpty());
}

// Every title key of the table exists (none comes back as its own key), the list's
// titles carry no "…" of a menu item, and no two groups share a title.
TEST_F(ShortcutsTest, TitlesOfTheList)
{
    EXPECT_EQ(Shortcuts::title(A::rate3), "★★★☆☆");
    EXPECT_EQ(Shortcuts::title(A::rate0), Texts::text("rating.none"));
    const QRegularExpression unresolved("^[a-z]+(\\.[A-Za-z0-9]+)+$");
    for (ShortcutAction action : Shortcuts::allActions()) {
        const QString title = Shortcuts::title(action);
        EXPECT_FALSE(title.isEmpty());
        EXPECT_FALSE(unresolved.match(title).hasMatch()) << title.toStdString();
        EXPECT_FALSE(title.contains(QChar(0x2026)) || title.contains("...")) << title.toStdString();
    }
    std::set<QString> groupTitles;
    for (ShortcutGroup group : allShortcutGroups) {
        EXPECT_FALSE(unresolved.match(Shortcuts::title(group)).hasMatch()) << Shortcuts::title(group).toStdString();
        groupTitles.insert(Shortcuts::title(group));
    }
    EXPECT_EQ(groupTitles.size(), allShortcutGroups.size());
}

} // namespace
