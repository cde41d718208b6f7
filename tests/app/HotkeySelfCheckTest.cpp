#include "app/DesktopSelfCheck.h"

#include "TestSession.h"
#include "platform/GlobalHotkey.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

// "--hotkeytest" on a private X server with Qt's own X11 platform: the real
// grab, xdotool's key presses and a real window minimised and brought back.
TEST(HotkeySelfCheck, TogglesTheWindowWithAndWithoutNumLock)
{
    XvfbServer xvfb(1280, 800);
    ASSERT_TRUE(xvfb.isRunning()) << xvfb.error.toStdString();
    qputenv("DISPLAY", xvfb.display.toUtf8());
    qunsetenv("WAYLAND_DISPLAY");
    qputenv("XDG_SESSION_TYPE", "x11");
    qputenv("QT_QPA_PLATFORM", "xcb");
    int argc = 1;
    char name[] = "hotkey_selfcheck_test";
    char *argv[] = {name, nullptr};
    {
        QApplication app(argc, argv);
        QWidget window;
        window.resize(400, 300);
        window.show();
        GlobalHotkey hotkey;
        ASSERT_TRUE(hotkey.isAvailable());
        ASSERT_TRUE(startDesktopSelfCheck({"glanto", "--hotkeytest"}, &window, &hotkey));
        QTimer::singleShot(20000, &app, [] { QCoreApplication::exit(2); });
        EXPECT_EQ(QApplication::exec(), 0);
        // The run puts the user's own binding back (none here).
        EXPECT_EQ(hotkey.status(), GlobalHotkey::Status::none);
    }
}
