// The command table, the key routing through the bindings, the router's page
// stack and the menu tree, without any window.
#include "commands/CommandRouter.h"
#include "commands/MenuTree.h"
#include "settings/Settings.h"
#include "settings/TextAdaptations.h"
#include "settings/Texts.h"

#include <QGuiApplication>
#include <QKeyEvent>

#include <gtest/gtest.h>

#include <memory>
#include <set>

namespace {

using Code = quint16;
constexpr Code keyRight = 124, keyEqual = 24, keyQ = 12, keyK = 40, key3 = 20, keyEscape = 53, keyBackspace = 51, keyF11 = 103, keyF = 3,
               keyDelete = 117, keyZ = 6, keyMinus = 27, keyKeypadPlus = 69, keyKeypadMinus = 78, keyC = 8, keyF2 = 120;
constexpr quint32 cmd = KeyMods::command, shift = KeyMods::shift, alt = KeyMods::option, control = KeyMods::control;

// Key events need the GUI application's input devices; it lives until the
// process ends (the offscreen platform, no display).
QGuiApplication &guiApplication()
{
    static int argc = 1;
    static char name[] = "commands_test";
    static char *argv[] = {name, nullptr};
    static QGuiApplication *app = new QGuiApplication(argc, argv);
    return *app;
}

class CommandsTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        guiApplication();
        Shortcuts::resetAll();
    }
    void TearDown() override { Shortcuts::resetAll(); }
};

std::optional<CommandId> commandFor(Code code, quint32 mods, int *tag = nullptr)
{
    const std::optional<Commands::Invocation> invocation = Commands::forKey(code, mods);
    if (invocation && tag)
        *tag = invocation->tag;
    return invocation ? std::optional<CommandId>(invocation->id) : std::nullopt;
}

TEST_F(CommandsTest, TheTableHasOneRowPerCommandWithUniqueNames)
{
    ASSERT_EQ(Commands::table().size(), size_t(commandCount));
    std::set<QString> names;
    for (int i = 0; i < commandCount; ++i) {
        const CommandDef &row = Commands::def(CommandId(i));
        EXPECT_EQ(int(row.id), i);
        EXPECT_TRUE(names.insert(Commands::name(row.id)).second) << row.name;
        EXPECT_EQ(Commands::fromName(Commands::name(row.id)), row.id);
    }
    // Every bindable action but the global hotkey reaches exactly one command.
    for (ShortcutAction action : Shortcuts::allActions()) {
        if (action == ShortcutAction::toggleApp)
            EXPECT_FALSE(Commands::forAction(action));
        else
            EXPECT_TRUE(Commands::forAction(action)) << qPrintable(Shortcuts::rawName(action));
    }
    EXPECT_EQ(Commands::forAction(ShortcutAction::rate4)->tag, 4);
}

TEST_F(CommandsTest, KeysFindTheirCommandThroughFixedKeysThenBindings)
{
    int tag = -1;
    EXPECT_EQ(commandFor(keyRight, 0), CommandId::navigateForward);
    EXPECT_EQ(commandFor(keyRight, shift), CommandId::navigateForward); // Shift with a plain binding
    EXPECT_EQ(commandFor(keyQ, cmd), CommandId::quit);
    EXPECT_EQ(commandFor(keyEscape, shift | cmd), CommandId::escape); // Esc with any modifiers
    EXPECT_EQ(commandFor(keyK, shift | cmd), CommandId::toggleCleanup);
    EXPECT_EQ(commandFor(keyK, 0), std::nullopt);
    EXPECT_EQ(commandFor(keyBackspace, cmd), CommandId::trashCurrent);
    EXPECT_EQ(commandFor(key3, 0, &tag), CommandId::setRatingMenu);
    EXPECT_EQ(tag, 3);
    // = and - zoom as fixed keys, with or without Ctrl and Shift.
    EXPECT_EQ(commandFor(keyEqual, 0), CommandId::zoomIn);
    EXPECT_EQ(commandFor(keyEqual, shift), CommandId::zoomIn);
    EXPECT_EQ(commandFor(keyEqual, cmd), CommandId::zoomIn);
    EXPECT_EQ(commandFor(keyEqual, cmd | shift), CommandId::zoomIn); // Ctrl++
    EXPECT_EQ(commandFor(keyKeypadPlus, cmd), CommandId::zoomIn);
    EXPECT_EQ(commandFor(keyKeypadMinus, cmd), CommandId::zoomOut);
    EXPECT_EQ(commandFor(keyMinus, cmd | shift), CommandId::zoomOut);

    // A binding takes a plain fixed key, never a reserved one.
    Shortcuts::setCombo(KeyCombo{keyEqual, 0, "="}, ShortcutAction::next);
    EXPECT_EQ(commandFor(keyEqual, 0), CommandId::navigateForward);
    EXPECT_EQ(commandFor(keyEqual, cmd), CommandId::zoomIn);
    // The global hotkey's key does nothing inside the window.
    Shortcuts::setCombo(KeyCombo{keyK, alt | cmd, "k"}, ShortcutAction::toggleApp);
    EXPECT_EQ(commandFor(keyK, alt | cmd), std::nullopt);
    // F11 is full screen, as on the desktop, until a binding takes it.
    EXPECT_EQ(commandFor(keyF11, 0), CommandId::toggleFullScreen);
    EXPECT_EQ(commandFor(keyF, control | cmd), CommandId::toggleFullScreen);
    Shortcuts::setCombo(KeyCombo{keyF11, 0, ""}, ShortcutAction::slideshow);
    EXPECT_EQ(commandFor(keyF11, 0), CommandId::toggleSlideshow);
    // Delete moves to the Trash beside the binding; Shift+Delete is not ours.
    EXPECT_EQ(commandFor(keyDelete, 0), CommandId::trashCurrent);
    EXPECT_EQ(commandFor(keyDelete, shift), std::nullopt);
    Shortcuts::setCombo(KeyCombo{keyBackspace, alt | cmd, ""}, ShortcutAction::trash);
    EXPECT_EQ(commandFor(keyDelete, 0), CommandId::trashCurrent);
    // A cleared binding no longer answers its old key, nor Delete.
    Shortcuts::setCombo(std::nullopt, ShortcutAction::trash);
    EXPECT_EQ(commandFor(keyBackspace, cmd), std::nullopt);
    EXPECT_EQ(commandFor(keyDelete, 0), std::nullopt);
    // A binding may take Delete for something else.
    Shortcuts::resetAll();
    Shortcuts::setCombo(KeyCombo{keyDelete, 0, ""}, ShortcutAction::info);
    EXPECT_EQ(commandFor(keyDelete, 0), CommandId::toggleInfoPanel);
    // Ctrl+Z puts back a trashed photo, unless the person bound it before.
    EXPECT_EQ(commandFor(keyZ, cmd), CommandId::undoTrash);
    Shortcuts::setCombo(KeyCombo{keyZ, cmd, "z"}, ShortcutAction::rotateCCW);
    EXPECT_EQ(commandFor(keyZ, cmd), CommandId::rotateCCW);
    // Ctrl+C copies, likewise; F2 renames beside the bindable key, until the
    // key is cleared or a binding takes F2.
    EXPECT_EQ(commandFor(keyC, cmd), CommandId::copyPhoto);
    Shortcuts::setCombo(KeyCombo{keyC, cmd, "c"}, ShortcutAction::info);
    EXPECT_EQ(commandFor(keyC, cmd), CommandId::toggleInfoPanel);
    EXPECT_EQ(commandFor(keyF2, 0), CommandId::renameCurrent);
    Shortcuts::setCombo(std::nullopt, ShortcutAction::rename);
    EXPECT_EQ(commandFor(keyF2, 0), std::nullopt);
    Shortcuts::resetAll();
    Shortcuts::setCombo(KeyCombo{keyF2, 0, ""}, ShortcutAction::slideshow);
    EXPECT_EQ(commandFor(keyF2, 0), CommandId::toggleSlideshow);
}

// Keys are read for what the layout types first, then by their place: keys
// pressed as X reports them on Swiss, Czech, French, German and Russian
// layouts (X's key numbers: 10 is the 1 key, 16 the 7 key, 52 the Z key).
TEST_F(CommandsTest, KeysAreReadAsTheLayoutTypesThemThenByTheirPlace)
{
    const auto command = [](int qtKey, Qt::KeyboardModifiers modifiers, quint32 scanCode, int *tag = nullptr) {
        QKeyEvent event(QEvent::KeyPress, qtKey, modifiers, scanCode, 0, 0);
        const std::optional<Commands::Invocation> invocation = CommandRouter::commandForKey(&event);
        if (invocation && tag)
            *tag = invocation->tag;
        return invocation ? std::optional<CommandId>(invocation->id) : std::nullopt;
    };
    const auto rating = [&](int qtKey, Qt::KeyboardModifiers modifiers, quint32 scanCode) {
        int tag = -1;
        return command(qtKey, modifiers, scanCode, &tag) == CommandId::setRatingMenu ? tag : -1;
    };
    // "+" on the 1 key (Swiss Shift+1, Czech unshifted) zooms; it rated 1.
    EXPECT_EQ(command(Qt::Key_Plus, Qt::ShiftModifier, 10), CommandId::zoomIn);
    EXPECT_EQ(command(Qt::Key_Plus, Qt::NoModifier, 10), CommandId::zoomIn);
    EXPECT_EQ(rating(Qt::Key_1, Qt::ShiftModifier, 10), 1);
    // French: "&" and "'" on the 1 and 4 keys rate, "-" on the 6 key zooms out.
    EXPECT_EQ(rating(Qt::Key_Ampersand, Qt::NoModifier, 10), 1);
    EXPECT_EQ(rating(Qt::Key_Apostrophe, Qt::NoModifier, 13), 4);
    EXPECT_EQ(command(Qt::Key_Minus, Qt::NoModifier, 15), CommandId::zoomOut);
    // German "=" is Shift+0: it zooms in, not to 100 % at the pointer.
    EXPECT_EQ(command(Qt::Key_Equal, Qt::ShiftModifier, 19), CommandId::zoomIn);
    // Ctrl+/ typed with Shift: Ctrl+Shift+7 (German), Ctrl+Shift+: (French).
    EXPECT_EQ(command(Qt::Key_Slash, Qt::ControlModifier | Qt::ShiftModifier, 16), CommandId::showShortcuts);
    EXPECT_EQ(command(Qt::Key_Slash, Qt::ControlModifier | Qt::ShiftModifier, 60), CommandId::showShortcuts);
    // Russian: Cyrillic letters count as the Latin letter of their key.
    EXPECT_EQ(command(0x42F, Qt::ControlModifier, 52), CommandId::undoTrash);        // Ya, on Z
    EXPECT_EQ(command(0x41A, Qt::NoModifier, 27), CommandId::rotateCW);              // Ka, on R
    EXPECT_EQ(command(0x41A, Qt::ControlModifier | Qt::ShiftModifier, 27), std::nullopt);
    // A Latin letter counts as itself wherever its key is: German Ctrl+Z is on
    // the key a US layout has Y on.
    EXPECT_EQ(command(Qt::Key_Z, Qt::ControlModifier, 29), CommandId::undoTrash);
    // The keypad's digits rate like the main row's.
    EXPECT_EQ(rating(Qt::Key_3, Qt::KeypadModifier, 89), 3);
    // A letter's Shift still never falls away with Ctrl: Ctrl+Shift+Z is not undo.
    EXPECT_EQ(command(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier, 52), std::nullopt);
}

TEST_F(CommandsTest, TheMenuShowsBindingsWithModifiersAndFixedKeysOtherwise)
{
    // A plain arrow is performed by the keys but not shown.
    EXPECT_FALSE(Commands::menuKey(CommandId::navigateForward));
    Shortcuts::setCombo(KeyCombo{keyRight, alt | cmd, ""}, ShortcutAction::next);
    ASSERT_TRUE(Commands::menuKey(CommandId::navigateForward));
    EXPECT_EQ(Commands::menuKey(CommandId::navigateForward)->mods, alt | cmd);
    // Clearing trash clears its menu key although it has a default.
    ASSERT_TRUE(Commands::menuKey(CommandId::trashCurrent));
    Shortcuts::setCombo(std::nullopt, ShortcutAction::trash);
    EXPECT_FALSE(Commands::menuKey(CommandId::trashCurrent));
    // Zoom and full screen show their fixed keys whatever their bindings.
    EXPECT_EQ(Commands::menuKey(CommandId::zoomIn)->keyCode, keyEqual);
    EXPECT_EQ(Commands::menuKey(CommandId::toggleFullScreen)->mods, KeyMods::control | cmd);
    EXPECT_FALSE(Commands::menuKey(CommandId::escape));
}

// A page that counts what its handlers ran.
class CountingPage : public CommandPage
{
public:
    QWidget *pageWidget() override { return nullptr; }
    void pageActivated() override { ++activations; }
    std::vector<std::pair<CommandId, int>> ran;
    int activations = 0;
    void handle(CommandId id, std::function<CommandState(int)> state = {})
    {
        commands.on(id, [this, id](int tag) { ran.emplace_back(id, tag); }, std::move(state));
    }
};

TEST_F(CommandsTest, CommandsReachTheActivePageOnlyAndWindowCommandsReachEvery)
{
    CommandRouter router;
    int settingsShown = 0;
    router.windowCommands.on(CommandId::showSettings, [&](int) { ++settingsShown; });

    CountingPage viewer;
    viewer.handle(CommandId::trashCurrent);
    viewer.handle(CommandId::navigateForward);
    viewer.handle(CommandId::toggleCleanup, [](int) { return CommandState{true, false, {}}; });
    router.pushPage(&viewer);
    EXPECT_TRUE(router.dispatch(CommandId::trashCurrent));
    ASSERT_EQ(viewer.ran.size(), 1u);

    // The review screen: Trash goes to it, never to the viewer's hidden photo.
    CountingPage review;
    review.handle(CommandId::trashCurrent);
    review.handle(CommandId::toggleCleanup);
    router.pushPage(&review);
    EXPECT_EQ(review.activations, 1);
    EXPECT_TRUE(router.dispatch(CommandId::trashCurrent));
    EXPECT_EQ(review.ran.size(), 1u);
    EXPECT_EQ(viewer.ran.size(), 1u);
    // The viewer's own commands are disabled while it is covered.
    EXPECT_FALSE(router.state(CommandId::navigateForward).enabled);
    EXPECT_FALSE(router.dispatch(CommandId::navigateForward));
    EXPECT_TRUE(router.state(CommandId::showSettings).enabled);
    EXPECT_TRUE(router.dispatch(CommandId::showSettings));
    EXPECT_EQ(settingsShown, 1);
    // Nobody handles it: disabled, and running it does nothing.
    EXPECT_FALSE(router.state(CommandId::batchRename).enabled);
    EXPECT_FALSE(router.dispatch(CommandId::batchRename));

    router.popPage(&review);
    EXPECT_EQ(router.activePage(), &viewer);
    EXPECT_EQ(viewer.activations, 2);
    EXPECT_TRUE(router.dispatch(CommandId::navigateForward, 0));
    EXPECT_EQ(viewer.ran.back().first, CommandId::navigateForward);
}

TEST_F(CommandsTest, AHandlerMayLeaveItsPageWhileItRuns)
{
    CommandRouter router;
    CountingPage viewer;
    router.pushPage(&viewer);
    CountingPage review;
    review.commands.on(CommandId::toggleCleanup, [&](int) {
        router.popPage(&review);
        review.commands.remove(CommandId::toggleCleanup);
    });
    router.pushPage(&review);
    EXPECT_TRUE(router.dispatch(CommandId::toggleCleanup));
    EXPECT_EQ(router.activePage(), &viewer);
}

// A page destroyed without being popped first (its window's widgets torn down
// before the router) leaves the stack: the page below becomes the active one,
// and nothing afterwards reaches the freed page.
TEST_F(CommandsTest, ADestroyedPageLeavesTheStack)
{
    CommandRouter router;
    CountingPage viewer;
    viewer.handle(CommandId::trashCurrent);
    router.pushPage(&viewer);
    auto covered = std::make_unique<CountingPage>();
    router.pushPage(covered.get());
    auto review = std::make_unique<CountingPage>();
    review->handle(CommandId::trashCurrent);
    router.pushPage(review.get());
    covered.reset();
    EXPECT_EQ(router.activePage(), review.get());
    review.reset();
    EXPECT_EQ(router.activePage(), &viewer);
    EXPECT_TRUE(router.dispatch(CommandId::trashCurrent));
    EXPECT_EQ(viewer.ran.size(), 1u);

    // Pages that outlive the router are simply forgotten by it.
    auto shortLived = std::make_unique<CommandRouter>();
    CountingPage outliving;
    shortLived->pushPage(&outliving);
    shortLived.reset();
    outliving.handle(CommandId::navigateForward);
}

// Whatever shows enabled states (the toolbar) hears of every change that can
// alter them, including handlers added after it was built, once per turn of
// the event loop.
TEST_F(CommandsTest, StateViewsHearOfLateHandlersPagesRunsAndSettings)
{
    auto router = std::make_unique<CommandRouter>();
    int heard = 0;
    QObject::connect(router.get(), &CommandRouter::statesChanged, [&] { ++heard; });
    const auto settle = [&] {
        heard = 0;
        QCoreApplication::sendPostedEvents();
        return heard;
    };

    CountingPage viewer;
    router->pushPage(&viewer);
    EXPECT_EQ(settle(), 1);
    EXPECT_FALSE(router->state(CommandId::exportAs).enabled);

    // Many handlers joined in one go: one notice, after which the state is there.
    viewer.handle(CommandId::exportAs);
    viewer.handle(CommandId::renameCurrent);
    router->windowCommands.on(CommandId::showAbout, [](int) {});
    EXPECT_EQ(settle(), 1);
    EXPECT_TRUE(router->state(CommandId::exportAs).enabled);

    viewer.commands.remove(CommandId::exportAs);
    EXPECT_EQ(settle(), 1);
    viewer.commands.remove(CommandId::exportAs); // nothing there: nothing changed
    EXPECT_EQ(settle(), 0);

    EXPECT_TRUE(router->dispatch(CommandId::renameCurrent));
    EXPECT_EQ(settle(), 1);
    EXPECT_FALSE(router->dispatch(CommandId::exportAs)); // refused: nothing ran
    EXPECT_EQ(settle(), 0);

    SettingsNotifier::instance().postSettingsDidChange(QStringLiteral("wheel"));
    SettingsNotifier::instance().postShortcutsDidChange();
    EXPECT_EQ(settle(), 1);

    // A page taken off the stack, or one that outlives the router, tells nobody.
    CountingPage review;
    router->pushPage(&review);
    router->popPage(&review);
    EXPECT_EQ(settle(), 1);
    review.handle(CommandId::trashCurrent);
    EXPECT_EQ(settle(), 0);
    router.reset();
    viewer.handle(CommandId::exportAs);
    EXPECT_EQ(settle(), 0);
}

// A page may keep what its rules share for one batch only: every batch is
// told apart from the one before, and nothing outside a batch is kept.
TEST_F(CommandsTest, StateBatchesNestAndEachIsNew)
{
    EXPECT_EQ(CommandStateBatch::current(), 0u);
    quint64 first = 0;
    {
        const CommandStateBatch outer;
        first = CommandStateBatch::current();
        EXPECT_NE(first, 0u);
        {
            const CommandStateBatch inner;
            EXPECT_EQ(CommandStateBatch::current(), first);
        }
        EXPECT_EQ(CommandStateBatch::current(), first);
    }
    EXPECT_EQ(CommandStateBatch::current(), 0u);
    const CommandStateBatch next;
    EXPECT_NE(CommandStateBatch::current(), first);
}

TEST_F(CommandsTest, OneKeyPressRunsOneCommandAndHeldPeekOrTrashKeysDoNotRepeat)
{
    CommandRouter router;
    CountingPage viewer;
    viewer.handle(CommandId::navigateForward);
    viewer.handle(CommandId::peek);
    viewer.handle(CommandId::trashCurrent);
    router.pushPage(&viewer);
    QKeyEvent right(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
    EXPECT_TRUE(router.dispatchKey(&right));
    QKeyEvent heldRight(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier, QString(), true);
    EXPECT_TRUE(router.dispatchKey(&heldRight));
    QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    EXPECT_TRUE(router.dispatchKey(&space));
    QKeyEvent heldSpace(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "), true);
    EXPECT_TRUE(router.dispatchKey(&heldSpace));
    QKeyEvent unbound(QEvent::KeyPress, Qt::Key_J, Qt::NoModifier, QStringLiteral("j"));
    EXPECT_FALSE(router.dispatchKey(&unbound));
    // A held Delete moves one photo to the Trash, not one per repeat.
    QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);
    EXPECT_TRUE(router.dispatchKey(&del));
    for (int i = 0; i < 3; ++i) {
        QKeyEvent heldDelete(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier, QString(), true);
        EXPECT_TRUE(router.dispatchKey(&heldDelete));
        QKeyEvent heldBackspace(QEvent::KeyPress, Qt::Key_Backspace, Qt::ControlModifier, QString(), true);
        EXPECT_TRUE(router.dispatchKey(&heldBackspace));
    }
    ASSERT_EQ(viewer.ran.size(), 4u);
    EXPECT_EQ(viewer.ran[0].first, CommandId::navigateForward);
    EXPECT_EQ(viewer.ran[1].first, CommandId::navigateForward);
    EXPECT_EQ(viewer.ran[2].first, CommandId::peek);
    EXPECT_EQ(viewer.ran[3].first, CommandId::trashCurrent);

    // A repeat that Qt did not mark (a busy window): the release and the press
    // of a held key carry the same time. A second press of its own still runs.
    const auto keyAt = [](QEvent::Type type, int key, quint64 time) {
        auto event = std::make_unique<QKeyEvent>(type, key, Qt::NoModifier);
        event->setTimestamp(time);
        return event;
    };
    router.noteKeyRelease(keyAt(QEvent::KeyRelease, Qt::Key_Delete, 5000).get());
    EXPECT_TRUE(router.dispatchKey(keyAt(QEvent::KeyPress, Qt::Key_Delete, 5000).get()));
    EXPECT_EQ(viewer.ran.size(), 4u);
    EXPECT_TRUE(router.dispatchKey(keyAt(QEvent::KeyPress, Qt::Key_Delete, 5300).get()));
    ASSERT_EQ(viewer.ran.size(), 5u);
    EXPECT_EQ(viewer.ran[4].first, CommandId::trashCurrent);
    // Paging keeps its repeats, marked or not.
    router.noteKeyRelease(keyAt(QEvent::KeyRelease, Qt::Key_Right, 6000).get());
    EXPECT_TRUE(router.dispatchKey(keyAt(QEvent::KeyPress, Qt::Key_Right, 6000).get()));
    EXPECT_EQ(viewer.ran.size(), 6u);
    // While a screen reader listens, Qt's accessibility bridge passes key events
    // on without their time: every press of its own runs.
    for (int i = 0; i < 3; ++i) {
        router.noteKeyRelease(keyAt(QEvent::KeyRelease, Qt::Key_Delete, 0).get());
        EXPECT_TRUE(router.dispatchKey(keyAt(QEvent::KeyPress, Qt::Key_Delete, 0).get()));
    }
    EXPECT_EQ(viewer.ran.size(), 9u);
}

TEST_F(CommandsTest, MenuItemsOfTheOtherSystemAreListedWithWhatBecameOfThem)
{
    QSet<QString> titles;
    std::function<void(const std::vector<MenuEntry> &)> walk = [&](const std::vector<MenuEntry> &entries) {
        for (const MenuEntry &e : entries) {
            if (e.kind != MenuEntry::Kind::separator)
                titles.insert(Commands::entryTitle(e));
            walk(e.children);
        }
    };
    for (const MenuSpec &menu : Commands::mainMenuTree())
        walk(menu.entries);
    for (const MenuAdaptation &a : Texts::menuAdaptations()) {
        EXPECT_TRUE(Texts::hasKey(a.key)) << a.key;
        const bool leftOut = QString::fromUtf8(a.choice).startsWith(QStringLiteral("left out"));
        EXPECT_EQ(titles.contains(Texts::text(a.key)), !leftOut) << a.key;
    }
}

} // namespace
