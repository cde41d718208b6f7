#include "platform/GlobalHotkey.h"

#include "../app/TestSession.h"
#include "support/WaitUntil.h"

#include <QGuiApplication>
#include <QProcess>
#include <QWindow>

#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

// A private X server for the whole program, made before the application
// object so that Qt itself runs on it too.
XvfbServer &server()
{
    // A static object, made before the application's, so it is stopped after
    // the application has let go of its display.
    static XvfbServer xvfb(1280, 800);
    static const bool pointed = [] {
        if (xvfb.isRunning()) {
            qputenv("DISPLAY", xvfb.display.toUtf8());
            qunsetenv("WAYLAND_DISPLAY");
            qputenv("XDG_SESSION_TYPE", "x11");
            qputenv("QT_QPA_PLATFORM", "xcb");
        }
        return true;
    }();
    (void)pointed;
    return xvfb;
}

QGuiApplication &application()
{
    server();
    static int argc = 1;
    static char name[] = "global_hotkey_test";
    static char *argv[] = {name, nullptr};
    static QGuiApplication app(argc, argv);
    return app;
}

// Types keys on the private server the way a person would (XTEST).
void press(const QString &keys)
{
    QProcess xdotool;
    xdotool.start(QStringLiteral("xdotool"), {QStringLiteral("key"), QStringLiteral("--clearmodifiers"), keys});
    ASSERT_TRUE(xdotool.waitForFinished(10000));
    ASSERT_EQ(xdotool.exitCode(), 0) << xdotool.readAllStandardError().toStdString();
}

// Whether Num Lock is on, as the server sees it: its modifier (Mod2 on the
// server's default map) is in the current state.
bool numLockOn()
{
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    xcb_query_pointer_reply_t *reply = xcb_query_pointer_reply(c, xcb_query_pointer(c, root), nullptr);
    const bool on = reply && (reply->mask & XCB_MOD_MASK_2);
    std::free(reply);
    xcb_disconnect(c);
    return on;
}

KeyCombo ctrlAlt(quint16 keyCode, const char *chars)
{
    return KeyCombo{keyCode, KeyMods::command | KeyMods::option, QString::fromLatin1(chars)};
}

constexpr quint16 keyV = 9, keyB = 11, keyT = 17;

// Collects the log lines the hotkey writes.
QStringList &logLines()
{
    static QStringList lines;
    return lines;
}

void collectLog(QtMsgType, const QMessageLogContext &, const QString &message)
{
    logLines().append(message);
}

class GlobalHotkeyTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server().isRunning()) << server().error.toStdString();
        application();
        hotkey = std::make_unique<GlobalHotkey>();
        ASSERT_TRUE(hotkey->isAvailable());
        hotkey->onToggle = [this] { ++toggles; };
        logLines().clear();
        previousHandler = qInstallMessageHandler(collectLog);
    }
    void TearDown() override
    {
        qInstallMessageHandler(previousHandler);
        hotkey.reset();
    }

    // Presses keys, then lets any toggle arrive.
    int togglesAfter(const QString &keys)
    {
        const int before = toggles;
        press(keys);
        waitUntil([&] { return toggles > before; }, 1500);
        return toggles - before;
    }

    std::unique_ptr<GlobalHotkey> hotkey;
    int toggles = 0;
    QtMessageHandler previousHandler = nullptr;
};

} // namespace

TEST_F(GlobalHotkeyTest, CtrlAltVTogglesAlsoWithNumLockAndCapsLockOn)
{
    ASSERT_EQ(hotkey->registerCombo(ctrlAlt(keyV, "v")), GlobalHotkey::Status::active);
    EXPECT_EQ(togglesAfter("ctrl+alt+v"), 1);
    EXPECT_EQ(togglesAfter("ctrl+alt+v"), 1);

    ASSERT_FALSE(numLockOn());
    press("Num_Lock");
    ASSERT_TRUE(numLockOn());
    EXPECT_EQ(togglesAfter("ctrl+alt+v"), 1);
    press("Caps_Lock");
    EXPECT_EQ(togglesAfter("ctrl+alt+v"), 1);
    press("Caps_Lock");
    press("Num_Lock");
    ASSERT_FALSE(numLockOn());
}

TEST_F(GlobalHotkeyTest, OtherKeysAndOtherModifiersDoNotToggle)
{
    ASSERT_EQ(hotkey->registerCombo(ctrlAlt(keyV, "v")), GlobalHotkey::Status::active);
    EXPECT_EQ(togglesAfter("ctrl+alt+b"), 0);
    EXPECT_EQ(togglesAfter("ctrl+v"), 0);
    EXPECT_EQ(togglesAfter("ctrl+alt+shift+v"), 0);
    EXPECT_EQ(togglesAfter("v"), 0);
}

TEST_F(GlobalHotkeyTest, RebindingAndClearingReleaseTheOldKey)
{
    ASSERT_EQ(hotkey->registerCombo(ctrlAlt(keyV, "v")), GlobalHotkey::Status::active);
    ASSERT_EQ(hotkey->registerCombo(ctrlAlt(keyB, "b")), GlobalHotkey::Status::active);
    EXPECT_EQ(togglesAfter("ctrl+alt+v"), 0);
    EXPECT_EQ(togglesAfter("ctrl+alt+b"), 1);

    EXPECT_EQ(hotkey->registerCombo(std::nullopt), GlobalHotkey::Status::none);
    EXPECT_EQ(togglesAfter("ctrl+alt+b"), 0);
    // A plain key, or Shift alone, is never taken from the other programs.
    EXPECT_EQ(hotkey->registerCombo(KeyCombo{keyB, KeyMods::shift, "b"}), GlobalHotkey::Status::none);
    EXPECT_EQ(togglesAfter("shift+b"), 0);
    EXPECT_TRUE(logLines().isEmpty()) << logLines().join('\n').toStdString();
}

TEST_F(GlobalHotkeyTest, AKeyHeldByAnotherProgramIsReportedAndLogged)
{
    // Another X client takes Ctrl+Alt+T first.
    xcb_connection_t *other = xcb_connect(nullptr, nullptr);
    ASSERT_FALSE(xcb_connection_has_error(other));
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(other)).data->root;
    xcb_key_symbols_t *symbols = xcb_key_symbols_alloc(other);
    xcb_keycode_t *codes = xcb_key_symbols_get_keycode(symbols, 't');
    ASSERT_TRUE(codes);
    xcb_generic_error_t *error = xcb_request_check(other, xcb_grab_key_checked(other, 1, root,
        XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1, codes[0], XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    ASSERT_EQ(error, nullptr);

    EXPECT_EQ(hotkey->registerCombo(ctrlAlt(keyT, "t")), GlobalHotkey::Status::taken);
    EXPECT_EQ(hotkey->status(), GlobalHotkey::Status::taken);
    EXPECT_TRUE(logLines().contains("HotKey register failed 10")) << logLines().join('\n').toStdString();   // BadAccess
    EXPECT_EQ(togglesAfter("ctrl+alt+t"), 0);

    // Once the other program lets go (a copy of this one that was finishing
    // its last export), the key is taken up without being recorded again.
    int changes = 0;
    QObject::connect(hotkey.get(), &GlobalHotkey::statusChanged, [&] { ++changes; });
    xcb_ungrab_key(other, codes[0], root, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1);
    xcb_flush(other);
    std::free(codes);
    xcb_key_symbols_free(symbols);
    xcb_disconnect(other);
    EXPECT_TRUE(waitUntil([&] { return hotkey->status() == GlobalHotkey::Status::active; }, 20000));
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(togglesAfter("ctrl+alt+t"), 1);
}

TEST_F(GlobalHotkeyTest, TheGrabFollowsTheKeyToItsNewPlaceAfterAMappingChange)
{
    ASSERT_EQ(hotkey->registerCombo(ctrlAlt(keyV, "v")), GlobalHotkey::Status::active);
    // Another program moves "v" to the keycode of "w" and "w" to that of "v".
    xcb_connection_t *other = xcb_connect(nullptr, nullptr);
    xcb_key_symbols_t *symbols = xcb_key_symbols_alloc(other);
    xcb_keycode_t *v = xcb_key_symbols_get_keycode(symbols, 'v');
    xcb_keycode_t *w = xcb_key_symbols_get_keycode(symbols, 'w');
    ASSERT_TRUE(v && w);
    const xcb_keycode_t vCode = v[0], wCode = w[0];
    std::free(v);
    std::free(w);
    const auto remap = [&](xcb_keycode_t code, xcb_keysym_t lower, xcb_keysym_t upper) {
        const xcb_keysym_t syms[2] = {lower, upper};
        xcb_change_keyboard_mapping(other, 1, code, 2, syms);
    };
    remap(vCode, 'w', 'W');
    remap(wCode, 'v', 'V');
    xcb_flush(other);
    // Let the hotkey see the mapping change and grab again.
    waitUntil([] { return false; }, 500);
    EXPECT_EQ(togglesAfter("ctrl+alt+v"), 1);   // xdotool now presses the old "w" keycode
    EXPECT_EQ(togglesAfter("ctrl+alt+w"), 0);

    remap(vCode, 'v', 'V');
    remap(wCode, 'w', 'W');
    xcb_flush(other);
    xcb_key_symbols_free(symbols);
    xcb_disconnect(other);
    waitUntil([] { return false; }, 500);
    EXPECT_EQ(togglesAfter("ctrl+alt+v"), 1);
}

TEST_F(GlobalHotkeyTest, TheHotkeyTogglesARealWindowBetweenFrontAndMinimised)
{
    QWindow window;
    window.resize(400, 300);
    hotkey->onToggle = [&] { ++toggles; GlobalHotkey::toggle(&window); };
    ASSERT_EQ(hotkey->registerCombo(ctrlAlt(keyV, "v")), GlobalHotkey::Status::active);

    EXPECT_EQ(togglesAfter("ctrl+alt+v"), 1);   // hidden: shown and given the focus
    ASSERT_TRUE(waitUntil([&] { return window.isVisible() && window.isActive(); }, 5000));
    EXPECT_EQ(togglesAfter("ctrl+alt+v"), 1);   // in front: minimised, never unmapped for good
    EXPECT_TRUE(window.windowStates() & Qt::WindowMinimized);
    EXPECT_TRUE(window.isVisible());
    press("Num_Lock");
    EXPECT_EQ(togglesAfter("ctrl+alt+v"), 1);   // minimised: restored
    press("Num_Lock");
    EXPECT_FALSE(window.windowStates() & Qt::WindowMinimized);
    EXPECT_TRUE(window.isVisible());

    // Full screen survives the round: minimised and brought back, still full screen.
    window.setWindowStates(Qt::WindowFullScreen);
    ASSERT_TRUE(waitUntil([&] { return window.isActive(); }, 5000));
    EXPECT_EQ(togglesAfter("ctrl+alt+v"), 1);
    EXPECT_EQ(window.windowStates(), Qt::WindowFullScreen | Qt::WindowMinimized);
    EXPECT_EQ(togglesAfter("ctrl+alt+v"), 1);
    EXPECT_EQ(window.windowStates(), Qt::WindowFullScreen);
}

TEST(GlobalHotkeyWayland, AWaylandSessionAsksThePortalAndWithoutOneHasNoHotkey)
{
    application();
    const QByteArray saved = qgetenv("WAYLAND_DISPLAY");
    qputenv("WAYLAND_DISPLAY", "wayland-0");
    {
        // Even on XWayland: an X grab there would see keys only over X windows.
        GlobalHotkey hotkey;
        EXPECT_EQ(hotkey.backend(), GlobalHotkey::Backend::portal);
        hotkey.registerCombo(ctrlAlt(keyV, "v"));
        // The test's session bus has no portal.
        EXPECT_TRUE(waitUntil([&] { return !hotkey.isAvailable(); }, 5000));
        EXPECT_EQ(hotkey.status(), GlobalHotkey::Status::unavailable);
    }
    if (saved.isEmpty())
        qunsetenv("WAYLAND_DISPLAY");
    else
        qputenv("WAYLAND_DISPLAY", saved);
}
