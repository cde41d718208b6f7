// The global hotkey through the desktop portal's GlobalShortcuts interface, as
// a Wayland desktop offers it. No such desktop runs here, so a stand-in plays
// the portal on a private session bus, answering the way the real one does
// (see PortalStandIn.h). The window it toggles is a real one on a private X
// server.
#include "platform/GlobalHotkey.h"
#include "platform/ShortcutsPortal.h"
#include "settings/Texts.h"
#include "settings/window/SettingsWindow.h"

#include "../app/TestSession.h"
#include "support/PortalStandIn.h"
#include "support/WaitUntil.h"

#include <QApplication>
#include <QLabel>
#include <QWindow>

#include <gtest/gtest.h>

namespace {

using desktop::PortalStandIn;
using desktop::portalPath;

// A private X server and session bus for the whole program, made before the
// application object so that Qt and QtDBus use them, and stopped when the
// tests are done.
struct Servers
{
    std::unique_ptr<XvfbServer> xvfb = std::make_unique<XvfbServer>(1280, 800);
    std::unique_ptr<DBusSession> bus = std::make_unique<DBusSession>();

    Servers()
    {
        qputenv("DISPLAY", xvfb->display.toUtf8());
        qputenv("QT_QPA_PLATFORM", "xcb");
        qputenv("DBUS_SESSION_BUS_ADDRESS", bus->address.toUtf8());
    }
};

Servers &servers()
{
    static auto *made = new Servers;
    return *made;
}

class StopServers : public ::testing::Environment
{
public:
    void TearDown() override
    {
        servers().bus.reset();
        servers().xvfb.reset();
    }
};
[[maybe_unused]] const auto *stopServers = ::testing::AddGlobalTestEnvironment(new StopServers);

QApplication &application()
{
    servers();
    static int argc = 1;
    static char name[] = "hotkey_portal_test";
    static char *argv[] = {name, nullptr};
    static auto *app = [] {
        auto *a = new QApplication(argc, argv);
        QGuiApplication::setDesktopFileName(QStringLiteral("app.glanto.Glanto"));
        return a;
    }();
    return *app;
}

QStringList &logLines()
{
    static QStringList lines;
    return lines;
}

void collectLog(QtMsgType, const QMessageLogContext &, const QString &message)
{
    logLines().append(message);
}

KeyCombo ctrlAlt(quint16 keyCode, const char *chars)
{
    return KeyCombo{keyCode, KeyMods::command | KeyMods::option, QString::fromLatin1(chars)};
}

constexpr quint16 keyV = 9, keyB = 11;

class HotkeyPortalTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(servers().xvfb->isRunning()) << servers().xvfb->error.toStdString();
        ASSERT_TRUE(servers().bus->isRunning()) << servers().bus->error.toStdString();
        application();
        Texts::setLanguage(QStringLiteral("zh"));
        Shortcuts::resetAll();
        logLines().clear();
        previousHandler = qInstallMessageHandler(collectLog);
    }
    void TearDown() override
    {
        SettingsWindowController::shared().setHotkey(nullptr);
        SettingsWindowController::shared().close();
        hotkey.reset();
        portal.reset();
        qInstallMessageHandler(previousHandler);
    }

    // The portal stand-in, then the hotkey that asks it, following the stored binding.
    void startPortal()
    {
        portal = std::make_unique<PortalStandIn>(servers().bus->address);
        ASSERT_TRUE(portal->start());
    }
    void makeHotkey()
    {
        hotkey = std::make_unique<GlobalHotkey>(GlobalHotkey::Backend::portal);
        hotkey->onToggle = [this] {
            ++toggles;
            if (window)
                GlobalHotkey::toggle(window);
        };
        hotkey->followShortcuts();
    }
    bool settlesAt(GlobalHotkey::Status status)
    {
        return waitUntil([&] { return hotkey->status() == status; }, 5000);
    }
    // The settings window's line about the hotkey ("" when hidden).
    QString note()
    {
        SettingsWindowController::shared().setHotkey(hotkey.get());
        QLabel *label = SettingsWindowController::shared().shortcutPane()->hotkeyNote;
        return label->isVisibleTo(label->parentWidget()) ? label->text() : QString();
    }
    QString session() const { return portal->boundSession; }

    std::unique_ptr<PortalStandIn> portal;
    std::unique_ptr<GlobalHotkey> hotkey;
    QWindow *window = nullptr;
    int toggles = 0;
    QtMessageHandler previousHandler = nullptr;
};

} // namespace

TEST(HotkeyPortalRules, BackendByPlatformAndTriggersInTheDesktopsSyntax)
{
    using Backend = GlobalHotkey::Backend;
    EXPECT_EQ(GlobalHotkey::backendFor("wayland", true, false), Backend::portal);
    EXPECT_EQ(GlobalHotkey::backendFor("wayland-egl", true, true), Backend::portal);
    EXPECT_EQ(GlobalHotkey::backendFor("xcb", true, true), Backend::portal);   // XWayland
    EXPECT_EQ(GlobalHotkey::backendFor("xcb", false, true), Backend::x11);
    EXPECT_EQ(GlobalHotkey::backendFor("offscreen", false, true), Backend::x11);
    EXPECT_EQ(GlobalHotkey::backendFor("offscreen", false, false), Backend::none);

    EXPECT_EQ(ShortcutsPortal::triggerFor(ctrlAlt(keyV, "v")), "CTRL+ALT+v");
    EXPECT_EQ(ShortcutsPortal::triggerFor(KeyCombo{96, KeyMods::control | KeyMods::shift, ""}), "SHIFT+LOGO+F5");
    EXPECT_EQ(ShortcutsPortal::triggerFor(ctrlAlt(49, " ")), "CTRL+ALT+space");
    EXPECT_EQ(ShortcutsPortal::triggerFor(KeyCombo{43, KeyMods::command, ","}), "CTRL+comma");
    EXPECT_EQ(ShortcutsPortal::triggerFor(KeyCombo{124, KeyMods::option, ""}), "ALT+Right");
    EXPECT_EQ(ShortcutsPortal::triggerFor(KeyCombo{9999, KeyMods::option, ""}), "");
}

TEST_F(HotkeyPortalTest, BindsTheRecordedComboAsThePreferredTriggerAndShowsTheDesktopsChoice)
{
    startPortal();
    portal->assigned = QStringLiteral("Ctrl+Alt+B");   // the user chose another key in the desktop's dialog
    makeHotkey();
    EXPECT_TRUE(hotkey->isAvailable());
    EXPECT_EQ(hotkey->registerCombo(ctrlAlt(keyV, "v")), GlobalHotkey::Status::pending);
    ASSERT_TRUE(settlesAt(GlobalHotkey::Status::active));

    EXPECT_EQ(portal->registeredApp, "app.glanto.Glanto");
    EXPECT_EQ(portal->calls, (QStringList{"CreateSession", "BindShortcuts"}));
    EXPECT_EQ(portal->lastBound.id, "toggleApp");
    EXPECT_EQ(portal->lastBound.properties.value("preferred_trigger").toString(), "CTRL+ALT+v");
    EXPECT_EQ(portal->lastBound.properties.value("description").toString(), Texts::text("sc.a.toggleApp"));
    EXPECT_EQ(hotkey->triggerDescription(), "Ctrl+Alt+B");

    // The settings say which key the desktop gave it, and follow a change made in the desktop's settings.
    Shortcuts::assign(ctrlAlt(keyV, "v"), ShortcutAction::toggleApp);
    EXPECT_EQ(note(), Texts::format("set.hotkeyAssigned", {"Ctrl+Alt+B"}));
    portal->changeTrigger(QStringLiteral("Super+G"));
    EXPECT_TRUE(waitUntil([&] { return note() == Texts::format("set.hotkeyAssigned", {"Super+G"}); }, 5000)) << note().toStdString();
    // Recording the same key again, or any other action's key, asks the desktop nothing.
    Shortcuts::assign(KeyCombo{45, KeyMods::command, "n"}, ShortcutAction::next);
    waitUntil([] { return false; }, 300);
    EXPECT_EQ(portal->calls.size(), 2) << portal->calls.join(',').toStdString();
}

TEST_F(HotkeyPortalTest, ADesktopThatDescribesOnlyWhenAskedIsAsked)
{
    startPortal();
    portal->describeInBind = false;
    makeHotkey();
    hotkey->registerCombo(ctrlAlt(keyV, "v"));
    ASSERT_TRUE(settlesAt(GlobalHotkey::Status::active));
    EXPECT_TRUE(waitUntil([&] { return hotkey->triggerDescription() == "Press CTRL+ALT+v"; }, 5000));
    EXPECT_EQ(portal->calls, (QStringList{"CreateSession", "BindShortcuts", "ListShortcuts"}));
}

TEST_F(HotkeyPortalTest, ActivatedTogglesTheWindowLikeTheX11Key)
{
    QWindow realWindow;
    realWindow.resize(400, 300);
    window = &realWindow;
    startPortal();
    makeHotkey();
    hotkey->registerCombo(ctrlAlt(keyV, "v"));
    ASSERT_TRUE(settlesAt(GlobalHotkey::Status::active));

    portal->activate(session(), QStringLiteral("toggleApp"));   // hidden: shown and given the focus
    ASSERT_TRUE(waitUntil([&] { return realWindow.isVisible() && realWindow.isActive(); }, 5000));
    portal->activate(session(), QStringLiteral("toggleApp"));   // in front: minimised
    ASSERT_TRUE(waitUntil([&] { return bool(realWindow.windowStates() & Qt::WindowMinimized); }, 5000));
    EXPECT_TRUE(realWindow.isVisible());
    // Minimised: restored, with the desktop's activation token at hand for
    // the window to present, and not left behind for programs started later.
    QByteArray tokenDuringToggle;
    const auto plainToggle = hotkey->onToggle;
    hotkey->onToggle = [&] {
        tokenDuringToggle = qgetenv("XDG_ACTIVATION_TOKEN");
        plainToggle();
    };
    portal->activate(session(), QStringLiteral("toggleApp"), QStringLiteral("token-42"));
    ASSERT_TRUE(waitUntil([&] { return !(realWindow.windowStates() & Qt::WindowMinimized); }, 5000));
    EXPECT_EQ(toggles, 3);
    EXPECT_EQ(tokenDuringToggle, "token-42");
    EXPECT_FALSE(qEnvironmentVariableIsSet("XDG_ACTIVATION_TOKEN"));
    hotkey->onToggle = plainToggle;

    // Another shortcut, or a session that is not ours, is not a press.
    portal->activate(session(), QStringLiteral("somethingElse"));
    portal->activate(portalPath + QStringLiteral("/session/other/1"), QStringLiteral("toggleApp"));
    waitUntil([] { return false; }, 300);
    EXPECT_EQ(toggles, 3);
    window = nullptr;
}

TEST_F(HotkeyPortalTest, RebindingTakesANewSessionAndClearingClosesIt)
{
    startPortal();
    makeHotkey();
    hotkey->registerCombo(ctrlAlt(keyV, "v"));
    ASSERT_TRUE(settlesAt(GlobalHotkey::Status::active));
    const QString first = session();

    hotkey->registerCombo(ctrlAlt(keyB, "b"));
    ASSERT_TRUE(waitUntil([&] { return hotkey->status() == GlobalHotkey::Status::active && session() != first; }, 5000));
    EXPECT_EQ(portal->lastBound.properties.value("preferred_trigger").toString(), "CTRL+ALT+b");
    EXPECT_EQ(portal->closedSessions, QStringList{first});
    portal->activate(first, QStringLiteral("toggleApp"));   // a late press of the old session
    waitUntil([] { return false; }, 300);
    EXPECT_EQ(toggles, 0);
    portal->activate(session(), QStringLiteral("toggleApp"));
    EXPECT_TRUE(waitUntil([&] { return toggles == 1; }, 5000));

    EXPECT_EQ(hotkey->registerCombo(std::nullopt), GlobalHotkey::Status::none);
    EXPECT_TRUE(waitUntil([&] { return portal->closedSessions.size() == 2; }, 5000));
    portal->activate(portal->closedSessions.last(), QStringLiteral("toggleApp"));
    waitUntil([] { return false; }, 300);
    EXPECT_EQ(toggles, 1);
}

TEST_F(HotkeyPortalTest, ANewKeyRecordedWhileTheDesktopsDialogIsOpenWaitsForIt)
{
    startPortal();
    portal->answerBind = false;
    makeHotkey();
    EXPECT_EQ(hotkey->registerCombo(ctrlAlt(keyV, "v")), GlobalHotkey::Status::pending);
    ASSERT_TRUE(waitUntil([&] { return portal->calls.contains("BindShortcuts"); }, 5000));
    // The user records another key meanwhile: nothing is asked until the dialog is answered.
    EXPECT_EQ(hotkey->registerCombo(ctrlAlt(keyB, "b")), GlobalHotkey::Status::pending);
    waitUntil([] { return false; }, 300);
    EXPECT_EQ(portal->calls.size(), 2);
    portal->answerBind = true;
    portal->answerPendingBind(0);
    ASSERT_TRUE(waitUntil([&] { return hotkey->status() == GlobalHotkey::Status::active
                                       && portal->lastBound.properties.value("preferred_trigger") == "CTRL+ALT+b"; }, 5000));
    EXPECT_EQ(portal->calls, (QStringList{"CreateSession", "BindShortcuts", "CreateSession", "BindShortcuts"}));
    EXPECT_EQ(portal->closedSessions.size(), 1);
}

TEST_F(HotkeyPortalTest, ARefusalSaysUnavailableAndIsLogged)
{
    // The user cancels the desktop's dialog (1), or the desktop fails (2), at
    // either step.
    for (const auto &[create, bind] : {std::pair{0u, 1u}, std::pair{0u, 2u}, std::pair{2u, 0u}}) {
        SCOPED_TRACE(testing::Message() << "create " << create << ", bind " << bind);
        logLines().clear();
        startPortal();
        portal->createAnswer = create;
        portal->bindAnswer = bind;
        makeHotkey();
        Shortcuts::assign(ctrlAlt(keyV, "v"), ShortcutAction::toggleApp);
        ASSERT_TRUE(settlesAt(GlobalHotkey::Status::unavailable));
        EXPECT_TRUE(hotkey->isAvailable());
        EXPECT_TRUE(logLines().contains(QStringLiteral("HotKey register failed %1").arg(create ? create : bind)))
            << logLines().join('\n').toStdString();
        EXPECT_EQ(note(), Texts::text("set.hotkeyRefused"));
        // It is not asked again when some other key changes, only for a new key.
        const qsizetype asked = portal->calls.size();
        Shortcuts::assign(KeyCombo{45, KeyMods::command, "n"}, ShortcutAction::next);
        waitUntil([] { return false; }, 200);
        EXPECT_EQ(portal->calls.size(), asked);
        portal->createAnswer = portal->bindAnswer = 0;
        Shortcuts::assign(ctrlAlt(keyB, "b"), ShortcutAction::toggleApp);
        EXPECT_TRUE(settlesAt(GlobalHotkey::Status::active));
        Shortcuts::resetAll();
        hotkey.reset();
        portal.reset();
    }
}

TEST_F(HotkeyPortalTest, WithoutTheInterfaceOrWithoutAPortalTheHotkeyIsUnavailable)
{
    // A portal without global shortcuts (Debian 12's, for one).
    startPortal();
    portal->version = 0;
    makeHotkey();
    Shortcuts::assign(ctrlAlt(keyV, "v"), ShortcutAction::toggleApp);
    ASSERT_TRUE(settlesAt(GlobalHotkey::Status::unavailable));
    EXPECT_FALSE(hotkey->isAvailable());
    EXPECT_EQ(note(), Texts::text("set.hotkeyNoPortal"));
    EXPECT_TRUE(portal->calls.isEmpty());

    // No portal at all: the same, and no binding yet says so too.
    hotkey.reset();
    portal.reset();
    Shortcuts::resetAll();
    makeHotkey();
    ASSERT_TRUE(waitUntil([&] { return !hotkey->isAvailable(); }, 5000));
    EXPECT_EQ(hotkey->status(), GlobalHotkey::Status::unavailable);
    EXPECT_EQ(note(), Texts::text("set.hotkeyNoPortal"));
}

TEST_F(HotkeyPortalTest, ThePortalVanishingMidSessionAndComingBack)
{
    startPortal();
    makeHotkey();
    Shortcuts::assign(ctrlAlt(keyV, "v"), ShortcutAction::toggleApp);
    ASSERT_TRUE(settlesAt(GlobalHotkey::Status::active));

    portal->stop();
    ASSERT_TRUE(settlesAt(GlobalHotkey::Status::unavailable));
    EXPECT_FALSE(hotkey->isAvailable());
    EXPECT_EQ(note(), Texts::text("set.hotkeyNoPortal"));
    // Rebinding while it is gone only asks whether it is back.
    Shortcuts::assign(ctrlAlt(keyB, "b"), ShortcutAction::toggleApp);
    ASSERT_TRUE(settlesAt(GlobalHotkey::Status::unavailable));

    // It starts again: the binding is made afresh in a new session.
    portal->calls.clear();
    ASSERT_TRUE(portal->start());
    ASSERT_TRUE(settlesAt(GlobalHotkey::Status::active));
    EXPECT_EQ(portal->calls, (QStringList{"CreateSession", "BindShortcuts"}));
    EXPECT_EQ(portal->lastBound.properties.value("preferred_trigger").toString(), "CTRL+ALT+b");
    portal->activate(session(), QStringLiteral("toggleApp"));
    EXPECT_TRUE(waitUntil([&] { return toggles == 1; }, 5000));

    // The desktop closes the session.
    portal->closeSession();
    ASSERT_TRUE(settlesAt(GlobalHotkey::Status::unavailable));
    EXPECT_TRUE(hotkey->isAvailable());

    // It goes away in the middle of a dialog, and the hotkey goes away in the middle of another.
    portal->answerBind = false;
    Shortcuts::assign(ctrlAlt(keyV, "v"), ShortcutAction::toggleApp);
    ASSERT_TRUE(waitUntil([&] { return portal->calls.count("BindShortcuts") == 2; }, 5000));
    portal->stop();
    ASSERT_TRUE(settlesAt(GlobalHotkey::Status::unavailable));
    ASSERT_TRUE(portal->start());
    ASSERT_TRUE(waitUntil([&] { return portal->calls.count("BindShortcuts") == 3; }, 5000));
    hotkey.reset();
    portal->answerPendingBind(0);
    waitUntil([] { return false; }, 300);
}
