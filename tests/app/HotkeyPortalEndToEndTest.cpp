// The running program in a Wayland session, as far as this machine can be
// one: Qt draws on the test's X server, but the session says Wayland, so the
// global hotkey goes through the desktop portal, here a stand-in on a private
// session bus. The program binds the key stored in its settings, and the
// desktop's Activated signal brings its window to the front from behind
// another program's window; the portal vanishing and coming back is survived
// and the key bound again.
#include "TestData.h"
#include "TestSession.h"
#include "settings/Shortcuts.h"
#include "support/GlantoProcess.h"
#include "support/PortalStandIn.h"

#include <QGuiApplication>
#include <QTemporaryDir>
#include <QWindow>

#include <gtest/gtest.h>

namespace {

using desktop::PortalStandIn;
using e2e::GlantoProcess;
using e2e::spin;
using e2e::waitFor;
using e2e::xdotool;

QString focusedWindow()
{
    return xdotool({QStringLiteral("getwindowfocus")});
}

// Gives the keyboard to another window. The pointer then passes over the
// viewer: with no window manager the program asks for the keyboard itself,
// stamped with the time of the last event it saw, and the X server ignores a
// request older than the last change of focus.
void focusElsewhere(const QString &windowId, const QString &viewer)
{
    xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), windowId});
    ASSERT_TRUE(waitFor([&] { return focusedWindow() == windowId; }, 5000));
    const QRect frame = GlantoProcess::frameOf(viewer);
    xdotool({QStringLiteral("mousemove"), QStringLiteral("--sync"), QString::number(frame.center().x()),
             QString::number(frame.center().y())});
    // Qt takes a moment to count a window that lost the keyboard as inactive;
    // until then the hotkey would minimise it, as it should.
    spin(1000);
    ASSERT_EQ(focusedWindow(), windowId);
}

TEST(HotkeyPortalEndToEnd, TheStoredKeyIsBoundAndActivatedBringsTheViewerForward)
{
    QTemporaryDir tmp;
    ASSERT_TRUE(tmp.isValid());
    // The program reads its key bindings from here; this process writes them.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(tmp.filePath(QStringLiteral("config"))));
    static int argc = 1;
    static char name[] = "hotkey_portal_e2e_test";
    static char *argv[] = {name, nullptr};
    static auto *app = new QGuiApplication(argc, argv);
    Q_UNUSED(app);
    Shortcuts::assign(KeyCombo{9, KeyMods::command | KeyMods::option, QStringLiteral("v")}, ShortcutAction::toggleApp);

    DBusSession session;
    ASSERT_TRUE(session.isRunning()) << qPrintable(session.error);
    PortalStandIn portal(session.address);
    portal.assigned = QStringLiteral("Ctrl+Alt+V");
    ASSERT_TRUE(portal.start());

    const QString photo = tmp.filePath(QStringLiteral("photo.jpg"));
    ASSERT_TRUE(QFile::copy(TestData::photo(QStringLiteral("formats/hopper.jpg")), photo));
    QProcessEnvironment env = GlantoProcess::environment();
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), session.address);
    env.insert(QStringLiteral("WAYLAND_DISPLAY"), QStringLiteral("wayland-glanto-test"));
    GlantoProcess glanto;
    ASSERT_TRUE(glanto.start({photo}, env));
    ASSERT_TRUE(glanto.activate()) << "no window appeared";
    const QString viewer = glanto.window();

    // The program asked for its key under its own id.
    ASSERT_TRUE(waitFor([&] { return !portal.boundSession.isEmpty(); }, 10000))
        << portal.calls.join(QLatin1Char(',')).toStdString() << glanto.readLog().toStdString();
    EXPECT_EQ(portal.registeredApp, "app.glanto.Glanto");
    EXPECT_EQ(portal.lastBound.id, "toggleApp");
    EXPECT_EQ(portal.lastBound.properties.value(QStringLiteral("preferred_trigger")).toString(), "CTRL+ALT+v");

    // Another program's window in front, with the keyboard.
    QWindow other;
    other.setGeometry(0, 0, 300, 200);
    other.show();
    ASSERT_TRUE(waitFor([&] { return other.isExposed(); }, 5000));
    const QString otherId = QString::number(other.winId());
    ASSERT_NO_FATAL_FAILURE(focusElsewhere(otherId, viewer));

    // The desktop reports the key pressed: the viewer comes forward with the keyboard.
    portal.activate(portal.boundSession, QStringLiteral("toggleApp"));
    EXPECT_TRUE(waitFor([&] { return focusedWindow() == viewer; }, 5000)) << focusedWindow().toStdString();

    // The portal goes away and comes back: the program carries on and binds the key again.
    const QString first = portal.boundSession;
    portal.stop();
    spin(500);
    ASSERT_EQ(glanto.process.state(), QProcess::Running) << glanto.readLog().toStdString();
    ASSERT_TRUE(portal.start());
    ASSERT_TRUE(waitFor([&] { return portal.boundSession != first; }, 10000))
        << portal.calls.join(QLatin1Char(',')).toStdString();
    ASSERT_NO_FATAL_FAILURE(focusElsewhere(otherId, viewer));
    portal.activate(portal.boundSession, QStringLiteral("toggleApp"));
    EXPECT_TRUE(waitFor([&] { return focusedWindow() == viewer; }, 5000)) << focusedWindow().toStdString();
    EXPECT_EQ(glanto.process.state(), QProcess::Running);
    glanto.stop();
}

} // namespace
