// The real glanto executable on a private X server and a private session bus.
#include "TestApplication.h"
#include "TestSession.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QSettings>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>

namespace {

const QString serviceName = QStringLiteral("app.glanto.Glanto");

class AppProcess : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        testApplication();
        xvfb = std::make_unique<XvfbServer>();
        bus = std::make_unique<DBusSession>();
    }
    static void TearDownTestSuite()
    {
        bus.reset();
        xvfb.reset();
    }

    void SetUp() override
    {
        ASSERT_TRUE(xvfb->isRunning()) << qPrintable(xvfb->error);
        ASSERT_TRUE(bus->isRunning()) << qPrintable(bus->error);
        ASSERT_TRUE(sandbox.isValid());
        ASSERT_TRUE(QDir(sandbox.path()).mkpath("Holiday"));
        ASSERT_TRUE(QDir(sandbox.path()).mkpath("Other"));
    }

    // The environment of a glanto started from a desktop session.
    QProcessEnvironment sessionEnvironment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", xvfb->display);
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert("DBUS_SESSION_BUS_ADDRESS", bus->address);
        env.insert("QT_LOGGING_RULES", "glanto.instance.debug=true");
        env.insert("QT_FORCE_STDERR_LOGGING", "1");
        env.remove("WAYLAND_DISPLAY");
        return env;
    }

    std::unique_ptr<QProcess> start(const QStringList &arguments, const QProcessEnvironment &env)
    {
        auto process = std::make_unique<QProcess>();
        process->setProcessEnvironment(env);
        process->setWorkingDirectory(sandbox.path());
        process->start(QStringLiteral(GLANTO_EXECUTABLE), arguments);
        EXPECT_TRUE(process->waitForStarted(5000)) << qPrintable(process->errorString());
        return process;
    }

    static bool nameIsOwned()
    {
        QDBusConnection probe = QDBusConnection::connectToBus(bus->address, "probe");
        const bool owned = probe.isConnected()
                           && probe.interface()->isServiceRegistered(serviceName).value();
        return owned;
    }

    static bool waitFor(const std::function<bool()> &condition, int timeoutMs)
    {
        QElapsedTimer clock;
        clock.start();
        while (!condition()) {
            if (clock.elapsed() > timeoutMs)
                return false;
            QThread::msleep(50);
        }
        return true;
    }

    // Collects what process writes to standard error until it contains needle.
    static QString waitForLog(QProcess &process, const QString &needle, int timeoutMs)
    {
        QString log;
        QElapsedTimer clock;
        clock.start();
        while (!log.contains(needle) && clock.elapsed() < timeoutMs) {
            process.waitForReadyRead(100);
            log += QString::fromUtf8(process.readAllStandardError());
        }
        return log;
    }

    static inline std::unique_ptr<XvfbServer> xvfb;
    static inline std::unique_ptr<DBusSession> bus;
    QTemporaryDir sandbox;
};

} // namespace

TEST_F(AppProcess, SecondLaunchHandsItsFirstPathToTheRunningInstance)
{
    auto primary = start({}, sessionEnvironment());
    ASSERT_TRUE(waitFor(nameIsOwned, 20000)) << "the first glanto never claimed the bus name";

    // Relative to the second process's own folder, behind a switch, with a second path.
    auto second = start({"-psn_0_42", "Holiday", "Other"}, sessionEnvironment());
    ASSERT_TRUE(second->waitForFinished(15000)) << "the second glanto did not end";
    EXPECT_EQ(second->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second->exitCode(), 0) << second->readAllStandardError().constData();

    // With nothing to open it only brings the running window forward.
    auto third = start({}, sessionEnvironment());
    ASSERT_TRUE(third->waitForFinished(15000));
    EXPECT_EQ(third->exitCode(), 0);

    EXPECT_EQ(primary->state(), QProcess::Running) << "the running instance must stay";
    EXPECT_TRUE(nameIsOwned());
    const QString expected = QStringLiteral("Open ") + QDir(sandbox.filePath("Holiday")).absolutePath();
    const QString log = waitForLog(*primary, expected, 5000);
    EXPECT_TRUE(log.contains(expected)) << qPrintable(log);
    EXPECT_FALSE(log.contains("Other")) << "only the first path counts";

    stopProcess(*primary);
    EXPECT_TRUE(waitFor([] { return !nameIsOwned(); }, 5000));
}

TEST_F(AppProcess, ShotSavesTheWindowWithTheEmptyState)
{
    const QString shot = sandbox.filePath("shots/window.png");
    auto process = start({"--shot", shot}, sessionEnvironment());
    ASSERT_TRUE(process->waitForFinished(60000));
    EXPECT_EQ(process->exitCode(), 0) << process->readAllStandardError().constData();
    EXPECT_TRUE(QString::fromUtf8(process->readAllStandardOutput()).contains(shot));
    EXPECT_FALSE(nameIsOwned()) << "a self-check run stays out of the single instance";

    QImage picture(shot);
    ASSERT_FALSE(picture.isNull());
    EXPECT_EQ(picture.size(), QSize(1280, 860));

    // Black all round; the title, hint and button drawn a little above the middle.
    picture = picture.convertToFormat(QImage::Format_RGB32);
    for (QPoint corner : {QPoint(5, 5), QPoint(1274, 5), QPoint(5, 854), QPoint(1274, 854)})
        EXPECT_EQ(picture.pixel(corner), qRgb(0, 0, 0));
    int lit = 0;
    for (int y = 330; y < 470; ++y) {
        for (int x = 440; x < 840; ++x)
            lit += qGray(picture.pixel(x, y)) > 40;
    }
    EXPECT_GT(lit, 500) << "no empty state drawn in the middle";
}

TEST_F(AppProcess, CleanupReportRunsWithoutADisplay)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    env.insert("DBUS_SESSION_BUS_ADDRESS", bus->address);
    auto process = start({"--cleanup-report", sandbox.filePath("Holiday")}, env);
    ASSERT_TRUE(process->waitForFinished(120000));
    EXPECT_EQ(process->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process->exitCode(), 0) << process->readAllStandardError().constData();
    EXPECT_FALSE(nameIsOwned());
}

TEST_F(AppProcess, WithoutASessionBusEachLaunchRunsOnItsOwn)
{
    QProcessEnvironment env = sessionEnvironment();
    env.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + sandbox.filePath("no-bus"));
    auto first = start({sandbox.filePath("Holiday")}, env);
    auto second = start({sandbox.filePath("Other")}, env);
    const QString log = waitForLog(*first, "no session bus", 10000);
    EXPECT_TRUE(log.contains("no session bus")) << qPrintable(log);
    QThread::msleep(1500);
    EXPECT_EQ(first->state(), QProcess::Running);
    EXPECT_EQ(second->state(), QProcess::Running) << second->readAllStandardError().constData();
    stopProcess(*first);
    stopProcess(*second);
}

TEST_F(AppProcess, TerminationSignalQuitsTheWayQuitDoes)
{
    // A logout's SIGTERM: the process ends by itself, and what a quit keeps
    // (here the window's size) is on disk for the next start.
    QProcessEnvironment env = sessionEnvironment();
    env.insert("XDG_CONFIG_HOME", sandbox.filePath("config"));
    auto process = start({sandbox.filePath("Holiday")}, env);
    const QString settingsFolder = sandbox.filePath("config/Glanto");
    ASSERT_TRUE(waitFor([&] { return QFileInfo::exists(settingsFolder); }, 20000)) << "no window came up";
    QThread::msleep(500);

    process->terminate();
    ASSERT_TRUE(process->waitForFinished(15000));
    EXPECT_EQ(process->exitStatus(), QProcess::NormalExit) << "ended by the signal itself";
    EXPECT_EQ(process->exitCode(), 0);
    QSettings stored(settingsFolder + "/Glanto.conf", QSettings::IniFormat);
    EXPECT_TRUE(stored.contains("SorvaneMainWindow")) << "the window's size was not kept";
}
