#include "app/DesktopSelfCheck.h"

#include "platform/GlobalHotkey.h"
#include "settings/Settings.h"
#include "support/LoopbackHttpServer.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

QApplication &application()
{
    static int argc = 1;
    static char name[] = "desktop_selfcheck_test";
    static char *argv[] = {name, nullptr};
    // Never destroyed: its teardown at exit would run after Qt's own globals are gone.
    static QApplication *app = new QApplication(argc, argv);
    return *app;
}

// Runs the scenario named by the switch to its end; returns its exit status.
int runScenario(const QString &name, QWidget *window, GlobalHotkey *hotkey = nullptr)
{
    if (!startDesktopSelfCheck({QStringLiteral("glanto"), name}, window, hotkey))
        return -1;
    QTimer::singleShot(20000, qApp, [] { QCoreApplication::exit(2); });
    return QApplication::exec();
}

} // namespace

TEST(DesktopSelfCheck, UnknownSwitchesStartNothing)
{
    application();
    EXPECT_FALSE(startDesktopSelfCheck({"glanto", "--selftest"}, nullptr, nullptr));
}

TEST(DesktopSelfCheck, SettingsRunPassesAndPutsThePreferencesBack)
{
    application();
    QWidget window;
    window.show();
    Settings::setWheelNavigates(false);
    EXPECT_EQ(runScenario("--settingstest", &window), 0);
    EXPECT_FALSE(Settings::wheelNavigates());
    EXPECT_FALSE(Shortcuts::isCustomized(ShortcutAction::actualSize));
}

TEST(DesktopSelfCheck, DefaultViewerRunOnlyReads)
{
    application();
    EXPECT_EQ(runScenario("--defaulttest", nullptr), 0);
}

TEST(DesktopSelfCheck, UpdateRunShowsAndSkipsTheBanner)
{
    application();
    LoopbackHttpServer server;
    ASSERT_TRUE(server.start());
    qputenv("GLANTO_UPDATE_FEED", server.url("/version.json").toString().toUtf8());
    server.reply.body = R"({"version":"99.1"})";
    Settings::setSkippedUpdateVersion(std::nullopt);
    QWidget window;
    window.resize(800, 500);
    window.show();
    EXPECT_EQ(runScenario("--updatetest", &window), 0);
    EXPECT_EQ(server.requests.size(), 1);
    EXPECT_FALSE(Settings::skippedUpdateVersion().has_value());   // put back
}
