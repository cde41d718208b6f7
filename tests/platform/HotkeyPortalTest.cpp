// The global hotkey through the desktop portal's GlobalShortcuts interface, as
// a Wayland desktop offers it. No such desktop runs here, so a stand-in plays
// the portal on a private session bus, answering the way the real one does
// (a request handle at once, the outcome later as the request's Response
// signal) and holding to the rule of some desktops that a session is bound
// only once. The window it toggles is a real one on a private X server.
#include "platform/GlobalHotkey.h"
#include "platform/ShortcutsPortal.h"
#include "settings/Texts.h"
#include "settings/window/SettingsWindow.h"

#include "../app/TestSession.h"
#include "support/WaitUntil.h"

#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QLabel>
#include <QWindow>

#include <gtest/gtest.h>

namespace {

const QString portalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString portalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString shortcutsInterface = QStringLiteral("org.freedesktop.portal.GlobalShortcuts");

struct Shortcut
{
    QString id;
    QVariantMap properties;
};

QDBusArgument &operator<<(QDBusArgument &argument, const Shortcut &shortcut)
{
    argument.beginStructure();
    argument << shortcut.id << shortcut.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, Shortcut &shortcut)
{
    argument.beginStructure();
    argument >> shortcut.id >> shortcut.properties;
    argument.endStructure();
    return argument;
}

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
        qDBusRegisterMetaType<Shortcut>();
        qDBusRegisterMetaType<QList<Shortcut>>();
        return a;
    }();
    return *app;
}

// The portal, as the desktop runs it, on a connection of its own.
class PortalStandIn : public QDBusVirtualObject
{
public:
    PortalStandIn()
        : name(QStringLiteral("portal-stand-in-%1").arg(++made))
        , bus(QDBusConnection::connectToBus(servers().bus->address, name))
    {
    }
    ~PortalStandIn() override
    {
        stop();
        QDBusConnection::disconnectFromBus(name);
    }

    bool start()
    {
        return bus.registerVirtualObject(portalPath, this, QDBusConnection::SubPath)
               && bus.registerService(portalService);
    }
    // The portal goes away (it crashed, or the session ends).
    void stop()
    {
        bus.unregisterService(portalService);
        bus.unregisterObject(portalPath, QDBusConnection::UnregisterTree);
    }

    // How it behaves.
    uint version = 1;          // 0: a portal without global shortcuts
    uint createAnswer = 0;     // the Response code of CreateSession
    uint bindAnswer = 0;       // the Response code of BindShortcuts
    bool answerBind = true;    // false: its dialog stays open until answerPendingBind()
    bool describeInBind = true;
    QString assigned;          // the trigger the desktop chooses; empty: the preferred one, as it names it

    // What it was asked.
    QStringList calls;
    QString registeredApp;
    Shortcut lastBound;
    QString boundSession;      // the session of the last accepted binding
    QStringList closedSessions;

    bool handleMessage(const QDBusMessage &message, const QDBusConnection &) override
    {
        const QList<QVariant> arguments = message.arguments();
        const QString member = message.member();
        if (message.interface() == QLatin1String("org.freedesktop.DBus.Properties") && member == QLatin1String("Get")) {
            if (arguments.value(0).toString() != shortcutsInterface || version == 0)
                bus.send(message.createErrorReply(QDBusError::InvalidArgs, QStringLiteral("No such interface")));
            else
                bus.send(message.createReply(QVariant::fromValue(QDBusVariant(version))));
            return true;
        }
        if (member == QLatin1String("Register")) {
            registeredApp = arguments.value(0).toString();
            bus.send(message.createReply());
            return true;
        }
        if (message.interface() == QLatin1String("org.freedesktop.portal.Session") && member == QLatin1String("Close")) {
            closedSessions << message.path();
            bus.send(message.createReply());
            return true;
        }
        if (message.interface() != shortcutsInterface)
            return false;
        calls << member;
        client = message.service();
        if (member == QLatin1String("CreateSession")) {
            const QVariantMap options = qdbus_cast<QVariantMap>(arguments.value(0));
            const QString handle = path(QStringLiteral("request"), options.value(QStringLiteral("handle_token")).toString());
            const QString session = path(QStringLiteral("session"), options.value(QStringLiteral("session_handle_token")).toString());
            bus.send(message.createReply(QVariant::fromValue(QDBusObjectPath(handle))));
            // The session handle comes as a string, as the interface documents it.
            respond(handle, createAnswer, createAnswer == 0 ? QVariantMap{{QStringLiteral("session_handle"), session}} : QVariantMap());
            return true;
        }
        if (member == QLatin1String("BindShortcuts")) {
            const QString session = qvariant_cast<QDBusObjectPath>(arguments.value(0)).path();
            const auto shortcuts = qdbus_cast<QList<Shortcut>>(arguments.value(1));
            const QVariantMap options = qdbus_cast<QVariantMap>(arguments.value(3));
            const QString handle = path(QStringLiteral("request"), options.value(QStringLiteral("handle_token")).toString());
            bus.send(message.createReply(QVariant::fromValue(QDBusObjectPath(handle))));
            lastBound = shortcuts.value(0);
            pendingHandle = handle;
            pendingSession = session;
            // A session is bound once; a second binding in it fails.
            if (boundSessions.contains(session)) {
                respond(handle, 2, {});
                return true;
            }
            if (answerBind)
                answerPendingBind(bindAnswer);
            return true;
        }
        if (member == QLatin1String("ListShortcuts")) {
            const QVariantMap options = qdbus_cast<QVariantMap>(arguments.value(1));
            const QString handle = path(QStringLiteral("request"), options.value(QStringLiteral("handle_token")).toString());
            bus.send(message.createReply(QVariant::fromValue(QDBusObjectPath(handle))));
            respond(handle, 0, {{QStringLiteral("shortcuts"), QVariant::fromValue(described())}});
            return true;
        }
        return false;
    }

    QString introspect(const QString &) const override { return {}; }

    // The user answers the desktop's dialog.
    void answerPendingBind(uint code)
    {
        if (code == 0) {
            boundSessions << pendingSession;
            boundSession = pendingSession;
        }
        QVariantMap results;
        if (code == 0 && describeInBind)
            results.insert(QStringLiteral("shortcuts"), QVariant::fromValue(described()));
        respond(pendingHandle, code, results);
    }

    // The user presses the shortcut.
    void activate(const QString &session, const QString &id)
    {
        QDBusMessage signal = QDBusMessage::createSignal(portalPath, shortcutsInterface, QStringLiteral("Activated"));
        signal << QVariant::fromValue(QDBusObjectPath(session)) << id << qulonglong(1234) << QVariantMap();
        sendTo(signal);
    }

    // The user picks another trigger in the desktop's settings.
    void changeTrigger(const QString &trigger)
    {
        assigned = trigger;
        QDBusMessage signal = QDBusMessage::createSignal(portalPath, shortcutsInterface, QStringLiteral("ShortcutsChanged"));
        signal << QVariant::fromValue(QDBusObjectPath(boundSession)) << QVariant::fromValue(described());
        sendTo(signal);
    }

    // The desktop ends the session.
    void closeSession()
    {
        QDBusMessage signal = QDBusMessage::createSignal(boundSession, QStringLiteral("org.freedesktop.portal.Session"),
                                                         QStringLiteral("Closed"));
        signal << QVariantMap();
        sendTo(signal);
    }

    static inline int made = 0;
    const QString name;
    QDBusConnection bus;

private:
    QString path(const QString &kind, const QString &token) const
    {
        QString sender = client.mid(1);
        sender.replace(QLatin1Char('.'), QLatin1Char('_'));
        return QStringLiteral("%1/%2/%3/%4").arg(portalPath, kind, sender, token);
    }

    QList<Shortcut> described() const
    {
        Shortcut shortcut = lastBound;
        shortcut.properties.remove(QStringLiteral("preferred_trigger"));
        shortcut.properties.insert(QStringLiteral("trigger_description"),
                                   assigned.isEmpty() ? QStringLiteral("Press ") + lastBound.properties.value(QStringLiteral("preferred_trigger")).toString()
                                                      : assigned);
        return {shortcut};
    }

    void respond(const QString &handle, uint code, const QVariantMap &results)
    {
        QDBusMessage response = QDBusMessage::createSignal(handle, QStringLiteral("org.freedesktop.portal.Request"),
                                                           QStringLiteral("Response"));
        response << code << results;
        sendTo(response);
    }

    // The real portal sends its signals to the session's owner only.
    void sendTo(QDBusMessage signal)
    {
        QDBusMessage targeted = QDBusMessage::createTargetedSignal(client, signal.path(), signal.interface(), signal.member());
        targeted.setArguments(signal.arguments());
        bus.send(targeted);
    }

    QString client;
    QString pendingHandle, pendingSession;
    QStringList boundSessions;
};

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
        portal = std::make_unique<PortalStandIn>();
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
    portal->activate(session(), QStringLiteral("toggleApp"));   // minimised: restored
    ASSERT_TRUE(waitUntil([&] { return !(realWindow.windowStates() & Qt::WindowMinimized); }, 5000));
    EXPECT_EQ(toggles, 3);

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
