#include "settings/window/SettingsWindow.h"
#include "settings/window/ShortcutRecorder.h"

#include "library/Spoken.h"
#include "platform/GlobalHotkey.h"
#include "settings/Settings.h"
#include "settings/ShortcutRecorderModel.h"
#include "settings/Texts.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

#include <gtest/gtest.h>

using State = ShortcutRecorderModel::State;

namespace {

QApplication &application()
{
    static int argc = 1;
    static char name[] = "settings_window_test";
    static char *argv[] = {name, nullptr};
    // Never destroyed: its teardown at exit would run after Qt's own globals are gone.
    static QApplication *app = [] {
        auto *made = new QApplication(argc, argv);
        Spoken::install(); // as the program does, before the first window
        return made;
    }();
    return *app;
}

const ShortcutRecorderModel::Palette palette{QColor(235, 235, 240), QColor(235, 235, 240, 90), QColor(10, 132, 255)};

QKeyEvent keyPress(int key, Qt::KeyboardModifiers modifiers = {}, const QString &text = {})
{
    return QKeyEvent(QEvent::KeyPress, key, modifiers, text);
}

class SettingsWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        application();
        Texts::setLanguage(QStringLiteral("zh"));
        Shortcuts::resetAll();
        for (auto setter : {Settings::setFadeTransition, Settings::setEscCloses, Settings::setHdrEnabled,
                            Settings::setWheelNavigates, Settings::setWheelZoomInverted, Settings::setAutoCheckUpdates,
                            Settings::setSortReversed})
            setter(false);
        Settings::setSortKey(SortKey::name);
        Settings::setSlideshowFadeOn(true);
        Settings::setRatingBadgeShown(true);
    }
};

// Sends a key press to a widget the way the window system would.
void type(QWidget *widget, int key, Qt::KeyboardModifiers modifiers = {})
{
    QKeyEvent override(QEvent::ShortcutOverride, key, modifiers);
    QApplication::sendEvent(widget, &override);
    QKeyEvent press(QEvent::KeyPress, key, modifiers);
    QApplication::sendEvent(widget, &press);
}

} // namespace

TEST_F(SettingsWindowTest, RecorderStatesTitlesAndColours)
{
    ShortcutRecorderModel next(ShortcutAction::next);
    EXPECT_EQ(next.state(), State::idleBound);
    ShortcutRecorderModel::Appearance look = next.appearance(palette);
    EXPECT_EQ(look.title, "→");
    EXPECT_FALSE(look.semibold);
    const double defaultBorder = look.border.alphaF();

    next.startRecording();
    EXPECT_EQ(next.state(), State::recording);
    EXPECT_EQ(next.appearance(palette).title, QString::fromUtf8("按下快捷键…"));
    next.focusLost();   // losing the focus ends recording without an answer
    EXPECT_EQ(next.state(), State::idleBound);

    ShortcutRecorderModel none(ShortcutAction::rate0);
    EXPECT_EQ(none.state(), State::idleUnbound);
    EXPECT_EQ(none.appearance(palette).title, QString::fromUtf8("无"));

    // A cleared default counts as customized: "无" in a semibold title.
    Shortcuts::setCombo(std::nullopt, ShortcutAction::next);
    look = next.appearance(palette);
    EXPECT_EQ(look.title, QString::fromUtf8("无"));
    EXPECT_TRUE(look.semibold);
    // A customized binding gets the stronger border.
    Shortcuts::setCombo(KeyCombo{45, 0, "n"}, ShortcutAction::next);
    look = next.appearance(palette);
    EXPECT_EQ(look.title, "N");
    EXPECT_GT(look.border.alphaF(), defaultBorder);
}

TEST_F(SettingsWindowTest, RecorderKeysModifiersAloneAndUnmappableKeysAreNeverRecorded)
{
    ShortcutRecorderModel model(ShortcutAction::cleanup);
    // Not recording: keys are not the recorder's.
    EXPECT_FALSE(model.keyPress(keyPress(Qt::Key_K)).consumed);

    model.startRecording();
    for (auto [key, modifiers] : std::initializer_list<std::pair<int, Qt::KeyboardModifiers>>{
             {Qt::Key_Control, Qt::ControlModifier}, {Qt::Key_Shift, Qt::ShiftModifier | Qt::ControlModifier},
             {Qt::Key_Alt, Qt::AltModifier}, {Qt::Key_Meta, Qt::MetaModifier}, {Qt::Key_CapsLock, {}},
             {Qt::Key_AltGr, {}}, {Qt::Key_MediaPlay, {}}, {Qt::Key_LaunchMail, Qt::ControlModifier},
             {Qt::Key_unknown, {}}}) {
        const auto result = model.keyPress(keyPress(key, modifiers));
        EXPECT_TRUE(result.consumed) << key;
        EXPECT_FALSE(result.report) << key;
        EXPECT_TRUE(model.isRecording()) << key;
    }

    // The combination after the modifiers arrives: recorded with its key code,
    // modifiers and unmodified character.
    auto result = model.keyPress(keyPress(Qt::Key_K, Qt::ControlModifier | Qt::ShiftModifier, "K"));
    EXPECT_TRUE(result.report);
    ASSERT_TRUE(result.combo);
    EXPECT_EQ(*result.combo, (KeyCombo{40, KeyMods::command | KeyMods::shift, "k"}));
    EXPECT_FALSE(model.isRecording());

    // Esc alone cancels; Backspace or Delete alone clears.
    model.startRecording();
    result = model.keyPress(keyPress(Qt::Key_Escape));
    EXPECT_TRUE(result.consumed);
    EXPECT_FALSE(result.report);
    EXPECT_FALSE(model.isRecording());
    for (int key : {Qt::Key_Backspace, Qt::Key_Delete}) {
        model.startRecording();
        result = model.keyPress(keyPress(key));
        EXPECT_TRUE(result.report);
        EXPECT_FALSE(result.combo.has_value());
    }
    // With a modifier they are ordinary keys; Shift+Esc is reported and then
    // refused by the assignment as a fixed key.
    model.startRecording();
    result = model.keyPress(keyPress(Qt::Key_Backspace, Qt::ControlModifier));
    ASSERT_TRUE(result.combo);
    EXPECT_EQ(*result.combo, (KeyCombo{51, KeyMods::command, "\x7f"}));
    model.startRecording();
    result = model.keyPress(keyPress(Qt::Key_Escape, Qt::ShiftModifier));
    ASSERT_TRUE(result.combo);
    EXPECT_EQ(result.combo->keyCode, 53);
    EXPECT_FALSE(Shortcuts::assign(result.combo, ShortcutAction::cleanup).accepted);
    // Keypad flag and Caps Lock play no part in the stored modifiers.
    model.startRecording();
    result = model.keyPress(keyPress(Qt::Key_Right, Qt::AltModifier | Qt::KeypadModifier));
    ASSERT_TRUE(result.combo);
    EXPECT_EQ(result.combo->mods, KeyMods::option);
}

TEST_F(SettingsWindowTest, TheWindowClampsTheTabIndex)
{
    SettingsWindowController &window = SettingsWindowController::shared();
    EXPECT_FALSE(window.testAttribute(Qt::WA_QuitOnClose));
    // The title bar names the window, not the menu item that opens it.
    EXPECT_FALSE(window.windowTitle().isEmpty());
    EXPECT_FALSE(window.windowTitle().endsWith(QChar(0x2026))) << qPrintable(window.windowTitle());
    showSettings(SettingsWindowController::shortcuts);
    EXPECT_EQ(window.selectedTab(), 2);
    EXPECT_TRUE(window.tabButton(2)->isChecked());
    EXPECT_FALSE(window.tabButton(0)->isChecked());
    showSettings();   // keeps the tab shown last
    EXPECT_EQ(window.selectedTab(), 2);
    showSettings(7);
    EXPECT_EQ(window.selectedTab(), 2);
    showSettings(-4);
    EXPECT_EQ(window.selectedTab(), 0);
    window.tabButton(1)->click();
    EXPECT_EQ(window.selectedTab(), 1);
    window.close();
}

// A screen reader hears the pages as tabs, the open one selected, not as check
// boxes ticked and unticked; pressing one opens its page.
TEST_F(SettingsWindowTest, ThePagesAreReadAsTabsAndTheOpenOneIsSelected)
{
    SettingsWindowController &window = SettingsWindowController::shared();
    showSettings(SettingsWindowController::general);
    QAccessibleInterface *general = QAccessible::queryAccessibleInterface(window.tabButton(0));
    QAccessibleInterface *mouse = QAccessible::queryAccessibleInterface(window.tabButton(1));
    ASSERT_TRUE(general && mouse);
    EXPECT_EQ(general->role(), QAccessible::PageTab);
    EXPECT_EQ(mouse->text(QAccessible::Name), Texts::text("set.tab.mouse"));
    EXPECT_TRUE(general->state().selected);
    EXPECT_FALSE(general->state().checkable);
    EXPECT_FALSE(mouse->state().selected);
    ASSERT_TRUE(mouse->actionInterface());
    mouse->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(window.selectedTab(), 1);
    EXPECT_TRUE(mouse->state().selected);
    EXPECT_FALSE(general->state().selected);
    window.close();
}

TEST_F(SettingsWindowTest, EveryGeneralControlWritesItsSettingAndPostsAtMostOnce)
{
    SettingsWindowController &window = SettingsWindowController::shared();
    window.hdrAvailable = [] { return true; };
    showSettings(SettingsWindowController::general);
    GeneralSettingsPane *pane = window.generalPane();
    QStringList changes;
    const QMetaObject::Connection listening = QObject::connect(
        &SettingsNotifier::instance(), &SettingsNotifier::settingsDidChange, [&](const QString &what) { changes << what; });
    const auto takeChanges = [&] {
        const QStringList what = changes;
        changes.clear();
        return what;
    };

    pane->sortPopup->setCurrentIndex(pane->sortPopup->findData(int(SortKey::size)));
    Q_EMIT pane->sortPopup->activated(pane->sortPopup->currentIndex());
    EXPECT_EQ(Settings::sortKey(), SortKey::size);
    EXPECT_EQ(takeChanges(), QStringList{"sort"});
    pane->sortDescending->click();
    EXPECT_TRUE(Settings::sortReversed());
    EXPECT_EQ(Settings::sortKey(), SortKey::size);
    EXPECT_EQ(takeChanges(), QStringList{"sort"});

    pane->intervalPopup->setCurrentIndex(pane->intervalPopup->findData(10));
    Q_EMIT pane->intervalPopup->activated(pane->intervalPopup->currentIndex());
    EXPECT_EQ(Settings::slideshowInterval(), 10);
    EXPECT_EQ(takeChanges(), QStringList{"slideshow"});

    pane->ratingBadge->click();
    EXPECT_FALSE(Settings::ratingBadgeShown());
    EXPECT_EQ(takeChanges(), QStringList{"rating"});

    ASSERT_TRUE(pane->hdr->isEnabled());
    pane->hdr->click();
    EXPECT_TRUE(Settings::hdrEnabled());
    EXPECT_EQ(takeChanges(), QStringList{"hdr"});

    // The rest write their key and announce nothing: their readers read at the moment of use.
    pane->pagingFade->click();
    EXPECT_TRUE(Settings::fadeTransition());
    pane->escCloses->click();
    EXPECT_TRUE(Settings::escCloses());
    pane->autoUpdate->click();
    EXPECT_TRUE(Settings::autoCheckUpdates());
    pane->fadePopup->setCurrentIndex(pane->fadePopup->findData(2.0));
    Q_EMIT pane->fadePopup->activated(pane->fadePopup->currentIndex());
    EXPECT_EQ(Settings::slideshowFadeDuration(), 2.0);
    // Unticking the slideshow fade stores it and disables the duration.
    pane->slideFade->click();
    EXPECT_FALSE(Settings::slideshowFadeOn());
    EXPECT_FALSE(pane->fadePopup->isEnabled());
    EXPECT_EQ(takeChanges(), QStringList{});

    // The editor: chosen through the hook, shown by name, cleared.
    QTemporaryDir dir;
    const QString entry = dir.filePath("photo-editor.desktop");
    QFile file(entry);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Desktop Entry]\nType=Application\nName=Photo Editor\nExec=true %f\n");
    file.close();
    window.chooseEditor = [&](QWidget *) { return std::optional<QString>(entry); };
    pane->chooseEditor->click();
    EXPECT_EQ(Settings::editorAppPath(), entry);
    EXPECT_EQ(pane->editorName->text(), "Photo Editor");
    pane->clearEditor->click();
    EXPECT_FALSE(Settings::editorAppPath().has_value());
    EXPECT_EQ(pane->editorName->text(), QString::fromUtf8("未设置"));

    // "Check now" goes to the application's hook.
    int checks = 0;
    window.onCheckNow = [&](QWidget *) { ++checks; };
    pane->checkNow->click();
    EXPECT_EQ(checks, 1);
    EXPECT_EQ(takeChanges(), QStringList{});

    // Reopening shows what the menus changed meanwhile, without writing anything.
    window.close();
    Settings::setEscCloses(false);
    showSettings(SettingsWindowController::general);
    EXPECT_FALSE(pane->escCloses->isChecked());
    EXPECT_TRUE(pane->sortDescending->isChecked());
    EXPECT_EQ(takeChanges(), QStringList{});

    // Without HDR output the checkbox is disabled and says why.
    window.hdrAvailable = {};
    showSettings(SettingsWindowController::general);
    EXPECT_FALSE(pane->hdr->isEnabled());
    EXPECT_EQ(pane->hdrNote->text(), Texts::text("set.hdrUnsupported"));
    window.close();
    QObject::disconnect(listening);
}

// The View menu changes settings while the window stays open: a control of
// the window never writes back what the menu replaced, and coming back to the
// window shows what is in force.
TEST_F(SettingsWindowTest, ChangesMadeFromTheMenuSurviveTheOpenWindow)
{
    showSettings(SettingsWindowController::general);
    SettingsWindowController &window = SettingsWindowController::shared();
    GeneralSettingsPane *pane = window.generalPane();
    ASSERT_EQ(pane->sortPopup->currentData().toInt(), int(SortKey::name));

    // What Sort By › Date Taken and the fade toggle of the menu do.
    Settings::setSortKey(SortKey::captureDate);
    Settings::setFadeTransition(true);
    pane->sortDescending->click();
    EXPECT_TRUE(Settings::sortReversed());
    EXPECT_EQ(Settings::sortKey(), SortKey::captureDate);

    QWidget other;
    other.show();
    other.activateWindow();
    for (int i = 0; i < 50 && !other.isActiveWindow(); ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    window.activateWindow();
    for (int i = 0; i < 50 && !window.isActiveWindow(); ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_TRUE(window.isActiveWindow());
    EXPECT_EQ(pane->sortPopup->currentData().toInt(), int(SortKey::captureDate));
    EXPECT_TRUE(pane->pagingFade->isChecked());
    window.close();
}

TEST_F(SettingsWindowTest, MakingTheDefaultFromTheBuildTreeSaysWhyItCannot)
{
    showSettings(SettingsWindowController::general);
    GeneralSettingsPane *pane = SettingsWindowController::shared().generalPane();
    ASSERT_TRUE(pane->makeDefaultButton->isVisibleTo(pane));
    EXPECT_TRUE(pane->defaultStatus->text().startsWith(QString::fromUtf8("现在双击照片用「")));
    pane->makeDefaultButton->click();
    EXPECT_TRUE(pane->defaultMessage->isVisibleTo(pane));
    EXPECT_EQ(pane->defaultMessage->text(), Texts::text("set.defaultNotInstalled"));
    EXPECT_TRUE(pane->makeDefaultButton->isVisibleTo(pane));
    SettingsWindowController::shared().close();
}

TEST_F(SettingsWindowTest, TheWheelModeTakesEffectAtOnce)
{
    showSettings(SettingsWindowController::mouse);
    MouseSettingsPane *pane = SettingsWindowController::shared().mousePane();
    EXPECT_TRUE(pane->wheelZooms->isChecked());
    EXPECT_EQ(pane->wheelNote->text(), Texts::text("wheel.zoom.on"));
    pane->wheelNavigates->click();
    EXPECT_TRUE(Settings::wheelNavigates());
    EXPECT_EQ(pane->wheelNote->text(), Texts::text("wheel.navigate.on"));
    pane->wheelZooms->click();
    EXPECT_FALSE(Settings::wheelNavigates());
    pane->invertZoom->click();
    EXPECT_TRUE(Settings::wheelZoomInverted());
    SettingsWindowController::shared().close();
}

TEST_F(SettingsWindowTest, RecordingABindingInTheListMovesItAndSaysFromWhere)
{
    showSettings(SettingsWindowController::shortcuts);
    ShortcutSettingsPane *pane = SettingsWindowController::shared().shortcutPane();
    int shortcutChanges = 0;
    const QMetaObject::Connection listening = QObject::connect(
        &SettingsNotifier::instance(), &SettingsNotifier::shortcutsDidChange, [&] { ++shortcutChanges; });

    ShortcutRecorder *rename = pane->recorder(ShortcutAction::rename);
    rename->click();
    ASSERT_TRUE(rename->isRecording());
    EXPECT_EQ(rename->text(), QString::fromUtf8("按下快捷键…"));
    type(rename, Qt::Key_Shift, Qt::ShiftModifier);   // a bare modifier: still recording
    EXPECT_TRUE(rename->isRecording());
    type(rename, Qt::Key_R);
    EXPECT_FALSE(rename->isRecording());
    EXPECT_EQ(rename->text(), "R");
    // A screen reader hears the command with its key.
    EXPECT_EQ(rename->accessibleName(), Shortcuts::title(ShortcutAction::rename) + QStringLiteral(": R"));
    EXPECT_EQ(pane->recorder(ShortcutAction::rotateCW)->text(), QString::fromUtf8("无"));
    EXPECT_EQ(pane->status->text(), QString::fromUtf8("R 原来用于「向右旋转 90°」，那一项已清空"));
    EXPECT_EQ(shortcutChanges, 1);
    QObject::disconnect(listening);
    // The new binding is what a key press in the viewer now finds.
    QKeyEvent r(QEvent::KeyPress, Qt::Key_R, Qt::NoModifier);
    EXPECT_EQ(Shortcuts::actionForEvent(&r), ShortcutAction::rename);

    // A Ctrl combination reaches the recorder before any menu shortcut.
    ShortcutRecorder *edit = pane->recorder(ShortcutAction::edit);
    edit->click();
    QKeyEvent override(QEvent::ShortcutOverride, Qt::Key_J, Qt::ControlModifier);
    QApplication::sendEvent(edit, &override);
    EXPECT_TRUE(override.isAccepted());
    type(edit, Qt::Key_J, Qt::ControlModifier);
    EXPECT_EQ(Shortcuts::combo(ShortcutAction::edit), (KeyCombo{38, KeyMods::command, "j"}));

    // Backspace clears (the model test has the other special keys); a fixed key
    // is refused with the reason.
    edit->click();
    type(edit, Qt::Key_Backspace);
    EXPECT_FALSE(Shortcuts::combo(ShortcutAction::edit).has_value());
    edit->click();
    type(edit, Qt::Key_W, Qt::ControlModifier);
    EXPECT_FALSE(Shortcuts::combo(ShortcutAction::edit).has_value());
    EXPECT_EQ(pane->status->text(), Texts::format("sc.reserved", {Shortcuts::displayString({13, KeyMods::command, "w"})}));

    // A key no binding can name (a German sharp s) is said and recording goes on.
    edit->click();
    QKeyEvent sharpS(QEvent::KeyPress, Qt::Key_ssharp, Qt::NoModifier, 20, 0, 0, QString::fromUtf8("ß"));
    QApplication::sendEvent(edit, &sharpS);
    EXPECT_TRUE(edit->isRecording());
    EXPECT_EQ(pane->status->text(), Texts::format("sc.unusable", {QString::fromUtf8("ß")}));
    type(edit, Qt::Key_Escape);

    // Losing the focus stops recording without an answer.
    edit->click();
    ASSERT_TRUE(edit->isRecording());
    rename->setFocus();
    QFocusEvent out(QEvent::FocusOut);
    QApplication::sendEvent(edit, &out);
    EXPECT_FALSE(edit->isRecording());

    // Reset restores every default and clears the status at once.
    pane->reset->click();
    EXPECT_TRUE(pane->status->text().isEmpty());
    EXPECT_EQ(pane->recorder(ShortcutAction::rotateCW)->text(), "R");
    EXPECT_EQ(Shortcuts::combo(ShortcutAction::rename)->keyCode, 36);
    // A field that showed "none" is drawn again like every other default
    // binding, not in the dimmed colour it had while empty.
    const auto look = [pane](ShortcutAction action) { return pane->recorder(action)->styleSheet().toStdString(); };
    EXPECT_EQ(look(ShortcutAction::rotateCW), look(ShortcutAction::rotateCCW));
    EXPECT_EQ(look(ShortcutAction::edit), look(ShortcutAction::rotateCCW));
    SettingsWindowController::shared().close();
}

// Tab reaches the page buttons and every key of the list, Space opens a page
// or starts recording, and a key recorded from the keyboard keeps the focus.
TEST_F(SettingsWindowTest, EveryPageAndEveryKeyIsReachedWithTab)
{
    showSettings(SettingsWindowController::general);
    SettingsWindowController &window = SettingsWindowController::shared();
    window.activateWindow();
    for (int i = 0; i < 20 && !window.isActiveWindow(); ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_TRUE(window.isActiveWindow());
    const auto tabUntil = [&](QWidget *wanted) {
        for (int i = 0; i < 80 && QApplication::focusWidget() != wanted; ++i)
            type(QApplication::focusWidget() ? QApplication::focusWidget() : &window, Qt::Key_Tab);
        return QApplication::focusWidget() == wanted;
    };
    window.tabButton(0)->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(tabUntil(window.tabButton(SettingsWindowController::shortcuts)));
    QKeyEvent space(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    QKeyEvent spaceUp(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
    QApplication::sendEvent(window.tabButton(SettingsWindowController::shortcuts), &space);
    QApplication::sendEvent(window.tabButton(SettingsWindowController::shortcuts), &spaceUp);
    EXPECT_EQ(window.selectedTab(), SettingsWindowController::shortcuts);

    ShortcutRecorder *edit = window.shortcutPane()->recorder(ShortcutAction::edit);
    ASSERT_TRUE(tabUntil(edit));
    // Far down the list, and scrolled into view when the focus reached it.
    QWidget *viewport = window.shortcutPane()->table->viewport();
    EXPECT_TRUE(viewport->rect().contains(QRect(edit->mapTo(viewport, QPoint(0, 0)), edit->size())));
    QApplication::sendEvent(edit, &space);
    QApplication::sendEvent(edit, &spaceUp);
    ASSERT_TRUE(edit->isRecording());
    type(edit, Qt::Key_J, Qt::ControlModifier);
    EXPECT_FALSE(edit->isRecording());
    EXPECT_EQ(Shortcuts::combo(ShortcutAction::edit), (KeyCombo{38, KeyMods::command, "j"}));
    EXPECT_EQ(QApplication::focusWidget(), edit);

    // Opened again on a page, the keyboard starts on that page's tab, not on
    // Restore All Defaults, where Space would reset every key.
    window.close();
    window.shortcutPane()->reset->setFocus(Qt::TabFocusReason);
    window.showTab(SettingsWindowController::shortcuts);
    for (int i = 0; i < 20 && !window.isActiveWindow(); ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(QApplication::focusWidget(), window.tabButton(SettingsWindowController::shortcuts));
    window.close();
}

TEST_F(SettingsWindowTest, AnUnavailableGlobalHotkeyIsSaidNextToTheList)
{
    // Neither an X display nor a Wayland desktop.
    GlobalHotkey hotkey(GlobalHotkey::Backend::none);
    hotkey.followShortcuts();
    SettingsWindowController::shared().setHotkey(&hotkey);
    showSettings(SettingsWindowController::shortcuts);
    ShortcutSettingsPane *pane = SettingsWindowController::shared().shortcutPane();
    ShortcutRecorder *toggle = pane->recorder(ShortcutAction::toggleApp);
    toggle->click();
    type(toggle, Qt::Key_V, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(Shortcuts::combo(ShortcutAction::toggleApp), (KeyCombo{9, KeyMods::command | KeyMods::option, "v"}));
    EXPECT_TRUE(pane->hotkeyNote->isVisibleTo(pane));
    EXPECT_EQ(pane->hotkeyNote->text(), Texts::text("set.hotkeyUnavailable"));
    // A single key is refused for the global hotkey.
    toggle->click();
    type(toggle, Qt::Key_B, Qt::ShiftModifier);
    EXPECT_EQ(pane->status->text(), Texts::text("sc.needsModifier"));
    SettingsWindowController::shared().setHotkey(nullptr);
    SettingsWindowController::shared().close();
}

// Last: it ends the event loop of the test program.
TEST_F(SettingsWindowTest, TheSettingsWindowNeverKeepsTheProcessAlive)
{
    QWidget viewer;
    viewer.setWindowTitle("viewer");
    viewer.show();
    SettingsWindowController::shared().followViewerWindow(&viewer);
    showSettings(SettingsWindowController::general);
    ASSERT_TRUE(SettingsWindowController::shared().isVisible());
    QTimer::singleShot(100, &viewer, [&viewer] { viewer.close(); });
    bool hung = false;
    QTimer::singleShot(5000, qApp, [&hung] { hung = true; QCoreApplication::exit(1); });
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_FALSE(hung);
    // The shared window is gone with the application's last moments, so
    // nothing of it outlives the application object.
    EXPECT_FALSE(SettingsWindowController::exists());
}
